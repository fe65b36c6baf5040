// tidewrack-bench view STORE HOST [--repeat N]: the document list's fill for one host node as
// the main window runs it, without the window: purge the catalogue, build view_list from the
// host's run, sort it by file name. The model shows rows on demand, so this is the whole cost
// of a fill. With --all-columns (tidewrack-bench-paint), the list is painted too: viewpaint.cpp.

#include "bench.h"

#include "catalogue/catalogue.h"
#include "catalogue/viewlist.h"
#include "platform/urlcachestore.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

double msSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

// Takes the arguments after the subcommand name: STORE HOST [--repeat N] [--all-columns].
int RunView(const Arguments &args, AllColumnsRun allColumnsRun)
{
    long repeat = 1;
    bool allColumns = false;
    bool ok = args.size() >= 2;
    for (std::size_t i = 2; ok && i < args.size(); ++i) {
        if (args[i] == "--all-columns")
            allColumns = true;
        else if (args[i] == "--repeat" && i + 1 < args.size())
            repeat = std::strtol(args[++i].c_str(), nullptr, 10);
        else
            ok = false;
    }
    if (!ok || repeat < 1 || (allColumns && !allColumnsRun)) {
        std::fputs("usage: tidewrack-bench view STORE HOST [--repeat N] [--all-columns]\n", stderr);
        return 2;
    }
    if (!UseStore(args[0]))
        return 1;

    CacheList catalogue = EnumerateCatalogue();
    SortByHost(catalogue);
    const std::string &host = args[1];

    ViewList view;
    std::vector<double> times;
    for (long i = 0; i < repeat; ++i) {
        const auto start = std::chrono::steady_clock::now();
        BuildHostViewList(view, catalogue, host); // purge, release, walk the host's run
        SortViewList(view, SortByFileName, +1);
        times.push_back(msSince(start));
    }
    const double median = Median(times);
    std::printf("rows: %zu\n", view.size());
    // The first fill after the load also reads the content folders' names; later ones find
    // them kept, as long as no folder changed.
    std::printf("view_ms_first: %.2f\n", times.front());
    std::printf("view_ms_median: %.2f\n", median);
    view.clear();
    const int status = allColumns ? allColumnsRun(catalogue, host, repeat) : 0;
    SetUrlCacheStore(nullptr);
    return status;
}
