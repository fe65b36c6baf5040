// Feeds arbitrary bytes to the index.dat reader and plans deletions on them: nothing may
// read outside the buffer, hang or crash, whatever the file holds. Each planned deletion is
// then made on a copy of the bytes through the deleter's own write loop, with a write that
// fails (cut at a page boundary, as the kernel cuts a write that fails part-way) wherever
// the input's last byte says: the copy must still pass the consistency rules, and once all
// writes are made it must list exactly what it listed before but the one entry.

#include "stores/indexdatformat.h"
#include "stores/indexdatstore.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

std::map<std::string, int> urlsOf(const IndexDatListing &listing)
{
    std::map<std::string, int> urls;
    for (const StoreEntry &e : listing.entries.entries)
        ++urls[std::string(listing.entries.text(e.url))];
    return urls;
}

// Makes `plan` on a copy of `data`, failing from write call `failAt` on (0: none), and
// checks the copy. Returns whether every write was made.
bool applyAndCheck(const std::uint8_t *data, std::size_t size, const IndexDatRemoval &plan, unsigned failAt, bool cut,
                   std::vector<std::uint8_t> &copy)
{
    copy.assign(data, data + size);
    unsigned calls = 0;
    IndexDatWriteCalls seam;
    seam.pwrite = [&](int, const void *bytes, std::size_t count, off_t offset) -> ssize_t {
        if (offset < 0 || std::uint64_t(offset) + count > copy.size())
            __builtin_trap(); // every write lies inside the file
        ++calls;
        if (failAt && calls >= failAt) {
            const std::uint64_t boundary = (std::uint64_t(offset) / 0x1000 + 1) * 0x1000;
            if (!cut || calls > failAt || std::uint64_t(offset) + count <= boundary) {
                errno = ENOSPC;
                return -1;
            }
            count = std::size_t(boundary - std::uint64_t(offset));
        }
        std::memcpy(copy.data() + offset, bytes, count);
        return ssize_t(count);
    };
    const IndexDatWriteOutcome outcome = WriteIndexDatRemoval(-1, plan, seam);
    if (!indexdat::CheckConsistency(copy.data(), copy.size()).empty())
        __builtin_trap(); // a failure at any point leaves a store WinInet keeps using
    return outcome.failed == plan.writes.size();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const IndexDatListing listing = ReadIndexDat(data, size, "/store");
    const auto &entries = listing.entries;
    const unsigned failAt = size ? data[size - 1] % 8 : 0;
    const bool cut = size && data[size - 1] & 0x80;
    std::vector<std::uint8_t> copy;
    // Deleting what was listed walks the same records another way.
    for (std::size_t i = 0; i < entries.entries.size() && i < 4; ++i) {
        const std::string url(entries.text(entries.entries[i].url));
        const IndexDatRemoval plan = PlanIndexDatRemoval(data, size, url, 1700000000);
        if (plan.error != StoreError::None)
            continue;
        if (plan.writes.empty())
            __builtin_trap();
        if (failAt)
            (void)applyAndCheck(data, size, plan, failAt, cut, copy);
        if (!applyAndCheck(data, size, plan, 0, false, copy))
            __builtin_trap();
        // The entry is gone, and nothing else changed in the listing.
        std::map<std::string, int> want = urlsOf(listing);
        if (--want[url] == 0)
            want.erase(url);
        if (urlsOf(ReadIndexDat(copy.data(), copy.size(), "/store")) != want)
            __builtin_trap();
    }
    (void)PlanIndexDatRemoval(data, size, "http://a.example/one.htm", 1700000000);
    return 0;
}
