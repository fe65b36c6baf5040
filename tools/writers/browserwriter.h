#pragma once
// What the browser-cache writers (Firefox cache2, Chromium simple cache) take: entries as a
// browser would have fetched them. The writers encode bodies as the entry's content coding
// says, build keys, metadata and hashes as the browser does, and never write into an
// existing cache.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct BrowserWriterEntry {
    std::string url;
    std::string body; // the document itself, before any content coding
    std::string contentType = "text/html";
    std::string contentEncoding; // "", "gzip", "deflate", "br", "zstd" or a list like "gzip, br"
    std::string partition;       // the top-level site ("https://example.com"); empty: none
    bool anonymous = false;      // fetched without credentials
    std::string postId;          // a POST entry's upload id; empty: a GET
    std::string altData;         // compiled script kept beside the body (Firefox alt-data,
                                 // Chromium stream 2)
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers; // more response headers
    std::int64_t fetched = 0;                                 // Unix seconds; 0: the writer's "now"
    std::int64_t lastModified = 0;                            // Unix seconds for Last-Modified; 0: none
    std::int64_t expires = 0;                                 // Unix seconds; 0: none
    std::uint32_t fetchCount = 1;
    bool truncated = false; // the stored body is a part only
};

struct BrowserWriterOptions {
    std::uint64_t seed = 1;
    std::int64_t now = 0; // Unix seconds; 0: the current time
    // For large stores: the body of entry `i`, asked once while writing; when set, the
    // entries' own `body` is ignored.
    std::function<std::string(std::size_t)> bodyFor;
    // Firefox: the metadata version to write (1 to 4), and a key (32 bytes) to encrypt every
    // entry with, as Firefox 153 does with disk cache encryption on; empty: in clear.
    std::uint32_t firefoxVersion = 4;
    std::string firefoxKey;
};

struct BrowserWrittenEntry {
    std::string key;  // the cache key the browser would use
    std::string file; // the entry's main file
    std::uint64_t storedSize = 0;
    std::uint64_t decodedSize = 0;
};

struct BrowserWriteResult {
    bool ok = false;
    std::string error;                        // why nothing (or not everything) was written
    std::string folder;                       // the store's folder, as the program opens it
    std::vector<BrowserWrittenEntry> entries; // in the order given
};

// Applies the codings of `contentEncoding` in order (the first listed is applied first).
// False with `error` for a coding the writer cannot make.
bool EncodeBody(std::string_view body, std::string_view contentEncoding, std::string &out, std::string &error);

// Entry `index`'s body as a browser stores it: the document (the options' for that index, else
// the entry's), content-encoded, and cut to half when the download broke off. `sentLength` is
// the encoded length the response announced.
struct StoredBody {
    std::string document;
    std::string stored;
    std::uint64_t sentLength = 0;
};
bool MakeStoredBody(const BrowserWriterEntry &entry, std::size_t index, const BrowserWriterOptions &options,
                    StoredBody &out, std::string &error);

// The HTTP date form (IMF-fixdate) of a Unix time.
std::string HttpDate(std::int64_t unixSeconds);

// The response head a writer stores: status line and headers joined by CRLF, with
// Content-Type, Content-Encoding, Last-Modified, Expires, Date and the entry's own headers.
std::string ResponseHead(const BrowserWriterEntry &entry, std::int64_t date, std::uint64_t contentLength);
