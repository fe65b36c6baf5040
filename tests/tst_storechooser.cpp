// Choosing the cache the window shows: the caches found on this machine under 缓存来源, what
// a store that cannot be read or cannot delete tells the user in the window.

#include "app/catalogueloader.h"
#include "app/documentcommands.h"
#include "app/mainwindow.h"
#include "app/storechooser.h"
#include "app/treenodes.h"
#include "stores/bodies.h"
#include "stores/storeregistry.h"
#include "support.h"
#include "tools/writers/chromiumwriter.h"
#include "windows/messagebox.h"
#include "windowsupport.h"

#include <QAction>
#include <QMenu>
#include <QTreeWidget>
#include <QtTest>

class TestStoreChooser : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void sourcesListTheCachesFound();
    void unreadableStoreSaysWhyInTheWindow();
    void readOnlyKindRefusesDeleteWithItsReason();

private:
    QStringList m_boxes;
    QTemporaryDir m_bodies;
};

namespace {

void waitForLoad(Tfrm_cache &window)
{
    QTRY_VERIFY_WITH_TIMEOUT(window.state().tree_ready && !window.loader().isLoading(), 10000);
}

std::string writeChromium(const QString &folder)
{
    BrowserWriterEntry e;
    e.url = "https://a.example/page.htm";
    e.body = "<p>x</p>";
    e.contentEncoding = "gzip";
    const BrowserWriteResult written = WriteChromiumSimpleStore(folder.toStdString(), {e});
    return written.ok ? written.folder : std::string();
}

} // namespace

void TestStoreChooser::initTestCase()
{
    SetBodiesFolder(m_bodies.path().toStdString());
}

void TestStoreChooser::init()
{
    m_boxes.clear();
    SetMessageBoxResponder([this](const MessageBoxRequest &r) {
        m_boxes << r.text;
        return IDYES;
    });
}

void TestStoreChooser::cleanup()
{
    SetMessageBoxResponder({});
    qunsetenv("TIDEWRACK_STORES");
    SetUrlCacheStore(nullptr);
}

void TestStoreChooser::sourcesListTheCachesFound()
{
    QTemporaryDir dir;
    StoreWriterEntry one;
    one.url = "http://w.example/x.htm";
    one.content = "x";
    WriteTestStore(dir.filePath("wine-copy"), {one});
    const std::string chromium = writeChromium(dir.filePath("chromium-copy"));
    QVERIFY(!chromium.empty());
    // A home of our own: no Wine prefix, no browser profile; the two stores come from
    // TIDEWRACK_STORES, as scripts/run offers its demo stores.
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", dir.filePath("home").toUtf8());
    qputenv("TIDEWRACK_STORES",
            (dir.filePath("wine-copy") + ':' + dir.filePath("nothing-here") + ':' + QString::fromStdString(chromium))
                .toUtf8());

    Tfrm_cache window(dir.path());
    WindowParts w(window);
    QMenu *sources = window.findChild<QMenu *>("m_sources");
    QVERIFY(sources);
    emit sources->aboutToShow();
    QStringList names, tips;
    for (QAction *item : sources->actions()) {
        names << item->text();
        tips << item->toolTip();
    }
    QCOMPARE(names, (QStringList{QString::fromUtf8("IE – wine-copy"), QString::fromUtf8("Chromium – chromium-copy")}));
    QCOMPARE(tips, (QStringList{dir.filePath("wine-copy"), QString::fromStdString(chromium)}));

    // Choosing one loads it and names its kind at the cache root.
    sources->actions().at(1)->trigger();
    waitForLoad(window);
    QCOMPARE(w.TreeNode(CacheRoot)->text(0), QStringLiteral("Chromium缓存"));
    QCOMPARE(w.TreeNode(CacheRoot + 1)->text(0), QStringLiteral("[a.example]"));
    emit sources->aboutToShow();
    QVERIFY(sources->actions().at(1)->isChecked());
    QVERIFY(!sources->actions().at(0)->isChecked());
    qputenv("HOME", home);
}

void TestStoreChooser::unreadableStoreSaysWhyInTheWindow()
{
    QTemporaryDir dir;
    QVERIFY(WriteBytes(dir.filePath("index.dat"), QByteArray(0x8000, 'x')));

    Tfrm_cache window(dir.path());
    WindowParts w(window);
    QSignalSpy problems(&window.loader(), &CatalogueLoader::storeProblem);
    window.useStore(OpenStore(dir.path().toStdString()));
    window.loader().LoadCatalogue(false);
    QCOMPARE(w.TreeNode(CacheRoot)->childCount(), 0);
    // The panel keeps its count and says which store could not be read, and why.
    const QString panel = w.StatusText(0);
    QVERIFY2(panel.startsWith(QStringLiteral("域名共0个（无法读取缓存：")), qPrintable(panel));
    QVERIFY2(panel.contains(dir.filePath("index.dat")), qPrintable(panel));
    QCOMPARE(problems.size(), 1);
    QVERIFY(!problems.first().first().toString().isEmpty());
    QVERIFY(m_boxes.isEmpty()); // a load shows no message box

    // A readable store clears it.
    window.useStore(OpenStore(writeChromium(dir.filePath("good"))));
    window.loader().LoadCatalogue(false);
    QCOMPARE(w.StatusText(0), QStringLiteral("域名共1个"));
    QCOMPARE(problems.size(), 2);
    QVERIFY(problems.last().first().toString().isEmpty());
}

void TestStoreChooser::readOnlyKindRefusesDeleteWithItsReason()
{
    QTemporaryDir dir;
    QVERIFY(CopyStoreFolder(FixturesDir() + "/browser-caches/blockfile-plaso-v2/Cache", dir.filePath("Cache")));
    const QStringList before = FilesBelow(dir.filePath("Cache"));

    Tfrm_cache window(dir.path());
    WindowParts w(window);
    window.useStore(OpenStore(dir.filePath("Cache").toStdString()));
    window.loader().LoadCatalogue(false);
    QVERIFY(w.TreeNode(CacheRoot)->childCount() > 0);
    w.Tree->setCurrentItem(w.TreeNode(CacheRoot + 1));
    QVERIFY(!w.state.view_list.empty());
    SelectRows(window, {0});
    w.ActionList1Update();
    w.ADeleteDoc->trigger();
    QCOMPARE(m_boxes.size(), 2);
    QVERIFY2(m_boxes[1].startsWith(QStringLiteral("有1个缓存文档未能删除：")
                                   + DeleteFailureText(ERROR_NOT_SUPPORTED, StoreKind::ChromiumBlockfile)),
             qPrintable(m_boxes[1]));
    QCOMPARE(FilesBelow(dir.filePath("Cache")), before);
    for (const QString &file : before)
        QVERIFY(ReadBytes(dir.filePath("Cache/") + file)
                == ReadBytes(FixturesDir() + "/browser-caches/blockfile-plaso-v2/Cache/" + file));
}

QTEST_MAIN(TestStoreChooser)
#include "tst_storechooser.moc"
