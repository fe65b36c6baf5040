// The commands on the selected documents over the bare panels: no window, no web engine.

#include "app/documentcommands.h"
#include "app/lister.h"
#include "app/treenodes.h"
#include "concernsupport.h"
#include "platform/shell.h"
#include "rendering.h"
#include "support.h"
#include "windows/copydialog.h"

#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QSignalSpy>
#include <QTreeWidget>
#include <QtTest>

class TestDocumentCommands : public QObject {
    Q_OBJECT
private slots:
    void cleanup();
    void ensureTrailingSlash_data();
    void ensureTrailingSlash();
    void singleDocumentCommandsTakeLowestRow();
    void deleteRemovesEntriesEverywhere();
    void deleteLeavesNothingSelected();
    void declinedDeleteChangesNothing();
    void refusedDeleteIsReported_data();
    void refusedDeleteIsReported();
    void refusalNamesWhatTheStoreAnswers_data();
    void refusalNamesWhatTheStoreAnswers();
    void deleteAllFoundOrOfHost_data();
    void deleteAllFoundOrOfHost();
    void saveOneCopiesToExactPath();
    void saveSeveralCopiesIntoFolder();
    void saveCancelledCopiesNothing();

private:
    // The panels showing host "h.net" with five documents a..e (in file-name order), and the
    // commands over them; deleted rows leave the list as the window has them leave.
    struct Fixture {
        TestStore store;
        Panels p;
        DocumentCommands commands{p.state, p.lister, p.saver, p.status, &p.host, p.answerer};
        Fixture()
        {
            for (const char *name : {"e", "c", "a", "d", "b"})
                store.add(std::string("http://h.net/") + name + ".htm", std::string(name) + ".htm",
                          std::string("content of ") + name);
            store.add("http://other.net/o.htm", "o.htm", "other");
            QObject::connect(&commands, &DocumentCommands::rowCountChanged, &p.documents, &DocumentList::setRowCount);
            p.answerer.plan = IDYES;
            p.load();
            p.show(CacheRoot + 1);
        }
        QString fileAt(int row) const { return QString::fromUtf8(LocalFileName(p.state.view_list[std::size_t(row)])); }
        QStringList boxes() const { return p.answerer.texts(); }
    };
};

void TestDocumentCommands::cleanup()
{
    SetShellHandler({});
    SetReplaceQuestionResponder({});
}

void TestDocumentCommands::ensureTrailingSlash_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("folder") << "/keep"
                            << "/keep/";
    QTest::newRow("already") << "/keep/"
                             << "/keep/";
    QTest::newRow("empty") << ""
                           << "/";
    QTest::newRow("multi-byte last") << "/存"
                                     << "/存/";
}

void TestDocumentCommands::ensureTrailingSlash()
{
    QFETCH(QString, path);
    std::string text = path.toStdString();
    EnsureTrailingSlash(text);
    QTEST(QString::fromStdString(text), "expected");
}

void TestDocumentCommands::singleDocumentCommandsTakeLowestRow()
{
    Fixture f;
    QCOMPARE(f.p.state.view_list.size(), size_t(5));
    f.p.select({3, 1, 4});
    QList<ShellRequest> requests;
    SetShellHandler([&requests](const ShellRequest &r) {
        requests << r;
        return true;
    });
    f.commands.AOpenDocExecute();
    f.commands.ADocinfoExecute();
    f.commands.ACopyUrlExecute();
    QCOMPARE(requests.size(), 2);
    QCOMPARE(requests[0].kind, ShellRequest::Open);
    QCOMPARE(requests[0].path, f.fileAt(1));
    QCOMPARE(requests[1].kind, ShellRequest::ShowProperties);
    QCOMPARE(requests[1].path, f.fileAt(1));
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("http://h.net/b.htm"));

    // Without a selection the open reached by Enter or a double click does nothing.
    f.p.select({});
    f.commands.AOpenDocExecute();
    QCOMPARE(requests.size(), 2);
}

void TestDocumentCommands::deleteRemovesEntriesEverywhere()
{
    Fixture f;
    CatalogueState &state = f.p.state;
    // b and d are also in the collect box and the search station.
    for (int row : {1, 3})
        state.collect_list.push_back(MakeHeaderCopy(state.view_list[std::size_t(row)]));
    for (const auto &entry : state.cache_list)
        state.search_list.push_back(entry);
    const QString b = f.fileAt(1), d = f.fileAt(3);
    QSignalSpy removed(&f.commands, &DocumentCommands::entriesRemoved);
    f.p.select({1, 3});
    f.commands.ADeleteDocExecute();

    QCOMPARE(f.boxes(), QStringList{QStringLiteral("确实要删除选定的缓存文档吗？")});
    QCOMPARE(state.view_list.size(), size_t(3));
    QCOMPARE(f.p.lister->rowCount(), 3);
    QStringList names;
    for (const auto &record : state.view_list)
        names << QString::fromUtf8(SourceUrl(record));
    QCOMPARE(names, (QStringList{"http://h.net/a.htm", "http://h.net/c.htm", "http://h.net/e.htm"}));
    QCOMPARE(f.p.status.text(1), QStringLiteral("文档共3项"));
    QVERIFY(!QFile::exists(b));
    QVERIFY(!QFile::exists(d));
    QCOMPARE(f.store.store().listing().entries.size(), size_t(4)); // gone from the store itself
    QCOMPARE(state.cache_list.size(), size_t(4));
    QCOMPARE(state.search_list.size(), size_t(4));
    QVERIFY(state.collect_list.empty());
    QCOMPARE(removed.size(), 1); // the collect box and the search station count again
}

void TestDocumentCommands::deleteLeavesNothingSelected()
{
    Fixture f;
    f.p.host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.p.host));
    f.p.select({1, 3});
    QTRY_VERIFY(RowsPaintedSelected(f.p.lister->report()) > 0);
    f.commands.ADeleteDocExecute();
    QCOMPARE(f.boxes().size(), 1);
    QCOMPARE(f.p.state.view_list.size(), size_t(3));

    // The rows that moved up into the deleted rows' places were never chosen.
    QVERIFY(f.p.lister->selectedRows().isEmpty());
    QCOMPARE(RowsPaintedSelected(f.p.lister->report()), 0);
    QCOMPARE(f.p.lister->selectionModel()->currentIndex().row(), 1); // the focus stays put
}

void TestDocumentCommands::declinedDeleteChangesNothing()
{
    Fixture f;
    f.p.select({0, 2});
    f.p.answerer.plan = IDNO;
    f.commands.ADeleteDocExecute();
    QCOMPARE(f.boxes().size(), 1);
    QCOMPARE(f.p.state.view_list.size(), size_t(5));
    QCOMPARE(f.p.lister->selectedRows(), (QList<int>{0, 2}));
    QCOMPARE(f.store.store().listing().entries.size(), size_t(6));
    QVERIFY(QFile::exists(f.fileAt(0)));
}

namespace {

// A store of a given kind that answers who holds it and whether it is only ever read.
class AnsweredStore : public MemoryStore {
public:
    AnsweredStore(StoreKind kind, std::string folder, StoreHolder holder, bool readOnly)
        : MemoryStore(std::move(folder)), m_kind(kind), m_holder(holder), m_readOnly(readOnly)
    {}
    StoreKind kind() const override { return m_kind; }
    StoreHolder holder() const override { return m_holder; }
    bool readOnly() const override { return m_readOnly; }

private:
    StoreKind m_kind;
    StoreHolder m_holder;
    bool m_readOnly;
};

} // namespace

void TestDocumentCommands::refusalNamesWhatTheStoreAnswers_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("wine");
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<QString>("said");
    QTest::newRow("busy: the browser the folder names")
        << int(StoreError::Busy) << "chromium-simple"
        << "/h/.cache/google-chrome-beta/Default/Cache/Cache_Data" << false << false
        << "Chrome Beta 正在使用这个缓存，请先关闭 Chrome Beta。";
    QTest::newRow("busy: the programs of a Wine prefix") << int(StoreError::Busy) << "wininet"
                                                         << "/h/.wine/Content.IE5" << true << false << "Wine程序";
    QTest::newRow("read only: the whole kind") << int(StoreError::ReadOnly) << "chromium-blockfile"
                                               << "/c" << false << true << "Chromium（块文件缓存）只能读取";
    QTest::newRow("read only: an old version") << int(StoreError::ReadOnly) << "wininet"
                                               << "/c" << true << false << "旧版本";
}

void TestDocumentCommands::refusalNamesWhatTheStoreAnswers()
{
    QFETCH(int, error);
    QFETCH(QString, kind);
    QFETCH(QString, folder);
    QFETCH(bool, wine);
    QFETCH(bool, readOnly);
    QFETCH(QString, said);
    const AnsweredStore store(StoreKindFromId(kind.toStdString()), folder.toStdString(),
                              wine ? StoreHolder::WinePrograms : StoreHolder::Browser, readOnly);
    const QString text = DeleteFailureText(StoreError(error), &store);
    QVERIFY2(text.contains(said), qPrintable(text));
}

void TestDocumentCommands::refusedDeleteIsReported_data()
{
    QTest::addColumn<uint>("error");
    QTest::addColumn<int>("rowsLeft");
    QTest::addColumn<int>("boxes");
    // In use elsewhere: the entries stay in the cache, so their rows stay in the list.
    QTest::newRow("refused") << uint(StoreError::Busy) << 5 << 2;
    // Removed by another deleter first: as good as deleted, and nothing to report.
    QTest::newRow("already gone") << uint(StoreError::NotFound) << 3 << 1;
    QTest::newRow("full disk") << uint(StoreError::DiskFull) << 5 << 2;
}

void TestDocumentCommands::refusedDeleteIsReported()
{
    QFETCH(uint, error);
    QFETCH(int, rowsLeft);
    QFETCH(int, boxes);
    class AnsweringStore : public MemoryStore {
    public:
        explicit AnsweringStore(StoreError error) : m_error(error) {}
        StoreResult remove(std::string_view) override { return StoreResult::failure(m_error, "the browser is busy"); }

    private:
        StoreError m_error;
    };
    Fixture f;
    auto store = std::make_shared<AnsweringStore>(StoreError(error));
    store->listing() = f.store.store().listing();
    SetUrlCacheStore(store);
    f.p.select({0, 2});
    f.commands.ADeleteDocExecute();
    QCOMPARE(f.boxes().size(), boxes);
    if (boxes > 1) // in the user's words only: the store's own go to the log
        QCOMPARE(f.boxes()[1], QStringLiteral("有2个缓存文档未能删除：") + DeleteFailureText(StoreError(error)));
    QCOMPARE(f.p.state.view_list.size(), size_t(rowsLeft));
    QCOMPARE(f.p.lister->rowCount(), rowsLeft);
}

void TestDocumentCommands::deleteAllFoundOrOfHost_data()
{
    QTest::addColumn<QString>("node");      // the tree node whose documents go
    QTest::addColumn<int>("answer");        // to the question
    QTest::addColumn<QStringList>("asked"); // the file names of the entries the question counts
    QTest::addColumn<QStringList>("gone");  // and of those that go
    const QStringList host{"a.htm", "b.htm", "c.htm", "d.htm", "e.htm"};
    // The station holds b, d and other.net's o.
    QTest::newRow("station") << "station" << IDYES << QStringList{"b.htm", "d.htm", "o.htm"}
                             << QStringList{"b.htm", "d.htm", "o.htm"};
    QTest::newRow("host") << "host" << IDYES << host << host;
    QTest::newRow("host, declined") << "host" << IDNO << host << QStringList();
}

void TestDocumentCommands::deleteAllFoundOrOfHost()
{
    QFETCH(QString, node);
    QFETCH(int, answer);
    QFETCH(QStringList, asked);
    QFETCH(QStringList, gone);
    Fixture f;
    CatalogueState &state = f.p.state;
    const auto nameOf = [](const CatalogueEntry &e) {
        return QFileInfo(QString::fromUtf8(LocalFileName(e))).fileName();
    };
    std::uint64_t bytes = 0, freed = 0;
    for (const auto &entry : state.cache_list) {
        if (QStringList{"b.htm", "d.htm", "o.htm"}.contains(nameOf(entry)))
            state.search_list.push_back(entry);
        bytes += asked.contains(nameOf(entry)) ? EntrySize(EntryHeader(entry)) : 0;
        freed += gone.contains(nameOf(entry)) ? EntrySize(EntryHeader(entry)) : 0;
    }
    f.p.answerer.plan = answer;
    if (node == QLatin1String("station")) {
        f.commands.deleteFound();
    } else {
        const auto *host = dynamic_cast<const HostNodeItem *>(f.p.node(CacheRoot + 1));
        QVERIFY(host);
        f.commands.deleteHost(std::string(NodeHost(host)), host->store());
    }

    const QStringList boxes = f.boxes();
    QCOMPARE(boxes.value(0),
             QStringLiteral("将删除%1个缓存文档，共%2 字节，来自1个缓存。确实要删除吗？").arg(asked.size()).arg(bytes));
    QCOMPARE(boxes.size(), answer == IDYES ? 2 : 1);
    if (answer == IDYES)
        QCOMPARE(boxes[1], QStringLiteral("已删除%1项，释放%2 字节").arg(gone.size()).arg(freed));
    QCOMPARE(f.store.store().listing().entries.size(), std::size_t(6 - gone.size()));
    QCOMPARE(state.cache_list.size(), std::size_t(6 - gone.size()));
    for (const auto &entry : state.cache_list)
        QVERIFY(!gone.contains(nameOf(entry)));
    for (const QString &name : gone)
        QVERIFY(!QFile::exists(f.store.folder() + QLatin1Char('/') + name));
    if (node == QLatin1String("station") && answer == IDYES)
        QVERIFY(state.search_list.empty());
}

void TestDocumentCommands::saveOneCopiesToExactPath()
{
    Fixture f;
    QTemporaryDir target;
    f.p.select({2, 4});
    f.p.select({2});
    QString proposed;
    f.p.saver.setSaveDialog([&](const QString &p) {
        proposed = p;
        return target.filePath("page.htm");
    });
    f.commands.ASaveDocasExecute();
    QCOMPARE(proposed, QStringLiteral("c.htm"));
    QFile copy(target.filePath("page.htm"));
    QVERIFY(copy.open(QIODevice::ReadOnly));
    QCOMPARE(copy.readAll(), QByteArray("content of c"));
    QCOMPARE(QDir(target.path()).entryList(QDir::Files).size(), 1);
}

void TestDocumentCommands::saveSeveralCopiesIntoFolder()
{
    Fixture f;
    QTemporaryDir target;
    f.p.select({0, 4});
    QString proposed;
    f.p.saver.setSaveDialog([&](const QString &p) {
        proposed = p;
        return target.filePath("anything");
    });
    f.commands.ASaveDocasExecute();
    QCOMPARE(proposed, QStringLiteral("多个文件"));
    QCOMPARE(QDir(target.path()).entryList(QDir::Files), (QStringList{"a.htm", "e.htm"}));
    QFile e(target.filePath("e.htm"));
    QVERIFY(e.open(QIODevice::ReadOnly));
    QCOMPARE(e.readAll(), QByteArray("content of e"));
}

void TestDocumentCommands::saveCancelledCopiesNothing()
{
    Fixture f;
    f.p.select({0});
    int asked = 0;
    f.p.saver.setSaveDialog([&](const QString &) {
        ++asked;
        return QString();
    });
    f.commands.ASaveDocasExecute();
    QCOMPARE(asked, 1);
    QVERIFY(f.boxes().isEmpty());
}

QTEST_MAIN(TestDocumentCommands)
#include "tst_documentcommands.moc"
