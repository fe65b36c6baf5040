#pragma once
// The small looping searching animation of the info window: a magnifier sweeping over a
// row of documents. It stands in for the platform's find-folder clip, takes the size of
// its clip when one is opened, and runs a timer only while it plays.

#include <QTimer>
#include <QWidget>

class SearchAnimation : public QWidget {
    Q_OBJECT
public:
    // Clip identifiers: 0 none, 1 searching.
    static constexpr int NoClip = 0;
    static constexpr int SearchClip = 1;
    static constexpr QSize ClipSize{80, 48};
    static constexpr int FrameCount = 24;
    static constexpr int FrameInterval = 70; // milliseconds

    explicit SearchAnimation(QWidget *parent = nullptr);

    // Loads a clip (an unknown identifier counts as none); a loaded clip sizes the widget.
    void setClip(int clip);
    int clip() const { return m_clip; }

    void start();
    void stop();
    bool isActive() const { return m_timer.isActive(); }

    int frame() const { return m_frame; }
    // Moves to the next frame, looping; what the timer does.
    void advance();

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void paintFrame(QPainter &painter, int frame) const;

    QTimer m_timer;
    int m_clip = NoClip;
    int m_frame = 0;
};
