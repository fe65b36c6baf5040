#pragma once
// Chromium's blockfile cache (read only): `index` holds a hash table of entry addresses,
// entries and small streams live in fixed-size blocks of `data_1`...`data_N`, large streams in
// `f_xxxxxx` files. Every address, block count and hash is checked before it is followed.

#include "cachestore.h"

#include <cstdint>
#include <map>
#include <string>

constexpr std::uint32_t BlockfileIndexMagic = 0xC103CAC3u;
constexpr std::uint32_t BlockfileBlockMagic = 0xC104CAC3u;

// Where the reader gets the cache's files from: the folder, or (for fuzzing) memory.
class BlockfileSource {
public:
    virtual ~BlockfileSource() = default;
    // The size of the file of that name; false when there is no such regular file.
    virtual bool size(const std::string &name, std::uint64_t &size) = 0;
    // Reads exactly `count` bytes at `offset`; false when they are not all there.
    virtual bool read(const std::string &name, std::uint64_t offset, unsigned char *into, std::size_t count) = 0;
};

// Files held in memory by name.
class MemoryBlockfileSource : public BlockfileSource {
public:
    std::map<std::string, std::string> files;
    bool size(const std::string &name, std::uint64_t &size) override;
    bool read(const std::string &name, std::uint64_t offset, unsigned char *into, std::size_t count) override;
};

// Lists the cache whose files `source` gives; containers and planned body paths are named
// below `folder`.
StoreListing ReadBlockfileCache(BlockfileSource &source, const std::string &folder);
// The kind's descriptor (storekind.h).
extern const StoreKindInfo ChromiumBlockfileStoreKind;

class ChromiumBlockfileStore : public CacheStore {
public:
    explicit ChromiumBlockfileStore(std::string folder);
    StoreKind kind() const override { return ChromiumBlockfileStoreKind; }
    bool readOnly() const override { return true; }
    std::string folder() const override { return m_folder; }
    StoreListing list() override;
    std::string removalRefusal() const override;
    StoreResult remove(std::string_view key) override;

private:
    std::string m_folder;
};
