// tidewrack-bench fields STORE HOST [--repeat N]: one host's document list with every field as
// a column, without the window: every field of every row read as text (as painting every row
// would ask for it), and the rows sorted by each field in turn.

#include "bench.h"

#include "catalogue/catalogue.h"
#include "catalogue/entryfields.h"
#include "catalogue/viewlist.h"
#include "platform/urlcachestore.h"

#include <QElapsedTimer>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int RunFields(const Arguments &args)
{
    long repeat = 1;
    if (args.size() == 4 && args[2] == "--repeat")
        repeat = std::strtol(args[3].c_str(), nullptr, 10);
    if ((args.size() != 2 && args.size() != 4) || repeat < 1) {
        std::fputs("usage: tidewrack-bench fields STORE HOST [--repeat N]\n", stderr);
        return 2;
    }
    const auto store = UseStore(args[0]);
    if (!store)
        return 1;
    CacheList catalogue = EnumerateCatalogue();
    SortByHost(catalogue);
    ViewList view;
    BuildHostViewList(view, catalogue, args[1]);

    std::vector<double> textTimes;
    std::vector<std::vector<double>> sortTimes(EntryFieldCount);
    std::size_t characters = 0;
    for (long run = 0; run < repeat; ++run) {
        EntryFields fields(QString::fromStdString(store->folder()));
        QElapsedTimer clock;
        clock.start();
        characters = 0;
        for (const Tcachedata &record : view)
            for (int f = 0; f < EntryFieldCount; ++f)
                characters += std::size_t(fields.text(RowOf(record), EntryField(f)).size());
        textTimes.push_back(double(clock.nsecsElapsed()) / 1e6);
        for (int f = 0; f < EntryFieldCount; ++f) {
            clock.restart();
            SortViewByField(view, EntryField(f), +1, fields);
            sortTimes[std::size_t(f)].push_back(double(clock.nsecsElapsed()) / 1e6);
        }
    }
    std::printf("rows: %zu\n", view.size());
    std::printf("characters: %zu\n", characters);
    std::printf("all_fields_text_ms_median: %.2f\n", Median(textTimes));
    for (int f = 0; f < EntryFieldCount; ++f)
        std::printf("sort_%s_ms_median: %.2f\n", EntryFieldName(EntryField(f)), Median(sortTimes[std::size_t(f)]));
    SetUrlCacheStore(nullptr);
    return 0;
}
