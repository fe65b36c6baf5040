// Opening cache files: only regular files, never blocking, and links only into the store's
// own folders. Each reader of cache files (search, copy, text preview, offline serving) is
// tried on what can stand at an entry's path in a cache folder from an archive.

#include "app/preview.h"
#include "catalogue/catalogue.h"
#include "collections/search.h"
#include "platform/browser/offlineserving.h"
#include "platform/cachefile.h"
#include "platform/filecopy.h"
#include "stores/storeregistry.h"
#include "support.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QtTest>

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

StoreWriterEntry entry(const std::string &url, const std::string &content)
{
    StoreWriterEntry e;
    e.url = url;
    e.content = content;
    return e;
}

// What replaces an entry's local file.
enum class Stand { File, Fifo, Socket, Folder, Device, LinkInside, LinkOutside, LinkToDevice, Dangling, FolderLink };

// A WinInet store of one entry whose local file is replaced by `stand`; a secret file lies
// outside the store.
class Setup {
public:
    explicit Setup(Stand stand)
    {
        QDir(m_dir.path()).mkpath(QStringLiteral("store"));
        const QString store = m_dir.filePath(QStringLiteral("store"));
        WriteTestStore(store,
                       {entry("http://example.test/page.htm", "cached words"),
                        entry("http://example.test/other.htm", "other cached words")});
        SetUrlCacheStore(OpenStore(store.toStdString()));
        catalogue = EnumerateCatalogue();
        for (const CatalogueEntry &e : catalogue) {
            if (std::string_view(SourceUrl(*e)) == "http://example.test/page.htm")
                path = QString::fromUtf8(LocalFileName(*e));
            else
                other = QString::fromUtf8(LocalFileName(*e));
        }
        secret = m_dir.filePath(QStringLiteral("secret.txt"));
        WriteBytes(secret, "the user's own secret words");
        if (stand == Stand::File)
            return;
        QFile::remove(path);
        const QByteArray local = QFile::encodeName(path);
        switch (stand) {
        case Stand::File:
            break;
        case Stand::Fifo:
            ::mkfifo(local.constData(), 0600);
            break;
        case Stand::Socket:
            m_socket.listen(path);
            break;
        case Stand::Folder:
            QDir().mkpath(path);
            break;
        case Stand::Device:
        case Stand::LinkToDevice:
            QFile::link(QStringLiteral("/dev/zero"), path);
            break;
        case Stand::LinkInside:
            QFile::link(other, path);
            break;
        case Stand::LinkOutside:
            QFile::link(secret, path);
            break;
        case Stand::Dangling:
            QFile::link(m_dir.filePath(QStringLiteral("gone")), path);
            break;
        case Stand::FolderLink: {
            // The entry's content folder itself leads out of the store.
            const QFileInfo info(path);
            const QString folder = info.absolutePath();
            const QString outside = m_dir.filePath(QStringLiteral("outside"));
            QDir().mkpath(outside);
            WriteBytes(outside + QLatin1Char('/') + info.fileName(), "the user's own secret words");
            QDir(folder).removeRecursively();
            QFile::link(outside, folder);
            break;
        }
        }
    }
    ~Setup() { SetUrlCacheStore(nullptr); }

    CacheList catalogue;
    QString path, other, secret;

private:
    QTemporaryDir m_dir;
    QLocalServer m_socket;
};

} // namespace

class TestCacheFile : public QObject {
    Q_OBJECT
private slots:
    void opens_data();
    void opens();
    void storeReachedThroughLink();
    void searchSkipsWhatIsNoFile();
    void copyRefusesWhatIsNoFile();
    void textPreviewRefusesWhatIsNoFile();
    void offlineServingRefusesWhatIsNoFile();
    void longLinesBreak_data();
    void longLinesBreak();
};

void TestCacheFile::opens_data()
{
    QTest::addColumn<int>("stand");
    QTest::addColumn<int>("refusal");
    QTest::newRow("regular file") << int(Stand::File) << int(CacheFileRefusal::None);
    QTest::newRow("fifo") << int(Stand::Fifo) << int(CacheFileRefusal::NotRegular);
    QTest::newRow("socket") << int(Stand::Socket) << int(CacheFileRefusal::NotRegular);
    QTest::newRow("folder") << int(Stand::Folder) << int(CacheFileRefusal::NotRegular);
    QTest::newRow("link to a device") << int(Stand::LinkToDevice) << int(CacheFileRefusal::NotRegular);
    QTest::newRow("link inside the store") << int(Stand::LinkInside) << int(CacheFileRefusal::None);
    QTest::newRow("link out of the store") << int(Stand::LinkOutside) << int(CacheFileRefusal::OutsideStore);
    QTest::newRow("dangling link") << int(Stand::Dangling) << int(CacheFileRefusal::Missing);
    QTest::newRow("content folder linked out") << int(Stand::FolderLink) << int(CacheFileRefusal::OutsideStore);
}

void TestCacheFile::opens()
{
    QFETCH(int, stand);
    QFETCH(int, refusal);
    Setup setup{Stand(stand)};
    const CacheFile file = CacheFile::open(QFile::encodeName(setup.path).constData());
    QCOMPARE(int(file.refusal()), refusal);
    QCOMPARE(file.isOpen(), refusal == int(CacheFileRefusal::None));
    if (file.isOpen()) {
        char buffer[64] = {};
        const ssize_t n = ::read(file.fd(), buffer, sizeof buffer);
        QVERIFY(n > 0);
        QVERIFY(QByteArray(buffer, int(n)).contains("cached words"));
    } else {
        QVERIFY(!file.reason().isEmpty());
    }
}

void TestCacheFile::storeReachedThroughLink()
{
    // The user's own cache may lie behind a link (a prefix on another disk): its files read.
    QTemporaryDir dir;
    const QString real = dir.filePath(QStringLiteral("real"));
    QDir().mkpath(real);
    WriteTestStore(real, {entry("http://example.test/page.htm", "cached words")});
    const QString linked = dir.filePath(QStringLiteral("linked"));
    QVERIFY(QFile::link(real, linked));
    SetUrlCacheStore(OpenStore(linked.toStdString()));
    const CacheList catalogue = EnumerateCatalogue();
    QCOMPARE(catalogue.size(), std::size_t(1));
    QVERIFY(QString::fromUtf8(LocalFileName(*catalogue.front())).startsWith(linked));
    const CacheFile file = CacheFile::open(LocalFileName(*catalogue.front()));
    QVERIFY2(file.isOpen(), qPrintable(file.reason()));
    // Without the store's folders, the same path through a link is refused.
    QCOMPARE(CacheFile::open(LocalFileName(*catalogue.front()), {}).refusal(), CacheFileRefusal::OutsideStore);
    SetUrlCacheStore(nullptr);
}

void TestCacheFile::searchSkipsWhatIsNoFile()
{
    for (Stand stand : {Stand::Fifo, Stand::Socket, Stand::LinkToDevice, Stand::LinkOutside, Stand::FolderLink}) {
        Setup setup(stand);
        SearchCriteria criteria;
        criteria.field = SearchField::FullText;
        criteria.text = QStringLiteral("words");
        std::vector<std::string> unreadable;
        SearchObserver observer;
        observer.unreadable = [&](const CatalogueEntry &entry) { unreadable.emplace_back(SourceUrl(*entry)); };
        // A FIFO opened for reading would wait for a writer for ever.
        const SearchList hits = SearchCatalogue(setup.catalogue, criteria, observer);
        QCOMPARE(hits.size(), std::size_t(1));
        QCOMPARE(std::string(SourceUrl(*hits.front())), std::string("http://example.test/other.htm"));
        QCOMPARE(unreadable, std::vector<std::string>{"http://example.test/page.htm"});
    }
}

void TestCacheFile::copyRefusesWhatIsNoFile()
{
    for (Stand stand : {Stand::Fifo, Stand::LinkOutside, Stand::LinkToDevice}) {
        Setup setup(stand);
        QTemporaryDir out;
        QList<CopyFailure> failures;
        CopyCallbacks callbacks;
        callbacks.failed = [&](const CopyFailure &f) {
            failures.append(f);
            return true;
        };
        const CopyResult result = CopyFiles({setup.path, setup.other}, out.path(), callbacks);
        QCOMPARE(result.copied, 1);
        QCOMPARE(result.failed, 1);
        QCOMPARE(failures.size(), 1);
        QCOMPARE(failures.front().error, CopyError::SourceUnreadable);
        QVERIFY(!QFileInfo::exists(out.filePath(QFileInfo(setup.path).fileName())));
    }
}

void TestCacheFile::textPreviewRefusesWhatIsNoFile()
{
    for (Stand stand : {Stand::Fifo, Stand::LinkOutside, Stand::LinkToDevice, Stand::FolderLink}) {
        Setup setup(stand);
        QVERIFY(!ReadPreviewText(setup.path));
    }
    Setup inside(Stand::LinkInside);
    const std::optional<PreviewText> text = ReadPreviewText(inside.path);
    QVERIFY(text);
    QCOMPARE(text->text, QStringLiteral("other cached words"));
}

void TestCacheFile::offlineServingRefusesWhatIsNoFile()
{
    for (Stand stand : {Stand::Fifo, Stand::LinkOutside, Stand::LinkToDevice, Stand::FolderLink}) {
        Setup setup(stand);
        CacheLookup lookup = [&setup](const QByteArray &) { return std::optional(setup.path.toStdString()); };
        QFile file;
        QVERIFY(!OpenCachedFile(lookup, QUrl("twhttp://example.test/page.htm"), file));
        QVERIFY(!file.isOpen());
    }
}

void TestCacheFile::longLinesBreak_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("longest");
    QTest::addColumn<QString>("broken");
    QTest::newRow("short lines stay") << "ab\ncd" << 4 << "ab\ncd";
    QTest::newRow("one long line") << "abcdefghij" << 4 << "abcd\nefgh\nij";
    QTest::newRow("count restarts at a break") << "abc\nabcdef" << 4 << "abc\nabcd\nef";
    QTest::newRow("exact length") << "abcd\nabcd" << 4 << "abcd\nabcd";
    // A character outside the BMP is never split.
    QTest::newRow("surrogate pair") << QStringLiteral("abc\U0001F600d") << 4 << QStringLiteral("abc\U0001F600\nd");
}

void TestCacheFile::longLinesBreak()
{
    QFETCH(QString, text);
    QFETCH(int, longest);
    QFETCH(QString, broken);
    QCOMPARE(BreakLongLines(text, longest), broken);
}

QTEST_GUILESS_MAIN(TestCacheFile)
#include "tst_cachefile.moc"
