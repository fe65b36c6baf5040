#pragma once
// Reading the catalogue: the entries of the URL cache whose local file has an extension,
// sorted by host, and the host nodes the tree shows for them.

#include "entry.h"

#include <string>
#include <string_view>
#include <vector>

// Enumerates every entry of the URL cache with the two-step size protocol and keeps the
// entries whose local file name has an extension, in the order the cache gives them. Each
// entry knows the store it came from (EntryStoreId): the current store, or the one named.
CacheList EnumerateCatalogue();
CacheList EnumerateCatalogue(URLCACHE_STORE_ID store);

// Sorts the catalogue by host, ASCII case folded; hosts that differ only in letter case follow
// each other by their exact bytes, so every host text forms one run. The entries of one host
// keep the order they had.
void SortByHost(CacheList &list);

// One node of the host tree: a run of byte-identical hosts in the sorted catalogue.
struct HostNode {
    std::string_view host; // points into the URL of the run's first entry
    std::size_t first;     // index of that entry in the catalogue
};

// The host nodes of a sorted catalogue. Entries with an empty host get no node.
std::vector<HostNode> HostNodes(const CacheList &list);

// "[" + host + "]", the caption of a host node.
std::string HostCaption(std::string_view host);
