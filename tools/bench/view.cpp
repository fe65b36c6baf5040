// tidewrack-bench view STORE HOST [--repeat N] [--all-columns]: the document list's fill for
// one host node as the main window runs it, without the window: purge the catalogue, build
// view_list from the host's run, sort it by file name. The model shows rows on demand, so this
// is the whole cost of a fill.
//
// --all-columns adds what showing every column costs: the fill followed by the first paint of
// the real list control (offscreen, wide enough for every column), once with the list's five
// columns and once with all of them; every column's text of every row read through the model,
// as scrolling through the whole list would ask for it; and sorts by further columns.

#include "bench.h"

#include "app/lister.h"
#include "catalogue/catalogue.h"
#include "catalogue/documentlistmodel.h"
#include "catalogue/entryfields.h"
#include "catalogue/viewlist.h"
#include "platform/urlcachestore.h"

#include <QApplication>
#include <QHeaderView>
#include <QTreeView>

#include <algorithm>
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

struct PaintedFills {
    std::vector<double> whole; // the fill and the first paint
    std::vector<double> paint; // the first paint alone
};

// The fill and the first paint of the list with the first `columns` columns shown.
PaintedFills timePaintedFills(CacheList &catalogue, const std::string &host, long repeat, int columns)
{
    ViewList view;
    DocumentListModel model(view);
    Lister lister;
    lister.setModel(&model);
    lister.resize(2400, 700);
    lister.show();
    QHeaderView *header = lister.report()->header();
    for (int column = 0; column < DocumentListModel::AllColumnCount; ++column)
        header->setSectionHidden(column, column >= columns);
    PaintedFills times;
    for (long i = 0; i < repeat; ++i) {
        model.setRowCount(0);
        QApplication::processEvents();
        const auto start = std::chrono::steady_clock::now();
        BuildHostViewList(view, catalogue, host);
        SortViewList(view, SortByFileName, +1);
        model.setRowCount(int(view.size()));
        const auto painting = std::chrono::steady_clock::now();
        lister.grab(); // lays out, asks for the visible rows' data and paints them
        times.paint.push_back(msSince(painting));
        times.whole.push_back(msSince(start));
    }
    model.setRowCount(0);
    return times;
}

int runAllColumns(CacheList &catalogue, const std::string &host, long repeat)
{
    const PaintingApplication app;

    const PaintedFills five = timePaintedFills(catalogue, host, repeat, DocumentListModel::ColumnCount);
    const PaintedFills all = timePaintedFills(catalogue, host, repeat, DocumentListModel::AllColumnCount);

    ViewList view;
    BuildHostViewList(view, catalogue, host);
    DocumentListModel model(view);
    model.setRowCount(int(view.size()));
    std::vector<double> everyCell;
    std::size_t characters = 0;
    for (long i = 0; i < repeat; ++i) {
        const auto start = std::chrono::steady_clock::now();
        characters = 0;
        for (int row = 0; row < model.rowCount(); ++row)
            for (int column = 0; column < DocumentListModel::AllColumnCount; ++column)
                characters += std::size_t(model.data(model.index(row, column)).toString().size());
        everyCell.push_back(msSince(start));
    }
    const EntryField sorted[] = {EntryField::LastAccess, EntryField::HitCount, EntryField::ContentType};
    std::vector<std::vector<double>> sortTimes(std::size(sorted));
    for (long i = 0; i < repeat; ++i)
        for (std::size_t f = 0; f < std::size(sorted); ++f) {
            const auto start = std::chrono::steady_clock::now();
            SortViewByField(view, sorted[f], +1, model.fields());
            sortTimes[f].push_back(msSince(start));
        }
    model.setRowCount(0);

    std::printf("view_paint_5_columns_ms_median: %.2f\n", Median(five.whole));
    std::printf("view_paint_all_columns_ms_median: %.2f\n", Median(all.whole));
    std::printf("first_paint_5_columns_ms_median: %.2f\n", Median(five.paint));
    std::printf("first_paint_all_columns_ms_median: %.2f\n", Median(all.paint));
    std::printf("every_row_all_columns_text_ms_median: %.2f\n", Median(everyCell));
    std::printf("every_row_all_columns_characters: %zu\n", characters);
    for (std::size_t f = 0; f < std::size(sorted); ++f)
        std::printf("sort_%s_ms_median: %.2f\n", EntryFieldName(sorted[f]), Median(sortTimes[f]));
    return 0;
}

} // namespace

// Takes the arguments after the subcommand name: STORE HOST [--repeat N] [--all-columns].
int RunView(const Arguments &args)
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
    if (!ok || repeat < 1) {
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
    const int status = allColumns ? runAllColumns(catalogue, host, repeat) : 0;
    SetUrlCacheStore(nullptr);
    return status;
}
