#include "search.h"

#include "catalogue/text.h"
#include "platform/cachefile.h"
#include "stores/bodydecoder.h"
#include "stores/parallel.h"

#include <QStringEncoder>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <unistd.h>

namespace {

// Folds A..Z in place; every other byte, GBK trail bytes included, stays as it is.
void LowerInPlace(char *begin, std::size_t size)
{
    auto *p = reinterpret_cast<unsigned char *>(begin);
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned char c = p[i];
        p[i] = c + ((unsigned char)(c - 'A') < 26u ? 32 : 0);
    }
}

bool ExtensionIs(std::string_view ext, std::string_view lowered)
{
    if (ext.size() != lowered.size())
        return false;
    for (std::size_t i = 0; i < ext.size(); ++i)
        if (LowerAsciiChar(ext[i]) != lowered[i])
            return false;
    return true;
}

bool Contains(std::string_view text, std::string_view pattern)
{
    if (pattern.empty())
        return true;
    return ::memmem(text.data(), text.size(), pattern.data(), pattern.size()) != nullptr;
}

// Reads until `size` bytes are in or the file ends; -1 on a read error.
long long ReadFull(int fd, char *to, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, to + done, size - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        done += std::size_t(n);
    }
    return (long long)done;
}

// Reports progress by the clock only: a report costs a repaint, and a fixed file count would
// repaint far too often while small files fly by.
class ProgressClock {
public:
    explicit ProgressClock(const std::function<void(std::size_t)> &report) : m_report(report) {}

    // True when it reported.
    bool tick(std::size_t examined)
    {
        if (!m_report)
            return false;
        const auto now = std::chrono::steady_clock::now();
        if (now - m_last < std::chrono::milliseconds(100))
            return false;
        m_last = now;
        m_report(examined);
        return true;
    }

private:
    const std::function<void(std::size_t)> &m_report;
    std::chrono::steady_clock::time_point m_last = std::chrono::steady_clock::now();
};

} // namespace

QStringList DocKindNames()
{
    return {QStringLiteral("所有"),         QStringLiteral("文本文档"),      QStringLiteral("图片文档"),
            QStringLiteral("Htm,Html网页"), QStringLiteral("Css层叠样式表"), QStringLiteral("Js脚本"),
            QStringLiteral("Txt文本"),      QStringLiteral("Jpg,Jpeg图片"),  QStringLiteral("Gif图片"),
            QStringLiteral("其它")};
}

bool MatchesDocKind(std::string_view path, int kind)
{
    const std::string_view ext = ExtensionOf(path);
    switch (kind) {
    case AllKinds:
        return true;
    case TextKind:
        return IsTextDocument(path);
    case ImageKind:
        return IsImageDocument(path);
    case HtmlKind:
        return ExtensionIs(ext, ".html") || ExtensionIs(ext, ".htm");
    case CssKind:
        return ExtensionIs(ext, ".css");
    case JsKind:
        return ExtensionIs(ext, ".js");
    case TxtKind:
        return ExtensionIs(ext, ".txt");
    case JpegKind:
        return ExtensionIs(ext, ".jpg") || ExtensionIs(ext, ".jpeg");
    case GifKind:
        return ExtensionIs(ext, ".gif");
    case OtherKind:
        return !IsTextDocument(path) && !IsImageDocument(path);
    default:
        return false;
    }
}

std::vector<std::string> SearchCriteria::patterns() const
{
    const QByteArray utf8 = text.toUtf8();
    std::vector<std::string> result{LowerAscii(std::string_view(utf8.constData(), std::size_t(utf8.size())))};
    if (field != SearchField::FullText || text.isEmpty())
        return result;
    QStringEncoder toGbk("GBK");
    if (!toGbk.isValid())
        return result;
    const QByteArray gbk = toGbk.encode(text);
    if (toGbk.hasError())
        return result; // the text has no GBK form
    std::string lowered = LowerAscii(std::string_view(gbk.constData(), std::size_t(gbk.size())));
    if (lowered != result.front())
        result.push_back(std::move(lowered));
    return result;
}

// One lowered pattern with its Horspool shift table. The table is indexed by the raw byte and
// treats A..Z as a..z, so the file's bytes are folded only where they are compared, never
// copied or rewritten.
struct ContentSearcher::Pattern {
    explicit Pattern(std::string lowered) : bytes(std::move(lowered))
    {
        const std::size_t m = bytes.size();
        shift.fill(m == 0 ? 1 : m);
        for (std::size_t i = 0; i + 1 < m; ++i) {
            const auto c = static_cast<unsigned char>(bytes[i]);
            shift[c] = m - 1 - i;
            if (c >= 'a' && c <= 'z')
                shift[c - 32] = m - 1 - i;
        }
    }

    // True when the folded text holds the pattern.
    bool foundIn(const unsigned char *text, std::size_t n) const
    {
        const std::size_t m = bytes.size();
        if (m == 0)
            return true;
        if (n < m)
            return false;
        std::size_t pos = 0;
#if defined(__SSE2__)
        // Sixteen places at a time: a place is a candidate when its first and the pattern's
        // last byte match; setting bit 5 folds a letter (and lets a few other bytes through,
        // which the full comparison then rejects).
        const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
        auto caseBit = [](unsigned char c) { return char(c >= 'a' && c <= 'z' ? 0x20 : 0); };
        const __m128i first = _mm_set1_epi8(char(p[0]));
        const __m128i last = _mm_set1_epi8(char(p[m - 1]));
        const __m128i firstFold = _mm_set1_epi8(caseBit(p[0]));
        const __m128i lastFold = _mm_set1_epi8(caseBit(p[m - 1]));
        for (; pos + m - 1 + 16 <= n; pos += 16) {
            const __m128i a = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(text + pos)), firstFold);
            const __m128i b =
                _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(text + pos + m - 1)), lastFold);
            unsigned mask =
                unsigned(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, last))));
            while (mask) {
                if (matchesAt(text + pos + unsigned(__builtin_ctz(mask))))
                    return true;
                mask &= mask - 1;
            }
        }
        for (; pos + m <= n; ++pos)
            if (matchesAt(text + pos))
                return true;
        return false;
#else
        const unsigned char lastByte = static_cast<unsigned char>(bytes[m - 1]);
        while (pos + m <= n) {
            const unsigned char c = text[pos + m - 1];
            if (Fold(c) == lastByte && matchesAt(text + pos))
                return true;
            pos += shift[c];
        }
        return false;
#endif
    }

    bool matchesAt(const unsigned char *at) const
    {
        for (std::size_t i = 0; i < bytes.size(); ++i)
            if (Fold(at[i]) != static_cast<unsigned char>(bytes[i]))
                return false;
        return true;
    }

    static unsigned char Fold(unsigned char c)
    {
        return c + ((unsigned char)(c - 'A') < 26u ? 32 : 0);
    }

    std::string bytes;
    std::array<std::size_t, 256> shift;
};

ContentSearcher::ContentSearcher(std::vector<std::string> patterns, std::size_t chunkSize)
    : m_chunkSize(std::max<std::size_t>(chunkSize, 1)), m_storeFolders(CacheStoreFolders())
{
    m_shortest = patterns.empty() ? 0 : SIZE_MAX;
    for (std::string &p : patterns) {
        m_overlap = std::max(m_overlap, p.empty() ? 0 : p.size() - 1);
        m_shortest = std::min(m_shortest, p.size());
        m_patterns.push_back(std::make_unique<Pattern>(std::move(p)));
    }
}

ContentSearcher::~ContentSearcher() = default;

bool ContentSearcher::holdsPattern(const char *begin, const char *end) const
{
    const auto *text = reinterpret_cast<const unsigned char *>(begin);
    const std::size_t n = std::size_t(end - begin);
    for (const auto &p : m_patterns)
        if (p->foundIn(text, n))
            return true;
    return false;
}

FileMatch ContentSearcher::searchFile(const char *path)
{
    // The path is already the platform's own bytes; plain POSIX calls keep this hot loop
    // free of conversions and of any buffering but our own. A FIFO, device or a link out of
    // the store is unreadable, never waited on.
    const CacheFile file = CacheFile::open(path, m_storeFolders);
    if (!file.isOpen())
        return FileMatch::Unreadable;
    const int fd = file.fd();

    char *const buffer = this->buffer();
    const bool anyText = this->anyText();
    std::size_t kept = 0; // tail of the previous piece, in front of the new one
    for (;;) {
        if (halted())
            return FileMatch::Miss;
        const long long got = ReadFull(fd, buffer + kept, m_chunkSize);
        if (got < 0)
            return FileMatch::Unreadable;
        if (anyText) // readable is all an empty search text asks
            return FileMatch::Hit;
        std::size_t fresh = std::size_t(got);
        if (fresh == 0)
            return FileMatch::Miss;
        // Text after the first zero byte does not count.
        const void *zero = std::memchr(buffer + kept, 0, fresh);
        if (zero)
            fresh = std::size_t(static_cast<const char *>(zero) - (buffer + kept));
        const std::size_t filled = kept + fresh;
        if (holdsPattern(buffer, buffer + filled))
            return FileMatch::Hit;
        if (zero || std::size_t(got) < m_chunkSize)
            return FileMatch::Miss;
        kept = std::min(m_overlap, filled);
        std::memmove(buffer, buffer + filled - kept, kept);
    }
}

// Searches `text`, which follows the `kept` bytes in `buffer` (the tail of the text before
// it), where it lies; only the seam, where a match may begin in the tail, is copied. Leaves the
// new tail in `buffer`.
bool ContentSearcher::holdsPatternAfter(std::string_view text, char *buffer, std::size_t &kept) const
{
    const std::size_t head = std::min(text.size(), m_overlap);
    std::memcpy(buffer + kept, text.data(), head);
    if ((kept > 0 && holdsPattern(buffer, buffer + kept + head))
        || holdsPattern(text.data(), text.data() + text.size()))
        return true;
    if (text.size() >= m_overlap) {
        kept = m_overlap;
        std::memcpy(buffer, text.data() + text.size() - kept, kept);
    } else { // the whole short text stands behind the old tail
        const std::size_t filled = kept + head;
        kept = std::min(m_overlap, filled);
        std::memmove(buffer, buffer + filled - kept, kept);
    }
    return false;
}

bool ContentSearcher::anyText() const
{
    return std::any_of(m_patterns.begin(), m_patterns.end(), [](const auto &p) { return p->bytes.empty(); });
}

char *ContentSearcher::buffer()
{
    if (!m_buffer)
        m_buffer = std::make_unique_for_overwrite<char[]>(std::max(m_chunkSize, m_overlap) + m_overlap);
    return m_buffer.get();
}

FileMatch ContentSearcher::searchBody(const BodyRef &body)
{
    const bool anyText = this->anyText();
    // A body kept as it is stored decodes to its stored size: one shorter than every pattern
    // cannot hold any, and is not read at all. So is an empty one, whatever its coding.
    if (!anyText && body.size < m_shortest && (body.size == 0 || ContentCodings(body.contentEncoding).empty()))
        return FileMatch::Miss;
    char *const buffer = this->buffer();
    std::size_t kept = 0; // the last piece's tail, in front of the next piece's head
    bool decided = false;
    FileMatch outcome = FileMatch::Miss;
    // The decoder hands out pieces of its own size, searched where they lie; only the seam
    // between two pieces, where a match may start in one and end in the next, is copied.
    const StoreResult read = ReadDecodedBody(body, [&](std::string_view piece) {
        if (halted()) {
            decided = true;
            return false;
        }
        if (anyText) {
            decided = true;
            outcome = FileMatch::Hit;
            return false;
        }
        // Text after the first zero byte does not count.
        const void *zero = std::memchr(piece.data(), 0, piece.size());
        std::string_view text =
            piece.substr(0, zero ? std::size_t(static_cast<const char *>(zero) - piece.data()) : piece.size());
        bool hit = false;
        while (!hit && !text.empty()) {
            const std::string_view slice = text.substr(0, m_chunkSize);
            text.remove_prefix(slice.size());
            hit = holdsPatternAfter(slice, buffer, kept);
        }
        if (hit || zero) {
            decided = true;
            outcome = hit ? FileMatch::Hit : FileMatch::Miss;
            return false;
        }
        return true;
    });
    if (decided)
        return outcome;
    // A body cut short or damaged still had its readable part searched.
    if (read.ok() || read.error == StoreError::Damaged)
        return anyText ? FileMatch::Hit : FileMatch::Miss;
    return FileMatch::Unreadable;
}

namespace {

// What the full-text search made of one entry.
enum class Outcome : std::uint8_t { Pending, NotOfKind, Miss, Hit, Unreadable };

Outcome examine(ContentSearcher &content, const CatalogueEntry &entry, int kind)
{
    const char *path = LocalFileName(entry);
    if (!MatchesDocKind(path, kind))
        return Outcome::NotOfKind;
    const FileMatch match =
        BodyInContainer(entry.get()) ? content.searchBody(EntryBodyRef(entry.get(), *entry)) : content.searchFile(path);
    return match == FileMatch::Hit ? Outcome::Hit : match == FileMatch::Miss ? Outcome::Miss : Outcome::Unreadable;
}

// Threads that read the files ahead of the caller, one for every core: reading and decoding
// is nearly all of a full-text search, and the caller's thread only waits for their answers.
// The bound keeps a machine of very many cores from opening as many files at once.
unsigned searchThreads(std::size_t entries)
{
    if (entries < 256)
        return 1;
    return std::clamp(std::thread::hardware_concurrency(), 1u, 64u);
}

} // namespace

SearchList SearchCatalogue(const CacheList &list, const SearchCriteria &criteria, const SearchObserver &observer)
{
    SearchList hits;
    const std::vector<std::string> patterns = criteria.patterns();
    const bool fullText = criteria.field == SearchField::FullText;
    ProgressClock progress(observer.progress);

    if (fullText) {
        // Workers examine the entries in chunks, ahead of this thread; this thread takes their
        // answers in the catalogue's order, so hits, unreadable reports and progress come
        // exactly as one thread alone would give them.
        const std::size_t n = list.size();
        std::unique_ptr<std::atomic<Outcome>[]> outcomes(new std::atomic<Outcome>[n]);
        for (std::size_t i = 0; i < n; ++i)
            outcomes[i].store(Outcome::Pending, std::memory_order_relaxed);
        std::atomic<std::size_t> next{0};
        std::atomic<bool> halt{false};
        constexpr std::size_t Chunk = 16;
        auto work = [&] {
            ContentSearcher content(patterns);
            content.setHalt(&halt);
            for (std::size_t start; !halt && (start = next.fetch_add(Chunk)) < n;) {
                for (std::size_t i = start; i < std::min(n, start + Chunk); ++i) {
                    outcomes[i].store(examine(content, list[i], criteria.kind), std::memory_order_release);
                    outcomes[i].notify_one();
                }
            }
        };
        // The caller hears of progress, and may stop, also while one large body is decoded.
        auto stopped = [&] { return observer.stopped && observer.stopped(); };
        auto takeInOrder = [&] {
            for (std::size_t i = 0; i < n; ++i) {
                progress.tick(i + 1);
                while (outcomes[i].load(std::memory_order_acquire) == Outcome::Pending && !halt) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                    if (progress.tick(i) && stopped())
                        halt = true;
                }
                if (halt || stopped()) {
                    halt = true;
                    return;
                }
                const Outcome outcome = outcomes[i].load(std::memory_order_acquire);
                if (outcome == Outcome::Unreadable && observer.unreadable)
                    observer.unreadable(list[i]);
                if (outcome == Outcome::Hit)
                    hits.push_back(list[i]);
            }
        };
        // The first part, on the caller's thread, takes the answers; the others decode.
        ParallelParts(1 + std::size_t(searchThreads(n)), [&](std::size_t part) { part == 0 ? takeInOrder() : work(); });
        return hits;
    }

    // An empty text is in every URL and path: the kind alone decides, and no text is copied.
    const bool anyText = std::any_of(patterns.begin(), patterns.end(), [](const std::string &p) { return p.empty(); });
    std::string lowered; // reused for every URL or path
    std::size_t examined = 0;
    for (const CatalogueEntry &entry : list) {
        if (++examined % 256 == 0) {
            progress.tick(examined);
            if (observer.stopped && observer.stopped())
                break;
        }
        const char *path = LocalFileName(entry);
        if (!MatchesDocKind(path, criteria.kind))
            continue;
        if (anyText) {
            hits.push_back(entry);
            continue;
        }
        // A body the browser keeps inside its own files has our private folder as its path,
        // which the user never chose: its name is what the list shows.
        const bool keptByBrowser = BodyInContainer(EntryBlock(entry));
        if (criteria.field == SearchField::Url)
            lowered.assign(SourceUrl(entry));
        else if (keptByBrowser)
            lowered.assign(FileNamePart(path));
        else
            lowered.assign(path);
        LowerInPlace(lowered.data(), lowered.size());
        if (std::any_of(patterns.begin(), patterns.end(), [&](const std::string &p) { return Contains(lowered, p); }))
            hits.push_back(entry);
    }
    return hits;
}
