#include "fileusers.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace {

std::string processName(const std::string &pid)
{
    std::ifstream comm("/proc/" + pid + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

// A maps line reads "start-end perms offset major:minor inode path"; the file is known by
// its device and inode, whatever path the other process opened it by.
bool mapsFile(const std::string &pid, dev_t device, ino_t inode)
{
    FILE *maps = std::fopen(("/proc/" + pid + "/maps").c_str(), "re");
    if (!maps)
        return false;
    char line[4096];
    bool found = false;
    while (!found && std::fgets(line, sizeof line, maps)) {
        // Parsed by hand: sscanf costs most of a walk over all processes' maps.
        const char *p = line;
        for (int field = 0; field < 3 && p; ++field)
            if ((p = std::strchr(p, ' ')))
                ++p;
        if (!p)
            continue;
        char *end = nullptr;
        const unsigned long major = std::strtoul(p, &end, 16);
        if (*end != ':')
            continue;
        const unsigned long minor = std::strtoul(end + 1, &end, 16);
        if (*end != ' ')
            continue;
        const unsigned long long node = std::strtoull(end + 1, &end, 10);
        found = node == inode && node != 0 && makedev(unsigned(major), unsigned(minor)) == device;
    }
    std::fclose(maps);
    return found;
}

// Whether one of the process's open files is the file with that device and inode.
bool holdsOpen(const std::string &pid, dev_t device, ino_t inode)
{
    const std::string fds = "/proc/" + pid + "/fd";
    DIR *dir = ::opendir(fds.c_str());
    if (!dir)
        return false;
    bool found = false;
    while (!found) {
        const dirent *entry = ::readdir(dir);
        if (!entry)
            break;
        if (entry->d_name[0] == '.')
            continue;
        // stat() reads the target without opening it: a FIFO or a device cannot block us.
        struct stat st {};
        found = ::fstatat(::dirfd(dir), entry->d_name, &st, 0) == 0 && st.st_ino == inode && st.st_dev == device;
    }
    ::closedir(dir);
    return found;
}

// The first other process for which `uses` says yes, as "pid 1234 (name)".
template <typename Uses>
std::string firstOtherProcess(const std::string &path, Uses uses)
{
    struct stat target {};
    if (::stat(path.c_str(), &target) != 0)
        return {};
    DIR *proc = ::opendir("/proc");
    if (!proc)
        return {};
    const std::string self = std::to_string(::getpid());
    std::string user;
    while (const dirent *entry = ::readdir(proc)) {
        const std::string pid = entry->d_name;
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos || pid == self)
            continue;
        if (uses(pid, target.st_dev, target.st_ino)) {
            user = "pid " + pid + " (" + processName(pid) + ")";
            break;
        }
    }
    ::closedir(proc);
    return user;
}

std::string exeOf(const std::string &pid)
{
    char target[4096];
    const ssize_t n = ::readlink(("/proc/" + pid + "/exe").c_str(), target, sizeof target - 1);
    return n > 0 ? std::string(target, std::size_t(n)) : std::string();
}

// Whether the process runs this program or another of ours (the window, the bench, the
// command-line tool): those open the index only to read it or to wait for the lock that
// keeps our writers apart.
bool isOurs(const std::string &pid)
{
    static const std::string self = exeOf("self");
    const std::string exe = exeOf(pid);
    if (exe.empty())
        return false;
    const auto slash = exe.rfind('/');
    return exe == self || exe.compare(slash + 1, 9, "tidewrack") == 0;
}

} // namespace

std::string OtherProcessUsing(const std::string &path)
{
    return firstOtherProcess(path, [](const std::string &pid, dev_t device, ino_t inode) {
        return mapsFile(pid, device, inode) || (holdsOpen(pid, device, inode) && !isOurs(pid));
    });
}

std::string WinePrefixOf(const std::string &path)
{
    // The last drive_c of the path: a prefix never lies inside another one's drive.
    std::string::size_type at = path.size();
    while (at != std::string::npos && at > 0) {
        const auto found = path.rfind("/drive_c", at - 1);
        if (found == std::string::npos)
            return {};
        const auto end = found + 8;
        if (end == path.size() || path[end] == '/')
            return found == 0 ? std::string("/") : path.substr(0, found);
        at = found;
    }
    return {};
}

std::string WineServerFor(const std::string &prefix)
{
    struct stat folder {};
    if (prefix.empty() || ::stat(prefix.c_str(), &folder) != 0)
        return {};
    // The server runs as the prefix's owner (Wine refuses a prefix that is not the user's).
    // Debian's Wine puts the server folders under a folder of a random name in /tmp instead,
    // and keeps that name in the prefix's file `wineserver`.
    char server[64];
    std::snprintf(server, sizeof server, "/server-%llx-%llx/lock", static_cast<unsigned long long>(folder.st_dev),
                  static_cast<unsigned long long>(folder.st_ino));
    std::vector<std::string> locks;
    for (const uid_t uid : {folder.st_uid, ::getuid()})
        locks.push_back("/tmp/.wine-" + std::to_string(uid) + server);
    if (const int named = ::open((prefix + "/wineserver").c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        named >= 0) {
        char base[64] = {};
        const ssize_t n = ::read(named, base, sizeof base - 1);
        ::close(named);
        std::string name(base, n > 0 ? std::size_t(n) : 0);
        while (!name.empty() && (name.back() == '\n' || name.back() == '\0'))
            name.pop_back();
        if (!name.empty() && name.find('/') == std::string::npos && name != "." && name != "..")
            for (const char *tmp : {static_cast<const char *>(std::getenv("TMPDIR")), "/tmp"})
                if (tmp && *tmp == '/')
                    locks.push_back(std::string(tmp) + "/" + name + server);
    }
    for (const std::string &lockName : locks) {
        const int fd = ::open(lockName.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct flock probe {};
        probe.l_type = F_WRLCK;
        probe.l_whence = SEEK_SET;
        probe.l_start = 0;
        probe.l_len = 1;
        const bool held = ::fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
        ::close(fd);
        if (held)
            return "pid " + std::to_string(probe.l_pid) + " (wineserver of " + prefix + ")";
    }
    return {};
}

std::string OtherProcessMapping(const std::string &path)
{
    return firstOtherProcess(path, mapsFile);
}
