#include "bench.h"

#include "catalogue/entry.h"
#include "platform/urlcachestore.h"

#include <cstdio>
#include <memory>

// Walks the enumeration calls exactly as the catalogue does (two-step size protocol), but
// keeps every entry, with or without an extension.
int RunList(const Arguments &args)
{
    if (args.size() != 1) {
        std::fputs("usage: tidewrack-bench list STORE\n", stderr);
        return 2;
    }
    const auto store = UseStore(args[0]);
    if (!store)
        return 1;
    std::size_t count = 0;
    DWORD size = 0;
    HANDLE handle = FindFirstUrlCacheEntryA(nullptr, nullptr, &size);
    std::unique_ptr<std::byte[]> block;
    auto *info = static_cast<INTERNET_CACHE_ENTRY_INFOA *>(nullptr);
    bool more = !handle && GetLastError() == ERROR_INSUFFICIENT_BUFFER;
    bool first = true;
    while (more) {
        block = std::make_unique<std::byte[]>(size);
        info = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA *>(block.get());
        if (first) {
            handle = FindFirstUrlCacheEntryA(nullptr, info, &size);
            if (!handle)
                break;
            first = false;
        } else if (!FindNextUrlCacheEntryA(handle, info, &size)) {
            break;
        }
        const EntryExtras *extras = ExtrasOf(info);
        std::printf("%s\t%s\t%llu\t%s\n", SourceUrl(*info), LocalFileName(*info),
                    static_cast<unsigned long long>(EntrySize(*info)), extras ? extras->key : SourceUrl(*info));
        ++count;
        size = 0;
        more = !FindNextUrlCacheEntryA(handle, nullptr, &size) && GetLastError() == ERROR_INSUFFICIENT_BUFFER;
    }
    if (handle)
        FindCloseUrlCache(handle);
    const std::string problem = LastUrlCacheReadProblem();
    std::printf("kind: %s\nentries: %zu\nskipped: %zu\n", StoreKindId(store->kind()), count,
                std::size_t(LastUrlCacheSkippedCount()));
    if (!problem.empty()) {
        std::fprintf(stderr, "tidewrack-bench: %s\n", problem.c_str());
        return 1;
    }
    return 0;
}
