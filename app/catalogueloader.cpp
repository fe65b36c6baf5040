#include "catalogueloader.h"

#include "catalogue/catalogue.h"
#include "catalogue/cataloguestate.h"
#include "logging.h"
#include "platform/urlcachestore.h"
#include "statuspanels.h"
#include "stores/storeregistry.h"
#include "treenodes.h"
#include "windows/pictures.h"

#include <QApplication>
#include <QTreeWidget>

namespace {

QTreeWidgetItem *addRoot(QTreeWidget *tree, const QString &caption, int image)
{
    auto *node = new QTreeWidgetItem(tree, QStringList(caption));
    node->setIcon(0, TreeImage(image));
    return node;
}

} // namespace

CatalogueLoader::CatalogueLoader(CatalogueState &state, QTreeWidget *tree, StatusPanels &status)
    : m_state(state), m_tree(tree), m_status(status)
{}

void CatalogueLoader::setStore(std::shared_ptr<CacheStore> store)
{
    m_store = std::move(store);
}

namespace {

// "IE" for a WinInet store (and for none), else the browser's name.
QString browserOf(const CacheStore *store)
{
    const std::string name = store ? BrowserNameFor(store->kind(), store->folder()) : std::string();
    return name.empty() ? QStringLiteral("IE") : QString::fromStdString(name);
}

} // namespace

void CatalogueLoader::LoadCatalogue(bool showProgress)
{
    if (m_loading)
        return;
    m_loading = true;

    // The calls of the cache layer work on the store handed to the loader; without one they
    // work on whatever store the process has (the tests install theirs directly).
    if (m_store)
        SetUrlCacheStore(m_store);
    const std::shared_ptr<CacheStore> store = CurrentUrlCacheStore();
    if (showProgress)
        emit progressShown(QStringLiteral("Tidewrack正在读取%1缓存文件...").arg(browserOf(store.get())), 1);
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
    m_status.setText(0, QStringLiteral("读取文件..."));
    QApplication::processEvents();

    m_state.cache_list = EnumerateCatalogue();
    SortByHost(m_state.cache_list);
    // The window shows an unreadable store as an empty cache; say why where it can be seen.
    const std::string problem = LastUrlCacheReadProblem();
    const std::string skipped = LastUrlCacheSkipped();
    const std::string incomplete = LastUrlCacheIncomplete();
    if (!problem.empty())
        qCWarning(lcStore, "cannot read the cache store: %s", problem.c_str());
    else if (!skipped.empty() || !incomplete.empty())
        qCWarning(lcStore, "%s: %s", store ? store->describe().c_str() : "",
                  (incomplete.empty() ? skipped : incomplete + (skipped.empty() ? "" : "; " + skipped)).c_str());

    m_status.setText(0, QStringLiteral("装入缓存文件..."));
    QApplication::processEvents();
    rebuildTree(QString::fromStdString(store ? CacheRootCaption(store->kind(), store->folder())
                                             : CacheRootCaption(StoreKind::None, {})));

    m_tree->setUpdatesEnabled(true);
    m_state.tree_ready = true;
    QString hosts = QStringLiteral("域名共%1个").arg(TreeNode(m_tree, CacheRoot)->childCount());
    if (!problem.empty())
        hosts += QStringLiteral("（无法读取缓存：%1）").arg(QString::fromStdString(problem));
    else if (!incomplete.empty() && LastUrlCacheSkippedCount() > 0)
        hosts += QStringLiteral("（缓存索引不完整，%1个缓存项未列出）").arg(LastUrlCacheSkippedCount());
    else if (!incomplete.empty())
        hosts += QStringLiteral("（缓存索引不完整，列出的可能不是全部）");
    else if (LastUrlCacheSkippedCount() > 0)
        hosts += QStringLiteral("（%1个损坏的缓存项未列出）").arg(LastUrlCacheSkippedCount());
    m_status.setText(0, hosts);
    std::string reason = !problem.empty() ? problem : skipped;
    if (problem.empty() && !incomplete.empty())
        reason = incomplete + (skipped.empty() ? "" : "; " + skipped);
    emit storeProblem(QString::fromStdString(reason));
    emit progressHidden();
    m_loading = false;
}

void CatalogueLoader::rebuildTree(const QString &cacheCaption)
{
    addRoot(m_tree, QStringLiteral("采集盒"), 5);
    addRoot(m_tree, QStringLiteral("搜索站"), 3);
    QTreeWidgetItem *cacheRoot = addRoot(m_tree, cacheCaption, 0);

    const CacheList &list = m_state.cache_list;
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
    cacheRoot->addChildren(hosts);
    cacheRoot->setExpanded(true);
    m_tree->setCurrentItem(cacheRoot); // tree_ready is still false: no fill
}
