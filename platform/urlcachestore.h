#pragma once
// The store behind the calls of wininet.h: whichever cache store the program opened. The
// enumeration hands out its entries as blocks (header, extras, texts); deletion goes by key.

#include "stores/cachestore.h"
#include "wininet.h"

#include <memory>
#include <string>
#include <vector>

// The store the enumeration and deletion calls work on. Without one, the enumeration is
// empty and every deletion fails with ERROR_FILE_NOT_FOUND.
void SetUrlCacheStore(std::shared_ptr<CacheStore> store);
std::shared_ptr<CacheStore> CurrentUrlCacheStore();

// Every store gets an id on first sight, kept for as long as the process runs: a store is
// known by its kind and folder, so a store closed and opened again has its old id and the
// entries read from it before reach it again. 0 is no store.
URLCACHE_STORE_ID UrlCacheStoreIdOf(const std::shared_ptr<CacheStore> &store);
URLCACHE_STORE_ID CurrentUrlCacheStoreId();
// The stores open beside the current one. Opening gives the store's id; closing takes it out
// of reach until it is opened again. The current store is always open.
URLCACHE_STORE_ID OpenUrlCacheStore(std::shared_ptr<CacheStore> store);
void CloseUrlCacheStore(URLCACHE_STORE_ID id);
// The open store with `id`; null when it is not open.
std::shared_ptr<CacheStore> UrlCacheStoreById(URLCACHE_STORE_ID id);
// Every open store: the current one first, then the others in the order they were opened.
std::vector<std::shared_ptr<CacheStore>> OpenUrlCacheStores();
std::size_t OpenUrlCacheStoreCount();
// What is known of the store with `id` whether or not it is open now: its kind and folder.
StoreKind UrlCacheStoreKind(URLCACHE_STORE_ID id);
std::string UrlCacheStoreFolder(URLCACHE_STORE_ID id);
// The kind of store an entry block was read from, as its extras say; a block without them
// is an entry of the WinInet kind, whatever held it.
StoreKind EntryBlockKind(const INTERNET_CACHE_ENTRY_INFOA *block);

// Why the last enumeration on this thread could not read its store; empty when it could.
std::string LastUrlCacheReadProblem();
StoreError LastUrlCacheReadError();
// What the last enumeration on this thread left out as damaged ("3 entries left out: ...");
// empty when nothing was.
std::string LastUrlCacheSkipped();
std::uint32_t LastUrlCacheSkippedCount();
// How many entries the last enumeration on this thread left out as written in a newer format.
std::uint32_t LastUrlCacheNewerCount();
// Why the last enumeration on this thread may not have listed all of its store (a cut or
// inconsistent index); empty when the store read whole.
std::string LastUrlCacheIncomplete();
// Why the last failed DeleteUrlCacheEntry on this thread failed, in the store's words.
std::string LastUrlCacheDeleteReason();

// Removes the entries of the current store whose keys are given, in one pass, and says for
// each key what became of it (see CacheStore::removeMany). Without a store every key is
// refused.
std::vector<KeyRemoval> DeleteUrlCacheEntries(const std::vector<std::string> &keys,
                                              const RemovalProgress &progress = {});
// The same for the store with `id`; while it is closed every key is refused.
std::vector<KeyRemoval> DeleteUrlCacheEntriesInStore(URLCACHE_STORE_ID id, const std::vector<std::string> &keys,
                                                     const RemovalProgress &progress = {});

// Bytes the enumeration needs for entry `index` of a listing in one block (header, extras
// and texts), and the writing of that block into a buffer at least that large.
DWORD EntryBlockSize(const StoreListing &listing, std::size_t index);
void FillEntryBlock(const StoreListing &listing, std::size_t index, StoreKind kind, INTERNET_CACHE_ENTRY_INFOA *buffer);
