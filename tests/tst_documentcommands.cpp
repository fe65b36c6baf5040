// The commands on the selected documents and the action update pass, through a real window.

#include "app/catalogueloader.h"
#include "app/documentcommands.h"
#include "app/documentlist.h"
#include "app/documentsaver.h"
#include "app/lister.h"
#include "app/mainwindow.h"
#include "app/treenodes.h"
#include "catalogue/documentlistmodel.h"
#include "platform/browser/browser.h"
#include "platform/offlinestate.h"
#include "platform/shell.h"
#include "rendering.h"
#include "support.h"
#include "windows/copydialog.h"
#include "windows/messagebox.h"
#include "windowsupport.h"

#include <QAction>
#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QMenu>
#include <QTreeWidget>
#include <QtTest>

class TestDocumentCommands : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void ensureTrailingSlash_data();
    void ensureTrailingSlash();
    void singleDocumentCommandsTakeLowestRow();
    void deleteRemovesEntriesEverywhere();
    void deleteLeavesNothingSelected();
    void declinedDeleteChangesNothing();
    void refusedDeleteIsReported_data();
    void refusedDeleteIsReported();
    void refusalNamesWhatTheStoreAnswers_data();
    void refusalNamesWhatTheStoreAnswers();
    void deleteAllFoundOrOfHost_data();
    void deleteAllFoundOrOfHost();
    void saveOneCopiesToExactPath();
    void saveSeveralCopiesIntoFolder();
    void saveCancelledCopiesNothing();
    void enabledTable();
    void offlineShowsRealState();

private:
    // A window showing host "h.net" with five documents a..e (in file-name order).
    struct Fixture {
        TestStore store;
        QTemporaryDir appDir;
        std::unique_ptr<Tfrm_cache> frm_cache;
        std::unique_ptr<WindowParts> window;
        Fixture()
        {
            for (const char *name : {"e", "c", "a", "d", "b"})
                store.add(std::string("http://h.net/") + name + ".htm", std::string(name) + ".htm",
                          std::string("content of ") + name);
            store.add("http://other.net/o.htm", "o.htm", "other");
            frm_cache = std::make_unique<Tfrm_cache>(appDir.path());
            window = std::make_unique<WindowParts>(*frm_cache);
            window->loader->LoadCatalogue(false);
            window->Tree->setCurrentItem(window->TreeNode(CacheRoot + 1));
        }
        void select(std::initializer_list<int> rows) { SelectRows(*frm_cache, rows); }
        QString fileAt(int row) const
        {
            return QString::fromUtf8(LocalFileName(window->state.view_list[std::size_t(row)]));
        }
    };

    QStringList m_boxes;
    int m_answer = IDYES;
};

void TestDocumentCommands::init()
{
    m_boxes.clear();
    m_answer = IDYES;
    SetMessageBoxResponder([this](const MessageBoxRequest &r) {
        m_boxes << r.text;
        return m_answer;
    });
}

void TestDocumentCommands::cleanup()
{
    SetMessageBoxResponder({});
    SetShellHandler({});
    SetReplaceQuestionResponder({});
}

void TestDocumentCommands::ensureTrailingSlash_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("folder") << "/keep"
                            << "/keep/";
    QTest::newRow("already") << "/keep/"
                             << "/keep/";
    QTest::newRow("empty") << ""
                           << "/";
    QTest::newRow("multi-byte last") << "/存"
                                     << "/存/";
}

void TestDocumentCommands::ensureTrailingSlash()
{
    QFETCH(QString, path);
    std::string text = path.toStdString();
    EnsureTrailingSlash(text);
    QTEST(QString::fromStdString(text), "expected");
}

void TestDocumentCommands::singleDocumentCommandsTakeLowestRow()
{
    Fixture f;
    QCOMPARE(f.window->state.view_list.size(), size_t(5));
    f.select({3, 1, 4});
    QList<ShellRequest> requests;
    SetShellHandler([&requests](const ShellRequest &r) {
        requests << r;
        return true;
    });
    f.window->commands->AOpenDocExecute();
    f.window->commands->ADocinfoExecute();
    f.window->commands->ACopyUrlExecute();
    QCOMPARE(requests.size(), 2);
    QCOMPARE(requests[0].kind, ShellRequest::Open);
    QCOMPARE(requests[0].path, f.fileAt(1));
    QCOMPARE(requests[1].kind, ShellRequest::ShowProperties);
    QCOMPARE(requests[1].path, f.fileAt(1));
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("http://h.net/b.htm"));

    // Without a selection the open reached by Enter or a double click does nothing.
    f.select({});
    f.window->commands->AOpenDocExecute();
    QCOMPARE(requests.size(), 2);
}

void TestDocumentCommands::deleteRemovesEntriesEverywhere()
{
    Fixture f;
    CatalogueState &state = f.window->state;
    // b and d are also in the collect box and the search station.
    for (int row : {1, 3})
        state.collect_list.push_back(MakeHeaderCopy(state.view_list[std::size_t(row)]));
    for (const auto &entry : state.cache_list)
        state.search_list.push_back(entry);
    const QString b = f.fileAt(1), d = f.fileAt(3);
    f.select({1, 3});
    f.window->ADeleteDoc->setEnabled(true);
    f.window->ADeleteDoc->trigger();

    QCOMPARE(m_boxes, QStringList{QStringLiteral("确实要删除选定的缓存文档吗？")});
    QCOMPARE(state.view_list.size(), size_t(3));
    QCOMPARE(f.window->lister->rowCount(), 3);
    QStringList names;
    for (const auto &record : state.view_list)
        names << QString::fromUtf8(SourceUrl(record));
    QCOMPARE(names, (QStringList{"http://h.net/a.htm", "http://h.net/c.htm", "http://h.net/e.htm"}));
    QCOMPARE(f.window->StatusText(1), QStringLiteral("文档共3项"));
    QVERIFY(!QFile::exists(b));
    QVERIFY(!QFile::exists(d));
    QCOMPARE(f.store.store().listing().entries.size(), size_t(4)); // gone from the store itself
    QCOMPARE(state.cache_list.size(), size_t(4));
    QCOMPARE(state.search_list.size(), size_t(4));
    QVERIFY(state.collect_list.empty());
    QCOMPARE(f.window->TreeNode(SearchRoot)->text(0), QStringLiteral("搜索站(4)"));
    QCOMPARE(f.window->TreeNode(CollectRoot)->text(0), QStringLiteral("采集盒"));
}

void TestDocumentCommands::deleteLeavesNothingSelected()
{
    Fixture f;
    f.frm_cache->show();
    f.frm_cache->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(f.frm_cache.get()));
    QCoreApplication::processEvents(); // the first showing's load
    f.window->Tree->setCurrentItem(f.window->TreeNode(CacheRoot + 1));
    QCOMPARE(f.window->lister->rowCount(), 5);
    f.select({1, 3});
    QTRY_VERIFY(RowsPaintedSelected(f.window->lister->report()) > 0);
    f.window->ActionList1Update();
    QVERIFY(f.window->ADeleteDoc->isEnabled());
    f.window->lister->setFocus();
    QTest::keyClick(f.window->lister->report(), Qt::Key_Delete);
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(f.window->state.view_list.size(), size_t(3));

    // The rows that moved up into the deleted rows' places were never chosen.
    QVERIFY(f.window->lister->selectedRows().isEmpty());
    QCOMPARE(RowsPaintedSelected(f.window->lister->report()), 0);
    QCOMPARE(f.window->lister->selectionModel()->currentIndex().row(), 1); // the focus stays put
    f.window->ActionList1Update();
    QVERIFY(!f.window->ADeleteDoc->isEnabled());
    // Del, then Enter on the question that would follow, deletes nothing more.
    QTest::keyClick(f.window->lister->report(), Qt::Key_Delete);
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(f.store.store().listing().entries.size(), size_t(4));
}

void TestDocumentCommands::declinedDeleteChangesNothing()
{
    Fixture f;
    f.select({0, 2});
    m_answer = IDNO;
    f.window->commands->ADeleteDocExecute();
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(f.window->state.view_list.size(), size_t(5));
    QCOMPARE(f.window->lister->selectedRows(), (QList<int>{0, 2}));
    QCOMPARE(f.store.store().listing().entries.size(), size_t(6));
    QVERIFY(QFile::exists(f.fileAt(0)));
}

namespace {

// A store of a given kind that answers who holds it and whether it is only ever read.
class AnsweredStore : public MemoryStore {
public:
    AnsweredStore(StoreKind kind, std::string folder, StoreHolder holder, bool readOnly)
        : MemoryStore(std::move(folder)), m_kind(kind), m_holder(holder), m_readOnly(readOnly)
    {}
    StoreKind kind() const override { return m_kind; }
    StoreHolder holder() const override { return m_holder; }
    bool readOnly() const override { return m_readOnly; }

private:
    StoreKind m_kind;
    StoreHolder m_holder;
    bool m_readOnly;
};

} // namespace

void TestDocumentCommands::refusalNamesWhatTheStoreAnswers_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("wine");
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<QString>("said");
    QTest::newRow("busy: the browser the folder names")
        << int(StoreError::Busy) << "chromium-simple"
        << "/h/.cache/google-chrome-beta/Default/Cache/Cache_Data" << false << false
        << "Chrome Beta 正在使用这个缓存，请先关闭 Chrome Beta。";
    QTest::newRow("busy: the programs of a Wine prefix") << int(StoreError::Busy) << "wininet"
                                                         << "/h/.wine/Content.IE5" << true << false << "Wine程序";
    QTest::newRow("read only: the whole kind") << int(StoreError::ReadOnly) << "chromium-blockfile"
                                               << "/c" << false << true << "Chromium（块文件缓存）只能读取";
    QTest::newRow("read only: an old version") << int(StoreError::ReadOnly) << "wininet"
                                               << "/c" << true << false << "旧版本";
}

void TestDocumentCommands::refusalNamesWhatTheStoreAnswers()
{
    QFETCH(int, error);
    QFETCH(QString, kind);
    QFETCH(QString, folder);
    QFETCH(bool, wine);
    QFETCH(bool, readOnly);
    QFETCH(QString, said);
    const AnsweredStore store(StoreKindFromId(kind.toStdString()), folder.toStdString(),
                              wine ? StoreHolder::WinePrograms : StoreHolder::Browser, readOnly);
    const QString text = DeleteFailureText(StoreError(error), &store);
    QVERIFY2(text.contains(said), qPrintable(text));
}

void TestDocumentCommands::refusedDeleteIsReported_data()
{
    QTest::addColumn<uint>("error");
    QTest::addColumn<int>("rowsLeft");
    QTest::addColumn<int>("boxes");
    // In use elsewhere: the entries stay in the cache, so their rows stay in the list.
    QTest::newRow("refused") << uint(StoreError::Busy) << 5 << 2;
    // Removed by another deleter first: as good as deleted, and nothing to report.
    QTest::newRow("already gone") << uint(StoreError::NotFound) << 3 << 1;
    QTest::newRow("full disk") << uint(StoreError::DiskFull) << 5 << 2;
}

void TestDocumentCommands::refusedDeleteIsReported()
{
    QFETCH(uint, error);
    QFETCH(int, rowsLeft);
    QFETCH(int, boxes);
    class AnsweringStore : public MemoryStore {
    public:
        explicit AnsweringStore(StoreError error) : m_error(error) {}
        StoreResult remove(std::string_view) override { return StoreResult::failure(m_error, "the browser is busy"); }

    private:
        StoreError m_error;
    };
    Fixture f;
    auto store = std::make_shared<AnsweringStore>(StoreError(error));
    store->listing() = f.store.store().listing();
    SetUrlCacheStore(store);
    f.select({0, 2});
    f.window->commands->ADeleteDocExecute();
    QCOMPARE(m_boxes.size(), boxes);
    if (boxes > 1) // in the user's words only: the store's own go to the log
        QCOMPARE(m_boxes[1], QStringLiteral("有2个缓存文档未能删除：") + DeleteFailureText(StoreError(error)));
    QCOMPARE(f.window->state.view_list.size(), size_t(rowsLeft));
    QCOMPARE(f.window->lister->rowCount(), rowsLeft);
}

void TestDocumentCommands::deleteAllFoundOrOfHost_data()
{
    QTest::addColumn<QString>("node");      // the tree node whose popup menu is used
    QTest::addColumn<int>("answer");        // to the question
    QTest::addColumn<QStringList>("asked"); // the file names of the entries the question counts
    QTest::addColumn<QStringList>("gone");  // and of those that go
    const QStringList host{"a.htm", "b.htm", "c.htm", "d.htm", "e.htm"};
    // The station holds b, d and other.net's o.
    QTest::newRow("station") << "station" << IDYES << QStringList{"b.htm", "d.htm", "o.htm"}
                             << QStringList{"b.htm", "d.htm", "o.htm"};
    QTest::newRow("host") << "host" << IDYES << host << host;
    QTest::newRow("host, declined") << "host" << IDNO << host << QStringList();
}

void TestDocumentCommands::deleteAllFoundOrOfHost()
{
    QFETCH(QString, node);
    QFETCH(int, answer);
    QFETCH(QStringList, asked);
    QFETCH(QStringList, gone);
    Fixture f;
    f.frm_cache->show(); // the menu follows the node under the pointer
    QVERIFY(QTest::qWaitForWindowExposed(f.frm_cache.get()));
    QCoreApplication::processEvents(); // the first showing's load
    CatalogueState &state = f.window->state;
    const auto nameOf = [](const CatalogueEntry &e) {
        return QFileInfo(QString::fromUtf8(LocalFileName(e))).fileName();
    };
    std::uint64_t bytes = 0, freed = 0;
    for (const auto &entry : state.cache_list) {
        if (QStringList{"b.htm", "d.htm", "o.htm"}.contains(nameOf(entry)))
            state.search_list.push_back(entry);
        bytes += asked.contains(nameOf(entry)) ? EntrySize(EntryHeader(entry)) : 0;
        freed += gone.contains(nameOf(entry)) ? EntrySize(EntryHeader(entry)) : 0;
    }
    m_answer = answer;

    // The popup menu of the node offers the delete that fits it, and only that one.
    QTreeWidgetItem *item = f.window->TreeNode(node == QLatin1String("station") ? SearchRoot : CacheRoot + 1);
    f.window->Tree->scrollToItem(item);
    emit f.window->Tree->customContextMenuRequested(f.window->Tree->visualItemRect(item).center());
    auto *found = f.window->Pop_tree->findChild<QAction *>(QStringLiteral("Pop_deleteFound"));
    auto *host = f.window->Pop_tree->findChild<QAction *>(QStringLiteral("Pop_deleteHost"));
    QVERIFY(found && host);
    QCOMPARE(found->isVisible(), node == QLatin1String("station"));
    QCOMPARE(host->isVisible(), node == QLatin1String("host"));
    QCOMPARE(found->text(), QStringLiteral("删除全部找到的文档(3项)..."));
    f.window->Pop_tree->hide();
    (node == QLatin1String("station") ? found : host)->trigger();

    QCOMPARE(m_boxes.value(0),
             QStringLiteral("将删除%1个缓存文档，共%2 字节，来自1个缓存。确实要删除吗？").arg(asked.size()).arg(bytes));
    QCOMPARE(m_boxes.size(), answer == IDYES ? 2 : 1);
    if (answer == IDYES)
        QCOMPARE(m_boxes[1], QStringLiteral("已删除%1项，释放%2 字节").arg(gone.size()).arg(freed));
    QCOMPARE(f.store.store().listing().entries.size(), std::size_t(6 - gone.size()));
    QCOMPARE(state.cache_list.size(), std::size_t(6 - gone.size()));
    for (const auto &entry : state.cache_list)
        QVERIFY(!gone.contains(nameOf(entry)));
    for (const QString &name : gone)
        QVERIFY(!QFile::exists(f.store.folder() + QLatin1Char('/') + name));
    if (node == QLatin1String("station") && answer == IDYES)
        QCOMPARE(f.window->TreeNode(SearchRoot)->text(0), QStringLiteral("搜索站")); // emptied
}

void TestDocumentCommands::saveOneCopiesToExactPath()
{
    Fixture f;
    QTemporaryDir target;
    f.select({2, 4});
    f.select({2});
    QString proposed;
    f.window->saver->setSaveDialog([&](const QString &p) {
        proposed = p;
        return target.filePath("page.htm");
    });
    f.window->ASaveDocas->setEnabled(true);
    f.window->ASaveDocas->trigger();
    QCOMPARE(proposed, QStringLiteral("c.htm"));
    QFile copy(target.filePath("page.htm"));
    QVERIFY(copy.open(QIODevice::ReadOnly));
    QCOMPARE(copy.readAll(), QByteArray("content of c"));
    QCOMPARE(QDir(target.path()).entryList(QDir::Files).size(), 1);
}

void TestDocumentCommands::saveSeveralCopiesIntoFolder()
{
    Fixture f;
    QTemporaryDir target;
    f.select({0, 4});
    QString proposed;
    f.window->saver->setSaveDialog([&](const QString &p) {
        proposed = p;
        return target.filePath("anything");
    });
    f.window->commands->ASaveDocasExecute();
    QCOMPARE(proposed, QStringLiteral("多个文件"));
    QCOMPARE(QDir(target.path()).entryList(QDir::Files), (QStringList{"a.htm", "e.htm"}));
    QFile e(target.filePath("e.htm"));
    QVERIFY(e.open(QIODevice::ReadOnly));
    QCOMPARE(e.readAll(), QByteArray("content of e"));
}

void TestDocumentCommands::saveCancelledCopiesNothing()
{
    Fixture f;
    f.select({0});
    int asked = 0;
    f.window->saver->setSaveDialog([&](const QString &) {
        ++asked;
        return QString();
    });
    f.window->commands->ASaveDocasExecute();
    QCOMPARE(asked, 1);
    QVERIFY(m_boxes.isEmpty());
}

void TestDocumentCommands::enabledTable()
{
    Fixture f;
    WindowParts &w = *f.window;
    auto enabled = [&w](std::initializer_list<QAction *> actions) {
        QString on;
        for (QAction *a : actions)
            on += a->isEnabled() ? '1' : '0';
        return on;
    };
    const auto all = {w.ADocinfo,         w.AOpenDoc,           w.ADeleteDoc, w.ASaveDocas,      w.ACopyUrl,
                      w.ASaveWebas,       w.ASendtoBox,         w.ASelectAll, w.AInternetOption, w.ARemoveCollectDoc,
                      w.AClearCollectDoc, w.ASaveAllCollectDoc, w.AFindInWeb};

    // A host shown, nothing selected, nothing previewed in the browser, empty collect box.
    w.ActionList1Update();
    QCOMPARE(enabled(all), QStringLiteral("0000000100000"));
    f.select({1});
    w.ActionList1Update();
    QCOMPARE(enabled(all), QStringLiteral("1111101100000"));
    w.Web1->setVisibleFlag(true);
    w.ActionList1Update();
    QCOMPARE(enabled(all), QStringLiteral("1111111100000")); // save web page; find needs a document too

    // The collect box shown with one document selected.
    w.state.collect_list.push_back(MakeHeaderCopy(w.state.view_list[0]));
    w.Tree->setCurrentItem(w.TreeNode(CollectRoot));
    QCOMPARE(w.lister->rowCount(), 1);
    f.select({0});
    w.ActionList1Update();
    QCOMPARE(enabled({w.ASendtoBox, w.ARemoveCollectDoc, w.AClearCollectDoc, w.ASaveAllCollectDoc}),
             QStringLiteral("0111"));

    // An empty collect box disables clearing and saving whatever node is shown.
    w.state.collect_list.clear();
    w.Tree->setCurrentItem(w.TreeNode(CacheRoot + 1));
    w.ActionList1Update();
    QCOMPARE(enabled({w.AClearCollectDoc, w.ASaveAllCollectDoc}), QStringLiteral("00"));
}

void TestDocumentCommands::offlineShowsRealState()
{
    QTemporaryDir dir;
    // A state file under a plain file can never be written: the platform refuses the change.
    QFile blocker(dir.filePath("file"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    UseOfflineStateFile(dir.filePath("file/offline").toStdString());
    Fixture f;
    f.window->Aoffline->trigger();
    QVERIFY(f.window->Aoffline->isChecked()); // the toggle itself
    f.window->ActionList1Update();
    QVERIFY(!f.window->Aoffline->isChecked()); // the platform's real state

    UseOfflineStateFile(dir.filePath("offline").toStdString());
    f.window->Aoffline->trigger();
    f.window->ActionList1Update();
    QVERIFY(f.window->Aoffline->isChecked());
    QVERIFY(IsOffline());
    f.window->Aoffline->trigger();
    f.window->ActionList1Update();
    QVERIFY(!IsOffline());
}

QTEST_MAIN(TestDocumentCommands)
#include "tst_documentcommands.moc"
