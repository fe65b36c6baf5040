// tidewrack-bench export STORE [--format csv|html|json|tsv] [--rows N] [--repeat N] [--out FILE]:
// the list export of the whole catalogue as the window writes it (every field, through
// QSaveFile), and the reading of every field of every entry as text, as a list showing all
// columns would. --rows takes the catalogue's entries over again until there are N rows, for
// sizes one store cannot hold.

#include "bench.h"

#include "catalogue/catalogue.h"
#include "catalogue/listexport.h"
#include "platform/urlcachestore.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

int usage()
{
    std::fputs(
        "usage: tidewrack-bench export STORE [--format csv|html|json|tsv] [--rows N] [--repeat N] [--out FILE]\n",
        stderr);
    return 2;
}

} // namespace

int RunExport(const Arguments &args)
{
    std::vector<std::string> positional;
    ListFormat format = ListFormat::Csv;
    long repeat = 1;
    long wantedRows = 0;
    std::string out;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const bool hasValue = i + 1 < args.size();
        if (args[i] == "--format" && hasValue) {
            const auto parsed = ListFormatFromName(args[++i]);
            if (!parsed)
                return usage();
            format = *parsed;
        } else if (args[i] == "--repeat" && hasValue) {
            repeat = std::strtol(args[++i].c_str(), nullptr, 10);
        } else if (args[i] == "--rows" && hasValue) {
            wantedRows = std::strtol(args[++i].c_str(), nullptr, 10);
        } else if (args[i] == "--out" && hasValue) {
            out = args[++i];
        } else if (args[i].rfind("--", 0) == 0) {
            return usage();
        } else {
            positional.push_back(args[i]);
        }
    }
    if (positional.size() != 1 || repeat < 1 || wantedRows < 0)
        return usage();
    const auto store = UseStore(positional[0]);
    if (!store)
        return 1;
    CacheList catalogue = EnumerateCatalogue();
    SortByHost(catalogue);
    std::vector<EntryRow> rows = RowsOf(catalogue);
    if (wantedRows > 0 && !catalogue.empty()) {
        rows.resize(std::size_t(wantedRows));
        for (std::size_t i = catalogue.size(); i < rows.size(); ++i)
            rows[i] = rows[i % catalogue.size()];
    }

    QTemporaryDir scratch;
    const QString path =
        out.empty() ? scratch.filePath(QStringLiteral("list.") + ListFormatName(format)) : QString::fromStdString(out);
    std::vector<double> exportTimes, fieldTimes;
    std::size_t textBytes = 0;
    for (long run = 0; run < repeat; ++run) {
        // A new reader each run: its caches (type names, time offsets) start empty, as in a new export.
        EntryFields fields(QString::fromStdString(store->folder()));
        QElapsedTimer clock;
        clock.start();
        QString why;
        if (!ExportEntryList(path, rows, format, fields, {}, &why)) {
            std::fprintf(stderr, "tidewrack-bench: %s\n", why.toLocal8Bit().constData());
            return 1;
        }
        exportTimes.push_back(double(clock.nsecsElapsed()) / 1e6);

        EntryFields shown(QString::fromStdString(store->folder()));
        clock.restart();
        textBytes = 0;
        for (const EntryRow &row : rows)
            for (int f = 0; f < EntryFieldCount; ++f)
                textBytes += std::size_t(shown.text(row, EntryField(f)).size());
        fieldTimes.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::printf("rows: %zu\n", rows.size());
    std::printf("format: %s\n", ListFormatName(format));
    std::printf("bytes: %lld\n", static_cast<long long>(QFileInfo(path).size()));
    std::printf("export_ms_median: %.2f\n", Median(exportTimes));
    std::printf("all_fields_text_ms_median: %.2f\n", Median(fieldTimes));
    std::printf("text_chars: %zu\n", textBytes);
    SetUrlCacheStore(nullptr);
    return 0;
}
