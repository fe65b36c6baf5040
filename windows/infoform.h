#pragma once
// The info window: a small frameless window above all others with a message and an
// optional searching animation, shown while a long operation (reading the catalogue)
// runs on the interface thread. Created once, hidden, and shown and hidden at will.

#include <QWidget>

class QLabel;
class SearchAnimation;

class Tfrm_showinfo : public QWidget {
    Q_OBJECT
public:
    explicit Tfrm_showinfo(QWidget *parent = nullptr);

    // Animation identifiers.
    static constexpr int NoAnimation = 0;
    static constexpr int FindFolderAnimation = 1;

    // Shows `message`, with the animation when `animation` is not 0, and lets pending
    // events run once so that the window is painted. Does nothing at all while the window
    // is already visible: the message shown first stays.
    void ShowProgress(const QString &message, int animation);

    // Empties the message, stops and hides the animation, hides the window.
    void HideProgress();

    static constexpr int ClientWidth = 361;
    static constexpr int OuterHeight = 130;

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void FormCreate();

    SearchAnimation *Animate1 = nullptr;
    QLabel *Label1 = nullptr;
};
