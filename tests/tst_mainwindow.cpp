// The main window: its actions and where they are reached, loading the catalogue into the
// tree, and the settings file across a close and a new start.

#include "answering.h"
#include "app/catalogueloader.h"
#include "app/collectbox.h"
#include "app/documentlist.h"
#include "app/entrycommands.h"
#include "app/findform.h"
#include "app/lister.h"
#include "app/mainwindow.h"
#include "app/treenodes.h"
#include "catalogue/documentlistmodel.h"
#include "platform/browser/browser.h"
#include "platform/offlinestate.h"
#include "platform/shell.h"
#include "rendering.h"
#include "support.h"
#include "windows/entryinfowindow.h"
#include "windows/pictures.h"
#include "windowsupport.h"

#include <QAction>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <QTreeView>
#include <QTreeWidget>
#include <QtTest>

namespace {

QString caption(WindowParts &w, int column)
{
    return w.documents->model()->headerData(column, Qt::Horizontal).toString();
}

// Focuses and selects `row` of the window's list as a click would.
void FocusRow(WindowParts &w, int row)
{
    w.lister->selectionModel()->setCurrentIndex(w.documents->model()->index(row, 0),
                                                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void everyPlaceRunsTheSameAction();
    void shortcutsTriggerActions_data();
    void shortcutsTriggerActions();
    void sortMenuIsHidden();
    void loadBuildsTree();
    void loadOfEmptyCache();
    void refreshDuringLoadReadsAgain();
    void refreshDuringAFillLeavesTreeListAndPanelsAgreeing();
    void reloadLeavesOnlyTheRootSelected_data();
    void reloadLeavesOnlyTheRootSelected();
    void reloadKeepsCollectBox();
    void settingsSurviveRestart();
    void shortSettingsFileIsReportedOnce();
    void placementOffEveryScreenIsReplaced();
    void defaultPlacementCountsTheFrame();
    void pointingAtCommandsKeepsTheStatusPanels();
    void hostNodesShowTheWholeHostAsTip();
    void listTipsShowNamesAsTheyAre();
    // Each concern once through the whole window: its actions, menus and what it tells the others.
    void deleteThroughTheWindow();
    void treeMenuOffersTheFittingDelete_data();
    void treeMenuOffersTheFittingDelete();
    void enabledTable();
    void collectThroughTheWindow();
    void boxStopsWatchingBeforeTheWindowGoes();
    void viewStyleSwitch();
    void sortMenuItems();
    void findThroughTheWindow();
    void enterAndDoubleClickOpen();
    void altEnterAndMenuOpenTheFocusedDocument();
    void enabledWithSelectionAndRows();
    void offlineShowsRealState();

private:
    // A window showing host "h.net" with five documents a..e (in file-name order).
    struct HostWindow {
        TestStore store;
        QTemporaryDir appDir;
        std::unique_ptr<Tfrm_cache> frm_cache;
        std::unique_ptr<WindowParts> window;
        explicit HostWindow(Answerer &answerer)
        {
            for (const char *name : {"e", "c", "a", "d", "b"})
                store.add(std::string("http://h.net/") + name + ".htm", std::string(name) + ".htm",
                          std::string("content of ") + name);
            store.add("http://other.net/o.htm", "o.htm", "other");
            frm_cache = std::make_unique<Tfrm_cache>(appDir.path(), &answerer);
            window = std::make_unique<WindowParts>(*frm_cache);
            window->loader->LoadCatalogue(false);
            window->Tree->setCurrentItem(window->TreeNode(CacheRoot + 1));
        }
        void select(std::initializer_list<int> rows) { SelectRows(*frm_cache, rows); }
    };

    QStringList m_boxes;
    int m_answer = IDOK;
    ScriptedAnswerer m_answerer;
};

void TestMainWindow::init()
{
    m_boxes.clear();
    m_answer = IDOK;
    m_answerer.reply = [this](const MessageBoxRequest &r) {
        m_boxes << r.text;
        return m_answer;
    };
}

void TestMainWindow::cleanup()
{
    m_answerer.reply = {};
}

void TestMainWindow::everyPlaceRunsTheSameAction()
{
    QTemporaryDir dir;
    Tfrm_cache frm_cache(dir.path(), &m_answerer);
    WindowParts window(frm_cache);
    // Toolbar buttons show their short captions and are bound to the actions themselves.
    const std::pair<const char *, const char *> buttons[] = {
        {"ARefresh", "刷新"},   {"AOpenDoc", "打开"},   {"ADocinfo", "属性"},    {"ASaveDocas", "保存"},
        {"ADeleteDoc", "删除"}, {"ASendtoBox", "采集"}, {"ACopyUrl", "复制URL"}, {"AFind", "搜索"},
        {"Aoffline", "离线"},   {"AHelp", "关于"}};
    const auto toolButtons = window.ToolBar1->findChildren<QToolButton *>(QRegularExpression("^tb_"));
    QCOMPARE(toolButtons.size(), qsizetype(std::size(buttons)));
    for (const auto &[name, caption] : buttons) {
        auto *button = window.ToolBar1->findChild<QToolButton *>(QStringLiteral("tb_") + name);
        QVERIFY2(button, name);
        QCOMPARE(button->defaultAction(), frm_cache.actionNamed(name));
        QCOMPARE(button->text(), QString::fromUtf8(caption));
        QAction *action = frm_cache.actionNamed(name);
        action->setEnabled(!action->isEnabled());
        QCOMPARE(button->text(), QString::fromUtf8(caption)); // a state change keeps the caption
        action->setEnabled(!action->isEnabled());
    }
    auto *save = window.ToolBar1->findChild<QToolButton *>("tb_ASaveDocas");
    QCOMPARE(save->menu(), window.Pop_save);
    QVERIFY(frm_cache.actionNamed("Aoffline")->isCheckable());

    auto contains = [](QMenu *menu, QAction *action) { return menu->actions().contains(action); };
    QVERIFY(contains(window.Pop_list, window.ASendtoBox));
    QVERIFY(contains(window.Pop_list, window.ASaveWebas));
    QVERIFY(contains(window.Pop_tree, window.ARefresh));
    QVERIFY(contains(window.Pop_CollectBox, window.AClearCollectDoc));
    QCOMPARE(window.Pop_save->actions(), (QList<QAction *>{window.ASaveDocas, window.ASaveWebas}));

    // A menu item triggers the very action the toolbar and the shortcut trigger.
    QSignalSpy spy(window.ARefresh, &QAction::triggered);
    QMenu *file = frm_cache.menuBar()->actions().at(0)->menu();
    QCOMPARE(file->title(), QStringLiteral("文件(&F)"));
    QVERIFY(contains(file, window.ARefresh));
    window.ToolBar1->findChild<QToolButton *>("tb_ARefresh")->click();
    QCOMPARE(spy.count(), 1);
}

void TestMainWindow::shortcutsTriggerActions_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QKeySequence>("keys");
    QTest::newRow("F5") << "ARefresh" << QKeySequence(Qt::Key_F5);
    QTest::newRow("F9") << "AOpenDoc" << QKeySequence(Qt::Key_F9);
    QTest::newRow("Ctrl+S") << "ASaveDocas" << QKeySequence(Qt::CTRL | Qt::Key_S);
    QTest::newRow("Del") << "ADeleteDoc" << QKeySequence(Qt::Key_Delete);
    QTest::newRow("Ctrl+L") << "ASendtoBox" << QKeySequence(Qt::CTRL | Qt::Key_L);
    QTest::newRow("Ctrl+A") << "ASelectAll" << QKeySequence(Qt::CTRL | Qt::Key_A);
    QTest::newRow("Ctrl+C") << "ACopyUrl" << QKeySequence(Qt::CTRL | Qt::Key_C);
    QTest::newRow("Ctrl+F") << "AFind" << QKeySequence(Qt::CTRL | Qt::Key_F);
    QTest::newRow("F1") << "AHelp" << QKeySequence(Qt::Key_F1);
    QTest::newRow("F8") << "m_viewdoc" << QKeySequence(Qt::Key_F8);
    QTest::newRow("F12") << "Aoffline" << QKeySequence(Qt::Key_F12);
}

void TestMainWindow::shortcutsTriggerActions()
{
    QFETCH(QString, name);
    QFETCH(QKeySequence, keys);
    QTemporaryDir dir;
    Tfrm_cache frm_cache(dir.path(), &m_answerer);
    QAction *action = frm_cache.actionNamed(name);
    QVERIFY(action);
    // Observe the action without running its behaviour (the about box would be modal).
    action->disconnect(SIGNAL(triggered(bool)));
    QSignalSpy spy(action, &QAction::triggered);
    frm_cache.show();
    frm_cache.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&frm_cache));
    // As the update pass leaves it with a document selected; the pass also runs while the
    // first load waits for its read.
    action->setEnabled(true);
    QTest::keySequence(&frm_cache, keys);
    QCOMPARE(spy.count(), 1);
}

void TestMainWindow::sortMenuIsHidden()
{
    QTemporaryDir dir;
    Tfrm_cache frm_cache(dir.path(), &m_answerer);
    WindowParts window(frm_cache);
    QVERIFY(!window.m_sort->menuAction()->isVisible());
    QCOMPARE(window.sortItems.size(), 6);
    QVERIFY(window.sortItems[0]->isChecked());
    QVERIFY(!window.sortItems[3]->isCheckable()); // "日期" has no key
    QVERIFY(window.m_VsReport->isChecked());
}

void TestMainWindow::loadBuildsTree()
{
    TestStore store;
    store.add("http://cc.net/c.htm", "c.htm", "c");
    store.add("http://Bb.net/b1.htm", "b1.htm", "b");
    store.add("http://Bb.net/b2.htm", "b2.htm", "b");
    store.add("http://aa.net/a.htm", "a.htm", "a");
    store.add("about:blank", "blank.htm", "x");
    store.add("http://aa.net/none", "none", "x"); // no extension: never shown
    QTemporaryDir dir;
    Tfrm_cache frm_cache(dir.path(), &m_answerer);
    WindowParts window(frm_cache);
    window.loader->LoadCatalogue(false);

    QCOMPARE(window.Tree->topLevelItemCount(), 3);
    QCOMPARE(window.TreeNode(CollectRoot)->text(0), QStringLiteral("采集盒"));
    QCOMPARE(window.TreeNode(SearchRoot)->text(0), QStringLiteral("搜索站"));
    QTreeWidgetItem *cache = window.TreeNode(CacheRoot);
    QCOMPARE(cache->text(0), QStringLiteral("IE缓存"));
    QCOMPARE(cache->childCount(), 3);
    QCOMPARE(cache->child(0)->text(0), QStringLiteral("[aa.net]"));
    QCOMPARE(cache->child(1)->text(0), QStringLiteral("[Bb.net]"));
    QCOMPARE(cache->child(2)->text(0), QStringLiteral("[cc.net]"));
    QCOMPARE(QByteArray(static_cast<HostNodeItem *>(cache->child(1))->url()).left(14), QByteArray("http://Bb.net/"));
    QVERIFY(cache->isExpanded());
    QCOMPARE(window.Tree->currentItem(), cache);
    QVERIFY(window.state.tree_ready);
    QCOMPARE(window.state.cache_list.size(), size_t(5));
    QCOMPARE(window.StatusText(0), QStringLiteral("域名共3个"));
    QCOMPARE(window.AbsoluteIndex(cache->child(2)), 5);
    QCOMPARE(window.TreeNode(5), cache->child(2));
}

void TestMainWindow::loadOfEmptyCache()
{
    TestStore store;
    store.add("http://a.net/x", "");
    QTemporaryDir dir;
    Tfrm_cache frm_cache(dir.path(), &m_answerer);
    WindowParts window(frm_cache);
    window.loader->LoadCatalogue(true);
    QCOMPARE(window.Tree->topLevelItemCount(), 3);
    QCOMPARE(window.TreeNode(CacheRoot)->childCount(), 0);
    QCOMPARE(window.StatusText(0), QStringLiteral("域名共0个"));
    QVERIFY(window.state.tree_ready);
    QVERIFY(m_boxes.isEmpty()); // a load never shows a message
}

void TestMainWindow::refreshDuringLoadReadsAgain()
{
    TestStore store;
    store.add("http://a.net/1.htm", "1.htm", "1");
    store.add("http://b.net/2.htm", "2.htm", "2");
    QTemporaryDir dir;
    Tfrm_cache frm_cache(dir.path(), &m_answerer);
    WindowParts window(frm_cache);
    int nested = 0;
    // The store gains a host, and F5 is pressed while the load lets pending events run.
    QTimer::singleShot(0, &frm_cache, [&] {
        ++nested;
        store.add("http://c.net/3.htm", "3.htm", "3");
        window.ARefresh->trigger();
    });
    window.loader->LoadCatalogue(true);
    QCOMPARE(nested, 1);
    QVERIFY(!window.loader->isLoading());
    QCOMPARE(window.Tree->topLevelItemCount(), 3); // one tree, from the read made after F5
    QCOMPARE(window.TreeNode(CacheRoot)->childCount(), 3);
    window.ARefresh->trigger(); // and a later refresh works again
    QCOMPARE(window.TreeNode(CacheRoot)->childCount(), 3);
}

void TestMainWindow::refreshDuringAFillLeavesTreeListAndPanelsAgreeing()
{
    TestStore store;
    for (int i = 0; i < 40; ++i)
        store.add("http://" + std::string(i % 2 ? "a.net" : "b.net") + "/" + std::to_string(i) + ".htm",
                  std::to_string(i) + ".htm", "x");
    ShownWindow shown;
    QVERIFY(shown.open());
    WindowParts &window = *shown.window;
    window.Tree->setCurrentItem(window.TreeNode(CacheRoot + 1));
    QCOMPARE(window.StatusText(1), QStringLiteral("文档共20项"));

    // A click on the other host, and F5 pressed before its fill is done: the fill lets
    // events run, and the reload runs within it.
    int reloads = 0;
    QTimer::singleShot(0, &window.window, [&] {
        ++reloads;
        window.ARefresh->trigger();
    });
    window.Tree->setCurrentItem(window.TreeNode(CacheRoot + 2));
    QCOMPARE(reloads, 1);

    QTreeWidgetItem *cacheRoot = window.TreeNode(CacheRoot);
    QCOMPARE(window.Tree->currentItem(), cacheRoot);
    QCOMPARE(window.lister->rowCount(), 0);
    QCOMPARE(window.StatusText(1), QStringLiteral("文档共0项"));
    QCOMPARE(window.StatusText(0), QStringLiteral("域名共2个"));
    QVERIFY(window.state.list_ready);
    QVERIFY(!window.lister->inBatchUpdate());
    // On the screen: the tree's highlight is on the cache root, the list shows no row.
    const QImage tree = window.Tree->viewport()->grab().toImage();
    const QRgb highlight = window.Tree->palette().color(QPalette::Active, QPalette::Highlight).rgb() & 0xFFFFFF;
    auto highlighted = [&](QTreeWidgetItem *node) {
        const QRect r = window.Tree->visualItemRect(node);
        int hits = 0;
        for (int x = r.left(); x <= r.right(); ++x)
            hits += (tree.pixel(x, r.center().y()) & 0xFFFFFF) == highlight;
        return hits > r.width() / 4;
    };
    QVERIFY(highlighted(cacheRoot));
    QVERIFY(!highlighted(window.TreeNode(CacheRoot + 2)));
    QCOMPARE(RowsPaintedSelected(window.lister->report()), 0);

    // The list works on as before.
    window.Tree->setCurrentItem(window.TreeNode(CacheRoot + 2));
    QCOMPARE(window.lister->rowCount(), 20);
    QCOMPARE(window.StatusText(1), QStringLiteral("文档共20项"));
}

void TestMainWindow::reloadLeavesOnlyTheRootSelected_data()
{
    QTest::addColumn<bool>("duringFill");
    QTest::newRow("F5 after a click on a host") << false;
    // The reload runs inside the click, which then selects what lies under the pointer.
    QTest::newRow("F5 while the click's fill runs") << true;
}

void TestMainWindow::reloadLeavesOnlyTheRootSelected()
{
    QFETCH(bool, duringFill);
    TestStore store;
    for (int i = 0; i < 40; ++i)
        store.add("http://h" + std::to_string(i % 4) + ".net/" + std::to_string(i) + ".htm", std::to_string(i) + ".htm",
                  "x");
    ShownWindow shown;
    QVERIFY(shown.open());
    WindowParts &window = *shown.window;
    QTreeWidgetItem *host = window.TreeNode(CacheRoot + 2);
    const QPoint at = window.Tree->visualItemRect(host).center();
    if (duringFill)
        QTimer::singleShot(0, &window.window, [&] { window.ARefresh->trigger(); });
    QTest::mouseClick(window.Tree->viewport(), Qt::LeftButton, {}, at);
    if (!duringFill)
        window.ARefresh->trigger();
    QTest::qWait(0); // what the click and the reload left queued
    QTreeWidgetItem *root = window.TreeNode(CacheRoot);
    QCOMPARE(window.Tree->currentItem(), root);
    QCOMPARE(window.Tree->selectedItems(), QList<QTreeWidgetItem *>{root});
    QCOMPARE(window.lister->rowCount(), 0);
}

void TestMainWindow::reloadKeepsCollectBox()
{
    TestStore store;
    store.add("http://a.net/keep.htm", "keep.htm", "k");
    QTemporaryDir dir;
    Tfrm_cache frm_cache(dir.path(), &m_answerer);
    WindowParts window(frm_cache);
    window.loader->LoadCatalogue(false);
    window.state.collect_list.push_back(MakeHeaderCopy(MakeViewRecord(window.state.cache_list[0])));
    window.state.search_list.push_back(window.state.cache_list[0]);
    window.TreeNode(CollectRoot)->setText(0, QStringLiteral("采集盒(1)"));
    window.loader->LoadCatalogue(false);
    QCOMPARE(window.TreeNode(CollectRoot)->text(0), QStringLiteral("采集盒"));
    QCOMPARE(QByteArray(SourceUrl(window.state.collect_list[0])), QByteArray("http://a.net/keep.htm"));
    QCOMPARE(QByteArray(LocalFileName(window.state.search_list[0])), QByteArray::fromStdString(store.path("keep.htm")));
}

void TestMainWindow::settingsSurviveRestart()
{
    QTemporaryDir dir;
    const QString file = dir.filePath("tidewrack.inf");
    QRect placed;
    {
        Tfrm_cache frm_cache(dir.path(), &m_answerer);
        WindowParts window(frm_cache);
        QVERIFY(!QFile::exists(file));
        QVERIFY(window.m_viewdoc->isChecked());
        frm_cache.show();
        frm_cache.setGeometry(120, 90, 700, 500);
        placed = frm_cache.geometry();
        window.m_VsIcon->trigger();
        window.m_viewdoc->trigger();
        frm_cache.close();
    }
    QCOMPARE(QFileInfo(file).size(), qint64(52));
    Tfrm_cache again(dir.path(), &m_answerer);
    const WindowParts restarted(again);
    QCOMPARE(again.geometry(), placed);
    QVERIFY(!restarted.m_viewdoc->isChecked());
    QCOMPARE(int(again.settings().viewdoc), 0);
    QVERIFY(restarted.m_VsIcon->isChecked());
    QVERIFY(m_boxes.isEmpty());
}

void TestMainWindow::shortSettingsFileIsReportedOnce()
{
    QTemporaryDir dir;
    const QString file = dir.filePath("tidewrack.inf");
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(51, '\x07'));
    }
    {
        Tfrm_cache frm_cache(dir.path(), &m_answerer);
        WindowParts window(frm_cache);
        QCOMPARE(m_boxes, QStringList{QStringLiteral("无法读取配置文件。")});
        QCOMPARE(int(window.settings().viewstyle), 3);
        QCOMPARE(window.settings().listheight, 140);
        frm_cache.close();
    }
    QCOMPARE(QFileInfo(file).size(), qint64(52));
    m_boxes.clear();
    Tfrm_cache repaired(dir.path(), &m_answerer);
    QVERIFY(m_boxes.isEmpty());
}

void TestMainWindow::placementOffEveryScreenIsReplaced()
{
    QTemporaryDir dir;
    Tsettingdata s{};
    s.viewdoc = 0;
    s.viewstyle = 0;
    s.listheight = 300;
    s.placement = WINDOWPLACEMENT{44, 0, SW_SHOWNORMAL, 0, 0, 0, 0, -9000, -9000, -8000, -8500};
    QVERIFY(WriteSettingsFile(dir.filePath("tidewrack.inf"), s).ok());
    Tfrm_cache frm_cache(dir.path(), &m_answerer);
    WindowParts window(frm_cache);
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    QCOMPARE(frm_cache.geometry(), DefaultPlacementRect(screen.width(), screen.height()));
    QCOMPARE(int(window.settings().viewstyle), 0); // the rest of the file still counts
    QVERIFY(!window.m_viewdoc->isChecked());
    QVERIFY(m_boxes.isEmpty());
}

void TestMainWindow::defaultPlacementCountsTheFrame()
{
    QTemporaryDir dir; // no settings file: the first run
    Tfrm_cache frm_cache(dir.path(), &m_answerer);
    frm_cache.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frm_cache));
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    // The window with its frame is four fifths of the screen, centred.
    QTRY_COMPARE(frm_cache.frameGeometry(), DefaultPlacementRect(screen.width(), screen.height()));
}

void TestMainWindow::pointingAtCommandsKeepsTheStatusPanels()
{
    TestStore store;
    store.add("http://a.net/1.htm", "1.htm", "1");
    QTemporaryDir dir;
    Tfrm_cache frm_cache(dir.path(), &m_answerer);
    WindowParts window(frm_cache);
    frm_cache.show();
    frm_cache.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&frm_cache));
    QTRY_VERIFY(window.state.tree_ready);
    window.Tree->setCurrentItem(window.TreeNode(CacheRoot + 1));
    QCOMPARE(window.StatusText(1), QStringLiteral("文档共1项"));
    QStatusBar *bar = frm_cache.statusBar();
    const QImage before = bar->grab().toImage();

    // Over a toolbar button.
    auto *button = window.ToolBar1->findChild<QToolButton *>("tb_ARefresh");
    QTest::mouseMove(button, button->rect().center());
    QEnterEvent enter(button->rect().center(), button->mapToGlobal(button->rect().center()),
                      button->mapToGlobal(button->rect().center()));
    QCoreApplication::sendEvent(button, &enter);
    QCOMPARE(bar->currentMessage(), QString());
    QCOMPARE(bar->grab().toImage(), before);
    // The hint shows as the button's tip instead.
    QCOMPARE(button->toolTip(), QStringLiteral("刷新缓存"));

    // Over a menu item.
    QMenu *file = frm_cache.menuBar()->actions().at(0)->menu();
    file->popup(frm_cache.mapToGlobal(QPoint(10, 10)));
    QVERIFY(QTest::qWaitForWindowExposed(file));
    QVERIFY(file->toolTipsVisible());
    const QRect item = file->actionGeometry(window.ARefresh);
    QTest::mouseMove(file, item.center());
    QTRY_COMPARE(file->activeAction(), window.ARefresh);
    QCOMPARE(bar->currentMessage(), QString());
    for (int panel = 0; panel < 3; ++panel)
        QVERIFY(frm_cache.findChild<QLabel *>(QStringLiteral("sbar%1").arg(panel))->isVisible());
    QCOMPARE(bar->grab().toImage(), before);
    file->close();
}

void TestMainWindow::hostNodesShowTheWholeHostAsTip()
{
    const std::string host = "a-host-name-far-too-long-for-the-tree-to-show-whole.news.example.com";
    TestStore store;
    store.add("http://" + host + "/1.htm", "1.htm", "1");
    store.add("http://<b>x.net/2.htm", "2.htm", "2");
    ShownWindow shown;
    QVERIFY(shown.open());
    WindowParts &window = *shown.window;
    QTreeWidgetItem *cache = window.TreeNode(CacheRoot);
    QCOMPARE(cache->childCount(), 2);
    for (int i = 0; i < 2; ++i) {
        QTreeWidgetItem *node = cache->child(i);
        QCOMPARE(ToolTipShownAt(window.Tree, window.Tree->visualItemRect(node).center()), node->text(0));
    }
    QCOMPARE(cache->child(0)->text(0), QStringLiteral("[<b>x.net]"));
    QCOMPARE(cache->child(1)->text(0), QString::fromStdString("[" + host + "]"));
}

void TestMainWindow::listTipsShowNamesAsTheyAre()
{
    TestStore store;
    store.add("http://a.net/<i>1.htm", "<b>1.htm", "1");
    ShownWindow shown;
    QVERIFY(shown.open());
    WindowParts &window = *shown.window;
    window.Tree->setCurrentItem(window.TreeNode(CacheRoot + 1));
    QTreeView *report = window.lister->report();
    const QModelIndex name = report->model()->index(0, 0);
    const QModelIndex url = report->model()->index(0, 3);
    QCOMPARE(ToolTipShownAt(report, report->visualRect(name).center()), QStringLiteral("<b>1.htm"));
    report->scrollTo(url);
    QCOMPARE(ToolTipShownAt(report, report->visualRect(url).center()), QStringLiteral("http://a.net/<i>1.htm"));
}

void TestMainWindow::deleteThroughTheWindow()
{
    HostWindow f(m_answerer);
    m_answer = IDYES;
    CatalogueState &state = f.window->state;
    // b and d are also in the collect box and the search station.
    for (int row : {1, 3})
        state.collect_list.push_back(MakeHeaderCopy(state.view_list[std::size_t(row)]));
    for (const auto &entry : state.cache_list)
        state.search_list.push_back(entry);
    f.frm_cache->show();
    f.frm_cache->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(f.frm_cache.get()));
    QCoreApplication::processEvents(); // the first showing's load
    f.window->Tree->setCurrentItem(f.window->TreeNode(CacheRoot + 1));
    f.select({1, 3});
    f.window->ActionList1Update();
    QVERIFY(f.window->ADeleteDoc->isEnabled());
    f.window->lister->setFocus();
    QTest::keyClick(f.window->lister->report(), Qt::Key_Delete);

    QCOMPARE(m_boxes, QStringList{QStringLiteral("确实要删除选定的缓存文档吗？")});
    QCOMPARE(f.window->lister->rowCount(), 3);
    QCOMPARE(f.window->StatusText(1), QStringLiteral("文档共3项"));
    QCOMPARE(f.window->TreeNode(SearchRoot)->text(0), QStringLiteral("搜索站(4)"));
    QCOMPARE(f.window->TreeNode(CollectRoot)->text(0), QStringLiteral("采集盒"));
    // Nothing is left selected, so Del, then Enter on the question that would follow,
    // deletes nothing more.
    f.window->ActionList1Update();
    QVERIFY(!f.window->ADeleteDoc->isEnabled());
    QTest::keyClick(f.window->lister->report(), Qt::Key_Delete);
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(f.store.store().listing().entries.size(), size_t(4));
}

void TestMainWindow::treeMenuOffersTheFittingDelete_data()
{
    QTest::addColumn<int>("node");
    QTest::addColumn<QString>("question");
    QTest::newRow("station") << int(SearchRoot) << "将删除3个缓存文档，共%1 字节，来自1个缓存。确实要删除吗？";
    QTest::newRow("host") << CacheRoot + 1 << "将删除5个缓存文档，共%1 字节，来自1个缓存。确实要删除吗？";
}

void TestMainWindow::treeMenuOffersTheFittingDelete()
{
    QFETCH(int, node);
    QFETCH(QString, question);
    HostWindow f(m_answerer);
    m_answer = IDNO;
    f.frm_cache->show(); // the menu follows the node under the pointer
    QVERIFY(QTest::qWaitForWindowExposed(f.frm_cache.get()));
    QCoreApplication::processEvents(); // the first showing's load
    CatalogueState &state = f.window->state;
    std::uint64_t bytes = 0;
    for (const auto &entry : state.cache_list) {
        const QString name = QFileInfo(QString::fromUtf8(LocalFileName(entry))).fileName();
        const bool found = QStringList{"b.htm", "d.htm", "o.htm"}.contains(name);
        if (found)
            state.search_list.push_back(entry);
        if (node == SearchRoot ? found : name != QLatin1String("o.htm"))
            bytes += EntrySize(EntryHeader(entry));
    }

    // The popup menu of the node offers the delete that fits it, and only that one.
    QTreeWidgetItem *item = f.window->TreeNode(node);
    f.window->Tree->scrollToItem(item);
    emit f.window->Tree->customContextMenuRequested(f.window->Tree->visualItemRect(item).center());
    auto *found = f.window->Pop_tree->findChild<QAction *>(QStringLiteral("Pop_deleteFound"));
    auto *host = f.window->Pop_tree->findChild<QAction *>(QStringLiteral("Pop_deleteHost"));
    QVERIFY(found && host);
    QCOMPARE(found->isVisible(), node == SearchRoot);
    QCOMPARE(host->isVisible(), node != SearchRoot);
    QCOMPARE(found->text(), QStringLiteral("删除全部找到的文档(3项)..."));
    f.window->Pop_tree->hide();
    (node == SearchRoot ? found : host)->trigger();
    QCOMPARE(m_boxes, QStringList{question.arg(bytes)});
    QCOMPARE(state.cache_list.size(), std::size_t(6)); // declined
}

void TestMainWindow::enabledTable()
{
    HostWindow f(m_answerer);
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

void TestMainWindow::offlineShowsRealState()
{
    QTemporaryDir dir;
    // A state file under a plain file can never be written: the platform refuses the change.
    QFile blocker(dir.filePath("file"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    UseOfflineStateFile(dir.filePath("file/offline").toStdString());
    HostWindow f(m_answerer);
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

void TestMainWindow::collectThroughTheWindow()
{
    TestStore store;
    for (const char *name : {"c", "a", "b"})
        store.add(std::string("http://h.net/") + name + ".htm", std::string(name) + ".htm", "x");
    ShownWindow shown({}, &m_answerer);
    QVERIFY(shown.open());
    WindowParts &w = *shown.window;
    auto indicator = [&w](int image) {
        QPixmap picture(35, 33);
        picture.fill(w.window.palette().color(QPalette::Dark));
        QPainter painter(&picture);
        painter.drawPixmap(2, 1, CollectBoxImage(image));
        painter.end();
        return w.Image1->pixmap().toImage().convertToFormat(QImage::Format_RGB32)
            == picture.toImage().convertToFormat(QImage::Format_RGB32);
    };
    QVERIFY(indicator(0)); // drawn empty from the start

    // The label's menu is the window's Pop_CollectBox, shown once the right button is released.
    const QPoint at = w.lab_collect->mapTo(&w.window, QPoint(5, 5));
    QTest::mousePress(w.window.windowHandle(), Qt::RightButton, Qt::NoModifier, at);
    QTest::mouseRelease(w.window.windowHandle(), Qt::RightButton, Qt::NoModifier, at);
    QVERIFY(w.Pop_CollectBox->isVisible());
    w.Pop_CollectBox->close();

    QVERIFY(shown.selectHost(QStringLiteral("[h.net]")));
    SelectRows(w.window, {0, 2});
    w.ActionList1Update();
    QVERIFY(w.ASendtoBox->isEnabled());
    w.ASendtoBox->trigger();
    QCOMPARE(w.TreeNode(CollectRoot)->text(0), QStringLiteral("采集盒(2)"));
    QVERIFY(indicator(1));
    w.ActionList1Update();
    QVERIFY(w.AClearCollectDoc->isEnabled()); // whatever node is shown

    // The box shown, a document removed: the list's count follows.
    QTest::mouseDClick(w.lab_collect, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    QCOMPARE(w.StatusText(1), QStringLiteral("文档共2项"));
    SelectRows(w.window, {0});
    w.ActionList1Update();
    QVERIFY(w.ARemoveCollectDoc->isEnabled());
    w.ARemoveCollectDoc->trigger();
    QCOMPARE(w.StatusText(1), QStringLiteral("文档共1项"));

    QVERIFY(m_boxes.isEmpty());
}

void TestMainWindow::boxStopsWatchingBeforeTheWindowGoes()
{
    // The box filters the events of the label and of the tree; while the window is taken
    // apart its controls still get events (hide, leave), which must not reach a box that
    // looks at a half-destroyed window.
    TestStore store;
    store.add("http://h.net/a.htm", "a.htm", "a");
    ShownWindow f({}, &m_answerer);
    QVERIFY(f.open());
    QVERIFY(f.selectHost(QStringLiteral("[h.net]")));
    SelectRows(*f.frm_cache, {0});
    f.window->collectBox->ASendtoBoxExecute();
    QObject *window = f.frm_cache.get();
    QStringList gone;
    bool windowWhole = false;
    QObject::connect(f.window->collectBox, &QObject::destroyed, [&] {
        gone << "box";
        windowWhole = qobject_cast<Tfrm_cache *>(window) != nullptr;
    });
    QObject::connect(f.window->lab_collect, &QObject::destroyed, [&] { gone << "label"; });
    QObject::connect(f.window->Tree->viewport(), &QObject::destroyed, [&] { gone << "tree"; });
    f.window.reset();
    f.frm_cache.reset();
    QCOMPARE(gone.value(0), QStringLiteral("box"));
    QVERIFY(windowWhole);
    QCOMPARE(gone.size(), 3);
}

void TestMainWindow::viewStyleSwitch()
{
    TestStore store;
    store.add("http://a.net/x.htm", "x.htm", "x");
    ShownWindow f({}, &m_answerer);
    QVERIFY(f.open());
    WindowParts &w = *f.window;
    QCOMPARE(w.settings().viewstyle, std::uint8_t(3)); // the default
    QVERIFY(w.lister->smallImagesAttached());
    w.m_VsIcon->trigger();
    QVERIFY(w.m_VsIcon->isChecked());
    QVERIFY(!w.m_VsReport->isChecked());
    QCOMPARE(w.settings().viewstyle, std::uint8_t(0));
    QCOMPARE(w.lister->viewStyle(), 0);
    QCOMPARE(w.lister->currentView(), static_cast<QAbstractItemView *>(w.lister->iconView()));
    QVERIFY(w.lister->largeImagesAttached());
    QCOMPARE(w.lister->iconView()->iconSize(), QSize(32, 32));
    QVERIFY(w.lister->smallImagesAttached()); // the other list stays attached
    w.m_VsReport->trigger();
    QCOMPARE(w.settings().viewstyle, std::uint8_t(3));
    QCOMPARE(w.lister->currentView(), static_cast<QAbstractItemView *>(w.lister->report()));
    QCOMPARE(w.lister->report()->iconSize(), QSize(16, 16));
}

void TestMainWindow::sortMenuItems()
{
    TestStore store;
    store.add("http://s.net/a.htm", "a.htm", "1");
    ShownWindow f({}, &m_answerer);
    QVERIFY(f.open());
    WindowParts &w = *f.window;
    w.sortItems[5]->trigger(); // "位置" sorts by key 5: no key, no arrow
    QCOMPARE(w.state.sort_key, std::uint8_t(5));
    QVERIFY(w.sortItems[5]->isChecked());
    for (int c = 0; c < 5; ++c)
        QCOMPARE(caption(w, c), DocumentListModel::baseCaption(c));
    w.sortItems[4]->trigger(); // "网址" sorts by location
    QCOMPARE(w.state.sort_key, std::uint8_t(4));
    QCOMPARE(caption(w, 4), QStringLiteral("位置↓"));
}

void TestMainWindow::findThroughTheWindow()
{
    TestStore store;
    store.add("http://www.example.com/index.html", "c1/index.html", "<html>Hello World</html>");
    store.add("http://img.example.com/logo.gif", "c2/logo.gif", "GIF89a");
    ShownWindow shown({}, &m_answerer);
    QVERIFY(shown.open());
    WindowParts &w = *shown.window;
    auto dialog = [&w]() -> Tfrm_find & { return *w.frm_find; };
    bool checked = false;
    QTimer::singleShot(0, this, [&] {
        checked = true;
        QVERIFY(dialog().isVisible());
        QVERIFY(dialog().isModal());
        QVERIFY(dialog().Label1->text().isEmpty());
        QVERIFY(dialog().btn_go->isHidden());
        QWidget *focus = dialog().focusWidget();
        QVERIFY(focus == dialog().cmb_find || focus == dialog().cmb_find->lineEdit());
        QTest::keyClick(dialog().cmb_find->lineEdit(), Qt::Key_Escape); // Esc closes
    });
    w.AFind->trigger();
    QVERIFY(checked);
    QVERIFY(!dialog().isVisible());

    QTimer::singleShot(0, this, [&] { QTest::mouseClick(dialog().Button2, Qt::LeftButton); });
    w.AFind->trigger();
    QVERIFY(!dialog().isVisible());

    // A search's hits reach the tree, and 到搜索站 shows them.
    QTimer::singleShot(0, this, [&] {
        dialog().cmb_find->setEditText(QStringLiteral("img.example"));
        QTest::mouseClick(dialog().btn_start, Qt::LeftButton);
        QTest::mouseClick(dialog().btn_go, Qt::LeftButton);
    });
    w.AFind->trigger();
    QCOMPARE(w.TreeNode(SearchRoot)->text(0), QStringLiteral("搜索站(1)"));
    QCOMPARE(w.Tree->currentItem(), w.TreeNode(SearchRoot));
    QCOMPARE(w.lister->rowCount(), 1);
}

void TestMainWindow::enterAndDoubleClickOpen()
{
    TestStore store;
    for (const char *n : {"a.htm", "b.htm", "c.htm", "d.htm", "e.htm"})
        store.add(std::string("http://o.net/") + n, n, "x");
    ShownWindow f({}, &m_answerer);
    QVERIFY(f.open());
    WindowParts &w = *f.window;
    w.Tree->setCurrentItem(f.hostNode(QStringLiteral("[o.net]")));
    DocumentListModel *m = w.documents->model();
    auto *sel = w.lister->selectionModel();
    sel->select(m->index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    sel->setCurrentIndex(m->index(4, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    // The open command hands the first selected row's file to the desktop.
    QStringList openedWith;
    SetShellHandler([&openedWith](const ShellRequest &r) {
        if (r.kind == ShellRequest::Open)
            openedWith << r.path;
        return true;
    });
    const QString rowTwo = QString::fromUtf8(LocalFileName(w.state.view_list[2]));
    w.lister->report()->setFocus();
    QTest::keyClick(w.lister->report(), Qt::Key_Return);
    QCOMPARE(openedWith, QStringList{rowTwo});
    QTest::keyClick(w.lister->report(), Qt::Key_Enter);
    QCOMPARE(openedWith.size(), 2);
    QCOMPARE(w.documents->selectedRows(), (QList<int>{2, 4})); // Enter moved nothing
    const QRect rect = w.lister->report()->visualRect(m->index(2, 0));
    QTest::mouseDClick(w.lister->report()->viewport(), Qt::LeftButton, {}, rect.center());
    QCOMPARE(openedWith.size(), 3);
    QCOMPARE(openedWith.last(), rowTwo);
    SetShellHandler({});
}

void TestMainWindow::altEnterAndMenuOpenTheFocusedDocument()
{
    TestStore store;
    for (const char *name : {"a.htm", "b.htm", "c.htm"})
        store.add(std::string("http://keys.example/") + name, name, name);
    ShownWindow f({}, &m_answerer);
    QVERIFY(f.open());
    QVERIFY(f.selectHost(QStringLiteral("[keys.example]")));
    QVERIFY(f.window->Pop_list->actions().contains(f.window->AEntryInfo));
    QCOMPARE(f.window->AEntryInfo->text(), QStringLiteral("缓存信息(&I)..."));
    // b is focused within a selection of a and b: the details are b's.
    SelectRows(f.window->window, {0, 1});
    f.window->lister->selectionModel()->setCurrentIndex(f.window->documents->model()->index(1, 0),
                                                        QItemSelectionModel::NoUpdate);
    f.window->ActionList1Update();
    QSignalSpy opened(f.window->documents, &DocumentList::openRequested);
    QTreeView *report = f.window->lister->report();
    report->setFocus();
    f.frm_cache->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(f.frm_cache.get()));
    QTest::keyClick(report, Qt::Key_Return, Qt::AltModifier);
    QTRY_VERIFY(f.frm_cache->findChild<EntryInfoWindow *>());
    QCOMPARE(f.frm_cache->findChild<EntryInfoWindow *>()->valueText(QStringLiteral("url")),
             QStringLiteral("http://keys.example/b.htm"));
    QCOMPARE(opened.count(), 0); // Enter alone opens the document; with Alt it does not
    delete f.frm_cache->findChild<EntryInfoWindow *>();
    // Alt with the keypad's Enter too.
    report->setFocus();
    QTest::keyClick(report, Qt::Key_Enter, Qt::AltModifier | Qt::KeypadModifier);
    QTRY_VERIFY(f.frm_cache->findChild<EntryInfoWindow *>());
    QCOMPARE(opened.count(), 0);
}

void TestMainWindow::enabledWithSelectionAndRows()
{
    TestStore store;
    store.add("http://on.example/a.htm", "a.htm", "a");
    ShownWindow f({}, &m_answerer);
    QVERIFY(f.open());
    WindowParts &w = *f.window;
    w.ActionList1Update();
    QVERIFY(!w.AEntryInfo->isEnabled());
    QVERIFY(!w.AExportList->isEnabled()); // the cache root shows no rows
    QVERIFY(!w.AExportWarc->isEnabled());
    QVERIFY(!w.AExportDocs->isEnabled());
    QVERIFY(f.selectHost(QStringLiteral("[on.example]")));
    w.ActionList1Update();
    QVERIFY(!w.AEntryInfo->isEnabled());
    QVERIFY(w.AExportList->isEnabled()); // all rows when none is selected
    QVERIFY(w.AExportWarc->isEnabled());
    QVERIFY(!w.AExportDocs->isEnabled());
    FocusRow(*f.window, 0);
    w.ActionList1Update();
    QVERIFY(w.AEntryInfo->isEnabled());
    QVERIFY(w.AExportList->isEnabled());
    QVERIFY(w.AExportDocs->isEnabled());
    // Where they are reached: the list's menu and the File menu.
    for (QAction *a : {w.AExportList, w.AExportDocs, w.AExportWarc}) {
        QVERIFY(w.Pop_list->actions().contains(a));
        QVERIFY(f.frm_cache->menuBar()->actions().at(0)->menu()->actions().contains(a));
    }
    // The list written through the window: the info window tells of it meanwhile, then goes.
    QTemporaryDir out;
    w.entries->setListFileDialog([&](const QString &, QString &, bool &) { return out.filePath("list.csv"); });
    w.AExportList->trigger();
    QCOMPARE(m_boxes.size(), 1);
    QVERIFY2(m_boxes[0].startsWith(QStringLiteral("已导出1项到：")), qPrintable(m_boxes[0]));
    QVERIFY(!f.frm_cache->findChild<QWidget *>(QStringLiteral("frm_showinfo"))->isVisible());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
