#pragma once
// Offline browsing for the preview browser. While the system is offline, every web request
// of the preview is redirected to a scheme of our own that mirrors http or https, and the
// handler of that scheme answers it from the cache store: the entry's local file when the
// URL is cached, a short "not in the cache" page otherwise. Online, requests are left to
// the network (and mirrored URLs of a page loaded offline go back to the network).

#include <QByteArray>
#include <QUrl>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineUrlSchemeHandler>

#include <functional>
#include <optional>
#include <string>

// Gives the local file of the cache entry whose URL is `url` (UTF-8 bytes), if there is one.
using CacheLookup = std::function<std::optional<std::string>(const QByteArray &url)>;

// The schemes that mirror http and https while offline.
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

// The page shown offline for a URL the cache does not hold.
QByteArray NotCachedPage(const QUrl &url);

// The forms of `url` under which a cache entry may have stored it: the encoded form first,
// then the decoded UTF-8 text when it differs.
QList<QByteArray> CacheKeysFor(const QUrl &url);

// Sends the preview's web requests to the mirror schemes while offline, and blocks every
// request for a local file, whatever the state.
class OfflineInterceptor : public QWebEngineUrlRequestInterceptor {
    Q_OBJECT
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
    void interceptRequest(QWebEngineUrlRequestInfo &info) override;
};

// Answers requests of the mirror schemes from the cache store through the lookup.
class CacheSchemeHandler : public QWebEngineUrlSchemeHandler {
    Q_OBJECT
public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;
    void setLookup(CacheLookup lookup) { m_lookup = std::move(lookup); }
    void requestStarted(QWebEngineUrlRequestJob *job) override;

    // The local file that answers `url` (a mirror or a web URL), if the cache holds one.
    std::optional<QString> localFileFor(const QUrl &url) const;

private:
    CacheLookup m_lookup;
};
