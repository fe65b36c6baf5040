// The index.dat store: listing real stores, deleting the way WinInet does, refusing to
// write where WinInet would throw the store away, surviving damaged files, path safety.

#include "stores/indexdatformat.h"
#include "stores/indexdatstore.h"
#include "stores/storeregistry.h"
#include "support.h"

#include <QDir>
#include <QFile>
#include <QtTest>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <set>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <thread>

using namespace indexdat;

namespace {

// A field of a file read into memory; 0 past its end (a damaged or short file).
std::uint32_t field32(const QByteArray &bytes, int offset)
{
    if (offset < 0 || offset + 4 > bytes.size())
        return 0;
    return qFromLittleEndian<quint32>(reinterpret_cast<const std::uint8_t *>(bytes.constData()) + offset);
}
std::uint64_t field64(const QByteArray &bytes, int offset)
{
    if (offset < 0 || offset + 8 > bytes.size())
        return 0;
    return qFromLittleEndian<quint64>(reinterpret_cast<const std::uint8_t *>(bytes.constData()) + offset);
}
void put32(QByteArray &bytes, int offset, std::uint32_t value)
{
    qToLittleEndian<quint32>(value, reinterpret_cast<std::uint8_t *>(bytes.data()) + offset);
}

std::uint32_t bitmapCount(const QByteArray &bytes)
{
    return CountBits(reinterpret_cast<const std::uint8_t *>(bytes.constData()) + OffBitmap,
                     field32(bytes, OffCapacity));
}

StoreWriterEntry entry(const std::string &url, const std::string &content, const std::string &ext = {})
{
    StoreWriterEntry e;
    e.url = url;
    e.content = content;
    e.extension = ext;
    return e;
}

// A small store the damage and refusal cases start from.
std::vector<StoreWriterEntry> smallStore()
{
    return {entry("http://a.example/one.htm", "<p>one</p>"), entry("http://a.example/two.css", "p{}"),
            entry("http://b.example/three.txt", "three"), entry("http://b.example/data", "{}")};
}

using Damage = std::function<void(QByteArray &, const StoreWriteResult &)>;

std::set<std::string> listedUrls(CacheStore &store)
{
    std::set<std::string> urls;
    for (const Listed &r : ListEntries(store))
        urls.insert(r.url);
    return urls;
}

bool fileExists(const std::string &path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// A store whose first entry's blocks have their bitmap bits in the header's first page and
// whose last entry's blocks lie beyond that page's reach (block 28032 on): fillers with long
// response heads and no files take the room between.
struct NearAndFar {
    std::vector<StoreWriterEntry> entries;
    std::size_t nearEntry = 0, farEntry = 0;
};
NearAndFar nearAndFarStore()
{
    NearAndFar s;
    // The two entries deleted take 40 blocks each: their records span a page boundary.
    const std::string longHead = "HTTP/1.1 200 OK\r\nX-Pad: " + std::string(5000, 'p') + "\r\n\r\n";
    s.entries.push_back(entry("http://near.example/a.htm", "<p>near</p>"));
    s.entries.back().headerInfo = longHead;
    for (int i = 0; i < 61; ++i) {
        StoreWriterEntry filler = entry("http://filler.example/" + std::to_string(i), {});
        filler.hasLocalFile = false;
        filler.headerInfo = "HTTP/1.1 200 OK\r\nX-Room: " + std::string(60000, 'x') + "\r\n\r\n";
        s.entries.push_back(filler);
    }
    s.entries.push_back(entry("http://far.example/b.htm", "<p>far</p>"));
    s.entries.back().headerInfo = longHead;
    s.entries.push_back(entry("http://far.example/c.htm", "<p>also far</p>"));
    s.farEntry = s.entries.size() - 2;
    return s;
}
constexpr std::uint32_t FirstFarBlockOffset = HeaderSize + (0x1000 - OffBitmap) * 8 * BlockSize;

// Write calls that fail from call `failAt` on with `error`. With `cutFirst` the first failing
// call writes what lies before the next page boundary and reports that, as the kernel does
// when the disk fills in the middle of a write that spans pages.
struct FailingWrites {
    int failAt = 0;
    int error = ENOSPC;
    bool cutFirst = false;
    int calls = 0;
    int cuts = 0;
};
IndexDatWriteCalls failingCalls(const std::shared_ptr<FailingWrites> &f)
{
    IndexDatWriteCalls calls;
    calls.pwrite = [f](int fd, const void *bytes, std::size_t count, off_t offset) -> ssize_t {
        const int call = ++f->calls;
        if (f->failAt == 0 || call < f->failAt)
            return ::pwrite(fd, bytes, count, offset);
        const off_t boundary = (offset / 0x1000 + 1) * 0x1000;
        if (call == f->failAt && f->cutFirst && offset + off_t(count) > boundary) {
            ++f->cuts;
            return ::pwrite(fd, bytes, std::size_t(boundary - offset), offset);
        }
        errno = f->error;
        return -1;
    };
    return calls;
}

// A store of `count` entries over a few hosts.
std::vector<StoreWriterEntry> manyEntries(int count)
{
    std::vector<StoreWriterEntry> entries;
    for (int i = 0; i < count; ++i)
        entries.push_back(entry("http://host" + std::to_string(i % 7) + ".example/page" + std::to_string(i) + ".htm",
                                "<p>" + std::to_string(i) + "</p>"));
    return entries;
}

std::vector<std::string> urlsOf(const std::vector<StoreWriterEntry> &entries, std::size_t from, std::size_t to)
{
    std::vector<std::string> urls;
    for (std::size_t i = from; i < to && i < entries.size(); ++i)
        urls.push_back(entries[i].url);
    return urls;
}

// A child process that does `work`, tells the parent through a pipe when it is under way,
// and ends when told to (or when its work ends). Killed if still there when dropped.
class Child {
public:
    template <typename Work>
    explicit Child(Work work)
    {
        if (::pipe(m_ready) != 0 || ::pipe(m_release) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            const auto ready = [this](char c) { (void)!::write(m_ready[1], &c, 1); };
            const auto waitRelease = [this] {
                char c;
                (void)!::read(m_release[0], &c, 1);
            };
            ::_exit(work(ready, waitRelease));
        }
    }
    ~Child()
    {
        if (m_pid > 0 && !m_reaped) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        for (int fd : {m_ready[0], m_ready[1], m_release[0], m_release[1]})
            if (fd >= 0)
                ::close(fd);
    }
    bool started() const { return m_pid > 0; }
    char awaitReady()
    {
        char c = 0;
        return ::read(m_ready[0], &c, 1) == 1 ? c : 0;
    }
    void release() { (void)!::write(m_release[1], "x", 1); }
    // Waits until the child runs another program than this one.
    bool awaitExec() const
    {
        char self[4096] = {}, child[4096] = {};
        ::readlink("/proc/self/exe", self, sizeof self - 1);
        for (int i = 0; i < 500; ++i) {
            const ssize_t n = ::readlink(("/proc/" + std::to_string(m_pid) + "/exe").c_str(), child, sizeof child - 1);
            if (n > 0 && std::string(child, std::size_t(n)) != self)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    void stop()
    {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_reaped = true;
    }
    int exitCode()
    {
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_reaped = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t m_pid = -1;
    bool m_reaped = false;
    int m_ready[2] = {-1, -1}, m_release[2] = {-1, -1};
};

} // namespace

Q_DECLARE_METATYPE(Damage)

class TestIndexDatStore : public QObject {
    Q_OBJECT
private slots:
    void fixtureDeletionMatchesWinInet();
    void refusedDeletionChangesNothing_data();
    void refusedDeletionChangesNothing();
    void staleLockDoesNotBlock();
    void deletesRefusedWhileInUse_data();
    void deletesRefusedWhileInUse();
    void bulkDeleteStaysConsistentWhereverWritesStop();
    void bulkDeleteSeesIndexChangedUnderIt();
    void secondDeleterWaitsForFirst();
    void waitForLockCanBeStopped();
    void version47RecordsList();
    void damagedStores_data();
    void damagedStores();
    void unsafeNamesStayInside_data();
    void unsafeNamesStayInside();
    void storeSelection_data();
    void storeSelection();
    void twoDeletersTakeTurns();
    void failingWritesLeaveUsableStore_data();
    void failingWritesLeaveUsableStore();
    void failedFlushIsReported();
    void farEntryIsLeftToWinInet();
    void groupUsageFollowsDeletion();
    void undecodableFileNameKeepsItsBytes();
    void unreadableUrlsAreLeftOut_data();
    void unreadableUrlsAreLeftOut();
    void indexShrinkingWhileListed();
    void indexThatIsAFifo();
};

void TestIndexDatStore::deletesRefusedWhileInUse_data()
{
    QTest::addColumn<QString>("use");
    QTest::addColumn<QString>("named");
    QTest::newRow("another process maps the index") << "map"
                                                    << "pid ";
    QTest::newRow("another process holds it open") << "open"
                                                   << "pid ";
    QTest::newRow("a Wine server runs for the prefix") << "wineserver"
                                                       << "wineserver of ";
}

void TestIndexDatStore::deletesRefusedWhileInUse()
{
    QFETCH(QString, use);
    QFETCH(QString, named);
    // The store lies in a Wine prefix, as Wine's own programs keep it.
    QTemporaryDir dir;
    const QString prefix = dir.path() + "/prefix";
    const QString folder = prefix + "/drive_c/users/me/AppData/Local/Microsoft/Windows/INetCache/Content.IE5";
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(CopyStoreFolder(FixturesDir() + "/wine-demo/Content.IE5", folder));
    const QString index = folder + "/index.dat";
    const QByteArray before = ReadBytes(index);
    const std::vector<std::string> urls = {"http://Bb.net/same.htm", "http://media.example.com/big/large.png"};

    // The Wine server's lock file, named by the prefix's device and inode as Wine names it.
    struct stat st {};
    QVERIFY(::stat(prefix.toLocal8Bit().constData(), &st) == 0);
    const QString base = QString::asprintf("/tmp/.wine-%u", unsigned(::getuid()));
    const QString serverDir = base
        + QString::asprintf("/server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                            static_cast<unsigned long long>(st.st_ino));
    // Wine wants both folders private to the user.
    bool madeBase = false, madeServerDir = false;
    if (use == "wineserver") {
        madeBase = ::mkdir(base.toLocal8Bit().constData(), 0700) == 0;
        madeServerDir = ::mkdir(serverDir.toLocal8Bit().constData(), 0700) == 0;
        QVERIFY(QDir(serverDir).exists());
    }
    const std::string path = (use == "wineserver" ? serverDir + "/lock" : index).toStdString();
    Child user([&](auto ready, auto waitRelease) {
        const int fd = ::open(path.c_str(), use == "wineserver" ? O_RDWR | O_CREAT : O_RDONLY, 0600);
        bool ok = fd >= 0;
        if (ok && use == "map")
            ok = ::mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0) != MAP_FAILED;
        if (ok && use == "wineserver") {
            struct flock lock {};
            lock.l_type = F_WRLCK;
            lock.l_whence = SEEK_SET;
            lock.l_len = 1;
            ok = ::fcntl(fd, F_SETLK, &lock) == 0;
        }
        ready(ok ? 'y' : 'n');
        if (use == "open") // another program, which inherits the open index
            ::execlp("sleep", "sleep", "60", nullptr);
        waitRelease();
        return 0;
    });
    QVERIFY(user.started());
    QCOMPARE(user.awaitReady(), 'y');
    if (use == "open")
        QVERIFY(user.awaitExec());

    IndexDatStore store(index.toStdString());
    const std::vector<KeyRemoval> during = store.removeMany(urls);
    const QByteArray after = ReadBytes(index);
    const bool fileKept = QFile::exists(folder + "/N3U7KZHE/same[0].htm");
    user.stop();
    if (madeServerDir) {
        QFile::remove(serverDir + "/lock");
        QDir().rmdir(serverDir);
    }
    if (madeBase)
        QDir().rmdir(base);

    for (const KeyRemoval &r : during) {
        QCOMPARE(r.outcome, RemovalOutcome::Refused);
        QCOMPARE(r.error, StoreError::Busy);
        QVERIFY2(QString::fromStdString(r.reason).contains("in use by pid ")
                     && QString::fromStdString(r.reason).contains(named),
                 r.reason.c_str());
    }
    QVERIFY(after == before);
    QVERIFY(fileKept);
    // Reading stays allowed meanwhile; once the other process is gone the deletes go through.
    for (const KeyRemoval &r : store.removeMany(urls))
        QCOMPARE(r.outcome, RemovalOutcome::Deleted);
}

void TestIndexDatStore::bulkDeleteStaysConsistentWhereverWritesStop()
{
    // Entries near the header and far from it, deleted in one pass, with the disk filling up
    // part-way at every write in turn: the index passes WinInet's checks whatever was written,
    // and what the pass calls deleted is gone.
    const NearAndFar layout = nearAndFarStore();
    std::vector<std::string> urls = {layout.entries[layout.nearEntry].url, layout.entries[layout.farEntry].url,
                                     layout.entries[layout.farEntry + 1].url};
    for (int i = 1; i < 61; i += 12)
        urls.push_back(layout.entries[std::size_t(i)].url);
    int clean = 0;
    for (int failAt = 1; clean == 0 || failAt <= clean + 1; ++failAt) {
        QTemporaryDir dir;
        const StoreWriteResult written = WriteTestStore(dir.path(), layout.entries);
        const QString index = QString::fromStdString(written.indexPath);
        auto failing = std::make_shared<FailingWrites>();
        failing->failAt = clean == 0 ? 0 : failAt;
        failing->cutFirst = true;
        IndexDatStore store(written.indexPath);
        store.setWriteCalls(failingCalls(failing));
        const std::vector<KeyRemoval> results = store.removeMany(urls);
        const QByteArray what = QByteArray::number(failAt);
        QCOMPARE(StoreConsistency(index), std::string());
        const std::set<std::string> listed = listedUrls(store);
        QCOMPARE(results.size(), urls.size());
        for (std::size_t i = 0; i < urls.size(); ++i) {
            if (results[i].gone())
                QVERIFY2(!listed.count(urls[i]), what);
            else
                QCOMPARE(results[i].error, StoreError::DiskFull);
        }
        // The rest goes once the disk has room again.
        store.setWriteCalls({});
        for (const KeyRemoval &r : store.removeMany(urls))
            QVERIFY2(r.gone(), what + ": " + r.reason.c_str());
        QCOMPARE(StoreConsistency(index), std::string());
        QCOMPARE(listedUrls(store).size(), layout.entries.size() - urls.size());
        if (clean == 0) {
            clean = failing->calls;
            QVERIFY(clean >= int(urls.size()) * 2);
        }
    }
}

void TestIndexDatStore::bulkDeleteSeesIndexChangedUnderIt()
{
    // Another writer that takes no lock (as Wine's WinInet) removes an entry in the middle of
    // our pass: the pass reads the index again instead of writing from its old copy.
    QTemporaryDir dir;
    const std::vector<StoreWriterEntry> entries = manyEntries(40);
    const StoreWriteResult written = WriteTestStore(dir.path(), entries);
    const std::vector<std::string> urls = urlsOf(entries, 0, 10);
    IndexDatStore store(written.indexPath);
    bool changed = false;
    const std::vector<KeyRemoval> results = store.removeMany(urls, [&](std::size_t done, bool) {
        if (done == 5) {
            const QByteArray bytes = ReadBytes(QString::fromStdString(written.indexPath));
            const IndexDatRemoval plan = PlanIndexDatRemoval(reinterpret_cast<const std::uint8_t *>(bytes.constData()),
                                                             std::size_t(bytes.size()), urls[7], std::time(nullptr));
            const int fd = ::open(written.indexPath.c_str(), O_RDWR);
            changed = plan.error == StoreError::None && fd >= 0
                && WriteIndexDatRemoval(fd, plan, {}).failed == plan.writes.size();
            ::close(fd);
        }
        return true;
    });
    QVERIFY(changed);
    for (std::size_t i = 0; i < urls.size(); ++i)
        QCOMPARE(results[i].outcome, i == 7 ? RemovalOutcome::AlreadyGone : RemovalOutcome::Deleted);
    QCOMPARE(StoreConsistency(QString::fromStdString(written.indexPath)), std::string());
    QCOMPARE(listedUrls(store).size(), entries.size() - urls.size());
}

void TestIndexDatStore::secondDeleterWaitsForFirst()
{
    // A slow deleter in another process holds the lock longer than any fixed wait would
    // allow; the second waits for it, and the entries it removed first count as gone.
    QTemporaryDir dir;
    const std::vector<StoreWriterEntry> entries = manyEntries(200);
    const StoreWriteResult written = WriteTestStore(dir.path(), entries);
    const std::vector<std::string> first = urlsOf(entries, 0, 140), second = urlsOf(entries, 100, 180);
    Child slow([&](auto ready, auto) {
        IndexDatStore store(written.indexPath);
        int failed = 0;
        for (const KeyRemoval &r : store.removeMany(first, [&](std::size_t done, bool) {
                 if (done == 0)
                     ready('y');
                 std::this_thread::sleep_for(std::chrono::milliseconds(45));
                 return true;
             }))
            failed += r.outcome == RemovalOutcome::Deleted ? 0 : 1;
        return failed;
    });
    QVERIFY(slow.started());
    QCOMPARE(slow.awaitReady(), 'y');
    IndexDatStore store(written.indexPath);
    bool waited = false;
    const std::vector<KeyRemoval> results = store.removeMany(second, [&](std::size_t, bool waiting) {
        waited = waited || waiting;
        return true;
    });
    QCOMPARE(slow.exitCode(), 0);
    QVERIFY(waited);
    for (std::size_t i = 0; i < second.size(); ++i)
        QCOMPARE(results[i].outcome, i < 40 ? RemovalOutcome::AlreadyGone : RemovalOutcome::Deleted);
    QCOMPARE(StoreConsistency(QString::fromStdString(written.indexPath)), std::string());
    QCOMPARE(listedUrls(store).size(), entries.size() - 180);
}

void TestIndexDatStore::waitForLockCanBeStopped()
{
    QTemporaryDir dir;
    const std::vector<StoreWriterEntry> entries = manyEntries(10);
    const StoreWriteResult written = WriteTestStore(dir.path(), entries);
    const QByteArray before = ReadBytes(QString::fromStdString(written.indexPath));
    // Another deleter holds the lock and does not let go.
    Child holder([&](auto ready, auto waitRelease) {
        const int fd = ::open(written.indexPath.c_str(), O_RDWR);
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        ready(fd >= 0 && ::fcntl(fd, F_OFD_SETLK, &lock) == 0 ? 'y' : 'n');
        waitRelease();
        return 0;
    });
    QVERIFY(holder.started());
    QCOMPARE(holder.awaitReady(), 'y');
    IndexDatStore store(written.indexPath);
    int waits = 0;
    const std::vector<KeyRemoval> results =
        store.removeMany(urlsOf(entries, 0, 5), [&](std::size_t, bool waiting) { return !(waiting && ++waits > 3); });
    holder.release();
    QCOMPARE(holder.exitCode(), 0);
    for (const KeyRemoval &r : results)
        QCOMPARE(r.outcome, RemovalOutcome::NotTried);
    QVERIFY(ReadBytes(QString::fromStdString(written.indexPath)) == before);
}

void TestIndexDatStore::fixtureDeletionMatchesWinInet()
{
    QTemporaryDir dir;
    const QString wine = FixturesDir() + "/wine-demo";
    QVERIFY(CopyStoreFolder(wine + "/Content.IE5", dir.path()));
    const QStringList filesBefore = FilesBelow(dir.path());

    auto store = std::make_shared<IndexDatStore>((dir.path() + "/index.dat").toStdString());
    SetUrlCacheStore(store);
    QVERIFY(DeleteUrlCacheEntry("http://Bb.net/same.htm"));
    QVERIFY(DeleteUrlCacheEntry("http://media.example.com/big/large.png"));
    QVERIFY(!DeleteUrlCacheEntry("http://media.example.com/big/large.png"));
    QCOMPARE(GetLastError(), ERROR_FILE_NOT_FOUND);
    SetUrlCacheStore(nullptr);

    QCOMPARE(ListedBy(*store, dir.path(), true), ExpectedList(wine + "/after-delete/expected-list.tsv", true));
    QStringList gone = filesBefore;
    for (const QString &f : FilesBelow(dir.path()))
        gone.removeOne(f);
    QCOMPARE(gone, QStringList({"FN2HEWQ7/large[0].png", "N3U7KZHE/same[0].htm"}));

    const QByteArray ours = ReadBytes(dir.path() + "/index.dat");
    const QByteArray winInet = ReadBytes(wine + "/after-delete/Content.IE5/index.dat");
    QCOMPARE(StoreConsistency(dir.path() + "/index.dat"), std::string());
    QCOMPARE(field32(ours, OffAllocated), field32(winInet, OffAllocated));
    QCOMPARE(bitmapCount(ours), bitmapCount(winInet));
    QCOMPARE(field64(ours, OffUsage), field64(winInet, OffUsage));
    QCOMPARE(field64(ours, OffExemptUsage), field64(winInet, OffExemptUsage));
    for (std::uint32_t i = 0; i < field32(winInet, OffFolderCount); ++i)
        QCOMPARE(field32(ours, int(OffFolders + FolderEntrySize * i)),
                 field32(winInet, int(OffFolders + FolderEntrySize * i)));
    // The hash page and the header beyond the bitmap agree byte for byte.
    QCOMPARE(ours.left(0x5000), winInet.left(0x5000));
}

void TestIndexDatStore::refusedDeletionChangesNothing_data()
{
    QTest::addColumn<Damage>("prepare");
    QTest::addColumn<QString>("url");
    QTest::addColumn<uint>("error");
    QTest::addColumn<bool>("listsEntries");

    QTest::newRow("unknown URL") << Damage() << "http://a.example/none.htm" << uint(StoreError::NotFound) << true;
    QTest::newRow("URL differs in case") << Damage() << "http://A.example/one.htm" << uint(StoreError::NotFound)
                                         << true;
    // Read in the 4.7 layout, the 5.2 records have no readable URL: nothing is listed.
    QTest::newRow("version 4.7") << Damage(
        [](QByteArray &b, const StoreWriteResult &) { std::memcpy(b.data(), SignatureNative47, SignatureSize); })
                                 << "http://a.example/one.htm" << uint(StoreError::ReadOnly) << false;
    QTest::newRow("block count off by one")
        << Damage([](QByteArray &b, const StoreWriteResult &) { put32(b, OffAllocated, field32(b, OffAllocated) + 1); })
        << "http://a.example/one.htm" << uint(StoreError::Damaged) << true;
    QTest::newRow("bits beyond capacity")
        << Damage([](QByteArray &b, const StoreWriteResult &) { b[int(OffBitmap + BitmapSize - 1)] = 1; })
        << "http://a.example/one.htm" << uint(StoreError::Damaged) << true;
    QTest::newRow("size field") << Damage(
        [](QByteArray &b, const StoreWriteResult &) { put32(b, OffFileSize, field32(b, OffFileSize) + 0x80); })
                                << "http://a.example/one.htm" << uint(StoreError::Damaged) << true;
    QTest::newRow("other Wine version") << Damage([](QByteArray &b, const StoreWriteResult &) {
        std::memcpy(b.data(), "WINE URLCache Ver 0.2012002", SignatureSize);
    }) << "http://a.example/one.htm" << uint(StoreError::Damaged)
                                        << false;
    QTest::newRow("locked and in use") << Damage([](QByteArray &b, const StoreWriteResult &w) {
        put32(b, int(w.entries[0].itemOffset), field32(b, int(w.entries[0].itemOffset)) | KeyLocked);
        put32(b, int(w.entries[0].recordOffset + 0x58), 1);
    }) << "http://a.example/one.htm" << uint(StoreError::Busy)
                                       << true;
    // The local file cannot go: a folder stands where it should be.
    QTest::newRow("file cannot be removed") << Damage([](QByteArray &, const StoreWriteResult &w) {
        QFile::remove(QString::fromStdString(w.entries[2].localFile));
        QDir().mkpath(QString::fromStdString(w.entries[2].localFile) + "/inside");
    }) << "http://b.example/three.txt" << uint(StoreError::Denied)
                                            << true;
}

void TestIndexDatStore::refusedDeletionChangesNothing()
{
    QFETCH(Damage, prepare);
    QFETCH(QString, url);
    QFETCH(uint, error);
    QFETCH(bool, listsEntries);
    QTemporaryDir dir;
    const StoreWriteResult written = WriteTestStore(dir.path(), smallStore());
    const QString index = dir.path() + "/index.dat";
    QByteArray bytes = ReadBytes(index);
    if (prepare) {
        prepare(bytes, written);
        QVERIFY(WriteBytes(index, bytes));
    }
    const QStringList files = FilesBelow(dir.path());

    IndexDatStore store(index.toStdString());
    QCOMPARE(ListEntries(store).empty(), !listsEntries);
    const StoreResult removed = store.remove(url.toStdString());
    QCOMPARE(uint(removed.error), error);
    QVERIFY(!removed.reason.empty());
    QCOMPARE(ReadBytes(index), bytes);
    QCOMPARE(FilesBelow(dir.path()), files);
}

void TestIndexDatStore::staleLockDoesNotBlock()
{
    QTemporaryDir dir;
    std::vector<StoreWriterEntry> entries = smallStore();
    entries[0].locked = true;
    entries[0].useCount = 1;
    entries[0].lastAccess = std::time(nullptr) - 2 * 86400;
    const StoreWriteResult written = WriteTestStore(dir.path(), entries);
    IndexDatStore store(written.indexPath);
    QCOMPARE(store.remove(entries[0].url).error, StoreError::None);
    QVERIFY(!QFile::exists(QString::fromStdString(written.entries[0].localFile)));
    QCOMPARE(ListEntries(store).size(), entries.size() - 1);
}

void TestIndexDatStore::version47RecordsList()
{
    QTemporaryDir dir;
    const StoreWriteResult written = WriteTestStore(dir.path(), smallStore());
    IndexDatStore store(written.indexPath);
    QStringList want = ListedBy(store, dir.path(), true);

    // Rewrite every record in the 4.7 layout: a FILETIME expiry moves the fields behind it.
    const QString index = dir.path() + "/index.dat";
    QByteArray b = ReadBytes(index);
    std::memcpy(b.data(), SignatureNative47, SignatureSize);
    for (const WrittenEntry &e : written.entries) {
        const int r = int(e.recordOffset);
        const QByteArray old = b.mid(r, int(UrlFixedSize));
        auto moved = [&](int from, int to, int size) { b.replace(r + to, size, old.mid(from, size)); };
        b.replace(r + 0x18, int(UrlFixedSize) - 0x18, QByteArray(int(UrlFixedSize) - 0x18, '\0'));
        moved(0x10, 0x18, 8); // expiry as a FILETIME: any time will do
        moved(0x20, 0x20, 4); // size
        moved(0x2C, 0x30, 4); // exempt delta
        moved(0x34, 0x38, 4); // URL offset
        moved(0x38, 0x3C, 1); // folder index
        moved(0x3C, 0x40, 4); // file name offset
        moved(0x40, 0x44, 4); // entry type
        moved(0x44, 0x48, 8); // header info offset and size
        moved(0x54, 0x58, 4); // hit rate
    }
    QVERIFY(WriteBytes(index, b));
    QCOMPARE(ListedBy(store, dir.path(), true), want);
    QCOMPARE(ListEntries(store).front().expires >> 32, ListEntries(store).front().lastAccess >> 32);
    QCOMPARE(store.remove("http://a.example/one.htm").error, StoreError::ReadOnly);
}

void TestIndexDatStore::damagedStores_data()
{
    QTest::addColumn<Damage>("damage");
    QTest::addColumn<int>("listed"); // entries still listed; -1: nothing and an error
    QTest::addColumn<uint>("deleteError");

    auto record = [](const StoreWriteResult &w, std::size_t i) { return int(w.entries[i].recordOffset); };
    QTest::newRow("shorter than a header")
        << Damage([](QByteArray &b, const StoreWriteResult &) { b.truncate(0x3FFF); }) << -1
        << uint(StoreError::Damaged);
    QTest::newRow("cut inside the hash page")
        << Damage([](QByteArray &b, const StoreWriteResult &) { b.truncate(0x4800); }) << 0
        << uint(StoreError::Damaged);
    QTest::newRow("cut inside a record") << Damage([record](QByteArray &b, const StoreWriteResult &w) {
        b.truncate(record(w, 3) + 0x40);
    }) << 3 << uint(StoreError::Damaged);
    QTest::newRow("wrong signature") << Damage([](QByteArray &b, const StoreWriteResult &) { b[0] = 'X'; }) << -1
                                     << uint(StoreError::Damaged);
    QTest::newRow("hash table outside") << Damage([](QByteArray &b, const StoreWriteResult &) {
        put32(b, OffHashTable, 0xFFFFFF80);
    }) << 0 << uint(StoreError::NotFound);
    QTest::newRow("hash table in the header")
        << Damage([](QByteArray &b, const StoreWriteResult &) { put32(b, OffHashTable, 0x100); }) << 0
        << uint(StoreError::NotFound);
    QTest::newRow("hash page not aligned")
        << Damage([](QByteArray &b, const StoreWriteResult &) { put32(b, OffHashTable, HeaderSize + 4); }) << 0
        << uint(StoreError::NotFound);
    QTest::newRow("hash chain loops") << Damage([](QByteArray &b, const StoreWriteResult &) {
        put32(b, HeaderSize + 8, HeaderSize);
    }) << 4 << uint(StoreError::None);
    QTest::newRow("hash page without HASH")
        << Damage([](QByteArray &b, const StoreWriteResult &) { b[int(HeaderSize)] = 'h'; }) << 0
        << uint(StoreError::NotFound);
    QTest::newRow("item points outside") << Damage([](QByteArray &b, const StoreWriteResult &w) {
        put32(b, int(w.entries[0].itemOffset + 4), 0x7FFFFFF0);
    }) << 3 << uint(StoreError::NotFound);
    QTest::newRow("item points into the header")
        << Damage([](QByteArray &b, const StoreWriteResult &w) { put32(b, int(w.entries[0].itemOffset + 4), 0x20); })
        << 3 << uint(StoreError::NotFound);
    QTest::newRow("item points at the last bytes") << Damage([](QByteArray &b, const StoreWriteResult &w) {
        put32(b, int(w.entries[0].itemOffset + 4), std::uint32_t(b.size() - 4));
    }) << 3 << uint(StoreError::NotFound);
    QTest::newRow("block count beyond the file")
        << Damage([record](QByteArray &b, const StoreWriteResult &w) { put32(b, record(w, 0) + 4, 0x40000000); }) << 3
        << uint(StoreError::NotFound);
    QTest::newRow("block count zero") << Damage([record](QByteArray &b, const StoreWriteResult &w) {
        put32(b, record(w, 0) + 4, 0);
    }) << 3 << uint(StoreError::NotFound);
    QTest::newRow("URL offset outside the record")
        << Damage([record](QByteArray &b, const StoreWriteResult &w) { put32(b, record(w, 0) + 0x34, 0xFFFFFFF0); })
        << 3 << uint(StoreError::NotFound);
    QTest::newRow("strings without NUL") << Damage([record](QByteArray &b, const StoreWriteResult &w) {
        const int start = record(w, 0) + int(UrlFixedSize);
        const int end = record(w, 0) + int(w.entries[0].blocks * BlockSize);
        for (int i = start; i < end; ++i)
            b[i] = 'A';
    }) << 3 << uint(StoreError::NotFound);
    QTest::newRow("name and header outside") << Damage([record](QByteArray &b, const StoreWriteResult &w) {
        put32(b, record(w, 0) + 0x3C, 0x1000);
        put32(b, record(w, 0) + 0x44, 0x70);
        put32(b, record(w, 0) + 0x48, 0xFFFFFFFF);
        put32(b, record(w, 0) + 0x4C, 0x80000000);
    }) << 4 << uint(StoreError::None);
    QTest::newRow("folder index beyond the table")
        << Damage([record](QByteArray &b, const StoreWriteResult &w) { b[record(w, 0) + 0x38] = char(7); }) << 4
        << uint(StoreError::None);
    QTest::newRow("folder count huge") << Damage([](QByteArray &b, const StoreWriteResult &) {
        put32(b, OffFolderCount, 0xFFFFFFFF);
    }) << 4 << uint(StoreError::Damaged);
}

void TestIndexDatStore::damagedStores()
{
    QFETCH(Damage, damage);
    QFETCH(int, listed);
    QFETCH(uint, deleteError);
    QTemporaryDir dir;
    const StoreWriteResult written = WriteTestStore(dir.path(), smallStore());
    const QString index = dir.path() + "/index.dat";
    QByteArray bytes = ReadBytes(index);
    damage(bytes, written);
    QVERIFY(WriteBytes(index, bytes));

    IndexDatStore store(index.toStdString());
    std::string error;
    const auto records = ListEntries(store, &error);
    QCOMPARE(int(records.size()), std::max(listed, 0));
    QCOMPARE(!error.empty(), listed < 0);
    for (const Listed &r : records)
        QVERIFY(r.localFileName.empty() || r.localFileName.rfind(dir.path().toStdString() + "/", 0) == 0);

    QCOMPARE(uint(store.remove("http://a.example/one.htm").error), deleteError);
    if (deleteError != uint(StoreError::None))
        QCOMPARE(ReadBytes(index), bytes);
    else
        QVERIFY(StoreConsistency(index).empty());
}

void TestIndexDatStore::unsafeNamesStayInside_data()
{
    QTest::addColumn<QByteArray>("fileName");
    QTest::addColumn<QByteArray>("folderName");
    QTest::addColumn<bool>("fileBeside"); // folder index 0xFE
    QTest::newRow("parent of the folder") << QByteArray("../victim.txt") << QByteArray() << false;
    QTest::newRow("backslash parent") << QByteArray("..\\victim.txt") << QByteArray() << false;
    QTest::newRow("two levels up") << QByteArray("../../outside/victim.txt") << QByteArray() << false;
    QTest::newRow("absolute") << QByteArray("/tmp/victim.txt") << QByteArray() << false;
    QTest::newRow("drive") << QByteArray("C:victim.txt") << QByteArray() << false;
    QTest::newRow("only dots") << QByteArray("..") << QByteArray() << false;
    QTest::newRow("index beside") << QByteArray("INDEX.DAT") << QByteArray() << true;
    QTest::newRow("folder climbs") << QByteArray("victim.txt") << QByteArray("../outsi") << false;
}

void TestIndexDatStore::unsafeNamesStayInside()
{
    QFETCH(QByteArray, fileName);
    QFETCH(QByteArray, folderName);
    QFETCH(bool, fileBeside);
    QTemporaryDir dir;
    const QString storeFolder = dir.path() + "/store/Content.IE5";
    // A long last segment leaves room in the record for every replacement name.
    StoreWriterOptions options;
    options.folderCount = 1;
    const StoreWriteResult written =
        WriteTestStore(storeFolder,
                       {entry("http://a.example/a-rather-long-file-name-for-room.txt", "bait"),
                        entry("http://a.example/keep.txt", "keep")},
                       options);
    const QString index = storeFolder + "/index.dat";
    QByteArray bytes = ReadBytes(index);
    const int record = int(written.entries[0].recordOffset);
    const int nameAt = record + int(field32(bytes, record + 0x3C));
    bytes.replace(nameAt, fileName.size() + 1, fileName + '\0');
    if (fileBeside)
        bytes[record + 0x38] = char(FolderNone);
    if (!folderName.isEmpty())
        bytes.replace(int(OffFolders + 4), 8, folderName.leftJustified(8, '.', true));
    QVERIFY(WriteBytes(index, bytes));

    // Victims wherever a careless join of the names would land.
    const QStringList victims = {dir.path() + "/store/victim.txt", dir.path() + "/victim.txt",
                                 dir.path() + "/outside/victim.txt", storeFolder + "/victim.txt"};
    for (const QString &v : victims) {
        QDir().mkpath(QFileInfo(v).path());
        QFile f(v);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }

    IndexDatStore store(index.toStdString());
    const auto records = ListEntries(store);
    QCOMPARE(records.size(), std::size_t(2));
    for (const Listed &r : records) {
        const QString local = QString::fromStdString(r.localFileName);
        QVERIFY2(!local.contains("/../") && !local.endsWith("/..") && local.startsWith(storeFolder + "/"),
                 qPrintable(local));
        QVERIFY(local != index);
    }
    QCOMPARE(store.remove("http://a.example/a-rather-long-file-name-for-room.txt").error, StoreError::None);
    for (const QString &v : victims)
        QVERIFY2(QFile::exists(v), qPrintable(v));
    QVERIFY(QFile::exists(index));
    QCOMPARE(ListEntries(store).size(), std::size_t(1));
    QVERIFY(StoreConsistency(index).empty());
}

void TestIndexDatStore::storeSelection_data()
{
    QTest::addColumn<QString>("urlcache");   // TIDEWRACK_URLCACHE, relative to the temporary folder
    QTest::addColumn<QString>("wineprefix"); // WINEPREFIX, the same
    QTest::addColumn<QString>("chosen");     // the index chosen, empty: none

    QTest::newRow("folder") << "given"
                            << ""
                            << "given/index.dat";
    QTest::newRow("index file") << "given/index.dat"
                                << ""
                                << "given/index.dat";
    QTest::newRow("nothing there") << "missing"
                                   << "prefix"
                                   << "";
    QTest::newRow("wine prefix") << ""
                                 << "prefix"
                                 << "WINE";
    QTest::newRow("empty wine prefix") << ""
                                       << "empty"
                                       << "";
}

void TestIndexDatStore::storeSelection()
{
    QFETCH(QString, urlcache);
    QFETCH(QString, wineprefix);
    QFETCH(QString, chosen);
    QTemporaryDir dir;
    WriteTestStore(dir.path() + "/given", smallStore());
    QDir().mkpath(dir.path() + "/empty");
    QDir().mkpath(dir.path() + "/home");

    StoreSearchRoots roots;
    roots.home = (dir.path() + "/home").toStdString();
    roots.userName = "someone";
    roots.winePrefix = (dir.path() + '/' + wineprefix).toStdString();
    if (chosen == "WINE") {
        const QString wineStore = QString::fromStdString(WineCacheFolder(roots));
        QVERIFY(wineStore.contains("/drive_c/users/someone/"));
        WriteTestStore(wineStore, smallStore());
        chosen = wineStore.mid(dir.path().size() + 1) + "/index.dat";
    }
    StartChoice choice;
    if (!urlcache.isEmpty())
        choice.environment = (dir.path() + '/' + urlcache).toStdString();
    const StartStore start = ChooseStartStore(choice, roots);
    QVERIFY(!start.why.empty());
    auto store = OpenStore(start.path);
    QVERIFY(store);
    auto *index = dynamic_cast<IndexDatStore *>(store.get());
    if (chosen.isEmpty()) {
        QVERIFY(!index);
        std::string error;
        QVERIFY(ListEntries(*store, &error).empty());
        QVERIFY(!error.empty());
        QCOMPARE(store->remove("http://a.example/one.htm").error, StoreError::NotFound);
        return;
    }
    QVERIFY2(index, store->describe().c_str());
    QCOMPARE(QString::fromStdString(index->indexPath()), dir.path() + '/' + chosen);
    QCOMPARE(ListEntries(*store).size(), smallStore().size());
}

void TestIndexDatStore::twoDeletersTakeTurns()
{
    // Rounds of two processes that start deleting at the same moment, ten entries each.
    for (int round = 0; round < 12; ++round) {
        QTemporaryDir dir;
        std::vector<StoreWriterEntry> entries;
        for (int i = 0; i < 90; ++i)
            entries.push_back(
                entry("http://host" + std::to_string(i % 7) + ".example/page" + std::to_string(i) + ".htm",
                      "<p>" + std::to_string(i) + "</p>"));
        StoreWriterOptions options;
        options.seed = std::uint64_t(round) + 1;
        const StoreWriteResult written = WriteTestStore(dir.path(), entries, options);
        std::vector<std::string> mine[2];
        std::set<std::size_t> deleted;
        for (std::size_t i = 0; i < 20; ++i) {
            const std::size_t at = i * 4 + std::size_t(round) % 4;
            mine[i % 2].push_back(entries[at].url);
            deleted.insert(at);
        }
        int start[2];
        QVERIFY(::pipe(start) == 0);
        pid_t children[2];
        for (int c = 0; c < 2; ++c) {
            children[c] = ::fork();
            QVERIFY(children[c] >= 0);
            if (children[c] == 0) {
                char go;
                (void)!::read(start[0], &go, 1);
                IndexDatStore store(written.indexPath);
                int failed = 0;
                for (const std::string &url : mine[c])
                    failed += store.remove(url).ok() ? 0 : 1;
                ::_exit(failed);
            }
        }
        QVERIFY(::write(start[1], "gg", 2) == 2);
        for (const pid_t child : children) {
            int status = 0;
            QVERIFY(::waitpid(child, &status, 0) == child);
            QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0, qPrintable(QString::number(status)));
        }
        ::close(start[0]);
        ::close(start[1]);

        QCOMPARE(StoreConsistency(QString::fromStdString(written.indexPath)), std::string());
        IndexDatStore store(written.indexPath);
        std::set<std::string> want;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (!deleted.count(i))
                want.insert(entries[i].url);
            QCOMPARE(fileExists(written.entries[i].localFile), !deleted.count(i));
        }
        QCOMPARE(listedUrls(store), want);
    }
}

void TestIndexDatStore::failingWritesLeaveUsableStore_data()
{
    QTest::addColumn<bool>("far");
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("cutFirst");
    QTest::addColumn<uint>("reported");
    QTest::addColumn<QString>("cause");
    for (const bool far : {false, true}) {
        const char *where = far ? "far" : "near";
        QTest::addRow("%s, disk full", where) << far << ENOSPC << false << uint(StoreError::DiskFull) << "disk full";
        QTest::addRow("%s, I/O error", where) << far << EIO << false << uint(StoreError::IoError) << "I/O error";
        QTest::addRow("%s, disk full part-way", where)
            << far << ENOSPC << true << uint(StoreError::DiskFull) << "disk full";
    }
}

void TestIndexDatStore::failingWritesLeaveUsableStore()
{
    QFETCH(bool, far);
    QFETCH(int, error);
    QFETCH(bool, cutFirst);
    QFETCH(uint, reported);
    QFETCH(QString, cause);
    const NearAndFar layout = nearAndFarStore();
    const std::size_t target = far ? layout.farEntry : layout.nearEntry;
    const std::string url = layout.entries[target].url;

    // How many write calls a delete that goes through makes.
    int clean = 0;
    {
        QTemporaryDir dir;
        const StoreWriteResult written = WriteTestStore(dir.path(), layout.entries);
        QCOMPARE(written.entries[target].recordOffset >= FirstFarBlockOffset, far);
        auto counter = std::make_shared<FailingWrites>();
        IndexDatStore store(written.indexPath);
        store.setWriteCalls(failingCalls(counter));
        QVERIFY(store.remove(url).ok());
        clean = counter->calls;
        QVERIFY(clean >= 3);
    }
    // Every write in turn fails; the one after the last fails none.
    int cuts = 0;
    for (int failAt = 1; failAt <= clean + 1; ++failAt) {
        QTemporaryDir dir;
        const StoreWriteResult written = WriteTestStore(dir.path(), layout.entries);
        const QString index = QString::fromStdString(written.indexPath);
        auto failing = std::make_shared<FailingWrites>();
        failing->failAt = failAt;
        failing->error = error;
        failing->cutFirst = cutFirst;
        IndexDatStore store(written.indexPath);
        store.setWriteCalls(failingCalls(failing));
        const StoreResult result = store.remove(url);
        cuts += failing->cuts;
        const QString reason = QString::fromStdString(result.reason);
        const QByteArray what = QByteArray::number(failAt) + ": " + reason.toUtf8();

        QCOMPARE(StoreConsistency(index), std::string());
        QVERIFY2(!fileExists(written.entries[target].localFile), what);
        const std::set<std::string> urls = listedUrls(store);
        QCOMPARE(urls.size(), layout.entries.size() - (failAt == 1 ? 0 : 1));
        QCOMPARE(urls.count(url), std::size_t(failAt == 1 ? 1 : 0));
        if (failAt > clean) {
            QVERIFY2(result.ok(), what);
        } else {
            QCOMPARE(uint(result.error), reported);
            QVERIFY2(reason.contains(cause), what);
            QVERIFY2(reason.contains(failAt == 1 ? "the local file was removed" : "the entry was removed"), what);
            QVERIFY2(!reason.contains("access", Qt::CaseInsensitive), what);
        }
        // The store takes further deletes, the failed one included.
        store.setWriteCalls({});
        if (failAt == 1)
            QVERIFY2(store.remove(url).ok(), what);
        QVERIFY2(store.remove(layout.entries[layout.farEntry + 1].url).ok(), what);
        QCOMPARE(StoreConsistency(index), std::string());
    }
    QCOMPARE(cuts > 0, cutFirst);
}

void TestIndexDatStore::failedFlushIsReported()
{
    QTemporaryDir dir;
    const StoreWriteResult written = WriteTestStore(dir.path(), smallStore());
    IndexDatStore store(written.indexPath);
    IndexDatWriteCalls calls;
    calls.fsync = [](int) {
        errno = EIO;
        return -1;
    };
    store.setWriteCalls(calls);
    const StoreResult result = store.remove(smallStore()[1].url);
    QCOMPARE(result.error, StoreError::IoError);
    QVERIFY(QString::fromStdString(result.reason).contains("flushed"));
    QVERIFY(QString::fromStdString(result.reason).contains("I/O error"));
    QCOMPARE(ListEntries(store).size(), smallStore().size() - 1);
}

void TestIndexDatStore::farEntryIsLeftToWinInet()
{
    QTemporaryDir dir;
    const NearAndFar layout = nearAndFarStore();
    const StoreWriteResult written = WriteTestStore(dir.path(), layout.entries);
    const QString index = QString::fromStdString(written.indexPath);
    const QByteArray before = ReadBytes(index);
    const WrittenEntry &far = written.entries[layout.farEntry];
    const WrittenEntry &next = written.entries[layout.farEntry + 1];
    IndexDatStore store(written.indexPath);
    QVERIFY(store.remove(layout.entries[layout.farEntry].url).ok());
    QVERIFY(store.remove(layout.entries[layout.farEntry + 1].url).ok());

    // Both records are LEAK records at the head of the leak list, newest first, with their
    // blocks, folder counts and usage still counted: WinInet frees them once it sees their
    // files gone. The URLs are no longer in the file.
    const QByteArray after = ReadBytes(index);
    const int leakList = int(OffHeaderData + 4 * 0x16);
    QCOMPARE(field32(after, leakList), next.recordOffset);
    QCOMPARE(after.mid(int(next.recordOffset), 4), QByteArray("LEAK"));
    QCOMPARE(field32(after, int(next.recordOffset + 0x2C)), far.recordOffset);
    QCOMPARE(after.mid(int(far.recordOffset), 4), QByteArray("LEAK"));
    QCOMPARE(field32(after, int(far.recordOffset + 0x2C)), 0u);
    QCOMPARE(field32(after, OffAllocated), field32(before, OffAllocated));
    QCOMPARE(after.mid(int(OffBitmap), int(BitmapSize)), before.mid(int(OffBitmap), int(BitmapSize)));
    QCOMPARE(field64(after, OffUsage), field64(before, OffUsage));
    QVERIFY(!after.contains("far.example"));
    QCOMPARE(after.mid(int(far.recordOffset + 4), 4), before.mid(int(far.recordOffset + 4), 4)); // block count
    QCOMPARE(after.mid(int(far.recordOffset + 0x20), 0x1C), before.mid(int(far.recordOffset + 0x20), 0x1C));
    QCOMPARE(StoreConsistency(index), std::string());
    QCOMPARE(ListEntries(store).size(), layout.entries.size() - 2);
}

void TestIndexDatStore::groupUsageFollowsDeletion()
{
    // The favicon entries of the Windows 7 store belong to the group entry at 0x4008.
    QTemporaryDir dir;
    QVERIFY(QFile::copy(FixturesDir() + "/win7-content/index.dat", dir.filePath("index.dat")));
    QFile::setPermissions(dir.filePath("index.dat"), QFile::ReadOwner | QFile::WriteOwner);
    const QByteArray before = ReadBytes(dir.filePath("index.dat"));
    QCOMPARE(field64(before, 0x4018), quint64(30496));
    IndexDatStore store(dir.filePath("index.dat").toStdString());
    QVERIFY(store.remove("https://ieonline.microsoft.com/favicon.ico").ok());
    const QByteArray after = ReadBytes(dir.filePath("index.dat"));
    QCOMPARE(field64(after, 0x4018), quint64(30496 - 1150));
    QCOMPARE(StoreConsistency(dir.filePath("index.dat")), std::string());
}

void TestIndexDatStore::undecodableFileNameKeepsItsBytes()
{
    QTemporaryDir dir;
    const StoreWriteResult written = WriteTestStore(dir.path(), smallStore());
    const QString index = QString::fromStdString(written.indexPath);
    // A stored name with a GBK lead byte before a space: neither UTF-8 nor GBK. On disk the
    // file bears these very bytes.
    const WrittenEntry &target = written.entries[0];
    const std::string name = "\x81 x[1].htm";
    QByteArray bytes = ReadBytes(index);
    const int nameAt = int(target.recordOffset + field32(bytes, int(target.recordOffset + 0x3C)));
    QCOMPARE(QByteArray(bytes.constData() + nameAt), QByteArray("one[1].htm"));
    bytes.replace(nameAt, int(name.size()) + 1, QByteArray(name.c_str(), int(name.size()) + 1));
    QVERIFY(WriteBytes(index, bytes));
    const std::string folder = target.localFile.substr(0, target.localFile.rfind('/') + 1);
    QVERIFY(::rename(target.localFile.c_str(), (folder + name).c_str()) == 0);

    IndexDatStore store(written.indexPath);
    std::string listedPath;
    for (const Listed &r : ListEntries(store))
        if (r.url == smallStore()[0].url)
            listedPath = r.localFileName;
    QCOMPARE(QByteArray::fromStdString(listedPath), QByteArray::fromStdString(folder + name));
    QVERIFY(fileExists(listedPath));
    QVERIFY(store.remove(smallStore()[0].url).ok());
    QVERIFY(!fileExists(folder + name));
    QCOMPARE(ListEntries(store).size(), smallStore().size() - 1);
    QCOMPARE(StoreConsistency(index), std::string());
}

void TestIndexDatStore::unreadableUrlsAreLeftOut_data()
{
    QTest::addColumn<Damage>("damage");
    QTest::addColumn<QString>("reason");
    auto urlAt = [](std::uint32_t offset) {
        return Damage([offset](QByteArray &b, const StoreWriteResult &w) {
            put32(b, int(w.entries[1].recordOffset + 0x34), offset);
        });
    };
    QTest::newRow("offset outside the file") << urlAt(0xFFFFFFF0) << "URL outside its record";
    QTest::newRow("offset past the record") << Damage([](QByteArray &b, const StoreWriteResult &w) {
        put32(b, int(w.entries[1].recordOffset + 0x34), w.entries[1].blocks * BlockSize + 8);
    }) << "URL outside its record";
    QTest::newRow("offset zero") << urlAt(0) << "URL outside its record";
    QTest::newRow("no zero after the URL") << Damage([](QByteArray &b, const StoreWriteResult &w) {
        const int record = int(w.entries[1].recordOffset);
        const int url = record + int(field32(b, record + 0x34));
        for (int i = url; i < record + int(w.entries[1].blocks * BlockSize); ++i)
            b[i] = 'u';
    }) << "URL without an end inside its record";
}

void TestIndexDatStore::unreadableUrlsAreLeftOut()
{
    QFETCH(Damage, damage);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const StoreWriteResult written = WriteTestStore(dir.path(), smallStore());
    const QString index = QString::fromStdString(written.indexPath);
    QByteArray bytes = ReadBytes(index);
    damage(bytes, written);
    QVERIFY(WriteBytes(index, bytes));

    IndexDatStore store(written.indexPath);
    const StoreListing listing = store.list();
    QVERIFY(listing.ok());
    QCOMPARE(listing.skipped, 1u);
    QCOMPARE(listing.skipWhy.count(reason.toStdString()), std::size_t(1));
    std::set<std::string> want;
    for (std::size_t i = 0; i < smallStore().size(); ++i)
        if (i != 1)
            want.insert(smallStore()[i].url);
    QCOMPARE(listedUrls(store), want);
}

void TestIndexDatStore::indexShrinkingWhileListed()
{
    QTemporaryDir dir;
    std::vector<StoreWriterEntry> entries;
    for (int i = 0; i < 3000; ++i)
        entries.push_back(entry("http://h" + std::to_string(i % 40) + ".example/" + std::to_string(i) + ".htm", "x"));
    const StoreWriteResult written = WriteTestStore(dir.path(), entries);
    const QByteArray whole = ReadBytes(QString::fromStdString(written.indexPath));

    // A child cuts the index down to its header and writes it back, over and over, until
    // this process kills it (or dies).
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(0);
        const int fd = ::open(written.indexPath.c_str(), O_WRONLY);
        for (;;) {
            (void)!::ftruncate(fd, 0x4000);
            ::usleep(300);
            (void)!::pwrite(fd, whole.constData(), std::size_t(whole.size()), 0);
            ::usleep(300);
        }
    }
    struct Reaper {
        pid_t pid;
        ~Reaper() { stop(); }
        void stop()
        {
            if (pid > 0) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
            }
            pid = 0;
        }
    } reaper{child};
    IndexDatStore store(written.indexPath);
    int whole_ = 0, failed = 0;
    for (int i = 0; i < 300; ++i) {
        const StoreListing listing = store.list();
        QVERIFY(listing.entries.size() <= entries.size());
        if (!listing.ok())
            ++failed;
        else if (listing.entries.size() == entries.size())
            ++whole_;
    }
    reaper.stop();
    qInfo("%d of 300 listings whole, %d refused as changing", whole_, failed);
    QVERIFY(WriteBytes(QString::fromStdString(written.indexPath), whole));
    QCOMPARE(ListEntries(store).size(), entries.size());
}

void TestIndexDatStore::indexThatIsAFifo()
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("index.dat").toStdString();
    QVERIFY(::mkfifo(path.c_str(), 0600) == 0);
    IndexDatStore store(path);
    const StoreListing listing = store.list();
    QVERIFY(!listing.ok());
    QVERIFY(QString::fromStdString(listing.error).contains("not a regular file"));
    QVERIFY(!store.remove("http://a.example/one.htm").ok());
}

QTEST_GUILESS_MAIN(TestIndexDatStore)
#include "tst_indexdatstore.moc"
