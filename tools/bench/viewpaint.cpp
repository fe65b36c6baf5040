// tidewrack-bench view STORE HOST --all-columns (run by tidewrack-bench-paint) adds to the
// fill what showing every column costs: the fill followed by the first paint of the real list
// control (offscreen, wide enough for every column), once with the list's five
// columns and once with all of them; every column's text of every row read through the model,
// as scrolling through the whole list would ask for it; and sorts by further columns.

#include "bench.h"

#include "app/lister.h"
#include "catalogue/catalogue.h"
#include "catalogue/documentlistmodel.h"
#include "catalogue/entryfields.h"
#include "catalogue/viewlist.h"

#include <QApplication>
#include <QHeaderView>
#include <QTreeView>

#include <algorithm>
#include <chrono>
#include <cstdio>
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

} // namespace

int RunAllColumns(CacheList &catalogue, const std::string &host, long repeat)
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
