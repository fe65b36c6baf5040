#include "shell.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QUrl>

namespace {

const QString FileManagerService = QStringLiteral("org.freedesktop.FileManager1");

// The bus daemon answers at once; these bounds only guard against a wedged bus.
constexpr int BusQueryTimeoutMs = 500;
// A file manager started by activation may take a moment before it answers.
constexpr int ShowPropertiesTimeoutMs = 2000;

std::function<bool(const ShellRequest &)> &handler()
{
    static std::function<bool(const ShellRequest &)> h;
    return h;
}

// Asks the bus daemon `method` about the file manager's name; returns its boolean answer or
// whether the name is in its string-list answer.
bool busKnowsFileManager(const QDBusConnection &bus, const QString &method)
{
    QDBusMessage query =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                       QStringLiteral("org.freedesktop.DBus"), method);
    if (method == QLatin1String("NameHasOwner"))
        query << FileManagerService;
    const QDBusMessage reply = bus.call(query, QDBus::Block, BusQueryTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    const QVariant answer = reply.arguments().constFirst();
    if (answer.typeId() == QMetaType::Bool)
        return answer.toBool();
    return answer.toStringList().contains(FileManagerService);
}

} // namespace

void SetShellHandler(std::function<bool(const ShellRequest &)> h)
{
    handler() = std::move(h);
}

bool OpenWithDefaultApplication(const QString &path)
{
    if (handler())
        return handler()(ShellRequest{ShellRequest::Open, path});
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

bool ShowItemPropertiesViaFileManager(const QString &path)
{
    if (handler())
        return handler()(ShellRequest{ShellRequest::ShowProperties, path});
    return ShowItemPropertiesOnBus(QDBusConnection::sessionBus(), path);
}

bool ShowItemPropertiesOnBus(const QDBusConnection &bus, const QString &path)
{
    if (!bus.isConnected())
        return false;
    if (!busKnowsFileManager(bus, QStringLiteral("NameHasOwner"))
        && !busKnowsFileManager(bus, QStringLiteral("ListActivatableNames")))
        return false;

    QDBusMessage call =
        QDBusMessage::createMethodCall(FileManagerService, QStringLiteral("/org/freedesktop/FileManager1"),
                                       FileManagerService, QStringLiteral("ShowItemProperties"));
    call << QStringList{QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)} << QString();
    const QDBusMessage reply = bus.call(call, QDBus::Block, ShowPropertiesTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    // No answer in time: the request reached a file manager that is still starting, which
    // will show the window; a second window of our own would only duplicate it.
    return reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NoReply")
        || reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.Timeout");
}
