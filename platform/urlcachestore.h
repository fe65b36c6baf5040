#pragma once
// The seam between the platform calls of wininet.h and the store that holds the entries:
// the WinInet store on disk (indexdatstore.h) in the program, an in-memory store in tests.

#include "wininet.h"

#include <memory>
#include <string>
#include <vector>

// One entry as a store yields it. Texts are the program's narrow text (UTF-8).
struct UrlCacheRecord {
    std::string url;
    std::string localFileName; // full local path; empty when the entry has no local file
    bool hasLocalFile = true;  // false: lpszLocalFileName is null
    std::uint64_t size = 0;
    DWORD entryType = 0;
    DWORD useCount = 0;
    DWORD hitRate = 0;
    FILETIME lastModified{};
    FILETIME expire{};
    FILETIME lastAccess{};
    FILETIME lastSync{};
    std::string headerInfo;
    std::string fileExtension;
    DWORD exemptDelta = 0;
};

class UrlCacheStore {
public:
    virtual ~UrlCacheStore() = default;

    // Every entry of the store as it is now. A store that cannot be read gives no entries
    // and, when `error` is given, a one-line reason.
    virtual std::vector<UrlCacheRecord> readEntries(std::string *error) = 0;

    // Removes the entry whose URL equals `url`; returns ERROR_SUCCESS or the error code.
    virtual DWORD removeEntry(const std::string &url) = 0;

    // Where the entries come from, for messages.
    virtual std::string describe() const = 0;
};

// The store the enumeration and deletion calls work on. Without one, the enumeration is
// empty and every deletion fails with ERROR_FILE_NOT_FOUND.
void SetUrlCacheStore(std::shared_ptr<UrlCacheStore> store);
std::shared_ptr<UrlCacheStore> CurrentUrlCacheStore();

// Bytes the enumeration needs for `record` in one buffer (header and texts).
DWORD EntryBlockSize(const UrlCacheRecord &record);
// Writes `record` into `buffer` (at least EntryBlockSize bytes) as one entry block.
void FillEntryBlock(const UrlCacheRecord &record, INTERNET_CACHE_ENTRY_INFOA *buffer);

// A store held in memory. Removing an entry also removes its local file, as the platform
// does; it fails when that file exists and cannot be removed.
class MemoryUrlCacheStore : public UrlCacheStore {
public:
    void add(UrlCacheRecord record) { m_records.push_back(std::move(record)); }
    const std::vector<UrlCacheRecord> &records() const { return m_records; }

    std::vector<UrlCacheRecord> readEntries(std::string *error) override;
    DWORD removeEntry(const std::string &url) override;
    std::string describe() const override { return "memory store"; }

private:
    std::vector<UrlCacheRecord> m_records;
};
