// The store writer: the native hash, stores that WinInet's rules accept at every step of a
// write-read-delete round trip, WinInet's file names, and the capacity limit.

#include "stores/indexdatformat.h"
#include "stores/indexdatstore.h"
#include "support.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <map>

using namespace indexdat;

namespace {

StoreWriterEntry entry(const std::string &url, const std::string &content, const std::string &ext = {})
{
    StoreWriterEntry e;
    e.url = url;
    e.content = content;
    e.extension = ext;
    return e;
}

std::uint32_t at32(const QByteArray &b, std::uint32_t offset)
{
    if (std::uint64_t(offset) + 4 > std::uint64_t(b.size()))
        return 0; // past the end of a short file
    return qFromLittleEndian<quint32>(reinterpret_cast<const std::uint8_t *>(b.constData()) + offset);
}

// What native WinInet's lookup finds for `url`: the record offset of the first item of its
// bucket with a matching key, in page order, stopping at a never-used item; 0 for none.
std::uint32_t nativeLookup(const QByteArray &b, const std::string &storedUrl)
{
    const std::uint32_t hash = NativeUrlHash(storedUrl);
    for (std::uint32_t page = at32(b, OffHashTable); page; page = at32(b, page + 8))
        for (std::uint32_t slot = 0; slot < HashBucketItems; ++slot) {
            const std::uint32_t item = page + OffHashItems + 8 * ((hash & 63) * HashBucketItems + slot);
            const std::uint32_t key = at32(b, item);
            if (key == KeyUnused)
                return 0;
            if (!(key & 1) && (key & ~63u) == (hash & ~63u))
                return at32(b, item + 4);
        }
    return 0;
}

std::map<std::string, Listed> byUrl(const std::vector<Listed> &records)
{
    std::map<std::string, Listed> out;
    for (const Listed &r : records)
        out[r.url] = r;
    return out;
}

} // namespace

class TestStoreWriter : public QObject {
    Q_OBJECT
private slots:
    void nativeHash_data();
    void nativeHash();
    void roundTrip();
    void fileNames_data();
    void fileNames();
    void refusals_data();
    void refusals();
};

void TestStoreWriter::nativeHash_data()
{
    QTest::addColumn<QByteArray>("url");
    QTest::addColumn<uint>("hash");
    QTest::newRow("bing favicon") << QByteArray("http://www.bing.com/favicon.ico") << 0x0C86201Eu;
    QTest::newRow("written by Wine") << QByteArray("http://example.com/hello.txt") << 0x3017DB1Fu;
    QTest::newRow("trailing slash skipped") << QByteArray("https://apps.skype.com/home/") << 0x95A625E4u;
    QTest::newRow("same without slash") << QByteArray("https://apps.skype.com/home") << 0x95A625E4u;
    QTest::newRow("cookie") << QByteArray("Cookie:guileb@google.com.br/") << 0x0A21F395u;
    QTest::newRow("redirection") << QByteArray("http://go.microsoft.com/fwlink/?LinkId=299196") << 0x1AB98AC2u;
}

void TestStoreWriter::nativeHash()
{
    QFETCH(QByteArray, url);
    QFETCH(uint, hash);
    QCOMPARE(uint(NativeUrlHash(url.toStdString())), hash);
}

void TestStoreWriter::roundTrip()
{
    QTemporaryDir dir;
    std::vector<StoreWriterEntry> entries = {
        entry("http://www.example.com/index.html", "<html>home</html>"),
        entry("http://www.example.com/", "<html>root</html>"),
        entry("http://www.example.com/style/site.css", "body{}"),
        entry("http://www.example.com/api/items?id=3", "{\"id\":3}", ""),
        entry("http://cn.example.cn/新闻/图片.jpg", std::string("\xFF\xD8\xFF\xD9", 4)),
        entry("http://cn.example.cn/中文.htm", "\xD6\xD0\xCE\xC4"),
        entry("ftp://ftp.example.org/pub/README", "read me"),
        entry("about:blank", ""),
    };
    entries[2].entryType = 0x45; // sticky
    entries[7].hasLocalFile = false;
    for (int i = 0; i < 300; ++i) // enough for a second hash page in some buckets
        entries.push_back(
            entry("http://bulk.example/p" + std::to_string(i) + ".txt", std::string(std::size_t(i), 'x')));
    StoreWriterOptions options;
    options.now = 1700000000;
    const StoreWriteResult written = WriteTestStore(dir.path(), entries, options);
    QVERIFY(written.ok);
    QVERIFY(written.hashPages >= 2);
    const QString index = dir.path() + "/index.dat";
    QCOMPARE(StoreConsistency(index), std::string());

    // Every entry comes back with its fields, and native WinInet's lookup finds it.
    IndexDatStore store(written.indexPath);
    auto listed = byUrl(ListEntries(store));
    QCOMPARE(listed.size(), entries.size());
    QByteArray bytes = ReadBytes(index);
    std::uint64_t usage = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const StoreWriterEntry &in = entries[i];
        QVERIFY2(listed.count(in.url), in.url.c_str());
        const Listed &r = listed[in.url];
        QCOMPARE(r.size, in.content.size());
        QCOMPARE(r.entryType, in.entryType);
        QCOMPARE(r.hasLocalFile, in.hasLocalFile);
        QCOMPARE(r.localFileName, written.entries[i].localFile);
        if (in.hasLocalFile)
            QCOMPARE(ReadBytes(QString::fromStdString(r.localFileName)).toStdString(), in.content);
        QCOMPARE(UnixFromFileTime(r.lastAccess), options.now);
        QVERIFY(r.headers.rfind("HTTP/1.1 200 OK\r\n", 0) == 0);
        QCOMPARE(r.exemptDelta, in.entryType & StickyEntry ? std::uint32_t(86400) : std::uint32_t(0));
        QVERIFY((r.expires >> 32) != 0 && (r.lastSync >> 32) != 0);
        QCOMPARE(nativeLookup(bytes,
                              in.url == "http://cn.example.cn/中文.htm" ? "http://cn.example.cn/\xD6\xD0\xCE\xC4.htm"
                                  : in.url == "http://cn.example.cn/新闻/图片.jpg"
                                  ? "http://cn.example.cn/\xD0\xC2\xCE\xC5/\xCD\xBC\xC6\xAC.jpg"
                                  : in.url),
                 written.entries[i].recordOffset);
        usage += in.content.size();
    }
    QCOMPARE(listed["http://www.example.com/style/site.css"].extension, std::string("css"));
    QCOMPARE(qFromLittleEndian<quint64>(reinterpret_cast<const std::uint8_t *>(bytes.constData()) + OffUsage), usage);
    QCOMPARE(qFromLittleEndian<quint64>(reinterpret_cast<const std::uint8_t *>(bytes.constData()) + OffExemptUsage),
             std::uint64_t(6));

    // Delete a few; after each step the rules hold, the counters follow and the file is gone.
    const std::vector<std::size_t> doomed = {5, 2, 0, 7, 100, 4};
    std::size_t left = entries.size();
    for (const std::size_t i : doomed) {
        const QByteArray before = ReadBytes(index);
        QCOMPARE(store.remove(entries[i].url).error, StoreError::None);
        --left;
        const QByteArray after = ReadBytes(index);
        QCOMPARE(StoreConsistency(index), std::string());
        QCOMPARE(at32(after, written.entries[i].itemOffset), KeyFree);
        QCOMPARE(at32(after, written.entries[i].itemOffset + 4), written.entries[i].recordOffset);
        QCOMPARE(at32(before, OffAllocated) - at32(after, OffAllocated), written.entries[i].blocks);
        QCOMPARE(qFromLittleEndian<quint64>(reinterpret_cast<const std::uint8_t *>(before.constData()) + OffUsage)
                     - qFromLittleEndian<quint64>(reinterpret_cast<const std::uint8_t *>(after.constData()) + OffUsage),
                 std::uint64_t(entries[i].content.size()));
        QCOMPARE(at32(after, written.entries[i].recordOffset), FillFreed);
        QCOMPARE(after.size(), before.size());
        if (entries[i].hasLocalFile)
            QVERIFY(!QFile::exists(QString::fromStdString(written.entries[i].localFile)));
        QCOMPARE(ListEntries(store).size(), left);
        QCOMPARE(store.remove(entries[i].url).error, StoreError::NotFound);
    }
    bytes = ReadBytes(index);
    QCOMPARE(qFromLittleEndian<quint64>(reinterpret_cast<const std::uint8_t *>(bytes.constData()) + OffExemptUsage),
             std::uint64_t(0));
    std::uint32_t files = 0;
    for (std::uint32_t f = 0; f < at32(bytes, OffFolderCount); ++f)
        files += at32(bytes, OffFolders + FolderEntrySize * f);
    QCOMPARE(files, std::uint32_t(FilesBelow(dir.path()).size() - 1)); // all but index.dat
    listed = byUrl(ListEntries(store));
    for (const std::size_t i : doomed)
        QVERIFY(!listed.count(entries[i].url));
}

void TestStoreWriter::fileNames_data()
{
    QTest::addColumn<QStringList>("urls");
    QTest::addColumn<QStringList>("extensions");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("numbered per name") << QStringList{"http://a/x/page.htm", "http://b/y/page.htm", "http://a/Page.htm"}
                                       << QStringList{"", "", ""}
                                       << QStringList{"page[1].htm", "page[2].htm", "Page[3].htm"};
    QTest::newRow("query and extension given")
        << QStringList{"http://a/search?q=a:b"} << QStringList{"htm"} << QStringList{"search[1].htm"};
    QTest::newRow("no extension") << QStringList{"ftp://a/pub/README", "http://a/api/data"} << QStringList{"", ""}
                                  << QStringList{"README[1]", "data[1]"};
    QTest::newRow("dots inside") << QStringList{"http://a/jquery.min.js"} << QStringList{""}
                                 << QStringList{"jquery.min[1].js"};
    QTest::newRow("chinese") << QStringList{"http://a/中文.htm"} << QStringList{""} << QStringList{"中文[1].htm"};
}

void TestStoreWriter::fileNames()
{
    QFETCH(QStringList, urls);
    QFETCH(QStringList, extensions);
    QFETCH(QStringList, names);
    QTemporaryDir dir;
    std::vector<StoreWriterEntry> entries;
    for (int i = 0; i < urls.size(); ++i)
        entries.push_back(entry(urls[i].toStdString(), "x", extensions[i].toStdString()));
    StoreWriterOptions options;
    options.folderCount = 1;
    const StoreWriteResult written = WriteTestStore(dir.path(), entries, options);
    QStringList got;
    for (const WrittenEntry &e : written.entries)
        got << QFileInfo(QString::fromStdString(e.localFile)).fileName();
    QCOMPARE(got, names);
    for (const WrittenEntry &e : written.entries)
        QVERIFY(QFile::exists(QString::fromStdString(e.localFile)));
}

void TestStoreWriter::refusals_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("urlLength");
    QTest::addColumn<bool>("existingIndex");
    QTest::addColumn<bool>("duplicate");
    QTest::addColumn<QString>("reason");
    QTest::newRow("more entries than blocks")
        << int(UrlCacheStoreEntryLimit() + 1) << 10 << false << false << "0xF70000";
    QTest::newRow("records too large to fit") << 45000 << 160 << false << false << "0xF70000";
    QTest::newRow("store exists") << 3 << 10 << true << false << "exists";
    QTest::newRow("URL twice") << 3 << 10 << false << true << "twice";
}

void TestStoreWriter::refusals()
{
    QFETCH(int, count);
    QFETCH(int, urlLength);
    QFETCH(bool, existingIndex);
    QFETCH(bool, duplicate);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString folder = dir.path() + "/store";
    if (existingIndex) {
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(WriteBytes(folder + "/index.dat", "mine"));
    }
    std::vector<StoreWriterEntry> entries;
    entries.resize(std::size_t(count));
    for (int i = 0; i < count; ++i)
        entries[std::size_t(i)].url = "http://h/" + std::string(std::size_t(urlLength), 'u') + std::to_string(i);
    if (duplicate)
        entries.back().url = entries.front().url;

    const StoreWriteResult result = WriteUrlCacheStore(folder.toStdString(), entries);
    QVERIFY(!result.ok);
    QVERIFY2(QString::fromStdString(result.error).contains(reason), result.error.c_str());
    QCOMPARE(FilesBelow(dir.path()), existingIndex ? QStringList{"store/index.dat"} : QStringList{});
    if (existingIndex)
        QCOMPARE(ReadBytes(folder + "/index.dat"), QByteArray("mine"));
    else
        QVERIFY(!QDir(folder).exists());
}

QTEST_GUILESS_MAIN(TestStoreWriter)
#include "tst_storewriter.moc"
