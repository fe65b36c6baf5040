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

// The header values the rules read, from one pass over the head. Chromium cuts most headers
// at commas outside quotes and trims each part; Date, Expires and Last-Modified hold commas
// of their own and are taken whole, the first line of each.
struct HeadValues {
    std::vector<std::string_view> cacheControl, pragma, age;
    std::optional<std::string_view> date, expires, lastModified;
};

void splitList(std::string_view value, std::vector<std::string_view> &out)
{
    char quote = 0;
    std::size_t from = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (quote) {
            if (value[i] == '\\')
                ++i;
            else if (value[i] == quote)
                quote = 0;
        } else if (value[i] == '"' || value[i] == '\'') {
            quote = value[i];
        } else if (value[i] == ',') {
            out.push_back(trimmedLws(value.substr(from, i - from)));
            from = i + 1;
        }
    }
    out.push_back(trimmedLws(value.substr(std::min(from, value.size()))));
}

HeadValues readHead(std::string_view head)
{
    HeadValues values;
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
        if (colon == std::string_view::npos)
            continue;
        const std::string_view name = trimmedLws(line.substr(0, colon));
        const std::string_view value = line.substr(colon + 1);
        auto first = [&](std::optional<std::string_view> &slot) {
            if (!slot)
                slot = trimmedLws(value);
        };
        if (equalsNoCase(name, "cache-control"))
            splitList(value, values.cacheControl);
        else if (equalsNoCase(name, "pragma"))
            splitList(value, values.pragma);
        else if (equalsNoCase(name, "age"))
            splitList(value, values.age);
        else if (equalsNoCase(name, "date"))
            first(values.date);
        else if (equalsNoCase(name, "expires"))
            first(values.expires);
        else if (equalsNoCase(name, "last-modified"))
            first(values.lastModified);
    }
    return values;
}

bool hasValue(const std::vector<std::string_view> &values, std::string_view value)
{
    return std::any_of(values.begin(), values.end(), [&](std::string_view v) { return equalsNoCase(v, value); });
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
std::optional<std::int64_t> maxAge(const std::vector<std::string_view> &cacheControl)
{
    constexpr std::string_view directive = "max-age";
    for (const std::string_view item : cacheControl) {
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
std::optional<std::int64_t> dateValue(std::optional<std::string_view> value, bool expires = false)
{
    if (!value)
        return std::nullopt;
    if (expires && *value == "0")
        return std::numeric_limits<std::int64_t>::min();
    const StoreTime time = StoreTimeFromHttpDate(*value);
    if (!time)
        return std::nullopt;
    return std::int64_t(time / 10);
}

// Age in seconds: digits only, saturating at 2^32 - 1; anything else counts as no Age.
std::int64_t ageSeconds(const std::vector<std::string_view> &age)
{
    if (age.empty() || !allDigits(age.front()))
        return 0;
    return digitsValue(age.front(), std::numeric_limits<std::uint32_t>::max());
}

} // namespace

std::optional<ChromiumExpiry> ChromiumExpiryOf(std::string_view head, int status, std::int64_t requestTime,
                                               std::int64_t responseTime)
{
    if (responseTime <= 0 || responseTime > LatestMicros)
        return std::nullopt;
    if (requestTime <= 0 || requestTime > LatestMicros)
        requestTime = responseTime;

    const HeadValues values = readHead(head);
    const ChromiumExpiry stale{ChromiumFreshness::Stale, 0};
    if (hasValue(values.cacheControl, "no-cache") || hasValue(values.cacheControl, "no-store")
        || hasValue(values.pragma, "no-cache"))
        return stale;
    const bool mustRevalidate = hasValue(values.cacheControl, "must-revalidate");

    const std::int64_t date = dateValue(values.date).value_or(responseTime);
    std::int64_t lifetime = 0; // µs
    if (const auto seconds = maxAge(values.cacheControl)) {
        lifetime = *seconds * MicrosPerSecond;
    } else if (const auto expires = dateValue(values.expires, true)) {
        // An Expires not after Date (or "0") is stale as sent.
        if (*expires > date)
            lifetime = std::min(*expires - date, LongestSeconds * MicrosPerSecond);
    } else {
        // Without either, a tenth of the time since the last change, for the codes that allow
        // a guess; some codes are fresh for ever.
        const auto lastModified = dateValue(values.lastModified);
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
    const std::int64_t correctedAge = ageSeconds(values.age) * MicrosPerSecond + (responseTime - requestTime);
    const std::int64_t initialAge = std::max(apparentAge, correctedAge);
    if (lifetime <= initialAge)
        return stale;
    const std::int64_t until = std::min(responseTime + (lifetime - initialAge), LatestMicros);
    return ChromiumExpiry{ChromiumFreshness::Until, StoreTime(until) * 10};
}
