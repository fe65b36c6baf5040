#include "gradient.h"

#include <QPainter>
#include <QRect>

QColor GradientRowColour(int y, int height, const QColor &bottom, const QColor &top)
{
    if (height < 2)
        return bottom;
    const int s = height - 1 - y;
    auto channel = [&](int b, int t) { return b + (s * (t - b)) / (height - 1); };
    return QColor(channel(bottom.red(), top.red()), channel(bottom.green(), top.green()),
                  channel(bottom.blue(), top.blue()));
}

void PaintGradient(QPainter &painter, const QRect &area, const QColor &bottom, const QColor &top)
{
    for (int y = 0; y < area.height(); ++y)
        painter.fillRect(area.left(), area.top() + y, area.width(), 1,
                         GradientRowColour(y, area.height(), bottom, top));
}
