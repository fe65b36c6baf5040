#pragma once
// Bodies that live inside a browser's container files, or are still content-encoded: where
// their local files are planned, reading them decoded, and writing them out when something
// needs a real file. Nothing here ever writes into a browser's cache: local files go to a
// private folder of the program's own.

#include "storeentry.h"
#include "storeerror.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// Where a body is: a byte range of a container file, and the codings still to undo.
struct BodyRef {
    std::string container;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::string contentEncoding;
};
BodyRef BodyRefOf(const StoreListing &listing, const StoreEntry &entry);

// The folder that holds written-out bodies: $XDG_CACHE_HOME/tidewrack/bodies (else
// ~/.cache/...), made with mode 0700 when needed. Tests set their own.
std::string BodiesFolder();
void SetBodiesFolder(std::string folder);

// The file name a body gets: the URL's last path segment (decoded where it is UTF-8, without
// separators or control characters, never starting with a dot, at most 120 bytes, "index"
// when empty), with an extension from the content type where the name has none.
std::string BodyFileName(std::string_view url, std::string_view contentType);

// The planned local path of an entry's body: the bodies folder / a folder for the store /
// a folder for the entry / BodyFileName. Nothing is created.
std::string PlannedBodyPath(std::string_view storeFolder, std::string_view entryId, std::string_view url,
                            std::string_view contentType);

// A reader for bodies kept encrypted in their container: true, with `result` set, when it
// read the container (open as `fd`); false when the container is none of its kind.
using SealedBodyReader = bool (*)(int fd, std::uint64_t fileSize, const std::string &container, std::uint64_t offset,
                                  std::uint64_t size, const std::function<bool(std::string_view)> &sink,
                                  StoreResult &result);
// The store that can open such bodies sets its reader when it is first opened.
void SetSealedBodyReader(SealedBodyReader reader);

// Reads the stored bytes of a body piece by piece (regular files only, without blocking), and
// hands each piece to `sink`; a sink returning false stops the read early. An encrypted body
// is given in clear.
StoreResult ReadStoredBody(const BodyRef &ref, const std::function<bool(std::string_view)> &sink);

// The same, decoded: the codings are undone on the way, within DecodeLimitFor. A body whose
// codings cannot be undone is given as stored; `decoded` (optional) says which happened and
// `cut` (optional) whether the limit cut it.
StoreResult ReadDecodedBody(const BodyRef &ref, const std::function<bool(std::string_view)> &sink,
                            bool *decoded = nullptr, bool *cut = nullptr);

// Writes the decoded body to `localPath` (under a temporary name, then renamed), unless the
// file there was written from the same state of the container. Refuses any path outside the
// bodies folder.
StoreResult WriteBodyFile(const BodyRef &ref, const std::string &localPath);

// Empties the bodies folder, unless another running instance of the program uses it. Takes
// this process's hold on the folder; ReleaseBodiesFolder gives it up and empties the folder
// when no other instance holds it.
void ClaimBodiesFolder();
void ReleaseBodiesFolder();
