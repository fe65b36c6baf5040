#pragma once
// What Chromium's two HTTP cache backends share: the hash they key and check with, the cache
// key's parts, and the pickled response info (stream 0) both keep in front of every body.
// All integers on disk are little-endian (read with qFromLittleEndian).

#include "storeentry.h"

#include <QtEndian>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Paul Hsieh's SuperFastHash as Chromium's base keeps it (signed tail bytes included): the
// simple cache's key hash and the blockfile's key and self hashes.
std::uint32_t ChromiumSuperFastHash(const void *data, std::size_t size);

// Chromium keeps times as microseconds since 1601-01-01 UTC: ten times that is a FILETIME.
// Negative or absurd values give 0 (unknown).
StoreTime StoreTimeFromChromium(std::int64_t micros);

// The parts of an HTTP cache key: `<credentials>/<upload id>/[_dk_[s_][cn_]<top-site>
// <frame-site> ]<url>`, the older `_dk_<origin> <url>`, the POST-only `<upload id>/<url>`, or
// a plain URL. The URL is whatever follows the last space.
struct ChromiumKey {
    std::string_view url;
    std::string_view topSite;   // empty when the key has no isolation part
    std::string_view frameSite; // empty when the key names one site only
    std::uint64_t uploadId = 0; // not 0: a POST
    bool anonymous = false;     // credentials '0': fetched without cookies
    bool subframeDocument = false;
    bool crossSiteNavigation = false;
};
ChromiumKey ParseChromiumKey(std::string_view key);

// The partition as the program shows it: the top-level site, then the frame's site where it
// differs, then the kind of request where it is not a plain credentialed GET; e.g.
// "https://a.com", "https://a.com, frame https://b.com, anonymous, POST 7". Empty for an
// unpartitioned, credentialed GET.
std::string ChromiumPartitionText(const ChromiumKey &key);

// The response info of stream 0 (HttpResponseInfo::Persist): only the parts the program uses.
struct ChromiumResponseInfo {
    std::uint32_t flags = 0;
    bool truncated = false;
    bool usedSharedDictionary = false; // the body needs a dictionary the cache does not hold
    std::int64_t requestTime = 0;      // µs since 1601
    std::int64_t responseTime = 0;
    std::string_view rawHeaders; // status line and header lines, NUL-separated
};

// Parses a pickled response info of `size` bytes (a u32 payload size, then the payload).
// False with `why` when it is not one.
bool ParseChromiumResponseInfo(const unsigned char *data, std::size_t size, ChromiumResponseInfo &info,
                               std::string &why);

// Chromium's NUL-separated raw headers as a head with CRLF line ends.
std::string ChromiumHeadText(std::string_view rawHeaders);

// Fills the entry's head, type, status, coding, dates and flags from a parsed response info,
// and its key, URL, partition, method and anonymous flag from its key.
void FillChromiumEntry(StoreListing &listing, StoreEntry &entry, std::string_view key,
                       const ChromiumResponseInfo *info);
