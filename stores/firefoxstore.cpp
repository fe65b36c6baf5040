#include "firefoxstore.h"

std::shared_ptr<CacheStore> OpenFirefoxStore(const std::string &folder)
{
    return std::make_shared<EmptyStore>(folder, "Firefox caches cannot be read yet");
}
