#pragma once
// Criteria on what the cache knows of an entry besides its texts: its times, size, content
// type, HTTP status, partition and key. The search dialog's 更多条件 and the command line's
// filters fill the same EntryCriteria, so both pick the same entries. No widgets here.

#include "entry.h"
#include "entryfields.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>

// Which time a time range looks at.
enum class TimeField { LastAccess = 0, LastModified = 1, Expires = 2 };

// What a document is, by its content type (by its file name when the store kept no type).
enum class ContentKind { Page = 0, Image, Script, Style, Font, Media, Other, Count };

// "网页", "图像", "脚本", "样式表", "字体", "音视频", "其他", in ContentKind order.
QStringList ContentKindNames();
// "page", "image", "script", "style", "font", "media", "other": the command line's names.
const char *ContentKindId(ContentKind kind);
std::optional<ContentKind> ContentKindFromId(std::string_view id);
// The kind of a document with this content type (parameters allowed) and local file name.
ContentKind ContentKindOf(std::string_view contentType, std::string_view fileName);

struct EntryCriteria {
    TimeField timeField = TimeField::LastAccess;
    std::optional<StoreTime> notBefore;      // the time is at or after this
    std::optional<StoreTime> before;         // the time is before this
    std::optional<std::uint64_t> largerThan; // size in bytes, as stored
    std::optional<std::uint64_t> smallerThan;
    std::optional<ContentKind> kind;
    std::optional<std::uint32_t> status; // HTTP status
    QString partition;                   // contained in the partition, letter case ignored
    std::set<std::string> keys;          // the entry's key is one of these

    // True when no criterion is set: every entry passes.
    bool empty() const;
};

// Whether the entry passes every criterion set. An entry whose store does not know a value
// a criterion asks about (no time, no status) does not pass that criterion.
bool MatchesCriteria(const EntryRow &row, const EntryCriteria &criteria, EntryFields &fields);
// The entries of `list` that pass, in their order.
CacheList FilterByCriteria(const CacheList &list, const EntryCriteria &criteria);

// The command line's values. A duration "30d", "12h", "2w", "45m", "90s" (a plain number is
// days) as seconds; a size "500", "20K", "1.5M", "2G" (KB = 1024 bytes, a trailing "B" and
// letter case ignored) as bytes; a date "2026-12-01" (local midnight) or
// "2026-12-01T08:30:00" (local, or UTC with "Z") as StoreTime. Nothing when it does not parse.
std::optional<std::int64_t> ParseDuration(std::string_view text);
std::optional<std::uint64_t> ParseSize(std::string_view text);
std::optional<StoreTime> ParseDate(std::string_view text);

// What a set of entries amounts to: how many, how many bytes as stored, in how many caches.
struct EntryTally {
    std::size_t documents = 0;
    std::uint64_t bytes = 0;
    std::size_t stores = 0;
};
EntryTally TallyEntries(const CacheList &entries);

// Bytes for people: "512 字节", "12.5 KB", "3.2 MB", "1.1 GB".
QString ByteCountText(std::uint64_t bytes);
