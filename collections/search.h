#pragma once
// The search over the catalogue: by URL, by local path or by the full text of the local
// files, restricted to one document kind. No widgets here; the search dialog only fills a
// SearchCriteria and drives SearchCatalogue.

#include "catalogue/entry.h"
#include "stores/bodies.h"

#include <QString>
#include <QStringList>

#include <atomic>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Which text of an entry is compared: the indexes of the dialog's radio group.
enum class SearchField { Url = 0, FileName = 1, FullText = 2 };

// The document kinds of the dialog's drop-down list, by index.
enum DocKind {
    AllKinds = 0,  // "所有"
    TextKind = 1,  // "文本文档"
    ImageKind = 2, // "图片文档"
    HtmlKind = 3,  // "Htm,Html网页"
    CssKind = 4,   // "Css层叠样式表"
    JsKind = 5,    // "Js脚本"
    TxtKind = 6,   // "Txt文本"
    JpegKind = 7,  // "Jpg,Jpeg图片"
    GifKind = 8,   // "Gif图片"
    OtherKind = 9, // "其它"
    DocKindCount = 10,
};

// The item texts of the kinds, in index order.
QStringList DocKindNames();

// True when the local file name `path` passes the kind filter `kind` (0..9).
bool MatchesDocKind(std::string_view path, int kind);

// What one search looks for. A plain value: the dialog reads it from and writes it to its
// controls, the search takes it as it is.
struct SearchCriteria {
    SearchField field = SearchField::Url;
    int kind = AllKinds;
    QString text; // as typed

    bool operator==(const SearchCriteria &) const = default;

    // The lowered byte forms the compared texts are searched for: the UTF-8 form, and for a
    // full-text search also the GBK form where it exists and differs (cached Chinese pages
    // are often GBK). Empty text: one empty pattern, which every text holds.
    std::vector<std::string> patterns() const;
};

// Whether a file holds one of the patterns before its first zero byte.
enum class FileMatch { Hit, Miss, Unreadable };

// Searches files for lowered byte patterns, A..Z in the file's bytes folded as they are
// compared. Reads each file once in pieces of `chunkSize` bytes through one reused buffer,
// so that a file of any size gives the same answer as if it were read whole.
class ContentSearcher {
public:
    static constexpr std::size_t DefaultChunkSize = 4u << 20;

    explicit ContentSearcher(std::vector<std::string> patterns, std::size_t chunkSize = DefaultChunkSize);
    ~ContentSearcher();
    ContentSearcher(const ContentSearcher &) = delete;
    ContentSearcher &operator=(const ContentSearcher &) = delete;

    FileMatch searchFile(const char *path);
    // The same for a body kept inside a container file of a browser cache: read straight from
    // the container and decoded on the way, without writing a file.
    FileMatch searchBody(const BodyRef &body);

    // A flag that, once set, ends the file or body being searched at its next piece (as a miss).
    void setHalt(const std::atomic<bool> *halt) { m_halt = halt; }

private:
    bool halted() const { return m_halt && m_halt->load(std::memory_order_relaxed); }
    bool holdsPattern(const char *begin, const char *end) const;
    bool holdsPatternAfter(std::string_view text, char *buffer, std::size_t &kept) const;
    bool anyText() const;
    char *buffer();

    struct Pattern;
    std::vector<std::unique_ptr<Pattern>> m_patterns;
    std::size_t m_chunkSize;
    std::size_t m_overlap = 0;  // longest pattern - 1: a match across two pieces is still seen
    std::size_t m_shortest = 0; // no text shorter than this holds a pattern
    std::unique_ptr<char[]> m_buffer;
    std::vector<std::string> m_storeFolders; // where a linked file may lead
    const std::atomic<bool> *m_halt = nullptr;
};

// What the caller hears while a search runs.
struct SearchObserver {
    // A local file that could not be opened or read during a full-text search; its entry
    // is no hit and the search goes on.
    std::function<void(const CatalogueEntry &entry)> unreadable;
    // Called at most every 100 ms with the number of entries looked at so far (a time limit
    // alone: small files go by in thousands a second, and each call costs a repaint).
    std::function<void(std::size_t examined)> progress;
    // Asked with each progress report, and while a long file or body is searched: true stops
    // the search, which then gives the hits found so far.
    std::function<bool()> stopped;
};

// Goes through `list` in its order and returns the entries that pass the kind filter and
// hold the search text (every one when the text is empty): the same entries, no copies.
SearchList SearchCatalogue(const CacheList &list, const SearchCriteria &criteria, const SearchObserver &observer = {});
