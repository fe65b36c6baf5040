#include "bench.h"

#include "catalogue/catalogue.h"
#include "platform/processmemory.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sys/resource.h>
#include <unistd.h>

namespace {

long residentKb()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

long peakResidentKb()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

// The catalogue load as the main window runs it, without the window: enumerate, sort by
// host, build the host nodes. The previous catalogue is released first, and the freed pages
// given back once the new one is read, as a reload in the program does.
int RunLoad(const Arguments &args)
{
    long repeat = 1;
    if (args.size() == 3 && args[1] == "--repeat")
        repeat = std::strtol(args[2].c_str(), nullptr, 10);
    if ((args.size() != 1 && args.size() != 3) || repeat < 1) {
        std::fputs("usage: tidewrack-bench load STORE [--repeat N]\n", stderr);
        return 2;
    }
    if (!UseStore(args[0]))
        return 1;

    CacheList catalogue;
    std::vector<HostNode> nodes;
    std::vector<double> times, enumerateTimes;
    long afterFirst = 0;
    for (long i = 0; i < repeat; ++i) {
        nodes.clear();
        catalogue.clear();
        const auto start = std::chrono::steady_clock::now();
        catalogue = EnumerateCatalogue();
        const auto enumerated = std::chrono::steady_clock::now();
        SortByHost(catalogue);
        nodes = HostNodes(catalogue);
        const auto end = std::chrono::steady_clock::now();
        ReturnFreedMemory();
        times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
        enumerateTimes.push_back(std::chrono::duration<double, std::milli>(enumerated - start).count());
        if (i == 0)
            afterFirst = residentKb();
    }
    const double median = Median(times);
    std::printf("entries: %zu\n", catalogue.size());
    std::printf("hosts: %zu\n", nodes.size());
    std::printf("load_ms_median: %.2f\n", median);
    std::printf("enumerate_ms_median: %.2f\n", Median(enumerateTimes));
    std::printf("peak_rss_kb: %ld\n", peakResidentKb());
    std::printf("rss_after_first_kb: %ld\n", afterFirst);
    std::printf("rss_after_last_kb: %ld\n", residentKb());
    return 0;
}
