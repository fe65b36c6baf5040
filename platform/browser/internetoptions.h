#pragma once
// The preview browser's own Internet options: the offline browsing state, JavaScript for
// pages from the network and for pages from the cache, pictures on or off, and clearing the
// preview's cookies and cache. It changes nothing of the user's other browsers.

#include <QDialog>

class Browser;
class QCheckBox;
class QLabel;
class QWebEngineProfile;

class InternetOptionsDialog : public QDialog {
    Q_OBJECT
public:
    InternetOptionsDialog(Browser *browser, QWebEngineProfile *profile);

    // What a title bar takes beside the caption: the icon, the buttons, the margins.
    static constexpr int CaptionButtonsRoom = 160;

    QCheckBox *offline() const { return m_offline; }
    QCheckBox *javaScript() const { return m_javaScript; }
    QCheckBox *offlineScript() const { return m_offlineScript; }
    QCheckBox *images() const { return m_images; }

    void accept() override;

public slots:
    void clearCookies();
    void clearCache();

private:
    Browser *m_browser;
    QWebEngineProfile *m_profile;
    QCheckBox *m_offline;
    QCheckBox *m_javaScript;
    QCheckBox *m_offlineScript;
    QCheckBox *m_images;
    QLabel *m_done;
};
