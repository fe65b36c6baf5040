#include "cachestore.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace {

struct KindName {
    StoreKind kind;
    const char *id;
};
constexpr KindName KindNames[] = {
    {StoreKind::None, "none"},
    {StoreKind::WinInet, "wininet"},
    {StoreKind::Firefox, "firefox"},
    {StoreKind::ChromiumSimple, "chromium-simple"},
    {StoreKind::ChromiumBlockfile, "chromium-blockfile"},
    {StoreKind::Memory, "memory"},
};

} // namespace

const char *StoreKindId(StoreKind kind)
{
    for (const KindName &k : KindNames)
        if (k.kind == kind)
            return k.id;
    return "none";
}

StoreKind StoreKindFromId(std::string_view id)
{
    for (const KindName &k : KindNames)
        if (id == k.id)
            return k.kind;
    return StoreKind::None;
}

StoreListing EmptyStore::list()
{
    StoreListing listing;
    listing.error = describe();
    return listing;
}

StoreResult EmptyStore::remove(std::string_view)
{
    return StoreResult::failure(ERROR_FILE_NOT_FOUND, describe());
}

StoreEntry &MemoryStore::add(std::string_view url, std::string_view localFile, bool hasLocalFile)
{
    StoreEntry e;
    e.url = m_listing.addText(url);
    e.key = e.url;
    e.localFile = m_listing.addText(localFile);
    e.hasLocalFile = hasLocalFile;
    e.body = hasLocalFile && !localFile.empty() ? BodyPlace::LocalFile : BodyPlace::None;
    m_listing.entries.push_back(e);
    return m_listing.entries.back();
}

StoreResult MemoryStore::remove(std::string_view key)
{
    auto &entries = m_listing.entries;
    auto it =
        std::find_if(entries.begin(), entries.end(), [&](const StoreEntry &e) { return m_listing.text(e.key) == key; });
    if (it == entries.end())
        return StoreResult::failure(ERROR_FILE_NOT_FOUND, "no entry has this key");
    if (it->hasLocalFile && it->localFile.size) {
        const std::string path(m_listing.text(it->localFile));
        if (::unlink(path.c_str()) != 0 && errno != ENOENT)
            return StoreResult::failure(errno == EBUSY ? ERROR_SHARING_VIOLATION : ERROR_ACCESS_DENIED,
                                        path + ": cannot be removed");
    }
    entries.erase(it);
    return {};
}
