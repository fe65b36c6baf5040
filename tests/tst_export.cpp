// Exporting lists (CSV, HTML, JSON, TSV) and documents: hostile texts stay text in every
// format, names never collide or leave the target folder, and each document's failure is
// reported without stopping the others.

#include "catalogue/catalogue.h"
#include "catalogue/documentexport.h"
#include "catalogue/listexport.h"
#include "platform/urlcachestore.h"
#include "support.h"
#include "tools/writers/browserwriter.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class KindStore : public MemoryStore {
public:
    KindStore(StoreKind kind, std::string folder) : MemoryStore(std::move(folder)), m_kind(kind) {}
    StoreKind kind() const override { return m_kind; }

private:
    StoreKind m_kind;
};

// The URLs a hostile cache may hold: markup, script, quotes, separators, line breaks and
// spreadsheet formulas.
const std::vector<std::string> &hostileUrls()
{
    static const std::vector<std::string> urls = {
        "http://evil.example/<script>alert(1)</script>.html",
        "http://evil.example/\"><img src=x onerror=alert(1)>.html",
        "http://evil.example/it's \"quoted\".html",
        "http://evil.example/a,b,c.html",
        "http://evil.example/line\r\nbreak\nhere.html",
        "=cmd|' /C calc'!A0",
        "+1+cmd|' /C calc'!A0",
        "-2+3",
        "@SUM(1+1)",
        " =1+1",
        "\n@SUM(1+1)",
        "  \t-2+3",
        " plain",
        "http://evil.example/tab\there.html",
        "http://evil.example/back\\slash.html",
        "http://evil.example/sep\xE2\x80\xA8"
        "ara\xE2\x80\xA9tors.html",
        "http://evil.example/</td></tr></table><script>x()</script>",
        "http://evil.example/&amp;&lt;.html",
    };
    return urls;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// RFC 4180 records of a CSV text.
QList<QStringList> parseCsv(const QString &text)
{
    QList<QStringList> records;
    QStringList record;
    QString cell;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < text.size() && text[i + 1] == QLatin1Char('"')) {
                cell += c;
                ++i;
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                cell += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            record << cell;
            cell.clear();
        } else if (c == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n')) {
            record << cell;
            records << record;
            record.clear();
            cell.clear();
            ++i;
        } else {
            cell += c;
        }
    }
    if (!cell.isEmpty() || !record.isEmpty())
        records << (record << cell);
    return records;
}

QString unescapeTsv(const QString &cell)
{
    QString out;
    for (qsizetype i = 0; i < cell.size(); ++i) {
        if (cell[i] == QLatin1Char('\\') && i + 1 < cell.size()) {
            const QChar next = cell[++i];
            out += next == QLatin1Char('t') ? QChar('\t')
                : next == QLatin1Char('n')  ? QChar('\n')
                : next == QLatin1Char('r')  ? QChar('\r')
                                            : next;
        } else {
            out += cell[i];
        }
    }
    return out;
}

// Every file below `folder`, relative, sorted; links are listed, not followed.
QStringList filesBelow(const QString &folder)
{
    QStringList out;
    QDirIterator it(folder, QDir::Files | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QDir(folder).relativeFilePath(it.next());
    out.sort();
    return out;
}

// Limits the size of every file this process writes while it lives, as a full disk would.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        m_ok = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_handler);
    }
    bool ok() const { return m_ok; }

private:
    rlimit m_saved{};
    void (*m_handler)(int) = nullptr;
    bool m_ok = false;
};

} // namespace

class TestExport : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void csvKeepsHostileTextsAsCells();
    void htmlMakesNoMarkupOfHostileTexts();
    void jsonTypesAndHostileTexts();
    void tsvRoundTrip();
    void everyFieldWritten_data();
    void everyFieldWritten();
    void saveFileReplacesOnlyWhenComplete();
    void emptyList_data();
    void emptyList();

    void documentsNamedFromTheirUrls();
    void collisionsGetNumbers();
    void plantedLinkIsNotFollowed();
    void namesStayInTheFolder();
    void bodiesDecoded();
    void modificationTimeIsLastModified();
    void failuresReportedPerDocument();
    void fullDiskFailsOneDocumentOnly();
    void manifest();
    void targetInsideTheCacheRefused();
    void targetNotWritable();
    void stopping();
    void numberedNames_data();
    void numberedNames();

private:
    // A memory store with a local file per URL (WinInet-like), installed as the store.
    CacheList localStore(const std::vector<std::string> &urls, const QByteArray &content = "doc");

    std::unique_ptr<QTemporaryDir> m_dir;
    std::shared_ptr<MemoryStore> m_store;
};

void TestExport::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestExport::cleanup()
{
    SetUrlCacheStore(nullptr);
    m_store.reset();
    m_dir.reset();
}

CacheList TestExport::localStore(const std::vector<std::string> &urls, const QByteArray &content)
{
    m_store = std::make_shared<MemoryStore>(m_dir->filePath(QStringLiteral("cache")).toStdString());
    for (std::size_t i = 0; i < urls.size(); ++i) {
        const QString local = m_dir->filePath(QStringLiteral("cache/f%1.html").arg(i));
        WriteBytes(local, content);
        m_store->add(urls[i], local.toStdString());
        m_store->listing().entries.back().size = std::uint64_t(content.size());
    }
    SetUrlCacheStore(m_store);
    return EnumerateCatalogue();
}

void TestExport::csvKeepsHostileTextsAsCells()
{
    const CacheList list = localStore(hostileUrls());
    QCOMPARE(list.size(), hostileUrls().size());
    EntryFields fields;
    const QString path = m_dir->filePath(QStringLiteral("list.csv"));
    const StoreResult written = ExportEntryList(path, RowsOf(list), ListFormat::Csv, fields);
    QVERIFY2(written.ok(), written.reason.c_str());
    const QByteArray bytes = readAll(path);
    QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
    QVERIFY(bytes.endsWith("\r\n"));
    const QList<QStringList> records = parseCsv(QString::fromUtf8(bytes.mid(3)));
    QCOMPARE(records.size(), qsizetype(list.size() + 1));
    QCOMPARE(records[0].size(), qsizetype(EntryFieldCount));
    QCOMPARE(records[0][int(EntryField::Url)], QStringLiteral("url"));
    QCOMPARE(records[0][int(EntryField::LastAccess)], QStringLiteral("last_access"));
    for (std::size_t i = 0; i < list.size(); ++i) {
        const QStringList &record = records[qsizetype(i + 1)];
        QCOMPARE(record.size(), qsizetype(EntryFieldCount));
        const QString url = QString::fromStdString(hostileUrls()[i]);
        // A cell a spreadsheet would run starts with an apostrophe; every other comes back as it was.
        const QString trimmed = QString(url).remove(QRegularExpression(QStringLiteral("^[ \t\r\n]+")));
        const bool formula = QStringLiteral("=+-@").contains(trimmed[0]) || QStringLiteral("\t\r").contains(url[0]);
        QCOMPARE(record[int(EntryField::Url)], formula ? QLatin1Char('\'') + url : url);
        QCOMPARE(record[int(EntryField::Key)], formula ? QLatin1Char('\'') + url : url);
        QCOMPARE(record[int(EntryField::Size)], QStringLiteral("3"));
    }
    // No cell of the file starts a formula.
    for (const QStringList &record : records)
        for (const QString &cell : record)
            QVERIFY2(cell.trimmed().isEmpty() || !QStringLiteral("=+-@\t\r").contains(cell.trimmed()[0]),
                     qPrintable(cell));

    // Unguarded, without the mark, the cells are exactly the texts.
    QBuffer plain;
    plain.open(QIODevice::WriteOnly);
    ListExportOptions options;
    options.byteOrderMark = false;
    options.guardFormulas = false;
    QVERIFY(WriteEntryList(plain, RowsOf(list), ListFormat::Csv, fields, options));
    QVERIFY(!plain.data().startsWith("\xEF\xBB\xBF"));
    const QList<QStringList> raw = parseCsv(QString::fromUtf8(plain.data()));
    for (std::size_t i = 0; i < list.size(); ++i)
        QCOMPARE(raw[qsizetype(i + 1)][int(EntryField::Url)], QString::fromStdString(hostileUrls()[i]));
}

void TestExport::htmlMakesNoMarkupOfHostileTexts()
{
    const CacheList list = localStore(hostileUrls());
    EntryFields fields;
    const QString path = m_dir->filePath(QStringLiteral("list.html"));
    ListExportOptions options;
    options.title = QStringLiteral("<b>缓存</b> & \"list\"");
    QVERIFY(ExportEntryList(path, RowsOf(list), ListFormat::Html, fields, options).ok());
    const QString page = QString::fromUtf8(readAll(path));
    QVERIFY(page.startsWith(QStringLiteral("<!DOCTYPE html>")));
    QVERIFY(page.contains(QStringLiteral("Content-Security-Policy\" content=\"default-src 'none'")));

    // Every tag in the page is one the export writes itself: nothing from the cache became markup.
    const QRegularExpression ours(
        QStringLiteral("^<(!DOCTYPE html|/?(html|head|meta|title|style|body|h1|p|table|thead|tbody|tr|th|td)[\\s>/])"));
    for (qsizetype at = page.indexOf(QLatin1Char('<')); at >= 0; at = page.indexOf(QLatin1Char('<'), at + 1))
        QVERIFY2(ours.match(page.mid(at, 20)).hasMatch(), qPrintable(page.mid(at, 40)));
    QVERIFY(!page.contains(QStringLiteral("<script"), Qt::CaseInsensitive));
    QVERIFY(!page.contains(QStringLiteral("<img"), Qt::CaseInsensitive));
    QVERIFY(!page.contains(QStringLiteral("<b>")));
    QCOMPARE(page.count(QStringLiteral("<tr>")), qsizetype(list.size() + 1));

    // Unescaped, the URL cells are the URLs.
    auto unescape = [](QString s) {
        s.replace(QStringLiteral("&lt;"), QStringLiteral("<"));
        s.replace(QStringLiteral("&gt;"), QStringLiteral(">"));
        s.replace(QStringLiteral("&quot;"), QStringLiteral("\""));
        s.replace(QStringLiteral("&#39;"), QStringLiteral("'"));
        s.replace(QStringLiteral("&amp;"), QStringLiteral("&"));
        return s;
    };
    const QRegularExpression row(QStringLiteral("<tr>(.*?)</tr>"), QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpression cell(QStringLiteral("<t[dh][^>]*>(.*?)</t[dh]>"),
                                  QRegularExpression::DotMatchesEverythingOption);
    QList<QStringList> rows;
    for (auto r = row.globalMatch(page); r.hasNext();) {
        QStringList cells;
        const QString inner = r.next().captured(1);
        for (auto c = cell.globalMatch(inner); c.hasNext();)
            cells << unescape(c.next().captured(1));
        rows << cells;
    }
    QCOMPARE(rows.size(), qsizetype(list.size() + 1));
    QCOMPARE(rows[0][int(EntryField::Url)], QStringLiteral("网址"));
    for (std::size_t i = 0; i < list.size(); ++i) {
        QCOMPARE(rows[qsizetype(i + 1)].size(), qsizetype(EntryFieldCount));
        QCOMPARE(rows[qsizetype(i + 1)][int(EntryField::Url)], QString::fromStdString(hostileUrls()[i]));
    }
}

void TestExport::jsonTypesAndHostileTexts()
{
    auto store = std::make_shared<KindStore>(StoreKindFromId("chromium-simple"), "/cache");
    for (const std::string &url : hostileUrls()) {
        StoreEntry &e = store->add(url, "/bodies/x.html");
        store->setText(e.contentType, "text/html");
        StoreEntry &f = store->listing().entries.back();
        f.size = 4096;
        f.hitCount = 3;
        f.lastAccess = StoreTimeFromUnix(1700000000);
    }
    store->listing().entries.back().httpStatus = 304;
    SetUrlCacheStore(store);
    const CacheList list = EnumerateCatalogue();
    EntryFields fields;
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    QVERIFY(WriteEntryList(out, RowsOf(list), ListFormat::Json, fields));
    const QByteArray bytes = out.data();
    // Inert even pasted into a page: no raw angle bracket, no raw line separator.
    QVERIFY(!bytes.contains('<'));
    QVERIFY(!bytes.contains('>'));
    QVERIFY(!bytes.contains("\xE2\x80\xA8"));
    QVERIFY(bytes.contains("\\u2028"));

    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    const QJsonArray array = document.array();
    QCOMPARE(array.size(), qsizetype(list.size()));
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QJsonObject o = array[i].toObject();
        QCOMPARE(o.value(QStringLiteral("url")).toString(), QString::fromStdString(hostileUrls()[std::size_t(i)]));
        QVERIFY(o.value(QStringLiteral("size")).isDouble());
        QCOMPARE(o.value(QStringLiteral("size")).toInteger(), 4096);
        QVERIFY(o.value(QStringLiteral("hit_count")).isNull()); // the simple cache counts no uses
        QCOMPARE(o.value(QStringLiteral("last_access")).toString(), QStringLiteral("2023-11-14T22:13:20Z"));
        QCOMPARE(o.value(QStringLiteral("last_access_local")).toString(),
                 QDateTime::fromSecsSinceEpoch(1700000000).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        QVERIFY(o.value(QStringLiteral("expires")).isNull());
        QVERIFY(o.value(QStringLiteral("expires_local")).isNull());
        QVERIFY(o.value(QStringLiteral("body_offset")).isNull()); // not a range: no offset
        QCOMPARE(o.value(QStringLiteral("cache_kind")).toString(), QStringLiteral("chromium-simple"));
        QCOMPARE(o.value(QStringLiteral("content_type")).toString(), QStringLiteral("text/html"));
        if (i + 1 < array.size())
            QVERIFY(o.value(QStringLiteral("status")).isNull());
        else
            QCOMPARE(o.value(QStringLiteral("status")).toInteger(), 304);
        // Every field is there, shown in the list or not.
        for (int f = 0; f < EntryFieldCount; ++f)
            QVERIFY(o.contains(QString::fromLatin1(EntryFieldName(EntryField(f)))));
    }
}

void TestExport::tsvRoundTrip()
{
    const CacheList list = localStore(hostileUrls());
    EntryFields fields;
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    QVERIFY(WriteEntryList(out, RowsOf(list), ListFormat::Tsv, fields));
    const QStringList lines = QString::fromUtf8(out.data()).split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), qsizetype(list.size() + 2)); // header, rows, and the empty rest after the last
    QVERIFY(lines.last().isEmpty());
    QCOMPARE(lines[0].split(QLatin1Char('\t')).size(), qsizetype(EntryFieldCount));
    for (std::size_t i = 0; i < list.size(); ++i) {
        const QStringList cells = lines[qsizetype(i + 1)].split(QLatin1Char('\t'));
        QCOMPARE(cells.size(), qsizetype(EntryFieldCount));
        QCOMPARE(unescapeTsv(cells[int(EntryField::Url)]), QString::fromStdString(hostileUrls()[i]));
    }
}

void TestExport::everyFieldWritten_data()
{
    QTest::addColumn<int>("format");
    QTest::newRow("csv") << int(ListFormat::Csv);
    QTest::newRow("html") << int(ListFormat::Html);
    QTest::newRow("json") << int(ListFormat::Json);
    QTest::newRow("tsv") << int(ListFormat::Tsv);
}

void TestExport::everyFieldWritten()
{
    QFETCH(int, format);
    // A browser entry with every field set: each value shows up in the export.
    auto store = std::make_shared<KindStore>(StoreKindFromId("firefox"), "/profile/cache2");
    StoreEntry &e = store->add("https://example.com/a.js", "/bodies/a.js");
    store->setText(e.key, "a,:https://example.com/a.js");
    store->setText(e.partition, "https://partition.example");
    store->setText(e.container, "/profile/cache2/entries/C0FFEE");
    store->setText(e.contentType, "text/javascript");
    store->setText(e.contentEncoding, "br");
    store->setText(e.requestMethod, "POST");
    store->setText(e.headers, "HTTP/1.1 203 Non-Authoritative\r\nX-Marker: head-marker\r\n");
    StoreEntry &f = store->listing().entries.back();
    f.body = BodyPlace::Range;
    f.bodyOffset = 77;
    f.size = 888;
    f.hitCount = 41;
    f.httpStatus = 203;
    f.created = StoreTimeFromUnix(1600000000);
    f.flags = EntryPinned;
    SetUrlCacheStore(store);
    const CacheList list = EnumerateCatalogue();
    EntryFields fields(QStringLiteral("/profile/cache2"));
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    QVERIFY(WriteEntryList(out, RowsOf(list), ListFormat(format), fields));
    const QString text = QString::fromUtf8(out.data());
    for (const char *value : {"a,:https://example.com/a.js", "https://partition.example", "C0FFEE", "text/javascript",
                              "POST", "head-marker", "77", "888", "41", "203", "pinned", "/profile/cache2"})
        QVERIFY2(text.contains(QString::fromUtf8(value)), value);
    const QString created = QDateTime::fromSecsSinceEpoch(1600000000).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    QVERIFY(text.contains(created));
}

void TestExport::saveFileReplacesOnlyWhenComplete()
{
    const CacheList list = localStore(std::vector<std::string>(2000, "http://example.com/" + std::string(200, 'x')));
    EntryFields fields;
    const QString path = m_dir->filePath(QStringLiteral("out.csv"));
    QVERIFY(WriteBytes(path, "previous export"));
    {
        // The export is larger than the files this process may write: it fails, and the
        // previous file stays as it was.
        FileSizeLimit limit(64 * 1024);
        QVERIFY(limit.ok());
        QCOMPARE(ExportEntryList(path, RowsOf(list), ListFormat::Csv, fields).error, StoreError::DiskFull);
    }
    QCOMPARE(readAll(path), QByteArray("previous export"));
    QCOMPARE(filesBelow(m_dir->path()).filter(QStringLiteral("out.csv")), QStringList{"out.csv"});
    QVERIFY(ExportEntryList(path, RowsOf(list), ListFormat::Csv, fields).ok());
    QVERIFY(readAll(path).size() > 400000);

    const StoreResult missing = ExportEntryList(m_dir->filePath(QStringLiteral("missing/folder/out.csv")), RowsOf(list),
                                                ListFormat::Csv, fields);
    QCOMPARE(missing.error, StoreError::NotFound);
    QVERIFY(!missing.reason.empty());
}

void TestExport::emptyList_data()
{
    everyFieldWritten_data();
}

void TestExport::emptyList()
{
    QFETCH(int, format);
    EntryFields fields;
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    QVERIFY(WriteEntryList(out, {}, ListFormat(format), fields));
    const QByteArray bytes = out.data();
    switch (ListFormat(format)) {
    case ListFormat::Json:
        QVERIFY(QJsonDocument::fromJson(bytes).isArray());
        QVERIFY(QJsonDocument::fromJson(bytes).array().isEmpty());
        break;
    case ListFormat::Html:
        QVERIFY(bytes.contains("</table>"));
        break;
    default:
        QVERIFY(bytes.contains("file_name"));
        QCOMPARE(bytes.count('\n'), qsizetype(1));
    }
}

void TestExport::documentsNamedFromTheirUrls()
{
    const CacheList list = localStore({"http://example.com/news/%E6%96%B0%E9%97%BB.html?x=1#top", "http://example.com/",
                                       "http://example.com/style.css"},
                                      "<html>body</html>");
    EntryFields fields;
    const QString target = m_dir->filePath(QStringLiteral("out"));
    const DocumentExportResult result = ExportDocuments(RowsOf(list), target, fields);
    QVERIFY2(result.error.isEmpty(), qPrintable(result.error));
    QCOMPARE(result.writtenCount(), std::size_t(3));
    QCOMPARE(result.documents[0].fileName, QStringLiteral("新闻.html"));
    // Without a name in the URL: "index", with the local file's extension.
    QCOMPARE(result.documents[1].fileName, QStringLiteral("index.html"));
    QCOMPARE(result.documents[2].fileName, QStringLiteral("style.css"));
    QCOMPARE(filesBelow(target), QStringList({"index.html", "style.css", "新闻.html"}));
    QCOMPARE(readAll(target + QStringLiteral("/新闻.html")), QByteArray("<html>body</html>"));
    QVERIFY(result.complete());
}

void TestExport::collisionsGetNumbers()
{
    const CacheList list = localStore({"http://a.example/page.html", "http://b.example/page.html",
                                       "http://c.example/dir/page.html", "http://d.example/README"});
    EntryFields fields;
    const QString target = m_dir->filePath(QStringLiteral("out"));
    QVERIFY(WriteBytes(target + QStringLiteral("/page (2).html"), "there before"));
    QVERIFY(WriteBytes(target + QStringLiteral("/README.html"), "there before too"));
    const DocumentExportResult result = ExportDocuments(RowsOf(list), target, fields);
    QCOMPARE(result.writtenCount(), std::size_t(4));
    QCOMPARE(result.documents[0].fileName, QStringLiteral("page.html"));
    QCOMPARE(result.documents[1].fileName, QStringLiteral("page (3).html"));
    QCOMPARE(result.documents[2].fileName, QStringLiteral("page (4).html"));
    QCOMPARE(result.documents[3].fileName, QStringLiteral("README (2).html"));
    QCOMPARE(readAll(target + QStringLiteral("/page (2).html")), QByteArray("there before"));
    QCOMPARE(readAll(target + QStringLiteral("/README.html")), QByteArray("there before too"));

    // Exporting the same documents again replaces nothing.
    const DocumentExportResult again = ExportDocuments(RowsOf(list), target, fields);
    QCOMPARE(again.documents[0].fileName, QStringLiteral("page (5).html"));
    QCOMPARE(filesBelow(target).size(), qsizetype(2 + 8));
}

void TestExport::plantedLinkIsNotFollowed()
{
    const CacheList list = localStore({"http://example.com/a.html"}, "exported");
    EntryFields fields;
    const QString target = m_dir->filePath(QStringLiteral("out"));
    const QString victim = m_dir->filePath(QStringLiteral("victim.txt"));
    QVERIFY(WriteBytes(victim, "precious"));
    QVERIFY(QDir().mkpath(target));
    QVERIFY(QFile::link(victim, target + QStringLiteral("/a.html")));
    QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("nowhere")), target + QStringLiteral("/a (2).html")));
    const DocumentExportResult result = ExportDocuments(RowsOf(list), target, fields);
    QCOMPARE(result.documents[0].fileName, QStringLiteral("a (3).html"));
    QCOMPARE(readAll(victim), QByteArray("precious"));
    QVERIFY(!QFileInfo::exists(m_dir->filePath(QStringLiteral("nowhere"))));
    QCOMPARE(readAll(target + QStringLiteral("/a (3).html")), QByteArray("exported"));
}

void TestExport::namesStayInTheFolder()
{
    const std::vector<std::string> urls = {
        "http://example.com/..%2F..%2Fescaped.html",
        "http://example.com/a/..",
        "http://example.com/%2E%2E",
        "http://example.com/..\\..\\windows.html",
        "http://example.com/%2Fetc%2Fpasswd",
        "http://example.com/.hidden",
        "http://example.com/" + std::string(400, 'n') + ".html",
        "..",
    };
    const CacheList list = localStore(urls);
    EntryFields fields;
    const QString target = m_dir->filePath(QStringLiteral("deep/out"));
    const QStringList before = filesBelow(m_dir->path());
    const DocumentExportResult result = ExportDocuments(RowsOf(list), target, fields);
    QCOMPARE(result.writtenCount(), urls.size());
    QStringList written;
    for (const ExportedDocument &d : result.documents) {
        QVERIFY2(!d.fileName.contains(QLatin1Char('/')), qPrintable(d.fileName));
        QVERIFY2(!d.fileName.startsWith(QLatin1Char('.')), qPrintable(d.fileName));
        QVERIFY(d.fileName.toUtf8().size() <= 140);
        written << QStringLiteral("deep/out/") + d.fileName;
    }
    // Nothing outside the target changed.
    QStringList after = filesBelow(m_dir->path());
    for (const QString &w : written)
        QVERIFY2(after.removeOne(w), qPrintable(w));
    QCOMPARE(after, before);
}

void TestExport::bodiesDecoded()
{
    const std::string page = "<html>" + std::string(5000, 'z') + "</html>";
    std::string gzip, error;
    QVERIFY(EncodeBody(page, "gzip", gzip, error));
    const QString container = m_dir->filePath(QStringLiteral("cache/entries/0001"));
    const QByteArray prefix(100, '\x07');
    QVERIFY(
        WriteBytes(container, prefix + QByteArray::fromStdString(gzip) + "not gzip at all" + "plain text" + "tail"));

    auto store =
        std::make_shared<KindStore>(StoreKindFromId("firefox"), m_dir->filePath(QStringLiteral("cache")).toStdString());
    auto addRange = [&](const std::string &url, std::uint64_t offset, std::uint64_t size, const std::string &coding) {
        StoreEntry &e = store->add(url, "/bodies/planned.html");
        store->setText(e.container, container.toStdString());
        store->setText(e.contentEncoding, coding);
        store->setText(e.contentType, "text/html");
        StoreEntry &f = store->listing().entries.back();
        f.body = BodyPlace::Range;
        f.bodyOffset = offset;
        f.size = size;
    };
    const std::uint64_t g = 100 + gzip.size();
    addRange("https://example.com/gz.html", 100, gzip.size(), "gzip");
    addRange("https://example.com/broken.html", g, 15, "gzip");
    addRange("https://example.com/plain", g + 15, 10, "");
    addRange("https://example.com/odd.html", g + 15, 10, "compress");
    addRange("https://example.com/gone.html", 0, 10, "");
    store->setText(store->listing().entries.back().container, m_dir->filePath(QStringLiteral("missing")).toStdString());
    SetUrlCacheStore(store);
    const CacheList list = EnumerateCatalogue();
    QCOMPARE(list.size(), std::size_t(5));

    EntryFields fields;
    const QString target = m_dir->filePath(QStringLiteral("out"));
    const QStringList cacheBefore = filesBelow(m_dir->filePath(QStringLiteral("cache")));
    const DocumentExportResult result = ExportDocuments(RowsOf(list), target, fields);
    QCOMPARE(readAll(target + QStringLiteral("/gz.html")), QByteArray::fromStdString(page));
    QVERIFY(result.documents[0].problem.isEmpty());
    // A body that does not decode is written as stored, and says so.
    QCOMPARE(readAll(target + QStringLiteral("/broken.html")), QByteArray("not gzip at all"));
    QVERIFY2(result.documents[1].problem.startsWith(QStringLiteral("written as stored")),
             qPrintable(result.documents[1].problem));
    QCOMPARE(result.documents[2].fileName, QStringLiteral("plain.html")); // the type names it
    QCOMPARE(readAll(target + QStringLiteral("/plain.html")), QByteArray("plain text"));
    QCOMPARE(readAll(target + QStringLiteral("/odd.html")), QByteArray("plain text"));
    QVERIFY2(result.documents[3].problem.contains(QStringLiteral("cannot be undone")),
             qPrintable(result.documents[3].problem));
    QVERIFY(!result.documents[4].written);
    QVERIFY(!QFileInfo::exists(target + QStringLiteral("/gone.html")));
    QCOMPARE(result.writtenCount(), std::size_t(4));
    // Nothing was written into the cache, not even a decoded copy.
    QCOMPARE(filesBelow(m_dir->filePath(QStringLiteral("cache"))), cacheBefore);
}

void TestExport::modificationTimeIsLastModified()
{
    const CacheList plain = localStore({"http://example.com/a.html", "http://example.com/b.html"});
    Q_UNUSED(plain);
    const StoreTime modified = StoreTimeFromUnix(1234567890) + 5000000; // and half a second
    m_store->listing().entries[0].lastModified = modified;
    SetUrlCacheStore(m_store);
    const CacheList list = EnumerateCatalogue();
    EntryFields fields;
    const QString target = m_dir->filePath(QStringLiteral("out"));
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    QVERIFY(ExportDocuments(RowsOf(list), target, fields).complete());
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(target + QStringLiteral("/a.html")).constData(), &st), 0);
    QCOMPARE(qint64(st.st_mtim.tv_sec), qint64(1234567890));
    QCOMPARE(qint64(st.st_mtim.tv_nsec), qint64(500000000));
    // Without a last-modified time the file keeps the time it was written.
    QCOMPARE(::stat(QFile::encodeName(target + QStringLiteral("/b.html")).constData(), &st), 0);
    QVERIFY(qint64(st.st_mtim.tv_sec) >= before - 1);
}

void TestExport::failuresReportedPerDocument()
{
    const CacheList list =
        localStore({"http://example.com/one.html", "http://example.com/two.html", "http://example.com/three.html"});
    QVERIFY(QFile::remove(QString::fromUtf8(LocalFileName(list[1]))));
    EntryFields fields;
    const QString target = m_dir->filePath(QStringLiteral("out"));
    const DocumentExportResult result = ExportDocuments(RowsOf(list), target, fields);
    QVERIFY(result.error.isEmpty());
    QVERIFY(result.documents[0].written);
    QVERIFY(!result.documents[1].written);
    QVERIFY2(result.documents[1].problem.contains(QStringLiteral("gone")), qPrintable(result.documents[1].problem));
    QVERIFY(result.documents[1].fileName.isEmpty());
    QVERIFY(result.documents[2].written);
    QVERIFY(!result.complete());
    QCOMPARE(filesBelow(target), QStringList({"one.html", "three.html"}));
}

void TestExport::fullDiskFailsOneDocumentOnly()
{
    // The middle document does not fit; the others are written and nothing half-written stays.
    const CacheList small = localStore({"http://example.com/a.html"});
    Q_UNUSED(small);
    const QString big = m_dir->filePath(QStringLiteral("cache/big.html"));
    QVERIFY(WriteBytes(big, QByteArray(300 * 1024, 'b')));
    m_store->add("http://example.com/big.html", big.toStdString());
    const QString c = m_dir->filePath(QStringLiteral("cache/c.html"));
    QVERIFY(WriteBytes(c, "c"));
    m_store->add("http://example.com/c.html", c.toStdString());
    SetUrlCacheStore(m_store);
    const CacheList list = EnumerateCatalogue();
    QCOMPARE(list.size(), std::size_t(3));
    EntryFields fields;
    const QString target = m_dir->filePath(QStringLiteral("out"));
    DocumentExportResult result;
    {
        FileSizeLimit limit(100 * 1024);
        QVERIFY(limit.ok());
        DocumentExportOptions options;
        options.manifest = true;
        result = ExportDocuments(RowsOf(list), target, fields, options);
    }
    QVERIFY(result.documents[0].written);
    QVERIFY(!result.documents[1].written);
    QVERIFY2(result.documents[1].problem.contains(QStringLiteral("big.html")), qPrintable(result.documents[1].problem));
    QVERIFY(result.documents[2].written);
    QCOMPARE(filesBelow(target), QStringList({"a.html", "c.html", "manifest.csv"}));
    const QList<QStringList> manifest =
        parseCsv(QString::fromUtf8(readAll(target + QStringLiteral("/manifest.csv")).mid(3)));
    QCOMPARE(manifest.size(), qsizetype(4));
    QCOMPARE(manifest[2][EntryFieldCount], QString()); // no file for the big one
    QCOMPARE(manifest[2][EntryFieldCount + 1], result.documents[1].problem);
}

void TestExport::manifest()
{
    const CacheList list = localStore(
        {"http://example.com/manifest.csv", "http://example.com/=cmd|calc.html", "http://example.com/gone.html"});
    QVERIFY(QFile::remove(QString::fromUtf8(LocalFileName(list[2]))));
    EntryFields fields;
    const QString target = m_dir->filePath(QStringLiteral("out"));
    QVERIFY(WriteBytes(target + QStringLiteral("/manifest.csv"), "the user's own"));
    DocumentExportOptions options;
    options.manifest = true;
    const DocumentExportResult result = ExportDocuments(RowsOf(list), target, fields, options);
    QCOMPARE(result.manifestFile, QStringLiteral("manifest (2).csv"));
    QCOMPARE(result.documents[0].fileName, QStringLiteral("manifest (3).csv"));
    QCOMPARE(readAll(target + QStringLiteral("/manifest.csv")), QByteArray("the user's own"));

    const QByteArray bytes = readAll(target + QStringLiteral("/manifest (2).csv"));
    QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
    const QList<QStringList> records = parseCsv(QString::fromUtf8(bytes.mid(3)));
    QCOMPARE(records.size(), qsizetype(4));
    QCOMPARE(records[0].size(), qsizetype(EntryFieldCount + 2));
    QCOMPARE(records[0][EntryFieldCount], QStringLiteral("exported_file"));
    QCOMPARE(records[0][EntryFieldCount + 1], QStringLiteral("export_problem"));
    QCOMPARE(records[1][int(EntryField::Url)], QStringLiteral("http://example.com/manifest.csv"));
    QCOMPARE(records[1][EntryFieldCount], QStringLiteral("manifest (3).csv"));
    // A written name a spreadsheet would take for a formula is guarded like every cell.
    QCOMPARE(records[2][EntryFieldCount], QStringLiteral("'=cmd|calc.html"));
    QCOMPARE(records[3][EntryFieldCount], QString());
    QVERIFY(records[3][EntryFieldCount + 1].contains(QStringLiteral("gone")));
    QVERIFY(!result.complete());

    // A manifest name the folder cannot take: reported, and the documents are written all the same.
    options.manifestName = QString(300, QLatin1Char('m')) + QStringLiteral(".csv");
    const DocumentExportResult longName =
        ExportDocuments(RowsOf(list), m_dir->filePath(QStringLiteral("out3")), fields, options);
    QVERIFY(!longName.manifestError.isEmpty());
    QVERIFY(longName.manifestFile.isEmpty());
    QCOMPARE(longName.writtenCount(), std::size_t(2));
    QVERIFY(!longName.complete());

    // Without the option no manifest is written.
    const DocumentExportResult none = ExportDocuments(RowsOf(list), m_dir->filePath(QStringLiteral("out2")), fields);
    QVERIFY(none.manifestFile.isEmpty());
    QCOMPARE(filesBelow(m_dir->filePath(QStringLiteral("out2"))), QStringList({"=cmd|calc.html", "manifest.csv"}));
}

void TestExport::targetInsideTheCacheRefused()
{
    const CacheList list = localStore({"http://example.com/a.html"});
    const QString cache = m_dir->filePath(QStringLiteral("cache"));
    const QStringList before = filesBelow(cache);
    EntryFields fields;
    DocumentExportOptions options;
    options.storeFolder = cache;
    options.manifest = true;
    for (const QString &target : {cache, cache + QStringLiteral("/new/sub"), cache + QStringLiteral("/../cache/x")}) {
        const DocumentExportResult result = ExportDocuments(RowsOf(list), target, fields, options);
        QVERIFY2(!result.error.isEmpty(), qPrintable(target));
        QCOMPARE(result.writtenCount(), std::size_t(0));
        QVERIFY(!result.documents[0].problem.isEmpty());
    }
    // Through a link to the cache too.
    const QString link = m_dir->filePath(QStringLiteral("link"));
    QVERIFY(QFile::link(cache, link));
    QVERIFY(!ExportDocuments(RowsOf(list), link + QStringLiteral("/out"), fields, options).error.isEmpty());
    QCOMPARE(filesBelow(cache), before);
    QVERIFY(!QFileInfo::exists(cache + QStringLiteral("/new")));
    // A folder beside the cache whose name begins the same is not inside it.
    QVERIFY(ExportDocuments(RowsOf(list), cache + QStringLiteral("-out"), fields, options).complete());
}

void TestExport::targetNotWritable()
{
    const CacheList list = localStore({"http://example.com/a.html", "http://example.com/b.html"});
    EntryFields fields;
    QString target = m_dir->filePath(QStringLiteral("locked"));
    QVERIFY(QDir().mkpath(target));
    QVERIFY(QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    if (::access(QFile::encodeName(target).constData(), W_OK) == 0) {
        // Permissions do not hold for this user (root): take a folder the kernel refuses files in.
        target = QStringLiteral("/sys/kernel");
        if (::access("/sys/kernel", W_OK) == 0 && ::mkdir("/sys/kernel/tidewrack-probe", 0700) == 0)
            QSKIP("no folder here refuses new files");
    }
    DocumentExportOptions options;
    options.manifest = true;
    const DocumentExportResult result = ExportDocuments(RowsOf(list), target, fields, options);
    QVERIFY(!result.error.isEmpty());
    QCOMPARE(result.writtenCount(), std::size_t(0));
    for (const ExportedDocument &d : result.documents)
        QVERIFY(!d.problem.isEmpty());
    QFile::setPermissions(m_dir->filePath(QStringLiteral("locked")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    // A file where the folder should be.
    const QString file = m_dir->filePath(QStringLiteral("a-file"));
    QVERIFY(WriteBytes(file, "x"));
    QVERIFY(!ExportDocuments(RowsOf(list), file, fields).error.isEmpty());
    QVERIFY(!ExportDocuments(RowsOf(list), QString(), fields).error.isEmpty());
}

void TestExport::stopping()
{
    const CacheList list =
        localStore({"http://example.com/1.html", "http://example.com/2.html", "http://example.com/3.html"});
    EntryFields fields;
    DocumentExportOptions options;
    std::vector<std::size_t> seen;
    options.progress = [&](std::size_t done, std::size_t total) {
        seen.push_back(done);
        return total == 3 && done < 2;
    };
    const QString target = m_dir->filePath(QStringLiteral("out"));
    const DocumentExportResult result = ExportDocuments(RowsOf(list), target, fields, options);
    QVERIFY(result.stopped);
    QCOMPARE(seen, (std::vector<std::size_t>{1, 2}));
    QCOMPARE(result.writtenCount(), std::size_t(2));
    QVERIFY(!result.documents[2].written);
    QVERIFY(result.documents[2].problem.contains(QStringLiteral("stopped")));
    QCOMPARE(filesBelow(target), QStringList({"1.html", "2.html"}));
}

void TestExport::numberedNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("numbered");
    QTest::newRow("first") << "a.html" << 1 << "a.html";
    QTest::newRow("second") << "a.html" << 2 << "a (2).html";
    QTest::newRow("no extension") << "README" << 3 << "README (3)";
    QTest::newRow("two dots") << "archive.tar.gz" << 2 << "archive.tar (2).gz";
    QTest::newRow("leading dot") << "_.x" << 2 << "_ (2).x";
}

void TestExport::numberedNames()
{
    QFETCH(QString, name);
    QFETCH(int, n);
    QFETCH(QString, numbered);
    QCOMPARE(QString::fromStdString(NumberedName(name.toStdString(), n)), numbered);
}

QTEST_GUILESS_MAIN(TestExport)
#include "tst_export.moc"
