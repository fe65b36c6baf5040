// tidewrack-bench export STORE [--format csv|html|json|tsv] [--rows N] [--repeat N] [--out FILE]:
// the list export of the whole catalogue as the window writes it (every field, through
// QSaveFile). --rows takes the catalogue's entries over again until there are N rows, for
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
#include <ctime>
#include <string>
#include <vector>

namespace {

// CPU time of this thread: a figure that other processes on a loaded machine disturb less
// than the clock on the wall.
double threadCpuMs()
{
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

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
    std::vector<double> exportTimes, exportCpu;
    for (long run = 0; run < repeat; ++run) {
        // A new reader each run: its caches (type names, time offsets) start empty, as in a new export.
        EntryFields fields(QString::fromStdString(store->folder()));
        QElapsedTimer clock;
        clock.start();
        const double cpuStart = threadCpuMs();
        if (const StoreResult written = ExportEntryList(path, rows, format, fields); !written.ok()) {
            std::fprintf(stderr, "tidewrack-bench: %s\n", written.reason.c_str());
            return 1;
        }
        exportTimes.push_back(double(clock.nsecsElapsed()) / 1e6);
        exportCpu.push_back(threadCpuMs() - cpuStart);
    }
    std::printf("rows: %zu\n", rows.size());
    std::printf("format: %s\n", ListFormatName(format));
    std::printf("bytes: %lld\n", static_cast<long long>(QFileInfo(path).size()));
    std::printf("export_ms_median: %.2f\n", Median(exportTimes));
    std::printf("export_cpu_ms_median: %.2f\n", Median(exportCpu));
    SetUrlCacheStore(nullptr);
    return 0;
}
