// libFuzzer target: one simple-cache `_0` file, read whole and in the pieces a listing reads
// (start and end only), with the response-info pickle, the cache key and the index parser.

#include "stores/chromiumpickle.h"
#include "stores/chromiumsimple.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

void use(const SimpleEntryFacts &facts)
{
    if (facts.outcome != SimpleEntryFacts::Entry)
        return;
    StoreListing listing;
    StoreEntry entry;
    FillChromiumEntry(listing, entry, facts.key, &facts.info);
    listing.entries.push_back(entry);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    SimpleFileView whole;
    whole.head = whole.tail = data;
    whole.headSize = whole.tailSize = size;
    whole.fileSize = size;
    const SimpleEntryFacts facts = ParseSimpleEntry(whole, std::nullopt);
    use(facts);
    if (!facts.key.empty())
        (void)ParseSimpleEntry(whole, SimpleEntryHash(facts.key));

    // The start and the end only, as a listing reads a large file; the parser must ask for
    // more rather than read past them.
    SimpleFileView parts;
    parts.fileSize = size;
    parts.head = data;
    parts.headSize = std::min<std::size_t>(size, 64);
    parts.tailSize = std::min<std::size_t>(size, 96);
    parts.tail = data + (size - parts.tailSize);
    use(ParseSimpleEntry(parts, std::nullopt));

    ChromiumResponseInfo info;
    std::string why;
    if (ParseChromiumResponseInfo(data, size, info, why))
        (void)ChromiumHeadText(info.rawHeaders);
    (void)ParseSimpleIndex(data, size);
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    (void)ChromiumPartitionText(ParseChromiumKey(text));
    return 0;
}
