#pragma once
// Writes a new Chromium simple cache folder (index, index-dir/the-real-index and one
// <hash>_0 file per entry, 24-byte records) as Chromium itself would have written it.

#include "browserwriter.h"

// Writes `entries` into `folder` (created when missing; it must not hold a cache yet).
[[nodiscard]] BrowserWriteResult WriteChromiumSimpleStore(const std::string &folder,
                                                          const std::vector<BrowserWriterEntry> &entries,
                                                          const BrowserWriterOptions &options = {});
