#include "offlinestate.h"

#include "wininet.h"

#include "stores/savefile.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::mutex g_fileMutex;
std::string g_stateFile;
std::atomic<bool> g_offline{false};

// The first byte of the state file; 0 when there is none. Only a regular file counts, and it
// is opened without blocking: a FIFO or a device in its place must not stall start-up.
char readStateByte(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return 0;
    struct stat st {};
    char first = 0;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        ssize_t n;
        do
            n = ::read(fd, &first, 1);
        while (n < 0 && errno == EINTR);
        if (n != 1)
            first = 0;
    }
    ::close(fd);
    return first;
}

} // namespace

std::string DefaultOfflineStateFile()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return (folder + QStringLiteral("/tidewrack/offline")).toStdString();
}

void UseOfflineStateFile(const std::string &path)
{
    std::lock_guard lock(g_fileMutex);
    g_stateFile = path;
    g_offline = readStateByte(path) == '1';
}

bool SetOffline(bool offline)
{
    std::lock_guard lock(g_fileMutex);
    if (g_stateFile.empty()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    const QString path = QString::fromStdString(g_stateFile);
    QDir().mkpath(QFileInfo(path).absolutePath());
    // A state that could not be kept is not taken on: the window shows the real one.
    const StoreResult saved = SaveWholeFile(path, offline ? "1\n" : "0\n");
    if (!saved.ok()) {
        SetLastError(WinInetErrorOf(saved.error));
        return false;
    }
    g_offline = offline;
    return true;
}

bool IsOffline()
{
    return g_offline;
}
