#pragma once
// One cache entry as every kind of store gives it, and a listing of a whole store.
//
// A listing keeps all texts of all its entries in one buffer and each entry refers to its
// texts by offset: a store of 60,000 entries then costs a few allocations, for reading as
// well as for releasing. Readers append texts as they decode them.

#include "pageallocator.h"
#include "storeerror.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Windows FILETIME ticks (100 ns since 1601-01-01 UTC); 0 means unknown.
using StoreTime = std::uint64_t;

StoreTime StoreTimeFromUnix(std::int64_t unixSeconds);
StoreTime StoreTimeFromUnixMicros(std::int64_t unixMicros);
std::int64_t UnixFromStoreTime(StoreTime time);

// A text of a listing: `size` bytes at `offset` of its text buffer.
struct StoreText {
    std::uint32_t offset = 0;
    std::uint32_t size = 0;
};

// Where an entry's body is.
enum class BodyPlace : std::uint8_t {
    None,      // the store holds no body the program can use
    LocalFile, // `localFile` is the document itself (WinInet)
    Range,     // bytes [bodyOffset, bodyOffset + size) of `container`, still content-encoded
};

enum StoreEntryFlag : std::uint16_t {
    EntryTruncated = 0x01,      // the store holds part of the body only
    EntryUndecodable = 0x02,    // a content encoding the program cannot undo: offered as stored
    EntryBodyMissing = 0x04,    // the body lies in a file that is gone
    EntryHeadersMissing = 0x08, // the response head lies in a file that is gone
    EntryAnonymous = 0x10,      // fetched without credentials
    EntryPinned = 0x20,
    // Chromium keeps no expiry: `expires` is worked out from the response head, and these say
    // when the result is no time at all.
    EntryExpiryDerived = 0x40,
    EntryStaleOnArrival = 0x80, // needed a check with the server from the start
    EntryNeverStale = 0x100,
};

struct StoreEntry {
    StoreText key;             // the store's own key: WinInet the URL, browsers the full key
    StoreText url;             // the document's URL
    StoreText localFile;       // full local path: the file itself, or where its body is written
    StoreText headers;         // the response head as stored (status line, then CRLF lines)
    StoreText extension;       // WinInet's extension field
    StoreText partition;       // browsers: the partition or isolation part of the key
    StoreText contentType;     // the media type without parameters, lower case
    StoreText contentEncoding; // the Content-Encoding list as sent, e.g. "br" or "gzip, br"
    StoreText container;       // the file holding the body when it is a range of it
    StoreText requestMethod;   // empty when the store does not say
    std::uint64_t size = 0;    // the body's size as stored (WinInet: the local file's size)
    std::uint64_t bodyOffset = 0;
    StoreTime lastModified = 0; // the server's Last-Modified (WinInet: its own field)
    StoreTime expires = 0;
    StoreTime lastAccess = 0; // last use of the entry
    StoreTime lastSync = 0;   // last fetch or check with the server
    StoreTime created = 0;
    std::uint32_t hitCount = 0; // WinInet use count, Firefox fetch count, Chromium reuse count
    // WinInet's own record fields, kept so that the WinInet entry structure can be filled as
    // WinInet fills it; 0 for every other kind of store.
    std::uint32_t entryType = 0;   // CacheEntryType: NORMAL_CACHE_ENTRY, STICKY_CACHE_ENTRY, ...
    std::uint32_t hitRate = 0;     // dwHitRate
    std::uint32_t exemptDelta = 0; // dwExemptDelta, seconds a sticky entry is kept
    std::uint16_t httpStatus = 0;  // 0: unknown
    std::uint16_t flags = 0;       // StoreEntryFlag
    BodyPlace body = BodyPlace::None;
    bool hasLocalFile = true; // false: the entry has no local file name at all
};

struct StoreListing {
    std::vector<StoreEntry, PageAllocator<StoreEntry>> entries;
    PageString texts;
    std::string error;                            // why the store could not be read; empty when it could
    StoreError failure = StoreError::None;        // what kind of problem `error` is (see errorKind)
    std::uint32_t skipped = 0;                    // damaged entries left out
    std::map<std::string, std::uint32_t> skipWhy; // how many were left out for each reason
    // Entries of a newer format than the program reads, left out apart from the damaged ones,
    // and the newest version among them.
    std::uint32_t newerFormat = 0;
    std::uint32_t newerVersion = 0;
    // Why the entries listed may not be all the store holds (an index cut short, or caught
    // half rewritten); empty when the store read whole.
    std::string incomplete;

    StoreText addText(std::string_view text);
    std::string_view text(StoreText t) const { return std::string_view(texts).substr(t.offset, t.size); }
    // Counts one entry left out for `reason`.
    void skip(const std::string &reason);
    // "3 entries left out: 2 × metadata hash mismatch, 1 × ..." and the newer-format ones;
    // empty when none was.
    std::string skipSummary() const;
    // What a listing that holds no entry says when the store had entries, none readable;
    // empty otherwise.
    std::string noneReadable() const;
    bool ok() const { return error.empty(); }
    // The store could not be read: `reason` says why, in English.
    void fail(StoreError kind, std::string reason)
    {
        failure = kind;
        error = std::move(reason);
    }
    // The store could not be read because a system call on `what` failed with errno.
    void failErrno(const std::string &what)
    {
        const int cause = errno;
        fail(StoreErrorFromErrno(cause), what + ": " + std::strerror(cause));
    }
    // The kind of the listing's error; a reader that gave only a reason found damage.
    StoreError errorKind() const
    {
        return error.empty() ? StoreError::None : failure == StoreError::None ? StoreError::Damaged : failure;
    }
};

// One listing of parts listed apart, in the parts' order: each part's texts follow the ones
// before, and its left-out and newer-format entries are counted. The parts are emptied as
// they are taken, so that their memory goes back at once; their errors are not looked at.
StoreListing JoinListings(std::vector<StoreListing> &parts);

// The response head's parts the columns show, read from a head stored as text (CRLF, LF or
// NUL between lines). Missing parts stay empty or 0.
struct ResponseFacts {
    std::uint16_t status = 0;
    std::string contentType; // lower case, without parameters
    std::string contentEncoding;
    std::string lastModified; // the header values as sent
    std::string expires;
    std::string date;
    std::optional<std::uint64_t> contentLength; // the first Content-Length, when it is a number
};
ResponseFacts ReadResponseFacts(std::string_view head);

// An HTTP date (RFC 7231's three forms) as StoreTime; 0 when it does not parse.
StoreTime StoreTimeFromHttpDate(std::string_view date);
