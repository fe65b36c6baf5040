#pragma once
// The document list's logic without a widget: filling view_list from a node's source list
// and ordering it by a column. The window and the bench share these functions.

#include "entry.h"

#include <string_view>

// The sort keys, which are the column indexes of the document list.
enum ViewSortKey { SortByFileName = 0, SortByTypeName = 1, SortBySize = 2, SortByUrl = 3, SortByLocation = 4 };

// BuildViewList for collect_list: purges the source, releases every record of `view` and
// makes one record per element, in the source's order.
void BuildViewList(ViewList &view, CollectList &source);
// BuildViewList for search_list: the same, every element taken.
void BuildViewList(ViewList &view, SearchList &source);
// BuildViewList for cache_list with a host: purges the whole catalogue, then takes the first
// run of entries whose UrlHost equals `host` byte for byte and stops at the end of that run.
void BuildHostViewList(ViewList &view, CacheList &source, std::string_view host);
// The same among the entries of one store only.
void BuildHostViewList(ViewList &view, CacheList &source, std::string_view host, URLCACHE_STORE_ID store);

// The three-way order of two records by `key`, multiplied by `direction` (+1 or -1).
// Texts compare by CompareNamesUppered (GBK order, a..z read as A..Z); the type name as it
// stands (strTypeName);
// sizes as numbers; any other key: every pair is equal.
int CompareView(const Tcachedata &a, const Tcachedata &b, int key, int direction);

// Sorts `view` by CompareView with `key` and `direction`. Not stable. The sort keys are
// read once per record, not once per comparison.
void SortViewList(ViewList &view, int key, int direction);
