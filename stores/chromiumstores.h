#pragma once
// Chromium's HTTP caches: the simple cache (one file per entry) and the older blockfile cache,
// and what the two kinds share: the browsers of the family, their profiles and where their
// caches lie.

#include "cachestore.h"
#include "storeregistry.h"

#include <memory>
#include <string>
#include <vector>

// The simple cache whose entry files lie in `folder`.
std::shared_ptr<CacheStore> OpenChromiumSimpleStore(const std::string &folder);
// The blockfile cache whose index and data_N files lie in `folder`; read only.
std::shared_ptr<CacheStore> OpenChromiumBlockfileStore(const std::string &folder);

// The family's browser a cache folder belongs to, from the folder's path ("Chrome" below
// google-chrome, "Brave", ...); "Chromium" when the path names none.
std::string ChromiumBrowserName(const std::string &folder);
// The caches of every browser of the family on this machine, of either kind: each browser
// in turn, each profile Default first.
void FindChromiumStores(const StoreSearchRoots &roots, std::vector<FoundStore> &out);
// Where the cache of a profile lies when it is not inside it: under the cache home
// (~/.config/<browser>/<p> ↔ ~/.cache/<browser>/<p>); for a user-data folder, its last used
// profile and that profile's cache.
std::vector<std::string> ChromiumCachesOfProfile(const std::string &profile);
// The folders below a profile or a browser's folder where its cache sits.
inline constexpr const char *ChromiumCacheFolders[] = {"Cache_Data", "Cache/Cache_Data", "Cache", nullptr};
