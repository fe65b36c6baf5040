#pragma once
// The entries of a browser cache made from the same lists and made-up entries as a WinInet
// store: types from the extension, and a deterministic mix of content codings, partitions,
// anonymous and POST entries and compiled script, as real caches hold them.

#include "tools/writers/browserwriter.h"
#include "tools/writers/indexdatwriter.h"

#include <cstdint>
#include <vector>

std::vector<BrowserWriterEntry> BrowserEntries(const std::vector<StoreWriterEntry> &entries, std::uint64_t seed);
