// The fields of an entry: captions and names, the values as text and as numbers from blocks
// the enumeration filled, local times across daylight saving changes, and sorting by any field.

#include "catalogue/catalogue.h"
#include "catalogue/documentlistmodel.h"
#include "catalogue/entryfields.h"
#include "catalogue/viewlist.h"
#include "platform/urlcachestore.h"
#include "stores/storeregistry.h"
#include "tools/writers/indexdatwriter.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <ctime>

namespace {

// A memory store that says it is of another kind, as a browser's store would.
class KindStore : public MemoryStore {
public:
    explicit KindStore(StoreKind kind, std::string folder = {}) : MemoryStore(std::move(folder)), m_kind(kind) {}
    StoreKind kind() const override { return m_kind; }

private:
    StoreKind m_kind;
};

StoreTime utc(int year, int month, int day, int hour, int minute, int second)
{
    const QDateTime t(QDate(year, month, day), QTime(hour, minute, second), Qt::UTC);
    return StoreTimeFromUnix(t.toSecsSinceEpoch());
}

CacheList enumerate(std::shared_ptr<CacheStore> store)
{
    SetUrlCacheStore(store);
    CacheList list = EnumerateCatalogue();
    SetUrlCacheStore(nullptr);
    return list;
}

void setTimeZone(const char *zone)
{
    qputenv("TZ", zone);
    ::tzset();
}

// A Firefox-like entry whose body is a gzip range of a container file, with every field set.
std::shared_ptr<KindStore> browserStore()
{
    auto store = std::make_shared<KindStore>(StoreKindFromId("firefox"), "/profile/cache2");
    StoreEntry &e = store->add("https://example.com/app/main.js?v=3", "/bodies/ab/12/main.js");
    store->setText(e.key, "O^partitionKey=%28https%2Cexample.org%29,:https://example.com/app/main.js?v=3");
    store->setText(e.partition, "https://example.org");
    store->setText(e.container, "/profile/cache2/entries/ABCDEF");
    store->setText(e.contentType, "application/javascript");
    store->setText(e.contentEncoding, "gzip");
    store->setText(e.requestMethod, "GET");
    store->setText(e.headers, "HTTP/1.1 200 OK\r\nContent-Type: application/javascript\r\nContent-Encoding: gzip\r\n");
    StoreEntry &f = store->listing().entries.back();
    f.body = BodyPlace::Range;
    f.bodyOffset = 0;
    f.size = 1234;
    f.lastAccess = utc(2024, 1, 2, 3, 4, 5);
    f.lastModified = utc(2023, 12, 31, 23, 59, 59);
    f.expires = utc(2024, 6, 30, 12, 0, 0);
    f.lastSync = utc(2024, 1, 2, 3, 4, 0);
    f.created = utc(2023, 11, 1, 8, 0, 0);
    f.hitCount = 17;
    f.httpStatus = 200;
    f.flags = EntryTruncated | EntryAnonymous;
    return store;
}

} // namespace

class TestEntryFields : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void namesAndCaptions();
    void listColumnsMatchTheList();
    void browserValues_data();
    void browserValues();
    void numbers();
    void absentValuesAreEmpty();
    void winInetValuesFromTheHead();
    void decodedSizeOnlyWhereKnown_data();
    void decodedSizeOnlyWhereKnown();
    void textsAreCleanUtf8();
    void typeNames();
    void localTimeAcrossDaylightSaving_data();
    void localTimeAcrossDaylightSaving();
    void utcTime();
    void sortByField();
    void sortUnknownFirst();
    void detailsText();
    void derivedExpiryDetails_data();
    void derivedExpiryDetails();

private:
    QByteArray m_savedTz;
    bool m_hadTz = false;
};

void TestEntryFields::initTestCase()
{
    m_hadTz = qEnvironmentVariableIsSet("TZ");
    m_savedTz = qgetenv("TZ");
    setTimeZone("Asia/Shanghai"); // UTC+8 without daylight saving
}

void TestEntryFields::cleanupTestCase()
{
    if (m_hadTz)
        qputenv("TZ", m_savedTz);
    else
        qunsetenv("TZ");
    ::tzset();
}

void TestEntryFields::namesAndCaptions()
{
    QSet<QString> names, captions;
    const QRegularExpression machine(QStringLiteral("^[a-z][a-z_]*$"));
    for (int f = 0; f < EntryFieldCount; ++f) {
        const auto field = EntryField(f);
        const QString name = QString::fromLatin1(EntryFieldName(field));
        QVERIFY2(machine.match(name).hasMatch(), qPrintable(name));
        QVERIFY2(!EntryFieldCaption(field).isEmpty(), qPrintable(name));
        names.insert(name);
        captions.insert(EntryFieldCaption(field));
        QCOMPARE(EntryFieldFromName(EntryFieldName(field)), std::optional<EntryField>(field));
    }
    QCOMPARE(names.size(), EntryFieldCount);
    QCOMPARE(captions.size(), EntryFieldCount);
    QVERIFY(!EntryFieldFromName("nonsense"));
    QVERIFY(!EntryFieldFromName(""));
    QCOMPARE(EntryFieldName(EntryField::Count), "");
}

void TestEntryFields::listColumnsMatchTheList()
{
    // The first five fields are the list's columns, in its order and with its captions.
    QCOMPARE(int(DocumentListModel::ColumnCount), int(EntryField::Location) + 1);
    for (int c = 0; c < DocumentListModel::ColumnCount; ++c)
        QCOMPARE(EntryFieldCaption(EntryField(c)), DocumentListModel::baseCaption(c));
    QCOMPARE(int(EntryField::FileName), int(SortByFileName));
    QCOMPARE(int(EntryField::Location), int(SortByLocation));
    const QStringList extra = {"最后访问", "最后修改", "过期时间", "最后同步", "命中次数",
                               "内容类型", "内容编码", "状态",     "分区",     "来源"};
    QCOMPARE(ListColumnFieldCount, 15);
    for (int i = 0; i < extra.size(); ++i)
        QCOMPARE(EntryFieldCaption(EntryField(5 + i)), extra[i]);
}

void TestEntryFields::browserValues_data()
{
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("text");
    QTest::newRow("file name") << int(EntryField::FileName) << "main.js";
    QTest::newRow("size") << int(EntryField::Size) << "1234";
    QTest::newRow("url") << int(EntryField::Url) << "https://example.com/app/main.js?v=3";
    QTest::newRow("location") << int(EntryField::Location) << "/bodies/ab/12/main.js";
    // Shanghai is UTC+8 all year.
    QTest::newRow("last access") << int(EntryField::LastAccess) << "2024-01-02 11:04:05";
    QTest::newRow("last modified, across new year") << int(EntryField::LastModified) << "2024-01-01 07:59:59";
    QTest::newRow("expires") << int(EntryField::Expires) << "2024-06-30 20:00:00";
    QTest::newRow("last sync") << int(EntryField::LastSync) << "2024-01-02 11:04:00";
    QTest::newRow("hit count") << int(EntryField::HitCount) << "17";
    QTest::newRow("content type") << int(EntryField::ContentType) << "application/javascript";
    QTest::newRow("content encoding") << int(EntryField::ContentEncoding) << "gzip";
    QTest::newRow("status") << int(EntryField::HttpStatus) << "200";
    QTest::newRow("partition") << int(EntryField::Partition) << "https://example.org";
    QTest::newRow("kind") << int(EntryField::CacheKind) << "Firefox";
    QTest::newRow("key") << int(EntryField::Key)
                         << "O^partitionKey=%28https%2Cexample.org%29,:https://example.com/app/main.js?v=3";
    QTest::newRow("store folder") << int(EntryField::StoreFolder) << "/profile/cache2";
    QTest::newRow("container") << int(EntryField::Container) << "/profile/cache2/entries/ABCDEF";
    QTest::newRow("body offset") << int(EntryField::BodyOffset) << "0";
    QTest::newRow("decoded size unknown while coded") << int(EntryField::DecodedSize) << "";
    QTest::newRow("created") << int(EntryField::Created) << "2023-11-01 16:00:00";
    QTest::newRow("method") << int(EntryField::RequestMethod) << "GET";
    QTest::newRow("flags") << int(EntryField::Flags) << "truncated,anonymous";
    QTest::newRow("head") << int(EntryField::ResponseHead)
                          << "HTTP/1.1 200 OK\r\nContent-Type: application/javascript\r\nContent-Encoding: gzip\r\n";
}

void TestEntryFields::browserValues()
{
    QFETCH(int, field);
    QFETCH(QString, text);
    const CacheList list = enumerate(browserStore());
    QCOMPARE(list.size(), std::size_t(1));
    EntryFields fields(QStringLiteral("/profile/cache2"));
    QCOMPARE(fields.text(RowOf(list[0]), EntryField(field)), text);
}

void TestEntryFields::numbers()
{
    const CacheList list = enumerate(browserStore());
    EntryFields fields;
    const EntryRow row = RowOf(list[0]);
    QCOMPARE(fields.number(row, EntryField::Size), std::optional<std::uint64_t>(1234));
    QCOMPARE(fields.number(row, EntryField::HitCount), std::optional<std::uint64_t>(17));
    QCOMPARE(fields.number(row, EntryField::HttpStatus), std::optional<std::uint64_t>(200));
    QCOMPARE(fields.number(row, EntryField::LastAccess), std::optional<std::uint64_t>(utc(2024, 1, 2, 3, 4, 5)));
    QCOMPARE(fields.number(row, EntryField::Created), std::optional<std::uint64_t>(utc(2023, 11, 1, 8, 0, 0)));
    QCOMPARE(fields.number(row, EntryField::BodyOffset), std::optional<std::uint64_t>(0));
    QVERIFY(!fields.number(row, EntryField::Url));
    QVERIFY(!fields.number(row, EntryField::DecodedSize));
    QCOMPARE(fields.storeKind(row), StoreKindFromId("firefox"));
    for (int f = 0; f < EntryFieldCount; ++f)
        if (EntryFieldType(EntryField(f)) == FieldType::Text)
            QVERIFY2(!fields.number(row, EntryField(f)), EntryFieldName(EntryField(f)));
}

void TestEntryFields::absentValuesAreEmpty()
{
    auto store = std::make_shared<MemoryStore>();
    store->add("http://example.com/a.html", "/nowhere/a.html");
    const CacheList list = enumerate(store);
    QCOMPARE(list.size(), std::size_t(1));
    EntryFields fields;
    const EntryRow row = RowOf(list[0]);
    for (const EntryField f :
         {EntryField::LastAccess, EntryField::LastModified, EntryField::Expires, EntryField::LastSync,
          EntryField::Created, EntryField::HttpStatus, EntryField::ContentType, EntryField::ContentEncoding,
          EntryField::Partition, EntryField::Container, EntryField::BodyOffset, EntryField::RequestMethod,
          EntryField::Flags, EntryField::ResponseHead, EntryField::StoreFolder}) {
        QVERIFY2(fields.text(row, f).isEmpty(), EntryFieldName(f));
        if (EntryFieldType(f) != FieldType::Text)
            QVERIFY2(!fields.number(row, f), EntryFieldName(f));
    }
    // A count of 0 and a size of 0 are known values.
    QCOMPARE(fields.text(row, EntryField::HitCount), QStringLiteral("0"));
    QCOMPARE(fields.text(row, EntryField::Size), QStringLiteral("0"));
    // An entry with nothing beyond WinInet's own header is of that kind, whatever held it.
    QCOMPARE(fields.text(row, EntryField::CacheKind), QStringLiteral("IE"));

    // A row without a block (a bare header) reads as empty, not as a crash.
    const EntryRow bare{nullptr, nullptr, nullptr};
    QVERIFY(fields.text(bare, EntryField::Url).isEmpty());
    QVERIFY(!fields.number(bare, EntryField::Size));
}

void TestEntryFields::winInetValuesFromTheHead()
{
    QTemporaryDir dir;
    StoreWriterEntry page;
    page.url = "http://www.example.com/news/index.html";
    page.content = "<html>news</html>";
    page.headerInfo =
        "HTTP/1.1 404 Not Found\r\nContent-Type: text/html; charset=GBK\r\nContent-Encoding: gzip\r\n\r\n";
    page.useCount = 9;
    page.lastAccess = 1700000000;
    StoreWriterOptions options;
    options.now = 1690000000;
    const StoreWriteResult written = WriteUrlCacheStore(dir.path().toStdString(), {page}, options);
    QVERIFY2(written.ok, written.error.c_str());

    auto store = OpenStore(dir.path().toStdString());
    QCOMPARE(store->kind(), StoreKindFromId("wininet"));
    const CacheList list = enumerate(store);
    QCOMPARE(list.size(), std::size_t(1));
    EntryFields fields(dir.path());
    const EntryRow row = RowOf(list[0]);
    QCOMPARE(fields.text(row, EntryField::Url), QString::fromStdString(page.url));
    QCOMPARE(fields.text(row, EntryField::ContentType), QStringLiteral("text/html"));
    QCOMPARE(fields.text(row, EntryField::ContentEncoding), QStringLiteral("gzip"));
    QCOMPARE(fields.text(row, EntryField::HttpStatus), QStringLiteral("404"));
    QCOMPARE(fields.text(row, EntryField::HitCount), QStringLiteral("9"));
    QCOMPARE(fields.text(row, EntryField::CacheKind), QStringLiteral("IE"));
    QCOMPARE(fields.text(row, EntryField::Key), QString::fromStdString(page.url));
    QCOMPARE(fields.text(row, EntryField::LastAccess), QStringLiteral("2023-11-15 06:13:20"));
    QCOMPARE(fields.text(row, EntryField::Location), QString::fromStdString(written.entries[0].localFile));
    QCOMPARE(fields.text(row, EntryField::FileName),
             QString::fromStdString(written.entries[0].localFile).section(QLatin1Char('/'), -1));
    QCOMPARE(fields.text(row, EntryField::StoreFolder), dir.path());
    // The local file is the document itself: decoded already, whatever the head says.
    QCOMPARE(fields.number(row, EntryField::DecodedSize), std::optional<std::uint64_t>(page.content.size()));
    QVERIFY(fields.text(row, EntryField::Container).isEmpty());
    QVERIFY(fields.text(row, EntryField::ResponseHead).startsWith(QStringLiteral("HTTP/1.1 404 Not Found\r\n")));
}

void TestEntryFields::decodedSizeOnlyWhereKnown_data()
{
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<int>("flags");
    QTest::addColumn<bool>("known");
    QTest::newRow("plain") << "" << 0 << true;
    QTest::newRow("identity") << "identity" << 0 << true;
    QTest::newRow("gzip") << "gzip" << 0 << false;
    QTest::newRow("gzip, br") << "gzip, br" << 0 << false;
    QTest::newRow("undecodable") << "" << int(EntryUndecodable) << false;
}

void TestEntryFields::decodedSizeOnlyWhereKnown()
{
    QFETCH(QString, encoding);
    QFETCH(int, flags);
    QFETCH(bool, known);
    auto store = std::make_shared<KindStore>(StoreKindFromId("chromium-simple"));
    StoreEntry &e = store->add("https://example.com/a.css", "/bodies/a.css");
    store->setText(e.container, "/cache/0123_0");
    store->setText(e.contentEncoding, encoding.toStdString());
    StoreEntry &f = store->listing().entries.back();
    f.body = BodyPlace::Range;
    f.size = 500;
    f.bodyOffset = 24;
    f.flags = std::uint16_t(flags);
    const CacheList list = enumerate(store);
    EntryFields fields;
    const auto decoded = fields.number(RowOf(list[0]), EntryField::DecodedSize);
    QCOMPARE(decoded.has_value(), known);
    if (known)
        QCOMPARE(*decoded, std::uint64_t(500));
    QCOMPARE(fields.text(RowOf(list[0]), EntryField::BodyOffset), QStringLiteral("24"));
    QCOMPARE(fields.text(RowOf(list[0]), EntryField::CacheKind), QStringLiteral("Chromium（简单缓存）"));
    // The simple cache counts no uses: the count is unknown, not 0.
    QVERIFY(!fields.number(RowOf(list[0]), EntryField::HitCount));
    QCOMPARE(fields.text(RowOf(list[0]), EntryField::HitCount), QString());
}

void TestEntryFields::textsAreCleanUtf8()
{
    auto store = std::make_shared<MemoryStore>();
    // GBK bytes of an older store, a control character and a NUL-free escape sequence.
    const std::string gbkUrl = "http://example.com/\xC4\xE3\xBA\xC3.html";
    store->add(gbkUrl,
               "/x/a\x01"
               "b.html");
    store->add("http://example.com/\xE4\xBD\xA0\xE5\xA5\xBD.html", "/x/ok.html");
    const CacheList list = enumerate(store);
    QCOMPARE(list.size(), std::size_t(2));
    EntryFields fields;
    std::string out;
    fields.appendText(out, RowOf(list[0]), EntryField::Url);
    QVERIFY(QByteArrayView(out.data(), qsizetype(out.size())).isValidUtf8());
    QCOMPARE(QString::fromStdString(out), QString::fromUtf8(gbkUrl.data())); // as the list shows it
    QCOMPARE(fields.text(RowOf(list[0]), EntryField::FileName), QStringLiteral("a\uFFFDb.html"));
    QCOMPARE(fields.text(RowOf(list[1]), EntryField::Url), QStringLiteral("http://example.com/你好.html"));
}

void TestEntryFields::typeNames()
{
    auto store = std::make_shared<KindStore>(StoreKindFromId("firefox"));
    store->add("http://example.com/a.html", "/x/a.html");
    StoreEntry &e = store->add("http://example.com/b", "/x/b.zzqq");
    store->setText(e.contentType, "image/png");
    const CacheList list = enumerate(store);
    QCOMPARE(list.size(), std::size_t(2));
    EntryFields fields;
    // No file is opened: the name comes from the extension, else from the stored type.
    QVERIFY2(fields.text(RowOf(list[0]), EntryField::TypeName).contains(QLatin1String("HTML")),
             qPrintable(fields.text(RowOf(list[0]), EntryField::TypeName)));
    QVERIFY2(fields.text(RowOf(list[1]), EntryField::TypeName).contains(QLatin1String("PNG")),
             qPrintable(fields.text(RowOf(list[1]), EntryField::TypeName)));
    // A list row whose type the shell looked up shows that name.
    Tcachedata record = MakeViewRecord(list[0]);
    record.strTypeName = QStringLiteral("网页文件");
    record.bShellInfoPending = 0;
    QCOMPARE(fields.text(RowOf(record), EntryField::TypeName), QStringLiteral("网页文件"));
    record.bShellInfoPending = 1;
    QVERIFY(fields.text(RowOf(record), EntryField::TypeName).contains(QLatin1String("HTML")));
}

void TestEntryFields::localTimeAcrossDaylightSaving_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::newRow("Berlin") << QByteArray("Europe/Berlin");
    QTest::newRow("New York") << QByteArray("America/New_York");
    QTest::newRow("Lord Howe, half-hour change") << QByteArray("Australia/Lord_Howe");
    QTest::newRow("Kathmandu, +5:45") << QByteArray("Asia/Kathmandu");
}

void TestEntryFields::localTimeAcrossDaylightSaving()
{
    QFETCH(QByteArray, zone);
    setTimeZone(zone.constData());
    // Every 7 minutes and 13 seconds over two years: each change of offset falls between two
    // samples, and one reader keeps its offsets between them.
    EntryFields fields;
    INTERNET_CACHE_ENTRY_INFOA header{};
    header.dwStructSize = sizeof header;
    const std::int64_t from = QDateTime(QDate(2021, 1, 1), QTime(0, 0), Qt::UTC).toSecsSinceEpoch();
    const std::int64_t to = QDateTime(QDate(2023, 1, 1), QTime(0, 0), Qt::UTC).toSecsSinceEpoch();
    int compared = 0;
    for (std::int64_t t = from; t < to; t += 433) {
        const StoreTime time = StoreTimeFromUnix(t);
        header.LastAccessTime = FILETIME{DWORD(time & 0xFFFFFFFFu), DWORD(time >> 32)};
        const QString expected = QDateTime::fromSecsSinceEpoch(t).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        const QString shown = fields.text(EntryRow{&header, &header, nullptr}, EntryField::LastAccess);
        if (shown != expected)
            QFAIL(qPrintable(QStringLiteral("%1: %2 shown, %3 expected").arg(t).arg(shown, expected)));
        std::string free;
        AppendLocalTime(free, time);
        QCOMPARE(QString::fromStdString(free), expected);
        ++compared;
    }
    QVERIFY(compared > 100000);
    setTimeZone("Asia/Shanghai");
}

void TestEntryFields::utcTime()
{
    std::string out;
    AppendUtcTime(out, utc(2024, 2, 29, 23, 59, 58));
    QCOMPARE(QString::fromStdString(out), QStringLiteral("2024-02-29T23:59:58Z"));
    out.clear();
    AppendUtcTime(out, utc(1969, 7, 20, 20, 17, 40)); // before the Unix epoch
    QCOMPARE(QString::fromStdString(out), QStringLiteral("1969-07-20T20:17:40Z"));
    out.clear();
    AppendUtcTime(out, 1); // the first tick of 1601
    QCOMPARE(QString::fromStdString(out), QStringLiteral("1601-01-01T00:00:00Z"));
    out.clear();
    AppendUtcTime(out, 0);
    QVERIFY(out.empty());
}

void TestEntryFields::sortByField()
{
    auto store = std::make_shared<KindStore>(StoreKindFromId("firefox"));
    const int counts[] = {10, 2, 33, 2};
    const char *types[] = {"text/css", "Image/png", "application/json", "image/gif"};
    for (int i = 0; i < 4; ++i) {
        StoreEntry &e =
            store->add("http://example.com/" + std::to_string(i) + ".html", "/x/" + std::to_string(i) + ".html");
        store->setText(e.contentType, types[i]);
        store->listing().entries.back().hitCount = std::uint32_t(counts[i]);
        store->listing().entries.back().lastSync = utc(2020, 1, 1 + (i * 7) % 5, 0, 0, 0);
    }
    const CacheList list = enumerate(store);
    ViewList view;
    for (const auto &e : list)
        view.push_back(MakeViewRecord(e));
    EntryFields fields;
    auto order = [&](EntryField field) {
        QStringList urls;
        for (const Tcachedata &r : view)
            urls << fields.text(RowOf(r), field);
        return urls;
    };

    // Counts as numbers, not as texts ("10" before "2").
    SortViewByField(view, EntryField::HitCount, +1, fields);
    QCOMPARE(order(EntryField::HitCount), QStringList({"2", "2", "10", "33"}));
    SortViewByField(view, EntryField::HitCount, -1, fields);
    QCOMPARE(order(EntryField::HitCount), QStringList({"33", "10", "2", "2"}));
    // Texts with the list's rule: letter case ignored.
    SortViewByField(view, EntryField::ContentType, +1, fields);
    QCOMPARE(order(EntryField::ContentType), QStringList({"application/json", "image/gif", "Image/png", "text/css"}));
    // Times as times.
    SortViewByField(view, EntryField::LastSync, +1, fields);
    QCOMPARE(order(EntryField::LastSync),
             QStringList({"2020-01-01 08:00:00", "2020-01-02 08:00:00", "2020-01-03 08:00:00", "2020-01-05 08:00:00"}));
    for (int i = 0; i + 1 < int(view.size()); ++i)
        QVERIFY(fields.compare(RowOf(view[i]), RowOf(view[i + 1]), EntryField::LastSync) < 0);
}

void TestEntryFields::sortUnknownFirst()
{
    auto store = std::make_shared<KindStore>(StoreKindFromId("firefox"));
    for (int i = 0; i < 3; ++i) {
        store->add("http://example.com/" + std::to_string(i) + ".html", "/x/" + std::to_string(i) + ".html");
        store->listing().entries.back().expires = i == 1 ? 0 : utc(2030 - i, 1, 1, 0, 0, 0);
        store->listing().entries.back().httpStatus = std::uint16_t(i == 2 ? 0 : 200 + i);
    }
    const CacheList list = enumerate(store);
    ViewList view;
    for (const auto &e : list)
        view.push_back(MakeViewRecord(e));
    EntryFields fields;
    SortViewByField(view, EntryField::Expires, +1, fields);
    QCOMPARE(QString::fromUtf8(SourceUrl(view[0])), QStringLiteral("http://example.com/1.html"));
    QCOMPARE(QString::fromUtf8(SourceUrl(view[1])), QStringLiteral("http://example.com/2.html"));
    SortViewByField(view, EntryField::Expires, -1, fields);
    QCOMPARE(QString::fromUtf8(SourceUrl(view[2])), QStringLiteral("http://example.com/1.html"));
    SortViewByField(view, EntryField::HttpStatus, +1, fields);
    QCOMPARE(QString::fromUtf8(SourceUrl(view[0])), QStringLiteral("http://example.com/2.html"));
    QCOMPARE(fields.compare(RowOf(view[0]), RowOf(view[1]), EntryField::HttpStatus), -1);
    QCOMPARE(fields.compare(RowOf(view[1]), RowOf(view[0]), EntryField::HttpStatus), 1);
}

void TestEntryFields::detailsText()
{
    // The details show every field, each once.
    QSet<int> shown;
    for (const EntryField f : DetailsFields())
        shown.insert(int(f));
    QCOMPARE(shown.size(), EntryFieldCount);
    QCOMPARE(DetailsFields().size(), std::size_t(EntryFieldCount));

    const CacheList list = enumerate(browserStore());
    EntryFields fields(QStringLiteral("/profile/cache2"));
    const QString text = EntryDetailsText(EntryDetails(RowOf(list[0]), fields));
    const QStringList lines = text.split(QLatin1Char('\n'));
    QCOMPARE(lines.first(), QStringLiteral("网址: https://example.com/app/main.js?v=3"));
    QVERIFY(lines.contains(QStringLiteral("分区: https://example.org")));
    QVERIFY(lines.contains(QStringLiteral("来源: Firefox")));
    QVERIFY(lines.contains(QStringLiteral("最后访问: 2024-01-02 11:04:05")));
    QVERIFY(lines.contains(QStringLiteral("请求方法: GET")));
    // A value the store does not know gets no line.
    QVERIFY(!text.contains(QStringLiteral("解码大小")));
    // The head last, on lines of its own.
    QVERIFY(text.endsWith(QStringLiteral("响应头:\nHTTP/1.1 200 OK\nContent-Type: application/javascript\n"
                                         "Content-Encoding: gzip\n")));
    QVERIFY(!text.contains(QLatin1Char('\r')));
}

void TestEntryFields::derivedExpiryDetails_data()
{
    QTest::addColumn<int>("flags");
    QTest::addColumn<QString>("line");
    QTest::newRow("stored") << 0 << "过期时间: 2024-06-30 20:00:00";
    QTest::newRow("derived") << int(EntryExpiryDerived) << "过期时间: 2024-06-30 20:00:00（由响应头推算）";
    QTest::newRow("stale") << int(EntryExpiryDerived | EntryStaleOnArrival)
                           << "过期时间: 已过期，需重新验证（由响应头推算）";
    QTest::newRow("never") << int(EntryExpiryDerived | EntryNeverStale) << "过期时间: 永不过期（由响应头推算）";
}

void TestEntryFields::derivedExpiryDetails()
{
    QFETCH(int, flags);
    QFETCH(QString, line);
    auto store = browserStore();
    StoreEntry &e = store->listing().entries.back();
    e.flags = std::uint16_t(flags);
    if (flags & (EntryStaleOnArrival | EntryNeverStale))
        e.expires = 0;
    const CacheList list = enumerate(std::move(store));
    EntryFields fields;
    const QStringList lines = EntryDetailsText(EntryDetails(RowOf(list[0]), fields)).split(QLatin1Char('\n'));
    QVERIFY2(lines.contains(line), qPrintable(lines.join(QLatin1Char('|'))));
}

QTEST_GUILESS_MAIN(TestEntryFields)
#include "tst_entryfields.moc"
