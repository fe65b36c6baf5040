#pragma once
// Who else uses a file or a cache: WinInet keeps its index mapped while a program works on
// the cache, Wine's programs open and map it only while they use it, and a write beside any
// of them would race that program's own changes.

#include <string>

// Another process that maps `path` into its memory, as "pid 1234 (name)"; empty when none
// is seen. Processes whose memory maps we may not read are not seen.
std::string OtherProcessMapping(const std::string &path);
// Another process that maps `path` or holds it open, said the same way. A process of this
// program, or of another Tidewrack program, that holds it open is not counted: it reads, or
// waits for the lock our deleters share.
std::string OtherProcessUsing(const std::string &path);

// The Wine prefix a path lies in: the folder above its `drive_c`; empty when it has none.
std::string WinePrefixOf(const std::string &path);
// The Wine server that runs for `prefix`, as "pid 1234 (wineserver of PREFIX)"; empty when
// none runs. Wine keeps one server per prefix, which holds a lock on the file `lock` in
// /tmp/.wine-<uid>/server-<device>-<inode>/ (the prefix folder's, in hex) while it lives;
// Debian's Wine uses /tmp/<name>/server-<device>-<inode>/, its name in <prefix>/wineserver.
std::string WineServerFor(const std::string &prefix);
