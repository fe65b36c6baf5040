// tidewrack-cli as scripts run it: the real binary in its own process, on the fixture stores
// of every kind the registry recognises and on stores the project's writers made. Checks the
// documented output, the filters, the document export and the exit statuses.

#include "stores/storeregistry.h"
#include "support.h"
#include "tools/writers/chromiumwriter.h"
#include "tools/writers/firefoxwriter.h"
#include "tools/writers/indexdatwriter.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Run {
    int status = -1;
    QByteArray out;
    QByteArray err;
};

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList filesBelow(const QString &folder)
{
    QStringList out;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QDir(folder).relativeFilePath(it.next());
    out.sort();
    return out;
}

// Copies a fixture so that nothing can touch the original.
bool copyTree(const QString &from, const QString &to)
{
    QDirIterator it(from, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString source = it.next();
        const QString target = to + QLatin1Char('/') + QDir(from).relativeFilePath(source);
        if (!QDir().mkpath(QFileInfo(target).absolutePath()) || !QFile::copy(source, target))
            return false;
        QFile::setPermissions(target, QFile::permissions(target) | QFileDevice::WriteOwner);
    }
    return true;
}

QJsonArray jsonRows(const QByteArray &out)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(out, &error);
    if (error.error != QJsonParseError::NoError)
        qWarning() << "not JSON:" << error.errorString();
    return document.array();
}

QStringList urlsOf(const QJsonArray &rows)
{
    QStringList urls;
    for (const QJsonValue &row : rows)
        urls << row.toObject().value(QStringLiteral("url")).toString();
    urls.sort();
    return urls;
}

// The rows of a TSV text with a header line: each a map from column name to the unescaped cell.
QList<QMap<QString, QString>> tsvRows(const QByteArray &out)
{
    QList<QMap<QString, QString>> rows;
    QStringList lines = QString::fromUtf8(out).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    if (lines.isEmpty())
        return rows;
    const QStringList names = lines.takeFirst().split(QLatin1Char('\t'));
    for (const QString &line : lines) {
        const QStringList cells = line.split(QLatin1Char('\t'));
        QMap<QString, QString> row;
        for (qsizetype i = 0; i < cells.size() && i < names.size(); ++i) {
            QString cell = cells[i];
            cell.replace(QStringLiteral("\\t"), QStringLiteral("\t"));
            cell.replace(QStringLiteral("\\n"), QStringLiteral("\n"));
            cell.replace(QStringLiteral("\\r"), QStringLiteral("\r"));
            cell.replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
            row.insert(names[i], cell);
        }
        row.insert(QStringLiteral("#cells"), QString::number(cells.size()));
        rows << row;
    }
    return rows;
}

std::string userName()
{
    const passwd *pw = ::getpwuid(::getuid());
    return pw && pw->pw_name ? pw->pw_name : "";
}

// Entries with known texts over three hosts, for the filters.
std::vector<StoreWriterEntry> filterEntries()
{
    auto entry = [](const char *url, const char *content) {
        StoreWriterEntry e;
        e.url = url;
        e.content = content;
        return e;
    };
    return {
        entry("http://www.example.com/index.html", "<p>hello needle world</p>"),
        entry("http://WWW.Example.com/style.css", "body { color: red }"),
        entry("http://www.example.com/app.js", "var needle = 1;"),
        entry("http://img.example.org/pic.jpg", "JPEG bytes"),
        entry("http://img.example.org/notes.txt", "an upper-case NEEDLE"),
        entry("http://other.example.net/page.htm", "nothing here"),
    };
}

} // namespace

class TestCli : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void usageErrors_data();
    void usageErrors();
    void help_data();
    void help();
    void windowProgramAnswers_data();
    void windowProgramAnswers();
    void unreadableStore();
    void storesFoundOnThisMachine();
    void listWithoutStoreTakesTheProgramsChoice();
    void fixtureStores_data();
    void fixtureStores();
    void formatsAgree();
    void filters_data();
    void filters();
    void exportWinInetFixture();
    void exportRefusesTheCacheAndUnwritableFolders();
    void exportReportsMissingDocuments();
    void partOfTheStoreUnread_data();
    void partOfTheStoreUnread();
    void browserStoresFromOurWriters_data();
    void browserStoresFromOurWriters();
    void deleteOnEachKind_data();
    void deleteOnEachKind();
    void deleteRefusals_data();
    void deleteRefusals();

private:
    // Runs the tool with a home of its own, so that no cache of this machine takes part.
    Run cli(const QStringList &args, const QMap<QString, QString> &environment = {}) const;
    QString writeFilterStore();

    QString m_fixtures;
    std::unique_ptr<QTemporaryDir> m_home;
};

void TestCli::initTestCase()
{
    m_fixtures = QStringLiteral(TIDEWRACK_FIXTURES);
    QVERIFY(QFileInfo::exists(QStringLiteral(TIDEWRACK_CLI)));
}

void TestCli::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid());
}

Run TestCli::cli(const QStringList &args, const QMap<QString, QString> &environment) const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"TIDEWRACK_URLCACHE", "TIDEWRACK_STORES", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("HOME"), m_home->path());
    env.insert(QStringLiteral("WINEPREFIX"), m_home->filePath(QStringLiteral("wine")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), m_home->filePath(QStringLiteral("xdg-cache")));
    for (auto it = environment.begin(); it != environment.end(); ++it)
        env.insert(it.key(), it.value());
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(TIDEWRACK_CLI), args);
    Run run;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

QString TestCli::writeFilterStore()
{
    const QString folder = m_home->filePath(QStringLiteral("stores/filters"));
    const StoreWriteResult written = WriteUrlCacheStore(folder.toStdString(), filterEntries());
    if (!written.ok)
        qWarning("%s", written.error.c_str());
    return folder;
}

void TestCli::usageErrors_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("nothing") << QStringList();
    QTest::newRow("unknown command") << QStringList{"prune", "x"};
    QTest::newRow("delete without store") << QStringList{"delete", "--yes"};
    QTest::newRow("delete with stores and --all") << QStringList{"delete", "a", "--all"};
    QTest::newRow("dry run on list") << QStringList{"list", "--dry-run"};
    QTest::newRow("bad duration") << QStringList{"list", "--older-than", "3y"};
    QTest::newRow("bad size") << QStringList{"list", "--larger-than", "big"};
    QTest::newRow("bad date") << QStringList{"list", "--since", "2026-02-30"};
    QTest::newRow("unknown content type") << QStringList{"list", "--type", "pdf"};
    QTest::newRow("bad status") << QStringList{"list", "--status", "20x"};
    QTest::newRow("unknown option") << QStringList{"list", "--bogus"};
    QTest::newRow("option without value") << QStringList{"list", "--host"};
    QTest::newRow("unknown kind") << QStringList{"list", "--kind", "pdf"};
    QTest::newRow("unknown format") << QStringList{"list", "--format", "xml"};
    QTest::newRow("stores and --all") << QStringList{"list", "a", "--all"};
    QTest::newRow("export without folder") << QStringList{"export", "store"};
    QTest::newRow("export format") << QStringList{"export", "a", "b", "--format", "csv"};
    QTest::newRow("stores with argument") << QStringList{"stores", "x"};
    QTest::newRow("manifest option on list") << QStringList{"list", "--no-manifest"};
}

void TestCli::usageErrors()
{
    QFETCH(QStringList, args);
    const Run run = cli(args);
    QCOMPARE(run.status, 2);
    QVERIFY(run.out.isEmpty());
    QVERIFY(run.err.contains("usage: tidewrack-cli"));
    QVERIFY2(run.err.count('\n') <= 5, run.err.constData()); // a short usage, not the whole page
}

void TestCli::help_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("says");
    QTest::newRow("the tool") << QStringList{"--help"} << "usage: tidewrack-cli COMMAND";
    QTest::newRow("version") << QStringList{"--version"} << "tidewrack-cli 1.";
    for (const char *command : {"stores", "list", "export", "delete"})
        QTest::addRow("%s", command) << QStringList{command, "--help"}
                                     << QStringLiteral("usage: tidewrack-cli %1").arg(QLatin1String(command));
}

void TestCli::help()
{
    QFETCH(QStringList, args);
    QFETCH(QString, says);
    const Run run = cli(args);
    QCOMPARE(run.status, 0);
    QVERIFY2(run.out.startsWith(says.toUtf8()), run.out.constData());
    QVERIFY(run.err.isEmpty());
}

void TestCli::windowProgramAnswers_data()
{
    QTest::addColumn<QString>("arg");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("says"); // at the start of its standard output, or else in its errors
    QTest::newRow("help") << "--help" << 0 << "usage: tidewrack ";
    QTest::newRow("version") << "--version" << 0 << "tidewrack 1.";
    QTest::newRow("unknown option") << "--frobnicate" << 2 << "tidewrack: unknown option --frobnicate";
}

void TestCli::windowProgramAnswers()
{
    QFETCH(QString, arg);
    QFETCH(int, status);
    QFETCH(QString, says);
    if (!QFileInfo::exists(QStringLiteral(TIDEWRACK_APP)))
        QSKIP("the window program is not built in this build (the widget-free sanitizer build)");
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), m_home->path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(TIDEWRACK_APP), {arg});
    QVERIFY(process.waitForFinished(60000)); // a window would stay open
    QCOMPARE(process.exitCode(), status);
    const QByteArray said = status == 0 ? process.readAllStandardOutput() : process.readAllStandardError();
    QVERIFY2(status == 0 ? said.startsWith(says.toUtf8()) : said.contains(says.toUtf8()), said.constData());
}

void TestCli::unreadableStore()
{
    const Run missing = cli({QStringLiteral("list"), m_home->filePath(QStringLiteral("nothing-here"))});
    QCOMPARE(missing.status, 1);
    QVERIFY(missing.out.isEmpty());
    QVERIFY2(missing.err.contains("nothing-here"), missing.err.constData());

    // A damaged index: the reason, not a crash and not an empty success.
    const QString damaged = m_home->filePath(QStringLiteral("damaged"));
    QVERIFY(QDir().mkpath(damaged));
    QFile index(damaged + QStringLiteral("/index.dat"));
    QVERIFY(index.open(QIODevice::WriteOnly));
    index.write(QByteArray("Client UrlCache MMF Ver 5.2") + QByteArray(200, '\xFF'));
    index.close();
    for (const QString &command : {QStringLiteral("list"), QStringLiteral("export")}) {
        QStringList args{command, damaged};
        if (command == QLatin1String("export"))
            args << m_home->filePath(QStringLiteral("out"));
        const Run run = cli(args);
        QCOMPARE(run.status, 1);
        QVERIFY(!run.err.isEmpty());
    }
    QVERIFY(!QFileInfo::exists(m_home->filePath(QStringLiteral("out"))));

    // A Firefox cache whose every entry has a newer format than the program reads: an empty
    // list is no success, and the reason names the format, not damage.
    BrowserWriterEntry page;
    page.url = "https://a.example/";
    page.body = "one";
    const BrowserWriteResult newer = WriteFirefoxStore(m_home->filePath(QStringLiteral("newer")).toStdString(), {page});
    QVERIFY(newer.ok);
    QFile entry(QString::fromStdString(newer.entries[0].file));
    QVERIFY(entry.open(QIODevice::ReadWrite));
    QVERIFY(entry.seek(entry.size() - 8));
    QCOMPARE(entry.write(QByteArray("\0\0\0\x05", 4)), 4); // the trailer's version word
    entry.close();
    const Run run = cli({QStringLiteral("list"), QString::fromStdString(newer.folder)});
    QCOMPARE(run.status, 1);
    QVERIFY(run.out.isEmpty());
    QVERIFY2(QString::fromUtf8(run.err).contains(QStringLiteral("newer cache format (version 5)")),
             run.err.constData());
}

void TestCli::storesFoundOnThisMachine()
{
    const QString wine = m_home->filePath(QStringLiteral("wine/drive_c/users/")) + QString::fromStdString(userName())
        + QStringLiteral("/AppData/Local/Microsoft/Windows/INetCache/Content.IE5");
    QVERIFY(WriteUrlCacheStore(wine.toStdString(), filterEntries()).ok);
    const QString extra = m_home->filePath(QStringLiteral("elsewhere/Saved"));
    QVERIFY(WriteUrlCacheStore(extra.toStdString(), filterEntries()).ok);

    const Run run = cli({QStringLiteral("stores")}, {{QStringLiteral("TIDEWRACK_STORES"), extra}});
    QCOMPARE(run.status, 0);
    const auto found = tsvRows(run.out);
    QCOMPARE(found.size(), qsizetype(2));
    QStringList lines;
    QSet<QString> ids;
    for (const auto &row : found) {
        lines << QStringList{row[QStringLiteral("kind")], row[QStringLiteral("browser")], row[QStringLiteral("name")],
                             row[QStringLiteral("path")]}
                     .join(QLatin1Char('\t'));
        ids.insert(row[QStringLiteral("id")]);
    }
    QCOMPARE(lines,
             (QStringList{QStringLiteral("wininet\tIE\tWine \u2013 IE\t") + wine,
                          QStringLiteral("wininet\tIE\tIE \u2013 Saved\t") + extra}));
    QCOMPARE(ids.size(), 2);

    // --all lists both; each row names the store it came from by the id printed above.
    const Run all =
        cli({QStringLiteral("list"), QStringLiteral("--all")}, {{QStringLiteral("TIDEWRACK_STORES"), extra}});
    QCOMPARE(all.status, 0);
    QMap<QString, int> rowsPerStore;
    for (const auto &row : tsvRows(all.out)) {
        QCOMPARE(row[QStringLiteral("store_kind")], QStringLiteral("wininet"));
        ++rowsPerStore[row[QStringLiteral("store_id")]];
    }
    QCOMPARE(QSet<QString>(rowsPerStore.keyBegin(), rowsPerStore.keyEnd()), ids);
    QCOMPARE(rowsPerStore.values(), (QList<int>{6, 6}));
    // Named one by one, the same rows.
    QCOMPARE(cli({QStringLiteral("list"), wine, extra}).out, all.out);

    // Nothing found: the header alone.
    QVERIFY(QDir(m_home->filePath(QStringLiteral("wine"))).removeRecursively());
    const Run none = cli({QStringLiteral("stores")});
    QCOMPARE(none.status, 0);
    QCOMPARE(none.out, QByteArray("kind\tbrowser\tname\tpath\tid\n"));
}

void TestCli::listWithoutStoreTakesTheProgramsChoice()
{
    // Nothing anywhere: no store, and the reason.
    const Run none = cli({QStringLiteral("list")});
    QCOMPARE(none.status, 1);
    QVERIFY2(none.err.contains("no cache store found"), none.err.constData());

    // The Wine prefix's cache, as the program opens it at start.
    const QString wine = m_home->filePath(QStringLiteral("wine/drive_c/users/")) + QString::fromStdString(userName())
        + QStringLiteral("/AppData/Local/Microsoft/Windows/INetCache/Content.IE5");
    QVERIFY(WriteUrlCacheStore(wine.toStdString(), filterEntries()).ok);
    const Run fromWine = cli({QStringLiteral("list"), QStringLiteral("--format"), QStringLiteral("json")});
    QCOMPARE(fromWine.status, 0);
    QCOMPARE(jsonRows(fromWine.out).size(), qsizetype(6));
    QCOMPARE(jsonRows(fromWine.out)[0].toObject().value(QStringLiteral("store_folder")).toString(), wine);

    // TIDEWRACK_URLCACHE comes before it.
    const QString named = m_home->filePath(QStringLiteral("named"));
    StoreWriterEntry one;
    one.url = "http://named.example/only.html";
    one.content = "x";
    QVERIFY(WriteUrlCacheStore(named.toStdString(), {one}).ok);
    const Run fromEnvironment = cli({QStringLiteral("list"), QStringLiteral("--format"), QStringLiteral("json")},
                                    {{QStringLiteral("TIDEWRACK_URLCACHE"), named}});
    QCOMPARE(fromEnvironment.status, 0);
    QCOMPARE(urlsOf(jsonRows(fromEnvironment.out)), QStringList{"http://named.example/only.html"});
}

void TestCli::fixtureStores_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("wine-demo") << m_fixtures + QStringLiteral("/wine-demo/Content.IE5")
                               << m_fixtures + QStringLiteral("/wine-demo/expected-list.tsv");
    QTest::newRow("win7-content") << m_fixtures + QStringLiteral("/win7-content")
                                  << m_fixtures + QStringLiteral("/win7-content/expected-list.tsv");
    // Every browser cache fixture there is: the ones whose reader has landed are compared with
    // their expected list, the others must be refused with the reason.
    const QDir browsers(m_fixtures + QStringLiteral("/browser-caches"));
    for (const QString &name : browsers.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
        QTest::newRow(qPrintable(name)) << browsers.filePath(name)
                                        << browsers.filePath(name + QStringLiteral("/expected.tsv"));
    // Firefox 153's caches, named by their profile folders; the encrypted one read with its key.
    for (const QString &name : {QStringLiteral("plain"), QStringLiteral("encrypted")})
        QTest::newRow(qPrintable("firefox153 " + name))
            << m_fixtures + QStringLiteral("/firefox153/") + name + QStringLiteral("/profile")
            << m_fixtures + QStringLiteral("/firefox153/") + name + QStringLiteral("/expected.tsv");
}

void TestCli::fixtureStores()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QVERIFY(QFileInfo::exists(expected));
    const auto store = OpenStore(path.toStdString());
    QVERIFY2(store->kind() != StoreKind::None || !store->describe().empty(), qPrintable(path));
    const StoreListing listing = store->list();

    const Run run = cli({QStringLiteral("list"), path, QStringLiteral("--format"), QStringLiteral("json")});
    if (!listing.ok()) {
        // A kind whose reader has not landed yet, or a store that cannot be read.
        QCOMPARE(run.status, 1);
        QVERIFY(run.out.isEmpty());
        QVERIFY2(run.err.contains(QByteArray::fromStdString(listing.error)), run.err.constData());
        return;
    }
    QCOMPARE(run.status, 0);
    const QJsonArray rows = jsonRows(run.out);
    QVERIFY(!rows.isEmpty());
    const QString kind = QString::fromLatin1(StoreKindId(store->kind()));
    for (const QJsonValue &row : rows)
        QCOMPARE(row.toObject().value(QStringLiteral("cache_kind")).toString(), kind);

    if (store->kind() == StoreKindFromId("wininet")) {
        // url <TAB> content folder/name [<TAB> size]; the catalogue keeps files with an extension.
        QSet<QString> want, got;
        const bool sized = !path.contains(QStringLiteral("win7"));
        for (const QString &line : QString::fromUtf8(readAll(expected)).split(QLatin1Char('\n'))) {
            const QStringList cells = line.split(QLatin1Char('\t'));
            if (line.startsWith(QLatin1Char('#')) || cells.size() < 2)
                continue;
            if (!cells[1].section(QLatin1Char('/'), -1).contains(QLatin1Char('.')))
                continue;
            want << (cells[0] + QLatin1Char('\t') + cells[1] + (sized ? QLatin1Char('\t') + cells[2] : QString()));
        }
        for (const QJsonValue &value : rows) {
            const QJsonObject o = value.toObject();
            const QString location = o.value(QStringLiteral("location")).toString();
            QVERIFY2(location.startsWith(QString::fromStdString(store->folder()) + QLatin1Char('/')),
                     qPrintable(location));
            got << (o.value(QStringLiteral("url")).toString() + QLatin1Char('\t')
                    + location.section(QLatin1Char('/'), -2)
                    + (sized ? QLatin1Char('\t') + QString::number(o.value(QStringLiteral("size")).toInteger())
                             : QString()));
            QCOMPARE(o.value(QStringLiteral("key")).toString(), o.value(QStringLiteral("url")).toString());
        }
        QCOMPARE(got, want);
        return;
    }

    // A browser cache: every row listed is one of the independent reader's, with its values.
    QMap<QString, QStringList> byKey;
    QStringList lines = QString::fromUtf8(readAll(expected)).split(QLatin1Char('\n'));
    const QStringList header = lines.takeFirst().split(QLatin1Char('\t'));
    const auto column = [&](const char *name) { return header.indexOf(QString::fromLatin1(name)); };
    for (const QString &line : lines)
        if (!line.isEmpty())
            byKey.insert(line.split(QLatin1Char('\t'))[column("key")], line.split(QLatin1Char('\t')));
    for (const QJsonValue &value : rows) {
        const QJsonObject o = value.toObject();
        const QString key = o.value(QStringLiteral("key")).toString();
        QVERIFY2(byKey.contains(key), qPrintable(key));
        const QStringList want = byKey.value(key);
        QCOMPARE(o.value(QStringLiteral("url")).toString(), want[column("url")]);
        QCOMPARE(QString::number(o.value(QStringLiteral("size")).toInteger()), want[column("body_stored")]);
        const QString status = want[column("status")].section(QLatin1Char(' '), 1, 1);
        if (status != QLatin1String("-") && !status.isEmpty())
            QCOMPARE(QString::number(o.value(QStringLiteral("status")).toInteger()), status);
        // "-": the independent reader had no coding to undo, so the decoded size is the stored one.
        if (!o.value(QStringLiteral("decoded_size")).isNull()) {
            const QString decoded = want[column("body_decoded")];
            QCOMPARE(QString::number(o.value(QStringLiteral("decoded_size")).toInteger()),
                     decoded == QLatin1String("-") ? want[column("body_stored")] : decoded);
        }
    }
}

void TestCli::formatsAgree()
{
    const QString store = m_fixtures + QStringLiteral("/wine-demo/Content.IE5");
    const Run json = cli({QStringLiteral("list"), store, QStringLiteral("--format"), QStringLiteral("json")});
    const Run tsv = cli({QStringLiteral("list"), store});
    const Run csv = cli({QStringLiteral("list"), store, QStringLiteral("--format"), QStringLiteral("csv")});
    QCOMPARE(json.status, 0);
    QCOMPARE(tsv.status, 0);
    QCOMPARE(csv.status, 0);
    const QJsonArray rows = jsonRows(json.out);
    const auto table = tsvRows(tsv.out);
    QCOMPARE(table.size(), rows.size());
    QVERIFY(tsv.out.startsWith("file_name\ttype_name\tsize\turl\tlocation\tlast_access\t"));
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const QJsonObject o = rows[i].toObject();
        const auto &row = table[i];
        QCOMPARE(row.value(QStringLiteral("#cells")).toInt(), int(o.size() - 5)); // JSON adds five *_local
        QCOMPARE(row.value(QStringLiteral("url")), o.value(QStringLiteral("url")).toString());
        QCOMPARE(row.value(QStringLiteral("response_head")), o.value(QStringLiteral("response_head")).toString());
        QCOMPARE(row.value(QStringLiteral("last_access")), o.value(QStringLiteral("last_access_local")).toString());
        QCOMPARE(row.value(QStringLiteral("size")), QString::number(o.value(QStringLiteral("size")).toInteger()));
    }
    // The stream for scripts has no byte-order mark; its header is the same.
    QVERIFY(csv.out.startsWith("file_name,type_name,size,url,location,last_access,"));
    // Run twice, the same bytes.
    QCOMPARE(cli({QStringLiteral("list"), store}).out, tsv.out);
}

void TestCli::filters_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("urls");
    QTest::newRow("all") << QStringList()
                         << QStringList{"http://WWW.Example.com/style.css", "http://img.example.org/notes.txt",
                                        "http://img.example.org/pic.jpg",   "http://other.example.net/page.htm",
                                        "http://www.example.com/app.js",    "http://www.example.com/index.html"};
    QTest::newRow("host, any letter case")
        << QStringList{"--host", "www.EXAMPLE.com"}
        << QStringList{"http://WWW.Example.com/style.css", "http://www.example.com/app.js",
                       "http://www.example.com/index.html"};
    QTest::newRow("host is whole") << QStringList{"--host", "example.com"} << QStringList();
    QTest::newRow("url") << QStringList{"--url", "EXAMPLE.ORG"}
                         << QStringList{"http://img.example.org/notes.txt", "http://img.example.org/pic.jpg"};
    QTest::newRow("kind html") << QStringList{"--kind", "html"}
                               << QStringList{"http://other.example.net/page.htm", "http://www.example.com/index.html"};
    QTest::newRow("kind image") << QStringList{"--kind", "image"} << QStringList{"http://img.example.org/pic.jpg"};
    QTest::newRow("kind css") << QStringList{"--kind", "css"} << QStringList{"http://WWW.Example.com/style.css"};
    QTest::newRow("kind other") << QStringList{"--kind", "other"} << QStringList();
    QTest::newRow("full text") << QStringList{"--text", "needle"}
                               << QStringList{"http://img.example.org/notes.txt", "http://www.example.com/app.js",
                                              "http://www.example.com/index.html"};
    QTest::newRow("all together") << QStringList{"--host", "www.example.com", "--kind", "js", "--text", "NEEDLE"}
                                  << QStringList{"http://www.example.com/app.js"};
    QTest::newRow("content type") << QStringList{"--type", "script"} << QStringList{"http://www.example.com/app.js"};
    QTest::newRow("larger than") << QStringList{"--larger-than", "20"}
                                 << QStringList{"http://www.example.com/index.html"};
    QTest::newRow("smaller than, with host") << QStringList{"--smaller-than", "0.015k", "--host", "img.example.org"}
                                             << QStringList{"http://img.example.org/pic.jpg"};
    QTest::newRow("keys") << QStringList{"--key", "http://img.example.org/pic.jpg", "--key",
                                         "http://other.example.net/page.htm"}
                          << QStringList{"http://img.example.org/pic.jpg", "http://other.example.net/page.htm"};
    QTest::newRow("used lately") << QStringList{"--newer-than", "1d", "--url", ".org"}
                                 << QStringList{"http://img.example.org/notes.txt", "http://img.example.org/pic.jpg"};
    QTest::newRow("used long ago") << QStringList{"--older-than", "1d"} << QStringList();
    QTest::newRow("used before a date") << QStringList{"--until", "2001-01-01"} << QStringList();
}

void TestCli::filters()
{
    QFETCH(QStringList, args);
    QFETCH(QStringList, urls);
    const QString store = writeFilterStore();
    const Run run = cli(QStringList{"list", store, "--format", "json"} + args);
    QCOMPARE(run.status, 0);
    QCOMPARE(urlsOf(jsonRows(run.out)), urls);

    // A trial delete lists exactly what list lists, and deletes nothing.
    const Run dry = cli(QStringList{"delete", store, "--dry-run", "--format", "json"} + args);
    QCOMPARE(dry.status, 0);
    QCOMPARE(dry.out, run.out);

    // The export takes the same filters.
    const QString out = m_home->filePath(QStringLiteral("out"));
    const Run exported = cli(QStringList{"export", store, out} + args);
    QCOMPARE(exported.status, 0);
    QCOMPARE(exported.out.count('\n'), qsizetype(urls.size()));
    QCOMPARE(filesBelow(out).size(), qsizetype(urls.size() + 1));
}

void TestCli::exportWinInetFixture()
{
    const QString store = m_home->filePath(QStringLiteral("wine-demo"));
    QVERIFY(copyTree(m_fixtures + QStringLiteral("/wine-demo/Content.IE5"), store));
    const QStringList storeBefore = filesBelow(store);
    const QJsonArray rows =
        jsonRows(cli({QStringLiteral("list"), store, QStringLiteral("--format"), QStringLiteral("json")}).out);
    QCOMPARE(rows.size(), qsizetype(28));

    const QString out = m_home->filePath(QStringLiteral("exported"));
    const Run run = cli({QStringLiteral("export"), store, out});
    QCOMPARE(run.status, 0);
    QVERIFY2(run.err.isEmpty(), run.err.constData());
    QCOMPARE(filesBelow(store), storeBefore);

    // One line per document: ok, the name written, the URL, a note.
    const QStringList lines = QString::fromUtf8(run.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), rows.size());
    QSet<QString> names;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QStringList cells = lines[i].split(QLatin1Char('\t'));
        QCOMPARE(cells.size(), qsizetype(4));
        QCOMPARE(cells[0], QStringLiteral("ok"));
        QCOMPARE(cells[2], rows[i].toObject().value(QStringLiteral("url")).toString());
        names << cells[1];
        // The document written is the cached file, byte for byte.
        QCOMPARE(readAll(out + QLatin1Char('/') + cells[1]),
                 readAll(rows[i].toObject().value(QStringLiteral("location")).toString()));
    }
    QCOMPARE(names.size(), lines.size());
    // The two hosts that differ in letter case both keep their same.htm.
    QVERIFY(names.contains(QStringLiteral("same.htm")));
    QVERIFY(names.contains(QStringLiteral("same (2).htm")));

    // The manifest: the list's CSV with the names written.
    const QByteArray manifest = readAll(out + QStringLiteral("/manifest.csv"));
    QVERIFY(manifest.startsWith("\xEF\xBB\xBF"
                                "file_name,"));
    QVERIFY(manifest.contains(",exported_file,export_problem\r\n"));
    QCOMPARE(manifest.count("same (2).htm"), qsizetype(1));
    QCOMPARE(filesBelow(out).size(), lines.size() + 1);

    // --no-manifest leaves it out; a second export beside the first replaces nothing.
    const Run again = cli({QStringLiteral("export"), store, out, QStringLiteral("--no-manifest")});
    QCOMPARE(again.status, 0);
    QCOMPARE(filesBelow(out).size(), 2 * lines.size() + 1);
}

void TestCli::exportRefusesTheCacheAndUnwritableFolders()
{
    const QString store = writeFilterStore();
    const QStringList before = filesBelow(store);
    const Run inside = cli({QStringLiteral("export"), store, store + QStringLiteral("/exported")});
    QCOMPARE(inside.status, 1);
    QVERIFY2(inside.err.contains("cache"), inside.err.constData());
    QVERIFY(inside.out.isEmpty());
    QCOMPARE(filesBelow(store), before);
    QVERIFY(!QFileInfo::exists(store + QStringLiteral("/exported")));

    QString locked = m_home->filePath(QStringLiteral("locked"));
    QVERIFY(QDir().mkpath(locked));
    QVERIFY(QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    if (::access(QFile::encodeName(locked).constData(), W_OK) == 0)
        locked = QStringLiteral("/sys/kernel"); // root writes anywhere permissions allow; not there
    const Run refused = cli({QStringLiteral("export"), store, locked});
    QCOMPARE(refused.status, 1);
    QVERIFY(!refused.err.isEmpty());
    QVERIFY(refused.out.isEmpty());
    QFile::setPermissions(m_home->filePath(QStringLiteral("locked")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

void TestCli::exportReportsMissingDocuments()
{
    const QString folder = m_home->filePath(QStringLiteral("stores/partial"));
    const StoreWriteResult written = WriteUrlCacheStore(folder.toStdString(), filterEntries());
    QVERIFY(written.ok);
    QVERIFY(QFile::remove(QString::fromStdString(written.entries[2].localFile))); // app.js
    const QString out = m_home->filePath(QStringLiteral("out"));
    const Run run = cli({QStringLiteral("export"), folder, out});
    QCOMPARE(run.status, 3);
    QVERIFY2(run.err.contains("1 of 6 documents not written"), run.err.constData());
    const QStringList lines = QString::fromUtf8(run.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), qsizetype(6));
    QCOMPARE(lines.filter(QRegularExpression(QStringLiteral("^ok\t"))).size(), qsizetype(5));
    const QStringList failed = lines.filter(QRegularExpression(QStringLiteral("^failed\t")));
    QCOMPARE(failed.size(), qsizetype(1));
    QVERIFY(failed[0].startsWith(QStringLiteral("failed\t\thttp://www.example.com/app.js\t")));
    QCOMPARE(filesBelow(out).size(), qsizetype(6)); // five documents and the manifest
}

void TestCli::partOfTheStoreUnread_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("index cut before its last record")
        << "cut" << QStringList() << 5 << QByteArray("1 entry left out: 1 \u00d7 beyond the end of the index file");
    QTest::newRow("index whose header disagrees with its bitmap")
        << "count" << QStringList() << 6 << QByteArray("the listing may lack entries of the store");
    QTest::newRow("a document the full-text search cannot read")
        << "fifo" << QStringList({"--text", "needle"}) << 2
        << QByteArray("1 document could not be read for the full-text search");
}

// A listing that could not read its whole store says how much it missed and why, and exits 4.
void TestCli::partOfTheStoreUnread()
{
    QFETCH(QString, damage);
    QFETCH(QStringList, options);
    QFETCH(int, rows);
    QFETCH(QByteArray, message);
    const QString folder = m_home->filePath(QStringLiteral("stores/partial"));
    const StoreWriteResult written = WriteUrlCacheStore(folder.toStdString(), filterEntries());
    QVERIFY(written.ok);
    const QString index = QString::fromStdString(written.indexPath);
    if (damage == "cut") {
        std::uint32_t last = 0;
        for (const WrittenEntry &e : written.entries)
            last = std::max(last, e.recordOffset);
        QVERIFY(QFile::resize(index, last));
    } else if (damage == "count") {
        QFile file(index);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.seek(0x28)); // the allocated block count
        QCOMPARE(file.write("\x01\x00\x00\x00", 4), qint64(4));
    } else {
        const QString local = QString::fromStdString(written.entries[2].localFile); // app.js holds the text
        QVERIFY(QFile::remove(local));
        QCOMPARE(::mkfifo(QFile::encodeName(local).constData(), 0644), 0);
    }
    const Run run = cli(QStringList{QStringLiteral("list"), folder} + options);
    QCOMPARE(run.status, 4);
    QVERIFY2(run.err.contains(message), run.err.constData());
    QCOMPARE(tsvRows(run.out).size(), rows);
}

void TestCli::browserStoresFromOurWriters_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("firefox") << "firefox";
    QTest::newRow("chromium") << "chromium";
}

void TestCli::browserStoresFromOurWriters()
{
    QFETCH(QString, kind);
    std::vector<BrowserWriterEntry> entries(4);
    entries[0].url = "https://example.com/index.html";
    entries[0].body = "<html>" + std::string(3000, 'a') + "</html>";
    entries[0].contentEncoding = "gzip";
    entries[0].lastModified = 1500000000;
    entries[1].url = "https://example.com/app.js";
    entries[1].contentType = "application/javascript";
    entries[1].body = "var x = '<script>';";
    entries[1].contentEncoding = "br";
    entries[1].partition = "https://top.example";
    entries[2].url = "https://cdn.example.net/data.txt";
    entries[2].contentType = "text/plain";
    entries[2].body = "plain body";
    entries[3].url = "https://cdn.example.net/other/data.txt";
    entries[3].contentType = "text/plain";
    entries[3].body = "second body of the same name";
    entries[3].contentEncoding = "zstd";
    const std::string folder = m_home->filePath(QStringLiteral("browser")).toStdString();
    const BrowserWriteResult written = kind == QLatin1String("firefox") ? WriteFirefoxStore(folder, entries)
                                                                        : WriteChromiumSimpleStore(folder, entries);
    if (!written.ok)
        QSKIP(qPrintable(
            QStringLiteral("the %1 writer is not there yet: %2").arg(kind, QString::fromStdString(written.error))));

    const Run listed = cli({QStringLiteral("list"), QString::fromStdString(written.folder), QStringLiteral("--format"),
                            QStringLiteral("json")});
    QCOMPARE(listed.status, 0);
    const QJsonArray rows = jsonRows(listed.out);
    QCOMPARE(rows.size(), qsizetype(entries.size()));
    for (const QJsonValue &value : rows) {
        const QJsonObject o = value.toObject();
        const auto it = std::find_if(entries.begin(), entries.end(), [&](const BrowserWriterEntry &e) {
            return QString::fromStdString(e.url) == o.value(QStringLiteral("url")).toString();
        });
        QVERIFY(it != entries.end());
        const std::size_t i = std::size_t(it - entries.begin());
        QCOMPARE(o.value(QStringLiteral("key")).toString(), QString::fromStdString(written.entries[i].key));
        QCOMPARE(o.value(QStringLiteral("size")).toInteger(), qint64(written.entries[i].storedSize));
        QCOMPARE(o.value(QStringLiteral("content_encoding")).toString(), QString::fromStdString(it->contentEncoding));
        QCOMPARE(o.value(QStringLiteral("status")).toInteger(), 200);
        // The partition text also says "anonymous" or names a POST where a key holds them.
        if (!it->partition.empty())
            QVERIFY(o.value(QStringLiteral("partition")).toString().contains(QString::fromStdString(it->partition)));
        // Chromium partitions every entry, by its own site at least; Firefox only when asked.
        else if (!it->anonymous && it->postId.empty() && kind == QLatin1String("firefox"))
            QVERIFY(o.value(QStringLiteral("partition")).toString().isEmpty());
    }

    const QString out = m_home->filePath(QStringLiteral("out"));
    const QStringList before = filesBelow(QString::fromStdString(written.folder));
    const Run exported = cli({QStringLiteral("export"), QString::fromStdString(written.folder), out});
    QCOMPARE(exported.status, 0);
    QCOMPARE(filesBelow(QString::fromStdString(written.folder)), before);
    // Decoded, under the names from their URLs.
    QCOMPARE(readAll(out + QStringLiteral("/index.html")), QByteArray::fromStdString(entries[0].body));
    QCOMPARE(readAll(out + QStringLiteral("/app.js")), QByteArray::fromStdString(entries[1].body));
    QSet<QByteArray> texts{readAll(out + QStringLiteral("/data.txt")), readAll(out + QStringLiteral("/data (2).txt"))};
    QCOMPARE(texts, (QSet<QByteArray>{"plain body", "second body of the same name"}));
    QCOMPARE(QFileInfo(out + QStringLiteral("/index.html")).lastModified().toSecsSinceEpoch(), qint64(1500000000));
}

void TestCli::deleteOnEachKind_data()
{
    QTest::addColumn<QString>("kind");
    for (const char *kind : {"wininet", "firefox", "chromium-simple"})
        QTest::newRow(kind) << QString::fromLatin1(kind);
}

// Two of five entries go: the store stays valid, the others stay listed, nothing else changes.
void TestCli::deleteOnEachKind()
{
    QFETCH(QString, kind);
    const QStringList urls{"http://a.example/keep.html", "http://a.example/gone/1.html", "http://b.example/keep.js",
                           "http://b.example/gone/2.css", "http://c.example/keep.png"};
    const QString folder = m_home->filePath(QStringLiteral("store"));
    QString store = folder;
    QStringList goneFiles;
    if (kind == QLatin1String("wininet")) {
        std::vector<StoreWriterEntry> entries;
        for (const QString &url : urls) {
            StoreWriterEntry e;
            e.url = url.toStdString();
            e.content = std::string(100, 'x');
            entries.push_back(e);
        }
        QVERIFY(WriteUrlCacheStore(folder.toStdString(), entries).ok);
    } else {
        std::vector<BrowserWriterEntry> entries(std::size_t(urls.size()));
        for (qsizetype i = 0; i < urls.size(); ++i) {
            entries[std::size_t(i)].url = urls[i].toStdString();
            entries[std::size_t(i)].body = "body " + std::to_string(i);
        }
        const BrowserWriteResult written = kind == QLatin1String("firefox")
            ? WriteFirefoxStore(folder.toStdString(), entries)
            : WriteChromiumSimpleStore(folder.toStdString(), entries);
        QVERIFY(written.ok);
        store = QString::fromStdString(written.folder);
        for (int i : {1, 3})
            goneFiles << QDir(folder).relativeFilePath(QString::fromStdString(written.entries[std::size_t(i)].file));
    }
    const QStringList before = filesBelow(folder);

    const Run run = cli({"delete", store, "--url", "/gone/", "--yes"});
    QCOMPARE(run.status, 0);
    QCOMPARE(run.out.count("deleted\t"), qsizetype(2));
    QVERIFY2(run.err.contains("deleted 2 of 2 documents"), run.err.constData());

    const Run left = cli({"list", store, "--format", "json"});
    QCOMPARE(left.status, 0);
    QCOMPARE(urlsOf(jsonRows(left.out)),
             (QStringList{"http://a.example/keep.html", "http://b.example/keep.js", "http://c.example/keep.png"}));
    if (kind == QLatin1String("wininet")) {
        QCOMPARE(QString::fromStdString(StoreConsistency(folder + QStringLiteral("/index.dat"))), QString());
    } else {
        QStringList expected = before;
        for (const QString &file : goneFiles)
            QVERIFY(expected.removeOne(file));
        QCOMPARE(filesBelow(folder), expected);
    }
}

void TestCli::deleteRefusals_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("mapped"); // another process maps the index meanwhile
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("says");
    QTest::newRow("no terminal to ask on") << QStringList{"--host", "img.example.org"} << false << 2 << "--yes";
    QTest::newRow("in use by another process")
        << QStringList{"--host", "img.example.org", "--yes"} << true << 3 << "2 could not be deleted: ";
    QTest::newRow("nothing passes") << QStringList{"--host", "nowhere.example", "--yes"} << false << 0
                                    << "nothing deleted";
}

void TestCli::deleteRefusals()
{
    QFETCH(QStringList, args);
    QFETCH(bool, mapped);
    QFETCH(int, status);
    QFETCH(QString, says);
    const QString store = writeFilterStore();
    const QStringList before = filesBelow(store);
    const QByteArray index = readAll(store + QStringLiteral("/index.dat"));
    const int fd = mapped ? ::open(QFile::encodeName(store + QStringLiteral("/index.dat")).constData(), O_RDONLY) : -1;
    void *map = fd >= 0 ? ::mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0) : MAP_FAILED;
    const Run run = cli(QStringList{"delete", store} + args);
    if (map != MAP_FAILED)
        ::munmap(map, 4096);
    if (fd >= 0)
        ::close(fd);
    QCOMPARE(map != MAP_FAILED, mapped);
    QCOMPARE(run.status, status);
    QVERIFY2(run.err.contains(says.toUtf8()), run.err.constData());
    QCOMPARE(filesBelow(store), before);
    QVERIFY(readAll(store + QStringLiteral("/index.dat")) == index);
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
