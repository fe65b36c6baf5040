// The road a user walks, through the program as it starts: a store written for the test,
// a host, a preview, the collect box, a full-text search, saving, deleting, the preview
// toggle, and the settings across a restart.

#include "answering.h"
#include "app/catalogueloader.h"
#include "app/documentlist.h"
#include "app/documentsaver.h"
#include "app/findform.h"
#include "app/lister.h"
#include "app/mainwindow.h"
#include "app/startup.h"
#include "app/storechooser.h"
#include "app/treenodes.h"
#include "catalogue/documentlistmodel.h"
#include "collections/search.h"
#include "platform/browser/browser.h"
#include "stores/bodies.h"
#include "stores/storeregistry.h"
#include "support.h"
#include "tools/writers/chromiumwriter.h"
#include "tools/writers/firefoxwriter.h"
#include "tools/writers/indexdatwriter.h"
#include "windows/copydialog.h"
#include "windowsupport.h"

#include <QAction>
#include <QApplication>
#include <QItemSelectionModel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

class TestEndToEnd : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void walkTheRoad();
    void browserCaches_data();
    void browserCaches();

private:
    QTemporaryDir m_store;
    QTemporaryDir m_bodies;
    QTemporaryDir m_appDir;
    QStringList m_boxes;
    ScriptedAnswerer m_answerer;
};

namespace {

void waitForLoad(Tfrm_cache &window)
{
    QTRY_VERIFY_WITH_TIMEOUT(window.state().tree_ready && !window.loader().isLoading(), 10000);
}

int rowOf(const WindowParts &window, const char *url)
{
    const ViewList &view = window.state.view_list;
    for (std::size_t i = 0; i < view.size(); ++i)
        if (QByteArray(SourceUrl(view[i])) == url)
            return int(i);
    return -1;
}

void selectRows(WindowParts &window, std::initializer_list<int> rows)
{
    QItemSelectionModel *selection = window.lister->selectionModel();
    selection->clearSelection();
    for (int row : rows) {
        const QModelIndex index = window.documents->model()->index(row, 0);
        selection->setCurrentIndex(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
}

} // namespace

void TestEndToEnd::initTestCase()
{
    std::vector<StoreWriterEntry> entries;
    auto add = [&entries](const char *url, const char *content) {
        StoreWriterEntry e;
        e.url = url;
        e.content = content;
        entries.push_back(e);
    };
    add("http://news.example.com/index.htm", "<html><body><p>harbour lighthouse</p></body></html>");
    add("http://news.example.com/notes.txt", "tide tables for the harbour\n");
    add("http://news.example.com/style.css", "body { color: navy }\n");
    add("http://news.example.com/old.htm", "<html>yesterday's paper</html>");
    add("http://shop.example.org/cart.js", "var cart = [];\n");
    const StoreWriteResult written = WriteTestStore(m_store.path(), entries);
    QVERIFY2(written.ok, written.error.c_str());
    qputenv("TIDEWRACK_URLCACHE", m_store.path().toUtf8());
    // Bodies written out of browser caches go here, not into the user's own folder.
    SetBodiesFolder(m_bodies.path().toStdString());
    m_answerer.reply = [this](const MessageBoxRequest &r) {
        m_boxes << r.text;
        return IDYES;
    };
}

void TestEndToEnd::cleanupTestCase()
{
    m_answerer.reply = {};
}

void TestEndToEnd::walkTheRoad()
{
    QRect placed;
    {
        auto window = StartTidewrack(m_appDir.path(), QString(), &m_answerer);
        WindowParts w(*window);
        QVERIFY(window->logoForm()); // the splash stands until the first load is done
        waitForLoad(*window);
        QVERIFY(!window->logoForm());
        QCOMPARE(w.StatusText(0), QStringLiteral("域名共2个"));

        // A host: its documents, sorted by file name.
        QTreeWidgetItem *news = w.TreeNode(CacheRoot + 1);
        QCOMPARE(news->text(0), QStringLiteral("[news.example.com]"));
        w.Tree->setCurrentItem(news);
        QCOMPARE(w.StatusText(1), QStringLiteral("文档共4项"));

        // A row: its URL in panel 2 and its text in the viewer.
        selectRows(w, {rowOf(w, "http://news.example.com/notes.txt")});
        QCOMPARE(w.StatusText(2), QStringLiteral("http://news.example.com/notes.txt"));
        QCOMPARE(w.editor->toPlainText(), QStringLiteral("tide tables for the harbour\n"));
        QVERIFY(!w.Web1->Visible());

        // Two rows into the collect box.
        const int index = rowOf(w, "http://news.example.com/index.htm");
        const int style = rowOf(w, "http://news.example.com/style.css");
        selectRows(w, {index, style});
        w.ActionList1Update();
        w.ASendtoBox->trigger();
        QCOMPARE(w.TreeNode(CollectRoot)->text(0), QStringLiteral("采集盒(2)"));

        // A full-text search through the dialog, then to the search station.
        QTimer::singleShot(0, &w.window, [&w] {
            SearchCriteria criteria;
            criteria.field = SearchField::FullText;
            criteria.text = QStringLiteral("HARBOUR");
            w.frm_find->setCriteria(criteria);
            w.frm_find->findChild<QPushButton *>("btn_start")->click();
            w.frm_find->findChild<QPushButton *>("btn_go")->click();
        });
        w.AFind->trigger();
        QCOMPARE(w.Tree->currentItem(), w.TreeNode(SearchRoot));
        QCOMPARE(w.TreeNode(SearchRoot)->text(0), QStringLiteral("搜索站(2)"));
        QCOMPARE(w.StatusText(1), QStringLiteral("文档共2项"));

        // Save the collected documents into a folder: the files arrive byte for byte.
        QTemporaryDir saved;
        w.saver->setSaveDialog([&saved](const QString &proposed) {
            return proposed == QStringLiteral("多个文件") ? saved.filePath("x") : QString();
        });
        w.ActionList1Update();
        w.ASaveAllCollectDoc->trigger();
        QCOMPARE(FilesBelow(saved.path()), (QStringList{"index[1].htm", "style[1].css"}));
        QCOMPARE(ReadBytes(saved.filePath("style[1].css")), QByteArray("body { color: navy }\n"));

        // Delete a row, answering the question with yes: gone from the store after a refresh.
        w.Tree->setCurrentItem(news);
        selectRows(w, {rowOf(w, "http://news.example.com/old.htm")});
        m_boxes.clear();
        w.ActionList1Update();
        w.ADeleteDoc->trigger();
        QCOMPARE(m_boxes, QStringList{QStringLiteral("确实要删除选定的缓存文档吗？")});
        QCOMPARE(w.StatusText(1), QStringLiteral("文档共3项"));
        w.ARefresh->trigger();
        waitForLoad(*window);
        w.Tree->setCurrentItem(w.TreeNode(CacheRoot + 1));
        QCOMPARE(w.StatusText(1), QStringLiteral("文档共3项"));
        QCOMPARE(rowOf(w, "http://news.example.com/old.htm"), -1);
        QVERIFY(StoreConsistency(m_store.filePath("index.dat")).empty());

        // F8 hides the preview pane, and the choice is kept.
        w.m_viewdoc->trigger();
        QVERIFY(!w.pnl_main->isVisible());
        window->setGeometry(150, 120, 800, 560);
        placed = window->geometry();
        window->close();
    }
    QCOMPARE(QFileInfo(m_appDir.filePath("tidewrack.inf")).size(), qint64(52));

    auto again = StartTidewrack(m_appDir.path(), QString(), &m_answerer);
    waitForLoad(*again);
    QCOMPARE(again->geometry(), placed);
    const WindowParts restarted(*again);
    QVERIFY(!restarted.m_viewdoc->isChecked());
    QVERIFY(!restarted.pnl_main->isVisible());
    again->close();
}

void TestEndToEnd::browserCaches_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("caption");
    QTest::newRow("firefox") << "firefox" << QStringLiteral("Firefox缓存");
    QTest::newRow("chromium") << "chromium" << QStringLiteral("Chromium缓存");
}

// The same road over a browser's cache our writers made, opened from the command line:
// compressed bodies previewed, searched, collected and saved decoded, an entry deleted from
// the browser's folder; then another cache chosen from the window, and remembered.
void TestEndToEnd::browserCaches()
{
    QFETCH(QString, kind);
    QFETCH(QString, caption);
    QTemporaryDir folder;
    std::vector<BrowserWriterEntry> entries;
    auto add = [&entries](const char *url, const char *type, const char *coding, const std::string &body) {
        BrowserWriterEntry e;
        e.url = url;
        e.contentType = type;
        e.contentEncoding = coding;
        e.body = body;
        entries.push_back(e);
    };
    add("https://news.example.com/", "text/html", "br", "<html><body><p>harbour lighthouse</p></body></html>");
    add("https://news.example.com/notes.txt", "text/plain", "gzip", "tide tables for the harbour\n");
    add("https://news.example.com/style.css", "text/css", "zstd", "body { color: navy }\n");
    add("https://news.example.com/old.htm", "text/html", "", "<html>yesterday's paper</html>");
    add("https://shop.example.org/cart.js", "application/javascript", "gzip", "var cart = [];\n");
    const std::string where = folder.filePath("cache").toStdString();
    const BrowserWriteResult written =
        kind == QLatin1String("firefox") ? WriteFirefoxStore(where, entries) : WriteChromiumSimpleStore(where, entries);
    QVERIFY2(written.ok, written.error.c_str());
    const QStringList storeFilesBefore = FilesBelow(QString::fromStdString(written.folder));
    QTemporaryDir appDir;

    auto window = StartTidewrack(appDir.path(), QString::fromStdString(written.folder), &m_answerer);
    WindowParts w(*window);
    waitForLoad(*window);
    QCOMPARE(w.TreeNode(CacheRoot)->text(0), caption);
    QCOMPARE(w.StatusText(0), QStringLiteral("域名共2个"));
    QTreeWidgetItem *news = w.TreeNode(CacheRoot + 1);
    QCOMPARE(news->text(0), QStringLiteral("[news.example.com]"));
    const QStringList bodiesBefore = FilesBelow(m_bodies.path());
    w.Tree->setCurrentItem(news);
    QCOMPARE(w.StatusText(1), QStringLiteral("文档共4项"));
    // Types and icons come from the planned names while the bodies are still in the cache.
    const QModelIndex styleType =
        w.documents->model()->index(rowOf(w, "https://news.example.com/style.css"), DocumentListModel::TypeColumn);
    QTRY_VERIFY(!styleType.data().toString().isEmpty());
    QCOMPARE(FilesBelow(m_bodies.path()), bodiesBefore);

    // The gzip body shows decoded in the text viewer.
    selectRows(w, {rowOf(w, "https://news.example.com/notes.txt")});
    QCOMPARE(w.editor->toPlainText(), QStringLiteral("tide tables for the harbour\n"));

    // A full-text search finds the word inside the br body of the page.
    QTimer::singleShot(0, &w.window, [&w] {
        SearchCriteria criteria;
        criteria.field = SearchField::FullText;
        criteria.text = QStringLiteral("LIGHTHOUSE");
        w.frm_find->setCriteria(criteria);
        w.frm_find->findChild<QPushButton *>("btn_start")->click();
        w.frm_find->findChild<QPushButton *>("btn_go")->click();
    });
    w.AFind->trigger();
    QCOMPARE(w.TreeNode(SearchRoot)->text(0), QStringLiteral("搜索站(1)"));

    // Collected and saved, the documents arrive decoded under names from their URLs.
    w.Tree->setCurrentItem(news);
    selectRows(w, {rowOf(w, "https://news.example.com/"), rowOf(w, "https://news.example.com/style.css")});
    w.ActionList1Update();
    w.ASendtoBox->trigger();
    QTemporaryDir saved;
    w.saver->setSaveDialog([&saved](const QString &) { return saved.filePath("x"); });
    w.ActionList1Update();
    w.ASaveAllCollectDoc->trigger();
    QCOMPARE(FilesBelow(saved.path()), (QStringList{"index.html", "style.css"}));
    QCOMPARE(ReadBytes(saved.filePath("style.css")), QByteArray("body { color: navy }\n"));

    // Deleted: its files leave the browser's folder, nothing else there changes.
    selectRows(w, {rowOf(w, "https://news.example.com/old.htm")});
    m_boxes.clear();
    w.ActionList1Update();
    w.ADeleteDoc->trigger();
    QCOMPARE(m_boxes, QStringList{QStringLiteral("确实要删除选定的缓存文档吗？")});
    w.ARefresh->trigger();
    waitForLoad(*window);
    w.Tree->setCurrentItem(w.TreeNode(CacheRoot + 1));
    QCOMPARE(rowOf(w, "https://news.example.com/old.htm"), -1);
    QCOMPARE(w.StatusText(1), QStringLiteral("文档共3项"));
    const QStringList storeFilesAfter = FilesBelow(QString::fromStdString(written.folder));
    QCOMPARE(storeFilesAfter.size(), storeFilesBefore.size() - 1);
    for (const QString &file : storeFilesAfter)
        QVERIFY(storeFilesBefore.contains(file));

    // Another cache, opened from the window beside the first: the WinInet store. The collect
    // box keeps its documents, and the two are what the next start opens.
    w.window.storeChooser().setFolderDialog([this] { return m_store.path(); });
    qunsetenv("TIDEWRACK_URLCACHE");
    w.window.storeChooser().openAction()->trigger();
    waitForLoad(*window);
    QCOMPARE(w.Tree->topLevelItemCount(), CacheRoot + 2);
    QVERIFY(w.TreeNode(CacheRoot)->text(0).startsWith(caption + QStringLiteral(" – ")));
    QVERIFY(w.Tree->topLevelItem(CacheRoot + 1)->text(0).startsWith(QStringLiteral("IE缓存 – ")));
    QCOMPARE(w.TreeNode(CollectRoot)->text(0), QStringLiteral("采集盒"));
    QCOMPARE(w.state.collect_list.size(), std::size_t(2));
    QCOMPARE(RememberedStoreSet(), (std::vector<std::string>{written.folder, m_store.path().toStdString()}));
    window->close();
    window.reset();

    auto again = StartTidewrack(appDir.path(), QString(), &m_answerer);
    waitForLoad(*again);
    const WindowParts shown(*again);
    QCOMPARE(shown.Tree->topLevelItemCount(), CacheRoot + 2);
    QVERIFY(shown.Tree->topLevelItem(CacheRoot + 1)->text(0).startsWith(QStringLiteral("IE缓存 – ")));
    again->close();
    qputenv("TIDEWRACK_URLCACHE", m_store.path().toUtf8());
}

int main(int argc, char *argv[])
{
    PrepareProcess();
    QStandardPaths::setTestModeEnabled(true); // keep the user's own configuration out of it
    QApplication app(argc, argv);
    TestEndToEnd test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_endtoend.moc"
