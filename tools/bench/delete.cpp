#include "bench.h"

#include "platform/urlcachestore.h"

#include <cstdio>

namespace {

const char *errorName(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
        return "not found";
    case ERROR_ACCESS_DENIED:
        return "access denied";
    case ERROR_WRITE_PROTECT:
        return "read-only store";
    case ERROR_SHARING_VIOLATION:
        return "in use";
    case ERROR_FILE_CORRUPT:
        return "damaged store";
    case ERROR_NOT_SUPPORTED:
        return "store cannot delete";
    case ERROR_DISK_FULL:
        return "disk full";
    case ERROR_WRITE_FAULT:
        return "I/O error";
    default:
        return "failed";
    }
}

} // namespace

int RunDelete(const Arguments &args)
{
    if (args.size() < 2) {
        std::fputs("usage: tidewrack-bench delete STORE KEY...\n", stderr);
        return 2;
    }
    if (!UseStore(args[0]))
        return 1;
    int failures = 0;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (DeleteUrlCacheEntry(args[i].c_str())) {
            std::printf("deleted\t%s\n", args[i].c_str());
            continue;
        }
        const DWORD error = GetLastError();
        std::printf("kept\t%s\terror %u (%s): %s\n", args[i].c_str(), error, errorName(error),
                    LastUrlCacheDeleteReason().c_str());
        ++failures;
    }
    return failures ? 1 : 0;
}
