#include "entryfields.h"

#include "stores/calendar.h"

#include "text.h"
#include "viewlist.h"

#include "platform/urlcachestore.h"
#include "stores/bodydecoder.h"

#include <QByteArrayView>
#include <QMimeDatabase>

#include <algorithm>
#include <ctime>
#include <numeric>

namespace {

struct FieldInfo {
    const char *name;
    const char *caption;
    FieldType type;
};

constexpr FieldInfo Fields[EntryFieldCount] = {
    {"file_name", "缓存文件", FieldType::Text},
    {"type_name", "类型", FieldType::Text},
    {"size", "大小", FieldType::Number},
    {"url", "网址", FieldType::Text},
    {"location", "位置", FieldType::Text},
    {"last_access", "最后访问", FieldType::Time},
    {"last_modified", "最后修改", FieldType::Time},
    {"expires", "过期时间", FieldType::Time},
    {"last_sync", "最后同步", FieldType::Time},
    {"hit_count", "命中次数", FieldType::Number},
    {"content_type", "内容类型", FieldType::Text},
    {"content_encoding", "内容编码", FieldType::Text},
    {"status", "状态", FieldType::Number},
    {"partition", "分区", FieldType::Text},
    {"cache_kind", "来源", FieldType::Text},
    {"key", "缓存键", FieldType::Text},
    {"store_folder", "缓存文件夹", FieldType::Text},
    {"container", "容器文件", FieldType::Text},
    {"body_offset", "正文偏移", FieldType::Number},
    {"decoded_size", "解码大小", FieldType::Number},
    {"created", "创建时间", FieldType::Time},
    {"request_method", "请求方法", FieldType::Text},
    {"flags", "标记", FieldType::Text},
    {"response_head", "响应头", FieldType::Text},
};

bool validField(EntryField field)
{
    return int(field) >= 0 && int(field) < EntryFieldCount;
}

StoreTime timeOf(FILETIME t)
{
    return (StoreTime(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

const char *orEmpty(const char *text)
{
    return text ? text : "";
}

// Appends `text` as valid UTF-8 without control characters (tab, CR and LF stay): bytes that
// are not UTF-8 (GBK of older stores, hostile bytes) read as U+FFFD, as the list shows them.
void appendClean(std::string &out, std::string_view text)
{
    auto isPlain = [](unsigned char c) { return (c >= 0x20 && c < 0x7F) || c == '\t' || c == '\r' || c == '\n'; };
    std::size_t plain = 0;
    while (plain < text.size() && isPlain(static_cast<unsigned char>(text[plain])))
        ++plain;
    if (plain == text.size()) {
        out.append(text);
        return;
    }
    QByteArray bytes;
    if (QByteArrayView(text.data(), qsizetype(text.size())).isValidUtf8())
        bytes = QByteArray(text.data(), qsizetype(text.size()));
    else
        bytes = QString::fromUtf8(text.data(), qsizetype(text.size())).toUtf8();
    out.reserve(out.size() + std::size_t(bytes.size()));
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t' && c != '\r' && c != '\n') || u == 0x7F)
            out += "\xEF\xBF\xBD";
        else
            out += c;
    }
}

void appendTwo(std::string &out, unsigned value)
{
    out += char('0' + value / 10 % 10);
    out += char('0' + value % 10);
}

// The civil date and time of a count of seconds since 1970-01-01 (proleptic Gregorian).
void appendCivil(std::string &out, std::int64_t seconds, char between, bool zulu)
{
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    const CivilDate date = CivilFromDays(days);
    const std::int64_t year = date.year;
    const unsigned month = date.month;
    const unsigned day = date.day;

    if (year >= 0 && year <= 9999) {
        appendTwo(out, unsigned(year / 100));
        appendTwo(out, unsigned(year % 100));
    } else {
        out += std::to_string(year);
    }
    out += '-';
    appendTwo(out, month);
    out += '-';
    appendTwo(out, day);
    out += between;
    appendTwo(out, unsigned(rest / 3600));
    out += ':';
    appendTwo(out, unsigned(rest / 60 % 60));
    out += ':';
    appendTwo(out, unsigned(rest % 60));
    if (zulu)
        out += 'Z';
}

std::int64_t offsetAt(std::int64_t unixSeconds)
{
    const auto t = static_cast<std::time_t>(unixSeconds);
    std::tm local{};
    if (!::localtime_r(&t, &local))
        return 0;
    return local.tm_gmtoff;
}

bool hasCoding(const char *encoding)
{
    return encoding && *encoding && !ContentCodings(encoding).empty();
}

void appendFlags(std::string &out, std::uint32_t flags)
{
    static constexpr std::pair<StoreEntryFlag, const char *> Names[] = {
        {EntryTruncated, "truncated"},      {EntryUndecodable, "undecodable"},
        {EntryBodyMissing, "body_missing"}, {EntryHeadersMissing, "headers_missing"},
        {EntryAnonymous, "anonymous"},      {EntryPinned, "pinned"},
    };
    bool first = true;
    for (const auto &[flag, name] : Names) {
        if (!(flags & flag))
            continue;
        if (!first)
            out += ',';
        out += name;
        first = false;
    }
}

} // namespace

FieldType EntryFieldType(EntryField field)
{
    return validField(field) ? Fields[int(field)].type : FieldType::Text;
}

QString EntryFieldCaption(EntryField field)
{
    return validField(field) ? QString::fromUtf8(Fields[int(field)].caption) : QString();
}

const char *EntryFieldName(EntryField field)
{
    return validField(field) ? Fields[int(field)].name : "";
}

std::optional<EntryField> EntryFieldFromName(std::string_view name)
{
    for (int i = 0; i < EntryFieldCount; ++i)
        if (name == Fields[i].name)
            return EntryField(i);
    return std::nullopt;
}

void AppendLocalTime(std::string &out, StoreTime time)
{
    if (!time)
        return;
    const std::int64_t unixSeconds = UnixFromStoreTime(time);
    appendCivil(out, unixSeconds + offsetAt(unixSeconds), ' ', false);
}

void AppendUtcTime(std::string &out, StoreTime time)
{
    if (time)
        appendCivil(out, UnixFromStoreTime(time), 'T', true);
}

EntryFields::EntryFields(QString storeFolder) : m_storeFolder(storeFolder.toStdString())
{}

StoreKind EntryFields::storeKind(const EntryRow &row) const
{
    return EntryBlockKind(row.block);
}

// The WinInet store keeps the response head but not its facts: they are read from the head.
const EntryFields::HeadFacts &EntryFields::headFacts(const EntryRow &row)
{
    const std::string_view head = row.header && row.header->lpHeaderInfo && row.header->dwHeaderInfoSize
        ? std::string_view(row.header->lpHeaderInfo, row.header->dwHeaderInfoSize)
        : std::string_view();
    if (m_factsKnown && head == m_factsHead)
        return m_facts;
    m_facts = HeadFacts();
    if (!head.empty()) {
        ResponseFacts read = ReadResponseFacts(head);
        m_facts.contentType = std::move(read.contentType);
        m_facts.contentEncoding = std::move(read.contentEncoding);
        m_facts.status = read.status;
    }
    m_factsHead.assign(head);
    m_factsKnown = true;
    return m_facts;
}

const std::string &EntryFields::storeFolderOf(URLCACHE_STORE_ID store)
{
    if (store != m_folderStore) {
        m_folderStore = store;
        m_folderOfStore = UrlCacheStoreFolder(store);
    }
    return m_folderOfStore;
}

std::int64_t EntryFields::localOffset(std::int64_t unixSeconds)
{
    // Time zones change their offset only at quarter hours: one look-up per quarter hour.
    std::int64_t bucket = unixSeconds / 900;
    if (unixSeconds % 900 < 0)
        --bucket;
    Offset &slot = m_offsets[std::size_t(bucket) % m_offsets.size()];
    if (slot.bucket != bucket) {
        slot.bucket = bucket;
        slot.seconds = offsetAt(bucket * 900);
    }
    return slot.seconds;
}

void EntryFields::appendLocal(std::string &out, StoreTime time)
{
    if (!time)
        return;
    const std::int64_t unixSeconds = UnixFromStoreTime(time);
    appendCivil(out, unixSeconds + localOffset(unixSeconds), ' ', false);
}

void EntryFields::appendTypeName(std::string &out, const EntryRow &row)
{
    if (row.typeName && !row.typeName->isEmpty()) {
        out += row.typeName->toStdString();
        return;
    }
    // Named from the file's extension (what the desktop's type database says for it), else
    // from the stored content type: no file is opened to look at its content.
    const std::string_view extension = ExtensionOf(LocalFileName(*row.header));
    std::string &key = m_typeKey; // reused: a row costs no allocation once its type is known
    key.assign(extension);
    for (char &c : key)
        c = LowerAsciiChar(c);
    const EntryExtras *extras = ExtrasOf(row.block);
    const std::string_view contentType =
        extras && *orEmpty(extras->contentType) ? std::string_view(extras->contentType) : std::string_view();
    key += '\n';
    key += contentType;
    auto found = m_typeNames.find(key);
    if (found == m_typeNames.end()) {
        static const QMimeDatabase database;
        QMimeType type;
        if (!extension.empty())
            type = database.mimeTypeForFile(QStringLiteral("x")
                                                + QString::fromUtf8(extension.data(), qsizetype(extension.size())),
                                            QMimeDatabase::MatchExtension);
        if ((!type.isValid() || type.isDefault()) && !contentType.empty())
            type = database.mimeTypeForName(QString::fromUtf8(contentType.data(), qsizetype(contentType.size())));
        std::string name;
        if (type.isValid())
            appendClean(name, type.comment().toStdString());
        found = m_typeNames.emplace(key, std::move(name)).first;
    }
    out += found->second;
}

void EntryFields::appendText(std::string &out, const EntryRow &row, EntryField field)
{
    if (!row.header)
        return;
    const INTERNET_CACHE_ENTRY_INFOA &header = *row.header;
    const EntryExtras *extras = ExtrasOf(row.block);
    switch (field) {
    case EntryField::FileName:
        appendClean(out, FileNamePart(LocalFileName(header)));
        return;
    case EntryField::TypeName:
        appendTypeName(out, row);
        return;
    case EntryField::Url:
        appendClean(out, SourceUrl(header));
        return;
    case EntryField::Location:
        appendClean(out, LocalFileName(header));
        return;
    case EntryField::LastAccess:
    case EntryField::LastModified:
    case EntryField::Expires:
    case EntryField::LastSync:
    case EntryField::Created:
        appendLocal(out, number(row, field).value_or(0));
        return;
    case EntryField::Size:
    case EntryField::HitCount:
    case EntryField::HttpStatus:
    case EntryField::BodyOffset:
    case EntryField::DecodedSize:
        if (const auto value = number(row, field))
            AppendDecimal(out, *value);
        return;
    case EntryField::ContentType:
        if (extras && *orEmpty(extras->contentType))
            appendClean(out, extras->contentType);
        else
            appendClean(out, headFacts(row).contentType);
        return;
    case EntryField::ContentEncoding:
        if (extras && *orEmpty(extras->contentEncoding))
            appendClean(out, extras->contentEncoding);
        else if (!BodyInContainer(row.block))
            appendClean(out, headFacts(row).contentEncoding);
        return;
    case EntryField::Partition:
        if (extras)
            appendClean(out, orEmpty(extras->partition));
        return;
    case EntryField::CacheKind:
        out += storeKind(row)->label;
        return;
    case EntryField::Key:
        appendClean(out, extras ? orEmpty(extras->key) : SourceUrl(header));
        return;
    case EntryField::StoreFolder: {
        const std::string &own = row.store ? storeFolderOf(row.store) : m_storeFolder;
        appendClean(out, own.empty() ? m_storeFolder : own);
        return;
    }
    case EntryField::Container:
        if (BodyInContainer(row.block))
            appendClean(out, orEmpty(extras->container));
        return;
    case EntryField::RequestMethod:
        if (extras)
            appendClean(out, orEmpty(extras->requestMethod));
        return;
    case EntryField::Flags:
        if (extras)
            appendFlags(out, extras->flags);
        return;
    case EntryField::ResponseHead:
        if (header.lpHeaderInfo && header.dwHeaderInfoSize)
            appendClean(out, std::string_view(header.lpHeaderInfo, header.dwHeaderInfoSize));
        return;
    case EntryField::Count:
        break;
    }
}

QString EntryFields::text(const EntryRow &row, EntryField field)
{
    std::string out;
    appendText(out, row, field);
    return QString::fromUtf8(out.data(), qsizetype(out.size()));
}

std::optional<std::uint64_t> EntryFields::number(const EntryRow &row, EntryField field)
{
    if (!row.header)
        return std::nullopt;
    const INTERNET_CACHE_ENTRY_INFOA &header = *row.header;
    const EntryExtras *extras = ExtrasOf(row.block);
    auto known = [](std::uint64_t value) { return value ? std::optional<std::uint64_t>(value) : std::nullopt; };
    const bool inContainer = BodyInContainer(row.block);
    switch (field) {
    case EntryField::Size:
        return EntrySize(header);
    case EntryField::HitCount:
        // A store that keeps no count of uses: its 0 is no one's count.
        if (!storeKind(row)->countsUses)
            return std::nullopt;
        return header.dwUseCount;
    case EntryField::LastAccess:
        return known(timeOf(header.LastAccessTime));
    case EntryField::LastModified:
        return known(timeOf(header.LastModifiedTime));
    case EntryField::Expires:
        return known(timeOf(header.ExpireTime));
    case EntryField::LastSync:
        return known(timeOf(header.LastSyncTime));
    case EntryField::Created:
        return extras ? known(extras->created) : std::nullopt;
    case EntryField::HttpStatus:
        if (extras && extras->status)
            return extras->status;
        return known(headFacts(row).status);
    case EntryField::BodyOffset:
        return inContainer ? std::optional<std::uint64_t>(extras->bodyOffset) : std::nullopt;
    case EntryField::DecodedSize:
        // A local file is the document itself; a body in a container is its size only when
        // no coding is left to undo. Anything else would need the body read.
        if (BodyNotHeld(row.block))
            return std::nullopt; // no body to measure: the store lost it or never had one
        if (!inContainer)
            return EntrySize(header);
        if ((extras->flags & EntryUndecodable) || hasCoding(extras->contentEncoding))
            return std::nullopt;
        return EntrySize(header);
    default:
        return std::nullopt;
    }
}

int EntryFields::compare(const EntryRow &a, const EntryRow &b, EntryField field)
{
    if (EntryFieldType(field) == FieldType::Text) {
        std::string ta, tb;
        appendText(ta, a, field);
        appendText(tb, b, field);
        return CompareUppered(ta, tb);
    }
    const auto na = number(a, field);
    const auto nb = number(b, field);
    if (!na || !nb)
        return int(bool(na)) - int(bool(nb));
    return *na < *nb ? -1 : (*na > *nb ? 1 : 0);
}

const std::vector<EntryField> &DetailsFields()
{
    static const std::vector<EntryField> order = {
        EntryField::Url,          EntryField::Key,
        EntryField::Partition,    EntryField::CacheKind,
        EntryField::StoreFolder,  EntryField::Location,
        EntryField::Container,    EntryField::BodyOffset,
        EntryField::Size,         EntryField::DecodedSize,
        EntryField::FileName,     EntryField::TypeName,
        EntryField::ContentType,  EntryField::ContentEncoding,
        EntryField::HttpStatus,   EntryField::RequestMethod,
        EntryField::Created,      EntryField::LastSync,
        EntryField::LastModified, EntryField::Expires,
        EntryField::LastAccess,   EntryField::HitCount,
        EntryField::Flags,        EntryField::ResponseHead,
    };
    return order;
}

std::vector<EntryDetail> EntryDetails(const EntryRow &row, EntryFields &fields)
{
    std::vector<EntryDetail> details;
    const EntryExtras *extras = ExtrasOf(row.block);
    const std::uint32_t flags = extras ? extras->flags : 0;
    for (const EntryField field : DetailsFields()) {
        QString value = fields.text(row, field);
        // Chromium stores no expiry: say the time is worked out, or that there is none.
        if (field == EntryField::Expires && (flags & EntryExpiryDerived)) {
            if (flags & EntryStaleOnArrival)
                value = QStringLiteral("已过期，需重新验证");
            else if (flags & EntryNeverStale)
                value = QStringLiteral("永不过期");
            if (!value.isEmpty())
                value += QStringLiteral("（由响应头推算）");
        }
        if (value.isEmpty())
            continue;
        if (field == EntryField::ResponseHead)
            value.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        details.push_back({field, std::move(value)});
    }
    return details;
}

QString EntryDetailsText(const std::vector<EntryDetail> &details)
{
    QString text;
    for (const EntryDetail &d : details) {
        if (d.field == EntryField::ResponseHead) {
            text += EntryFieldCaption(d.field) + QStringLiteral(":\n") + d.value;
            if (!d.value.endsWith(QLatin1Char('\n')))
                text += QLatin1Char('\n');
        } else {
            text += EntryFieldCaption(d.field) + QStringLiteral(": ") + d.value + QLatin1Char('\n');
        }
    }
    return text;
}

void SortViewByField(ViewList &view, EntryField field, int direction, EntryFields &fields)
{
    if (int(field) >= 0 && int(field) <= int(EntryField::Location)) {
        SortViewList(view, int(field), direction);
        return;
    }
    if (!validField(field))
        return;
    std::vector<std::size_t> order(view.size());
    std::iota(order.begin(), order.end(), std::size_t(0));
    if (EntryFieldType(field) == FieldType::Text) {
        std::vector<std::string> keys(view.size());
        for (std::size_t i = 0; i < view.size(); ++i)
            fields.appendText(keys[i], RowOf(view[i]), field);
        std::sort(order.begin(), order.end(),
                  [&](std::size_t a, std::size_t b) { return CompareUppered(keys[a], keys[b]) * direction < 0; });
    } else {
        // Unknown values sort before every known one.
        std::vector<std::pair<bool, std::uint64_t>> keys(view.size());
        for (std::size_t i = 0; i < view.size(); ++i) {
            const auto value = fields.number(RowOf(view[i]), field);
            keys[i] = {value.has_value(), value.value_or(0)};
        }
        std::sort(order.begin(), order.end(),
                  [&](std::size_t a, std::size_t b) { return direction > 0 ? keys[a] < keys[b] : keys[b] < keys[a]; });
    }
    ViewList sorted;
    sorted.reserve(view.size());
    for (const std::size_t i : order)
        sorted.push_back(std::move(view[i]));
    view.swap(sorted);
}
