#pragma once
// The status bar's three panels `sbar` (objects "sbar0" .. "sbar2"): 0 the catalogue's state,
// 1 the document list's count, 2 the URL of the previewed document.

#include <QString>

class QLabel;
class QStatusBar;

class StatusPanels {
public:
    // Adds the three panels to `bar`.
    explicit StatusPanels(QStatusBar *bar);

    // Panels outside 0..2 are ignored (and read as empty).
    void setText(int panel, const QString &text);
    QString text(int panel) const;

private:
    QLabel *m_panels[3] = {};
};
