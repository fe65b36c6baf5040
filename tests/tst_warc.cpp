// Web archives as archivists' tools read them: tidewrack-cli writes a .warc.gz from every kind
// of store, this test takes the file apart member by member and recomputes every digest, and
// warcio (the npm package, installed into the build folder on first use) must index every
// record with the same URI, date and digests. The payloads, decoded by Node's zlib as their
// Content-Encoding says, must equal what tidewrack-bench body gives for the same key.

#include "tools/writers/chromiumwriter.h"
#include "tools/writers/firefoxwriter.h"

#include "catalogue/warcwriter.h"
#include "support.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <zlib.h>

namespace {

struct Run {
    int status = -1;
    QByteArray out;
    QByteArray err;
};

Run run(const QString &program, const QStringList &args, const QProcessEnvironment &env = {}, int ms = 120000)
{
    QProcess process;
    if (!env.isEmpty())
        process.setProcessEnvironment(env);
    process.start(program, args);
    Run r;
    if (!process.waitForFinished(ms)) {
        process.kill();
        process.waitForFinished();
        return r;
    }
    r.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    r.out = process.readAllStandardOutput();
    r.err = process.readAllStandardError();
    return r;
}

// A record as this test reads it back.
struct Record {
    QMap<QByteArray, QByteArray> fields; // names lower case
    QByteArray block;
    QByteArray field(const char *name) const { return fields.value(QByteArray(name).toLower()); }
};

// The gzip members of `file`, each inflated on its own; empty on any damage.
QList<QByteArray> members(const QByteArray &file)
{
    QList<QByteArray> out;
    z_stream z{};
    if (inflateInit2(&z, 31) != Z_OK)
        return {};
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(file.constData()));
    z.avail_in = uInt(file.size());
    QByteArray member;
    char buffer[65536];
    while (z.avail_in > 0) {
        z.next_out = reinterpret_cast<Bytef *>(buffer);
        z.avail_out = sizeof buffer;
        const int status = inflate(&z, Z_NO_FLUSH);
        member.append(buffer, qsizetype(sizeof buffer - z.avail_out));
        if (status == Z_STREAM_END) {
            out << member;
            member.clear();
            inflateReset(&z);
        } else if (status != Z_OK) {
            out.clear();
            break;
        }
    }
    if (!member.isEmpty())
        out.clear();
    inflateEnd(&z);
    return out;
}

// One member as one whole record: head, block of Content-Length bytes, CRLF CRLF, nothing more.
bool parseRecord(const QByteArray &member, Record &record)
{
    const qsizetype headEnd = member.indexOf("\r\n\r\n");
    if (!member.startsWith("WARC/1.1\r\n") || headEnd < 0)
        return false;
    const QList<QByteArray> lines = member.left(headEnd).split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return false;
        record.fields.insert(line.left(colon).toLower(), line.mid(colon + 1).trimmed());
    }
    bool ok = false;
    const qsizetype length = record.field("Content-Length").toLongLong(&ok);
    if (!ok || headEnd + 4 + length + 4 != member.size() || !member.endsWith("\r\n\r\n"))
        return false;
    record.block = member.mid(headEnd + 4, length);
    return true;
}

// The records of a plain .warc, one after the other; empty on any damage.
QList<QByteArray> plainRecords(const QByteArray &file)
{
    QList<QByteArray> out;
    for (qsizetype at = 0; at < file.size();) {
        const qsizetype headEnd = file.indexOf("\r\n\r\n", at);
        const qsizetype lengthAt = file.indexOf("\r\nContent-Length: ", at);
        if (headEnd < 0 || lengthAt < 0 || lengthAt > headEnd)
            return {};
        const qsizetype length = file.mid(lengthAt + 18, headEnd - lengthAt - 18).toLongLong();
        const qsizetype end = headEnd + 4 + length + 4;
        if (end > file.size())
            return {};
        out << file.mid(at, end - at);
        at = end;
    }
    return out;
}

// "sha1:" + base32 of the SHA-1 of `bytes`, decoded back to bytes for the comparison.
QByteArray base32Decode(const QByteArray &text)
{
    static const QByteArray Alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
    QByteArray out;
    quint64 bits = 0;
    int count = 0;
    for (const char c : text) {
        if (c == '=')
            break;
        const qsizetype v = Alphabet.indexOf(c);
        if (v < 0)
            return {};
        bits = (bits << 5) | quint64(v);
        count += 5;
        if (count >= 8) {
            count -= 8;
            out.append(char((bits >> count) & 0xFF));
        }
    }
    return out;
}

bool digestMatches(const QByteArray &field, const QByteArray &bytes)
{
    return field.startsWith("sha1:")
        && base32Decode(field.mid(5)) == QCryptographicHash::hash(bytes, QCryptographicHash::Sha1);
}

// The cache key a record names: as written, or with the %XX of a key that was not UTF-8 undone.
QByteArray keyOf(const Record &r, const QMap<QByteArray, QByteArray> &urlByKey)
{
    const QByteArray key = r.field("WARC-Tidewrack-Key");
    return urlByKey.contains(key) ? key : QByteArray::fromPercentEncoding(key);
}

QString isoOf(std::int64_t unixSeconds)
{
    return QDateTime::fromSecsSinceEpoch(unixSeconds, Qt::UTC).toString(Qt::ISODate);
}

// The writer's stores: the same document kept under two partitions and under a second URL,
// with every coding Node can undo.
constexpr std::int64_t Fetched = 1700000000;

std::vector<BrowserWriterEntry> browserEntries()
{
    auto entry = [](const char *url, const char *body, const char *coding, const char *partition, int age) {
        BrowserWriterEntry e;
        e.url = url;
        e.body = body;
        e.contentEncoding = coding;
        e.partition = partition;
        e.fetched = Fetched - age;
        return e;
    };
    const char *page = "<html><body>kept twice, the same bytes</body></html>";
    return {entry("https://cdn.example/lib.js", page, "gzip", "https://a.example", 10),
            entry("https://cdn.example/lib.js", page, "gzip", "https://b.example", 20),
            entry("https://mirror.example/lib.js", page, "gzip", "", 30),
            entry("https://site.example/br.html", "<p>brotli</p>", "br", "", 40),
            entry("https://site.example/deflate.html", "<p>deflate</p>", "deflate", "", 50),
            entry("https://site.example/plain.txt", "plain text body", "", "", 60),
            entry("https://site.example/中文.html?q=%20", "<p>odd url</p>", "", "", 70)};
}

} // namespace

class TestWarc : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void base32_data();
    void base32();
    void archives_data();
    void archives();
    void plainArchive_data();
    void plainArchive();
    void refusesTheCacheFolder();

private:
    QString writeBrowserStore(const QString &kind);
    Run cli(const QStringList &args);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_npm; // the folder warcio is installed in; empty: not available
    QString m_npmWhyNot;
};

void TestWarc::initTestCase()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    // warcio comes from the npm registry the first time; without node or the registry the
    // independent reader's checks are skipped with the reason.
    const QString npm = QStringLiteral(TIDEWRACK_NPM_DIR);
    if (QFileInfo::exists(npm + QStringLiteral("/node_modules/warcio/package.json"))) {
        m_npm = npm;
        return;
    }
    QDir().mkpath(npm);
    const Run installed = run(QStringLiteral("npm"),
                              {QStringLiteral("install"), QStringLiteral("--prefix"), npm, QStringLiteral("--no-audit"),
                               QStringLiteral("--no-fund"), QStringLiteral("warcio@2.4.11")},
                              {}, 240000);
    if (installed.status == 0 && QFileInfo::exists(npm + QStringLiteral("/node_modules/warcio/package.json")))
        m_npm = npm;
    else
        m_npmWhyNot = QStringLiteral("warcio could not be installed from the npm registry (status %1): %2")
                          .arg(installed.status)
                          .arg(QString::fromLocal8Bit(installed.err.right(300)));
}

Run TestWarc::cli(const QStringList &args)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), m_dir->path());
    env.insert(QStringLiteral("XDG_CACHE_HOME"), m_dir->filePath(QStringLiteral("xdg-cache")));
    return run(QStringLiteral(TIDEWRACK_CLI), args, env);
}

QString TestWarc::writeBrowserStore(const QString &kind)
{
    const QString folder = m_dir->filePath(QStringLiteral("stores/") + kind);
    BrowserWriterOptions options;
    options.now = Fetched;
    const BrowserWriteResult written = kind == QLatin1String("firefox")
        ? WriteFirefoxStore(folder.toStdString(), browserEntries(), options)
        : WriteChromiumSimpleStore(folder.toStdString(), browserEntries(), options);
    if (!written.ok)
        qWarning("%s", written.error.c_str());
    return QString::fromStdString(written.folder);
}

void TestWarc::base32_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("text");
    // RFC 4648's own test vectors.
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("f") << QByteArray("f") << QByteArray("MY======");
    QTest::newRow("fo") << QByteArray("fo") << QByteArray("MZXQ====");
    QTest::newRow("foo") << QByteArray("foo") << QByteArray("MZXW6===");
    QTest::newRow("foob") << QByteArray("foob") << QByteArray("MZXW6YQ=");
    QTest::newRow("fooba") << QByteArray("fooba") << QByteArray("MZXW6YTB");
    QTest::newRow("foobar") << QByteArray("foobar") << QByteArray("MZXW6YTBOI======");
    QTest::newRow("high bits") << QByteArray("\xff\xfe\x00\x01\x80", 5) << QByteArray("777AAAMA");
}

void TestWarc::base32()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, text);
    QCOMPARE(QByteArray::fromStdString(Base32(std::string_view(bytes.constData(), std::size_t(bytes.size())))), text);
}

void TestWarc::archives_data()
{
    QTest::addColumn<QString>("store");
    QTest::addColumn<int>("revisits");    // revisit records expected; -1: any number
    QTest::addColumn<bool>("knownDates"); // every document was fetched at a time the test chose
    const QString data = QStringLiteral(TIDEWRACK_FIXTURES);
    QTest::newRow("wininet wine") << data + QStringLiteral("/wine-demo/Content.IE5") << -1 << false;
    QTest::newRow("wininet win7, no files") << data + QStringLiteral("/win7-content") << 0 << false;
    for (const char *name : {"firefox-dtformats", "firefox-lshtech2021", "firefox-plaso", "simple-schorlet",
                             "blockfile-plaso-v2", "blockfile-plaso-v3"})
        QTest::newRow(name) << data + QStringLiteral("/browser-caches/") + QLatin1String(name) << -1 << false;
    QTest::newRow("firefox, kept twice") << QStringLiteral("firefox") << 2 << true;
    QTest::newRow("chromium, kept twice") << QStringLiteral("chromium") << 2 << true;
}

void TestWarc::archives()
{
    QFETCH(QString, store);
    QFETCH(int, revisits);
    QFETCH(bool, knownDates);
    if (!store.startsWith(QLatin1Char('/')))
        store = writeBrowserStore(store);
    const QString file = m_dir->filePath(QStringLiteral("out-%1.warc.gz").arg(QTest::currentDataTag()));
    const Run exported = cli({QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("warc"), store,
                              QStringLiteral("-o"), file});
    QVERIFY2(exported.status == 0 || exported.status == 3, exported.err.constData());

    // Every key the store lists, with its URL, from the bench tool.
    const Run listed = run(QStringLiteral(TIDEWRACK_BENCH), {QStringLiteral("list"), store});
    QCOMPARE(listed.status, 0);
    QMap<QByteArray, QByteArray> urlByKey;
    for (const QByteArray &line : listed.out.split('\n')) {
        const QList<QByteArray> cells = line.split('\t');
        if (cells.size() >= 4)
            urlByKey.insert(cells[3], cells[0]);
    }
    qsizetype archivedCount = 0;
    for (const QByteArray &line : exported.out.split('\n'))
        archivedCount += line.contains('\t') && !line.startsWith("failed\t") ? 1 : 0;

    // Our own reading: one record per member, every digest recomputed.
    const QList<QByteArray> parts = members(ReadBytes(file));
    QCOMPARE(parts.size(), archivedCount + 1);
    QList<Record> records;
    QMap<QByteArray, QByteArray> payloadById;
    int revisitCount = 0;
    for (const QByteArray &part : parts) {
        Record r;
        QVERIFY(parseRecord(part, r));
        QVERIFY(digestMatches(r.field("WARC-Block-Digest"), r.block));
        const QByteArray type = r.field("WARC-Type");
        if (records.isEmpty()) {
            QCOMPARE(type, QByteArray("warcinfo"));
            QVERIFY(r.block.contains("software: Tidewrack/"));
            records << r;
            continue;
        }
        QCOMPARE(r.field("WARC-Warcinfo-ID"), records.front().field("WARC-Record-ID"));
        const QByteArray key = keyOf(r, urlByKey);
        QVERIFY2(urlByKey.contains(key), r.field("WARC-Tidewrack-Key").constData());
        QCOMPARE(QByteArray::fromPercentEncoding(r.field("WARC-Target-URI")),
                 QByteArray::fromPercentEncoding(urlByKey.value(key)));
        QVERIFY(QDateTime::fromString(QString::fromLatin1(r.field("WARC-Date")), Qt::ISODate).isValid());
        QByteArray payload = r.block;
        if (type == "response" || type == "revisit") {
            QCOMPARE(r.field("Content-Type"), QByteArray("application/http; msgtype=response"));
            const qsizetype headEnd = r.block.indexOf("\r\n\r\n");
            QVERIFY(r.block.startsWith("HTTP/") && headEnd > 0);
            payload = r.block.mid(headEnd + 4);
        } else {
            QCOMPARE(type, QByteArray("resource"));
        }
        if (type == "revisit") {
            ++revisitCount;
            QVERIFY(payload.isEmpty());
            const QByteArray original = r.field("WARC-Refers-To");
            QVERIFY(payloadById.contains(original));
            QVERIFY(digestMatches(r.field("WARC-Payload-Digest"), payloadById.value(original)));
        } else {
            QVERIFY(digestMatches(r.field("WARC-Payload-Digest"), payload));
            payloadById.insert(r.field("WARC-Record-ID"), payload);
        }
        if (knownDates) {
            // The key ends with the URL and names the partition's host, in both browsers.
            std::int64_t fetched = 0;
            for (const BrowserWriterEntry &e : browserEntries())
                if (key.endsWith(QByteArray::fromStdString(e.url))
                    && (e.partition.empty() || key.contains(QByteArray::fromStdString(e.partition).mid(8))))
                    fetched = e.fetched;
            QVERIFY(fetched > 0);
            QCOMPARE(QString::fromLatin1(r.field("WARC-Date")), isoOf(fetched));
        }
        records << r;
    }
    if (revisits >= 0)
        QCOMPARE(revisitCount, revisits);

    if (m_npm.isEmpty())
        QSKIP(qPrintable(m_npmWhyNot));
    // The independent reader: the same records, URIs, dates and digests.
    const QString bodies = m_dir->filePath(QStringLiteral("bodies-%1").arg(QTest::currentDataTag()));
    QVERIFY(QDir().mkpath(bodies));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("NODE_PATH"), m_npm + QStringLiteral("/node_modules"));
    const Run read = run(QStringLiteral("node"),
                         {QStringLiteral(TIDEWRACK_SOURCE_DIR "/tests/helpers/warcread.cjs"), file, bodies}, env);
    QVERIFY2(read.status == 0, read.err.constData());
    const QList<QByteArray> lines = read.out.trimmed().split('\n');
    QCOMPARE(lines.size(), records.size());
    // Each body asked of the bench tool costs a load of the whole store: a store of hundreds of
    // documents has every few-th compared, spread over the file.
    constexpr qsizetype MostBodies = 30;
    const qsizetype stride = std::max<qsizetype>(1, lines.size() / MostBodies);
    int compared = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QJsonObject o = QJsonDocument::fromJson(lines[i]).object();
        const Record &r = records[i];
        QCOMPARE(o.value(QStringLiteral("type")).toString().toLatin1(), r.field("WARC-Type"));
        QCOMPARE(o.value(QStringLiteral("uri")).toString().toUtf8(), r.field("WARC-Target-URI"));
        QCOMPARE(o.value(QStringLiteral("date")).toString().toLatin1(), r.field("WARC-Date"));
        QCOMPARE(o.value(QStringLiteral("payloadDigest")).toString().toLatin1(), r.field("WARC-Payload-Digest"));
        QCOMPARE(o.value(QStringLiteral("blockDigest")).toString().toLatin1(), r.field("WARC-Block-Digest"));
        const QString body = o.value(QStringLiteral("body")).toString();
        if (body.isEmpty() || i % stride != 0)
            continue;
        const QByteArray key = keyOf(r, urlByKey);
        if (!QUtf8StringView(key).isValidUtf8())
            continue; // a key that is not UTF-8 cannot be passed as an argument
        const Run bench = run(QStringLiteral(TIDEWRACK_BENCH), {QStringLiteral("body"), store, QString::fromUtf8(key)});
        if (bench.status != 0)
            continue; // a body the program itself cannot decode (damaged in the cache)
        QCOMPARE(ReadBytes(body), bench.out);
        ++compared;
    }
    if (archivedCount > 0 && revisits != archivedCount)
        QVERIFY(compared > 0);
}

void TestWarc::plainArchive_data()
{
    QTest::addColumn<QString>("store");
    QTest::newRow("wininet wine") << QStringLiteral(TIDEWRACK_FIXTURES "/wine-demo/Content.IE5");
    QTest::newRow("firefox, kept twice") << QStringLiteral("firefox");
}

// A name ending in .warc gives the same records, uncompressed, one after the other.
void TestWarc::plainArchive()
{
    QFETCH(QString, store);
    if (!store.startsWith(QLatin1Char('/')))
        store = writeBrowserStore(store + QStringLiteral("-plain"));
    QList<QByteArray> parts[2];
    for (const QString &suffix : {QStringLiteral(".warc"), QStringLiteral(".warc.gz")}) {
        const QString file = m_dir->filePath(QStringLiteral("plain-%1%2").arg(QTest::currentDataTag(), suffix));
        const Run exported = cli({QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("warc"), store,
                                  QStringLiteral("-o"), file});
        QVERIFY2(exported.status == 0 || exported.status == 3, exported.err.constData());
        const QByteArray bytes = ReadBytes(file);
        parts[suffix == QLatin1String(".warc") ? 0 : 1] =
            suffix == QLatin1String(".warc") ? plainRecords(bytes) : members(bytes);
    }
    QVERIFY(parts[0].size() > 1);
    QCOMPARE(parts[0].size(), parts[1].size());
    for (qsizetype i = 0; i < parts[0].size(); ++i) {
        Record plain, packed;
        QVERIFY(parseRecord(parts[0][i], plain));
        QVERIFY(parseRecord(parts[1][i], packed));
        QVERIFY(digestMatches(plain.field("WARC-Block-Digest"), plain.block));
        QCOMPARE(plain.field("WARC-Type"), packed.field("WARC-Type"));
        QCOMPARE(plain.field("WARC-Target-URI"), packed.field("WARC-Target-URI"));
        QCOMPARE(plain.block, packed.block);
    }
}

void TestWarc::refusesTheCacheFolder()
{
    const QString store = writeBrowserStore(QStringLiteral("inside"));
    const QString file = store + QStringLiteral("/archive.warc.gz");
    const Run exported = cli({QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("warc"), store,
                              QStringLiteral("-o"), file});
    QCOMPARE(exported.status, 1);
    QVERIFY(!QFileInfo::exists(file));
}

QTEST_GUILESS_MAIN(TestWarc)
#include "tst_warc.moc"
