#include "offlineserving.h"

#include "platform/cachefile.h"
#include "platform/wininet.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QFutureWatcher>
#include <QMimeDatabase>
#include <QPointer>
#include <QPromise>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QThreadPool>
#include <QTimer>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

#include <algorithm>
#include <cctype>

#include <dirent.h>
#include <unistd.h>

namespace {

QString mirrorOf(const QString &scheme)
{
    if (scheme == QLatin1String("http"))
        return QString::fromLatin1(kCacheHttpScheme);
    if (scheme == QLatin1String("https"))
        return QString::fromLatin1(kCacheHttpsScheme);
    return {};
}

QString webSchemeOf(const QString &scheme)
{
    if (scheme == QLatin1String(kCacheHttpScheme))
        return QStringLiteral("http");
    if (scheme == QLatin1String(kCacheHttpsScheme))
        return QStringLiteral("https");
    return {};
}

void registerMirror(const char *name, int defaultPort)
{
    QWebEngineUrlScheme scheme(name);
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::HostAndPort);
    scheme.setDefaultPort(defaultPort);
    // No flags. Not secure: a cached page may load http resources, which a secure origin
    // would refuse as mixed content. Not CORS-enabled: the engine would then answer every
    // origin's request with headers that allow it to read the answer.
    scheme.setFlags({});
    QWebEngineUrlScheme::registerScheme(scheme);
}

// The type by the local file's name, else by the URL's, else by the content. The engine
// refuses another origin's style sheet or script that comes as anything else.
QString mimeTypeOf(const QString &path, const QUrl &url, QFile &file)
{
    static const QMimeDatabase types;
    QMimeType type = types.mimeTypeForFile(path, QMimeDatabase::MatchExtension);
    if (!type.isValid() || type.isDefault())
        type = types.mimeTypeForFile(FromCacheScheme(url).path(), QMimeDatabase::MatchExtension);
    if (!type.isValid() || type.isDefault())
        type = types.mimeTypeForData(file.peek(512));
    return type.name();
}

// Requests whose answers the engine keeps from another origin's script.
bool isEmbeddedResource(QWebEngineUrlRequestInfo::ResourceType type)
{
    switch (type) {
    case QWebEngineUrlRequestInfo::ResourceTypeStylesheet:
    case QWebEngineUrlRequestInfo::ResourceTypeScript:
    case QWebEngineUrlRequestInfo::ResourceTypeImage:
    case QWebEngineUrlRequestInfo::ResourceTypeFontResource:
    case QWebEngineUrlRequestInfo::ResourceTypeMedia:
    case QWebEngineUrlRequestInfo::ResourceTypeFavicon:
        return true;
    default:
        return false;
    }
}

bool isNavigation(QWebEngineUrlRequestInfo::ResourceType type)
{
    return type == QWebEngineUrlRequestInfo::ResourceTypeMainFrame
        || type == QWebEngineUrlRequestInfo::ResourceTypeSubFrame
        || type == QWebEngineUrlRequestInfo::ResourceTypeNavigationPreloadMainFrame
        || type == QWebEngineUrlRequestInfo::ResourceTypeNavigationPreloadSubFrame;
}

// Requests whose answers the asking origin's script reads: its own origin only.
bool isReadByScript(QWebEngineUrlRequestInfo::ResourceType type)
{
    switch (type) {
    case QWebEngineUrlRequestInfo::ResourceTypeXhr:
    case QWebEngineUrlRequestInfo::ResourceTypeWorker:
    case QWebEngineUrlRequestInfo::ResourceTypeSharedWorker:
    case QWebEngineUrlRequestInfo::ResourceTypeServiceWorker:
    case QWebEngineUrlRequestInfo::ResourceTypeSubResource:
    case QWebEngineUrlRequestInfo::ResourceTypeObject:
    case QWebEngineUrlRequestInfo::ResourceTypePluginResource:
        return true;
    default:
        return false;
    }
}

// Schemes whose content never leaves the engine.
bool isLocalToEngine(const QString &scheme)
{
    return scheme == QLatin1String("data") || scheme == QLatin1String("blob") || scheme == QLatin1String("about");
}

// The kernel's record of the connecting end of a loopback connection, from its table of TCP
// sockets: that end is a socket of this machine, listed with its owner and its inode.
struct ClientSocket {
    uid_t uid = 0;
    QByteArray inode;
};

std::optional<ClientSocket> ClientSocketOf(const QTcpSocket *socket)
{
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (socket->peerAddress() != QHostAddress::LocalHost || !table.open(QIODevice::ReadOnly))
        return std::nullopt;
    auto hexPort = [](quint16 port) { return ':' + QByteArray::number(port, 16).toUpper().rightJustified(4, '0'); };
    const QByteArray local = "0100007F" + hexPort(socket->peerPort());
    const QByteArray remote = "0100007F" + hexPort(socket->localPort());
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        bool ok = false;
        const uint uid = fields.size() > 9 ? fields[7].toUInt(&ok) : 0;
        // An inode of 0 is a socket no process holds any more.
        if (ok && fields[1] == local && fields[2] == remote && fields[9] != "0")
            return ClientSocket{uid_t(uid), fields[9]};
    }
    return std::nullopt;
}

// True when this process holds `link` ("socket:[inode]") among its open descriptors.
bool HoldsSocket(const QByteArray &link)
{
    const QByteArray folder = "/proc/self/fd";
    DIR *fds = ::opendir(folder.constData());
    if (!fds)
        return false;
    bool found = false;
    char target[64];
    while (const dirent *fd = ::readdir(fds)) {
        const QByteArray path = folder + '/' + fd->d_name;
        const ssize_t n = ::readlink(path.constData(), target, sizeof target);
        if (n == link.size() && link == QByteArrayView(target, n)) {
            found = true;
            break;
        }
    }
    ::closedir(fds);
    return found;
}

// True when the engine of this process made the connection: the connecting socket is one of
// this process's own descriptors. Qt WebEngine runs its network service in this process. No
// other process may use the server, not one of the same user nor a child of ours: cached pages
// see its addresses.
bool IsEngineClient(const QTcpSocket *socket)
{
    const std::optional<ClientSocket> client = ClientSocketOf(socket);
    return client && client->uid == ::geteuid() && HoldsSocket("socket:[" + client->inode + ']');
}

const char kStatusOk[] = "HTTP/1.1 200 OK\r\n";
// Larger style sheets go out as they are stored.
constexpr qint64 kMaxRewrittenSheet = 8 * 1024 * 1024;
const char kStatusNotFound[] = "HTTP/1.1 404 Not Found\r\n";

} // namespace

void RegisterPreviewSchemes()
{
    if (QWebEngineUrlScheme::schemeByName(kCacheHttpScheme).name().isEmpty())
        registerMirror(kCacheHttpScheme, 80);
    if (QWebEngineUrlScheme::schemeByName(kCacheHttpsScheme).name().isEmpty())
        registerMirror(kCacheHttpsScheme, 443);
}

QUrl ToCacheScheme(const QUrl &url)
{
    const QString mirror = mirrorOf(url.scheme());
    if (mirror.isEmpty())
        return url;
    QUrl mapped(url);
    mapped.setScheme(mirror);
    return mapped;
}

QUrl FromCacheScheme(const QUrl &url)
{
    const QString web = webSchemeOf(url.scheme());
    if (web.isEmpty())
        return url;
    QUrl mapped(url);
    mapped.setScheme(web);
    return mapped;
}

bool IsCacheScheme(const QUrl &url)
{
    return !webSchemeOf(url.scheme()).isEmpty();
}

QString WebOrigin(const QUrl &url)
{
    const QUrl web = FromCacheScheme(url);
    if (web.host().isEmpty())
        return {};
    const int defaultPort = web.scheme() == QLatin1String("https") ? 443 : 80;
    return web.scheme() + QStringLiteral("://") + web.host().toLower() + QLatin1Char(':')
        + QString::number(web.port(defaultPort));
}

namespace {

// The short page the preview shows in place of a document: a heading, the address, a line.
QByteArray NoticePage(const QString &heading, const QUrl &url, const QString &lineHtml)
{
    return QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>%1</title></head>\n"
                          "<body style=\"font-family: sans-serif; margin: 2em\">\n"
                          "<h3>%1</h3>\n<p id=\"url\">%2</p>\n%3\n</body></html>\n")
        .arg(heading, FromCacheScheme(url).toString().toHtmlEscaped(), lineHtml)
        .toUtf8();
}

} // namespace

QByteArray NotCachedPage(const QUrl &url)
{
    return NoticePage(QStringLiteral("该网页不在缓存中"), url,
                      QStringLiteral("<p>离线浏览时只能显示缓存中保存的网页。</p>"));
}

QByteArray UnavailablePage(const QUrl &url, const QString &problem)
{
    return NoticePage(
        QStringLiteral("无法从缓存中取出该文档"), url,
        QStringLiteral("<p id=\"problem\">该文档在缓存中，但未能取出：%1。</p>").arg(problem.toHtmlEscaped()));
}

QList<QByteArray> CacheKeysFor(const QUrl &url)
{
    const QUrl web = FromCacheScheme(url).adjusted(QUrl::RemoveFragment);
    QList<QByteArray> keys{web.toEncoded()};
    const QByteArray decoded = QUrl::fromPercentEncoding(keys.front()).toUtf8();
    if (decoded != keys.front())
        keys.append(decoded);
    return keys;
}

namespace {

// A cached entry's file, open, or why there is none.
struct OpenedFile {
    std::shared_ptr<CacheFile> file; // null when there is none
    QString path;
    QString problem;
};

QList<CachedLocalFile> findingsFor(const CacheLookup &lookup, const QUrl &url)
{
    QList<CachedLocalFile> found;
    if (lookup)
        for (const QByteArray &key : CacheKeysFor(url))
            found.append(lookup(key));
    return found;
}

// Opens the first of the findings whose file can be had, writing it out of the cache where it
// must be; the problem is the first one met.
OpenedFile openFirst(QList<CachedLocalFile> found, const std::vector<std::string> &folders)
{
    OpenedFile result;
    for (CachedLocalFile &candidate : found) {
        if (candidate.make)
            candidate = candidate.make();
        if (candidate.path) {
            auto file = std::make_shared<CacheFile>(CacheFile::open(candidate.path->c_str(), folders));
            if (file->isOpen()) {
                result.file = std::move(file);
                result.path = QString::fromStdString(*candidate.path);
                return result;
            }
            if (result.problem.isEmpty())
                result.problem = QStringLiteral("无法打开取出的文件（%1）").arg(file->reason());
        } else if (result.problem.isEmpty()) {
            result.problem = candidate.problem;
        }
    }
    return result;
}

// Hands the open descriptor to `file`, which then closes it.
bool adopt(OpenedFile &opened, QFile &file)
{
    if (!opened.file || !opened.file->isOpen())
        return false;
    if (!file.open(opened.file->fd(), QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        opened.problem = QStringLiteral("无法打开取出的文件（%1）").arg(file.errorString());
        return false;
    }
    opened.file->release();
    return true;
}

// Files are written out of the cache one at a time: the bodies' budget counts the bodies
// written, so writers one after the other keep to it, and a decompression bomb holds this
// one worker, never the window.
QThreadPool *writerPool()
{
    static QPointer<QThreadPool> pool;
    if (!pool) {
        pool = new QThreadPool(QCoreApplication::instance());
        pool->setMaxThreadCount(1);
    }
    return pool;
}

} // namespace

std::optional<QString> OpenCachedFile(const CacheLookup &lookup, const QUrl &url, QFile &file, QString *problem)
{
    file.close();
    OpenedFile opened = openFirst(findingsFor(lookup, url), CacheStoreFolders());
    if (adopt(opened, file))
        return opened.path;
    if (problem && problem->isEmpty())
        *problem = opened.problem;
    return std::nullopt;
}

void OpenCachedFileLater(const CacheLookup &lookup, const QUrl &url, QObject *context, CachedFileReady done)
{
    const QList<CachedLocalFile> found = findingsFor(lookup, url);
    const std::vector<std::string> folders = CacheStoreFolders();
    auto deliver = [done = std::move(done)](OpenedFile opened) {
        auto file = std::make_unique<QFile>();
        if (!adopt(opened, *file))
            file.reset();
        done(std::move(file), opened.path, opened.problem);
    };
    if (std::none_of(found.begin(), found.end(), [](const CachedLocalFile &f) { return bool(f.make); })) {
        deliver(openFirst(found, folders));
        return;
    }
    // The watcher goes with `context`: a request whose page is gone is never answered, and its
    // file closes with the result.
    auto promise = std::make_shared<QPromise<OpenedFile>>();
    auto *watcher = new QFutureWatcher<OpenedFile>(context);
    QObject::connect(watcher, &QFutureWatcherBase::finished, watcher, [watcher, deliver] {
        watcher->deleteLater();
        if (watcher->future().resultCount() > 0)
            deliver(watcher->result());
    });
    watcher->setFuture(promise->future());
    promise->start();
    writerPool()->start([promise, found, folders] {
        promise->addResult(openFirst(found, folders));
        promise->finish();
    });
}

bool CacheHolds(const CacheLookup &lookup, const QUrl &url)
{
    const QList<CachedLocalFile> found = findingsFor(lookup, url);
    return std::any_of(found.begin(), found.end(),
                       [](const CachedLocalFile &f) { return f.path || f.make || !f.problem.isEmpty(); });
}

CrossOriginServer::CrossOriginServer(QObject *parent) : QTcpServer(parent)
{
    newPage();
    listen(QHostAddress::LocalHost);
    connect(this, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = nextPendingConnection())
            accepted(socket);
    });
}

void CrossOriginServer::setLimits(int maxConnections, int idleMs)
{
    m_maxConnections = maxConnections;
    m_idleMs = idleMs;
}

// Anyone on this machine can connect: a client that holds connections open, or sends or
// takes its bytes too slowly, loses them, and there are never more than a few.
void CrossOriginServer::accepted(QTcpSocket *socket)
{
    if (m_connections >= m_maxConnections || !IsEngineClient(socket)) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    ++m_connections;
    connect(socket, &QObject::destroyed, this, [this] { --m_connections; });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    auto *idle = new QTimer(socket);
    idle->setSingleShot(true);
    idle->setInterval(m_idleMs);
    connect(idle, &QTimer::timeout, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    idle->start();
    // The request head must come whole within one interval; an answer goes on as long as the
    // engine takes its bytes.
    connect(socket, &QTcpSocket::bytesWritten, idle, qOverload<>(&QTimer::start));
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answer(socket); });
}

void CrossOriginServer::newPage()
{
    const quint64 a = QRandomGenerator::system()->generate64();
    const quint64 b = QRandomGenerator::system()->generate64();
    m_secret = QByteArray::number(a, 36) + QByteArray::number(b, 36);
}

// The web URL stands in the path as /<secret>/<scheme>/<host:port>/<path>, so that a style
// sheet's relative url() resolves to another address of this server, as it would online.
QUrl CrossOriginServer::addressFor(const QUrl &url) const
{
    const QUrl web = FromCacheScheme(url).adjusted(QUrl::RemoveFragment | QUrl::RemoveUserInfo);
    QByteArray target = web.toEncoded();
    target.remove(0, web.scheme().size() + 3); // "scheme://"
    if (web.path().isEmpty() && !target.contains('/'))
        target.append('/');
    return QUrl::fromEncoded("http://127.0.0.1:" + QByteArray::number(serverPort()) + '/' + m_secret + '/'
                             + web.scheme().toLatin1() + '/' + target);
}

QUrl CrossOriginServer::webUrlOf(const QByteArray &target, const QByteArray &referer) const
{
    const QByteArray prefix = '/' + m_secret + '/';
    QByteArray path = target;
    if (!path.startsWith(prefix)) {
        // A root-relative url() in a style sheet from here: resolved against the sheet.
        const QUrl sheet = QUrl::fromEncoded(referer);
        if (!owns(sheet) || !path.startsWith('/'))
            return {};
        const QUrl base = webUrlOf(sheet.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority), {});
        return base.isValid() ? base.resolved(QUrl::fromEncoded(path)) : QUrl();
    }
    path.remove(0, prefix.size());
    const qsizetype slash = path.indexOf('/');
    const QByteArray scheme = path.left(slash);
    if (slash < 0 || (scheme != "http" && scheme != "https"))
        return {};
    const QUrl web = QUrl::fromEncoded(scheme + "://" + path.mid(slash + 1));
    return web.isValid() && !web.host().isEmpty() ? web : QUrl();
}

bool CrossOriginServer::owns(const QUrl &url) const
{
    return isListening() && url.scheme() == QLatin1String("http") && url.host() == QLatin1String("127.0.0.1")
        && url.port() == serverPort();
}

void CrossOriginServer::answer(QTcpSocket *socket)
{
    if (socket->property("answered").toBool())
        return;
    const QByteArray head = socket->peek(16384);
    const qsizetype end = head.indexOf("\r\n\r\n");
    if (end < 0) {
        if (head.size() >= 16384)
            socket->abort();
        return;
    }
    socket->setProperty("answered", true);
    const QList<QByteArray> request = head.left(head.indexOf("\r\n")).split(' ');
    QByteArray referer;
    for (const QByteArray &line : head.left(end).split('\n'))
        if (line.toLower().startsWith("referer:"))
            referer = line.mid(8).trimmed();
    QUrl wanted;
    if (request.size() == 3 && (request[0] == "GET" || request[0] == "HEAD"))
        wanted = webUrlOf(request[1], referer);
    const bool headOnly = request[0] == "HEAD";
    if (!wanted.isValid() || (wanted.scheme() != QLatin1String("http") && wanted.scheme() != QLatin1String("https"))) {
        reply(socket, headOnly, wanted, nullptr, {});
        return;
    }
    // Nothing is sent while the file is made, which may take long: the client is our engine,
    // and it waits.
    auto *idle = socket->findChild<QTimer *>();
    if (idle)
        idle->stop();
    OpenCachedFileLater(
        m_lookup, wanted, socket,
        [this, socket, idle, wanted, headOnly](std::unique_ptr<QFile> file, const QString &local, const QString &) {
            if (idle)
                idle->start();
            reply(socket, headOnly, wanted, std::move(file), local);
        });
}

namespace {

// Where the CSS string that starts (at its quote) at `from` ends, past its closing quote.
qsizetype stringEnd(const QByteArray &css, qsizetype from)
{
    const char quote = css[from];
    for (qsizetype i = from + 1; i < css.size(); ++i) {
        if (css[i] == '\\')
            ++i;
        else if (css[i] == quote)
            return i + 1;
        else if (css[i] == '\n')
            return i; // a bad string ends at the line's end
    }
    return css.size();
}

qsizetype skipSpace(const QByteArray &css, qsizetype i)
{
    while (i < css.size() && (css[i] == ' ' || css[i] == '\t' || css[i] == '\n' || css[i] == '\r' || css[i] == '\f'))
        ++i;
    return i;
}

// The reference `ref` (as written, quotes taken off) resolved against the sheet's web address
// and quoted; empty when it is to stay as written (escapes, fragments, other schemes).
QByteArray absoluteReference(QByteArrayView ref, const QUrl &base)
{
    if (ref.isEmpty() || ref.contains('\\') || ref.front() == '#')
        return {};
    const QUrl resolved = base.resolved(QUrl(QString::fromUtf8(ref)));
    if (resolved.scheme() != QLatin1String("http") && resolved.scheme() != QLatin1String("https"))
        return {};
    return '"' + resolved.toEncoded().replace('"', "%22") + '"';
}

} // namespace

QByteArray AbsoluteReferences(const QByteArray &css, const QUrl &base)
{
    QByteArray out;
    out.reserve(css.size());
    qsizetype i = 0;
    const qsizetype n = css.size();
    auto isNameChar = [](char c) { return std::isalnum(uchar(c)) || c == '-' || c == '_' || uchar(c) >= 0x80; };
    while (i < n) {
        const char c = css[i];
        qsizetype end = i + 1;
        QByteArray replaced;
        if (c == '/' && i + 1 < n && css[i + 1] == '*') {
            end = css.indexOf("*/", i + 2);
            end = end < 0 ? n : end + 2;
        } else if (c == '"' || c == '\'') {
            end = stringEnd(css, i);
        } else if ((c == 'u' || c == 'U') && css.mid(i, 4).toLower() == "url(" && (i == 0 || !isNameChar(css[i - 1]))) {
            // url( "a" ) or url(a): the reference, then the closing parenthesis.
            const qsizetype from = skipSpace(css, i + 4);
            qsizetype to = from;
            QByteArrayView ref;
            if (from < n && (css[from] == '"' || css[from] == '\'')) {
                to = stringEnd(css, from);
                if (to - from >= 2 && css[to - 1] == css[from])
                    ref = QByteArrayView(css).sliced(from + 1, to - from - 2);
            } else {
                while (to < n && css[to] != ')' && css[to] != ' ' && css[to] != '\t' && css[to] != '\n')
                    ++to;
                ref = QByteArrayView(css).sliced(from, to - from);
            }
            to = skipSpace(css, to);
            end = to;
            if (to < n && css[to] == ')') {
                end = to + 1;
                if (const QByteArray absolute = absoluteReference(ref, base); !absolute.isEmpty())
                    replaced = "url(" + absolute + ')';
            }
        } else if (c == '@' && css.mid(i, 7).toLower() == "@import") {
            // @import "a": the string form (the url() form is met above).
            const qsizetype from = skipSpace(css, i + 7);
            end = from;
            if (from < n && (css[from] == '"' || css[from] == '\'')) {
                end = stringEnd(css, from);
                if (end - from >= 2 && css[end - 1] == css[from])
                    if (const QByteArray absolute =
                            absoluteReference(QByteArrayView(css).sliced(from + 1, end - from - 2), base);
                        !absolute.isEmpty())
                        replaced = "@import " + absolute;
            }
        }
        if (replaced.isEmpty())
            out.append(QByteArrayView(css).sliced(i, end - i));
        else
            out.append(replaced);
        i = end;
    }
    return out;
}

void CrossOriginServer::reply(QTcpSocket *socket, bool headOnly, const QUrl &wanted, std::unique_ptr<QFile> file,
                              const QString &local)
{
    const QByteArray type = file ? mimeTypeOf(local, wanted, *file).toUtf8() : QByteArrayLiteral("text/plain");
    // A style sheet from here would have this server as its base address, which the page sees
    // (its computed style, its resources' timing): its references name the web instead.
    QIODevice *body = file.get();
    if (file && type == "text/css" && file->size() <= kMaxRewrittenSheet) {
        auto *sheet = new QBuffer(socket);
        sheet->setData(AbsoluteReferences(file->readAll(), wanted));
        sheet->open(QIODevice::ReadOnly);
        body = sheet;
    } else if (file) {
        file->setParent(socket);
        file.release();
    }
    QByteArray reply = body ? QByteArray(kStatusOk) : QByteArray(kStatusNotFound);
    reply += "Content-Type: " + type + "\r\nContent-Length: " + QByteArray::number(body ? body->size() : 0)
        + "\r\nCache-Control: no-store\r\nConnection: close\r\n";
    // Browsers load another origin's fonts only with leave to; a font gives script nothing.
    if (type.startsWith("font/") || type.contains("font"))
        reply += "Access-Control-Allow-Origin: *\r\n";
    reply += "\r\n";
    socket->write(reply);
    if (!body || headOnly) {
        socket->disconnectFromHost();
        return;
    }
    // The body goes out in pieces as the engine takes them.
    auto sendMore = [socket, body] {
        while (socket->bytesToWrite() < 256 * 1024) {
            const QByteArray piece = body->read(64 * 1024);
            if (piece.isEmpty()) {
                socket->disconnectFromHost();
                return;
            }
            socket->write(piece);
        }
    };
    connect(socket, &QTcpSocket::bytesWritten, socket, sendMore);
    sendMore();
}

void OfflineInterceptor::interceptRequest(QWebEngineUrlRequestInfo &info)
{
    const QUrl url = info.requestUrl();
    const QWebEngineUrlRequestInfo::ResourceType type = info.resourceType();
    // The preview shows web documents only: cached content never reaches the local disk.
    if (url.isLocalFile() || url.scheme() == QLatin1String("file")) {
        info.block(true);
        return;
    }
    const bool fromCache = IsOffline() || IsCacheScheme(info.firstPartyUrl()) || IsCacheScheme(info.initiator());
    // Our server answers embedded resources of pages from the cache only: a document there
    // would be an origin that reads the whole cache, and a page from the network has no
    // business there.
    if (m_server && m_server->owns(url)) {
        info.block(!fromCache || !isEmbeddedResource(type));
        return;
    }

    if (!fromCache) {
        // A normal page online: the network, as a browser would. A mirror address from a
        // page shown from the cache earlier goes to the web address it stands for.
        if (IsCacheScheme(url))
            info.redirect(FromCacheScheme(url));
        return;
    }

    // A page from the cache: the cache answers, and nothing goes anywhere else.
    if (isLocalToEngine(url.scheme()))
        return;
    const QUrl mirror = IsCacheScheme(url) ? url : ToCacheScheme(url);
    if (!IsCacheScheme(mirror)) {
        info.block(true); // ws, wss, ftp and every other scheme
        return;
    }
    const QString asker = WebOrigin(info.initiator());
    const bool crossOrigin = !asker.isEmpty() && asker != WebOrigin(mirror);
    if (isNavigation(type) || (!crossOrigin && (isEmbeddedResource(type) || isReadByScript(type)))) {
        if (mirror != url)
            info.redirect(mirror);
    } else if (crossOrigin && isEmbeddedResource(type) && m_server) {
        info.redirect(m_server->addressFor(mirror));
    } else {
        // Another origin's data for script, prefetches, pings, beacons, reports.
        info.block(true);
    }
}

std::optional<QString> CacheSchemeHandler::localFileFor(const QUrl &url) const
{
    QFile file;
    return OpenCachedFile(m_lookup, url, file);
}

void CacheSchemeHandler::requestStarted(QWebEngineUrlRequestJob *job)
{
    const QUrl url = job->requestUrl();
    OpenCachedFileLater(m_lookup, url, job,
                        [job, url](std::unique_ptr<QFile> file, const QString &local, const QString &problem) {
                            if (file) {
                                const QByteArray type = mimeTypeOf(local, url, *file).toUtf8();
                                file->setParent(job);
                                job->reply(type, file.release());
                                return;
                            }
                            auto *page = new QBuffer(job);
                            page->setData(problem.isEmpty() ? NotCachedPage(url) : UnavailablePage(url, problem));
                            page->open(QIODevice::ReadOnly);
                            job->reply(QByteArrayLiteral("text/html; charset=utf-8"), page);
                        });
}

QString CachePageScript()
{
    // Compiled in from resources/browser/cachepage.js, where the format check lints it.
    static const QString script = [] {
        QFile file(QStringLiteral(":/browser/cachepage.js"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }();
    return script;
}
