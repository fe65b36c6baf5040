#include "fileusers.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

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
        unsigned major = 0, minor = 0;
        unsigned long long node = 0;
        if (std::sscanf(line, "%*s %*s %*s %x:%x %llu", &major, &minor, &node) == 3)
            found = node == inode && makedev(major, minor) == device && node != 0;
    }
    std::fclose(maps);
    return found;
}

} // namespace

std::string OtherProcessMapping(const std::string &path)
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
        if (mapsFile(pid, target.st_dev, target.st_ino)) {
            user = "pid " + pid + " (" + processName(pid) + ")";
            break;
        }
    }
    ::closedir(proc);
    return user;
}
