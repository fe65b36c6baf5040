// The search dialog on a real main window: its controls, the result texts, the search
// station node, the history, Enter, unreadable files, and going to the search station.

#include "answering.h"
#include "app/findform.h"
#include "app/treenodes.h"
#include "concernsupport.h"
#include "rendering.h"
#include "support.h"

#include <QAbstractButton>
#include <QAction>
#include <QButtonGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>

#include <functional>
#include <memory>

Q_DECLARE_METATYPE(SearchField)

class TestFindForm : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void controls_data();
    void controls();
    void kindsAndTypes();
    void criteriaRoundTrip();
    void results_data();
    void results();
    void moreCriteriaCombineWithTheText_data();
    void moreCriteriaCombineWithTheText();
    void secondSearchFindingNothingEmptiesStation();
    void enterSearchesLikeTheButton();
    void history();
    void unreadableFileReportedOnceAndSearchGoesOn();
    void restOfTheUnreadableFilesCanBeSkipped();
    void noSecondSearchMeanwhile();
    void stoppedSearchKeepsWhatItFound();
    void reopeningResetsResultOnly();
    void goToStation_data();
    void goToStation();

private:
    Tfrm_find &dialog() { return *m_find; }
    QString stationCaption() const { return m_panels->node(SearchRoot)->text(0); }
    void runSearch(SearchField field, int kind, const QString &text);

    std::unique_ptr<TestStore> m_store;
    std::unique_ptr<Panels> m_panels;
    Tfrm_find *m_find = nullptr; // a child of the panels' window stand-in
    QList<MessageBoxRequest> m_boxes;
    ScriptedAnswerer m_answerer;
    std::function<void()> m_duringBox; // runs inside the next message box
};

namespace {
const std::string GbkPage = "<html>\xd6\xd0\xce\xc4\xcd\xf8\xd2\xb3</html>"; // 中文网页 in GBK
}

void TestFindForm::init()
{
    m_boxes.clear();
    m_duringBox = nullptr;
    m_answerer.reply = [this](const MessageBoxRequest &r) {
        m_boxes << r;
        if (auto during = std::exchange(m_duringBox, nullptr))
            during();
        return IDOK;
    };
    m_store = std::make_unique<TestStore>();
    m_store->add("http://www.example.com/index.html", "c1/index.html", "<html>Hello World</html>");
    m_store->add("http://www.example.com/style.css", "c1/style.css", "body { color: red }");
    m_store->add("http://img.example.com/logo.gif", "c2/logo.gif", "GIF89a");
    m_store->add("http://cn.example.com/gbk.htm", "c2/gbk.htm", GbkPage);
    m_store->add("http://gone.example.com/gone.htm", "c2/gone.htm", "Hello again", false);
    m_panels = std::make_unique<Panels>();
    m_find = new Tfrm_find(m_panels->state, &m_panels->host, m_answerer);
    // As the window has them: the station's count after a search, the station on request.
    Panels *panels = m_panels.get();
    connect(m_find, &Tfrm_find::searchFinished, m_find,
            [panels] { ShowSearchCount(panels->Tree, panels->state.search_list.size()); });
    connect(m_find, &Tfrm_find::searchStationRequested, &panels->documents, &DocumentList::showSearchStation);
    m_panels->host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&m_panels->host));
    m_panels->load();
    QCOMPARE(m_panels->state.cache_list.size(), std::size_t(5));
}

void TestFindForm::cleanup()
{
    if (m_find)
        m_find->hide();
    m_find = nullptr;
    m_panels.reset();
    m_store.reset();
    m_answerer.reply = {};
}

void TestFindForm::runSearch(SearchField field, int kind, const QString &text)
{
    if (!dialog().isVisible())
        dialog().show();
    QTest::mouseClick(dialog().rad_typeItems->button(int(field)), Qt::LeftButton);
    dialog().cmb_doctype->setCurrentIndex(kind);
    dialog().cmb_find->setEditText(text);
    QTest::mouseClick(dialog().btn_start, Qt::LeftButton);
}

void TestFindForm::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("width");
    QTest::newRow("rad_type") << "rad_type"
                              << "查找" << 8 << 317;
    QTest::newRow("GroupBox3") << "GroupBox3"
                               << "文档类别" << 8 << 317;
    QTest::newRow("GroupBox1") << "GroupBox1"
                               << "找什么？" << 8 << 317;
    QTest::newRow("GroupBox2") << "GroupBox2"
                               << "结果" << 8 << 317;
    QTest::newRow("btn_go") << "btn_go"
                            << "到搜索站" << 95 << 75;
    QTest::newRow("btn_start") << "btn_start"
                               << "搜索" << 173 << 75;
    QTest::newRow("Button2") << "Button2"
                             << "关闭" << 250 << 75;
}

void TestFindForm::controls()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(int, left);
    QFETCH(int, width);
    QCOMPARE(dialog().objectName(), QStringLiteral("frm_find"));
    QCOMPARE(dialog().windowTitle(), QStringLiteral("搜索"));
    QCOMPARE(dialog().width(), 333);
    QVERIFY(dialog().height() >= 281);                        // grows only as far as a taller font needs
    QCOMPARE(dialog().minimumSize(), dialog().maximumSize()); // fixed border
    QWidget *control = dialog().findChild<QWidget *>(name);
    QVERIFY(control);
    QCOMPARE(control->parentWidget(), &dialog());
    QCOMPARE(control->geometry().left(), left);
    QCOMPARE(control->geometry().width(), width);
    QVERIFY(control->height() >= control->sizeHint().height()); // nothing clipped
    QVERIFY(dialog().rect().contains(control->geometry()));
    if (auto *group = qobject_cast<QGroupBox *>(control))
        QCOMPARE(group->title(), caption);
    else
        QCOMPARE(qobject_cast<QPushButton *>(control)->text(), caption);
}

void TestFindForm::kindsAndTypes()
{
    QCOMPARE(dialog().cmb_doctype->parentWidget(), dialog().GroupBox3);
    QCOMPARE(dialog().cmb_find->parentWidget(), dialog().GroupBox1);
    QCOMPARE(dialog().Label1->parentWidget(), dialog().GroupBox2);
    QStringList kinds;
    for (int i = 0; i < dialog().cmb_doctype->count(); ++i)
        kinds << dialog().cmb_doctype->itemText(i);
    QCOMPARE(kinds,
             (QStringList{"所有", "文本文档", "图片文档", "Htm,Html网页", "Css层叠样式表", "Js脚本", "Txt文本",
                          "Jpg,Jpeg图片", "Gif图片", "其它"}));
    QCOMPARE(dialog().cmb_doctype->currentIndex(), 0);
    QVERIFY(!dialog().cmb_doctype->isEditable());
    QVERIFY(dialog().cmb_find->isEditable());
    QStringList types;
    for (QAbstractButton *b : dialog().rad_typeItems->buttons())
        types << b->text();
    QCOMPARE(types, (QStringList{"网址", "文件名", "全文"}));
    QCOMPARE(dialog().rad_typeItems->checkedId(), 0);
    QVERIFY(dialog().btn_go->isHidden());
}

void TestFindForm::criteriaRoundTrip()
{
    const SearchCriteria wanted{SearchField::FullText, GifKind, QStringLiteral("Abc 中")};
    dialog().setCriteria(wanted);
    QCOMPARE(dialog().criteria(), wanted);
    QVERIFY(dialog().rad_typeItems->button(2)->isChecked());
    QCOMPARE(dialog().cmb_doctype->currentText(), QStringLiteral("Gif图片"));
    QCOMPARE(dialog().cmb_find->currentText(), QStringLiteral("Abc 中"));
}

void TestFindForm::results_data()
{
    QTest::addColumn<SearchField>("field");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("caption");
    QTest::newRow("all") << SearchField::Url << int(AllKinds) << QString() << "找到个5文档，已存放在搜索站中。"
                         << "搜索站(5)";
    QTest::newRow("url capitals") << SearchField::Url << int(AllKinds) << "WWW.EXAMPLE"
                                  << "找到个2文档，已存放在搜索站中。"
                                  << "搜索站(2)";
    // "<folder>" stands for the store's folder, which exists only once the test runs.
    QTest::newRow("cache folder") << SearchField::FileName << int(HtmlKind) << "<folder>"
                                  << "找到个3文档，已存放在搜索站中。"
                                  << "搜索站(3)";
    QTest::newRow("GBK page") << SearchField::FullText << int(AllKinds) << "中文网页"
                              << "找到个1文档，已存放在搜索站中。"
                              << "搜索站(1)";
    QTest::newRow("nothing") << SearchField::Url << int(AllKinds) << "no such host"
                             << "没找到符合条件的文档。"
                             << "搜索站";
}

void TestFindForm::results()
{
    QFETCH(SearchField, field);
    QFETCH(int, kind);
    QFETCH(QString, text);
    QFETCH(QString, label);
    QFETCH(QString, caption);
    if (text == QStringLiteral("<folder>"))
        text = m_store->folder();
    runSearch(field, kind, text);
    QCOMPARE(dialog().Label1->text(), label);
    QCOMPARE(stationCaption(), caption);
    const bool found = !m_panels->state.search_list.empty();
    QCOMPARE(dialog().btn_go->isVisible(), found);
    QCOMPARE(caption == QStringLiteral("搜索站"), !found);
}

void TestFindForm::moreCriteriaCombineWithTheText_data()
{
    QTest::addColumn<int>("contentKind"); // item of cmb_contentkind: 0 所有, 1 网页, ...
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("hits");
    QTest::newRow("pages") << 1 << QString() << QString() << 3;
    QTest::newRow("pages and the text") << 1 << QString() << "www" << 1;
    QTest::newRow("images") << 2 << QString() << QString() << 1;
    QTest::newRow("a status no entry has") << 0 << "404" << QString() << 0;
}

void TestFindForm::moreCriteriaCombineWithTheText()
{
    QFETCH(int, contentKind);
    QFETCH(QString, status);
    QFETCH(QString, text);
    QFETCH(int, hits);
    dialog().show();
    QVERIFY(!dialog().pnl_more->isVisible()); // folded away until asked for
    const int folded = dialog().height();
    QTest::mouseClick(dialog().btn_more, Qt::LeftButton);
    QVERIFY(dialog().pnl_more->isVisible());
    QVERIFY(dialog().height() > folded);
    QVERIFY(dialog().rect().contains(dialog().pnl_more->geometry()));
    dialog().cmb_contentkind->setCurrentIndex(contentKind);
    dialog().edt_status->setText(status);
    runSearch(SearchField::Url, AllKinds, text);
    QCOMPARE(int(m_panels->state.search_list.size()), hits);
    QTest::mouseClick(dialog().btn_more, Qt::LeftButton);
    QCOMPARE(dialog().height(), folded);
}

void TestFindForm::secondSearchFindingNothingEmptiesStation()
{
    runSearch(SearchField::Url, AllKinds, QStringLiteral("example"));
    QCOMPARE(m_panels->state.search_list.size(), std::size_t(5));
    QCOMPARE(stationCaption(), QStringLiteral("搜索站(5)"));
    QVERIFY(dialog().btn_go->isVisible());

    runSearch(SearchField::Url, AllKinds, QStringLiteral("nowhere"));
    QVERIFY(m_panels->state.search_list.empty());
    QCOMPARE(stationCaption(), QStringLiteral("搜索站"));
    QVERIFY(!dialog().btn_go->isVisible());
    QCOMPARE(dialog().Label1->text(), QStringLiteral("没找到符合条件的文档。"));
}

void TestFindForm::enterSearchesLikeTheButton()
{
    dialog().show();
    QTest::mouseClick(dialog().rad_typeItems->button(int(SearchField::FullText)), Qt::LeftButton);
    QLineEdit *edit = dialog().cmb_find->lineEdit();
    QTest::keyClicks(edit, QStringLiteral("HELLO"));
    QTest::keyClick(edit, Qt::Key_Return);
    // index.html holds it; gone.htm is unreadable and reported once, so one search ran.
    QCOMPARE(dialog().Label1->text(), QStringLiteral("找到个1文档，已存放在搜索站中。"));
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(dialog().cmb_find->count(), 1); // the combo box inserted nothing of its own
    QCOMPARE(dialog().cmb_find->currentText(), QStringLiteral("HELLO"));
    const SearchList byEnter = m_panels->state.search_list;

    QTest::keyClick(edit, Qt::Key_Enter); // the keypad's Enter as well
    QCOMPARE(m_boxes.size(), 2);
    QTest::mouseClick(dialog().btn_start, Qt::LeftButton);
    QCOMPARE(m_boxes.size(), 3);
    QVERIFY(m_panels->state.search_list == byEnter);
    QVERIFY(dialog().isVisible());
}

void TestFindForm::history()
{
    auto items = [this] {
        QStringList list;
        for (int i = 0; i < dialog().cmb_find->count(); ++i)
            list << dialog().cmb_find->itemText(i);
        return list;
    };
    runSearch(SearchField::Url, AllKinds, QStringLiteral("Example"));
    QCOMPARE(items(), QStringList{"Example"});
    runSearch(SearchField::Url, AllKinds, QStringLiteral("Example"));
    QCOMPARE(items(), QStringList{"Example"});
    runSearch(SearchField::Url, AllKinds, QStringLiteral("EXAMPLE"));
    QCOMPARE(items(), QStringList{"Example"});
    QCOMPARE(dialog().cmb_find->currentText(), QStringLiteral("EXAMPLE")); // stays as typed
    runSearch(SearchField::Url, AllKinds, QStringLiteral("img"));
    QCOMPARE(items(), (QStringList{"img", "Example"}));
    runSearch(SearchField::Url, AllKinds, QString());
    QCOMPARE(items(), (QStringList{"", "img", "Example"}));
    QCOMPARE(dialog().cmb_find->currentText(), QString());
}

void TestFindForm::unreadableFileReportedOnceAndSearchGoesOn()
{
    runSearch(SearchField::FullText, AllKinds, QStringLiteral("hello"));
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes[0].caption, QStringLiteral("Tidewrack"));
    QCOMPARE(m_boxes[0].text, QStringLiteral("打开文件出错。"));
    QCOMPARE(m_boxes[0].flags, MB::OK);
    QCOMPARE(m_panels->state.search_list.size(), std::size_t(1));
    QCOMPARE(QString::fromUtf8(SourceUrl(m_panels->state.search_list[0])),
             QStringLiteral("http://www.example.com/index.html"));

    // A kind that leaves the missing file out reads nothing of it.
    runSearch(SearchField::FullText, CssKind, QStringLiteral("color"));
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_panels->state.search_list.size(), std::size_t(1));
}

void TestFindForm::restOfTheUnreadableFilesCanBeSkipped()
{
    // A copied index without its content folders: most files cannot be read.
    for (int i = 0; i < 6; ++i)
        m_store->add("http://gone.example.com/more" + std::to_string(i) + ".htm",
                     "c3/more" + std::to_string(i) + ".htm", "Hello", false);
    m_panels->loader.LoadCatalogue(false);
    QCOMPARE(m_panels->state.cache_list.size(), std::size_t(11));

    // The real box: it offers the skip, which is taken.
    MessageBoxAnswerer realBoxes;
    m_answerer.reply = [&realBoxes](const MessageBoxRequest &r) { return realBoxes.answer(r); };
    int boxes = 0;
    bool offered = false;
    {
        const auto answerer = OnModalBoxes([&](QMessageBox *box) {
            ++boxes;
            for (QAbstractButton *button : box->buttons())
                if (button->text() == QStringLiteral("跳过其余出错的文件(&S)")) {
                    offered = true;
                    button->click();
                    return;
                }
            box->close();
        });
        runSearch(SearchField::FullText, AllKinds, QStringLiteral("hello"));
    }
    QCOMPARE(boxes, 1);
    QVERIFY(offered);
    QCOMPARE(dialog().Label1->text(), QStringLiteral("找到个1文档，已存放在搜索站中。\n有7个文件无法读取。"));
    QCOMPARE(m_panels->state.search_list.size(), std::size_t(1));

    // The next search asks again; answered with OK each time, it asks for every file.
    m_boxes.clear();
    m_answerer.reply = [this](const MessageBoxRequest &r) {
        m_boxes << r;
        return IDOK;
    };
    runSearch(SearchField::FullText, AllKinds, QStringLiteral("hello"));
    QCOMPARE(m_boxes.size(), 7);
    QCOMPARE(m_boxes[0].skipCaption, QStringLiteral("跳过其余出错的文件(&S)"));
    QCOMPARE(dialog().Label1->text(), QStringLiteral("找到个1文档，已存放在搜索站中。"));
}

void TestFindForm::noSecondSearchMeanwhile()
{
    bool ran = false;
    m_duringBox = [this, &ran] {
        ran = true;
        QVERIFY(dialog().isSearching());
        QCOMPARE(dialog().btn_start->text(), QStringLiteral("停止")); // the button stops the search
        QVERIFY(!dialog().cmb_find->isEnabled());
        QVERIFY(dialog().Label1->text().startsWith(QStringLiteral("正在查找...")));
        dialog().RunSearch(); // ignored: the first search is still running
        dialog().reject();    // the dialog stays until the search ends
    };
    runSearch(SearchField::FullText, AllKinds, QStringLiteral("hello"));
    QVERIFY(ran);
    QCOMPARE(m_boxes.size(), 1);
    QVERIFY(dialog().isVisible());
    QVERIFY(!dialog().isSearching());
    QVERIFY(dialog().btn_start->isEnabled());
    QCOMPARE(dialog().btn_start->text(), QStringLiteral("搜索"));
    QVERIFY(dialog().cmb_find->isEnabled());
    QCOMPARE(dialog().Label1->text(), QStringLiteral("找到个1文档，已存放在搜索站中。"));
}

void TestFindForm::stoppedSearchKeepsWhatItFound()
{
    for (int i = 0; i < 3; ++i)
        m_store->add("http://www.example.com/later" + std::to_string(i) + ".htm",
                     "c3/later" + std::to_string(i) + ".htm", "Hello");
    m_panels->loader.LoadCatalogue(false);
    // Stopped while the unreadable file's box is up: the hits before it stay, none after it.
    m_duringBox = [this] { QTest::mouseClick(dialog().btn_start, Qt::LeftButton); };
    runSearch(SearchField::FullText, AllKinds, QStringLiteral("hello"));
    QVERIFY(!dialog().isSearching());
    std::size_t before = 0;
    for (const CatalogueEntry &entry : m_panels->state.cache_list) {
        if (std::string_view(SourceUrl(entry)).find("gone.") != std::string_view::npos)
            break;
        before += std::string_view(SourceUrl(entry)).find("index.html") != std::string_view::npos
            || std::string_view(SourceUrl(entry)).find("later") != std::string_view::npos;
    }
    QCOMPARE(m_panels->state.search_list.size(), before);
    QVERIFY(before < 4);
    QVERIFY(dialog().Label1->text().endsWith(QStringLiteral("查找已停止。")));
    QCOMPARE(dialog().btn_start->text(), QStringLiteral("搜索"));
}

void TestFindForm::reopeningResetsResultOnly()
{
    runSearch(SearchField::FileName, ImageKind, QStringLiteral("logo"));
    QVERIFY(dialog().btn_go->isVisible());
    QVERIFY(!dialog().Label1->text().isEmpty());
    dialog().hide();
    dialog().show();
    QVERIFY(dialog().Label1->text().isEmpty());
    QVERIFY(dialog().btn_go->isHidden());
    QCOMPARE(dialog().criteria(), (SearchCriteria{SearchField::FileName, ImageKind, QStringLiteral("logo")}));
    QCOMPARE(m_panels->state.search_list.size(), std::size_t(1)); // the station keeps its hits
    QCOMPARE(stationCaption(), QStringLiteral("搜索站(1)"));
}

void TestFindForm::goToStation_data()
{
    QTest::addColumn<bool>("alreadySelected");
    QTest::newRow("from another node") << false;
    QTest::newRow("station already selected") << true;
}

void TestFindForm::goToStation()
{
    QFETCH(bool, alreadySelected);
    QTreeWidgetItem *station = m_panels->node(SearchRoot);
    m_panels->Tree->setCurrentItem(alreadySelected ? station : m_panels->node(CacheRoot));
    QSignalSpy changes(m_panels->Tree, &QTreeWidget::currentItemChanged);
    QSignalSpy accepted(&dialog(), &QDialog::accepted);

    runSearch(SearchField::Url, AllKinds, QStringLiteral("img.example"));
    QVERIFY(dialog().btn_go->isVisible());
    QTest::mouseClick(dialog().btn_go, Qt::LeftButton);

    QCOMPARE(m_panels->Tree->currentItem(), station);
    QCOMPARE(changes.count(), alreadySelected ? 0 : 1);
    QCOMPARE(accepted.count(), 1);
    QVERIFY(!dialog().isVisible());
    QCOMPARE(m_panels->state.search_list.size(), std::size_t(1));
    QCOMPARE(stationCaption(), QStringLiteral("搜索站(1)"));
}

QTEST_MAIN(TestFindForm)
#include "tst_findform.moc"
