#include "bench.h"

#include "platform/urlcachestore.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

namespace {

// `count` keys of the store spread evenly over its listing, which is in the store's own
// order (for WinInet, hash order: the records lie all over the file).
std::vector<std::string> spreadKeys(CacheStore &store, long count)
{
    const StoreListing listing = store.list();
    std::vector<std::string> keys;
    const std::size_t n = listing.entries.size();
    if (n == 0 || count <= 0)
        return keys;
    const std::size_t want = std::min<std::size_t>(std::size_t(count), n);
    for (std::size_t i = 0; i < want; ++i)
        keys.emplace_back(listing.text(listing.entries[i * n / want].key));
    return keys;
}

// CPU time (user and system) of this process so far, in milliseconds.
double cpuMs()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval &t) { return double(t.tv_sec) * 1000 + double(t.tv_usec) / 1000; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

} // namespace

int RunDelete(const Arguments &args)
{
    const bool counted = args.size() == 3 && args[1] == "--count";
    if (args.size() < 2 || (args[1] == "--count" && !counted)) {
        std::fputs("usage: tidewrack-bench delete STORE KEY...\n"
                   "       tidewrack-bench delete STORE --count N\n",
                   stderr);
        return 2;
    }
    const auto store = UseStore(args[0]);
    if (!store)
        return 1;
    const std::vector<std::string> keys = counted ? spreadKeys(*store, std::strtol(args[2].c_str(), nullptr, 10))
                                                  : Arguments(args.begin() + 1, args.end());

    const double cpuBefore = cpuMs();
    const auto start = std::chrono::steady_clock::now();
    const std::vector<KeyRemoval> results = DeleteUrlCacheEntries(keys);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const double cpu = cpuMs() - cpuBefore;
    std::size_t deleted = 0, gone = 0, refused = 0;
    for (std::size_t i = 0; i < results.size(); ++i) {
        const KeyRemoval &r = results[i];
        if (r.outcome == RemovalOutcome::Deleted)
            ++deleted;
        else if (r.outcome == RemovalOutcome::AlreadyGone)
            ++gone;
        else
            ++refused;
        if (counted)
            continue;
        if (r.outcome == RemovalOutcome::Deleted)
            std::printf("deleted\t%s\n", keys[i].c_str());
        else if (r.outcome == RemovalOutcome::AlreadyGone)
            std::printf("gone\t%s\n", keys[i].c_str());
        else
            std::printf("kept\t%s\terror %s: %s\n", keys[i].c_str(), StoreErrorName(r.error), r.reason.c_str());
    }
    if (counted) {
        std::printf("keys: %zu\n", keys.size());
        std::printf("deleted: %zu\n", deleted);
        std::printf("already_gone: %zu\n", gone);
        std::printf("kept: %zu\n", refused);
        std::printf("delete_ms: %.2f\n", ms);
        std::printf("delete_cpu_ms: %.2f\n", cpu); // the pass alone, without choosing the keys
        if (refused && !results.empty())
            for (const KeyRemoval &r : results)
                if (!r.gone()) {
                    std::printf("first_kept: error %s: %s\n", StoreErrorName(r.error), r.reason.c_str());
                    break;
                }
    }
    return refused ? 1 : 0;
}
