#include "chromiumstores.h"

std::shared_ptr<CacheStore> OpenChromiumSimpleStore(const std::string &folder)
{
    return std::make_shared<EmptyStore>(folder, "Chromium simple caches cannot be read yet");
}

std::shared_ptr<CacheStore> OpenChromiumBlockfileStore(const std::string &folder)
{
    return std::make_shared<EmptyStore>(folder, "Chromium blockfile caches cannot be read yet");
}
