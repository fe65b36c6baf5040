#pragma once
// Firefox's disk cache (cache2): a folder with entries/, one file per entry. Listing walks the
// entry files (the index beside them is only a summary Firefox repairs itself); deleting
// unlinks one entry file, and is refused while Firefox runs on the cache's profile.

#include "cachestore.h"
#include "storeregistry.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The kind's descriptor (storekind.h).
extern const StoreKindInfo FirefoxStoreKind;

// The cache2 store in `folder`: the folder holding entries/, or a folder whose entry files
// lie directly in it. The profile it belongs to is looked for under the user's folders.
std::shared_ptr<CacheStore> OpenFirefoxStore(const std::string &folder);
// The same, with the profile looked for under `roots`.
std::shared_ptr<CacheStore> OpenFirefoxStore(const std::string &folder, const StoreSearchRoots &roots);

// The profile folders the cache in `cacheFolder` may belong to, whether they exist or not:
// first those its own path names, whatever the home folder is (the folder holding cache2, as
// an absolute profile keeps its cache inside itself; for <root>/.cache/mozilla/firefox/<p>/cache2
// <root>/.mozilla/firefox/<p> and <root>/.config/mozilla/firefox/<p>, and a flatpak's
// <app>/cache/... the same under <app>), then for <cache home>/mozilla/firefox/<p>/cache2
// <home>/.mozilla/firefox/<p> and <config home>/mozilla/firefox/<p> (the same inside the snap
// and flatpak folders).
std::vector<std::string> FirefoxProfileFolders(const std::string &cacheFolder, const StoreSearchRoots &roots);

// Why Firefox counts as running on `profile`, in English: its `lock` link names a live
// process on this machine, or another process holds the lock on its `.parentlock`. Empty
// when neither is so.
std::string FirefoxProfileInUse(const std::string &profile);

// Why a Firefox process counts as running on a profile named `name` (the last part of its
// folder): it names such a folder on its command line or holds a file inside one open. Empty
// when none does.
std::string FirefoxRunningOnProfileNamed(const std::string &name);

// Reads bytes [offset, offset + size) of the clear data of the encrypted cache2 entry file
// `container` (open as `fd`, `fileSize` bytes), opening each chunk with the key of the cache's
// profile, and hands them to `sink`. False, untouched, when the file is no encrypted entry;
// true with `result` set otherwise.
bool ReadSealedFirefoxBody(int fd, std::uint64_t fileSize, const std::string &container, std::uint64_t offset,
                           std::uint64_t size, const std::function<bool(std::string_view)> &sink, StoreResult &result);
