#include "browser.h"

#include "findbar.h"
#include "internetoptions.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <QWebEngineDownloadRequest>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
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

} // namespace

// The page of the preview: it never navigates to a local file, and it makes no second page
// for a new window (the browser loads the new window's address itself, see openNewWindow).
class PreviewPage : public QWebEnginePage {
public:
    PreviewPage(QWebEngineProfile *profile, Browser *browser) : QWebEnginePage(profile, browser) {}

protected:
    // Handing back this very page would make it adopt the opener's new web contents, which
    // the engine does not survive; the request then comes as newWindowRequested instead.
    QWebEnginePage *createWindow(WebWindowType) override { return nullptr; }
    bool acceptNavigationRequest(const QUrl &url, NavigationType, bool) override
    {
        return !url.isLocalFile() && url.scheme() != QLatin1String("file");
    }
};

Browser::Browser(QWidget *parent) : QWidget(parent)
{
    m_interceptor = new OfflineInterceptor(this);
    m_schemeHandler = new CacheSchemeHandler(this);
    m_findBar = new FindBar(this);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
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

    m_page = new PreviewPage(m_profile, this);
    m_view = new QWebEngineView(this);
    m_view->setObjectName(QStringLiteral("view"));
    m_view->setPage(m_page);
    m_findBar->setPage(m_page);
    auto *layout = static_cast<QVBoxLayout *>(this->layout());
    delete layout->takeAt(1); // the stretch that stood in for the page
    layout->addWidget(m_view, 1);

    connect(m_page, &QWebEnginePage::newWindowRequested, this, &Browser::openNewWindow);
    connect(m_page, &QWebEnginePage::loadFinished, this, [this](bool ok) {
        m_hasDocument = true;
        emit loadFinished(ok);
    });
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
    m_page->load(target);
    return {};
}

void Browser::setCacheLookup(CacheLookup lookup)
{
    m_schemeHandler->setLookup(std::move(lookup));
}

void Browser::openNewWindow(QWebEngineNewWindowRequest &request)
{
    Browser *target = nullptr;
    emit NewWindow2(&target);
    if (!target)
        return;
    target->ensurePage();
    target->m_page->load(request.requestedUrl());
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
        m_options = new InternetOptionsDialog(m_profile, this);
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
    m_page->save(target, format);
}
