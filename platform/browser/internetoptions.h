#pragma once
// The preview browser's own Internet options: the offline browsing state, JavaScript and
// pictures on or off, and clearing the preview's cookies and cache. It changes nothing of
// the user's other browsers.

#include <QDialog>

class QCheckBox;
class QLabel;
class QWebEngineProfile;

class InternetOptionsDialog : public QDialog {
    Q_OBJECT
public:
    InternetOptionsDialog(QWebEngineProfile *profile, QWidget *parent = nullptr);

    QCheckBox *offline() const { return m_offline; }
    QCheckBox *javaScript() const { return m_javaScript; }
    QCheckBox *images() const { return m_images; }

    void accept() override;

public slots:
    void clearCookies();
    void clearCache();

private:
    QWebEngineProfile *m_profile;
    QCheckBox *m_offline;
    QCheckBox *m_javaScript;
    QCheckBox *m_images;
    QLabel *m_done;
};
