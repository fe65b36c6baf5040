#include "cachefile.h"

#include "stores/bodies.h"
#include "urlcachestore.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The path with ".", ".." and repeated slashes worked out, made absolute, without looking
// at the disk.
std::string LexicalPath(const char *path)
{
    std::filesystem::path p(path);
    if (p.is_relative()) {
        std::error_code error;
        const std::filesystem::path here = std::filesystem::current_path(error);
        if (error)
            return {};
        p = here / p;
    }
    std::string normal = p.lexically_normal().string();
    while (normal.size() > 1 && normal.back() == '/')
        normal.pop_back();
    return normal;
}

// Where the open descriptor really leads, from the kernel's own record of it.
std::string RealPathOf(int fd, const char *path)
{
    char buffer[PATH_MAX + 1];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = ::readlink(link.c_str(), buffer, PATH_MAX);
    if (n > 0 && buffer[0] == '/')
        return std::string(buffer, std::size_t(n));
    // Without /proc: resolve the name and make sure it still names the file we hold.
    char *resolved = ::realpath(path, nullptr);
    if (!resolved)
        return {};
    std::string result(resolved);
    std::free(resolved);
    struct stat byName {
    }, byFd{};
    if (::stat(result.c_str(), &byName) != 0 || ::fstat(fd, &byFd) != 0 || byName.st_dev != byFd.st_dev
        || byName.st_ino != byFd.st_ino)
        return {};
    return result;
}

bool IsInside(std::string_view path, std::string_view folder)
{
    if (folder.empty())
        return false;
    if (folder == "/")
        return true;
    return path.size() > folder.size() && path.substr(0, folder.size()) == folder && path[folder.size()] == '/';
}

// True when the real path lies inside one of the folders as they resolve on disk.
bool InsideStoreFolders(const std::string &real, const std::vector<std::string> &folders)
{
    for (const std::string &folder : folders) {
        char *resolved = ::realpath(folder.c_str(), nullptr);
        if (!resolved)
            continue;
        const bool inside = IsInside(real, resolved);
        std::free(resolved);
        if (inside)
            return true;
    }
    return false;
}

CacheFileRefusal RefusalFor(int error)
{
    return error == ENOENT || error == ENOTDIR || error == ELOOP ? CacheFileRefusal::Missing
                                                                 : CacheFileRefusal::Unreadable;
}

} // namespace

CacheFile::~CacheFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

CacheFile::CacheFile(CacheFile &&other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_refusal(other.m_refusal), m_errno(other.m_errno), m_size(other.m_size)
{}

CacheFile &CacheFile::operator=(CacheFile &&other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
        m_refusal = other.m_refusal;
        m_errno = other.m_errno;
        m_size = other.m_size;
    }
    return *this;
}

int CacheFile::release()
{
    return std::exchange(m_fd, -1);
}

CacheFile CacheFile::open(const char *path)
{
    return open(path, CacheStoreFolders());
}

CacheFile CacheFile::open(const char *path, const std::vector<std::string> &storeFolders)
{
    CacheFile result;
    auto refuse = [&result](CacheFileRefusal why, int error = 0) {
        result.m_refusal = why;
        result.m_errno = error;
        return std::move(result);
    };
    if (!path || !*path)
        return refuse(CacheFileRefusal::Missing, ENOENT);

    // Look before opening: a device or FIFO is never opened at all.
    struct stat info {};
    if (::stat(path, &info) != 0)
        return refuse(RefusalFor(errno), errno);
    if (!S_ISREG(info.st_mode))
        return refuse(CacheFileRefusal::NotRegular);

    // Non-blocking all the same: what stands there may change between the look and the open.
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return refuse(RefusalFor(errno), errno);
    result.m_fd = fd;
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(std::exchange(result.m_fd, -1));
        return refuse(CacheFileRefusal::Unreadable, error);
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(std::exchange(result.m_fd, -1));
        return refuse(CacheFileRefusal::NotRegular);
    }

    // A path that leads where its name says passed through no link; any other must end
    // inside the store.
    const std::string real = RealPathOf(fd, path);
    if (real.empty() || (real != LexicalPath(path) && !InsideStoreFolders(real, storeFolders))) {
        ::close(std::exchange(result.m_fd, -1));
        return refuse(CacheFileRefusal::OutsideStore);
    }

    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    result.m_size = std::int64_t(info.st_size);
    return result;
}

QString CacheFile::reason() const
{
    switch (m_refusal) {
    case CacheFileRefusal::None:
        return {};
    case CacheFileRefusal::Missing:
        return QStringLiteral("No such file");
    case CacheFileRefusal::NotRegular:
        return QStringLiteral("Not a regular file");
    case CacheFileRefusal::OutsideStore:
        return QStringLiteral("A link that leads out of the cache folder");
    case CacheFileRefusal::Unreadable:
        return m_errno ? QString::fromLocal8Bit(std::strerror(m_errno)) : QStringLiteral("Cannot be read");
    }
    return {};
}

CacheFileOpened OpenCacheFile(QFile &file, const QString &path)
{
    file.close();
    CacheFile opened = CacheFile::open(QFile::encodeName(path).constData());
    if (!opened.isOpen())
        return {false, opened.reason()};
    const int fd = opened.fd();
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return {false, file.errorString()};
    opened.release();
    return {true, {}};
}

std::vector<std::string> CacheStoreFolders()
{
    std::vector<std::string> folders;
    for (const std::shared_ptr<CacheStore> &store : OpenUrlCacheStores())
        if (!store->folder().empty())
            folders.push_back(store->folder());
    // Bodies written out of container files live in the program's own folder.
    folders.push_back(BodiesFolder());
    return folders;
}

namespace {

// `path` with its links resolved, as far as it exists; the rest appended as it is.
std::string resolvedPath(const std::string &path)
{
    std::string existing = path;
    std::string rest;
    for (;;) {
        if (char *resolved = ::realpath(existing.c_str(), nullptr)) {
            std::string out(resolved);
            std::free(resolved);
            return rest.empty() ? out : (out == "/" ? out : out + "/") + rest;
        }
        const auto slash = existing.rfind('/');
        if (slash == std::string::npos || existing.size() <= 1)
            return {};
        const std::string name = existing.substr(slash + 1);
        rest = rest.empty() ? name : name + "/" + rest;
        existing.resize(slash == 0 ? 1 : slash);
    }
}

} // namespace

std::string StoreFolderHolding(const std::string &path)
{
    const std::string where = resolvedPath(path);
    const std::vector<std::shared_ptr<CacheStore>> stores = OpenUrlCacheStores();
    for (const std::shared_ptr<CacheStore> &store : stores) {
        const std::string folder = resolvedPath(store->folder());
        if (!folder.empty() && !where.empty()
            && (where == folder || where.compare(0, folder.size() + 1, folder + "/") == 0))
            return store->folder();
    }
    return stores.empty() ? std::string() : stores.front()->folder();
}
