#include "browser.h"

#include "findbar.h"
#include "internetoptions.h"
#include "savedpage.h"

#include "platform/causetext.h"
#include "platform/wininet.h"
#include "stores/savefile.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <QWebEngineDownloadRequest>
#include <QWebEngineLoadingInfo>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineView>

namespace {

const QString kCompletePage = QStringLiteral("网页，全部 (*.htm *.html)");
const QString kArchive = QStringLiteral("Web 档案，单一文件 (*.mht *.mhtml)");
const QString kHtmlOnly = QStringLiteral("网页，仅 HTML (*.htm *.html)");

// Profiles alive in this process; a second preview browser gets storage of its own.
int g_profiles = 0;

bool isWebScheme(const QString &scheme)
{
    return scheme == QLatin1String("http") || scheme == QLatin1String("https") || scheme == QLatin1String("ftp");
}

// The load failed because the server could not be reached at all (name not resolved,
// connection refused, reset or timed out, no network), not because it answered.
bool serverUnreachable(const QWebEngineLoadingInfo &info)
{
    if (info.errorDomain() == QWebEngineLoadingInfo::ConnectionErrorDomain
        || info.errorDomain() == QWebEngineLoadingInfo::DnsErrorDomain)
        return true;
    constexpr int kTimedOut = -7, kEmptyResponse = -324;
    return info.errorCode() == kTimedOut || info.errorCode() == kEmptyResponse;
}

} // namespace

// The page of the preview: it never navigates to a local file, and it makes no second page
// for a new window (the browser loads the new window's address itself, see openNewWindow).
class PreviewPage : public QWebEnginePage {
public:
    PreviewPage(QWebEngineProfile *profile, Browser *browser) : QWebEnginePage(profile, browser), m_browser(browser) {}

protected:
    // Handing back this very page would make it adopt the opener's new web contents, which
    // the engine does not survive; the request then comes as newWindowRequested instead.
    QWebEnginePage *createWindow(WebWindowType) override { return nullptr; }
    bool acceptNavigationRequest(const QUrl &url, NavigationType, bool isMainFrame) override
    {
        if (url.isLocalFile() || url.scheme() == QLatin1String("file"))
            return false;
        if (isMainFrame)
            m_browser->applyScriptRightsFor(url);
        return true;
    }

private:
    Browser *m_browser;
};

Browser::Browser(QWidget *parent) : QWidget(parent)
{
    m_interceptor = new OfflineInterceptor(this);
    m_schemeHandler = new CacheSchemeHandler(this);
    m_server = new CrossOriginServer(this);
    m_interceptor->setServer(m_server);
    m_findBar = new FindBar(this);
    m_note = new QLabel(QStringLiteral("无法连接到网站，这里显示的是缓存中保存的副本。"), this);
    m_note->setObjectName(QStringLiteral("cachedCopyNote"));
    m_note->setContentsMargins(6, 3, 6, 3);
    m_note->setAutoFillBackground(true);
    m_note->setBackgroundRole(QPalette::ToolTipBase);
    m_note->setForegroundRole(QPalette::ToolTipText);
    m_note->hide();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_note);
    layout->addWidget(m_findBar);
    layout->addStretch(1);
}

// The web engine starts with the first page it is asked to show, not with the window.
void Browser::ensurePage()
{
    if (m_page)
        return;
    const int serial = g_profiles++;
    const QString storage = serial == 0 ? QStringLiteral("preview") : QStringLiteral("preview-%1").arg(serial);
    const QString base = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QLatin1Char('/') + storage;
    m_profile = new QWebEngineProfile(storage, this);
    m_profile->setPersistentStoragePath(base + QStringLiteral("/storage"));
    m_profile->setCachePath(base + QStringLiteral("/cache"));
    m_profile->setUrlRequestInterceptor(m_interceptor);
    m_profile->installUrlSchemeHandler(kCacheHttpScheme, m_schemeHandler);
    m_profile->installUrlSchemeHandler(kCacheHttpsScheme, m_schemeHandler);

    // Web-page rights only: the preview shows what came from the web.
    QWebEngineSettings *settings = m_profile->settings();
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    // Nothing goes out before it is asked for: no name look-ups ahead, no link pings, and
    // WebRTC only through the interfaces a web page would use anyway.
    settings->setAttribute(QWebEngineSettings::DnsPrefetchEnabled, false);
    settings->setAttribute(QWebEngineSettings::HyperlinkAuditingEnabled, false);
    settings->setAttribute(QWebEngineSettings::WebRTCPublicInterfacesOnly, true);

    QWebEngineScript cachePages;
    cachePages.setName(QStringLiteral("tidewrack-cache-pages"));
    cachePages.setSourceCode(CachePageScript());
    cachePages.setInjectionPoint(QWebEngineScript::DocumentCreation);
    cachePages.setWorldId(QWebEngineScript::MainWorld);
    cachePages.setRunsOnSubFrames(true);
    m_profile->scripts()->insert(cachePages);

    m_page = new PreviewPage(m_profile, this);
    m_view = new QWebEngineView(this);
    m_view->setObjectName(QStringLiteral("view"));
    m_view->setPage(m_page);
    m_findBar->setPage(m_page);
    auto *layout = static_cast<QVBoxLayout *>(this->layout());
    delete layout->takeAt(2); // the stretch that stood in for the page
    layout->addWidget(m_view, 1);

    connect(m_page, &QWebEnginePage::newWindowRequested, this, &Browser::openNewWindow);
    connect(m_page, &QWebEnginePage::loadingChanged, this, &Browser::loadingChanged);
    connect(m_profile, &QWebEngineProfile::downloadRequested, this, &Browser::savedPage);
}

void Browser::applyScriptRightsFor(const QUrl &url)
{
    if (!m_page)
        return;
    m_page->settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, scriptAllowedFor(url));
}

bool Browser::scriptAllowedFor(const QUrl &url) const
{
    // Offline, no script runs at all: nothing in the engine keeps a page's script from
    // reaching the network past the request rules (peer connections, their name look-ups).
    if (IsOffline())
        return false;
    return IsCacheScheme(url) ? m_offlineScript : m_onlineScript;
}

void Browser::loadingChanged(const QWebEngineLoadingInfo &info)
{
    if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) {
        // The page that was given the server's addresses goes.
        const QUrl document = info.url().adjusted(QUrl::RemoveFragment);
        if (document != m_serverPage) {
            m_server->newPage();
            m_serverPage = document;
        }
        return;
    }
    const bool ok = info.status() == QWebEngineLoadingInfo::LoadSucceededStatus;
    // The network could not fetch the document: the cached copy, held to the cache's rules.
    const QUrl failed = info.url();
    if (!ok && !IsOffline() && !IsCacheScheme(failed) && serverUnreachable(info)
        && CacheHolds(m_schemeHandler->lookup(), failed)) {
        m_note->show();
        m_page->load(ToCacheScheme(failed));
        return;
    }
    m_hasDocument = true;
    emit loadFinished(ok);
}

void Browser::followOfflineState()
{
    if (!m_page || m_requestedUrl.isEmpty())
        return;
    const QUrl shown = m_page->url().isEmpty() ? m_requestedUrl : m_page->url();
    const bool fromCache = IsCacheScheme(shown);
    if (IsOffline())
        m_page->settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    if (IsOffline() && !fromCache) {
        m_page->load(ToCacheScheme(shown));
    } else if (!IsOffline() && fromCache) {
        m_note->hide();
        m_page->load(FromCacheScheme(shown));
    }
}

Browser::~Browser()
{
    // The page must go before its profile, which is a child of this widget too.
    delete m_options.data();
    delete m_saveDialog.data();
    delete m_view;
    delete m_page;
    if (m_profile) {
        delete m_profile;
        --g_profiles;
    }
}

QString Browser::Navigate(const QString &url)
{
    const QUrl target = QUrl::fromUserInput(url.trimmed());
    if (!target.isValid() || target.isEmpty())
        return QStringLiteral("Invalid URL \"%1\".").arg(url);
    // The cache keeps about:blank like any page; showing it is harmless.
    if (!isWebScheme(target.scheme()) && target != QUrl(QStringLiteral("about:blank")))
        return QStringLiteral("The URL \"%1\" is not a web address.").arg(url);
    m_requestedUrl = target;
    ensurePage();
    m_note->hide();
    m_page->load(target);
    return {};
}

void Browser::setCacheLookup(CacheLookup lookup)
{
    m_server->setLookup(lookup);
    m_schemeHandler->setLookup(std::move(lookup));
}

void Browser::openNewWindow(QWebEngineNewWindowRequest &request)
{
    // A window opened from a page of the cache (a link, a form or script) is a page of the
    // cache too, held to the same rules: it never starts a load from the network.
    QUrl url = request.requestedUrl();
    const bool fromCache = IsOffline() || IsCacheScheme(m_page->url()) || IsCacheScheme(url);
    if (fromCache) {
        url = ToCacheScheme(url);
        if (!IsCacheScheme(url))
            return;
    }
    Browser *target = nullptr;
    emit NewWindow2(&target);
    if (!target)
        return;
    target->ensurePage();
    target->m_note->setVisible(fromCache && !IsOffline());
    target->m_page->load(url);
}

void Browser::find()
{
    if (!m_hasDocument)
        return;
    m_findBar->start();
}

void Browser::internetOptions()
{
    if (!m_hasDocument)
        return;
    if (!m_options) {
        m_options = new InternetOptionsDialog(this, m_profile);
        m_options->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_options->open();
}

bool Browser::canSave() const
{
    if (!m_page)
        return false;
    const QAction *save = m_page->action(QWebEnginePage::SavePage);
    return m_hasDocument && save && save->isEnabled() && !m_page->url().isEmpty();
}

void Browser::saveAs()
{
    if (!canSave())
        return;
    if (!m_saveDialog) {
        m_saveDialog = new QFileDialog(this, QStringLiteral("保存网页"));
        m_saveDialog->setAttribute(Qt::WA_DeleteOnClose);
        m_saveDialog->setAcceptMode(QFileDialog::AcceptSave);
        m_saveDialog->setNameFilters({kCompletePage, kArchive, kHtmlOnly});
        connect(m_saveDialog, &QFileDialog::fileSelected, this,
                [this](const QString &path) { saveTo(path, m_saveDialog->selectedNameFilter()); });
    }
    QString name = QFileInfo(FromCacheScheme(m_page->url()).path()).completeBaseName();
    if (name.isEmpty())
        name = m_page->title();
    if (name.isEmpty())
        name = QStringLiteral("网页");
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    m_saveDialog->selectFile(QDir::home().filePath(name + QStringLiteral(".htm")));
    m_saveDialog->open();
}

namespace {

QString saveFailedText(const QString &path, const QString &cause)
{
    return QStringLiteral("网页未能保存：%1。\n%2").arg(cause, QDir::toNativeSeparators(path));
}

} // namespace

void Browser::saveTo(const QString &path, const QString &filter)
{
    if (path.isEmpty() || !canSave())
        return;
    QWebEngineDownloadRequest::SavePageFormat format = QWebEngineDownloadRequest::CompleteHtmlSaveFormat;
    QString target = path;
    if (filter == kArchive) {
        format = QWebEngineDownloadRequest::MimeHtmlSaveFormat;
        if (QFileInfo(target).suffix().isEmpty())
            target += QStringLiteral(".mht");
    } else {
        if (filter == kHtmlOnly)
            format = QWebEngineDownloadRequest::SingleHtmlSaveFormat;
        if (QFileInfo(target).suffix().isEmpty())
            target += QStringLiteral(".htm");
    }
    // The engine fetches an HTML-only save again from the network, which knows no mirror
    // address: a page from the cache is saved as the cached document itself.
    if (format == QWebEngineDownloadRequest::SingleHtmlSaveFormat && IsCacheScheme(m_page->url())) {
        QFile cached;
        if (!OpenCachedFile(m_schemeHandler->lookup(), m_page->url(), cached)) {
            emit failed(saveFailedText(target, QStringLiteral("无法读取缓存中的网页")));
            return;
        }
        QSaveFile out(target);
        if (!out.open(QIODevice::WriteOnly)) {
            emit failed(saveFailedText(target, CauseText(SaveFailure(out).error)));
            return;
        }
        bool wrote = true;
        while (wrote && !cached.atEnd()) {
            const QByteArray piece = cached.read(1 << 20);
            if (piece.isEmpty()) {
                out.cancelWriting();
                emit failed(saveFailedText(target, QStringLiteral("无法读取缓存中的网页")));
                return;
            }
            wrote = WriteAllTo(out, piece);
        }
        if (const StoreResult saved = FinishSaveFile(out, !wrote); !saved.ok())
            emit failed(saveFailedText(target, CauseText(saved.error)));
        return;
    }
    m_page->save(target, format);
}

void Browser::savedPage(QWebEngineDownloadRequest *download)
{
    // A page from the cache is saved with its mirror addresses: once the engine has
    // written it, they become the web addresses they stand for.
    if (!download->isSavePageDownload() || !IsCacheScheme(download->page() ? download->page()->url() : QUrl()))
        return;
    connect(download, &QWebEngineDownloadRequest::isFinishedChanged, this, [this, download] {
        if (download->state() != QWebEngineDownloadRequest::DownloadCompleted)
            return;
        const QString path = QDir(download->downloadDirectory()).filePath(download->downloadFileName());
        if (const StoreResult rewritten = RewriteSavedPage(path); !rewritten.ok())
            emit failed(saveFailedText(path, CauseText(rewritten.error)));
    });
}
