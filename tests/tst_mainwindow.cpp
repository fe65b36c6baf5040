// The main window: its actions and where they are reached, loading the catalogue into the
// tree, and the settings file across a close and a new start.

#include "app/catalogueloader.h"
#include "app/mainwindow.h"
#include "app/treenodes.h"
#include "support.h"
#include "windows/messagebox.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSignalSpy>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void actionsMatchTheirTable_data();
    void actionsMatchTheirTable();
    void everyPlaceRunsTheSameAction();
    void shortcutsTriggerActions_data();
    void shortcutsTriggerActions();
    void sortMenuIsHidden();
    void loadBuildsTree();
    void loadOfEmptyCache();
    void refreshDuringLoadIsIgnored();
    void reloadKeepsCollectBox();
    void settingsSurviveRestart();
    void shortSettingsFileIsReportedOnce();
    void placementOffEveryScreenIsReplaced();

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

void TestMainWindow::actionsMatchTheirTable_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("hint");
    QTest::addColumn<QKeySequence>("shortcut");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("ARefresh") << "ARefresh"
                              << "刷新(&R)"
                              << "刷新缓存" << QKeySequence("F5") << true;
    QTest::newRow("AOpenDoc") << "AOpenDoc"
                              << "打开(&O)"
                              << "打开文档" << QKeySequence("F9") << false;
    QTest::newRow("ADocinfo") << "ADocinfo"
                              << "属性(&P)..."
                              << "文档属性" << QKeySequence() << false;
    QTest::newRow("ASaveDocas") << "ASaveDocas"
                                << "另存文档(&S)..."
                                << "另存文档" << QKeySequence("Ctrl+S") << false;
    QTest::newRow("ASaveWebas") << "ASaveWebas"
                                << "另存网页(&W)..."
                                << "另存网页" << QKeySequence() << false;
    QTest::newRow("ADeleteDoc") << "ADeleteDoc"
                                << "删除(&D)"
                                << "删除文档" << QKeySequence("Del") << false;
    QTest::newRow("ASendtoBox") << "ASendtoBox"
                                << "发送到采集盒(&L)"
                                << "发送到采集盒" << QKeySequence("Ctrl+L") << false;
    QTest::newRow("ASelectAll") << "ASelectAll"
                                << "全选(&A)"
                                << "选定全部文档" << QKeySequence("Ctrl+A") << true;
    QTest::newRow("ACopyUrl") << "ACopyUrl"
                              << "复制网址(&C)"
                              << "复制网址" << QKeySequence("Ctrl+C") << true;
    QTest::newRow("AFind") << "AFind"
                           << "搜索(&F)..."
                           << "搜索" << QKeySequence("Ctrl+F") << true;
    QTest::newRow("AFindInWeb") << "AFindInWeb"
                                << "在网页中查找(&E)..."
                                << "在网页中查找(&E)..." << QKeySequence() << true;
    QTest::newRow("ASaveAllCollectDoc") << "ASaveAllCollectDoc"
                                        << "保存全部采集文档(&S)"
                                        << "保存全部采集文档" << QKeySequence() << true;
    QTest::newRow("ARemoveCollectDoc") << "ARemoveCollectDoc"
                                       << "移除采集文档(&R)"
                                       << "移除采集文档" << QKeySequence() << true;
    QTest::newRow("AClearCollectDoc") << "AClearCollectDoc"
                                      << "清空采集盒(&E)"
                                      << "清空采集文档" << QKeySequence() << true;
    QTest::newRow("Aoffline") << "Aoffline"
                              << "离线浏览(&O)"
                              << "离线浏览" << QKeySequence("F12") << true;
    QTest::newRow("AInternetOption") << "AInternetOption"
                                     << "Internet选项(&I).."
                                     << "" << QKeySequence() << true;
    QTest::newRow("AHelp") << "AHelp"
                           << "关于(&A)..."
                           << "关于" << QKeySequence("F1") << true;
}

void TestMainWindow::actionsMatchTheirTable()
{
    QFETCH(QString, name);
    QTemporaryDir dir;
    Tfrm_cache window(dir.path());
    QAction *action = window.actionNamed(name);
    QVERIFY(action);
    QTEST(action->text(), "caption");
    QTEST(action->toolTip().isEmpty() ? QString() : action->statusTip(), "hint");
    QTEST(action->shortcut(), "shortcut");
    QTEST(action->isEnabled(), "enabled");
}

void TestMainWindow::everyPlaceRunsTheSameAction()
{
    QTemporaryDir dir;
    Tfrm_cache window(dir.path());
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
        QCOMPARE(button->defaultAction(), window.actionNamed(name));
        QCOMPARE(button->text(), QString::fromUtf8(caption));
        QAction *action = window.actionNamed(name);
        action->setEnabled(!action->isEnabled());
        QCOMPARE(button->text(), QString::fromUtf8(caption)); // a state change keeps the caption
        action->setEnabled(!action->isEnabled());
    }
    auto *save = window.ToolBar1->findChild<QToolButton *>("tb_ASaveDocas");
    QCOMPARE(save->menu(), window.Pop_save);
    QVERIFY(window.actionNamed("Aoffline")->isCheckable());

    auto contains = [](QMenu *menu, QAction *action) { return menu->actions().contains(action); };
    QVERIFY(contains(window.Pop_list, window.ASendtoBox));
    QVERIFY(contains(window.Pop_list, window.ASaveWebas));
    QVERIFY(contains(window.Pop_tree, window.ARefresh));
    QVERIFY(contains(window.Pop_CollectBox, window.AClearCollectDoc));
    QCOMPARE(window.Pop_save->actions(), (QList<QAction *>{window.ASaveDocas, window.ASaveWebas}));

    // A menu item triggers the very action the toolbar and the shortcut trigger.
    QSignalSpy spy(window.ARefresh, &QAction::triggered);
    QMenu *file = window.menuBar()->actions().at(0)->menu();
    QCOMPARE(file->title(), QStringLiteral("文件(&F)"));
    QVERIFY(contains(file, window.ARefresh));
    window.ToolBar1->findChild<QToolButton *>("tb_ARefresh")->click();
    QCOMPARE(spy.count(), 1);
}

void TestMainWindow::shortcutsTriggerActions_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("key");
    QTest::newRow("F5") << "ARefresh" << int(Qt::Key_F5);
    QTest::newRow("F1") << "AHelp" << int(Qt::Key_F1);
    QTest::newRow("F8") << "m_viewdoc" << int(Qt::Key_F8);
    QTest::newRow("F12") << "Aoffline" << int(Qt::Key_F12);
}

void TestMainWindow::shortcutsTriggerActions()
{
    QFETCH(QString, name);
    QFETCH(int, key);
    QTemporaryDir dir;
    Tfrm_cache window(dir.path());
    QAction *action = window.actionNamed(name);
    QVERIFY(action);
    // Observe the action without running its behaviour (the about box would be modal).
    action->disconnect(SIGNAL(triggered(bool)));
    QSignalSpy spy(action, &QAction::triggered);
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key(key));
    QCOMPARE(spy.count(), 1);
}

void TestMainWindow::sortMenuIsHidden()
{
    QTemporaryDir dir;
    Tfrm_cache window(dir.path());
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
    Tfrm_cache window(dir.path());
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
    Tfrm_cache window(dir.path());
    window.loader->LoadCatalogue(true);
    QCOMPARE(window.Tree->topLevelItemCount(), 3);
    QCOMPARE(window.TreeNode(CacheRoot)->childCount(), 0);
    QCOMPARE(window.StatusText(0), QStringLiteral("域名共0个"));
    QVERIFY(window.state.tree_ready);
    QVERIFY(m_boxes.isEmpty()); // a load never shows a message
}

void TestMainWindow::refreshDuringLoadIsIgnored()
{
    TestStore store;
    store.add("http://a.net/1.htm", "1.htm", "1");
    store.add("http://b.net/2.htm", "2.htm", "2");
    QTemporaryDir dir;
    Tfrm_cache window(dir.path());
    int nested = 0;
    // F5 pressed while the load lets pending events run.
    QTimer::singleShot(0, &window, [&] {
        ++nested;
        window.ARefresh->trigger();
    });
    window.loader->LoadCatalogue(true);
    QCOMPARE(nested, 1);
    QCOMPARE(window.Tree->topLevelItemCount(), 3);
    QCOMPARE(window.TreeNode(CacheRoot)->childCount(), 2);
    QVERIFY(!window.loader->isLoading());
    window.ARefresh->trigger(); // and a later refresh works again
    QCOMPARE(window.TreeNode(CacheRoot)->childCount(), 2);
}

void TestMainWindow::reloadKeepsCollectBox()
{
    TestStore store;
    store.add("http://a.net/keep.htm", "keep.htm", "k");
    QTemporaryDir dir;
    Tfrm_cache window(dir.path());
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
        Tfrm_cache window(dir.path());
        QVERIFY(!QFile::exists(file));
        QVERIFY(window.m_viewdoc->isChecked());
        window.show();
        window.setGeometry(120, 90, 700, 500);
        placed = window.geometry();
        window.m_VsIcon->trigger();
        window.m_viewdoc->trigger();
        window.close();
    }
    QCOMPARE(QFileInfo(file).size(), qint64(52));
    Tfrm_cache again(dir.path());
    QCOMPARE(again.geometry(), placed);
    QVERIFY(!again.m_viewdoc->isChecked());
    QCOMPARE(int(again.settings.viewdoc), 0);
    QVERIFY(again.m_VsIcon->isChecked());
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
        Tfrm_cache window(dir.path());
        QCOMPARE(m_boxes, QStringList{QStringLiteral("无法读取配置文件。")});
        QCOMPARE(int(window.settings.viewstyle), 3);
        QCOMPARE(window.settings.listheight, 140);
        window.close();
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
    QVERIFY(WriteSettingsFile(dir.filePath("tidewrack.inf"), s));
    Tfrm_cache window(dir.path());
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    QCOMPARE(window.geometry(), DefaultPlacementRect(screen.width(), screen.height()));
    QCOMPARE(int(window.settings.viewstyle), 0); // the rest of the file still counts
    QVERIFY(!window.m_viewdoc->isChecked());
    QVERIFY(m_boxes.isEmpty());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
