#pragma once
// Writing the files of a new store: each file is created, never replaced.

#include <cstdint>
#include <string>
#include <string_view>

// Creates `path` (which must not exist yet) with `bytes` and the permission `mode`; with
// `mtime` (Unix seconds) given, the file's times are set to it. False with `error` naming the
// file and the cause.
bool WriteNewFile(const std::string &path, std::string_view bytes, std::string &error, unsigned mode = 0600,
                  std::int64_t mtime = -1);
