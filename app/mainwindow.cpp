#include "mainwindow.h"

#include "catalogueloader.h"
#include "collectbox.h"
#include "documentcommands.h"
#include "documentlist.h"
#include "findform.h"
#include "lister.h"
#include "platform/browser/browser.h"
#include "preview.h"
#include "windows/fonts.h"
#include "windows/gradient.h"
#include "windows/infoform.h"
#include "windows/logoform.h"
#include "windows/messagebox.h"
#include "windows/pictures.h"
#include "windows/toolbarbutton.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSplitter>
#include <QStackedLayout>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWindow>

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

struct ActionSpec {
    const char *name;
    const char *category;
    const char *caption;
    const char *hint;
    QKeySequence shortcut;
    int image;
    bool enabled;
};

} // namespace

Tfrm_cache::Tfrm_cache(const QString &appDir, QWidget *parent) : QMainWindow(parent), app_dir(appDir)
{
    if (!app_dir.endsWith(QLatin1Char('/')))
        app_dir += QLatin1Char('/');
    setObjectName(QStringLiteral("frm_cache"));
    setWindowTitle(QStringLiteral("Tidewrack"));
    setWindowIcon(ProgramIcon());
    setFont(InterfaceFont());
    resize(560, 416);

    // The toolbar colours are taken once, when the window is made.
    toolbar_light_colour = QColor(255, 255, 255);
    toolbar_face_colour = palette().color(QPalette::Button);

    loader = new CatalogueLoader(*this);
    createActions();
    createBody();
    createToolBar();
    createMenus();
    createStatusBar();
    documents = new DocumentList(*this);
    preview = new PreviewPane(*this);
    commands = new DocumentCommands(*this);
    collectBox = new CollectBox(*this);
    connectActions();

    FormCreate();
    frm_showinfo = new Tfrm_showinfo(this);
    frm_find = new Tfrm_find(*this);

    // The update pass runs whenever the event loop runs out of work.
    connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
            &Tfrm_cache::ActionList1Update);
}

Tfrm_cache::~Tfrm_cache()
{
    if (!m_closed)
        FormClose();
    // The controls get events (hide, leave) while they are taken apart: the box that
    // watches them must stop before they, and the window it reads, go.
    delete collectBox;
    collectBox = nullptr;
}

void Tfrm_cache::createActions()
{
    const ActionSpec specs[] = {
        {"ARefresh", "File", "刷新(&R)", "刷新缓存", QKeySequence(Qt::Key_F5), 6, true},
        {"AOpenDoc", "File", "打开(&O)", "打开文档", QKeySequence(Qt::Key_F9), 8, false},
        {"ADocinfo", "File", "属性(&P)...", "文档属性", {}, 5, false},
        {"ASaveDocas", "File", "另存文档(&S)...", "另存文档", QKeySequence(Qt::CTRL | Qt::Key_S), 7, false},
        {"ASaveWebas", "File", "另存网页(&W)...", "另存网页", {}, -1, false},
        {"ADeleteDoc", "File", "删除(&D)", "删除文档", QKeySequence(Qt::Key_Delete), 2, false},
        {"ASendtoBox", "File", "发送到采集盒(&L)", "发送到采集盒", QKeySequence(Qt::CTRL | Qt::Key_L), 3, false},
        {"ASelectAll", "Edit", "全选(&A)", "选定全部文档", QKeySequence(Qt::CTRL | Qt::Key_A), -1, true},
        {"ACopyUrl", "Edit", "复制网址(&C)", "复制网址", QKeySequence(Qt::CTRL | Qt::Key_C), 1, true},
        {"AFind", "Edit", "搜索(&F)...", "搜索", QKeySequence(Qt::CTRL | Qt::Key_F), 4, true},
        {"AFindInWeb", "Edit", "在网页中查找(&E)...", "在网页中查找(&E)...", {}, -1, true},
        {"ASaveAllCollectDoc", "Collect", "保存全部采集文档(&S)", "保存全部采集文档", {}, -1, true},
        {"ARemoveCollectDoc", "Collect", "移除采集文档(&R)", "移除采集文档", {}, -1, true},
        {"AClearCollectDoc", "Collect", "清空采集盒(&E)", "清空采集文档", {}, -1, true},
        {"Aoffline", "", "离线浏览(&O)", "离线浏览", QKeySequence(Qt::Key_F12), 9, true},
        {"AInternetOption", "", "Internet选项(&I)..", "", {}, -1, true},
        {"AHelp", "Help", "关于(&A)...", "关于", QKeySequence(Qt::Key_F1), 0, true},
    };
    QAction **targets[] = {
        &ARefresh,          &AOpenDoc,         &ADocinfo, &ASaveDocas,      &ASaveWebas, &ADeleteDoc,
        &ASendtoBox,        &ASelectAll,       &ACopyUrl, &AFind,           &AFindInWeb, &ASaveAllCollectDoc,
        &ARemoveCollectDoc, &AClearCollectDoc, &Aoffline, &AInternetOption, &AHelp};
    for (std::size_t i = 0; i < std::size(specs); ++i) {
        const ActionSpec &s = specs[i];
        auto *action = new QAction(QString::fromUtf8(s.caption), this);
        action->setObjectName(QString::fromLatin1(s.name));
        action->setProperty("category", QString::fromLatin1(s.category));
        action->setToolTip(QString::fromUtf8(s.hint));
        action->setStatusTip(QString::fromUtf8(s.hint));
        action->setShortcut(s.shortcut);
        action->setShortcutContext(Qt::WindowShortcut);
        if (s.image >= 0)
            action->setIcon(ToolbarImage(s.image));
        action->setEnabled(s.enabled);
        addAction(action); // shortcuts work whatever has the focus
        *targets[i] = action;
        ActionList1.append(action);
    }
    Aoffline->setCheckable(true);

    m_viewdoc = new QAction(QStringLiteral("预览文档(&P)"), this);
    m_viewdoc->setObjectName(QStringLiteral("m_viewdoc"));
    m_viewdoc->setCheckable(true);
    m_viewdoc->setChecked(true);
    m_viewdoc->setShortcut(QKeySequence(Qt::Key_F8));
    addAction(m_viewdoc);

    auto *styles = new QActionGroup(this);
    m_VsReport = styles->addAction(QStringLiteral("小图标"));
    m_VsReport->setObjectName(QStringLiteral("m_VsReport"));
    m_VsIcon = styles->addAction(QStringLiteral("大图标"));
    m_VsIcon->setObjectName(QStringLiteral("m_VsIcon"));
    for (QAction *a : {m_VsReport, m_VsIcon})
        a->setCheckable(true);
    m_VsReport->setChecked(true);

    N9 = new QAction(QStringLiteral("退出(&X)"), this);
    N9->setObjectName(QStringLiteral("N9"));
    N13 = new QAction(QStringLiteral("发邮件给作者(&M)"), this);
    N13->setObjectName(QStringLiteral("N13"));
}

void Tfrm_cache::createBody()
{
    auto *central = new QWidget(this);
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
    shadow.setColor(QPalette::Window, palette().color(QPalette::Dark));
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
    setCentralWidget(central);
}

void Tfrm_cache::createToolBar()
{
    ToolBar1 = new GradientToolBar(toolbar_face_colour, toolbar_light_colour, Panel7);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setIconSize(QSize(16, 16));
    ToolBar1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    ToolBar1->setContentsMargins(0, 0, 0, 0);
    ToolBar1->layout()->setContentsMargins(0, 0, 0, 0);
    ToolBar1->layout()->setSpacing(0);

    Pop_save = new QMenu(this);
    Pop_save->setObjectName(QStringLiteral("Pop_save"));
    Pop_save->addAction(ASaveDocas);
    Pop_save->addAction(ASaveWebas);

    const std::pair<const char *, QAction *> buttons[] = {
        {"刷新", ARefresh},   {"打开", AOpenDoc},    {"属性", ADocinfo}, {"保存", ASaveDocas}, {"删除", ADeleteDoc},
        {"采集", ASendtoBox}, {"复制URL", ACopyUrl}, {"搜索", AFind},    {"离线", Aoffline},   {"关于", AHelp}};
    for (const auto &[caption, action] : buttons) {
        auto *button = new ToolBarButton(action, QString::fromUtf8(caption), ToolBar1);
        button->setObjectName(QStringLiteral("tb_") + action->objectName());
        button->setFixedSize(action == ASaveDocas ? 61 : 49, 35);
        if (action == ASaveDocas) {
            button->setMenu(Pop_save);
            button->setPopupMode(QToolButton::MenuButtonPopup);
        }
        ToolBar1->addWidget(button);
    }

    auto *band = static_cast<QHBoxLayout *>(Panel7->layout());
    band->addWidget(ToolBar1, 1);
    band->addWidget(pnl_hand);
}

void Tfrm_cache::createMenus()
{
    QMenu *file = menuBar()->addMenu(QStringLiteral("文件(&F)"));
    file->addActions({AOpenDoc, ADocinfo, ASaveDocas, ASaveWebas, ADeleteDoc, ARefresh});
    file->addSeparator();
    file->addAction(ASendtoBox);
    QMenu *box = file->addMenu(QStringLiteral("采集盒(&C)"));
    box->addActions({ASaveAllCollectDoc, ARemoveCollectDoc, AClearCollectDoc});
    file->addSeparator();
    file->addAction(N9);

    QMenu *edit = menuBar()->addMenu(QStringLiteral("编辑(&E)"));
    edit->addActions({ASelectAll, ACopyUrl, AFind, AFindInWeb});

    QMenu *options = menuBar()->addMenu(QStringLiteral("选项(&O)"));
    options->addAction(m_viewdoc);
    m_sort = options->addMenu(QStringLiteral("文档排序(&S)"));
    m_sort->setObjectName(QStringLiteral("m_sort"));
    m_sort->menuAction()->setVisible(false);
    auto *sortGroup = new QActionGroup(this);
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
    style->addActions({m_VsReport, m_VsIcon});
    options->addSeparator();
    m_offline = Aoffline; // the menu item is bound to the action and shows its check
    options->addAction(m_offline);
    options->addAction(AInternetOption);

    QMenu *help = menuBar()->addMenu(QStringLiteral("帮助(&H)"));
    help->addAction(AHelp);
    help->addSeparator();
    help->addAction(N13);

    Pop_list = new QMenu(this);
    Pop_list->setObjectName(QStringLiteral("Pop_list"));
    Pop_list->addAction(ASendtoBox);
    Pop_list->addSeparator();
    Pop_list->addActions({ASelectAll, ACopyUrl});
    Pop_list->addSeparator();
    Pop_list->addActions({AOpenDoc, ADocinfo, ADeleteDoc, ASaveDocas, ASaveWebas});

    Pop_tree = new QMenu(this);
    Pop_tree->setObjectName(QStringLiteral("Pop_tree"));
    Pop_tree->addAction(ARefresh);
    Pop_tree->addSeparator();
    Pop_tree->addActions({ASaveAllCollectDoc, AClearCollectDoc, ARemoveCollectDoc});

    Pop_CollectBox = new QMenu(this);
    Pop_CollectBox->setObjectName(QStringLiteral("Pop_CollectBox"));
    Pop_CollectBox->addActions({ASaveAllCollectDoc, AClearCollectDoc, ARemoveCollectDoc});

    connect(Tree, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &at) { Pop_tree->popup(Tree->viewport()->mapToGlobal(at)); });
    connect(lab_collect, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &at) { Pop_CollectBox->popup(lab_collect->mapToGlobal(at)); });
}

void Tfrm_cache::createStatusBar()
{
    const int widths[] = {70, 90, 50};
    for (int i = 0; i < 3; ++i) {
        sbarPanels[i] = new QLabel(statusBar());
        sbarPanels[i]->setObjectName(QStringLiteral("sbar%1").arg(i));
        sbarPanels[i]->setFrameShape(QFrame::Panel);
        sbarPanels[i]->setFrameShadow(QFrame::Sunken);
        sbarPanels[i]->setMinimumWidth(widths[i]);
        if (i < 2)
            sbarPanels[i]->setFixedWidth(widths[i]);
        statusBar()->addWidget(sbarPanels[i], i == 2 ? 1 : 0);
    }
    statusBar()->setSizeGripEnabled(true);
}

void Tfrm_cache::connectActions()
{
    connect(ARefresh, &QAction::triggered, loader, &CatalogueLoader::ARefreshExecute);
    connect(AOpenDoc, &QAction::triggered, commands, &DocumentCommands::AOpenDocExecute);
    connect(ADocinfo, &QAction::triggered, commands, &DocumentCommands::ADocinfoExecute);
    connect(ASaveDocas, &QAction::triggered, commands, &DocumentCommands::ASaveDocasExecute);
    connect(ASaveWebas, &QAction::triggered, preview, &PreviewPane::ASaveWebasExecute);
    connect(ADeleteDoc, &QAction::triggered, commands, &DocumentCommands::ADeleteDocExecute);
    connect(ASendtoBox, &QAction::triggered, collectBox, &CollectBox::ASendtoBoxExecute);
    connect(ASelectAll, &QAction::triggered, commands, &DocumentCommands::ASelectAllExecute);
    connect(ACopyUrl, &QAction::triggered, commands, &DocumentCommands::ACopyUrlExecute);
    connect(AFind, &QAction::triggered, this, &Tfrm_cache::AFindExecute);
    connect(AFindInWeb, &QAction::triggered, preview, &PreviewPane::AFindInWebExecute);
    connect(ASaveAllCollectDoc, &QAction::triggered, collectBox, &CollectBox::ASaveAllCollectDocExecute);
    connect(ARemoveCollectDoc, &QAction::triggered, collectBox, &CollectBox::ARemoveCollectDocExecute);
    connect(AClearCollectDoc, &QAction::triggered, collectBox, &CollectBox::AClearCollectDocExecute);
    connect(Aoffline, &QAction::triggered, commands, &DocumentCommands::AofflineExecute);
    connect(AInternetOption, &QAction::triggered, preview, &PreviewPane::AInternetOptionExecute);
    connect(AHelp, &QAction::triggered, this, &Tfrm_cache::AHelpExecute);
    connect(m_viewdoc, &QAction::triggered, preview, &PreviewPane::m_viewdocClick);
    connect(m_VsReport, &QAction::triggered, documents, [this] { documents->m_VsIconClick(m_VsReport); });
    connect(m_VsIcon, &QAction::triggered, documents, [this] { documents->m_VsIconClick(m_VsIcon); });
    for (int i = 0; i < sortItems.size(); ++i)
        connect(sortItems[i], &QAction::triggered, documents, [this, i] { documents->m_sortcaptionClick(i); });
    connect(N9, &QAction::triggered, this, &Tfrm_cache::N9Click);
    connect(N13, &QAction::triggered, this, &Tfrm_cache::N13Click);
    connect(Tree, &QTreeWidget::currentItemChanged, documents,
            [this](QTreeWidgetItem *node) { documents->TreeChange(node); });
}

void Tfrm_cache::SetStatusText(int panel, const QString &text)
{
    if (panel >= 0 && panel < 3)
        sbarPanels[panel]->setText(text);
}

QString Tfrm_cache::StatusText(int panel) const
{
    return (panel >= 0 && panel < 3) ? sbarPanels[panel]->text() : QString();
}

QTreeWidgetItem *Tfrm_cache::TreeNode(int absoluteIndex) const
{
    if (absoluteIndex < 0)
        return nullptr;
    if (absoluteIndex < Tree->topLevelItemCount() && absoluteIndex <= CacheRoot)
        return Tree->topLevelItem(absoluteIndex);
    QTreeWidgetItem *cache = Tree->topLevelItem(CacheRoot);
    const int child = absoluteIndex - CacheRoot - 1;
    return (cache && child >= 0 && child < cache->childCount()) ? cache->child(child) : nullptr;
}

int Tfrm_cache::AbsoluteIndex(const QTreeWidgetItem *node) const
{
    if (!node)
        return -1;
    if (!node->parent())
        return Tree->indexOfTopLevelItem(const_cast<QTreeWidgetItem *>(node));
    return CacheRoot + 1 + node->parent()->indexOfChild(const_cast<QTreeWidgetItem *>(node));
}

void Tfrm_cache::UpdateSearchNode()
{
    if (QTreeWidgetItem *node = TreeNode(SearchRoot)) {
        const auto n = state.search_list.size();
        node->setText(0, n == 0 ? QStringLiteral("搜索站") : QStringLiteral("搜索站(%1)").arg(n));
    }
}

void Tfrm_cache::ActionList1Update()
{
    if (commands)
        commands->ActionList1Update();
}

QAction *Tfrm_cache::actionNamed(const QString &name) const
{
    return findChild<QAction *>(name, Qt::FindDirectChildrenOnly);
}

void Tfrm_cache::ShowProgress(const QString &message, int animation)
{
    frm_showinfo->ShowProgress(message, animation);
}

void Tfrm_cache::HideProgress()
{
    if (frm_showinfo)
        frm_showinfo->HideProgress();
}

void Tfrm_cache::AFindExecute()
{
    frm_find->exec();
}

void Tfrm_cache::AHelpExecute()
{
    auto *about = new Tfrm_logo(this);
    frm_logo = about;
    if (!about->PrepareAbout(Tfrm_logo::ReadmePath(app_dir)))
        InfoBox(QStringLiteral("打开文件出错。"));
    about->exec();
    delete about;
    frm_logo = nullptr;
}

void Tfrm_cache::N9Click()
{
    close();
}

void Tfrm_cache::N13Click()
{
    Tfrm_logo::MailToAuthor();
}

QString Tfrm_cache::SettingsPath() const
{
    return SettingsFilePath(app_dir);
}

void Tfrm_cache::FormCreate()
{
    if (!ReadSettings())
        DefaultPlacement();
    ApplySettings();
    state.sort_key = 0;
    collectBox->DrawCollectIndicator(0);
}

bool Tfrm_cache::ReadSettings()
{
    switch (ReadSettingsFile(SettingsPath(), settings)) {
    case SettingsRead::Missing:
        return false;
    case SettingsRead::Damaged:
        AskBox(QStringLiteral("无法读取配置文件。"), MB::ICONERROR);
        settings.placement = WINDOWPLACEMENT{}; // a partly read placement is never applied
        return false;
    case SettingsRead::Ok:
        break;
    }
    std::vector<QRect> screens;
    for (QScreen *screen : QGuiApplication::screens())
        screens.push_back(screen->availableGeometry());
    SanitizeSettings(settings, screens);
    // A placement the program never writes was dropped: the window gets the default one.
    if (settings.placement.length != sizeof(WINDOWPLACEMENT))
        placeDefault();
    return true;
}

void Tfrm_cache::placeDefault()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    const QSize size = screen ? screen->geometry().size() : QSize(1024, 768);
    setGeometry(DefaultPlacementRect(size.width(), size.height())); // before the first show the frame adds nothing
}

void Tfrm_cache::DefaultPlacement()
{
    placeDefault();
    settings.viewdoc = 1;
    settings.viewstyle = 3;
    settings.listheight = 140;
}

void Tfrm_cache::ApplySettings()
{
    const WINDOWPLACEMENT &p = settings.placement;
    if (p.length == sizeof(WINDOWPLACEMENT)) {
        setGeometry(QRect(QPoint(p.rcNormalLeft, p.rcNormalTop), QPoint(p.rcNormalRight - 1, p.rcNormalBottom - 1)));
        if (p.showCmd == SW_SHOWMAXIMIZED)
            setWindowState(Qt::WindowMaximized);
        else if (p.showCmd == SW_SHOWMINIMIZED)
            setWindowState(Qt::WindowMinimized);
    }
    m_viewdoc->setChecked(settings.viewdoc != 0);
    preview->ShowPreview(settings.viewdoc != 0);
    lister->setViewStyle(settings.viewstyle);
    if (settings.viewstyle == 0)
        m_VsIcon->setChecked(true);
    else if (settings.viewstyle == 3)
        m_VsReport->setChecked(true);
    documents->SetListImages(settings.viewstyle != 0);
}

void Tfrm_cache::SavePlacement()
{
    WINDOWPLACEMENT &p = settings.placement;
    p.length = sizeof(WINDOWPLACEMENT);
    p.flags = 0;
    p.showCmd = isMaximized() ? SW_SHOWMAXIMIZED : (isMinimized() ? SW_SHOWMINIMIZED : SW_SHOWNORMAL);
    const QRect normal = normalGeometry().isValid() ? normalGeometry() : geometry();
    p.rcNormalLeft = normal.left();
    p.rcNormalTop = normal.top();
    p.rcNormalRight = normal.right() + 1;
    p.rcNormalBottom = normal.bottom() + 1;
    settings.viewdoc = m_viewdoc->isChecked() ? 1 : 0;
    settings.viewstyle = std::uint8_t(lister->viewStyle());
}

void Tfrm_cache::WriteSettings()
{
    if (!WriteSettingsFile(SettingsPath(), settings))
        qWarning("Tidewrack: could not write the settings file %s", qPrintable(SettingsPath()));
}

void Tfrm_cache::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    // Load once the window is on the screen, so the status texts have somewhere to show.
    QMetaObject::invokeMethod(this, &Tfrm_cache::FormShow, Qt::QueuedConnection);
}

void Tfrm_cache::FormShow()
{
    loader->LoadCatalogue(false);
    if (frm_logo) {
        delete frm_logo.data();
        frm_logo = nullptr;
    }
}

void Tfrm_cache::closeEvent(QCloseEvent *event)
{
    if (!m_closed)
        FormClose();
    event->accept();
}

void Tfrm_cache::FormClose()
{
    m_closed = true;
    // Nothing may reach the lists once they are gone: empty the list's rows first.
    documents->SetRowCount(0);
    state.view_list.clear();
    state.cache_list.clear();
    state.collect_list.clear();
    state.search_list.clear();
    SavePlacement();
    WriteSettings();
}
