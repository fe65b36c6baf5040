#pragma once
// The three forms of a cache entry and the four lists that hold them.
//
// A catalogue entry is one block (header and texts) as the enumeration filled it. Every URL
// and path the program shows is read through a pointer into such a block, so a block lives
// as long as anything refers to it: the catalogue, the search station, a header copy in the
// collect box or a row of the document list. Shared ownership frees it when the last one
// lets go, so reloads never grow memory and never leave a dangling text.

#include "platform/wininet.h"
#include "text.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

using CatalogueEntry = std::shared_ptr<const INTERNET_CACHE_ENTRY_INFOA>;

// Takes over a block allocated with `new std::byte[]` whose header the enumeration filled.
CatalogueEntry AdoptEntryBlock(std::byte *block);

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

// Orders two catalogue entries by their hosts, ASCII case folded.
int CompareHost(const CatalogueEntry &a, const CatalogueEntry &b);

// Drops, from the last element to the first, every element whose local file is gone.
template <typename List>
void PurgeMissingFiles(List &list)
{
    for (std::size_t i = list.size(); i-- > 0;)
        if (!FileExists(LocalFileName(list[i])))
            list.erase(list.begin() + std::ptrdiff_t(i));
}
