// Feeds arbitrary bytes to the index.dat reader and plans deletions on them: nothing may
// read outside the buffer, hang or crash, whatever the file holds.

#include "stores/indexdatstore.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const IndexDatListing listing = ReadIndexDat(data, size, "/store");
    const auto &entries = listing.entries;
    // Deleting what was listed walks the same records another way.
    for (std::size_t i = 0; i < entries.entries.size() && i < 4; ++i) {
        const std::string url(entries.text(entries.entries[i].url));
        const IndexDatRemoval plan = PlanIndexDatRemoval(data, size, url, 1700000000);
        if (plan.error == ERROR_SUCCESS && plan.headerBytes.size() + plan.headerOffset > size)
            __builtin_trap(); // the header range must lie inside the file
        if (plan.wipeSize && std::uint64_t(plan.wipeOffset) + plan.wipeSize > size)
            __builtin_trap();
    }
    (void)PlanIndexDatRemoval(data, size, "http://a.example/one.htm", 1700000000);
    return 0;
}
