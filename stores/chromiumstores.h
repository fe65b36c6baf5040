#pragma once
// Chromium's HTTP caches: the simple cache (one file per entry) and the older blockfile cache.

#include "cachestore.h"

#include <memory>
#include <string>

// The simple cache whose entry files lie in `folder`.
std::shared_ptr<CacheStore> OpenChromiumSimpleStore(const std::string &folder);
// The blockfile cache whose index and data_N files lie in `folder`; read only.
std::shared_ptr<CacheStore> OpenChromiumBlockfileStore(const std::string &folder);
