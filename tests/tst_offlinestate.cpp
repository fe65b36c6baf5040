// The offline state file: read at start-up, written on every change. Whatever stands in
// its place, start-up neither hangs nor takes it for "offline".

#include "platform/offlinestate.h"
#include "platform/wininet.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

class TestOfflineState : public QObject {
    Q_OBJECT
private slots:
    void readAtStart_data();
    void readAtStart();
    void changeSurvivesRestart();
    void changeReplacesAFifo();
};

void TestOfflineState::readAtStart_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("offline");
    QTest::newRow("missing") << "missing" << QByteArray() << false;
    QTest::newRow("offline") << "file" << QByteArray("1\n") << true;
    QTest::newRow("online") << "file" << QByteArray("0\n") << false;
    QTest::newRow("empty") << "file" << QByteArray() << false;
    QTest::newRow("FIFO") << "fifo" << QByteArray() << false;
    QTest::newRow("link to a FIFO") << "link" << QByteArray() << false;
    QTest::newRow("folder") << "folder" << QByteArray() << false;
}

void TestOfflineState::readAtStart()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, content);
    QTemporaryDir dir;
    const QString path = dir.filePath("offline");
    const QByteArray fifo = QFile::encodeName(dir.filePath("fifo"));
    if (kind == "file") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    } else if (kind == "fifo") {
        QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
    } else if (kind == "link") {
        QVERIFY(::mkfifo(fifo.constData(), 0600) == 0);
        QVERIFY(QFile::link(QString::fromLocal8Bit(fifo), path));
    } else if (kind == "folder") {
        QVERIFY(QDir().mkpath(path));
    }
    // The state starts as the opposite, so that reading must set it.
    UseOfflineStateFile(dir.filePath("none").toStdString());
    QVERIFY(SetOffline(true));
    ::alarm(10); // a read that blocks ends the test instead of hanging it
    UseOfflineStateFile(path.toStdString());
    ::alarm(0);
    QTEST(IsOffline(), "offline");
}

void TestOfflineState::changeSurvivesRestart()
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("config/tidewrack/offline").toStdString();
    UseOfflineStateFile(path);
    QVERIFY(!IsOffline());
    QVERIFY(SetOffline(true));
    UseOfflineStateFile(dir.filePath("elsewhere").toStdString());
    QVERIFY(!IsOffline());
    UseOfflineStateFile(path);
    QVERIFY(IsOffline());
}

void TestOfflineState::changeReplacesAFifo()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("offline");
    QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
    UseOfflineStateFile(path.toStdString());
    ::alarm(10);
    const bool set = SetOffline(true);
    ::alarm(0);
    QVERIFY(set);
    QVERIFY(QFileInfo(path).isFile());
    UseOfflineStateFile(path.toStdString());
    QVERIFY(IsOffline());
}

QTEST_GUILESS_MAIN(TestOfflineState)
#include "tst_offlinestate.moc"
