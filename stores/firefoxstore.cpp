#include "firefoxstore.h"

#include "bodies.h"
#include "firefoxformat.h"
#include "parallel.h"
#include "paths.h"
#include "readfully.h"
#include "storeerror.h"

#include <QFile>
#include <QSettings>

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <signal.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

std::string cache2FolderOf(const std::string &folder);

bool startsWith(std::string_view s, std::string_view prefix)
{
    return s.size() >= prefix.size() && s.substr(0, prefix.size()) == prefix;
}

// Up to `limit` bytes of a /proc file (which says it is empty, whatever it holds).
std::string readProcFile(const std::string &path, std::size_t limit)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW);
    if (fd < 0)
        return {};
    std::string bytes(limit, '\0');
    std::size_t done = 0;
    while (done < limit) {
        const ssize_t n = ::read(fd, bytes.data() + done, limit - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += std::size_t(n);
    }
    ::close(fd);
    bytes.resize(done);
    return bytes;
}

// An address of this machine: loopback, or one of its interfaces'.
bool isLocalAddress(const in_addr &address)
{
    if ((ntohl(address.s_addr) >> 24) == 127)
        return true;
    ifaddrs *list = nullptr;
    if (::getifaddrs(&list) != 0)
        return false;
    bool local = false;
    for (const ifaddrs *i = list; i && !local; i = i->ifa_next)
        if (i->ifa_addr && i->ifa_addr->sa_family == AF_INET)
            local = reinterpret_cast<const sockaddr_in *>(i->ifa_addr)->sin_addr.s_addr == address.s_addr;
    ::freeifaddrs(list);
    return local;
}

// A folder Firefox has used as a profile: the files it keeps there from its first start.
bool looksLikeProfile(const std::string &folder)
{
    struct stat st {};
    for (const char *name : {"/prefs.js", "/times.json", "/compatibility.ini", "/.parentlock", "/lock"})
        if (::lstat((folder + name).c_str(), &st) == 0)
            return true;
    return false;
}

bool processAlive(pid_t pid)
{
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

// True when the prefs of a profile turn on the disk cache's encryption.
bool prefsEncryptCache(const std::string &profile)
{
    const std::string prefs = FileHead(profile + "/prefs.js", 16 * 1024 * 1024, false);
    static constexpr std::string_view Name = "\"browser.cache.disk.encryption.enabled\"";
    for (std::size_t at = prefs.find(Name); at != std::string::npos; at = prefs.find(Name, at + 1)) {
        std::size_t i = at + Name.size();
        while (i < prefs.size() && (prefs[i] == ' ' || prefs[i] == ','))
            ++i;
        if (prefs.compare(i, 4, "true") == 0)
            return true;
    }
    return false;
}

// The value of a string pref in prefs.js text: user_pref("name", "value");
std::string stringPref(const std::string &prefs, std::string_view name)
{
    const std::string quoted = "\"" + std::string(name) + "\"";
    std::string value;
    for (std::size_t at = prefs.find(quoted); at != std::string::npos; at = prefs.find(quoted, at + 1)) {
        std::size_t i = at + quoted.size();
        while (i < prefs.size() && (prefs[i] == ' ' || prefs[i] == ','))
            ++i;
        if (i >= prefs.size() || prefs[i] != '"')
            continue;
        const std::size_t close = prefs.find('"', i + 1);
        if (close != std::string::npos)
            value = prefs.substr(i + 1, close - i - 1); // the last setting wins, as in Firefox
    }
    return value;
}

// The cache key a profile keeps in its prefs, when it holds one.
std::optional<cache2::SealKey> prefsCacheKey(const std::string &profile)
{
    const std::string prefs = FileHead(profile + "/prefs.js", 16 * 1024 * 1024, false);
    cache2::SealKey key;
    if (cache2::DecodeSealKey(stringPref(prefs, "browser.cache.disk.encryption.key"), key))
        return key;
    return std::nullopt;
}

// Whether the index Firefox keeps beside the entries marks the cache as encrypted: index
// versions after 0xA carry an isEncrypted word after the 16-byte header.
bool indexSaysEncrypted(const std::string &cacheFolder)
{
    const std::string head = FileHead(cacheFolder + "/index", 20, false);
    if (head.size() < 20)
        return false;
    const std::uint32_t version = qFromBigEndian<quint32>(head.data());
    return version > 0xA && version < 0x100 && qFromBigEndian<quint32>(head.data() + 16) == 1;
}

struct FdCloser {
    int fd;
    ~FdCloser() { ::close(fd); }
};

using EntryName = std::array<char, 40>;

// One worker's part of a listing: its own texts, merged in file-name order afterwards.
struct ListingPart {
    StoreListing listing;
    // Entries whose metadata did not read, by reason: in an encrypted cache they are the
    // encrypted ones.
    std::map<std::string, std::uint32_t, std::less<>> unreadable;
    // Entries of a newer format than this reader knows, by version.
    std::map<std::uint32_t, std::uint32_t> newer;
};

class FirefoxStore : public CacheStore {
public:
    FirefoxStore(std::string folder, const StoreSearchRoots &roots)
        : m_folder(std::move(folder)), m_profiles(FirefoxProfileFolders(m_folder, roots))
    {
        m_entriesFolder = IsDirectory(m_folder + "/entries") ? m_folder + "/entries" : m_folder;
    }

    StoreKind kind() const override { return FirefoxStoreKind; }
    std::string folder() const override { return m_folder; }
    StoreListing list() override;
    std::string removalRefusal() const override;
    StoreResult remove(std::string_view key) override;
    // Asks whether Firefox runs once per so many entries, not for each.
    std::vector<KeyRemoval> removeMany(const std::vector<std::string> &keys,
                                       const RemovalProgress &progress = {}) override;

private:
    StoreResult removeEntry(std::string_view key);
    bool encrypted() const;
    void readEntries(int dirFd, const EntryName *names, std::size_t count, ListingPart &part) const;
    // The entries of `names`, read by a few workers at once, each into its own part.
    std::vector<ListingPart> listParts(int dirFd, const std::vector<EntryName> &names) const;
    // Entries left out for metadata that does not read are counted as encrypted where the cache
    // may be; a listing with no entry says why.
    void explainUnreadable(StoreListing &listing,
                           const std::map<std::string, std::uint32_t, std::less<>> &unreadable) const;
    // What one worker reuses from entry to entry.
    struct Scratch {
        std::vector<char> buffer;
        std::string path;
        std::string clear; // an encrypted entry's metadata, opened
        std::size_t firstRead = 1024;
        std::optional<BodyPathPlanner> bodies; // made once per listing part
    };
    void readEntry(int dirFd, std::string_view name, Scratch &scratch, ListingPart &part) const;

    std::string m_folder;
    std::string m_entriesFolder;
    std::vector<std::string> m_profiles;
    std::optional<cache2::SealKey> m_key; // of the profile, read at each listing
};

bool FirefoxStore::encrypted() const
{
    if (indexSaysEncrypted(m_folder))
        return true;
    return std::any_of(m_profiles.begin(), m_profiles.end(), prefsEncryptCache);
}

// Reads the metadata of one entry file and adds the entry to the part's listing, or counts
// why it was left out. Only the file's tail is read: a first read as large as the previous
// entry's metadata holds the offset and, nearly always, the whole metadata.
void FirefoxStore::readEntry(int dirFd, std::string_view name, Scratch &scratch, ListingPart &part) const
{
    StoreListing &listing = part.listing;
    char zname[41];
    std::memcpy(zname, name.data(), 40);
    zname[40] = 0;
    const int fd = ::openat(dirFd, zname, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
    if (fd < 0) {
        if (errno == ENOENT) // removed by Firefox since the folder was read
            return;
        listing.skip(errno == ELOOP ? "not a regular file" : "unreadable file");
        return;
    }
    const FdCloser closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        listing.skip("not a regular file");
        return;
    }
    const std::uint64_t fileSize = std::uint64_t(st.st_size);
    if (fileSize == 0) {
        // An entry Firefox has created but not written yet reads as empty; a file that says it
        // is empty and still gives bytes (a kernel's file bound over the entry) is no entry.
        char probe;
        if (ReadFullyAt(fd, &probe, 1, 0) != 0)
            listing.skip("not a regular file");
        return;
    }
    auto readAt = [fd](char *to, std::size_t count, std::uint64_t offset) {
        return ReadFullyAt(fd, to, count, offset) == (long long)count;
    };
    std::vector<char> &buffer = scratch.buffer;
    const std::size_t tailSize = std::size_t(std::min<std::uint64_t>(fileSize, scratch.firstRead));
    if (buffer.size() < tailSize)
        buffer.resize(scratch.firstRead);
    if (!readAt(buffer.data(), tailSize, fileSize - tailSize)) {
        listing.skip("unreadable file");
        return;
    }
    auto fail = [&](std::string_view reason) {
        const std::string why(reason);
        ++part.unreadable[why];
        listing.skip(why);
    };
    cache2::Trailer trailer;
    const std::string_view tail(buffer.data() + tailSize - std::min<std::size_t>(tailSize, 8),
                                std::min<std::size_t>(tailSize, 8));
    const cache2::MetaError trailerError = cache2::ReadTrailer(tail, fileSize, trailer);
    if (trailerError == cache2::MetaError::NewerVersion) {
        ++part.newer[cache2::NewerVersionOf(tail)];
        return;
    }
    if (trailerError != cache2::MetaError::None) {
        fail(cache2::MetaErrorReason(trailerError));
        return;
    }
    const std::uint64_t metaSize = fileSize - trailer.metaStart;
    // Entries of one cache have metadata of similar size: the next first read fits this one.
    scratch.firstRead = std::clamp<std::size_t>((std::size_t(metaSize) + 1023) / 1024 * 1024, 1024, 64 * 1024);
    std::string_view meta;
    if (metaSize <= tailSize) {
        meta = std::string_view(buffer.data() + tailSize - metaSize, std::size_t(metaSize));
    } else {
        // The metadata is larger than the first read: read the part before it too.
        const std::size_t missing = std::size_t(metaSize - tailSize);
        if (buffer.size() < metaSize)
            buffer.resize(std::size_t(metaSize));
        std::memmove(buffer.data() + missing, buffer.data(), tailSize);
        if (!readAt(buffer.data(), missing, trailer.metaStart)) {
            listing.skip("unreadable file");
            return;
        }
        meta = std::string_view(buffer.data(), std::size_t(metaSize));
    }
    cache2::Entry entry;
    const cache2::EntryResult result =
        cache2::ReadEntry(meta, fileSize, name, entry, m_key ? &*m_key : nullptr, &scratch.clear);
    if (result.error == cache2::EntryError::NotDocument)
        return;
    if (result.metaError == cache2::MetaError::NewerVersion) {
        ++part.newer[cache2::NewerVersionOf(meta)];
        return;
    }
    if (result.error != cache2::EntryError::None) {
        fail(result.reason());
        return;
    }
    std::string &path = scratch.path;
    path.resize(m_entriesFolder.size() + 1);
    path.append(name);
    StoreEntry out;
    cache2::FillStoreEntry(entry, path, listing, out);
    if (!scratch.bodies)
        scratch.bodies.emplace(m_folder);
    const std::string local = scratch.bodies->path(name, listing.text(out.url), listing.text(out.contentType));
    out.localFile = listing.addText(local);
    listing.entries.push_back(out);
}

void FirefoxStore::readEntries(int dirFd, const EntryName *names, std::size_t count, ListingPart &part) const
{
    Scratch scratch;
    scratch.buffer.resize(64 * 1024);
    scratch.path = m_entriesFolder + "/";
    scratch.path.reserve(scratch.path.size() + 40);
    part.listing.entries.reserve(count);
    part.listing.texts.reserve(count * 512); // about what an entry's texts take
    for (std::size_t i = 0; i < count; ++i)
        readEntry(dirFd, std::string_view(names[i].data(), 40), scratch, part);
}

namespace {

// The entry files of the folder, in name order: doomed/, trash*, index* and anything else
// are no entries. Links, FIFOs, devices and folders under an entry's name are never opened,
// only counted in `notRegular`. False, with errno, when the folder cannot be read.
bool entryFileNames(int dirFd, std::vector<EntryName> &names, std::uint32_t &notRegular)
{
    const int walkFd = ::dup(dirFd);
    DIR *dir = walkFd >= 0 ? ::fdopendir(walkFd) : nullptr;
    if (!dir) {
        if (walkFd >= 0) {
            const int cause = errno;
            ::close(walkFd);
            errno = cause;
        }
        return false;
    }
    while (const dirent *d = ::readdir(dir)) {
        if (!cache2::IsEntryFileName(d->d_name))
            continue;
        if (d->d_type != DT_REG && d->d_type != DT_UNKNOWN) {
            ++notRegular;
            continue;
        }
        EntryName name;
        std::memcpy(name.data(), d->d_name, 40);
        names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end(),
              [](const EntryName &a, const EntryName &b) { return std::memcmp(a.data(), b.data(), 40) < 0; });
    return true;
}

// The parts' listings joined in order, and their unreadable and newer-format entries added
// up into `unreadable` and the listing's own counts.
StoreListing joinParts(std::vector<ListingPart> &parts, std::map<std::string, std::uint32_t, std::less<>> &unreadable)
{
    std::map<std::uint32_t, std::uint32_t> newer;
    std::vector<StoreListing> listings;
    listings.reserve(parts.size());
    for (ListingPart &part : parts) {
        for (const auto &[reason, count] : part.unreadable)
            unreadable[reason] += count;
        for (const auto &[version, count] : part.newer)
            newer[version] += count;
        listings.push_back(std::move(part.listing));
    }
    StoreListing listing = JoinListings(listings);
    for (const auto &[version, count] : newer) {
        listing.newerFormat += count;
        listing.newerVersion = std::max(listing.newerVersion, version);
    }
    return listing;
}

} // namespace

std::vector<ListingPart> FirefoxStore::listParts(int dirFd, const std::vector<EntryName> &names) const
{
    // Two workers pay off once opening the files dominates; each lists a contiguous share,
    // so that the joined listing stays in file-name order.
    constexpr std::size_t ParallelFrom = 2000;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t workers = names.size() >= ParallelFrom ? std::min<std::size_t>(cores, 4) : 1;
    std::vector<ListingPart> parts(workers);
    ParallelParts(workers, [&](std::size_t part) {
        const PartRange range = ShareOf(names.size(), workers, part);
        readEntries(dirFd, names.data() + range.begin, range.end - range.begin, parts[part]);
    });
    return parts;
}

void FirefoxStore::explainUnreadable(StoreListing &listing,
                                     const std::map<std::string, std::uint32_t, std::less<>> &unreadable) const
{
    // Metadata that does not read may be encrypted: only then is it worth asking the index
    // and the profile's prefs. With the profile's key, what does not read is damage.
    if (!unreadable.empty() && !m_key
        && (unreadable.count(cache2::MetaErrorReason(cache2::MetaError::Encrypted)) || encrypted())) {
        std::uint32_t encrypted = 0;
        for (const auto &[reason, count] : unreadable) {
            encrypted += count;
            if ((listing.skipWhy[reason] -= count) == 0)
                listing.skipWhy.erase(reason);
        }
        listing.skipWhy["encrypted entry"] += encrypted;
        if (listing.entries.empty())
            listing.fail(
                StoreError::Encrypted,
                m_folder
                    + ": this Firefox cache is encrypted (disk cache encryption is turned on) and its profile's key "
                      "cannot be found; its entries cannot be read");
    }
    if (listing.entries.empty() && listing.ok() && listing.newerFormat && !listing.skipped)
        listing.fail(StoreError::NewerFormat,
                     m_folder + ": newer cache format (version " + std::to_string(listing.newerVersion)
                         + "): its entries were written by a newer Firefox than this program reads");
}

StoreListing FirefoxStore::list()
{
    m_key.reset();
    for (const std::string &profile : m_profiles)
        if ((m_key = prefsCacheKey(profile)))
            break;
    StoreListing failed;
    const int dirFd = ::open(m_entriesFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) {
        failed.failErrno(m_entriesFolder);
        return failed;
    }
    const FdCloser closer{dirFd};
    std::vector<EntryName> names;
    std::uint32_t notRegular = 0;
    if (!entryFileNames(dirFd, names, notRegular)) {
        failed.failErrno(m_entriesFolder);
        return failed;
    }
    std::vector<ListingPart> parts = listParts(dirFd, names);
    std::map<std::string, std::uint32_t, std::less<>> unreadable;
    StoreListing listing = joinParts(parts, unreadable);
    if (notRegular) {
        listing.skipped += notRegular;
        listing.skipWhy["not a regular file"] += notRegular;
    }
    explainUnreadable(listing, unreadable);
    return listing;
}

std::string FirefoxStore::removalRefusal() const
{
    bool found = false;
    for (const std::string &profile : m_profiles) {
        found = found || looksLikeProfile(profile);
        const std::string why = FirefoxProfileInUse(profile);
        if (!why.empty())
            return "Firefox is running on this profile (" + profile + ": " + why
                + "); close Firefox first, then delete";
    }
    // Without the profile its locks cannot be asked: a Firefox on a profile of the cache's
    // name may be the one writing it.
    if (!found) {
        const std::string cache2 = cache2FolderOf(m_folder);
        const std::string name = BaseName(cache2) == "cache2" ? BaseName(ParentOf(cache2)) : std::string();
        if (const std::string why = FirefoxRunningOnProfileNamed(name); !why.empty())
            return "the profile of this cache cannot be found, and Firefox may be running on it (" + why
                + "); close Firefox first, then delete";
    }
    return {};
}

StoreResult FirefoxStore::remove(std::string_view key)
{
    if (std::string refusal = removalRefusal(); !refusal.empty())
        return StoreResult::failure(StoreError::Busy, std::move(refusal));
    return removeEntry(key);
}

std::vector<KeyRemoval> FirefoxStore::removeMany(const std::vector<std::string> &keys, const RemovalProgress &progress)
{
    return removeEach(keys, progress, [this](std::string_view key) { return removeEntry(key); });
}

StoreResult FirefoxStore::removeEntry(std::string_view key)
{
    const std::string name = cache2::FileNameForKey(key);
    const std::string path = m_entriesFolder + "/" + name;
    const StoreResult notFound = StoreResult::failure(StoreError::NotFound, "no entry has this key");

    // Only a readable entry file of exactly this key is removed.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
    if (fd < 0) // a link under the entry's name is no entry file either
        return errno == ENOENT || errno == ELOOP
            ? notFound
            : StoreResult::failure(StoreError::Denied, path + ": " + std::strerror(errno));
    std::string meta;
    struct stat st {};
    bool read = false;
    cache2::Trailer trailer;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 4) {
        const std::uint64_t size = std::uint64_t(st.st_size);
        char tail[8];
        const std::size_t tailSize = std::size_t(std::min<std::uint64_t>(size, 8));
        if (::pread(fd, tail, tailSize, off_t(size - tailSize)) == ssize_t(tailSize)
            && cache2::ReadTrailer(std::string_view(tail, tailSize), size, trailer) == cache2::MetaError::None) {
            meta.resize(std::size_t(size - trailer.metaStart));
            read = ::pread(fd, meta.data(), meta.size(), off_t(trailer.metaStart)) == ssize_t(meta.size());
        }
    }
    ::close(fd);
    std::optional<cache2::SealKey> sealKey;
    if (read && trailer.encrypted) {
        for (const std::string &profile : m_profiles)
            if ((sealKey = prefsCacheKey(profile)))
                break;
        // Without the key nothing shows the entry is the one the key names.
        if (!sealKey)
            return StoreResult::failure(StoreError::Denied,
                                        path + ": the entry is encrypted and its profile's key cannot be found");
    }
    cache2::Entry entry;
    std::string clear;
    if (!read
        || cache2::ReadEntry(meta, std::uint64_t(st.st_size), name, entry, sealKey ? &*sealKey : nullptr, &clear).error
            != cache2::EntryError::None
        || entry.meta.key != key)
        return notFound;

    // The extracted copy first: when it cannot go, the entry stays as well.
    StoreListing scratch;
    StoreEntry e;
    cache2::FillStoreEntry(entry, path, scratch, e);
    const std::string local = PlannedBodyPath(m_folder, name, scratch.text(e.url), scratch.text(e.contentType));
    if (::unlink(local.c_str()) != 0 && errno != ENOENT && errno != ENOTDIR)
        return StoreResult::failure(StoreError::Denied, local + ": cannot be removed: " + std::strerror(errno));
    if (::unlink(path.c_str()) != 0) {
        const int error = errno;
        if (error == ENOENT)
            return notFound;
        return StoreResult::failure(error == EROFS       ? StoreError::DiskReadOnly
                                        : error == EBUSY ? StoreError::Busy
                                                         : StoreError::Denied,
                                    path + ": cannot be removed: " + std::strerror(error));
    }
    return {};
}

} // namespace

std::shared_ptr<CacheStore> OpenFirefoxStore(const std::string &folder)
{
    return OpenFirefoxStore(folder, StoreSearchRoots::fromEnvironment());
}

std::shared_ptr<CacheStore> OpenFirefoxStore(const std::string &folder, const StoreSearchRoots &roots)
{
    return std::make_shared<FirefoxStore>(folder, roots);
}

namespace {

bool endsWith(std::string_view s, std::string_view suffix)
{
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// The cache2 folder a store folder is, or lies in (an entries folder opened itself).
std::string cache2FolderOf(const std::string &folder)
{
    if (BaseName(folder) == "entries" && BaseName(ParentOf(folder)) == "cache2")
        return ParentOf(folder);
    return folder;
}

// The profile folders the cache's own path names, whatever $HOME says: the folder holding
// cache2, and for <root>/.cache/mozilla/firefox/<p>/cache2 the profile <root>/.mozilla/firefox/<p>
// and <root>/.config/mozilla/firefox/<p>; a flatpak's <app>/cache/... maps to <app>/.mozilla
// and <app>/config. A snap's <home>/snap/firefox/common/.cache is the first form.
void addPathProfiles(const std::string &cache2, std::vector<std::string> &out)
{
    if (BaseName(cache2) != "cache2")
        return;
    const std::string profile = ParentOf(cache2); // .../mozilla/firefox/<p>, or the profile itself
    out.push_back(profile);
    const std::string name = BaseName(profile);
    const std::string firefox = ParentOf(profile);
    if (name.empty() || name == ".." || name == "." || BaseName(firefox) != "firefox"
        || BaseName(ParentOf(firefox)) != "mozilla")
        return;
    const std::string cacheHome = ParentOf(ParentOf(firefox));
    const std::string root = ParentOf(cacheHome);
    if (BaseName(cacheHome) == ".cache") {
        out.push_back(root + "/.mozilla/firefox/" + name);
        out.push_back(root + "/.config/mozilla/firefox/" + name);
    } else if (BaseName(cacheHome) == "cache") {
        out.push_back(root + "/.mozilla/firefox/" + name);
        out.push_back(root + "/config/mozilla/firefox/" + name);
    }
}

} // namespace

std::vector<std::string> FirefoxProfileFolders(const std::string &cacheFolder, const StoreSearchRoots &roots)
{
    std::vector<std::string> out;
    auto add = [&out](std::string path) {
        if (std::find(out.begin(), out.end(), path) == out.end())
            out.push_back(std::move(path));
    };
    const std::string cache2 = cache2FolderOf(cacheFolder);
    std::vector<std::string> fromPath;
    addPathProfiles(cache2, fromPath);
    for (std::string &p : fromPath)
        add(std::move(p));
    if (roots.home.empty())
        return out;
    // The cache of a relative profile lies at the same relative path under the cache home;
    // snap and flatpak keep their own home, cache and config folders.
    struct Home {
        std::string root, cache, config;
    };
    const std::string snap = roots.home + "/snap/firefox/common";
    const std::string flatpak = roots.home + "/.var/app/org.mozilla.firefox";
    const Home homes[] = {
        {roots.home, roots.xdgCacheHome.empty() ? roots.home + "/.cache" : roots.xdgCacheHome,
         roots.xdgConfigHome.empty() ? roots.home + "/.config" : roots.xdgConfigHome},
        {snap, snap + "/.cache", snap + "/.config"},
        {flatpak, flatpak + "/cache", flatpak + "/config"},
    };
    constexpr std::string_view Tail = "/cache2";
    for (const Home &home : homes) {
        const std::string prefix = home.cache + "/mozilla/firefox/";
        if (!startsWith(cache2, prefix) || cache2.size() <= prefix.size() + Tail.size() || !endsWith(cache2, Tail))
            continue;
        const std::string relative = cache2.substr(prefix.size(), cache2.size() - prefix.size() - Tail.size());
        if (relative.empty() || relative.find("..") != std::string::npos)
            continue;
        add(home.root + "/.mozilla/firefox/" + relative);
        add(home.config + "/mozilla/firefox/" + relative);
    }
    return out;
}

std::string FirefoxRunningOnProfileNamed(const std::string &name)
{
    if (name.empty())
        return {};
    DIR *proc = ::opendir("/proc");
    if (!proc)
        return {};
    std::string found;
    const std::string inside = "/" + name + "/";
    while (const dirent *d = ::readdir(proc)) {
        const std::string pid = d->d_name;
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const std::string dir = "/proc/" + pid;
        std::string comm = readProcFile(dir + "/comm", 64);
        while (!comm.empty() && comm.back() == '\n')
            comm.pop_back();
        const std::string cmdline = readProcFile(dir + "/cmdline", 64 * 1024);
        const std::string argv0 = BaseName(cmdline.substr(0, cmdline.find('\0')));
        if (!startsWith(comm, "firefox") && !startsWith(argv0, "firefox"))
            continue;
        // A profile named on its command line...
        bool uses = false;
        for (std::size_t at = 0; at < cmdline.size() && !uses;) {
            const std::size_t nul = std::min(cmdline.find('\0', at), cmdline.size());
            std::string arg = cmdline.substr(at, nul - at);
            while (arg.size() > 1 && arg.back() == '/')
                arg.pop_back();
            uses = at > 0 && (arg == name || endsWith(arg, "/" + name));
            at = nul + 1;
        }
        // ...or a file of it held open (a default profile is named nowhere else).
        if (DIR *fds = uses ? nullptr : ::opendir((dir + "/fd").c_str())) {
            while (const dirent *f = ::readdir(fds)) {
                char target[4096];
                const ssize_t n = ::readlinkat(::dirfd(fds), f->d_name, target, sizeof target - 1);
                if (n > 0 && std::string_view(target, std::size_t(n)).find(inside) != std::string_view::npos) {
                    uses = true;
                    break;
                }
            }
            ::closedir(fds);
        }
        if (uses) {
            found = "process " + pid + " (" + comm + ") runs on a profile named " + name;
            break;
        }
    }
    ::closedir(proc);
    return found;
}

std::string FirefoxProfileInUse(const std::string &profile)
{
    // The link Firefox makes: "<IPv4 address>:<pid>", the pid marked '+' when Firefox also
    // holds the fcntl lock.
    char target[256];
    const ssize_t n = ::readlink((profile + "/lock").c_str(), target, sizeof target - 1);
    if (n > 0) {
        target[n] = 0;
        const std::string_view link(target, std::size_t(n));
        const std::size_t colon = link.rfind(':');
        if (colon != std::string_view::npos) {
            const std::string address(link.substr(0, colon));
            std::string_view pidText = link.substr(colon + 1);
            if (!pidText.empty() && pidText[0] == '+')
                pidText.remove_prefix(1);
            in_addr inet{};
            pid_t pid = 0;
            bool number = !pidText.empty() && pidText.size() <= 9;
            for (char c : pidText) {
                number = number && c >= '0' && c <= '9';
                pid = pid * 10 + (c - '0');
            }
            if (number && ::inet_pton(AF_INET, address.c_str(), &inet) == 1 && isLocalAddress(inet)
                && processAlive(pid))
                return "its lock names the live process " + std::to_string(pid);
        }
    }
    // The fcntl lock on .parentlock, asked about without taking it.
    const int fd =
        ::open((profile + "/.parentlock").c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
    if (fd >= 0) {
        struct stat st {};
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        const bool held =
            ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
        ::close(fd);
        if (held)
            return lock.l_pid > 0 ? "process " + std::to_string(lock.l_pid) + " holds its .parentlock"
                                  : "its .parentlock is held";
    }
    return {};
}

namespace {

// The keys of the caches whose encrypted bodies were read, by cache2 folder: looked for once.
std::optional<cache2::SealKey> keyForCache(const std::string &cache2)
{
    static std::mutex mutex;
    static std::map<std::string, cache2::SealKey> keys;
    std::lock_guard lock(mutex);
    if (const auto it = keys.find(cache2); it != keys.end())
        return it->second;
    for (const std::string &profile : FirefoxProfileFolders(cache2, StoreSearchRoots::fromEnvironment()))
        if (const auto key = prefsCacheKey(profile)) {
            keys[cache2] = *key;
            return key;
        }
    return std::nullopt;
}

} // namespace

bool ReadSealedFirefoxBody(int fd, std::uint64_t fileSize, const std::string &container, std::uint64_t offset,
                           std::uint64_t size, const std::function<bool(std::string_view)> &sink, StoreResult &result)
{
    // Asked for every body of every kind: the name alone turns most away.
    const std::string_view name = std::string_view(container).substr(container.rfind('/') + 1);
    if (!cache2::IsEntryFileName(name) || fileSize < 8)
        return false;
    const std::string entries = ParentOf(container);
    char tail[8];
    cache2::Trailer trailer;
    if (ReadFullyAt(fd, tail, 8, fileSize - 8) != 8
        || cache2::ReadTrailer(std::string_view(tail, 8), fileSize, trailer) != cache2::MetaError::None
        || !trailer.encrypted)
        return false;
    result = {};
    const std::string cache2 = BaseName(entries) == "entries" ? ParentOf(entries) : entries;
    const std::optional<cache2::SealKey> key = keyForCache(cache2);
    if (!key) {
        result = StoreResult::failure(StoreError::Denied,
                                      container + ": the entry is encrypted and its profile's key cannot be found");
        return true;
    }
    if (offset > trailer.dataSize || size > trailer.dataSize - offset) {
        result = StoreResult::failure(StoreError::Damaged, container + ": shorter than the entry says");
        return true;
    }
    std::string sealed, clear;
    const std::uint64_t end = offset + size;
    for (std::uint64_t i = offset / cache2::ChunkSize; i * cache2::ChunkSize < end; ++i) {
        const std::uint64_t start = i * cache2::ChunkSize;
        const std::size_t length = std::size_t(std::min<std::uint64_t>(cache2::ChunkSize, trailer.dataSize - start));
        sealed.resize(length + cache2::SealOverhead);
        if (ReadFullyAt(fd, sealed.data(), sealed.size(), i * (cache2::ChunkSize + cache2::SealOverhead))
                != (long long)sealed.size()
            || !cache2::OpenBlock(*key, i, sealed, {}, clear)) {
            result = StoreResult::failure(StoreError::Damaged, container + ": a chunk of the entry does not decrypt");
            return true;
        }
        const std::uint64_t from = std::max(offset, start) - start;
        const std::uint64_t to = std::min<std::uint64_t>(end, start + length) - start;
        if (!sink(std::string_view(clear).substr(std::size_t(from), std::size_t(to - from))))
            break;
    }
    return true;
}

// The kind's descriptor: how a cache2 folder is told, and where Firefox keeps its caches.
namespace {

// An entry file: the SHA-1 of its key in 40 upper-case hex digits.
bool isEntryFileName(const char *name)
{
    if (std::strlen(name) != 40)
        return false;
    for (int i = 0; i < 40; ++i)
        if (!std::isdigit(static_cast<unsigned char>(name[i])) && !(name[i] >= 'A' && name[i] <= 'F'))
            return false;
    return true;
}

FolderMatch probeFirefoxFolder(const std::string &folder, bool byNames)
{
    if (!byNames)
        return {IsDirectory(folder + "/entries") ? FolderMatch::Marker : FolderMatch::None, {}};
    // Entry files straight in the folder: a copied entries/ folder, or a cache2 folder as some
    // tools keep it.
    return {FolderHoldsFileNamed(folder, isEntryFileName) ? FolderMatch::Names : FolderMatch::None, {}};
}

// The value of a string pref in a profile's prefs.js; empty when it is not set.
std::string prefsString(const std::string &profile, const std::string &name)
{
    const std::string prefs = FileHead(profile + "/prefs.js", 4 * 1024 * 1024);
    const std::string quoted = "\"" + name + "\"";
    std::string value;
    for (std::size_t at = prefs.find(quoted); at != std::string::npos; at = prefs.find(quoted, at + 1)) {
        std::size_t i = at + quoted.size();
        while (i < prefs.size() && (prefs[i] == ' ' || prefs[i] == ','))
            ++i;
        const std::size_t close = i < prefs.size() && prefs[i] == '"' ? prefs.find('"', i + 1) : std::string::npos;
        if (close != std::string::npos)
            value = prefs.substr(i + 1, close - i - 1);
    }
    return value;
}

// A profile's cache where its prefs put it or under the cache home at the same relative path.
std::vector<std::string> firefoxCachesOfProfile(const std::string &profile)
{
    std::vector<std::string> out;
    if (!IsRegularFile(profile + "/prefs.js") && !IsRegularFile(profile + "/times.json"))
        return out;
    const StoreSearchRoots roots = StoreSearchRoots::fromEnvironment();
    if (const std::string dir = prefsString(profile, "browser.cache.disk.parent_directory");
        !dir.empty() && dir[0] == '/')
        out.push_back(dir + "/cache2");
    const std::string name = BaseName(profile);
    const std::string firefox = ParentOf(profile);
    const std::string mozilla = ParentOf(firefox);
    if (BaseName(firefox) == "firefox" && (BaseName(mozilla) == ".mozilla" || BaseName(mozilla) == "mozilla")) {
        // <root>/.mozilla, <root>/.config/mozilla or a flatpak's <app>/config/mozilla.
        std::string root = ParentOf(mozilla);
        if (BaseName(mozilla) == "mozilla")
            root = ParentOf(root);
        out.push_back(root + "/.cache/mozilla/firefox/" + name + "/cache2");
        out.push_back(root + "/cache/mozilla/firefox/" + name + "/cache2");
        if (!roots.xdgCacheHome.empty())
            out.push_back(roots.xdgCacheHome + "/mozilla/firefox/" + name + "/cache2");
    }
    return out;
}

// The profiles profiles.ini lists beside them; the cache of a relative profile lies under
// the cache root at the same relative path, that of an absolute one in the profile itself.
void findProfiles(std::vector<FoundStore> &out, const std::string &profilesRoot, const std::string &cacheRoot,
                  const std::string &suffix)
{
    const QString ini = QString::fromStdString(profilesRoot + "/profiles.ini");
    if (!QFile::exists(ini))
        return;
    QSettings settings(ini, QSettings::IniFormat);
    QStringList groups = settings.childGroups();
    groups.sort();
    for (const QString &group : groups) {
        if (!group.startsWith(QLatin1String("Profile")))
            continue;
        settings.beginGroup(group);
        const std::string path = settings.value(QStringLiteral("Path")).toString().toStdString();
        const bool relative = settings.value(QStringLiteral("IsRelative"), 1).toInt() != 0;
        std::string name = settings.value(QStringLiteral("Name")).toString().toStdString();
        settings.endGroup();
        if (path.empty() || (relative && (path.find("..") != std::string::npos || path[0] == '/')))
            continue;
        if (name.empty())
            name = BaseName(path);
        const std::string label = "Firefox" + suffix + " \u2013 " + name;
        if (relative) {
            AddFoundStore(out, label, "Firefox", cacheRoot + "/" + path + "/cache2");
            AddFoundStore(out, label, "Firefox", profilesRoot + "/" + path + "/cache2");
        } else {
            AddFoundStore(out, label, "Firefox", path + "/cache2");
        }
    }
}

// Classic, XDG, snap and flatpak profiles, in that order.
void findFirefoxStores(const StoreSearchRoots &roots, std::vector<FoundStore> &out)
{
    if (roots.home.empty())
        return;
    const std::string cache = CacheHome(roots);
    findProfiles(out, roots.home + "/.mozilla/firefox", cache + "/mozilla/firefox", "");
    findProfiles(out, ConfigHome(roots) + "/mozilla/firefox", cache + "/mozilla/firefox", "");
    findProfiles(out, roots.home + "/snap/firefox/common/.mozilla/firefox",
                 roots.home + "/snap/firefox/common/.cache/mozilla/firefox", " (snap)");
    findProfiles(out, roots.home + "/.var/app/org.mozilla.firefox/.mozilla/firefox",
                 roots.home + "/.var/app/org.mozilla.firefox/cache/mozilla/firefox", " (flatpak)");
}

constexpr const char *Cache2Folder[] = {"cache2", nullptr};

} // namespace

const StoreKindInfo FirefoxStoreKind = {
    .id = "firefox",
    .label = "Firefox",
    .probe = probeFirefoxFolder,
    .open = [](const std::string &folder) { return OpenFirefoxStore(folder); },
    .find = findFirefoxStores,
    .browserName = [](const std::string &) { return std::string("Firefox"); },
    .cachesOfProfile = firefoxCachesOfProfile,
    .below = Cache2Folder,
    .readSealedBody = ReadSealedFirefoxBody,
};
