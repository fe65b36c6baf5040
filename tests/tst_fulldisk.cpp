// The files the program writes, on a full or read-only disk: a small tmpfs in a mount
// namespace of the test's own (as root; skipped otherwise). Every writer keeps the old file
// and names the cause, the window says it in Chinese, the command-line tool exits with 3.

#include "answering.h"
#include "app/listcolumns.h"
#include "app/settingsfile.h"
#include "catalogue/documentlistmodel.h"
#include "catalogue/listexport.h"
#include "platform/browser/savedpage.h"
#include "platform/offlinestate.h"
#include "platform/wininet.h"
#include "stores/storeregistry.h"
#include "support.h"
#include "tools/writers/chromiumwriter.h"
#include "tools/writers/firefoxwriter.h"
#include "windowsupport.h"

#include <QApplication>
#include <QProcess>
#include <QtTest>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

bool g_privateMounts = false;

// A 64 KiB tmpfs over a temporary folder, seen by this process and its children only.
class SmallDisk {
public:
    SmallDisk()
    {
        if (g_privateMounts)
            m_mounted = ::mount("tmpfs", QFile::encodeName(m_dir.path()).constData(), "tmpfs", 0, "size=64k") == 0;
    }
    ~SmallDisk()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
    }
    bool mounted() const { return m_mounted; }
    QString path(const QString &name = {}) const { return name.isEmpty() ? m_dir.path() : m_dir.filePath(name); }

    // Takes every free page, one page a file, so that free() can hand pages back.
    bool fill()
    {
        const QByteArray page(4096, 'f');
        for (;; ++m_fillers) {
            const QByteArray name = QFile::encodeName(path(QStringLiteral(".fill%1").arg(m_fillers)));
            const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            if (fd < 0)
                return false;
            const ssize_t n = ::write(fd, page.constData(), std::size_t(page.size()));
            ::close(fd);
            if (n != page.size())
                return errno == ENOSPC || n >= 0;
        }
    }
    void free(int pages)
    {
        for (int i = 0; i < pages && m_fillers > 0; ++i)
            QFile::remove(path(QStringLiteral(".fill%1").arg(--m_fillers)));
    }
    QStringList files() const
    {
        QStringList all = FilesBelow(path());
        all.removeIf([](const QString &name) { return name.startsWith(QLatin1String(".fill")); });
        return all;
    }

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
    int m_fillers = 0;
};

enum class Writer { Settings, OfflineState, LastStore, Columns, ListExport, SavedPage };

StoreWriterEntry page(const char *url, const char *content)
{
    StoreWriterEntry e;
    e.url = url;
    e.content = content;
    return e;
}

ColumnLayout someLayout()
{
    ColumnLayout layout;
    for (int column = 0; column < DocumentListModel::AllColumnCount; ++column) {
        layout.order.push_back(column);
        layout.shown.push_back(true);
        layout.widths.push_back(90);
    }
    return layout;
}

// Runs one writer over the file `path`; its error.
StoreError write(Writer writer, const QString &path)
{
    switch (writer) {
    case Writer::Settings:
        return WriteSettingsFile(path, Tsettingdata{}).error;
    case Writer::OfflineState:
        UseOfflineStateFile(path.toStdString());
        return SetOffline(true) ? StoreError::None : StoreErrorOfWinInet(GetLastError());
    case Writer::LastStore:
        return RememberStore("/some/cache").error;
    case Writer::Columns:
        return WriteColumnLayout(path, someLayout()).error;
    case Writer::ListExport: {
        EntryFields fields;
        return ExportEntryList(path, {}, ListFormat::Html, fields).error;
    }
    case Writer::SavedPage:
        return RewriteSavedPage(path).error;
    }
    return StoreError::Damaged;
}

} // namespace

class TestFullDisk : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void writersKeepTheOldFile_data();
    void writersKeepTheOldFile();
    void settingsSurviveAFullDiskAtExit();
    void exportWithoutRoomForTheManifest();
    void listOntoAFullDisk();
    void readOnlyDiskReadsAlikeForEveryKind_data();
    void readOnlyDiskReadsAlikeForEveryKind();
    void firefoxEntryThatIsAKernelFile();

private:
    QStringList m_boxes;
    ScriptedAnswerer m_answerer;
};

void TestFullDisk::init()
{
    if (!g_privateMounts)
        QSKIP("needs root for a small tmpfs in a mount namespace of its own");
    m_boxes.clear();
    m_answerer.reply = [this](const MessageBoxRequest &r) {
        m_boxes << r.text;
        return IDOK;
    };
}

void TestFullDisk::cleanup()
{
    m_answerer.reply = {};
    qunsetenv("XDG_CONFIG_HOME");
}

void TestFullDisk::writersKeepTheOldFile_data()
{
    QTest::addColumn<Writer>("writer");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("old");
    const QByteArray settings(52, '\x01');
    QTest::newRow("settings file") << Writer::Settings << "tidewrack.inf" << settings;
    QTest::newRow("offline state") << Writer::OfflineState << "offline" << QByteArray("0\n");
    QTest::newRow("last store") << Writer::LastStore << "tidewrack/last-store" << QByteArray("/an/older/cache\n");
    QTest::newRow("columns") << Writer::Columns << "columns.ini" << QByteArray("[columns]\norder=url\n");
    QTest::newRow("list export") << Writer::ListExport << "list.html" << QByteArray("<p>an older list</p>");
    QTest::newRow("saved page") << Writer::SavedPage << "page.htm"
                                << QByteArray("<a href=\"twhttp://a.example/\">a page from the cache</a>");
}

void TestFullDisk::writersKeepTheOldFile()
{
    QFETCH(Writer, writer);
    QFETCH(QString, name);
    QFETCH(QByteArray, old);
    SmallDisk disk;
    QVERIFY(disk.mounted());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(disk.path()));
    QVERIFY(WriteBytes(disk.path(name), old));
    const QStringList before = disk.files();
    QVERIFY(disk.fill());

    QCOMPARE(write(writer, disk.path(name)), StoreError::DiskFull);
    QCOMPARE(ReadBytes(disk.path(name)), old);
    QCOMPARE(disk.files(), before); // no half-written file left beside it

    disk.free(4); // with room again, the same writer replaces the file
    QCOMPARE(write(writer, disk.path(name)), StoreError::None);
    QVERIFY(ReadBytes(disk.path(name)) != old);
}

void TestFullDisk::settingsSurviveAFullDiskAtExit()
{
    SmallDisk disk;
    QVERIFY(disk.mounted());
    TestStore store;
    store.add("http://a.net/1.htm", "1.htm", "1");
    Tsettingdata settings{};
    settings.viewdoc = 1;
    settings.listheight = 222;
    QVERIFY(WriteSettingsFile(disk.path(settings_name), settings).ok());
    const QByteArray old = ReadBytes(disk.path(settings_name));
    {
        ShownWindow shown(disk.path(), &m_answerer);
        QVERIFY(shown.open());
        QVERIFY(disk.fill());
        shown.close();
    }
    QCOMPARE(ReadBytes(disk.path(settings_name)), old);
    QCOMPARE(m_boxes.size(), 1);
    QVERIFY2(m_boxes.front().startsWith(QStringLiteral("设置未能保存：磁盘已满。")), qPrintable(m_boxes.front()));
}

// The documents fit, the manifest does not: the export says so with status 3, and leaves no
// cut manifest behind.
void TestFullDisk::exportWithoutRoomForTheManifest()
{
    SmallDisk disk;
    QVERIFY(disk.mounted());
    QTemporaryDir cache;
    WriteTestStore(cache.path(), {page("http://a.example/one.htm", "one"), page("http://a.example/two.htm", "two")});
    QVERIFY(QDir().mkpath(disk.path(QStringLiteral("out"))));
    QVERIFY(disk.fill());
    disk.free(2);
    QProcess cli;
    cli.start(QStringLiteral(TIDEWRACK_CLI),
              {QStringLiteral("export"), cache.path(), disk.path(QStringLiteral("out"))});
    QVERIFY(cli.waitForFinished(60000));
    const QByteArray err = cli.readAllStandardError();
    QCOMPARE(cli.exitCode(), 3);
    QVERIFY2(err.contains("manifest not written"), err.constData());
    QCOMPARE(QDir(disk.path(QStringLiteral("out"))).entryList(QDir::Files), QStringList({"one.htm", "two.htm"}));
}

void TestFullDisk::listOntoAFullDisk()
{
    SmallDisk disk;
    QVERIFY(disk.mounted());
    QTemporaryDir cache;
    WriteTestStore(cache.path(), {page("http://a.example/one.htm", "one")});
    QVERIFY(disk.fill());
    QProcess cli;
    cli.setStandardOutputFile(disk.path(QStringLiteral("list.tsv")));
    cli.start(QStringLiteral(TIDEWRACK_CLI), {QStringLiteral("list"), cache.path()});
    QVERIFY(cli.waitForFinished(60000));
    const QByteArray err = cli.readAllStandardError();
    QCOMPARE(cli.exitCode(), 3);
    QVERIFY2(err.contains("the list could not be written whole: No space left on device"), err.constData());
}

void TestFullDisk::readOnlyDiskReadsAlikeForEveryKind_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("WinInet") << "wininet";
    QTest::newRow("Firefox") << "firefox";
    QTest::newRow("Chromium") << "chromium";
}

// The same cause gives the same error number whatever kind of cache met it.
void TestFullDisk::readOnlyDiskReadsAlikeForEveryKind()
{
    QFETCH(QString, kind);
    SmallDisk disk;
    QVERIFY(disk.mounted());
    const std::string folder = disk.path(QStringLiteral("cache")).toStdString();
    std::string key;
    if (kind == QLatin1String("wininet")) {
        WriteTestStore(QString::fromStdString(folder), {page("http://a.example/one.htm", "one")});
        key = "http://a.example/one.htm";
    } else {
        BrowserWriterEntry entry;
        entry.url = "https://a.example/one.htm";
        entry.body = "one";
        const BrowserWriteResult written = kind == QLatin1String("firefox") ? WriteFirefoxStore(folder, {entry})
                                                                            : WriteChromiumSimpleStore(folder, {entry});
        QVERIFY2(written.ok, written.error.c_str());
        key = written.entries.front().key;
    }
    QCOMPARE(::mount(nullptr, QFile::encodeName(disk.path()).constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    const StoreResult removed = OpenStore(folder)->remove(key);
    QCOMPARE(removed.error, StoreError::DiskReadOnly);
}

// A file that says it is empty and still gives bytes (here the kernel's, bound over an entry)
// is no entry Firefox is still writing: it is counted as left out.
void TestFullDisk::firefoxEntryThatIsAKernelFile()
{
    QTemporaryDir dir;
    BrowserWriterEntry one, two;
    one.url = "https://a.example/one.htm";
    two.url = "https://a.example/two.htm";
    const BrowserWriteResult written = WriteFirefoxStore(dir.filePath("cache2").toStdString(), {one, two});
    QVERIFY2(written.ok, written.error.c_str());
    const QByteArray victim = QByteArray::fromStdString(written.entries[1].file);
    QVERIFY(WriteBytes(QString::fromUtf8(victim), {}));
    QCOMPARE(::mount("/proc/self/status", victim.constData(), nullptr, MS_BIND, nullptr), 0);
    const StoreListing listing = OpenStore(written.folder)->list();
    ::umount2(victim.constData(), MNT_DETACH);
    QCOMPARE(listing.entries.size(), 1u);
    QCOMPARE(listing.skipped, 1u);
}

int main(int argc, char **argv)
{
    // Before any thread starts, so that every thread and child shares the namespace; mounts
    // made in it stay out of everyone else's sight and go with the process.
    g_privateMounts = ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0
        && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    QApplication app(argc, argv);
    TestFullDisk test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_fulldisk.moc"
