#include "urlcachestore.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;

std::mutex g_storeMutex;
std::shared_ptr<UrlCacheStore> g_store;

// An open enumeration: the entries read at its start, and the next one to hand out.
struct Enumeration {
    std::vector<UrlCacheRecord> entries;
    std::size_t next = 0;
};

// Hands out entry `e->next` when the buffer is large enough; otherwise reports the size.
bool deliver(Enumeration *e, INTERNET_CACHE_ENTRY_INFOA *info, DWORD *size)
{
    if (!size) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (e->next >= e->entries.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return false;
    }
    const UrlCacheRecord &record = e->entries[e->next];
    const DWORD needed = EntryBlockSize(record);
    if (!info || *size < needed) {
        *size = needed;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    FillEntryBlock(record, info);
    *size = needed;
    ++e->next;
    SetLastError(ERROR_SUCCESS);
    return true;
}

std::size_t textBytes(const std::string &text) { return text.size() + 1; }

// The enumeration opened by a size query that found no buffer: the fetch that follows at once
// takes it over instead of reading the whole store a second time.
thread_local std::unique_ptr<Enumeration> t_sizedFirst;
thread_local const UrlCacheStore *t_sizedFirstStore = nullptr;

} // namespace

DWORD GetLastError() { return t_lastError; }
void SetLastError(DWORD error) { t_lastError = error; }

void SetUrlCacheStore(std::shared_ptr<UrlCacheStore> store)
{
    std::lock_guard lock(g_storeMutex);
    g_store = std::move(store);
}

std::shared_ptr<UrlCacheStore> CurrentUrlCacheStore()
{
    std::lock_guard lock(g_storeMutex);
    return g_store;
}

DWORD EntryBlockSize(const UrlCacheRecord &record)
{
    std::size_t total = sizeof(INTERNET_CACHE_ENTRY_INFOA) + textBytes(record.url);
    if (record.hasLocalFile)
        total += textBytes(record.localFileName);
    if (!record.headerInfo.empty())
        total += record.headerInfo.size();
    if (!record.fileExtension.empty())
        total += textBytes(record.fileExtension);
    return static_cast<DWORD>(total);
}

void FillEntryBlock(const UrlCacheRecord &record, INTERNET_CACHE_ENTRY_INFOA *info)
{
    auto *cursor = reinterpret_cast<char *>(info) + sizeof(INTERNET_CACHE_ENTRY_INFOA);
    auto putText = [&cursor](const std::string &text) {
        char *start = cursor;
        std::memcpy(cursor, text.c_str(), text.size() + 1);
        cursor += text.size() + 1;
        return start;
    };

    *info = INTERNET_CACHE_ENTRY_INFOA{};
    info->dwStructSize = sizeof(INTERNET_CACHE_ENTRY_INFOA);
    info->lpszSourceUrlName = putText(record.url);
    info->lpszLocalFileName = record.hasLocalFile ? putText(record.localFileName) : nullptr;
    info->CacheEntryType = record.entryType;
    info->dwUseCount = record.useCount;
    info->dwHitRate = record.hitRate;
    info->dwSizeLow = static_cast<DWORD>(record.size & 0xFFFFFFFFu);
    info->dwSizeHigh = static_cast<DWORD>(record.size >> 32);
    info->LastModifiedTime = record.lastModified;
    info->ExpireTime = record.expire;
    info->LastAccessTime = record.lastAccess;
    info->LastSyncTime = record.lastSync;
    if (!record.headerInfo.empty()) {
        info->lpHeaderInfo = cursor;
        std::memcpy(cursor, record.headerInfo.data(), record.headerInfo.size());
        cursor += record.headerInfo.size();
        info->dwHeaderInfoSize = static_cast<DWORD>(record.headerInfo.size());
    }
    info->lpszFileExtension = record.fileExtension.empty() ? nullptr : putText(record.fileExtension);
    info->dwExemptDelta = record.exemptDelta;
}

HANDLE FindFirstUrlCacheEntryA(const char *searchPattern, INTERNET_CACHE_ENTRY_INFOA *info,
                               DWORD *size)
{
    if (searchPattern) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto store = CurrentUrlCacheStore();
    std::unique_ptr<Enumeration> e;
    if (t_sizedFirst && t_sizedFirstStore == store.get())
        e = std::move(t_sizedFirst);
    t_sizedFirst.reset();
    if (!e) {
        e = std::make_unique<Enumeration>();
        if (store)
            e->entries = store->readEntries(nullptr);
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

bool DeleteUrlCacheEntry(const char *url)
{
    auto store = CurrentUrlCacheStore();
    const DWORD result = (store && url) ? store->removeEntry(url) : ERROR_FILE_NOT_FOUND;
    SetLastError(result);
    return result == ERROR_SUCCESS;
}

std::vector<UrlCacheRecord> MemoryUrlCacheStore::readEntries(std::string *)
{
    return m_records;
}

DWORD MemoryUrlCacheStore::removeEntry(const std::string &url)
{
    auto it = std::find_if(m_records.begin(), m_records.end(),
                           [&url](const UrlCacheRecord &r) { return r.url == url; });
    if (it == m_records.end())
        return ERROR_FILE_NOT_FOUND;
    if (it->hasLocalFile && !it->localFileName.empty()) {
        if (::unlink(it->localFileName.c_str()) != 0 && errno != ENOENT)
            return errno == EBUSY ? ERROR_SHARING_VIOLATION : ERROR_ACCESS_DENIED;
    }
    m_records.erase(it);
    return ERROR_SUCCESS;
}
