#pragma once
// What the cache knows about each entry, field by field: the document list's columns, what the
// details of an entry show and what every export writes. The values come from the entry's block
// alone (header, extras and texts): nothing here reads a file, so a list of 20,000 rows can show
// every field.

#include "entry.h"
#include "stores/cachestore.h"

#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Every field, in the order the exports write them. The first five are the document list's
// columns in their order (so their values are the list's sort keys); the next ten are the
// columns the list can show besides; the rest are for the details and the exports.
enum class EntryField : int {
    FileName,        // 缓存文件: the local file's name
    TypeName,        // 类型: the desktop's name of the file type
    Size,            // 大小: the body's size as stored (still content-encoded in browser caches)
    Url,             // 网址
    Location,        // 位置: the local file's path (for a body inside a container, where it is written)
    LastAccess,      // 最后访问
    LastModified,    // 最后修改: the server's Last-Modified
    Expires,         // 过期时间
    LastSync,        // 最后同步: last fetch or check with the server
    HitCount,        // 命中次数
    ContentType,     // 内容类型
    ContentEncoding, // 内容编码
    HttpStatus,      // 状态
    Partition,       // 分区
    CacheKind,       // 来源
    Key,             // 缓存键
    StoreFolder,     // 缓存文件夹
    Container,       // 容器文件: the file holding the body, when the body is a range of it
    BodyOffset,      // 正文偏移: where the body starts in the container
    DecodedSize,     // 解码大小: the body's size once decoded, where known without reading it
    Created,         // 创建时间
    RequestMethod,   // 请求方法
    Flags,           // 标记: truncated, undecodable, body_missing, headers_missing, anonymous, pinned
    ResponseHead,    // 响应头: the response head as stored
    Count
};
constexpr int EntryFieldCount = int(EntryField::Count);
// The fields the document list can show as columns: its five and the ten it may add.
constexpr int ListColumnFieldCount = int(EntryField::CacheKind) + 1;

enum class FieldType {
    Text,   // sorts as the list sorts texts: bytes, with a..z read as A..Z
    Number, // sorts as a number
    Time,   // StoreTime; sorts as a time
};

FieldType EntryFieldType(EntryField field);
// The Chinese caption: "最后访问".
QString EntryFieldCaption(EntryField field);
// The stable name exports and scripts use: "last_access".
const char *EntryFieldName(EntryField field);
// The field a stable name stands for.
std::optional<EntryField> EntryFieldFromName(std::string_view name);

// One entry to describe: the header of the row (a list row keeps its own copy), the block with
// the entry's texts and extras, and the type name the list looked up for it, if any.
struct EntryRow {
    const INTERNET_CACHE_ENTRY_INFOA *header = nullptr;
    const INTERNET_CACHE_ENTRY_INFOA *block = nullptr;
    const QString *typeName = nullptr; // null or empty: named from the file's extension
    URLCACHE_STORE_ID store = 0;       // the store the entry was read from; 0 unknown
};
inline EntryRow RowOf(const CatalogueEntry &e)
{
    return {e.get(), e.get(), nullptr, EntryStoreId(e)};
}
inline EntryRow RowOf(const HeaderCopy &e)
{
    return {&e.header, EntryBlock(e), nullptr, EntryStoreId(e)};
}
inline EntryRow RowOf(const Tcachedata &e)
{
    return {&e.header, EntryBlock(e), e.bShellInfoPending ? nullptr : &e.strTypeName, EntryStoreId(e)};
}
// The rows of a whole list; they point into it, so the list must stay as it is while they are used.
template <typename List>
std::vector<EntryRow> RowsOf(const List &list)
{
    std::vector<EntryRow> rows;
    rows.reserve(list.size());
    for (const auto &e : list)
        rows.push_back(RowOf(e));
    return rows;
}

// A time as local time "yyyy-MM-dd HH:mm:ss", and as ISO 8601 UTC "yyyy-MM-ddTHH:mm:ssZ",
// appended to `out`; nothing for 0 (unknown).
void AppendLocalTime(std::string &out, StoreTime time);
void AppendUtcTime(std::string &out, StoreTime time);

// Reads the fields of entries. Keeps what repeats from row to row (type names by extension,
// the local time offsets), so one object serves a whole list and outlives reloads; not for
// use from two threads at once. Make a new one after the time zone changes.
class EntryFields {
public:
    // `storeFolder` is what the StoreFolder field shows for a row whose store is not known.
    explicit EntryFields(QString storeFolder = {});

    // The field's value as text, as the list and the CSV show it: valid UTF-8 without control
    // characters other than tab, CR and LF; times in local time "yyyy-MM-dd HH:mm:ss"; empty
    // when the store does not know the value.
    void appendText(std::string &out, const EntryRow &row, EntryField field);
    QString text(const EntryRow &row, EntryField field);

    // The value of a Number or Time field (times as StoreTime); nothing when it is unknown or
    // the field is a Text field.
    std::optional<std::uint64_t> number(const EntryRow &row, EntryField field);

    // The kind of store the entry came from.
    StoreKind storeKind(const EntryRow &row) const;

    // The three-way order of two rows by `field`: texts as the list compares them, numbers and
    // times by value, an unknown value before every known one.
    int compare(const EntryRow &a, const EntryRow &b, EntryField field);

private:
    struct HeadFacts {
        std::string contentType;
        std::string contentEncoding;
        std::uint16_t status = 0;
    };
    const HeadFacts &headFacts(const EntryRow &row);
    const std::string &storeFolderOf(URLCACHE_STORE_ID store);
    void appendTypeName(std::string &out, const EntryRow &row);
    std::int64_t localOffset(std::int64_t unixSeconds);
    void appendLocal(std::string &out, StoreTime time);

    std::string m_storeFolder;
    // The facts of the last head read, kept with a copy of its bytes: the fields of one row ask
    // for them up to three times, and a block freed by a reload may come back at its address.
    std::string m_factsHead;
    HeadFacts m_facts;
    bool m_factsKnown = false;
    // A store id names one folder for the whole run.
    URLCACHE_STORE_ID m_folderStore = 0;
    std::string m_folderOfStore;
    std::unordered_map<std::string, std::string> m_typeNames; // by lower-cased extension + type
    std::string m_typeKey;
    struct Offset {
        std::int64_t bucket = INT64_MIN;
        std::int64_t seconds = 0;
    };
    std::array<Offset, 64> m_offsets{};
};

// The fields an entry's details show, in their order: where the document comes from, where
// its body is, its sizes, what the server said, its times and counts, the response head last.
const std::vector<EntryField> &DetailsFields();
struct EntryDetail {
    EntryField field;
    QString value; // never empty; the response head with its lines ending in "\n"
};
// The details fields that have a value, in their order.
std::vector<EntryDetail> EntryDetails(const EntryRow &row, EntryFields &fields);
// The details as plain text, one "caption: value" line per field that has a value; the
// response head follows on lines of its own. What the details window copies.
QString EntryDetailsText(const std::vector<EntryDetail> &details);

// Sorts the document list's rows by any field, in `direction` (+1 ascending, -1 descending).
// The list's own five columns sort exactly as SortViewList sorts them; the others by
// EntryFields::compare's order, with every key read once per row. Not stable.
void SortViewByField(ViewList &view, EntryField field, int direction, EntryFields &fields);
