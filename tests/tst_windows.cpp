// The auxiliary windows: gradient, splash and about window, info window, animation and
// the program's pictures.

#include "catalogue/text.h"
#include "windows/designlabel.h"
#include "windows/entryinfowindow.h"
#include "windows/gradient.h"
#include "windows/infoform.h"
#include "windows/logoform.h"
#include "windows/messagebox.h"
#include "windows/pictures.h"
#include "windows/qttranslations.h"
#include "windows/searchanimation.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>

#include "rendering.h"

// Records the URLs the windows hand to the desktop instead of opening them.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QStringList urls;
public slots:
    void open(const QUrl &url) { urls << url.toString(); }
};

class TestWindows : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void entryInfoFitsItsContent_data();
    void entryInfoFitsItsContent();

    void gradientRow_data();
    void gradientRow();
    void paintGradientFillsWholeRows();

    void logoControls_data();
    void logoControls();
    void logoHeights_data();
    void logoHeights();
    void aboutWithoutReadme();
    void readmeEncodings_data();
    void readmeEncodings();
    void readmeFoundBesideOrInstalled();
    void escClosesFromAnyControl();
    void arrowKeysScrollNotes();
    void doubleClickOnlyHidesSplash();
    void linksOpenMailAndPage_data();
    void linksOpenMailAndPage();
    void logoGradientFollowsSystemColours();
    void logoLinksUnderlinedTextsApartFramed();

    void infoWindowShape();
    void showProgressPlacesMessage_data();
    void showProgressPlacesMessage();
    void showProgressKeepsEarlierMessage();
    void hideProgressEmptiesAndHides();
    void animationLoopsAndMoves();

    void messageBoxShowsTextAsItIs();
    void qtOwnTextsInChinese();

    void pictures_data();
    void pictures();
    void picturesOutOfRange();
    void collectBoxImages();

private:
    QString writeFile(const QString &name, const QByteArray &bytes);
    static int opaquePixels(const QImage &image);

    QTemporaryDir m_dir;
    QPalette m_palette;
};

void TestWindows::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_palette = QApplication::palette();
}

void TestWindows::cleanup()
{
    QApplication::setPalette(m_palette);
}

QString TestWindows::writeFile(const QString &name, const QByteArray &bytes)
{
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

int TestWindows::opaquePixels(const QImage &image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) > 128;
    return count;
}

// --- gradient -------------------------------------------------------------------------

void TestWindows::gradientRow_data()
{
    QTest::addColumn<int>("height");
    QTest::addColumn<QColor>("bottom");
    QTest::addColumn<QColor>("top");
    QTest::addColumn<int>("y");
    QTest::addColumn<QColor>("expected");

    // A toolbar 37 rows high, white above, button face below; row 18 is half way, truncated:
    // 212 + 43/2, 208 + 47/2, 200 + 55/2.
    const QColor face(212, 208, 200), white(255, 255, 255);
    QTest::newRow("toolbar top row") << 37 << face << white << 0 << white;
    QTest::newRow("toolbar bottom row") << 37 << face << white << 36 << face;
    QTest::newRow("toolbar row 18") << 37 << face << white << 18 << QColor(233, 231, 227);

    // Odd spans at half way: 201 - 100.5 must give 101 (toward zero), not 100 (floor);
    // 0 + 127.5 gives 127, 255 - 127.5 gives 128.
    QTest::newRow("half way, both directions")
        << 37 << QColor(201, 0, 255) << QColor(0, 255, 0) << 18 << QColor(101, 127, 128);
    // Second row: 35 * 255 / 36 = 247.9. Rising gives 247 (not rounded to 248), falling
    // gives 255 - 247 = 8 (not 7, as flooring -247.9 would).
    QTest::newRow("second row rising and falling")
        << 37 << QColor(0, 255, 0) << QColor(255, 0, 255) << 1 << QColor(247, 8, 247);
    QTest::newRow("two rows, top") << 2 << QColor(10, 20, 30) << QColor(40, 50, 60) << 0 << QColor(40, 50, 60);
    QTest::newRow("two rows, bottom") << 2 << QColor(10, 20, 30) << QColor(40, 50, 60) << 1 << QColor(10, 20, 30);
    QTest::newRow("equal ends") << 37 << QColor(9, 9, 9) << QColor(9, 9, 9) << 20 << QColor(9, 9, 9);
}

void TestWindows::gradientRow()
{
    QFETCH(int, height);
    QFETCH(QColor, bottom);
    QFETCH(QColor, top);
    QFETCH(int, y);
    QFETCH(QColor, expected);
    QCOMPARE(GradientRowColour(y, height, bottom, top), expected);
}

void TestWindows::paintGradientFillsWholeRows()
{
    QImage image(7, 37, QImage::Format_RGB32);
    image.fill(Qt::black);
    {
        QPainter painter(&image);
        PaintGradient(painter, image.rect(), QColor(212, 208, 200), Qt::white);
    }
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            QCOMPARE(QColor(image.pixel(x, y)), GradientRowColour(y, 37, QColor(212, 208, 200), Qt::white));
    QCOMPARE(QColor(image.pixel(3, 0)), QColor(Qt::white));
    QCOMPARE(QColor(image.pixel(3, 18)), QColor(233, 231, 227));
    QCOMPARE(QColor(image.pixel(3, 36)), QColor(212, 208, 200));
}

// --- splash and about window ----------------------------------------------------------

void TestWindows::logoControls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("where"); // width or height -1: not checked
    QTest::addColumn<QString>("text");

    QTest::newRow("Image1") << "Image1" << QRect(12, 24, 41, 45) << QString();
    QTest::newRow("Label5") << "Label5" << QRect(58, 26, -1, -1) << "Tidewrack";
    QTest::newRow("Label2") << "Label2" << QRect(57, 26, -1, -1) << "Tidewrack";
    QTest::newRow("Label8") << "Label8" << QRect(59, 50, -1, -1) << "Tidewrack";
    QTest::newRow("Label3") << "Label3" << QRect(135, 50, -1, -1) << "版本 1.00";
    QTest::newRow("Label4") << "Label4" << QRect(59, 116, -1, -1) << "作者：潮汐工作室";
    QTest::newRow("Label6") << "Label6" << QRect(59, 134, -1, -1) << "Email";
    // The addresses: at 91 in the design, further right where the word before them needs it.
    QTest::newRow("Label1") << "Label1" << QRect(-1, 133, -1, -1) << Tfrm_logo::authorMail();
    QTest::newRow("Label7") << "Label7" << QRect(59, 152, -1, -1) << "主页";
    QTest::newRow("Lab_mail") << "Lab_mail" << QRect(-1, 152, -1, 12) << Tfrm_logo::homePage();
    QTest::newRow("Lab_shuo") << "Lab_shuo" << QRect(60, 184, -1, -1) << "关于Tidewrack的说明";
    QTest::newRow("Memo1") << "Memo1" << QRect(59, 200, 298, 167) << QString();
}

void TestWindows::logoControls()
{
    QFETCH(QString, name);
    QFETCH(QRect, where);
    QFETCH(QString, text);

    Tfrm_logo logo;
    auto *control = logo.findChild<QWidget *>(name);
    QVERIFY(control);
    if (where.left() >= 0)
        QCOMPARE(control->pos(), where.topLeft());
    else
        QCOMPARE(control->y(), where.top());
    if (where.width() >= 0)
        QCOMPARE(control->size(), where.size());
    else if (where.height() >= 0)
        QCOMPARE(control->height(), where.height());
    if (name == "Label1" || name == "Lab_mail") {
        const auto *word = logo.findChild<QWidget *>(name == "Label1" ? "Label6" : "Label7");
        QVERIFY(control->x() >= 91);
        QVERIFY(control->x() >= word->geometry().right() + 1 + Tfrm_logo::WordGap);
        QCOMPARE(control->x(), logo.findChild<QWidget *>("Label1")->x()); // the two start together
    }
    if (name == "Lab_mail")
        QCOMPARE(control->geometry().right(), 91 + 230 - 1);
    if (auto *label = qobject_cast<QLabel *>(control); label && !text.isEmpty())
        QCOMPARE(label->text(), text);
    if (auto *link = qobject_cast<DesignLabel *>(control); link && link->isLink()) {
        QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
        QVERIFY(link->font().underline());
        QCOMPARE(link->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    }
    if (name == "Label1" || name == "Lab_mail")
        QVERIFY(qobject_cast<DesignLabel *>(control)->isLink());
    if (name == "Label5" || name == "Label2") {
        QCOMPARE(control->font().pixelSize(), 16);
        QVERIFY(control->font().bold());
    }
    if (auto *memo = qobject_cast<QPlainTextEdit *>(control)) {
        QVERIFY(memo->isReadOnly());
        QCOMPARE(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(memo->palette().color(QPalette::Base), QApplication::palette().color(QPalette::ToolTipBase));
    }
    QCOMPARE(logo.font().pixelSize(), 12);
    QVERIFY(logo.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(logo.windowFlags() & Qt::WindowStaysOnTopHint);
}

void TestWindows::logoHeights_data()
{
    QTest::addColumn<bool>("about");
    QTest::addColumn<int>("height");
    QTest::addColumn<bool>("notesShown");

    QTest::newRow("splash") << false << 204 << false;
    QTest::newRow("about") << true << 387 << true;
}

void TestWindows::logoHeights()
{
    QFETCH(bool, about);
    QFETCH(int, height);
    QFETCH(bool, notesShown);

    Tfrm_logo logo;
    if (about)
        QVERIFY(logo.prepareAbout(writeFile("readme.txt", "notes")));
    else
        logo.prepareSplash();
    logo.show();
    QCOMPARE(logo.height(), height);
    QCOMPARE(logo.width(), 369);
    auto *shuo = logo.findChild<QWidget *>("Lab_shuo");
    auto *memo = logo.findChild<QWidget *>("Memo1");
    QCOMPARE(shuo->isVisible(), notesShown);
    QCOMPARE(memo->isVisible(), notesShown);
    // The web page line is always whole inside the window.
    auto *page = logo.findChild<QWidget *>("Lab_mail");
    QVERIFY(page->geometry().bottom() < logo.height());
}

void TestWindows::aboutWithoutReadme()
{
    Tfrm_logo logo;
    QVERIFY(!logo.prepareAbout(m_dir.filePath("missing/readme.txt")));
    QCOMPARE(logo.height(), 387);
    QVERIFY(!logo.findChild<QWidget *>("Lab_shuo")->isHidden());
    QCOMPARE(logo.findChild<QPlainTextEdit *>("Memo1")->toPlainText(), QString());
    // A directory cannot be read as notes either.
    QVERIFY(!logo.prepareAbout(m_dir.path()));
}

void TestWindows::readmeEncodings_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");

    QTest::newRow("utf-8") << QByteArray("\xe7\xbc\x93\xe5\xad\x98 F5") << "缓存 F5";
    QTest::newRow("gbk") << QByteArray("\xbb\xba\xb4\xe6 F5") << "缓存 F5";
    QTest::newRow("utf-8 with byte order mark") << QByteArray("\xef\xbb\xbf\xe8\xaf\xb4\xe6\x98\x8e") << "说明";
    QTest::newRow("gbk, every line break") << QByteArray("\xcb\xb5\xc3\xf7\r\na\rb\nc") << "说明\na\nb\nc";
    QTest::newRow("ascii") << QByteArray("Tidewrack\r\n") << "Tidewrack\n";
}

void TestWindows::readmeEncodings()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);

    QCOMPARE(DecodeLocalText(bytes), expected);
    Tfrm_logo logo;
    QVERIFY(logo.prepareAbout(writeFile("readme.txt", bytes)));
    QCOMPARE(logo.findChild<QPlainTextEdit *>("Memo1")->toPlainText(), expected);
}

void TestWindows::readmeFoundBesideOrInstalled()
{
    QTemporaryDir app, data;
    QVERIFY(app.isValid() && data.isValid());
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    const QString beside = QDir(app.path()).filePath("readme.txt");

    QCOMPARE(Tfrm_logo::readmePath(app.path()), beside); // nowhere: the reading then fails

    QVERIFY(QDir(data.path()).mkpath("tidewrack"));
    QFile installed(data.filePath("tidewrack/readme.txt"));
    QVERIFY(installed.open(QIODevice::WriteOnly));
    installed.close();
    QCOMPARE(Tfrm_logo::readmePath(app.path()), installed.fileName());

    QFile local(beside);
    QVERIFY(local.open(QIODevice::WriteOnly));
    local.close();
    QCOMPARE(Tfrm_logo::readmePath(app.path()), beside);
    qunsetenv("XDG_DATA_HOME");
}

void TestWindows::escClosesFromAnyControl()
{
    Tfrm_logo logo;
    QVERIFY(logo.prepareAbout(writeFile("readme.txt", "notes")));
    logo.show();
    auto *memo = logo.findChild<QPlainTextEdit *>("Memo1");
    memo->setFocus();
    QTest::keyClick(memo, Qt::Key_Escape);
    QVERIFY(!logo.isVisible());

    logo.show();
    QTest::keyClick(&logo, Qt::Key_Escape);
    QVERIFY(!logo.isVisible());
}

void TestWindows::arrowKeysScrollNotes()
{
    QByteArray notes;
    for (int i = 0; i < 200; ++i)
        notes += "line " + QByteArray::number(i) + "\n";
    Tfrm_logo logo;
    QVERIFY(logo.prepareAbout(writeFile("readme.txt", notes)));
    logo.show();
    auto *memo = logo.findChild<QPlainTextEdit *>("Memo1");
    memo->setFocus();
    QCOMPARE(memo->verticalScrollBar()->value(), 0);
    for (int i = 0; i < 30; ++i)
        QTest::keyClick(memo, Qt::Key_Down);
    QVERIFY(logo.isVisible());
    QVERIFY(memo->verticalScrollBar()->value() > 0);
    QTest::keyClick(memo, Qt::Key_Up);
    QVERIFY(logo.isVisible());
}

void TestWindows::doubleClickOnlyHidesSplash()
{
    QPointer<Tfrm_logo> logo = new Tfrm_logo;
    logo->prepareSplash();
    logo->show();
    QTest::mouseDClick(logo, Qt::LeftButton, Qt::NoModifier, QPoint(5, 100));
    QVERIFY(!logo->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(logo); // hidden, not destroyed: the main window destroys it later
    logo->show();
    QTest::keyClick(logo, Qt::Key_Escape);
    QVERIFY(!logo->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(logo);
    delete logo;
}

void TestWindows::linksOpenMailAndPage_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<QString>("expected");

    QTest::newRow("mail address") << "Label1"
                                  << "mailto"
                                  << "mailto:author@tidewrack.example";
    QTest::newRow("web page") << "Lab_mail"
                              << "https"
                              << "https://tidewrack.example/";
    QTest::newRow("mail menu item") << QString() << "mailto"
                                    << "mailto:author@tidewrack.example";
}

void TestWindows::linksOpenMailAndPage()
{
    QFETCH(QString, control);
    QFETCH(QString, scheme);
    QFETCH(QString, expected);

    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(scheme, &recorder, "open");
    Tfrm_logo logo;
    logo.prepareSplash();
    logo.show();
    if (control.isEmpty())
        Tfrm_logo::mailToAuthor();
    else
        QTest::mouseClick(logo.findChild<QWidget *>(control), Qt::LeftButton, Qt::NoModifier, QPoint(3, 5));
    QDesktopServices::unsetUrlHandler(scheme);
    QCOMPARE(recorder.urls, QStringList{expected});
    QVERIFY(logo.isVisible());
}

void TestWindows::logoGradientFollowsSystemColours()
{
    Tfrm_logo logo;
    logo.prepareSplash();
    logo.show();
    const QImage before = logo.grab().toImage();
    const QPalette colours = QApplication::palette();
    // Inside the window's thin edge.
    QCOMPARE(before.pixel(2, 1), colours.color(QPalette::Dark).rgb());
    QCOMPARE(before.pixel(2, before.height() - 2), colours.color(QPalette::Base).rgb());

    QPalette changed = colours;
    changed.setColor(QPalette::Base, QColor(10, 200, 30));
    changed.setColor(QPalette::Dark, QColor(90, 0, 170));
    QApplication::setPalette(changed);
    const QImage after = logo.grab().toImage();
    QCOMPARE(after.pixel(2, 1), QColor(90, 0, 170).rgb());
    QCOMPARE(after.pixel(2, after.height() - 2), QColor(10, 200, 30).rgb());
    QCOMPARE(after.pixel(2, 100),
             GradientRowColour(99, after.height() - 2, QColor(10, 200, 30), QColor(90, 0, 170)).rgb());
}

void TestWindows::logoLinksUnderlinedTextsApartFramed()
{
    Tfrm_logo logo;
    logo.prepareSplash();
    logo.show();
    QVERIFY(QTest::qWaitForWindowExposed(&logo));

    // The links' underline: a row of blue across the whole text, inside the label.
    for (const char *name : {"Label1", "Lab_mail"}) {
        auto *link = logo.findChild<DesignLabel *>(name);
        const QImage shot = link->grab().toImage();
        auto blue = [&](int x, int y) {
            const QColor c = shot.pixelColor(x, y);
            return c.blue() > 150 && c.red() < 120 && c.green() < 120;
        };
        int left = shot.width(), right = -1;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                if (blue(x, y)) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                }
        QVERIFY2(right > left, name);
        bool underlined = false;
        for (int y = 0; y < shot.height() && !underlined; ++y) {
            int run = 0;
            for (int x = left; x <= right; ++x)
                run += blue(x, y);
            underlined = run >= (right - left + 1) * 9 / 10;
        }
        QVERIFY2(underlined, name);
    }

    // "Email" and the address stand apart on the screen: blank columns between their inks.
    const QImage window = logo.grab().toImage();
    auto inkInColumn = [&](int x) {
        for (int y = 133; y < 147; ++y)
            if (qAbs(qGray(window.pixel(x, y)) - qGray(window.pixel(5, y))) > 40)
                return true;
        return false;
    };
    const QWidget *word = logo.findChild<QWidget *>("Label6");
    int lastOfWord = word->x();
    for (int x = word->x(); x <= word->geometry().right(); ++x)
        if (inkInColumn(x))
            lastOfWord = x;
    int firstOfAddress = logo.width();
    for (int x = word->geometry().right() + 1; x < logo.width() && firstOfAddress == logo.width(); ++x)
        if (inkInColumn(x))
            firstOfAddress = x;
    QVERIFY2(firstOfAddress - lastOfWord > 3, qPrintable(QStringLiteral("%1 %2").arg(lastOfWord).arg(firstOfAddress)));

    // The thin raised edge all round.
    const QPalette colours = QApplication::palette();
    const int w = window.width(), h = window.height();
    for (const QPoint at : {QPoint(w / 2, 0), QPoint(0, h / 2)})
        QCOMPARE(window.pixel(at), colours.color(QPalette::Light).rgb());
    for (const QPoint at : {QPoint(w / 2, h - 1), QPoint(w - 1, h / 2)})
        QCOMPARE(window.pixel(at), colours.color(QPalette::Dark).rgb());
}

// --- info window ----------------------------------------------------------------------

void TestWindows::infoWindowShape()
{
    Tfrm_showinfo info;
    QCOMPARE(info.windowTitle(), QString("Driftcomb信息"));
    QCOMPARE(info.width(), 361);
    QCOMPARE(info.height(), 130);
    QVERIFY(info.windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(info.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(!info.isVisible());
    auto *label = info.findChild<QLabel *>("Label1");
    QCOMPARE(label->geometry(), QRect(20, 40, 321, 37));
    QVERIFY(label->wordWrap());
    QCOMPARE(info.findChild<QWidget *>("Animate1")->pos(), QPoint(20, 1));
}

void TestWindows::showProgressPlacesMessage_data()
{
    QTest::addColumn<int>("animation");
    QTest::addColumn<bool>("animating");

    QTest::newRow("with animation") << 1 << true;
    QTest::newRow("without animation") << 0 << false;
}

void TestWindows::showProgressPlacesMessage()
{
    QFETCH(int, animation);
    QFETCH(bool, animating);

    Tfrm_showinfo info;
    info.ShowProgress("正在读取缓存...", animation);
    auto *label = info.findChild<QLabel *>("Label1");
    auto *clip = info.findChild<SearchAnimation *>("Animate1");
    QVERIFY(info.isVisible());
    QCOMPARE(label->text(), QString("正在读取缓存..."));
    QCOMPARE(clip->isVisible(), animating);
    QCOMPARE(clip->isActive(), animating);
    if (animating) {
        QCOMPARE(clip->size(), SearchAnimation::ClipSize);
        QCOMPARE(label->y(), clip->y() + clip->height() + 10);
        QCOMPARE(label->y(), 1 + SearchAnimation::ClipSize.height() + 10);
    } else {
        QCOMPARE(label->y(), 40);
    }
    info.HideProgress();
}

void TestWindows::showProgressKeepsEarlierMessage()
{
    Tfrm_showinfo info;
    info.ShowProgress("甲", 1);
    auto *label = info.findChild<QLabel *>("Label1");
    const int top = label->y();
    info.ShowProgress("乙", 0);
    QCOMPARE(label->text(), QString("甲"));
    QCOMPARE(label->y(), top);
    QVERIFY(info.findChild<SearchAnimation *>("Animate1")->isActive());
    info.HideProgress();

    // Once hidden, the next call shows its own message.
    info.ShowProgress("乙", 0);
    QCOMPARE(label->text(), QString("乙"));
    QCOMPARE(label->y(), 40);
    info.HideProgress();
}

void TestWindows::hideProgressEmptiesAndHides()
{
    Tfrm_showinfo info;
    info.ShowProgress("正在读取缓存...", 1);
    info.HideProgress();
    auto *clip = info.findChild<SearchAnimation *>("Animate1");
    QVERIFY(!info.isVisible());
    QCOMPARE(info.findChild<QLabel *>("Label1")->text(), QString());
    QVERIFY(clip->isHidden());
    QVERIFY(!clip->isActive());
    QCOMPARE(clip->clip(), SearchAnimation::NoClip);
    info.HideProgress(); // hiding a hidden window is harmless
    QVERIFY(!info.isVisible());
}

void TestWindows::animationLoopsAndMoves()
{
    SearchAnimation clip;
    clip.start();
    QVERIFY(!clip.isActive()); // nothing to play without a clip
    clip.setClip(SearchAnimation::SearchClip);
    QCOMPARE(clip.size(), SearchAnimation::ClipSize);

    const QImage first = clip.grab().toImage();
    for (int i = 0; i < SearchAnimation::FrameCount / 4; ++i)
        clip.advance();
    QCOMPARE(clip.frame(), SearchAnimation::FrameCount / 4);
    const QImage later = clip.grab().toImage();
    QVERIFY(first != later);
    QVERIFY(opaquePixels(first) > 500);

    for (int i = SearchAnimation::FrameCount / 4; i < SearchAnimation::FrameCount; ++i)
        clip.advance();
    QCOMPARE(clip.frame(), 0);
    QCOMPARE(clip.grab().toImage(), first);

    clip.start();
    QVERIFY(clip.isActive());
    clip.stop();
    QVERIFY(!clip.isActive());
}

// --- pictures -------------------------------------------------------------------------

void TestWindows::pictures_data()
{
    QTest::addColumn<QIcon>("icon");
    for (int i = 0; i < ToolbarImageCount; ++i)
        QTest::addRow("toolbar %d", i) << ToolbarImage(i);
    for (int i = 0; i < TreeImageCount; ++i)
        QTest::addRow("tree %d", i) << TreeImage(i);
    QTest::newRow("program") << ProgramIcon();
    QTest::newRow("document") << GenericDocumentIcon();
}

void TestWindows::pictures()
{
    QFETCH(QIcon, icon);
    QVERIFY(!icon.isNull());
    // The picture really renders (resource present, SVG readable): a good part of a 16 x 16
    // image is covered.
    const QImage small = icon.pixmap(QSize(16, 16)).toImage();
    QCOMPARE(small.size(), QSize(16, 16));
    QVERIFY2(opaquePixels(small) > 40, qPrintable(QString::number(opaquePixels(small))));
    QVERIFY(opaquePixels(icon.pixmap(QSize(32, 32)).toImage()) > 160);
}

void TestWindows::picturesOutOfRange()
{
    QVERIFY(ToolbarImage(-1).isNull());
    QVERIFY(ToolbarImage(ToolbarImageCount).isNull());
    QVERIFY(TreeImage(-1).isNull());
    QVERIFY(TreeImage(TreeImageCount).isNull());
    QVERIFY(CollectBoxImage(-1).isNull());
    QVERIFY(CollectBoxImage(CollectBoxImageCount).isNull());
}

void TestWindows::collectBoxImages()
{
    const QImage empty = CollectBoxImage(0).toImage();
    const QImage full = CollectBoxImage(1).toImage();
    QCOMPARE(empty.size(), QSize(32, 32));
    QCOMPARE(full.size(), QSize(32, 32));
    QVERIFY(opaquePixels(empty) > 200);
    QVERIFY(opaquePixels(full) > opaquePixels(empty)); // the documents show above the box
    // Every picture of a list differs from the others.
    QSet<QByteArray> seen;
    auto key = [](const QIcon &icon) {
        const QImage image = icon.pixmap(QSize(16, 16)).toImage();
        return QByteArray(reinterpret_cast<const char *>(image.constBits()), image.sizeInBytes());
    };
    for (int i = 0; i < ToolbarImageCount; ++i)
        seen.insert(key(ToolbarImage(i)));
    QCOMPARE(seen.size(), ToolbarImageCount);
}

// --- message boxes and Qt's own texts ----------------------------------------------------

void TestWindows::messageBoxShowsTextAsItIs()
{
    // The check itself sees markup taken as markup.
    QLabel rich(QStringLiteral("<b>x</b>.htm"));
    rich.resize(200, 30);
    QVERIFY(!PaintsAsPlainText(&rich));

    const QString text = QStringLiteral("无法打开“<b>x</b>.htm”：http://h/<i>p</i>");
    QString shown;
    bool plain = false;
    const auto answerer = OnModalBoxes([&](QMessageBox *box) {
        shown = ShownText(BoxLabel(box));
        plain = PaintsAsPlainText(BoxLabel(box));
        box->button(QMessageBox::Ok)->click();
    });
    MessageBoxAnswerer boxes;
    const int answer = boxes.ask(text, MB::ICONERROR);
    QCOMPARE(answer, IDOK);
    QCOMPARE(shown, text);
    QVERIFY(plain);
}

void TestWindows::qtOwnTextsInChinese()
{
    QVERIFY2(InstallQtChineseTranslations(), "Qt's translations are missing: install qt6-translations-l10n");
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    QCOMPARE(box.button(QMessageBox::Ok)->text(), QStringLiteral("确定"));
    QCOMPARE(box.button(QMessageBox::Cancel)->text(), QStringLiteral("取消"));
    // The standard context menu of a text field, as the search dialog's field shows it.
    QLineEdit field(QStringLiteral("text"));
    const std::unique_ptr<QMenu> menu(field.createStandardContextMenu());
    QStringList items;
    for (const QAction *action : menu->actions())
        items << action->text();
    const bool copy = std::any_of(items.cbegin(), items.cend(),
                                  [](const QString &item) { return item.startsWith(QStringLiteral("复制(&C)")); });
    QVERIFY2(copy, qPrintable(items.join(u'|')));
    // The type column of the folder dialogs.
    QCOMPARE(QFileIconProvider().type(QFileInfo(QDir::tempPath())), QStringLiteral("文件夹"));
}

void TestWindows::entryInfoFitsItsContent_data()
{
    QTest::addColumn<int>("headLines");
    QTest::addColumn<int>("lineLength");
    QTest::addColumn<bool>("whole"); // everything fits the screen
    QTest::newRow("short head") << 6 << 40 << true;
    QTest::newRow("twenty lines") << 20 << 70 << true;
    QTest::newRow("head taller than the screen") << 400 << 60 << false;
    QTest::newRow("lines wider than the screen") << 12 << 900 << false;
}

void TestWindows::entryInfoFitsItsContent()
{
    QFETCH(int, headLines);
    QFETCH(int, lineLength);
    QFETCH(bool, whole);
    EntryInfo info;
    info.lines = {{QStringLiteral("url"), QStringLiteral("URL"), QStringLiteral("http://h.net/") + QString(40, 'a')}};
    for (int i = 0; i < headLines; ++i)
        info.responseHead += QStringLiteral("X-Field-%1: ").arg(i) + QString(lineLength, 'v') + QLatin1Char('\n');
    EntryInfoWindow window(info);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QRect room = window.screen()->availableGeometry();
    QVERIFY(window.width() <= room.width() && window.height() <= room.height());
    auto *head = window.findChild<QPlainTextEdit *>(QStringLiteral("response_head"));
    auto *url = window.findChild<QLineEdit *>(QStringLiteral("url"));
    if (whole) {
        QCOMPARE(head->verticalScrollBar()->maximum(), 0);
        QCOMPARE(head->horizontalScrollBar()->maximum(), 0);
        QVERIFY(url->width() > url->fontMetrics().horizontalAdvance(url->text()));
    } else {
        QVERIFY(head->height() > window.height() / 2); // the head takes the room
    }
}

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
