#include "mainwindow.h"

#include "catalogueloader.h"
#include "collectbox.h"
#include "documentcommands.h"
#include "documentlist.h"
#include "documentsaver.h"
#include "entrycommands.h"
#include "findform.h"
#include "listcolumns.h"
#include "lister.h"
#include "logging.h"
#include "platform/browser/browser.h"
#include "platform/causetext.h"
#include "platform/urlcachestore.h"
#include "platform/wininet.h"
#include "preview.h"
#include "storechooser.h"
#include "stores/storeregistry.h"
#include "treenodes.h"
#include "windowcontrols.h"
#include "windows/fonts.h"
#include "windows/infoform.h"
#include "windows/logoform.h"
#include "windows/messagebox.h"
#include "windows/pictures.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

#include <utility>

Tfrm_cache::Tfrm_cache(const QString &appDir, Answerer *answerer, QWidget *parent)
    : QMainWindow(parent),
      m_appDir(appDir),
      m_boxes(answerer ? nullptr : std::make_unique<MessageBoxAnswerer>()),
      m_answerer(answerer ? *answerer : *m_boxes)
{
    if (!m_appDir.endsWith(QLatin1Char('/')))
        m_appDir += QLatin1Char('/');
    setObjectName(QStringLiteral("frm_cache"));
    setWindowTitle(QStringLiteral("Tidewrack"));
    setWindowIcon(ProgramIcon());
    setFont(InterfaceFont());
    resize(560, 416);

    ui = std::make_unique<WindowControls>(this);
    statusBar()->setObjectName(QStringLiteral("sbar"));
    StatusPanels &status = *ui->sbar;

    // The concerns, each with what it works with.
    m_saver = std::make_unique<DocumentSaver>(this, m_answerer);
    m_loader = std::make_unique<CatalogueLoader>(m_state, ui->Tree, status);
    m_documents = std::make_unique<DocumentList>(m_state, ui->lister, ui->Tree, status);
    m_columns = std::make_unique<ListColumns>(ui->lister->report()->header(), ColumnLayoutPath(settingsPath()), this);
    m_preview = std::make_unique<PreviewPane>(
        m_state, m_settings, PreviewPane::Controls{ui->lister, ui->Splitter2, ui->pnl_main, ui->editor, ui->Web1},
        status, m_answerer);
    m_commands = std::make_unique<DocumentCommands>(m_state, ui->lister, *m_saver, status, this, m_answerer);
    m_collectBox = std::make_unique<CollectBox>(m_state, ui->lister, ui->Tree, ui->lab_collect, ui->Image1, *m_saver);
    m_entries = std::make_unique<EntryCommands>(m_state, ui->lister, this, m_answerer);
    m_storeChooser = new StoreChooser(ui->fileMenu, this);
    connectActions();

    FormCreate();
    m_showinfo = new Tfrm_showinfo(this);
    m_find = new Tfrm_find(m_state, this, m_answerer);
    connectConcerns();

    // The update pass runs whenever the event loop runs out of work.
    m_idleUpdate = connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
                           &Tfrm_cache::ActionList1Update);
}

Tfrm_cache::~Tfrm_cache()
{
    disconnect(m_idleUpdate);
    if (!m_closed)
        FormClose();
    // The members go in reverse order: the concerns, the collect box first, stop watching
    // the controls before the controls go (they still get events, hide and leave, while
    // QWidget takes them apart).
}

// Each action to the concern that carries it out.
void Tfrm_cache::connectActions()
{
    const ActionList &a = *ui->actions;
    connect(a.ARefresh, &QAction::triggered, m_loader.get(), &CatalogueLoader::ARefreshExecute);
    connect(a.AOpenDoc, &QAction::triggered, m_commands.get(), &DocumentCommands::AOpenDocExecute);
    connect(a.ADocinfo, &QAction::triggered, m_commands.get(), &DocumentCommands::ADocinfoExecute);
    connect(a.ASaveDocas, &QAction::triggered, m_commands.get(), &DocumentCommands::ASaveDocasExecute);
    connect(a.ASaveWebas, &QAction::triggered, m_preview.get(), &PreviewPane::ASaveWebasExecute);
    connect(a.ADeleteDoc, &QAction::triggered, m_commands.get(), &DocumentCommands::ADeleteDocExecute);
    connect(a.ASendtoBox, &QAction::triggered, m_collectBox.get(), &CollectBox::ASendtoBoxExecute);
    connect(a.ASelectAll, &QAction::triggered, m_commands.get(), &DocumentCommands::ASelectAllExecute);
    connect(a.ACopyUrl, &QAction::triggered, this, &Tfrm_cache::ACopyUrlExecute);
    connect(a.AFind, &QAction::triggered, this, &Tfrm_cache::AFindExecute);
    connect(a.AFindInWeb, &QAction::triggered, m_preview.get(), &PreviewPane::AFindInWebExecute);
    connect(a.ASaveAllCollectDoc, &QAction::triggered, m_collectBox.get(), &CollectBox::ASaveAllCollectDocExecute);
    connect(a.ARemoveCollectDoc, &QAction::triggered, m_collectBox.get(), &CollectBox::ARemoveCollectDocExecute);
    connect(a.AClearCollectDoc, &QAction::triggered, m_collectBox.get(), &CollectBox::AClearCollectDocExecute);
    // Checkable actions have turned their check mark over when they report the trigger.
    connect(a.Aoffline, &QAction::triggered, m_commands.get(), &DocumentCommands::AofflineExecute);
    // F12, the toolbar button and the menu all turn this action over; the state itself is set
    // by its command, so the browser looks once that has run.
    connect(a.Aoffline, &QAction::toggled, ui->Web1, &Browser::followOfflineState, Qt::QueuedConnection);
    // A finished page is what 在网页中查找 and 保存网页 work on: their states follow it at once.
    connect(ui->Web1, &Browser::loadFinished, this, &Tfrm_cache::ActionList1Update);
    connect(a.AInternetOption, &QAction::triggered, m_preview.get(), &PreviewPane::AInternetOptionExecute);
    connect(a.AHelp, &QAction::triggered, this, &Tfrm_cache::AHelpExecute);
    connect(a.AEntryInfo, &QAction::triggered, m_entries.get(), &EntryCommands::showEntryInfo);
    connect(a.AExportList, &QAction::triggered, m_entries.get(), &EntryCommands::exportList);
    connect(a.AExportDocs, &QAction::triggered, m_entries.get(), &EntryCommands::exportDocuments);
    connect(a.AExportWarc, &QAction::triggered, m_entries.get(), &EntryCommands::exportWarc);
    connect(a.m_viewdoc, &QAction::triggered, m_preview.get(), &PreviewPane::m_viewdocClick);
    for (QAction *style : {a.m_VsReport, a.m_VsIcon})
        connect(style, &QAction::triggered, m_documents.get(), [this, style] {
            style->setChecked(true);
            m_documents->m_VsIconClick(style == ui->actions->m_VsReport);
        });
    for (int i = 0; i < ui->sortItems.size(); ++i)
        connect(ui->sortItems[i], &QAction::triggered, m_documents.get(),
                [this, i] { m_documents->m_sortcaptionClick(i); });
    connect(a.N9, &QAction::triggered, this, &Tfrm_cache::N9Click);
    connect(a.N13, &QAction::triggered, this, &Tfrm_cache::N13Click);

    connect(ui->Tree, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        // The delete items follow the node under the pointer: the station, or a host of a store.
        const QTreeWidgetItem *node = ui->Tree->itemAt(at);
        const auto *host = dynamic_cast<const HostNodeItem *>(node);
        const bool station = node && AbsoluteIndex(ui->Tree, node) == SearchRoot;
        ui->Pop_deleteFound->setText(QStringLiteral("删除全部找到的文档(%1项)...").arg(m_state.search_list.size()));
        ui->Pop_deleteFound->setVisible(station);
        ui->Pop_deleteFound->setEnabled(!m_state.search_list.empty());
        ui->Pop_deleteHost->setVisible(host != nullptr);
        ui->Pop_deleteHost->setData(host ? QVariant(QByteArray(NodeHost(host).data(), qsizetype(NodeHost(host).size())))
                                         : QVariant());
        ui->Pop_deleteHost->setProperty("store", host ? host->store() : 0u);
        ui->Pop_tree->popup(ui->Tree->viewport()->mapToGlobal(at));
    });
    connect(ui->Pop_deleteFound, &QAction::triggered, m_commands.get(), &DocumentCommands::deleteFound);
    connect(ui->Pop_deleteHost, &QAction::triggered, this, [this] {
        const QByteArray host = ui->Pop_deleteHost->data().toByteArray();
        if (!host.isEmpty())
            m_commands->deleteHost(host.toStdString(), ui->Pop_deleteHost->property("store").toUInt());
    });
    connect(ui->lab_collect, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &at) { ui->Pop_CollectBox->popup(ui->lab_collect->mapToGlobal(at)); });
    connect(ui->lister, &Lister::contextMenuRequested, this, [this](const QPoint &at) { ui->Pop_list->popup(at); });
}

// What one concern tells the others. Every connection is direct: the receiver runs at that
// point of the sender's steps, before the sender goes on, as a call would.
void Tfrm_cache::connectConcerns()
{
    connect(ui->Tree, &QTreeWidget::currentItemChanged, m_documents.get(), &DocumentList::TreeChange,
            Qt::DirectConnection);

    connect(m_loader.get(), &CatalogueLoader::progressShown, m_showinfo, &Tfrm_showinfo::ShowProgress,
            Qt::DirectConnection);
    connect(m_loader.get(), &CatalogueLoader::progressHidden, m_showinfo, &Tfrm_showinfo::HideProgress,
            Qt::DirectConnection);
    connect(m_loader.get(), &CatalogueLoader::catalogueCleared, this, [this] {
        // A load that starts again (F5 meanwhile) still reads the cache the user just opened.
        if (m_openedNext != 0)
            m_openedNow = std::exchange(m_openedNext, 0);
        m_entries->clearStoreProblems();
    });
    connect(m_loader.get(), &CatalogueLoader::progressHidden, this, [this] { m_openedNow = 0; });
    connect(m_loader.get(), &CatalogueLoader::storeProblem, this, &Tfrm_cache::showStoreProblem, Qt::DirectConnection);
    connect(m_loader.get(), &CatalogueLoader::catalogueCleared, m_documents.get(), &DocumentList::catalogueCleared,
            Qt::DirectConnection);

    connect(m_documents.get(), &DocumentList::openRequested, m_commands.get(), &DocumentCommands::AOpenDocExecute,
            Qt::DirectConnection);
    connect(m_documents.get(), &DocumentList::sortKeyChanged, this, &Tfrm_cache::checkSortItem, Qt::DirectConnection);
    connect(m_documents.get(), &DocumentList::viewStyleChanged, this, &Tfrm_cache::keepViewStyle, Qt::DirectConnection);

    connect(m_commands.get(), &DocumentCommands::rowCountChanged, m_documents.get(), &DocumentList::setRowCount,
            Qt::DirectConnection);
    connect(m_commands.get(), &DocumentCommands::entriesRemoved, m_collectBox.get(), &CollectBox::UpdateCollectNode,
            Qt::DirectConnection);
    connect(m_commands.get(), &DocumentCommands::entriesRemoved, this, &Tfrm_cache::UpdateSearchNode,
            Qt::DirectConnection);

    connect(m_collectBox.get(), &CollectBox::rowCountChanged, m_documents.get(), &DocumentList::setRowCount,
            Qt::DirectConnection);

    connect(m_entries.get(), &EntryCommands::progressShown, m_showinfo, &Tfrm_showinfo::ShowProgress,
            Qt::DirectConnection);
    connect(m_entries.get(), &EntryCommands::progressHidden, m_showinfo, &Tfrm_showinfo::HideProgress,
            Qt::DirectConnection);
    connect(m_storeChooser, &StoreChooser::storeChosen, this, &Tfrm_cache::openStore);
    connect(m_storeChooser, &StoreChooser::storeToggled, this, &Tfrm_cache::showStore);
    connect(m_storeChooser, &StoreChooser::allStoresChosen, this, &Tfrm_cache::openStores);

    connect(m_find, &Tfrm_find::searchFinished, this, &Tfrm_cache::UpdateSearchNode, Qt::DirectConnection);
    connect(m_find, &Tfrm_find::searchStationRequested, m_documents.get(), &DocumentList::showSearchStation,
            Qt::DirectConnection);
}

namespace {

QStringList foldersOf(const std::vector<std::shared_ptr<CacheStore>> &stores)
{
    QStringList folders;
    for (const std::shared_ptr<CacheStore> &store : stores)
        folders << QString::fromStdString(store->folder());
    return folders;
}

} // namespace

void Tfrm_cache::useStore(std::shared_ptr<CacheStore> store)
{
    m_loader->setStore(std::move(store));
    m_storeChooser->setShown(foldersOf(m_loader->stores()));
}

void Tfrm_cache::addStore(std::shared_ptr<CacheStore> store)
{
    m_loader->addStore(std::move(store));
    m_storeChooser->setShown(foldersOf(m_loader->stores()));
}

void Tfrm_cache::openStore(const QString &path)
{
    if (m_loader->isLoading())
        return; // the load running now would go on over the new stores' tree
    std::shared_ptr<CacheStore> store = OpenStore(QFile::encodeName(path).toStdString());
    if (store->kind() == StoreKind::None) {
        // The window keeps what it shows; the store's own words go to the log.
        qCInfo(lcUi, "%s", store->describe().c_str());
        QString text = QStringLiteral("这个文件夹里没有浏览器缓存：%1").arg(QDir::toNativeSeparators(path));
        if (const StoreError kind = store->list().errorKind(); kind != StoreError::NotACache)
            text += QStringLiteral("（%1）").arg(CauseText(kind));
        m_answerer.tell(text, MB::ICONWARNING);
        return;
    }
    m_openedNext = UrlCacheStoreIdOf(store);
    if (m_loader->stores().empty())
        m_loader->setStore(std::move(store)); // the process's store of before goes
    else
        m_loader->addStore(std::move(store));
    storesChanged();
}

void Tfrm_cache::showStore(const QString &path, bool shown)
{
    if (m_loader->isLoading())
        return;
    if (shown) {
        openStore(path);
        return;
    }
    const std::string folder = QFile::encodeName(path).toStdString();
    for (const std::shared_ptr<CacheStore> &store : m_loader->stores())
        if (store->folder() == folder) {
            m_loader->removeStore(UrlCacheStoreIdOf(store));
            storesChanged();
            return;
        }
}

void Tfrm_cache::openStores(const QStringList &paths)
{
    if (m_loader->isLoading())
        return;
    for (const QString &path : paths) {
        std::shared_ptr<CacheStore> store = OpenStore(QFile::encodeName(path).toStdString());
        if (store->kind() == StoreKind::None)
            continue;
        if (m_loader->stores().empty())
            m_loader->setStore(std::move(store));
        else
            m_loader->addStore(std::move(store));
    }
    storesChanged();
}

void Tfrm_cache::storesChanged()
{
    const std::vector<std::shared_ptr<CacheStore>> &stores = m_loader->stores();
    m_storeChooser->setShown(foldersOf(stores));
    std::vector<std::string> folders;
    for (const std::shared_ptr<CacheStore> &store : stores)
        if (store->kind() != StoreKind::None)
            folders.push_back(store->folder());
    // One open store is the choice of before; several are remembered as a set beside it.
    StoreResult kept = folders.size() == 1 ? RememberStore(folders.front()) : StoreResult{};
    if (kept.ok())
        kept = RememberStoreSet(folders);
    if (!kept.ok()) {
        qCWarning(lcUi, "could not keep the chosen caches: %s", kept.reason.c_str());
        m_answerer.tell(QStringLiteral("无法记住所选的缓存，下次启动时不会再打开它：%1。").arg(CauseText(kept.error)),
                        MB::ICONWARNING);
    }
    m_loader->LoadCatalogue(true);
}

void Tfrm_cache::showStoreProblem(const StoreProblem &problem)
{
    ShowStoreProblem(ui->Tree, problem);
    m_entries->setStoreProblem(problem.store, StoreProblemLines(problem).join(QStringLiteral("；")));
    if (problem.store != 0 && problem.store == m_openedNow) {
        m_openedNow = 0;
        m_answerer.tell(QStringLiteral("打开的缓存有问题：\n%1").arg(StoreProblemDetails(problem)), MB::ICONWARNING);
    }
}

bool Tfrm_cache::selectionUnavailable() const
{
    const ViewList &view = m_state.view_list;
    URLCACHE_STORE_ID checked = 0;
    for (const int row : ui->lister->selectedRows()) {
        if (std::size_t(row) >= view.size())
            continue;
        const URLCACHE_STORE_ID store = EntryStoreId(view[std::size_t(row)]);
        if (store == 0 || store == checked)
            continue;
        if (!UrlCacheStoreById(store))
            return true;
        checked = store;
    }
    return false;
}

bool Tfrm_cache::selectionReadOnly() const
{
    // Most stores can be written: the rows are walked only when a read-only one is open.
    const std::vector<std::shared_ptr<CacheStore>> open = OpenUrlCacheStores();
    if (std::none_of(open.begin(), open.end(), [](const auto &store) { return store->readOnly(); }))
        return false;
    const ViewList &view = m_state.view_list;
    URLCACHE_STORE_ID checked = 0;
    for (const int row : ui->lister->selectedRows()) {
        if (std::size_t(row) >= view.size())
            continue;
        const URLCACHE_STORE_ID id = EntryStoreId(view[std::size_t(row)]);
        if (id != 0 && id == checked)
            continue;
        const std::shared_ptr<CacheStore> store = id ? UrlCacheStoreById(id) : nullptr;
        if (!store || !store->readOnly())
            return false;
        checked = id;
    }
    return checked != 0;
}

void Tfrm_cache::checkSortItem(int key)
{
    if (key >= 0 && key < ui->sortItems.size())
        ui->sortItems[key]->setChecked(true); // a no-op on "日期", which is no radio item
}

void Tfrm_cache::keepViewStyle(int style)
{
    m_settings.viewstyle = std::uint8_t(style);
}

void Tfrm_cache::UpdateSearchNode()
{
    ShowSearchCount(ui->Tree, m_state.search_list.size());
}

void Tfrm_cache::ActionList1Update()
{
    const QTreeWidgetItem *node = ui->Tree->currentItem();
    const bool selection = ui->lister->firstSelectedRow() >= 0;
    ui->actions->Update({.selection = selection,
                         .unavailable = selection && m_loader->closedAny() && selectionUnavailable(),
                         .readOnly = selection && selectionReadOnly(),
                         .rows = ui->lister->rowCount() > 0,
                         .document = ui->Web1->hasDocument(),
                         .browserShown = ui->Web1->Visible(),
                         .collectBoxShown = node && node == TreeNode(ui->Tree, CollectRoot),
                         .collectBoxFilled = !m_state.collect_list.empty(),
                         .offline = IsOffline()});
}

QAction *Tfrm_cache::actionNamed(const QString &name) const
{
    return findChild<QAction *>(name, Qt::FindDirectChildrenOnly);
}

void Tfrm_cache::ACopyUrlExecute()
{
    // Ctrl+C is also the viewers' copy: a selection there goes first.
    if (!m_preview->copySelection())
        m_commands->ACopyUrlExecute();
}

void Tfrm_cache::AFindExecute()
{
    m_find->exec();
}

void Tfrm_cache::AHelpExecute()
{
    auto *about = new Tfrm_logo(this);
    m_logo = about;
    if (!about->prepareAbout(Tfrm_logo::readmePath(m_appDir)))
        m_answerer.tell(QStringLiteral("打开文件出错。"), MB::ICONINFORMATION);
    about->exec();
    delete about;
    m_logo = nullptr;
}

void Tfrm_cache::N9Click()
{
    close();
}

void Tfrm_cache::N13Click()
{
    Tfrm_logo::mailToAuthor();
}

QString Tfrm_cache::settingsPath() const
{
    return SettingsFilePath(m_appDir);
}

void Tfrm_cache::FormCreate()
{
    if (!ReadSettings())
        DefaultPlacement();
    ApplySettings();
    m_state.sort_key = 0;
    m_collectBox->DrawCollectIndicator(0);
}

bool Tfrm_cache::ReadSettings()
{
    switch (ReadSettingsFile(settingsPath(), m_settings)) {
    case SettingsRead::Missing:
        return false;
    case SettingsRead::Damaged:
        m_answerer.ask(QStringLiteral("无法读取配置文件。"), MB::ICONERROR);
        m_settings.placement = WINDOWPLACEMENT{}; // a partly read placement is never applied
        return false;
    case SettingsRead::Ok:
        break;
    }
    std::vector<QRect> screens;
    for (QScreen *screen : QGuiApplication::screens())
        screens.push_back(screen->availableGeometry());
    SanitizeSettings(m_settings, screens);
    // A placement the program never writes was dropped: the window gets the default one.
    if (m_settings.placement.length != sizeof(WINDOWPLACEMENT))
        moveToDefaultPlace();
    return true;
}

void Tfrm_cache::moveToDefaultPlace()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    const QSize size = screen ? screen->geometry().size() : QSize(1024, 768);
    // The rectangle is the outer one; the frame is known only once the window is shown, so
    // the client area takes it all for now and gives the frame its share then.
    m_defaultOuter = DefaultPlacementRect(size.width(), size.height());
    setGeometry(m_defaultOuter);
}

void Tfrm_cache::fitFrameToDefaultPlace()
{
    if (!m_defaultOuter.isValid() || !isVisible()
        || (windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen)))
        return;
    const QRect frame = frameGeometry();
    const QRect client = geometry();
    // Resized meanwhile (by the user, or by whoever made the window): that size stands. A
    // window manager only moves the window when it puts its frame round it.
    if (client.size() != m_defaultOuter.size()) {
        m_defaultOuter = QRect();
        return;
    }
    if (frame == client)
        return; // no frame yet, or none at all
    const QRect outer = m_defaultOuter;
    m_defaultOuter = QRect();
    setGeometry(outer.adjusted(client.left() - frame.left(), client.top() - frame.top(), client.right() - frame.right(),
                               client.bottom() - frame.bottom()));
}

void Tfrm_cache::DefaultPlacement()
{
    moveToDefaultPlace();
    m_settings.viewdoc = 1;
    m_settings.viewstyle = 3;
    m_settings.listheight = 140;
}

void Tfrm_cache::ApplySettings()
{
    const WINDOWPLACEMENT &p = m_settings.placement;
    if (p.length == sizeof(WINDOWPLACEMENT)) {
        m_defaultOuter = QRect(); // the window stands where it stood when it was closed
        setGeometry(QRect(QPoint(p.rcNormalLeft, p.rcNormalTop), QPoint(p.rcNormalRight - 1, p.rcNormalBottom - 1)));
        if (p.showCmd == SW_SHOWMAXIMIZED)
            setWindowState(Qt::WindowMaximized);
        else if (p.showCmd == SW_SHOWMINIMIZED)
            setWindowState(Qt::WindowMinimized);
    }
    const ActionList &a = *ui->actions;
    a.m_viewdoc->setChecked(m_settings.viewdoc != 0);
    m_preview->ShowPreview(m_settings.viewdoc != 0);
    ui->lister->setViewStyle(m_settings.viewstyle);
    if (m_settings.viewstyle == 0)
        a.m_VsIcon->setChecked(true);
    else if (m_settings.viewstyle == 3)
        a.m_VsReport->setChecked(true);
    m_documents->SetListImages(m_settings.viewstyle != 0);
}

bool Tfrm_cache::event(QEvent *event)
{
    // Each status panel has its own job; a hint pointed at shows as a tool tip, never as a
    // message that would hide the panels.
    if (event->type() == QEvent::StatusTip)
        return true;
    return QMainWindow::event(event);
}

void Tfrm_cache::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    fitFrameToDefaultPlace();
    if (m_shown)
        return;
    m_shown = true;
    // A window manager puts its frame round the window a little after the showing, and the
    // window then moves; a frame that has not come by then is not waited for any longer.
    QTimer::singleShot(FrameWaitMs, this, [this] { m_defaultOuter = QRect(); });
    // Qt learns the frame from the manager's _NET_FRAME_EXTENTS, which may come after the
    // window's last move or resize: look again until the frame is known and applied.
    if (m_defaultOuter.isValid()) {
        auto *look = new QTimer(this);
        connect(look, &QTimer::timeout, this, [this, look] {
            fitFrameToDefaultPlace();
            if (!m_defaultOuter.isValid()) {
                look->stop();
                look->deleteLater();
            }
        });
        look->start(FrameLookMs);
    }
    // Load once the window is on the screen, so the status texts have somewhere to show.
    QMetaObject::invokeMethod(this, &Tfrm_cache::FormShow, Qt::QueuedConnection);
}

void Tfrm_cache::moveEvent(QMoveEvent *event)
{
    QMainWindow::moveEvent(event);
    fitFrameToDefaultPlace();
}

void Tfrm_cache::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    fitFrameToDefaultPlace();
}

void Tfrm_cache::FormShow()
{
    // The splash stays in front while the first load runs, also where no window manager
    // keeps it on top of the window shown after it.
    if (m_logo)
        m_logo->raise();
    m_loader->LoadCatalogue(false);
    if (m_logo) {
        delete m_logo.data();
        m_logo = nullptr;
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
    m_documents->setRowCount(0);
    m_state.view_list.clear();
    m_state.cache_list.clear();
    m_state.collect_list.clear();
    m_state.search_list.clear();
    SavePlacement();
    WriteSettings();
    if (const StoreResult saved = m_columns->save(); !saved.ok()) {
        qCWarning(lcUi, "could not write the list's columns file: %s", saved.reason.c_str());
        m_answerer.tell(QStringLiteral("列表的栏目设置未能保存：%1。").arg(CauseText(saved.error)), MB::ICONWARNING);
    }
}

void Tfrm_cache::SavePlacement()
{
    WINDOWPLACEMENT &p = m_settings.placement;
    p.length = sizeof(WINDOWPLACEMENT);
    p.flags = 0;
    p.showCmd = isMaximized() ? SW_SHOWMAXIMIZED : (isMinimized() ? SW_SHOWMINIMIZED : SW_SHOWNORMAL);
    const QRect normal = normalGeometry().isValid() ? normalGeometry() : geometry();
    p.rcNormalLeft = normal.left();
    p.rcNormalTop = normal.top();
    p.rcNormalRight = normal.right() + 1;
    p.rcNormalBottom = normal.bottom() + 1;
    m_settings.viewdoc = ui->actions->m_viewdoc->isChecked() ? 1 : 0;
    m_settings.viewstyle = std::uint8_t(ui->lister->viewStyle());
}

void Tfrm_cache::WriteSettings()
{
    // The old file stays when the new one cannot be written whole: the user is told, as the
    // window's place and views set in this session are lost.
    if (const StoreResult saved = WriteSettingsFile(settingsPath(), m_settings); !saved.ok()) {
        qCWarning(lcUi, "could not write the settings file: %s", saved.reason.c_str());
        m_answerer.tell(QStringLiteral("设置未能保存：%1。\n%2")
                            .arg(CauseText(saved.error), QDir::toNativeSeparators(settingsPath())),
                        MB::ICONWARNING);
    }
}
