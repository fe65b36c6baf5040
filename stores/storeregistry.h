#pragma once
// Which kind of cache store a folder holds, opening it, and the caches found on this machine:
// the loop over the kinds of storekinds.cpp, each asked through its descriptor.

#include "cachestore.h"
#include "paths.h"

#include <memory>
#include <string>
#include <vector>

// What a path holds. `folder` is the store's own folder, found from the path given (a file in
// it, a browser profile folder, a folder above cache2/ or Cache/Cache_Data/...). With kind None,
// `why` says why nothing there can be read and `error` is NotACache, or Unsupported for a store
// of a kind the program does not read.
struct StoreProbe {
    StoreKind kind = StoreKind::None;
    std::string folder;
    std::string why;
    StoreError error = StoreError::NotACache;
};
StoreProbe ProbeStore(const std::string &path);
// The store whose own files lie directly in `folder`, without looking around it.
StoreProbe ProbeFolder(const std::string &folder);

// Opens the store at `path`. Never null: a path without a readable store gives an EmptyStore
// whose listing error says why.
std::shared_ptr<CacheStore> OpenStore(const std::string &path);

// A cache found on this machine, as the source menu lists it.
struct FoundStore {
    std::string name;    // "Firefox – default-release", "Chrome – Default", "Wine – IE缓存"
    std::string browser; // "IE", "Firefox", "Chrome", "Chromium", "Edge", "Brave", "Vivaldi", "Opera"
    StoreKind kind = StoreKind::None;
    std::string path;
};

// Where to look: the user's home and XDG folders, and the Wine prefix. Tests point it at a
// made-up home.
struct StoreSearchRoots {
    std::string home;
    std::string xdgConfigHome;            // empty: home/.config
    std::string xdgCacheHome;             // empty: home/.cache
    std::string winePrefix;               // empty: home/.wine
    std::string userName;                 // for the Wine prefix's user folder
    std::vector<std::string> extraStores; // TIDEWRACK_STORES: more folders to offer, ':'-separated
    static StoreSearchRoots fromEnvironment();
};

// The caches found, in menu order: the Wine prefix's WinInet cache, then Firefox profiles
// (classic, XDG, snap, flatpak), then the Chromium family's profiles, each browser in turn,
// then the extra stores. Only folders that hold a store of a known kind are listed.
std::vector<FoundStore> FindStores(const StoreSearchRoots &roots);

// The Wine prefix's WinInet content cache folder (whether it exists or not).
std::string WineCacheFolder(const StoreSearchRoots &roots);

// The store the user chose last, kept in a small file of its own
// ($XDG_CONFIG_HOME/tidewrack/last-store, one line): empty when there is none. Only a
// regular file is read, without blocking.
std::string RememberedStore();
// Keeps `path` as the choice for next time; on a failure the file keeps the earlier choice.
StoreResult RememberStore(const std::string &path);

// Which store the program opens at start, for the window and the command line alike. Each
// candidate is tried in order and the first that holds a store wins: the command line's,
// TIDEWRACK_URLCACHE, the remembered choice, the Wine prefix's cache, the first found.
struct StartChoice {
    std::string commandLine;
    std::string environment;
    std::string remembered;
};
struct StartStore {
    std::string path; // empty when no store was found
    std::string why;  // which candidate was taken, or why none was
};
StartStore ChooseStartStore(const StartChoice &choice, const StoreSearchRoots &roots);

// For the kinds' own probes and finders (and paths.h's IsDirectory, IsRegularFile).
// Whether `folder` holds a file whose name `test` accepts.
bool FolderHoldsFileNamed(const std::string &folder, bool (*test)(const char *name));
// The user's XDG config and cache folders under `roots`.
std::string ConfigHome(const StoreSearchRoots &roots);
std::string CacheHome(const StoreSearchRoots &roots);
// Appends the store in `folder` to a menu of found stores, when the folder holds one and it
// is not listed yet.
void AddFoundStore(std::vector<FoundStore> &out, std::string name, std::string browser, const std::string &folder);
