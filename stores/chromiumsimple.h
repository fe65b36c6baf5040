#pragma once
// Chromium's simple cache: one `<hash>_0` file per entry (header, key, body, end record,
// pickled response info, optional SHA-256 of the key, end record), `_1` (compiled script) and
// `_s` (sparse ranges) beside it, and an index that is a hint at most.

#include "cachestore.h"
#include "chromiumpickle.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

constexpr std::uint64_t SimpleInitialMagic = 0xfcfb6d1ba7725c30ull;
constexpr std::uint64_t SimpleFinalMagic = 0xf4fa6f45970d41d8ull;
constexpr std::uint64_t SimpleIndexMagic = 0x656e74657220796full;
constexpr std::uint32_t SimpleEntryVersion = 5;
constexpr std::uint32_t SimpleEofHasCrc = 1;
constexpr std::uint32_t SimpleEofHasKeySha256 = 2;

// The entry's hash: the first 8 bytes of SHA-1(key) read as a little-endian number; its files
// are named by it in 16 lower-case hex digits.
std::uint64_t SimpleEntryHash(std::string_view key);
std::string SimpleEntryFileName(std::uint64_t hash, int stream); // "<hash>_0", "<hash>_1", "<hash>_s"

// What a `_0` file holds, from the parts of it that were read: the file's first `headSize`
// bytes and its last `tailSize` bytes (the same bytes twice when the whole file was read).
struct SimpleFileView {
    const unsigned char *head = nullptr;
    std::size_t headSize = 0;
    const unsigned char *tail = nullptr;
    std::size_t tailSize = 0;
    std::uint64_t fileSize = 0;
};

struct SimpleEntryFacts {
    enum Outcome { Entry, NotADocument, Damaged, NeedMore } outcome = Damaged;
    std::string why;            // Damaged: a short reason
    std::size_t needHead = 0;   // NeedMore: read this many bytes from the start
    std::size_t needTail = 0;   //           and this many from the end
    std::size_t recordSize = 0; // 24, or 20 for the packed records of 32-bit builds
    std::string_view key;       // points into the view
    std::uint64_t bodyOffset = 0;
    std::uint64_t bodySize = 0;
    bool bodyChecked = false; // the body's CRC was there and was checked
    ChromiumResponseInfo info;
};

// Reads a `_0` file from its end. `nameHash`, when given, is the hash the file's name says,
// checked against the key. Never reads outside the view; asks for more (NeedMore) when the
// records it needs lie outside it.
SimpleEntryFacts ParseSimpleEntry(const SimpleFileView &view, std::optional<std::uint64_t> nameHash);

// The last-used times of `index-dir/the-real-index` (µs since 1601), sorted by hash; empty
// when the file is not a sound index.
std::vector<std::pair<std::uint64_t, std::int64_t>> ParseSimpleIndex(const unsigned char *data, std::size_t size);
// The kind's descriptor (storekind.h).
extern const StoreKindInfo ChromiumSimpleStoreKind;

class ChromiumSimpleStore : public CacheStore {
public:
    explicit ChromiumSimpleStore(std::string folder);
    StoreKind kind() const override { return ChromiumSimpleStoreKind; }
    std::string folder() const override { return m_folder; }
    StoreListing list() override;
    // Why deleting is refused now: the browser runs on this cache's profile.
    std::string removalRefusal() const override;
    StoreResult remove(std::string_view key) override;
    // Asks whether the browser runs once per so many entries, not for each.
    std::vector<KeyRemoval> removeMany(const std::vector<std::string> &keys,
                                       const RemovalProgress &progress = {}) override;

private:
    StoreResult removeIn(int dirFd, std::string_view key);
    std::string m_folder;
};

// The user-data folders whose SingletonLock says whether a browser runs on the profile that
// owns the cache in `cacheFolder`: the config folder that mirrors the cache's place under the
// XDG cache folder, and the folders around the cache itself (a custom user-data folder keeps
// its cache inside the profile).
std::vector<std::string> ChromiumUserDataCandidates(const std::string &cacheFolder);
// The running browser named by `userDataFolder`/SingletonLock (a link to "<host>-<pid>"), when
// that host is this one and that process lives; empty otherwise.
std::string ChromiumLockHolder(const std::string &userDataFolder);
