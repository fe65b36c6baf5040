#pragma once
// Writes a new WinInet cache store (version 5.2 layout with the native signature "Client
// UrlCache MMF Ver 5.2", the native hash rule and native file names `name[1].ext`) with its
// content folders and files. Used by the tests, the demo store and the benchmarks; it never
// writes into an existing store.

#include "stores/storeerror.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// One entry to write.
struct StoreWriterEntry {
    std::string url;       // UTF-8; stored as GBK bytes when it holds more than ASCII
    std::string extension; // without the dot; empty: the extension of the URL's last segment
    std::string content;   // the bytes of the local file
    bool hasLocalFile = true;
    std::uint32_t entryType = 0x41; // NORMAL plus the bit native stores set on cached downloads
    std::string headerInfo;         // empty: a short HTTP response header matching the extension
    std::int64_t lastAccess = 0;    // Unix seconds; 0: the writer's "now"
    std::uint32_t useCount = 0;
    bool locked = false; // sets the hash item's lock flag (0x02)
};

struct StoreWriterOptions {
    std::uint64_t seed = 1; // folder names and made-up file names follow from it
    std::int64_t now = 0;   // Unix seconds for the entries' times; 0: the current time
    std::uint32_t folderCount = 4;
    // For large stores: the content of entry `i`, asked once while writing; when set, the
    // entries' own `content` is ignored.
    std::function<std::string(std::size_t)> contentFor;
};

// Where an entry landed, for tests that inspect or damage the store.
struct WrittenEntry {
    std::string url;
    std::string localFile; // full path; empty without a local file
    std::uint32_t itemOffset = 0;
    std::uint32_t recordOffset = 0;
    std::uint32_t blocks = 0;
    std::uint64_t size = 0;
};

struct StoreWriteResult {
    bool ok = false;
    std::string error; // why nothing was written
    std::string indexPath;
    std::uint32_t fileSize = 0;
    std::uint32_t allocatedBlocks = 0;
    std::uint32_t hashPages = 0;
    std::vector<std::string> folders;
    std::vector<WrittenEntry> entries; // in the order given
};

// Largest number of entries a store could hold if every record took one block.
std::size_t UrlCacheStoreEntryLimit();

// Writes `entries` as a new store into `folder` (created when missing). Refuses, writing
// nothing, when the folder already holds an index.dat, when a URL repeats or cannot be
// stored, or when the store would exceed the format's 0xF70000 bytes.
[[nodiscard]] StoreWriteResult WriteUrlCacheStore(const std::string &folder,
                                                  const std::vector<StoreWriterEntry> &entries,
                                                  const StoreWriterOptions &options = {});
