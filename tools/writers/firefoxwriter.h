#pragma once
// Writes a new Firefox cache2 folder (entries/ with one file per entry, metadata version 4
// unless the options ask for an older one, in clear or encrypted) as Firefox itself would
// have written it. No index is written: Firefox builds one from the
// entry files when it finds none.

#include "browserwriter.h"

#include <cstdint>
#include <string>

// Writes `entries` into `folder` (created when missing; it must not hold entries/ or an
// index yet). Keys must differ.
[[nodiscard]] BrowserWriteResult WriteFirefoxStore(const std::string &folder,
                                                   const std::vector<BrowserWriterEntry> &entries,
                                                   const BrowserWriterOptions &options = {});

// The fields of a metadata block, as FirefoxMetadataBytes lays them out.
struct FirefoxMetadataFields {
    std::uint32_t version = 4;  // 1 to 4: the header's form and the trailer's
    std::uint32_t dataSize = 0; // the bytes of body and alt-data before the metadata
    std::uint32_t fetchCount = 1;
    std::uint32_t lastFetched = 0;
    std::uint32_t lastModified = 0;
    std::uint32_t frecency = 0;
    std::uint32_t expirationTime = 0xFFFFFFFFu;
    std::uint32_t flags = 0;
    std::string chunkHashes; // 2 big-endian bytes per 256 KiB chunk of the data
    std::string key;
    std::string elements; // "name\0value\0" pairs
};

// A metadata block: its hash, the chunk hashes, the header, the key and its NUL, the
// elements, then the data size as the last 4 bytes (versions 1-3) or version 4's trailer.
std::string FirefoxMetadataBytes(const FirefoxMetadataFields &fields);

// A version 4 entry file encrypted with `key`: each chunk of `data` and the metadata of
// `fields` sealed, with nonces from `nonceSeed` (a writer for tests; Firefox takes them from
// its random source). False when sealing failed.
bool SealFirefoxEntry(std::string_view data, const FirefoxMetadataFields &fields, const std::string &key,
                      std::uint64_t nonceSeed, std::string &file);

// The chunk hashes of `data`, as the metadata holds them.
std::string FirefoxChunkHashes(std::string_view data);

// The cache key Firefox gives an entry: the partition's origin attributes, 'a' when
// anonymous, the POST id, then ':' and the URL.
std::string FirefoxKeyFor(const BrowserWriterEntry &entry);
