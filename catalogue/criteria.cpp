#include "criteria.h"

#include "text.h"

#include <QDateTime>
#include <QTimeZone>

#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace {

constexpr std::array<const char *, std::size_t(ContentKind::Count)> KindIds = {"page", "image", "script", "style",
                                                                               "font", "media", "other"};

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

std::string_view extensionOf(std::string_view fileName)
{
    const std::size_t slash = fileName.find_last_of("/\\");
    if (slash != std::string_view::npos)
        fileName.remove_prefix(slash + 1);
    const std::size_t dot = fileName.rfind('.');
    return dot == std::string_view::npos ? std::string_view() : fileName.substr(dot + 1);
}

ContentKind kindOfType(const std::string &type)
{
    if (type == "text/html" || type == "application/xhtml+xml")
        return ContentKind::Page;
    if (startsWith(type, "image/"))
        return ContentKind::Image;
    if (type == "text/css")
        return ContentKind::Style;
    if (type.find("javascript") != std::string::npos || type.find("ecmascript") != std::string::npos
        || type == "application/wasm")
        return ContentKind::Script;
    if (startsWith(type, "font/") || type.find("font-") != std::string::npos || type == "application/vnd.ms-fontobject")
        return ContentKind::Font;
    if (startsWith(type, "audio/") || startsWith(type, "video/") || type == "application/vnd.apple.mpegurl"
        || type == "application/dash+xml")
        return ContentKind::Media;
    return ContentKind::Other;
}

ContentKind kindOfExtension(const std::string &ext)
{
    static const std::array<std::pair<ContentKind, std::array<const char *, 7>>, 6> byKind = {{
        {ContentKind::Page, {"htm", "html", "xhtml", "shtml", "php", "asp", "aspx"}},
        {ContentKind::Image, {"jpg", "jpeg", "png", "gif", "webp", "svg", "ico"}},
        {ContentKind::Script, {"js", "mjs", "wasm", "", "", "", ""}},
        {ContentKind::Style, {"css", "", "", "", "", "", ""}},
        {ContentKind::Font, {"woff", "woff2", "ttf", "otf", "eot", "", ""}},
        {ContentKind::Media, {"mp4", "webm", "mp3", "ogg", "m4a", "wav", "m3u8"}},
    }};
    if (!ext.empty())
        for (const auto &[kind, extensions] : byKind)
            for (const char *e : extensions)
                if (ext == e)
                    return kind;
    return ContentKind::Other;
}

// Parses "<number><unit>" with a decimal fraction allowed; the unit lowered, without spaces.
bool splitNumber(std::string_view text, double &number, std::string &unit)
{
    std::size_t end = 0;
    while (end < text.size() && ((text[end] >= '0' && text[end] <= '9') || text[end] == '.'))
        ++end;
    if (end == 0)
        return false;
    const std::string digits(text.substr(0, end));
    char *stop = nullptr;
    number = std::strtod(digits.c_str(), &stop);
    if (stop != digits.c_str() + digits.size() || !std::isfinite(number) || number < 0)
        return false;
    unit = LowerAscii(std::string(text.substr(end)));
    return true;
}

} // namespace

QStringList ContentKindNames()
{
    return {QStringLiteral("网页"), QStringLiteral("图像"),   QStringLiteral("脚本"), QStringLiteral("样式表"),
            QStringLiteral("字体"), QStringLiteral("音视频"), QStringLiteral("其他")};
}

const char *ContentKindId(ContentKind kind)
{
    return std::size_t(kind) < KindIds.size() ? KindIds[std::size_t(kind)] : "other";
}

std::optional<ContentKind> ContentKindFromId(std::string_view id)
{
    for (std::size_t i = 0; i < KindIds.size(); ++i)
        if (id == KindIds[i])
            return ContentKind(i);
    return std::nullopt;
}

ContentKind ContentKindOf(std::string_view contentType, std::string_view fileName)
{
    std::string type = LowerAscii(std::string(contentType.substr(0, contentType.find(';'))));
    while (!type.empty() && (type.back() == ' ' || type.back() == '\t'))
        type.pop_back();
    while (!type.empty() && (type.front() == ' ' || type.front() == '\t'))
        type.erase(type.begin());
    // A type that says nothing (or a binary catch-all) leaves the answer to the file name.
    if (!type.empty() && type != "application/octet-stream")
        return kindOfType(type);
    return kindOfExtension(LowerAscii(std::string(extensionOf(fileName))));
}

bool EntryCriteria::empty() const
{
    return !notBefore && !before && !largerThan && !smallerThan && !kind && !status && partition.isEmpty()
        && keys.empty();
}

bool MatchesCriteria(const EntryRow &row, const EntryCriteria &c, EntryFields &fields)
{
    if (!row.header)
        return false;
    if (!c.keys.empty()) {
        const EntryExtras *extras = ExtrasOf(row.block);
        const char *key = extras && extras->key ? extras->key : SourceUrl(*row.header);
        if (!c.keys.count(key))
            return false;
    }
    if (c.largerThan || c.smallerThan) {
        const std::uint64_t size = EntrySize(*row.header);
        if ((c.largerThan && size <= *c.largerThan) || (c.smallerThan && size >= *c.smallerThan))
            return false;
    }
    if (c.notBefore || c.before) {
        static constexpr EntryField timeFields[] = {EntryField::LastAccess, EntryField::LastModified,
                                                    EntryField::Expires};
        const std::optional<std::uint64_t> time = fields.number(row, timeFields[int(c.timeField)]);
        if (!time || (c.notBefore && *time < *c.notBefore) || (c.before && *time >= *c.before))
            return false;
    }
    if (c.status && fields.number(row, EntryField::HttpStatus) != std::optional<std::uint64_t>(*c.status))
        return false;
    if (!c.partition.isEmpty() && !fields.text(row, EntryField::Partition).contains(c.partition, Qt::CaseInsensitive))
        return false;
    if (c.kind) {
        std::string type;
        fields.appendText(type, row, EntryField::ContentType);
        if (ContentKindOf(type, LocalFileName(*row.header)) != *c.kind)
            return false;
    }
    return true;
}

CacheList FilterByCriteria(const CacheList &list, const EntryCriteria &criteria)
{
    if (criteria.empty())
        return list;
    EntryFields fields;
    CacheList kept;
    for (const CatalogueEntry &e : list)
        if (MatchesCriteria(RowOf(e), criteria, fields))
            kept.push_back(e);
    return kept;
}

std::optional<std::int64_t> ParseDuration(std::string_view text)
{
    double number = 0;
    std::string unit;
    if (!splitNumber(text, number, unit))
        return std::nullopt;
    static const std::pair<const char *, double> units[] = {{"", 86400}, {"d", 86400}, {"w", 7 * 86400},
                                                            {"h", 3600}, {"m", 60},    {"s", 1}};
    for (const auto &[name, seconds] : units)
        if (unit == name && number * seconds < 1e12)
            return std::int64_t(number * seconds);
    return std::nullopt;
}

std::optional<std::uint64_t> ParseSize(std::string_view text)
{
    double number = 0;
    std::string unit;
    if (!splitNumber(text, number, unit))
        return std::nullopt;
    if (unit.size() > 1 && unit.back() == 'b')
        unit.pop_back();
    else if (unit == "b")
        unit.clear();
    static const std::pair<const char *, double> units[] = {
        {"", 1}, {"k", 1024.0}, {"m", 1024.0 * 1024}, {"g", 1024.0 * 1024 * 1024}};
    for (const auto &[name, factor] : units)
        if (unit == name && number * factor < 1.8e19)
            return std::uint64_t(number * factor);
    return std::nullopt;
}

std::optional<StoreTime> ParseDate(std::string_view text)
{
    const QString s = QString::fromUtf8(text.data(), qsizetype(text.size()));
    QDateTime when;
    if (s.size() == 10) {
        const QDate date = QDate::fromString(s, Qt::ISODate);
        if (date.isValid())
            when = date.startOfDay();
    } else {
        when = QDateTime::fromString(s, Qt::ISODate);
    }
    if (!when.isValid() || when.toSecsSinceEpoch() < -11644473600LL)
        return std::nullopt;
    return StoreTimeFromUnix(when.toSecsSinceEpoch());
}

EntryTally TallyEntries(const CacheList &entries)
{
    EntryTally tally;
    std::set<URLCACHE_STORE_ID> stores;
    for (const CatalogueEntry &e : entries) {
        ++tally.documents;
        tally.bytes += EntrySize(*e);
        stores.insert(EntryStoreId(e));
    }
    tally.stores = stores.size();
    return tally;
}

QString ByteCountText(std::uint64_t bytes)
{
    if (bytes < 1024)
        return QStringLiteral("%1 字节").arg(bytes);
    const char *units[] = {"KB", "MB", "GB", "TB"};
    double value = double(bytes) / 1024;
    int unit = 0;
    while (value >= 1024 && unit < 3) {
        value /= 1024;
        ++unit;
    }
    return QStringLiteral("%1 %2").arg(value, 0, 'f', 1).arg(QLatin1String(units[unit]));
}
