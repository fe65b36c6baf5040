#pragma once
// The splash and about window: the program's title, version, author, mail address and
// web page on a painted gradient. Cut short below the web page line it is the splash
// shown while the program starts; shown whole, with the notes of "readme.txt", it is the
// about box. The one live instance is the main window's `frm_logo`.

#include <QDialog>

class DesignLabel;
class QLabel;
class QPlainTextEdit;

class Tfrm_logo : public QDialog {
    Q_OBJECT
public:
    explicit Tfrm_logo(QWidget *parent = nullptr);

    // The splash: height Lab_mail.top + Lab_mail.height + 40, notes out of view. Esc and a
    // double click only hide it; the caller shows it with show() and destroys it later.
    void prepareSplash();

    // The about box: "关于Tidewrack的说明" shown, height Memo1.top + Memo1.height + 20,
    // the notes read from `readmePath` (UTF-8 where valid, else GBK). Returns false when
    // the file cannot be read; the notes area then stays empty and the caller reports it.
    bool prepareAbout(const QString &readmePath);

    // Where "readme.txt" is: in `appDir` (the executable's folder) when there, else in the
    // installed data folder, else the path in `appDir` (whose reading then fails).
    static QString readmePath(const QString &appDir);

    static QString authorMail();
    static QString homePage();

    // Opens a new mail to the author with the desktop's mail program; failures stay silent.
    static void mailToAuthor();
    static void openHomePage();

    // Design size of the window.
    static constexpr int DesignWidth = 369;
    static constexpr int DesignHeight = 389;
    // The edge the window draws around itself, and the least room between a word and the
    // address after it.
    static constexpr int FrameWidth = 1;
    static constexpr int WordGap = 6;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void FormCreate();
    bool FormKeyDown(int key);
    void Label1Click();
    void Lab_mailClick();
    void setOuterHeight(int height);

    QLabel *Image1 = nullptr;
    DesignLabel *Label5 = nullptr;
    DesignLabel *Label2 = nullptr;
    DesignLabel *Label8 = nullptr;
    DesignLabel *Label3 = nullptr;
    DesignLabel *Label4 = nullptr;
    DesignLabel *Label6 = nullptr;
    DesignLabel *Label1 = nullptr;
    DesignLabel *Label7 = nullptr;
    DesignLabel *Lab_mail = nullptr;
    DesignLabel *Lab_shuo = nullptr;
    QPlainTextEdit *Memo1 = nullptr;
};
