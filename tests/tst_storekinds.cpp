// What every kind of cache store must do, one row per kind and real cache: the cache lists as
// its expected listing says, a damaged entry is left out and counted while the rest is listed,
// and names taken from the cache never reach outside the folders the program writes to.

#include "stores/bodies.h"
#include "stores/chromiumblockfile.h"
#include "stores/chromiumsimple.h"
#include "stores/storeregistry.h"
#include "support.h"
#include "tools/writers/chromiumwriter.h"
#include "tools/writers/firefoxwriter.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

namespace {

// The kinds the table covers, as the store names them.
enum class Kind { WinInet, Firefox, ChromiumSimple, ChromiumBlockfile };
const char *IdOf(Kind kind)
{
    static const char *const ids[] = {"wininet", "firefox", "chromium-simple", "chromium-blockfile"};
    return ids[int(kind)];
}

std::vector<std::string> splitTabs(const std::string &line)
{
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        const auto tab = line.find('\t', start);
        out.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos)
            return out;
        start = tab + 1;
    }
}

// The rows of an expected.tsv (or any tab-separated file with a header line) by column name.
std::vector<std::map<std::string, std::string>> readTable(const std::string &path)
{
    std::ifstream in(path);
    std::string line;
    std::vector<std::string> columns;
    std::vector<std::map<std::string, std::string>> rows;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        const auto cells = splitTabs(line);
        if (columns.empty()) {
            columns = cells;
            continue;
        }
        std::map<std::string, std::string> row;
        for (std::size_t i = 0; i < columns.size() && i < cells.size(); ++i)
            row[columns[i]] = cells[i];
        rows.push_back(std::move(row));
    }
    return rows;
}

// "2016-07-17T18:31:15.013688Z" as FILETIME ticks; 0 for "-".
StoreTime isoTime(const std::string &text)
{
    if (text == "-" || text.size() < 20)
        return 0;
    const QDate date(std::stoi(text.substr(0, 4)), std::stoi(text.substr(5, 2)), std::stoi(text.substr(8, 2)));
    std::int64_t seconds = QDate(1970, 1, 1).daysTo(date) * 86400 + std::stoi(text.substr(11, 2)) * 3600
        + std::stoi(text.substr(14, 2)) * 60 + std::stoi(text.substr(17, 2));
    std::int64_t micros = 0;
    if (text[19] == '.') {
        std::string fraction = text.substr(20, text.size() - 21);
        fraction.resize(6, '0');
        micros = std::stoll(fraction);
    }
    return StoreTimeFromUnixMicros(seconds * 1000000 + micros);
}

StoreTime isoTime(const QString &text)
{
    return isoTime(text.toStdString());
}

bool has(const std::string &list, const std::string &item)
{
    return ("," + list + ",").find("," + item + ",") != std::string::npos;
}

std::string text(const StoreListing &listing, StoreText t)
{
    return std::string(listing.text(t));
}

const StoreEntry *findKey(const StoreListing &listing, std::string_view key)
{
    for (const StoreEntry &e : listing.entries)
        if (listing.text(e.key) == key)
            return &e;
    return nullptr;
}

// An entry's body as the program shows it; `decoded` whether a content coding was undone,
// `ok` whether the whole body could be read.
std::string bodyOf(const StoreListing &listing, const StoreEntry &e, bool *decoded = nullptr, bool *ok = nullptr)
{
    std::string out;
    const StoreResult r = ReadDecodedBody(
        BodyRefOf(listing, e),
        [&](std::string_view piece) {
            out.append(piece);
            return true;
        },
        decoded);
    if (ok)
        *ok = r.ok();
    return out;
}

bool cutFile(const std::string &path, std::uintmax_t size)
{
    std::error_code ec;
    std::filesystem::resize_file(path, size, ec);
    return !ec;
}

// A blockfile cache's first entry alone in its hash slot: its record's offset in data_1.
std::size_t loneBlockfileEntry(const QByteArray &index, const QByteArray &data1)
{
    auto le32 = [](const QByteArray &bytes, std::size_t at) {
        return at + 4 <= std::size_t(bytes.size()) ? qFromLittleEndian<quint32>(bytes.constData() + at) : 0u;
    };
    for (std::uint32_t slot = 0; slot < 0x10000; ++slot) {
        const std::uint32_t address = le32(index, 368 + slot * 4);
        if (!address || ((address >> 16) & 0xFF) != 1)
            continue;
        const std::size_t offset = 8192 + std::size_t(address & 0xFFFF) * 256;
        if (le32(data1, offset + 4) == 0 && le32(data1, offset + 20) == 0)
            return offset;
    }
    return 0;
}

// The same document as an index.dat writer's record.
StoreWriterEntry record(const BrowserWriterEntry &document)
{
    StoreWriterEntry e;
    e.url = document.url;
    e.extension = "htm";
    e.content = document.body;
    return e;
}

} // namespace

class TestStoreKinds : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void listsItsFixture_data();
    void listsItsFixture();
    void damagedEntryLeftOutAndCounted_data();
    void damagedEntryLeftOutAndCounted();
    void hostileNamesStayInside_data();
    void hostileNamesStayInside();

private:
    // Each kind's expected listing is written by a reader of its own, in its own form.
    void compareIndexDat(CacheStore &store, const QString &folder);
    void compareFirefox(CacheStore &store, const QString &folder);
    void compareChromium(CacheStore &store, const QString &folder);

    QTemporaryDir m_bodies;
};

void TestStoreKinds::initTestCase()
{
    QVERIFY(m_bodies.isValid());
    SetBodiesFolder(m_bodies.path().toStdString());
}

void TestStoreKinds::listsItsFixture_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("folder"); // below the fixtures, with the expected listing
    QTest::addColumn<QString>("opened"); // the path given to OpenStore, below the folder
    const int wininet = int(Kind::WinInet), firefox = int(Kind::Firefox);
    const int simple = int(Kind::ChromiumSimple), blockfile = int(Kind::ChromiumBlockfile);
    QTest::newRow("index.dat, Wine, with its content") << wininet << "wine-demo"
                                                       << "Content.IE5";
    QTest::newRow("index.dat, Windows 7, without its files") << wininet << "win7-content"
                                                             << "index.dat";
    QTest::newRow("cache2 plaso: v1 and v3, predictor entries, a damaged file")
        << firefox << "browser-caches/firefox-plaso"
        << "cache2";
    QTest::newRow("cache2 dtformats: v1, POST ids, gzip") << firefox << "browser-caches/firefox-dtformats"
                                                          << "cache2";
    QTest::newRow("cache2 lshtech: v3, partitions, br, alt-data, stale index")
        << firefox << "browser-caches/firefox-lshtech2021"
        << "cache2/entries";
    QTest::newRow("cache2 Firefox 153: v4, in the profile") << firefox << "firefox153/plain"
                                                            << "profile/cache2";
    QTest::newRow("cache2 Firefox 153: v4 encrypted, the key in the profile's prefs")
        << firefox << "firefox153/encrypted"
        << "profile/cache2";
    QTest::newRow("simple 2016, packed records") << simple << "browser-caches/simple-schorlet"
                                                 << "Cache";
    QTest::newRow("simple, Chromium 156 over the browser test's site") << simple << "chromium156"
                                                                       << "Cache";
    QTest::newRow("blockfile 2.1") << blockfile << "browser-caches/blockfile-plaso-v2"
                                   << "Cache";
    QTest::newRow("blockfile 3.0, partitioned keys") << blockfile << "browser-caches/blockfile-plaso-v3"
                                                     << "Cache";
}

void TestStoreKinds::listsItsFixture()
{
    QFETCH(int, kind);
    QFETCH(QString, folder);
    QFETCH(QString, opened);
    const QString base = FixturesDir() + "/" + folder;
    const auto store = OpenStore((base + "/" + opened).toStdString());
    QCOMPARE(QString(StoreKindId(store->kind())), QString(IdOf(Kind(kind))));
    switch (Kind(kind)) {
    case Kind::WinInet:
        compareIndexDat(*store, base);
        break;
    case Kind::Firefox:
        compareFirefox(*store, base);
        break;
    default:
        compareChromium(*store, base);
        break;
    }
}

void TestStoreKinds::compareIndexDat(CacheStore &store, const QString &folder)
{
    // Only the Wine store comes with its content folders, and its listing with the sizes.
    const bool withSize = folder.endsWith("wine-demo"), filesPresent = withSize;
    const QString storeFolder = QString::fromStdString(store.folder());
    const QStringList want = ExpectedList(folder + "/expected-list.tsv", withSize);
    QVERIFY(want.size() >= 21);
    QCOMPARE(ListedBy(store, storeFolder, withSize), want);
    for (const Listed &r : ListEntries(store))
        QCOMPARE(QFile::exists(QString::fromStdString(r.localFileName)), filesPresent);
}

void TestStoreKinds::compareFirefox(CacheStore &store, const QString &folder)
{
    const StoreListing listing = store.list();
    QVERIFY2(listing.ok(), listing.error.c_str());

    QFile tsv(folder + "/expected.tsv");
    QVERIFY(tsv.open(QIODevice::ReadOnly));
    const QStringList header = QString::fromUtf8(tsv.readLine()).trimmed().split('\t');
    std::size_t documents = 0, damaged = 0;
    while (!tsv.atEnd()) {
        const QStringList cells = QString::fromUtf8(tsv.readLine()).chopped(1).split('\t');
        QCOMPARE(cells.size(), header.size());
        std::map<QString, QString> row;
        for (int i = 0; i < header.size(); ++i)
            row[header[i]] = cells[i];
        const QString file = row["file"];
        if (row["key"] == "-") { // damaged: skipped, counted
            ++damaged;
            continue;
        }
        const std::string key = row["key"].toStdString();
        const StoreEntry *e = findKey(listing, key);
        if (row["status"] == "-") { // no response head: not a document, not damage
            QVERIFY2(!e, key.c_str());
            continue;
        }
        ++documents;
        QVERIFY2(e, key.c_str());
        QCOMPARE(listing.text(e->url), row["url"].toStdString());
        QVERIFY(listing.text(e->container).ends_with("/" + file.toStdString()));
        QCOMPARE(e->body, BodyPlace::Range);
        QCOMPARE(e->bodyOffset, std::uint64_t(0));
        QCOMPARE(e->size, row["body_stored"].toULongLong());
        bool decoded = false;
        QCOMPARE(bodyOf(listing, *e, &decoded).size(), std::size_t(row["body_decoded"].toULongLong()));
        QCOMPARE(decoded, row["decode"] != "identity");
        QCOMPARE(listing.text(e->contentEncoding),
                 row["content_encoding"] == "-" ? std::string() : row["content_encoding"].toStdString());
        const QString type = row["content_type"].section(';', 0, 0).trimmed().toLower();
        QCOMPARE(listing.text(e->contentType), type == "-" ? std::string() : type.toStdString());
        QCOMPARE(int(e->httpStatus), row["status"].section(' ', 1, 1).toInt());
        QVERIFY(listing.text(e->headers).starts_with(row["status"].toStdString() + "\r\n"));
        QCOMPARE(e->hitCount, row["fetch_count"].toUInt());
        QCOMPARE(e->lastAccess, isoTime(row["time_accessed"]));
        if (row["time_modified"] != "-")
            QCOMPARE(e->lastSync, isoTime(row["time_modified"]));
        if (row["time_expires"] != "-")
            QCOMPARE(e->expires, isoTime(row["time_expires"]));
        const bool post = row["checks"].contains("method=POST");
        QCOMPARE(listing.text(e->requestMethod), std::string(post ? "POST" : "GET"));

        // The partition, readable: the top-level site, anonymous, the POST id.
        const QString tags = row["partition"];
        const std::string partition(listing.text(e->partition));
        const bool anonymous = tags == "a" || tags.startsWith("a,") || tags.contains(",a,") || tags.endsWith(",a");
        QCOMPARE(bool(e->flags & EntryAnonymous), anonymous);
        QCOMPARE(partition.find("anonymous") != std::string::npos, anonymous);
        const QRegularExpression site("partitionKey=%28(\\w+)%2C([^%]+)%29");
        if (const auto m = site.match(tags); m.hasMatch())
            QVERIFY2(partition.starts_with((m.captured(1) + "://" + m.captured(2)).toStdString()), partition.c_str());
        if (post)
            QVERIFY2(partition.ends_with("POST " + tags.section('~', 1).toStdString()), partition.c_str());
        if (tags == "-")
            QCOMPARE(partition, std::string());

        // The body's planned file lies in the bodies folder, named after the URL.
        const std::string local(listing.text(e->localFile));
        QVERIFY(e->hasLocalFile);
        QVERIFY2(local.starts_with(m_bodies.path().toStdString() + "/"), local.c_str());
        QVERIFY(local.find("/" + file.toStdString() + "/") != std::string::npos);
    }
    QCOMPARE(listing.entries.size(), documents);
    QCOMPARE(std::size_t(listing.skipped), damaged);
    if (damaged)
        QCOMPARE(listing.skipWhy.count("metadata offset past the end of the file"), 1u);

    // In file-name order.
    for (std::size_t i = 1; i < listing.entries.size(); ++i)
        QVERIFY(listing.text(listing.entries[i - 1].container) < listing.text(listing.entries[i].container));
}

void TestStoreKinds::compareChromium(CacheStore &store, const QString &folder)
{
    const std::string base = folder.toStdString();
    const std::string kind = StoreKindId(store.kind());
    const StoreListing listing = store.list();
    QVERIFY2(listing.ok(), listing.error.c_str());

    // The bodies left out of the copy (large f_ files) are expected as missing: by their size.
    std::multiset<std::uint64_t> leftOut;
    for (const auto &row : readTable(base + "/left-out.tsv"))
        (void)row;
    {
        std::ifstream in(base + "/left-out.tsv");
        std::string line;
        while (std::getline(in, line))
            if (const auto cells = splitTabs(line); cells.size() == 2)
                leftOut.insert(std::stoull(cells[1]));
    }
    std::map<std::string, std::int64_t> indexLastUsed;
    for (const auto &row : readTable(base + "/index-records.tsv"))
        indexLastUsed[row.at("hash")] = std::int64_t(isoTime(row.at("last_used")));

    std::uint32_t unreadable = 0;
    std::size_t documents = 0;
    std::size_t missingByLeftOut = 0;
    for (const auto &row : readTable(base + "/expected.tsv")) {
        const std::string &checks = row.at("checks");
        if (has(checks, "key-unreadable")) {
            ++unreadable;
            continue;
        }
        if (has(checks, "sparse-child")) {
            QVERIFY2(!findKey(listing, row.at("key")), row.at("key").c_str());
            continue;
        }
        ++documents;
        const std::string &key = row.at("key");
        const StoreEntry *e = findKey(listing, key);
        QVERIFY2(e, key.c_str());
        QCOMPARE(text(listing, e->url), row.at("url"));
        if (row.at("partition") != "-") {
            const ChromiumKey parts = ParseChromiumKey(key);
            QVERIFY(!parts.topSite.empty());
            QVERIFY2(text(listing, e->partition).rfind(std::string(parts.topSite), 0) == 0, key.c_str());
        } else {
            QCOMPARE(text(listing, e->partition), std::string());
        }
        const bool headersMissing = checks.find("headers-missing") != std::string::npos;
        QCOMPARE(bool(e->flags & EntryHeadersMissing), headersMissing);
        const std::string &status = row.at("status");
        QCOMPARE(int(e->httpStatus), status == "-" ? 0 : std::stoi(status.substr(status.find(' ') + 1)));
        std::string type = row.at("content_type");
        type = type == "-" ? std::string()
                           : QString::fromStdString(type.substr(0, type.find(';'))).trimmed().toLower().toStdString();
        QCOMPARE(text(listing, e->contentType), type);
        const std::string &coding = row.at("content_encoding");
        QCOMPARE(text(listing, e->contentEncoding), coding == "-" ? std::string() : coding);
        QCOMPARE(e->size, std::stoull(row.at("body_stored")));

        bool bodyMissing = has(checks, "body-missing");
        if (!bodyMissing && (e->flags & EntryBodyMissing)) {
            // Only bodies of a left-out file's size may be missing beyond those the original lacks.
            const auto it = leftOut.find(e->size);
            QVERIFY2(it != leftOut.end(), key.c_str());
            leftOut.erase(it);
            bodyMissing = true;
            ++missingByLeftOut;
        }
        QCOMPARE(bool(e->flags & EntryBodyMissing), bodyMissing);
        // An empty body under a content coding (a redirect) is no coded stream to undo.
        if (!bodyMissing && e->size > 0) {
            QCOMPARE(int(e->body), int(BodyPlace::Range));
            bool ok = false;
            const std::string body = bodyOf(listing, *e, nullptr, &ok);
            QVERIFY2(ok, key.c_str());
            if (row.at("body_decoded") != "-")
                QCOMPARE(std::to_string(body.size()), row.at("body_decoded"));
        }
        QCOMPARE(e->lastSync, isoTime(row.at("time_response")));
        QCOMPARE(e->lastModified, isoTime(row.at("time_modified")));
        // No expiry is stored: one is worked out for every entry with a head, and a time
        // is always after the response arrived.
        QCOMPARE(bool(e->flags & EntryExpiryDerived), !headersMissing);
        if (e->flags & (EntryStaleOnArrival | EntryNeverStale))
            QCOMPARE(e->expires, StoreTime(0));
        else if (!headersMissing)
            QVERIFY2(e->expires > e->lastSync, key.c_str());
        if (kind == "chromium-blockfile") {
            QCOMPARE(e->created, isoTime(row.at("time_created")));
            QCOMPARE(e->lastAccess, isoTime(row.at("time_accessed")));
            const std::string &fetch = row.at("fetch_count");
            QCOMPARE(std::to_string(e->hitCount), fetch.substr(6, fetch.find(',') - 6));
            QVERIFY(!text(listing, e->localFile).empty());
        } else {
            const std::string file = row.at("file");
            QVERIFY(indexLastUsed.count(file.substr(0, 16)));
            QCOMPARE(e->lastAccess, StoreTime(indexLastUsed.at(file.substr(0, 16))));
            QCOMPARE(text(listing, e->container), base + "/Cache/" + file);
        }
        const std::string local = text(listing, e->localFile);
        QVERIFY(local.rfind(m_bodies.path().toStdString() + "/", 0) == 0);
        QVERIFY(!QFile::exists(QString::fromStdString(local)));
    }
    QCOMPARE(listing.entries.size(), documents);
    QCOMPARE(listing.skipped, unreadable);
    // Every left-out body file belongs to a listed entry.
    QCOMPARE(leftOut.size(), std::size_t(0));
    qInfo("%zu entries, %zu bodies in left-out files, %u skipped", documents, missingByLeftOut, listing.skipped);
}

void TestStoreKinds::damagedEntryLeftOutAndCounted_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("index.dat: a URL outside its record") << int(Kind::WinInet);
    QTest::newRow("cache2: an entry file cut short") << int(Kind::Firefox);
    QTest::newRow("simple: an entry file cut short") << int(Kind::ChromiumSimple);
    QTest::newRow("blockfile: an entry record's self-hash") << int(Kind::ChromiumBlockfile);
}

void TestStoreKinds::damagedEntryLeftOutAndCounted()
{
    QFETCH(int, kind);
    QTemporaryDir dir;
    const QString folder = dir.path() + "/store";
    // A sound store first, with three entries or a real cache's.
    std::vector<BrowserWriterEntry> entries(3);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        entries[i].url = "http://h.example/" + std::to_string(i) + ".htm";
        entries[i].body = "<p>" + std::to_string(i) + "</p>";
    }
    StoreWriteResult wininet;
    BrowserWriteResult browser;
    switch (Kind(kind)) {
    case Kind::WinInet:
        wininet = WriteTestStore(folder, {record(entries[0]), record(entries[1]), record(entries[2])});
        QVERIFY(wininet.ok);
        break;
    case Kind::Firefox:
        browser = WriteFirefoxStore(folder.toStdString(), entries);
        break;
    case Kind::ChromiumSimple:
        browser = WriteChromiumSimpleStore(folder.toStdString(), entries);
        break;
    default:
        QVERIFY(CopyStoreFolder(FixturesDir() + "/browser-caches/blockfile-plaso-v2/Cache", folder));
        break;
    }
    const std::string opened = browser.ok ? browser.folder : folder.toStdString();
    const StoreListing sound = OpenStore(opened)->list();
    QVERIFY2(sound.ok(), sound.error.c_str());
    QVERIFY(sound.entries.size() >= 3);

    // One entry damaged where its kind keeps it.
    switch (Kind(kind)) {
    case Kind::WinInet: {
        QByteArray index = ReadBytes(QString::fromStdString(wininet.indexPath));
        qToLittleEndian<quint32>(0xFFFFFFF0u, index.data() + wininet.entries[1].recordOffset + 0x34);
        QVERIFY(WriteBytes(QString::fromStdString(wininet.indexPath), index));
        break;
    }
    case Kind::Firefox:
    case Kind::ChromiumSimple:
        QVERIFY(cutFile(browser.entries[1].file, 10));
        break;
    default: {
        const QByteArray index = ReadBytes(folder + "/index");
        QByteArray data1 = ReadBytes(folder + "/data_1");
        const std::size_t entryAt = loneBlockfileEntry(index, data1);
        QVERIFY(entryAt > 0);
        qToLittleEndian<quint32>(0x12345678u, data1.data() + entryAt + 92);
        QVERIFY(WriteBytes(folder + "/data_1", data1));
        break;
    }
    }

    const StoreListing listing = OpenStore(opened)->list();
    QVERIFY2(listing.ok(), listing.error.c_str());
    QCOMPARE(listing.entries.size(), sound.entries.size() - 1);
    QCOMPARE(listing.skipped, sound.skipped + 1);
    QVERIFY(!listing.skipSummary().empty());
    std::size_t lost = 0;
    for (const StoreEntry &e : sound.entries)
        lost += findKey(listing, sound.text(e.key)) ? 0 : 1;
    QCOMPARE(lost, std::size_t(1)); // the rest is all there
}

void TestStoreKinds::hostileNamesStayInside_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("index.dat") << int(Kind::WinInet);
    QTest::newRow("cache2") << int(Kind::Firefox);
    QTest::newRow("simple") << int(Kind::ChromiumSimple);
    QTest::newRow("blockfile") << int(Kind::ChromiumBlockfile);
}

// URLs that climb out of folders, or name absolute paths, give local files inside the
// folder their kind keeps them in: the store's own for index.dat, the bodies folder else.
void TestStoreKinds::hostileNamesStayInside()
{
    QFETCH(int, kind);
    QTemporaryDir dir;
    const QString folder = dir.path() + "/store";
    std::vector<BrowserWriterEntry> entries;
    for (const char *url :
         {"http://h.example/../../../../etc/passwd.htm", "http://h.example/%2e%2e/%2e%2e/up.htm",
          "http://h.example//etc/shadow.htm", "http://h.example/a/..%2f..%2f..%2fescape.htm", "http://../../x.htm"}) {
        BrowserWriterEntry e;
        e.url = url;
        e.body = "x";
        entries.push_back(e);
    }
    std::string opened = folder.toStdString();
    switch (Kind(kind)) {
    case Kind::WinInet: {
        std::vector<StoreWriterEntry> records;
        for (const BrowserWriterEntry &e : entries)
            records.push_back(record(e));
        QVERIFY(WriteTestStore(folder, records).ok);
        break;
    }
    case Kind::Firefox: {
        const BrowserWriteResult written = WriteFirefoxStore(opened, entries);
        QVERIFY2(written.ok, written.error.c_str());
        opened = written.folder;
        break;
    }
    case Kind::ChromiumSimple: {
        const BrowserWriteResult written = WriteChromiumSimpleStore(opened, entries);
        QVERIFY2(written.ok, written.error.c_str());
        opened = written.folder;
        break;
    }
    default: // no writer: the real cache's keys
        QVERIFY(CopyStoreFolder(FixturesDir() + "/browser-caches/blockfile-plaso-v2/Cache", folder));
        break;
    }
    const auto store = OpenStore(opened);
    QCOMPARE(QString(StoreKindId(store->kind())), QString(IdOf(Kind(kind))));
    const QString inside =
        (Kind(kind) == Kind::WinInet ? QString::fromStdString(store->folder()) : m_bodies.path()) + "/";
    const std::vector<Listed> listed = ListEntries(*store);
    QVERIFY(listed.size() >= entries.size());
    for (const Listed &e : listed) {
        const QString local = QString::fromStdString(e.localFileName);
        QVERIFY2(local.startsWith(inside), qPrintable(local));
        QCOMPARE(QDir::cleanPath(local), local);
    }
}

QTEST_MAIN(TestStoreKinds)
#include "tst_storekinds.moc"
