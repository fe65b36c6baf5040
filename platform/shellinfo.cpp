#include "shellinfo.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QMimeDatabase>
#include <QPixmap>

#include <vector>

namespace {

struct IconList {
    std::vector<QIcon> icons;   // null: the theme has no picture, the default shows
    QHash<QString, int> byName; // "iconName\ngenericIconName" -> index
    QIcon fallback;
};

IconList &iconList()
{
    static IconList list;
    return list;
}

// Pictures need a GUI application; logic tests run without one and get no picture.
bool canMakePictures()
{
    return qobject_cast<QGuiApplication *>(QCoreApplication::instance()) != nullptr;
}

QIcon themeIcon(const QString &iconName, const QString &genericIconName)
{
    if (!canMakePictures())
        return {};
    QIcon found = QIcon::fromTheme(iconName);
    if (found.isNull())
        found = QIcon::fromTheme(genericIconName);
    if (found.isNull())
        return {};
    // Both sizes the lists need, made once.
    QIcon sized;
    for (const QSize size : {SystemIconList::SmallSize, SystemIconList::LargeSize}) {
        const QPixmap picture = found.pixmap(size);
        if (!picture.isNull())
            sized.addPixmap(picture);
    }
    return sized.isNull() ? found : sized;
}

} // namespace

bool GetShellFileInfo(const char *path, ShellFileInfo &info)
{
    if (!path || !*path)
        return false;
    const QString file = QString::fromUtf8(path);
    const QFileInfo fileInfo(file);
    if (!fileInfo.isFile())
        return false;
    static const QMimeDatabase database;
    const QMimeType type = database.mimeTypeForFile(fileInfo); // name first, then content
    info.typeName = type.comment();
    info.iIcon = SystemIconList::indexFor(type.iconName(), type.genericIconName());
    return true;
}

bool GetShellFileInfoByName(const char *path, ShellFileInfo &info)
{
    if (!path || !*path)
        return false;
    static const QMimeDatabase database;
    const QMimeType type = database.mimeTypeForFile(QString::fromUtf8(path), QMimeDatabase::MatchExtension);
    info.typeName = type.comment();
    info.iIcon = SystemIconList::indexFor(type.iconName(), type.genericIconName());
    return true;
}

bool TypeNameFromFileName(const char *path, QString &typeName)
{
    if (!path || !*path)
        return false;
    static const QMimeDatabase database;
    const QString file = QString::fromUtf8(path);
    const QList<QMimeType> types = database.mimeTypesForFileName(file.mid(file.lastIndexOf(QLatin1Char('/')) + 1));
    if (types.size() != 1)
        return false;
    typeName = types.front().comment();
    return true;
}

namespace SystemIconList {

QIcon icon(int index)
{
    const IconList &list = iconList();
    if (index < 0 || std::size_t(index) >= list.icons.size() || list.icons[std::size_t(index)].isNull())
        return list.fallback;
    return list.icons[std::size_t(index)];
}

int count()
{
    return int(iconList().icons.size());
}

void setDefaultIcon(const QIcon &icon)
{
    iconList().fallback = icon;
}

QIcon defaultIcon()
{
    return iconList().fallback;
}

int indexFor(const QString &iconName, const QString &genericIconName)
{
    IconList &list = iconList();
    const QString key = iconName + QLatin1Char('\n') + genericIconName;
    if (const auto found = list.byName.constFind(key); found != list.byName.cend())
        return *found;
    const int index = int(list.icons.size());
    list.icons.push_back(themeIcon(iconName, genericIconName));
    list.byName.insert(key, index);
    return index;
}

} // namespace SystemIconList
