#pragma once
// Looking at what widgets paint, for the faults that show only on the screen: a label that
// turns a file name's "<b>" into bold, rows painted selected, a line that is cut.

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <QToolTip>
#include <QWidget>

#include <functional>
#include <memory>

// What `widget` paints itself (frame, text, children), on white, without the window
// background a grab adds to a widget that is a window of its own.
inline QImage PaintedAlone(QWidget *widget)
{
    QImage image(widget->size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    widget->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// True when `label` paints inside its frame exactly what a plain-text label with the same
// text, font, colours, frame and layout paints: its text shows as the characters it holds.
inline bool PaintsAsPlainText(QLabel *label)
{
    QLabel twin;
    twin.setTextFormat(Qt::PlainText);
    twin.setText(label->text());
    twin.setFont(label->font());
    twin.setPalette(label->palette());
    twin.setAlignment(label->alignment());
    twin.setWordWrap(label->wordWrap());
    twin.setMargin(label->margin());
    twin.setIndent(label->indent());
    twin.setFrameShape(label->frameShape());
    twin.setFrameShadow(label->frameShadow());
    twin.setLineWidth(label->lineWidth());
    twin.setMidLineWidth(label->midLineWidth());
    twin.setTextInteractionFlags(label->textInteractionFlags());
    twin.setForegroundRole(label->foregroundRole());
    twin.setFixedSize(label->size());
    // The text inside the frame: how the style draws a frame depends on where it stands.
    const QRect text = label->contentsRect();
    return PaintedAlone(&twin).copy(text) == PaintedAlone(label).copy(text);
}

// The text a label shows, read the way the label lays it out: its markup applied when it
// takes the text as rich text, the characters as they are otherwise.
inline QString ShownText(const QLabel *label)
{
    const bool rich = label->textFormat() == Qt::RichText
        || (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text()));
    if (!rich)
        return label->text();
    QTextDocument document;
    document.setHtml(label->text());
    return document.toPlainText();
}

// The tool tip on the screen now, or null.
inline QLabel *ShownToolTip()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->inherits("QTipLabel") && w->isVisible())
            return qobject_cast<QLabel *>(w);
    return nullptr;
}

// Points at `at` in `view` as the mouse resting there does, and returns the text the tool
// tip shows (empty when none shows or it does not go again); the tip is hidden again.
inline QString ToolTipShownAt(QAbstractItemView *view, const QPoint &at)
{
    QHelpEvent help(QEvent::ToolTip, at, view->viewport()->mapToGlobal(at));
    QCoreApplication::sendEvent(view->viewport(), &help);
    if (!QTest::qWaitFor([] { return ShownToolTip() != nullptr; }, 2000))
        return {};
    const QString shown = ShownText(ShownToolTip());
    QToolTip::hideText();
    // A tip that stays up would answer the next question: that counts as none shown.
    const bool hidden = QTest::qWaitFor([] { return ShownToolTip() == nullptr; }, 2000);
    return hidden ? shown : QString();
}

// Hands every message box that comes up modal, while the returned timer lives, to `handle`,
// which answers it.
inline std::unique_ptr<QTimer> OnModalBoxes(std::function<void(QMessageBox *)> handle)
{
    auto timer = std::make_unique<QTimer>();
    QObject::connect(timer.get(), &QTimer::timeout, [handle = std::move(handle)] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
            handle(box);
    });
    timer->start(10);
    return timer;
}

// The text label of a message box.
inline QLabel *BoxLabel(const QMessageBox *box)
{
    return box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
}

// How many pixel rows of `view`'s viewport hold the selection's colour.
inline int RowsPaintedSelected(QAbstractItemView *view)
{
    const QImage shot = view->viewport()->grab().toImage();
    const QRgb selected = view->palette().color(QPalette::Active, QPalette::Highlight).rgb();
    int rows = 0;
    for (int y = 0; y < shot.height(); ++y) {
        int hits = 0;
        for (int x = 0; x < shot.width(); ++x)
            hits += (shot.pixel(x, y) & 0xFFFFFF) == (selected & 0xFFFFFF);
        rows += hits > shot.width() / 4;
    }
    return rows;
}
