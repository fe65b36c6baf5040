#include "designlabel.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

DesignLabel::DesignLabel(const QString &text, QWidget *parent) : QLabel(text, parent)
{
    setAutoFillBackground(false);
    setAttribute(Qt::WA_TranslucentBackground);
}

void DesignLabel::setLink(bool link)
{
    m_link = link;
    QFont f = font();
    f.setUnderline(link);
    setFont(f);
    QPalette pal = palette();
    if (link)
        pal.setColor(QPalette::WindowText, QColor(0, 0, 255));
    setPalette(pal);
    setCursor(link ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

int DesignLabel::lineHeight() const
{
    return font().pixelSize() > 0 ? font().pixelSize() : fontMetrics().height();
}

// Lays out the text in lines of lineHeight() pixels; returns the number of lines and, in
// `naturalWidth`, the width of the widest.
int DesignLabel::layOut(QTextLayout &layout, int width, qreal *naturalWidth) const
{
    QTextOption option(Qt::AlignLeft);
    option.setWrapMode(wordWrap() ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
    layout.setTextOption(option);
    layout.setFont(font());
    // Ideographs stand from about 0.88 em above the baseline to 0.12 em below it; a
    // baseline at 0.86 of the line keeps them, and Latin letters, inside the line.
    const int lh = lineHeight();
    qreal baseline = std::round(lh * 0.86);
    if (font().underline()) {
        // The underline lies below the baseline; lifted as far as it needs, the line keeps it
        // inside the label's design height instead of losing it at the label's bottom edge.
        const QFontMetricsF metrics(font());
        baseline =
            std::min(baseline, std::floor(lh - metrics.underlinePos() - std::max<qreal>(1, metrics.lineWidth())));
    }
    int lines = 0;
    layout.beginLayout();
    for (;;) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(wordWrap() ? width : 1e6);
        line.setPosition(QPointF(0, lines * lh + baseline - line.ascent()));
        if (naturalWidth)
            *naturalWidth = std::max(*naturalWidth, line.naturalTextWidth());
        ++lines;
    }
    layout.endLayout();
    return lines;
}

void DesignLabel::fitToText()
{
    resize(sizeHint());
}

QSize DesignLabel::sizeHint() const
{
    QTextLayout layout(text());
    qreal natural = 0;
    const int lines = std::max(1, layOut(layout, width(), &natural));
    const int w = wordWrap() ? width() : int(std::ceil(natural));
    return QSize(w, lines * lineHeight());
}

QSize DesignLabel::minimumSizeHint() const
{
    return sizeHint();
}

void DesignLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
    QTextLayout layout(text());
    layOut(layout, width());
    layout.draw(&painter, QPointF(0, 0));
}

void DesignLabel::mousePressEvent(QMouseEvent *event)
{
    if (m_link)
        event->accept();
    else
        QLabel::mousePressEvent(event);
}

void DesignLabel::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_link && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        event->accept();
        emit clicked();
        return;
    }
    QLabel::mouseReleaseEvent(event);
}
