// The road a user walks, through the program as it starts: a store written for the test,
// a host, a preview, the collect box, a full-text search, saving, deleting, the preview
// toggle, and the settings across a restart.

#include "app/catalogueloader.h"
#include "app/documentcommands.h"
#include "app/documentlist.h"
#include "app/findform.h"
#include "app/lister.h"
#include "app/mainwindow.h"
#include "app/startup.h"
#include "catalogue/documentlistmodel.h"
#include "collections/search.h"
#include "platform/browser/browser.h"
#include "tools/writers/indexdatwriter.h"
#include "support.h"
#include "windows/copydialog.h"
#include "windows/messagebox.h"

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

private:
    QTemporaryDir m_store;
    QTemporaryDir m_appDir;
    QStringList m_boxes;
};

namespace {

void waitForLoad(Tfrm_cache &window)
{
    QTRY_VERIFY_WITH_TIMEOUT(window.state.tree_ready && !window.loader->isLoading(), 10000);
}

int rowOf(const Tfrm_cache &window, const char *url)
{
    const ViewList &view = window.state.view_list;
    for (std::size_t i = 0; i < view.size(); ++i)
        if (QByteArray(SourceUrl(view[i])) == url)
            return int(i);
    return -1;
}

void selectRows(Tfrm_cache &window, std::initializer_list<int> rows)
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
    SetMessageBoxResponder([this](const MessageBoxRequest &r) {
        m_boxes << r.text;
        return IDYES;
    });
}

void TestEndToEnd::cleanupTestCase()
{
    SetMessageBoxResponder({});
}

void TestEndToEnd::walkTheRoad()
{
    QRect placed;
    {
        auto window = StartTidewrack(m_appDir.path());
        Tfrm_cache &w = *window;
        QVERIFY(w.frm_logo); // the splash stands until the first load is done
        waitForLoad(w);
        QVERIFY(!w.frm_logo);
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
        QTimer::singleShot(0, &w, [&w] {
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
        w.commands->setSaveDialog([&saved](const QString &proposed) {
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
        waitForLoad(w);
        w.Tree->setCurrentItem(w.TreeNode(CacheRoot + 1));
        QCOMPARE(w.StatusText(1), QStringLiteral("文档共3项"));
        QCOMPARE(rowOf(w, "http://news.example.com/old.htm"), -1);
        QVERIFY(StoreConsistency(m_store.filePath("index.dat")).empty());

        // F8 hides the preview pane, and the choice is kept.
        w.m_viewdoc->trigger();
        QVERIFY(!w.pnl_main->isVisible());
        w.setGeometry(150, 120, 800, 560);
        placed = w.geometry();
        w.close();
    }
    QCOMPARE(QFileInfo(m_appDir.filePath("tidewrack.inf")).size(), qint64(52));

    auto again = StartTidewrack(m_appDir.path());
    waitForLoad(*again);
    QCOMPARE(again->geometry(), placed);
    QVERIFY(!again->m_viewdoc->isChecked());
    QVERIFY(!again->pnl_main->isVisible());
    again->close();
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
