// Feeds arbitrary bytes to the content decoder as a stored body under one of several coding
// lists, whole and in pieces: nothing may read out of bounds, grow past the limit or hang,
// and both ways must give the same bytes. The same bytes go to the response-head and
// HTTP-date parsers.

#include "stores/bodydecoder.h"
#include "stores/storeentry.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

const char *const Codings[] = {"gzip",     "deflate",       "br",          "zstd", "gzip, br",
                               "br, gzip", "zstd, deflate", "x-gzip, zstd"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const char *coding = Codings[data[0] % (sizeof Codings / sizeof Codings[0])];
    const std::size_t pieceSize = 1 + data[1] % 64;
    const std::string_view stored(reinterpret_cast<const char *>(data + 2), size - 2);

    const DecodedBody whole = DecodeBody(stored, coding);
    if (whole.bytes.size() > DecodeLimitFor(stored.size()) && whole.decoded)
        __builtin_trap();

    BodyDecoder streaming(coding, DecodeLimitFor(stored.size()));
    std::string out;
    bool ok = true;
    for (std::size_t i = 0; ok && i < stored.size(); i += pieceSize)
        ok = streaming.feed(stored.substr(i, pieceSize), out);
    ok = ok && streaming.finish(out);
    if (out.size() > DecodeLimitFor(stored.size()))
        __builtin_trap();
    // A body that decodes whole decodes the same in pieces.
    if (whole.decoded && !whole.cut && whole.error.empty() && ok && out != whole.bytes)
        __builtin_trap();

    (void)ReadResponseFacts(stored);
    (void)StoreTimeFromHttpDate(stored);
    return 0;
}
