// The collect box over the bare panels, with its label and indicator: the commands, the drops
// on the label and the tree, and the drag of the files out.

#include "app/collectbox.h"
#include "app/lister.h"
#include "app/treenodes.h"
#include "catalogue/documentlistmodel.h"
#include "collections/collectbox.h"
#include "concernsupport.h"
#include "rendering.h"
#include "support.h"
#include "windows/copydialog.h"
#include "windows/pictures.h"

#include <QDrag>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <QtTest>

namespace {

// The indicator as it must look for an empty (0) or a filled (1) box.
QImage expectedIndicator(const QPalette &palette, int image)
{
    QPixmap picture(35, 33);
    picture.fill(palette.color(QPalette::Dark));
    QPainter painter(&picture);
    painter.drawPixmap(2, 1, CollectBoxImage(image));
    painter.end();
    return picture.toImage().convertToFormat(QImage::Format_RGB32);
}

// What one drag out of the label offered.
struct OfferedDrag {
    QList<QUrl> urls;
    QStringList formats;
    Qt::DropActions actions;
    QImage picture;
};

} // namespace

class TestCollectBox : public QObject {
    Q_OBJECT
private slots:
    void cleanup();

    void sendAddsSelectedRowsInRowOrder();
    void caseVariantsCountOnce();
    void dropOnLabel();
    void dragOverLabel_data();
    void dragOverLabel();
    void dragOverTree_data();
    void dragOverTree();
    void dropOnTreeOnlyOnCollectRoot();
    void doubleClickShowsTheBox();
    void removeMatchesRowsByName();
    void removeLeavesNothingSelected();
    void clearLeavesHostListAlone();
    void clearWhileShownEmptiesTheList();
    void hintCountsAfterReload();
    void dragOutThreshold_data();
    void dragOutThreshold();
    void moveBeforeAnyPressStartsNothing();
    void rightButtonMenuWaitsForRelease();
    void dragOfferedFilesInBoxOrder();
    void saveAllCopiesEveryFile();

private:
    // The shown panels over a store: host "h.net" with six documents a..f and host "q.net"
    // with two whose file names differ only in letter case; the box's label `lab_collect`
    // over its indicator `Image1`, as the window stacks them.
    struct Fixture {
        TestStore store;
        Panels p;
        QWidget *hand = nullptr;
        QLabel *Image1 = nullptr;
        QLabel *lab_collect = nullptr;
        std::unique_ptr<CollectBox> box;
        QList<OfferedDrag> drags;
        int menus = 0; // the label's context menu, as the window would show it

        bool open()
        {
            for (const char *name : {"f", "c", "a", "e", "b", "d"})
                store.add(std::string("http://h.net/") + name + ".htm", std::string(name) + ".htm",
                          std::string("content of ") + name);
            store.add("http://q.net/upper.htm", "Q.htm", "upper");
            store.add("http://q.net/lower.htm", "q.htm", "lower");
            hand = new QWidget(&p.host);
            hand->setFixedSize(35, 33);
            Image1 = new QLabel(hand);
            lab_collect = new QLabel(hand);
            for (QLabel *label : {Image1, lab_collect})
                label->setFixedSize(35, 33);
            lab_collect->setContextMenuPolicy(Qt::CustomContextMenu);
            QObject::connect(lab_collect, &QWidget::customContextMenuRequested, [this] { ++menus; });
            static_cast<QVBoxLayout *>(p.host.layout())->insertWidget(0, hand);
            box = std::make_unique<CollectBox>(p.state, p.lister, p.Tree, lab_collect, Image1, p.saver);
            QObject::connect(box.get(), &CollectBox::rowCountChanged, &p.documents, &DocumentList::setRowCount);
            box->setDragRunner([this](QDrag &drag, Qt::DropActions actions) {
                drags.append({drag.mimeData()->urls(), drag.mimeData()->formats(), actions, drag.pixmap().toImage()});
            });
            box->DrawCollectIndicator(0);
            p.load();
            p.host.resize(900, 600);
            p.host.show();
            return QTest::qWaitForWindowExposed(&p.host);
        }
        QTreeWidgetItem *host(const QString &name) const
        {
            QTreeWidgetItem *cache = p.node(CacheRoot);
            for (int i = 0; i < cache->childCount(); ++i)
                if (cache->child(i)->text(0) == QLatin1Char('[') + name + QLatin1Char(']'))
                    return cache->child(i);
            return nullptr;
        }
        void show(QTreeWidgetItem *node) { p.Tree->setCurrentItem(node); }
        void select(std::initializer_list<int> rows) { p.select(rows); }
        QString fileAt(int row) const { return QString::fromUtf8(LocalFileName(p.state.view_list[std::size_t(row)])); }
        QString file(const char *name) const { return QString::fromStdString(store.path(name)); }
        QStringList collected() const { return CollectedPaths(p.state.collect_list); }
        QImage indicator() const { return Image1->pixmap().toImage().convertToFormat(QImage::Format_RGB32); }
        // Sends rows `rows` of the host "h.net" to the box one send at a time.
        void collect(std::initializer_list<int> rows)
        {
            show(host("h.net"));
            for (int row : rows) {
                select({row});
                box->ASendtoBoxExecute();
            }
        }
        QString caption() const { return p.node(CollectRoot)->text(0); }
        QString hint() const { return lab_collect->toolTip(); }
        QMimeData *rowsData() const
        {
            QModelIndexList indexes;
            for (int row : p.lister->selectedRows())
                indexes << p.documents.model()->index(row, 0);
            return p.documents.model()->mimeData(indexes);
        }
        // A drag onto `target` as the window delivers it: an enter at `enterAt`, a move to
        // `at`, then a drop there or a leave (either ends the drag's hold on the target).
        struct DragOutcome {
            bool entered = false;
            bool moved = false;
            bool dropped = false;
        };
        static DragOutcome dragOnto(QWidget *target, const QMimeData *data, QPoint enterAt, QPoint at, bool drop)
        {
            DragOutcome outcome;
            QDragEnterEvent enter(enterAt, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(target, &enter);
            outcome.entered = enter.isAccepted();
            QDragMoveEvent move(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(target, &move);
            outcome.moved = move.isAccepted();
            if (drop) {
                QDropEvent dropEvent(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
                QCoreApplication::sendEvent(target, &dropEvent);
                outcome.dropped = dropEvent.isAccepted() && dropEvent.dropAction() == Qt::CopyAction;
            } else {
                QDragLeaveEvent leave;
                QCoreApplication::sendEvent(target, &leave);
            }
            return outcome;
        }
        QPoint centreOf(QTreeWidgetItem *node) const { return p.Tree->visualItemRect(node).center(); }
        // Sends a mouse event to the label, as the window system would deliver it.
        void mouse(QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers,
                   QPoint at)
        {
            QLabel *label = lab_collect;
            QMouseEvent event(type, at, label->mapToGlobal(at), button, buttons, modifiers);
            QCoreApplication::sendEvent(label, &event);
        }
    };
};

void TestCollectBox::cleanup()
{
    SetReplaceQuestionResponder({});
}

void TestCollectBox::sendAddsSelectedRowsInRowOrder()
{
    Fixture f;
    QVERIFY(f.open());
    const QImage empty = expectedIndicator(f.p.host.palette(), 0);
    const QImage full = expectedIndicator(f.p.host.palette(), 1);
    QVERIFY(empty != full);
    QCOMPARE(f.indicator(), empty);

    f.show(f.host("h.net"));
    QCOMPARE(f.p.lister->rowCount(), 6);
    f.select({5, 3});
    f.box->ASendtoBoxExecute();
    QCOMPARE(f.collected(), (QStringList{f.fileAt(3), f.fileAt(5)}));
    QCOMPARE(f.caption(), QStringLiteral("采集盒(2)"));
    QCOMPARE(f.hint(), QStringLiteral("采集盒-现在有个2文档"));
    QCOMPARE(f.indicator(), full);
    // The list and its selection stay as they were.
    QCOMPARE(f.p.lister->selectedRows(), (QList<int>{3, 5}));
    QCOMPARE(f.p.Tree->currentItem(), f.host("h.net"));

    f.box->ASendtoBoxExecute();
    QCOMPARE(f.collected(), (QStringList{f.fileAt(3), f.fileAt(5)}));
    QCOMPARE(f.caption(), QStringLiteral("采集盒(2)"));
    QCOMPARE(f.hint(), QStringLiteral("采集盒-现在有个2文档"));
    QCOMPARE(f.indicator(), full);

    f.select({0, 3, 4});
    f.box->ASendtoBoxExecute();
    QCOMPARE(f.collected(), (QStringList{f.fileAt(3), f.fileAt(5), f.fileAt(0), f.fileAt(4)}));
    QCOMPARE(f.hint(), QStringLiteral("采集盒-现在有个4文档"));
    QVERIFY(f.p.answerer.asked.isEmpty());
}

void TestCollectBox::caseVariantsCountOnce()
{
    Fixture f;
    QVERIFY(f.open());
    f.show(f.host("q.net"));
    QCOMPARE(f.p.lister->rowCount(), 2);
    f.select({0, 1});
    f.box->ASendtoBoxExecute();
    QCOMPARE(f.collected(), QStringList{f.fileAt(0)});

    // One at a time, the other way round: still one.
    f.box->AClearCollectDocExecute();
    f.select({1});
    f.box->ASendtoBoxExecute();
    f.select({0});
    f.box->ASendtoBoxExecute();
    QCOMPARE(f.collected(), QStringList{f.fileAt(1)});
    QCOMPARE(f.caption(), QStringLiteral("采集盒(1)"));
}

void TestCollectBox::dropOnLabel()
{
    Fixture f;
    QVERIFY(f.open());
    QLabel *label = f.lab_collect;
    f.show(f.host("h.net"));
    f.select({1, 2});
    std::unique_ptr<QMimeData> rows(f.rowsData());
    QVERIFY(Fixture::dragOnto(label, rows.get(), QPoint(5, 5), QPoint(6, 6), true).dropped);
    QCOMPARE(f.collected(), (QStringList{f.fileAt(1), f.fileAt(2)}));
    QCOMPARE(f.caption(), QStringLiteral("采集盒(2)"));

    // With the box shown, its own rows dropped on the label are all there already.
    f.show(f.p.node(CollectRoot));
    QCOMPARE(f.p.lister->rowCount(), 2);
    f.select({0, 1});
    const QStringList before = f.collected();
    std::unique_ptr<QMimeData> own(f.rowsData());
    QVERIFY(Fixture::dragOnto(label, own.get(), QPoint(5, 5), QPoint(6, 6), true).dropped);
    QCOMPARE(f.collected(), before);
    QCOMPARE(f.caption(), QStringLiteral("采集盒(2)"));

    // Anything but the list's rows adds nothing.
    f.show(f.host("h.net"));
    f.select({4});
    QMimeData foreign;
    foreign.setUrls({QUrl::fromLocalFile(f.fileAt(4))});
    QVERIFY(!Fixture::dragOnto(label, &foreign, QPoint(5, 5), QPoint(6, 6), true).dropped);
    QCOMPARE(f.collected(), before);
}

void TestCollectBox::dragOverLabel_data()
{
    QTest::addColumn<bool>("listRows");
    QTest::newRow("rows of the list") << true;
    QTest::newRow("files from elsewhere") << false;
}

void TestCollectBox::dragOverLabel()
{
    QFETCH(bool, listRows);
    Fixture f;
    QVERIFY(f.open());
    f.show(f.host("h.net"));
    f.select({0});
    std::unique_ptr<QMimeData> data(listRows ? f.rowsData() : new QMimeData);
    if (!listRows)
        data->setUrls({QUrl::fromLocalFile(f.fileAt(0))});
    const auto outcome = Fixture::dragOnto(f.lab_collect, data.get(), QPoint(4, 4), QPoint(6, 6), false);
    QCOMPARE(outcome.entered, listRows);
    QCOMPARE(outcome.moved, listRows);
    QVERIFY(f.collected().isEmpty()); // passing over adds nothing
}

void TestCollectBox::dragOverTree_data()
{
    QTest::addColumn<int>("node");
    QTest::addColumn<bool>("listRows");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("collect box root") << int(CollectRoot) << true << true;
    QTest::newRow("search station root") << int(SearchRoot) << true << false;
    QTest::newRow("cache root") << int(CacheRoot) << true << false;
    QTest::newRow("host") << int(CacheRoot + 1) << true << false;
    QTest::newRow("collect box root, foreign data") << int(CollectRoot) << false << false;
}

void TestCollectBox::dragOverTree()
{
    QFETCH(int, node);
    QFETCH(bool, listRows);
    Fixture f;
    QVERIFY(f.open());
    f.show(f.host("h.net"));
    f.select({2});
    std::unique_ptr<QMimeData> data(listRows ? f.rowsData() : new QMimeData);
    if (!listRows)
        data->setText(QStringLiteral("2"));
    QWidget *viewport = f.p.Tree->viewport();
    const QPoint at = f.centreOf(f.p.node(node));
    QVERIFY(viewport->rect().contains(at));
    // Enter over another node first, as a real drag does, then move over this one.
    const QPoint elsewhere = f.centreOf(f.p.node(node == CacheRoot ? SearchRoot : CacheRoot));
    QTEST(Fixture::dragOnto(viewport, data.get(), elsewhere, at, false).moved, "accepted");
    QVERIFY(f.collected().isEmpty());
}

void TestCollectBox::dropOnTreeOnlyOnCollectRoot()
{
    Fixture f;
    QVERIFY(f.open());
    QWidget *viewport = f.p.Tree->viewport();
    f.show(f.host("h.net"));
    f.select({0, 5});
    std::unique_ptr<QMimeData> data(f.rowsData());
    const QPoint host = f.centreOf(f.host("h.net"));
    const QPoint root = f.centreOf(f.p.node(CollectRoot));
    QVERIFY(!Fixture::dragOnto(viewport, data.get(), root, host, true).dropped);
    QVERIFY(f.collected().isEmpty());
    QCOMPARE(f.p.lister->rowCount(), 6); // the tree's own drop handling never ran

    QVERIFY(Fixture::dragOnto(viewport, data.get(), host, root, true).dropped);
    QCOMPARE(f.collected(), (QStringList{f.fileAt(0), f.fileAt(5)}));
    QCOMPARE(f.p.Tree->currentItem(), f.host("h.net")); // the drop does not show the box
}

void TestCollectBox::doubleClickShowsTheBox()
{
    Fixture f;
    QVERIFY(f.open());
    f.collect({4, 1});
    QCOMPARE(f.p.lister->rowCount(), 6);
    f.p.lister->setFocus();
    QTest::mouseDClick(f.lab_collect, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    QCOMPARE(f.p.Tree->currentItem(), f.p.node(CollectRoot));
    QCOMPARE(f.p.host.focusWidget(), f.p.Tree);
    QCOMPARE(f.p.lister->rowCount(), 2);
    QCOMPARE(f.p.status.text(1), QStringLiteral("文档共2项"));

    // Already shown: the list is not filled again, so a selection survives.
    f.select({1});
    QTest::mouseDClick(f.lab_collect, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    QCOMPARE(f.p.lister->selectedRows(), QList<int>{1});
}

void TestCollectBox::removeMatchesRowsByName()
{
    Fixture f;
    QVERIFY(f.open());
    f.collect({4, 2, 0}); // e, c, a in the box; the list shows them a, c, e
    const QString a = f.file("a.htm"), c = f.file("c.htm"), e = f.file("e.htm");
    QCOMPARE(f.collected(), (QStringList{e, c, a}));
    f.show(f.p.node(CollectRoot));
    QCOMPARE(f.fileAt(0), a);
    f.select({0});
    f.box->ARemoveCollectDocExecute();
    QCOMPARE(f.collected(), (QStringList{e, c}));
    QCOMPARE(f.p.lister->rowCount(), 2);
    QCOMPARE(f.p.status.text(1), QStringLiteral("文档共2项"));
    QCOMPARE(f.fileAt(0), c);
    QCOMPARE(f.fileAt(1), e);
    QCOMPARE(f.caption(), QStringLiteral("采集盒(2)"));
    QCOMPARE(f.hint(), QStringLiteral("采集盒-现在有个2文档"));
    QVERIFY(QFile::exists(a)); // the document leaves the box, not the cache

    f.show(f.host("h.net"));
    f.show(f.p.node(CollectRoot));
    QCOMPARE(f.p.lister->rowCount(), 2);
    QCOMPARE((QStringList{f.fileAt(0), f.fileAt(1)}), (QStringList{c, e}));

    // Several rows at once, the last first.
    f.select({0, 1});
    f.box->ARemoveCollectDocExecute();
    QVERIFY(f.collected().isEmpty());
    QCOMPARE(f.p.lister->rowCount(), 0);
    QCOMPARE(f.caption(), QStringLiteral("采集盒"));
    QCOMPARE(f.indicator(), expectedIndicator(f.p.host.palette(), 0));
}

void TestCollectBox::removeLeavesNothingSelected()
{
    Fixture f;
    QVERIFY(f.open());
    f.collect({0, 1, 2, 3});
    f.show(f.p.node(CollectRoot));
    f.select({0, 1});
    QTRY_VERIFY(RowsPaintedSelected(f.p.lister->report()) > 0);
    f.box->ARemoveCollectDocExecute();
    QCOMPARE(f.p.lister->rowCount(), 2);
    QVERIFY(f.p.lister->selectedRows().isEmpty());
    QCOMPARE(RowsPaintedSelected(f.p.lister->report()), 0);
    QCOMPARE(f.collected().size(), 2);
}

void TestCollectBox::clearLeavesHostListAlone()
{
    Fixture f;
    QVERIFY(f.open());
    f.collect({0, 1, 2});
    QCOMPARE(f.hint(), QStringLiteral("采集盒-现在有个3文档"));
    QCOMPARE(f.indicator(), expectedIndicator(f.p.host.palette(), 1));
    f.select({1, 2});
    QStringList shown;
    for (int row = 0; row < 6; ++row)
        shown << f.fileAt(row);

    f.box->AClearCollectDocExecute();
    QVERIFY(f.collected().isEmpty());
    QCOMPARE(f.p.lister->rowCount(), 6);
    QCOMPARE(f.p.lister->selectedRows(), (QList<int>{1, 2}));
    QStringList after;
    for (int row = 0; row < 6; ++row)
        after << f.fileAt(row);
    QCOMPARE(after, shown);
    QCOMPARE(f.caption(), QStringLiteral("采集盒"));
    QCOMPARE(f.hint(), QStringLiteral("采集盒"));
    QCOMPARE(f.indicator(), expectedIndicator(f.p.host.palette(), 0));
}

void TestCollectBox::clearWhileShownEmptiesTheList()
{
    Fixture f;
    QVERIFY(f.open());
    f.collect({3, 5});
    f.show(f.p.node(CollectRoot));
    QCOMPARE(f.p.lister->rowCount(), 2);
    f.box->AClearCollectDocExecute();
    QCOMPARE(f.p.lister->rowCount(), 0);
    QVERIFY(!f.p.lister->inBatchUpdate());
    QCOMPARE(f.caption(), QStringLiteral("采集盒"));
}

void TestCollectBox::hintCountsAfterReload()
{
    Fixture f;
    QVERIFY(f.open());
    f.collect({0, 1, 2});
    QCOMPARE(f.caption(), QStringLiteral("采集盒(3)"));
    const QStringList paths = f.collected();

    f.p.load();
    QCOMPARE(f.caption(), QStringLiteral("采集盒"));
    QCOMPARE(f.hint(), QStringLiteral("采集盒-现在有个3文档"));
    QCOMPARE(f.indicator(), expectedIndicator(f.p.host.palette(), 1));
    QCOMPARE(f.collected(), paths); // the entries outlive the reload

    f.collect({3});
    QCOMPARE(f.caption(), QStringLiteral("采集盒(4)"));
    QCOMPARE(f.hint(), QStringLiteral("采集盒-现在有个4文档"));
}

void TestCollectBox::dragOutThreshold_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QPoint>("offset");
    QTest::addColumn<bool>("drags");
    const int left = Qt::LeftButton, none = Qt::NoModifier;
    QTest::newRow("left 9 and 9") << left << none << QPoint(9, 9) << false;
    QTest::newRow("left 10 right") << left << none << QPoint(10, 0) << true;
    QTest::newRow("left 10 down") << left << none << QPoint(0, 10) << true;
    QTest::newRow("left with ctrl") << left << int(Qt::ControlModifier) << QPoint(10, 10) << false;
    QTest::newRow("right 10") << int(Qt::RightButton) << none << QPoint(10, 0) << true;
    QTest::newRow("middle 10") << int(Qt::MiddleButton) << none << QPoint(10, 0) << false;
}

void TestCollectBox::dragOutThreshold()
{
    QFETCH(int, button);
    QFETCH(int, modifiers);
    QFETCH(QPoint, offset);
    Fixture f;
    QVERIFY(f.open());
    f.collect({1, 0});
    const auto b = Qt::MouseButton(button);
    const auto m = Qt::KeyboardModifiers(modifiers);
    const QPoint press(3, 2);
    f.mouse(QEvent::MouseButtonPress, b, b, m, press);
    QCOMPARE(f.box->pressPoint(), press);
    f.mouse(QEvent::MouseMove, Qt::NoButton, b, m, press + offset);
    QFETCH(bool, drags);
    QCOMPARE(f.drags.size(), drags ? 1 : 0);
    if (drags)
        QCOMPARE(f.drags[0].urls.size(), 2);
    f.mouse(QEvent::MouseButtonRelease, b, Qt::NoButton, m, press + offset);
}

void TestCollectBox::moveBeforeAnyPressStartsNothing()
{
    Fixture f;
    QVERIFY(f.open());
    f.collect({0});
    QCOMPARE(f.box->pressPoint(), NoPressPoint);
    f.mouse(QEvent::MouseMove, Qt::NoButton, Qt::LeftButton, Qt::NoModifier, QPoint(30, 30));
    QVERIFY(f.drags.isEmpty());
    // Every press counts, whatever the button; the next move measures from it.
    f.mouse(QEvent::MouseButtonPress, Qt::MiddleButton, Qt::MiddleButton, Qt::NoModifier, QPoint(20, 20));
    f.mouse(QEvent::MouseButtonRelease, Qt::MiddleButton, Qt::NoButton, Qt::NoModifier, QPoint(20, 20));
    QCOMPARE(f.box->pressPoint(), QPoint(20, 20));
    f.mouse(QEvent::MouseMove, Qt::NoButton, Qt::LeftButton, Qt::NoModifier, QPoint(11, 20));
    QVERIFY(f.drags.isEmpty());
    f.mouse(QEvent::MouseMove, Qt::NoButton, Qt::LeftButton, Qt::NoModifier, QPoint(10, 20));
    QCOMPARE(f.drags.size(), 1);
}

void TestCollectBox::rightButtonMenuWaitsForRelease()
{
    Fixture f;
    QVERIFY(f.open());
    f.collect({2});
    QWindow *window = f.p.host.windowHandle();
    const QPoint at = f.lab_collect->mapTo(&f.p.host, QPoint(5, 5));

    // Through the window system, where the menu would come with the press.
    QTest::mousePress(window, Qt::RightButton, Qt::NoModifier, at);
    QCOMPARE(f.menus, 0);
    QTest::mouseRelease(window, Qt::RightButton, Qt::NoModifier, at);
    QCOMPARE(f.menus, 1);

    // A drag with the right button shows no menu at all.
    QTest::mousePress(window, Qt::RightButton, Qt::NoModifier, at);
    QTest::mouseMove(window, at + QPoint(12, 0));
    QCOMPARE(f.drags.size(), 1);
    QTest::mouseRelease(window, Qt::RightButton, Qt::NoModifier, at + QPoint(12, 0));
    QCOMPARE(f.menus, 1);
}

void TestCollectBox::dragOfferedFilesInBoxOrder()
{
    Fixture f;
    QVERIFY(f.open());
    // An empty box offers nothing.
    f.mouse(QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));
    f.mouse(QEvent::MouseMove, Qt::NoButton, Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
    QVERIFY(f.drags.isEmpty());

    f.collect({5, 0, 3});
    const QStringList order{f.file("f.htm"), f.file("a.htm"), f.file("d.htm")};
    QCOMPARE(f.collected(), order);
    QVERIFY(QFile::remove(order[1])); // offered anyway: the receiver reports what it cannot copy
    f.mouse(QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));
    f.mouse(QEvent::MouseMove, Qt::NoButton, Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
    QCOMPARE(f.drags.size(), 1);
    const OfferedDrag &drag = f.drags[0];
    QList<QUrl> expected;
    for (const QString &path : order)
        expected << QUrl::fromLocalFile(path);
    QCOMPARE(drag.urls, expected);
    QVERIFY(drag.formats.contains(QStringLiteral("text/uri-list")));
    QVERIFY(!drag.formats.contains(QString::fromLatin1(DocumentListModel::RowsMimeType)));
    QCOMPARE(drag.actions, Qt::DropActions(Qt::CopyAction));
    // No drag picture: nothing but one transparent pixel.
    QCOMPARE(drag.picture.size(), QSize(1, 1));
    QCOMPARE(qAlpha(drag.picture.pixel(0, 0)), 0);
    QCOMPARE(f.collected(), order); // the box itself is left as it was
}

void TestCollectBox::saveAllCopiesEveryFile()
{
    Fixture f;
    QVERIFY(f.open());
    f.collect({4, 1, 2});
    QTemporaryDir target;
    QString proposed;
    f.p.saver.setSaveDialog([&](const QString &p) {
        proposed = p;
        return target.filePath("typed name");
    });
    f.box->ASaveAllCollectDocExecute();
    QCOMPARE(proposed, QStringLiteral("多个文件"));
    QCOMPARE(QDir(target.path()).entryList(QDir::Files), (QStringList{"b.htm", "c.htm", "e.htm"}));
    QFile e(target.filePath("e.htm"));
    QVERIFY(e.open(QIODevice::ReadOnly));
    QCOMPARE(e.readAll(), QByteArray("content of e"));

    // One document: its own name is proposed and the typed name is taken.
    f.box->AClearCollectDocExecute();
    f.collect({3});
    f.p.saver.setSaveDialog([&](const QString &p) {
        proposed = p;
        return target.filePath("one.htm");
    });
    f.box->ASaveAllCollectDocExecute();
    QCOMPARE(proposed, QStringLiteral("d.htm"));
    QFile one(target.filePath("one.htm"));
    QVERIFY(one.open(QIODevice::ReadOnly));
    QCOMPARE(one.readAll(), QByteArray("content of d"));
    QVERIFY(f.p.answerer.asked.isEmpty());
}

QTEST_MAIN(TestCollectBox)
#include "tst_collectbox.moc"
