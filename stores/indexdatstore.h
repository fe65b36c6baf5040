#pragma once
// The WinInet cache store on disk: an index.dat file and its content folders. Reading lists
// the URL records reachable from the hash table; removing an entry frees it in place the way
// WinInet does, so that WinInet and Wine keep using the store afterwards.

#include "cachestore.h"
#include "indexdatformat.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>
#include <unistd.h>

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

// One write of a removal: `bytes` go to `offset` of the index.
struct IndexDatWrite {
    enum Step : std::uint8_t {
        Unlist,     // the hash item's key becomes 1: the entry is gone
        Counters,   // the header's counters, with the bitmap bits when the blocks are freed
        Leak,       // the record becomes a LEAK record, for WinInet to free later
        LeakList,   // the header's leak list starts at that record
        GroupUsage, // the usage of the entry's group
        Wipe,       // the freed record is overwritten with 0x0BADF00D
    };
    Step step = Unlist;
    std::uint32_t offset = 0;
    std::vector<std::uint8_t> bytes;
};

// The changes that remove one entry, worked out on the index bytes without touching disk.
struct IndexDatRemoval {
    StoreError error = StoreError::None;
    std::string reason; // set with every error

    // The local file: `contentFolder` (empty = beside index.dat) / `fileName`, the name's
    // bytes as they are on disk. Only set when the names are plain and the file lies inside
    // its folder.
    bool deleteFile = false;
    std::string contentFolder;
    std::string fileName;

    // The writes, in order, all inside the file. After any first few of them, the last one
    // possibly cut short at a 4 KiB page boundary of the file (where a failing write stops),
    // the index still passes CheckConsistency and no live item points at freed blocks.
    std::vector<IndexDatWrite> writes;
};

// Plans the removal of the entry whose URL, read as ReadIndexDat reads it, equals `url`.
// `nowUnix` decides whether a lock is stale. Errors: StoreError::NotFound, StoreError::Damaged
// (consistency rules broken), StoreError::DiskReadOnly (a 4.7 store), StoreError::Busy.
[[nodiscard]] IndexDatRemoval PlanIndexDatRemoval(const std::uint8_t *data, std::size_t size, std::string_view url,
                                                  std::int64_t nowUnix);

// How a removal writes to the index: the system calls, or in tests calls that fail.
struct IndexDatWriteCalls {
    std::function<ssize_t(int fd, const void *bytes, std::size_t count, off_t offset)> pwrite = ::pwrite;
    std::function<int(int fd)> fsync = ::fsync;
};

// Makes the writes of `plan` on `fd` through `calls`, in order, going on after a short write.
// `failed` is the index of the write that failed, with its errno; writes.size() when all
// were made.
struct IndexDatWriteOutcome {
    std::size_t failed = 0;
    int error = 0;
};
IndexDatWriteOutcome WriteIndexDatRemoval(int fd, const IndexDatRemoval &plan, const IndexDatWriteCalls &calls);
// The kind's descriptor (storekind.h).
extern const StoreKindInfo IndexDatStoreKind;

// The store over one index.dat. The file is opened for each call and closed again, so
// WinInet may use the store in between. Keys are the entries' URLs. A removal holds an
// exclusive lock on the index from reading to the last write, so that two deleting
// processes (two windows, or a window and the bench) take turns; the second waits for as long
// as the first keeps changing the index.
class IndexDatStore : public CacheStore {
public:
    explicit IndexDatStore(std::string indexPath);

    StoreKind kind() const override { return IndexDatStoreKind; }
    StoreHolder holder() const override { return StoreHolder::WinePrograms; }
    std::string folder() const override { return m_folder; }
    std::string describe() const override { return m_indexPath; }
    StoreListing list() override;
    StoreResult remove(std::string_view url) override;
    // One pass under one lock: the index is read once and again only when it changed under
    // us; every entry's writes keep the order of a single removal. Refused while a Wine
    // server runs for the store's prefix or another process maps or holds the index open.
    std::vector<KeyRemoval> removeMany(const std::vector<std::string> &urls,
                                       const RemovalProgress &progress = {}) override;

    // Replaces the calls a removal writes with (tests make them fail).
    void setWriteCalls(IndexDatWriteCalls calls);

    const std::string &indexPath() const { return m_indexPath; }

private:
    std::string m_indexPath;
    std::string m_folder;
    std::mutex m_mutex;
    IndexDatWriteCalls m_writeCalls;
};
