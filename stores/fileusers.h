#pragma once
// Who else has a file mapped: WinInet keeps its index mapped while any program uses the
// cache, and a write beside it would race that program's own changes.

#include <string>

// Another process that maps `path` into its memory, as "pid 1234 (name)"; empty when none
// is seen. Processes whose memory maps we may not read are not seen.
std::string OtherProcessMapping(const std::string &path);
