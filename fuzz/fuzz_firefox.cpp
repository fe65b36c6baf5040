// Feeds arbitrary bytes to the cache2 entry reader as an entry file: the metadata, its key
// and elements, and the entry the listing makes of them. Nothing may read outside the
// buffer, hang or crash, whatever the file holds.
//
// The first byte is a switch, the rest the file. With its low bit set, the metadata hash is
// written over before reading, as Firefox would have computed it: a fuzzer cannot forge a
// lookup2 hash, and without it everything past the hash check would stay out of reach. With
// its second bit set, an encrypted entry is opened with a fixed key (the tag fails, so the
// refusal is what gets exercised) and the data is opened and its chunk hashes checked.

#include "stores/firefoxformat.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const bool fixHash = data[0] & 1;
    const bool withKey = data[0] & 2;
    std::string file(reinterpret_cast<const char *>(data + 1), size - 1);
    cache2::Trailer trailer;
    const std::size_t tail = std::min<std::size_t>(file.size(), 8);
    if (fixHash
        && cache2::ReadTrailer(std::string_view(file).substr(file.size() - tail), file.size(), trailer)
            == cache2::MetaError::None
        && !trailer.encrypted && trailer.metaStart + trailer.size + 4 <= file.size()) {
        const std::string_view covered(file.data() + trailer.metaStart + 4,
                                       file.size() - trailer.metaStart - trailer.size - 4);
        qToBigEndian<quint32>(cache2::Hash(covered), file.data() + trailer.metaStart);
    }
    cache2::SealKey sealKey{};
    std::string clear;

    cache2::Entry entry;
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(file.data());
    const cache2::EntryResult result =
        cache2::ParseFirefoxEntry(bytes, file.size(), {}, entry, withKey ? &sealKey : nullptr, &clear);
    (void)result.reason();
    if (result.error == cache2::EntryError::None) {
        // What was read lies inside the file, and the body inside the data.
        const std::string_view from = entry.meta.trailer.encrypted ? std::string_view(clear) : std::string_view(file);
        const char *begin = from.data(), *end = from.data() + from.size();
        if (entry.meta.key.data() < begin || entry.meta.key.data() + entry.meta.key.size() > end
            || entry.responseHead.data() < begin || entry.responseHead.data() + entry.responseHead.size() > end
            || entry.bodySize > entry.meta.dataSize)
            __builtin_trap();
        std::string body;
        if (cache2::OpenEntryData(file, entry.meta, withKey ? &sealKey : nullptr, body)
            && body.size() != entry.meta.dataSize)
            __builtin_trap();
        StoreListing listing;
        StoreEntry out;
        cache2::FillStoreEntry(entry, "/store/entries/0000000000000000000000000000000000000000", listing, out);
        if (listing.text(out.key) != entry.meta.key)
            __builtin_trap();
        // Under the name its key gives, the same entry reads again.
        const std::string name = cache2::FileNameForKey(entry.meta.key);
        cache2::Entry again;
        std::string clearAgain;
        if (cache2::ParseFirefoxEntry(bytes, file.size(), name, again, withKey ? &sealKey : nullptr, &clearAgain).error
            != cache2::EntryError::None)
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
