// The document list's logic without a window: filling view_list from the three kinds of
// source list, the orders of CompareView, and the view bench.

#include "catalogue/catalogue.h"
#include "catalogue/viewlist.h"
#include "support.h"
#include "tools/writers/indexdatwriter.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <unistd.h>

// The bench subcommand is built into tidewrack-bench; the test links it in directly.

namespace {

QByteArray fileNameOf(const Tcachedata &r)
{
    return QByteArray(FileNamePart(LocalFileName(r)).data(), qsizetype(FileNamePart(LocalFileName(r)).size()));
}

QList<QByteArray> fileNames(const ViewList &view)
{
    QList<QByteArray> names;
    for (const Tcachedata &r : view)
        names << fileNameOf(r);
    return names;
}

CacheList loadCatalogue()
{
    CacheList list = EnumerateCatalogue();
    SortByHost(list);
    return list;
}

} // namespace

class TestViewList : public QObject {
    Q_OBJECT
private slots:
    void collectBoxFillTakesEveryElement();
    void searchFillTakesEveryElement();
    void hostFillTakesExactlyTheFirstRun();
    void hostFillPurgesTheWholeCatalogue();
    void fillReleasesThePreviousRecords();
    void compareView_data();
    void compareView();
    void sortByFileName();
    void sortBySize();
    void sortByTextKeysAndNoKey();
    void sortAgreesWithCompareView();
    void benchView();
};

void TestViewList::collectBoxFillTakesEveryElement()
{
    TestStore store;
    store.add("http://b.net/z.htm", "z.htm", "z");
    store.add("http://a.net/y.htm", "y.htm", "y");
    store.add("http://c.net/gone.htm", "gone.htm", "g");
    CacheList catalogue = loadCatalogue();
    CollectList box;
    // Order of adding, not of the catalogue.
    for (const char *name : {"z.htm", "gone.htm", "y.htm"})
        for (const CatalogueEntry &e : catalogue)
            if (fileNameOf(MakeViewRecord(e)) == name)
                box.push_back(MakeHeaderCopy(MakeViewRecord(e)));
    QFile::remove(QString::fromStdString(store.path("gone.htm")));

    ViewList view;
    BuildViewList(view, box);
    QCOMPARE(box.size(), size_t(2)); // the purge dropped the missing file from the box
    QCOMPARE(fileNames(view), (QList<QByteArray>{"z.htm", "y.htm"}));
    for (std::size_t i = 0; i < view.size(); ++i) {
        QVERIFY(std::memcmp(&view[i].header, &box[i].header, sizeof(INTERNET_CACHE_ENTRY_INFOA)) == 0);
        QCOMPARE(view[i].bShellInfoPending, std::uint8_t(1));
        QVERIFY(view[i].strTypeName.isEmpty());
    }
}

void TestViewList::searchFillTakesEveryElement()
{
    TestStore store;
    store.add("http://b.net/1.htm", "1.htm", "1");
    store.add("http://a.net/2.htm", "2.htm", "2");
    CacheList catalogue = loadCatalogue();
    SearchList hits = catalogue;
    ViewList view;
    BuildViewList(view, hits);
    QCOMPARE(view.size(), size_t(2));
    QCOMPARE(QByteArray(SourceUrl(view[0])), QByteArray(SourceUrl(catalogue[0])));
    QCOMPARE(QByteArray(SourceUrl(view[1])), QByteArray(SourceUrl(catalogue[1])));
    SearchList none;
    BuildViewList(view, none);
    QVERIFY(view.empty());
}

void TestViewList::hostFillTakesExactlyTheFirstRun()
{
    // Case variants of one host, interleaved as an unstable sort by folded host may leave them.
    TestStore store;
    store.add("http://aa.net/a.htm", "a.htm", "a");
    store.add("http://Bb.net/1.htm", "1.htm", "1");
    store.add("http://Bb.net/2.htm", "2.htm", "2");
    store.add("http://bb.net/3.htm", "3.htm", "3");
    store.add("http://Bb.net/4.htm", "4.htm", "4");
    store.add("http://Bb.net.x/5.htm", "5.htm", "5");
    CacheList catalogue = EnumerateCatalogue(); // the order given above: no sort
    ViewList view;
    BuildHostViewList(view, catalogue, "Bb.net");
    QCOMPARE(fileNames(view), (QList<QByteArray>{"1.htm", "2.htm"}));
    BuildHostViewList(view, catalogue, "bb.net");
    QCOMPARE(fileNames(view), (QList<QByteArray>{"3.htm"}));
    BuildHostViewList(view, catalogue, "aa.net");
    QCOMPARE(fileNames(view), (QList<QByteArray>{"a.htm"}));
    BuildHostViewList(view, catalogue, "BB.NET");
    QVERIFY(view.empty());
    BuildHostViewList(view, catalogue, "");
    QVERIFY(view.empty());
}

void TestViewList::hostFillPurgesTheWholeCatalogue()
{
    TestStore store;
    store.add("http://a.net/1.htm", "1.htm", "1");
    store.add("http://z.net/gone.htm", "gone.htm", "g");
    CacheList catalogue = loadCatalogue();
    QFile::remove(QString::fromStdString(store.path("gone.htm")));
    ViewList view;
    BuildHostViewList(view, catalogue, "a.net");
    QCOMPARE(view.size(), size_t(1));
    QCOMPARE(catalogue.size(), size_t(1)); // another host's missing file went too
}

void TestViewList::fillReleasesThePreviousRecords()
{
    TestStore store;
    store.add("http://a.net/1.htm", "1.htm", "1");
    CacheList catalogue = loadCatalogue();
    ViewList view;
    BuildHostViewList(view, catalogue, "a.net");
    view[0].strTypeName = QStringLiteral("old");
    view[0].bShellInfoPending = 0;
    BuildHostViewList(view, catalogue, "a.net");
    QCOMPARE(view.size(), size_t(1));
    QVERIFY(view[0].strTypeName.isEmpty());
    QCOMPARE(view[0].bShellInfoPending, std::uint8_t(1));
}

namespace {

Tcachedata record(const char *url, const char *path, std::uint64_t size, const char *type = "")
{
    Tcachedata r{};
    r.header.lpszSourceUrlName = const_cast<char *>(url);
    r.header.lpszLocalFileName = const_cast<char *>(path);
    r.header.dwSizeLow = DWORD(size & 0xFFFFFFFFu);
    r.header.dwSizeHigh = DWORD(size >> 32);
    r.strTypeName = QString::fromUtf8(type);
    return r;
}

int sign(int v)
{
    return v < 0 ? -1 : (v > 0 ? 1 : 0);
}

} // namespace

void TestViewList::compareView_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QByteArray>("a");
    QTest::addColumn<QByteArray>("b");
    QTest::addColumn<int>("expected");
    QTest::newRow("underscore after letters") << 0 << QByteArray("/c/abc.htm") << QByteArray("/c/a_b.htm") << -1;
    QTest::newRow("case folded") << 0 << QByteArray("/c/Index.htm") << QByteArray("/d/index.htm") << 0;
    QTest::newRow("prefix first") << 0 << QByteArray("/c/ab") << QByteArray("/c/abc") << -1;
    QTest::newRow("file name, not folder") << 0 << QByteArray("/z/a.htm") << QByteArray("/a/b.htm") << -1;
    QTest::newRow("high bytes unsigned") << 0 << QByteArray("/c/\xE4\xB8\xAD.htm") << QByteArray("/c/z.htm") << 1;
    // GB2312 holds its common characters in pinyin order: a (阿) before zhong (中), which
    // their code points have the other way round; a text without a GBK form comes last.
    QTest::newRow("pinyin order") << 0 << QByteArray("/c/阿.htm") << QByteArray("/c/中.htm") << -1;
    QTest::newRow("no GBK form last") << 0 << QByteArray("/c/\xC3\xBF.htm") << QByteArray("/c/中.htm") << 1;
    QTest::newRow("no UTF-8 last") << 0 << QByteArray("/c/\xFF.htm") << QByteArray("/c/中.htm") << 1;
    QTest::newRow("location in GBK order") << 4 << QByteArray("/文/x") << QByteArray("/压/x") << -1;
    QTest::newRow("location folded") << 4 << QByteArray("/C/x") << QByteArray("/c/x") << 0;
    QTest::newRow("location folder first") << 4 << QByteArray("/a/z") << QByteArray("/b/a") << -1;
    QTest::newRow("no key") << 5 << QByteArray("/a/a") << QByteArray("/b/b") << 0;
    QTest::newRow("negative key") << -1 << QByteArray("/a/a") << QByteArray("/b/b") << 0;
}

void TestViewList::compareView()
{
    QFETCH(int, key);
    QFETCH(QByteArray, a);
    QFETCH(QByteArray, b);
    QFETCH(int, expected);
    const Tcachedata ra = record("http://h/", a.constData(), 1);
    const Tcachedata rb = record("http://h/", b.constData(), 1);
    QCOMPARE(sign(CompareView(ra, rb, key, 1)), expected);
    QCOMPARE(sign(CompareView(rb, ra, key, 1)), -expected);
    QCOMPARE(sign(CompareView(ra, rb, key, -1)), -expected);
}

void TestViewList::sortByFileName()
{
    ViewList view;
    view.push_back(record("u", "/c/a_b.htm", 1));
    view.push_back(record("u", "/c/B.htm", 1));
    view.push_back(record("u", "/c/abc.htm", 1));
    SortViewList(view, SortByFileName, 1);
    QCOMPARE(fileNames(view), (QList<QByteArray>{"abc.htm", "a_b.htm", "B.htm"}));
    SortViewList(view, SortByFileName, -1);
    QCOMPARE(fileNames(view), (QList<QByteArray>{"B.htm", "a_b.htm", "abc.htm"}));
}

void TestViewList::sortBySize()
{
    ViewList view;
    view.push_back(record("u", "/c/big", 4294967296ull));
    view.push_back(record("u", "/c/mid", 70000));
    view.push_back(record("u", "/c/small", 9));
    view.push_back(record("u", "/c/high", 4294967297ull));
    SortViewList(view, SortBySize, 1);
    QCOMPARE(fileNames(view), (QList<QByteArray>{"small", "mid", "big", "high"}));
    SortViewList(view, SortBySize, -1);
    QCOMPARE(fileNames(view), (QList<QByteArray>{"high", "big", "mid", "small"}));
}

void TestViewList::sortByTextKeysAndNoKey()
{
    ViewList view;
    view.push_back(record("http://b/", "/c/1", 1, "Zeta"));
    view.push_back(record("http://A/", "/c/2", 1, ""));
    view.push_back(record("http://c/", "/c/3", 1, "alpha"));
    SortViewList(view, SortByTypeName, 1); // a pending record compares with an empty name
    QCOMPARE(fileNames(view), (QList<QByteArray>{"2", "3", "1"}));
    SortViewList(view, SortByUrl, 1);
    QCOMPARE(fileNames(view), (QList<QByteArray>{"2", "1", "3"}));
    SortViewList(view, SortByLocation, -1);
    QCOMPARE(fileNames(view), (QList<QByteArray>{"3", "2", "1"}));
    SortViewList(view, 5, 1); // no key: every pair equal, nothing moves
    QCOMPARE(fileNames(view), (QList<QByteArray>{"3", "2", "1"}));
}

void TestViewList::sortAgreesWithCompareView()
{
    std::mt19937 random(7);
    std::vector<std::string> paths, urls;
    const char letters[] = "aAbB_zZ.9";
    // Names that share their first 7, 8, 15, 16 or more bytes, in letter-case variants.
    const std::string starts[] = {
        "",   "article",  "Article1", "ARTICLE12345678", "article_1234567_", "Article_1234567_9z", "阿", "中文",
        "压", "\xC3\xBF", "\xFF"};
    const char *types[] = {"", "Zeta", "文档", "压缩", "\xC3\xBF"};
    for (int i = 0; i < 500; ++i) {
        std::string name = starts[random() % std::size(starts)];
        for (int n = int(random() % 6); n > 0 || name.empty(); --n)
            name += letters[random() % (sizeof(letters) - 1)];
        paths.push_back("/f" + std::to_string(random() % 3) + "/" + name);
        urls.push_back("http://h/" + name);
    }
    for (const int key : {0, 1, 2, 3, 4})
        for (const int dir : {1, -1}) {
            ViewList view;
            for (int i = 0; i < 500; ++i)
                view.push_back(record(urls[i].c_str(), paths[i].c_str(), random() % 50, types[i % std::size(types)]));
            SortViewList(view, key, dir);
            QVERIFY(std::is_sorted(view.begin(), view.end(), [&](const Tcachedata &a, const Tcachedata &b) {
                return CompareView(a, b, key, dir) < 0;
            }));
        }
}

void TestViewList::benchView()
{
    QTemporaryDir dir;
    std::vector<StoreWriterEntry> entries;
    for (int i = 0; i < 30; ++i) {
        StoreWriterEntry e;
        e.url = "http://" + std::string(i % 3 ? "other.net" : "host.net") + "/p" + std::to_string(i) + ".htm";
        e.content = "x";
        entries.push_back(e);
    }
    const StoreWriteResult written = WriteUrlCacheStore(dir.path().toStdString(), entries);
    QVERIFY2(written.ok, written.error.c_str());
    // The real command line, as the README gives it.
    QProcess bench;
    bench.start(QStringLiteral(TIDEWRACK_BENCH), {"view", dir.path(), "host.net", "--repeat", "3"});
    QVERIFY(bench.waitForFinished(60000));
    const QByteArray out = bench.readAllStandardOutput();
    QCOMPARE(bench.exitCode(), 0);
    QVERIFY2(out.contains("rows: 10\n"), out.constData());
    QVERIFY2(out.contains("view_ms_median: "), out.constData());
    bench.start(QStringLiteral(TIDEWRACK_BENCH), {"view", dir.path()});
    QVERIFY(bench.waitForFinished(60000));
    QCOMPARE(bench.exitCode(), 2);
}

QTEST_GUILESS_MAIN(TestViewList)
#include "tst_viewlist.moc"
