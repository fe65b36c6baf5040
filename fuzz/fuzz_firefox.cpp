// Feeds arbitrary bytes to the cache2 entry reader as an entry file: the metadata, its key
// and elements, and the entry the listing makes of them. Nothing may read outside the
// buffer, hang or crash, whatever the file holds.
//
// The first byte is a switch, the rest the file. With its low bit set, the metadata hash is
// written over before reading, as Firefox would have computed it: a fuzzer cannot forge a
// lookup2 hash, and without it everything past the hash check would stay out of reach.

#include "stores/firefoxformat.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const bool fixHash = data[0] & 1;
    std::string file(reinterpret_cast<const char *>(data + 1), size - 1);
    if (fixHash && file.size() >= 8) {
        const std::uint64_t offset = cache2::ReadBig32(file.data() + file.size() - 4);
        if (offset + 8 <= file.size()) {
            const std::string_view covered(file.data() + offset + 4, file.size() - offset - 8);
            cache2::WriteBig32(file.data() + offset, cache2::Hash(covered));
        }
    }

    cache2::Entry entry;
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(file.data());
    const cache2::EntryResult result = cache2::ParseFirefoxEntry(bytes, file.size(), {}, entry);
    (void)result.reason();
    if (result.error == cache2::EntryError::None) {
        // What was read lies inside the file, and the body inside the data.
        const char *begin = file.data(), *end = file.data() + file.size();
        if (entry.meta.key.data() < begin || entry.meta.key.data() + entry.meta.key.size() > end
            || entry.responseHead.data() < begin || entry.responseHead.data() + entry.responseHead.size() > end
            || entry.bodySize > entry.meta.dataSize)
            __builtin_trap();
        StoreListing listing;
        StoreEntry out;
        cache2::FillStoreEntry(entry, "/store/entries/0000000000000000000000000000000000000000", listing, out);
        if (listing.text(out.key) != entry.meta.key)
            __builtin_trap();
        // Under the name its key gives, the same entry reads again.
        const std::string name = cache2::FileNameForKey(entry.meta.key);
        cache2::Entry again;
        if (cache2::ParseFirefoxEntry(bytes, file.size(), name, again).error != cache2::EntryError::None)
            __builtin_trap();
    }

    // The same bytes as a key, and as an alt-data record.
    cache2::Key key;
    if (cache2::ParseKey(file, key))
        (void)cache2::ReadablePartition(key, "POST");
    std::uint64_t offset = 0;
    std::string_view type;
    (void)cache2::ParseAltData(file, offset, type);
    return 0;
}
