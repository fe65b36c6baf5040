#include "bodies.h"

#include "bodydecoder.h"

#include <QCryptographicHash>
#include <QMimeDatabase>
#include <QUrl>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <mutex>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::mutex g_mutex;
std::string g_folder; // empty: the default
int g_holdFd = -1;    // this process's hold on the folder
std::uint64_t g_temporaryCount = 0;

// What the container looked like when a body file was written from it.
struct Stamp {
    std::uint64_t device = 0, inode = 0, size = 0;
    std::int64_t mtimeSec = 0, mtimeNsec = 0;
    std::uint64_t offset = 0, length = 0;
    bool operator==(const Stamp &) const = default;
};
std::map<std::string, Stamp> g_written;

constexpr std::size_t ReadPiece = 256 * 1024;

std::string defaultFolder()
{
    std::string base;
    if (const char *cache = std::getenv("XDG_CACHE_HOME"); cache && *cache == '/')
        base = cache;
    else if (const char *home = std::getenv("HOME"); home && *home)
        base = std::string(home) + "/.cache";
    else if (const passwd *pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
        base = std::string(pw->pw_dir) + "/.cache";
    else
        base = "/tmp";
    return base + "/tidewrack/bodies";
}

std::string folderLocked()
{
    return g_folder.empty() ? defaultFolder() : g_folder;
}

// Makes every missing folder of `path` with mode 0700.
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
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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
    std::string name =
        QUrl::fromPercentEncoding(QByteArray(segment.data(), qsizetype(segment.size()))).toUtf8().toStdString();
    if (name.find("\xEF\xBF\xBD") != std::string::npos) // not UTF-8 once decoded: keep the escapes
        name.assign(segment);
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

void emptyFolder(const std::string &folder)
{
    std::error_code ec;
    for (const auto &child : std::filesystem::directory_iterator(folder, ec)) {
        if (child.path().filename() == ".hold")
            continue;
        std::filesystem::remove_all(child.path(), ec);
    }
}

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
    return folderLocked();
}

void SetBodiesFolder(std::string folder)
{
    std::lock_guard lock(g_mutex);
    g_folder = std::move(folder);
    g_written.clear();
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
    const std::string name = BodyFileName(url, contentType);
    const std::string id = plainId(entryId) ? std::string(entryId) : hexHash(entryId);
    return BodiesFolder() + "/" + hexHash(storeFolder) + "/" + id + "/" + name;
}

StoreResult ReadStoredBody(const BodyRef &ref, const std::function<bool(std::string_view)> &sink)
{
    struct stat st {};
    std::string why;
    const int fd = openContainer(ref.container, st, why);
    if (fd < 0)
        return StoreResult::failure(ERROR_FILE_NOT_FOUND, ref.container + ": " + why);
    StoreResult result;
    const std::uint64_t fileSize = std::uint64_t(st.st_size);
    if (ref.offset > fileSize || ref.size > fileSize - ref.offset)
        result = StoreResult::failure(ERROR_FILE_CORRUPT, ref.container + ": shorter than the entry says");
    std::string piece(std::size_t(std::min<std::uint64_t>(ReadPiece, std::max<std::uint64_t>(ref.size, 1))), '\0');
    std::uint64_t done = 0;
    while (done < ref.size) {
        const std::size_t want = std::size_t(std::min<std::uint64_t>(piece.size(), ref.size - done));
        const ssize_t n = ::pread(fd, piece.data(), want, off_t(ref.offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            result = fromErrno(ref.container, errno);
            break;
        }
        if (n == 0) {
            if (result.ok())
                result = StoreResult::failure(ERROR_FILE_CORRUPT, ref.container + ": shorter than the entry says");
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
    const bool decoding = decoder.supported() && !ContentCodings(ref.contentEncoding).empty() && ref.size > 0;
    if (decoded)
        *decoded = decoding;
    if (cut)
        *cut = false;
    if (!decoding)
        return ReadStoredBody(ref, sink);
    std::string out;
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
        return StoreResult::failure(ERROR_FILE_CORRUPT, ref.container + ": " + decoder.error());
    if (!result.ok())
        return result;
    out.clear();
    const bool complete = decoder.finish(out);
    if (!out.empty())
        sink(out);
    if (decoder.cut() && cut)
        *cut = true;
    if (!complete && !decoder.cut())
        return StoreResult::failure(ERROR_FILE_CORRUPT, ref.container + ": " + decoder.error());
    return {};
}

StoreResult WriteBodyFile(const BodyRef &ref, const std::string &localPath)
{
    const std::string folder = BodiesFolder();
    if (localPath.compare(0, folder.size() + 1, folder + "/") != 0 || localPath.find("/../") != std::string::npos)
        return StoreResult::failure(ERROR_ACCESS_DENIED, localPath + ": not in the program's own bodies folder");

    struct stat st {};
    std::string why;
    const int probe = openContainer(ref.container, st, why);
    if (probe < 0)
        return StoreResult::failure(ERROR_FILE_NOT_FOUND, ref.container + ": " + why);
    ::close(probe);
    const Stamp stamp{std::uint64_t(st.st_dev),
                      std::uint64_t(st.st_ino),
                      std::uint64_t(st.st_size),
                      std::int64_t(st.st_mtim.tv_sec),
                      std::int64_t(st.st_mtim.tv_nsec),
                      ref.offset,
                      ref.size};
    {
        std::lock_guard lock(g_mutex);
        struct stat existing {};
        if (auto it = g_written.find(localPath); it != g_written.end() && it->second == stamp
            && ::lstat(localPath.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
            return {};
    }

    const auto slash = localPath.rfind('/');
    if (!makeFolders(localPath.substr(0, slash)))
        return fromErrno(localPath.substr(0, slash), errno);
    std::string temporary;
    {
        std::lock_guard lock(g_mutex);
        temporary = localPath.substr(0, slash) + "/.part-" + std::to_string(::getpid()) + "-"
            + std::to_string(++g_temporaryCount);
    }
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return fromErrno(temporary, errno);

    int writeError = 0;
    auto writeOut = [&](std::string_view piece) {
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
    if (!writeError && !result.ok() && result.error == ERROR_FILE_CORRUPT) {
        // A body that does not decode is offered as it is stored.
        if (::ftruncate(fd, 0) == 0 && ::lseek(fd, 0, SEEK_SET) == 0)
            result = ReadStoredBody(ref, writeOut);
    }
    if (writeError)
        result = fromErrno(localPath, writeError);
    if (::close(fd) != 0 && result.ok())
        result = fromErrno(localPath, errno);
    if (result.ok() && ::rename(temporary.c_str(), localPath.c_str()) != 0)
        result = fromErrno(localPath, errno);
    if (!result.ok()) {
        ::unlink(temporary.c_str());
        return result;
    }
    std::lock_guard lock(g_mutex);
    g_written[localPath] = stamp;
    return {};
}

void ClaimBodiesFolder()
{
    std::lock_guard lock(g_mutex);
    const std::string folder = folderLocked();
    if (g_holdFd >= 0 || !makeFolders(folder))
        return;
    g_holdFd = ::open((folder + "/.hold").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (g_holdFd < 0)
        return;
    if (::flock(g_holdFd, LOCK_EX | LOCK_NB) == 0)
        emptyFolder(folder);
    ::flock(g_holdFd, LOCK_SH);
    g_written.clear();
}

void ReleaseBodiesFolder()
{
    std::lock_guard lock(g_mutex);
    if (g_holdFd < 0)
        return;
    if (::flock(g_holdFd, LOCK_EX | LOCK_NB) == 0)
        emptyFolder(folderLocked());
    ::close(g_holdFd);
    g_holdFd = -1;
    g_written.clear();
}
