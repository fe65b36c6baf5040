// The search core: criteria, the document-kind filter, the byte-wise matching of URLs, paths
// and file contents, reading in pieces, and unreadable files.

#include "catalogue/catalogue.h"
#include "collections/search.h"
#include "support.h"

#include "tools/writers/browserwriter.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <algorithm>

using Patterns = std::vector<std::string>;
Q_DECLARE_METATYPE(Patterns)
Q_DECLARE_METATYPE(SearchField)

class TestSearch : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();

    void criteriaAreAValue();
    void patterns_data();
    void patterns();
    void matchesDocKind_data();
    void matchesDocKind();
    void search_data();
    void search();
    void hitsAreTheCatalogueEntriesInOrder();
    void contentInPieces_data();
    void contentInPieces();
    void bodySeams_data();
    void bodySeams();
    void shortBodies_data();
    void shortBodies();
    void fileLargerThanOnePiece_data();
    void fileLargerThanOnePiece();
    void unreadableFiles_data();
    void unreadableFiles();
    void manyFilesKeepTheirOrder();
    void nameOfABodyKeptByTheBrowser_data();
    void nameOfABodyKeptByTheBrowser();
    void bodiesInsideContainers_data();
    void bodiesInsideContainers();

private:
    std::unique_ptr<TestStore> m_store;
    CacheList m_catalogue;
    QTemporaryDir m_scratch;
};

namespace {

const std::string GbkPage = "<html>\xd6\xd0\xce\xc4\xcd\xf8\xd2\xb3</html>"; // 中文网页 in GBK
const std::string ZeroText = std::string("before\0Hidden secret", 20);

// File names of the hits, sorted, so rows can name them plainly.
QStringList Names(const SearchList &hits)
{
    QStringList names;
    for (const CatalogueEntry &e : hits)
        names << QString::fromUtf8(FileNamePart(LocalFileName(e)));
    names.sort();
    return names;
}

QStringList Sorted(QStringList list)
{
    list.sort();
    return list;
}

QString WriteFile(const QString &path, const std::string &content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    file.write(content.data(), qint64(content.size()));
    return path;
}

} // namespace

void TestSearch::initTestCase()
{
    m_store = std::make_unique<TestStore>();
    TestStore &s = *m_store;
    s.add("http://www.example.com/index.html", "c1/index.html", "<html>Hello World</html>");
    s.add("http://www.example.com/page.htm", "c1/page.htm", "<p>plain page</p>");
    s.add("http://www.example.com/style.css", "c1/style.css", "body { color: red }");
    s.add("http://www.example.com/app.js", "c2/app.js", "function Go() {}");
    s.add("http://www.example.com/readme.txt", "c2/readme.txt", "Read me, please");
    s.add("http://www.example.com/Applet.class", "c2/applet.class", "CAFEBABE code");
    s.add("http://img.example.com/logo.jpg", "c3/LOGO.JPG", "jpeg bytes");
    s.add("http://img.example.com/photo.jpeg", "c3/photo.jpeg", "more jpeg");
    s.add("http://img.example.com/anim.gif", "c3/anim.gif", "GIF89a");
    s.add("http://api.example.com/data.json", "c3/data.json", "{\"hello\": 1}");
    s.add("http://cn.example.com/gbk.htm", "c4/gbk.htm", GbkPage);
    s.add("http://cn.example.com/utf8.htm", "c4/utf8.htm", "<html>中文网页</html>");
    s.add("http://cn.example.com/zero.txt", "c4/zero.txt", ZeroText);
    m_catalogue = EnumerateCatalogue();
    SortByHost(m_catalogue);
    QCOMPARE(m_catalogue.size(), std::size_t(13));
    QVERIFY(m_scratch.isValid());
}

void TestSearch::criteriaAreAValue()
{
    const SearchCriteria a{SearchField::FullText, GifKind, QStringLiteral("x")};
    SearchCriteria b = a;
    QVERIFY(a == b);
    b.text = QStringLiteral("X");
    QVERIFY(!(a == b));
    QVERIFY(SearchCriteria() == (SearchCriteria{SearchField::Url, AllKinds, QString()}));
}

void TestSearch::patterns_data()
{
    QTest::addColumn<SearchField>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<Patterns>("expected");
    QTest::newRow("url lowers ASCII") << SearchField::Url << QStringLiteral("WWW.Example") << Patterns{"www.example"};
    QTest::newRow("url keeps UTF-8 only")
        << SearchField::Url << QStringLiteral("中文") << Patterns{"\xe4\xb8\xad\xe6\x96\x87"};
    QTest::newRow("name keeps UTF-8 only")
        << SearchField::FileName << QStringLiteral("中文") << Patterns{"\xe4\xb8\xad\xe6\x96\x87"};
    QTest::newRow("text adds GBK") << SearchField::FullText << QStringLiteral("中文")
                                   << Patterns{"\xe4\xb8\xad\xe6\x96\x87", "\xd6\xd0\xce\xc4"};
    QTest::newRow("text ASCII once") << SearchField::FullText << QStringLiteral("AbC") << Patterns{"abc"};
    QTest::newRow("GBK trail byte lowered")
        << SearchField::FullText << QStringLiteral("癆") << Patterns{"\xe7\x99\x86", "\xb0\x61"};
    QTest::newRow("no GBK form") << SearchField::FullText << QStringLiteral("😀中")
                                 << Patterns{"\xf0\x9f\x98\x80\xe4\xb8\xad"};
    QTest::newRow("empty") << SearchField::FullText << QString() << Patterns{""};
}

void TestSearch::patterns()
{
    QFETCH(SearchField, field);
    QFETCH(QString, text);
    QFETCH(Patterns, expected);
    const SearchCriteria criteria{field, AllKinds, text};
    QCOMPARE(criteria.patterns(), expected);
}

void TestSearch::matchesDocKind_data()
{
    QTest::addColumn<QString>("path");
    // One character per kind 0..9: '1' passes, '0' does not.
    QTest::addColumn<QString>("passes");
    QTest::newRow(".htm") << "/c/a.htm"
                          << "1101000000";
    QTest::newRow(".HTML") << "/c/INDEX[1].HTML"
                           << "1101000000";
    QTest::newRow(".css") << "/c/s.css"
                          << "1100100000";
    QTest::newRow(".js") << "/c/s.Js"
                         << "1100010000";
    QTest::newRow(".txt") << "/c/r.txt"
                          << "1100001000";
    QTest::newRow(".class") << "/c/A.class"
                            << "1100000000";
    QTest::newRow(".jpg") << "/c/p.JPG"
                          << "1010000100";
    QTest::newRow(".jpeg") << "/c/p.jpeg"
                           << "1010000100";
    QTest::newRow(".gif") << "/c/p.gif"
                          << "1010000010";
    QTest::newRow(".png") << "/c/p.png"
                          << "1000000001";
    QTest::newRow("dot in folder") << "/c.htm/file"
                                   << "1000000001";
    QTest::newRow("backslash path") << "\\Cache\\x.htm"
                                    << "1101000000";
}

void TestSearch::matchesDocKind()
{
    QFETCH(QString, path);
    QFETCH(QString, passes);
    const std::string p = path.toStdString();
    for (int kind = 0; kind < DocKindCount; ++kind)
        QVERIFY2(MatchesDocKind(p, kind) == (passes[kind] == QLatin1Char('1')), qPrintable(QString::number(kind)));
    QVERIFY(!MatchesDocKind(p, DocKindCount));
    QCOMPARE(DocKindNames().size(), int(DocKindCount));
}

void TestSearch::search_data()
{
    QTest::addColumn<SearchField>("field");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("expected");

    const QStringList all = {"index.html", "page.htm", "style.css", "app.js",  "readme.txt", "applet.class", "LOGO.JPG",
                             "photo.jpeg", "anim.gif", "data.json", "gbk.htm", "utf8.htm",   "zero.txt"};
    QTest::newRow("empty text finds all") << SearchField::Url << int(AllKinds) << QString() << all;
    QTest::newRow("empty full text finds all") << SearchField::FullText << int(AllKinds) << QString() << all;
    QTest::newRow("capitals find lower-case URL")
        << SearchField::Url << int(AllKinds) << "IMG.EXAMPLE" << QStringList{"LOGO.JPG", "photo.jpeg", "anim.gif"};
    QTest::newRow("URL is not the path") << SearchField::Url << int(AllKinds) << "c3/" << QStringList();
    QTest::newRow("cache folder in file name matches all")
        << SearchField::FileName << int(AllKinds) << m_store->folder().toUpper() << all;
    QTest::newRow("file name lowered") << SearchField::FileName << int(AllKinds) << "logo.j" << QStringList{"LOGO.JPG"};
    QTest::newRow("other: neither .class nor .gif")
        << SearchField::Url << int(OtherKind) << QString() << QStringList{"data.json"};
    QTest::newRow("text documents") << SearchField::Url << int(TextKind) << QString()
                                    << QStringList{"index.html",   "page.htm", "style.css", "app.js",  "readme.txt",
                                                   "applet.class", "gbk.htm",  "utf8.htm",  "zero.txt"};
    QTest::newRow("image documents") << SearchField::Url << int(ImageKind) << QString()
                                     << QStringList{"LOGO.JPG", "photo.jpeg", "anim.gif"};
    QTest::newRow("html") << SearchField::Url << int(HtmlKind) << QString()
                          << QStringList{"index.html", "page.htm", "gbk.htm", "utf8.htm"};
    QTest::newRow("css") << SearchField::Url << int(CssKind) << QString() << QStringList{"style.css"};
    QTest::newRow("js") << SearchField::Url << int(JsKind) << QString() << QStringList{"app.js"};
    QTest::newRow("txt") << SearchField::Url << int(TxtKind) << QString() << QStringList{"readme.txt", "zero.txt"};
    QTest::newRow("jpeg") << SearchField::Url << int(JpegKind) << QString() << QStringList{"LOGO.JPG", "photo.jpeg"};
    QTest::newRow("gif") << SearchField::Url << int(GifKind) << QString() << QStringList{"anim.gif"};
    QTest::newRow("kind and text together")
        << SearchField::Url << int(HtmlKind) << "CN.example" << QStringList{"gbk.htm", "utf8.htm"};
    QTest::newRow("full text lowered both sides")
        << SearchField::FullText << int(AllKinds) << "hello" << QStringList{"index.html", "data.json"};
    QTest::newRow("full text with kind") << SearchField::FullText << int(HtmlKind) << "HELLO"
                                         << QStringList{"index.html"};
    QTest::newRow("Chinese finds GBK and UTF-8 pages")
        << SearchField::FullText << int(AllKinds) << "中文网页" << QStringList{"gbk.htm", "utf8.htm"};
    QTest::newRow("text before zero byte")
        << SearchField::FullText << int(AllKinds) << "before" << QStringList{"zero.txt"};
    QTest::newRow("text after zero byte") << SearchField::FullText << int(AllKinds) << "secret" << QStringList();
    QTest::newRow("nothing") << SearchField::FullText << int(AllKinds) << "no such words" << QStringList();
}

void TestSearch::search()
{
    QFETCH(SearchField, field);
    QFETCH(int, kind);
    QFETCH(QString, text);
    QFETCH(QStringList, expected);
    int unreadable = 0;
    SearchObserver observer;
    observer.unreadable = [&](const CatalogueEntry &) { ++unreadable; };
    const SearchList hits = SearchCatalogue(m_catalogue, SearchCriteria{field, kind, text}, observer);
    QCOMPARE(Names(hits), Sorted(expected));
    QCOMPARE(unreadable, 0);
}

void TestSearch::hitsAreTheCatalogueEntriesInOrder()
{
    const SearchList hits = SearchCatalogue(m_catalogue, SearchCriteria{SearchField::Url, AllKinds, "example"});
    QCOMPARE(hits.size(), m_catalogue.size());
    for (std::size_t i = 0; i < hits.size(); ++i)
        QVERIFY(hits[i].get() == m_catalogue[i].get()); // the same blocks, no copies
}

void TestSearch::contentInPieces_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("found");
    QTest::newRow("match anywhere") << QByteArray("0123456789abcdefNEEDLE-0123456789") << "needle" << true;
    QTest::newRow("match at the end") << QByteArray("0123456789abcdefghijneedle") << "NEEDLE" << true;
    QTest::newRow("match at the start") << QByteArray("Needle0123456789abcdefghij") << "needle" << true;
    QTest::newRow("no match") << QByteArray("0123456789needl-e0123456789") << "needle" << false;
    QTest::newRow("after a zero") << QByteArray("0123456789abcdef\0needle", 23) << "needle" << false;
    QTest::newRow("cut by a zero") << QByteArray("0123456789nee\0dle", 17) << "needle" << false;
    QTest::newRow("before a zero") << QByteArray("0123456789needle\0xyz", 20) << "needle" << true;
    QTest::newRow("GBK across pieces") << QByteArray(("0123456789abc" + GbkPage).c_str()) << "中文网页" << true;
}

void TestSearch::contentInPieces()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, text);
    QFETCH(bool, found);
    const QString path = WriteFile(m_scratch.filePath(QStringLiteral("pieces.bin")),
                                   std::string(content.constData(), std::size_t(content.size())));
    QVERIFY(!path.isEmpty());
    const std::string native = QFile::encodeName(path).toStdString();
    const FileMatch expected = found ? FileMatch::Hit : FileMatch::Miss;
    const Patterns patterns = SearchCriteria{SearchField::FullText, AllKinds, text}.patterns();
    // Every piece size, from one byte to more than the whole file, gives the whole file's answer,
    // for the file and for the same bytes as a body inside a container.
    const BodyRef body{native, 0, std::uint64_t(content.size()), ""};
    for (std::size_t chunk = 1; chunk <= std::size_t(content.size()) + 2; ++chunk) {
        ContentSearcher searcher(patterns, chunk);
        QVERIFY2(searcher.searchFile(native.c_str()) == expected, qPrintable(QString::number(chunk)));
        QVERIFY2(searcher.searchBody(body) == expected, qPrintable(QString::number(chunk)));
    }
}

void TestSearch::bodySeams_data()
{
    QTest::addColumn<QString>("coding");
    QTest::addColumn<qint64>("at"); // where the word starts
    // A stored body is read in pieces of 256 KiB, a decoded one handed out in pieces of 64 KiB.
    for (const char *coding : {"", "gzip"})
        for (const qint64 at : {65536 - 3, 262144 - 5, 262144 + 65536 - 1})
            QTest::newRow(qPrintable(QStringLiteral("%1 at %2").arg(*coding ? coding : "identity").arg(at)))
                << QString::fromLatin1(coding) << at;
}

void TestSearch::bodySeams()
{
    QFETCH(QString, coding);
    QFETCH(qint64, at);
    std::string body(400000, 'x');
    body.replace(std::size_t(at), 8, "LongWord");
    std::string stored, error;
    QVERIFY(EncodeBody(body, coding.toStdString(), stored, error));
    const QString path = WriteFile(m_scratch.filePath(QStringLiteral("seams.bin")), stored);
    QVERIFY(!path.isEmpty());
    const BodyRef ref{QFile::encodeName(path).toStdString(), 0, stored.size(), coding.toStdString()};
    ContentSearcher searcher(Patterns{"longword"});
    QVERIFY(searcher.searchBody(ref) == FileMatch::Hit);
    ContentSearcher other(Patterns{"longwork"});
    QVERIFY(other.searchBody(ref) == FileMatch::Miss);
}

void TestSearch::shortBodies_data()
{
    QTest::addColumn<QString>("coding");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("read"); // false: known to be too short without reading it
    QTest::newRow("stored, shorter than the word") << "" << qint64(5) << false;
    QTest::newRow("stored, as long as the word") << "" << qint64(6) << true;
    QTest::newRow("empty, with a coding") << "gzip" << qint64(0) << false;
    QTest::newRow("coded, may decode to more") << "gzip" << qint64(5) << true;
    QTest::newRow("coding that cannot be undone") << "compress" << qint64(5) << true;
}

void TestSearch::shortBodies()
{
    QFETCH(QString, coding);
    QFETCH(qint64, size);
    QFETCH(bool, read);
    // The container is gone: a body that is read is unreadable, one that is not is a miss.
    const BodyRef ref{m_scratch.filePath(QStringLiteral("no-such-container")).toStdString(), 0, std::uint64_t(size),
                      coding.toStdString()};
    ContentSearcher searcher(Patterns{"needle"});
    QVERIFY(searcher.searchBody(ref) == (read ? FileMatch::Unreadable : FileMatch::Miss));
    // An empty search text asks only whether the body can be read.
    ContentSearcher any(Patterns{""});
    QVERIFY(any.searchBody(ref) == FileMatch::Unreadable);
}

void TestSearch::fileLargerThanOnePiece_data()
{
    QTest::addColumn<qint64>("at"); // where the text starts, relative to the end of the first piece
    QTest::addColumn<bool>("zeroBefore");
    QTest::addColumn<bool>("found");
    QTest::newRow("across the boundary") << qint64(-3) << false << true;
    QTest::newRow("in the second piece") << qint64(1000) << false << true;
    QTest::newRow("ends at the boundary") << qint64(-8) << false << true;
    QTest::newRow("second piece after a zero") << qint64(1000) << true << false;
}

void TestSearch::fileLargerThanOnePiece()
{
    QFETCH(qint64, at);
    QFETCH(bool, zeroBefore);
    QFETCH(bool, found);
    const std::size_t piece = ContentSearcher::DefaultChunkSize;
    std::string content(piece + 4096, 'x');
    content.replace(std::size_t(qint64(piece) + at), 8, "LongWord");
    if (zeroBefore)
        content[piece - 100] = '\0';
    const QString path = WriteFile(m_scratch.filePath(QStringLiteral("large.bin")), content);
    QVERIFY(!path.isEmpty());
    const std::string native = QFile::encodeName(path).toStdString();
    const Patterns patterns{"longword"};
    ContentSearcher inPieces(patterns);
    ContentSearcher whole(patterns, content.size() + 1);
    const FileMatch expected = found ? FileMatch::Hit : FileMatch::Miss;
    QVERIFY(inPieces.searchFile(native.c_str()) == expected);
    QVERIFY(whole.searchFile(native.c_str()) == expected);
}

void TestSearch::unreadableFiles_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("empty text") << QString() << QStringList{"a.htm", "c.htm"};
    QTest::newRow("some text") << "found" << QStringList{"c.htm"};
}

void TestSearch::unreadableFiles()
{
    QFETCH(QString, text);
    QFETCH(QStringList, expected);
    TestStore store;
    store.add("http://a.example/a.htm", "a.htm", "nothing here");
    store.add("http://b.example/b.htm", "b.htm", "found but removed", false);
    store.add("http://c.example/c.htm", "c.htm", "found it");
    store.add("http://d.example/d.htm", "d.htm/inner.txt", "the entry's path is a folder");
    // The entry of d.htm names the folder itself.
    store.store().add("http://e.example/e.htm", store.path("d.htm"));
    CacheList catalogue = EnumerateCatalogue();
    SortByHost(catalogue);
    QCOMPARE(catalogue.size(), std::size_t(5));

    QStringList reported;
    SearchObserver observer;
    observer.unreadable = [&](const CatalogueEntry &e) { reported << QString::fromUtf8(SourceUrl(e)); };
    const SearchList hits = SearchCatalogue(catalogue, SearchCriteria{SearchField::FullText, HtmlKind, text}, observer);
    QCOMPARE(Names(hits), expected);
    QCOMPARE(reported, (QStringList{"http://b.example/b.htm", "http://e.example/e.htm"}));
}

void TestSearch::manyFilesKeepTheirOrder()
{
    // Enough files that several threads read them: hits and unreadable reports still come in
    // the catalogue's order, each once.
    TestStore store;
    QStringList wantHits, wantUnreadable;
    for (int i = 0; i < 1200; ++i) {
        const std::string name = "f" + std::to_string(i) + ".htm";
        const std::string url = "http://m.example/" + name;
        const bool gone = i % 97 == 5;
        const bool holds = i % 7 == 0;
        store.add(url, name, holds ? "a needle here" : "nothing", !gone);
        if (gone)
            wantUnreadable << QString::fromStdString(url);
        else if (holds)
            wantHits << QString::fromStdString(url);
    }
    const CacheList catalogue = EnumerateCatalogue();
    QStringList unreadable;
    std::size_t lastProgress = 0;
    bool progressForward = true;
    SearchObserver observer;
    observer.unreadable = [&](const CatalogueEntry &e) { unreadable << SourceUrl(e); };
    observer.progress = [&](std::size_t examined) {
        progressForward = progressForward && examined > lastProgress && examined <= catalogue.size();
        lastProgress = examined;
    };
    const SearchList hits =
        SearchCatalogue(catalogue, SearchCriteria{SearchField::FullText, AllKinds, QStringLiteral("NEEDLE")}, observer);
    QStringList got;
    for (const CatalogueEntry &e : hits)
        got << SourceUrl(e);
    QCOMPARE(got, wantHits);
    QCOMPARE(unreadable, wantUnreadable);
    QVERIFY(progressForward);
}

void TestSearch::nameOfABodyKeptByTheBrowser_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("hit");
    QTest::newRow("the name shown") << "page.htm" << true;
    QTest::newRow("our private folder") << "planned" << false;
}

void TestSearch::nameOfABodyKeptByTheBrowser()
{
    QFETCH(QString, text);
    QFETCH(bool, hit);
    TestStore store;
    StoreEntry &entry = store.add("http://b.example/x", "", "", false);
    entry.hasLocalFile = true;
    store.store().setText(entry.localFile, store.path("planned/page.htm"));
    store.store().setText(entry.container, store.path("container"));
    entry.body = BodyPlace::Range;
    const CacheList catalogue = EnumerateCatalogue();
    QCOMPARE(catalogue.size(), std::size_t(1));
    const SearchList hits = SearchCatalogue(catalogue, SearchCriteria{SearchField::FileName, AllKinds, text});
    QCOMPARE(hits.size(), std::size_t(hit ? 1 : 0));
}

void TestSearch::bodiesInsideContainers_data()
{
    QTest::addColumn<QString>("coding");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("hit");
    for (const char *coding : {"", "gzip", "br", "zstd", "gzip, br"}) {
        const QByteArray name = *coding ? QByteArray(coding) : QByteArray("identity");
        QTest::newRow(name + ", word deep inside") << coding << "Needle" << true;
        QTest::newRow(name + ", Chinese in GBK") << coding << QString::fromUtf8("中文网页") << true;
        QTest::newRow(name + ", after the zero byte") << coding << "hidden" << false;
        QTest::newRow(name + ", outside the body's range") << coding << "storedonly" << false;
    }
}

void TestSearch::bodiesInsideContainers()
{
    QFETCH(QString, coding);
    QFETCH(QString, text);
    QFETCH(bool, hit);
    // The body lies between other bytes of its container, as in a browser's entry file; the
    // word sits beyond the decoder's first pieces.
    std::string body = std::string(300000, 'x') + " needle " + GbkPage + std::string(200000, 'y');
    body += std::string("\0hidden", 7);
    std::string stored, error;
    QVERIFY(EncodeBody(body, coding.toStdString(), stored, error));
    const QString container = m_scratch.filePath("container-" + QString::number(qHash(coding)));
    QFile file(container);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("storedonly"); // not the body
    file.write(stored.data(), qint64(stored.size()));
    file.write("storedonly");
    file.close();

    TestStore store;
    StoreEntry &entry = store.add("http://b.example/page", "", "", false);
    entry.hasLocalFile = true;
    store.store().setText(entry.localFile, store.path("planned/page.htm"));
    store.store().setText(entry.container, container.toStdString());
    store.store().setText(entry.contentEncoding, coding.toStdString());
    entry.body = BodyPlace::Range;
    entry.bodyOffset = 10;
    entry.size = stored.size();
    const CacheList catalogue = EnumerateCatalogue();
    QCOMPARE(catalogue.size(), std::size_t(1));

    QStringList unreadable;
    SearchObserver observer;
    observer.unreadable = [&](const CatalogueEntry &e) { unreadable << SourceUrl(e); };
    const SearchList hits = SearchCatalogue(catalogue, SearchCriteria{SearchField::FullText, AllKinds, text}, observer);
    QCOMPARE(hits.size(), std::size_t(hit ? 1 : 0));
    QVERIFY(unreadable.isEmpty());
    // Searching wrote nothing: the planned local file is still not there.
    QVERIFY(!QFile::exists(store.folder() + "/planned/page.htm"));

    // A container that is gone is reported as unreadable.
    QVERIFY(QFile::remove(container));
    SearchCatalogue(catalogue, SearchCriteria{SearchField::FullText, AllKinds, text}, observer);
    QCOMPARE(unreadable, QStringList{"http://b.example/page"});
}

QTEST_GUILESS_MAIN(TestSearch)
#include "tst_search.moc"
