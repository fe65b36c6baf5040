#include "urlcachestore.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <utility>

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;
thread_local std::string t_readProblem;
thread_local StoreError t_readError = StoreError::None;
thread_local std::uint32_t t_newerCount = 0;
thread_local std::string t_skipped;
thread_local std::uint32_t t_skippedCount = 0;
thread_local std::string t_incomplete;
thread_local std::string t_deleteReason;

std::mutex g_storeMutex;
std::shared_ptr<CacheStore> g_store;

// What identifies a store across closing and opening again; the index + 1 is its id.
struct StoreIdentity {
    StoreKind kind;
    std::string folder;
};
std::vector<StoreIdentity> g_identities;
std::vector<std::pair<URLCACHE_STORE_ID, std::shared_ptr<CacheStore>>> g_open;

// With g_storeMutex held.
URLCACHE_STORE_ID identify(const std::shared_ptr<CacheStore> &store)
{
    if (!store)
        return 0;
    const StoreKind kind = store->kind();
    std::string folder = store->folder();
    for (std::size_t i = 0; i < g_identities.size(); ++i)
        if (g_identities[i].kind == kind && g_identities[i].folder == folder)
            return URLCACHE_STORE_ID(i + 1);
    g_identities.push_back({kind, std::move(folder)});
    return URLCACHE_STORE_ID(g_identities.size());
}

// With g_storeMutex held.
std::shared_ptr<CacheStore> openStore(URLCACHE_STORE_ID id)
{
    if (id == 0)
        return nullptr;
    for (const auto &[openId, store] : g_open)
        if (openId == id)
            return store;
    return g_store && identify(g_store) == id ? g_store : nullptr;
}

// An open enumeration: the listing read at its start, and the next entry to hand out.
struct Enumeration {
    StoreListing listing;
    StoreKind kind = StoreKind::None;
    std::size_t next = 0;
};

// Hands out entry `e->next` when the buffer is large enough; otherwise reports the size.
bool deliver(Enumeration *e, INTERNET_CACHE_ENTRY_INFOA *info, DWORD *size)
{
    if (!size) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (e->next >= e->listing.entries.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return false;
    }
    const DWORD needed = EntryBlockSize(e->listing, e->next);
    if (!info || *size < needed) {
        *size = needed;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    FillEntryBlock(e->listing, e->next, e->kind, info);
    *size = needed;
    ++e->next;
    SetLastError(ERROR_SUCCESS);
    return true;
}

// The enumeration opened by a size query that found no buffer: the fetch that follows at once
// takes it over instead of reading the whole store a second time.
thread_local std::unique_ptr<Enumeration> t_sizedFirst;
thread_local const CacheStore *t_sizedFirstStore = nullptr;

// A text of the block: its bytes and a NUL. Empty extras texts share one NUL.
std::size_t textBytes(const StoreText &t)
{
    return t.size + 1;
}

// The key is the URL's own text where they are equal, as in every WinInet store.
bool keyIsUrl(const StoreListing &listing, const StoreEntry &e)
{
    return (e.key.offset == e.url.offset && e.key.size == e.url.size) || listing.text(e.key) == listing.text(e.url);
}

// Whether the entry knows more than WinInet's header holds. A WinInet store's entries never
// do: their blocks stay exactly as WinInet's own, and the catalogue of a big store stays small.
bool hasExtras(const StoreListing &listing, const StoreEntry &e)
{
    return e.body == BodyPlace::Range || e.partition.size || e.container.size || e.contentType.size
        || e.contentEncoding.size || e.requestMethod.size || e.httpStatus || e.flags || e.created || e.bodyOffset
        || !keyIsUrl(listing, e);
}

} // namespace

DWORD GetLastError()
{
    return t_lastError;
}

void SetLastError(DWORD error)
{
    t_lastError = error;
}

std::string LastUrlCacheReadProblem()
{
    return t_readProblem;
}

std::string LastUrlCacheSkipped()
{
    return t_skipped;
}

std::uint32_t LastUrlCacheSkippedCount()
{
    return t_skippedCount;
}

StoreError LastUrlCacheReadError()
{
    return t_readError;
}

std::uint32_t LastUrlCacheNewerCount()
{
    return t_newerCount;
}

std::string LastUrlCacheIncomplete()
{
    return t_incomplete;
}

std::string LastUrlCacheDeleteReason()
{
    return t_deleteReason;
}

void SetUrlCacheStore(std::shared_ptr<CacheStore> store)
{
    std::lock_guard lock(g_storeMutex);
    g_store = std::move(store);
}

std::shared_ptr<CacheStore> CurrentUrlCacheStore()
{
    std::lock_guard lock(g_storeMutex);
    return g_store;
}

URLCACHE_STORE_ID UrlCacheStoreIdOf(const std::shared_ptr<CacheStore> &store)
{
    std::lock_guard lock(g_storeMutex);
    return identify(store);
}

URLCACHE_STORE_ID CurrentUrlCacheStoreId()
{
    std::lock_guard lock(g_storeMutex);
    return identify(g_store);
}

URLCACHE_STORE_ID OpenUrlCacheStore(std::shared_ptr<CacheStore> store)
{
    std::lock_guard lock(g_storeMutex);
    const URLCACHE_STORE_ID id = identify(store);
    if (id == 0)
        return 0;
    for (auto &[openId, open] : g_open)
        if (openId == id) {
            open = std::move(store);
            return id;
        }
    g_open.emplace_back(id, std::move(store));
    return id;
}

void CloseUrlCacheStore(URLCACHE_STORE_ID id)
{
    std::lock_guard lock(g_storeMutex);
    std::erase_if(g_open, [id](const auto &open) { return open.first == id; });
    // The current store is always open: another open one takes its place.
    if (g_store && identify(g_store) == id)
        g_store = g_open.empty() ? nullptr : g_open.front().second;
}

std::shared_ptr<CacheStore> UrlCacheStoreById(URLCACHE_STORE_ID id)
{
    std::lock_guard lock(g_storeMutex);
    return openStore(id);
}

std::vector<std::shared_ptr<CacheStore>> OpenUrlCacheStores()
{
    std::lock_guard lock(g_storeMutex);
    std::vector<std::shared_ptr<CacheStore>> stores;
    const URLCACHE_STORE_ID current = identify(g_store);
    if (g_store)
        stores.push_back(g_store);
    for (const auto &[id, store] : g_open)
        if (id != current)
            stores.push_back(store);
    return stores;
}

std::size_t OpenUrlCacheStoreCount()
{
    std::lock_guard lock(g_storeMutex);
    const URLCACHE_STORE_ID current = identify(g_store);
    return (g_store ? 1 : 0) + std::size_t(std::count_if(g_open.begin(), g_open.end(), [current](const auto &o) {
               return o.first != current;
           }));
}

StoreKind UrlCacheStoreKind(URLCACHE_STORE_ID id)
{
    std::lock_guard lock(g_storeMutex);
    return id > 0 && id <= g_identities.size() ? g_identities[id - 1].kind : StoreKind::None;
}

std::string UrlCacheStoreFolder(URLCACHE_STORE_ID id)
{
    std::lock_guard lock(g_storeMutex);
    return id > 0 && id <= g_identities.size() ? g_identities[id - 1].folder : std::string();
}

StoreKind EntryBlockKind(const INTERNET_CACHE_ENTRY_INFOA *block)
{
    const EntryExtras *extras = ExtrasOf(block);
    return extras ? StoreKindAt(extras->storeKind) : StoreKindFromId("wininet");
}

DWORD EntryBlockSize(const StoreListing &listing, std::size_t index)
{
    const StoreEntry &e = listing.entries[index];
    std::size_t total = sizeof(INTERNET_CACHE_ENTRY_INFOA) + textBytes(e.url);
    if (e.hasLocalFile)
        total += textBytes(e.localFile);
    total += e.headers.size;
    if (e.extension.size)
        total += textBytes(e.extension);
    if (!hasExtras(listing, e))
        return static_cast<DWORD>(total);
    total += sizeof(EntryExtras);
    if (!keyIsUrl(listing, e))
        total += textBytes(e.key);
    total += 1; // the NUL every empty extras text points at
    for (const StoreText *t : {&e.partition, &e.container, &e.contentType, &e.contentEncoding, &e.requestMethod})
        if (t->size)
            total += textBytes(*t);
    return static_cast<DWORD>(total);
}

void FillEntryBlock(const StoreListing &listing, std::size_t index, StoreKind kind, INTERNET_CACHE_ENTRY_INFOA *info)
{
    const StoreEntry &e = listing.entries[index];
    const bool withExtras = hasExtras(listing, e);
    auto *extras = reinterpret_cast<EntryExtras *>(info + 1);
    auto *cursor = withExtras ? reinterpret_cast<char *>(extras + 1) : reinterpret_cast<char *>(info + 1);
    auto putText = [&cursor, &listing](StoreText t) {
        char *start = cursor;
        std::memcpy(cursor, listing.texts.data() + t.offset, t.size);
        cursor[t.size] = '\0';
        cursor += t.size + 1;
        return start;
    };

    *info = INTERNET_CACHE_ENTRY_INFOA{};
    info->dwStructSize = sizeof(INTERNET_CACHE_ENTRY_INFOA) + (withExtras ? sizeof(EntryExtras) : 0);
    info->lpszSourceUrlName = putText(e.url);
    info->lpszLocalFileName = e.hasLocalFile ? putText(e.localFile) : nullptr;
    info->CacheEntryType = e.entryType;
    info->dwUseCount = e.hitCount;
    info->dwHitRate = e.hitRate;
    info->dwSizeLow = static_cast<DWORD>(e.size & 0xFFFFFFFFu);
    info->dwSizeHigh = static_cast<DWORD>(e.size >> 32);
    auto fileTime = [](StoreTime t) { return FILETIME{DWORD(t & 0xFFFFFFFFu), DWORD(t >> 32)}; };
    info->LastModifiedTime = fileTime(e.lastModified);
    info->ExpireTime = fileTime(e.expires);
    info->LastAccessTime = fileTime(e.lastAccess);
    info->LastSyncTime = fileTime(e.lastSync);
    if (e.headers.size) {
        info->lpHeaderInfo = cursor;
        std::memcpy(cursor, listing.texts.data() + e.headers.offset, e.headers.size);
        cursor += e.headers.size;
        info->dwHeaderInfoSize = e.headers.size;
    }
    info->lpszFileExtension = e.extension.size ? putText(e.extension) : nullptr;
    info->dwExemptDelta = e.exemptDelta;
    if (!withExtras)
        return;

    *extras = EntryExtras{};
    extras->key = keyIsUrl(listing, e) ? info->lpszSourceUrlName : putText(e.key);
    char *none = cursor;
    *cursor++ = '\0';
    auto optional = [&](StoreText t) { return t.size ? putText(t) : none; };
    extras->partition = optional(e.partition);
    extras->container = optional(e.container);
    extras->contentType = optional(e.contentType);
    extras->contentEncoding = optional(e.contentEncoding);
    extras->requestMethod = optional(e.requestMethod);
    extras->bodyOffset = e.bodyOffset;
    extras->created = e.created;
    extras->status = e.httpStatus;
    extras->flags = e.flags;
    extras->bodyPlace = DWORD(e.body);
    extras->storeKind = StoreKindNumber(kind);
}

namespace {

HANDLE findFirst(const std::shared_ptr<CacheStore> &store, INTERNET_CACHE_ENTRY_INFOA *info, DWORD *size)
{
    std::unique_ptr<Enumeration> e;
    if (t_sizedFirst && t_sizedFirstStore == store.get())
        e = std::move(t_sizedFirst);
    t_sizedFirst.reset();
    if (!e) {
        e = std::make_unique<Enumeration>();
        if (store) {
            e->listing = store->list();
            e->kind = store->kind();
            // A store whose entries all were left out is no more readable than a missing one.
            const StoreListing &l = e->listing;
            t_readProblem = l.ok() ? l.noneReadable() : l.error;
            t_readError = !l.ok()                 ? l.errorKind()
                : t_readProblem.empty()           ? StoreError::None
                : l.newerFormat && l.skipped == 0 ? StoreError::NewerFormat
                                                  : StoreError::Damaged;
            t_newerCount = l.newerFormat;
            t_skipped = e->listing.skipSummary();
            t_skippedCount = e->listing.skipped;
            t_incomplete = e->listing.incomplete;
        } else {
            t_readProblem = "no cache store";
            t_readError = StoreError::NotFound;
            t_newerCount = 0;
            t_skipped.clear();
            t_skippedCount = 0;
            t_incomplete.clear();
        }
    }
    if (!deliver(e.get(), info, size)) {
        if (GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
            t_sizedFirst = std::move(e);
            t_sizedFirstStore = store.get();
        }
        return nullptr;
    }
    return e.release();
}

bool deleteEntry(const std::shared_ptr<CacheStore> &store, const char *key, const char *noStore)
{
    StoreResult result = (store && key)
        ? store->remove(key)
        : StoreResult::failure(store ? StoreError::NotFound : StoreError::Closed, noStore);
    t_deleteReason = std::move(result.reason);
    SetLastError(WinInetErrorOf(result.error));
    return result.ok();
}

} // namespace

namespace {

constexpr std::pair<StoreError, DWORD> kWinInetErrors[] = {
    {StoreError::None, ERROR_SUCCESS},
    {StoreError::NotFound, ERROR_FILE_NOT_FOUND},
    {StoreError::NoFolder, ERROR_PATH_NOT_FOUND},
    {StoreError::Busy, ERROR_SHARING_VIOLATION},
    {StoreError::ReadOnly, ERROR_NOT_SUPPORTED},
    {StoreError::DiskReadOnly, ERROR_WRITE_PROTECT},
    {StoreError::Damaged, ERROR_FILE_CORRUPT},
    {StoreError::NewerFormat, ERROR_UNRECOGNIZED_VOLUME},
    {StoreError::Encrypted, ERROR_ENCRYPTION_FAILED},
    {StoreError::DiskFull, ERROR_DISK_FULL},
    {StoreError::IoError, ERROR_WRITE_FAULT},
    {StoreError::Denied, ERROR_ACCESS_DENIED},
    {StoreError::Closed, ERROR_NOT_READY},
    {StoreError::NotACache, ERROR_FILE_NOT_FOUND},
    {StoreError::Unsupported, ERROR_NOT_SUPPORTED},
};

} // namespace

DWORD WinInetErrorOf(StoreError error)
{
    for (const auto &[ours, theirs] : kWinInetErrors)
        if (ours == error)
            return theirs;
    return ERROR_ACCESS_DENIED;
}

StoreError StoreErrorOfWinInet(DWORD error)
{
    for (const auto &[ours, theirs] : kWinInetErrors)
        if (theirs == error)
            return ours;
    return StoreError::Denied;
}

HANDLE FindFirstUrlCacheEntryA(const char *searchPattern, INTERNET_CACHE_ENTRY_INFOA *info, DWORD *size)
{
    if (searchPattern) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return findFirst(CurrentUrlCacheStore(), info, size);
}

HANDLE FindFirstUrlCacheEntryInStore(URLCACHE_STORE_ID store, INTERNET_CACHE_ENTRY_INFOA *info, DWORD *size)
{
    return findFirst(UrlCacheStoreById(store), info, size);
}

bool FindNextUrlCacheEntryA(HANDLE enumeration, INTERNET_CACHE_ENTRY_INFOA *info, DWORD *size)
{
    if (!enumeration) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return deliver(static_cast<Enumeration *>(enumeration), info, size);
}

bool FindCloseUrlCache(HANDLE enumeration)
{
    if (!enumeration) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    delete static_cast<Enumeration *>(enumeration);
    return true;
}

bool DeleteUrlCacheEntry(const char *key)
{
    const auto store = CurrentUrlCacheStore();
    if (!store) { // as it always was: nothing to find the key in
        t_deleteReason = "no cache store";
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    return deleteEntry(store, key, "no cache store");
}

namespace {

std::vector<KeyRemoval> removeMany(const std::shared_ptr<CacheStore> &store, const std::vector<std::string> &keys,
                                   const RemovalProgress &progress, StoreError noStoreError, const char *noStore)
{
    if (store)
        return store->removeMany(keys, progress);
    return std::vector<KeyRemoval>(keys.size(), KeyRemoval{RemovalOutcome::Refused, noStoreError, noStore});
}

} // namespace

std::vector<KeyRemoval> DeleteUrlCacheEntries(const std::vector<std::string> &keys, const RemovalProgress &progress)
{
    return removeMany(CurrentUrlCacheStore(), keys, progress, StoreError::NotFound, "no cache store");
}

std::vector<KeyRemoval> DeleteUrlCacheEntriesInStore(URLCACHE_STORE_ID store, const std::vector<std::string> &keys,
                                                     const RemovalProgress &progress)
{
    // A closed cache is never stood in for by another one that holds the same keys.
    return removeMany(UrlCacheStoreById(store), keys, progress, StoreError::Closed, "the cache is closed");
}
