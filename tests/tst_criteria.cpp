// The criteria of 更多条件 and of the command line's filters, on stores of every kind written
// here: each count is worked out from the entries as they were written, not from the reader.

#include "catalogue/catalogue.h"
#include "catalogue/criteria.h"
#include "support.h"

#include "stores/storeregistry.h"
#include "tools/writers/chromiumwriter.h"
#include "tools/writers/firefoxwriter.h"

#include <QtTest>

#include <functional>
#include <set>

namespace {

constexpr std::int64_t Now = 1'780'000'000;
constexpr std::int64_t Day = 86400;
constexpr int Count = 42;

// What entry `i` was written with.
struct Written {
    int ageDays; // its last use was this many days (and an hour) ago
    int size;    // body bytes
    int kind;    // ContentKind
    int status;  //
    bool partitioned;
    std::string url;
};

const char *const Types[] = {"text/html",  "image/png", "application/javascript", "text/css",
                             "font/woff2", "video/mp4", "application/pdf"};
const char *const Extensions[] = {"html", "png", "js", "css", "woff2", "mp4", "pdf"};
const int Statuses[] = {200, 404, 301};

Written written(int i, bool partitions)
{
    Written w{i, 100 + i * 97, i % 7, Statuses[i % 3], partitions && i % 4 == 0, {}};
    w.url = "https://h" + std::to_string(i % 5) + ".example/doc" + std::to_string(i) + "." + Extensions[w.kind];
    return w;
}

using Expect = std::function<bool(const Written &)>;

} // namespace

Q_DECLARE_METATYPE(EntryCriteria)
Q_DECLARE_METATYPE(Expect)

class TestCriteria : public QObject {
    Q_OBJECT
private slots:
    void eachCriterionOnEachStore_data();
    void eachCriterionOnEachStore();
    void contentKinds_data();
    void contentKinds();
    void parsing_data();
    void parsing();
};

void TestCriteria::eachCriterionOnEachStore_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<EntryCriteria>("criteria");
    QTest::addColumn<Expect>("expect");

    std::vector<std::tuple<const char *, EntryCriteria, Expect>> rows;
    EntryCriteria c;
    c.notBefore = StoreTimeFromUnix(Now - 10 * Day);
    rows.emplace_back("newer than 10 days", c, [](const Written &w) { return w.ageDays < 10; });
    c = {};
    c.before = StoreTimeFromUnix(Now - 30 * Day);
    rows.emplace_back("older than 30 days", c, [](const Written &w) { return w.ageDays >= 30; });
    c = {};
    c.notBefore = StoreTimeFromUnix(Now - 20 * Day);
    c.before = StoreTimeFromUnix(Now - 5 * Day);
    rows.emplace_back("from 20 to 5 days ago", c, [](const Written &w) { return w.ageDays >= 5 && w.ageDays < 20; });
    c = {};
    c.largerThan = 2000;
    rows.emplace_back("larger than", c, [](const Written &w) { return w.size > 2000; });
    c = {};
    c.smallerThan = 800;
    rows.emplace_back("smaller than", c, [](const Written &w) { return w.size < 800; });
    for (int kind :
         {int(ContentKind::Image), int(ContentKind::Script), int(ContentKind::Font), int(ContentKind::Other)}) {
        c = {};
        c.kind = ContentKind(kind);
        rows.emplace_back(ContentKindId(ContentKind(kind)), c, [kind](const Written &w) { return w.kind == kind; });
    }
    c = {};
    c.status = 404;
    rows.emplace_back("status", c, [](const Written &w) { return w.status == 404; });
    c = {};
    c.partition = QStringLiteral("PART");
    rows.emplace_back("partition", c, [](const Written &w) { return w.partitioned; });
    c = {};
    c.keys = {"#3", "#17", "https://nowhere.example/"}; // "#i": the key entry i was written under
    rows.emplace_back("keys", c, [](const Written &w) { return w.ageDays == 3 || w.ageDays == 17; });
    c = {};
    c.notBefore = StoreTimeFromUnix(Now - 25 * Day);
    c.kind = ContentKind::Page;
    c.status = 200;
    c.largerThan = 300;
    rows.emplace_back("combined", c, [](const Written &w) {
        return w.ageDays < 25 && w.kind == int(ContentKind::Page) && w.status == 200 && w.size > 300;
    });

    for (const char *kind : {"wininet", "firefox", "chromium-simple"})
        for (const auto &[name, criteria, expect] : rows)
            QTest::addRow("%s %s", kind, name) << QString::fromLatin1(kind) << criteria << expect;
}

void TestCriteria::eachCriterionOnEachStore()
{
    QFETCH(QString, kind);
    QFETCH(EntryCriteria, criteria);
    QFETCH(Expect, expect);

    QTemporaryDir dir;
    const bool browser = kind != QLatin1String("wininet");
    std::vector<StoreWriterEntry> plain;
    std::vector<BrowserWriterEntry> fetched;
    int expected = 0;
    for (int i = 0; i < Count; ++i) {
        const Written w = written(i, browser);
        expected += expect(w) ? 1 : 0;
        const std::string body(std::size_t(w.size), 'x');
        const std::int64_t used = Now - w.ageDays * Day - 3600;
        if (!browser) {
            StoreWriterEntry e;
            e.url = w.url;
            e.content = body;
            e.lastAccess = used;
            e.headerInfo = "HTTP/1.1 " + std::to_string(w.status) + " X\r\nContent-Type: " + Types[w.kind] + "\r\n\r\n";
            plain.push_back(e);
        } else {
            BrowserWriterEntry e;
            e.url = w.url;
            e.body = body;
            e.contentType = Types[w.kind];
            e.status = w.status;
            e.fetched = used;
            e.partition = w.partitioned ? "https://part.example" : "";
            fetched.push_back(e);
        }
    }
    std::string folder = dir.path().toStdString();
    std::vector<std::string> keys;
    if (kind == QLatin1String("wininet")) {
        StoreWriterOptions options;
        options.now = Now;
        WriteTestStore(dir.path(), plain, options);
        for (const StoreWriterEntry &e : plain)
            keys.push_back(e.url);
    } else {
        BrowserWriterOptions options;
        options.now = Now;
        const BrowserWriteResult result = kind == QLatin1String("firefox")
            ? WriteFirefoxStore(dir.path().toStdString(), fetched, options)
            : WriteChromiumSimpleStore(dir.path().toStdString(), fetched, options);
        QVERIFY2(result.ok, result.error.c_str());
        folder = result.folder;
        for (const BrowserWrittenEntry &e : result.entries)
            keys.push_back(e.key);
    }
    std::set<std::string> named;
    for (const std::string &key : criteria.keys)
        named.insert(key.starts_with('#') ? keys.at(std::stoul(key.substr(1))) : key);
    criteria.keys = named;
    const CacheList catalogue = EnumerateCatalogue(OpenUrlCacheStore(OpenStore(folder)));
    QCOMPARE(int(catalogue.size()), Count);
    QCOMPARE(int(FilterByCriteria(catalogue, criteria).size()), expected);
}

void TestCriteria::contentKinds_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("kind");
    QTest::newRow("html with charset") << "Text/HTML; charset=gbk"
                                       << "a.bin"
                                       << "page";
    QTest::newRow("module script") << "text/javascript"
                                   << "a"
                                   << "script";
    QTest::newRow("legacy font type") << "application/font-woff"
                                      << "a"
                                      << "font";
    QTest::newRow("audio") << "audio/ogg"
                           << "a"
                           << "media";
    QTest::newRow("type wins over name") << "image/webp"
                                         << "a.css"
                                         << "image";
    QTest::newRow("no type: by name") << ""
                                      << "/c/A.CSS"
                                      << "style";
    QTest::newRow("octet-stream: by name") << "application/octet-stream"
                                           << "x.woff2"
                                           << "font";
    QTest::newRow("nothing known") << ""
                                   << "noextension"
                                   << "other";
}

void TestCriteria::contentKinds()
{
    QFETCH(QString, type);
    QFETCH(QString, file);
    QFETCH(QString, kind);
    QCOMPARE(QString::fromLatin1(ContentKindId(ContentKindOf(type.toStdString(), file.toStdString()))), kind);
}

void TestCriteria::parsing_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("value"); // -1: refused
    QTest::newRow("days, plain") << "duration"
                                 << "30" << qint64(30 * Day);
    QTest::newRow("weeks") << "duration"
                           << "2w" << qint64(14 * Day);
    QTest::newRow("hours, fraction") << "duration"
                                     << "1.5h" << qint64(5400);
    QTest::newRow("unknown unit") << "duration"
                                  << "3y" << qint64(-1);
    QTest::newRow("negative") << "duration"
                              << "-3d" << qint64(-1);
    QTest::newRow("bytes") << "size"
                           << "500" << qint64(500);
    QTest::newRow("KB") << "size"
                        << "20KB" << qint64(20 * 1024);
    QTest::newRow("M, fraction") << "size"
                                 << "1.5m" << qint64(1536 * 1024);
    QTest::newRow("size junk") << "size"
                               << "12 apples" << qint64(-1);
    QTest::newRow("UTC time") << "date"
                              << "2026-05-28T10:00:00Z" << qint64(1779962400);
    QTest::newRow("bad date") << "date"
                              << "2026-13-01" << qint64(-1);
}

void TestCriteria::parsing()
{
    QFETCH(QString, what);
    QFETCH(QString, text);
    QFETCH(qint64, value);
    const std::string s = text.toStdString();
    std::optional<qint64> got;
    if (what == QLatin1String("duration"))
        got = ParseDuration(s);
    else if (what == QLatin1String("size"))
        got = ParseSize(s) ? std::optional<qint64>(qint64(*ParseSize(s))) : std::nullopt;
    else if (const auto date = ParseDate(s))
        got = UnixFromStoreTime(*date);
    QCOMPARE(got.value_or(-1), value);
}

QTEST_GUILESS_MAIN(TestCriteria)
#include "tst_criteria.moc"
