// The document list over the bare panels: what each node fills, the batch of TreeChange, the
// lazy type names of the visible rows, the view styles, the keys and the header clicks.

#include "app/lister.h"
#include "app/treenodes.h"
#include "catalogue/documentlistmodel.h"
#include "catalogue/viewlist.h"
#include "concernsupport.h"
#include "platform/shell.h"
#include "support.h"

#include <QAction>
#include <QHeaderView>
#include <QListView>
#include <QMimeData>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSplitter>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <QtTest>

#include <map>
#include <memory>

namespace {

// The panels, under the names the window's parts have.
struct Parts {
    explicit Parts(Panels &p)
        : window(p.host),
          state(p.state),
          loader(&p.loader),
          documents(&p.documents),
          Tree(p.Tree),
          lister(p.lister),
          status(p.status)
    {}
    QWidget &window;
    CatalogueState &state;
    CatalogueLoader *loader;
    DocumentList *documents;
    QTreeWidget *Tree;
    Lister *lister;
    StatusPanels &status;
    QString StatusText(int panel) const { return status.text(panel); }
    void SetStatusText(int panel, const QString &text) { status.setText(panel, text); }
    QTreeWidgetItem *TreeNode(int absoluteIndex) const { return ::TreeNode(Tree, absoluteIndex); }
};

// The shown panels over the process's store, with the first load done.
struct Fixture {
    Panels p;
    std::unique_ptr<Parts> window = std::make_unique<Parts>(p);
    bool open() { return p.open(); }
    // The n-th host node captioned `caption` ("[h.net]"); null when there is none.
    QTreeWidgetItem *hostNode(const QString &caption, int nth = 0) const
    {
        QTreeWidgetItem *cache = p.node(CacheRoot);
        for (int i = 0; cache && i < cache->childCount(); ++i)
            if (cache->child(i)->text(0) == caption && nth-- == 0)
                return cache->child(i);
        return nullptr;
    }
};

QString fileNameAt(Parts &w, int row)
{
    return w.documents->model()->data(w.documents->model()->index(row, 0)).toString();
}

QStringList shownNames(Parts &w)
{
    QStringList names;
    for (int row = 0; row < w.lister->rowCount(); ++row)
        names << fileNameAt(w, row);
    return names;
}

QString caption(Parts &w, int column)
{
    return w.documents->model()->headerData(column, Qt::Horizontal).toString();
}

} // namespace

class TestDocumentList : public QObject {
    Q_OBJECT
private slots:
    void startsEmptyWithPlainCaptions();
    void hostNodeShowsItsRunSortedByFileName();
    void cacheRootKeepsRowsAndClearsSelection();
    void nodeChangedDuringFillWins();
    void reloadEmptiesTheList();
    void collectBoxAndSearchStation();
    void ignoredWhileTreeNotReady();
    void caseVariantsShowAllTheirDocuments();
    void sizesShowAndSort();
    void typeNamesOnlyForVisibleRowsOnce();
    void sortByTypeOrdersRowsNeverShown();
    void largeIconsWrapLongNamesOverTwoLines();
    void typingSelectsNothing();
    void headerClickSorts();
    void rowStateSignal();
    void selectionAccessors();
    void dragOfRows();
    void setRowCountFromOtherConcerns();
    void modelTester();
    void largeHostFillsAndScrollsFast();
};

void TestDocumentList::startsEmptyWithPlainCaptions()
{
    TestStore store;
    store.add("http://a.net/1.htm", "1.htm", "1");
    Fixture f;
    QVERIFY(f.open());
    Parts &w = *f.window;
    // The first load selects the cache root while tree_ready is false: nothing is filled.
    QCOMPARE(w.lister->rowCount(), 0);
    QVERIFY(!w.state.list_ready);
    QCOMPARE(caption(w, 0), QStringLiteral("缓存文件"));
    QCOMPARE(w.lister->report()->header()->sectionSize(0), 170);
    QCOMPARE(w.lister->report()->header()->sectionSize(1), 120);
    QCOMPARE(w.lister->report()->header()->sectionSize(2), 60);
    QCOMPARE(w.lister->report()->header()->sectionSize(3), 200);
    QCOMPARE(w.lister->report()->header()->sectionSize(4), 300);
    QCOMPARE(w.lister->report()->selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(w.lister->report()->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(w.lister->report()->editTriggers(), QAbstractItemView::NoEditTriggers);
    QVERIFY(w.lister->report()->uniformRowHeights());
    QVERIFY(!w.lister->report()->rootIsDecorated());
    QVERIFY(w.lister->report()->header()->sectionsClickable());
    QCOMPARE(w.lister->iconView()->viewMode(), QListView::IconMode);
    QVERIFY(w.lister->iconView()->uniformItemSizes());
    QCOMPARE(w.lister->iconView()->selectionModel(), w.lister->report()->selectionModel());
    // The selection keeps its colours without the focus.
    const QPalette p = w.lister->report()->palette();
    QCOMPARE(p.color(QPalette::Inactive, QPalette::Highlight), p.color(QPalette::Active, QPalette::Highlight));
}

void TestDocumentList::hostNodeShowsItsRunSortedByFileName()
{
    TestStore store;
    store.add("http://aa.net/z.htm", "aa/z.htm", "z");
    store.add("http://bb.net/a_b.htm", "bb/a_b.htm", "1");
    store.add("http://bb.net/abc.htm", "bb/abc.htm", "22");
    store.add("http://bb.net/Zed.htm", "bb/Zed.htm", "333");
    store.add("http://bb.net/gone.htm", "bb/gone.htm", "4");
    store.add("http://cc.net/b.htm", "cc/b.htm", "5");
    Fixture f;
    QVERIFY(f.open());
    Parts &w = *f.window;
    QFile::remove(QString::fromStdString(store.path("bb/gone.htm")));
    w.SetStatusText(2, QStringLiteral("http://old/"));

    w.Tree->setCurrentItem(f.hostNode(QStringLiteral("[bb.net]")));
    QCOMPARE(shownNames(w), (QStringList{"abc.htm", "a_b.htm", "Zed.htm"}));
    QCOMPARE(caption(w, 0), QStringLiteral("缓存文件↓"));
    QCOMPARE(caption(w, 1), QStringLiteral("类型"));
    QCOMPARE(w.StatusText(1), QStringLiteral("文档共3项"));
    QCOMPARE(w.StatusText(2), QString());
    QVERIFY(w.state.list_ready);
    QCOMPARE(w.lister->report()->palette().color(QPalette::Base), w.window.palette().color(QPalette::Base));
    QCOMPARE(w.state.cache_list.size(), size_t(5)); // the purge dropped the missing file
    // Byte for byte the host's run of the catalogue.
    for (const Tcachedata &r : w.state.view_list)
        QCOMPARE(QByteArray(UrlHost(SourceUrl(r)).data(), 6), QByteArray("bb.net"));
}

void TestDocumentList::nodeChangedDuringFillWins()
{
    TestStore store;
    store.add("http://aa.net/a.htm", "aa/a.htm", "a");
    store.add("http://bb.net/b1.htm", "bb/b1.htm", "b");
    store.add("http://bb.net/b2.htm", "bb/b2.htm", "b");
    Fixture f;
    QVERIFY(f.open());
    Parts &w = *f.window;
    // A click on [bb.net] arrives while the fill of [aa.net] lets pending events run.
    QTimer::singleShot(0, &w.window, [&w, &f] { w.Tree->setCurrentItem(f.hostNode(QStringLiteral("[bb.net]"))); });
    w.Tree->setCurrentItem(f.hostNode(QStringLiteral("[aa.net]")));
    QCOMPARE(w.Tree->currentItem(), f.hostNode(QStringLiteral("[bb.net]")));
    QCOMPARE(shownNames(w), (QStringList{"b1.htm", "b2.htm"}));
    QCOMPARE(w.StatusText(1), QStringLiteral("文档共2项"));
    QVERIFY(!w.lister->inBatchUpdate());
    QVERIFY(w.state.list_ready);
}

void TestDocumentList::cacheRootKeepsRowsAndClearsSelection()
{
    TestStore store;
    for (int i = 0; i < 60; ++i)
        store.add("http://h.net/" + std::to_string(i) + ".htm", "h/" + std::to_string(100 + i) + ".htm", "x");
    Fixture f;
    QVERIFY(f.open());
    Parts &w = *f.window;
    w.Tree->setCurrentItem(f.hostNode(QStringLiteral("[h.net]")));
    QCOMPARE(w.lister->rowCount(), 60);
    auto *sel = w.lister->selectionModel();
    sel->setCurrentIndex(w.documents->model()->index(40, 0),
                         QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    w.lister->report()->scrollToBottom();
    QVERIFY(w.lister->report()->verticalScrollBar()->value() > 0);
    // Reverse the order, so that the re-sort of the cache root shows.
    w.documents->SortView(0, true);
    QCOMPARE(fileNameAt(w, 0), QStringLiteral("159.htm"));

    w.Tree->setCurrentItem(w.TreeNode(CacheRoot));
    QCOMPARE(w.lister->rowCount(), 60);
    QCOMPARE(w.lister->firstSelectedRow(), -1);
    QVERIFY(!sel->currentIndex().isValid() || sel->currentIndex().row() != 40);
    QCOMPARE(w.lister->report()->verticalScrollBar()->value(), 0);
    QCOMPARE(fileNameAt(w, 0), QStringLiteral("159.htm")); // re-sorted, still descending
    QCOMPARE(caption(w, 0), QStringLiteral("缓存文件↑"));
    QCOMPARE(w.StatusText(1), QStringLiteral("文档共60项"));
}

void TestDocumentList::reloadEmptiesTheList()
{
    TestStore store;
    store.add("http://h.net/1.htm", "1.htm", "1");
    store.add("http://h.net/2.htm", "2.htm", "2");
    Fixture f;
    QVERIFY(f.open());
    Parts &w = *f.window;
    w.Tree->setCurrentItem(f.hostNode(QStringLiteral("[h.net]")));
    QCOMPARE(w.lister->rowCount(), 2);
    w.loader->LoadCatalogue(false);
    QCOMPARE(w.lister->rowCount(), 0);
    QCOMPARE(w.state.view_list.size(), size_t(2)); // released by the next fill only
    w.documents->TreeChange(w.TreeNode(CacheRoot));
    QCOMPARE(w.lister->rowCount(), 0);
    QCOMPARE(w.StatusText(1), QStringLiteral("文档共0项"));
}

void TestDocumentList::collectBoxAndSearchStation()
{
    TestStore store;
    store.add("http://a.net/x.htm", "x.htm", "x");
    store.add("http://b.net/y.htm", "y.htm", "y");
    store.add("http://c.net/w.htm", "w.htm", "w");
    Fixture f;
    QVERIFY(f.open());
    Parts &w = *f.window;

    w.Tree->setCurrentItem(w.TreeNode(CollectRoot));
    QCOMPARE(w.lister->rowCount(), 0);
    QCOMPARE(w.StatusText(1), QStringLiteral("文档共0项"));
    QCOMPARE(w.lister->report()->palette().color(QPalette::Base), w.window.palette().color(QPalette::Button));
    QCOMPARE(w.lister->report()->palette().color(QPalette::Text), w.window.palette().color(QPalette::Text));

    w.Tree->setCurrentItem(w.TreeNode(SearchRoot));
    QCOMPARE(w.lister->rowCount(), 0);
    QCOMPARE(w.lister->report()->palette().color(QPalette::Base), w.window.palette().color(QPalette::Base));

    for (const CatalogueEntry &e : w.state.cache_list) {
        w.state.search_list.push_back(e);
        if (QByteArray(SourceUrl(e)).contains("c.net") || QByteArray(SourceUrl(e)).contains("a.net"))
            w.state.collect_list.push_back(MakeHeaderCopy(MakeViewRecord(e)));
    }
    w.documents->TreeChange(w.TreeNode(SearchRoot)); // as the search refreshes it
    QCOMPARE(shownNames(w), (QStringList{"w.htm", "x.htm", "y.htm"}));
    QCOMPARE(w.StatusText(1), QStringLiteral("文档共3项"));
    w.Tree->setCurrentItem(w.TreeNode(CollectRoot));
    QCOMPARE(shownNames(w), (QStringList{"w.htm", "x.htm"}));
    QCOMPARE(w.StatusText(1), QStringLiteral("文档共2项"));
}

void TestDocumentList::ignoredWhileTreeNotReady()
{
    TestStore store;
    store.add("http://a.net/x.htm", "x.htm", "x");
    store.add("http://b.net/y.htm", "y.htm", "y");
    Fixture f;
    QVERIFY(f.open());
    Parts &w = *f.window;
    w.Tree->setCurrentItem(f.hostNode(QStringLiteral("[a.net]")));
    QCOMPARE(shownNames(w), QStringList{"x.htm"});
    w.state.tree_ready = false;
    w.SetStatusText(1, QStringLiteral("busy"));
    w.SetStatusText(2, QStringLiteral("http://a.net/x.htm"));
    w.Tree->setCurrentItem(f.hostNode(QStringLiteral("[b.net]")));
    QCOMPARE(shownNames(w), QStringList{"x.htm"});
    QCOMPARE(w.StatusText(1), QStringLiteral("busy"));
    QCOMPARE(w.StatusText(2), QStringLiteral("http://a.net/x.htm"));
    w.state.tree_ready = true;
}

void TestDocumentList::caseVariantsShowAllTheirDocuments()
{
    TestStore store;
    store.add("http://Bb.net/1.htm", "1.htm", "1");
    store.add("http://bb.net/2.htm", "2.htm", "2");
    store.add("http://Bb.net/3.htm", "3.htm", "3");
    store.add("http://bB.net/4.htm", "4.htm", "4");
    Fixture f;
    QVERIFY(f.open());
    Parts &w = *f.window;
    // Each host text forms one run, in the order of its bytes among its letter-case variants:
    // one node each, showing every document of that host text.
    QTreeWidgetItem *cache = w.TreeNode(CacheRoot);
    QCOMPARE(cache->childCount(), 3);
    QCOMPARE(cache->child(0)->text(0), QStringLiteral("[Bb.net]"));
    QCOMPARE(cache->child(1)->text(0), QStringLiteral("[bB.net]"));
    QCOMPARE(cache->child(2)->text(0), QStringLiteral("[bb.net]"));
    w.Tree->setCurrentItem(cache->child(0));
    QCOMPARE(shownNames(w), (QStringList{"1.htm", "3.htm"}));
    for (int i = 0; i < cache->childCount(); ++i) {
        QTreeWidgetItem *node = cache->child(i);
        const std::string host(NodeHost(node));
        QStringList expected;
        bool matched = false;
        for (const CatalogueEntry &e : w.state.cache_list) {
            if (UrlHost(SourceUrl(e)) == host) {
                matched = true;
                expected << QString::fromUtf8(FileNamePart(LocalFileName(e)).data());
            } else if (matched) {
                break;
            }
        }
        expected.sort();
        w.Tree->setCurrentItem(node);
        QCOMPARE(shownNames(w), expected);
    }
}

void TestDocumentList::sizesShowAndSort()
{
    TestStore store;
    store.add("http://s.net/a.htm", "a.htm", "x").size = 4294967296ull;
    store.add("http://s.net/b.htm", "b.htm", "x").size = 70000;
    store.add("http://s.net/c.htm", "c.htm", "x").size = 5;
    Fixture f;
    QVERIFY(f.open());
    Parts &w = *f.window;
    w.Tree->setCurrentItem(f.hostNode(QStringLiteral("[s.net]")));
    DocumentListModel *m = w.documents->model();
    QCOMPARE(m->data(m->index(0, 2)).toString(), QStringLiteral("4294967296"));
    QCOMPARE(m->data(m->index(1, 2)).toString(), QStringLiteral("70000"));
    w.documents->SortView(2, true);
    QCOMPARE(shownNames(w), (QStringList{"c.htm", "b.htm", "a.htm"}));
    QCOMPARE(caption(w, 2), QStringLiteral("大小↓"));
}

void TestDocumentList::typeNamesOnlyForVisibleRowsOnce()
{
    TestStore store;
    for (int i = 0; i < 300; ++i)
        store.add("http://t.net/" + std::to_string(i) + ".htm", "t/" + std::to_string(1000 + i) + ".htm", "<p>");
    Fixture f;
    QVERIFY(f.open());
    Parts &w = *f.window;
    std::map<std::string, int> asked;
    w.documents->model()->setShellLookup([&](const char *path, ShellFileInfo &info) {
        ++asked[path];
        info.typeName = QStringLiteral("网页");
        info.iIcon = -1;
        return true;
    });
    w.Tree->setCurrentItem(f.hostNode(QStringLiteral("[t.net]")));
    QCOMPARE(w.lister->rowCount(), 300);
    QTRY_VERIFY(!asked.empty()); // the first paint hinted the visible rows
    const auto [first, last] = w.lister->visibleRows();
    QCOMPARE(first, 0);
    QVERIFY(last > 0 && last < 299);
    QCOMPARE(int(asked.size()), last - first + 1);
    QVERIFY(w.state.view_list[299].bShellInfoPending);
    QVERIFY(w.state.view_list[299].strTypeName.isEmpty());
    QCOMPARE(w.documents->model()->data(w.documents->model()->index(0, 1)).toString(), QStringLiteral("网页"));

    w.lister->report()->scrollToBottom();
    QTRY_VERIFY(!w.state.view_list[299].bShellInfoPending);
    const std::size_t afterDown = asked.size();
    QVERIFY(afterDown < 300);
    w.lister->report()->scrollToTop();
    QTest::qWait(50);
    w.lister->report()->scrollToBottom();
    QTest::qWait(50);
    QCOMPARE(asked.size(), afterDown);
    for (const auto &[path, times] : asked)
        QCOMPARE(times, 1);
}

void TestDocumentList::sortByTypeOrdersRowsNeverShown()
{
    TestStore store;
    const char *extensions[] = {".htm", ".css", ".js", ".gif", ".jpg", ".txt", ".png", ".zzq"};
    for (int i = 0; i < 400; ++i) {
        const std::string name = std::to_string(1000 + i) + extensions[(i * 5) % std::size(extensions)];
        store.add("http://t.net/" + name, "t/" + name, "plain words");
    }
    Fixture f;
    QVERIFY(f.open());
    Parts &w = *f.window;
    w.Tree->setCurrentItem(f.hostNode(QStringLiteral("[t.net]")));
    QCOMPARE(w.lister->rowCount(), 400);
    QTRY_VERIFY(!w.state.view_list[0].bShellInfoPending); // the first screen is drawn
    QVERIFY(w.lister->visibleRows().second < 399);

    w.documents->listerColumnClick(DocumentListModel::TypeColumn);
    QCOMPARE(caption(w, DocumentListModel::TypeColumn), QStringLiteral("类型↓"));
    auto typeNames = [&] {
        QStringList names;
        for (int row = 0; row < w.lister->rowCount(); ++row)
            names << w.documents->model()
                         ->data(w.documents->model()->index(row, DocumentListModel::TypeColumn))
                         .toString();
        return names;
    };
    const QStringList sorted = typeNames();
    QVERIFY(!sorted.contains(QString()));
    for (std::size_t i = 0; i + 1 < w.state.view_list.size(); ++i)
        QVERIFY2(CompareView(w.state.view_list[i], w.state.view_list[i + 1], SortByTypeName, 1) <= 0,
                 qPrintable(sorted[qsizetype(i)] + " > " + sorted[qsizetype(i) + 1]));
    // Only the names were looked up for the rows not shown: their icons wait.
    QVERIFY(w.state.view_list[399].bShellInfoPending);

    // Scrolled through, every row shows the name it was sorted by.
    QScrollBar *bar = w.lister->report()->verticalScrollBar();
    while (bar->value() < bar->maximum()) {
        bar->setValue(bar->value() + bar->pageStep());
        QTest::qWait(1);
    }
    QTRY_VERIFY(!w.state.view_list[399].bShellInfoPending);
    QCOMPARE(typeNames(), sorted);
}

void TestDocumentList::largeIconsWrapLongNamesOverTwoLines()
{
    const QString longName = QStringLiteral("a-rather-long-cached-document-name-that-goes-on[1].htm");
    TestStore store;
    store.add("http://a.net/long.htm", longName.toStdString(), "x");
    store.add("http://a.net/x.htm", "x.htm", "x");
    Fixture f;
    QVERIFY(f.open());
    Parts &w = *f.window;
    w.Tree->setCurrentItem(f.hostNode(QStringLiteral("[a.net]")));
    w.documents->m_VsIconClick(false);
    QListView *icons = w.lister->iconView();
    QCOMPARE(fileNameAt(w, 0), longName);

    // The lines: the name wraps anywhere, the second line is cut in its middle.
    const int width = icons->gridSize().width() - 4;
    const QStringList lines = IconCaptionLines(longName, icons->font(), width);
    QCOMPARE(lines.size(), 2);
    QVERIFY(longName.startsWith(lines[0]));
    QVERIFY2(lines[1].contains(QChar(0x2026)) && lines[1].endsWith(QStringLiteral(".htm")),
             qPrintable(lines.join(u'|')));
    QCOMPARE(IconCaptionLines(QStringLiteral("x.htm"), icons->font(), width), QStringList{"x.htm"});

    // On the screen: below the long name's icon, two bands of text, one above the other.
    QTRY_VERIFY(icons->isVisible());
    const QRect item = icons->visualRect(w.documents->model()->index(0, 0));
    const QImage shot = icons->viewport()->grab().toImage();
    QList<int> inkRows; // the icon is grey, the text black
    for (int y = item.top() + icons->iconSize().height(); y <= std::min(item.bottom(), shot.height() - 1); ++y) {
        int dark = 0;
        for (int x = item.left(); x <= item.right(); ++x)
            dark += qGray(shot.pixel(x, y)) < 60;
        if (dark > 0)
            inkRows << y;
    }
    int bands = inkRows.isEmpty() ? 0 : 1;
    for (int i = 1; i < inkRows.size(); ++i)
        bands += inkRows[i] > inkRows[i - 1] + 3; // a line's own marks lie closer than that
    QCOMPARE(bands, 2);
    QVERIFY(inkRows.last() - inkRows.first() >= QFontMetrics(icons->font()).lineSpacing());
}

void TestDocumentList::typingSelectsNothing()
{
    TestStore store;
    for (const char *n : {"apple.htm", "banana.htm", "cherry.htm"})
        store.add(std::string("http://k.net/") + n, n, "x");
    Fixture f;
    QVERIFY(f.open());
    Parts &w = *f.window;
    w.Tree->setCurrentItem(f.hostNode(QStringLiteral("[k.net]")));
    DocumentListModel *m = w.documents->model();
    w.lister->selectionModel()->setCurrentIndex(m->index(0, 0),
                                                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    w.lister->report()->setFocus();
    QTest::keyClicks(w.lister->report(), QStringLiteral("c"));
    QTest::keyClicks(w.lister->report(), QStringLiteral("ban"));
    QCOMPARE(w.lister->selectionModel()->currentIndex().row(), 0);
    QCOMPARE(w.documents->selectedRows(), QList<int>{0});
    w.documents->m_VsIconClick(false);
    w.lister->iconView()->setFocus();
    QTest::keyClicks(w.lister->iconView(), QStringLiteral("c"));
    QCOMPARE(w.lister->selectionModel()->currentIndex().row(), 0);
}

void TestDocumentList::headerClickSorts()
{
    TestStore store;
    store.add("http://s.net/a.htm", "a.htm", "333");
    store.add("http://s.net/b.htm", "b.htm", "1");
    store.add("http://s.net/c.htm", "c.htm", "22");
    Fixture f;
    QVERIFY(f.open());
    Parts &w = *f.window;
    w.Tree->setCurrentItem(f.hostNode(QStringLiteral("[s.net]")));
    QHeaderView *header = w.lister->report()->header();
    auto clickSection = [&](int section) {
        const int x = header->sectionViewportPosition(section) + header->sectionSize(section) / 2;
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
    };
    QSignalSpy keys(w.documents, &DocumentList::sortKeyChanged);
    clickSection(2);
    QCOMPARE(w.state.sort_key, std::uint8_t(2));
    QCOMPARE(shownNames(w), (QStringList{"b.htm", "c.htm", "a.htm"}));
    QCOMPARE(caption(w, 2), QStringLiteral("大小↓"));
    QCOMPARE(caption(w, 0), QStringLiteral("缓存文件"));
    QCOMPARE(keys.last().value(0).toInt(), 2); // the sort menu shows it
    clickSection(2);
    QCOMPARE(w.state.sort_dir, -1);
    QCOMPARE(caption(w, 2), QStringLiteral("大小↑"));
    QCOMPARE(shownNames(w), (QStringList{"a.htm", "c.htm", "b.htm"}));
    clickSection(0); // another column keeps the direction
    QCOMPARE(caption(w, 0), QStringLiteral("缓存文件↑"));
    QCOMPARE(shownNames(w), (QStringList{"c.htm", "b.htm", "a.htm"}));
}

void TestDocumentList::rowStateSignal()
{
    TestStore store;
    for (const char *n : {"a.htm", "b.htm", "c.htm"})
        store.add(std::string("http://r.net/") + n, n, "x");
    Fixture f;
    QVERIFY(f.open());
    Parts &w = *f.window;
    QSignalSpy spy(w.lister, &Lister::rowStateChanged);
    w.Tree->setCurrentItem(f.hostNode(QStringLiteral("[r.net]")));
    QCOMPARE(spy.size(), 0); // not while filling
    DocumentListModel *m = w.documents->model();
    const QRect rect = w.lister->report()->visualRect(m->index(1, 0));
    QTest::mouseClick(w.lister->report()->viewport(), Qt::LeftButton, {}, rect.center());
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.last().at(0).toInt(), 1);
    w.lister->report()->setFocus();
    QTest::keyClick(w.lister->report(), Qt::Key_Down);
    QCOMPARE(spy.last().at(0).toInt(), 2);
    const int before = int(spy.size());
    QTest::keyClick(w.lister->report(), Qt::Key_Space, Qt::ControlModifier); // deselect the focused row
    QCOMPARE(int(spy.size()), before);
    w.lister->selectAllRows(); // selected while focused
    QCOMPARE(int(spy.size()), before + 1);
    QCOMPARE(spy.last().at(0).toInt(), 2);
    w.lister->selectAllRows(); // the focused row was selected already: nothing to report
    QCOMPARE(int(spy.size()), before + 1);
}

void TestDocumentList::selectionAccessors()
{
    TestStore store;
    for (int i = 0; i < 8; ++i)
        store.add("http://s.net/" + std::to_string(i) + ".htm", std::to_string(i) + ".htm", "x");
    Fixture f;
    QVERIFY(f.open());
    Parts &w = *f.window;
    w.Tree->setCurrentItem(f.hostNode(QStringLiteral("[s.net]")));
    DocumentListModel *m = w.documents->model();
    auto *sel = w.lister->selectionModel();
    QCOMPARE(w.documents->firstSelectedRow(), -1);
    sel->select(m->index(6, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    sel->setCurrentIndex(m->index(3, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    sel->select(m->index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QCOMPARE(w.documents->selectedRows(), (QList<int>{1, 3, 6}));
    QCOMPARE(w.documents->firstSelectedRow(), 1);
    w.lister->selectAllRows();
    QCOMPARE(w.lister->selectedRows().size(), 8);
    QCOMPARE(sel->currentIndex().row(), 3);
    w.lister->clearSelectionAndScrollTop();
    QCOMPARE(w.lister->firstSelectedRow(), -1);
}

void TestDocumentList::dragOfRows()
{
    TestStore store;
    for (int i = 0; i < 3; ++i)
        store.add("http://d.net/" + std::to_string(i) + ".htm", std::to_string(i) + ".htm", "x");
    Fixture f;
    QVERIFY(f.open());
    Parts &w = *f.window;
    w.Tree->setCurrentItem(f.hostNode(QStringLiteral("[d.net]")));
    w.lister->listerStartDrag(1);
    QVERIFY(!w.lister->dragShowsSeveral());
    QCOMPARE(w.lister->report()->selectionBehavior(), QAbstractItemView::SelectItems);
    w.lister->listerEndDrag();
    QCOMPARE(w.lister->report()->selectionBehavior(), QAbstractItemView::SelectRows);
    w.lister->listerStartDrag(2);
    QVERIFY(w.lister->dragShowsSeveral());
    w.lister->listerEndDrag();
    DocumentListModel *m = w.documents->model();
    std::unique_ptr<QMimeData> mime(m->mimeData({m->index(2, 0), m->index(0, 3), m->index(0, 0)}));
    QCOMPARE(mime->formats(), QStringList{DocumentListModel::RowsMimeType});
    QCOMPARE(mime->data(DocumentListModel::RowsMimeType), QByteArray("0,2"));
    QVERIFY(w.lister->report()->dragEnabled());
}

void TestDocumentList::setRowCountFromOtherConcerns()
{
    TestStore store;
    for (int i = 0; i < 4; ++i)
        store.add("http://s.net/" + std::to_string(i) + ".htm", std::to_string(i) + ".htm", "x");
    Fixture f;
    QVERIFY(f.open());
    Parts &w = *f.window;
    w.Tree->setCurrentItem(f.hostNode(QStringLiteral("[s.net]")));
    // As the delete command does: remove records, then set the count.
    w.state.view_list.erase(w.state.view_list.begin() + 1);
    w.documents->setRowCount(int(w.state.view_list.size()));
    QCOMPARE(shownNames(w), (QStringList{"0.htm", "2.htm", "3.htm"}));
    w.documents->setRowCount(0);
    QCOMPARE(w.lister->rowCount(), 0);
    QTest::qWait(20); // a late repaint reads nothing
}

void TestDocumentList::modelTester()
{
    TestStore store;
    for (int i = 0; i < 5; ++i)
        store.add("http://s.net/" + std::to_string(i) + ".htm", std::to_string(i) + ".htm", "x");
    store.add("http://t.net/x.htm", "x.htm", "x");
    Fixture f;
    QVERIFY(f.open());
    Parts &w = *f.window;
    QAbstractItemModelTester tester(w.documents->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    w.Tree->setCurrentItem(f.hostNode(QStringLiteral("[s.net]")));
    w.Tree->setCurrentItem(f.hostNode(QStringLiteral("[t.net]")));
    w.Tree->setCurrentItem(w.TreeNode(CacheRoot));
    w.documents->SortView(1, true);
    w.loader->LoadCatalogue(false);
    QTest::qWait(20);
}

void TestDocumentList::largeHostFillsAndScrollsFast()
{
    TestStore store;
    for (int i = 0; i < 20000; ++i)
        store.add("http://big.net/p" + std::to_string(i) + ".htm",
                  "big/" + std::to_string((i * 7919) % 20000) + "[1].htm", "x");
    Fixture f;
    QVERIFY(f.open());
    Parts &w = *f.window;
    int asked = 0;
    w.documents->model()->setShellLookup([&](const char *, ShellFileInfo &) { return ++asked, false; });
    QElapsedTimer timer;
    timer.start();
    w.Tree->setCurrentItem(f.hostNode(QStringLiteral("[big.net]")));
    const qint64 fillMs = timer.elapsed();
    QCOMPARE(w.lister->rowCount(), 20000);
    QCOMPARE(fileNameAt(w, 0), QStringLiteral("0[1].htm"));
    QCOMPARE(w.StatusText(1), QStringLiteral("文档共20000项"));
    timer.restart();
    QScrollBar *bar = w.lister->report()->verticalScrollBar();
    for (int step = 0; step < 50; ++step) {
        bar->setValue(bar->maximum() * step / 50);
        QCoreApplication::processEvents();
    }
    const qint64 scrollMs = timer.elapsed();
    qInfo("fill %lld ms, 50 scroll steps %lld ms, %d lookups", fillMs, scrollMs, asked);
    QVERIFY2(fillMs < 3000, qPrintable(QString::number(fillMs)));
    QVERIFY(asked < 20000);
    timer.restart();
    w.documents->SortView(0, true);
    qInfo("re-sort %lld ms", timer.elapsed());
    timer.restart();
    w.documents->m_VsIconClick(false);
    QCoreApplication::processEvents();
    QScrollBar *iconBar = w.lister->iconView()->verticalScrollBar();
    for (int step = 0; step < 50; ++step) {
        iconBar->setValue(iconBar->maximum() * step / 50);
        QCoreApplication::processEvents();
    }
    qInfo("icon view and 50 scroll steps %lld ms, %d lookups", timer.elapsed(), asked);
    const auto [first, last] = w.lister->visibleRows();
    QVERIFY(first >= 0 && last >= first);
    QVERIFY(!w.state.view_list[std::size_t(first)].bShellInfoPending);
    QVERIFY(!w.state.view_list[std::size_t(last)].bShellInfoPending);
}

QTEST_MAIN(TestDocumentList)
#include "tst_documentlist.moc"
