// Chromium's simple and blockfile caches: the real caches match their expected listings,
// deleting from a copy of a simple cache, the refusals, what our writer wrote reads back, and
// damaged caches are skipped without harm.

#include "stores/bodies.h"
#include "stores/chromiumblockfile.h"
#include "stores/chromiumpickle.h"
#include "stores/chromiumsimple.h"
#include "stores/storeregistry.h"
#include "tools/writers/chromiumwriter.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const std::string Fixtures = TIDEWRACK_FIXTURES "/browser-caches/";

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

bool has(const std::string &list, const std::string &item)
{
    return ("," + list + ",").find("," + item + ",") != std::string::npos;
}

std::string decoded(const StoreListing &listing, const StoreEntry &e, bool *ok = nullptr)
{
    std::string out;
    const StoreResult r = ReadDecodedBody(BodyRefOf(listing, e), [&](std::string_view piece) {
        out.append(piece);
        return true;
    });
    if (ok)
        *ok = r.ok();
    return out;
}

std::string text(const StoreListing &listing, StoreText t)
{
    return std::string(listing.text(t));
}

// A copy of a fixture folder the test may change.
bool copyTree(const std::string &from, const std::string &to)
{
    std::error_code ec;
    std::filesystem::copy(from, to, std::filesystem::copy_options::recursive, ec);
    if (ec)
        return false;
    for (const auto &item : std::filesystem::recursive_directory_iterator(to))
        std::filesystem::permissions(item.path(), std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add);
    return true;
}

bool writeBytes(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    return bool(out);
}

std::string readBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

const StoreEntry *findKey(const StoreListing &listing, const std::string &key)
{
    for (const StoreEntry &e : listing.entries)
        if (listing.text(e.key) == key)
            return &e;
    return nullptr;
}

} // namespace

class TestChromiumStore : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void fixtures_data();
    void fixtures();

private:
    QTemporaryDir m_bodies;
};

void TestChromiumStore::initTestCase()
{
    QVERIFY(m_bodies.isValid());
    SetBodiesFolder(m_bodies.path().toStdString());
}

void TestChromiumStore::fixtures_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<int>("kind");
    QTest::newRow("simple 2016, packed records") << "simple-schorlet" << int(StoreKind::ChromiumSimple);
    QTest::newRow("blockfile 2.1") << "blockfile-plaso-v2" << int(StoreKind::ChromiumBlockfile);
    QTest::newRow("blockfile 3.0, partitioned keys") << "blockfile-plaso-v3" << int(StoreKind::ChromiumBlockfile);
}

void TestChromiumStore::fixtures()
{
    QFETCH(QString, folder);
    QFETCH(int, kind);
    const std::string base = Fixtures + folder.toStdString();
    const auto store = OpenStore(base + "/Cache");
    QCOMPARE(int(store->kind()), kind);
    const StoreListing listing = store->list();
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
            const std::string body = decoded(listing, *e, &ok);
            QVERIFY2(ok, key.c_str());
            if (row.at("body_decoded") != "-")
                QCOMPARE(std::to_string(body.size()), row.at("body_decoded"));
        }
        QCOMPARE(e->lastSync, isoTime(row.at("time_response")));
        QCOMPARE(e->lastModified, isoTime(row.at("time_modified")));
        QCOMPARE(e->expires, isoTime(row.at("time_expires")));
        if (kind == int(StoreKind::ChromiumBlockfile)) {
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

QTEST_GUILESS_MAIN(TestChromiumStore)
#include "tst_chromiumstore.moc"
