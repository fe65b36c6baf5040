// What only a real X server shows, on an X server of the test's own (Xvfb): the collect
// box's drag-out carried between two processes (the drop target is a program of its own, the
// pointer is moved, pressed and released by the X server's test extension through xdotool,
// as a hand would), windows painted on the screen before the first web preview, and while
// a load reads the cache.

#include "app/catalogueloader.h"
#include "app/findform.h"
#include "app/mainwindow.h"
#include "app/settingsfile.h"
#include "app/startup.h"
#include "app/treenodes.h"
#include "platform/browser/browser.h"
#include "platform/offlinestate.h"
#include "platform/wininet.h"
#include "stores/cachestore.h"
#include "support.h"
#include "windows/infoform.h"
#include "windows/logoform.h"
#include "windowsupport.h"

#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSemaphore>
#include <QStandardPaths>
#include <QTreeWidget>
#include <QtTest>

#include <atomic>

namespace {

// The X server of this test; empty display when none could be started.
struct XServer {
    QProcess process;
    QString display;

    XServer()
    {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (xvfb.isEmpty())
            return;
        process.start(xvfb,
                      {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                       QStringLiteral("0"), QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"),
                       QStringLiteral("tcp")});
        if (!process.waitForStarted(10000))
            return;
        QByteArray number;
        while (!number.contains('\n') && process.waitForReadyRead(10000))
            number += process.readAllStandardOutput();
        if (number.trimmed().isEmpty())
            return;
        display = QLatin1Char(':') + QString::fromLatin1(number.trimmed());
    }
    ~XServer()
    {
        process.terminate();
        process.waitForFinished(5000);
    }
};

XServer *g_server = nullptr;

QString number(int n)
{
    return QString::number(n);
}

// The caption the X server holds for `window`, as a window manager reads it.
QString xCaption(const QWidget &window)
{
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"),
                {QStringLiteral("-notype"), QStringLiteral("-id"), QString::number(window.winId()),
                 QStringLiteral("_NET_WM_NAME")});
    if (!xprop.waitForFinished(10000))
        return QStringLiteral("(xprop did not answer)");
    const QByteArray out = xprop.readAllStandardOutput().trimmed();
    const qsizetype open = out.indexOf('"');
    if (open < 0 || !out.endsWith('"'))
        return QString::fromUtf8(out);
    // Bytes xprop does not print come as octal escapes.
    QByteArray text;
    const QByteArray quoted = out.mid(open + 1, out.size() - open - 2);
    for (qsizetype i = 0; i < quoted.size(); ++i) {
        if (quoted[i] == '\\' && i + 3 < quoted.size() && quoted.mid(i + 1, 3).toInt(nullptr, 8) > 0) {
            text += char(quoted.mid(i + 1, 3).toInt(nullptr, 8));
            i += 3;
        } else if (quoted[i] == '\\' && i + 1 < quoted.size()) {
            text += quoted[++i];
        } else {
            text += quoted[i];
        }
    }
    return QString::fromUtf8(text);
}

// A store whose listing waits until the test lets it go, so that a load lasts while the test
// looks; after 20 s it goes on by itself, so that a load that blocks the window ends.
class HeldStore : public MemoryStore {
public:
    using MemoryStore::MemoryStore;
    StoreListing list() override
    {
        reading = true;
        gate.tryAcquire(1, 20000);
        reading = false;
        return MemoryStore::list();
    }
    QSemaphore gate;
    std::atomic<bool> reading = false;
};

// Whether the X server shows `w` as it draws itself (a window not painted shows black).
bool paintedOnScreen(QWidget &w)
{
    const QRect r(w.mapToGlobal(QPoint(0, 0)), w.size());
    const QImage screen =
        QGuiApplication::primaryScreen()->grabWindow(0, r.x(), r.y(), r.width(), r.height()).toImage();
    const QImage own = w.grab().toImage().convertToFormat(screen.format());
    if (screen.size() != own.size())
        return false;
    qsizetype same = 0;
    for (int y = 0; y < own.height(); ++y)
        for (int x = 0; x < own.width(); ++x) {
            const QRgb a = screen.pixel(x, y), b = own.pixel(x, y);
            same += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b)) < 24;
        }
    return same > own.width() * own.height() * 9 / 10;
}

} // namespace

class TestXDesktop : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    // With a window manager of its own, gone before the tests that want none.
    void defaultPlacementUnderAWindowManager();
    void dropTargetInAnotherProcessGetsTheFiles();
    void dialogsPaintBeforeAnyPreview();
    void captionsAreTheDesignTexts();
    void windowsPaintAndAnswerDuringALoad_data();
    void windowsPaintAndAnswerDuringALoad();
};

void TestXDesktop::initTestCase()
{
    if (!g_server || g_server->display.isEmpty())
        QSKIP("No X server for a drag between processes (install xvfb: scripts/setup does).");
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        QSKIP("No xdotool to move the pointer (scripts/setup installs it).");
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
}

void TestXDesktop::dropTargetInAnotherProcessGetsTheFiles()
{
    TestStore store;
    store.add("http://h.net/a.htm", "a.htm", "content of a");
    store.add("http://h.net/b.htm", "b.htm", "content of bb");
    QTemporaryDir appDir;
    UseOfflineStateFile(appDir.filePath(QStringLiteral("offline")).toStdString());

    auto window = std::make_unique<Tfrm_cache>(appDir.path());
    window->setGeometry(450, 0, 800, 600);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    WindowParts w(*window);
    QVERIFY(QTest::qWaitFor([&] { return w.state.tree_ready; }));
    w.Tree->setCurrentItem(w.TreeNode(CacheRoot + 1));
    QVERIFY(w.state.list_ready);
    SelectRows(*window, {0, 1});
    w.ActionList1Update(); // the idle pass that enables the commands
    w.ASendtoBox->trigger();
    QCOMPARE(w.state.collect_list.size(), std::size_t(2));
    QLabel *label = w.lab_collect;
    QTRY_VERIFY(label->isVisible());

    QProcess target;
    target.start(QStringLiteral(TIDEWRACK_DROPTARGET), {});
    QVERIFY(target.waitForStarted(10000));
    QByteArray got;
    QVERIFY(QTest::qWaitFor(
        [&] {
            got += target.readAllStandardOutput();
            return got.contains("ready\n");
        },
        30000));

    // Press on the label, move past the drag distance, over the target's window, release.
    const QPoint from = label->mapToGlobal(label->rect().center());
    QProcess hand;
    hand.start(QStringLiteral("xdotool"),
               {QStringLiteral("mousemove"),
                number(from.x()),
                number(from.y()),
                QStringLiteral("sleep"),
                QStringLiteral("0.5"),
                QStringLiteral("mousedown"),
                QStringLiteral("1"),
                QStringLiteral("sleep"),
                QStringLiteral("0.3"),
                QStringLiteral("mousemove"),
                number(from.x() - 30),
                number(from.y()),
                QStringLiteral("sleep"),
                QStringLiteral("0.3"),
                QStringLiteral("mousemove"),
                QStringLiteral("300"),
                QStringLiteral("200"),
                QStringLiteral("sleep"),
                QStringLiteral("0.3"),
                QStringLiteral("mousemove"),
                QStringLiteral("200"),
                QStringLiteral("200"),
                QStringLiteral("sleep"),
                QStringLiteral("0.5"),
                QStringLiteral("mouseup"),
                QStringLiteral("1")});
    QVERIFY(hand.waitForStarted(10000));
    QVERIFY2(QTest::qWaitFor(
                 [&] {
                     got += target.readAllStandardOutput();
                     return got.contains("text:");
                 },
                 30000),
             got.constData());
    hand.waitForFinished(10000);
    target.waitForFinished(10000);
    got += target.readAllStandardOutput();

    const QString a = QString::fromStdString(store.path("a.htm"));
    const QString b = QString::fromStdString(store.path("b.htm"));
    QVERIFY2(got.contains("text/uri-list"), got.constData());
    // The files arrive, and the target in the other process reads them whole.
    QVERIFY2(got.contains("file: " + a.toUtf8() + " 12\n"), got.constData());
    QVERIFY2(got.contains("file: " + b.toUtf8() + " 13\n"), got.constData());
}

void TestXDesktop::dialogsPaintBeforeAnyPreview()
{
    // The program's own start-up, over a store whose documents cannot be previewed.
    QTemporaryDir appDir;
    qputenv("TIDEWRACK_URLCACHE", QFile::encodeName(appDir.filePath(QStringLiteral("nostore"))));
    const std::unique_ptr<Tfrm_cache> window = StartTidewrack(appDir.path() + QLatin1Char('/'));
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    WindowParts w(*window);
    QVERIFY(QTest::qWaitFor([&] { return w.state.tree_ready; }));
    QVERIFY(!w.Web1->page()); // no web preview yet

    // What the X server holds for a window: its share of black pixels.
    auto blackShare = [](const QWidget &w) {
        const QRect r = w.frameGeometry();
        const QImage shot =
            QGuiApplication::primaryScreen()->grabWindow(0, r.x(), r.y(), r.width(), r.height()).toImage();
        qsizetype black = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                black += qGray(shot.pixel(x, y)) < 16;
        return double(black) / double(std::max(1, shot.width() * shot.height()));
    };
    QMessageBox box(QMessageBox::Information, QStringLiteral("提示"), QStringLiteral("没有可以预览的文档"),
                    QMessageBox::Ok, window.get());
    box.move(100, 100);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QTRY_VERIFY2(blackShare(box) < 0.2, qPrintable(QString::number(blackShare(box))));
    QTRY_VERIFY2(blackShare(*window) < 0.2, qPrintable(QString::number(blackShare(*window))));
}

void TestXDesktop::captionsAreTheDesignTexts()
{
    if (QStandardPaths::findExecutable(QStringLiteral("xprop")).isEmpty())
        QSKIP("No xprop to read the captions (scripts/setup installs x11-utils).");
    QTemporaryDir appDir;
    qputenv("TIDEWRACK_URLCACHE", QFile::encodeName(appDir.filePath(QStringLiteral("nostore"))));
    const std::unique_ptr<Tfrm_cache> window = StartTidewrack(appDir.path() + QLatin1Char('/'));
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QTRY_COMPARE(xCaption(*window), QStringLiteral("Tidewrack"));

    Tfrm_find &find = window->findForm();
    find.show();
    QVERIFY(QTest::qWaitForWindowExposed(&find));
    QTRY_COMPARE(xCaption(find), QStringLiteral("搜索"));
    find.hide();

    QMessageBox box(QMessageBox::Information, QStringLiteral("提示"), QStringLiteral("文本"), QMessageBox::Ok,
                    window.get());
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QTRY_COMPARE(xCaption(box), QStringLiteral("提示"));
    // Qt's own texts speak Chinese from the start, whatever the locale (this test runs in C).
    QCOMPARE(box.button(QMessageBox::Ok)->text(), QStringLiteral("确定"));
}

void TestXDesktop::windowsPaintAndAnswerDuringALoad_data()
{
    QTest::addColumn<bool>("refresh");
    QTest::newRow("first load, under the splash") << false;
    QTest::newRow("F5, behind the progress window") << true;
}

void TestXDesktop::windowsPaintAndAnswerDuringALoad()
{
    QFETCH(bool, refresh);
    QTemporaryDir appDir;
    UseOfflineStateFile(appDir.filePath(QStringLiteral("offline")).toStdString());
    auto store = std::make_shared<HeldStore>(appDir.path().toStdString());
    store->add("http://h.net/a.htm", "/nowhere/a.htm");
    auto window = std::make_unique<Tfrm_cache>(appDir.path());
    window->useStore(store);
    QPointer<Tfrm_logo> splash = new Tfrm_logo;
    splash->prepareSplash();
    splash->show();
    window->setSplash(splash);
    if (refresh) {
        store->gate.release();
        window->show();
        QVERIFY(QTest::qWaitFor([&] { return window->state().tree_ready; }));
    }
    QWidget *shownThen = refresh ? static_cast<QWidget *>(window->findChild<Tfrm_showinfo *>()) : splash.data();
    QVERIFY(shownThen);

    // While the store is being read: the window in front painted, and a click on the menu
    // bar opens the menu.
    bool looked = false, painted = false, answered = false;
    QTimer probe;
    connect(&probe, &QTimer::timeout, this, [&] {
        if (!store->reading || !window->loader().isLoading() || looked)
            return;
        looked = true;
        probe.stop();
        painted = QTest::qWaitFor([&] { return shownThen->isVisible() && paintedOnScreen(*shownThen); });
        QMenuBar *bar = window->menuBar();
        QAction *title = bar->actions().at(0);
        const QPoint at = bar->mapToGlobal(bar->actionGeometry(title).center());
        QProcess::execute(QStringLiteral("xdotool"),
                          {QStringLiteral("mousemove"), number(at.x()), number(at.y()), QStringLiteral("click"),
                           QStringLiteral("1")});
        answered = QTest::qWaitFor([&] { return title->menu()->isVisible(); });
        title->menu()->close();
        store->gate.release();
    });
    probe.start(10);
    if (refresh)
        window->actionNamed(QStringLiteral("ARefresh"))->trigger();
    else
        window->show();
    QVERIFY(
        QTest::qWaitFor([&] { return looked && !window->loader().isLoading() && window->state().tree_ready; }, 60000));
    QVERIFY(painted);
    QVERIFY(answered);
    QCOMPARE(window->findChild<QTreeWidget *>(QStringLiteral("Tree"))->topLevelItem(CacheRoot)->childCount(), 1);
}

void TestXDesktop::defaultPlacementUnderAWindowManager()
{
    if (QStandardPaths::findExecutable(QStringLiteral("openbox")).isEmpty())
        QSKIP("No openbox to frame the windows (scripts/setup installs it).");
    QProcess manager;
    manager.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    QVERIFY(manager.waitForStarted(10000));
    // The manager is there once it names its check window on the root window.
    QVERIFY(QTest::qWaitFor(
        [] {
            QProcess xprop;
            xprop.start(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")});
            return xprop.waitForFinished(10000) && xprop.readAllStandardOutput().contains("window id");
        },
        30000));

    QTemporaryDir appDir; // no settings file: the first run
    UseOfflineStateFile(appDir.filePath(QStringLiteral("offline")).toStdString());
    Tfrm_cache window(appDir.path());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QTRY_VERIFY(window.frameGeometry() != window.geometry()); // the manager framed it
    // The window with its frame is four fifths of the screen, centred, as without a manager.
    QTRY_COMPARE(window.frameGeometry(), DefaultPlacementRect(screen.width(), screen.height()));
    window.close();
    manager.terminate();
    QVERIFY(manager.waitForFinished(10000));
}

int main(int argc, char *argv[])
{
    PrepareProcess();
    XServer server;
    g_server = &server;
    if (!server.display.isEmpty()) {
        qputenv("DISPLAY", server.display.toLocal8Bit());
        qputenv("QT_QPA_PLATFORM", "xcb");
    } else {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tidewrack-test"));
    TestXDesktop test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_xdesktop.moc"
