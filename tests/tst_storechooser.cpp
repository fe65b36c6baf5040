// Choosing the cache the window shows: the caches found on this machine under 缓存来源, what
// a store that cannot be read or cannot delete tells the user in the window.

#include "answering.h"
#include "app/catalogueloader.h"
#include "app/documentcommands.h"
#include "app/lister.h"
#include "app/mainwindow.h"
#include "app/storechooser.h"
#include "app/treenodes.h"
#include "stores/bodies.h"
#include "stores/firefoxformat.h"
#include "stores/storeregistry.h"
#include "support.h"
#include "tools/writers/chromiumwriter.h"
#include "tools/writers/firefoxwriter.h"
#include "windowsupport.h"

#include <QAction>
#include <QDir>
#include <QHash>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
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
    void storeProblemShowsUnderItsRoot_data();
    void storeProblemShowsUnderItsRoot();
    void noMenuRepeatsAnAccelerator();
    void switchingCachesLeavesTheCollectBoxGrey();

private:
    QStringList m_boxes;
    ScriptedAnswerer m_answerer;
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
    QStandardPaths::setTestModeEnabled(true); // the remembered caches are not the user's
    SetBodiesFolder(m_bodies.path().toStdString());
}

void TestStoreChooser::init()
{
    m_boxes.clear();
    m_answerer.reply = [this](const MessageBoxRequest &r) {
        m_boxes << r.text;
        return IDYES;
    };
}

void TestStoreChooser::cleanup()
{
    m_answerer.reply = {};
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

    Tfrm_cache window(dir.path(), &m_answerer);
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

    Tfrm_cache window(dir.path(), &m_answerer);
    WindowParts w(window);
    QSignalSpy problems(&window.loader(), &CatalogueLoader::storeProblem);
    window.useStore(OpenStore(dir.path().toStdString()));
    window.loader().LoadCatalogue(false);
    // The panel keeps its count and says, in Chinese, why the store could not be read.
    QCOMPARE(w.StatusText(0), QStringLiteral("域名共0个（无法读取缓存：文件已损坏）"));
    QCOMPARE(problems.size(), 1);
    QVERIFY(m_boxes.isEmpty()); // a load shows no message box

    // A readable store clears it.
    window.useStore(OpenStore(writeChromium(dir.filePath("good"))));
    window.loader().LoadCatalogue(false);
    QCOMPARE(w.StatusText(0), QStringLiteral("域名共1个"));
    QCOMPARE(problems.size(), 1);
    QCOMPARE(w.TreeNode(CacheRoot)->child(0)->text(0), QStringLiteral("[a.example]"));
}

void TestStoreChooser::readOnlyKindRefusesDeleteWithItsReason()
{
    QTemporaryDir dir;
    QVERIFY(CopyStoreFolder(FixturesDir() + "/browser-caches/blockfile-plaso-v2/Cache", dir.filePath("Cache")));
    const QStringList before = FilesBelow(dir.filePath("Cache"));

    Tfrm_cache window(dir.path(), &m_answerer);
    WindowParts w(window);
    const std::shared_ptr<CacheStore> store = OpenStore(dir.filePath("Cache").toStdString());
    window.useStore(store);
    window.loader().LoadCatalogue(false);
    QVERIFY(w.TreeNode(CacheRoot)->childCount() > 0);
    w.Tree->setCurrentItem(w.TreeNode(CacheRoot + 1));
    QVERIFY(!w.state.view_list.empty());
    SelectRows(window, {0});
    w.ActionList1Update();
    // Deleting is not offered: the store says why it is refused.
    QVERIFY(store->readOnly());
    QVERIFY(!store->removalRefusal().empty());
    QVERIFY(!w.ADeleteDoc->isEnabled());
    QVERIFY(w.ADocinfo->isEnabled());
    w.ADeleteDoc->trigger();
    QCOMPARE(m_boxes.size(), 0);
    // Asked all the same, the store refuses with its reason and nothing changes.
    w.commands->ADeleteDocExecute();
    QCOMPARE(m_boxes.size(), 2);
    QVERIFY2(m_boxes[1].startsWith(QStringLiteral("有1个缓存文档未能删除：")
                                   + DeleteFailureText(StoreError::ReadOnly, store.get())),
             qPrintable(m_boxes[1]));
    QVERIFY(m_boxes[1].contains(QStringLiteral("块文件")));
    QCOMPARE(FilesBelow(dir.filePath("Cache")), before);
    for (const QString &file : before)
        QVERIFY(ReadBytes(dir.filePath("Cache/") + file)
                == ReadBytes(FixturesDir() + "/browser-caches/blockfile-plaso-v2/Cache/" + file));
}

namespace {

// A Firefox cache of two pages, the first spoilt as `spoil` says; "" spoils none.
QString writeFirefox(const QString &folder, const QString &spoil)
{
    std::vector<BrowserWriterEntry> in(2);
    in[0].url = "https://a.example/one.htm";
    in[1].url = "https://b.example/two.htm";
    for (BrowserWriterEntry &e : in)
        e.body = "<p>x</p>";
    const BrowserWriteResult written = WriteFirefoxStore(folder.toStdString(), in);
    if (!written.ok)
        return {};
    const QString file = QString::fromStdString(written.entries[0].file);
    QByteArray bytes = ReadBytes(file);
    if (spoil == QLatin1String("newer"))
        qToBigEndian<quint32>(5, bytes.data() + bytes.size() - 8); // the trailer's metadata version
    else if (spoil == QLatin1String("damaged"))
        bytes.chop(bytes.size() / 2);
    return WriteBytes(file, bytes) ? folder : QString();
}

} // namespace

void TestStoreChooser::storeProblemShowsUnderItsRoot_data()
{
    QTest::addColumn<QString>("spoil");
    QTest::addColumn<QString>("row");
    QTest::newRow("newer") << "newer" << QStringLiteral("1个缓存项未列出（较新的格式）");
    QTest::newRow("damaged") << "damaged" << QStringLiteral("1个缓存项未列出（已损坏）");
    QTest::newRow("unreadable") << "index" << QStringLiteral("无法读取：文件已损坏");
}

// The problem is a row of its own under the store's root, readable in the tree, with the
// store's folder in its tool tip; opening the store by hand also says it in a box.
void TestStoreChooser::storeProblemShowsUnderItsRoot()
{
    QFETCH(QString, spoil);
    QFETCH(QString, row);
    QTemporaryDir dir;
    QString folder = dir.filePath("cache2");
    if (spoil == QLatin1String("index")) {
        folder = dir.filePath("ie");
        QVERIFY(QDir().mkpath(folder) && WriteBytes(folder + "/index.dat", QByteArray(0x8000, 'x')));
    } else {
        QVERIFY(!writeFirefox(folder, spoil).isEmpty());
    }
    Tfrm_cache window(dir.path(), &m_answerer);
    WindowParts w(window);
    window.resize(900, 600);
    window.show();
    window.openStore(folder);
    waitForLoad(window);
    QTreeWidgetItem *problem = w.TreeNode(CacheRoot)->child(0);
    QCOMPARE(problem->text(0), row);
    QVERIFY(problem->toolTip(0).contains(row));
    QVERIFY(!(problem->flags() & Qt::ItemIsSelectable));
    const QRect shown = w.Tree->visualItemRect(problem);
    QVERIFY(!shown.isEmpty() && w.Tree->viewport()->rect().contains(shown.topLeft()));
    QCOMPARE(m_boxes.size(), 1);
    QVERIFY2(m_boxes[0].contains(row), qPrintable(m_boxes[0]));
    // A reload says it again under the root, but in no box.
    window.loader().LoadCatalogue(false);
    QCOMPARE(w.TreeNode(CacheRoot)->child(0)->text(0), row);
    QCOMPARE(m_boxes.size(), 1);
}

// Every menu of the menu bar reaches its items by their own letters: no two share one.
void TestStoreChooser::noMenuRepeatsAnAccelerator()
{
    QTemporaryDir dir;
    Tfrm_cache window(dir.path(), &m_answerer);
    QList<QMenu *> menus;
    for (QAction *top : window.menuBar()->actions())
        if (QMenu *menu = top->menu())
            menus << menu << menu->findChildren<QMenu *>();
    QVERIFY(!menus.isEmpty());
    for (const QMenu *menu : menus) {
        QHash<QChar, QString> taken;
        for (const QAction *action : menu->actions()) {
            const QString text = action->text();
            const qsizetype amp = text.indexOf(QRegularExpression(QStringLiteral("&[^&]")));
            if (action->isSeparator() || amp < 0)
                continue;
            const QChar letter = text.at(amp + 1).toUpper();
            QVERIFY2(!taken.contains(letter), qPrintable(menu->title() + ": " + taken.value(letter) + " / " + text));
            taken.insert(letter, text);
        }
    }
}

// The collect box's list is grey; a cache opened while it is shown lists on white.
void TestStoreChooser::switchingCachesLeavesTheCollectBoxGrey()
{
    QTemporaryDir dir;
    Tfrm_cache window(dir.path(), &m_answerer);
    WindowParts w(window);
    window.resize(900, 600);
    window.show();
    window.openStore(QString::fromStdString(writeChromium(dir.filePath("one"))));
    waitForLoad(window);
    w.Tree->setCurrentItem(w.TreeNode(CollectRoot));
    auto corner = [&] {
        const QImage shot = w.lister->report()->viewport()->grab().toImage();
        return shot.pixelColor(shot.width() - 4, shot.height() - 4);
    };
    const QPalette &palette = w.lister->report()->palette();
    QCOMPARE(corner(), palette.color(QPalette::Button));
    window.openStore(QString::fromStdString(writeChromium(dir.filePath("two"))));
    waitForLoad(window);
    QCOMPARE(corner(), palette.color(QPalette::Base));
}

QTEST_MAIN(TestStoreChooser)
#include "tst_storechooser.moc"
