#pragma once
// A transparent label laid out the way the windows were designed: every line is exactly
// as high as the font's pixel size (as with the 12 px "宋体"), whatever the line spacing
// of the font installed here, so that positions and heights computed from the labels stay
// the designed ones. A label can be made a link: blue, underlined, hand cursor, clicked().

#include <QLabel>

class QTextLayout;

class DesignLabel : public QLabel {
    Q_OBJECT
public:
    explicit DesignLabel(const QString &text, QWidget *parent = nullptr);

    void setLink(bool link);
    bool isLink() const { return m_link; }

    // Line height in pixels: the font's pixel size.
    int lineHeight() const;

    // Sizes the label to its text, like an auto-sized label: a wrapping label keeps its
    // width and grows to its lines, any other takes the width of its one line.
    void fitToText();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    int layOut(QTextLayout &layout, int width, qreal *naturalWidth = nullptr) const;

    bool m_link = false;
};
