// The document list model over view_list, without a window: its rows and columns, the
// explicit row count, the captions' sort arrow, the type names looked up for the rows about
// to be shown, the drag of rows, and every change checked by QAbstractItemModelTester.

#include "catalogue/documentlistmodel.h"
#include "catalogue/viewlist.h"
#include "platform/shellinfo.h"
#include "support.h"

#include <QAbstractItemModelTester>
#include <QMimeData>
#include <QSignalSpy>
#include <QtTest>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

// A view record over texts that must outlive it.
Tcachedata record(const char *url, const char *path, std::uint64_t size, const char *type = "")
{
    Tcachedata r{};
    r.header.lpszSourceUrlName = const_cast<char *>(url);
    r.header.lpszLocalFileName = const_cast<char *>(path);
    r.header.dwSizeLow = DWORD(size & 0xFFFFFFFFu);
    r.header.dwSizeHigh = DWORD(size >> 32);
    r.strTypeName = QString::fromUtf8(type);
    return r;
}

} // namespace

class TestDocumentListModel : public QObject {
    Q_OBJECT
private slots:
    void rowsAndColumns();
    void rowCountIsExplicit();
    void captionsCarryTheArrow();
    void typeNamesLookedUpOnceForHintedRows();
    void hintOutsideTheListIsIgnored();
    void failedLookupIsNotRepeated();
    void dragCarriesRowNumbers();
    void testerFollowsTheFillSortAndRelease();
    void testerFollowsRowsOutlivingTheirRecords();
    void shellLookup();
};

void TestDocumentListModel::rowsAndColumns()
{
    ViewList view;
    view.push_back(record("http://h.net/p?q=1", "/cache/AB12/page[1].htm", 70000, "HTML document"));
    view.push_back(record("http://h.net/big", "/cache/AB12/big[1].bin", 4294967296ull));
    view[1].header.lpszLocalFileName = nullptr; // a null path reads as empty
    DocumentListModel model(view);
    model.setRowCount(2);
    // The five, then the further fields the list can show.
    QCOMPARE(model.columnCount(), int(DocumentListModel::AllColumnCount));
    QCOMPARE(model.columnCount(), 15);
    auto cell = [&](int row, int column) { return model.data(model.index(row, column)).toString(); };
    QCOMPARE(cell(0, DocumentListModel::FileNameColumn), QStringLiteral("page[1].htm"));
    QCOMPARE(cell(0, DocumentListModel::TypeColumn), QStringLiteral("HTML document"));
    QCOMPARE(cell(0, DocumentListModel::SizeColumn), QStringLiteral("70000"));
    QCOMPARE(cell(0, DocumentListModel::UrlColumn), QStringLiteral("http://h.net/p?q=1"));
    QCOMPARE(cell(0, DocumentListModel::LocationColumn), QStringLiteral("/cache/AB12/page[1].htm"));
    QCOMPARE(cell(1, DocumentListModel::SizeColumn), QStringLiteral("4294967296"));
    QCOMPARE(cell(1, DocumentListModel::FileNameColumn), QString());
    QCOMPARE(cell(1, DocumentListModel::LocationColumn), QString());
    // The further columns read the record's fields; an unknown time is empty.
    view[0].header.dwUseCount = 42;
    QCOMPARE(cell(0, int(EntryField::HitCount)), QStringLiteral("42"));
    QCOMPARE(cell(0, int(EntryField::LastAccess)), QString());
    QVERIFY(!model.index(0, DocumentListModel::AllColumnCount).isValid());
    const auto align =
        model.data(model.index(0, DocumentListModel::SizeColumn), Qt::TextAlignmentRole).value<Qt::Alignment>();
    QVERIFY(align & Qt::AlignRight);
    QVERIFY(!model.data(model.index(0, DocumentListModel::UrlColumn), Qt::TextAlignmentRole).isValid());
    QCOMPARE(model.recordAt(1), &view[1]);
    QCOMPARE(model.recordAt(2), nullptr);
    QCOMPARE(model.recordAt(-1), nullptr);
    // UTF-8 texts.
    view[0].header.lpszLocalFileName = const_cast<char *>("/c/\xE4\xB8\xAD\xE6\x96\x87.htm");
    QCOMPARE(cell(0, DocumentListModel::FileNameColumn), QStringLiteral("中文.htm"));
}

void TestDocumentListModel::rowCountIsExplicit()
{
    ViewList view;
    view.push_back(record("u1", "/c/1", 1));
    view.push_back(record("u2", "/c/2", 2));
    DocumentListModel model(view);
    QCOMPARE(model.rowCount(), 0); // nothing until the count is set
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    model.setRowCount(4);
    QCOMPARE(model.rowCount(), 4);
    QCOMPARE(inserted.size(), 1);
    QVERIFY(!model.data(model.index(3, 0)).isValid()); // beyond view_list: nothing
    QVERIFY(!model.data(model.index(2, 2)).isValid());
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.setRowCount(1);
    QCOMPARE(removed.size(), 1);
    QCOMPARE(changed.size(), 1); // the row that stays may show another record now
    model.setRowCount(0);
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(view.size(), size_t(2)); // the records stay until the next fill
}

void TestDocumentListModel::captionsCarryTheArrow()
{
    ViewList view;
    DocumentListModel model(view);
    auto caption = [&](int c) { return model.headerData(c, Qt::Horizontal).toString(); };
    QCOMPARE(caption(0), QStringLiteral("缓存文件")); // before the first fill: plain
    QCOMPARE(caption(4), QStringLiteral("位置"));
    QSignalSpy spy(&model, &QAbstractItemModel::headerDataChanged);
    model.MarkSortColumn(0, true);
    QCOMPARE(spy.size(), 1);
    QCOMPARE(caption(0), QStringLiteral("缓存文件↓"));
    QCOMPARE(caption(1), QStringLiteral("类型"));
    model.MarkSortColumn(2, false);
    QCOMPARE(caption(0), QStringLiteral("缓存文件"));
    QCOMPARE(caption(2), QStringLiteral("大小↑"));
    model.MarkSortColumn(-1, true);
    for (int c = 0; c < 5; ++c)
        QCOMPARE(caption(c), DocumentListModel::baseCaption(c));
    QCOMPARE(caption(9), QStringLiteral("命中次数"));
    model.MarkSortColumn(9, false);
    QCOMPARE(caption(9), QStringLiteral("命中次数↑"));
    QCOMPARE(caption(2), QStringLiteral("大小"));
    QCOMPARE(caption(DocumentListModel::AllColumnCount), QString());
}

void TestDocumentListModel::typeNamesLookedUpOnceForHintedRows()
{
    ViewList view;
    std::vector<std::string> paths;
    for (int i = 0; i < 10; ++i)
        paths.push_back("/c/" + std::to_string(i) + ".htm");
    for (const std::string &p : paths)
        view.push_back(record("u", p.c_str(), 1));
    DocumentListModel model(view);
    model.setRowCount(10);
    std::map<std::string, int> asked;
    model.setShellLookup([&](const char *path, ShellFileInfo &info) {
        ++asked[path];
        info.typeName = QStringLiteral("T ") + QString::fromUtf8(path);
        info.iIcon = 0;
        return true;
    });
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.FillTypeNames(3, 5);
    QCOMPARE(asked.size(), size_t(3));
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed[0][0].toModelIndex().row(), 3);
    QCOMPARE(changed[0][1].toModelIndex().row(), 5);
    QCOMPARE(model.data(model.index(4, DocumentListModel::TypeColumn)).toString(), QStringLiteral("T /c/4.htm"));
    QVERIFY(model.data(model.index(6, DocumentListModel::TypeColumn)).toString().isEmpty());
    QCOMPARE(view[2].bShellInfoPending, std::uint8_t(1));

    model.FillTypeNames(0, 9); // back and forth: rows 3..5 are not asked again
    model.FillTypeNames(3, 5);
    QCOMPARE(asked.size(), size_t(10));
    for (const auto &[path, times] : asked)
        QCOMPARE(times, 1);
    QCOMPARE(changed.size(), 2);
}

void TestDocumentListModel::hintOutsideTheListIsIgnored()
{
    ViewList view;
    view.push_back(record("u", "/c/1", 1));
    view.push_back(record("u", "/c/2", 1));
    DocumentListModel model(view);
    model.setRowCount(2);
    int asked = 0;
    model.setShellLookup([&](const char *, ShellFileInfo &) { return ++asked, true; });
    model.FillTypeNames(1, 0);
    model.FillTypeNames(0, 2);
    model.FillTypeNames(-1, 1);
    QCOMPARE(asked, 0);
    model.FillTypeNames(1, 1);
    QCOMPARE(asked, 1);
}

void TestDocumentListModel::failedLookupIsNotRepeated()
{
    ViewList view;
    view.push_back(record("u", "/c/1", 1));
    DocumentListModel model(view);
    model.setRowCount(1);
    int asked = 0;
    model.setShellLookup([&](const char *, ShellFileInfo &) { return ++asked, false; });
    model.FillTypeNames(0, 0);
    model.FillTypeNames(0, 0);
    QCOMPARE(asked, 1);
    QCOMPARE(view[0].bShellInfoPending, std::uint8_t(0));
    QVERIFY(view[0].strTypeName.isEmpty());
    QCOMPARE(view[0].iIcon, -1);
}

void TestDocumentListModel::dragCarriesRowNumbers()
{
    ViewList view;
    for (int i = 0; i < 4; ++i)
        view.push_back(record("u", "/c/x.htm", 1));
    DocumentListModel model(view);
    model.setRowCount(4);
    QCOMPARE(model.mimeTypes(), QStringList{DocumentListModel::RowsMimeType});
    QCOMPARE(model.supportedDragActions(), Qt::DropActions(Qt::CopyAction));
    const Qt::ItemFlags flags = model.flags(model.index(1, DocumentListModel::UrlColumn));
    QVERIFY(flags & Qt::ItemIsDragEnabled);
    QVERIFY(flags & Qt::ItemIsSelectable);
    QVERIFY(!(flags & Qt::ItemIsEditable));
    QVERIFY(!(flags & Qt::ItemIsDropEnabled));
    // Every cell of a selected row comes along; each row is named once, in ascending order.
    QModelIndexList cells;
    for (int column = 0; column < DocumentListModel::ColumnCount; ++column)
        cells << model.index(3, column) << model.index(1, column);
    cells << QModelIndex();
    std::unique_ptr<QMimeData> mime(model.mimeData(cells));
    QCOMPARE(mime->formats(), QStringList{DocumentListModel::RowsMimeType});
    QCOMPARE(mime->data(DocumentListModel::RowsMimeType), QByteArray("1,3"));
    std::unique_ptr<QMimeData> none(model.mimeData({}));
    QCOMPARE(none->data(DocumentListModel::RowsMimeType), QByteArray());
}

void TestDocumentListModel::testerFollowsTheFillSortAndRelease()
{
    ViewList view;
    for (int i = 0; i < 5; ++i)
        view.push_back(record("http://h/", "/c/x.htm", std::uint64_t(i)));
    DocumentListModel model(view);
    model.setShellLookup([](const char *, ShellFileInfo &info) {
        info.typeName = QStringLiteral("t");
        return true;
    });
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setRowCount(5);
    model.FillTypeNames(0, 4);
    model.MarkSortColumn(1, false);
    SortViewList(view, SortBySize, -1);
    model.contentChanged();
    model.setRowCount(7); // more rows than records
    model.setRowCount(2);
    model.setRowCount(0);
}

void TestDocumentListModel::testerFollowsRowsOutlivingTheirRecords()
{
    // The window's own sequence: a fill, a delete that takes records out before the count
    // follows, a reload that empties the rows while the records wait for the next fill, and
    // the next fill from a source list.
    const char *names[] = {"/c/a.htm", "/c/b.htm", "/c/c.htm", "/c/d.htm"};
    ViewList view;
    for (const char *name : names)
        view.push_back(record("http://h/", name, 1));
    DocumentListModel model(view);
    int asked = 0;
    model.setShellLookup([&asked](const char *, ShellFileInfo &info) {
        ++asked;
        info.typeName = QStringLiteral("t");
        return true;
    });
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setRowCount(int(view.size()));
    model.FillTypeNames(0, 3);
    QCOMPARE(asked, 4);

    view.erase(view.begin() + 1);                      // the delete command: the record first
    QVERIFY(!model.data(model.index(3, 0)).isValid()); // a row without a record shows nothing
    QCOMPARE(model.data(model.index(1, 0)).toString(), QStringLiteral("c.htm"));
    model.setRowCount(int(view.size()));
    QCOMPARE(model.rowCount(), 3);

    model.setRowCount(0); // a reload
    QCOMPARE(view.size(), std::size_t(3));
    view.clear(); // the next fill makes new records
    for (const char *name : {names[3], names[0], names[2]})
        view.push_back(record("http://h/", name, 1));
    model.setRowCount(int(view.size()));
    QCOMPARE(model.rowCount(), 3);
    model.FillTypeNames(0, 2); // new records: their names are looked up again
    QCOMPARE(asked, 7);
    QCOMPARE(model.data(model.index(2, DocumentListModel::TypeColumn)).toString(), QStringLiteral("t"));
}

void TestDocumentListModel::shellLookup()
{
    TestStore store;
    store.add("http://a.net/page.htm", "page[1].htm", "<html><body>x</body></html>");
    store.add("http://a.net/other.htm", "other[1].htm", "<html></html>");
    ShellFileInfo info;
    QVERIFY(!GetShellFileInfo(store.path("missing.htm").c_str(), info));
    QVERIFY(!GetShellFileInfo("", info));
    QVERIFY(!GetShellFileInfo(store.folder().toUtf8().constData(), info)); // a folder is no file
    QVERIFY(GetShellFileInfo(store.path("page[1].htm").c_str(), info));
    QVERIFY(!info.typeName.isEmpty());
    QVERIFY(info.iIcon >= 0 && info.iIcon < SystemIconList::count());
    ShellFileInfo again;
    QVERIFY(GetShellFileInfo(store.path("other[1].htm").c_str(), again));
    QCOMPARE(again.iIcon, info.iIcon); // one type, one entry of the icon list
    QCOMPARE(again.typeName, info.typeName);
}

QTEST_GUILESS_MAIN(TestDocumentListModel)
#include "tst_documentlistmodel.moc"
