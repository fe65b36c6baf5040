// The document list's further columns in the real main window: hidden until asked for, with
// the header looking as it did; shown and hidden from the header's menu; sorting times as
// times and counts as numbers; the arrangement kept in a file of its own across a restart
// while the settings record keeps its 52 bytes; damaged arrangement files.

#include "answering.h"
#include "app/documentlist.h"
#include "app/listcolumns.h"
#include "app/lister.h"
#include "app/mainwindow.h"
#include "app/treenodes.h"
#include "catalogue/documentlistmodel.h"
#include "support.h"
#include "windowsupport.h"

#include <QAction>
#include <QDateTime>
#include <QFile>
#include <QHeaderView>
#include <QMenu>
#include <QStandardItemModel>
#include <QTreeView>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

namespace {

constexpr int LastAccess = int(EntryField::LastAccess);
constexpr int HitCount = int(EntryField::HitCount);
constexpr int ContentType = int(EntryField::ContentType);
constexpr std::int64_t Year2001 = 978307200;
constexpr std::int64_t Year1999 = 915148800;

// A shown main window over the process's store, with the first catalogue load done.
struct Fixture : ShownWindow {
    using ShownWindow::ShownWindow;

    QHeaderView *header() const { return window->lister->report()->header(); }
    QString cell(int row, int column) const
    {
        const DocumentListModel *model = window->documents->model();
        return model->data(model->index(row, column)).toString();
    }
    QStringList column(int column) const
    {
        QStringList texts;
        for (int row = 0; row < window->lister->rowCount(); ++row)
            texts << cell(row, column);
        return texts;
    }
    QString caption(int column) const
    {
        return window->documents->model()->headerData(column, Qt::Horizontal).toString();
    }
    void clickSection(int column) const
    {
        QHeaderView *h = header();
        const int x = h->sectionViewportPosition(column) + h->sectionSize(column) / 2;
        QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, QPoint(x, h->height() / 2));
    }
    QAction *menuItem(const char *name) const { return window->Pop_columns->findChild<QAction *>(QLatin1String(name)); }
};

QString localTime(std::int64_t unixSeconds)
{
    return QDateTime::fromSecsSinceEpoch(unixSeconds).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// The header a plain five-column report draws: the list as it was before it had more columns.
QImage referenceHeader(const Fixture &f)
{
    QTreeView *report = f.window->lister->report();
    QStandardItemModel model(0, DocumentListModel::ColumnCount);
    for (int c = 0; c < DocumentListModel::ColumnCount; ++c)
        model.setHeaderData(c, Qt::Horizontal, f.caption(c));
    model.setHeaderData(DocumentListModel::SizeColumn, Qt::Horizontal,
                        QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter)), Qt::TextAlignmentRole);
    QTreeView view(report->parentWidget());
    view.setPalette(report->palette());
    view.setFont(report->font());
    view.setRootIsDecorated(false);
    view.setUniformRowHeights(true);
    view.header()->setStretchLastSection(false);
    view.header()->setSectionsClickable(true);
    view.setModel(&model);
    const int widths[] = {170, 120, 60, 200, 300};
    for (int c = 0; c < DocumentListModel::ColumnCount; ++c)
        view.header()->resizeSection(c, widths[c]);
    view.setGeometry(report->geometry());
    view.show();
    return view.header()->grab().toImage();
}

} // namespace

class TestListColumns : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void hiddenByDefault();
    void headerMenuShowsAndHides();
    void sortsByFurtherColumns_data();
    void sortsByFurtherColumns();
    void arrangementSurvivesRestart();
    void readsDamagedFiles_data();
    void readsDamagedFiles();
    void garbageFileStartsWithDefaults();

private:
    QStringList m_boxes;
    ScriptedAnswerer m_answerer;
};

void TestListColumns::init()
{
    m_boxes.clear();
    m_answerer.reply = [this](const MessageBoxRequest &r) {
        m_boxes << r.text;
        return IDOK;
    };
}

void TestListColumns::cleanup()
{
    m_answerer.reply = {};
}

void TestListColumns::hiddenByDefault()
{
    TestStore store;
    store.add("http://a.net/1.htm", "1.htm", "1").hitCount = 3;
    Fixture f({}, &m_answerer);
    QVERIFY(f.open());
    f.selectHost(QStringLiteral("[a.net]"));
    QHeaderView *header = f.header();
    QCOMPARE(header->count(), DocumentListModel::AllColumnCount);
    QCOMPARE(header->count() - header->hiddenSectionCount(), 5);
    for (int c = 0; c < DocumentListModel::AllColumnCount; ++c) {
        QCOMPARE(header->isSectionHidden(c), c >= 5);
        QCOMPARE(header->visualIndex(c), c);
    }
    QCOMPARE(header->length(), 170 + 120 + 60 + 200 + 300);
    for (QAction *item : f.window->Pop_columns->actions())
        QVERIFY(!item->isChecked());
    QCOMPARE(f.caption(0), QStringLiteral("缓存文件↓"));
    // Drawn as a five-column header with the same captions and widths draws.
    const QImage shown = header->grab().toImage();
    const QImage reference = referenceHeader(f);
    QCOMPARE(shown.size(), reference.size());
    QVERIFY(shown == reference);

    // Nobody asked for columns: no file of theirs, and the settings record as ever.
    f.close();
    QVERIFY(!QFile::exists(QDir(f.appDir).filePath(QStringLiteral("columns.ini"))));
    QCOMPARE(QFileInfo(QDir(f.appDir).filePath(QStringLiteral("tidewrack.inf"))).size(), 52);
    QVERIFY(m_boxes.isEmpty());
}

void TestListColumns::headerMenuShowsAndHides()
{
    TestStore store;
    StoreEntry &e = store.add("http://a.net/1.htm", "1.htm", "1");
    e.lastAccess = StoreTimeFromUnix(Year2001 + 3723);
    e.hitCount = 12;
    Fixture f({}, &m_answerer);
    QVERIFY(f.open());
    f.selectHost(QStringLiteral("[a.net]"));
    QHeaderView *header = f.header();

    // A right click on the header opens the columns' menu.
    const QPoint at(20, header->height() / 2);
    QContextMenuEvent click(QContextMenuEvent::Mouse, at, header->viewport()->mapToGlobal(at));
    QApplication::sendEvent(header->viewport(), &click);
    QTRY_VERIFY(f.window->Pop_columns->isVisible());
    QStringList captions;
    for (QAction *item : f.window->Pop_columns->actions())
        if (item->isCheckable())
            captions << item->text();
    QCOMPARE(captions,
             (QStringList{"最后访问", "最后修改", "过期时间", "最后同步", "命中次数", "内容类型", "内容编码", "状态",
                          "分区", "来源"}));
    f.window->Pop_columns->hide();

    f.menuItem("column_last_access")->trigger();
    f.menuItem("column_hit_count")->trigger();
    QVERIFY(!header->isSectionHidden(LastAccess));
    QVERIFY(f.menuItem("column_last_access")->isChecked());
    QVERIFY(header->sectionSize(LastAccess) >= header->fontMetrics().horizontalAdvance(localTime(Year2001)));
    QCOMPARE(f.caption(LastAccess), QStringLiteral("最后访问"));
    QCOMPARE(f.cell(0, LastAccess), localTime(Year2001 + 3723));
    QCOMPARE(f.cell(0, HitCount), QStringLiteral("12"));
    // The count lines up on the right, as the size does.
    const auto align =
        f.window->documents->model()->data(f.window->documents->model()->index(0, HitCount), Qt::TextAlignmentRole);
    QVERIFY(align.value<Qt::Alignment>() & Qt::AlignRight);
    // The sort menu's "位置" item still sorts by nothing: no arrow on the column after the five.
    f.window->sortItems[5]->trigger();
    QCOMPARE(f.caption(LastAccess), QStringLiteral("最后访问"));

    f.menuItem("column_last_access")->trigger();
    QVERIFY(header->isSectionHidden(LastAccess));
    QVERIFY(!f.menuItem("column_last_access")->isChecked());
    f.menuItem("column_defaults")->trigger();
    QCOMPARE(header->hiddenSectionCount(), 10);
    QVERIFY(!f.menuItem("column_hit_count")->isChecked());
}

void TestListColumns::sortsByFurtherColumns_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QStringList>("ascending"); // the file names in ascending order
    // Counts as numbers (as texts 10 < 100 < 9); times as times, an unknown one first.
    QTest::newRow("hit count") << HitCount << QStringList{"d.htm", "b.htm", "c.htm", "a.htm"};
    QTest::newRow("last access") << LastAccess << QStringList{"b.htm", "c.htm", "d.htm", "a.htm"};
    QTest::newRow("content type") << ContentType << QStringList{"c.htm", "d.htm", "a.htm", "b.htm"};
}

void TestListColumns::sortsByFurtherColumns()
{
    QFETCH(int, column);
    QFETCH(QStringList, ascending);
    TestStore store;
    struct Row {
        const char *name;
        std::uint32_t hits;
        std::int64_t access; // 0: unknown
        const char *type;
    };
    const Row rows[] = {{"a.htm", 100, Year2001 + 86400 * 400, "text/plain"},
                        {"b.htm", 9, 0, "text/xml"},
                        {"c.htm", 10, Year1999, "application/json"},
                        {"d.htm", 0, Year2001, "image/png"}};
    for (const Row &r : rows) {
        StoreEntry &e = store.add(std::string("http://s.net/") + r.name, r.name, "x");
        e.hitCount = r.hits;
        e.lastAccess = r.access ? StoreTimeFromUnix(r.access) : 0;
        store.store().setText(e.contentType, r.type);
    }
    store.add("http://t.net/other.htm", "other.htm", "x");
    Fixture f({}, &m_answerer);
    QVERIFY(f.open(QSize(1800, 600)));
    f.selectHost(QStringLiteral("[s.net]"));
    f.window->columns->setColumnShown(column, true);

    f.clickSection(column);
    QCOMPARE(f.column(0), ascending);
    QCOMPARE(f.caption(column), EntryFieldCaption(EntryField(column)) + QStringLiteral("↓"));
    QCOMPARE(f.caption(0), QStringLiteral("缓存文件"));
    f.clickSection(column);
    QStringList descending = ascending;
    std::reverse(descending.begin(), descending.end());
    QCOMPARE(f.column(0), descending);
    QCOMPARE(f.caption(column), EntryFieldCaption(EntryField(column)) + QStringLiteral("↑"));

    // Another host's list comes sorted by the same column; back to a column of the five.
    f.selectHost(QStringLiteral("[t.net]"));
    f.selectHost(QStringLiteral("[s.net]"));
    QCOMPARE(f.column(0), descending);
    f.clickSection(0);
    QCOMPARE(f.window->state.sort_key, std::uint8_t(0));
    QCOMPARE(f.column(0), (QStringList{"d.htm", "c.htm", "b.htm", "a.htm"}));
    QCOMPARE(f.caption(column), EntryFieldCaption(EntryField(column)));
}

void TestListColumns::arrangementSurvivesRestart()
{
    TestStore store;
    store.add("http://a.net/1.htm", "1.htm", "1");
    QTemporaryDir dir;
    const QString inf = QDir(dir.path()).filePath(QStringLiteral("tidewrack.inf"));
    const QString ini = QDir(dir.path()).filePath(QStringLiteral("columns.ini"));
    {
        Fixture f(dir.path(), &m_answerer);
        QVERIFY(f.open());
        f.close();
    }
    const QByteArray before = ReadBytes(inf);
    {
        Fixture f(dir.path(), &m_answerer);
        QVERIFY(f.open());
        f.window->columns->setColumnShown(HitCount, true);
        f.window->columns->setColumnShown(LastAccess, true);
        QHeaderView *header = f.header();
        header->moveSection(header->visualIndex(HitCount), 1); // dragged next to the file name
        header->resizeSection(LastAccess, 222);
        header->resizeSection(DocumentListModel::UrlColumn, 333);
        f.window->columns->setColumnShown(int(EntryField::Partition), true);
        header->resizeSection(int(EntryField::Partition), 99);
        f.window->columns->setColumnShown(int(EntryField::Partition), false); // its width is kept
        f.close();
    }
    QVERIFY(QFile::exists(ini));
    // The settings record is what it was: the same 52 bytes, read as before.
    QCOMPARE(ReadBytes(inf).size(), 52);
    QCOMPARE(ReadBytes(inf), before);
    Tsettingdata settings{};
    QCOMPARE(ReadSettingsFile(inf, settings), SettingsRead::Ok);
    QCOMPARE(settings.viewstyle, std::uint8_t(3));

    Fixture f(dir.path(), &m_answerer);
    QVERIFY(f.open());
    QHeaderView *header = f.header();
    QCOMPARE(header->hiddenSectionCount(), 8);
    QVERIFY(!header->isSectionHidden(HitCount));
    QVERIFY(!header->isSectionHidden(LastAccess));
    QCOMPARE(header->visualIndex(0), 0);
    QCOMPARE(header->visualIndex(HitCount), 1);
    QCOMPARE(header->visualIndex(DocumentListModel::TypeColumn), 2);
    QCOMPARE(header->sectionSize(LastAccess), 222);
    QCOMPARE(header->sectionSize(DocumentListModel::UrlColumn), 333);
    QCOMPARE(header->sectionSize(0), 170);
    f.window->columns->setColumnShown(int(EntryField::Partition), true);
    QCOMPARE(header->sectionSize(int(EntryField::Partition)), 99);
    QVERIFY(f.menuItem("column_hit_count")->isChecked());
    QVERIFY(m_boxes.isEmpty());
}

void TestListColumns::readsDamagedFiles_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QList<int>>("order");  // the first columns of the order read
    QTest::addColumn<QList<int>>("shown");  // the further columns shown
    QTest::addColumn<QList<int>>("widths"); // widths of columns 0, 5 and 9
    const QList<int> defaultOrder = {0, 1, 2, 3, 4, 5};
    QTest::newRow("empty") << QByteArray() << defaultOrder << QList<int>{} << QList<int>{170, 140, 70};
    QTest::newRow("well formed") << QByteArray("[columns]\norder=\"file_name,hit_count,url\"\nshown=hit_count\n"
                                               "[widths]\nfile_name=180\nlast_access=150\nhit_count=40\n")
                                 << QList<int>{0, 9, 3, 1, 2, 4} << QList<int>{9} << QList<int>{180, 150, 40};
    QTest::newRow("unknown and repeated names")
        << QByteArray("[columns]\norder=nonsense, url, url, response_head, file_name\nshown=status, bogus, url,"
                      " status\n")
        << QList<int>{0, 3, 1, 2, 4, 5} << QList<int>{12} << QList<int>{170, 140, 70};
    QTest::newRow("widths no one sets") << QByteArray("[widths]\nfile_name=-5\nlast_access=99999\nhit_count=abc\n")
                                        << defaultOrder << QList<int>{} << QList<int>{170, 140, 70};
    QTest::newRow("a further column first")
        << QByteArray("[columns]\norder=status,file_name\n") << QList<int>{0, 12, 1, 2, 3, 4} << QList<int>{}
        << QList<int>{170, 140, 70};
    QTest::newRow("binary garbage") << QByteArray("\x00\xff[[[=\n\x01\x02=\x03", 13) << defaultOrder << QList<int>{}
                                    << QList<int>{170, 140, 70};
}

void TestListColumns::readsDamagedFiles()
{
    QFETCH(QByteArray, file);
    QFETCH(QList<int>, order);
    QFETCH(QList<int>, shown);
    QFETCH(QList<int>, widths);
    ColumnLayout defaults;
    for (int c = 0; c < DocumentListModel::AllColumnCount; ++c) {
        defaults.order.push_back(c);
        defaults.shown.push_back(c < 5);
    }
    defaults.widths = {170, 120, 60, 200, 300, 140, 140, 140, 140, 70, 130, 80, 50, 160, 120};
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("columns.ini"));
    QVERIFY(WriteBytes(path, file));
    const ColumnLayout read = ReadColumnLayout(path, defaults);
    QCOMPARE(read.order.size(), defaults.order.size());
    QCOMPARE(QList<int>(read.order.begin(), read.order.begin() + order.size()), order);
    std::vector<int> sorted = read.order;
    std::sort(sorted.begin(), sorted.end());
    QCOMPARE(sorted, defaults.order); // every column once
    QList<int> shownRead;
    for (int c = 0; c < DocumentListModel::AllColumnCount; ++c) {
        if (c < 5)
            QVERIFY(read.shown[std::size_t(c)]);
        else if (read.shown[std::size_t(c)])
            shownRead << c;
    }
    QCOMPARE(shownRead, shown);
    QCOMPARE((QList<int>{read.widths[0], read.widths[5], read.widths[9]}), widths);
}

void TestListColumns::garbageFileStartsWithDefaults()
{
    TestStore store;
    store.add("http://a.net/1.htm", "1.htm", "1");
    QTemporaryDir dir;
    const QString ini = QDir(dir.path()).filePath(QStringLiteral("columns.ini"));
    QVERIFY(WriteBytes(ini, QByteArray("\x00\xff[[[=\n\x01\x02=\x03 order=url", 23)));
    Fixture f(dir.path(), &m_answerer);
    QVERIFY(f.open());
    QCOMPARE(f.header()->hiddenSectionCount(), 10);
    QCOMPARE(f.header()->visualIndex(0), 0);
    f.window->columns->setColumnShown(HitCount, true);
    f.close();
    QVERIFY(m_boxes.isEmpty());
    // The arrangement the user made replaces what could not be read.
    Fixture again(dir.path(), &m_answerer);
    QVERIFY(again.open());
    QVERIFY(!again.header()->isSectionHidden(HitCount));
}

QTEST_MAIN(TestListColumns)
#include "tst_listcolumns.moc"
