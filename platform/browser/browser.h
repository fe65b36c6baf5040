#pragma once
// The preview browser: the small surface of a web browser control that the program uses,
// over a QWebEngineView with a profile of its own. While the system is offline its pages
// come from the cache store (offlineserving.h); online, a page whose server cannot be
// reached is shown from the cache too, with a note above it.

#include "internetoptions.h"
#include "offlineserving.h"

#include <QFileDialog>
#include <QPointer>
#include <QUrl>
#include <QWidget>

class FindBar;
class QLabel;
class QWebEngineDownloadRequest;
class QWebEngineLoadingInfo;
class QWebEngineNewWindowRequest;
class QWebEnginePage;
class QWebEngineProfile;
class QWebEngineView;

class Browser : public QWidget {
    Q_OBJECT
public:
    explicit Browser(QWidget *parent = nullptr);
    ~Browser() override;

    // The flag the preview sets: true while the browser shows the previewed document.
    bool Visible() const { return m_visible; }
    void setVisibleFlag(bool visible) { m_visible = visible; }
    // True once a document has been loaded.
    bool hasDocument() const { return m_hasDocument; }
    // Sends the browser to `url`. Returns why the browser refused it, empty when it goes.
    QString Navigate(const QString &url);
    // The URL of the last accepted Navigate.
    QUrl requestedUrl() const { return m_requestedUrl; }

    // Whether cached copies shown while online run their script (off unless the user asks),
    // and whether pages from the network do (on). While offline no page runs script.
    void setOfflineScript(bool run) { m_offlineScript = run; }
    bool offlineScript() const { return m_offlineScript; }
    void setOnlineScript(bool run) { m_onlineScript = run; }
    bool onlineScript() const { return m_onlineScript; }
    // Sets the page's script rights for a main-frame load of `url`.
    void applyScriptRightsFor(const QUrl &url);
    bool scriptAllowedFor(const QUrl &url) const;

    // Reloads the page shown from the cache when the system went offline, from the network
    // when it came back online. Does nothing when the page already fits the state.
    void followOfflineState();
    // The one-line note above a page shown from the cache while online.
    QLabel *cachedCopyNote() const { return m_note; }

    // Where offline requests find their cached files.
    void setCacheLookup(CacheLookup lookup);

    // The browser's own commands. Each does nothing while no document is loaded.
    void find();
    void internetOptions();
    // True when the page shown can be saved.
    bool canSave() const;
    void saveAs();

    // Null until the first Navigate.
    QWebEngineView *view() const { return m_view; }
    QWebEnginePage *page() const { return m_page; }
    QWebEngineProfile *profile() const { return m_profile; }
    FindBar *findBar() const { return m_findBar; }
    // The server of other origins' resources for pages from the cache.
    const CrossOriginServer *crossOriginServer() const { return m_server; }
    // The options dialog or the save dialog while one is open.
    InternetOptionsDialog *optionsDialog() const { return m_options; }
    QFileDialog *saveDialog() const { return m_saveDialog; }

signals:
    // A page asks for a new window. A receiver (connected directly) sets *target to the
    // browser that is to show it; left null, the new window is not opened.
    void NewWindow2(Browser **target);
    void loadFinished(bool ok);
    // Something the user asked for failed (the page was not saved, the offline state not
    // kept); `text` says what and why, ready to be shown.
    void failed(const QString &text);

private:
    void ensurePage();
    void openNewWindow(QWebEngineNewWindowRequest &request);
    void saveTo(const QString &path, const QString &filter);
    void loadingChanged(const QWebEngineLoadingInfo &info);
    void savedPage(QWebEngineDownloadRequest *download);

    bool m_visible = false;
    bool m_hasDocument = false;
    bool m_offlineScript = false;
    bool m_onlineScript = true;
    QUrl m_requestedUrl;
    QUrl m_serverPage; // the document the server's addresses were last given to
    QWebEngineProfile *m_profile = nullptr;
    OfflineInterceptor *m_interceptor = nullptr;
    CacheSchemeHandler *m_schemeHandler = nullptr;
    CrossOriginServer *m_server = nullptr;
    QLabel *m_note = nullptr;
    QWebEnginePage *m_page = nullptr;
    QWebEngineView *m_view = nullptr;
    FindBar *m_findBar = nullptr;
    QPointer<InternetOptionsDialog> m_options;
    QPointer<QFileDialog> m_saveDialog;
};
