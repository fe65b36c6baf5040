#include "cachestore.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

// The program's own kinds: nothing to probe, open or find.
const StoreKindInfo NoStoreKind = {.id = "none"};
const StoreKindInfo MemoryStoreKind = {.id = "memory", .label = "memory"};

KeyRemoval KeyRemovalOf(StoreResult result)
{
    if (result.ok())
        return {RemovalOutcome::Deleted, StoreError::None, {}};
    if (result.error == StoreError::NotFound)
        return {RemovalOutcome::AlreadyGone, StoreError::None, {}};
    return {RemovalOutcome::Refused, result.error, std::move(result.reason)};
}

std::vector<KeyRemoval> CacheStore::removeMany(const std::vector<std::string> &keys, const RemovalProgress &progress)
{
    std::vector<KeyRemoval> results(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (progress && !progress(i, false))
            break;
        results[i] = KeyRemovalOf(remove(keys[i]));
    }
    return results;
}

std::vector<KeyRemoval> CacheStore::removeEach(const std::vector<std::string> &keys, const RemovalProgress &progress,
                                               const std::function<StoreResult(std::string_view)> &removeOne) const
{
    std::vector<KeyRemoval> results(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (progress && !progress(i, false))
            break;
        if (i % 256 == 0) {
            if (const std::string refusal = removalRefusal(); !refusal.empty()) {
                for (std::size_t j = i; j < keys.size(); ++j)
                    results[j] = {RemovalOutcome::Refused, StoreError::Busy, refusal};
                break;
            }
        }
        results[i] = KeyRemovalOf(removeOne(keys[i]));
    }
    return results;
}

StoreListing EmptyStore::list()
{
    StoreListing listing;
    listing.fail(m_kind, describe());
    return listing;
}

StoreResult EmptyStore::remove(std::string_view)
{
    return StoreResult::failure(StoreError::NotFound, describe());
}

std::vector<KeyRemoval> EmptyStore::removeMany(const std::vector<std::string> &keys, const RemovalProgress &)
{
    return std::vector<KeyRemoval>(keys.size(), KeyRemoval{RemovalOutcome::Refused, StoreError::NotFound, describe()});
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
        return StoreResult::failure(StoreError::NotFound, "no entry has this key");
    if (it->hasLocalFile && it->localFile.size) {
        const std::string path(m_listing.text(it->localFile));
        if (::unlink(path.c_str()) != 0 && errno != ENOENT)
            return StoreResult::failure(errno == EBUSY ? StoreError::Busy : StoreError::Denied,
                                        path + ": cannot be removed");
    }
    entries.erase(it);
    return {};
}
