#include "offlinestate.h"

#include "wininet.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <atomic>
#include <mutex>

namespace {

std::mutex g_fileMutex;
std::string g_stateFile;
std::atomic<bool> g_offline{false};

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
    QFile file(QString::fromStdString(path));
    bool offline = false;
    if (file.open(QIODevice::ReadOnly))
        offline = file.read(1) == "1";
    g_offline = offline;
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
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(offline ? "1\n" : "0\n") != 2 || !file.commit()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    g_offline = offline;
    return true;
}

bool IsOffline()
{
    return g_offline;
}
