#include "storeentry.h"

#include "calendar.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>

namespace {

constexpr std::int64_t UnixEpochInFileTimeSeconds = 11644473600;

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string lowered(std::string_view s)
{
    std::string out(s);
    for (char &c : out)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

int monthOf(std::string_view name)
{
    static const char *const months[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                         "jul", "aug", "sep", "oct", "nov", "dec"};
    if (name.size() < 3)
        return -1;
    for (int i = 0; i < 12; ++i)
        if (equalsIgnoringCase(name.substr(0, 3), months[i]))
            return i;
    return -1;
}

bool allDigits(std::string_view s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Saturates at 10^9: a long digit run in a hostile header must not overflow into a
// plausible value.
int number(std::string_view s)
{
    int v = 0;
    for (char c : s) {
        if (v >= 100000000)
            return 1000000000;
        v = v * 10 + (c - '0');
    }
    return v;
}

// "08:49:37" into seconds of the day; -1 when it is not a time.
int timeOfDay(std::string_view s)
{
    if (s.size() != 8 || s[2] != ':' || s[5] != ':')
        return -1;
    const std::string_view h = s.substr(0, 2), m = s.substr(3, 2), sec = s.substr(6, 2);
    if (!allDigits(h) || !allDigits(m) || !allDigits(sec))
        return -1;
    const int hh = number(h), mm = number(m), ss = number(sec);
    if (hh > 23 || mm > 59 || ss > 60)
        return -1;
    return hh * 3600 + mm * 60 + ss;
}

} // namespace

StoreTime StoreTimeFromUnix(std::int64_t unixSeconds)
{
    const std::int64_t seconds = unixSeconds + UnixEpochInFileTimeSeconds;
    return seconds <= 0 ? 0 : StoreTime(seconds) * 10000000u;
}

StoreTime StoreTimeFromUnixMicros(std::int64_t unixMicros)
{
    const std::int64_t micros = unixMicros + UnixEpochInFileTimeSeconds * 1000000;
    return micros <= 0 ? 0 : StoreTime(micros) * 10u;
}

std::int64_t UnixFromStoreTime(StoreTime time)
{
    return std::int64_t(time / 10000000u) - UnixEpochInFileTimeSeconds;
}

StoreText StoreListing::addText(std::string_view text)
{
    const StoreText t{std::uint32_t(texts.size()), std::uint32_t(text.size())};
    texts.append(text);
    return t;
}

void StoreListing::skip(const std::string &reason)
{
    ++skipped;
    ++skipWhy[reason];
}

std::string StoreListing::skipSummary() const
{
    std::string out;
    if (skipped) {
        out = std::to_string(skipped) + (skipped == 1 ? " entry" : " entries") + " left out: ";
        bool first = true;
        for (const auto &[reason, count] : skipWhy) {
            if (!first)
                out += ", ";
            first = false;
            out += std::to_string(count) + " \u00d7 " + reason;
        }
    }
    if (newerFormat) {
        if (!out.empty())
            out += "; ";
        out += std::to_string(newerFormat) + (newerFormat == 1 ? " entry" : " entries")
            + " not read: newer cache format (version " + std::to_string(newerVersion) + ")";
    }
    return out;
}

std::string StoreListing::noneReadable() const
{
    if (!entries.empty() || (!skipped && !newerFormat))
        return {};
    return !error.empty() ? error : "no entry could be read (" + skipSummary() + ")";
}

StoreListing JoinListings(std::vector<StoreListing> &parts)
{
    if (parts.size() == 1)
        return std::move(parts.front());
    StoreListing listing;
    // One buffer of the final size, so that joining copies each part's texts once.
    std::size_t texts = 0, entries = 0;
    for (const StoreListing &part : parts) {
        texts += part.texts.size();
        entries += part.entries.size();
    }
    listing.texts.reserve(texts);
    listing.entries.reserve(entries);
    for (StoreListing &part : parts) {
        const std::uint32_t shift = std::uint32_t(listing.texts.size());
        listing.texts.append(part.texts);
        for (StoreEntry e : part.entries) {
            for (StoreText *t : {&e.key, &e.url, &e.localFile, &e.headers, &e.extension, &e.partition, &e.contentType,
                                 &e.contentEncoding, &e.container, &e.requestMethod})
                t->offset += shift;
            listing.entries.push_back(e);
        }
        listing.skipped += part.skipped;
        for (const auto &[reason, count] : part.skipWhy)
            listing.skipWhy[reason] += count;
        listing.newerFormat += part.newerFormat;
        listing.newerVersion = std::max(listing.newerVersion, part.newerVersion);
        part = StoreListing();
    }
    return listing;
}

ResponseFacts ReadResponseFacts(std::string_view head)
{
    ResponseFacts facts;
    bool firstLine = true;
    bool sawLength = false;
    while (!head.empty()) {
        std::size_t end = head.find_first_of(std::string_view("\r\n\0", 3));
        std::string_view line = head.substr(0, end);
        head.remove_prefix(end == std::string_view::npos ? head.size() : end + 1);
        if (line.empty())
            continue;
        if (firstLine) {
            firstLine = false;
            // "HTTP/1.1 200 OK"
            if (line.size() >= 5 && equalsIgnoringCase(line.substr(0, 5), "HTTP/")) {
                const std::size_t space = line.find(' ');
                if (space != std::string_view::npos) {
                    const std::string_view code = line.substr(space + 1, 3);
                    if (allDigits(code) && code.size() == 3)
                        facts.status = std::uint16_t(number(code));
                }
                continue;
            }
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        const std::string_view name = trimmed(line.substr(0, colon));
        const std::string_view value = trimmed(line.substr(colon + 1));
        if (equalsIgnoringCase(name, "content-type")) {
            facts.contentType = lowered(trimmed(value.substr(0, value.find(';'))));
        } else if (equalsIgnoringCase(name, "content-encoding")) {
            facts.contentEncoding = lowered(value);
        } else if (equalsIgnoringCase(name, "last-modified")) {
            facts.lastModified = std::string(value);
        } else if (equalsIgnoringCase(name, "expires")) {
            facts.expires = std::string(value);
        } else if (equalsIgnoringCase(name, "date")) {
            facts.date = std::string(value);
        } else if (equalsIgnoringCase(name, "content-length")) {
            if (!sawLength && allDigits(value) && value.size() <= 18) {
                std::uint64_t length = 0;
                for (char c : value)
                    length = length * 10 + std::uint64_t(c - '0');
                facts.contentLength = length;
            }
            sawLength = true;
        }
    }
    return facts;
}

StoreTime StoreTimeFromHttpDate(std::string_view date)
{
    // Split into words at spaces and commas; '-' splits the RFC 850 date.
    std::string_view words[8];
    int count = 0;
    std::string_view rest = trimmed(date);
    while (!rest.empty() && count < 8) {
        const std::size_t start = rest.find_first_not_of(" ,");
        if (start == std::string_view::npos)
            break;
        rest.remove_prefix(start);
        const std::size_t end = rest.find_first_of(" ,");
        words[count++] = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
    }
    int day = -1, month = -1, year = -1, seconds = -1;
    for (int i = 0; i < count; ++i) {
        std::string_view w = words[i];
        if (const int t = timeOfDay(w); t >= 0) {
            seconds = t;
        } else if (w.size() >= 9 && w[2] == '-' && w[6] == '-') { // 06-Nov-94
            if (!allDigits(w.substr(0, 2)) || !allDigits(w.substr(7)))
                return 0;
            day = number(w.substr(0, 2));
            month = monthOf(w.substr(3, 3));
            year = number(w.substr(7));
            if (w.size() == 9)
                year += year < 70 ? 2000 : 1900;
        } else if (allDigits(w) && w.size() == 4) {
            year = number(w);
        } else if (allDigits(w) && w.size() <= 2) {
            day = number(w);
        } else if (month < 0 && monthOf(w) >= 0 && w.size() == 3) {
            month = monthOf(w);
        }
    }
    if (day < 1 || day > 31 || month < 0 || year < 1601 || year > 30000 || seconds < 0)
        return 0;
    const std::int64_t days = DaysFromCivil(year, unsigned(month + 1), unsigned(day));
    return StoreTimeFromUnix(days * 86400 + seconds);
}
