#pragma once
// Writes a new Firefox cache2 folder (entries/ with one file per entry, metadata version 3)
// as Firefox itself would have written it.

#include "browserwriter.h"

// Writes `entries` into `folder` (created when missing; it must not hold entries/ yet).
[[nodiscard]] BrowserWriteResult WriteFirefoxStore(const std::string &folder,
                                                   const std::vector<BrowserWriterEntry> &entries,
                                                   const BrowserWriterOptions &options = {});
