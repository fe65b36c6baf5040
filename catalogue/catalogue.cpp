#include "catalogue.h"

#include "platform/urlcachestore.h"

#include <algorithm>
#include <cstddef>
#include <memory>

namespace {

// Size query of the first entry, then its fetch.
std::unique_ptr<std::byte[]> fetchFirst(URLCACHE_STORE_ID store, HANDLE &handle)
{
    DWORD size = 0;
    handle = FindFirstUrlCacheEntryInStore(store, nullptr, &size);
    if (handle) // the store handed out an entry into no buffer: nothing we can use
        return nullptr;
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size < sizeof(INTERNET_CACHE_ENTRY_INFOA))
        return nullptr;
    auto block = std::make_unique<std::byte[]>(size);
    handle = FindFirstUrlCacheEntryInStore(store, reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA *>(block.get()), &size);
    return handle ? std::move(block) : nullptr;
}

// Size query of the next entry, then its fetch. Null at the end. A failure other than the
// end also ends the walk: fetching again could only repeat it, or read an unfilled buffer.
std::unique_ptr<std::byte[]> fetchNext(HANDLE handle)
{
    SetLastError(ERROR_SUCCESS);
    DWORD size = 1;
    std::byte probe[1];
    if (FindNextUrlCacheEntryA(handle, reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA *>(probe), &size))
        return nullptr;
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size < sizeof(INTERNET_CACHE_ENTRY_INFOA))
        return nullptr;
    auto block = std::make_unique<std::byte[]>(size);
    if (!FindNextUrlCacheEntryA(handle, reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA *>(block.get()), &size))
        return nullptr;
    return block;
}

void keepIfDocument(CacheList &list, std::unique_ptr<std::byte[]> block, URLCACHE_STORE_ID store)
{
    const auto *header = reinterpret_cast<const INTERNET_CACHE_ENTRY_INFOA *>(block.get());
    if (ExtensionOf(LocalFileName(*header)).empty())
        return;
    list.push_back(AdoptEntryBlock(block.release(), store));
}

} // namespace

CacheList EnumerateCatalogue()
{
    return EnumerateCatalogue(CurrentUrlCacheStoreId());
}

CacheList EnumerateCatalogue(URLCACHE_STORE_ID store)
{
    CacheList list;
    HANDLE handle = nullptr;
    auto block = fetchFirst(store, handle);
    if (!handle)
        return list;
    keepIfDocument(list, std::move(block), store);
    while ((block = fetchNext(handle)))
        keepIfDocument(list, std::move(block), store);
    FindCloseUrlCache(handle);
    return list;
}

void SortByHost(CacheList &list)
{
    // Lower each host once instead of at every comparison.
    // Hosts with other than ASCII labels are keyed by their GBK text (CompareNamesLowered).
    struct Keyed {
        std::string key;
        std::string_view host;
        CatalogueEntry entry;
        int group;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(list.size());
    std::string gbk;
    for (auto &entry : list) {
        const std::string_view host = UrlHost(SourceUrl(entry));
        const bool ascii = IsAscii(host);
        const int group = ascii ? 0 : GbkSortKey(host, gbk);
        keyed.push_back({LowerAscii(ascii ? host : std::string_view(gbk)), host, std::move(entry), group});
    }
    // The keys are lowered already; std::string orders bytes as unsigned values. Hosts that
    // differ only in letter case are ordered by their own bytes, so that each host text forms
    // one run: the tree gives every run a node and a node shows only its first run.
    std::sort(keyed.begin(), keyed.end(), [](const Keyed &a, const Keyed &b) {
        if (a.group != b.group)
            return a.group < b.group;
        if (const int order = a.key.compare(b.key); order != 0)
            return order < 0;
        return a.host < b.host;
    });
    for (std::size_t i = 0; i < keyed.size(); ++i)
        list[i] = std::move(keyed[i].entry);
}

std::vector<HostNode> HostNodes(const CacheList &list)
{
    std::vector<HostNode> nodes;
    std::string_view previous;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::string_view host = UrlHost(SourceUrl(list[i]));
        if (host != previous)
            nodes.push_back({host, i});
        previous = host;
    }
    return nodes;
}

std::string HostCaption(std::string_view host)
{
    std::string caption;
    caption.reserve(host.size() + 2);
    caption += '[';
    caption += host;
    caption += ']';
    return caption;
}
