// The entry helpers, the lists' ownership and the loading of the catalogue.

#include "catalogue/catalogue.h"
#include "catalogue/filepresence.h"
#include "catalogue/viewlist.h"
#include "stores/storeregistry.h"
#include "support.h"

#include <QFile>
#include <QtTest>

#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <set>
#include <sys/stat.h>

class TestCatalogue : public QObject {
    Q_OBJECT
private slots:
    void urlHost_data();
    void urlHost();
    void compareHostFoldsOnlyAscii();
    void documentKinds_data();
    void documentKinds();
    void gbkTrailByteIsNoSeparator();
    void purge();
    void presenceAgreesWithFileExists_data();
    void presenceAgreesWithFileExists();
    void presenceReadsEachFolderOnce();
    void presenceKeepsListingsOfSettledFolders();
    void purgeSeesFilesGoneSinceTheLastPurge();
    void loadKeepsOnlyDocuments();
    void hostNodesFollowByteIdenticalRuns();
    void caseVariantsOfAHostGetOneNodeEach();
    void hostsSortCaseBlind();
    void hostsSortInGbkOrder_data();
    void hostsSortInGbkOrder();
    void emptyCacheGivesNoNodes();
    void reloadKeepsCollectedEntriesReadable();
    void droppedBlocksAreReclaimed();
    void unreadableStoreSaysWhy();
};

void TestCatalogue::urlHost_data()
{
    QTest::addColumn<QByteArray>("url");
    QTest::addColumn<QByteArray>("host");
    QTest::newRow("plain") << QByteArray("a://bb/cc/dd") << QByteArray("bb");
    QTest::newRow("no third slash") << QByteArray("a://bb") << QByteArray("bb");
    QTest::newRow("third follows second") << QByteArray("a:///bb/cc") << QByteArray("");
    QTest::newRow("no slash") << QByteArray("about:blank") << QByteArray("");
    QTest::newRow("case and port kept") << QByteArray("a://Bb:81/cc") << QByteArray("Bb:81");
    QTest::newRow("any two slashes") << QByteArray("a/bb/cc") << QByteArray("cc");
    QTest::newRow("single slash") << QByteArray("http:/single.example/one.htm") << QByteArray("one.htm");
    QTest::newRow("user and password") << QByteArray("http://u:p@h:8080/x") << QByteArray("u:p@h:8080");
}

void TestCatalogue::urlHost()
{
    QFETCH(QByteArray, url);
    QFETCH(QByteArray, host);
    QCOMPARE(QByteArray(UrlHost(url.toStdString()).data(), qsizetype(UrlHost(url.toStdString()).size())), host);
    // The walk over a zero-terminated URL, which stops at the host's end, finds the same.
    const std::string_view fromText = UrlHost(url.constData());
    QCOMPARE(QByteArray(fromText.data(), qsizetype(fromText.size())), host);
    QVERIFY(UrlHost(static_cast<const char *>(nullptr)).empty());
}

void TestCatalogue::compareHostFoldsOnlyAscii()
{
    QVERIFY(CompareLowered("aa.net", "Bb.net") < 0);
    QCOMPARE(CompareLowered("BB.net", "bb.NET"), 0);
    QVERIFY(CompareLowered("", "a") < 0);
    QVERIFY(CompareLowered("ab", "abc") < 0);
    // Bytes above 0x7F compare unsigned and are never folded.
    QVERIFY(CompareLowered("\xC4", "z") > 0);
    QVERIFY(CompareLowered("\xC4", "\xE4") != 0);
}

void TestCatalogue::documentKinds_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("extension");
    QTest::addColumn<bool>("text");
    QTest::addColumn<bool>("plain");
    QTest::addColumn<bool>("image");
    QTest::newRow("upper htm") << QByteArray("\\Cache\\INDEX[1].HTM") << QByteArray(".HTM") << true << false << false;
    QTest::newRow("upper jpeg") << QByteArray("\\Cache\\logo[2].JPEG") << QByteArray(".JPEG") << false << false << true;
    QTest::newRow("ends in dot") << QByteArray("\\Cache\\name.") << QByteArray(".") << false << false << false;
    QTest::newRow("dot in folder") << QByteArray("\\dir.htm\\file") << QByteArray("") << false << false << false;
    QTest::newRow("linux folder dot") << QByteArray("/c/Content.IE5/AB/README[0]") << QByteArray("") << false << false
                                      << false;
    QTest::newRow("colon") << QByteArray("c:name.txt:x") << QByteArray("") << false << false << false;
    QTest::newRow("class") << QByteArray("/a/Main[0].class") << QByteArray(".class") << true << true << false;
    QTest::newRow("css") << QByteArray("/a/site.CSS") << QByteArray(".CSS") << true << true << false;
    QTest::newRow("gif") << QByteArray("/a/logo.gif") << QByteArray(".gif") << false << false << true;
    QTest::newRow("png is none") << QByteArray("/a/icon.png") << QByteArray(".png") << false << false << false;
    QTest::newRow("utf8 name") << QByteArray("/a/\xE4\xB8\xAD\xE6\x96\x87[0].htm") << QByteArray(".htm") << true
                               << false << false;
}

void TestCatalogue::documentKinds()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, extension);
    const std::string p = path.toStdString();
    QCOMPARE(QByteArray::fromStdString(std::string(ExtensionOf(p))), extension);
    QTEST(IsTextDocument(p), "text");
    QTEST(IsPlainTextDocument(p), "plain");
    QTEST(IsImageDocument(p), "image");
}

void TestCatalogue::gbkTrailByteIsNoSeparator()
{
    // "a.b" then a double-byte character whose trail byte is the backslash byte (GBK 0x815C).
    const std::string path = "a.b\x81\x5C";
    QCOMPARE(std::string(ExtensionOf(path, CodePage::Gbk)), std::string(".b\x81\x5C"));
    QCOMPARE(std::string(FileNamePart("\\x\\" + path, CodePage::Gbk)), path);
    // Read as UTF-8 the same byte is a separator.
    QCOMPARE(std::string(ExtensionOf(path, CodePage::Utf8)), std::string());
    QCOMPARE(std::string(FolderPart("\\x\\" + path, CodePage::Gbk)), std::string("\\x\\"));
}

void TestCatalogue::purge()
{
    TestStore store;
    store.add("http://a/1.htm", "1.htm", "one");
    store.add("http://a/2.htm", "2.htm", "two");
    store.add("http://a/3.htm", "3.htm", "", false);
    CacheList list = EnumerateCatalogue();
    QCOMPARE(list.size(), size_t(3));

    PurgeMissingFiles(list);
    QCOMPARE(list.size(), size_t(2));
    QCOMPARE(QByteArray(SourceUrl(list[0])), QByteArray("http://a/1.htm"));
    QCOMPARE(QByteArray(SourceUrl(list[1])), QByteArray("http://a/2.htm"));

    CollectList box{HeaderCopy{*list[0], list[0]}, HeaderCopy{*list[1], list[1]}};
    box.push_back(HeaderCopy{*list[1], list[1]});
    box.back().header.lpszLocalFileName = nullptr; // a null name counts as missing
    PurgeMissingFiles(box);
    QCOMPARE(box.size(), size_t(2));

    QFile::remove(QString::fromStdString(store.path("1.htm")));
    QFile::remove(QString::fromStdString(store.path("2.htm")));
    PurgeMissingFiles(list);
    QVERIFY(list.empty());

    // A directory of the right name is not a file.
    QVERIFY(QDir(store.folder()).mkdir("1.htm"));
    QVERIFY(!FileExists(store.path("1.htm").c_str()));
}

void TestCatalogue::presenceAgreesWithFileExists_data()
{
    // What stands at the asked path, relative to a folder of the test; "-" for nothing.
    QTest::addColumn<QString>("stand");
    QTest::addColumn<QString>("asked");
    QTest::addColumn<bool>("present");
    QTest::newRow("file") << "file"
                          << "c/x.htm" << true;
    QTest::newRow("missing") << "-"
                             << "c/x.htm" << false;
    QTest::newRow("folder") << "folder"
                            << "c/x.htm" << false;
    QTest::newRow("link to a file") << "link-file"
                                    << "c/x.htm" << true;
    QTest::newRow("link to a folder") << "link-folder"
                                      << "c/x.htm" << false;
    QTest::newRow("dangling link") << "link-none"
                                   << "c/x.htm" << false;
    QTest::newRow("pipe") << "fifo"
                          << "c/x.htm" << false;
    QTest::newRow("folder missing") << "-"
                                    << "gone/x.htm" << false;
    QTest::newRow("folder is a file") << "file"
                                      << "c/x.htm/y.htm" << false;
    QTest::newRow("trailing slash") << "folder"
                                    << "c/x.htm/" << false;
    QTest::newRow("name needs escaping") << "file"
                                         << "c/a b[1]%20.htm" << true;
}

void TestCatalogue::presenceAgreesWithFileExists()
{
    QFETCH(QString, stand);
    QFETCH(QString, asked);
    QFETCH(bool, present);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("c"));
    QVERIFY(QDir(dir.path()).mkdir("target"));
    QVERIFY(WriteBytes(dir.filePath("target/file"), "t"));
    const QString at = dir.filePath(asked.endsWith('/') ? asked.chopped(1) : asked.section('/', 0, 1));
    if (stand == "file")
        QVERIFY(WriteBytes(at, "x"));
    else if (stand == "folder")
        QVERIFY(QDir().mkdir(at));
    else if (stand == "link-file")
        QVERIFY(QFile::link(dir.filePath("target/file"), at));
    else if (stand == "link-folder")
        QVERIFY(QFile::link(dir.filePath("target"), at));
    else if (stand == "link-none")
        QVERIFY(QFile::link(dir.filePath("target/none"), at));
    else if (stand == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(at).constData(), 0600), 0);

    const QByteArray path = QFile::encodeName(dir.filePath(asked));
    QCOMPARE(FileExists(path.constData()), present);
    FilePresence presence;
    QCOMPARE(presence.exists(path.constData()), present);
    QCOMPARE(presence.exists(path.constData()), present); // asked again, from what was read
}

void TestCatalogue::presenceReadsEachFolderOnce()
{
    QTemporaryDir dir;
    std::vector<QByteArray> paths;
    for (const char *folder : {"A1", "B2"}) {
        QVERIFY(QDir(dir.path()).mkdir(folder));
        for (int i = 0; i < 50; ++i) {
            const QString path = dir.filePath(QStringLiteral("%1/%2[1].htm").arg(folder).arg(i));
            if (i % 5 != 0)
                QVERIFY(WriteBytes(path, "x"));
            paths.push_back(QFile::encodeName(path));
        }
    }
    FilePresence presence;
    int found = 0;
    // Back and forth between the folders, as a catalogue sorted by host holds them.
    for (std::size_t i = 0; i < 50; ++i)
        for (std::size_t start : {std::size_t(0), std::size_t(50)})
            found += presence.exists(paths[start + i].constData());
    QCOMPARE(found, 80);
    QCOMPARE(presence.foldersRead(), std::size_t(2));
    QCOMPARE(presence.filesAsked(), std::size_t(0));
    QVERIFY(!presence.exists(nullptr));
    QVERIFY(!presence.exists(""));
}

namespace {

// Sets a folder's times an hour back, as a folder nobody has changed for a while has them.
void settle(const QString &folder)
{
    timespec times[2];
    ::clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= 3600;
    times[1] = times[0];
    QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(folder).constData(), times, 0), 0);
}

} // namespace

void TestCatalogue::presenceKeepsListingsOfSettledFolders()
{
    FilePresence::forgetListings();
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("fresh"));
    QVERIFY(QDir(dir.path()).mkdir("settled"));
    QVERIFY(WriteBytes(dir.filePath("fresh/a.htm"), "a"));
    QVERIFY(WriteBytes(dir.filePath("settled/b.htm"), "b"));
    settle(dir.filePath("settled"));
    const QByteArray fresh = QFile::encodeName(dir.filePath("fresh/a.htm"));
    const QByteArray settled = QFile::encodeName(dir.filePath("settled/b.htm"));
    {
        FilePresence pass;
        QVERIFY(pass.exists(fresh.constData()) && pass.exists(settled.constData()));
        QCOMPARE(pass.foldersRead(), std::size_t(2));
        QVERIFY(!pass.answeredFromStampedListings()); // a folder changed just now vouches for nothing
    }
    {
        // The settled folder's names are taken as they were read; the fresh one is read again.
        FilePresence pass;
        QVERIFY(pass.exists(fresh.constData()) && pass.exists(settled.constData()));
        QCOMPARE(pass.foldersRead(), std::size_t(1));
    }
    {
        FilePresence pass;
        QVERIFY(pass.exists(settled.constData()));
        QCOMPARE(pass.foldersRead(), std::size_t(0));
        QVERIFY(pass.answeredFromStampedListings());
        QCOMPARE(pass.foldersSeen().size(), std::size_t(1));
    }
    // A file that goes changes its folder's stamp, even when the folder's times are put back.
    QVERIFY(QFile::remove(QString::fromUtf8(settled)));
    settle(dir.filePath("settled"));
    FilePresence pass;
    QVERIFY(!pass.exists(settled.constData()));
    QCOMPARE(pass.foldersRead(), std::size_t(1));
}

void TestCatalogue::purgeSeesFilesGoneSinceTheLastPurge()
{
    TestStore store;
    for (int i = 0; i < 30; ++i)
        store.add("http://a.net/" + std::to_string(i) + ".htm", std::to_string(i) + ".htm", "x");
    settle(store.folder());
    CacheList list = EnumerateCatalogue();
    PurgeMissingFiles(list);
    PurgeMissingFiles(list); // unchanged list over an unchanged folder
    QCOMPARE(list.size(), size_t(30));

    QVERIFY(QFile::remove(QString::fromStdString(store.path("7.htm"))));
    settle(store.folder());
    PurgeMissingFiles(list);
    QCOMPARE(list.size(), size_t(29));
    for (const CatalogueEntry &e : list)
        QVERIFY(QByteArray(SourceUrl(e)) != "http://a.net/7.htm");

    // A new catalogue in the old one's place is walked anew: its entries are not those kept.
    store.add("http://a.net/lost.htm", "lost.htm", "", false);
    settle(store.folder());
    PurgeMissingFiles(list);
    list = EnumerateCatalogue();
    QCOMPARE(list.size(), size_t(31)); // 7.htm is still listed by the store, lost.htm too
    PurgeMissingFiles(list);
    QCOMPARE(list.size(), size_t(29));
}

void TestCatalogue::loadKeepsOnlyDocuments()
{
    TestStore store;
    store.add("http://first.example/a.htm", "a[0].htm", "x"); // the very first entry counts too
    store.add("http://b.example/README", "README[0]", "x");
    store.add("http://b.example/none", "");
    store.add("http://b.example/dot", "dot.", "x");
    const CacheList list = EnumerateCatalogue();
    QCOMPARE(list.size(), size_t(2));
    QCOMPARE(QByteArray(SourceUrl(list[0])), QByteArray("http://first.example/a.htm"));
    QCOMPARE(QByteArray(SourceUrl(list[1])), QByteArray("http://b.example/dot"));
    // Texts live in the entry's own block.
    const auto *block = reinterpret_cast<const char *>(list[0].get());
    QVERIFY(list[0]->lpszSourceUrlName > block);
    QVERIFY(list[0]->lpszSourceUrlName < block + list[0]->dwStructSize + 64);
}

void TestCatalogue::hostNodesFollowByteIdenticalRuns()
{
    TestStore store;
    store.add("http://same.net/1.htm", "1.htm", "1");
    store.add("http://same.net/2.htm", "2.htm", "2");
    store.add("about:blank", "blank.htm", "b");
    CacheList list = EnumerateCatalogue();
    SortByHost(list);
    const auto nodes = HostNodes(list);
    QCOMPARE(nodes.size(), size_t(1)); // the empty host gets no node
    QCOMPARE(HostCaption(nodes[0].host), std::string("[same.net]"));
    QCOMPARE(nodes[0].first, size_t(1));
    QCOMPARE(QByteArray(SourceUrl(list[0])), QByteArray("about:blank"));

    // Unsorted, the nodes follow the runs as they stand: one node per byte-identical run.
    const char *urls[] = {"http://Bb.net/1", "http://bb.net/2", "http://Bb.net/3"};
    CacheList runs;
    TestStore second;
    for (const char *u : urls)
        second.add(u, std::string(u + 14) + ".htm", "x");
    runs = EnumerateCatalogue();
    QCOMPARE(HostNodes(runs).size(), size_t(3));
}

void TestCatalogue::caseVariantsOfAHostGetOneNodeEach()
{
    // Enough entries that the sort partitions rather than inserts, in a scrambled order.
    const std::string variants[] = {"news.example.com", "News.Example.com", "NEWS.EXAMPLE.COM"};
    TestStore store;
    store.add("http://aa.net/first.htm", "first.htm", "a");
    for (int i = 0; i < 120; ++i) {
        const std::string &host = variants[(i * 7) % 3];
        const std::string name = std::to_string(i) + ".htm";
        store.add("http://" + host + "/" + name, name, "x");
    }
    store.add("http://zz.net/last.htm", "last.htm", "z");
    CacheList list = EnumerateCatalogue();
    std::map<const void *, std::size_t> listed;
    for (std::size_t i = 0; i < list.size(); ++i)
        listed[list[i].get()] = i;
    SortByHost(list);
    // The entries of one host keep the order they were listed in.
    for (std::size_t i = 1; i < list.size(); ++i)
        if (UrlHost(SourceUrl(list[i])) == UrlHost(SourceUrl(list[i - 1])))
            QVERIFY(listed[list[i - 1].get()] < listed[list[i].get()]);

    const auto nodes = HostNodes(list);
    QCOMPARE(nodes.size(), size_t(5));
    QCOMPARE(std::string(nodes[0].host), std::string("aa.net"));
    QCOMPARE(std::string(nodes[4].host), std::string("zz.net"));
    std::set<std::string> seen;
    for (std::size_t n = 1; n <= 3; ++n) {
        const std::string host(nodes[n].host);
        seen.insert(host);
        // The node's run holds every document of its host text.
        ViewList view;
        BuildHostViewList(view, list, host);
        QCOMPARE(view.size(), size_t(40));
        for (const Tcachedata &row : view)
            QCOMPARE(std::string(UrlHost(SourceUrl(row))), host);
    }
    QCOMPARE(seen, std::set<std::string>(std::begin(variants), std::end(variants)));
}

void TestCatalogue::hostsSortCaseBlind()
{
    TestStore store;
    store.add("http://cc.net/c.htm", "c.htm", "c");
    store.add("http://Bb.net/b.htm", "b.htm", "b");
    store.add("http://aa.net/a.htm", "a.htm", "a");
    CacheList list = EnumerateCatalogue();
    SortByHost(list);
    const auto nodes = HostNodes(list);
    QCOMPARE(nodes.size(), size_t(3));
    QCOMPARE(std::string(nodes[0].host), std::string("aa.net"));
    QCOMPARE(std::string(nodes[1].host), std::string("Bb.net"));
    QCOMPARE(std::string(nodes[2].host), std::string("cc.net"));
    QVERIFY(CompareHost(list[0], list[1]) < 0);
}

void TestCatalogue::hostsSortInGbkOrder_data()
{
    QTest::addColumn<QStringList>("hosts");
    QTest::addColumn<QStringList>("expected");
    // 阿 (a) before 中 (zhong) by pinyin, the other way round by code point.
    QTest::newRow("pinyin order") << QStringList{"中国.cn", "b.net", "阿里.cn"}
                                  << QStringList{"b.net", "阿里.cn", "中国.cn"};
    QTest::newRow("no GBK form last") << QStringList{"\u00FF.net", "中国.cn", "a.net"}
                                      << QStringList{"a.net", "中国.cn", "\u00FF.net"};
}

void TestCatalogue::hostsSortInGbkOrder()
{
    QFETCH(QStringList, hosts);
    QFETCH(QStringList, expected);
    TestStore store;
    for (int i = 0; i < hosts.size(); ++i) {
        const std::string name = std::to_string(i) + ".htm";
        store.add(("http://" + hosts[i] + "/" + QString::fromStdString(name)).toStdString(), name, "x");
    }
    CacheList list = EnumerateCatalogue();
    SortByHost(list);
    QStringList got;
    for (const HostNode &node : HostNodes(list))
        got << QString::fromUtf8(node.host.data(), qsizetype(node.host.size()));
    QCOMPARE(got, expected);
    for (std::size_t i = 1; i < list.size(); ++i)
        QVERIFY(CompareHost(list[i - 1], list[i]) < 0);
}

void TestCatalogue::emptyCacheGivesNoNodes()
{
    {
        TestStore store;
        store.add("http://a.net/x", "");
        store.add("http://a.net/y", "");
        CacheList list = EnumerateCatalogue();
        QVERIFY(list.empty());
        QVERIFY(HostNodes(list).empty());
    }
    SetUrlCacheStore(nullptr);
    QVERIFY(EnumerateCatalogue().empty());
}

void TestCatalogue::reloadKeepsCollectedEntriesReadable()
{
    TestStore store;
    store.add("http://a.net/keep.htm", "keep.htm", "k");
    CacheList cache = EnumerateCatalogue();
    SearchList search{cache[0]};
    CollectList box{HeaderCopy{*cache[0], cache[0]}};
    const ViewList view{MakeViewRecord(box[0])};

    cache = EnumerateCatalogue(); // a reload drops the old blocks from the catalogue
    QCOMPARE(QByteArray(SourceUrl(box[0])), QByteArray("http://a.net/keep.htm"));
    QCOMPARE(QByteArray(SourceUrl(search[0])), QByteArray("http://a.net/keep.htm"));
    QCOMPARE(QByteArray(LocalFileName(view[0])), QByteArray::fromStdString(store.path("keep.htm")));
}

void TestCatalogue::droppedBlocksAreReclaimed()
{
    TestStore store;
    for (int i = 0; i < 50; ++i)
        store.add("http://a.net/" + std::to_string(i) + ".htm", std::to_string(i) + ".htm", "x");
    CacheList cache = EnumerateCatalogue();
    std::weak_ptr<const INTERNET_CACHE_ENTRY_INFOA> watched = cache[7];
    CollectList box{HeaderCopy{*cache[3], cache[3]}};
    std::weak_ptr<const INTERNET_CACHE_ENTRY_INFOA> collected = cache[3];
    for (int reload = 0; reload < 5; ++reload)
        cache = EnumerateCatalogue();
    QVERIFY(watched.expired());
    QVERIFY(!collected.expired());
    box.clear();
    QVERIFY(collected.expired());
}

void TestCatalogue::unreadableStoreSaysWhy()
{
    QTemporaryDir dir;
    QVERIFY(WriteBytes(dir.filePath("index.dat"), QByteArray(0x8000, 'x')));
    SetUrlCacheStore(OpenStore(dir.path().toStdString()));
    QVERIFY(EnumerateCatalogue().empty());
    QVERIFY(LastUrlCacheReadProblem().find(dir.filePath("index.dat").toStdString()) != std::string::npos);

    SetUrlCacheStore(OpenStore(dir.filePath("missing").toStdString()));
    QVERIFY(EnumerateCatalogue().empty());
    QVERIFY(!LastUrlCacheReadProblem().empty());

    TestStore store; // a readable store clears the complaint
    store.add("http://a.net/x.htm", "x.htm", "x");
    QCOMPARE(EnumerateCatalogue().size(), size_t(1));
    QVERIFY(LastUrlCacheReadProblem().empty());
}

QTEST_GUILESS_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
