#include "settingsfile.h"

#include "stores/savefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The record is stored little-endian whatever the machine.
template <typename T>
void fromLittle(T &value)
{
    value = qFromLittleEndian(value);
}

void recordFromLittle(Tsettingdata &s)
{
    fromLittle(s.listheight);
    WINDOWPLACEMENT &p = s.placement;
    for (auto *field : {&p.length, &p.flags, &p.showCmd})
        fromLittle(*field);
    for (auto *field : {&p.ptMinPositionX, &p.ptMinPositionY, &p.ptMaxPositionX, &p.ptMaxPositionY, &p.rcNormalLeft,
                        &p.rcNormalTop, &p.rcNormalRight, &p.rcNormalBottom})
        fromLittle(*field);
}

Tsettingdata recordToLittle(Tsettingdata s)
{
    recordFromLittle(s); // the swap is its own inverse
    return s;
}

} // namespace

SettingsRead ReadSettingsFile(const QString &path, Tsettingdata &settings)
{
    // Only a regular file counts, opened without blocking: a FIFO or a device in its place
    // must not stall start-up, and reads as no file at all.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR || errno == ENXIO ? SettingsRead::Missing : SettingsRead::Damaged;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return SettingsRead::Missing;
    char bytes[sizeof(Tsettingdata)];
    std::size_t done = 0;
    while (done < sizeof bytes) {
        const ssize_t n = ::read(fd, bytes + done, sizeof bytes - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return SettingsRead::Damaged;
        done += std::size_t(n);
    }
    std::memcpy(&settings, bytes, sizeof(Tsettingdata));
    recordFromLittle(settings);
    return SettingsRead::Ok;
}

StoreResult WriteSettingsFile(const QString &path, const Tsettingdata &settings)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    const Tsettingdata little = recordToLittle(settings);
    return SaveWholeFile(path, QByteArrayView(reinterpret_cast<const char *>(&little), sizeof little));
}

void SanitizeSettings(Tsettingdata &s, const std::vector<QRect> &screens, int maxListHeight)
{
    if (s.viewdoc > 1)
        s.viewdoc = 1;
    if (s.viewstyle > 3)
        s.viewstyle = 3;
    if (s.listheight < 1 || s.listheight > maxListHeight)
        s.listheight = 140;
    if (s.placement.length != sizeof(WINDOWPLACEMENT))
        return;
    // The file's values may be anything: sizes and overlaps are computed in 64 bits, where
    // no difference of two of them overflows (QRect's own arithmetic would).
    const WINDOWPLACEMENT &p = s.placement;
    const std::int64_t left = p.rcNormalLeft, top = p.rcNormalTop, right = p.rcNormalRight, bottom = p.rcNormalBottom;
    bool visible = false;
    for (const QRect &screen : screens) {
        const std::int64_t screenLeft = screen.x(), screenTop = screen.y();
        const std::int64_t overlapWidth = std::min(right, screenLeft + screen.width()) - std::max(left, screenLeft);
        const std::int64_t overlapHeight = std::min(bottom, screenTop + screen.height()) - std::max(top, screenTop);
        visible = visible || (overlapWidth >= 40 && overlapHeight >= 20);
    }
    const std::int64_t width = right - left, height = bottom - top;
    const bool sane = width >= 100 && height >= 80 && width <= 20000 && height <= 20000 && p.showCmd <= 11;
    if (!visible || !sane)
        s.placement.length = 0;
}

QRect DefaultPlacementRect(int screenWidth, int screenHeight)
{
    const int width = screenWidth * 4 / 5;
    const int height = screenHeight * 4 / 5;
    return QRect((screenWidth - width) / 2, (screenHeight - height) / 2, width, height);
}

QString SettingsFilePath(const QString &appDir)
{
    const QFileInfo dir(appDir);
    const QString beside = QDir(appDir).filePath(QString::fromLatin1(settings_name));
    if (dir.isDir() && dir.isWritable())
        return beside;
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/tidewrack/")
        + QString::fromLatin1(settings_name);
}
