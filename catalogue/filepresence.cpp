#include "filepresence.h"

#include "text.h"

#include <algorithm>
#include <chrono>
#include <dirent.h>
#include <list>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A change this close before a reading may not have moved the folder's timestamps: file
// systems keep them in coarse ticks (a few milliseconds here, two seconds on FAT).
constexpr std::int64_t RacyWindowNs = 2'000'000'000;
// Listings kept for folders not looked at recently go first beyond this many.
constexpr std::size_t KeptListings = 64;

enum Kind : std::uint8_t { Regular, AskFile };

std::int64_t nanoseconds(const timespec &t)
{
    return std::int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

std::uint64_t hashName(std::string_view name)
{
    std::uint64_t h = 14695981039346656037ull; // FNV-1a
    for (const char c : name) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ull;
    }
    return h;
}

} // namespace

// The names of one folder that may be regular files, in an open-addressing table.
struct FilePresence::Listing {
    bool readable = false; // false: every file of the folder is asked on its own
    bool trusted = false;  // the stamp vouches for the names (read well after the last change)
    FolderStamp stamp;
    std::string names;                  // every name, one after the other
    std::vector<std::uint32_t> offsets; // name i is names[offsets[i] .. offsets[i + 1])
    std::vector<std::uint64_t> hashes;
    std::vector<Kind> kinds;
    std::vector<std::uint32_t> slots; // 0 empty, else 1 + the name's index
    std::uint64_t mask = 0;

    void add(std::string_view name, Kind kind)
    {
        offsets.push_back(std::uint32_t(names.size()));
        names.append(name);
        hashes.push_back(hashName(name));
        kinds.push_back(kind);
    }
    void index()
    {
        offsets.push_back(std::uint32_t(names.size()));
        std::size_t size = 16;
        while (size < hashes.size() * 2)
            size *= 2;
        slots.assign(size, 0);
        mask = size - 1;
        for (std::uint32_t i = 0; i < hashes.size(); ++i) {
            std::uint64_t at = hashes[i] & mask;
            while (slots[at] != 0)
                at = (at + 1) & mask;
            slots[at] = i + 1;
        }
    }
    // The kind of `name`, or null when the folder holds no such name (or only a folder).
    const Kind *find(std::string_view name) const
    {
        const std::uint64_t h = hashName(name);
        for (std::uint64_t at = h & mask;; at = (at + 1) & mask) {
            const std::uint32_t slot = slots[at];
            if (slot == 0)
                return nullptr;
            const std::uint32_t i = slot - 1;
            if (hashes[i] == h && std::string_view(names).substr(offsets[i], offsets[i + 1] - offsets[i]) == name)
                return &kinds[i];
        }
    }
};

namespace {

// The listings every pass shares, by folder; the most recently used at the front.
struct Listings {
    std::mutex lock;
    std::list<std::pair<std::string, std::shared_ptr<const FilePresence::Listing>>> recent;
};

Listings &listings()
{
    static Listings kept;
    return kept;
}

std::shared_ptr<const FilePresence::Listing> keptListing(const std::string &folder)
{
    Listings &kept = listings();
    const std::lock_guard guard(kept.lock);
    for (auto it = kept.recent.begin(); it != kept.recent.end(); ++it)
        if (it->first == folder) {
            kept.recent.splice(kept.recent.begin(), kept.recent, it);
            return it->second;
        }
    return nullptr;
}

void keepListing(const std::string &folder, std::shared_ptr<const FilePresence::Listing> listing)
{
    Listings &kept = listings();
    const std::lock_guard guard(kept.lock);
    kept.recent.remove_if([&](const auto &item) { return item.first == folder; });
    kept.recent.emplace_front(folder, std::move(listing));
    if (kept.recent.size() > KeptListings)
        kept.recent.pop_back();
}

std::shared_ptr<const FilePresence::Listing> readListing(const std::string &folder)
{
    auto listing = std::make_shared<FilePresence::Listing>();
    const std::int64_t readAt =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    FolderStamp before;
    // A folder that can be listed but not entered gives names whose files cannot be opened:
    // those are asked one by one, as the file itself would answer.
    DIR *dir = FilePresence::stampOf(folder, before) && ::access(folder.c_str(), X_OK) == 0 ? ::opendir(folder.c_str())
                                                                                            : nullptr;
    if (dir) {
        while (const dirent *item = ::readdir(dir)) {
            if (item->d_type == DT_REG)
                listing->add(item->d_name, Regular);
            else if (item->d_type == DT_LNK || item->d_type == DT_UNKNOWN)
                listing->add(item->d_name, AskFile);
            // folders, devices, pipes: never a regular file
        }
        ::closedir(dir);
        listing->readable = true;
        listing->index();
        FolderStamp after;
        listing->stamp = before;
        // Adding or removing a name sets the modification time to the clock's tick: a change
        // in the tick the names were read in, just before and just after, would leave it.
        listing->trusted =
            FilePresence::stampOf(folder, after) && after == before && before.modifiedNs < readAt - RacyWindowNs;
    }
    return listing;
}

} // namespace

FilePresence::FilePresence() = default;
FilePresence::~FilePresence() = default;

bool FilePresence::stampOf(const std::string &folder, FolderStamp &stamp)
{
    struct stat info;
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    stamp.device = info.st_dev;
    stamp.inode = info.st_ino;
    stamp.size = std::uint64_t(info.st_size);
    stamp.modifiedNs = nanoseconds(info.st_mtim);
    stamp.changedNs = nanoseconds(info.st_ctim);
    return true;
}

void FilePresence::forgetListings()
{
    Listings &kept = listings();
    const std::lock_guard guard(kept.lock);
    kept.recent.clear();
}

const FilePresence::Listing *FilePresence::listingOf(std::string_view name)
{
    if (m_last && name == m_lastName)
        return m_last;
    std::string folder(name);
    auto found = m_pass.find(folder);
    if (found == m_pass.end()) {
        std::shared_ptr<const Listing> listing = keptListing(folder);
        FolderStamp now;
        const bool stamped = stampOf(folder, now);
        if (!listing || !listing->trusted || !stamped || !(listing->stamp == now)) {
            listing = readListing(folder);
            ++m_foldersRead;
            if (listing->trusted)
                keepListing(folder, listing);
        }
        if (!listing->trusted)
            m_stamped = false;
        else
            m_seen.push_back({folder, listing->stamp});
        found = m_pass.emplace(std::move(folder), std::move(listing)).first;
    }
    m_lastName.assign(name);
    m_last = found->second.get();
    return m_last;
}

bool FilePresence::askFile(const char *path)
{
    ++m_filesAsked;
    m_stamped = false;
    return FileExists(path);
}

bool FilePresence::exists(const char *path)
{
    if (!path || !*path)
        return false;
    const std::string_view whole(path);
    const std::size_t slash = whole.rfind('/');
    if (slash == std::string_view::npos || slash + 1 == whole.size())
        return askFile(path);
    const Listing *folder = listingOf(whole.substr(0, slash + 1));
    if (!folder->readable)
        return askFile(path);
    const Kind *kind = folder->find(whole.substr(slash + 1));
    if (!kind)
        return false;
    return *kind == Regular ? true : askFile(path);
}
