#pragma once
// Serving the preview from the cache store. A page is served from the cache while the system
// is offline, and also online when the network could not fetch it (the browser then shows
// the cached copy). Such a page lives on a scheme of our own that mirrors http or https, and
// every request it makes is answered from the cache store or refused: nothing it asks for
// goes to the network, and the web's own rules still hold between its origins.
//
// Who may read what follows the same-origin policy as online. The cache keeps no CORS
// headers, so a page's script reads only its own origin's documents. Another origin's images,
// style sheets, scripts and media still show: the engine answers a mirror-scheme request as
// if it came from the page's own origin, so those come instead from a small server of ours
// on the loopback address, a real cross-origin HTTP source whose answers the engine keeps
// opaque to the page (a tainted canvas, hidden style rules).

#include <QByteArray>
#include <QHash>
#include <QTcpServer>
#include <QUrl>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineUrlSchemeHandler>

#include <functional>
#include <memory>
#include <optional>
#include <string>

class QFile;
class QTcpSocket;

// What a lookup found: the local file of the entry, or, when the cache holds the entry but
// its file could not be made (a full disk, an unusable bodies folder), why not.
struct CachedLocalFile {
    std::optional<std::string> path;
    QString problem; // a Chinese phrase ("磁盘已满"); empty when there is no such entry
    // Set when the entry's file has yet to be written out of the cache (decoding can take
    // long): it writes the file and gives what a lookup would. Runs on a worker thread, so it
    // touches nothing of the window's.
    std::function<CachedLocalFile()> make;
    CachedLocalFile() = default;
    CachedLocalFile(std::optional<std::string> file) : path(std::move(file)) {}
    CachedLocalFile(std::nullopt_t) {}
};

// Gives the local file of the cache entry whose URL is `url` (UTF-8 bytes), if there is one.
using CacheLookup = std::function<CachedLocalFile(const QByteArray &url)>;

// The schemes that mirror http and https for pages served from the cache.
inline constexpr char kCacheHttpScheme[] = "twhttp";
inline constexpr char kCacheHttpsScheme[] = "twhttps";

// Registers the two mirror schemes with Qt WebEngine. Must run once, before the
// QApplication is made.
void RegisterPreviewSchemes();

// http → twhttp, https → twhttps; every other URL is returned as it is.
QUrl ToCacheScheme(const QUrl &url);
// The reverse: twhttp → http, twhttps → https; every other URL is returned as it is.
QUrl FromCacheScheme(const QUrl &url);
bool IsCacheScheme(const QUrl &url);

// The web origin of a URL as "scheme://host:port", a mirror URL taken as the web URL it
// mirrors; empty for a URL without a host.
QString WebOrigin(const QUrl &url);

// The page shown from the cache for a URL the cache does not hold.
QByteArray NotCachedPage(const QUrl &url);
// The page shown for a URL the cache holds but whose document could not be taken out of it.
QByteArray UnavailablePage(const QUrl &url, const QString &problem);

// The forms of `url` under which a cache entry may have stored it: the encoded form first,
// then the decoded UTF-8 text when it differs.
QList<QByteArray> CacheKeysFor(const QUrl &url);

// Opens the cached file that answers `url` (a mirror or a web URL) as a cache file
// (cachefile.h). Returns its path, or nothing when the cache holds no readable file for it;
// then `problem` (optional) says why when the cache holds the entry.
std::optional<QString> OpenCachedFile(const CacheLookup &lookup, const QUrl &url, QFile &file,
                                      QString *problem = nullptr);

// The same, with the files that have yet to be written out of the cache written on a worker
// thread, one at a time: `done` is then called on `context`'s thread with the open file
// (null when there is none), its path and the problem. Nothing is called once `context` is
// gone. Lookups themselves run here, on the calling thread.
using CachedFileReady = std::function<void(std::unique_ptr<QFile> file, const QString &path, const QString &problem)>;
void OpenCachedFileLater(const CacheLookup &lookup, const QUrl &url, QObject *context, CachedFileReady done);

// True when the cache holds an entry for `url`, whether or not its file can be made.
bool CacheHolds(const CacheLookup &lookup, const QUrl &url);

// The loopback server that answers a page's requests for another origin's images, style
// sheets, scripts, fonts and media from the cache. The engine shows its addresses to the page
// (a style sheet's base address is where it came from, after the interceptor's redirect), so
// it answers no client but this process and its children, and its addresses carry a random
// token that is good only while the page that was given them is shown.
class CrossOriginServer : public QTcpServer {
    Q_OBJECT
public:
    explicit CrossOriginServer(QObject *parent = nullptr);
    void setLookup(CacheLookup lookup) { m_lookup = std::move(lookup); }

    // The address on this server that answers the web URL `url`.
    QUrl addressFor(const QUrl &url) const;
    // True for an address of this server.
    bool owns(const QUrl &url) const;
    // Another page is shown: the addresses given so far stop working.
    void newPage();

    // At most `maxConnections` at a time; a connection on which nothing moves for `idleMs`
    // is closed.
    void setLimits(int maxConnections, int idleMs);

private:
    // The web URL a request target stands for; `referer` resolves a root-relative one.
    QUrl webUrlOf(const QByteArray &target, const QByteArray &referer) const;
    void accepted(QTcpSocket *socket);
    void answer(QTcpSocket *socket);
    // Sends the file (or "not found" when null) as the answer.
    void reply(QTcpSocket *socket, bool headOnly, const QUrl &wanted, std::unique_ptr<QFile> file,
               const QString &local);
    CacheLookup m_lookup;
    QByteArray m_secret;
    int m_connections = 0;
    int m_maxConnections = 48;
    int m_idleMs = 15000;
};

// Decides every request of the preview browser: a page served from the cache (or any page
// while offline) gets only what the cache holds and only what its origin may have; online,
// a normal page goes to the network, never to local files.
class OfflineInterceptor : public QWebEngineUrlRequestInterceptor {
    Q_OBJECT
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
    void setServer(const CrossOriginServer *server) { m_server = server; }
    void interceptRequest(QWebEngineUrlRequestInfo &info) override;

private:
    const CrossOriginServer *m_server = nullptr;
};

// The style sheet `css` with its relative references (url() and @import) made absolute
// against `base`, the sheet's web address; the rest as it is.
QByteArray AbsoluteReferences(const QByteArray &css, const QUrl &base);

// Answers requests of the mirror schemes from the cache store through the lookup.
class CacheSchemeHandler : public QWebEngineUrlSchemeHandler {
    Q_OBJECT
public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;
    void setLookup(CacheLookup lookup) { m_lookup = std::move(lookup); }
    const CacheLookup &lookup() const { return m_lookup; }
    void requestStarted(QWebEngineUrlRequestJob *job) override;

    // The local file that answers `url` (a mirror or a web URL), if the cache holds a
    // readable one.
    std::optional<QString> localFileFor(const QUrl &url) const;

private:
    CacheLookup m_lookup;
};

// The script that every page of the preview gets before its own: on a page served from the
// cache it lets fetch() reach the page's own origin (the engine's fetch() knows no scheme
// but http and https) and maps the page's own http addresses to the mirror. It grants
// nothing the engine would refuse: every request still passes the interceptor.
QString CachePageScript();
