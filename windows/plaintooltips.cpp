#include "plaintooltips.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QToolTip>

namespace {

class PlainItemToolTips : public QObject {
public:
    explicit PlainItemToolTips(QAbstractItemView *view) : QObject(view), m_view(view) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched != m_view->viewport() || event->type() != QEvent::ToolTip)
            return false;
        const auto *help = static_cast<QHelpEvent *>(event);
        const QModelIndex index = m_view->indexAt(help->pos());
        const QString tip = index.isValid() ? index.data(Qt::ToolTipRole).toString() : QString();
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), PlainToolTip(tip), m_view->viewport(), m_view->visualRect(index));
        return true;
    }

private:
    QAbstractItemView *m_view;
};

} // namespace

QString PlainToolTip(const QString &text)
{
    return QStringLiteral("<p style='white-space:pre'>") + text.toHtmlEscaped() + QStringLiteral("</p>");
}

void ShowItemToolTipsAsPlainText(QAbstractItemView *view)
{
    view->viewport()->installEventFilter(new PlainItemToolTips(view));
}
