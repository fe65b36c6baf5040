#pragma once
// The shell's answer about one file, as SHGetFileInfoA gives it on the platform the program
// was made for: the type name the desktop shows for the file, and the index of its icon in
// the process-wide system icon list. Here the type comes from QMimeDatabase (its comment, in
// the user's language) and the icon from the icon theme.

#include <QIcon>
#include <QSize>
#include <QString>

// What a lookup gives: SHFILEINFOA's szTypeName and iIcon.
struct ShellFileInfo {
    QString typeName;
    int iIcon = -1;
};

// Looks up the existing regular file `path` (UTF-8). False, with `info` untouched, when
// there is no such file.
bool GetShellFileInfo(const char *path, ShellFileInfo &info);

// The same for a file that is not written yet (a browser cache's body, written out on demand):
// the type and its icon from the name alone.
bool GetShellFileInfoByName(const char *path, ShellFileInfo &info);

// The type name GetShellFileInfo gives a file of this name where the name alone decides it
// (it matches exactly one type's patterns), without touching the file: cheap enough for a
// whole list. False where the file's content would decide; `typeName` is then untouched.
bool TypeNameFromFileName(const char *path, QString &typeName);

// The process-wide list of file icons that GetShellFileInfo indexes. One entry per kind of
// icon (the same type always gives the same index); an entry the theme has no picture for
// shows the default icon. Each icon holds a small (16) and a large (32) picture.
namespace SystemIconList {

inline constexpr QSize SmallSize(16, 16);
inline constexpr QSize LargeSize(32, 32);

// The icon at `index`; the default icon for an index outside the list or without a picture.
QIcon icon(int index);
int count();

// The picture shown where the theme has none, and for records not (successfully) looked up.
// Set once by the program; the platform layer has no pictures of its own.
void setDefaultIcon(const QIcon &icon);
QIcon defaultIcon();

// The index of the icon for the theme names `iconName` (else `genericIconName`), adding it
// to the list the first time.
int indexFor(const QString &iconName, const QString &genericIconName);

} // namespace SystemIconList
