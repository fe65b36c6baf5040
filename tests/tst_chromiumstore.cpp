// Chromium's simple and blockfile caches: the real caches match their expected listings,
// deleting from a copy of a simple cache, the refusals, what our writer wrote reads back, and
// damaged caches are skipped without harm.

#include "stores/bodies.h"
#include "stores/chromiumblockfile.h"
#include "stores/chromiumfreshness.h"
#include "stores/chromiumpickle.h"
#include "stores/chromiumsimple.h"
#include "stores/storeregistry.h"
#include "tools/writers/chromiumwriter.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

const std::string Fixtures = TIDEWRACK_FIXTURES "/browser-caches/";

void flipByte(std::string &bytes, std::size_t at)
{
    bytes[at] = char(bytes[at] ^ 0x5A);
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
    void keys_data();
    void keys();
    void expiry_data();
    void expiry();
    void writerReadsBack();
    void partialReadsAskForMore();
    void writerNeverWritesIntoACache();
    void largeCacheListsInFileOrder();
    void deleteFromCopy();
    void deleteTakesScriptAndSparseFiles();
    void killedDeletesLeaveWholeEntriesOrNone();
    void pruneTakesOrphans_data();
    void pruneTakesOrphans();
    void refusedWhileBrowserRuns_data();
    void refusedWhileBrowserRuns();
    void blockfileDeleteRefused();
    void hostileSimple_data();
    void hostileSimple();
    void hostileBlockfile_data();
    void hostileBlockfile();
    void blockfileFilesThatAreNoFiles();

private:
    QTemporaryDir m_bodies;
};

void TestChromiumStore::initTestCase()
{
    QVERIFY(m_bodies.isValid());
    SetBodiesFolder(m_bodies.path().toStdString());
}

void TestChromiumStore::keys_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("partition");
    QTest::newRow("plain URL") << "https://a.com/x?q=1"
                               << "https://a.com/x?q=1"
                               << "";
    QTest::newRow("top-level site") << "1/0/_dk_https://a.com https://a.com https://cdn.b.com/x.js"
                                    << "https://cdn.b.com/x.js"
                                    << "https://a.com";
    QTest::newRow("subframe document") << "1/0/_dk_s_https://a.com https://b.com https://b.com/frame.html"
                                       << "https://b.com/frame.html"
                                       << "https://a.com, frame https://b.com, subframe document";
    QTest::newRow("cross-site navigation") << "1/0/_dk_cn_https://a.com https://a.com https://a.com/"
                                           << "https://a.com/"
                                           << "https://a.com, cross-site navigation";
    QTest::newRow("anonymous") << "0/0/_dk_https://a.com https://a.com https://fonts.c.com/f.woff2"
                               << "https://fonts.c.com/f.woff2"
                               << "https://a.com, anonymous";
    QTest::newRow("POST") << "1/42/_dk_https://a.com https://a.com https://a.com/form"
                          << "https://a.com/form"
                          << "https://a.com, POST 42";
    QTest::newRow("older origin key") << "_dk_https://a.com https://a.com/x"
                                      << "https://a.com/x"
                                      << "https://a.com";
    QTest::newRow("older POST key") << "12/https://a.com/post"
                                    << "https://a.com/post"
                                    << "POST 12";
    QTest::newRow("credentials without isolation") << "1/0/https://a.com/x"
                                                   << "https://a.com/x"
                                                   << "";
}

void TestChromiumStore::keys()
{
    QFETCH(QString, key);
    QFETCH(QString, url);
    QFETCH(QString, partition);
    const std::string k = key.toStdString();
    const ChromiumKey parts = ParseChromiumKey(k);
    QCOMPARE(QString::fromStdString(std::string(parts.url)), url);
    QCOMPARE(QString::fromStdString(ChromiumPartitionText(parts)), partition);
}

namespace {

std::string pageText(int lines, const char *word)
{
    std::string text = "<!doctype html><title>t</title>";
    for (int i = 0; i < lines; ++i)
        text += std::string("<p>") + word + " " + std::to_string(i) + " \xE7\xBC\x93\xE5\xAD\x98</p>\n";
    return text;
}

std::vector<BrowserWriterEntry> sampleEntries()
{
    std::vector<BrowserWriterEntry> entries(8);
    entries[0].url = "https://www.example.com/";
    entries[0].body = pageText(300, "plain");
    entries[0].lastModified = 1600000000;
    entries[0].expires = 1900000000;
    entries[1].url = "https://www.example.com/style.css";
    entries[1].contentType = "text/css";
    entries[1].contentEncoding = "gzip";
    entries[1].body = std::string(5000, 'a') + "body{}";
    entries[2].url = "https://static.example.com/app.js";
    entries[2].contentType = "application/javascript";
    entries[2].contentEncoding = "br";
    entries[2].body = "function f(){return 1}\n" + pageText(50, "js");
    entries[2].altData = std::string("\xC0\xDE\x00\x01compiled", 12);
    entries[3].url = "https://news.example.cn/%E4%B8%AD%E6%96%87.html";
    entries[3].contentType = "text/html";
    entries[3].contentEncoding = "gzip";
    entries[3].body = pageText(2000, "\xE4\xB8\xAD\xE6\x96\x87");
    entries[3].partition = "https://example.com";
    entries[4].url = "https://video.example.com/clip.mp4";
    entries[4].contentType = "video/mp4";
    entries[4].body = std::string(300000, '\x42');
    entries[4].truncated = true;
    entries[5].url = "https://fonts.example.org/f.woff2";
    entries[5].contentType = "font/woff2";
    entries[5].body = "wOF2 font bytes";
    entries[5].anonymous = true;
    entries[6].url = "https://www.example.com/search";
    entries[6].contentType = "application/json";
    entries[6].body = "{\"results\":[]}";
    entries[6].postId = "77";
    entries[6].status = 201;
    // A file read in pieces whose key and response info lie beyond the first reads.
    entries[7].url = "https://www.example.com/big.bin?q=" + std::string(6000, 'k');
    entries[7].contentType = "application/octet-stream";
    entries[7].body = std::string(200000, '\x07');
    for (int i = 0; i < 300; ++i)
        entries[7].headers.emplace_back("X-Padding-" + std::to_string(i), std::string(70, 'p'));
    for (std::size_t i = 0; i < entries.size(); ++i)
        entries[i].fetched = 1700000000 + std::int64_t(i) * 60;
    return entries;
}

// A new cache of the sample entries in `folder`.
BrowserWriteResult writeSample(const std::string &folder)
{
    BrowserWriterOptions options;
    options.now = 1700001000;
    return WriteChromiumSimpleStore(folder, sampleEntries(), options);
}

std::map<std::string, std::string> folderBytes(const std::string &folder)
{
    std::map<std::string, std::string> out;
    for (const auto &item : std::filesystem::recursive_directory_iterator(folder))
        if (item.is_regular_file())
            out[item.path().string()] = readBytes(item.path().string());
    return out;
}

} // namespace

void TestChromiumStore::expiry_data()
{
    QTest::addColumn<QString>("head");
    QTest::addColumn<QString>("expected"); // "stale", "never" or the UTC time it goes stale
    // Requested 00:40:09, received 00:40:12; a Date of 00:40:11 makes the age on arrival 3 s.
    const QString date = QStringLiteral("Date: Wed, 28 Nov 2007 00:40:11 GMT\n");
    const QString oldChange = QStringLiteral("Last-Modified: Tue, 27 Nov 2007 08:00:00 GMT\n");
    QTest::newRow("nothing") << "HTTP/1.1 200 OK\n"
                             << "stale";
    QTest::newRow("max-age") << "HTTP/1.1 200 OK\nCache-Control: max-age=10000\n"
                             << "2007-11-28T03:26:49.000Z";
    QTest::newRow("expires") << "HTTP/1.1 200 OK\n" + date + "Expires: Wed, 28 Nov 2007 01:00:00 GMT\n"
                             << "2007-11-28T00:59:58.000Z";
    QTest::newRow("expired") << "HTTP/1.1 200 OK\n" + date + "Expires: Wed, 28 Nov 2007 00:00:00 GMT\n"
                             << "stale";
    QTest::newRow("expires 0") << "HTTP/1.1 200 OK\n" + date + oldChange + "Expires: 0\n"
                               << "stale";
    QTest::newRow("max-age over expires")
        << "HTTP/1.1 200 OK\n" + date + "Expires: Wed, 28 Nov 2007 00:00:00 GMT\ncache-control: max-age=10000\n"
        << "2007-11-28T03:26:49.000Z";
    QTest::newRow("heuristic") << "HTTP/1.1 200 OK\n" + date + oldChange << "2007-11-28T02:20:10.100Z";
    QTest::newRow("heuristic 206") << "HTTP/1.1 206 Partial Content\n" + date + oldChange << "2007-11-28T02:20:10.100Z";
    QTest::newRow("bad expires ignored") << "HTTP/1.1 200 OK\n" + date + oldChange + "Expires: soon\n"
                                         << "2007-11-28T02:20:10.100Z";
    QTest::newRow("heuristic too short") << "HTTP/1.1 200 OK\n" + date
            + "Last-Modified: Wed, 28 Nov 2007 00:40:10 GMT\n"
                                         << "stale";
    QTest::newRow("no heuristic for 404") << "HTTP/1.1 404 Not Found\n" + date + oldChange << "stale";
    QTest::newRow("must-revalidate stops heuristic")
        << "HTTP/1.1 200 OK\n" + date + oldChange + "Cache-Control: must-revalidate\n"
        << "stale";
    QTest::newRow("must-revalidate with max-age")
        << "HTTP/1.1 200 OK\n" + date + "Cache-Control: must-revalidate, max-age=300, stale-while-revalidate=3600\n"
        << "2007-11-28T00:45:09.000Z";
    QTest::newRow("301") << "HTTP/1.1 301 Moved Permanently\n"
                         << "never";
    QTest::newRow("308") << "HTTP/1.1 308 Permanent Redirect\n"
                         << "never";
    QTest::newRow("410") << "HTTP/1.1 410 Gone\n"
                         << "never";
    QTest::newRow("300 no-cache") << "HTTP/1.1 300 Multiple Choices\nCache-Control: no-cache\n"
                                  << "stale";
    QTest::newRow("302") << "HTTP/1.1 302 Found\n"
                         << "stale";
    QTest::newRow("302 max-age") << "HTTP/1.1 302 Found\ncache-control: max-age=10000\n"
                                 << "2007-11-28T03:26:49.000Z";
    QTest::newRow("no-store") << "HTTP/1.1 200 OK\n" + date
            + "Expires: Thu, 29 Nov 2007 00:40:11 GMT\nCache-Control: no-store,private,no-cache=\"foo\"\n"
                              << "stale";
    QTest::newRow("pragma") << "HTTP/1.1 200 OK\n" + date + oldChange + "Pragma: no-cache\n"
                            << "stale";
    QTest::newRow("s-maxage is for shared caches") << "HTTP/1.1 200 OK\nCache-Control: s-maxage=10000\n"
                                                   << "stale";
    QTest::newRow("bad max-age skipped") << "HTTP/1.1 200 OK\nCache-Control: max-age=abc, max-age= 600 \n"
                                         << "2007-11-28T00:50:09.000Z";
    QTest::newRow("age") << "HTTP/1.1 200 OK\n" + date + "Cache-Control: max-age=10000\nAge: 100\n"
                         << "2007-11-28T03:25:09.000Z";
    QTest::newRow("older than max-age") << "HTTP/1.1 200 OK\n" + date + "Cache-Control: max-age=10000\nAge: 20000\n"
                                        << "stale";
    QTest::newRow("late after date") << "HTTP/1.1 200 OK\nDate: Wed, 28 Nov 2007 00:30:12 GMT\nCache-Control: "
                                        "max-age=3600\n"
                                     << "2007-11-28T01:30:12.000Z";
}

void TestChromiumStore::expiry()
{
    QFETCH(QString, head);
    QFETCH(QString, expected);
    auto chromiumTime = [](const char *iso) {
        // µs since 1601: FILETIME / 10.
        const QDateTime t = QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODateWithMs);
        return std::int64_t(StoreTimeFromUnixMicros(t.toMSecsSinceEpoch() * 1000) / 10);
    };
    const std::string text = head.toStdString();
    const int status = std::stoi(text.substr(9, 3));
    const auto expiry =
        ChromiumExpiryOf(text, status, chromiumTime("2007-11-28T00:40:09Z"), chromiumTime("2007-11-28T00:40:12Z"));
    QVERIFY(expiry);
    if (expected == QLatin1String("stale")) {
        QCOMPARE(int(expiry->freshness), int(ChromiumFreshness::Stale));
    } else if (expected == QLatin1String("never")) {
        QCOMPARE(int(expiry->freshness), int(ChromiumFreshness::Never));
    } else {
        QCOMPARE(int(expiry->freshness), int(ChromiumFreshness::Until));
        QCOMPARE(expiry->until, StoreTime(chromiumTime(expected.toLatin1().constData())) * 10);
    }
}

void TestChromiumStore::writerReadsBack()
{
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString() + "/Cache/Cache_Data";
    const BrowserWriteResult written = writeSample(folder);
    QVERIFY2(written.ok, written.error.c_str());
    const auto entries = sampleEntries();
    QCOMPARE(written.entries.size(), entries.size());

    // Found from the profile folder above, as a user names it.
    const auto store = OpenStore(dir.path().toStdString());
    QCOMPARE(QString::fromLatin1(StoreKindId(store->kind())), QStringLiteral("chromium-simple"));
    QCOMPARE(store->folder(), folder);
    const StoreListing listing = store->list();
    QVERIFY2(listing.ok(), listing.error.c_str());
    QCOMPARE(listing.skipped, 0u);
    QCOMPARE(listing.entries.size(), entries.size());
    QCOMPARE(readBytes(folder + "/index").size(), std::size_t(24));
    QCOMPARE(ParseSimpleIndex(
                 reinterpret_cast<const unsigned char *>(readBytes(folder + "/index-dir/the-real-index").data()),
                 readBytes(folder + "/index-dir/the-real-index").size())
                 .size(),
             entries.size());

    for (std::size_t i = 0; i < entries.size(); ++i) {
        const BrowserWriterEntry &in = entries[i];
        const std::string &key = written.entries[i].key;
        const StoreEntry *e = findKey(listing, key);
        QVERIFY2(e, key.c_str());
        QCOMPARE(text(listing, e->url), in.url);
        QCOMPARE(text(listing, e->container), written.entries[i].file);
        QCOMPARE(e->size, written.entries[i].storedSize);
        QCOMPARE(text(listing, e->contentType), in.contentType);
        QCOMPARE(text(listing, e->contentEncoding), in.contentEncoding);
        QCOMPARE(int(e->httpStatus), in.status);
        QCOMPARE(bool(e->flags & EntryTruncated), in.truncated);
        QCOMPARE(bool(e->flags & EntryAnonymous), in.anonymous);
        QCOMPARE(text(listing, e->requestMethod), std::string(in.postId.empty() ? "" : "POST"));
        const std::string partition = text(listing, e->partition);
        QVERIFY2(partition.rfind(in.partition.empty() ? "https://example." : in.partition, 0) == 0, partition.c_str());
        // Times: received within the second it was fetched; last use from the index, whole seconds.
        QVERIFY(e->lastSync >= StoreTimeFromUnix(in.fetched) && e->lastSync < StoreTimeFromUnix(in.fetched + 1));
        QCOMPARE(e->lastAccess, StoreTimeFromUnix(in.fetched));
        QCOMPARE(e->lastModified, in.lastModified ? StoreTimeFromUnix(in.lastModified) : StoreTime(0));
        // The head's Date is the fetch second and request and response both fall within it, so
        // the age on arrival is under a second: the entry goes stale that much before the time
        // Expires or the Last-Modified guess gives.
        const StoreTime oneSecond = StoreTimeFromUnix(1) - StoreTimeFromUnix(0);
        if (in.expires) {
            const StoreTime expires = StoreTimeFromUnix(in.expires);
            QVERIFY(e->expires <= expires && e->expires > expires - oneSecond);
        } else if (in.lastModified && in.status == 200) {
            const StoreTime guess = StoreTimeFromUnix(in.fetched + (in.fetched - in.lastModified) / 10);
            QVERIFY(e->expires <= guess + oneSecond && e->expires > guess - oneSecond);
        } else {
            QVERIFY(e->flags & (EntryStaleOnArrival | EntryNeverStale));
        }
        QVERIFY(text(listing, e->headers).find("\r\nContent-Type: " + in.contentType + "\r\n") != std::string::npos);
        bool ok = false;
        const std::string body = decoded(listing, *e, &ok);
        if (in.truncated) {
            QCOMPARE(body, in.body.substr(0, in.body.size() / 2));
        } else {
            QVERIFY(ok);
            QCOMPARE(body.size(), in.body.size());
            QVERIFY(body == in.body);
        }
        // Compiled script is kept in the second file, never in the body.
        const std::string second = written.entries[i].file.substr(0, written.entries[i].file.size() - 1) + "1";
        QCOMPARE(QFile::exists(QString::fromStdString(second)), !in.altData.empty());
    }
}

void TestChromiumStore::partialReadsAskForMore()
{
    QTemporaryDir dir;
    const BrowserWriteResult written = writeSample(dir.path().toStdString());
    QVERIFY(written.ok);
    const std::string bytes = readBytes(written.entries[7].file);
    QVERIFY(bytes.size() > 64 * 1024);
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.data());
    SimpleFileView view;
    view.fileSize = bytes.size();
    view.head = data;
    view.headSize = 4096;
    view.tailSize = 16384;
    view.tail = data + bytes.size() - view.tailSize;
    SimpleEntryFacts facts = ParseSimpleEntry(view, std::nullopt);
    QCOMPARE(int(facts.outcome), int(SimpleEntryFacts::NeedMore));
    QCOMPARE(facts.needHead, 24 + written.entries[7].key.size());
    view.headSize = facts.needHead;
    facts = ParseSimpleEntry(view, std::nullopt);
    QCOMPARE(int(facts.outcome), int(SimpleEntryFacts::NeedMore));
    QVERIFY(facts.needTail > 16384);
    view.tailSize = facts.needTail;
    view.tail = data + bytes.size() - view.tailSize;
    facts = ParseSimpleEntry(view, SimpleEntryHash(written.entries[7].key));
    QCOMPARE(int(facts.outcome), int(SimpleEntryFacts::Entry));
    QCOMPARE(std::string(facts.key), written.entries[7].key);
    QCOMPARE(facts.bodySize, std::uint64_t(200000));
    // The body was not in the view: its checksum is left for whoever reads it.
    QVERIFY(!facts.bodyChecked);
}

void TestChromiumStore::writerNeverWritesIntoACache()
{
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    QVERIFY(writeSample(folder).ok);
    const auto before = folderBytes(folder);
    const BrowserWriteResult again = writeSample(folder);
    QVERIFY(!again.ok);
    QVERIFY(again.error.find("already holds a cache") != std::string::npos);
    QVERIFY(folderBytes(folder) == before);
}

void TestChromiumStore::largeCacheListsInFileOrder()
{
    // Enough entries for the listing to split its work; one damaged entry in each half.
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    std::vector<BrowserWriterEntry> entries(2100);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        entries[i].url = "https://host" + std::to_string(i % 37) + ".example.com/page/" + std::to_string(i);
        entries[i].body = "<p>page " + std::to_string(i) + "</p>";
    }
    const BrowserWriteResult written = WriteChromiumSimpleStore(folder, entries);
    QVERIFY(written.ok);
    std::vector<std::string> files;
    for (const BrowserWrittenEntry &w : written.entries)
        files.push_back(w.file);
    std::sort(files.begin(), files.end());
    for (const std::string &victim : {files[10], files[1500]}) {
        std::string bytes = readBytes(victim);
        flipByte(bytes, 0);
        QVERIFY(writeBytes(victim, bytes));
    }
    const StoreListing listing = OpenStore(folder)->list();
    QCOMPARE(listing.entries.size(), entries.size() - 2);
    QCOMPARE(listing.skipped, 2u);
    QCOMPARE(listing.skipWhy.at("bad header magic"), 2u);
    std::size_t next = 0;
    for (const StoreEntry &e : listing.entries) {
        while (files[next] == files[10] || files[next] == files[1500])
            ++next;
        QCOMPARE(text(listing, e.container), files[next++]);
        // Every text of the entry belongs to it: the key hashes to its own file's name.
        const std::string key = text(listing, e.key);
        QCOMPARE(SimpleEntryFileName(SimpleEntryHash(key), 0), text(listing, e.container).substr(folder.size() + 1));
        QCOMPARE(text(listing, e.url), std::string(ParseChromiumKey(key).url));
        QVERIFY(text(listing, e.localFile).find("/" + text(listing, e.container).substr(folder.size() + 1) + "/")
                != std::string::npos);
        QCOMPARE(text(listing, e.contentType), std::string("text/html"));
    }
}

void TestChromiumStore::deleteFromCopy()
{
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString() + "/Cache";
    QVERIFY(copyTree(Fixtures + "simple-schorlet/Cache", folder));
    const auto store = OpenStore(folder);
    const StoreListing before = store->list();
    QCOMPARE(before.entries.size(), std::size_t(19));
    const StoreEntry &victim = before.entries[5];
    const std::string key = text(before, victim.key);
    const std::string container = text(before, victim.container);
    const std::string local = text(before, victim.localFile);
    QVERIFY(WriteBodyFile(BodyRefOf(before, victim), local).ok());
    QVERIFY(QFile::exists(QString::fromStdString(local)));
    const std::string index = readBytes(folder + "/index");
    const std::string realIndex = readBytes(folder + "/index-dir/the-real-index");
    QCOMPARE(store->removalRefusal(), std::string());

    QCOMPARE(store->remove("https://golang.org/no/such/page").error, StoreError::NotFound);
    const StoreResult removed = store->remove(key);
    QVERIFY2(removed.ok(), removed.reason.c_str());
    QVERIFY(!QFile::exists(QString::fromStdString(container)));
    QVERIFY(!QFile::exists(QString::fromStdString(local)));
    QCOMPARE(readBytes(folder + "/index"), index);
    QCOMPARE(readBytes(folder + "/index-dir/the-real-index"), realIndex);

    const StoreListing after = store->list();
    QCOMPARE(after.entries.size(), std::size_t(18));
    QCOMPARE(after.skipped, 0u);
    QVERIFY(!findKey(after, key));
    for (const StoreEntry &e : before.entries)
        if (text(before, e.key) != key)
            QVERIFY(findKey(after, text(before, e.key)));
    QCOMPARE(store->remove(key).error, StoreError::NotFound);
}

void TestChromiumStore::deleteTakesScriptAndSparseFiles()
{
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    const BrowserWriteResult written = writeSample(folder);
    QVERIFY(written.ok);
    const std::string &script = written.entries[2].key; // the entry with compiled script
    const std::string base = written.entries[2].file.substr(0, written.entries[2].file.size() - 2);
    QVERIFY(QFile::exists(QString::fromStdString(base + "_1")));
    QVERIFY(writeBytes(base + "_s", "sparse ranges"));
    // A different entry whose name another key's hash would not give stays.
    const std::string other = written.entries[0].file;
    const auto store = OpenStore(folder);
    // An entry with sparse ranges holds a part of its document at most.
    const StoreListing before = store->list();
    for (const StoreEntry &e : before.entries)
        QCOMPARE(bool(e.flags & EntryTruncated),
                 text(before, e.key) == script || text(before, e.url).ends_with(".mp4"));
    QVERIFY(store->remove(script).ok());
    for (const char *suffix : {"_0", "_1", "_s"})
        QVERIFY(!QFile::exists(QString::fromStdString(base + suffix)));
    QVERIFY(QFile::exists(QString::fromStdString(other)));
    QCOMPARE(store->list().entries.size(), std::size_t(7));
}

namespace {

// A sparse file for `key` as Chromium starts one: the file header, then the key.
std::string sparseFile(const std::string &key)
{
    std::string bytes(24, '\0');
    auto put32 = [&bytes](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes[at + std::size_t(i)] = char((v >> (8 * i)) & 0xFF);
    };
    put32(0, std::uint32_t(SimpleInitialMagic));
    put32(4, std::uint32_t(SimpleInitialMagic >> 32));
    put32(8, SimpleEntryVersion);
    put32(12, std::uint32_t(key.size()));
    put32(16, ChromiumSuperFastHash(key.data(), key.size()));
    return bytes + key + "ranges";
}

bool fileExists(const std::string &path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

} // namespace

void TestChromiumStore::killedDeletesLeaveWholeEntriesOrNone()
{
    // Children delete every entry of a cache and are killed at random moments; each next
    // child deletes again what the killed ones left. After every kill each entry is whole
    // (its _0 with its _1 and _s) or has no _0; once a child finishes, no file of any entry
    // is left.
    std::mt19937 random(27);
    int kills = 0;
    // 200 kills take about 10 s of a free machine; a busy one stops earlier.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(40);
    while (kills < 200 && std::chrono::steady_clock::now() < giveUp) {
        QTemporaryDir dir;
        const std::string folder = dir.path().toStdString();
        std::vector<BrowserWriterEntry> entries(40);
        for (std::size_t i = 0; i < entries.size(); ++i) {
            entries[i].url = "https://media.example/clip" + std::to_string(i) + ".mp4";
            entries[i].body = "clip " + std::to_string(i);
            entries[i].altData = "script " + std::to_string(i);
        }
        const BrowserWriteResult written = WriteChromiumSimpleStore(folder, entries);
        QVERIFY(written.ok);
        std::vector<std::string> keys, bases;
        for (const BrowserWrittenEntry &e : written.entries) {
            keys.push_back(e.key);
            bases.push_back(e.file.substr(0, e.file.size() - 2));
            QVERIFY(writeBytes(bases.back() + "_s", sparseFile(e.key)));
        }
        const auto store = OpenStore(folder);
        for (bool finished = false; !finished;) {
            const pid_t child = ::fork();
            QVERIFY(child >= 0);
            if (child == 0) {
                std::vector<std::string> shuffled = keys;
                std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(unsigned(::getpid())));
                int kept = 0;
                for (const KeyRemoval &r : store->removeMany(shuffled))
                    kept += r.gone() ? 0 : 1;
                ::_exit(kept);
            }
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
            ::kill(child, SIGKILL);
            int status = 0;
            QCOMPARE(::waitpid(child, &status, 0), child);
            finished = WIFEXITED(status);
            if (finished)
                QCOMPARE(WEXITSTATUS(status), 0);
            else
                ++kills;
            for (const std::string &base : bases)
                if (fileExists(base + "_0"))
                    QVERIFY2(fileExists(base + "_1") && fileExists(base + "_s"), base.c_str());
        }
        for (const std::string &base : bases)
            for (const char *suffix : {"_0", "_1", "_s"})
                QVERIFY2(!fileExists(base + suffix), (base + suffix).c_str());
    }
    qInfo("%d kills", kills);
    QVERIFY2(kills >= 100, qPrintable(QString::number(kills)));
}

void TestChromiumStore::pruneTakesOrphans_data()
{
    QTest::addColumn<QString>("file");    // what lies in the folder: "_1" or "_s" of entry 0
    QTest::addColumn<bool>("entryGone");  // entry 0's _0 was removed (a cut delete)
    QTest::addColumn<QString>("content"); // "stream": as Chromium writes it; "other key"; "junk"
    QTest::addColumn<bool>("fresh");      // written just now
    QTest::addColumn<bool>("removed");
    QTest::newRow("stream 2 of a cut delete") << "_1" << true << "stream" << false << true;
    QTest::newRow("sparse file of a cut delete") << "_s" << true << "stream" << false << true;
    QTest::newRow("written just now") << "_s" << true << "stream" << true << false;
    QTest::newRow("beside its entry") << "_s" << false << "stream" << false << false;
    QTest::newRow("a key of another name") << "_s" << true << "other key" << false << false;
    QTest::newRow("no stream file") << "_s" << true << "junk" << false << false;
}

void TestChromiumStore::pruneTakesOrphans()
{
    QFETCH(QString, file);
    QFETCH(bool, entryGone);
    QFETCH(QString, content);
    QFETCH(bool, fresh);
    QFETCH(bool, removed);
    QTemporaryDir dir;
    std::vector<BrowserWriterEntry> entries(3);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        entries[i].url = "https://media.example/clip" + std::to_string(i) + ".mp4";
        entries[i].body = "clip " + std::to_string(i);
        entries[i].altData = "script " + std::to_string(i);
    }
    const BrowserWriteResult written = WriteChromiumSimpleStore(dir.path().toStdString(), entries);
    QVERIFY(written.ok);
    const std::string base = written.entries[0].file.substr(0, written.entries[0].file.size() - 2);
    const std::string path = base + file.toStdString();
    if (file == QLatin1String("_s"))
        QVERIFY(writeBytes(path,
                           content == QLatin1String("junk")            ? std::string("not a cache file")
                               : content == QLatin1String("other key") ? sparseFile(written.entries[1].key)
                                                                       : sparseFile(written.entries[0].key)));
    if (entryGone)
        QVERIFY(::unlink((base + "_0").c_str()) == 0);
    const timespec old[2] = {{std::time(nullptr) - 3600, 0}, {std::time(nullptr) - 3600, 0}};
    if (!fresh)
        QVERIFY(::utimensat(AT_FDCWD, path.c_str(), old, 0) == 0);

    // A prune of another entry sweeps the folder.
    const auto store = OpenStore(written.folder);
    QVERIFY(store->removeMany({written.entries[2].key})[0].gone());
    QCOMPARE(!fileExists(path), removed);
    QCOMPARE(fileExists(base + "_0"), !entryGone);
    QVERIFY(fileExists(written.entries[1].file)); // the entry in between stays whole
}

namespace {

// Sets the XDG folders for one test and puts them back.
struct Environment {
    std::map<std::string, std::optional<std::string>> saved;
    void set(const char *name, const std::string &value)
    {
        if (!saved.count(name)) {
            const char *old = std::getenv(name);
            saved[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        ::setenv(name, value.c_str(), 1);
    }
    ~Environment()
    {
        for (const auto &[name, value] : saved) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }
};

std::string hostName()
{
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    return host;
}

} // namespace

void TestChromiumStore::refusedWhileBrowserRuns_data()
{
    QTest::addColumn<QString>("cache");    // below the temporary home
    QTest::addColumn<QString>("userData"); // where the lock lies
    QTest::newRow("XDG cache of a config profile") << "cache/chromium/Default/Cache/Cache_Data"
                                                   << "config/chromium";
    QTest::newRow("older layout, Profile 2") << "cache/google-chrome/Profile 2/Cache"
                                             << "config/google-chrome";
    QTest::newRow("custom user-data folder") << "custom/Default/Cache/Cache_Data"
                                             << "custom";
    QTest::newRow("Opera's one profile") << "cache/opera/Cache/Cache_Data"
                                         << "config/opera";
}

void TestChromiumStore::refusedWhileBrowserRuns()
{
    QFETCH(QString, cache);
    QFETCH(QString, userData);
    QTemporaryDir home;
    const std::string root = home.path().toStdString();
    Environment env;
    env.set("XDG_CACHE_HOME", root + "/cache");
    env.set("XDG_CONFIG_HOME", root + "/config");
    const std::string folder = root + "/" + cache.toStdString();
    const std::string lockFolder = root + "/" + userData.toStdString();
    const BrowserWriteResult written = writeSample(folder);
    QVERIFY(written.ok);
    QVERIFY(QDir().mkpath(QString::fromStdString(lockFolder)));
    const auto store = OpenStore(folder);
    QCOMPARE(store->removalRefusal(), std::string());

    // A lock of another machine's browser (a profile on a shared home) is not this host's.
    QVERIFY(::symlink("some-other-host-1", (lockFolder + "/SingletonLock").c_str()) == 0);
    QCOMPARE(store->removalRefusal(), std::string());
    QVERIFY(::unlink((lockFolder + "/SingletonLock").c_str()) == 0);

    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        ::pause();
        ::_exit(0);
    }
    const std::string lock = hostName() + "-" + std::to_string(child);
    QVERIFY(::symlink(lock.c_str(), (lockFolder + "/SingletonLock").c_str()) == 0);
    const std::string refusal = store->removalRefusal();
    const StoreResult refused = store->remove(written.entries[0].key);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    QVERIFY2(refusal.find("close the browser") != std::string::npos, refusal.c_str());
    QCOMPARE(refused.error, StoreError::Busy);
    QCOMPARE(refused.reason, refusal);
    QVERIFY(QFile::exists(QString::fromStdString(written.entries[0].file)));

    // The lock a crashed browser left behind names a process that is gone.
    QCOMPARE(store->removalRefusal(), std::string());
    QVERIFY(store->remove(written.entries[0].key).ok());
    QVERIFY(!QFile::exists(QString::fromStdString(written.entries[0].file)));
}

void TestChromiumStore::blockfileDeleteRefused()
{
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString() + "/Cache";
    QVERIFY(copyTree(Fixtures + "blockfile-plaso-v2/Cache", folder));
    const auto before = folderBytes(folder);
    const auto store = OpenStore(folder);
    QCOMPARE(QString::fromLatin1(StoreKindId(store->kind())), QStringLiteral("chromium-blockfile"));
    const StoreListing listing = store->list();
    QVERIFY(!listing.entries.empty());
    QVERIFY(!store->removalRefusal().empty());
    const StoreResult r = store->remove(text(listing, listing.entries[0].key));
    QCOMPARE(r.error, StoreError::ReadOnly);
    QCOMPARE(r.reason, store->removalRefusal());
    QVERIFY(folderBytes(folder) == before);
}

namespace {

enum class Damage {
    HeaderMagic,
    KeyHash,
    BodyByte,
    InfoByte,
    CutInHalf,
    CutToTen,
    HugeInfoSize,
    HugeKeyLength,
    WrongName,
    Fifo,
    Symlink,
    Folder,
    NoResponseInfo,
};

void put32At(std::string &bytes, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = char((v >> (8 * i)) & 0xFF);
}

} // namespace

void TestChromiumStore::hostileSimple_data()
{
    QTest::addColumn<int>("damage");
    QTest::addColumn<QString>("reason"); // empty: left out without counting
    QTest::newRow("bad header magic") << int(Damage::HeaderMagic) << "bad header magic";
    QTest::newRow("key hash") << int(Damage::KeyHash) << "key hash mismatch";
    QTest::newRow("body byte") << int(Damage::BodyByte) << "body checksum mismatch";
    QTest::newRow("response info byte") << int(Damage::InfoByte) << "response info checksum mismatch";
    QTest::newRow("cut in half") << int(Damage::CutInHalf) << "no end record at the end of the file";
    QTest::newRow("cut to ten bytes") << int(Damage::CutToTen) << "shorter than an entry";
    QTest::newRow("response info larger than the file")
        << int(Damage::HugeInfoSize) << "response info larger than the file";
    QTest::newRow("key longer than the file") << int(Damage::HugeKeyLength) << "key longer than the file";
    QTest::newRow("file under another name") << int(Damage::WrongName) << "file name does not match the key";
    QTest::newRow("FIFO") << int(Damage::Fifo) << "not a regular file";
    QTest::newRow("symbolic link") << int(Damage::Symlink) << "a symbolic link, not an entry file";
    QTest::newRow("folder") << int(Damage::Folder) << "not a regular file";
    QTest::newRow("no response info") << int(Damage::NoResponseInfo) << "";
}

void TestChromiumStore::hostileSimple()
{
    QFETCH(int, damage);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    const BrowserWriteResult written = writeSample(folder);
    QVERIFY(written.ok);
    const std::string victim = written.entries[1].file;
    std::string bytes = readBytes(victim);
    const std::size_t keyLength = written.entries[1].key.size();
    const std::size_t infoSizeAt = bytes.size() - 24 + 16;
    const std::uint32_t infoSize = std::uint32_t(static_cast<unsigned char>(bytes[infoSizeAt]))
        | std::uint32_t(static_cast<unsigned char>(bytes[infoSizeAt + 1])) << 8;
    std::size_t expectedEntries = written.entries.size() - 1;
    switch (Damage(damage)) {
    case Damage::HeaderMagic:
        flipByte(bytes, 0);
        break;
    case Damage::KeyHash:
        flipByte(bytes, 16);
        break;
    case Damage::BodyByte:
        flipByte(bytes, 24 + keyLength + 5);
        break;
    case Damage::InfoByte:
        flipByte(bytes, bytes.size() - 24 - 32 - infoSize + 30);
        break;
    case Damage::CutInHalf:
        bytes.resize(bytes.size() / 2);
        break;
    case Damage::CutToTen:
        bytes.resize(10);
        break;
    case Damage::HugeInfoSize:
        put32At(bytes, infoSizeAt, 0xFFFFFFF0u);
        break;
    case Damage::HugeKeyLength:
        put32At(bytes, 12, 0x7FFFFFFFu);
        break;
    case Damage::NoResponseInfo: {
        // An entry with an empty stream 0 is one the browser keeps for itself.
        std::string rebuilt = bytes.substr(0, bytes.size() - 24 - 32 - infoSize);
        std::string eof = bytes.substr(bytes.size() - 24);
        put32At(eof, 8, 1);
        put32At(eof, 12, 0);
        put32At(eof, 16, 0);
        bytes = rebuilt + eof;
        break;
    }
    case Damage::WrongName:
    case Damage::Fifo:
    case Damage::Symlink:
    case Damage::Folder:
        break;
    }
    if (Damage(damage) == Damage::WrongName) {
        QVERIFY(::rename(victim.c_str(), (folder + "/0123456789abcdef_0").c_str()) == 0);
    } else if (Damage(damage) == Damage::Fifo) {
        QVERIFY(::mkfifo((folder + "/00000000000000ff_0").c_str(), 0600) == 0);
        expectedEntries = written.entries.size();
    } else if (Damage(damage) == Damage::Symlink) {
        QVERIFY(::symlink(written.entries[0].file.c_str(), (folder + "/00000000000000ff_0").c_str()) == 0);
        expectedEntries = written.entries.size();
    } else if (Damage(damage) == Damage::Folder) {
        QVERIFY(QDir().mkdir(QString::fromStdString(folder + "/00000000000000ff_0")));
        expectedEntries = written.entries.size();
    } else {
        QVERIFY(writeBytes(victim, bytes));
    }

    const StoreListing listing = OpenStore(folder)->list();
    QVERIFY(listing.ok());
    QCOMPARE(listing.entries.size(), expectedEntries);
    if (reason.isEmpty()) {
        QCOMPARE(listing.skipped, 0u);
    } else {
        QCOMPARE(listing.skipped, 1u);
        QCOMPARE(listing.skipWhy.begin()->first, reason.toStdString());
    }
    // Everything else is still whole.
    for (std::size_t i = 0; i < written.entries.size(); ++i)
        if (i != 1)
            QVERIFY(findKey(listing, written.entries[i].key));
}

namespace {

MemoryBlockfileSource blockfileInMemory(const std::string &folder)
{
    MemoryBlockfileSource source;
    for (const auto &item : std::filesystem::directory_iterator(folder))
        source.files[item.path().filename().string()] = readBytes(item.path().string());
    return source;
}

std::uint32_t le32(const std::string &bytes, std::size_t at)
{
    return qFromLittleEndian<quint32>(reinterpret_cast<const unsigned char *>(bytes.data() + at));
}

// The first hash slot holding one entry only, with that entry's offset in data_1.
bool loneEntry(MemoryBlockfileSource &source, std::uint32_t &slot, std::uint32_t &address, std::size_t &offset)
{
    const std::string &index = source.files["index"];
    const std::string &data1 = source.files["data_1"];
    for (slot = 0; slot < 0x10000; ++slot) {
        address = le32(index, 368 + slot * 4);
        if (!address || ((address >> 16) & 0xFF) != 1)
            continue;
        offset = 8192 + std::size_t(address & 0xFFFF) * 256;
        if (le32(data1, offset + 4) == 0 && le32(data1, offset + 20) == 0)
            return true;
    }
    return false;
}

void resealEntry(std::string &data1, std::size_t offset)
{
    put32At(data1, offset + 92, ChromiumSuperFastHash(data1.data() + offset, 92));
}

} // namespace

void TestChromiumStore::hostileBlockfile_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<int>("lost");       // entries fewer than the sound cache lists; -1: the store fails
    QTest::addColumn<QString>("reason"); // the one reason counted; empty: none
    QTest::newRow("chain loops onto itself") << "loop" << 0 << "hash chain loops";
    QTest::newRow("address past the end") << "far address" << 1 << "bad entry address";
    QTest::newRow("address of the wrong kind") << "rankings address" << 1 << "entry address of the wrong kind";
    QTest::newRow("address not in use") << "uninitialized address" << 1 << "bad entry address";
    QTest::newRow("self-hash") << "self hash" << 1 << "entry self-hash mismatch";
    QTest::newRow("key hash") << "key hash" << 1 << "key hash mismatch";
    QTest::newRow("wrong slot") << "wrong slot" << 1 << "entry in the wrong hash slot";
    QTest::newRow("huge key length") << "key length" << 1 << "key longer than its entry";
    QTest::newRow("evicted entry") << "evicted" << 1 << "";
    QTest::newRow("body address past the end") << "body address" << 0 << "";
    QTest::newRow("headers address of no kind") << "headers address" << 0 << "";
    QTest::newRow("data_1 missing") << "no data_1" << 217 << "entry in a missing data file";
    QTest::newRow("data_1 bad magic") << "data_1 magic" << 217 << "bad entry address";
    QTest::newRow("data_1 cut short") << "data_1 cut" << -2 << "";
    QTest::newRow("data_2 missing") << "no data_2" << 2 << "key in a missing data file";
    QTest::newRow("index bad magic") << "index magic" << -1 << "";
    QTest::newRow("index cut short") << "index cut" << -1 << "";
    QTest::newRow("index table longer than the file") << "table length" << -1 << "";
}

void TestChromiumStore::hostileBlockfile()
{
    QFETCH(QString, damage);
    QFETCH(int, lost);
    QFETCH(QString, reason);
    MemoryBlockfileSource source = blockfileInMemory(Fixtures + "blockfile-plaso-v2/Cache");
    const std::size_t sound = ReadBlockfileCache(source, "/cache").entries.size();
    QCOMPARE(sound, std::size_t(217));
    std::uint32_t slot = 0, address = 0;
    std::size_t offset = 0;
    QVERIFY(loneEntry(source, slot, address, offset));
    std::string &index = source.files["index"];
    std::string &data1 = source.files["data_1"];
    const std::size_t slotAt = 368 + slot * 4;
    if (damage == "loop") {
        put32At(data1, offset + 4, address);
        resealEntry(data1, offset);
    } else if (damage == "far address") {
        put32At(index, slotAt, (address & 0xFFFF0000u) | 0xFFF0u);
    } else if (damage == "rankings address") {
        put32At(index, slotAt, 0x90000000u | (address & 0xFFFF));
    } else if (damage == "uninitialized address") {
        put32At(index, slotAt, address & 0x7FFFFFFFu);
    } else if (damage == "self hash") {
        put32At(data1, offset + 92, 0x12345678u);
    } else if (damage == "key hash") {
        flipByte(data1, offset + 100);
        resealEntry(data1, offset);
    } else if (damage == "wrong slot") {
        put32At(index, slotAt, 0);
        put32At(index, 368 + ((slot + 1) & 0xFFFF) * 4, address);
        // The chain there may have held an entry of its own.
        const std::size_t other = ReadBlockfileCache(source, "/cache").entries.size();
        QVERIFY(other < sound);
        lost = int(sound - other);
    } else if (damage == "key length") {
        put32At(data1, offset + 32, 5000);
        resealEntry(data1, offset);
    } else if (damage == "evicted") {
        put32At(data1, offset + 20, 1);
        resealEntry(data1, offset);
    } else if (damage == "body address") {
        put32At(data1, offset + 44, 10);
        put32At(data1, offset + 60, 0xA001FFF0u);
        resealEntry(data1, offset);
    } else if (damage == "headers address") {
        put32At(data1, offset + 40, 100);
        put32At(data1, offset + 56, 0xF0000001u);
        resealEntry(data1, offset);
    } else if (damage == "no data_1") {
        source.files.erase("data_1");
    } else if (damage == "data_1 magic") {
        flipByte(data1, 0);
    } else if (damage == "data_1 cut") {
        data1.resize(data1.size() / 3);
    } else if (damage == "no data_2") {
        source.files.erase("data_2");
    } else if (damage == "index magic") {
        flipByte(index, 0);
    } else if (damage == "index cut") {
        index.resize(1000);
    } else if (damage == "table length") {
        put32At(index, 28, 0x100000);
    }
    const StoreListing listing = ReadBlockfileCache(source, "/cache");
    if (lost == -1) {
        QVERIFY(!listing.ok());
        QVERIFY(listing.entries.empty());
        return;
    }
    QVERIFY2(listing.ok(), listing.error.c_str());
    if (lost == -2) {
        // Entries past the cut are skipped as bad addresses; those before it are listed.
        QVERIFY(listing.entries.size() > 0 && listing.entries.size() < sound);
        QCOMPARE(listing.skipWhy.size(), std::size_t(1));
        QCOMPARE(listing.skipWhy.begin()->first, std::string("bad entry address"));
        return;
    }
    QCOMPARE(listing.entries.size(), sound - std::size_t(lost));
    if (reason.isEmpty()) {
        QCOMPARE(listing.skipped, 0u);
    } else {
        QCOMPARE(listing.skipWhy.size(), std::size_t(1));
        QCOMPARE(listing.skipWhy.begin()->first, reason.toStdString());
    }
    if (damage == "body address" || damage == "headers address") {
        // The entry is listed with what can be read; the stream the address fails is missing.
        QCOMPARE(le32(data1, offset + 36), 0u); // a key inside the entry
        const std::string key = data1.substr(offset + 96, le32(data1, offset + 32));
        const StoreEntry *e = findKey(listing, key);
        QVERIFY(e);
        if (damage == "body address") {
            QVERIFY(e->flags & EntryBodyMissing);
            QCOMPARE(e->size, std::uint64_t(10));
        } else {
            QVERIFY(e->flags & EntryHeadersMissing);
            QCOMPARE(text(listing, e->headers), std::string());
        }
    }
    if (damage == "no data_2") {
        // Bodies of 1 KiB blocks are missing now too; the entries stay.
        auto bodiesMissing = [](const StoreListing &l) {
            std::size_t n = 0;
            for (const StoreEntry &e : l.entries)
                n += (e.flags & EntryBodyMissing) ? 1 : 0;
            return n;
        };
        MemoryBlockfileSource whole = blockfileInMemory(Fixtures + "blockfile-plaso-v2/Cache");
        QVERIFY(bodiesMissing(listing) > bodiesMissing(ReadBlockfileCache(whole, "/cache")));
    }
}

void TestChromiumStore::blockfileFilesThatAreNoFiles()
{
    // A FIFO and a link where body files belong: their bodies are missing, nothing blocks.
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString() + "/Cache";
    QVERIFY(copyTree(Fixtures + "blockfile-plaso-v2/Cache", folder));
    QVERIFY(::unlink((folder + "/f_000001").c_str()) == 0);
    QVERIFY(::mkfifo((folder + "/f_000001").c_str(), 0600) == 0);
    QVERIFY(::unlink((folder + "/f_000002").c_str()) == 0);
    QVERIFY(::symlink((folder + "/f_000005").c_str(), (folder + "/f_000002").c_str()) == 0);
    const StoreListing listing = OpenStore(folder)->list();
    QVERIFY(listing.ok());
    QCOMPARE(listing.entries.size(), std::size_t(217));
    std::size_t missing = 0;
    for (const StoreEntry &e : listing.entries)
        missing += (e.flags & EntryBodyMissing) ? 1 : 0;
    const StoreListing sound = OpenStore(Fixtures + "blockfile-plaso-v2/Cache")->list();
    std::size_t soundMissing = 0;
    for (const StoreEntry &e : sound.entries)
        soundMissing += (e.flags & EntryBodyMissing) ? 1 : 0;
    QCOMPARE(missing, soundMissing + 2);
}

QTEST_GUILESS_MAIN(TestChromiumStore)
#include "tst_chromiumstore.moc"
