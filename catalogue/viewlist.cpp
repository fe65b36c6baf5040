#include "viewlist.h"

#include "text.h"

#include <QByteArray>

#include <algorithm>
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
    for (const auto &element : source) {
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

// Sorts `view` by one precomputed key per record, then puts the records in that order.
template <typename Key, typename Compare>
void sortByKeys(ViewList &view, std::vector<Key> keys, int direction, Compare compare)
{
    std::vector<std::size_t> order(view.size());
    std::iota(order.begin(), order.end(), std::size_t(0));
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return compare(keys[a], keys[b]) * direction < 0; });
    ViewList sorted;
    sorted.reserve(view.size());
    for (const std::size_t i : order)
        sorted.push_back(std::move(view[i]));
    view.swap(sorted);
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

int CompareView(const Tcachedata &a, const Tcachedata &b, int key, int direction)
{
    int result = 0;
    switch (key) {
    case SortByFileName:
        result = CompareUppered(fileNameOf(a), fileNameOf(b));
        break;
    case SortByTypeName: {
        const QByteArray ta = a.strTypeName.toUtf8();
        const QByteArray tb = b.strTypeName.toUtf8();
        result = CompareUppered(std::string_view(ta.constData(), std::size_t(ta.size())),
                                std::string_view(tb.constData(), std::size_t(tb.size())));
        break;
    }
    case SortBySize:
        result = compareSizes(EntrySize(a.header), EntrySize(b.header));
        break;
    case SortByUrl:
        result = CompareUppered(SourceUrl(a), SourceUrl(b));
        break;
    case SortByLocation:
        result = CompareUppered(LocalFileName(a), LocalFileName(b));
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
    case SortByUrl:
    case SortByLocation: {
        std::vector<std::string_view> keys;
        keys.reserve(view.size());
        for (const Tcachedata &r : view) {
            if (key == SortByFileName)
                keys.push_back(fileNameOf(r));
            else
                keys.push_back(key == SortByUrl ? SourceUrl(r) : LocalFileName(r));
        }
        sortByKeys(view, std::move(keys), direction, CompareUppered);
        break;
    }
    case SortByTypeName: {
        std::vector<std::string> keys;
        keys.reserve(view.size());
        for (const Tcachedata &r : view)
            keys.push_back(r.strTypeName.toStdString());
        sortByKeys(view, std::move(keys), direction,
                   [](const std::string &a, const std::string &b) { return CompareUppered(a, b); });
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
