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

// The folder that holds this process's written-out bodies: a folder of its own inside
// $XDG_CACHE_HOME/tidewrack/bodies (else ~/.cache/...), so that an instance that was killed
// leaves nothing another instance keeps. The program's folders are made with mode 0700 and
// used only when they are this user's own folders, never through a link. Tests set their own
// bodies folder.
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

// PlannedBodyPath for the entries of one store: the folders' part is worked out once, so a
// listing pays only for each entry's own part.
class BodyPathPlanner {
public:
    explicit BodyPathPlanner(std::string_view storeFolder);
    std::string path(std::string_view entryId, std::string_view url, std::string_view contentType) const;

private:
    std::string m_prefix; // the bodies folder / the store's folder /
};

// Reads the stored bytes of a body piece by piece (regular files only, without blocking), and
// hands each piece to `sink`; a sink returning false stops the read early. A body its kind
// keeps sealed is read by the kind's own reader (StoreKindInfo::readSealedBody); an encrypted body
// is given in clear.
StoreResult ReadStoredBody(const BodyRef &ref, const std::function<bool(std::string_view)> &sink);

// The same, decoded: the codings are undone on the way, within DecodeLimitFor. A body whose
// codings cannot be undone is given as stored; `decoded` (optional) says which happened and
// `cut` (optional) whether the limit cut it.
StoreResult ReadDecodedBody(const BodyRef &ref, const std::function<bool(std::string_view)> &sink,
                            bool *decoded = nullptr, bool *cut = nullptr);

// Writes the decoded body to `localPath` (under a temporary name, then renamed), unless the
// file there was written from the same state of the container. Refuses any path outside
// this process's bodies folder, and any that passes through a link. The bodies written
// stay within a budget (the least recently asked for go first, never the one being
// written), and a body that would leave the disk too little free space fails.
StoreResult WriteBodyFile(const BodyRef &ref, const std::string &localPath);

// The budget and the free space kept, in bytes, for tests: 0 and all ones mean the defaults
// (512 MiB or a tenth of the free space; 2 % of the disk, 64 MiB to 1 GiB).
void SetBodiesLimits(std::uint64_t budget, std::uint64_t margin);

// Makes and holds this process's folder, and removes what instances that no longer run left
// in the bodies folder. Returns why the bodies folder cannot be used (a link, another user's
// folder, one that others may enter), empty when it can; nothing is then removed or written.
// ReleaseBodiesFolder removes this process's folder.
std::string ClaimBodiesFolder();
void ReleaseBodiesFolder();
