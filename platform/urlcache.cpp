#include "urlcachestore.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <new>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;

std::mutex g_storeMutex;
std::shared_ptr<UrlCacheStore> g_store;

// An open enumeration: the entries read at its start, and the next one to hand out.
struct Enumeration {
    PackedUrlCacheEntries entries;
    std::size_t next = 0;
};

// Hands out entry `e->next` when the buffer is large enough; otherwise reports the size.
bool deliver(Enumeration *e, INTERNET_CACHE_ENTRY_INFOA *info, DWORD *size)
{
    if (!size) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (e->next >= e->entries.entries.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return false;
    }
    const DWORD needed = EntryBlockSize(e->entries, e->next);
    if (!info || *size < needed) {
        *size = needed;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    FillEntryBlock(e->entries, e->next, info);
    *size = needed;
    ++e->next;
    SetLastError(ERROR_SUCCESS);
    return true;
}

// The enumeration opened by a size query that found no buffer: the fetch that follows at once
// takes it over instead of reading the whole store a second time.
thread_local std::unique_ptr<Enumeration> t_sizedFirst;
thread_local std::string t_readProblem;
thread_local const UrlCacheStore *t_sizedFirstStore = nullptr;

} // namespace

DWORD GetLastError()
{
    return t_lastError;
}

std::string LastUrlCacheReadProblem()
{
    return t_readProblem;
}
void SetLastError(DWORD error)
{
    t_lastError = error;
}

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

namespace {
constexpr std::size_t PageAllocationMinimum = 256 * 1024;
}

void *AllocatePages(std::size_t bytes)
{
    if (bytes < PageAllocationMinimum) {
        if (void *p = std::malloc(bytes ? bytes : 1))
            return p;
        throw std::bad_alloc();
    }
    // Populated at once: cheaper than a page fault for every 4 KiB as the buffer fills.
    void *p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (p == MAP_FAILED)
        throw std::bad_alloc();
    return p;
}

void FreePages(void *p, std::size_t bytes)
{
    if (bytes < PageAllocationMinimum)
        std::free(p);
    else
        ::munmap(p, bytes);
}

PackedUrlCacheEntries::Text PackedUrlCacheEntries::addText(std::string_view text)
{
    const Text t{static_cast<std::uint32_t>(texts.size()), static_cast<std::uint32_t>(text.size())};
    texts.append(text);
    return t;
}

void PackedUrlCacheEntries::add(const UrlCacheRecord &r)
{
    Entry e;
    e.url = addText(r.url);
    e.localFileName = addText(r.localFileName);
    e.headerInfo = addText(r.headerInfo);
    e.fileExtension = addText(r.fileExtension);
    e.hasLocalFile = r.hasLocalFile;
    e.size = r.size;
    e.entryType = r.entryType;
    e.useCount = r.useCount;
    e.hitRate = r.hitRate;
    e.exemptDelta = r.exemptDelta;
    e.lastModified = r.lastModified;
    e.expire = r.expire;
    e.lastAccess = r.lastAccess;
    e.lastSync = r.lastSync;
    entries.push_back(e);
}

UrlCacheRecord PackedUrlCacheEntries::record(std::size_t index) const
{
    const Entry &e = entries[index];
    UrlCacheRecord r;
    r.url = text(e.url);
    r.localFileName = text(e.localFileName);
    r.headerInfo = text(e.headerInfo);
    r.fileExtension = text(e.fileExtension);
    r.hasLocalFile = e.hasLocalFile;
    r.size = e.size;
    r.entryType = e.entryType;
    r.useCount = e.useCount;
    r.hitRate = e.hitRate;
    r.exemptDelta = e.exemptDelta;
    r.lastModified = e.lastModified;
    r.expire = e.expire;
    r.lastAccess = e.lastAccess;
    r.lastSync = e.lastSync;
    return r;
}

std::vector<UrlCacheRecord> PackedUrlCacheEntries::records() const
{
    std::vector<UrlCacheRecord> out;
    out.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i)
        out.push_back(record(i));
    return out;
}

PackedUrlCacheEntries UrlCacheStore::readPackedEntries(std::string *error)
{
    PackedUrlCacheEntries packed;
    const std::vector<UrlCacheRecord> records = readEntries(error);
    packed.entries.reserve(records.size());
    for (const UrlCacheRecord &r : records)
        packed.add(r);
    return packed;
}

DWORD EntryBlockSize(const PackedUrlCacheEntries &packed, std::size_t index)
{
    const auto &e = packed.entries[index];
    std::size_t total = sizeof(INTERNET_CACHE_ENTRY_INFOA) + e.url.size + 1;
    if (e.hasLocalFile)
        total += e.localFileName.size + 1;
    total += e.headerInfo.size;
    if (e.fileExtension.size)
        total += e.fileExtension.size + 1;
    return static_cast<DWORD>(total);
}

void FillEntryBlock(const PackedUrlCacheEntries &packed, std::size_t index, INTERNET_CACHE_ENTRY_INFOA *info)
{
    const auto &e = packed.entries[index];
    auto *cursor = reinterpret_cast<char *>(info) + sizeof(INTERNET_CACHE_ENTRY_INFOA);
    auto putText = [&cursor, &packed](PackedUrlCacheEntries::Text t) {
        char *start = cursor;
        std::memcpy(cursor, packed.texts.data() + t.offset, t.size);
        cursor[t.size] = '\0';
        cursor += t.size + 1;
        return start;
    };

    *info = INTERNET_CACHE_ENTRY_INFOA{};
    info->dwStructSize = sizeof(INTERNET_CACHE_ENTRY_INFOA);
    info->lpszSourceUrlName = putText(e.url);
    info->lpszLocalFileName = e.hasLocalFile ? putText(e.localFileName) : nullptr;
    info->CacheEntryType = e.entryType;
    info->dwUseCount = e.useCount;
    info->dwHitRate = e.hitRate;
    info->dwSizeLow = static_cast<DWORD>(e.size & 0xFFFFFFFFu);
    info->dwSizeHigh = static_cast<DWORD>(e.size >> 32);
    info->LastModifiedTime = e.lastModified;
    info->ExpireTime = e.expire;
    info->LastAccessTime = e.lastAccess;
    info->LastSyncTime = e.lastSync;
    if (e.headerInfo.size) {
        info->lpHeaderInfo = cursor;
        std::memcpy(cursor, packed.texts.data() + e.headerInfo.offset, e.headerInfo.size);
        cursor += e.headerInfo.size;
        info->dwHeaderInfoSize = e.headerInfo.size;
    }
    info->lpszFileExtension = e.fileExtension.size ? putText(e.fileExtension) : nullptr;
    info->dwExemptDelta = e.exemptDelta;
}

HANDLE FindFirstUrlCacheEntryA(const char *searchPattern, INTERNET_CACHE_ENTRY_INFOA *info, DWORD *size)
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
        std::string problem = store ? std::string() : std::string("no cache store");
        if (store)
            e->entries = store->readPackedEntries(&problem);
        t_readProblem = std::move(problem);
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
    auto it =
        std::find_if(m_records.begin(), m_records.end(), [&url](const UrlCacheRecord &r) { return r.url == url; });
    if (it == m_records.end())
        return ERROR_FILE_NOT_FOUND;
    if (it->hasLocalFile && !it->localFileName.empty()) {
        if (::unlink(it->localFileName.c_str()) != 0 && errno != ENOENT)
            return errno == EBUSY ? ERROR_SHARING_VIOLATION : ERROR_ACCESS_DENIED;
    }
    m_records.erase(it);
    return ERROR_SUCCESS;
}
