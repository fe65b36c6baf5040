#include "catalogue.h"

#include "platform/urlcachestore.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

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
    // A cache holds many entries of each host: every distinct host is keyed once, the hosts
    // alone are sorted, and the entries are then placed host by host in one pass.
    // Hosts with other than ASCII labels are keyed by their GBK text (CompareNamesLowered).
    struct Host {
        std::string key;
        std::string_view host; // points into the URL of an entry of the list
        int group;
        std::size_t at = 0; // the count of its entries, then where the next one goes
    };
    std::vector<Host> hosts;
    std::unordered_map<std::string_view, std::uint32_t> known;
    std::vector<std::uint32_t> hostOf(list.size());
    std::string gbk;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::string_view host = UrlHost(SourceUrl(list[i]));
        const auto [it, fresh] = known.try_emplace(host, std::uint32_t(hosts.size()));
        if (fresh) {
            const bool ascii = IsAscii(host);
            const int group = ascii ? 0 : GbkSortKey(host, gbk);
            hosts.push_back({LowerAscii(ascii ? host : std::string_view(gbk)), host, group});
        }
        hostOf[i] = it->second;
        ++hosts[it->second].at;
    }
    // The keys are lowered already; std::string orders bytes as unsigned values. Hosts that
    // differ only in letter case are ordered by their own bytes, so that each host text forms
    // one run: the tree gives every run a node and a node shows only its first run.
    std::vector<std::uint32_t> order(hosts.size());
    for (std::uint32_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&hosts](std::uint32_t x, std::uint32_t y) {
        const Host &a = hosts[x], &b = hosts[y];
        if (a.group != b.group)
            return a.group < b.group;
        if (const int compared = a.key.compare(b.key); compared != 0)
            return compared < 0;
        return a.host < b.host;
    });
    std::size_t at = 0;
    for (const std::uint32_t i : order)
        at += std::exchange(hosts[i].at, at);
    CacheList sorted(list.size());
    for (std::size_t i = 0; i < list.size(); ++i)
        sorted[hosts[hostOf[i]].at++] = std::move(list[i]);
    list = std::move(sorted);
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
