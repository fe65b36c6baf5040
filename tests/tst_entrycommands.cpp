// What the cache knows about the listed documents, in the real main window: the window
// "缓存信息" for a WinInet entry and a Chromium one (reached by the list's menu and by
// Alt+Enter), its plain texts and its copy button; the list export in each format and the
// documents export through the commands, with the dialogs answered by the tests.

#include "answering.h"
#include "app/documentlist.h"
#include "app/entrycommands.h"
#include "app/listcolumns.h"
#include "app/lister.h"
#include "app/treenodes.h"
#include "catalogue/documentlistmodel.h"
#include "concernsupport.h"
#include "stores/storeregistry.h"
#include "support.h"
#include "tools/writers/chromiumwriter.h"
#include "tools/writers/firefoxwriter.h"
#include "windows/entryinfowindow.h"
#include "windows/exportdocumentsdialog.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTreeView>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

namespace {

constexpr std::int64_t Now = 1700000000; // 2023-11-14

QString localTime(std::int64_t unixSeconds)
{
    return QDateTime::fromSecsSinceEpoch(unixSeconds).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// The shown panels over the process's store, with the first load done, and the commands.
struct Fixture {
    explicit Fixture(Answerer &answerer) : entries(p.state, p.lister, &p.host, answerer) {}
    Panels p;
    EntryCommands entries;

    bool open() { return p.open(); }
    // Makes the host node captioned `caption` ("[h.net]") current; false when there is none.
    bool selectHost(const QString &caption)
    {
        QTreeWidgetItem *cache = p.node(CacheRoot);
        for (int i = 0; cache && i < cache->childCount(); ++i)
            if (cache->child(i)->text(0) == caption) {
                p.Tree->setCurrentItem(cache->child(i));
                return true;
            }
        return false;
    }
    // The list's row showing `url`; -1 when none.
    int rowOf(const QString &url) const
    {
        const DocumentListModel *model = p.documents.model();
        for (int row = 0; row < model->rowCount(); ++row)
            if (model->data(model->index(row, DocumentListModel::UrlColumn)).toString() == url)
                return row;
        return -1;
    }
    // Focuses and selects `row` as a click would.
    void focusRow(int row)
    {
        const QModelIndex index = p.documents.model()->index(row, 0);
        p.lister->selectionModel()->setCurrentIndex(index,
                                                    QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    EntryInfoWindow *infoWindow() const { return p.host.findChild<EntryInfoWindow *>(); }
};

QStringList sortedFiles(const QString &folder)
{
    QStringList names = QDir(folder).entryList(QDir::Files);
    names.sort();
    return names;
}

} // namespace

class TestEntryCommands : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void infoOfWinInetEntry();
    void infoOfBrowserEntry_data();
    void infoOfBrowserEntry();
    void hostileTextsStayText();
    void copyButtonCopiesAll();
    void exportTarget_data();
    void exportTarget();
    void exportListByFilter_data();
    void exportListByFilter();
    void exportListOfSelectedRows_data();
    void exportListOfSelectedRows();
    void exportListCancelledWritesNothing();
    void exportDocumentsWithManifest();
    void exportDocumentsReportsFailuresInOneBox();
    void exportDocumentsIntoTheCacheIsRefused();
    void exportDocumentsDialog();
    void exportArchiveOfTheList();
    void exportReport_data();
    void exportReport();
    void fixtureStores_data();
    void fixtureStores();

private:
    QStringList m_boxes;
    ScriptedAnswerer m_answerer;
};

void TestEntryCommands::init()
{
    m_boxes.clear();
    m_answerer.reply = [this](const MessageBoxRequest &r) {
        m_boxes << r.text;
        return IDOK;
    };
}

void TestEntryCommands::cleanup()
{
    m_answerer.reply = {};
    SetUrlCacheStore(nullptr);
}

void TestEntryCommands::infoOfWinInetEntry()
{
    QTemporaryDir storeDir;
    StoreWriterEntry page;
    page.url = "http://wininet.example/news/page.htm";
    page.content = "<p>cached</p>";
    page.headerInfo = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=gbk\r\nContent-Encoding: identity\r\n"
                      "Server: test\r\n\r\n";
    page.lastAccess = Now + 60;
    page.useCount = 7;
    StoreWriterOptions options;
    options.now = Now;
    const StoreWriteResult written = WriteTestStore(storeDir.path(), {page}, options);
    SetUrlCacheStore(OpenStore(storeDir.path().toStdString()));

    Fixture f(m_answerer);
    QVERIFY(f.open());
    QVERIFY(f.selectHost(QStringLiteral("[wininet.example]")));
    f.focusRow(0);
    f.entries.showEntryInfo();
    EntryInfoWindow *info = f.infoWindow();
    QVERIFY(info);
    QVERIFY(info->isVisible());
    QCOMPARE(info->windowTitle(), QStringLiteral("缓存信息"));
    QCOMPARE(info->valueText(QStringLiteral("url")), QStringLiteral("http://wininet.example/news/page.htm"));
    QCOMPARE(info->valueText(QStringLiteral("cache_kind")), QStringLiteral("IE"));
    QCOMPARE(info->valueText(QStringLiteral("location")), QString::fromStdString(written.entries[0].localFile));
    QCOMPARE(info->valueText(QStringLiteral("store_folder")), QString::fromStdString(CurrentUrlCacheStore()->folder()));
    QCOMPARE(info->valueText(QStringLiteral("size")), QStringLiteral("13"));
    QCOMPARE(info->valueText(QStringLiteral("hit_count")), QStringLiteral("7"));
    QCOMPARE(info->valueText(QStringLiteral("last_access")), localTime(Now + 60));
    QCOMPARE(info->valueText(QStringLiteral("content_type")), QStringLiteral("text/html"));
    QCOMPARE(info->valueText(QStringLiteral("status")), QStringLiteral("200"));
    QCOMPARE(info->valueText(QStringLiteral("partition")), QString()); // WinInet has none: not shown
    QVERIFY(!info->findChild<QLineEdit *>(QStringLiteral("partition")));
    // The head as stored, one line a line.
    QCOMPARE(info->responseHeadText(),
             QStringLiteral("HTTP/1.1 200 OK\nContent-Type: text/html; charset=gbk\n"
                            "Content-Encoding: identity\nServer: test\n\n"));
    // Every value selects and copies, and nothing can change it.
    for (QLineEdit *value : info->findChildren<QLineEdit *>()) {
        QVERIFY(value->isReadOnly());
        value->selectAll();
        QCOMPARE(value->selectedText(), value->text());
    }
    info->close();
}

void TestEntryCommands::infoOfBrowserEntry_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("chromium") << "Chromium（简单缓存）";
    QTest::newRow("firefox") << "Firefox";
}

void TestEntryCommands::infoOfBrowserEntry()
{
    QFETCH(QString, kind);
    QTemporaryDir storeDir;
    BrowserWriterEntry script;
    script.url = "https://cdn.browser.example/app.js";
    script.body = "var x = 1;" + std::string(500, ' ');
    script.contentType = "application/javascript";
    script.contentEncoding = "gzip";
    script.partition = "https://top.example";
    script.fetched = Now;
    script.lastModified = Now - 86400;
    script.expires = Now + 3600;
    script.fetchCount = 5;
    script.headers = {{"Cache-Control", "max-age=3600"}};
    BrowserWriterOptions options;
    options.now = Now;
    const std::string folder = storeDir.filePath(QStringLiteral("cache")).toStdString();
    const BrowserWriteResult written = kind == QLatin1String("Firefox")
        ? WriteFirefoxStore(folder, {script}, options)
        : WriteChromiumSimpleStore(folder, {script}, options);
    QVERIFY2(written.ok, written.error.c_str());
    SetUrlCacheStore(OpenStore(written.folder));

    Fixture f(m_answerer);
    QVERIFY(f.open());
    QVERIFY(f.selectHost(QStringLiteral("[cdn.browser.example]")));
    f.focusRow(0);
    f.entries.showEntryInfo();
    EntryInfoWindow *info = f.infoWindow();
    QVERIFY(info);
    QCOMPARE(info->valueText(QStringLiteral("url")), QStringLiteral("https://cdn.browser.example/app.js"));
    QCOMPARE(info->valueText(QStringLiteral("key")), QString::fromStdString(written.entries[0].key));
    QVERIFY(info->valueText(QStringLiteral("partition")).contains(QStringLiteral("top.example")));
    QCOMPARE(info->valueText(QStringLiteral("cache_kind")), kind);
    QCOMPARE(info->valueText(QStringLiteral("container")), QString::fromStdString(written.entries[0].file));
    QVERIFY(!info->valueText(QStringLiteral("body_offset")).isEmpty());
    QCOMPARE(info->valueText(QStringLiteral("size")), QString::number(written.entries[0].storedSize));
    QCOMPARE(info->valueText(QStringLiteral("content_encoding")), QStringLiteral("gzip"));
    QCOMPARE(info->valueText(QStringLiteral("decoded_size")), QString()); // it would take reading the body
    QCOMPARE(info->valueText(QStringLiteral("content_type")), QStringLiteral("application/javascript"));
    QCOMPARE(info->valueText(QStringLiteral("status")), QStringLiteral("200"));
    // Firefox counts fetches; Chromium's simple cache counts nothing, so nothing is shown.
    QCOMPARE(info->valueText(QStringLiteral("hit_count")),
             kind == QLatin1String("Firefox") ? QStringLiteral("5") : QString());
    QCOMPARE(info->valueText(QStringLiteral("last_modified")), localTime(Now - 86400));
    // Chromium stores no expiry: it is worked out from max-age and said to be. The request left
    // up to 0.4 s before the Date second, and that time in flight counts as age.
    const QString expires = info->valueText(QStringLiteral("expires"));
    if (kind == QLatin1String("Firefox")) {
        QCOMPARE(expires, localTime(Now + 3600));
    } else {
        const QString derived = QStringLiteral("（由响应头推算）");
        QVERIFY2(expires == localTime(Now + 3599) + derived || expires == localTime(Now + 3600) + derived,
                 qPrintable(expires));
    }
    const QString head = info->responseHeadText();
    QVERIFY2(head.startsWith(QStringLiteral("HTTP/1.1 200")), qPrintable(head));
    QVERIFY(head.contains(QStringLiteral("Cache-Control: max-age=3600\n")));
    QVERIFY(!head.contains(QLatin1Char('\r')));
    info->close();

    // The document comes out decoded, under its name from the URL.
    QTemporaryDir out;
    f.entries.setDocumentsDialog([&](int, const QString &) {
        return std::optional<ExportDocumentsChoice>({out.path(), false});
    });
    f.entries.exportDocuments();
    QCOMPARE(sortedFiles(out.path()), QStringList{"app.js"});
    QCOMPARE(ReadBytes(out.filePath("app.js")), QByteArray::fromStdString(script.body));
    QVERIFY2(m_boxes.filter(QRegularExpression(QStringLiteral("^(?!已导出)"))).isEmpty(),
             qPrintable(m_boxes.join('\n')));
}

void TestEntryCommands::hostileTextsStayText()
{
    TestStore store;
    const std::string url = "http://evil.example/<b>bold</b><img src=x onerror=alert(1)>&amp;.htm";
    StoreEntry &e = store.add(url, "evil.htm", "x");
    store.store().setText(e.headers, "HTTP/1.1 200 OK\r\nX-Note: <h1>big</h1>\r\n\r\n");
    Fixture f(m_answerer);
    QVERIFY(f.open());
    QVERIFY(f.selectHost(QStringLiteral("[evil.example]")));
    f.focusRow(0);
    f.entries.showEntryInfo();
    EntryInfoWindow *info = f.infoWindow();
    QVERIFY(info);
    QCOMPARE(info->valueText(QStringLiteral("url")), QString::fromStdString(url));
    QVERIFY(info->responseHeadText().contains(QStringLiteral("X-Note: <h1>big</h1>")));
    // No label reads its text as markup; the values are in line edits, which never do.
    for (QLabel *label : info->findChildren<QLabel *>())
        QCOMPARE(label->textFormat(), Qt::PlainText);
    // Drawn, the URL is as wide as its characters: markup read as such would be narrower.
    QLineEdit *value = info->findChild<QLineEdit *>(QStringLiteral("url"));
    value->setCursorPosition(0);
    const QImage shown = value->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QLineEdit literal;
    literal.setReadOnly(true);
    literal.setFont(value->font());
    literal.setPalette(value->palette());
    literal.setText(QString::fromStdString(url));
    literal.setCursorPosition(0);
    literal.resize(value->size());
    QCOMPARE(shown, literal.grab().toImage().convertToFormat(QImage::Format_RGB32));
}

void TestEntryCommands::copyButtonCopiesAll()
{
    TestStore store;
    StoreEntry &e = store.add("http://copy.example/a.htm", "a.htm", "12345");
    e.hitCount = 4;
    e.lastAccess = StoreTimeFromUnix(Now);
    store.store().setText(e.headers, "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n");
    Fixture f(m_answerer);
    QVERIFY(f.open());
    QVERIFY(f.selectHost(QStringLiteral("[copy.example]")));
    f.focusRow(0);
    f.entries.showEntryInfo();
    EntryInfoWindow *info = f.infoWindow();
    QVERIFY(info);
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    auto *copy = info->findChild<QPushButton *>(QStringLiteral("copyAll"));
    QVERIFY(copy);
    QTest::mouseClick(copy, Qt::LeftButton);
    const QString copied = QGuiApplication::clipboard()->text();
    const QStringList lines = copied.split(QLatin1Char('\n'));
    QCOMPARE(lines.first(), QStringLiteral("网址: http://copy.example/a.htm"));
    QVERIFY(lines.contains(QStringLiteral("命中次数: 4")));
    QVERIFY(lines.contains(QStringLiteral("最后访问: ") + localTime(Now)));
    QVERIFY(lines.contains(QStringLiteral("大小: 5")));
    QVERIFY(lines.contains(QStringLiteral("来源: IE"))); // what a WinInet-like entry says
    // The head last, under its caption, its lines as stored.
    QVERIFY(copied.endsWith(QStringLiteral("响应头:\nHTTP/1.1 200 OK\nContent-Type: text/html\n\n")));
    // Every value the window shows is in the copy, with its caption.
    for (QLineEdit *value : info->findChildren<QLineEdit *>())
        QVERIFY2(copied.contains(QStringLiteral(": ") + value->text() + QLatin1Char('\n')), qPrintable(value->text()));
}

void TestEntryCommands::exportTarget_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("filter");
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("file");
    QTest::newRow("csv by filter") << "/t/list" << 0 << int(ListFormat::Csv) << "/t/list.csv";
    QTest::newRow("html by filter") << "/t/list" << 1 << int(ListFormat::Html) << "/t/list.html";
    QTest::newRow("json by filter") << "/t/list" << 2 << int(ListFormat::Json) << "/t/list.json";
    QTest::newRow("typed extension wins") << "/t/list.json" << 0 << int(ListFormat::Json) << "/t/list.json";
    QTest::newRow("htm") << "/t/list.HTM" << 2 << int(ListFormat::Html) << "/t/list.HTM";
    QTest::newRow("other extension") << "/t/list.txt" << 1 << int(ListFormat::Html) << "/t/list.txt.html";
}

void TestEntryCommands::exportTarget()
{
    QFETCH(QString, path);
    QFETCH(int, filter);
    QFETCH(int, format);
    QFETCH(QString, file);
    const auto [chosen, target] = ListExportTarget(path, ListExportFilters()[filter]);
    QCOMPARE(int(chosen), format);
    QCOMPARE(target, file);
}

void TestEntryCommands::exportListByFilter_data()
{
    QTest::addColumn<int>("filter");
    QTest::addColumn<QString>("suffix");
    QTest::newRow("csv") << 0 << "csv";
    QTest::newRow("html") << 1 << "html";
    QTest::newRow("json") << 2 << "json";
}

void TestEntryCommands::exportListByFilter()
{
    QFETCH(int, filter);
    QFETCH(QString, suffix);
    TestStore store;
    store.add("http://list.example/a.htm", "a.htm", "aa").hitCount = 3;
    store.add("http://list.example/b.htm", "b.htm", "bbb").hitCount = 30;
    store.add("http://list.example/c.htm", "c.htm", "c").hitCount = 300;
    store.add("http://other.example/d.htm", "d.htm", "d");
    Fixture f(m_answerer);
    QVERIFY(f.open());
    QVERIFY(f.selectHost(QStringLiteral("[list.example]")));
    QTemporaryDir out;
    QString proposed;
    f.entries.setListFileDialog([&](const QString &offered, QString &chosenFilter, bool &) {
        proposed = offered;
        chosenFilter = ListExportFilters()[filter];
        return out.filePath(QStringLiteral("列表"));
    });
    f.entries.exportList();
    QVERIFY(proposed.endsWith(QStringLiteral(".csv")));
    const QString path = out.filePath(QStringLiteral("列表.") + suffix);
    QCOMPARE(m_boxes, QStringList(QStringLiteral("已导出3项到：\n") + QDir::toNativeSeparators(path)));
    QVERIFY2(QFile::exists(path), qPrintable(sortedFiles(out.path()).join(' ')));
    const QByteArray bytes = ReadBytes(path);
    // With no row selected, every row of the list; every field, shown or not.
    if (suffix == QLatin1String("csv")) {
        // The header in the captions the list and the HTML show.
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF"
                                 "缓存文件,类型,大小,网址,位置,最后访问"));
        QCOMPARE(bytes.count("\r\n"), 4);
        for (const char *url : {"http://list.example/a.htm", "http://list.example/b.htm", "http://list.example/c.htm"})
            QVERIFY(bytes.contains(url));
        QVERIFY(!bytes.contains("other.example"));
    } else if (suffix == QLatin1String("html")) {
        QVERIFY(bytes.startsWith("<!DOCTYPE html>"));
        QCOMPARE(bytes.count("<tr>"), 4);
        QVERIFY(bytes.contains("<th title=\"hit_count\">命中次数</th>"));
        QVERIFY(!bytes.contains("other.example"));
    } else {
        const QJsonArray rows = QJsonDocument::fromJson(bytes).array();
        QCOMPARE(rows.size(), 3);
        QStringList hits;
        for (const QJsonValue &row : rows)
            hits << QString::number(row.toObject().value(QStringLiteral("hit_count")).toInt());
        hits.sort();
        QCOMPARE(hits, (QStringList{"3", "30", "300"}));
    }
}

void TestEntryCommands::exportListOfSelectedRows_data()
{
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<bool>("offeredAll");
    QTest::addColumn<bool>("chooseAll");
    QTest::addColumn<QStringList>("written");
    const QStringList all{"a.htm", "b.htm", "c.htm"};
    QTest::newRow("two, as offered") << QList<int>{0, 2} << false << false << QStringList{"a.htm", "c.htm"};
    QTest::newRow("two, all chosen") << QList<int>{0, 2} << false << true << all;
    QTest::newRow("one, as offered") << QList<int>{1} << true << true << all;
    QTest::newRow("one, itself chosen") << QList<int>{1} << true << false << QStringList{"b.htm"};
    QTest::newRow("none") << QList<int>{} << true << true << all;
}

void TestEntryCommands::exportListOfSelectedRows()
{
    TestStore store;
    for (const char *name : {"a.htm", "b.htm", "c.htm"})
        store.add(std::string("http://sel.example/") + name, name, name);
    Fixture f(m_answerer);
    QVERIFY(f.open());
    QVERIFY(f.selectHost(QStringLiteral("[sel.example]")));
    QFETCH(QList<int>, selected);
    QFETCH(bool, offeredAll);
    QFETCH(bool, chooseAll);
    QFETCH(QStringList, written);
    f.p.select(selected);
    QTemporaryDir out;
    bool offered = !offeredAll;
    f.entries.setListFileDialog([&](const QString &, QString &, bool &all) {
        offered = all;
        all = chooseAll;
        return out.filePath("sel.json");
    });
    QSignalSpy shown(&f.entries, &EntryCommands::progressShown);
    QSignalSpy hidden(&f.entries, &EntryCommands::progressHidden);
    f.entries.exportList();
    QCOMPARE(offered, offeredAll);
    const QJsonArray rows = QJsonDocument::fromJson(ReadBytes(out.filePath("sel.json"))).array();
    QStringList urls;
    for (const QJsonValue &row : rows)
        urls << row.toObject().value(QStringLiteral("url")).toString().remove(QStringLiteral("http://sel.example/"));
    urls.sort();
    QCOMPARE(urls, written);
    QCOMPARE(m_boxes.size(), 1);
    QVERIFY2(m_boxes[0].startsWith(QStringLiteral("已导出%1项到：").arg(written.size())), qPrintable(m_boxes[0]));
    // The info window said what was going on and is gone again.
    QCOMPARE(shown.count(), 1);
    QCOMPARE(hidden.count(), 1);
}

void TestEntryCommands::exportListCancelledWritesNothing()
{
    TestStore store;
    store.add("http://c.example/a.htm", "a.htm", "a");
    Fixture f(m_answerer);
    QVERIFY(f.open());
    QVERIFY(f.selectHost(QStringLiteral("[c.example]")));
    QTemporaryDir out;
    int asked = 0;
    f.entries.setListFileDialog([&](const QString &, QString &, bool &) {
        ++asked;
        return QString();
    });
    f.entries.exportList();
    QCOMPARE(asked, 1);
    QVERIFY(sortedFiles(out.path()).isEmpty());
    // A file that cannot be written (its folder is missing): one box that says which and why.
    f.entries.setListFileDialog(
        [&](const QString &, QString &, bool &) { return out.filePath(QStringLiteral("missing/folder/list.csv")); });
    f.entries.exportList();
    QCOMPARE(m_boxes.size(), 1);
    QVERIFY2(m_boxes[0].startsWith(QStringLiteral("无法写入列表文件：文件或文件夹不存在。\n")), qPrintable(m_boxes[0]));
    QVERIFY(m_boxes[0].contains(QStringLiteral("missing/folder/list.csv")));
    QVERIFY(sortedFiles(out.path()).isEmpty());
}

void TestEntryCommands::exportDocumentsWithManifest()
{
    TestStore store;
    store.add("http://docs.example/a/index.htm", "index.htm", "first page");
    store.add("http://docs.example/b/index.htm", "index[1].htm", "second page");
    store.add("http://docs.example/c.htm", "c.htm", "third");
    Fixture f(m_answerer);
    QVERIFY(f.open());
    QVERIFY(f.selectHost(QStringLiteral("[docs.example]")));
    QTemporaryDir out;
    const QString folder = out.filePath(QStringLiteral("导出"));
    int offeredCount = 0;
    f.entries.setDocumentsDialog([&](int count, const QString &) {
        offeredCount = count;
        return std::optional<ExportDocumentsChoice>({folder, true});
    });
    f.p.select({f.rowOf("http://docs.example/a/index.htm"), f.rowOf("http://docs.example/b/index.htm")});
    f.entries.exportDocuments();
    QCOMPARE(offeredCount, 2);
    QVERIFY2(m_boxes.filter(QRegularExpression(QStringLiteral("^(?!已导出)"))).isEmpty(),
             qPrintable(m_boxes.join('\n')));
    QCOMPARE(sortedFiles(folder), (QStringList{"index (2).htm", "index.htm", "manifest.csv"}));
    QCOMPARE(ReadBytes(folder + "/index.htm") + ReadBytes(folder + "/index (2).htm"),
             QByteArray("first pagesecond page"));
    const QByteArray manifest = ReadBytes(folder + "/manifest.csv");
    QVERIFY(manifest.contains("exported_file"));
    QVERIFY(manifest.contains("index (2).htm"));
    // Again into the same folder: nothing is replaced.
    f.entries.setDocumentsDialog([&](int, const QString &) {
        return std::optional<ExportDocumentsChoice>({folder, false});
    });
    f.entries.exportDocuments();
    QCOMPARE(sortedFiles(folder).size(), 5);
    QCOMPARE(ReadBytes(folder + "/index.htm"), QByteArray("first page"));
    // A cancelled dialog exports nothing.
    f.entries.setDocumentsDialog([&](int, const QString &) { return std::optional<ExportDocumentsChoice>(); });
    f.entries.exportDocuments();
    QCOMPARE(sortedFiles(folder).size(), 5);
    QCOMPARE(m_boxes.size(), 2); // the two exports that went said their counts; the cancelled one nothing
}

void TestEntryCommands::exportArchiveOfTheList()
{
    TestStore store;
    store.add("http://arc.example/a.htm", "a.htm", "first page");
    store.add("http://arc.example/b.htm", "b.htm", "second page");
    store.add("http://arc.example/gone.htm", "gone.htm", "gone soon");
    Fixture f(m_answerer);
    QVERIFY(f.open());
    QVERIFY(f.selectHost(QStringLiteral("[arc.example]")));
    QVERIFY(QFile::remove(QString::fromStdString(store.path("gone.htm"))));
    QTemporaryDir out;
    f.entries.setArchiveFileDialog([&](const QString &) { return out.filePath(QStringLiteral("arc")); });
    // No row selected: the whole list goes into the archive, written by a thread of its own.
    f.entries.exportWarc();
    const QString file = out.filePath(QStringLiteral("arc.warc.gz"));
    QProcess gunzip;
    gunzip.start(QStringLiteral("gzip"), {QStringLiteral("-dc"), file});
    QVERIFY(gunzip.waitForFinished());
    QCOMPARE(gunzip.exitCode(), 0);
    const QByteArray warc = gunzip.readAllStandardOutput();
    QCOMPARE(warc.count("WARC/1.1\r\n"), 3); // warcinfo and the two documents still there
    QVERIFY(warc.contains("second page"));
    QCOMPARE(m_boxes.size(), 1);
    QVERIFY(m_boxes.front().startsWith(QStringLiteral("网页存档已写入，其中有1个文档未能写入：")));
    QVERIFY(m_boxes.front().contains(QStringLiteral("http://arc.example/gone.htm")));
}

void TestEntryCommands::exportDocumentsReportsFailuresInOneBox()
{
    TestStore store;
    for (int i = 0; i < 40; ++i)
        store.add("http://fail.example/" + std::to_string(i) + ".htm", std::to_string(i) + ".htm", "body");
    Fixture f(m_answerer);
    QVERIFY(f.open());
    QVERIFY(f.selectHost(QStringLiteral("[fail.example]")));
    // 35 documents vanish after the list showed them.
    for (int i = 0; i < 35; ++i)
        QFile::remove(QString::fromStdString(store.path(std::to_string(i) + ".htm")));
    QTemporaryDir out;
    f.entries.setDocumentsDialog([&](int, const QString &) {
        return std::optional<ExportDocumentsChoice>({out.path(), false});
    });
    f.p.lister->selectAllRows();
    f.entries.exportDocuments();
    QCOMPARE(sortedFiles(out.path()).size(), 5);
    QCOMPARE(m_boxes.size(), 1);
    const QString box = m_boxes[0];
    QVERIFY(box.startsWith(QStringLiteral("有35个文档未能导出：")));
    QVERIFY(box.contains(QStringLiteral("http://fail.example/0.htm\n")));
    QCOMPARE(box.count(QStringLiteral("http://fail.example/")), 30);
    QVERIFY(box.endsWith(QStringLiteral("……另有5个。")));
}

void TestEntryCommands::exportDocumentsIntoTheCacheIsRefused()
{
    QTemporaryDir storeDir;
    StoreWriterEntry page;
    page.url = "http://in.example/a.htm";
    page.content = "a";
    WriteTestStore(storeDir.path(), {page});
    SetUrlCacheStore(OpenStore(storeDir.path().toStdString()));
    const QStringList before = FilesBelow(storeDir.path());
    Fixture f(m_answerer);
    QVERIFY(f.open());
    QVERIFY(f.selectHost(QStringLiteral("[in.example]")));
    f.focusRow(0);
    f.entries.setDocumentsDialog([&](int, const QString &) {
        return std::optional<ExportDocumentsChoice>({storeDir.filePath(QStringLiteral("out")), true});
    });
    f.entries.exportDocuments();
    QCOMPARE(m_boxes.size(), 1);
    QVERIFY(m_boxes[0].startsWith(QStringLiteral("导出未能完成：\n")));
    QCOMPARE(FilesBelow(storeDir.path()), before);
}

void TestEntryCommands::exportDocumentsDialog()
{
    ExportDocumentsDialog dialog(3, QStringLiteral("/home/user/缓存文档"));
    auto *ok = dialog.findChild<QPushButton *>(QStringLiteral("ok"));
    QVERIFY(ok->isEnabled());
    QVERIFY(!dialog.manifestBox()->isChecked());
    dialog.folderField()->setText(QStringLiteral("  "));
    QVERIFY(!ok->isEnabled());
    dialog.folderField()->setText(QStringLiteral("/tmp/out "));
    dialog.manifestBox()->setChecked(true);
    QCOMPARE(dialog.choice().folder, QStringLiteral("/tmp/out"));
    QVERIFY(dialog.choice().manifest);
    for (QLabel *label : dialog.findChildren<QLabel *>())
        QCOMPARE(label->textFormat(), Qt::PlainText);
}

void TestEntryCommands::exportReport_data()
{
    QTest::addColumn<QList<int>>("written"); // 1 written, 0 not, per document
    QTest::addColumn<bool>("stopped");
    QTest::addColumn<int>("reached");
    QTest::addColumn<int>("folderProblem"); // ExportFolderProblem
    QTest::addColumn<QString>("manifestError");
    QTest::addColumn<QString>("report");
    const int none = int(ExportFolderProblem::None);
    QTest::newRow("all written") << QList<int>{1, 1, 1} << false << 3 << none << ""
                                 << "已导出3个文档。";
    QTest::newRow("one failed") << QList<int>{1, 0, 1} << false << 3 << none << ""
                                << "有1个文档未能导出：\nhttp://r.example/1.htm\n    文件或文件夹不存在";
    // The documents after the stop are counted, not listed as failures.
    QTest::newRow("stopped") << QList<int>{1, 0, 0, 0} << true << 2 << none << ""
                             << "导出已取消，已写入1个文档，共4个。\n有1个文档未能导出：\n"
                                "http://r.example/1.htm\n    文件或文件夹不存在";
    QTest::newRow("manifest") << QList<int>{1} << false << 1 << none << "disk full"
                              << "清单文件未能写入：磁盘已满。";
    QTest::newRow("folder") << QList<int>{1, 0} << false << 2 << int(ExportFolderProblem::Unwritable) << ""
                            << "导出未能完成：\n/x\n无法写入这个文件夹：没有权限\n已写入1个文档，共2个。";
    QTest::newRow("inside the cache") << QList<int>{0} << false << 1 << int(ExportFolderProblem::InsideCache) << ""
                                      << "导出未能完成：\n/x\n这个文件夹在缓存自己的文件夹里，不能写入缓存\n"
                                         "已写入0个文档，共1个。";
}

void TestEntryCommands::exportReport()
{
    QFETCH(QList<int>, written);
    QFETCH(bool, stopped);
    QFETCH(int, reached);
    QFETCH(int, folderProblem);
    QFETCH(QString, manifestError);
    QFETCH(QString, report);
    std::vector<std::string> urls;
    for (int i = 0; i < written.size(); ++i)
        urls.push_back("http://r.example/" + std::to_string(i) + ".htm");
    std::vector<INTERNET_CACHE_ENTRY_INFOA> headers(urls.size());
    std::vector<EntryRow> rows;
    DocumentExportResult result;
    for (std::size_t i = 0; i < urls.size(); ++i) {
        headers[i] = {};
        headers[i].lpszSourceUrlName = urls[i].data();
        rows.push_back({&headers[i], &headers[i], nullptr});
        ExportedDocument d;
        d.written = written[qsizetype(i)] != 0;
        d.fileName = d.written ? QString::number(i) : QString();
        d.problem = d.written ? QString() : QStringLiteral("problem %1").arg(i);
        d.cause = d.written ? StoreError::None : StoreError::NotFound;
        result.documents.push_back(d);
    }
    result.stopped = stopped;
    result.folderProblem = ExportFolderProblem(folderProblem);
    if (result.folderProblem != ExportFolderProblem::None) {
        result.error = QStringLiteral("/x: in English");
        result.folder = QStringLiteral("/x");
        result.folderCause = StoreError::Denied;
    }
    result.manifestError = manifestError;
    result.manifestCause = manifestError.isEmpty() ? StoreError::None : StoreError::DiskFull;
    QCOMPARE(DocumentExportReport(result, rows, std::size_t(reached)), report);
}

void TestEntryCommands::fixtureStores_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::newRow("wine-demo") << "wine-demo/Content.IE5";
    QTest::newRow("win7-content") << "win7-content";
    const QDir browsers(FixturesDir() + QStringLiteral("/browser-caches"));
    for (const QString &name : browsers.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
        QTest::newRow(qPrintable(name)) << QStringLiteral("browser-caches/") + name;
}

// Every real store: all columns painted, the details of a document, the list and the
// documents of a host exported, from a copy of the fixture.
void TestEntryCommands::fixtureStores()
{
    QFETCH(QString, fixture);
    QTemporaryDir copy;
    QVERIFY(CopyStoreFolder(FixturesDir() + QLatin1Char('/') + fixture, copy.path()));
    const auto store = OpenStore(copy.path().toStdString());
    QVERIFY2(store->kind() != StoreKind::None, store->describe().c_str());
    SetUrlCacheStore(store);
    Fixture f(m_answerer);
    QVERIFY(f.open());
    // The host with the most documents.
    QTreeWidgetItem *cache = f.p.node(CacheRoot);
    int mostRows = 0;
    QTreeWidgetItem *most = nullptr;
    for (int i = 0; i < cache->childCount(); ++i) {
        f.p.Tree->setCurrentItem(cache->child(i));
        if (f.p.lister->rowCount() > mostRows) {
            mostRows = f.p.lister->rowCount();
            most = cache->child(i);
        }
    }
    if (!most) { // an index copied without its content folders: nothing to list, nothing to export
        bool asked = false;
        f.entries.setListFileDialog([&](const QString &, QString &, bool &) {
            asked = true;
            return QString();
        });
        f.entries.exportList();
        QVERIFY(!asked);
        return;
    }
    f.p.Tree->setCurrentItem(most);
    ListColumns columns(f.p.lister->report()->header(), QString(), &f.p.host);
    ColumnLayout all = columns.layout();
    all.shown.assign(all.shown.size(), true);
    columns.applyLayout(all);
    f.p.lister->report()->grab();

    f.focusRow(0);
    f.entries.showEntryInfo();
    EntryInfoWindow *info = f.infoWindow();
    QVERIFY(info);
    const DocumentListModel *model = f.p.documents.model();
    QCOMPARE(info->valueText(QStringLiteral("url")),
             model->data(model->index(0, DocumentListModel::UrlColumn)).toString());
    QVERIFY(!info->valueText(QStringLiteral("cache_kind")).isEmpty());
    info->close();

    QTemporaryDir out;
    f.p.lister->selectionModel()->clearSelection();
    f.entries.setListFileDialog([&](const QString &, QString &, bool &) { return out.filePath("list.json"); });
    f.entries.exportList();
    const QJsonArray rows = QJsonDocument::fromJson(ReadBytes(out.filePath("list.json"))).array();
    QCOMPARE(rows.size(), qsizetype(mostRows));
    for (int row = 0; row < mostRows; ++row)
        QCOMPARE(rows[row].toObject().value(QStringLiteral("url")).toString(),
                 model->data(model->index(row, DocumentListModel::UrlColumn)).toString());

    const QString folder = out.filePath(QStringLiteral("documents"));
    f.entries.setDocumentsDialog([&](int, const QString &) {
        return std::optional<ExportDocumentsChoice>({folder, true});
    });
    f.p.lister->selectAllRows();
    f.entries.exportDocuments();
    // Each document written or named in the one box; the manifest beside them.
    const int written = int(sortedFiles(folder).size()) - 1;
    QVERIFY(QFile::exists(folder + QStringLiteral("/manifest.csv")));
    if (written < mostRows) {
        QCOMPARE(m_boxes.size(), 1);
        QVERIFY2(m_boxes[0].startsWith(QStringLiteral("有%1个文档未能导出").arg(mostRows - written)),
                 qPrintable(m_boxes[0]));
    } else {
        QVERIFY2(m_boxes.filter(QRegularExpression(QStringLiteral("^(?!已导出)"))).isEmpty(),
                 qPrintable(m_boxes.join('\n')));
    }
    QCOMPARE(FilesBelow(copy.path()).size(), FilesBelow(FixturesDir() + QLatin1Char('/') + fixture).size());
}

QTEST_MAIN(TestEntryCommands)
#include "tst_entrycommands.moc"
