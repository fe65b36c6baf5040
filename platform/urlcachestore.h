#pragma once
// The seam between the platform calls of wininet.h and the store that holds the entries:
// the WinInet store on disk (indexdatstore.h) in the program, an in-memory store in tests.

#include "wininet.h"

#include <memory>
#include <string>
#include <string_view>
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

// Gives large blocks straight from the system and back, so that a read of a big store never
// leaves a hole in the heap under the entry blocks that outlive it (the C library would
// otherwise raise its threshold and keep the next read's buffers on the heap).
template <typename T>
struct PageAllocator {
    using value_type = T;
    PageAllocator() = default;
    template <typename U>
    PageAllocator(const PageAllocator<U> &)
    {}
    T *allocate(std::size_t n);
    void deallocate(T *p, std::size_t n);
    bool operator==(const PageAllocator &) const { return true; }
};

void *AllocatePages(std::size_t bytes);
void FreePages(void *p, std::size_t bytes);

template <typename T>
T *PageAllocator<T>::allocate(std::size_t n)
{
    return static_cast<T *>(AllocatePages(n * sizeof(T)));
}
template <typename T>
void PageAllocator<T>::deallocate(T *p, std::size_t n)
{
    FreePages(p, n * sizeof(T));
}

// The entries of one read with all their texts in one buffer. The enumeration holds a read
// in this form: a store of 60,000 entries then costs a few allocations instead of several
// per entry, for reading as well as for releasing.
struct PackedUrlCacheEntries {
    struct Text {
        std::uint32_t offset = 0;
        std::uint32_t size = 0;
    };
    struct Entry {
        Text url, localFileName, headerInfo, fileExtension;
        bool hasLocalFile = true;
        std::uint64_t size = 0;
        DWORD entryType = 0;
        DWORD useCount = 0;
        DWORD hitRate = 0;
        DWORD exemptDelta = 0;
        FILETIME lastModified{};
        FILETIME expire{};
        FILETIME lastAccess{};
        FILETIME lastSync{};
    };
    std::vector<Entry, PageAllocator<Entry>> entries;
    using Texts = std::basic_string<char, std::char_traits<char>, PageAllocator<char>>;
    Texts texts;

    Text addText(std::string_view text);
    void add(const UrlCacheRecord &record);
    std::string_view text(Text t) const { return std::string_view(texts).substr(t.offset, t.size); }
    UrlCacheRecord record(std::size_t index) const;
    std::vector<UrlCacheRecord> records() const;
};

class UrlCacheStore {
public:
    virtual ~UrlCacheStore() = default;

    // The same as readEntries, packed. Stores that can produce this form directly do so.
    virtual PackedUrlCacheEntries readPackedEntries(std::string *error);

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
// Why the last enumeration could not read its store; empty when it could.
std::string LastUrlCacheReadProblem();
std::shared_ptr<UrlCacheStore> CurrentUrlCacheStore();

// Bytes the enumeration needs for entry `index` of a packed read in one buffer (header and
// texts), and the writing of that entry block into a buffer at least that large.
DWORD EntryBlockSize(const PackedUrlCacheEntries &packed, std::size_t index);
void FillEntryBlock(const PackedUrlCacheEntries &packed, std::size_t index, INTERNET_CACHE_ENTRY_INFOA *buffer);

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
