#pragma once
// Firefox's disk cache (cache2): a folder with entries/, one file per entry. Listing walks the
// entry files (the index beside them is only a summary Firefox repairs itself); deleting
// unlinks one entry file, and is refused while Firefox runs on the cache's profile.

#include "cachestore.h"
#include "storeregistry.h"

#include <memory>
#include <string>
#include <vector>

// The cache2 store in `folder`: the folder holding entries/, or a folder whose entry files
// lie directly in it. The profile it belongs to is looked for under the user's folders.
std::shared_ptr<CacheStore> OpenFirefoxStore(const std::string &folder);
// The same, with the profile looked for under `roots`.
std::shared_ptr<CacheStore> OpenFirefoxStore(const std::string &folder, const StoreSearchRoots &roots);

// The profile folders the cache in `cacheFolder` may belong to, whether they exist or not:
// the folder holding a cache2 folder (an absolute profile keeps its cache inside itself), and
// for <cache home>/mozilla/firefox/<p>/cache2 also <home>/.mozilla/firefox/<p> and <config
// home>/mozilla/firefox/<p> (the same inside the snap and flatpak folders).
std::vector<std::string> FirefoxProfileFolders(const std::string &cacheFolder, const StoreSearchRoots &roots);

// Why Firefox counts as running on `profile`, in English: its `lock` link names a live
// process on this machine, or another process holds the lock on its `.parentlock`. Empty
// when neither is so.
std::string FirefoxProfileInUse(const std::string &profile);
