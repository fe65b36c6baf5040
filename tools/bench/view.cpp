// tidewrack-bench view STORE HOST [--repeat N]: the document list's fill for one host node as
// the main window runs it, without the window: purge the catalogue, build view_list
// from the host's run, sort it by file name. The model shows rows on demand, so this is the
// whole cost of a fill.

#include "bench.h"

#include "catalogue/catalogue.h"
#include "catalogue/viewlist.h"
#include "platform/urlcachestore.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// Takes the arguments after the subcommand name: STORE HOST [--repeat N].
int RunView(const Arguments &args)
{
    long repeat = 1;
    if (args.size() == 4 && args[2] == "--repeat")
        repeat = std::strtol(args[3].c_str(), nullptr, 10);
    if ((args.size() != 2 && args.size() != 4) || repeat < 1) {
        std::fputs("usage: tidewrack-bench view STORE HOST [--repeat N]\n", stderr);
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
        const auto end = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    const double median = Median(times);
    std::printf("rows: %zu\n", view.size());
    // The first fill after the load also reads the content folders' names; later ones find
    // them kept, as long as no folder changed.
    std::printf("view_ms_first: %.2f\n", times.front());
    std::printf("view_ms_median: %.2f\n", median);
    SetUrlCacheStore(nullptr);
    return 0;
}
