#include "catalogueloader.h"

#include "catalogue/catalogue.h"
#include "catalogue/cataloguestate.h"
#include "logging.h"
#include "platform/causetext.h"
#include "platform/processmemory.h"
#include "platform/urlcachestore.h"
#include "statuspanels.h"
#include "stores/storeregistry.h"
#include "treenodes.h"
#include "windows/pictures.h"
#include "windows/workprogress.h"

#include <QApplication>
#include <QTreeWidget>

#include <algorithm>
#include <atomic>
#include <future>
#include <iterator>

namespace {

QTreeWidgetItem *newRoot(QTreeWidget *tree, const QString &caption, int image)
{
    auto *node = new QTreeWidgetItem(tree, QStringList(caption));
    node->setIcon(0, TreeImage(image));
    return node;
}

void addCollectionRoots(QTreeWidget *tree)
{
    newRoot(tree, QStringLiteral("采集盒"), 5);
    newRoot(tree, QStringLiteral("搜索站"), 3);
}

// "IE" for a WinInet store (and for none), else the browser's name.
QString browserOf(const CacheStore *store)
{
    const std::string name = store ? store->browserName() : std::string();
    return name.empty() ? QStringLiteral("IE") : QString::fromStdString(name);
}

} // namespace

CatalogueLoader::CatalogueLoader(CatalogueState &state, QTreeWidget *tree, StatusPanels &status)
    : m_state(state), m_tree(tree), m_status(status)
{
    connect(m_tree, &QTreeWidget::currentItemChanged, this, &CatalogueLoader::showRootState);
}

void CatalogueLoader::setStore(std::shared_ptr<CacheStore> store)
{
    const URLCACHE_STORE_ID kept = UrlCacheStoreIdOf(store);
    for (const std::shared_ptr<CacheStore> &old : m_stores)
        if (const URLCACHE_STORE_ID id = UrlCacheStoreIdOf(old); id != kept) {
            CloseUrlCacheStore(id);
            m_closedAny = true;
        }
    m_stores.clear();
    if (store)
        m_stores.push_back(std::move(store));
}

bool CatalogueLoader::addStore(std::shared_ptr<CacheStore> store)
{
    const URLCACHE_STORE_ID id = UrlCacheStoreIdOf(store);
    if (id == 0)
        return false;
    for (const std::shared_ptr<CacheStore> &open : m_stores)
        if (UrlCacheStoreIdOf(open) == id)
            return false;
    m_stores.push_back(std::move(store));
    return true;
}

void CatalogueLoader::removeStore(URLCACHE_STORE_ID id)
{
    std::erase_if(m_stores, [id](const std::shared_ptr<CacheStore> &s) { return UrlCacheStoreIdOf(s) == id; });
    CloseUrlCacheStore(id);
    m_closedAny = true;
}

const std::shared_ptr<CacheStore> &CatalogueLoader::store() const
{
    static const std::shared_ptr<CacheStore> none;
    return m_stores.empty() ? none : m_stores.front();
}

QTreeWidgetItem *CatalogueLoader::cacheRootOf(QTreeWidgetItem *node)
{
    while (node && node->parent())
        node = node->parent();
    return node && node->data(0, StoreIdRole).isValid() ? node : nullptr;
}

// One store's part of a load, read on a thread of its own.
struct CatalogueLoader::Loaded {
    std::shared_ptr<CacheStore> store;
    URLCACHE_STORE_ID id = 0;
    CacheList list;
    std::string problem;
    std::string skipped;
    std::uint32_t skippedCount = 0;
    std::string incomplete; // why the listing may not be all of the store
    StoreError error = StoreError::None;
    std::uint32_t newerCount = 0;
};

void CatalogueLoader::LoadCatalogue(bool showProgress)
{
    if (m_loading) {
        // F5 during a load: the load reads the stores once more when its read is done and
        // drops what that read brought.
        m_restart = true;
        m_restartShowsProgress = m_restartShowsProgress || showProgress;
        return;
    }
    m_loading = true;
    bool again = true;
    while (again) {
        m_restart = false;
        m_restartShowsProgress = false;
        again = loadOnce(showProgress) && m_restart;
        showProgress = showProgress || m_restartShowsProgress;
    }
    m_loading = false;
}

bool CatalogueLoader::loadOnce(bool showProgress)
{
    // The calls of the cache layer work on the stores handed to the loader; without any they
    // work on whatever store the process has (the tests install theirs directly).
    for (const std::shared_ptr<CacheStore> &store : m_stores)
        OpenUrlCacheStore(store);
    if (!m_stores.empty())
        SetUrlCacheStore(m_stores.front());
    std::vector<Loaded> loads(std::max<std::size_t>(m_stores.size(), 1));
    if (m_stores.empty()) {
        loads.front().store = CurrentUrlCacheStore();
        loads.front().id = CurrentUrlCacheStoreId();
    }
    for (std::size_t i = 0; i < m_stores.size(); ++i) {
        loads[i].store = m_stores[i];
        loads[i].id = UrlCacheStoreIdOf(m_stores[i]);
    }

    if (showProgress)
        emit progressShown(QStringLiteral("Tidewrack正在读取%1缓存文件...").arg(browserOf(loads.front().store.get())),
                           1);
    m_state.tree_ready = false; // the old nodes go with the entries they stand for
    m_state.cache_list.clear();
    QApplication::processEvents();
    emit catalogueCleared();
    QApplication::processEvents();

    m_tree->setUpdatesEnabled(false);
    {
        const QSignalBlocker quiet(m_tree);
        m_tree->clear();
    }
    // The emptied tree paints while the stores are read.
    m_tree->setUpdatesEnabled(true);
    m_status.setText(0, QStringLiteral("读取文件..."));
    QApplication::processEvents();

    // The stores are read off the window's thread, which keeps painting and answering
    // meanwhile; every store but the first is read side by side with it, and each keeps its
    // own problems.
    auto read = [](Loaded &loaded) {
        loaded.list = EnumerateCatalogue(loaded.id);
        SortByHost(loaded.list);
        loaded.problem = LastUrlCacheReadProblem();
        loaded.skipped = LastUrlCacheSkipped();
        loaded.skippedCount = LastUrlCacheSkippedCount();
        loaded.incomplete = LastUrlCacheIncomplete();
        loaded.error = LastUrlCacheReadError();
        loaded.newerCount = LastUrlCacheNewerCount();
    };
    std::atomic<std::size_t> waitingFor{0}; // the store the read waits for now
    auto readAll = [&] {
        std::vector<std::future<void>> others;
        for (std::size_t i = 1; i < loads.size(); ++i)
            others.push_back(std::async(std::launch::async, read, std::ref(loads[i])));
        read(loads.front());
        for (std::size_t i = 0; i < others.size(); ++i) {
            waitingFor = i + 1;
            others[i].wait();
        }
    };
    std::size_t named = 0;
    bool quitting = false;
    RunOffWindowThread(
        readAll,
        [&] {
            if (const std::size_t now = waitingFor; showProgress && now != named) {
                named = now;
                emit progressShown(
                    QStringLiteral("Tidewrack正在读取%1缓存文件...").arg(browserOf(loads[now].store.get())), 1);
            }
        },
        ProgressTickMs, [&] { quitting = true; });
    if (quitting || m_restart) {
        // The program quits, or F5 asked for a new read: what this one read is dropped.
        if (quitting)
            emit progressHidden();
        return !quitting;
    }
    // The old catalogue, and the stores' old listings that the read replaced, are let go by
    // now: their pages go back, or each reload would keep some more of them resident.
    ReturnFreedMemory();
    for (const Loaded &loaded : loads) {
        // The window shows an unreadable store as an empty cache; say why where it can be seen.
        if (!loaded.problem.empty())
            qCWarning(lcStore, "cannot read the cache store: %s", loaded.problem.c_str());
        else if (!loaded.skipped.empty() || !loaded.incomplete.empty())
            qCWarning(lcStore, "%s: %s", loaded.store ? loaded.store->describe().c_str() : "",
                      (loaded.incomplete.empty()
                           ? loaded.skipped
                           : loaded.incomplete + (loaded.skipped.empty() ? "" : "; " + loaded.skipped))
                          .c_str());
    }

    m_status.setText(0, QStringLiteral("装入缓存文件..."));
    QApplication::processEvents();
    if (m_restart)
        return true;
    m_tree->setUpdatesEnabled(false);
    std::size_t total = 0;
    for (const Loaded &loaded : loads)
        total += loaded.list.size();
    m_state.cache_list.reserve(total);
    {
        // The roots stand first: whatever came into the tree while the stores were read goes.
        const QSignalBlocker quiet(m_tree);
        m_tree->clear();
    }
    addCollectionRoots(m_tree);
    for (const Loaded &loaded : loads)
        addRoot(loaded, loads.size() > 1);
    for (Loaded &loaded : loads)
        std::move(loaded.list.begin(), loaded.list.end(), std::back_inserter(m_state.cache_list));
    QTreeWidgetItem *first = m_tree->topLevelItem(CacheRoot);
    m_tree->setCurrentItem(first); // tree_ready is still false: no fill

    m_tree->setUpdatesEnabled(true);
    m_state.tree_ready = true;
    m_status.setText(0, first ? first->data(0, StoreStateRole).toString() : QString());
    m_state.selected_store = first ? first->data(0, StoreIdRole).toUInt() : 0;
    // A handler this load ran inside (a click on a host whose list was being filled) may go
    // on to select whatever now lies under the pointer: the root stays the one selected.
    QMetaObject::invokeMethod(this, &CatalogueLoader::keepRootSelected, Qt::QueuedConnection);
    for (const Loaded &loaded : loads) {
        StoreProblem problem{loaded.id,
                             loaded.problem.empty() ? StoreError::None : loaded.error,
                             loaded.skippedCount,
                             loaded.newerCount,
                             !loaded.incomplete.empty(),
                             loaded.store ? QString::fromStdString(loaded.store->folder()) : QString()};
        if (problem.any())
            emit storeProblem(problem);
    }
    emit progressHidden();
    return true;
}

void CatalogueLoader::keepRootSelected()
{
    QTreeWidgetItem *root = m_tree->topLevelItem(CacheRoot);
    if (m_loading || !m_state.tree_ready || !root || m_tree->currentItem() != root)
        return; // the user chose another node since
    const QList<QTreeWidgetItem *> selected = m_tree->selectedItems();
    if (selected.size() == 1 && selected.front() == root)
        return;
    const QSignalBlocker quiet(m_tree);
    m_tree->clearSelection();
    root->setSelected(true);
}

void CatalogueLoader::addRoot(const Loaded &loaded, bool several)
{
    const CacheStore *store = loaded.store.get();
    QTreeWidgetItem *root = newRoot(m_tree, QString::fromStdString(StoreCaption(loaded.id, several)), 0);

    const CacheList &list = loaded.list;
    const QIcon closed = TreeImage(1);
    const QIcon open = TreeImage(2);
    QIcon hostIcon;
    hostIcon.addPixmap(closed.pixmap(16), QIcon::Normal, QIcon::Off);
    hostIcon.addPixmap(open.pixmap(16), QIcon::Selected, QIcon::Off);

    QList<QTreeWidgetItem *> hosts;
    for (const HostNode &host : HostNodes(list)) {
        auto *node = new HostNodeItem(list[host.first]);
        node->setText(0, QString::fromUtf8(HostCaption(host.host)));
        node->setIcon(0, hostIcon);
        hosts.append(node);
    }
    root->addChildren(hosts);
    root->setExpanded(true);

    QString state = QStringLiteral("域名共%1个").arg(root->childCount());
    if (!loaded.problem.empty())
        state += QStringLiteral("（无法读取缓存：%1）").arg(CauseText(loaded.error));
    else if (!loaded.incomplete.empty() && loaded.skippedCount > 0)
        state += QStringLiteral("（缓存索引不完整，%1个缓存项未列出）").arg(loaded.skippedCount);
    else if (!loaded.incomplete.empty())
        state += QStringLiteral("（缓存索引不完整，列出的可能不是全部）");
    else if (loaded.skippedCount > 0)
        state += QStringLiteral("（%1个损坏的缓存项未列出）").arg(loaded.skippedCount);
    root->setData(0, StoreIdRole, QVariant::fromValue(uint(loaded.id)));
    root->setData(0, StoreStateRole, state);
    QString tip = store ? QString::fromStdString(store->folder()) : QString();
    if (!loaded.problem.empty())
        tip +=
            (tip.isEmpty() ? QString() : QStringLiteral("\n")) + QStringLiteral("无法读取：") + CauseText(loaded.error);
    root->setToolTip(0, tip);
}

void CatalogueLoader::showRootState(QTreeWidgetItem *node)
{
    if (!m_state.tree_ready)
        return;
    if (const QTreeWidgetItem *root = cacheRootOf(node)) {
        m_state.selected_store = root->data(0, StoreIdRole).toUInt();
        m_status.setText(0, root->data(0, StoreStateRole).toString());
    }
}
