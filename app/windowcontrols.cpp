#include "windowcontrols.h"

#include "lister.h"
#include "platform/browser/browser.h"
#include "windows/gradient.h"
#include "windows/plaintooltips.h"
#include "windows/toolbarbutton.h"

#include <QAction>
#include <QActionGroup>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QStackedLayout>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

// The toolbar paints its gradient, then lets the buttons draw over it.
class GradientToolBar : public QToolBar {
public:
    GradientToolBar(const QColor &face, const QColor &light, QWidget *parent)
        : QToolBar(parent), m_face(face), m_light(light)
    {}

protected:
    void paintEvent(QPaintEvent *) override // ToolBar1CustomDraw
    {
        QPainter painter(this);
        PaintGradient(painter, rect(), m_face, m_light);
    }
    void resizeEvent(QResizeEvent *event) override // ToolBar1Resize
    {
        QToolBar::resizeEvent(event);
        update();
    }

private:
    QColor m_face;
    QColor m_light;
};

} // namespace

WindowControls::WindowControls(QMainWindow *window) : actions(std::make_unique<ActionList>(window))
{
    createBody(window);
    createToolBar(window);
    createMenus(window);
    sbar = std::make_unique<StatusPanels>(window->statusBar());
}

void WindowControls::createBody(QMainWindow *window)
{
    auto *central = new QWidget(window);
    auto *column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    Panel7 = new QWidget(central);
    Panel7->setObjectName(QStringLiteral("Panel7"));
    Panel7->setFixedHeight(37);
    auto *band = new QHBoxLayout(Panel7);
    band->setContentsMargins(0, 0, 0, 0);
    band->setSpacing(0);

    pnl_hand = new QFrame(Panel7);
    pnl_hand->setObjectName(QStringLiteral("pnl_hand"));
    pnl_hand->setFixedWidth(39);
    pnl_hand->setFrameShape(QFrame::Box);
    pnl_hand->setAutoFillBackground(true);
    QPalette shadow = pnl_hand->palette();
    shadow.setColor(QPalette::Window, window->palette().color(QPalette::Dark));
    pnl_hand->setPalette(shadow);
    auto *stack = new QStackedLayout(pnl_hand);
    stack->setStackingMode(QStackedLayout::StackAll);
    stack->setContentsMargins(1, 1, 1, 1);
    Image1 = new QLabel(pnl_hand);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setFixedSize(35, 33);
    Image1->setAlignment(Qt::AlignCenter);
    lab_collect = new QLabel(pnl_hand);
    lab_collect->setObjectName(QStringLiteral("lab_collect"));
    lab_collect->setFixedSize(35, 33);
    lab_collect->setToolTip(QStringLiteral("采集盒"));
    lab_collect->setAttribute(Qt::WA_TranslucentBackground);
    lab_collect->setContextMenuPolicy(Qt::CustomContextMenu);
    stack->addWidget(Image1);
    stack->addWidget(lab_collect);
    lab_collect->raise();

    Panel2 = new QWidget(central);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    auto *bodyLayout = new QHBoxLayout(Panel2);
    bodyLayout->setContentsMargins(0, 0, 0, 0);
    Splitter1 = new QSplitter(Qt::Horizontal, Panel2);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter1->setHandleWidth(4);
    Splitter1->setChildrenCollapsible(false);
    bodyLayout->addWidget(Splitter1);

    Tree = new QTreeWidget(Splitter1);
    Tree->setObjectName(QStringLiteral("Tree"));
    Tree->setHeaderHidden(true);
    Tree->setIndentation(19);
    Tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Tree->setContextMenuPolicy(Qt::CustomContextMenu);
    Tree->setIconSize(QSize(16, 16));
    ShowItemToolTipsAsPlainText(Tree); // a host's name as it is

    Splitter2 = new QSplitter(Qt::Vertical, Splitter1);
    Splitter2->setObjectName(QStringLiteral("Splitter2"));
    Splitter2->setHandleWidth(4);
    Splitter2->setChildrenCollapsible(false);
    lister = new Lister(Splitter2);
    lister->setObjectName(QStringLiteral("lister"));
    pnl_main = new QWidget(Splitter2);
    pnl_main->setObjectName(QStringLiteral("pnl_main"));
    auto *pane = new QStackedLayout(pnl_main);
    pane->setStackingMode(QStackedLayout::StackAll);
    Web1 = new Browser(pnl_main);
    Web1->setObjectName(QStringLiteral("Web1"));
    editor = new QPlainTextEdit(pnl_main);
    editor->setObjectName(QStringLiteral("editor"));
    editor->setReadOnly(true);
    editor->setTabChangesFocus(false);
    editor->setContextMenuPolicy(Qt::DefaultContextMenu);
    pane->addWidget(Web1);
    pane->addWidget(editor);
    editor->raise();

    Splitter1->addWidget(Tree);
    Splitter1->addWidget(Splitter2);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({177, 375});
    Splitter2->setStretchFactor(1, 1);
    Splitter2->setSizes({105, 200});

    column->addWidget(Panel7);
    column->addWidget(Panel2, 1);
    window->setCentralWidget(central);
}

void WindowControls::createToolBar(QMainWindow *window)
{
    // The toolbar's colours are taken once, when the window is made.
    const QColor light(255, 255, 255);
    const QColor face = window->palette().color(QPalette::Button);
    ToolBar1 = new GradientToolBar(face, light, Panel7);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setIconSize(QSize(16, 16));
    ToolBar1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    ToolBar1->setContentsMargins(0, 0, 0, 0);
    ToolBar1->layout()->setContentsMargins(0, 0, 0, 0);
    ToolBar1->layout()->setSpacing(0);

    const ActionList &a = *actions;
    Pop_save = new QMenu(window);
    Pop_save->setObjectName(QStringLiteral("Pop_save"));
    Pop_save->addAction(a.ASaveDocas);
    Pop_save->addAction(a.ASaveWebas);

    const std::pair<const char *, QAction *> buttons[] = {
        {"刷新", a.ARefresh},   {"打开", a.AOpenDoc},   {"属性", a.ADocinfo},    {"保存", a.ASaveDocas},
        {"删除", a.ADeleteDoc}, {"采集", a.ASendtoBox}, {"复制URL", a.ACopyUrl}, {"搜索", a.AFind},
        {"离线", a.Aoffline},   {"关于", a.AHelp}};
    for (const auto &[caption, action] : buttons) {
        auto *button = new ToolBarButton(action, QString::fromUtf8(caption), ToolBar1);
        button->setObjectName(QStringLiteral("tb_") + action->objectName());
        button->setFixedSize(action == a.ASaveDocas ? 61 : 49, 35);
        if (action == a.ASaveDocas) {
            button->setMenu(Pop_save);
            button->setPopupMode(QToolButton::MenuButtonPopup);
        }
        ToolBar1->addWidget(button);
    }

    auto *band = static_cast<QHBoxLayout *>(Panel7->layout());
    band->addWidget(ToolBar1, 1);
    band->addWidget(pnl_hand);
}

void WindowControls::createMenus(QMainWindow *window)
{
    const ActionList &a = *actions;
    QMenu *file = fileMenu = window->menuBar()->addMenu(QStringLiteral("文件(&F)"));
    file->addActions({a.AOpenDoc, a.ADocinfo, a.ASaveDocas, a.ASaveWebas, a.ADeleteDoc, a.ARefresh});
    file->addSeparator();
    file->addActions({a.AExportList, a.AExportDocs, a.AExportWarc});
    file->addSeparator();
    file->addAction(a.ASendtoBox);
    QMenu *box = file->addMenu(QStringLiteral("采集盒(&C)"));
    box->addActions({a.ASaveAllCollectDoc, a.ARemoveCollectDoc, a.AClearCollectDoc});
    file->addSeparator();
    file->addAction(a.N9);

    QMenu *edit = window->menuBar()->addMenu(QStringLiteral("编辑(&E)"));
    edit->addActions({a.ASelectAll, a.ACopyUrl, a.AFind, a.AFindInWeb});

    QMenu *options = window->menuBar()->addMenu(QStringLiteral("选项(&O)"));
    options->addAction(a.m_viewdoc);
    m_sort = options->addMenu(QStringLiteral("文档排序(&S)"));
    m_sort->setObjectName(QStringLiteral("m_sort"));
    m_sort->menuAction()->setVisible(false);
    auto *sortGroup = new QActionGroup(window);
    const char *sortCaptions[] = {"名称(&N)", "类型(&T)", "大小(&S)", "日期(&D)", "网址(&W)", "位置(&P)"};
    for (int i = 0; i < 6; ++i) {
        QAction *item = m_sort->addAction(QString::fromUtf8(sortCaptions[i]));
        item->setCheckable(i != 3);
        if (i != 3)
            sortGroup->addAction(item);
        sortItems.append(item);
    }
    sortItems[0]->setChecked(true);
    QMenu *style = options->addMenu(QStringLiteral("文档列表(&L)"));
    style->addActions({a.m_VsReport, a.m_VsIcon});
    options->addSeparator();
    options->addAction(a.Aoffline); // m_offline: the menu item is bound to the action and shows its check
    options->addAction(a.AInternetOption);

    QMenu *help = window->menuBar()->addMenu(QStringLiteral("帮助(&H)"));
    help->addAction(a.AHelp);
    help->addSeparator();
    help->addAction(a.N13);

    Pop_list = new QMenu(window);
    Pop_list->setObjectName(QStringLiteral("Pop_list"));
    Pop_list->addAction(a.ASendtoBox);
    Pop_list->addSeparator();
    Pop_list->addActions({a.ASelectAll, a.ACopyUrl});
    Pop_list->addSeparator();
    Pop_list->addActions({a.AOpenDoc, a.ADocinfo, a.AEntryInfo, a.ADeleteDoc, a.ASaveDocas, a.ASaveWebas});
    Pop_list->addSeparator();
    Pop_list->addActions({a.AExportList, a.AExportDocs, a.AExportWarc});

    Pop_tree = new QMenu(window);
    Pop_tree->setObjectName(QStringLiteral("Pop_tree"));
    Pop_tree->addAction(a.ARefresh);
    Pop_tree->addSeparator();
    Pop_tree->addActions({a.ASaveAllCollectDoc, a.AClearCollectDoc, a.ARemoveCollectDoc});
    Pop_tree->addSeparator();
    Pop_deleteFound = Pop_tree->addAction(QString());
    Pop_deleteFound->setObjectName(QStringLiteral("Pop_deleteFound"));
    Pop_deleteHost = Pop_tree->addAction(QStringLiteral("删除此域名的全部文档..."));
    Pop_deleteHost->setObjectName(QStringLiteral("Pop_deleteHost"));

    Pop_CollectBox = new QMenu(window);
    Pop_CollectBox->setObjectName(QStringLiteral("Pop_CollectBox"));
    Pop_CollectBox->addActions({a.ASaveAllCollectDoc, a.AClearCollectDoc, a.ARemoveCollectDoc});

    // The actions' hints show as tool tips in the menus too, as on the toolbar.
    for (QMenu *menu : window->findChildren<QMenu *>())
        menu->setToolTipsVisible(true);
}
