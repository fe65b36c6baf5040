#include "entry.h"

#include "text.h"

#include "platform/urlcachestore.h"
#include "stores/bodies.h"
#include "stores/cachestore.h"

#include <algorithm>
#include <mutex>

namespace {

// Frees a block, and holds the id of the store it was read from.
struct BlockOwner {
    std::byte *block;
    URLCACHE_STORE_ID store;
    void operator()(const INTERNET_CACHE_ENTRY_INFOA *) const { delete[] block; }
};

} // namespace

CatalogueEntry AdoptEntryBlock(std::byte *block, URLCACHE_STORE_ID store)
{
    return CatalogueEntry(reinterpret_cast<const INTERNET_CACHE_ENTRY_INFOA *>(block), BlockOwner{block, store});
}

URLCACHE_STORE_ID EntryStoreId(const CatalogueEntry &e)
{
    const BlockOwner *owner = std::get_deleter<BlockOwner>(e);
    return owner ? owner->store : 0;
}

namespace {

// What tells stores of one kind apart: the store's folder name, or the first folder above it
// whose name is not the one every store of its kind has.
std::string storeNickname(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    static const char *const generic[] = {"Cache", "Cache_Data", "cache2", "Content.IE5", "INetCache"};
    for (int up = 0; up < 3; ++up) {
        const auto slash = path.rfind('/');
        const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        if (slash == std::string::npos || std::find(std::begin(generic), std::end(generic), name) == std::end(generic))
            return name;
        path.resize(slash);
    }
    return path;
}

// The caption of the tree's cache root for a store: "IE缓存" for WinInet (and when there is
// no store), else the browser's name and 缓存, e.g. "Firefox缓存", "Chrome缓存".
std::string cacheRootCaption(StoreKind kind, const std::string &folder)
{
    const std::string browser = BrowserNameFor(kind, folder);
    return (browser.empty() ? std::string("IE") : browser) + "缓存";
}

} // namespace

std::string StoreCaption(URLCACHE_STORE_ID store, bool several)
{
    const std::string folder = UrlCacheStoreFolder(store);
    std::string caption = cacheRootCaption(UrlCacheStoreKind(store), folder);
    if (several && !folder.empty())
        caption += " – " + storeNickname(folder);
    return caption;
}

HeaderCopy MakeHeaderCopy(const Tcachedata &record)
{
    return HeaderCopy{record.header, record.block};
}

Tcachedata MakeViewRecord(const CatalogueEntry &entry)
{
    Tcachedata record;
    record.header = *entry;
    record.block = entry;
    return record;
}

Tcachedata MakeViewRecord(const HeaderCopy &entry)
{
    Tcachedata record;
    record.header = entry.header;
    record.block = entry.block;
    return record;
}

int CompareHost(const CatalogueEntry &a, const CatalogueEntry &b)
{
    return CompareNamesLowered(UrlHost(SourceUrl(a)), UrlHost(SourceUrl(b)));
}

const char *PresenceFile(const INTERNET_CACHE_ENTRY_INFOA *block, const INTERNET_CACHE_ENTRY_INFOA &header)
{
    if (BodyInContainer(block))
        return ExtrasOf(block)->container;
    return LocalFileName(header);
}

bool BodyInContainer(const INTERNET_CACHE_ENTRY_INFOA *block)
{
    const EntryExtras *extras = ExtrasOf(block);
    return extras && extras->bodyPlace == DWORD(BodyPlace::Range);
}

bool BodyNotHeld(const INTERNET_CACHE_ENTRY_INFOA *block)
{
    const EntryExtras *extras = ExtrasOf(block);
    return extras && extras->bodyPlace == DWORD(BodyPlace::None);
}

BodyRef EntryBodyRef(const INTERNET_CACHE_ENTRY_INFOA *block, const INTERNET_CACHE_ENTRY_INFOA &header)
{
    BodyRef ref;
    ref.size = EntrySize(header);
    if (!BodyInContainer(block)) {
        ref.container = LocalFileName(header);
        return ref;
    }
    const EntryExtras *extras = ExtrasOf(block);
    ref.container = extras->container ? extras->container : "";
    ref.offset = extras->bodyOffset;
    ref.contentEncoding = extras->contentEncoding ? extras->contentEncoding : "";
    return ref;
}

StoreResult EnsureLocalFile(const INTERNET_CACHE_ENTRY_INFOA *block)
{
    if (!block)
        return StoreResult::failure(StoreError::NotFound, "no entry");
    if (!BodyInContainer(block)) {
        if (FileExists(LocalFileName(*block)))
            return {};
        return StoreResult::failure(StoreError::NotFound, std::string(LocalFileName(*block)) + ": the file is gone");
    }
    return WriteBodyFile(EntryBodyRef(block, *block), LocalFileName(*block));
}

namespace {

// What the last purge of one list left: its entries, and the folders that vouched for them.
struct PurgeMemo {
    const void *list = nullptr;
    // Weak references keep the entries' control blocks, so an entry made later can never
    // pass for one of these by its address.
    std::vector<std::weak_ptr<const INTERNET_CACHE_ENTRY_INFOA>> kept;
    std::vector<FilePresence::FolderSeen> folders;
};

// One memo for each of the few lists purged; a new list takes the oldest memo's place.
struct PurgeMemos {
    std::mutex lock;
    std::vector<PurgeMemo> memos;
};

PurgeMemos &purgeMemos()
{
    static PurgeMemos memos;
    return memos;
}

bool sameEntries(const PurgeMemo &memo, const std::vector<CatalogueEntry> &list)
{
    if (memo.kept.size() != list.size())
        return false;
    for (std::size_t i = 0; i < list.size(); ++i)
        if (memo.kept[i].owner_before(list[i]) || list[i].owner_before(memo.kept[i]) || !list[i])
            return false;
    return true;
}

bool foldersUnchanged(const PurgeMemo &memo)
{
    FolderStamp now;
    for (const FilePresence::FolderSeen &seen : memo.folders)
        if (!FilePresence::stampOf(seen.folder, now) || !(now == seen.stamp))
            return false;
    return true;
}

} // namespace

void PurgeMissingFiles(std::vector<CatalogueEntry> &list)
{
    PurgeMemos &memos = purgeMemos();
    const std::lock_guard guard(memos.lock);
    auto memo =
        std::find_if(memos.memos.begin(), memos.memos.end(), [&](const PurgeMemo &m) { return m.list == &list; });
    if (memo != memos.memos.end() && sameEntries(*memo, list) && foldersUnchanged(*memo))
        return;

    FilePresence presence;
    const auto gone = std::remove_if(list.begin(), list.end(),
                                     [&](const CatalogueEntry &e) { return !e || !presence.exists(PresenceFile(e)); });
    list.erase(gone, list.end());

    // Only answers the folders' stamps can vouch for let a later purge skip the walk.
    if (!presence.answeredFromStampedListings()) {
        if (memo != memos.memos.end())
            memos.memos.erase(memo);
        return;
    }
    if (memo == memos.memos.end()) {
        if (memos.memos.size() >= 4)
            memos.memos.erase(memos.memos.begin());
        memo = memos.memos.insert(memos.memos.end(), PurgeMemo{});
        memo->list = &list;
    }
    memo->kept.assign(list.begin(), list.end());
    memo->folders = presence.foldersSeen();
}
