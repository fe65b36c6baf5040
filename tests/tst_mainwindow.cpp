// The main window: its actions and where they are reached, loading the catalogue into the
// tree, and the settings file across a close and a new start.

#include "app/catalogueloader.h"
#include "app/lister.h"
#include "app/mainwindow.h"
#include "app/treenodes.h"
#include "rendering.h"
#include "support.h"
#include "windows/messagebox.h"
#include "windowsupport.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
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

private:
    QStringList m_boxes;
};

void TestMainWindow::init()
{
    m_boxes.clear();
    SetMessageBoxResponder([this](const MessageBoxRequest &r) {
        m_boxes << r.text;
        return IDOK;
    });
}

void TestMainWindow::cleanup()
{
    SetMessageBoxResponder({});
}

void TestMainWindow::everyPlaceRunsTheSameAction()
{
    QTemporaryDir dir;
    Tfrm_cache frm_cache(dir.path());
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
    Tfrm_cache frm_cache(dir.path());
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
    Tfrm_cache frm_cache(dir.path());
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
    Tfrm_cache frm_cache(dir.path());
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
    Tfrm_cache frm_cache(dir.path());
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
    Tfrm_cache frm_cache(dir.path());
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
    Tfrm_cache frm_cache(dir.path());
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
        Tfrm_cache frm_cache(dir.path());
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
    Tfrm_cache again(dir.path());
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
        Tfrm_cache frm_cache(dir.path());
        WindowParts window(frm_cache);
        QCOMPARE(m_boxes, QStringList{QStringLiteral("无法读取配置文件。")});
        QCOMPARE(int(window.settings().viewstyle), 3);
        QCOMPARE(window.settings().listheight, 140);
        frm_cache.close();
    }
    QCOMPARE(QFileInfo(file).size(), qint64(52));
    m_boxes.clear();
    Tfrm_cache repaired(dir.path());
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
    Tfrm_cache frm_cache(dir.path());
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
    Tfrm_cache frm_cache(dir.path());
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
    Tfrm_cache frm_cache(dir.path());
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

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
