#include "offlineserving.h"

#include "platform/wininet.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

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
    // Not a secure scheme: a cached page may load http resources, which a secure origin
    // would refuse as mixed content before we ever see the request.
    scheme.setFlags(QWebEngineUrlScheme::CorsEnabled);
    QWebEngineUrlScheme::registerScheme(scheme);
}

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

QByteArray NotCachedPage(const QUrl &url)
{
    const QString shown = FromCacheScheme(url).toString().toHtmlEscaped();
    return QStringLiteral(
               "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>该网页不在缓存中</title></head>\n"
               "<body style=\"font-family: sans-serif; margin: 2em\">\n"
               "<h3>该网页不在缓存中</h3>\n<p id=\"url\">%1</p>\n"
               "<p>脱机浏览时只能显示缓存中保存的网页。</p>\n</body></html>\n")
        .arg(shown)
        .toUtf8();
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

void OfflineInterceptor::interceptRequest(QWebEngineUrlRequestInfo &info)
{
    const QUrl url = info.requestUrl();
    // The preview shows web documents only: cached content never reaches the local disk.
    if (url.isLocalFile() || url.scheme() == QLatin1String("file")) {
        info.block(true);
        return;
    }
    if (IsOffline()) {
        const QUrl mirror = ToCacheScheme(url);
        if (mirror != url)
            info.redirect(mirror);
    } else if (IsCacheScheme(url)) {
        info.redirect(FromCacheScheme(url));
    }
}

std::optional<QString> CacheSchemeHandler::localFileFor(const QUrl &url) const
{
    if (!m_lookup)
        return std::nullopt;
    for (const QByteArray &key : CacheKeysFor(url)) {
        if (const std::optional<std::string> path = m_lookup(key)) {
            const QString local = QString::fromStdString(*path);
            if (QFileInfo(local).isFile())
                return local;
        }
    }
    return std::nullopt;
}

void CacheSchemeHandler::requestStarted(QWebEngineUrlRequestJob *job)
{
    const QUrl url = job->requestUrl();
    if (!IsOffline()) {
        // Back online: a link of a page that was loaded from the cache goes to the network.
        job->redirect(FromCacheScheme(url));
        return;
    }
    if (const std::optional<QString> local = localFileFor(url)) {
        auto *file = new QFile(*local, job);
        if (file->open(QIODevice::ReadOnly)) {
            static const QMimeDatabase types;
            job->reply(types.mimeTypeForFile(*local).name().toUtf8(), file);
            return;
        }
        delete file;
    }
    auto *page = new QBuffer(job);
    page->setData(NotCachedPage(url));
    page->open(QIODevice::ReadOnly);
    job->reply(QByteArrayLiteral("text/html; charset=utf-8"), page);
}
