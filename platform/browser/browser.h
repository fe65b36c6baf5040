#pragma once
// The preview browser: the small surface of a web browser control that the program uses.

#include <QWidget>

class Browser : public QWidget {
    Q_OBJECT
public:
    explicit Browser(QWidget *parent = nullptr);

    // The flag the preview sets: true while the browser shows the previewed document.
    bool Visible() const { return m_visible; }
    void setVisibleFlag(bool visible) { m_visible = visible; }
    // True once a document has been loaded.
    bool hasDocument() const { return m_hasDocument; }
    void Navigate(const QString &url);

private:
    bool m_visible = false;
    bool m_hasDocument = false;
};
