// The preview pane: text documents in the viewer, everything else in the browser by URL,
// the pane switched off and on with its list height, the browser's commands, and offline
// browsing served from the cache store.

#include "answering.h"
#include "app/catalogueloader.h"
#include "app/lister.h"
#include "app/mainwindow.h"
#include "app/preview.h"
#include "app/settingsfile.h"
#include "app/treenodes.h"
#include "catalogue/catalogue.h"
#include "platform/browser/browser.h"
#include "platform/browser/findbar.h"
#include "platform/browser/savedpage.h"
#include "platform/offlinestate.h"
#include "rendering.h"
#include "stores/bodies.h"
#include "support.h"
#include "support_web.h"
#include "windowsupport.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QSignalSpy>
#include <QSplitter>
#include <QStandardPaths>
#include <QStringEncoder>
#include <QTextBlock>
#include <QTreeWidget>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>
#include <QtTest>

namespace {

constexpr int kLoadTimeout = 60000; // page loads: generous, the engine starts on first use

QByteArray gbk(const QString &text)
{
    QStringEncoder encoder("GBK");
    return encoder.encode(text);
}

QByteArray pngBytes()
{
    QImage image(8, 6, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// A main window over a store of its own, in a folder of its own.
class Session {
public:
    explicit Session(Answerer &answerer, std::optional<Tsettingdata> settings = std::nullopt) : m_answerer(answerer)
    {
        if (settings)
            WriteSettingsFile(SettingsFilePath(m_appDir.path()), *settings);
        UseOfflineStateFile(m_appDir.filePath(QStringLiteral("offline")).toStdString());
        SetOffline(false);
    }
    ~Session() { SetOffline(false); }

    TestStore store;
    std::unique_ptr<Tfrm_cache> frm_cache;
    std::unique_ptr<WindowParts> window;

    void add(const std::string &url, const std::string &file, const QByteArray &content)
    {
        store.add(url, file, content.toStdString());
    }

    // Opens the window, loads the catalogue and lists the first host's documents.
    bool open()
    {
        frm_cache = std::make_unique<Tfrm_cache>(m_appDir.path(), &m_answerer);
        window = std::make_unique<WindowParts>(*frm_cache);
        frm_cache->show();
        if (!QTest::qWaitForWindowExposed(frm_cache.get())
            || !QTest::qWaitFor([this] { return window->state.tree_ready; }))
            return false;
        window->Tree->setCurrentItem(window->TreeNode(CacheRoot + 1)); // the one host of the store
        return window->lister->selectionModel() && window->state.list_ready
            && window->lister->rowCount() == int(window->state.view_list.size()) && !window->state.view_list.empty();
    }

    int rowOf(const std::string &url) const
    {
        const ViewList &rows = window->state.view_list;
        for (std::size_t i = 0; i < rows.size(); ++i)
            if (SourceUrl(rows[i]) == url)
                return int(i);
        return -1;
    }

    // Selects the row as a plain click does: focus and selection on that row alone.
    void click(const std::string &url)
    {
        QItemSelectionModel *selection = window->lister->selectionModel();
        selection->setCurrentIndex(selection->model()->index(rowOf(url), 0),
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }

    std::string path(const std::string &file) const { return store.path(file); }

private:
    QTemporaryDir m_appDir;
    Answerer &m_answerer;
};

// Runs `script` in the page and waits for its answer.
QVariant evaluate(QWebEnginePage *page, const QString &script)
{
    QVariant answer;
    bool done = false;
    // A world of its own: it runs whether or not the page may run script.
    page->runJavaScript(script, QWebEngineScript::ApplicationWorld, [&](const QVariant &value) {
        answer = value;
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done; }, kLoadTimeout))
        return {};
    return answer;
}

} // namespace

class TestPreview : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void readsText_data();
    void readsText();
    void unreadableFileHasNoText();
    void cacheKeys_data();
    void cacheKeys();
    void indexFollowsCatalogue();
    void textDocumentsShowInViewer_data();
    void textDocumentsShowInViewer();
    void otherDocumentsGoToTheirUrl_data();
    void otherDocumentsGoToTheirUrl();
    void hugeTextIsCut();
    void textWithoutLineBreaks_data();
    void textWithoutLineBreaks();
    void textBenchOnSparseFile();
    void missingFileIsReported();
    void bodyThatCannotBeWrittenOut_data();
    void bodyThatCannotBeWrittenOut();
    void urlPanelShowsTheUrlAsItIs();
    void copyTakesTheTextViewersSelection();
    void copyTakesThePagesSelection();
    void paneOffChangesNothing();
    void hidingKeepsListHeight();
    void startingWithPaneOffTakesDesignedHeight();
    void storedListHeightApplies();
    void browserCommandsNeedDocument();
    void offlineServesCachedPage();
    void offlineUncachedPage();
    void onlineGoesToNetwork();
    void newWindowOpensInPreview_data();
    void newWindowOpensInPreview();
    void savedPagesCarryWebAddresses_data();
    void savedPagesCarryWebAddresses();
    void webAddressesOf_data();
    void webAddressesOf();

private:
    QStringList m_boxes;
    ScriptedAnswerer m_answerer;
};

void TestPreview::init()
{
    m_boxes.clear();
    m_answerer.reply = [this](const MessageBoxRequest &r) {
        m_boxes << r.caption + QLatin1Char('|') + r.text;
        return IDOK;
    };
}

void TestPreview::cleanup()
{
    m_answerer.reply = {};
}

void TestPreview::readsText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("cut");
    const QString chinese = QStringLiteral("中文网页缓存");
    QTest::newRow("utf-8") << chinese.toUtf8() << qint64(1000) << chinese << false;
    QTest::newRow("gbk") << gbk(chinese) << qint64(1000) << chinese << false;
    QTest::newRow("ascii") << QByteArray("body { color: red }\n") << qint64(1000)
                           << QStringLiteral("body { color: red }\n") << false;
    QTest::newRow("empty") << QByteArray() << qint64(1000) << QString() << false;
    // Cut inside the second character: the first stays, the broken rest is not taken for GBK.
    QTest::newRow("utf-8 cut mid-character")
        << QStringLiteral("你好").toUtf8() << qint64(4) << QStringLiteral("你") << true;
    QTest::newRow("gbk cut mid-character") << gbk(QStringLiteral("你好")) << qint64(3) << QStringLiteral("你") << true;
    QTest::newRow("nul shown") << QByteArray("A\0B", 3) << qint64(1000) << QStringLiteral("A\u2400B") << false;
}

void TestPreview::readsText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(qint64, limit);
    QFETCH(QString, text);
    QFETCH(bool, cut);
    QTemporaryDir dir;
    QFile file(dir.filePath("doc.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();
    const std::optional<PreviewText> read = ReadPreviewText(file.fileName(), limit);
    QVERIFY(read);
    QCOMPARE(read->cut, cut);
    if (cut) {
        QVERIFY2(read->text.startsWith(text + QStringLiteral("\n\n[文件太大")), qPrintable(read->text));
        QVERIFY(read->text.contains(QStringLiteral("其余部分已截去")));
    } else {
        QCOMPARE(read->text, text);
    }
}

void TestPreview::unreadableFileHasNoText()
{
    QTemporaryDir dir;
    QVERIFY(!ReadPreviewText(dir.filePath("missing.txt")));
    QVERIFY(!ReadPreviewText(dir.path())); // a folder is not a file
}

void TestPreview::cacheKeys_data()
{
    QTest::addColumn<QUrl>("request");
    QTest::addColumn<QByteArray>("entryUrl");
    QTest::addColumn<bool>("found");
    QTest::newRow("mirror of http") << QUrl("twhttp://example.test/a/b.htm?x=1")
                                    << QByteArray("http://example.test/a/b.htm?x=1") << true;
    QTest::newRow("mirror of https") << QUrl("twhttps://example.test/c.css") << QByteArray("https://example.test/c.css")
                                     << true;
    QTest::newRow("scheme kept apart") << QUrl("twhttps://example.test/c.css")
                                       << QByteArray("http://example.test/c.css") << false;
    QTest::newRow("escaped space") << QUrl("twhttp://example.test/a%20b.htm")
                                   << QByteArray("http://example.test/a b.htm") << true;
    QTest::newRow("utf-8 path") << QUrl("twhttp://example.test/%E4%B8%AD.htm")
                                << QByteArray("http://example.test/中.htm") << true;
    QTest::newRow("host case") << QUrl("twhttp://example.test/p.htm") << QByteArray("http://Example.TEST/p.htm")
                               << true;
    QTest::newRow("other path") << QUrl("twhttp://example.test/p.htm") << QByteArray("http://example.test/q.htm")
                                << false;
    QTest::newRow("fragment ignored") << QUrl("twhttp://example.test/p.htm#top")
                                      << QByteArray("http://example.test/p.htm") << true;
}

void TestPreview::cacheKeys()
{
    QFETCH(QUrl, request);
    QFETCH(QByteArray, entryUrl);
    QFETCH(bool, found);
    TestStore store;
    store.add(entryUrl.toStdString(), "X1/doc[1].htm", "<p>cached</p>");
    const CacheList catalogue = EnumerateCatalogue(); // as the program reads it
    QCOMPARE(catalogue.size(), std::size_t(1));
    CachedUrlIndex index(catalogue);
    CacheSchemeHandler handler;
    handler.setLookup([&index](const QByteArray &url) { return index.localFile(url); });
    const std::optional<QString> local = handler.localFileFor(request);
    QCOMPARE(bool(local), found);
    if (found)
        QCOMPARE(*local, QString::fromStdString(store.path("X1/doc[1].htm")));
}

void TestPreview::indexFollowsCatalogue()
{
    TestStore store;
    store.add("http://example.test/a.htm", "I1/a[1].htm", "a");
    CacheList catalogue = EnumerateCatalogue();
    CachedUrlIndex index(catalogue);
    QCOMPARE(index.localFile("http://example.test/a.htm").path, std::optional(store.path("I1/a[1].htm")));
    QVERIFY(!index.localFile("http://example.test/b.htm").path);

    // A reload with the same number of entries still makes the index anew.
    TestStore other;
    other.add("http://example.test/b.htm", "I2/b[1].htm", "b");
    catalogue = EnumerateCatalogue();
    QCOMPARE(index.localFile("http://example.test/b.htm").path, std::optional(other.path("I2/b[1].htm")));
    QVERIFY(!index.localFile("http://example.test/a.htm").path);

    catalogue.clear(); // what the window does at close
    QVERIFY(!index.localFile("http://example.test/b.htm").path);
}

void TestPreview::textDocumentsShowInViewer_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("shown");
    const QString chinese = QStringLiteral("这是缓存中的纯文本文档");
    QTest::newRow("txt utf-8") << "T1/readme[1].txt" << chinese.toUtf8() << chinese;
    QTest::newRow("txt gbk") << "T1/gbk[1].txt" << gbk(chinese) << chinese;
    QTest::newRow("css") << "T1/site[1].css" << QByteArray("p { margin: 0 }") << "p { margin: 0 }";
    QTest::newRow("js") << "T1/app[1].js" << QByteArray("var x = 1;\n") << "var x = 1;\n";
    QTest::newRow("class bytes") << "T1/Main[1].class" << QByteArray("\xCA\xFE\xBA\xBE\0\0\0\x34java/lang/Object", 24)
                                 << "java/lang/Object";
}

void TestPreview::textDocumentsShowInViewer()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, content);
    QFETCH(QString, shown);
    Session session(m_answerer);
    const std::string url = "http://example.test/" + QFileInfo(file).fileName().toStdString();
    session.add(url, file.toStdString(), content);
    session.add("http://example.test/page.htm", "T1/page[1].htm", "<p>page</p>");
    QVERIFY(session.open());
    WindowParts &w = *session.window;

    // A browser preview first, so that the text preview has a flag to turn back.
    session.click("http://example.test/page.htm");
    QVERIFY(w.Web1->Visible());
    QVERIFY(w.editor->isHidden());

    session.click(url);
    QVERIFY(!w.Web1->Visible());
    QVERIFY(w.editor->isVisible());
    QVERIFY2(w.editor->toPlainText().contains(shown), qPrintable(w.editor->toPlainText()));
    QCOMPARE(w.StatusText(2), QString::fromStdString(url));
    QCOMPARE(w.Web1->requestedUrl(), QUrl("http://example.test/page.htm")); // the browser kept its page
    QVERIFY(m_boxes.isEmpty());
}

void TestPreview::otherDocumentsGoToTheirUrl_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("file");
    QTest::newRow("htm") << "http://example.test/news/index.htm"
                         << "H1/index[1].htm";
    QTest::newRow("html") << "https://example.test/a.html?id=7"
                          << "H1/a[1].html";
    QTest::newRow("image") << "http://example.test/logo.gif"
                           << "H1/logo[1].gif";
    QTest::newRow("script page") << "http://example.test/get.asp?id=1"
                                 << "H1/get[1].asp";
}

void TestPreview::otherDocumentsGoToTheirUrl()
{
    QFETCH(QString, url);
    QFETCH(QString, file);
    Session session(m_answerer);
    session.add(url.toStdString(), file.toStdString(), "<p>x</p>");
    session.add("http://example.test/notes.txt", "H1/notes[1].txt", "notes");
    QVERIFY(session.open());
    WindowParts &w = *session.window;
    session.click("http://example.test/notes.txt");
    QVERIFY(w.editor->isVisible());

    session.click(url.toStdString());
    QVERIFY(w.editor->isHidden());
    QVERIFY(w.Web1->Visible());
    QCOMPARE(w.StatusText(2), url);
    QCOMPARE(w.Web1->requestedUrl(), QUrl(url));
    QVERIFY(w.Web1->page());
    QCOMPARE(w.Web1->page()->requestedUrl(), QUrl(url)); // the document's URL, never its local file
    QVERIFY(!w.Web1->page()->requestedUrl().isLocalFile());
    QCOMPARE(w.editor->toPlainText(), QStringLiteral("notes")); // the viewer keeps its text underneath
}

void TestPreview::hugeTextIsCut()
{
    Session session(m_answerer);
    QByteArray huge;
    const QByteArray line = QByteArray("0123456789 缓存 abcdefghij\n");
    while (huge.size() < kPreviewTextLimit + 1024 * 1024)
        huge += line;
    session.add("http://example.test/huge.txt", "B1/huge[1].txt", huge);
    QVERIFY(session.open());
    session.click("http://example.test/huge.txt");
    const QString text = session.window->editor->toPlainText();
    QVERIFY(text.contains(QStringLiteral("其余部分已截去")));
    QVERIFY(text.size() < kPreviewTextLimit);
    QVERIFY(text.startsWith(QString::fromUtf8(line)));
}

void TestPreview::textWithoutLineBreaks_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("shown");
    QTest::newRow("zero bytes") << QByteArray(1024 * 1024, '\0') << QString(QChar(0x2400));
    QTest::newRow("one long line") << QByteArray(3 * 1024 * 1024, 'x') << QStringLiteral("x");
}

void TestPreview::textWithoutLineBreaks()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, shown);
    Session session(m_answerer);
    session.add("http://example.test/flat.txt", "F1/flat[1].txt", content);
    QVERIFY(session.open());
    session.click("http://example.test/flat.txt");
    QPlainTextEdit *editor = session.window->editor;
    QVERIFY(editor->isVisible());
    // Laid out in pieces that the viewer can show at once.
    const QTextBlock first = editor->document()->firstBlock();
    QCOMPARE(first.text(), QString(kPreviewLineLimit, shown.front()));
    QVERIFY(editor->document()->blockCount() > 200);
    QVERIFY(!editor->grab().isNull());
}

void TestPreview::textBenchOnSparseFile()
{
    // A 2 GB file of nothing but holes: the preview reads its first 2 MB.
    QTemporaryDir dir;
    QFile sparse(dir.filePath("sparse.bin"));
    QVERIFY(sparse.open(QIODevice::WriteOnly));
    QVERIFY(sparse.resize(qint64(2) << 30));
    sparse.close();
    QProcess bench;
    bench.start(QStringLiteral(TIDEWRACK_BENCH), {"text", sparse.fileName(), "--repeat", "2"});
    QVERIFY(bench.waitForFinished(120000));
    const QByteArray out = bench.readAllStandardOutput();
    QCOMPARE(bench.exitCode(), 0);
    QVERIFY2(out.contains("longest_line: 4096\n"), out.constData());
    QVERIFY2(out.contains("text_ms_median: "), out.constData());
}

void TestPreview::missingFileIsReported()
{
    Session session(m_answerer);
    session.add("http://example.test/first.txt", "M1/first[1].txt", "first text");
    session.add("http://example.test/gone.txt", "M1/gone[1].txt", "soon gone");
    QVERIFY(session.open());
    WindowParts &w = *session.window;
    session.click("http://example.test/first.txt");
    QCOMPARE(w.editor->toPlainText(), QStringLiteral("first text"));

    const QString path = QString::fromStdString(session.path("M1/gone[1].txt"));
    QVERIFY(QFile::remove(path));
    session.click("http://example.test/gone.txt");
    QCOMPARE(m_boxes, QStringList(QStringLiteral("Tidewrack|无法打开文件 %1：文件或文件夹不存在。").arg(path)));
    QCOMPARE(w.editor->toPlainText(), QStringLiteral("first text"));
    QVERIFY(w.editor->isVisible());
    QVERIFY(!w.Web1->Visible());
}

void TestPreview::bodyThatCannotBeWrittenOut_data()
{
    QTest::addColumn<QString>("url");
    QTest::newRow("text viewer") << "http://example.test/notes.txt";
    QTest::newRow("picture in the browser") << "http://example.test/pic.png";
}

// A body kept inside a container whose file cannot be made (the bodies folder is a file):
// the entry is there, and the user is told why it cannot be shown, not that it is missing.
void TestPreview::bodyThatCannotBeWrittenOut()
{
    QFETCH(QString, url);
    Session session(m_answerer);
    SetOffline(true);
    session.add("http://example.test/first.txt", "M1/first[1].txt", "first text");
    const QString container = QString::fromStdString(session.path("container"));
    QVERIFY(WriteBytes(container, "body"));
    const QString bodies = QString::fromStdString(session.path("bodies"));
    QVERIFY(WriteBytes(bodies, "a file where the folder should be"));
    SetBodiesFolder(bodies.toStdString());
    StoreEntry &entry =
        session.store.store().add(url.toStdString(), (bodies + "/h/1/" + QUrl(url).fileName()).toStdString());
    entry.body = BodyPlace::Range;
    entry.size = 4;
    session.store.store().setText(entry.container, container.toStdString());
    QVERIFY(session.open());
    session.click(url.toStdString());
    const QString cause = QStringLiteral("所需的文件夹不存在或不是文件夹");
    if (url.endsWith(QLatin1String(".txt"))) {
        QCOMPARE(m_boxes,
                 QStringList(
                     QStringLiteral("Tidewrack|无法显示该文档：它在缓存中，但未能取出（%1）。\n%2").arg(cause, url)));
    } else {
        QSignalSpy loaded(session.window->Web1, &Browser::loadFinished);
        QVERIFY(loaded.wait(kLoadTimeout));
        const QString text = evaluate(session.window->Web1->page(), "document.body.innerText").toString();
        QVERIFY2(text.contains(QStringLiteral("该文档在缓存中，但未能取出：%1。").arg(cause)), qPrintable(text));
    }
    SetBodiesFolder({});
}

void TestPreview::urlPanelShowsTheUrlAsItIs()
{
    Session session(m_answerer);
    const std::string url = "http://example.test/<b>x</b>.txt";
    session.add(url, "H1/x[1].txt", "text");
    QVERIFY(session.open());
    session.click(url);
    QCOMPARE(session.window->StatusText(2), QString::fromStdString(url));
    auto *panel = session.frm_cache->findChild<QLabel *>(QStringLiteral("sbar2"));
    QVERIFY(panel);
    QCOMPARE(ShownText(panel), QString::fromStdString(url));
    QVERIFY(PaintsAsPlainText(panel));
}

void TestPreview::copyTakesTheTextViewersSelection()
{
    Session session(m_answerer);
    const std::string url = "http://example.test/notes.txt";
    session.add(url, "C1/notes[1].txt", "one selected word");
    QVERIFY(session.open());
    WindowParts &w = *session.window;
    session.frm_cache->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(session.frm_cache.get()));
    session.click(url);
    QVERIFY(w.editor->isVisible());
    w.ActionList1Update();
    QVERIFY(w.ACopyUrl->isEnabled()); // the row is selected: Ctrl+C is the copy-URL command's

    QTextCursor cursor(w.editor->document());
    cursor.setPosition(4);
    cursor.setPosition(12, QTextCursor::KeepAnchor);
    w.editor->setTextCursor(cursor);
    w.editor->setFocus();
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(w.editor, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("selected"));

    // Without a selection there, or with the focus elsewhere, it copies the URL as before.
    w.editor->moveCursor(QTextCursor::Start);
    QTest::keyClick(w.editor, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromStdString(url));
    w.editor->setTextCursor(cursor);
    w.lister->setFocus();
    QTest::keyClick(w.lister->report(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromStdString(url));
}

void TestPreview::copyTakesThePagesSelection()
{
    Session session(m_answerer);
    SetOffline(true);
    const std::string url = "http://example.test/page.htm";
    session.add(url, "C2/page[1].htm", "<html><body><p id=\"t\">text of the page</p></body></html>");
    QVERIFY(session.open());
    WindowParts &w = *session.window;
    session.frm_cache->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(session.frm_cache.get()));
    session.click(url);
    QSignalSpy loaded(w.Web1, &Browser::loadFinished);
    QVERIFY(loaded.wait(kLoadTimeout));
    QWebEngineView *view = w.Web1->view();
    evaluate(w.Web1->page(), "window.getSelection().selectAllChildren(document.getElementById('t'))");
    QTRY_VERIFY(view->hasSelection());
    view->setFocus();
    QTRY_VERIFY(QApplication::focusWidget() && view->isAncestorOf(QApplication::focusWidget()));
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_C, Qt::ControlModifier);
    QTRY_COMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("text of the page"));
}

void TestPreview::paneOffChangesNothing()
{
    Session session(m_answerer);
    session.add("http://example.test/one.txt", "P1/one[1].txt", "one");
    session.add("http://example.test/two.txt", "P1/two[1].txt", "two");
    session.add("http://example.test/three.htm", "P1/three[1].htm", "<p>3</p>");
    QVERIFY(session.open());
    WindowParts &w = *session.window;
    session.click("http://example.test/one.txt");
    QCOMPARE(w.editor->toPlainText(), QStringLiteral("one"));

    w.m_viewdoc->trigger(); // F8: off
    QCOMPARE(int(w.settings().viewdoc), 0);
    QVERIFY(w.pnl_main->isHidden());
    session.click("http://example.test/two.txt");
    session.click("http://example.test/three.htm");
    QCOMPARE(w.editor->toPlainText(), QStringLiteral("one"));
    QCOMPARE(w.StatusText(2), QStringLiteral("http://example.test/one.txt"));
    QVERIFY(w.Web1->requestedUrl().isEmpty());

    w.m_viewdoc->trigger(); // on: the last preview, not the row selected now
    QCOMPARE(int(w.settings().viewdoc), 1);
    QVERIFY(w.pnl_main->isVisible());
    QVERIFY(w.editor->isVisible());
    QCOMPARE(w.editor->toPlainText(), QStringLiteral("one"));
    session.click("http://example.test/two.txt");
    QCOMPARE(w.editor->toPlainText(), QStringLiteral("two"));
}

void TestPreview::hidingKeepsListHeight()
{
    Session session(m_answerer);
    session.add("http://example.test/one.txt", "L1/one[1].txt", "one");
    QVERIFY(session.open());
    WindowParts &w = *session.window;
    w.window.resize(800, 600);
    QTRY_VERIFY(w.Splitter2->height() > 400);
    QVERIFY(w.lister->height() != 200);
    w.Splitter2->setSizes({200, w.Splitter2->height() - 200 - w.Splitter2->handleWidth()});
    QCOMPARE(w.lister->height(), 200);
    const int storedAtStart = w.settings().listheight;

    w.m_viewdoc->trigger();
    QCOMPARE(w.settings().listheight, 200);
    QVERIFY(w.pnl_main->isHidden());
    QVERIFY(w.Splitter2->handle(1)->isHidden());
    QTRY_COMPARE(w.lister->height(), w.Splitter2->height()); // the list fills the area

    w.m_viewdoc->trigger();
    QVERIFY(w.pnl_main->isVisible());
    QVERIFY(w.Splitter2->handle(1)->isVisible());
    QTRY_COMPARE(w.lister->height(), 200);
    QVERIFY(storedAtStart != 200);
}

void TestPreview::startingWithPaneOffTakesDesignedHeight()
{
    Tsettingdata stored{};
    stored.viewdoc = 0;
    stored.viewstyle = 3;
    stored.listheight = 300;
    Session session(m_answerer, stored);
    session.add("http://example.test/one.txt", "S1/one[1].txt", "one");
    QVERIFY(session.open());
    WindowParts &w = *session.window;
    QCOMPARE(w.settings().listheight, kDesignedListHeight);
    QVERIFY(!w.m_viewdoc->isChecked());
    QVERIFY(w.pnl_main->isHidden());

    w.window.resize(800, 600);
    QTRY_VERIFY(w.Splitter2->height() > 400);
    w.m_viewdoc->trigger();
    QTRY_COMPARE(w.lister->height(), kDesignedListHeight);
    QVERIFY(w.pnl_main->isVisible());
}

void TestPreview::storedListHeightApplies()
{
    Tsettingdata stored{};
    stored.viewdoc = 1;
    stored.viewstyle = 3;
    stored.listheight = 250;
    Session session(m_answerer, stored);
    session.add("http://example.test/one.txt", "S2/one[1].txt", "one");
    QVERIFY(session.open());
    WindowParts &w = *session.window;
    w.window.resize(800, 600);
    QTRY_VERIFY(w.Splitter2->height() > 400);
    QTRY_COMPARE(w.lister->height(), 250);
    QVERIFY(w.pnl_main->isVisible());
    QCOMPARE(w.settings().listheight, 250); // moving nothing keeps it
}

void TestPreview::browserCommandsNeedDocument()
{
    Session session(m_answerer);
    SetOffline(true); // no network: the pages come from the store
    session.add("http://example.test/page.htm", "C1/page[1].htm",
                "<html><body><p>find me</p><p>Find Me</p><p>FIND me</p></body></html>");
    QVERIFY(session.open());
    WindowParts &w = *session.window;

    w.preview->AFindInWebExecute();
    w.preview->AInternetOptionExecute();
    w.preview->ASaveWebasExecute();
    QVERIFY(w.Web1->findBar()->isHidden());
    QVERIFY(!w.Web1->optionsDialog());
    QVERIFY(!w.Web1->saveDialog());
    QVERIFY(!w.Web1->hasDocument());
    QVERIFY(!w.Web1->canSave());

    // A navigation alone is not a document yet.
    session.click("http://example.test/page.htm");
    QVERIFY(w.Web1->page());
    QSignalSpy loaded(w.Web1, &Browser::loadFinished);
    w.preview->BrowserCommand(PreviewPane::HTMLID_OPTIONS);
    QVERIFY(!w.Web1->optionsDialog());
    QVERIFY(loaded.wait(kLoadTimeout));
    QVERIFY(w.Web1->hasDocument());

    w.preview->AFindInWebExecute();
    FindBar *bar = w.Web1->findBar();
    QVERIFY(bar->isVisible());
    QTest::keyClicks(bar->field(), "FIND me");
    QTRY_COMPARE_WITH_TIMEOUT(bar->result()->text(), QStringLiteral("1/3"), kLoadTimeout);
    bar->matchCase()->setChecked(true); // searches again, now case-sensitive
    QTRY_COMPARE_WITH_TIMEOUT(bar->result()->text(), QStringLiteral("1/1"), kLoadTimeout);
    QTest::keyClick(bar->field(), Qt::Key_Escape);
    QVERIFY(w.Web1->findBar()->isHidden());

    w.preview->AInternetOptionExecute();
    QVERIFY(w.Web1->optionsDialog());
    QVERIFY(w.Web1->optionsDialog()->isVisible());
    QVERIFY(w.Web1->optionsDialog()->offline()->isChecked()); // shows the state as it is
    // The menu's words, and room for them in a title bar.
    InternetOptionsDialog *options = w.Web1->optionsDialog();
    QCOMPARE(options->offline()->text(), QStringLiteral("离线浏览(&W)"));
    QVERIFY(w.Aoffline->text().startsWith(QStringLiteral("离线浏览")));
    QCOMPARE(options->windowTitle(), QStringLiteral("Internet选项"));
    QVERIFY(w.AInternetOption->text().startsWith(options->windowTitle()));
    QFont caption = options->font();
    caption.setBold(true);
    QVERIFY(options->width() > QFontMetrics(caption).horizontalAdvance(options->windowTitle()) * 2);
    w.Web1->optionsDialog()->offline()->setChecked(false);
    w.Web1->optionsDialog()->accept();
    QVERIFY(!IsOffline());
}

void TestPreview::offlineServesCachedPage()
{
    Session session(m_answerer);
    SetOffline(true);
    session.add("http://example.test/dir/page.htm", "O1/page[1].htm",
                "<html><head><title>Cached</title></head><body><p id=\"t\">from the cache</p>"
                "<img src=\"logo.png\"></body></html>");
    session.add("http://example.test/dir/logo.png", "O1/logo[1].png", pngBytes());
    QVERIFY(session.open());
    WindowParts &w = *session.window;
    session.click("http://example.test/dir/page.htm");
    QVERIFY(w.Web1->page());
    QSignalSpy loaded(w.Web1, &Browser::loadFinished);
    QVERIFY(loaded.wait(kLoadTimeout));
    QVERIFY(loaded.first().first().toBool());
    QWebEnginePage *page = w.Web1->page();
    QCOMPARE(evaluate(page, "document.getElementById('t').textContent").toString(), QStringLiteral("from the cache"));
    QVERIFY(QTest::qWaitFor([page] { return evaluate(page, "document.images[0].complete").toBool(); }, kLoadTimeout));
    QCOMPARE(evaluate(page, "document.images[0].naturalWidth").toInt(), 8);
    QCOMPARE(FromCacheScheme(page->url()), QUrl("http://example.test/dir/page.htm"));
}

void TestPreview::offlineUncachedPage()
{
    Session session(m_answerer);
    SetOffline(true);
    session.add("http://example.test/dir/page.htm", "U1/page[1].htm", "<p>cached</p>");
    QVERIFY(session.open());
    Browser *browser = session.window->Web1;
    QVERIFY(browser->Navigate("http://example.test/not/cached.htm").isEmpty());
    QSignalSpy loaded(browser, &Browser::loadFinished);
    QVERIFY(loaded.wait(kLoadTimeout));
    const QString text = evaluate(browser->page(), "document.body.innerText").toString();
    QVERIFY2(text.contains(QStringLiteral("该网页不在缓存中")), qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("http://example.test/not/cached.htm")));

    // Local files and non-web addresses are refused outright.
    QVERIFY(!browser->Navigate("file:///etc/passwd").isEmpty());
    QVERIFY(!browser->Navigate(QString::fromStdString(session.path("U1/page[1].htm"))).isEmpty());
    QVERIFY(!browser->Navigate("javascript:alert(1)").isEmpty());
    QCOMPARE(browser->requestedUrl(), QUrl("http://example.test/not/cached.htm"));
    // A cached blank page is shown, not reported.
    QVERIFY(browser->Navigate("about:blank").isEmpty());
}

void TestPreview::onlineGoesToNetwork()
{
    Session session(m_answerer); // online
    WebServer server("200 OK", "<p id=\"t\">from the network</p>");
    const std::string url = server.url("/dir/page.htm").toStdString();
    session.add(url, "G1/page[1].htm", "<p id=\"t\">from the cache</p>");
    QVERIFY(session.open());
    WindowParts &w = *session.window;
    auto shown = [&w] { return evaluate(w.Web1->page(), "document.getElementById('t').textContent").toString(); };
    QSignalSpy loaded(w.Web1, &Browser::loadFinished);
    session.click(url);
    QVERIFY(loaded.wait(kLoadTimeout));
    QCOMPARE(shown(), QStringLiteral("from the network"));
    QCOMPARE(w.Web1->page()->requestedUrl().scheme(), QStringLiteral("http"));

    // F12: the page now previewed comes again, from the cache; and back from the network.
    w.Aoffline->trigger();
    QVERIFY(IsOffline());
    QVERIFY(loaded.wait(kLoadTimeout));
    QCOMPARE(shown(), QStringLiteral("from the cache"));
    QCOMPARE(server.requests, 1);
    w.Aoffline->trigger();
    QVERIFY(!IsOffline());
    QVERIFY(loaded.wait(kLoadTimeout));
    QCOMPARE(shown(), QStringLiteral("from the network"));
    QCOMPARE(server.requests, 2);
}

void TestPreview::newWindowOpensInPreview_data()
{
    QTest::addColumn<QString>("script");
    QTest::newRow("window.open") << "window.open('target.htm', '_blank'); true";
    QTest::newRow("link with a new-window target") << "document.getElementById('l').click(); true";
}

void TestPreview::newWindowOpensInPreview()
{
    QFETCH(QString, script);
    Session session(m_answerer);
    SetOffline(true);
    session.add("http://example.test/w/opener.htm", "N1/opener[1].htm",
                "<html><body><a id=\"l\" href=\"target.htm\" target=\"_blank\">open</a></body></html>");
    session.add("http://example.test/w/target.htm", "N1/target[1].htm",
                "<html><body><p id=\"t\">target</p></body></html>");
    QVERIFY(session.open());
    WindowParts &w = *session.window;
    session.click("http://example.test/w/opener.htm");
    QSignalSpy loaded(w.Web1, &Browser::loadFinished);
    QVERIFY(loaded.wait(kLoadTimeout));
    const int windows = QApplication::topLevelWidgets().size();

    QVERIFY(evaluate(w.Web1->page(), script).toBool());
    QVERIFY(QTest::qWaitFor(
        [&] { return FromCacheScheme(w.Web1->page()->url()) == QUrl("http://example.test/w/target.htm"); },
        kLoadTimeout));
    QVERIFY(QTest::qWaitFor([&] { return loaded.count() == 2; }, kLoadTimeout));
    QCOMPARE(evaluate(w.Web1->page(), "document.getElementById('t').textContent").toString(), QStringLiteral("target"));
    QCOMPARE(QApplication::topLevelWidgets().size(), windows);
}

void TestPreview::savedPagesCarryWebAddresses_data()
{
    QTest::addColumn<int>("filter");
    QTest::addColumn<QString>("name");
    QTest::newRow("complete page") << 0 << "saved.htm";
    QTest::newRow("archive") << 1 << "saved.mht";
    QTest::newRow("html only") << 2 << "saved.htm";
}

void TestPreview::savedPagesCarryWebAddresses()
{
    QFETCH(int, filter);
    QFETCH(QString, name);
    Session session(m_answerer);
    SetOffline(true);
    session.add("http://example.test/s/page.htm", "V1/page[1].htm",
                "<html><body><p>keep me</p><a href=\"other.htm\">other</a>"
                "<a href=\"http://example.test/s/third.htm\">third</a><img src=\"pic.png\"></body></html>");
    session.add("http://example.test/s/pic.png", "V1/pic[1].png", pngBytes());
    QVERIFY(session.open());
    WindowParts &w = *session.window;
    session.click("http://example.test/s/page.htm");
    QSignalSpy loaded(w.Web1, &Browser::loadFinished);
    QVERIFY(loaded.wait(kLoadTimeout));
    QTRY_VERIFY_WITH_TIMEOUT(w.Web1->canSave(), kLoadTimeout);

    w.preview->ASaveWebasExecute();
    QFileDialog *dialog = w.Web1->saveDialog();
    QVERIFY(dialog);
    QTemporaryDir out;
    const QString target = out.filePath(name);
    dialog->selectNameFilter(dialog->nameFilters().at(filter));
    dialog->selectFile(target);
    QMetaObject::invokeMethod(dialog, "accept"); // the dialog's own OK
    // Written by the engine, then its addresses put right.
    QTRY_VERIFY2_WITH_TIMEOUT(ReadBytes(target).contains("keep me") && !ReadBytes(target).contains("twhttp"),
                              ReadBytes(target).constData(), kLoadTimeout);
    const QByteArray saved = ReadBytes(target);
    if (filter == 0)
        QVERIFY2(saved.contains("<!-- saved from url=(0030)http://example.test/s/page.htm -->"), saved.constData());
    if (filter == 2) // the cached document as it is
        QCOMPARE(saved, ReadBytes(QString::fromStdString(session.path("V1/page[1].htm"))));
    else
        QVERIFY2(saved.contains("http://example.test/s/third.htm"), saved.constData());
    for (const QString &file : FilesBelow(out.path()))
        QVERIFY2(!ReadBytes(out.filePath(file)).contains("twhttp"), qPrintable(file));
}

void TestPreview::webAddressesOf_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("link") << QByteArray("<a href=\"twhttp://a.test/x\">") << QByteArray("<a href=\"http://a.test/x\">");
    QTest::newRow("https") << QByteArray("url(twhttps://a.test/y.png)") << QByteArray("url(https://a.test/y.png)");
    QTest::newRow("mark") << QByteArray("<!-- saved from url=(0017)twhttp://a.test/x -->")
                          << QByteArray("<!-- saved from url=(0015)http://a.test/x -->");
    QTest::newRow("soft line break") << QByteArray("Content-Location: t=\r\nwhttp://a.test/")
                                     << QByteArray("Content-Location: http://a.test/");
    QTest::newRow("other text") << QByteArray("network twhttp is a word; twhttp: alone")
                                << QByteArray("network twhttp is a word; twhttp: alone");
    QTest::newRow("binary") << QByteArray("\x00\xfftwhttps://b.test/\x80", 20)
                            << QByteArray("\x00\xffhttps://b.test/\x80", 18);
}

void TestPreview::webAddressesOf()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, expected);
    QCOMPARE(WebAddressesOf(bytes), expected);
}

int main(int argc, char *argv[])
{
    RegisterPreviewSchemes(); // before the application object, as the program does
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tidewrack-test"));
    TestPreview test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_preview.moc"
