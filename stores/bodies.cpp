#include "bodies.h"

#include "bodydecoder.h"
#include "storekind.h"

#include <QCryptographicHash>
#include <QMimeDatabase>
#include <QRandomGenerator>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {} // namespace

namespace {

std::mutex g_mutex;
std::string g_folder;   // empty: the default
std::string g_instance; // this process's folder inside the bodies folder
int g_bodiesFd = -1;    // the bodies folder, opened and checked once
int g_instanceFd = -1;  // this process's folder
int g_holdFd = -1;      // this process's hold on its folder
std::string g_refusal;  // why the bodies folder is not used
int g_folderErrno = 0;  // the cause of the last folder refused on the way to a body
int g_refusalErrno = 0; // the cause behind g_refusal
std::uint64_t g_temporaryCount = 0;

// What the container looked like when a body file was written from it.
struct Stamp {
    std::uint64_t device = 0, inode = 0, size = 0;
    std::int64_t mtimeSec = 0, mtimeNsec = 0;
    std::uint64_t offset = 0, length = 0;
    bool operator==(const Stamp &) const = default;
};
// A body file this process wrote: from what, how big, and when it was last asked for.
struct Written {
    Stamp stamp;
    std::uint64_t size = 0;
    std::uint64_t used = 0;
};
std::map<std::string, Written> g_written;
std::uint64_t g_total = 0;                  // bytes of all of them
std::uint64_t g_clock = 0;                  // orders the uses
std::uint64_t g_budget = 0;                 // set by tests; 0: the default
std::uint64_t g_margin = ~std::uint64_t(0); // set by tests; all ones: the default

constexpr std::uint64_t MiB = 1024 * 1024;
constexpr std::uint64_t DefaultBudget = 512 * MiB;

constexpr std::size_t ReadPiece = 256 * 1024;
constexpr char HoldName[] = ".hold";
constexpr char RunPrefix[] = "run-";
constexpr int MaxDepth = 64;

std::string cacheHome()
{
    if (const char *cache = std::getenv("XDG_CACHE_HOME"); cache && *cache == '/')
        return cache;
    if (const char *home = std::getenv("HOME"); home && *home)
        return std::string(home) + "/.cache";
    if (const passwd *pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
        return std::string(pw->pw_dir) + "/.cache";
    return "/tmp";
}

// The folder above the bodies folder, which belongs to the user and may be reached through
// links, and the folders below it that are the program's own.
std::pair<std::string, std::vector<std::string>> folderParts()
{
    if (g_folder.empty())
        return {cacheHome(), {"tidewrack", "bodies"}};
    const auto slash = g_folder.rfind('/');
    if (slash == std::string::npos)
        return {".", {g_folder}};
    return {slash == 0 ? std::string("/") : g_folder.substr(0, slash), {g_folder.substr(slash + 1)}};
}

std::string folderLocked()
{
    return g_folder.empty() ? cacheHome() + "/tidewrack/bodies" : g_folder;
}

std::string instanceLocked()
{
    if (g_instance.empty()) {
        const QByteArray tag = QByteArray::number(QRandomGenerator::system()->generate64(), 36);
        g_instance = RunPrefix + std::to_string(::getpid()) + "-" + tag.toStdString();
    }
    return g_instance;
}

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

void closeFolderLocked()
{
    closeFd(g_holdFd);
    closeFd(g_instanceFd);
    closeFd(g_bodiesFd);
    g_refusal.clear();
    g_written.clear();
    g_total = 0;
}

// Makes every missing folder of `path` with mode 0700 (the user's own folders, above ours).
bool makeFolders(const std::string &path)
{
    std::size_t slash = 1;
    while (slash != std::string::npos) {
        slash = path.find('/', slash + 1);
        const std::string part = path.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return false;
    errno = ENOTDIR; // for a file where the folder should be
    return S_ISDIR(st.st_mode);
}

// Opens (making it when missing) the folder `name` in `parent` without following a link, and
// only when it is a folder of this user's that no one else may enter (`private`; inside such
// a folder, that it is this user's).
int openOwnFolder(int parent, const std::string &name, std::string &why, bool privateMode = true)
{
    if (::mkdirat(parent, name.c_str(), 0700) != 0 && errno != EEXIST) {
        g_folderErrno = errno;
        why = name + ": " + std::strerror(errno);
        return -1;
    }
    const int fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        const bool notFolder = error == ELOOP || error == ENOTDIR;
        struct stat link {};
        // A link is refused as not ours; a file where the folder should be is no folder.
        const bool isLink = ::fstatat(parent, name.c_str(), &link, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(link.st_mode);
        g_folderErrno = !notFolder ? error : isLink ? EACCES : ENOTDIR;
        why = name
            + (notFolder ? ": a symbolic link or a file, not a folder of the program's own"
                         : std::string(": ") + std::strerror(error));
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode)) {
        g_folderErrno = ENOTDIR;
        why = name + ": not a folder";
    } else if (st.st_uid != ::geteuid()) {
        g_folderErrno = EACCES;
        why = name + ": belongs to another user";
    } else if (privateMode && (st.st_mode & 077) != 0) {
        g_folderErrno = EACCES;
        why = name + ": other users may enter it";
    } else {
        return fd;
    }
    ::close(fd);
    return -1;
}

// The bodies folder, opened once; -1 with g_refusal set when it is not ours.
int bodiesFdLocked()
{
    if (g_bodiesFd >= 0 || !g_refusal.empty())
        return g_bodiesFd;
    const auto [base, own] = folderParts();
    int fd = -1;
    if (makeFolders(base))
        fd = ::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        g_refusalErrno = g_folderErrno = errno;
        g_refusal = base + ": " + std::strerror(errno);
        return -1;
    }
    std::string why;
    std::string path = base;
    for (const std::string &name : own) {
        // The bodies folder itself is private; the program's folder above it need only be ours.
        const int next = openOwnFolder(fd, name, why, &name == &own.back());
        ::close(fd);
        fd = next;
        path += "/" + name;
        if (fd < 0) {
            g_refusal = path.substr(0, path.size() - name.size()) + why;
            g_refusalErrno = g_folderErrno;
            return -1;
        }
    }
    g_bodiesFd = fd;
    return fd;
}

// This process's folder inside the bodies folder, held so that no other instance removes it.
int instanceFdLocked(std::string &why)
{
    if (g_instanceFd >= 0)
        return g_instanceFd;
    const int bodies = bodiesFdLocked();
    if (bodies < 0) {
        why = g_refusal;
        g_folderErrno = g_refusalErrno;
        return -1;
    }
    const int fd = openOwnFolder(bodies, instanceLocked(), why);
    if (fd < 0)
        return -1;
    const int hold = ::openat(fd, HoldName, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (hold < 0 || ::flock(hold, LOCK_EX | LOCK_NB) != 0) {
        why = instanceLocked() + ": cannot be held: " + std::strerror(errno);
        if (hold >= 0)
            ::close(hold);
        ::close(fd);
        return -1;
    }
    g_instanceFd = fd;
    g_holdFd = hold;
    return fd;
}

// Removes `name` in `parent` and, for a folder, everything in it; links are removed, never
// followed.
void removeTree(int parent, const char *name, int depth)
{
    struct stat st {};
    if (::fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return;
    if (!S_ISDIR(st.st_mode)) {
        ::unlinkat(parent, name, 0);
        return;
    }
    const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return;
    if (DIR *dir = ::fdopendir(fd)) {
        std::vector<std::string> children;
        while (const dirent *child = ::readdir(dir))
            if (std::strcmp(child->d_name, ".") != 0 && std::strcmp(child->d_name, "..") != 0)
                children.emplace_back(child->d_name);
        if (depth < MaxDepth)
            for (const std::string &child : children)
                removeTree(::dirfd(dir), child.c_str(), depth + 1);
        ::closedir(dir);
    } else {
        ::close(fd);
    }
    ::unlinkat(parent, name, AT_REMOVEDIR);
}

enum class Hold { Held, Free, None };

// Whether a running instance holds the folder `name` in `parent`.
Hold holdOf(int parent, const char *name)
{
    const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return Hold::None;
    const int hold = ::openat(fd, HoldName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    ::close(fd);
    if (hold < 0)
        return Hold::None;
    const bool held = ::flock(hold, LOCK_EX | LOCK_NB) != 0;
    ::close(hold);
    return held ? Hold::Held : Hold::Free;
}

// Removes what instances that are no longer running left in the bodies folder.
void sweepLocked()
{
    const int bodies = bodiesFdLocked();
    if (bodies < 0)
        return;
    const int fd = ::dup(bodies);
    DIR *dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!dir) {
        if (fd >= 0)
            ::close(fd);
        return;
    }
    std::vector<std::string> names;
    while (const dirent *child = ::readdir(dir))
        if (std::strcmp(child->d_name, ".") != 0 && std::strcmp(child->d_name, "..") != 0)
            names.emplace_back(child->d_name);
    ::closedir(dir);
    for (const std::string &name : names) {
        if (name == g_instance)
            continue;
        struct stat st {};
        if (::fstatat(bodies, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(st.st_mode) && name.starts_with(RunPrefix)) {
            const Hold hold = holdOf(bodies, name.c_str());
            // An instance that is starting has made its folder and is about to hold it.
            if (hold == Hold::Held || (hold == Hold::None && st.st_mtime > ::time(nullptr) - 10))
                continue;
        }
        removeTree(bodies, name.c_str(), 0);
    }
}

// The folders below this process's folder that lead to a body file, made as needed and
// opened one by one from `instance` without following links; the last part of `relative` is
// left for the caller. -1 with `why` set when a part is refused.
int openBodyParentIn(int instance, const std::string &relative, std::string &name, std::string &why)
{
    std::vector<std::string> parts;
    std::size_t from = 0;
    while (from <= relative.size()) {
        const auto slash = relative.find('/', from);
        parts.push_back(relative.substr(from, slash == std::string::npos ? std::string::npos : slash - from));
        if (slash == std::string::npos)
            break;
        from = slash + 1;
    }
    for (const std::string &part : parts)
        if (part.empty() || part == "." || part == ".." || part == HoldName) {
            why = relative + ": not a body file's name";
            return -1;
        }
    int fd = ::dup(instance);
    if (fd < 0) {
        why = std::strerror(errno);
        return -1;
    }
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        const int next = openOwnFolder(fd, parts[i], why, false);
        ::close(fd);
        if (next < 0)
            return -1;
        fd = next;
    }
    name = parts.back();
    return fd;
}

std::uint64_t freeBytes(int fd)
{
    struct statvfs fs {};
    if (::fstatvfs(fd, &fs) != 0)
        return ~std::uint64_t(0);
    return std::uint64_t(fs.f_bavail) * fs.f_frsize;
}

// What the disk keeps free whatever bodies ask: 2 % of it, at least 64 MiB, at most 1 GiB.
std::uint64_t marginLocked(int fd)
{
    if (g_margin != ~std::uint64_t(0))
        return g_margin;
    struct statvfs fs {};
    if (::fstatvfs(fd, &fs) != 0)
        return 64 * MiB;
    return std::clamp<std::uint64_t>(std::uint64_t(fs.f_blocks) * fs.f_frsize / 50, 64 * MiB, 1024 * MiB);
}

// The most this process's bodies take together: 512 MiB, or a tenth of the free space they
// could have when that is less.
std::uint64_t budgetLocked(int fd)
{
    if (g_budget)
        return g_budget;
    const std::uint64_t free = freeBytes(fd);
    return free == ~std::uint64_t(0) ? DefaultBudget : std::min(DefaultBudget, (free + g_total) / 10);
}

// Removes the bodies asked for longest ago until `more` bytes fit the budget; the body being
// written (`keep`) stays whatever it takes, as the page shown needs it.
void makeRoomLocked(const std::string &folder, const std::string &keep, std::uint64_t more)
{
    if (g_instanceFd < 0)
        return;
    const std::uint64_t budget = budgetLocked(g_instanceFd);
    while (g_total + more > budget) {
        auto oldest = g_written.end();
        for (auto it = g_written.begin(); it != g_written.end(); ++it)
            if (it->first != keep && (oldest == g_written.end() || it->second.used < oldest->second.used))
                oldest = it;
        if (oldest == g_written.end())
            return;
        std::string name, why;
        if (oldest->first.size() > folder.size()) {
            const int dirFd = openBodyParentIn(g_instanceFd, oldest->first.substr(folder.size() + 1), name, why);
            if (dirFd >= 0) {
                ::unlinkat(dirFd, name.c_str(), 0);
                ::close(dirFd);
            }
        }
        g_total -= std::min(g_total, oldest->second.size);
        g_written.erase(oldest);
    }
}

StoreResult fromErrno(const std::string &what, int error)
{
    return StoreResult::failure(StoreErrorFromErrno(error), what + ": " + std::strerror(error));
}

// Opens a container for reading: a regular file, reached without following a link at its
// last step, opened without blocking on a FIFO or device.
int openContainer(const std::string &path, struct stat &st, std::string &why)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
    if (fd < 0) {
        why = errno == ELOOP ? "a symbolic link, not a cache file" : std::strerror(errno);
        return -1;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        why = "not a regular file";
        return -1;
    }
    return fd;
}

// A file name made from the URL's last path segment: decoded where it is UTF-8, without
// separators or control characters, never "." or "..", at most 120 bytes.
std::string nameFromUrl(std::string_view url)
{
    std::string_view path = url;
    if (const auto scheme = path.find("://"); scheme != std::string_view::npos) {
        path.remove_prefix(scheme + 3);
        const auto slash = path.find('/');
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash);
    }
    path = path.substr(0, path.find_first_of("?#"));
    const auto slash = path.rfind('/');
    std::string_view segment = slash == std::string_view::npos ? path : path.substr(slash + 1);
    // Without an escape the decoded name is the segment itself (bytes that are no UTF-8 are
    // kept as they are below too): most names need no round trip through QString.
    std::string name(segment);
    if (segment.find('%') != std::string_view::npos) {
        name = QUrl::fromPercentEncoding(QByteArray(segment.data(), qsizetype(segment.size()))).toUtf8().toStdString();
        if (name.find("\xEF\xBF\xBD") != std::string::npos) // not UTF-8 once decoded: keep the escapes
            name.assign(segment);
    }
    for (char &c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || c == '/' || c == '\\' || c == ':' || u == 0x7F)
            c = '_';
    }
    if (!name.empty() && name[0] == '.')
        name[0] = '_';
    if (name.size() > 120) {
        // Keep the extension; cut the stem at a character boundary.
        const auto dot = name.rfind('.');
        std::string ext = dot != std::string::npos && name.size() - dot <= 16 ? name.substr(dot) : std::string();
        std::size_t keep = 120 - ext.size();
        while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
            --keep;
        name = name.substr(0, keep) + ext;
    }
    return name.empty() ? std::string("index") : name;
}

bool hasExtension(const std::string &name)
{
    const auto dot = name.rfind('.');
    return dot != std::string::npos && dot + 1 < name.size();
}

std::string suffixForType(std::string_view contentType)
{
    static std::mutex mutex;
    static std::map<std::string, std::string, std::less<>> known;
    if (contentType.empty())
        return {};
    std::lock_guard lock(mutex);
    if (auto it = known.find(contentType); it != known.end())
        return it->second;
    static const QMimeDatabase mimes;
    const QMimeType type =
        mimes.mimeTypeForName(QString::fromLatin1(contentType.data(), qsizetype(contentType.size())));
    std::string suffix = type.isValid() ? type.preferredSuffix().toStdString() : std::string();
    // Types the shared MIME database leaves without a suffix but that browsers cache often.
    if (suffix.empty()) {
        if (contentType == "application/javascript" || contentType == "text/javascript")
            suffix = "js";
        else if (contentType == "application/json")
            suffix = "json";
        else if (contentType == "image/webp")
            suffix = "webp";
    }
    known.emplace(std::string(contentType), suffix);
    return suffix;
}

std::string hexHash(std::string_view text)
{
    return QCryptographicHash::hash(QByteArray(text.data(), qsizetype(text.size())), QCryptographicHash::Sha1)
        .toHex()
        .left(16)
        .toStdString();
}

bool plainId(std::string_view id)
{
    if (id.empty() || id.size() > 64)
        return false;
    for (char c : id)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-')
            return false;
    return true;
}

// A piece of ReadPiece bytes for one read, kept by the thread for its next body instead of
// being allocated (and, as a string, cleared) for every body. A sink that reads another body
// meanwhile takes another piece.
class ReadBuffer {
public:
    ReadBuffer() : m_data(t_kept.empty() ? nullptr : t_kept.back().release())
    {
        if (m_data)
            t_kept.pop_back();
        else
            m_data = new char[ReadPiece];
    }
    ~ReadBuffer()
    {
        if (t_kept.size() < 2)
            t_kept.emplace_back(m_data);
        else
            delete[] m_data;
    }
    ReadBuffer(const ReadBuffer &) = delete;
    ReadBuffer &operator=(const ReadBuffer &) = delete;
    char *data() const { return m_data; }

private:
    char *m_data;
    static thread_local std::vector<std::unique_ptr<char[]>> t_kept;
};
thread_local std::vector<std::unique_ptr<char[]>> ReadBuffer::t_kept;

// The decoded text of one piece, in a string the thread keeps with its capacity.
class DecodedPieces {
public:
    DecodedPieces()
    {
        if (!t_kept.empty()) {
            m_text = std::move(t_kept.back());
            t_kept.pop_back();
        }
    }
    ~DecodedPieces()
    {
        // A string grown by a rare huge piece is let go rather than kept.
        if (t_kept.size() < 2 && m_text.capacity() <= 4 * ReadPiece) {
            m_text.clear();
            t_kept.push_back(std::move(m_text));
        }
    }
    DecodedPieces(const DecodedPieces &) = delete;
    DecodedPieces &operator=(const DecodedPieces &) = delete;
    std::string &text() const { return m_text; }

private:
    mutable std::string m_text;
    static thread_local std::vector<std::string> t_kept;
};
thread_local std::vector<std::string> DecodedPieces::t_kept;

} // namespace

BodyRef BodyRefOf(const StoreListing &listing, const StoreEntry &entry)
{
    BodyRef ref;
    ref.container = std::string(listing.text(entry.container));
    ref.offset = entry.bodyOffset;
    ref.size = entry.size;
    ref.contentEncoding = std::string(listing.text(entry.contentEncoding));
    return ref;
}

std::string BodiesFolder()
{
    std::lock_guard lock(g_mutex);
    return folderLocked() + "/" + instanceLocked();
}

void SetBodiesFolder(std::string folder)
{
    std::lock_guard lock(g_mutex);
    closeFolderLocked();
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    g_folder = std::move(folder);
}

std::string BodyFileName(std::string_view url, std::string_view contentType)
{
    std::string name = nameFromUrl(url);
    if (!hasExtension(name))
        if (const std::string suffix = suffixForType(contentType); !suffix.empty())
            name += "." + suffix;
    return name;
}

std::string PlannedBodyPath(std::string_view storeFolder, std::string_view entryId, std::string_view url,
                            std::string_view contentType)
{
    return BodyPathPlanner(storeFolder).path(entryId, url, contentType);
}

BodyPathPlanner::BodyPathPlanner(std::string_view storeFolder)
    : m_prefix(BodiesFolder() + "/" + hexHash(storeFolder) + "/")
{}

std::string BodyPathPlanner::path(std::string_view entryId, std::string_view url, std::string_view contentType) const
{
    const std::string name = BodyFileName(url, contentType);
    std::string path;
    const bool plain = plainId(entryId);
    path.reserve(m_prefix.size() + (plain ? entryId.size() : 16) + 1 + name.size());
    path += m_prefix;
    if (plain)
        path += entryId;
    else
        path += hexHash(entryId);
    path += '/';
    path += name;
    return path;
}

StoreResult ReadStoredBody(const BodyRef &ref, const std::function<bool(std::string_view)> &sink)
{
    struct stat st {};
    std::string why;
    const int fd = openContainer(ref.container, st, why);
    if (fd < 0)
        return StoreResult::failure(StoreError::NotFound, ref.container + ": " + why);
    StoreResult result;
    const std::uint64_t fileSize = std::uint64_t(st.st_size);
    // A kind that keeps bodies sealed (Firefox's encrypted entries) reads its own.
    for (const StoreKind kind : CacheStoreKinds()) {
        if (kind->readSealedBody
            && kind->readSealedBody(fd, fileSize, ref.container, ref.offset, ref.size, sink, result)) {
            ::close(fd);
            return result;
        }
    }
    if (ref.offset > fileSize || ref.size > fileSize - ref.offset)
        result = StoreResult::failure(StoreError::Damaged, ref.container + ": shorter than the entry says");
    const ReadBuffer piece;
    std::uint64_t done = 0;
    while (done < ref.size) {
        const std::size_t want = std::size_t(std::min<std::uint64_t>(ReadPiece, ref.size - done));
        const ssize_t n = ::pread(fd, piece.data(), want, off_t(ref.offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            result = fromErrno(ref.container, errno);
            break;
        }
        if (n == 0) {
            if (result.ok())
                result = StoreResult::failure(StoreError::Damaged, ref.container + ": shorter than the entry says");
            break;
        }
        done += std::uint64_t(n);
        if (!sink(std::string_view(piece.data(), std::size_t(n))))
            break;
    }
    ::close(fd);
    return result;
}

StoreResult ReadDecodedBody(const BodyRef &ref, const std::function<bool(std::string_view)> &sink, bool *decoded,
                            bool *cut)
{
    BodyDecoder decoder(ref.contentEncoding, DecodeLimitFor(ref.size));
    // An empty body (a redirect, a 304) has nothing to undo whatever coding its head names.
    const bool decoding = decoder.decodes() && ref.size > 0;
    if (decoded)
        *decoded = decoding;
    if (cut)
        *cut = false;
    if (!decoding)
        return ReadStoredBody(ref, sink);
    const DecodedPieces pieces;
    std::string &out = pieces.text();
    bool stopped = false;
    StoreResult result = ReadStoredBody(ref, [&](std::string_view piece) {
        out.clear();
        const bool going = decoder.feed(piece, out);
        if (!out.empty() && !sink(out)) {
            stopped = true;
            return false;
        }
        return going;
    });
    if (stopped)
        return result;
    if (decoder.cut()) {
        if (cut)
            *cut = true;
        return result;
    }
    if (!decoder.error().empty())
        return StoreResult::failure(StoreError::Damaged, ref.container + ": " + decoder.error());
    if (!result.ok())
        return result;
    out.clear();
    const bool complete = decoder.finish(out);
    if (!out.empty())
        sink(out);
    if (decoder.cut() && cut)
        *cut = true;
    if (!complete && !decoder.cut())
        return StoreResult::failure(StoreError::Damaged, ref.container + ": " + decoder.error());
    return {};
}

StoreResult WriteBodyFile(const BodyRef &ref, const std::string &localPath)
{
    {
        // A bodies folder that cannot be used is the cause to name, whatever the path asked.
        std::lock_guard lock(g_mutex);
        std::string why;
        g_folderErrno = EACCES;
        if (instanceFdLocked(why) < 0)
            return StoreResult::failure(StoreErrorFromErrno(g_folderErrno), localPath + ": " + why);
    }
    const std::string folder = BodiesFolder();
    if (localPath.compare(0, folder.size() + 1, folder + "/") != 0)
        return StoreResult::failure(StoreError::Denied, localPath + ": not in the program's own bodies folder");

    struct stat st {};
    std::string why;
    const int probe = openContainer(ref.container, st, why);
    if (probe < 0)
        return StoreResult::failure(StoreError::NotFound, ref.container + ": " + why);
    ::close(probe);
    const Stamp stamp{std::uint64_t(st.st_dev),
                      std::uint64_t(st.st_ino),
                      std::uint64_t(st.st_size),
                      std::int64_t(st.st_mtim.tv_sec),
                      std::int64_t(st.st_mtim.tv_nsec),
                      ref.offset,
                      ref.size};

    // Every folder on the way is opened by its descriptor: a link planted anywhere in the
    // bodies folder is refused, never followed.
    std::string name;
    int dirFd = -1;
    {
        std::lock_guard lock(g_mutex);
        g_folderErrno = EACCES;
        const int instance = instanceFdLocked(why);
        if (instance >= 0)
            dirFd = openBodyParentIn(instance, localPath.substr(folder.size() + 1), name, why);
        if (dirFd < 0)
            return StoreResult::failure(StoreErrorFromErrno(g_folderErrno), localPath + ": " + why);
        struct stat existing {};
        if (auto it = g_written.find(localPath); it != g_written.end() && it->second.stamp == stamp
            && ::fstatat(dirFd, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(existing.st_mode)) {
            it->second.used = ++g_clock;
            ::close(dirFd);
            return {};
        }
    }
    std::string temporary;
    {
        std::lock_guard lock(g_mutex);
        temporary = ".part-" + std::to_string(::getpid()) + "-" + std::to_string(++g_temporaryCount);
    }
    const int fd =
        ::openat(dirFd, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd < 0) {
        const int error = errno;
        ::close(dirFd);
        return fromErrno(localPath, error);
    }

    int writeError = 0;
    bool tooFull = false;
    std::uint64_t written = 0;
    auto writeOut = [&](std::string_view piece) {
        {
            // Other bodies make room first; the disk keeps its margin whatever this one needs.
            std::lock_guard lock(g_mutex);
            written += piece.size();
            makeRoomLocked(folder, localPath, written);
            const std::uint64_t free = freeBytes(fd);
            if (free < piece.size() || free - piece.size() < marginLocked(fd)) {
                tooFull = true;
                return false;
            }
        }
        while (!piece.empty()) {
            const ssize_t n = ::write(fd, piece.data(), piece.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                writeError = n < 0 ? errno : ENOSPC;
                return false;
            }
            piece.remove_prefix(std::size_t(n));
        }
        return true;
    };
    StoreResult result = ReadDecodedBody(ref, writeOut);
    if (!writeError && !result.ok() && result.error == StoreError::Damaged) {
        // A body that does not decode is offered as it is stored.
        written = 0;
        if (::ftruncate(fd, 0) == 0 && ::lseek(fd, 0, SEEK_SET) == 0)
            result = ReadStoredBody(ref, writeOut);
    }
    if (writeError)
        result = fromErrno(localPath, writeError);
    if (tooFull)
        result = StoreResult::failure(StoreError::DiskFull, localPath + ": would leave the disk too little free space");
    if (::close(fd) != 0 && result.ok())
        result = fromErrno(localPath, errno);
    // Renaming replaces whatever stands at the name, a planted link included, and follows none.
    if (result.ok() && ::renameat(dirFd, temporary.c_str(), dirFd, name.c_str()) != 0)
        result = fromErrno(localPath, errno);
    if (!result.ok())
        ::unlinkat(dirFd, temporary.c_str(), 0);
    ::close(dirFd);
    if (!result.ok())
        return result;
    std::lock_guard lock(g_mutex);
    Written &entry = g_written[localPath];
    g_total -= std::min(g_total, entry.size);
    entry = Written{stamp, written, ++g_clock};
    g_total += written;
    return {};
}

void SetBodiesLimits(std::uint64_t budget, std::uint64_t margin)
{
    std::lock_guard lock(g_mutex);
    g_budget = budget;
    g_margin = margin;
}

std::string ClaimBodiesFolder()
{
    std::lock_guard lock(g_mutex);
    std::string why;
    if (instanceFdLocked(why) < 0)
        return folderLocked() + ": bodies of browser caches cannot be written out: " + why;
    sweepLocked();
    return {};
}

void ReleaseBodiesFolder()
{
    std::lock_guard lock(g_mutex);
    if (g_instanceFd >= 0)
        removeTree(g_bodiesFd, g_instance.c_str(), 0);
    sweepLocked();
    closeFolderLocked();
}
