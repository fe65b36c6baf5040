#pragma once
// The byte layout of Firefox's cache2 entry files, and reading one entry from its bytes.
//
// An entry file holds the data (the body, then optional alt-data), then the metadata, then a
// trailer. The metadata: a lookup2 hash of the rest of it, one 16-bit hash per 256 KiB chunk
// of the data, a header (28 bytes in version 1, 32 since), the key and a NUL, then
// "name\0value\0" elements. Integers are big-endian (qFromBigEndian, qToBigEndian).
//
// Versions 1-3 end with the metadata's offset alone. Version 4 (Firefox 153) ends with two
// words: a clear copy of the version, then the data size, whose top bit marks an encrypted
// entry. In an encrypted entry every chunk of data and the metadata (everything before the
// trailer) is one AES-256-GCM block: ciphertext, 16-byte tag, 12-byte nonce; the block's
// number (the chunk's index, all ones for the metadata) as 8 little-endian bytes is its
// additional data, for the metadata followed by the trailer. Chunk hashes and the metadata
// hash are of the clear bytes.
//
// Nothing here touches files: the store reads the bytes and hands them in, so that a fuzzer
// can do the same.

#include "storeentry.h"

#include <QtEndian>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace cache2 {

constexpr std::uint32_t ChunkSize = 256 * 1024;
constexpr std::uint32_t EntryVersion = 4;  // what Firefox 153 writes
constexpr std::uint32_t HeaderSize = 32;   // versions 2 to 4
constexpr std::uint32_t HeaderSizeV1 = 28; // version 1 has no flags
constexpr std::uint32_t NoExpiration = 0xFFFFFFFFu;
constexpr std::uint32_t PinnedFlag = 1u;
constexpr std::uint32_t EncryptedFlag = 0x80000000u; // in version 4's last word
constexpr std::uint32_t SealTagSize = 16, SealNonceSize = 12, SealKeySize = 32;
constexpr std::uint32_t SealOverhead = SealTagSize + SealNonceSize;
constexpr std::uint64_t MetadataBlockNumber = ~std::uint64_t(0);
// The key of an encrypted cache: the profile's browser.cache.disk.encryption.key, decoded.
using SealKey = std::array<unsigned char, SealKeySize>;
// Firefox never writes more elements than this, nor (by its URL length limit) a longer key.
constexpr std::uint32_t MaxElementsSize = 64 * 1024;
constexpr std::uint32_t MaxKeySize = 1024 * 1024 + 4096;

// Bob Jenkins' lookup2 hash, as Firefox's CacheHash computes it.
std::uint32_t Hash(std::string_view bytes, std::uint32_t initval = 0);
// The chunk hash: the low 16 bits of Hash.
inline std::uint16_t Hash16(std::string_view bytes)
{
    return std::uint16_t(Hash(bytes) & 0xFFFF);
}

// How many chunk hashes the metadata holds for `dataSize` bytes of data.
inline std::uint64_t ChunkCount(std::uint64_t dataSize)
{
    return (dataSize + ChunkSize - 1) / ChunkSize;
}

// The largest metadata block (trailer included) an entry with `dataSize` bytes of data may
// have; anything larger is damage, and is not read.
std::uint64_t MaxMetadataSize(std::uint64_t dataSize);

// What the end of an entry file says.
struct Trailer {
    std::uint32_t dataSize = 0;  // the body and alt-data, in clear
    std::uint64_t metaStart = 0; // where the metadata starts in the file
    std::uint32_t size = 4;      // 4: the offset alone (versions 1-3); 8: version 4's two words
    std::uint32_t version = 0;   // the clear copy of version 4's trailer; 0 before
    bool encrypted = false;
};

// Where the data of `dataSize` clear bytes ends in the file: each encrypted chunk carries a
// tag and a nonce.
std::uint64_t StoredDataSize(std::uint64_t dataSize, bool encrypted);

// AES-256-GCM (OpenSSL) of one block as Firefox lays it out: `sealed` is ciphertext, tag,
// nonce. False when the tag does not match: a wrong key or damage.
bool OpenBlock(const SealKey &key, std::uint64_t number, std::string_view sealed, std::string_view extraAad,
               std::string &clear);
// Seals `clear` with `nonce` into ciphertext, tag, nonce, as Firefox writes it.
bool SealBlock(const SealKey &key, std::uint64_t number, std::string_view clear, std::string_view extraAad,
               const std::array<unsigned char, SealNonceSize> &nonce, std::string &sealed);
// A key as prefs.js holds it (base64 of 32 bytes); false when it is not one.
bool DecodeSealKey(std::string_view base64, SealKey &out);

struct Metadata {
    std::uint32_t dataSize = 0; // the body and alt-data before the metadata, in clear
    std::uint32_t version = 0;
    Trailer trailer;
    std::uint32_t fetchCount = 0;
    std::uint32_t lastFetched = 0;  // Unix seconds
    std::uint32_t lastModified = 0; // when the entry's metadata last changed, Unix seconds
    std::uint32_t frecency = 0;
    std::uint32_t expirationTime = NoExpiration;
    std::uint32_t flags = 0;
    std::string_view chunkHashes; // 2 bytes per chunk, big-endian
    std::string_view key;
    std::string_view elements; // "name\0value\0" pairs
    // The elements a listing needs, found while the elements are checked.
    std::string_view responseHead, requestMethod, altData;
    bool hasResponseHead = false, hasAltData = false;
};

enum class MetaError : std::uint8_t {
    None,
    TooShort,       // not even an offset and a header
    OffsetPastEnd,  // the metadata would start at or past the end of the file
    TooLarge,       // the metadata would be larger than Firefox ever writes
    HeaderOutside,  // the chunk hashes and header do not fit before the end
    UnknownVersion, // a header version no Firefox wrote
    NewerVersion,   // a trailer naming a version after 4: a newer Firefox's format, not damage
    Encrypted,      // encrypted, and no key to open it
    SealBroken,     // encrypted, and the key does not open it
    KeyOutside,     // the key runs past the metadata
    KeyUnterminated,
    HashMismatch,
    BadElements, // not NUL-terminated name/value pairs
};
// A short English reason, as the listing counts it.
const char *MetaErrorReason(MetaError error);

// Reads the metadata block `meta`: the bytes from the metadata's start to the end of the
// file, trailer included, of a file of `fileSize` bytes. An encrypted block is opened with
// `key` into `clear`. The views of `out` point into `meta` or `clear`.
MetaError ParseMetadata(std::string_view meta, std::uint64_t fileSize, Metadata &out, const SealKey *key = nullptr,
                        std::string *clear = nullptr);

// The trailer of a file of `fileSize` bytes from its last bytes (`tail`, 8 of them, or all
// of a shorter file); the error when the file cannot hold metadata where it says.
MetaError ReadTrailer(std::string_view tail, std::uint64_t fileSize, Trailer &out);

// The version a trailer names when it is newer than any this reader knows; 0 otherwise.
std::uint32_t NewerVersionOf(std::string_view tail);

// "1;<offset>,<type>": where the alt-data begins. False when the record cannot be read.
bool ParseAltData(std::string_view value, std::uint64_t &offset, std::string_view &type);

// The parts of a cache key: tags in ASCII order, each ending in ',' (",," escapes a comma
// inside a value), then ':' and the URL.
struct Key {
    std::string_view url;
    std::string originAttributes; // the origin-attribute suffix without the 'O', e.g. "^partitionKey=..."
    std::string id;               // the '~' tag: a POST's upload id, "predictor-origin", ...
    bool anonymous = false;       // 'a'
    bool isPrivate = false;       // 'p' (never on disk)
};
// False for a key Firefox itself would not parse.
bool ParseKey(std::string_view key, Key &out);

// The partition of a key in a readable form: the top-level site of a partitioned entry
// ("https://github.com"), a container ("container 2"), "private", "first party example.com",
// then "anonymous" and, for a POST, "POST <id>" (other ids as "id <id>"); parts joined by
// ", ". Empty for an entry outside any partition.
std::string ReadablePartition(const Key &key, std::string_view requestMethod);

// The entry file's name for a key: the SHA-1 of the key in 40 upper-case hex digits.
std::string FileNameForKey(std::string_view key);
// True when `name` is 40 upper-case hex digits, the form of an entry file's name.
bool IsEntryFileName(std::string_view name);

// What a whole entry says, read from its metadata.
struct Entry {
    Metadata meta;
    Key key;
    std::string_view responseHead;
    std::string_view requestMethod;
    std::uint64_t bodySize = 0; // up to the alt-data, when there is any
    bool hasAltData = false;
};

enum class EntryError : std::uint8_t {
    None,
    Metadata,      // see Entry::metaError
    WrongFileName, // the file name is not the SHA-1 of the key
    NotDocument,   // no response head: a predictor or dictionary entry, not counted as damage
    BadKey,
    BadAltData,
};

struct EntryResult {
    EntryError error = EntryError::None;
    MetaError metaError = MetaError::None;
    // The reason the listing counts; empty for None and NotDocument.
    std::string_view reason() const;
};

// Reads an entry whose metadata block is `meta` (as ParseMetadata takes it, with its `key`
// and `clear`). When `fileName` is not empty it must be the SHA-1 of the key.
EntryResult ReadEntry(std::string_view meta, std::uint64_t fileSize, std::string_view fileName, Entry &out,
                      const SealKey *key = nullptr, std::string *clear = nullptr);

// Reads an entry held whole in memory, as the fuzzer gives it.
EntryResult ParseFirefoxEntry(const std::uint8_t *bytes, std::size_t size, std::string_view fileName, Entry &out,
                              const SealKey *key = nullptr, std::string *clear = nullptr);

// The clear data of an entry held whole in memory, every chunk opened and its hash checked;
// false when a chunk does not open or match.
bool OpenEntryData(std::string_view file, const Metadata &meta, const SealKey *key, std::string &data);

// Fills `out` from a read entry, all but its local file: texts go to `listing`.
// `container` is the entry file's path.
void FillStoreEntry(const Entry &entry, std::string_view container, StoreListing &listing, StoreEntry &out);

} // namespace cache2
