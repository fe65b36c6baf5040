#pragma once
// The WinInet cache store on disk: an index.dat file and its content folders. Reading lists
// the URL records reachable from the hash table; removing an entry frees it in place the way
// WinInet does, so that WinInet and Wine keep using the store afterwards.

#include "cachestore.h"
#include "indexdatformat.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// What one read of an index.dat gave.
struct IndexDatListing {
    bool ok = false;
    std::string error; // why nothing could be read; empty when ok
    indexdat::Version version = indexdat::Version::Unknown;
    std::string inconsistency; // broken consistency rule: readable, but never written to
    StoreListing entries;
};

// Lists the entries of the index held in `data`. `storeFolder` is the folder of index.dat;
// local paths are built under it. Never reads outside [data, data + size).
[[nodiscard]] IndexDatListing ReadIndexDat(const std::uint8_t *data, std::size_t size, const std::string &storeFolder);

// The changes that remove one entry, worked out on the index bytes without touching disk.
struct IndexDatRemoval {
    std::uint32_t error = ERROR_SUCCESS;
    std::string reason; // set with every error

    // The local file: `contentFolder` (empty = beside index.dat) / `fileName`. Only set
    // when the names are plain and the file lies inside its folder.
    bool deleteFile = false;
    std::string contentFolder;
    std::string fileName;

    std::uint32_t itemOffset = 0; // the hash item whose key becomes 1
    bool groupUpdate = false;
    std::uint32_t groupUsageOffset = 0;
    std::uint64_t groupUsage = 0;
    std::uint32_t headerOffset = 0; // the new bytes of the header range, written in one go
    std::vector<std::uint8_t> headerBytes;
    std::uint32_t wipeOffset = 0; // freed blocks, overwritten with 0x0BADF00D
    std::uint32_t wipeSize = 0;
};

// Plans the removal of the entry whose URL, read as ReadIndexDat reads it, equals `url`.
// `nowUnix` decides whether a lock is stale. Errors: ERROR_FILE_NOT_FOUND, ERROR_FILE_CORRUPT
// (consistency rules broken), ERROR_WRITE_PROTECT (a 4.7 store), ERROR_SHARING_VIOLATION.
[[nodiscard]] IndexDatRemoval PlanIndexDatRemoval(const std::uint8_t *data, std::size_t size, std::string_view url,
                                                  std::int64_t nowUnix);

// The store over one index.dat. The file is opened for each call and closed again, so
// WinInet may use the store in between. Keys are the entries' URLs.
class IndexDatStore : public CacheStore {
public:
    explicit IndexDatStore(std::string indexPath);

    StoreKind kind() const override { return StoreKind::WinInet; }
    std::string folder() const override { return m_folder; }
    std::string describe() const override { return m_indexPath; }
    StoreListing list() override;
    StoreResult remove(std::string_view url) override;

    const std::string &indexPath() const { return m_indexPath; }

private:
    std::string m_indexPath;
    std::string m_folder;
    std::mutex m_mutex;
};
