#include "viewlist.h"

#include "text.h"

#include <QByteArray>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <deque>
#include <numeric>
#include <string>
#include <vector>

namespace {

template <typename List, typename Take>
void fill(ViewList &view, List &source, Take take)
{
    PurgeMissingFiles(source);
    view.clear(); // releases every record with its type name
    bool matched = false;
    const std::size_t count = source.size();
    for (std::size_t i = 0; i < count; ++i) {
        // The entries lie all over the heap: ask for the ones ahead before they are read,
        // the header first and, once that is in, the URL it points at.
        if (i + 16 < count)
            __builtin_prefetch(EntryBlock(source[i + 16]));
        if (i + 8 < count)
            __builtin_prefetch(EntryHeader(source[i + 8]).lpszSourceUrlName);
        const auto &element = source[i];
        if (take(element)) {
            matched = true;
            view.push_back(MakeViewRecord(element));
        } else if (matched) {
            break; // the end of the host's run
        }
    }
}

std::string_view fileNameOf(const Tcachedata &r)
{
    return FileNamePart(LocalFileName(r));
}

int compareSizes(std::uint64_t a, std::uint64_t b)
{
    return a < b ? -1 : (a > b ? 1 : 0);
}

// Eight bytes of a text from `from` on as CompareUppered sees them (a..z read as A..Z),
// packed so that comparing two packs compares those bytes in order. A shorter text is padded
// with zero bytes, below every byte a text holds, so it comes first as CompareUppered has it.
std::uint64_t upperedPack(std::string_view text, std::size_t from)
{
    unsigned char bytes[8] = {};
    if (from < text.size())
        std::memcpy(bytes, text.data() + from, std::min<std::size_t>(8, text.size() - from));
    std::uint64_t packed = qFromBigEndian<std::uint64_t>(bytes); // the first byte the highest
    // All eight bytes at once: the high bit of each byte marks a..z, which loses 0x20.
    constexpr std::uint64_t ones = 0x0101010101010101ull;
    constexpr std::uint64_t highs = ones * 0x80;
    const std::uint64_t low7 = packed & ~highs;
    const std::uint64_t fromA = low7 + ones * (0x80 - 'a');     // high bit: low 7 bits >= 'a'
    const std::uint64_t pastZ = low7 + ones * (0x80 - 'z' - 1); // high bit: low 7 bits > 'z'
    const std::uint64_t lower = fromA & ~pastZ & ~packed & highs;
    return packed - (lower >> 2);
}

// Moves the records into the order `order` gives (the record at position i comes from
// order[i]), in place: a new list of records would be pages to fault in on every sort.
void applyOrder(ViewList &view, std::vector<std::size_t> &order)
{
    constexpr std::size_t Done = std::size_t(-1);
    for (std::size_t start = 0; start < order.size(); ++start) {
        if (order[start] == Done)
            continue;
        if (order[start] == start) {
            order[start] = Done;
            continue;
        }
        Tcachedata held = std::move(view[start]);
        std::size_t at = start;
        while (order[at] != start) {
            const std::size_t from = order[at];
            view[at] = std::move(view[from]);
            order[at] = Done;
            at = from;
        }
        view[at] = std::move(held);
        order[at] = Done;
    }
}

// Sorts `view` by one text key per record (`keyOf`) in CompareNamesUppered's order. Most
// pairs differ in their first sixteen bytes, which compare as two numbers; the rest as texts.
// ASCII keys (nearly all) are their own GBK text and are read in place.
template <typename KeyOf>
void sortByTexts(ViewList &view, KeyOf keyOf, int direction)
{
    // The index's top bit marks a key without a GBK form: those sort after all others.
    constexpr std::size_t Later = std::size_t(1) << (sizeof(std::size_t) * 8 - 1);
    struct Keyed {
        std::uint64_t head, next;
        std::size_t index;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(view.size());
    std::vector<std::string_view> keys;
    keys.reserve(view.size());
    std::deque<std::string> converted; // the keys of the other texts, where keys point
    for (std::size_t i = 0; i < view.size(); ++i) {
        // The texts lie all over the heap: ask for those of the records ahead early. A path
        // holds the file name at its end, often in its second cache line.
        if (i + 12 < view.size()) {
            const INTERNET_CACHE_ENTRY_INFOA &ahead = view[i + 12].header;
            __builtin_prefetch(ahead.lpszLocalFileName);
            __builtin_prefetch(ahead.lpszLocalFileName + 64);
            __builtin_prefetch(ahead.lpszSourceUrlName);
        }
        std::string_view key = keyOf(view[i]);
        std::size_t index = i;
        if (!IsAscii(key)) {
            if (GbkSortKey(key, converted.emplace_back()) != 0)
                index |= Later;
            key = converted.back();
        }
        keys.push_back(key);
        keyed.push_back({upperedPack(key, 0), upperedPack(key, 8), index});
    }
    auto before = [&](const Keyed &a, const Keyed &b) {
        if ((a.index ^ b.index) & Later)
            return (b.index & Later) != 0;
        if (a.head != b.head)
            return a.head < b.head;
        if (a.next != b.next)
            return a.next < b.next;
        return CompareUppered(keys[a.index & ~Later], keys[b.index & ~Later]) < 0;
    };
    if (direction < 0)
        std::sort(keyed.begin(), keyed.end(), [&](const Keyed &a, const Keyed &b) { return before(b, a); });
    else
        std::sort(keyed.begin(), keyed.end(), before);
    std::vector<std::size_t> order;
    order.reserve(keyed.size());
    for (const Keyed &k : keyed)
        order.push_back(k.index & ~Later);
    applyOrder(view, order);
}

// Sorts `view` by one precomputed key per record, then puts the records in that order.
template <typename Key, typename Compare>
void sortByKeys(ViewList &view, std::vector<Key> keys, int direction, Compare compare)
{
    std::vector<std::size_t> order(view.size());
    std::iota(order.begin(), order.end(), std::size_t(0));
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return compare(keys[a], keys[b]) * direction < 0; });
    applyOrder(view, order);
}

} // namespace

void BuildViewList(ViewList &view, CollectList &source)
{
    fill(view, source, [](const HeaderCopy &) { return true; });
}

void BuildViewList(ViewList &view, SearchList &source)
{
    fill(view, source, [](const CatalogueEntry &) { return true; });
}

void BuildHostViewList(ViewList &view, CacheList &source, std::string_view host)
{
    // The host may point into an entry that the purge drops: keep a copy.
    const std::string wanted(host);
    fill(view, source, [&](const CatalogueEntry &e) { return UrlHost(SourceUrl(e)) == wanted; });
}

void BuildHostViewList(ViewList &view, CacheList &source, std::string_view host, URLCACHE_STORE_ID store)
{
    const std::string wanted(host);
    fill(view, source,
         [&](const CatalogueEntry &e) { return EntryStoreId(e) == store && UrlHost(SourceUrl(e)) == wanted; });
}

int CompareView(const Tcachedata &a, const Tcachedata &b, int key, int direction)
{
    int result = 0;
    switch (key) {
    case SortByFileName:
        result = CompareNamesUppered(fileNameOf(a), fileNameOf(b));
        break;
    case SortByTypeName: {
        const QByteArray ta = a.strTypeName.toUtf8();
        const QByteArray tb = b.strTypeName.toUtf8();
        result = CompareNamesUppered(std::string_view(ta.constData(), std::size_t(ta.size())),
                                     std::string_view(tb.constData(), std::size_t(tb.size())));
        break;
    }
    case SortBySize:
        result = compareSizes(EntrySize(a.header), EntrySize(b.header));
        break;
    case SortByUrl:
        result = CompareNamesUppered(SourceUrl(a), SourceUrl(b));
        break;
    case SortByLocation:
        result = CompareNamesUppered(LocalFileName(a), LocalFileName(b));
        break;
    default:
        break;
    }
    return result * direction;
}

void SortViewList(ViewList &view, int key, int direction)
{
    // Lower-casing and then comparing with a..z read as A..Z is the same as comparing
    // upper-cased: CompareUppered on the texts in place needs no copies.
    switch (key) {
    case SortByFileName:
        sortByTexts(view, fileNameOf, direction);
        break;
    case SortByUrl:
        sortByTexts(
            view, [](const Tcachedata &r) { return std::string_view(SourceUrl(r)); }, direction);
        break;
    case SortByLocation:
        sortByTexts(
            view, [](const Tcachedata &r) { return std::string_view(LocalFileName(r)); }, direction);
        break;
    case SortByTypeName: {
        std::vector<std::pair<int, std::string>> keys(view.size());
        for (std::size_t i = 0; i < view.size(); ++i)
            keys[i].first = GbkSortKey(view[i].strTypeName.toStdString(), keys[i].second);
        sortByKeys(view, std::move(keys), direction, [](const auto &a, const auto &b) {
            return a.first != b.first ? a.first - b.first : CompareUppered(a.second, b.second);
        });
        break;
    }
    case SortBySize: {
        std::vector<std::uint64_t> keys;
        keys.reserve(view.size());
        for (const Tcachedata &r : view)
            keys.push_back(EntrySize(r.header));
        sortByKeys(view, std::move(keys), direction, compareSizes);
        break;
    }
    default:
        break; // every pair compares equal: the order stays as it is
    }
}
