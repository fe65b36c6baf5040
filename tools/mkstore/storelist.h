#pragma once
// The entries tidewrack-mkstore writes: read from a list file, or made up in bulk.

#include "tools/writers/indexdatwriter.h"

#include <cstdint>
#include <string>
#include <vector>

// Reads a list: one entry a line, URL<TAB>extension or '-'<TAB>content[<TAB>gbk]. Content
// escapes: \n \t \r \\ \xHH; @gif @jpeg @png stand for small pictures. `gbk` stores the
// content in GBK. Empty lines and lines starting with '#' are skipped.
bool ReadStoreList(const std::string &path, std::vector<StoreWriterEntry> &entries, std::string &error);

// Made-up entries over `hosts` hosts: pages, style sheets, scripts, texts, applets and
// pictures, deterministic for a seed. Content comes from SyntheticContent.
std::vector<StoreWriterEntry> SyntheticEntries(std::size_t count, std::size_t hosts, std::uint64_t seed);
std::string SyntheticContent(const StoreWriterEntry &entry, std::size_t index, std::uint64_t seed,
                             std::size_t textBytes);
