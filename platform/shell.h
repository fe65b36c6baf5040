#pragma once
// The desktop's shell services the document commands use: opening a file with its default
// program, and the file manager's properties window for a file. Tests install a handler so
// that nothing is launched and the requests can be looked at.

#include <QString>

#include <functional>

class QDBusConnection;

// One request to the desktop.
struct ShellRequest {
    enum Kind { Open, ShowProperties };
    Kind kind = Open;
    QString path;
};

// Answers every request instead of the desktop (tests); an empty function restores the
// desktop. The handler's result is what the request function returns.
void SetShellHandler(std::function<bool(const ShellRequest &)> handler);

// Opens the local file `path` with the desktop's default application. False when the
// desktop could not start one.
bool OpenWithDefaultApplication(const QString &path);

// Asks the session's file manager (org.freedesktop.FileManager1) to show the properties of
// the local file `path`. False, without waiting long, when there is no session bus, no file
// manager offers the service, or it refuses the request; the caller then shows its own.
bool ShowItemPropertiesViaFileManager(const QString &path);

// The same on the given bus, without the handler.
bool ShowItemPropertiesOnBus(const QDBusConnection &bus, const QString &path);
