// Firefox's cache2 store: real caches Firefox wrote read as an independent reader read them,
// what our writer writes read back, damaged and hostile entry files left out without harm,
// deleting from a copy, and the refusal to delete while Firefox holds the profile.

#include "stores/bodies.h"
#include "stores/firefoxformat.h"
#include "stores/firefoxstore.h"
#include "stores/storeregistry.h"
#include "tools/writers/firefoxwriter.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString Fixtures = QStringLiteral(TIDEWRACK_FIXTURES "/browser-caches");

std::string readAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll().toStdString();
}

bool writeAll(const QString &path, const std::string &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && f.write(bytes.data(), qint64(bytes.size())) == qint64(bytes.size());
}

// Copies a folder tree, leaving every copy writable by its owner.
bool copyTree(const QString &from, const QString &to)
{
    if (!QDir().mkpath(to))
        return false;
    QDirIterator it(from, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString target = to + "/" + QDir(from).relativeFilePath(path);
        if (it.fileInfo().isDir()) {
            if (!QDir().mkpath(target))
                return false;
        } else if (!QFile::copy(path, target) || ::chmod(QFile::encodeName(target).constData(), 0644) != 0) {
            return false;
        }
    }
    return true;
}

std::string decodedBody(const StoreListing &listing, const StoreEntry &e, bool *decoded = nullptr)
{
    std::string out;
    const StoreResult r = ReadDecodedBody(
        BodyRefOf(listing, e),
        [&](std::string_view piece) {
            out.append(piece);
            return true;
        },
        decoded);
    if (!r.ok())
        qWarning("body read failed: %s", r.reason.c_str());
    return out;
}

const StoreEntry *findKey(const StoreListing &listing, std::string_view key)
{
    for (const StoreEntry &e : listing.entries)
        if (listing.text(e.key) == key)
            return &e;
    return nullptr;
}

cache2::Trailer trailerOf(const std::string &file)
{
    cache2::Trailer trailer;
    const std::size_t tail = std::min<std::size_t>(file.size(), 8);
    (void)cache2::ReadTrailer(std::string_view(file).substr(file.size() - tail), file.size(), trailer);
    return trailer;
}

// The metadata block of an entry file: from its start to the end.
std::string metadataOf(const std::string &file)
{
    const cache2::Trailer trailer = trailerOf(file);
    return trailer.metaStart < file.size() ? file.substr(std::size_t(trailer.metaStart)) : std::string();
}

// Writes the metadata hash of an entry file again, after a test changed its metadata.
void rehash(std::string &file)
{
    const cache2::Trailer trailer = trailerOf(file);
    const std::size_t start = std::size_t(trailer.metaStart);
    const std::string_view covered = std::string_view(file).substr(start + 4, file.size() - start - 4 - trailer.size);
    qToBigEndian<quint32>(cache2::Hash(covered), file.data() + start);
}

// Where the header of an entry file's metadata starts.
std::size_t headerAt(const std::string &file)
{
    const cache2::Trailer trailer = trailerOf(file);
    return std::size_t(trailer.metaStart + 4 + 2 * cache2::ChunkCount(trailer.dataSize));
}

BrowserWriterEntry entry(const std::string &url, const std::string &body, const std::string &type,
                         const std::string &coding = {})
{
    BrowserWriterEntry e;
    e.url = url;
    e.body = body;
    e.contentType = type;
    e.contentEncoding = coding;
    e.fetched = 1700000000;
    return e;
}

std::string pageText(int lines)
{
    std::string text = "<html><body>";
    for (int i = 0; i < lines; ++i)
        text += "<p>line " + std::to_string(i) + " \xE7\xBC\x93\xE5\xAD\x98\xE9\xA1\xB5 of a cached page</p>\n";
    return text + "</body></html>";
}

// A child process that holds an fcntl lock on `path`, or merely lives; killed at the end.
class Child {
public:
    explicit Child(const QString &lockPath = {})
    {
        // Everything the child needs is made before the fork: it only makes system calls.
        const QByteArray path = QFile::encodeName(lockPath);
        int ready[2];
        if (::pipe(ready) != 0)
            qFatal("pipe failed");
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(ready[0]);
            if (!path.isEmpty()) {
                const int fd = ::open(path.constData(), O_RDWR | O_CREAT, 0644);
                struct flock lock {};
                lock.l_type = F_WRLCK;
                lock.l_whence = SEEK_SET;
                if (fd < 0 || ::fcntl(fd, F_SETLK, &lock) != 0)
                    ::_exit(1);
            }
            const char byte = 1;
            if (::write(ready[1], &byte, 1) != 1)
                ::_exit(1);
            for (;;)
                ::pause();
        }
        ::close(ready[1]);
        char byte = 0;
        m_ready = ::read(ready[0], &byte, 1) == 1;
        ::close(ready[0]);
    }
    ~Child() { stop(); }
    void stop()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
    }
    pid_t pid() const { return m_pid; }
    bool ready() const { return m_ready; }

private:
    pid_t m_pid = -1;
    bool m_ready = false;
};

// A pid no process has: a child that has exited and been reaped.
pid_t deadPid()
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
}

} // namespace

class TestFirefoxStore : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void lookup2_data();
    void lookup2();
    void fixtureMetadataWrittenAgainIsTheSame_data();
    void fixtureMetadataWrittenAgainIsTheSame();
    void keys_data();
    void keys();
    void writtenEntriesReadBack();
    void writerChunksAndRefusals();
    void largeMetadataAndManyEntries();
    void notDocumentsAndOtherFiles();
    void damaged_data();
    void damaged();
    void encryptedCacheRefused_data();
    void encryptedCacheRefused();
    void writerVersionsAndEncryption_data();
    void writerVersionsAndEncryption();
    void newerFormatNotDamage();
    void encryptedDeleteNeedsTheKey();
    void deleteFromCopy();
    void deleteOnlyWhatTheKeyNames();
    void profileFolders_data();
    void profileFolders();
    void lockRefusal_data();
    void lockRefusal();

private:
    QTemporaryDir m_bodies;
};

void TestFirefoxStore::initTestCase()
{
    QVERIFY(m_bodies.isValid());
    SetBodiesFolder(m_bodies.path().toStdString());
}

void TestFirefoxStore::lookup2_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<uint>("initval");
    QTest::addColumn<uint>("hash");
    // Computed by hand with an independent implementation of Bob Jenkins' lookup2.
    QTest::newRow("empty") << QByteArray() << 0u << 0xbd49d10du;
    QTest::newRow("one byte") << QByteArray("a") << 0u << 0x29eec818u;
    QTest::newRow("three bytes") << QByteArray("abc") << 0u << 0x251e4793u;
    QTest::newRow("one block") << QByteArray("abcdefghijkl") << 0u << 0x0b1b3ea5u;
    QTest::newRow("block and a byte") << QByteArray("abcdefghijklm") << 0u << 0x3122b031u;
    QTest::newRow("sentence") << QByteArray("The quick brown fox jumps over the lazy dog") << 0u << 0xfc1558deu;
    QByteArray all(256, 0);
    for (int i = 0; i < 256; ++i)
        all[i] = char(i);
    QTest::newRow("every byte value") << all << 0u << 0x95d7fc03u;
    QTest::newRow("with initval") << QByteArray("abc") << 0x12345678u << 0x4648dccau;
}

void TestFirefoxStore::lookup2()
{
    QFETCH(QByteArray, bytes);
    QFETCH(uint, initval);
    QFETCH(uint, hash);
    const std::string_view view(bytes.constData(), std::size_t(bytes.size()));
    QCOMPARE(cache2::Hash(view, initval), std::uint32_t(hash));
    if (initval == 0)
        QCOMPARE(cache2::Hash16(view), std::uint16_t(hash & 0xFFFF));
}

void TestFirefoxStore::fixtureMetadataWrittenAgainIsTheSame_data()
{
    QTest::addColumn<QString>("path");
    for (const char *folder :
         {"firefox-lshtech2021/cache2/entries", "firefox-plaso/cache2", "../firefox153/plain/profile/cache2/entries"}) {
        const QDir dir(Fixtures + "/" + folder);
        for (const QString &name : dir.entryList(QDir::Files)) {
            const std::string file = readAll(dir.filePath(name));
            cache2::Metadata meta;
            const std::string block = metadataOf(file);
            if (cache2::ParseMetadata(block, file.size(), meta) == cache2::MetaError::None && meta.version >= 3)
                QTest::newRow(qPrintable("v" + QString::number(meta.version) + " " + name.left(8)))
                    << dir.filePath(name);
        }
    }
}

// The writer's metadata layout and hashes against Firefox's own: real version 3 and 4
// entries, parsed and written again, come out byte for byte the same, chunk hashes included.
void TestFirefoxStore::fixtureMetadataWrittenAgainIsTheSame()
{
    QFETCH(QString, path);
    const std::string file = readAll(path);
    const std::string block = metadataOf(file);
    cache2::Metadata meta;
    QCOMPARE(cache2::ParseMetadata(block, file.size(), meta), cache2::MetaError::None);
    FirefoxMetadataFields fields;
    fields.version = meta.version;
    fields.dataSize = meta.dataSize;
    fields.fetchCount = meta.fetchCount;
    fields.lastFetched = meta.lastFetched;
    fields.lastModified = meta.lastModified;
    fields.frecency = meta.frecency;
    fields.expirationTime = meta.expirationTime;
    fields.flags = meta.flags;
    fields.chunkHashes = FirefoxChunkHashes(std::string_view(file).substr(0, meta.dataSize));
    fields.key = std::string(meta.key);
    fields.elements = std::string(meta.elements);
    QCOMPARE(fields.chunkHashes, std::string(meta.chunkHashes));
    QVERIFY(FirefoxMetadataBytes(fields) == block);
    QCOMPARE(QString::fromStdString(cache2::FileNameForKey(meta.key)), QFileInfo(path).fileName());
}

void TestFirefoxStore::keys_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("method");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("partition");

    QTest::newRow("plain") << ":https://a.example/x?q=1,2"
                           << "GET" << true << "https://a.example/x?q=1,2"
                           << "";
    QTest::newRow("anonymous") << "a,:http://a.example/"
                               << "GET" << true << "http://a.example/"
                               << "anonymous";
    QTest::newRow("partitioned, anonymous")
        << "O^partitionKey=%28https%2Cgithub.com%29,a,:https://github.githubassets.com/a.css"
        << "GET" << true << "https://github.githubassets.com/a.css"
        << "https://github.com, anonymous";
    QTest::newRow("partition with a port") << "O^partitionKey=%28https%2Clocalhost%2C8443%29,:https://x.example/"
                                           << "GET" << true << "https://x.example/"
                                           << "https://localhost:8443";
    QTest::newRow("container and partition")
        << "O^partitionKey=%28http%2Cexample.org%29&userContextId=2,:http://x.example/"
        << "GET" << true << "http://x.example/"
        << "http://example.org, container 2";
    QTest::newRow("first party") << "O^firstPartyDomain=example.com,:https://x.example/"
                                 << "GET" << true << "https://x.example/"
                                 << "first party example.com";
    QTest::newRow("POST id") << "a,~1533107723,:http://ocsp.pki.goog/GTSGIAG3"
                             << "POST" << true << "http://ocsp.pki.goog/GTSGIAG3"
                             << "anonymous, POST 1533107723";
    QTest::newRow("predictor id") << "~predictor-origin,:http://github.com/"
                                  << "" << true << "http://github.com/"
                                  << "id predictor-origin";
    QTest::newRow("escaped comma in a value") << "~a,,b,:https://x.example/"
                                              << "" << true << "https://x.example/"
                                              << "id a,b";
    QTest::newRow("private") << "p,:https://x.example/"
                             << "GET" << true << "https://x.example/"
                             << "private";
    QTest::newRow("old application id") << "i1012,:https://x.example/"
                                        << "GET" << true << "https://x.example/"
                                        << "";
    QTest::newRow("unknown tag skipped") << "a,q3,:https://x.example/"
                                         << "GET" << true << "https://x.example/"
                                         << "anonymous";
    QTest::newRow("tags out of order") << "a,O^userContextId=1,:https://x.example/"
                                       << "GET" << false << ""
                                       << "";
    QTest::newRow("tag without comma") << "a:https://x.example/"
                                       << "GET" << false << ""
                                       << "";
    QTest::newRow("no tags, no colon") << "https://x.example/"
                                       << "GET" << false << ""
                                       << "";
    QTest::newRow("origin without caret") << "Ox=1,:https://x.example/"
                                          << "GET" << false << ""
                                          << "";
    QTest::newRow("application id not a number") << "i,:https://x.example/"
                                                 << "GET" << false << ""
                                                 << "";
    QTest::newRow("value never ends") << "~123"
                                      << "GET" << false << ""
                                      << "";
    QTest::newRow("empty") << ""
                           << "GET" << false << ""
                           << "";
}

// The key parser, and the partition shown for a key: the top-level site rather than the
// encoded origin attributes, plus anonymous and the POST id.
void TestFirefoxStore::keys()
{
    QFETCH(QString, key);
    QFETCH(QString, method);
    QFETCH(bool, ok);
    QFETCH(QString, url);
    QFETCH(QString, partition);
    const std::string text = key.toStdString();
    cache2::Key parsed;
    QCOMPARE(cache2::ParseKey(text, parsed), ok);
    if (!ok)
        return;
    QCOMPARE(QString::fromStdString(std::string(parsed.url)), url);
    QCOMPARE(QString::fromStdString(cache2::ReadablePartition(parsed, method.toStdString())), partition);
}

// What the writer wrote reads back field by field, whatever the coding, partition, id or
// alt-data; bodies decode to the documents given.
void TestFirefoxStore::writtenEntriesReadBack()
{
    QTemporaryDir dir;
    std::vector<BrowserWriterEntry> in;
    in.push_back(entry("https://news.example.cn/index.html", pageText(300), "text/html", "gzip"));
    in.back().lastModified = 1690000000;
    in.back().expires = 1800000000;
    in.back().fetchCount = 7;
    in.back().headers = {{"ETag", "\"abc\""}};
    in.push_back(entry("https://news.example.cn/style.css", "body { color: #333; }\n", "text/css", "br"));
    in.back().partition = "https://portal.example.com";
    in.push_back(entry("https://cdn.example.net/logo.png", std::string("\x89PNG\r\n\x1a\n\0\0", 10), "image/png"));
    in.back().anonymous = true;
    in.back().partition = "https://news.example.cn:8443";
    in.push_back(entry("https://api.example.com/submit", "{\"ok\":true}", "application/json", "zstd"));
    in.back().postId = "4711";
    in.push_back(
        entry("https://news.example.cn/app.js", "function f() { return 1; }\n", "application/javascript", "br, gzip"));
    in.back().altData = std::string("\xC0\xDE\x00\x01 compiled script bytes", 24);
    in.push_back(entry("https://news.example.cn/missing", "<h1>Not Found</h1>", "text/html"));
    in.back().status = 404;
    in.push_back(entry("https://video.example.com/part.txt", pageText(200), "text/plain", "gzip"));
    in.back().truncated = true;
    // A year that wraps a 32-bit number round to 2020: no date at all, never 14 Nov 2020.
    in.push_back(entry("https://news.example.cn/odd-date.txt", "odd date", "text/plain"));
    in.back().headers = {{"Last-Modified", "Wed, 14-Nov-4294969316 08:49:37 GMT"}};
    in.push_back(entry("https://x.example/odd", "stored as is", "text/plain", "dcb"));
    const std::string folder = dir.path().toStdString() + "/cache2";

    BrowserWriteResult written = WriteFirefoxStore(folder, in);
    // "dcb" cannot be written by the writer; without it, every other entry can.
    QVERIFY(!written.ok);
    QVERIFY(written.error.find("dcb") != std::string::npos);
    in.pop_back();
    QVERIFY(QDir(QString::fromStdString(folder)).removeRecursively());
    written = WriteFirefoxStore(folder, in);
    QVERIFY2(written.ok, written.error.c_str());
    QCOMPARE(written.entries.size(), in.size());

    const auto store = OpenStore(folder);
    QCOMPARE(store->kind(), StoreKindFromId("firefox"));
    QCOMPARE(store->folder(), folder);
    const StoreListing listing = store->list();
    QVERIFY2(listing.ok(), listing.error.c_str());
    QCOMPARE(listing.skipped, 0u);
    QCOMPARE(listing.entries.size(), in.size());

    for (std::size_t i = 0; i < in.size(); ++i) {
        const BrowserWriterEntry &w = in[i];
        const BrowserWrittenEntry &out = written.entries[i];
        QCOMPARE(out.key, FirefoxKeyFor(w));
        const StoreEntry *e = findKey(listing, out.key);
        QVERIFY2(e, out.key.c_str());
        QCOMPARE(listing.text(e->url), w.url);
        QCOMPARE(listing.text(e->container), out.file);
        QCOMPARE(QFileInfo(QString::fromStdString(out.file)).fileName().toStdString(), cache2::FileNameForKey(out.key));
        QCOMPARE(e->size, out.storedSize);
        QCOMPARE(listing.text(e->contentType), w.contentType);
        QCOMPARE(listing.text(e->contentEncoding), w.contentEncoding);
        QCOMPARE(int(e->httpStatus), w.status);
        QCOMPARE(e->hitCount, w.fetchCount);
        QCOMPARE(e->lastAccess, StoreTimeFromUnix(w.fetched));
        QCOMPARE(e->lastSync, StoreTimeFromUnix(w.fetched));
        QCOMPARE(e->lastModified, w.lastModified ? StoreTimeFromUnix(w.lastModified) : 0);
        QCOMPARE(e->expires, w.expires ? StoreTimeFromUnix(w.expires) : 0);
        QCOMPARE(listing.text(e->requestMethod), std::string(w.postId.empty() ? "GET" : "POST"));
        QCOMPARE(bool(e->flags & EntryAnonymous), w.anonymous);
        QCOMPARE(bool(e->flags & EntryTruncated), w.truncated);
        QVERIFY(!(e->flags & EntryUndecodable));
        if (!w.truncated) {
            QCOMPARE(out.decodedSize, w.body.size());
            QVERIFY2(decodedBody(listing, *e) == w.body, w.url.c_str());
        }
        // The data area holds the alt-data after the body, never inside it.
        QCOMPARE(QFileInfo(QString::fromStdString(out.file)).size() > qint64(e->size + w.altData.size()), true);
    }
    // Partitions as the listing shows them.
    auto partitionOf = [&](std::size_t i) {
        return std::string(listing.text(findKey(listing, written.entries[i].key)->partition));
    };
    QCOMPARE(partitionOf(0), std::string());
    QCOMPARE(partitionOf(1), std::string("https://portal.example.com"));
    QCOMPARE(partitionOf(2), std::string("https://news.example.cn:8443, anonymous"));
    QCOMPARE(partitionOf(3), std::string("POST 4711"));
    QCOMPARE(written.entries[1].key,
             std::string("O^partitionKey=%28https%2Cportal.example.com%29,:"
                         "https://news.example.cn/style.css"));
    QCOMPARE(written.entries[3].key, std::string("~4711,:https://api.example.com/submit"));

    // A written body file is the decoded document.
    const StoreEntry *page = findKey(listing, written.entries[0].key);
    const std::string local(listing.text(page->localFile));
    QVERIFY(WriteBodyFile(BodyRefOf(listing, *page), local).ok());
    QVERIFY(readAll(QString::fromStdString(local)) == in[0].body);
}

// Bodies over several 256 KiB chunks carry one chunk hash each; the writer never writes
// over a cache, nor two entries under one key.
void TestFirefoxStore::writerChunksAndRefusals()
{
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString() + "/cache2";
    std::string big;
    for (int i = 0; big.size() < 600 * 1024; ++i)
        big += std::to_string(i * 7919 % 100003) + " ";
    std::vector<BrowserWriterEntry> in{entry("https://big.example/file.bin", big, "application/octet-stream")};
    in[0].altData = std::string(300 * 1024, 'B');
    const BrowserWriteResult written = WriteFirefoxStore(folder, in);
    QVERIFY2(written.ok, written.error.c_str());

    const std::string file = readAll(QString::fromStdString(written.entries[0].file));
    const std::string block = metadataOf(file);
    cache2::Metadata meta;
    QCOMPARE(cache2::ParseMetadata(block, file.size(), meta), cache2::MetaError::None);
    QCOMPARE(meta.dataSize, std::uint32_t(big.size() + in[0].altData.size()));
    QCOMPARE(meta.chunkHashes.size(), std::size_t(2 * 4)); // 900 KiB of data: 4 chunks
    for (std::size_t c = 0; c < 4; ++c) {
        const std::size_t start = c * 262144;
        const std::size_t length = std::min<std::size_t>(262144, meta.dataSize - start);
        const std::uint16_t expected = cache2::Hash16(std::string_view(file).substr(start, length));
        const auto stored =
            std::uint16_t(std::uint8_t(meta.chunkHashes[2 * c]) << 8 | std::uint8_t(meta.chunkHashes[2 * c + 1]));
        QCOMPARE(stored, expected);
    }
    const StoreListing listing = OpenStore(folder)->list();
    QCOMPARE(listing.entries.size(), 1u);
    QCOMPARE(listing.entries[0].size, big.size());

    // Into the same folder again: refused, nothing changed.
    const QByteArray before = QByteArray::fromStdString(file);
    const BrowserWriteResult again = WriteFirefoxStore(folder, in);
    QVERIFY(!again.ok);
    QVERIFY(again.error.find("already holds a cache") != std::string::npos);
    QCOMPARE(QByteArray::fromStdString(readAll(QString::fromStdString(written.entries[0].file))), before);
    // A folder holding an index is a cache too.
    const std::string other = dir.path().toStdString() + "/other";
    QVERIFY(writeAll(QString::fromStdString(other + "/index"), "index"));
    QVERIFY(!WriteFirefoxStore(other, in).ok);
    QVERIFY(!QFileInfo::exists(QString::fromStdString(other + "/entries")));

    // Two entries with one key.
    const std::string twice = dir.path().toStdString() + "/twice";
    const BrowserWriteResult clash = WriteFirefoxStore(twice, {in[0], in[0]});
    QVERIFY(!clash.ok);
    QVERIFY(!QFileInfo::exists(QString::fromStdString(twice + "/entries")));
}

// Metadata larger than the first read of a file's tail, and a store big enough to be listed
// by several workers, whose parts must join in file-name order with their texts intact.
void TestFirefoxStore::largeMetadataAndManyEntries()
{
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString() + "/cache2";
    std::vector<BrowserWriterEntry> in;
    for (int i = 0; i < 2600; ++i) {
        in.push_back(entry("https://host" + std::to_string(i % 37) + ".example/p" + std::to_string(i) + ".txt",
                           "text " + std::to_string(i), "text/plain"));
        in.back().fetchCount = std::uint32_t(1 + i % 5);
        if (i % 500 == 0)
            in.back().headers = {{"X-Long", std::string(std::size_t(9000 + i), 'x')}};
    }
    const BrowserWriteResult written = WriteFirefoxStore(folder, in);
    QVERIFY2(written.ok, written.error.c_str());
    const StoreListing listing = OpenStore(folder)->list();
    QVERIFY2(listing.ok(), listing.error.c_str());
    QCOMPARE(listing.skipped, 0u);
    QCOMPARE(listing.entries.size(), in.size());
    std::map<std::string, std::size_t> byKey;
    for (std::size_t i = 0; i < written.entries.size(); ++i)
        byKey[written.entries[i].key] = i;
    for (std::size_t i = 0; i < listing.entries.size(); ++i) {
        const StoreEntry &e = listing.entries[i];
        if (i)
            QVERIFY(listing.text(listing.entries[i - 1].container) < listing.text(e.container));
        const auto it = byKey.find(std::string(listing.text(e.key)));
        QVERIFY(it != byKey.end());
        const BrowserWriterEntry &w = in[it->second];
        QCOMPARE(listing.text(e.url), w.url);
        QCOMPARE(listing.text(e.container), written.entries[it->second].file);
        QCOMPARE(e.hitCount, w.fetchCount);
        QVERIFY(listing.text(e.localFile).ends_with("/" + w.url.substr(w.url.rfind('/') + 1)));
        if (!w.headers.empty())
            QVERIFY(listing.text(e.headers).find(w.headers[0].second) != std::string::npos);
    }
}

// Entries without a response (predictor, dictionary) and files that are no entries are left
// out without being counted as damage; doomed/ and trash folders are never read.
void TestFirefoxStore::notDocumentsAndOtherFiles()
{
    QTemporaryDir dir;
    const QString folder = dir.path() + "/cache2";
    const BrowserWriteResult written =
        WriteFirefoxStore(folder.toStdString(), {entry("https://a.example/", "page", "text/html")});
    QVERIFY(written.ok);
    for (const std::string key : {"~predictor-origin,:https://a.example/", "dict:https://a.example/"}) {
        FirefoxMetadataFields fields;
        fields.key = key;
        fields.elements = std::string("predictor::seen\0001\0", 18);
        QVERIFY(writeAll(folder + "/entries/" + QString::fromStdString(cache2::FileNameForKey(key)),
                         FirefoxMetadataBytes(fields)));
    }
    const std::string page = readAll(QString::fromStdString(written.entries[0].file));
    const QString name = QFileInfo(QString::fromStdString(written.entries[0].file)).fileName();
    QVERIFY(writeAll(folder + "/entries/" + QString(40, 'E'), std::string())); // created, not written yet
    QVERIFY(writeAll(folder + "/doomed/" + name, page));
    QVERIFY(writeAll(folder + "/doomed/1804289383", page));
    QVERIFY(writeAll(folder + "/trash12345/" + name, page));
    QVERIFY(writeAll(folder + "/index", std::string(20, '\0')));
    QVERIFY(writeAll(folder + "/index.log", "log"));
    QVERIFY(writeAll(folder + "/entries/notes.txt", "not an entry"));
    QVERIFY(writeAll(folder + "/entries/" + name.toLower(), page)); // Firefox names files in upper case

    const StoreListing listing = OpenStore(folder.toStdString())->list();
    QVERIFY2(listing.ok(), listing.error.c_str());
    QCOMPARE(listing.entries.size(), 1u);
    QCOMPARE(listing.skipped, 0u);
}

void TestFirefoxStore::damaged_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("reason"); // "*": any reason
    QTest::newRow("metadata offset past the end") << "offset past end"
                                                  << "metadata offset past the end of the file";
    QTest::newRow("metadata too small for its header") << "offset near end"
                                                       << "metadata header past the end of the file";
    QTest::newRow("huge key size") << "huge key"
                                   << "key runs past the metadata";
    QTest::newRow("key without its NUL") << "key unterminated"
                                         << "key not terminated";
    QTest::newRow("hash mismatch") << "flip head byte"
                                   << "metadata hash mismatch";
    QTest::newRow("file renamed") << "wrong name"
                                  << "file name is not the SHA-1 of its key";
    QTest::newRow("truncated file") << "truncate"
                                    << "*"; // whatever its last bytes now say
    QTest::newRow("a few bytes") << "tiny"
                                 << "file too short for an entry";
    QTest::newRow("unknown version") << "version 7"
                                     << "unknown metadata version";
    QTest::newRow("odd elements") << "odd elements"
                                  << "damaged metadata elements";
    QTest::newRow("alt-data past the data") << "alt-data past data"
                                            << "damaged alt-data record";
    QTest::newRow("unreadable key") << "bad key"
                                    << "unreadable key";
    QTest::newRow("metadata larger than Firefox writes") << "too large"
                                                         << "metadata larger than Firefox writes";
    QTest::newRow("FIFO") << "fifo"
                          << "not a regular file";
    QTest::newRow("symbolic link to an entry") << "symlink"
                                               << "not a regular file";
    QTest::newRow("folder") << "folder"
                            << "not a regular file";
}

// One damaged or hostile file among good ones: it is left out with its reason, the others
// are listed, nothing blocks, and nothing is written.
void TestFirefoxStore::damaged()
{
    QFETCH(QString, damage);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString folder = dir.path() + "/cache2";
    std::vector<BrowserWriterEntry> in{entry("https://a.example/one.html", pageText(10), "text/html", "gzip"),
                                       entry("https://a.example/two.js", "var x = 2;", "application/javascript"),
                                       entry("https://b.example/three.css", "p{}", "text/css", "br")};
    in[1].altData = "bytecode";
    const BrowserWriteResult written = WriteFirefoxStore(folder.toStdString(), in);
    QVERIFY(written.ok);
    const QString victim = QString::fromStdString(written.entries[1].file);
    std::string file = readAll(victim);
    const std::size_t header = headerAt(file);

    if (damage == "offset past end") {
        qToBigEndian<quint32>(std::uint32_t(file.size() + 10), file.data() + file.size() - 4);
    } else if (damage == "offset near end") {
        qToBigEndian<quint32>(std::uint32_t(file.size() - 12), file.data() + file.size() - 4);
    } else if (damage == "huge key") {
        qToBigEndian<quint32>(0xFFFFFFF0u, file.data() + header + 24);
    } else if (damage == "key unterminated") {
        const std::uint32_t keySize = qFromBigEndian<quint32>(file.data() + header + 24);
        file[header + 32 + keySize] = 'x';
        rehash(file);
    } else if (damage == "flip head byte") {
        file[file.find("HTTP/1.1") + 5] ^= 0x20;
    } else if (damage == "wrong name") {
        QVERIFY(QFile::rename(victim, QFileInfo(victim).path() + "/" + QString(40, 'A')));
    } else if (damage == "truncate") {
        file.resize(file.size() / 2);
    } else if (damage == "tiny") {
        file = std::string(6, '\0');
    } else if (damage == "version 7") {
        qToBigEndian<quint32>(7, file.data() + header);
        rehash(file);
    } else if (damage == "odd elements") {
        file[file.find("request-method") + 14] = 'x'; // the NUL after the name
        rehash(file);
    } else if (damage == "alt-data past data") {
        const std::size_t at = file.find("1;" + std::to_string(in[1].body.size()) + ",");
        QVERIFY(at != std::string::npos);
        file.replace(at + 2, std::to_string(in[1].body.size()).size(), "999999");
        rehash(file);
    } else if (damage == "bad key") {
        // A key Firefox could not parse, under the name its hash gives.
        const std::uint32_t keySize = qFromBigEndian<quint32>(file.data() + header + 24);
        file[header + 32] = 'Z'; // ":https://..." becomes "Zhttps://..."
        rehash(file);
        const std::string key = file.substr(header + 32, keySize);
        QVERIFY(QFile::remove(victim));
        QVERIFY(writeAll(QFileInfo(victim).path() + "/" + QString::fromStdString(cache2::FileNameForKey(key)), file));
    } else if (damage == "too large") {
        // An offset that leaves more than a megabyte of "metadata" behind it.
        file = std::string(2 * 1024 * 1024, 'm');
        qToBigEndian<quint32>(8, file.data() + file.size() - 4);
    } else if (damage == "fifo") {
        QVERIFY(QFile::remove(victim));
        QCOMPARE(::mkfifo(QFile::encodeName(victim).constData(), 0644), 0);
    } else if (damage == "symlink") {
        const QString elsewhere = dir.path() + "/elsewhere";
        QVERIFY(QFile::rename(victim, elsewhere));
        QVERIFY(QFile::link(elsewhere, victim));
    } else if (damage == "folder") {
        QVERIFY(QFile::remove(victim));
        QVERIFY(QDir().mkpath(victim));
    }
    const bool rewritten =
        damage != "wrong name" && damage != "bad key" && damage != "fifo" && damage != "symlink" && damage != "folder";
    if (rewritten)
        QVERIFY(writeAll(victim, file));

    const auto store = OpenStore(folder.toStdString());
    const StoreListing listing = store->list();
    QVERIFY2(listing.ok(), listing.error.c_str());
    QCOMPARE(listing.entries.size(), 2u);
    QVERIFY(findKey(listing, written.entries[0].key));
    QVERIFY(findKey(listing, written.entries[2].key));
    QCOMPARE(listing.skipped, 1u);
    if (reason != "*") {
        QCOMPARE(listing.skipWhy.begin()->first, reason.toStdString());
        QVERIFY(listing.skipSummary().find(reason.toStdString()) != std::string::npos);
    }
    // The damaged entry cannot be deleted through its key either, and stays.
    QCOMPARE(store->remove(written.entries[1].key).error, StoreError::NotFound);
    if (rewritten)
        QVERIFY(readAll(victim) == file);
}

void TestFirefoxStore::encryptedCacheRefused_data()
{
    QTest::addColumn<QString>("sign"); // what says the cache is encrypted
    QTest::newRow("index header") << "index";
    QTest::newRow("profile prefs") << "prefs";
    QTest::newRow("nothing: damaged entries only") << "none";
    QTest::newRow("Firefox 153's own mark, no key") << "v4 mark";
    QTest::newRow("Firefox 153's own mark, another key") << "v4 other key";
}

// An encrypted cache is named as such instead of being listed as garbage; without a sign of
// encryption, unreadable entries are only damaged ones.
void TestFirefoxStore::encryptedCacheRefused()
{
    QFETCH(QString, sign);
    QTemporaryDir dir;
    const QString profile = dir.path() + "/profile";
    const QString folder = profile + "/cache2";
    if (sign.startsWith("v4")) {
        // Firefox 153's encrypted entries, without their profile's key.
        QVERIFY(copyTree(Fixtures + "/../firefox153/encrypted/profile/cache2", folder));
        if (sign == "v4 other key")
            QVERIFY(writeAll(profile + "/prefs.js",
                             "user_pref(\"browser.cache.disk.encryption.key\", "
                             "\"AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=\");\n"));
        const StoreListing listing = OpenStore(folder.toStdString())->list();
        QCOMPARE(listing.entries.size(), 0u);
        QCOMPARE(listing.skipped, 5u);
        if (sign == "v4 mark") {
            QVERIFY2(listing.error.find("encrypted") != std::string::npos, listing.error.c_str());
            QCOMPARE(listing.skipWhy.at("encrypted entry"), 5u);
        } else { // a key that does not open them: damage, named as such
            QCOMPARE(listing.skipWhy.at("encrypted entry the profile's key does not open"), 5u);
            QVERIFY(!listing.noneReadable().empty());
        }
        return;
    }
    const BrowserWriteResult written = WriteFirefoxStore(
        folder.toStdString(),
        {entry("https://a.example/", "page one", "text/html"), entry("https://b.example/", "page two", "text/html")});
    QVERIFY(written.ok);
    // Encrypted metadata: nothing of it reads as plain metadata.
    std::uint64_t state = 88172645463325252ull;
    for (const BrowserWrittenEntry &w : written.entries) {
        std::string bytes(700, '\0');
        for (char &c : bytes) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            c = char(state);
        }
        qToBigEndian<quint32>(300, bytes.data() + bytes.size() - 4);
        QVERIFY(writeAll(QString::fromStdString(w.file), bytes));
    }
    if (sign == "index") {
        std::string index(20 + 41, '\0');
        qToBigEndian<quint32>(0xD, index.data());
        qToBigEndian<quint32>(1, index.data() + 16);
        QVERIFY(writeAll(folder + "/index", index));
    } else if (sign == "prefs") {
        QVERIFY(writeAll(profile + "/prefs.js",
                         "user_pref(\"browser.cache.disk.capacity\", 1024);\n"
                         "user_pref(\"browser.cache.disk.encryption.enabled\", true);\n"));
    }
    const StoreListing listing = OpenStore(folder.toStdString())->list();
    QCOMPARE(listing.entries.size(), 0u);
    QCOMPARE(listing.skipped, 2u);
    if (sign == "none") {
        QVERIFY2(listing.ok(), listing.error.c_str());
        QCOMPARE(listing.skipWhy.count("encrypted entry"), 0u);
    } else {
        QVERIFY(!listing.ok());
        QVERIFY2(listing.error.find("encrypted") != std::string::npos, listing.error.c_str());
        QCOMPARE(listing.skipWhy.at("encrypted entry"), 2u);
    }
}

void TestFirefoxStore::writerVersionsAndEncryption_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<bool>("encrypted");
    QTest::newRow("version 1") << 1 << false;
    QTest::newRow("version 3") << 3 << false;
    QTest::newRow("version 4") << 4 << false;
    QTest::newRow("version 4, encrypted") << 4 << true;
}

// Each version the writer writes reads back with every body, large ones across chunks too;
// an encrypted one through the key in the profile's prefs.
void TestFirefoxStore::writerVersionsAndEncryption()
{
    QFETCH(int, version);
    QFETCH(bool, encrypted);
    QTemporaryDir dir;
    const QString profile = dir.path() + "/profile";
    std::vector<BrowserWriterEntry> in{entry("https://a.example/page.html", pageText(20), "text/html", "gzip"),
                                       entry("https://a.example/big.txt", pageText(9000), "text/plain"),
                                       entry("https://b.example/app.js", "let x = 1;", "text/javascript", "br")};
    in[2].altData = "bytecode";
    BrowserWriterOptions options;
    options.firefoxVersion = std::uint32_t(version);
    if (encrypted) {
        options.firefoxKey = std::string("0123456789abcdef0123456789ABCDEF");
        QVERIFY(writeAll(profile + "/prefs.js",
                         "user_pref(\"browser.cache.disk.encryption.enabled\", true);\n"
                         "user_pref(\"browser.cache.disk.encryption.key\", \""
                             + QByteArray::fromStdString(options.firefoxKey).toBase64().toStdString() + "\");\n"));
    }
    const BrowserWriteResult written = WriteFirefoxStore((profile + "/cache2").toStdString(), in, options);
    QVERIFY2(written.ok, written.error.c_str());
    const std::string first = readAll(QString::fromStdString(written.entries[1].file));
    const cache2::Trailer trailer = trailerOf(first);
    QCOMPARE(trailer.version, std::uint32_t(version == 4 ? 4 : 0));
    QCOMPARE(trailer.encrypted, encrypted);
    // Nothing of an encrypted body is left in clear.
    QCOMPARE(first.find("cached page") == std::string::npos, encrypted);

    const auto store = OpenStore((profile + "/cache2").toStdString());
    const StoreListing listing = store->list();
    QVERIFY2(listing.ok(), listing.error.c_str());
    QCOMPARE(listing.skipped, 0u);
    QCOMPARE(listing.entries.size(), in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        const StoreEntry *e = findKey(listing, written.entries[i].key);
        QVERIFY(e);
        QCOMPARE(e->size, written.entries[i].storedSize);
        QVERIFY(decodedBody(listing, *e) == in[i].body);
    }
    QVERIFY(store->remove(written.entries[0].key).ok());
    QCOMPARE(store->list().entries.size(), in.size() - 1);
}

// A version after 4 in an entry's trailer is a newer Firefox's format: counted apart from
// damage, and when nothing else is left the store says so.
void TestFirefoxStore::newerFormatNotDamage()
{
    QTemporaryDir dir;
    const QString folder = dir.path() + "/cache2";
    const BrowserWriteResult written = WriteFirefoxStore(
        folder.toStdString(),
        {entry("https://a.example/", "one", "text/html"), entry("https://b.example/", "two", "text/html")});
    QVERIFY(written.ok);
    auto makeNewer = [](const std::string &path) {
        std::string file = readAll(QString::fromStdString(path));
        qToBigEndian<quint32>(5, file.data() + file.size() - 8);
        return writeAll(QString::fromStdString(path), file);
    };
    QVERIFY(makeNewer(written.entries[0].file));
    const auto store = OpenStore(folder.toStdString());
    StoreListing listing = store->list();
    QVERIFY2(listing.ok(), listing.error.c_str());
    QCOMPARE(listing.entries.size(), 1u);
    QCOMPARE(listing.skipped, 0u);
    QCOMPARE(listing.newerFormat, 1u);
    QCOMPARE(listing.newerVersion, 5u);
    QVERIFY2(listing.skipSummary().find("newer cache format (version 5)") != std::string::npos,
             listing.skipSummary().c_str());
    QVERIFY(listing.noneReadable().empty());

    QVERIFY(makeNewer(written.entries[1].file));
    listing = store->list();
    QCOMPARE(listing.entries.size(), 0u);
    QCOMPARE(listing.newerFormat, 2u);
    QVERIFY2(listing.noneReadable().find("newer cache format (version 5)") != std::string::npos, listing.error.c_str());
    QCOMPARE(listing.errorKind(), StoreError::NewerFormat);
}

// Deleting an encrypted entry: with the profile's key exactly its file goes; without the key
// the entry cannot be matched to its key, and nothing goes.
void TestFirefoxStore::encryptedDeleteNeedsTheKey()
{
    QTemporaryDir dir;
    const QString profile = dir.path() + "/profile";
    QVERIFY(copyTree(Fixtures + "/../firefox153/encrypted/profile", profile));
    const std::string key = "O^partitionKey=%28http%2C127.0.0.1%29,:http://127.0.0.1:8153/style.css";
    const QString file = profile + "/cache2/entries/" + QString::fromStdString(cache2::FileNameForKey(key));
    QVERIFY(QFileInfo::exists(file));
    const QString prefs = profile + "/prefs.js";
    QVERIFY(QFile::rename(prefs, prefs + ".away"));
    const auto store = OpenStore((profile + "/cache2").toStdString());
    const StoreResult refused = store->remove(key);
    QCOMPARE(refused.error, StoreError::Denied);
    QVERIFY2(refused.reason.find("encrypted") != std::string::npos, refused.reason.c_str());
    QVERIFY(QFileInfo::exists(file));
    QVERIFY(QFile::rename(prefs + ".away", prefs));
    const StoreResult removed = store->remove(key);
    QVERIFY2(removed.ok(), removed.reason.c_str());
    QVERIFY(!QFileInfo::exists(file));
    QCOMPARE(store->list().entries.size(), 4u);
}

// Deleting from a copy of a real cache: exactly the entry's file and its extracted body go;
// the index, the other entries and the folder stay as they were.
void TestFirefoxStore::deleteFromCopy()
{
    QTemporaryDir dir;
    const QString copy = dir.path() + "/cache2";
    QVERIFY(copyTree(Fixtures + "/firefox-lshtech2021/cache2", copy));
    auto contents = [&copy]() {
        std::map<QString, QByteArray> files;
        QDirIterator it(copy, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            files[QDir(copy).relativeFilePath(path)] =
                QCryptographicHash::hash(QByteArray::fromStdString(readAll(path)), QCryptographicHash::Sha1);
        }
        return files;
    };
    const auto before = contents();
    const auto store = OpenStore(copy.toStdString());
    QVERIFY(store->removalRefusal().empty());
    const StoreListing listing = store->list();
    QCOMPARE(listing.entries.size(), 7u);
    const std::string key = "O^partitionKey=%28https%2Cyoutube.com%29,:https://www.youtube.com/s/desktop/0ac1422e/"
                            "jsbin/custom-elements-es5-adapter.vflset/custom-elements-es5-adapter.js";
    const StoreEntry *e = findKey(listing, key);
    QVERIFY(e);
    const std::string local(listing.text(e->localFile));
    QVERIFY(WriteBodyFile(BodyRefOf(listing, *e), local).ok());
    QVERIFY(QFileInfo::exists(QString::fromStdString(local)));

    const StoreResult removed = store->remove(key);
    QVERIFY2(removed.ok(), removed.reason.c_str());
    QVERIFY(!QFileInfo::exists(QString::fromStdString(local)));
    auto after = contents();
    const QString gone = "entries/00A1CCFD94424EFD95D20D7BDED33F7892865F5D";
    QVERIFY(!after.count(gone));
    auto expected = before;
    expected.erase(gone);
    QVERIFY(after == expected); // the index and the other entries unchanged
    QVERIFY(after.count("index"));

    const StoreListing again = store->list();
    QCOMPARE(again.entries.size(), 6u);
    QVERIFY(!findKey(again, key));
    QCOMPARE(again.skipped, 0u);
    QCOMPARE(store->remove(key).error, StoreError::NotFound);
}

// A key names one file; a file under that name holding another key, or a link, is not it.
void TestFirefoxStore::deleteOnlyWhatTheKeyNames()
{
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString() + "/cache2";
    const BrowserWriteResult written = WriteFirefoxStore(
        folder, {entry("https://a.example/", "one", "text/html"), entry("https://b.example/", "two", "text/html")});
    QVERIFY(written.ok);
    const auto store = OpenStore(folder);
    QCOMPARE(store->remove("https://a.example/").error, StoreError::NotFound); // the URL is not the key
    QCOMPARE(store->remove(":https://c.example/").error, StoreError::NotFound);

    // b's file put under a's name: a's key does not remove it.
    const QString aFile = QString::fromStdString(written.entries[0].file);
    const QString bFile = QString::fromStdString(written.entries[1].file);
    QVERIFY(QFile::remove(aFile));
    QVERIFY(QFile::copy(bFile, aFile));
    QCOMPARE(store->remove(written.entries[0].key).error, StoreError::NotFound);
    QVERIFY(QFileInfo::exists(aFile));
    // A link under a's name to b's file: neither goes.
    QVERIFY(QFile::remove(aFile));
    QVERIFY(QFile::link(bFile, aFile));
    QCOMPARE(store->remove(written.entries[0].key).error, StoreError::NotFound);
    QVERIFY(QFileInfo(aFile).isSymLink());
    QVERIFY(QFileInfo::exists(bFile));
    QVERIFY(store->remove(written.entries[1].key).ok());
    QVERIFY(!QFileInfo::exists(bFile));
}

void TestFirefoxStore::profileFolders_data()
{
    QTest::addColumn<QString>("cache");
    QTest::addColumn<QString>("xdgCache");
    QTest::addColumn<QString>("xdgConfig");
    QTest::addColumn<QStringList>("profiles");
    QTest::newRow("classic") << "/h/.cache/mozilla/firefox/ab12.default-release/cache2"
                             << ""
                             << ""
                             << QStringList{"/h/.cache/mozilla/firefox/ab12.default-release",
                                            "/h/.mozilla/firefox/ab12.default-release",
                                            "/h/.config/mozilla/firefox/ab12.default-release"};
    QTest::newRow("XDG folders") << "/x/cache/mozilla/firefox/p1/cache2"
                                 << "/x/cache"
                                 << "/x/config"
                                 << QStringList{"/x/cache/mozilla/firefox/p1", "/x/.mozilla/firefox/p1",
                                                "/x/config/mozilla/firefox/p1", "/h/.mozilla/firefox/p1"};
    QTest::newRow("snap") << "/h/snap/firefox/common/.cache/mozilla/firefox/s.default/cache2"
                          << ""
                          << ""
                          << QStringList{"/h/snap/firefox/common/.cache/mozilla/firefox/s.default",
                                         "/h/snap/firefox/common/.mozilla/firefox/s.default",
                                         "/h/snap/firefox/common/.config/mozilla/firefox/s.default"};
    QTest::newRow("flatpak") << "/h/.var/app/org.mozilla.firefox/cache/mozilla/firefox/f.default/cache2"
                             << ""
                             << ""
                             << QStringList{"/h/.var/app/org.mozilla.firefox/cache/mozilla/firefox/f.default",
                                            "/h/.var/app/org.mozilla.firefox/.mozilla/firefox/f.default",
                                            "/h/.var/app/org.mozilla.firefox/config/mozilla/firefox/f.default"};
    QTest::newRow("cache2 inside an absolute profile") << "/data/ff/myprofile/cache2"
                                                       << ""
                                                       << "" << QStringList{"/data/ff/myprofile"};
    QTest::newRow("no way up") << "/h/.cache/mozilla/firefox/../../../etc/cache2"
                               << ""
                               << "" << QStringList{"/h/.cache/mozilla/firefox/../../../etc"};
    QTest::newRow("a copied entries folder") << "/tmp/case42"
                                             << ""
                                             << "" << QStringList{};
}

void TestFirefoxStore::profileFolders()
{
    QFETCH(QString, cache);
    QFETCH(QString, xdgCache);
    QFETCH(QString, xdgConfig);
    QFETCH(QStringList, profiles);
    StoreSearchRoots roots;
    roots.home = "/h";
    roots.xdgCacheHome = xdgCache.toStdString();
    roots.xdgConfigHome = xdgConfig.toStdString();
    QStringList got;
    for (const std::string &p : FirefoxProfileFolders(cache.toStdString(), roots))
        got << QString::fromStdString(p);
    QCOMPARE(got, profiles);
}

void TestFirefoxStore::lockRefusal_data()
{
    QTest::addColumn<QString>("layout"); // "xdg": cache under ~/.cache, profile in ~/.mozilla; "inside"
    QTest::addColumn<QString>("lock");   // how Firefox's locks stand
    QTest::addColumn<bool>("refused");
    QTest::newRow("no lock") << "xdg"
                             << "none" << false;
    QTest::newRow(".parentlock held") << "xdg"
                                      << "parentlock held" << true;
    QTest::newRow(".parentlock left behind, not held") << "xdg"
                                                       << "parentlock file" << false;
    QTest::newRow("lock link to a live process") << "xdg"
                                                 << "link live" << true;
    QTest::newRow("lock link to a live process, no '+'") << "xdg"
                                                         << "link live plain" << true;
    QTest::newRow("lock link to a dead process") << "xdg"
                                                 << "link dead" << false;
    QTest::newRow("lock link from another machine") << "xdg"
                                                    << "link remote" << false;
    QTest::newRow("lock link that is no lock") << "xdg"
                                               << "link garbage" << false;
    QTest::newRow("profile in the XDG config folder, held") << "config"
                                                            << "parentlock held" << true;
    QTest::newRow("cache2 inside the profile, held") << "inside"
                                                     << "parentlock held" << true;
    QTest::newRow("cache2 inside the profile, link") << "inside"
                                                     << "link live" << true;
    QTest::newRow("HOME elsewhere, .parentlock held") << "xdg, home elsewhere"
                                                      << "parentlock held" << true;
    QTest::newRow("HOME unset, lock link") << "xdg, no home"
                                           << "link live" << true;
    QTest::newRow("flatpak, HOME unset, .parentlock held") << "flatpak, no home"
                                                           << "parentlock held" << true;
    QTest::newRow("no profile, a Firefox on a profile of its name") << "xdg, no profile"
                                                                    << "firefox runs" << true;
    QTest::newRow("no profile, no Firefox") << "xdg, no profile"
                                            << "none" << false;
}

// While Firefox holds the profile, deleting is refused with a reason and nothing is removed;
// reading goes on. Once it has gone, deleting works.
void TestFirefoxStore::lockRefusal()
{
    QFETCH(QString, layout);
    QFETCH(QString, lock);
    QFETCH(bool, refused);
    QTemporaryDir dir;
    const QString home = dir.path() + "/home";
    QString cache, profile;
    if (layout == "inside") {
        profile = dir.path() + "/profiles/abs";
        cache = profile + "/cache2";
    } else if (layout.startsWith("flatpak")) {
        cache = home + "/.var/app/org.mozilla.firefox/cache/mozilla/firefox/ab12.default/cache2";
        profile = home + "/.var/app/org.mozilla.firefox/.mozilla/firefox/ab12.default";
    } else {
        cache = home + "/.cache/mozilla/firefox/ab12.default/cache2";
        profile = layout == "config" ? home + "/.config/mozilla/firefox/ab12.default"
                                     : home + "/.mozilla/firefox/ab12.default";
    }
    const bool noProfile = layout.endsWith("no profile");
    QVERIFY(noProfile || QDir().mkpath(profile));
    const BrowserWriteResult written = WriteFirefoxStore(
        cache.toStdString(),
        {entry("https://a.example/", "one", "text/html"), entry("https://b.example/", "two", "text/html")});
    QVERIFY(written.ok);
    // The store finds the profile from the cache's own path, whatever the home folder is.
    StoreSearchRoots roots;
    roots.home = layout.endsWith("no home") ? std::string()
        : layout.endsWith("home elsewhere") ? (dir.path() + "/other").toStdString()
                                            : home.toStdString();
    const auto store = OpenFirefoxStore(cache.toStdString(), roots);

    std::unique_ptr<Child> child;
    QProcess firefox; // a process that looks like Firefox on a profile of the cache's name
    const QString lockLink = profile + "/lock";
    if (lock == "firefox runs") {
        QVERIFY(QFile::link("/bin/sh", dir.path() + "/firefox"));
        firefox.start(dir.path() + "/firefox", {"-c", "sleep 60; :", "sh", "-profile", "/elsewhere/ab12.default"});
        QVERIFY(firefox.waitForStarted());
    }
    if (lock == "parentlock held") {
        child = std::make_unique<Child>(profile + "/.parentlock");
        QVERIFY(child->ready());
    } else if (lock == "parentlock file") {
        QVERIFY(writeAll(profile + "/.parentlock", std::string()));
    } else if (lock.startsWith("link live")) {
        child = std::make_unique<Child>();
        QVERIFY(child->ready());
        const QString target = QString("127.0.1.1:%1%2").arg(lock == "link live" ? "+" : "").arg(child->pid());
        QVERIFY(QFile::link(target, lockLink));
    } else if (lock == "link dead") {
        QVERIFY(QFile::link(QString("127.0.0.1:+%1").arg(deadPid()), lockLink));
    } else if (lock == "link remote") {
        child = std::make_unique<Child>();
        QVERIFY(QFile::link(QString("192.0.2.7:+%1").arg(child->pid()), lockLink));
    } else if (lock == "link garbage") {
        QVERIFY(QFile::link("not-a-lock", lockLink));
    }

    const std::string refusal = store->removalRefusal();
    QCOMPARE(!refusal.empty(), refused);
    const StoreListing listing = store->list(); // reading stays allowed
    QCOMPARE(listing.entries.size(), 2u);
    const StoreResult first = store->remove(written.entries[0].key);
    if (refused) {
        QVERIFY2(refusal.find("close Firefox first") != std::string::npos, refusal.c_str());
        QVERIFY2(refusal.find((noProfile ? "ab12.default" : profile).toStdString()) != std::string::npos,
                 refusal.c_str());
        QCOMPARE(first.error, StoreError::Busy);
        QCOMPARE(first.reason, refusal);
        QVERIFY(QFileInfo::exists(QString::fromStdString(written.entries[0].file)));
        if (child) // Firefox closes
            child->stop();
        firefox.kill();
        firefox.waitForFinished();
        QVERIFY2(store->removalRefusal().empty(), store->removalRefusal().c_str());
        QVERIFY(store->remove(written.entries[0].key).ok());
    } else {
        QVERIFY2(first.ok(), first.reason.c_str());
    }
    QVERIFY(!QFileInfo::exists(QString::fromStdString(written.entries[0].file)));
    QVERIFY(QFileInfo::exists(QString::fromStdString(written.entries[1].file)));
}

QTEST_GUILESS_MAIN(TestFirefoxStore)
#include "tst_firefoxstore.moc"
