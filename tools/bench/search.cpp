// tidewrack-bench search: the program's own search over a store's catalogue, without a window.
//
//   search STORE --field url|name|text [--kind K] TEXT [--repeat N]
//
// Prints "hits: N" (of the last run) and "search_ms_median: X" over N runs. Unreadable files
// are counted, not reported one by one.

#include "bench.h"

#include "catalogue/catalogue.h"
#include "collections/search.h"
#include "platform/urlcachestore.h"

#include <QElapsedTimer>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int usage()
{
    std::fputs("usage: tidewrack-bench search STORE --field url|name|text [--kind K] TEXT [--repeat N]\n"
               "K is the document kind 0..9 (0 all, 1 text, 2 images, 3 htm/html, 4 css, 5 js,\n"
               "6 txt, 7 jpg/jpeg, 8 gif, 9 other).\n",
               stderr);
    return 2;
}

bool parseCount(const char *text, long long low, long long high, long long &out)
{
    char *end = nullptr;
    out = std::strtoll(text, &end, 10);
    return end && *end == '\0' && *text != '\0' && out >= low && out <= high;
}

} // namespace

int RunSearch(const Arguments &args)
{
    std::vector<std::string> positional;
    SearchCriteria criteria;
    bool haveField = false;
    long long repeat = 1;
    const std::size_t argc = args.size();
    for (std::size_t i = 0; i < argc; ++i) {
        const std::string &arg = args[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--field" && hasValue) {
            const std::string field = args[++i];
            if (field == "url")
                criteria.field = SearchField::Url;
            else if (field == "name")
                criteria.field = SearchField::FileName;
            else if (field == "text")
                criteria.field = SearchField::FullText;
            else
                return usage();
            haveField = true;
        } else if (arg == "--kind" && hasValue) {
            long long kind = 0;
            if (!parseCount(args[++i].c_str(), 0, DocKindCount - 1, kind))
                return usage();
            criteria.kind = int(kind);
        } else if (arg == "--repeat" && hasValue) {
            if (!parseCount(args[++i].c_str(), 1, 1000000, repeat))
                return usage();
        } else if (arg.rfind("--", 0) == 0 && arg.size() > 2) {
            return usage();
        } else {
            positional.push_back(arg);
        }
    }
    if (!haveField || positional.size() != 2)
        return usage();
    criteria.text = QString::fromUtf8(positional[1].c_str());

    if (!UseStore(positional[0]))
        return 1;
    CacheList catalogue = EnumerateCatalogue();
    SortByHost(catalogue);

    std::size_t unreadable = 0;
    SearchObserver observer;
    observer.unreadable = [&unreadable](const CatalogueEntry &) { ++unreadable; };
    std::vector<double> times;
    std::size_t hits = 0;
    for (long long run = 0; run < repeat; ++run) {
        unreadable = 0;
        QElapsedTimer clock;
        clock.start();
        hits = SearchCatalogue(catalogue, criteria, observer).size();
        times.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    const double median = Median(times);

    std::printf("entries: %zu\n", catalogue.size());
    std::printf("hits: %zu\n", hits);
    std::printf("unreadable: %zu\n", unreadable);
    std::printf("search_ms_median: %.3f\n", median);
    SetUrlCacheStore(nullptr);
    return 0;
}
