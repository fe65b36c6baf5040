// tidewrack-bench window (run by tidewrack-bench-paint): the program's own window, started as
// the program starts it (splash, store, window, first load), offscreen, and driven as a user
// would: the time until the tree stands and is painted, a click on the host with the most
// documents until its list is painted, and a full-text search until the search station's list
// is painted. `--until` ends the process at once after that step, so that a whole-process
// timer (hyperfine) sees what a user waits for; the figures printed are the same steps timed
// inside the process, from main() on, with the process's CPU time at each.

#include "bench.h"

#include "app/catalogueloader.h"
#include "app/findform.h"
#include "app/lister.h"
#include "app/mainwindow.h"
#include "app/startup.h"
#include "app/treenodes.h"
#include "catalogue/catalogue.h"
#include "collections/search.h"
#include "stores/bodies.h"

#include <QApplication>
#include <QEventLoop>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double cpuMs()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

int usage()
{
    std::fputs("usage: tidewrack-bench window STORE [--text WORD] [--until tree|host|search]\n", stderr);
    return 2;
}

// What a user waits for ends with the step asked for: the rest is the program's tidying up,
// which the process skips (its bodies folder goes, as the program removes it).
[[noreturn]] void finish(int status, QTemporaryDir &appDir)
{
    ReleaseBodiesFolder();
    appDir.remove();
    std::fflush(stdout);
    std::_Exit(status);
}

// Runs the event loop until `ready` holds, looking every few milliseconds; the loads and
// fills run their own loops inside it, as they do in the program.
void waitFor(const std::function<bool()> &ready)
{
    QEventLoop loop;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (ready())
            loop.quit();
    });
    look.start(2);
    if (!ready())
        loop.exec();
}

} // namespace

int RunWindow(const Arguments &args, Clock::time_point started)
{
    std::string store, until = "search";
    QString word = QStringLiteral("zzqqxx"); // in no document: every body is read to the end
    for (std::size_t i = 0; i < args.size(); ++i) {
        const bool hasValue = i + 1 < args.size();
        if (args[i] == "--text" && hasValue)
            word = QString::fromStdString(args[++i]);
        else if (args[i] == "--until" && hasValue)
            until = args[++i];
        else if (args[i].rfind("--", 0) == 0 || !store.empty())
            return usage();
        else
            store = args[i];
    }
    if (store.empty() || (until != "tree" && until != "host" && until != "search"))
        return usage();
    // The user's own settings, remembered caches and bodies stay out of it.
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir appDir;

    PrepareProcess();
    const PaintingApplication app;
    auto msSinceStart = [started] { return std::chrono::duration<double, std::milli>(Clock::now() - started).count(); };
    auto report = [](const char *name, double ms, double cpu) {
        std::printf("%s_ms: %.1f\n%s_cpu_ms: %.1f\n", name, ms, name, cpu);
        std::fflush(stdout);
    };

    const std::unique_ptr<Tfrm_cache> window = StartTidewrack(appDir.path(), QString::fromStdString(store));
    auto *tree = window->findChild<QTreeWidget *>(QStringLiteral("Tree"));
    auto *lister = window->findChild<Lister *>(QStringLiteral("lister"));
    if (!tree || !lister) {
        std::fputs("tidewrack-bench: the window has no tree or list\n", stderr);
        finish(1, appDir);
    }
    waitFor([&] { return window->state().tree_ready && !window->loader().isLoading() && !window->logoForm(); });
    tree->grab();
    report("tree", msSinceStart(), cpuMs());
    std::printf("entries: %zu\nhosts: %d\n", window->state().cache_list.size(),
                tree->topLevelItem(CacheRoot) ? tree->topLevelItem(CacheRoot)->childCount() : 0);
    if (until == "tree")
        finish(0, appDir);

    // The host with the most documents; the tree's host nodes stand in the order of HostNodes.
    const CacheList &catalogue = window->state().cache_list;
    const std::vector<HostNode> hosts = HostNodes(catalogue);
    std::size_t largest = 0, most = 0;
    for (std::size_t i = 0; i < hosts.size(); ++i) {
        const std::size_t next = i + 1 < hosts.size() ? hosts[i + 1].first : catalogue.size();
        if (next - hosts[i].first > most) {
            most = next - hosts[i].first;
            largest = i;
        }
    }
    QTreeWidgetItem *root = tree->topLevelItem(CacheRoot);
    if (!root || int(largest) >= root->childCount()) {
        std::fputs("tidewrack-bench: the cache has no host\n", stderr);
        finish(1, appDir);
    }
    auto start = Clock::now();
    double cpu = cpuMs();
    tree->setCurrentItem(root->child(int(largest)));
    waitFor([&] { return window->state().list_ready; });
    lister->grab();
    report("host", std::chrono::duration<double, std::milli>(Clock::now() - start).count(), cpuMs() - cpu);
    std::printf("host_rows: %zu\n", window->state().view_list.size());
    if (until == "host")
        finish(0, appDir);

    SearchCriteria criteria;
    criteria.field = SearchField::FullText;
    criteria.text = word;
    Tfrm_find &find = window->findForm();
    find.setCriteria(criteria);
    start = Clock::now();
    cpu = cpuMs();
    find.RunSearch();
    find.btn_goClick(); // the hits in the search station's list
    lister->grab();
    report("search", std::chrono::duration<double, std::milli>(Clock::now() - start).count(), cpuMs() - cpu);
    std::printf("search_hits: %zu\n", window->state().search_list.size());
    finish(0, appDir);
}
