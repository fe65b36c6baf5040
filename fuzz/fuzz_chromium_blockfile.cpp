// libFuzzer target: a whole blockfile cache (index, data_0..data_3, three f_ files) from one
// buffer, listed by the reader that lists a cache folder.
//
// The buffer is a list of pieces: u8 file (index, data_0 ... data_3, f_000001 ... f_000003),
// u32 offset, u16 length, then that many bytes written at that offset of the file. Files are
// zero-filled up to their furthest piece, so that a sparse seed holds a 64K-slot index and
// block files of real sizes in a few kilobytes; a piece of length 0 only sets the file's size.

#include "stores/chromiumblockfile.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

constexpr std::size_t MaxFileSize = 1 << 20;
const char *const Names[] = {"index", "data_0", "data_1", "data_2", "data_3", "f_000001", "f_000002", "f_000003"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    MemoryBlockfileSource source;
    std::size_t at = 0;
    while (size - at >= 7) {
        const char *name = Names[data[at] % 8];
        const std::size_t offset = (std::size_t(data[at + 1]) | std::size_t(data[at + 2]) << 8
                                    | std::size_t(data[at + 3]) << 16 | std::size_t(data[at + 4]) << 24)
            % MaxFileSize;
        std::size_t length = std::size_t(data[at + 5]) | std::size_t(data[at + 6]) << 8;
        at += 7;
        length = std::min(length, size - at);
        length = std::min(length, MaxFileSize - offset);
        std::string &file = source.files[name];
        if (file.size() < offset + length)
            file.resize(offset + length, '\0');
        std::memcpy(file.data() + offset, data + at, length);
        at += length;
    }
    const StoreListing listing = ReadBlockfileCache(source, "/fuzz/Cache");
    for (const StoreEntry &e : listing.entries) {
        (void)listing.text(e.key);
        (void)listing.text(e.headers);
    }
    return 0;
}
