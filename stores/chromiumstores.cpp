#include "chromiumstores.h"

#include "chromiumblockfile.h"
#include "chromiumsimple.h"

std::shared_ptr<CacheStore> OpenChromiumSimpleStore(const std::string &folder)
{
    return std::make_shared<ChromiumSimpleStore>(folder);
}

std::shared_ptr<CacheStore> OpenChromiumBlockfileStore(const std::string &folder)
{
    return std::make_shared<ChromiumBlockfileStore>(folder);
}
