// The store seam's own pieces: content decoding, bodies kept inside containers, response
// heads and dates, and recognising which kind of store a folder holds.

#include "stores/bodies.h"
#include "stores/bodydecoder.h"
#include "stores/calendar.h"
#include "stores/parallel.h"
#include "stores/storeregistry.h"
#include "tools/writers/browserwriter.h"
#include "tools/writers/indexdatwriter.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

std::string encoded(const std::string &body, const std::string &coding)
{
    std::string out, error;
    if (!EncodeBody(body, coding, out, error))
        qFatal("encoding failed: %s", error.c_str());
    return out;
}

std::string sampleText()
{
    std::string text;
    for (int i = 0; i < 4000; ++i)
        text += "line " + std::to_string(i) + " \xE4\xB8\xAD\xE6\x96\x87 of a cached page\n";
    return text;
}

bool writeFile(const QString &path, const std::string &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes.data(), qint64(bytes.size())) == qint64(bytes.size());
}

std::string decodedFromContainer(const BodyRef &ref, StoreResult *result = nullptr, bool *cut = nullptr)
{
    std::string out;
    const StoreResult r = ReadDecodedBody(
        ref,
        [&](std::string_view piece) {
            out.append(piece);
            return true;
        },
        nullptr, cut);
    if (result)
        *result = r;
    return out;
}

} // namespace

class TestStores : public QObject {
    Q_OBJECT
private slots:
    void roundTrips_data();
    void roundTrips();
    void contextsKeptBetweenBodies();
    void damagedBodies_data();
    void damagedBodies();
    void emptyBodies();
    void bombsAreCut_data();
    void bombsAreCut();
    void rangeInsideContainer();
    void httpDates_data();
    void httpDates();
    void calendar_data();
    void calendar();
    void parallelParts_data();
    void parallelParts();
    void responseFacts();
    void plannedNames_data();
    void plannedNames();
    void bodyFileWrittenOnceAndRefreshed();
    void bodyFileNeverOutsideItsFolder();
    void containersThatAreNoFiles();
    void claimKeepsOnlyRunningInstances();
    void foreignBodiesFolderRefused_data();
    void foreignBodiesFolderRefused();
    void plantedLinkNotFollowed_data();
    void plantedLinkNotFollowed();
    void bodiesKeepToTheirBudget();
    void bodyStopsBeforeTheDiskFills();
    void probing_data();
    void probing();
    void foundOnThisMachine();
};

void TestStores::roundTrips_data()
{
    QTest::addColumn<QString>("coding");
    for (const char *c : {"gzip", "x-gzip", "deflate", "br", "zstd", "gzip, br", "br, gzip, zstd", "identity", ""})
        QTest::newRow(*c ? c : "none") << QString::fromLatin1(c);
}

void TestStores::roundTrips()
{
    QFETCH(QString, coding);
    const std::string body = sampleText();
    const std::string stored = encoded(body, coding.toStdString());
    const DecodedBody decoded = DecodeBody(stored, coding.toStdString());
    QVERIFY2(decoded.error.empty(), decoded.error.c_str());
    QVERIFY(!decoded.cut);
    QCOMPARE(decoded.bytes.size(), body.size());
    QVERIFY(decoded.bytes == body);
    QCOMPARE(decoded.decoded, !ContentCodings(coding.toStdString()).empty());

    // Fed in small pieces, the streaming decoder gives the same.
    BodyDecoder streaming(coding.toStdString(), DecodeLimitFor(stored.size()));
    std::string out;
    for (std::size_t i = 0; i < stored.size(); i += 7)
        QVERIFY(streaming.feed(std::string_view(stored).substr(i, 7), out));
    QVERIFY(streaming.finish(out));
    QVERIFY(out == body);
}

void TestStores::contextsKeptBetweenBodies()
{
    // The thread keeps its decoding contexts from body to body: one left in the middle of a
    // damaged, cut or stopped stream, or set up for another kind of stream, decodes the next
    // body as a new one would.
    const std::string text = sampleText();
    const std::string gz = encoded(text, "gzip");
    const std::string zlib = encoded(text, "deflate");
    const std::string raw = zlib.substr(2, zlib.size() - 6);
    const std::string zst = encoded(text, "zstd");
    const std::string bomb = encoded(std::string(std::size_t(8) << 20, 'a'), "gzip");
    const struct {
        std::string stored;
        const char *coding;
        bool whole; // decodes to the text
    } bodies[] = {{gz.substr(0, gz.size() / 2), "gzip", false},
                  {raw, "deflate", true},
                  {gz, "gzip", true},
                  {zlib, "deflate", true},
                  {bomb, "gzip", false},
                  {gz, "gzip", true},
                  {zst.substr(0, zst.size() / 2), "zstd", false},
                  {zst, "zstd", true},
                  {"not gzip at all", "gzip", false},
                  {raw, "deflate", true}};
    for (int round = 0; round < 2; ++round)
        for (const auto &body : bodies) {
            const DecodedBody decoded = DecodeBody(body.stored, body.coding);
            if (body.whole)
                QVERIFY2(decoded.decoded && decoded.bytes == text, body.coding);
            // A decoder dropped after its first piece leaves its stream half read.
            BodyDecoder stopped(body.coding, DecodeLimitFor(body.stored.size()));
            std::string out;
            stopped.feed(std::string_view(body.stored).substr(0, body.stored.size() / 3), out);
        }
}

void TestStores::damagedBodies_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("coding");
    QTest::addColumn<bool>("decoded");
    QTest::addColumn<QByteArray>("expected"); // empty: the stored bytes

    const std::string text = sampleText();
    const std::string gz = encoded(text, "gzip");
    const std::string br = encoded(text, "br");
    QTest::newRow("gzip cut short") << QByteArray::fromStdString(gz.substr(0, gz.size() / 2)) << "gzip" << false
                                    << QByteArray();
    QTest::newRow("br cut short") << QByteArray::fromStdString(br.substr(0, br.size() - 3)) << "br" << false
                                  << QByteArray();
    QTest::newRow("not gzip at all") << QByteArray("plain text sent as gzip") << "gzip" << false << QByteArray();
    QTest::newRow("shared dictionary") << QByteArray("\xff\x44\x43\x42 dictionary body") << "dcb" << false
                                       << QByteArray();
    QTest::newRow("unknown coding") << QByteArray::fromStdString(gz) << "gzip, compress" << false << QByteArray();
    // Two gzip members, as some servers send, make one body.
    QTest::newRow("two gzip members") << QByteArray::fromStdString(encoded("first ", "gzip")
                                                                   + encoded("second", "gzip"))
                                      << "gzip" << true << QByteArray("first second");
    // A raw deflate stream under "deflate", as some servers send it.
    std::string raw;
    {
        const std::string zlibStream = encoded("raw deflate body", "deflate");
        raw = zlibStream.substr(2, zlibStream.size() - 6); // without the zlib header and checksum
    }
    QTest::newRow("raw deflate") << QByteArray::fromStdString(raw) << "deflate" << true
                                 << QByteArray("raw deflate body");
}

void TestStores::damagedBodies()
{
    QFETCH(QByteArray, stored);
    QFETCH(QString, coding);
    QFETCH(bool, decoded);
    QFETCH(QByteArray, expected);
    const DecodedBody body = DecodeBody(stored.toStdString(), coding.toStdString());
    QCOMPARE(body.decoded, decoded);
    QCOMPARE(QByteArray::fromStdString(body.bytes), expected.isEmpty() ? stored : expected);
    QCOMPARE(body.error.empty(), decoded);
    if (!decoded)
        return;
    // A byte at a time, as a slow container read might hand it out: the same body.
    BodyDecoder streaming(coding.toStdString(), DecodeLimitFor(std::size_t(stored.size())));
    std::string out;
    for (const char c : stored)
        QVERIFY(streaming.feed(std::string_view(&c, 1), out));
    QVERIFY(streaming.finish(out));
    QCOMPARE(QByteArray::fromStdString(out), expected);
}

void TestStores::emptyBodies()
{
    // A redirect or a 304 often names a coding for a body of nothing.
    for (const char *coding : {"gzip", "br", "zstd", "dcb"}) {
        const DecodedBody body = DecodeBody({}, coding);
        QVERIFY(body.error.empty());
        QVERIFY(body.bytes.empty());
    }
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("c"), "bytes around an empty body"));
    StoreResult result;
    QVERIFY(decodedFromContainer(BodyRef{dir.filePath("c").toStdString(), 5, 0, "gzip"}, &result).empty());
    QVERIFY(result.ok());
}

void TestStores::bombsAreCut_data()
{
    QTest::addColumn<QString>("coding");
    QTest::addColumn<int>("megabytes");
    QTest::newRow("br of zeros") << "br" << 64;
    QTest::newRow("gzip of gzip") << "gzip, gzip" << 64;
    QTest::newRow("zstd of zeros") << "zstd" << 64;
}

void TestStores::bombsAreCut()
{
    QFETCH(QString, coding);
    QFETCH(int, megabytes);
    const std::string stored = encoded(std::string(std::size_t(megabytes) << 20, '\0'), coding.toStdString());
    QVERIFY(stored.size() < 200 * 1024);
    const DecodedBody body = DecodeBody(stored, coding.toStdString());
    QVERIFY(body.cut);
    QCOMPARE(std::uint64_t(body.bytes.size()), DecodeLimitFor(stored.size()));
    QVERIFY(body.bytes.size() < (std::size_t(megabytes) << 20));
}

void TestStores::rangeInsideContainer()
{
    QTemporaryDir dir;
    const std::string body = sampleText();
    const std::string stored = encoded(body, "br");
    const QString container = dir.filePath("entry");
    QVERIFY(writeFile(container, "HEAD" + stored + "tail bytes that are no body"));
    BodyRef ref{container.toStdString(), 4, stored.size(), "br"};
    StoreResult result;
    QVERIFY(decodedFromContainer(ref, &result) == body);
    QVERIFY(result.ok());

    // A container shorter than the entry says: what is there, and the reason.
    ref.size = stored.size() + 10000;
    ref.contentEncoding.clear();
    const std::string partial = decodedFromContainer(ref, &result);
    QCOMPARE(result.error, StoreError::Damaged);
    QVERIFY(!partial.empty());
}

void TestStores::httpDates_data()
{
    QTest::addColumn<QString>("date");
    QTest::addColumn<qint64>("unix");
    QTest::newRow("IMF") << "Sun, 06 Nov 1994 08:49:37 GMT" << qint64(784111777);
    QTest::newRow("RFC 850") << "Sunday, 06-Nov-94 08:49:37 GMT" << qint64(784111777);
    QTest::newRow("asctime") << "Sun Nov  6 08:49:37 1994" << qint64(784111777);
    QTest::newRow("leap day") << "Thu, 29 Feb 2024 23:59:59 GMT" << qint64(1709251199);
    QTest::newRow("garbage") << "yesterday" << qint64(0);
    QTest::newRow("zero") << "0" << qint64(0);
    QTest::newRow("day 32") << "Sun, 32 Nov 1994 08:49:37 GMT" << qint64(0);
    QTest::newRow("hour 25") << "Sun, 06 Nov 1994 25:49:37 GMT" << qint64(0);
}

void TestStores::httpDates()
{
    QFETCH(QString, date);
    QFETCH(qint64, unix);
    const StoreTime t = StoreTimeFromHttpDate(date.toStdString());
    QCOMPARE(t == 0 ? qint64(0) : qint64(UnixFromStoreTime(t)), unix);
}

// The day counts of the old hand-written calendar, which every stored time went through.
void TestStores::calendar_data()
{
    QTest::addColumn<int>("year");
    QTest::addColumn<uint>("month");
    QTest::addColumn<uint>("day");
    QTest::addColumn<qint64>("days");
    QTest::addColumn<bool>("dateOfItsOwn"); // false: a day past its month's end
    QTest::newRow("1970") << 1970 << 1u << 1u << qint64(0) << true;
    QTest::newRow("the day before") << 1969 << 12u << 31u << qint64(-1) << true;
    QTest::newRow("1601, FILETIME's start") << 1601 << 1u << 1u << qint64(-134774) << true;
    QTest::newRow("leap day of 1600") << 1600 << 2u << 29u << qint64(-135081) << true;
    QTest::newRow("1900 has no leap day") << 1900 << 3u << 1u << qint64(-25508) << true;
    QTest::newRow("leap day of 2000") << 2000 << 2u << 29u << qint64(11016) << true;
    QTest::newRow("DOS dates start") << 1980 << 1u << 1u << qint64(3652) << true;
    QTest::newRow("DOS dates end") << 2107 << 12u << 31u << qint64(50402) << true;
    QTest::newRow("9999") << 9999 << 12u << 31u << qint64(2932896) << true;
    QTest::newRow("year 0 leap day") << 0 << 2u << 29u << qint64(-719469) << true;
    QTest::newRow("negative year") << -1 << 12u << 31u << qint64(-719529) << true;
    QTest::newRow("first day") << -32767 << 1u << 1u << qint64(FirstCalendarDay) << true;
    QTest::newRow("last day") << 32767 << 12u << 31u << qint64(LastCalendarDay) << true;
    QTest::newRow("31 February counts on") << 2001 << 2u << 31u << qint64(11384) << false;
}

void TestStores::calendar()
{
    QFETCH(int, year);
    QFETCH(uint, month);
    QFETCH(uint, day);
    QFETCH(qint64, days);
    QFETCH(bool, dateOfItsOwn);
    QCOMPARE(qint64(DaysFromCivil(year, month, day)), days);
    if (!dateOfItsOwn)
        return;
    const CivilDate date = CivilFromDays(days);
    QCOMPARE(date.year, std::int64_t(year));
    QCOMPARE(date.month, month);
    QCOMPARE(date.day, day);
    // Beyond std::chrono's years the 400-year cycle carries on: far dates of damaged times
    // still format.
    for (const std::int64_t cycles : {-100, 100}) {
        const CivilDate far = CivilFromDays(days + cycles * 146097);
        QCOMPARE(far.year, year + cycles * 400);
        QCOMPARE(far.month, month);
        QCOMPARE(far.day, day);
    }
}

// Every part runs once, the first on the caller's thread, and the shares cover the items in
// order without a gap or an overlap, also where there are more parts than items.
void TestStores::parallelParts_data()
{
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("count");
    QTest::newRow("nothing to do") << 0 << 0;
    QTest::newRow("one part") << 7 << 1;
    QTest::newRow("halves") << 4001 << 2;
    QTest::newRow("four shares, uneven") << 9 << 4;
    QTest::newRow("more parts than items") << 2 << 4;
}

void TestStores::parallelParts()
{
    QFETCH(int, total);
    QFETCH(int, count);
    std::vector<std::atomic<int>> taken(static_cast<std::size_t>(total));
    std::vector<std::atomic<int>> ran(static_cast<std::size_t>(count));
    std::atomic<bool> firstHere{count == 0};
    const std::thread::id caller = std::this_thread::get_id();
    ParallelParts(std::size_t(count), [&](std::size_t part) {
        ++ran[part];
        if (part == 0)
            firstHere = std::this_thread::get_id() == caller;
        const PartRange range = ShareOf(std::size_t(total), std::size_t(count), part);
        for (std::size_t i = range.begin; i < range.end; ++i)
            ++taken[i];
    });
    QVERIFY(firstHere);
    for (const auto &r : ran)
        QCOMPARE(r.load(), 1);
    for (const auto &t : taken)
        QCOMPARE(t.load(), 1);
    std::size_t next = 0;
    for (int part = 0; part < count; ++part) {
        const PartRange range = ShareOf(std::size_t(total), std::size_t(count), std::size_t(part));
        QCOMPARE(range.begin, next);
        QVERIFY(range.end >= range.begin);
        next = range.end;
    }
    QCOMPARE(next, std::size_t(count ? total : 0));
}

void TestStores::responseFacts()
{
    const ResponseFacts crlf = ReadResponseFacts("HTTP/1.1 404 Not Found\r\nContent-Type: Text/HTML; charset=gbk\r\n"
                                                 "content-encoding: BR\r\nLast-Modified: x\r\n\r\n");
    QCOMPARE(crlf.status, std::uint16_t(404));
    QCOMPARE(crlf.contentType, std::string("text/html"));
    QCOMPARE(crlf.contentEncoding, std::string("br"));
    QCOMPARE(crlf.lastModified, std::string("x"));
    // Chromium keeps its lines NUL-separated.
    const std::string nul("HTTP/1.1 200\0content-type: image/png\0\0", 39);
    const ResponseFacts chromium = ReadResponseFacts(nul);
    QCOMPARE(chromium.status, std::uint16_t(200));
    QCOMPARE(chromium.contentType, std::string("image/png"));
    QCOMPARE(ReadResponseFacts("no status line: here\r\n").status, std::uint16_t(0));
    // The first Content-Length decides; one that is not a plain number means none.
    QCOMPARE(ReadResponseFacts("HTTP/1.1 200\r\nContent-Length: 8192\r\n").contentLength,
             std::optional<std::uint64_t>(8192));
    QCOMPARE(ReadResponseFacts("HTTP/1.1 200\r\ncontent-length:12\r\nContent-Length: 99\r\n").contentLength,
             std::optional<std::uint64_t>(12));
    QVERIFY(!ReadResponseFacts("HTTP/1.1 200\r\nContent-Length: -1\r\nContent-Length: 5\r\n").contentLength);
    QVERIFY(!ReadResponseFacts("HTTP/1.1 200\r\nContent-Length: 1234567890123456789\r\n").contentLength);
    QVERIFY(!crlf.contentLength);
}

void TestStores::plannedNames_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("name");
    QTest::newRow("name kept") << "https://a.example/js/app.min.js?v=3"
                               << "application/javascript"
                               << "app.min.js";
    QTest::newRow("type gives extension") << "https://a.example/search?q=x"
                                          << "text/html"
                                          << "search.html";
    QTest::newRow("folder URL") << "https://a.example/news/"
                                << "text/html"
                                << "index.html";
    QTest::newRow("escaped UTF-8") << "https://a.example/%E4%B8%AD%E6%96%87.txt"
                                   << "text/plain" << QString::fromUtf8("中文.txt");
    QTest::newRow("UTF-8 unescaped") << QString::fromUtf8("https://a.example/%E4%B8%AD/中文 1.txt?x") << "text/plain"
                                     << QString::fromUtf8("中文 1.txt");
    QTest::newRow("escaped slash stays inside") << "https://a.example/a%2F..%2Fb"
                                                << ""
                                                << "a_.._b";
    QTest::newRow("dot file") << "https://a.example/.htaccess"
                              << ""
                              << "_htaccess";
    QTest::newRow("unknown type") << "https://a.example/api/items"
                                  << "application/x-unknown-thing"
                                  << "items";
    QTest::newRow("no path") << "https://a.example"
                             << "image/png"
                             << "index.png";
}

void TestStores::plannedNames()
{
    QFETCH(QString, url);
    QFETCH(QString, type);
    QFETCH(QString, name);
    QTemporaryDir dir;
    SetBodiesFolder(dir.path().toStdString());
    const QString path =
        QString::fromStdString(PlannedBodyPath("/store", "ABC123", url.toStdString(), type.toStdString()));
    SetBodiesFolder({});
    QVERIFY2(path.startsWith(dir.path() + '/'), qPrintable(path));
    QCOMPARE(path.section('/', -1), name);
    QCOMPARE(path.section('/', -2, -2), QStringLiteral("ABC123"));
    QCOMPARE(QDir::cleanPath(path), path);
}

void TestStores::bodyFileWrittenOnceAndRefreshed()
{
    QTemporaryDir cache, bodies;
    SetBodiesFolder(bodies.path().toStdString());
    const std::string body = sampleText();
    const QString container = cache.filePath("entries/ENTRY");
    QVERIFY(writeFile(container, encoded(body, "gzip")));
    const BodyRef ref{container.toStdString(), 0, std::uint64_t(QFileInfo(container).size()), "gzip"};
    const std::string local = PlannedBodyPath(cache.path().toStdString(), "ENTRY", "http://a.example/p.htm", "");

    QVERIFY(WriteBodyFile(ref, local).ok());
    QFile file(QString::fromStdString(local));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().toStdString() == body);
    file.close();
    struct stat st {};
    QVERIFY(::stat(local.c_str(), &st) == 0);
    QCOMPARE(st.st_mode & 0777, mode_t(0600));
    QVERIFY(::stat(QFileInfo(QString::fromStdString(local)).path().toLocal8Bit().constData(), &st) == 0);
    QCOMPARE(st.st_mode & 0777, mode_t(0700));

    // Unchanged container: the file is reused as it is (a mark put into it stays).
    QVERIFY(writeFile(QString::fromStdString(local), "marked"));
    QVERIFY(WriteBodyFile(ref, local).ok());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("marked"));
    file.close();

    // The browser rewrote the entry: the file follows. A body that no longer decodes is
    // offered as stored.
    QVERIFY(writeFile(container, "not gzip any more"));
    BodyRef changed = ref;
    changed.size = 17;
    QVERIFY(WriteBodyFile(changed, local).ok());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("not gzip any more"));
    file.close();
    // Nothing was ever written beside the container.
    QCOMPARE(QDir(cache.filePath("entries")).entryList(QDir::Files | QDir::Hidden), QStringList{"ENTRY"});
    SetBodiesFolder({});
}

void TestStores::bodyFileNeverOutsideItsFolder()
{
    QTemporaryDir cache, bodies;
    SetBodiesFolder(bodies.path().toStdString());
    const QString container = cache.filePath("c");
    QVERIFY(writeFile(container, "body"));
    const BodyRef ref{container.toStdString(), 0, 4, ""};
    for (const QString &target :
         {cache.filePath("written-into-cache"), bodies.path() + "/../escaped", bodies.path() + "x/sibling"}) {
        const StoreResult r = WriteBodyFile(ref, target.toStdString());
        QCOMPARE(r.error, StoreError::Denied);
        QVERIFY(!QFileInfo::exists(target));
    }
    SetBodiesFolder({});
}

void TestStores::containersThatAreNoFiles()
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath("fifo");
    QVERIFY(::mkfifo(fifo.toLocal8Bit().constData(), 0600) == 0);
    const QString target = dir.filePath("secret");
    QVERIFY(writeFile(target, "private"));
    const QString link = dir.filePath("link");
    QVERIFY(QFile::link(target, link));
    for (const QString &container : {fifo, link, dir.path(), QStringLiteral("/dev/zero")}) {
        StoreResult result;
        const std::string got = decodedFromContainer(BodyRef{container.toStdString(), 0, 7, ""}, &result);
        QVERIFY2(!result.ok(), qPrintable(container)); // and it returned at once: no hang on the FIFO
        QVERIFY(got.empty());
    }
}

void TestStores::claimKeepsOnlyRunningInstances()
{
    QTemporaryDir bodies;
    SetBodiesFolder(bodies.path().toStdString());
    QVERIFY(writeFile(bodies.filePath("old/left/over.htm"), "x"));
    QVERIFY(writeFile(bodies.filePath("run-1-killed/.hold"), ""));
    QVERIFY(writeFile(bodies.filePath("run-1-killed/s/e/big.htm"), "x"));
    QVERIFY(writeFile(bodies.filePath("run-2-running/.hold"), ""));
    QVERIFY(writeFile(bodies.filePath("run-2-running/s/e/shown.htm"), "x"));
    const int other = ::open(bodies.filePath("run-2-running/.hold").toLocal8Bit().constData(), O_RDONLY);
    QVERIFY(other >= 0 && ::flock(other, LOCK_EX | LOCK_NB) == 0);

    QCOMPARE(QString::fromStdString(ClaimBodiesFolder()), QString());
    const QString mine = QFileInfo(QString::fromStdString(BodiesFolder())).fileName();
    QStringList left = QDir(bodies.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    QStringList expected{"run-2-running", mine};
    left.sort();
    expected.sort();
    QCOMPARE(left, expected);
    QVERIFY(QFileInfo::exists(bodies.filePath("run-2-running/s/e/shown.htm")));
    ReleaseBodiesFolder();
    QVERIFY(!QFileInfo::exists(bodies.filePath(mine)));

    // Once that instance is gone, the next one removes its bodies.
    ::close(other);
    QCOMPARE(QString::fromStdString(ClaimBodiesFolder()), QString());
    QVERIFY(!QFileInfo::exists(bodies.filePath("run-2-running")));
    ReleaseBodiesFolder();
    SetBodiesFolder({});
}

void TestStores::foreignBodiesFolderRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("link to the user's folder") << "link";
    QTest::newRow("open to other users") << "mode";
}

void TestStores::foreignBodiesFolderRefused()
{
    QFETCH(QString, kind);
    QTemporaryDir home;
    const QString documents = home.filePath("Documents");
    QVERIFY(writeFile(documents + "/thesis.odt", "the user's own"));
    const QString bodies = home.filePath("bodies");
    if (kind == "link") {
        QVERIFY(QFile::link(documents, bodies));
    } else {
        QVERIFY(QDir().mkdir(bodies));
        QVERIFY(::chmod(bodies.toLocal8Bit().constData(), 0755) == 0);
        QVERIFY(writeFile(bodies + "/run-1-old/x.htm", "x"));
    }
    SetBodiesFolder(bodies.toStdString());
    const QString message = QString::fromStdString(ClaimBodiesFolder());
    QVERIFY2(message.contains(bodies), qPrintable(message));

    const QString container = home.filePath("c");
    QVERIFY(writeFile(container, "body"));
    const std::string local = PlannedBodyPath(home.path().toStdString(), "E", "http://a.example/p.htm", "");
    QCOMPARE(WriteBodyFile(BodyRef{container.toStdString(), 0, 4, ""}, local).error, StoreError::Denied);
    ReleaseBodiesFolder();
    SetBodiesFolder({});
    QStringList there = QDir(documents).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    QCOMPARE(there, QStringList{"thesis.odt"});
    if (kind == "mode")
        QVERIFY(QFileInfo::exists(bodies + "/run-1-old/x.htm"));
}

void TestStores::plantedLinkNotFollowed_data()
{
    QTest::addColumn<int>("depth"); // how many parts of the body's path stay above the link
    QTest::addColumn<bool>("written");
    QTest::newRow("store folder") << 1 << false;
    QTest::newRow("entry folder") << 2 << false;
    QTest::newRow("body file") << 3 << true;
}

void TestStores::plantedLinkNotFollowed()
{
    QFETCH(int, depth);
    QFETCH(bool, written);
    QTemporaryDir bodies, elsewhere;
    SetBodiesFolder(bodies.path().toStdString());
    QCOMPARE(QString::fromStdString(ClaimBodiesFolder()), QString());
    const QString victim = elsewhere.filePath("victim");
    QVERIFY(writeFile(victim, "the user's own"));
    const QString container = elsewhere.filePath("c");
    QVERIFY(writeFile(container, "body"));
    const std::string local = PlannedBodyPath("/store", "E", "http://a.example/victim", "");
    const QString path = QString::fromStdString(local);
    const QString relative = path.mid(QString::fromStdString(BodiesFolder()).size() + 1);
    const QString planted = QString::fromStdString(BodiesFolder()) + '/' + relative.section('/', 0, depth - 1);
    QVERIFY(QDir().mkpath(QFileInfo(planted).path()));
    QVERIFY(QFile::link(depth == 3 ? victim : elsewhere.path(), planted));

    const StoreResult result = WriteBodyFile(BodyRef{container.toStdString(), 0, 4, ""}, local);
    QVERIFY2(result.ok() == written, result.reason.c_str());
    QFile file(victim);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("the user's own"));
    if (written) // the link itself was replaced
        QVERIFY(!QFileInfo(path).isSymLink() && QFileInfo(path).size() == 4);
    QCOMPARE(QDir(elsewhere.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    SetBodiesFolder({});
}

void TestStores::bodiesKeepToTheirBudget()
{
    QTemporaryDir bodies, cache;
    SetBodiesFolder(bodies.path().toStdString());
    SetBodiesLimits(1024 * 1024, 0);
    // Bombs of a page's frames: small stored, large decoded.
    const QString container = cache.filePath("bomb");
    QVERIFY(writeFile(container, encoded(std::string(300 * 1024, 'a'), "gzip")));
    const BodyRef bomb{container.toStdString(), 0, std::uint64_t(QFileInfo(container).size()), "gzip"};
    std::vector<std::string> frames;
    for (int i = 0; i < 5; ++i) {
        frames.push_back(PlannedBodyPath("/store", "E" + std::to_string(i), "http://a.example/f.htm", ""));
        QVERIFY(WriteBodyFile(bomb, frames.back()).ok());
        QVERIFY(WriteBodyFile(bomb, frames.front()).ok()); // the first frame is asked for again and again
    }
    QVERIFY(QFileInfo::exists(QString::fromStdString(frames.front())));
    QVERIFY(QFileInfo::exists(QString::fromStdString(frames.back())));
    QVERIFY(!QFileInfo::exists(QString::fromStdString(frames[1]))); // asked for longest ago
    qint64 total = 0;
    QDirIterator files(bodies.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext())
        total += QFileInfo(files.next()).size();
    QVERIFY2(total <= 1024 * 1024, qPrintable(QString::number(total)));

    // A body larger than the whole budget is still written for the page that needs it.
    const QString big = cache.filePath("big");
    std::string text;
    while (text.size() < 1536 * 1024)
        text += sampleText();
    QVERIFY(writeFile(big, encoded(text, "gzip")));
    const std::string local = PlannedBodyPath("/store", "BIG", "http://a.example/big.htm", "");
    QVERIFY(WriteBodyFile(BodyRef{big.toStdString(), 0, std::uint64_t(QFileInfo(big).size()), "gzip"}, local).ok());
    QCOMPARE(QFileInfo(QString::fromStdString(local)).size(), qint64(text.size()));
    SetBodiesLimits(0, ~std::uint64_t(0));
    ReleaseBodiesFolder();
    SetBodiesFolder({});
}

void TestStores::bodyStopsBeforeTheDiskFills()
{
    QTemporaryDir bodies, cache;
    SetBodiesFolder(bodies.path().toStdString());
    struct statvfs fs {};
    QVERIFY(::statvfs(bodies.path().toLocal8Bit().constData(), &fs) == 0);
    // A margin just below what is free now: the body would cross it.
    SetBodiesLimits(0, std::uint64_t(fs.f_bavail) * fs.f_frsize - 1024 * 1024);
    const QString container = cache.filePath("bomb");
    QVERIFY(writeFile(container, encoded(std::string(32 * 1024 * 1024, 'a'), "gzip")));
    const std::string local = PlannedBodyPath("/store", "E", "http://a.example/f.htm", "");
    const StoreResult result =
        WriteBodyFile(BodyRef{container.toStdString(), 0, std::uint64_t(QFileInfo(container).size()), "gzip"}, local);
    SetBodiesLimits(0, ~std::uint64_t(0));
    QCOMPARE(result.error, StoreError::DiskFull);
    QVERIFY(QDir(QFileInfo(QString::fromStdString(local)).path()).isEmpty(QDir::Files | QDir::Hidden));
    SetBodiesFolder({});
}

void TestStores::probing_data()
{
    QTest::addColumn<QString>("layout"); // what to make, then the path to probe after '>'
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("folder"); // the store folder found, relative
    QTest::newRow("wininet folder") << "wininet:s>s"
                                    << "wininet"
                                    << "s";
    QTest::newRow("wininet index file") << "wininet:s>s/index.dat"
                                        << "wininet"
                                        << "s";
    QTest::newRow("firefox cache2") << "dir:p/cache2/entries>p/cache2"
                                    << "firefox"
                                    << "p/cache2";
    QTest::newRow("firefox profile") << "dir:p/cache2/entries>p"
                                     << "firefox"
                                     << "p/cache2";
    QTest::newRow("firefox entries") << "dir:p/cache2/entries>p/cache2/entries"
                                     << "firefox"
                                     << "p/cache2";
    QTest::newRow("firefox entry files alone") << "ffentry:f>f"
                                               << "firefox"
                                               << "f";
    QTest::newRow("simple index") << "simple:c/Cache/Cache_Data>c/Cache/Cache_Data"
                                  << "chromium-simple"
                                  << "c/Cache/Cache_Data";
    QTest::newRow("simple from profile") << "simple:c/Cache/Cache_Data>c"
                                         << "chromium-simple"
                                         << "c/Cache/Cache_Data";
    QTest::newRow("simple without index") << "entry:c/Cache>c/Cache"
                                          << "chromium-simple"
                                          << "c/Cache";
    QTest::newRow("blockfile") << "blockfile:b/Cache>b/Cache"
                               << "chromium-blockfile"
                               << "b/Cache";
    QTest::newRow("SQL backend") << "sql:q/Cache/Cache_Data>q/Cache/Cache_Data"
                                 << "none"
                                 << "";
    QTest::newRow("empty folder") << "dir:e>e"
                                  << "none"
                                  << "";
    QTest::newRow("missing") << "dir:e>nothing"
                             << "none"
                             << "";
    // Profile folders whose cache lies elsewhere; after '|' files the profile holds.
    QTest::newRow("firefox profile, cache under .cache")
        << "dir:h/.cache/mozilla/firefox/p1.default/cache2/entries>h/.mozilla/firefox/p1.default"
           "|h/.mozilla/firefox/p1.default/times.json={}"
        << "firefox"
        << "h/.cache/mozilla/firefox/p1.default/cache2";
    QTest::newRow("firefox profile in .config")
        << "dir:h/.cache/mozilla/firefox/p2/cache2/entries>h/.config/mozilla/firefox/p2"
           "|h/.config/mozilla/firefox/p2/prefs.js="
        << "firefox"
        << "h/.cache/mozilla/firefox/p2/cache2";
    QTest::newRow("firefox profile, cache where its prefs put it")
        << "dir:elsewhere/cache2/entries>prof"
           "|prof/prefs.js=user_pref(\"browser.cache.disk.parent_directory\", \"<DIR>/elsewhere\");"
        << "firefox"
        << "elsewhere/cache2";
    QTest::newRow("chromium profile") << "simple:h/.cache/chromium/Default/Cache/Cache_Data>h/.config/chromium/Default"
                                         "|h/.config/chromium/Default/Preferences={}"
                                      << "chromium-simple"
                                      << "h/.cache/chromium/Default/Cache/Cache_Data";
    QTest::newRow("chromium user data: its last used profile")
        << "simple:h/.cache/chromium/Profile 2/Cache/Cache_Data>h/.config/chromium"
           "|h/.config/chromium/Local State={\"profile\":{\"last_used\":\"Profile 2\"}}"
           "|h/.config/chromium/Profile 2/Preferences={}|h/.config/chromium/Default/Preferences={}"
        << "chromium-simple"
        << "h/.cache/chromium/Profile 2/Cache/Cache_Data";
}

void TestStores::probing()
{
    QFETCH(QString, layout);
    QFETCH(QString, kind);
    QFETCH(QString, folder);
    QTemporaryDir dir;
    const QString what = layout.section(':', 0, 0);
    const QString where = dir.filePath(layout.section(':', 1).section('>', 0, 0));
    const QStringList after = layout.section('>', 1).split('|');
    const QString probed = dir.filePath(after[0]);
    QDir().mkpath(where);
    for (const QString &file : after.mid(1))
        QVERIFY(writeFile(dir.filePath(file.section('=', 0, 0)),
                          file.section('=', 1).replace("<DIR>", dir.path()).toStdString()));
    if (what == "wininet") {
        StoreWriterEntry e;
        e.url = "http://a.example/x.htm";
        e.content = "x";
        QVERIFY(WriteUrlCacheStore(where.toStdString(), {e}).ok);
    } else if (what == "simple") {
        QVERIFY(
            writeFile(where + "/index", std::string("\x30\x5c\x72\xa7\x1b\x6d\xfb\xfc\x05\0\0\0\0\0\0\0\0\0\0\0", 20)));
    } else if (what == "ffentry") {
        QVERIFY(writeFile(where + "/0EDDF8C091E2FED62E44BEDDDC1723F5BF38FE4F", "x"));
    } else if (what == "entry") {
        QVERIFY(writeFile(where + "/0123456789abcdef_0", "x"));
    } else if (what == "blockfile") {
        QVERIFY(writeFile(where + "/index", std::string("\xC3\xCA\x03\xC1\x01\0\x03\0", 8)));
    } else if (what == "sql") {
        QVERIFY(writeFile(where + "/sqldb0", "x"));
    }
    const StoreProbe probe = ProbeStore(probed.toStdString());
    QCOMPARE(QString::fromLatin1(StoreKindId(probe.kind)), kind);
    if (kind == "none") {
        QVERIFY(!probe.why.empty());
        if (what == "sql")
            QVERIFY(QString::fromStdString(probe.why).contains("SQL"));
        const auto store = OpenStore(probed.toStdString());
        QCOMPARE(store->kind(), StoreKind::None);
        QCOMPARE(store->list().error, store->describe());
    } else {
        QCOMPARE(QString::fromStdString(probe.folder), dir.filePath(folder));
        // The kind's row opens what its probe found, and its id names it back.
        QCOMPARE(StoreKindFromId(kind.toStdString()), probe.kind);
        QCOMPARE(OpenStore(probed.toStdString())->kind(), probe.kind);
    }
}

void TestStores::foundOnThisMachine()
{
    QTemporaryDir dir;
    const QString home = dir.filePath("home");
    // Firefox: one relative profile with a cache, one without; a snap install.
    QVERIFY(writeFile(home + "/.mozilla/firefox/profiles.ini",
                      "[Profile1]\nName=work\nIsRelative=1\nPath=ab.work\n\n[Profile0]\nName=default-release\n"
                      "IsRelative=1\nPath=xy.default-release\n\n[Profile2]\nName=evil\nIsRelative=1\nPath=../../x\n"));
    QDir().mkpath(home + "/.cache/mozilla/firefox/xy.default-release/cache2/entries");
    QVERIFY(writeFile(home + "/snap/firefox/common/.mozilla/firefox/profiles.ini",
                      "[Profile0]\nName=default\nIsRelative=1\nPath=s.default\n"));
    QDir().mkpath(home + "/snap/firefox/common/.cache/mozilla/firefox/s.default/cache2/entries");
    // Chrome: Local State names a profile; its cache uses the newer Cache_Data folder.
    QVERIFY(writeFile(home + "/.config/google-chrome/Local State",
                      R"({"profile":{"info_cache":{"Profile 1":{"name":"Work"},"../x":{}}}})"));
    QDir().mkpath(home + "/.config/google-chrome/Profile 1");
    QVERIFY(writeFile(home + "/.cache/google-chrome/Profile 1/Cache/Cache_Data/0123456789abcdef_0", "x"));
    // Brave: the default profile, older layout.
    QVERIFY(writeFile(home + "/.cache/BraveSoftware/Brave-Browser/Default/Cache/fedcba9876543210_0", "x"));

    // A store named in TIDEWRACK_STORES comes last, under its folder's name; a folder there
    // without a store is left out.
    StoreWriterEntry one;
    one.url = "http://a.example/x.htm";
    one.content = "x";
    QVERIFY(WriteUrlCacheStore(dir.filePath("demo-store").toStdString(), {one}).ok);

    StoreSearchRoots roots;
    roots.home = home.toStdString();
    roots.userName = "me";
    roots.extraStores = {dir.filePath("demo-store").toStdString(), dir.filePath("nothing").toStdString()};
    std::vector<FoundStore> found = FindStores(roots);
    QCOMPARE(found.back().name, std::string("IE \u2013 demo-store"));
    QCOMPARE(found.back().path, dir.filePath("demo-store").toStdString());
    found.pop_back();
    QStringList names, paths;
    for (const FoundStore &f : found) {
        names << QString::fromStdString(f.name);
        paths << QString::fromStdString(f.path).mid(home.size() + 1);
    }
    QCOMPARE(names,
             (QStringList{QString::fromUtf8("Firefox – default-release"), QString::fromUtf8("Firefox (snap) – default"),
                          QString::fromUtf8("Chrome – Profile 1"), QString::fromUtf8("Brave – Default")}));
    QCOMPARE(paths,
             (QStringList{".cache/mozilla/firefox/xy.default-release/cache2",
                          "snap/firefox/common/.cache/mozilla/firefox/s.default/cache2",
                          ".cache/google-chrome/Profile 1/Cache/Cache_Data",
                          ".cache/BraveSoftware/Brave-Browser/Default/Cache"}));
    QCOMPARE(QString::fromStdString(BrowserNameFor(found[2].kind, found[2].path)), QStringLiteral("Chrome"));
    QCOMPARE(QString::fromStdString(BrowserNameFor(found[3].kind, found[3].path)), QStringLiteral("Brave"));

    // At start, with nothing named and no Wine cache, the first found is opened; a remembered
    // choice that still holds a store comes first.
    QCOMPARE(ChooseStartStore({}, roots).path, found[0].path);
    StartChoice remembered;
    remembered.remembered = found[2].path;
    QCOMPARE(ChooseStartStore(remembered, roots).path, found[2].path);
    remembered.remembered = dir.filePath("gone").toStdString();
    QCOMPARE(ChooseStartStore(remembered, roots).path, found[0].path);
    StartChoice named;
    named.commandLine = dir.filePath("gone").toStdString();
    named.environment = found[1].path;
    QCOMPARE(ChooseStartStore(named, roots).path, named.commandLine); // shown with its reason, not skipped
}

QTEST_GUILESS_MAIN(TestStores)
#include "tst_stores.moc"
