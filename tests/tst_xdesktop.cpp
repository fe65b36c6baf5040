// What only a real X server shows, on an X server of the test's own (Xvfb): the collect
// box's drag-out carried between two processes (the drop target is a program of its own, the
// pointer is moved, pressed and released by the X server's test extension through xdotool,
// as a hand would), and windows painted on the screen before the first web preview.

#include "app/findform.h"
#include "app/mainwindow.h"
#include "app/startup.h"
#include "app/treenodes.h"
#include "platform/browser/browser.h"
#include "platform/offlinestate.h"
#include "platform/wininet.h"
#include "support.h"
#include "windowsupport.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTreeWidget>
#include <QtTest>

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

} // namespace

class TestXDesktop : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void dropTargetInAnotherProcessGetsTheFiles();
    void dialogsPaintBeforeAnyPreview();
    void captionsAreTheDesignTexts();
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
