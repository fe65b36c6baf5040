#include "newfile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool WriteNewFile(const std::string &path, std::string_view bytes, std::string &error, unsigned mode,
                  std::int64_t mtime)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode_t(mode));
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = path + ": " + std::strerror(n < 0 ? errno : EIO);
            ::close(fd);
            return false;
        }
        done += std::size_t(n);
    }
    if (mtime >= 0) {
        const timespec times[2] = {{time_t(mtime), 0}, {time_t(mtime), 0}};
        ::futimens(fd, times);
    }
    if (::close(fd) != 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}
