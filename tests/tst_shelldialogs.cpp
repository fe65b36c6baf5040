// The copy window, its questions and messages, the properties window and the shell seam.

#include "answering.h"
#include "platform/shell.h"
#include "windows/copydialog.h"
#include "windows/propertiesdialog.h"

#include "rendering.h"
#include "support.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QMutex>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

Q_DECLARE_METATYPE(ReplaceAnswer)
Q_DECLARE_METATYPE(CopyError)

namespace {

CopyProgressWindow *visibleCopyWindow()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *window = qobject_cast<CopyProgressWindow *>(w); window && window->isVisible())
            return window;
    return nullptr;
}

// A file manager on a private bus: records what it was asked to show. Lives on a thread of
// its own so that it answers while the test waits for the reply.
class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QStringList received()
    {
        QMutexLocker lock(&m_mutex);
        return m_uris;
    }
public slots:
    void ShowItemProperties(const QStringList &uris, const QString &)
    {
        QMutexLocker lock(&m_mutex);
        m_uris << uris;
    }

private:
    QMutex m_mutex;
    QStringList m_uris;
};

} // namespace

class TestShellDialogs : public QObject {
    Q_OBJECT
private slots:
    void cleanup();

    void replaceQuestionGoesThroughSeam_data();
    void replaceQuestionGoesThroughSeam();
    void replaceQuestionShowsTheNameAsItIs();
    void failureMessages_data();
    void failureMessages();
    void cancelButtonStopsTheCopy();
    void errorTexts_data();
    void errorTexts();

    void propertiesShowNameSizeUrl();
    void propertiesOfMissingFile();
    void propertiesWindowDeletesItself();
    void permissionsText_data();
    void permissionsText();

    void shellRequestsGoThroughHandler();
    void propertiesWithoutBusFailFast();
    void propertiesOnPrivateBus();
};

void TestShellDialogs::cleanup()
{
    SetReplaceQuestionResponder({});
    SetShellHandler({});
}

void TestShellDialogs::replaceQuestionGoesThroughSeam_data()
{
    QTest::addColumn<ReplaceAnswer>("answer");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("是") << ReplaceAnswer::Yes << QByteArray("new");
    QTest::newRow("否") << ReplaceAnswer::No << QByteArray("old");
    QTest::newRow("取消") << ReplaceAnswer::Cancel << QByteArray("old");
}

void TestShellDialogs::replaceQuestionGoesThroughSeam()
{
    QFETCH(ReplaceAnswer, answer);
    QFETCH(QByteArray, expected);

    QTemporaryDir cache, keep;
    QVERIFY(WriteBytes(cache.filePath("page[1].htm"), "new"));
    QVERIFY(WriteBytes(keep.filePath("page.htm"), "old"));

    QStringList questions;
    QString titleDuringQuestion;
    bool shownDuringQuestion = false;
    SetReplaceQuestionResponder([&](const ReplaceQuestion &q) {
        questions << q.text;
        if (CopyProgressWindow *window = visibleCopyWindow()) {
            shownDuringQuestion = true;
            titleDuringQuestion = window->windowTitle();
        }
        return answer;
    });
    ScriptedAnswerer boxes;

    RunCopyWithProgress(nullptr, boxes, {cache.filePath("page[1].htm")}, keep.filePath("page.htm"));

    QCOMPARE(questions, QStringList{"目标位置已有文件“page.htm”。要替换它吗？"});
    QVERIFY(shownDuringQuestion);
    QCOMPARE(titleDuringQuestion, QStringLiteral("复制文档..."));
    QCOMPARE(ReadBytes(keep.filePath("page.htm")), expected);
    QCOMPARE(visibleCopyWindow(), nullptr);
}

void TestShellDialogs::replaceQuestionShowsTheNameAsItIs()
{
    const QString name = QStringLiteral("<b>x.htm"); // a name holds no slash
    QTemporaryDir cache, keep;
    QVERIFY(WriteBytes(cache.filePath(name), "new"));
    QVERIFY(WriteBytes(keep.filePath(name), "old"));
    ScriptedAnswerer boxes;

    QString shown;
    bool plain = false;
    // The real question: the test looks at it, then answers no.
    const auto answerer = OnModalBoxes([&](QMessageBox *box) {
        shown = ShownText(BoxLabel(box));
        plain = PaintsAsPlainText(BoxLabel(box));
        for (QAbstractButton *button : box->buttons())
            if (button->text() == QStringLiteral("否"))
                button->click();
    });
    RunCopyWithProgress(nullptr, boxes, {cache.filePath(name)}, keep.filePath(name));
    QCOMPARE(shown, QStringLiteral("目标位置已有文件“<b>x.htm”。要替换它吗？"));
    QVERIFY(plain);
    QCOMPARE(ReadBytes(keep.filePath(name)), QByteArray("old"));
}

void TestShellDialogs::failureMessages_data()
{
    QTest::addColumn<QStringList>("names"); // "-" prefix: the source does not exist
    QTest::addColumn<int>("answer");
    QTest::addColumn<unsigned>("buttons");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("copied");

    QTest::newRow("last file: a plain message") << QStringList{"a.htm", "-gone.htm"} << IDOK << MB::OK
                                                << "无法复制“gone.htm”：源文件不存在。" << QStringList{"a.htm"};
    QTest::newRow("more to come, go on") << QStringList{"-gone.htm", "b.htm"} << IDYES << MB::YESNO
                                         << "无法复制“gone.htm”：源文件不存在。\n\n要继续复制其余的文件吗？"
                                         << QStringList{"b.htm"};
    QTest::newRow("more to come, stop") << QStringList{"-gone.htm", "b.htm"} << IDNO << MB::YESNO
                                        << "无法复制“gone.htm”：源文件不存在。\n\n要继续复制其余的文件吗？"
                                        << QStringList();
}

void TestShellDialogs::failureMessages()
{
    QFETCH(QStringList, names);
    QFETCH(int, answer);
    QFETCH(unsigned, buttons);
    QFETCH(QString, text);
    QFETCH(QStringList, copied);

    QTemporaryDir cache, keep;
    QStringList sources;
    for (QString name : names) {
        const bool missing = name.startsWith('-');
        name.remove(0, missing ? 1 : 0);
        sources << cache.filePath(name);
        if (!missing)
            QVERIFY(WriteBytes(sources.last(), name.toUtf8()));
    }

    ScriptedAnswerer boxes;
    boxes.plan = answer;
    RunCopyWithProgress(nullptr, boxes, sources, keep.path());

    QCOMPARE(boxes.asked.size(), 1);
    QCOMPARE(boxes.asked[0].text, text);
    QCOMPARE(boxes.asked[0].caption, QStringLiteral("提示"));
    QCOMPARE(boxes.asked[0].flags & 0xF, buttons);
    QCOMPARE(boxes.asked[0].flags & 0xF0, MB::ICONERROR);
    QCOMPARE(QDir(keep.path()).entryList(QDir::Files), copied);
}

void TestShellDialogs::cancelButtonStopsTheCopy()
{
    QTemporaryDir cache, keep;
    QVERIFY(WriteBytes(cache.filePath("a.htm"), QByteArray(3 * CopyChunkSize, 'n')));
    QVERIFY(WriteBytes(cache.filePath("b.htm"), "new b"));
    QVERIFY(WriteBytes(keep.filePath("a.htm"), "old a"));

    // The user presses "取消" while the question is up, then answers 是: the copy must still
    // stop before it replaces anything.
    QString cancelText;
    SetReplaceQuestionResponder([&](const ReplaceQuestion &) {
        if (CopyProgressWindow *window = visibleCopyWindow()) {
            auto *cancel = window->findChild<QPushButton *>("cancelButton");
            if (cancel) {
                cancelText = cancel->text();
                cancel->click();
            }
        }
        return ReplaceAnswer::Yes;
    });
    ScriptedAnswerer boxes;

    const CopyResult result =
        RunCopyWithProgress(nullptr, boxes, {cache.filePath("a.htm"), cache.filePath("b.htm")}, keep.path());

    QCOMPARE(cancelText, QStringLiteral("取消"));
    QVERIFY(result.cancelled);
    QCOMPARE(ReadBytes(keep.filePath("a.htm")), QByteArray("old a"));
    QCOMPARE(QDir(keep.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"a.htm"});
}

void TestShellDialogs::errorTexts_data()
{
    QTest::addColumn<CopyError>("error");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<QString>("text");
    QTest::newRow("disk full") << CopyError::DiskFull << "No space left on device"
                               << "磁盘空间不足。";
    QTest::newRow("same file") << CopyError::SameFile << ""
                               << "源文件和目标文件是同一个文件。";
    QTest::newRow("not writable") << CopyError::TargetFolderNotWritable << ""
                                  << "没有写入目标文件夹的权限。";
    QTest::newRow("other write error keeps the system's words") << CopyError::WriteFailed << "Input/output error"
                                                                << "写入目标文件时出错（Input/output error）。";
}

void TestShellDialogs::errorTexts()
{
    QFETCH(CopyError, error);
    QFETCH(QString, detail);
    QFETCH(QString, text);
    CopyFailure failure;
    failure.error = error;
    failure.detail = detail;
    QCOMPARE(CopyErrorText(failure), text);
}

void TestShellDialogs::propertiesShowNameSizeUrl()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("index[1].htm");
    QVERIFY(WriteBytes(path, QByteArray(2048, 'x')));
    QVERIFY(QFile::setPermissions(
        path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));

    const QString url = "http://www.example.com/news/index.htm?id=7";
    PropertiesDialog dialog(path, url);
    QCOMPARE(dialog.fieldText("name"), QStringLiteral("index[1].htm"));
    QCOMPARE(dialog.fieldText("location"), QDir::toNativeSeparators(QFileInfo(path).absolutePath()));
    QVERIFY2(dialog.fieldText("size").contains("2048") || dialog.fieldText("size").contains("2,048"),
             qPrintable(dialog.fieldText("size")));
    QVERIFY(dialog.fieldText("size").contains("字节"));
    QCOMPARE(dialog.fieldText("url"), url);
    QCOMPARE(dialog.fieldText("permissions"), QStringLiteral("-rw-r--r--"));
    QVERIFY(!dialog.fieldText("type").isEmpty());
    QVERIFY(!dialog.fieldText("modified").isEmpty());
    QVERIFY(dialog.windowTitle().contains("index[1].htm"));
}

void TestShellDialogs::propertiesOfMissingFile()
{
    QTemporaryDir dir;
    PropertiesDialog dialog(dir.filePath("gone[1].gif"), "http://example.com/gone.gif");
    QCOMPARE(dialog.fieldText("name"), QStringLiteral("gone[1].gif"));
    QCOMPARE(dialog.fieldText("size"), QStringLiteral("文件不存在"));
    QCOMPARE(dialog.fieldText("modified"), QString());
    QCOMPARE(dialog.fieldText("url"), QStringLiteral("http://example.com/gone.gif"));
}

void TestShellDialogs::propertiesWindowDeletesItself()
{
    QTemporaryDir dir;
    QVERIFY(WriteBytes(dir.filePath("a.htm"), "a"));
    QWidget owner;
    ShowPropertiesDialog(&owner, dir.filePath("a.htm"), "http://example.com/a.htm");

    QPointer<PropertiesDialog> dialog = owner.findChild<PropertiesDialog *>();
    QVERIFY(dialog);
    QVERIFY(dialog->isVisible());
    QVERIFY(!dialog->isModal());
    dialog->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(dialog.isNull());
}

void TestShellDialogs::permissionsText_data()
{
    QTest::addColumn<int>("permissions");
    QTest::addColumn<bool>("isDir");
    QTest::addColumn<QString>("text");
    using P = QFileDevice;
    QTest::newRow("none") << 0 << false << "----------";
    QTest::newRow("rw-r--r--") << int(P::ReadOwner | P::WriteOwner | P::ReadGroup | P::ReadOther) << false
                               << "-rw-r--r--";
    QTest::newRow("folder rwxr-x---") << int(P::ReadOwner | P::WriteOwner | P::ExeOwner | P::ReadGroup | P::ExeGroup)
                                      << true << "drwxr-x---";
    QTest::newRow("others only write") << int(P::WriteOther) << false << "--------w-";
}

void TestShellDialogs::permissionsText()
{
    QFETCH(int, permissions);
    QFETCH(bool, isDir);
    QFETCH(QString, text);
    QCOMPARE(PermissionsText(QFileDevice::Permissions(permissions), isDir), text);
}

void TestShellDialogs::shellRequestsGoThroughHandler()
{
    QList<ShellRequest> requests;
    bool answer = true;
    SetShellHandler([&](const ShellRequest &r) {
        requests << r;
        return answer;
    });

    QVERIFY(OpenWithDefaultApplication("/cache/A1/logo[1].gif"));
    answer = false;
    QVERIFY(!ShowItemPropertiesViaFileManager("/cache/B2/index[1].htm"));

    QCOMPARE(requests.size(), 2);
    QCOMPARE(requests[0].kind, ShellRequest::Open);
    QCOMPARE(requests[0].path, QStringLiteral("/cache/A1/logo[1].gif"));
    QCOMPARE(requests[1].kind, ShellRequest::ShowProperties);
    QCOMPARE(requests[1].path, QStringLiteral("/cache/B2/index[1].htm"));
}

void TestShellDialogs::propertiesWithoutBusFailFast()
{
    const QDBusConnection none = QDBusConnection::connectToBus(
        QStringLiteral("unix:path=/nonexistent/tidewrack-test-bus"), QStringLiteral("tw-no-bus"));
    QVERIFY(!none.isConnected());
    QVERIFY(!ShowItemPropertiesOnBus(none, "/tmp/a.htm"));
    QDBusConnection::disconnectFromBus(QStringLiteral("tw-no-bus"));
}

void TestShellDialogs::propertiesOnPrivateBus()
{
    const QString daemon = QStandardPaths::findExecutable("dbus-daemon");
    if (daemon.isEmpty())
        QSKIP("no dbus-daemon to run a private bus");
    QProcess bus;
    bus.start(daemon, {"--session", "--nofork", "--nopidfile", "--print-address=1"});
    QVERIFY(bus.waitForStarted());
    auto stopBus = qScopeGuard([&] {
        bus.kill();
        bus.waitForFinished();
    });
    QVERIFY(bus.waitForReadyRead(10000));
    const QString address = QString::fromUtf8(bus.readLine()).trimmed();
    QVERIFY(!address.isEmpty());

    QDBusConnection client = QDBusConnection::connectToBus(address, "tw-client");
    QDBusConnection service = QDBusConnection::connectToBus(address, "tw-service");
    auto disconnect = qScopeGuard([] {
        QDBusConnection::disconnectFromBus("tw-client");
        QDBusConnection::disconnectFromBus("tw-service");
    });
    QVERIFY(client.isConnected() && service.isConnected());

    // Nobody offers the service yet.
    QVERIFY(!ShowItemPropertiesOnBus(client, "/cache/A1/logo[1].gif"));

    FakeFileManager manager;
    QThread thread;
    manager.moveToThread(&thread);
    thread.start();
    auto stopThread = qScopeGuard([&] {
        thread.quit();
        thread.wait();
    });
    QVERIFY(service.registerObject("/org/freedesktop/FileManager1", &manager, QDBusConnection::ExportAllSlots));
    QVERIFY(service.registerService("org.freedesktop.FileManager1"));

    QVERIFY(ShowItemPropertiesOnBus(client, "/cache/A1/新闻 1[1].htm"));
    QCOMPARE(manager.received(), QStringList{"file:///cache/A1/%E6%96%B0%E9%97%BB%201[1].htm"});
}

QTEST_MAIN(TestShellDialogs)
#include "tst_shelldialogs.moc"
