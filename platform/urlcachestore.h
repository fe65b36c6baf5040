#pragma once
// The store behind the calls of wininet.h: whichever cache store the program opened. The
// enumeration hands out its entries as blocks (header, extras, texts); deletion goes by key.

#include "stores/cachestore.h"
#include "wininet.h"

#include <memory>
#include <string>

// The store the enumeration and deletion calls work on. Without one, the enumeration is
// empty and every deletion fails with ERROR_FILE_NOT_FOUND.
void SetUrlCacheStore(std::shared_ptr<CacheStore> store);
std::shared_ptr<CacheStore> CurrentUrlCacheStore();

// Why the last enumeration on this thread could not read its store; empty when it could.
std::string LastUrlCacheReadProblem();
// What the last enumeration on this thread left out as damaged ("3 entries left out: ...");
// empty when nothing was.
std::string LastUrlCacheSkipped();
std::uint32_t LastUrlCacheSkippedCount();
// Why the last enumeration on this thread may not have listed all of its store (a cut or
// inconsistent index); empty when the store read whole.
std::string LastUrlCacheIncomplete();
// Why the last failed DeleteUrlCacheEntry on this thread failed, in the store's words.
std::string LastUrlCacheDeleteReason();

// Bytes the enumeration needs for entry `index` of a listing in one block (header, extras
// and texts), and the writing of that block into a buffer at least that large.
DWORD EntryBlockSize(const StoreListing &listing, std::size_t index);
void FillEntryBlock(const StoreListing &listing, std::size_t index, StoreKind kind, INTERNET_CACHE_ENTRY_INFOA *buffer);
