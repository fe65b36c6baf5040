#include "statuspanels.h"

#include <QLabel>
#include <QStatusBar>

StatusPanels::StatusPanels(QStatusBar *bar)
{
    const int widths[] = {70, 90, 50};
    for (int i = 0; i < 3; ++i) {
        m_panels[i] = new QLabel(bar);
        m_panels[i]->setObjectName(QStringLiteral("sbar%1").arg(i));
        // Panel 2 shows URLs as they are, markup and all.
        m_panels[i]->setTextFormat(Qt::PlainText);
        m_panels[i]->setFrameShape(QFrame::Panel);
        m_panels[i]->setFrameShadow(QFrame::Sunken);
        m_panels[i]->setMinimumWidth(widths[i]);
        if (i < 2)
            m_panels[i]->setFixedWidth(widths[i]);
        bar->addWidget(m_panels[i], i == 2 ? 1 : 0);
    }
    bar->setSizeGripEnabled(true);
}

void StatusPanels::setText(int panel, const QString &text)
{
    if (panel >= 0 && panel < 3)
        m_panels[panel]->setText(text);
}

QString StatusPanels::text(int panel) const
{
    return (panel >= 0 && panel < 3) ? m_panels[panel]->text() : QString();
}
