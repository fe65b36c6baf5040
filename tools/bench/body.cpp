#include "bench.h"

#include "stores/bodies.h"
#include "stores/cachestore.h"

#include <cstdio>

// Writes the decoded body of the entry with the given key, as the program would show it.
int RunBody(const Arguments &args)
{
    if (args.size() != 2) {
        std::fputs("usage: tidewrack-bench body STORE KEY\n", stderr);
        return 2;
    }
    const auto store = UseStore(args[0]);
    if (!store)
        return 1;
    const StoreListing listing = store->list();
    for (const StoreEntry &entry : listing.entries) {
        if (listing.text(entry.key) != args[1])
            continue;
        StoreResult result;
        auto out = [](std::string_view piece) {
            return std::fwrite(piece.data(), 1, piece.size(), stdout) == piece.size();
        };
        if (entry.body == BodyPlace::Range) {
            result = ReadDecodedBody(BodyRefOf(listing, entry), out);
        } else if (entry.body == BodyPlace::LocalFile) {
            BodyRef whole;
            whole.container = std::string(listing.text(entry.localFile));
            whole.size = entry.size;
            result = ReadStoredBody(whole, out);
        } else {
            result = StoreResult::failure(StoreError::NotFound, "the store holds no body for this entry");
        }
        std::fflush(stdout);
        if (!result.ok()) {
            std::fprintf(stderr, "tidewrack-bench: %s\n", result.reason.c_str());
            return 1;
        }
        return 0;
    }
    std::fprintf(stderr, "tidewrack-bench: no entry has the key %s\n", args[1].c_str());
    return 1;
}
