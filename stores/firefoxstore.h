#pragma once
// Firefox's disk cache (cache2): a folder with entries/, one file per entry.

#include "cachestore.h"

#include <memory>
#include <string>

// The cache2 store in `folder` (the folder holding entries/).
std::shared_ptr<CacheStore> OpenFirefoxStore(const std::string &folder);
