#pragma once
// The three forms of a cache entry and the four lists that hold them.
//
// A catalogue entry is one block (header and texts) as the enumeration filled it. Every URL
// and path the program shows is read through a pointer into such a block, so a block lives
// as long as anything refers to it: the catalogue, the search station, a header copy in the
// collect box or a row of the document list. Shared ownership frees it when the last one
// lets go, so reloads never grow memory and never leave a dangling text.

#include "filepresence.h"
#include "platform/wininet.h"
#include "text.h"

#include <QString>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

using CatalogueEntry = std::shared_ptr<const INTERNET_CACHE_ENTRY_INFOA>;

// Takes over a block allocated with `new std::byte[]` whose header the enumeration of
// `store` filled. The store's id is kept with the block, outside it, so that a WinInet
// store's blocks stay exactly WinInet's.
CatalogueEntry AdoptEntryBlock(std::byte *block, URLCACHE_STORE_ID store = 0);

// The store an entry was read from; 0 for a block not made by the enumeration.
URLCACHE_STORE_ID EntryStoreId(const CatalogueEntry &e);

// A copy of an entry's header alone, as the collect box keeps it; `block` keeps the texts alive.
struct HeaderCopy {
    INTERNET_CACHE_ENTRY_INFOA header;
    CatalogueEntry block;
};

// One row of the document list.
struct Tcachedata {
    INTERNET_CACHE_ENTRY_INFOA header;
    std::int32_t iIcon = -1;
    QString strTypeName;
    std::uint8_t bShellInfoPending = 1;
    CatalogueEntry block;
};

using CacheList = std::vector<CatalogueEntry>;  // the catalogue, sorted by host
using CollectList = std::vector<HeaderCopy>;    // the collect box, in order of adding
using SearchList = std::vector<CatalogueEntry>; // hits of the last search, catalogue order
using ViewList = std::vector<Tcachedata>;       // the rows of the document list

inline const INTERNET_CACHE_ENTRY_INFOA &EntryHeader(const CatalogueEntry &e)
{
    return *e;
}
inline const INTERNET_CACHE_ENTRY_INFOA &EntryHeader(const HeaderCopy &e)
{
    return e.header;
}
inline const INTERNET_CACHE_ENTRY_INFOA &EntryHeader(const Tcachedata &e)
{
    return e.header;
}

// A null text reads as an empty one everywhere.
inline const char *SourceUrl(const INTERNET_CACHE_ENTRY_INFOA &h)
{
    return h.lpszSourceUrlName ? h.lpszSourceUrlName : "";
}
inline const char *LocalFileName(const INTERNET_CACHE_ENTRY_INFOA &h)
{
    return h.lpszLocalFileName ? h.lpszLocalFileName : "";
}
inline std::uint64_t EntrySize(const INTERNET_CACHE_ENTRY_INFOA &h)
{
    return (std::uint64_t(h.dwSizeHigh) << 32) | h.dwSizeLow;
}

template <typename Entry>
const char *SourceUrl(const Entry &e)
{
    return SourceUrl(EntryHeader(e));
}
template <typename Entry>
const char *LocalFileName(const Entry &e)
{
    return LocalFileName(EntryHeader(e));
}

HeaderCopy MakeHeaderCopy(const Tcachedata &record);
Tcachedata MakeViewRecord(const CatalogueEntry &entry);
Tcachedata MakeViewRecord(const HeaderCopy &entry);

// The block that holds an entry's texts and extras.
inline const INTERNET_CACHE_ENTRY_INFOA *EntryBlock(const CatalogueEntry &e)
{
    return e.get();
}
inline const INTERNET_CACHE_ENTRY_INFOA *EntryBlock(const HeaderCopy &e)
{
    return e.block ? e.block.get() : &e.header;
}
inline const INTERNET_CACHE_ENTRY_INFOA *EntryBlock(const Tcachedata &e)
{
    return e.block ? e.block.get() : &e.header;
}

template <typename Entry>
URLCACHE_STORE_ID EntryStoreId(const Entry &e)
{
    return EntryStoreId(e.block);
}

// The caption of a store's root in the tree: "IE缓存", "Firefox缓存", ...; with `several`
// open stores followed by what tells stores of one kind apart ("Firefox缓存 – default-release").
std::string StoreCaption(URLCACHE_STORE_ID store, bool several);

// The key the store deletes the entry by: its URL for a WinInet store.
template <typename Entry>
const char *EntryKey(const Entry &e)
{
    const EntryExtras *extras = ExtrasOf(EntryBlock(e));
    return extras ? extras->key : SourceUrl(e);
}

// The file whose presence stands for the entry's: the local file, or for a body kept inside
// a container file of the store, that container (the local file is written only on demand).
const char *PresenceFile(const INTERNET_CACHE_ENTRY_INFOA *block, const INTERNET_CACHE_ENTRY_INFOA &header);
template <typename Entry>
const char *PresenceFile(const Entry &e)
{
    return PresenceFile(EntryBlock(e), EntryHeader(e));
}

// Where an entry's body is, as the stores' body readers take it: for a body kept inside a
// container file of the store, its range and the codings still to undo; otherwise the local
// file, whole. `header` is the entry's header, the block's own or a copy of it. The one place
// that reads the body's place out of a block.
struct BodyRef;
BodyRef EntryBodyRef(const INTERNET_CACHE_ENTRY_INFOA *block, const INTERNET_CACHE_ENTRY_INFOA &header);
// Whether the body lies inside a container file of the store (written out only on demand).
bool BodyInContainer(const INTERNET_CACHE_ENTRY_INFOA *block);
// Whether the store says it holds no body the program can use for this entry.
bool BodyNotHeld(const INTERNET_CACHE_ENTRY_INFOA *block);

// Makes the entry's local file exist: a body kept inside a container file is decoded and
// written out to the planned local path. Fine when the file is there; otherwise the result
// says why not.
StoreResult EnsureLocalFile(const INTERNET_CACHE_ENTRY_INFOA *block);
template <typename Entry>
StoreResult EnsureLocalFile(const Entry &e)
{
    return EnsureLocalFile(EntryBlock(e));
}

// Orders two catalogue entries by their hosts, ASCII case folded, in GBK order (text.h).
int CompareHost(const CatalogueEntry &a, const CatalogueEntry &b);

// Drops every element whose local file is gone (for a body inside a container file: whose
// container is gone); the others keep their order. Each folder's names are read once for the
// whole list rather than each file asked on its own (FilePresence).
template <typename List>
void PurgeMissingFiles(List &list)
{
    FilePresence presence;
    const auto gone =
        std::remove_if(list.begin(), list.end(), [&](const auto &e) { return !presence.exists(PresenceFile(e)); });
    list.erase(gone, list.end());
}

// The same for the catalogue and the search station, which are filled again on every click
// of their nodes: a list whose entries are those the last purge of it kept, over folders whose
// stamps have not changed since, has lost no file and is not walked again.
void PurgeMissingFiles(std::vector<CatalogueEntry> &list);
