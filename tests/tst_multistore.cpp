// Several caches in one window: every row reaches the store it was read from, whichever cache
// was opened since, and a closed cache's rows reach none.

#include "answering.h"
#include "app/catalogueloader.h"
#include "app/documentlist.h"
#include "app/mainwindow.h"
#include "app/preview.h"
#include "app/storechooser.h"
#include "app/treenodes.h"
#include "catalogue/catalogue.h"
#include "catalogue/cataloguestate.h"
#include "catalogue/documentlistmodel.h"
#include "collections/search.h"
#include "stores/bodies.h"
#include "stores/storeregistry.h"
#include "support.h"
#include "tools/writers/browserwriter.h"
#include "tools/writers/chromiumwriter.h"
#include "tools/writers/firefoxwriter.h"
#include "windowsupport.h"

#include <QAction>
#include <QTreeWidget>
#include <QtTest>

class TestMultiStore : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void boxDeleteReachesOnlyItsOwnStore_data();
    void boxDeleteReachesOnlyItsOwnStore();
    void closedCacheRowsReachNothing();
    void everyKindSideBySide();
    void folderWithoutCacheChangesNothing();
    void offlinePageComesFromItsOwnStore();

private:
    QStringList m_boxes;
    ScriptedAnswerer m_answerer;
    QTemporaryDir m_bodies;
};

namespace {

const char *const PageA = "http://same.example/a.htm";
const char *const PageB = "http://same.example/b.htm";

// A store of `kind` with the two pages in `folder`; two calls give two stores with one key set.
QString writeStore(const QString &kind, const QString &folder, const char *word = "tide")
{
    if (kind == QLatin1String("wininet")) {
        std::vector<StoreWriterEntry> entries(2);
        entries[0].url = PageA;
        entries[1].url = PageB;
        entries[0].content = entries[1].content = std::string("<p>") + word + "</p>";
        WriteTestStore(folder, entries);
        return folder;
    }
    std::vector<BrowserWriterEntry> entries(2);
    entries[0].url = PageA;
    entries[1].url = PageB;
    entries[0].body = entries[1].body = std::string("<p>") + word + "</p>";
    const BrowserWriteResult written = kind == QLatin1String("firefox")
        ? WriteFirefoxStore(folder.toStdString(), entries)
        : WriteChromiumSimpleStore(folder.toStdString(), entries);
    return written.ok ? QString::fromStdString(written.folder) : QString();
}

// The URLs a store holds now, read afresh from its files.
QStringList urlsIn(const QString &folder)
{
    QStringList urls;
    for (const Listed &e : ListEntries(*OpenStore(folder.toStdString())))
        urls << QString::fromStdString(e.url);
    urls.sort();
    return urls;
}

void waitForLoad(Tfrm_cache &window)
{
    QTRY_VERIFY_WITH_TIMEOUT(window.state().tree_ready && !window.loader().isLoading(), 10000);
}

int rowOf(const WindowParts &w, const char *url)
{
    for (std::size_t i = 0; i < w.state.view_list.size(); ++i)
        if (QByteArray(SourceUrl(w.state.view_list[i])) == url)
            return int(i);
    return -1;
}

// The host node of cache root `root` (0 the first), made current.
void showHostOf(WindowParts &w, int root)
{
    QTreeWidgetItem *node = w.Tree->topLevelItem(CacheRoot + root);
    QVERIFY(node && node->childCount() == 1);
    w.Tree->setCurrentItem(node->child(0));
}

void deleteRow(WindowParts &w, const char *url)
{
    const int row = rowOf(w, url);
    QVERIFY(row >= 0);
    SelectRows(w.window, {row});
    w.ActionList1Update();
    QVERIFY(w.ADeleteDoc->isEnabled());
    w.ADeleteDoc->trigger();
}

} // namespace

void TestMultiStore::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true); // the remembered caches are not the user's
    SetBodiesFolder(m_bodies.path().toStdString());
}

void TestMultiStore::init()
{
    m_boxes.clear();
    m_answerer.reply = [this](const MessageBoxRequest &r) {
        m_boxes << r.text;
        return IDYES;
    };
}

void TestMultiStore::cleanup()
{
    m_answerer.reply = {};
    SetUrlCacheStore(nullptr);
}

void TestMultiStore::boxDeleteReachesOnlyItsOwnStore_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("wininet") << "wininet";
    QTest::newRow("firefox") << "firefox";
}

// Collected from one copy, deleted from the box after the other copy was opened.
void TestMultiStore::boxDeleteReachesOnlyItsOwnStore()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    const QString first = writeStore(kind, dir.filePath("first"));
    const QString second = writeStore(kind, dir.filePath("second"));
    QVERIFY(!first.isEmpty() && !second.isEmpty());

    Tfrm_cache window(dir.path(), &m_answerer);
    WindowParts w(window);
    window.useStore(OpenStore(first.toStdString()));
    window.loader().LoadCatalogue(false);
    showHostOf(w, 0);
    SelectRows(window, {rowOf(w, PageA)});
    w.ActionList1Update();
    w.ASendtoBox->trigger();

    window.openStore(second);
    waitForLoad(window);
    QCOMPARE(w.Tree->topLevelItemCount(), CacheRoot + 2);
    w.Tree->setCurrentItem(w.TreeNode(CollectRoot));
    deleteRow(w, PageA);
    QCOMPARE(urlsIn(first), QStringList{PageB});
    QCOMPARE(urlsIn(second), (QStringList{PageA, PageB}));
}

void TestMultiStore::closedCacheRowsReachNothing()
{
    QTemporaryDir dir;
    const QString first = writeStore("wininet", dir.filePath("first"));
    const QString second = writeStore("wininet", dir.filePath("second"));
    Tfrm_cache window(dir.path(), &m_answerer);
    WindowParts w(window);
    window.useStore(OpenStore(first.toStdString()));
    window.openStore(second);
    waitForLoad(window);
    showHostOf(w, 1);
    SelectRows(window, {rowOf(w, PageB)});
    w.ActionList1Update();
    w.ASendtoBox->trigger();

    window.showStore(second, false);
    waitForLoad(window);
    QCOMPARE(w.Tree->topLevelItemCount(), CacheRoot + 1);
    w.Tree->setCurrentItem(w.TreeNode(CollectRoot));
    QCOMPARE(w.state.view_list.size(), std::size_t(1));
    const QModelIndex cell = w.documents->model()->index(0, DocumentListModel::UrlColumn);
    QVERIFY(cell.data(Qt::ToolTipRole).toString().contains(second));
    QVERIFY(cell.data(Qt::ForegroundRole).isValid());
    SelectRows(window, {0});
    w.ActionList1Update();
    for (QAction *command : {w.ADeleteDoc, w.AOpenDoc, w.ADocinfo, w.ASaveDocas, w.AEntryInfo, w.AExportDocs})
        QVERIFY2(!command->isEnabled(), qPrintable(command->objectName()));
    QVERIFY(w.ARemoveCollectDoc->isEnabled()); // out of the box it can still go

    window.showStore(second, true);
    waitForLoad(window);
    w.Tree->setCurrentItem(w.TreeNode(CollectRoot));
    QVERIFY(!w.documents->model()->index(0, DocumentListModel::UrlColumn).data(Qt::ForegroundRole).isValid());
    deleteRow(w, PageB);
    QCOMPARE(urlsIn(second), QStringList{PageA});
    QCOMPARE(urlsIn(first), (QStringList{PageA, PageB}));
}

// Two copies of a WinInet cache, a Firefox and a Chromium cache: searched together, and a
// delete from the station and from each root reaches exactly its own store.
void TestMultiStore::everyKindSideBySide()
{
    QTemporaryDir dir;
    const QStringList folders{
        writeStore("wininet", dir.filePath("ie1"), "tide"), writeStore("wininet", dir.filePath("ie2"), "ebb"),
        writeStore("firefox", dir.filePath("ff"), "ebb"), writeStore("chromium", dir.filePath("cr"), "tide")};
    Tfrm_cache window(dir.path(), &m_answerer);
    WindowParts w(window);
    window.useStore(OpenStore(folders[0].toStdString()));
    for (int i = 1; i < folders.size(); ++i)
        window.addStore(OpenStore(folders[i].toStdString()));
    window.loader().LoadCatalogue(false);
    QCOMPARE(w.Tree->topLevelItemCount(), CacheRoot + 4);
    QVERIFY(w.Tree->topLevelItem(CacheRoot + 2)->text(0).startsWith(QStringLiteral("Firefox缓存 – ")));
    QCOMPARE(w.StatusText(0), QStringLiteral("域名共1个"));

    // Every cache's page B goes from its own root, after the last root's.
    for (int root = folders.size() - 1; root >= 0; --root) {
        showHostOf(w, root);
        QCOMPARE(w.state.view_list.size(), std::size_t(2));
        deleteRow(w, PageB);
        for (int other = 0; other < folders.size(); ++other)
            QCOMPARE(urlsIn(folders[other]).size(), other >= root ? 1 : 2);
    }
    window.loader().LoadCatalogue(false);

    // Searched across all four, each body read through its own store: page A of the two
    // caches that hold "ebb"; then the Firefox one's is deleted from the station.
    SearchCriteria criteria;
    criteria.field = SearchField::FullText;
    criteria.text = QStringLiteral("EBB");
    w.state.search_list = SearchCatalogue(w.state.cache_list, criteria);
    w.documents->showSearchStation();
    QCOMPARE(w.state.view_list.size(), std::size_t(2));
    const URLCACHE_STORE_ID firefox = UrlCacheStoreIdOf(window.loader().stores()[2]);
    const int row = EntryStoreId(w.state.view_list[0]) == firefox ? 0 : 1;
    QCOMPARE(EntryStoreId(w.state.view_list[std::size_t(row)]), firefox);
    SelectRows(window, {row});
    w.ActionList1Update();
    w.ADeleteDoc->trigger();
    QCOMPARE(urlsIn(folders[2]), QStringList());
    for (int other : {0, 1, 3})
        QCOMPARE(urlsIn(folders[other]), QStringList{PageA});
}

void TestMultiStore::folderWithoutCacheChangesNothing()
{
    QTemporaryDir dir;
    const QString first = writeStore("wininet", dir.filePath("first"));
    Tfrm_cache window(dir.path(), &m_answerer);
    WindowParts w(window);
    window.useStore(OpenStore(first.toStdString()));
    window.loader().LoadCatalogue(false);
    QVERIFY(QDir().mkpath(dir.filePath("empty")));
    window.openStore(dir.filePath("empty"));
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes[0],
             QStringLiteral("这个文件夹里没有浏览器缓存：") + QDir::toNativeSeparators(dir.filePath("empty")));
    QCOMPARE(w.Tree->topLevelItemCount(), CacheRoot + 1);
    QCOMPARE(window.loader().stores().size(), std::size_t(1));
}

// Two copies with the same URLs: the preview of a row is served from the row's own copy.
void TestMultiStore::offlinePageComesFromItsOwnStore()
{
    QTemporaryDir dir;
    const QStringList folders{writeStore("wininet", dir.filePath("first"), "tide"),
                              writeStore("wininet", dir.filePath("second"), "ebb")};
    CacheList catalogue;
    std::vector<URLCACHE_STORE_ID> ids;
    for (const QString &folder : folders) {
        ids.push_back(OpenUrlCacheStore(OpenStore(folder.toStdString())));
        const CacheList part = EnumerateCatalogue(ids.back());
        catalogue.insert(catalogue.end(), part.begin(), part.end());
    }
    CachedUrlIndex index(catalogue);
    for (std::size_t i : {1, 0}) {
        index.setStore(ids[i]);
        const std::optional<std::string> file = index.localFile(PageA).path;
        QVERIFY(file);
        QVERIFY2(QString::fromStdString(*file).startsWith(folders[int(i)]), file->c_str());
    }
    for (const URLCACHE_STORE_ID id : ids)
        CloseUrlCacheStore(id);
}

QTEST_MAIN(TestMultiStore)
#include "tst_multistore.moc"
