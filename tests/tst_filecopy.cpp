// The copy engine: where files go, the replace question, failures, cancellation and the
// guarantee that no half-written file is ever left behind.

#include "platform/filecopy.h"

#include "support.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

Q_DECLARE_METATYPE(ReplaceAnswer)
Q_DECLARE_METATYPE(CopyError)

namespace {

// Bytes that differ at every position, so that a shifted or repeated chunk shows.
QByteArray pattern(qint64 size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 x = 2463534242u;
    for (qint64 i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = char(x);
    }
    return bytes;
}

QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

class TestFileCopy : public QObject {
    Q_OBJECT
private slots:
    void destination_data();
    void destination();

    void oneFileToExactPath_data();
    void oneFileToExactPath();
    void severalIntoFolderKeepNames();

    void existingTarget_data();
    void existingTarget();

    void missingSourceReportedAndRestCopied();
    void failureCallbackCanStop();
    void failures_data();
    void failures();

    void cancelMidFile_data();
    void cancelMidFile();
    void cancelBetweenFiles();

    void largeFileByteForByte();
    void diskFullIsRecognised();
};

void TestFileCopy::destination_data()
{
    QTest::addColumn<QStringList>("sources");
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("expected");

    QTest::newRow("one source: target taken as the full path")
        << QStringList{"/c/a1/logo[1].gif"} << "/keep/page.htm" << 0 << "/keep/page.htm";
    QTest::newRow("several: own name in the folder")
        << QStringList{"/c/a1/logo[1].gif", "/c/b2/index[2].htm"} << "/keep" << 1 << "/keep/index[2].htm";
    QTest::newRow("several, folder with trailing slash")
        << QStringList{"/c/a1/logo[1].gif", "/c/b2/index[2].htm"} << "/keep/" << 0 << "/keep/logo[1].gif";
}

void TestFileCopy::destination()
{
    QFETCH(QStringList, sources);
    QFETCH(QString, target);
    QFETCH(int, index);
    QFETCH(QString, expected);
    QCOMPARE(CopyDestination(sources, target, index), expected);
}

void TestFileCopy::oneFileToExactPath_data()
{
    QTest::addColumn<QString>("sourceName");
    QTest::addColumn<QString>("targetName");
    QTest::addColumn<QByteArray>("content");

    QTest::newRow("renamed") << "logo[1].gif"
                             << "page.htm" << QByteArray("GIF89a\0\1\2", 9);
    QTest::newRow("same name") << "index[1].htm"
                               << "index[1].htm" << QByteArray("<html>");
    QTest::newRow("Chinese name") << "a[1].htm"
                                  << "新闻页面.htm" << QByteArray("x");
    QTest::newRow("empty file") << "empty[1]"
                                << "empty" << QByteArray();
}

void TestFileCopy::oneFileToExactPath()
{
    QFETCH(QString, sourceName);
    QFETCH(QString, targetName);
    QFETCH(QByteArray, content);

    QTemporaryDir cache, keep;
    const QString source = cache.filePath(sourceName);
    QVERIFY(WriteBytes(source, content));
    const QDateTime mtime = QDateTime::fromSecsSinceEpoch(1200000000);
    {
        QFile f(source);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(mtime, QFileDevice::FileModificationTime));
    }

    const CopyResult result = CopyFiles({source}, keep.filePath(targetName));
    QCOMPARE(result.copied, 1);
    QCOMPARE(result.failed, 0);
    QVERIFY(!result.cancelled);
    QCOMPARE(entriesOf(keep.path()), QStringList{targetName});
    QCOMPARE(ReadBytes(keep.filePath(targetName)), content);
    QCOMPARE(QFileInfo(keep.filePath(targetName)).lastModified(), mtime);
    QCOMPARE(ReadBytes(source), content);
}

void TestFileCopy::severalIntoFolderKeepNames()
{
    QTemporaryDir cache, keep;
    QVERIFY(QDir(cache.path()).mkpath("A1") && QDir(cache.path()).mkpath("B2"));
    const QStringList sources{cache.filePath("A1/logo[1].gif"), cache.filePath("B2/index[1].htm"),
                              cache.filePath("B2/style[2].css")};
    for (const QString &s : sources)
        QVERIFY(WriteBytes(s, QFileInfo(s).fileName().toUtf8() + " body"));

    int asked = 0;
    CopyCallbacks cb;
    cb.askReplace = [&](const QString &, int) {
        ++asked;
        return ReplaceAnswer::Yes;
    };
    const CopyResult result = CopyFiles(sources, keep.path(), cb);

    QCOMPARE(result.copied, 3);
    QCOMPARE(asked, 0);
    QCOMPARE(entriesOf(keep.path()), (QStringList{"index[1].htm", "logo[1].gif", "style[2].css"}));
    for (const QString &s : sources)
        QCOMPARE(ReadBytes(keep.filePath(QFileInfo(s).fileName())), ReadBytes(s));
}

void TestFileCopy::existingTarget_data()
{
    QTest::addColumn<ReplaceAnswer>("answer");
    QTest::addColumn<int>("questions");
    QTest::addColumn<QString>("outcome"); // per file: N = new bytes, O = old bytes kept
    QTest::addColumn<int>("copied");
    QTest::addColumn<int>("skipped");
    QTest::addColumn<bool>("cancelled");

    QTest::newRow("Yes replaces, asked for each") << ReplaceAnswer::Yes << 3 << "NNN" << 3 << 0 << false;
    QTest::newRow("YesToAll stops asking") << ReplaceAnswer::YesToAll << 1 << "NNN" << 3 << 0 << false;
    QTest::newRow("No skips and keeps old bytes") << ReplaceAnswer::No << 3 << "OOO" << 0 << 3 << false;
    QTest::newRow("Cancel stops everything") << ReplaceAnswer::Cancel << 1 << "OOO" << 0 << 0 << true;
}

void TestFileCopy::existingTarget()
{
    QFETCH(ReplaceAnswer, answer);
    QFETCH(int, questions);
    QFETCH(QString, outcome);
    QFETCH(int, copied);
    QFETCH(int, skipped);
    QFETCH(bool, cancelled);

    QTemporaryDir cache, keep;
    const QStringList names{"a.htm", "b.htm", "c.htm"};
    QStringList sources;
    for (const QString &n : names) {
        sources << cache.filePath(n);
        QVERIFY(WriteBytes(cache.filePath(n), "new " + n.toUtf8()));
        QVERIFY(WriteBytes(keep.filePath(n), "old " + n.toUtf8()));
    }

    QStringList asked;
    CopyCallbacks cb;
    cb.askReplace = [&](const QString &destination, int index) {
        asked << QFileInfo(destination).fileName();
        // The question comes before any byte of that file is written.
        if (ReadBytes(destination) != "old " + names[index].toUtf8())
            asked << "<overwritten before asking>";
        return answer;
    };
    const CopyResult result = CopyFiles(sources, keep.path(), cb);

    QCOMPARE(asked, names.mid(0, questions));
    QCOMPARE(result.copied, copied);
    QCOMPARE(result.skipped, skipped);
    QCOMPARE(result.cancelled, cancelled);
    for (int i = 0; i < names.size(); ++i) {
        const QByteArray expected = (outcome[i] == 'N' ? "new " : "old ") + names[i].toUtf8();
        QCOMPARE(ReadBytes(keep.filePath(names[i])), expected);
    }
    QCOMPARE(entriesOf(keep.path()), names);
}

void TestFileCopy::missingSourceReportedAndRestCopied()
{
    QTemporaryDir cache, keep;
    QVERIFY(WriteBytes(cache.filePath("a.htm"), "a"));
    QVERIFY(WriteBytes(cache.filePath("c.htm"), "c"));
    const QStringList sources{cache.filePath("a.htm"), cache.filePath("gone.htm"), cache.filePath("c.htm")};

    QList<CopyFailure> failures;
    CopyCallbacks cb;
    cb.failed = [&](const CopyFailure &f) {
        failures << f;
        return true;
    };
    const CopyResult result = CopyFiles(sources, keep.path(), cb);

    QCOMPARE(failures.size(), 1);
    QCOMPARE(failures[0].index, 1);
    QCOMPARE(failures[0].error, CopyError::SourceMissing);
    QCOMPARE(failures[0].source, sources[1]);
    QCOMPARE(failures[0].destination, keep.filePath("gone.htm"));
    QCOMPARE(result.copied, 2);
    QCOMPARE(result.failed, 1);
    QCOMPARE(entriesOf(keep.path()), (QStringList{"a.htm", "c.htm"}));
}

void TestFileCopy::failureCallbackCanStop()
{
    QTemporaryDir cache, keep;
    QVERIFY(WriteBytes(cache.filePath("c.htm"), "c"));
    const QStringList sources{cache.filePath("gone.htm"), cache.filePath("c.htm")};

    CopyCallbacks cb;
    cb.failed = [](const CopyFailure &) { return false; };
    const CopyResult result = CopyFiles(sources, keep.path(), cb);

    QVERIFY(result.stopped);
    QCOMPARE(result.copied, 0);
    QVERIFY(entriesOf(keep.path()).isEmpty());
}

void TestFileCopy::failures_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<CopyError>("error");
    QTest::addColumn<bool>("needsNonRoot");

    QTest::newRow("target folder under a file") << "folder-is-file" << CopyError::TargetFolderMissing << false;
    QTest::newRow("target folder missing") << "folder-missing" << CopyError::TargetFolderMissing << false;
    QTest::newRow("target is a directory") << "target-dir" << CopyError::TargetIsDirectory << false;
    QTest::newRow("source and target the same") << "same" << CopyError::SameFile << false;
    QTest::newRow("same file through a link") << "same-link" << CopyError::SameFile << false;
    QTest::newRow("source is a folder") << "source-dir" << CopyError::SourceUnreadable << false;
    QTest::newRow("source unreadable") << "source-unreadable" << CopyError::SourceUnreadable << true;
    QTest::newRow("target folder not writable") << "folder-readonly" << CopyError::TargetFolderNotWritable << true;
}

void TestFileCopy::failures()
{
    QFETCH(QString, setup);
    QFETCH(CopyError, error);
    QFETCH(bool, needsNonRoot);
    if (needsNonRoot && geteuid() == 0)
        QSKIP("root reads and writes whatever the permissions say");

    QTemporaryDir dir;
    QString source = dir.filePath("src.htm");
    QVERIFY(WriteBytes(source, "body"));
    QString target = dir.filePath("out/copy.htm");
    QVERIFY(QDir(dir.path()).mkdir("out"));

    if (setup == "folder-is-file") {
        QVERIFY(WriteBytes(dir.filePath("plain"), "x"));
        target = dir.filePath("plain/copy.htm");
    } else if (setup == "folder-missing") {
        target = dir.filePath("nowhere/copy.htm");
    } else if (setup == "target-dir") {
        QVERIFY(QDir(dir.path()).mkpath("out/copy.htm"));
    } else if (setup == "same") {
        target = source;
    } else if (setup == "same-link") {
        QVERIFY(QFile::link(source, target));
    } else if (setup == "source-dir") {
        QVERIFY(QDir(dir.path()).mkdir("srcdir"));
        source = dir.filePath("srcdir");
    } else if (setup == "source-unreadable") {
        QVERIFY(QFile::setPermissions(source, QFileDevice::WriteOwner));
    } else if (setup == "folder-readonly") {
        QVERIFY(QFile::setPermissions(dir.filePath("out"), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    }

    QList<CopyFailure> failures;
    int asked = 0;
    CopyCallbacks cb;
    cb.failed = [&](const CopyFailure &f) {
        failures << f;
        return true;
    };
    cb.askReplace = [&](const QString &, int) {
        ++asked;
        return ReplaceAnswer::Yes;
    };
    const CopyResult result = CopyFiles({source}, target, cb);

    QCOMPARE(failures.size(), 1);
    QCOMPARE(failures[0].error, error);
    QCOMPARE(result.failed, 1);
    QCOMPARE(result.copied, 0);
    QCOMPARE(asked, 0);
    const auto rwx = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    QVERIFY(QFile::setPermissions(dir.filePath("out"), rwx));
    QVERIFY(QFile::setPermissions(dir.filePath("src.htm"), rwx));
    QCOMPARE(ReadBytes(dir.filePath("src.htm")), QByteArray("body"));
    if (setup != "target-dir" && setup != "same" && setup != "same-link")
        QVERIFY(!QFileInfo::exists(target));
}

void TestFileCopy::cancelMidFile_data()
{
    QTest::addColumn<bool>("targetExists");
    QTest::newRow("new file") << false;
    QTest::newRow("replacing an existing file") << true;
}

void TestFileCopy::cancelMidFile()
{
    QFETCH(bool, targetExists);

    QTemporaryDir cache, keep;
    const QString source = cache.filePath("big.bin");
    QVERIFY(WriteBytes(source, pattern(3 * CopyChunkSize + 17)));
    const QString target = keep.filePath("big.bin");
    if (targetExists)
        QVERIFY(WriteBytes(target, "old bytes"));

    int chunks = 0;
    CopyCallbacks cb;
    cb.askReplace = [](const QString &, int) { return ReplaceAnswer::Yes; };
    cb.progress = [&](const CopyProgress &p) {
        if (p.bytesDone > 0)
            ++chunks;
        return p.bytesDone < CopyChunkSize; // cancel once the first chunk is written
    };
    const CopyResult result = CopyFiles({source}, target, cb);

    QVERIFY(result.cancelled);
    QCOMPARE(result.copied, 0);
    QCOMPARE(chunks, 1);
    if (targetExists) {
        QCOMPARE(entriesOf(keep.path()), QStringList{"big.bin"});
        QCOMPARE(ReadBytes(target), QByteArray("old bytes"));
    } else {
        QCOMPARE(entriesOf(keep.path()), QStringList());
    }
}

void TestFileCopy::cancelBetweenFiles()
{
    QTemporaryDir cache, keep;
    QStringList sources;
    for (const char *n : {"a.htm", "b.htm", "c.htm"}) {
        sources << cache.filePath(n);
        QVERIFY(WriteBytes(sources.last(), n));
    }
    CopyCallbacks cb;
    cb.progress = [](const CopyProgress &p) { return p.fileIndex < 1; };
    const CopyResult result = CopyFiles(sources, keep.path(), cb);

    QVERIFY(result.cancelled);
    QCOMPARE(result.copied, 1);
    QCOMPARE(entriesOf(keep.path()), QStringList{"a.htm"});
}

void TestFileCopy::largeFileByteForByte()
{
    QTemporaryDir cache, keep;
    const QByteArray content = pattern(4 * CopyChunkSize + 4321);
    QVERIFY(WriteBytes(cache.filePath("big[1].bin"), content));
    QVERIFY(WriteBytes(cache.filePath("small[1].txt"), "tail"));
    const QStringList sources{cache.filePath("big[1].bin"), cache.filePath("small[1].txt")};

    QList<CopyProgress> reports;
    CopyCallbacks cb;
    cb.progress = [&](const CopyProgress &p) {
        reports << p;
        return true;
    };
    const CopyResult result = CopyFiles(sources, keep.path(), cb);

    QCOMPARE(result.copied, 2);
    const QByteArray copy = ReadBytes(keep.filePath("big[1].bin"));
    QCOMPARE(copy.size(), content.size());
    QVERIFY(copy == content);
    QCOMPARE(ReadBytes(keep.filePath("small[1].txt")), QByteArray("tail"));

    const qint64 total = content.size() + 4;
    QVERIFY(!reports.isEmpty());
    int inFirstFile = 0;
    for (int i = 0; i < reports.size(); ++i) {
        QCOMPARE(reports[i].bytesTotal, total);
        QCOMPARE(reports[i].fileCount, 2);
        if (i > 0)
            QVERIFY(reports[i].bytesDone >= reports[i - 1].bytesDone);
        if (reports[i].fileIndex == 0 && reports[i].bytesDone > 0)
            ++inFirstFile;
    }
    QCOMPARE(inFirstFile, 5); // four whole chunks and the rest
    QCOMPARE(reports.last().bytesDone, total);
}

void TestFileCopy::diskFullIsRecognised()
{
    QFile full("/dev/full");
    if (!full.exists())
        QSKIP("no /dev/full here");
    QVERIFY(full.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    QCOMPARE(full.write(pattern(4096)), qint64(-1));
    QCOMPARE(ClassifyWriteFailure(full), CopyError::DiskFull);

    QFile readOnly(QFINDTESTDATA("tst_filecopy.cpp"));
    QVERIFY(readOnly.open(QIODevice::ReadOnly));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("ReadOnly device"));
    QCOMPARE(readOnly.write("x"), qint64(-1));
    QCOMPARE(ClassifyWriteFailure(readOnly), CopyError::WriteFailed);
}

QTEST_GUILESS_MAIN(TestFileCopy)
#include "tst_filecopy.moc"
