#pragma once
// The lists and flags the main window owns and its concerns share.

#include "entry.h"

#include <cstdint>

struct CatalogueState {
    CacheList cache_list;
    CollectList collect_list;
    SearchList search_list;
    ViewList view_list;

    bool tree_ready = false;              // false while a load rebuilds the tree
    bool list_ready = false;              // false while the document list is filled
    std::uint8_t sort_key = 0;            // column that orders view_list
    std::int32_t sort_dir = 1;            // +1 ascending, -1 descending
    URLCACHE_STORE_ID selected_store = 0; // the store of the tree's selected cache root; 0 none
};
