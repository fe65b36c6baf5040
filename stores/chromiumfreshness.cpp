#include "chromiumfreshness.h"

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr std::int64_t MicrosPerSecond = 1000000;
// Longer lifetimes (over 30,000 years) are all the same to a FILETIME and keep the sums in range.
constexpr std::int64_t LongestSeconds = 1000000000000;
constexpr std::int64_t LatestMicros = std::numeric_limits<std::int64_t>::max() / 10;

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool equalsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

std::string_view trimmedLws(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// The values of every header line named `name`, in order, the line cut at commas outside
// quotes when `list` (as Chromium splits all but a few headers) and each part trimmed.
std::vector<std::string_view> headerValues(std::string_view head, std::string_view name, bool list)
{
    std::vector<std::string_view> values;
    bool statusLine = true;
    std::size_t start = 0;
    while (start < head.size()) {
        std::size_t end = head.find_first_of(std::string_view("\r\n\0", 3), start);
        if (end == std::string_view::npos)
            end = head.size();
        const std::string_view line = head.substr(start, end - start);
        start = end + 1;
        if (line.empty())
            continue;
        if (statusLine) {
            statusLine = false;
            continue;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || !equalsNoCase(trimmedLws(line.substr(0, colon)), name))
            continue;
        std::string_view value = line.substr(colon + 1);
        if (!list) {
            values.push_back(trimmedLws(value));
            continue;
        }
        char quote = 0;
        std::size_t from = 0;
        for (std::size_t i = 0; i <= value.size(); ++i) {
            if (i < value.size() && quote) {
                if (value[i] == '\\')
                    ++i;
                else if (value[i] == quote)
                    quote = 0;
            } else if (i < value.size() && (value[i] == '"' || value[i] == '\'')) {
                quote = value[i];
            } else if (i == value.size() || value[i] == ',') {
                values.push_back(trimmedLws(value.substr(from, std::min(i, value.size()) - from)));
                from = i + 1;
            }
        }
    }
    return values;
}

std::optional<std::string_view> firstValue(std::string_view head, std::string_view name, bool list)
{
    const auto values = headerValues(head, name, list);
    if (values.empty())
        return std::nullopt;
    return values.front();
}

bool hasValue(std::string_view head, std::string_view name, std::string_view value)
{
    for (const std::string_view v : headerValues(head, name, true))
        if (equalsNoCase(v, value))
            return true;
    return false;
}

bool allDigits(std::string_view s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Digits as a number, saturating at `limit`.
std::int64_t digitsValue(std::string_view s, std::int64_t limit)
{
    std::int64_t value = 0;
    for (const char c : s) {
        if (value > (limit - (c - '0')) / 10)
            return limit;
        value = value * 10 + (c - '0');
    }
    return value;
}

// Cache-Control's max-age in seconds: the first "max-age=" item whose value is digits, with
// spaces around them allowed. s-maxage is for shared caches and not read.
std::optional<std::int64_t> maxAge(std::string_view head)
{
    constexpr std::string_view directive = "max-age";
    for (const std::string_view item : headerValues(head, "cache-control", true)) {
        if (item.size() <= directive.size() || !equalsNoCase(item.substr(0, directive.size()), directive)
            || item[directive.size()] != '=')
            continue;
        std::string_view number = item.substr(directive.size() + 1);
        while (!number.empty() && number.front() == ' ')
            number.remove_prefix(1);
        while (!number.empty() && number.back() == ' ')
            number.remove_suffix(1);
        if (!allDigits(number))
            continue;
        return digitsValue(number, LongestSeconds);
    }
    return std::nullopt;
}

// A date header as µs since 1601; nothing when absent or not a date. Expires "0" means
// already expired, the earliest time there is.
std::optional<std::int64_t> dateValue(std::string_view head, std::string_view name)
{
    const auto value = firstValue(head, name, false);
    if (!value)
        return std::nullopt;
    if (name == "expires" && *value == "0")
        return std::numeric_limits<std::int64_t>::min();
    const StoreTime time = StoreTimeFromHttpDate(*value);
    if (!time)
        return std::nullopt;
    return std::int64_t(time / 10);
}

// Age in seconds: digits only, saturating at 2^32 - 1; anything else counts as no Age.
std::int64_t ageSeconds(std::string_view head)
{
    const auto value = firstValue(head, "age", true);
    if (!value || !allDigits(*value))
        return 0;
    return digitsValue(*value, std::numeric_limits<std::uint32_t>::max());
}

} // namespace

std::optional<ChromiumExpiry> ChromiumExpiryOf(std::string_view head, int status, std::int64_t requestTime,
                                               std::int64_t responseTime)
{
    if (responseTime <= 0 || responseTime > LatestMicros)
        return std::nullopt;
    if (requestTime <= 0 || requestTime > LatestMicros)
        requestTime = responseTime;

    const ChromiumExpiry stale{ChromiumFreshness::Stale, 0};
    if (hasValue(head, "cache-control", "no-cache") || hasValue(head, "cache-control", "no-store")
        || hasValue(head, "pragma", "no-cache"))
        return stale;
    const bool mustRevalidate = hasValue(head, "cache-control", "must-revalidate");

    const std::int64_t date = dateValue(head, "date").value_or(responseTime);
    std::int64_t lifetime = 0; // µs
    if (const auto seconds = maxAge(head)) {
        lifetime = *seconds * MicrosPerSecond;
    } else if (const auto expires = dateValue(head, "expires")) {
        // An Expires not after Date (or "0") is stale as sent.
        if (*expires > date)
            lifetime = std::min(*expires - date, LongestSeconds * MicrosPerSecond);
    } else {
        // Without either, a tenth of the time since the last change, for the codes that allow
        // a guess; some codes are fresh for ever.
        const auto lastModified = dateValue(head, "last-modified");
        if ((status == 200 || status == 203 || status == 206) && !mustRevalidate && lastModified
            && *lastModified <= date)
            lifetime = (date - *lastModified) / 10;
        else if (status == 300 || status == 301 || status == 308 || status == 410)
            return ChromiumExpiry{ChromiumFreshness::Never, 0};
    }
    if (lifetime <= 0)
        return stale;

    // The age the response already had when it arrived: what the Age header says plus the
    // time in flight, or how long after its Date it arrived, whichever is more.
    const std::int64_t apparentAge = std::max<std::int64_t>(0, responseTime - date);
    const std::int64_t correctedAge = ageSeconds(head) * MicrosPerSecond + (responseTime - requestTime);
    const std::int64_t initialAge = std::max(apparentAge, correctedAge);
    if (lifetime <= initialAge)
        return stale;
    const std::int64_t until = std::min(responseTime + (lifetime - initialAge), LatestMicros);
    return ChromiumExpiry{ChromiumFreshness::Until, StoreTime(until) * 10};
}
