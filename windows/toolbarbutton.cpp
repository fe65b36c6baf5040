#include "toolbarbutton.h"

#include <QAction>
#include <QPainter>
#include <QStyleOptionToolButton>

namespace {
constexpr int MenuArrowWidth = 12;
}

ToolBarButton::ToolBarButton(QAction *action, const QString &caption, QWidget *parent)
    : QToolButton(parent), m_caption(caption)
{
    setDefaultAction(action);
    setAutoRaise(true);
    setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    setText(caption);
    // The action's own caption would replace ours at every change of its state.
    connect(action, &QAction::changed, this, [this] { setText(m_caption); });
}

void ToolBarButton::enterEvent(QEnterEvent *event)
{
    m_hover = true;
    update();
    QToolButton::enterEvent(event);
}

void ToolBarButton::leaveEvent(QEvent *event)
{
    m_hover = false;
    update();
    QToolButton::leaveEvent(event);
}

void ToolBarButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const bool enabled = isEnabled();
    const bool hasMenu = menu() != nullptr;
    QRect face = rect().adjusted(0, 0, -1, -1);
    const QRect body = hasMenu ? face.adjusted(0, 0, -MenuArrowWidth, 0) : face;

    if (isDown() || isChecked()) {
        painter.fillRect(face, QColor(0, 0, 0, 36));
        painter.setPen(QColor(0, 0, 0, 90));
        painter.drawRect(face);
    } else if (m_hover && enabled) {
        painter.setPen(QColor(0, 0, 0, 70));
        painter.drawRect(face);
        if (hasMenu)
            painter.drawLine(body.right(), face.top(), body.right(), face.bottom());
    }

    const int iconSize = 16;
    const QIcon::Mode mode = enabled ? QIcon::Normal : QIcon::Disabled;
    const QPixmap pixmap = icon().pixmap(iconSize, iconSize, mode, isChecked() ? QIcon::On : QIcon::Off);
    painter.drawPixmap(body.left() + (body.width() - iconSize) / 2 + 1, 1, pixmap);

    // CJK fonts have a tall line; place the baseline by the glyphs so the caption never clips.
    painter.setFont(font());
    const QFontMetrics metrics(font());
    const int baseline = height() - metrics.descent() - 1;
    const int x = body.left() + (body.width() - metrics.horizontalAdvance(m_caption)) / 2 + 1;
    painter.setPen(QColor(0, 0, 0, enabled ? 150 : 60));
    painter.drawText(x + 1, baseline + 1, m_caption);
    painter.setPen(enabled ? QColor(Qt::white) : QColor(255, 255, 255, 160));
    painter.drawText(x, baseline, m_caption);

    if (hasMenu) {
        const int cx = face.right() - MenuArrowWidth / 2;
        const int cy = face.center().y();
        QPolygon arrow({QPoint(cx - 3, cy - 1), QPoint(cx + 3, cy - 1), QPoint(cx, cy + 2)});
        painter.setPen(Qt::NoPen);
        painter.setBrush(enabled ? QColor(40, 40, 40) : QColor(120, 120, 120));
        painter.drawPolygon(arrow);
    }
}
