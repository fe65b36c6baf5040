#pragma once
// Whether regular files exist, for many paths at once. A cache keeps its files in a few
// folders of thousands each; a system call per file made every fill of the document list
// cost a stat for every entry of the catalogue, and even reading each folder's names once
// per fill costs more than the fill itself. So a folder's names are read once and kept, with
// the folder's stamp (its device, inode, size and change times): as long as the stamp stays,
// no name came or went, and a file is looked up among the names kept. What a listing cannot
// settle (a link, a name of unknown kind, a folder that cannot be read) is asked of the file.
//
// The stamp is trusted only when the folder's last change lies clearly before the reading:
// a change within the file system's timestamp granularity of the reading could leave the
// stamp as it was, so such a listing is read again the next time.

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// What a folder looked like: any name added or removed changes it.
struct FolderStamp {
    std::uint64_t device = 0, inode = 0, size = 0;
    std::int64_t modifiedNs = 0, changedNs = 0;
    bool operator==(const FolderStamp &) const = default;
};

// One pass over a list of paths. The folders' names are taken from the process-wide store of
// listings where their stamps still match, read anew where not.
class FilePresence {
public:
    FilePresence();
    ~FilePresence();
    FilePresence(const FilePresence &) = delete;
    FilePresence &operator=(const FilePresence &) = delete;

    // True only for an existing regular file, as FileExists() says: a directory does not
    // count, a link counts when it leads to a regular file, an empty or null path is missing.
    // Each folder is looked at once per pass.
    bool exists(const char *path);

    // True while every answer of this pass came from a listing whose stamp can vouch for it
    // later (no file was asked on its own, no listing was too fresh to trust).
    bool answeredFromStampedListings() const { return m_stamped; }
    // The folders this pass looked up files in, with their stamps as they were read.
    struct FolderSeen {
        std::string folder;
        FolderStamp stamp;
    };
    const std::vector<FolderSeen> &foldersSeen() const { return m_seen; }

    // How many folders this pass read and how many paths it asked of the file itself.
    std::size_t foldersRead() const { return m_foldersRead; }
    std::size_t filesAsked() const { return m_filesAsked; }

    // The stamp of `folder` now; false when it cannot be taken.
    static bool stampOf(const std::string &folder, FolderStamp &stamp);
    // Forgets every listing kept (tests).
    static void forgetListings();

    struct Listing;

private:
    const Listing *listingOf(std::string_view folder);
    bool askFile(const char *path);

    std::unordered_map<std::string, std::shared_ptr<const Listing>> m_pass;
    std::vector<FolderSeen> m_seen;
    // The folder of the previous path: entries of one folder mostly follow each other.
    std::string m_lastName;
    const Listing *m_last = nullptr;
    bool m_stamped = true;
    std::size_t m_foldersRead = 0;
    std::size_t m_filesAsked = 0;
};
