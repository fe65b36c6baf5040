#pragma once
// Which kind of cache store a folder holds, opening it, and the caches found on this machine.

#include "cachestore.h"

#include <memory>
#include <string>
#include <vector>

// What a path holds. `folder` is the store's own folder, found from the path given (a file in
// it, a browser profile folder, a folder above cache2/ or Cache/Cache_Data/...). With kind None,
// `why` says why nothing there can be read.
struct StoreProbe {
    StoreKind kind = StoreKind::None;
    std::string folder;
    std::string why;
};
StoreProbe ProbeStore(const std::string &path);

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

// The browser name to show for a store folder opened by path ("Chrome" for a path below
// google-chrome, ...); for WinInet "IE".
std::string BrowserNameFor(StoreKind kind, const std::string &folder);

// The store the user chose last, kept in a small file of its own
// ($XDG_CONFIG_HOME/tidewrack/last-store, one line): empty when there is none. Only a
// regular file is read, without blocking.
std::string RememberedStore();
// Keeps `path` as the choice for next time; on a failure the file keeps the earlier choice.
StoreResult RememberStore(const std::string &path);

// The caption of the tree's cache root for a store: "IE缓存" for WinInet (and when there is
// no store), else the browser's name and 缓存, e.g. "Firefox缓存", "Chrome缓存".
std::string CacheRootCaption(StoreKind kind, const std::string &folder);

// Which store the program opens at start. Each candidate is tried in order and the first
// that holds a store wins: the command line's, TIDEWRACK_URLCACHE, the remembered choice,
// the Wine prefix's cache, the first found. `why` says which was taken, or why none was.
struct StartChoice {
    std::string commandLine;
    std::string environment;
    std::string remembered;
};
std::string ChooseStartStore(const StartChoice &choice, const StoreSearchRoots &roots, std::string *why);
