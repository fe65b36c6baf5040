#pragma once
// The vertical gradient painted behind the toolbar and the logo window.

#include <QColor>

class QPainter;
class QRect;

// The colour of row `y` (0 at the top) of an area `height` rows high that runs from `top`
// at the first row to `bottom` at the last: per channel bottom + s * (top - bottom) / (height - 1)
// with s = height - 1 - y, truncated toward zero.
QColor GradientRowColour(int y, int height, const QColor &bottom, const QColor &top);

// Fills `area` row by row with that gradient.
void PaintGradient(QPainter &painter, const QRect &area, const QColor &bottom, const QColor &top);
