#pragma once
// Neither of Chromium's cache backends stores an expiry: Chromium's HTTP cache works out
// whether an entry is still fresh from its response head and the request and response times
// each entry keeps. The same rules here give the time the entry goes stale.

#include "storeentry.h"

#include <cstdint>
#include <optional>
#include <string_view>

enum class ChromiumFreshness : std::uint8_t {
    Until, // fresh until `until`
    Stale, // stale from the moment it arrived: every use asks the server first
    Never, // never goes stale (a 300, 301, 308 or 410 nothing else limits)
};

struct ChromiumExpiry {
    ChromiumFreshness freshness = ChromiumFreshness::Stale;
    StoreTime until = 0; // only for Until
};

// `head` is the status line and header lines (CRLF, LF or NUL between them), `status` its
// status code; the times are Chromium's (µs since 1601). Nothing when the response time is
// not a time.
std::optional<ChromiumExpiry> ChromiumExpiryOf(std::string_view head, int status, std::int64_t requestTime,
                                               std::int64_t responseTime);
