#include "searchanimation.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <numbers>

SearchAnimation::SearchAnimation(QWidget *parent) : QWidget(parent)
{
    m_timer.setInterval(FrameInterval);
    connect(&m_timer, &QTimer::timeout, this, &SearchAnimation::advance);
}

void SearchAnimation::setClip(int clip)
{
    m_clip = clip == SearchClip ? SearchClip : NoClip;
    m_frame = 0;
    if (m_clip != NoClip)
        resize(ClipSize);
    update();
}

void SearchAnimation::start()
{
    if (m_clip != NoClip)
        m_timer.start();
}

void SearchAnimation::stop()
{
    m_timer.stop();
}

void SearchAnimation::advance()
{
    m_frame = (m_frame + 1) % FrameCount;
    update();
}

QSize SearchAnimation::sizeHint() const
{
    return ClipSize;
}

void SearchAnimation::paintEvent(QPaintEvent *)
{
    if (m_clip == NoClip)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // Drawn in clip coordinates, whatever size the control has been given.
    painter.scale(width() / qreal(ClipSize.width()), height() / qreal(ClipSize.height()));
    paintFrame(painter, m_frame);
}

void SearchAnimation::paintFrame(QPainter &painter, int frame) const
{
    const QColor paper(0xff, 0xff, 0xff), edge(0x7b, 0x87, 0x94), lines(0xaa, 0xb4, 0xbf);
    const QColor blue(0x2b, 0x7d, 0xe9), lens(0xd8, 0xe9, 0xfd), handle(0x3d, 0x4a, 0x5c);
    const QColor folder(0xf5, 0xb4, 0x3c), folderBack(0xe0, 0x9a, 0x1f), folderEdge(0xb9, 0x79, 0x12);

    // An open folder at the bottom holding three documents.
    QPainterPath back;
    back.moveTo(6.5, 44.5);
    back.lineTo(6.5, 18.5);
    back.lineTo(20.5, 18.5);
    back.lineTo(24.5, 22.5);
    back.lineTo(73.5, 22.5);
    back.lineTo(73.5, 44.5);
    back.closeSubpath();
    painter.setPen(QPen(folderEdge, 1));
    painter.setBrush(folderBack);
    painter.drawPath(back);

    const qreal phase = 2 * std::numbers::pi * frame / FrameCount;
    const qreal lensX = 40 + 24 * std::sin(phase);
    for (int i = 0; i < 3; ++i) {
        const qreal x = 16.5 + i * 17;
        // The document under the lens lifts a little, as if looked at.
        const qreal lift = std::max(0.0, 4 - std::abs(lensX - (x + 6.5)) / 3);
        const QRectF sheet(x, 12.5 - lift, 14, 20);
        painter.setPen(QPen(edge, 1));
        painter.setBrush(paper);
        painter.drawRect(sheet);
        painter.setPen(QPen(lines, 1));
        for (int row = 0; row < 4; ++row)
            painter.drawLine(QPointF(x + 3, sheet.top() + 4.5 + row * 3.5),
                             QPointF(x + 11, sheet.top() + 4.5 + row * 3.5));
    }

    QPainterPath front;
    front.moveTo(3.5, 44.5);
    front.lineTo(8.5, 28.5);
    front.lineTo(76.5, 28.5);
    front.lineTo(71.5, 44.5);
    front.closeSubpath();
    painter.setPen(QPen(folderEdge, 1));
    painter.setBrush(folder);
    painter.drawPath(front);

    // The magnifier sweeps to and fro over the documents, bobbing slightly.
    const qreal lensY = 17 + 3 * std::cos(2 * phase);
    const QPointF centre(lensX, lensY);
    painter.setPen(QPen(handle, 4, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(centre + QPointF(6.5, 6.5), centre + QPointF(13, 13));
    painter.setPen(QPen(blue, 2.2));
    QColor glass = lens;
    glass.setAlpha(200);
    painter.setBrush(glass);
    painter.drawEllipse(centre, 8.5, 8.5);
    painter.setPen(QPen(QColor(0xff, 0xff, 0xff), 1.5, Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    painter.drawArc(QRectF(centre.x() - 5, centre.y() - 5, 10, 10), 100 * 16, 70 * 16);
}
