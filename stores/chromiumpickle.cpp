#include "chromiumpickle.h"

#include "bodydecoder.h"
#include "chromiumfreshness.h"

#include <limits>

std::uint32_t ChromiumSuperFastHash(const void *bytes, std::size_t size)
{
    if (size == 0 || size > std::size_t(std::numeric_limits<std::int32_t>::max()))
        return 0;
    const auto *data = static_cast<const unsigned char *>(bytes);
    // The tail bytes are read as signed chars, as Chromium's copy does; the shifts are done
    // on unsigned values so that a negative byte keeps its two's-complement bits.
    auto signedByte = [](unsigned char c) { return std::uint32_t(std::int32_t(static_cast<signed char>(c))); };
    std::uint32_t hash = std::uint32_t(size);
    const std::size_t rem = size & 3;
    for (std::size_t n = size >> 2; n > 0; --n) {
        hash += qFromLittleEndian<quint16>(data);
        const std::uint32_t tmp = (std::uint32_t(qFromLittleEndian<quint16>(data + 2)) << 11) ^ hash;
        hash = (hash << 16) ^ tmp;
        data += 4;
        hash += hash >> 11;
    }
    switch (rem) {
    case 3:
        hash += qFromLittleEndian<quint16>(data);
        hash ^= hash << 16;
        hash ^= signedByte(data[2]) << 18;
        hash += hash >> 11;
        break;
    case 2:
        hash += qFromLittleEndian<quint16>(data);
        hash ^= hash << 11;
        hash += hash >> 17;
        break;
    case 1:
        hash += signedByte(data[0]);
        hash ^= hash << 10;
        hash += hash >> 1;
        break;
    default:
        break;
    }
    hash ^= hash << 3;
    hash += hash >> 5;
    hash ^= hash << 4;
    hash += hash >> 17;
    hash ^= hash << 25;
    hash += hash >> 6;
    return hash;
}

StoreTime StoreTimeFromChromium(std::int64_t micros)
{
    // Up to the year 30828, as FILETIME itself.
    if (micros <= 0 || micros > std::numeric_limits<std::int64_t>::max() / 10)
        return 0;
    return StoreTime(micros) * 10;
}

namespace {

bool startsWith(std::string_view s, std::string_view prefix)
{
    return s.substr(0, prefix.size()) == prefix;
}

// Digits up to a '/', as a number; false when that is not what `s` starts with.
bool leadingNumber(std::string_view s, std::uint64_t &value, std::size_t &length)
{
    std::size_t i = 0;
    value = 0;
    while (i < s.size() && i < 19 && s[i] >= '0' && s[i] <= '9')
        value = value * 10 + std::uint64_t(s[i++] - '0');
    length = i;
    return i > 0 && i < s.size() && s[i] == '/';
}

} // namespace

ChromiumKey ParseChromiumKey(std::string_view key)
{
    ChromiumKey out;
    std::string_view rest = key;
    std::uint64_t number = 0;
    std::size_t length = 0;
    if (rest.size() > 4 && (rest[0] == '0' || rest[0] == '1') && rest[1] == '/'
        && leadingNumber(rest.substr(2), number, length)) {
        // credentials/upload id/
        out.anonymous = rest[0] == '0';
        out.uploadId = number;
        rest.remove_prefix(2 + length + 1);
    } else if (leadingNumber(rest, number, length) && rest.find("://") != std::string_view::npos) {
        // An old POST key: upload id/url.
        out.uploadId = number;
        rest.remove_prefix(length + 1);
    }
    const auto space = rest.rfind(' ');
    out.url = space == std::string_view::npos ? rest : rest.substr(space + 1);
    if (startsWith(rest, "_dk_") && space != std::string_view::npos) {
        std::string_view isolation = rest.substr(4, space - 4);
        if (startsWith(isolation, "s_")) {
            out.subframeDocument = true;
            isolation.remove_prefix(2);
        }
        if (startsWith(isolation, "cn_")) {
            out.crossSiteNavigation = true;
            isolation.remove_prefix(3);
        }
        while (!isolation.empty() && isolation.back() == ' ')
            isolation.remove_suffix(1);
        const auto split = isolation.find(' ');
        out.topSite = isolation.substr(0, split);
        if (split != std::string_view::npos)
            out.frameSite = isolation.substr(split + 1);
    }
    return out;
}

std::string ChromiumPartitionText(const ChromiumKey &key)
{
    std::string text(key.topSite);
    auto add = [&text](std::string_view part) {
        if (!text.empty())
            text += ", ";
        text += part;
    };
    if (!key.frameSite.empty() && key.frameSite != key.topSite)
        add("frame " + std::string(key.frameSite));
    if (key.subframeDocument)
        add("subframe document");
    if (key.crossSiteNavigation)
        add("cross-site navigation");
    if (key.anonymous)
        add("anonymous");
    if (key.uploadId)
        add("POST " + std::to_string(key.uploadId));
    return text;
}

namespace {

// Reads a base::Pickle's payload: every field starts at a multiple of 4 from the payload.
class PickleReader {
public:
    PickleReader(const unsigned char *data, std::size_t size) : m_data(data), m_size(size) {}
    bool readInt32(std::int32_t &v)
    {
        const unsigned char *p = take(4);
        if (p)
            v = std::int32_t(qFromLittleEndian<quint32>(p));
        return p;
    }
    bool readInt64(std::int64_t &v)
    {
        const unsigned char *p = take(8);
        if (p)
            v = std::int64_t(qFromLittleEndian<quint64>(p));
        return p;
    }
    bool readString(std::string_view &v)
    {
        std::int32_t length = 0;
        if (!readInt32(length) || length < 0)
            return false;
        const unsigned char *p = take(std::size_t(length));
        if (p)
            v = std::string_view(reinterpret_cast<const char *>(p), std::size_t(length));
        return p;
    }

private:
    const unsigned char *take(std::size_t n)
    {
        if (n > m_size - m_pos)
            return nullptr;
        const unsigned char *p = m_data + m_pos;
        const std::size_t aligned = (n + 3) & ~std::size_t(3);
        m_pos = aligned > m_size - m_pos ? m_size : m_pos + aligned;
        return p;
    }
    const unsigned char *m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

constexpr std::uint32_t InfoVersionMask = 0xFF;
constexpr std::uint32_t InfoMinimumVersion = 1;
constexpr std::uint32_t InfoVersion = 3;
constexpr std::uint32_t InfoTruncated = 1u << 12;
constexpr std::uint32_t InfoHasExtraFlags = 1u << 31;
constexpr std::uint32_t ExtraUsedSharedDictionary = 1u << 0;
constexpr std::uint32_t ExtraHasOriginalResponseTime = 1u << 2;

} // namespace

bool ParseChromiumResponseInfo(const unsigned char *data, std::size_t size, ChromiumResponseInfo &info,
                               std::string &why)
{
    info = {};
    if (size < 4) {
        why = "response info too short";
        return false;
    }
    const std::uint32_t payload = qFromLittleEndian<quint32>(data);
    if (payload > size - 4) {
        why = "response info longer than its stream";
        return false;
    }
    PickleReader reader(data + 4, payload);
    std::int32_t flags = 0;
    if (!reader.readInt32(flags)) {
        why = "response info without flags";
        return false;
    }
    info.flags = std::uint32_t(flags);
    const std::uint32_t version = info.flags & InfoVersionMask;
    if (version < InfoMinimumVersion || version > InfoVersion) {
        why = "response info of unknown version " + std::to_string(version);
        return false;
    }
    if (info.flags & InfoHasExtraFlags) {
        std::int32_t extra = 0;
        if (!reader.readInt32(extra)) {
            why = "response info cut short";
            return false;
        }
        info.usedSharedDictionary = std::uint32_t(extra) & ExtraUsedSharedDictionary;
        std::int64_t ignored = 0;
        if (!reader.readInt64(info.requestTime) || !reader.readInt64(info.responseTime)
            || ((std::uint32_t(extra) & ExtraHasOriginalResponseTime) && !reader.readInt64(ignored))) {
            why = "response info cut short";
            return false;
        }
    } else if (!reader.readInt64(info.requestTime) || !reader.readInt64(info.responseTime)) {
        why = "response info cut short";
        return false;
    }
    if (!reader.readString(info.rawHeaders) || info.rawHeaders.empty()) {
        why = "response info without headers";
        return false;
    }
    info.truncated = info.flags & InfoTruncated;
    return true;
}

std::string ChromiumHeadText(std::string_view raw)
{
    std::string head;
    head.reserve(raw.size() + 32);
    std::size_t start = 0;
    while (start < raw.size()) {
        std::size_t end = raw.find('\0', start);
        if (end == std::string_view::npos)
            end = raw.size();
        std::string_view line = raw.substr(start, end - start);
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
            line.remove_suffix(1);
        if (!line.empty()) {
            head.append(line);
            head += "\r\n";
        }
        start = end + 1;
    }
    return head;
}

void FillChromiumEntry(StoreListing &listing, StoreEntry &entry, std::string_view key, const ChromiumResponseInfo *info)
{
    const ChromiumKey parts = ParseChromiumKey(key);
    entry.key = listing.addText(key);
    entry.url = listing.addText(parts.url);
    entry.partition = listing.addText(ChromiumPartitionText(parts));
    if (parts.uploadId)
        entry.requestMethod = listing.addText("POST");
    if (parts.anonymous)
        entry.flags |= EntryAnonymous;
    if (!info)
        return;
    const std::string head = ChromiumHeadText(info->rawHeaders);
    entry.headers = listing.addText(head);
    const ResponseFacts facts = ReadResponseFacts(head);
    entry.httpStatus = facts.status;
    entry.contentType = listing.addText(facts.contentType);
    entry.contentEncoding = listing.addText(facts.contentEncoding);
    entry.lastModified = StoreTimeFromHttpDate(facts.lastModified);
    if (const auto expiry = ChromiumExpiryOf(head, facts.status, info->requestTime, info->responseTime)) {
        entry.flags |= EntryExpiryDerived;
        if (expiry->freshness == ChromiumFreshness::Stale)
            entry.flags |= EntryStaleOnArrival;
        else if (expiry->freshness == ChromiumFreshness::Never)
            entry.flags |= EntryNeverStale;
        entry.expires = expiry->until;
    } else {
        entry.expires = StoreTimeFromHttpDate(facts.expires);
    }
    entry.lastSync = StoreTimeFromChromium(info->responseTime);
    if (!entry.lastSync)
        entry.lastSync = StoreTimeFromHttpDate(facts.date);
    if (info->truncated)
        entry.flags |= EntryTruncated;
    if (info->usedSharedDictionary || !CanDecode(facts.contentEncoding))
        entry.flags |= EntryUndecodable;
}
