// Finding the user's cache store: the folder named by TIDEWRACK_URLCACHE, else the content
// store of the Wine prefix. Only the content container; history and cookies are not listed.

#include "indexdatstore.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool isDirectory(const std::string &path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string unixUserName()
{
    if (const passwd *pw = ::getpwuid(::getuid()); pw && pw->pw_name && *pw->pw_name)
        return pw->pw_name;
    const char *user = std::getenv("USER");
    return user ? user : "";
}

// Why the header of an existing index cannot be read; empty when it can.
std::string probeHeader(const std::string &indexPath)
{
    const int fd = ::open(indexPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::strerror(errno);
    std::uint8_t header[indexdat::SignatureSize] = {};
    const ssize_t n = ::read(fd, header, sizeof header);
    ::close(fd);
    if (n != ssize_t(sizeof header) || indexdat::VersionOf(header, sizeof header) == indexdat::Version::Unknown)
        return "not a WinInet cache index of a known version";
    return {};
}

} // namespace

std::shared_ptr<UrlCacheStore> OpenUrlCacheStore(const std::string &path, std::string *why)
{
    std::string index = path;
    while (index.size() > 1 && index.back() == '/')
        index.pop_back();
    if (isDirectory(index))
        index += "/index.dat";
    struct stat st {};
    if (::stat(index.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        const std::string reason = index + ": no cache index there";
        if (why)
            *why = reason;
        return std::make_shared<EmptyUrlCacheStore>(reason);
    }
    if (why) {
        const std::string problem = probeHeader(index);
        *why = problem.empty() ? index : index + ": " + problem;
    }
    return std::make_shared<IndexDatStore>(index);
}

std::shared_ptr<UrlCacheStore> OpenDefaultUrlCacheStore(std::string *whereAndWhy)
{
    if (const char *chosen = std::getenv("TIDEWRACK_URLCACHE"); chosen && *chosen) {
        std::string why;
        auto store = OpenUrlCacheStore(chosen, &why);
        if (whereAndWhy)
            *whereAndWhy = "TIDEWRACK_URLCACHE: " + why;
        return store;
    }
    std::string prefix;
    if (const char *wine = std::getenv("WINEPREFIX"); wine && *wine)
        prefix = wine;
    else if (const char *home = std::getenv("HOME"); home && *home)
        prefix = std::string(home) + "/.wine";
    else if (const passwd *pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
        prefix = std::string(pw->pw_dir) + "/.wine";
    if (prefix.empty()) {
        const std::string reason = "no Wine prefix: neither WINEPREFIX nor HOME is set";
        if (whereAndWhy)
            *whereAndWhy = reason;
        return std::make_shared<EmptyUrlCacheStore>(reason);
    }
    const std::string user = unixUserName();
    const std::string folder =
        prefix + "/drive_c/users/" + user + "/AppData/Local/Microsoft/Windows/INetCache/Content.IE5";
    std::string why;
    auto store = OpenUrlCacheStore(folder, &why);
    if (whereAndWhy)
        *whereAndWhy = "Wine prefix: " + why;
    return store;
}
