#include "catalogueloader.h"

#include "catalogue/catalogue.h"
#include "documentlist.h"
#include "mainwindow.h"
#include "platform/urlcachestore.h"
#include "treenodes.h"
#include "windows/pictures.h"

#include <QApplication>
#include <QTreeWidget>

#include <cstdio>

namespace {

QTreeWidgetItem *addRoot(QTreeWidget *tree, const QString &caption, int image)
{
    auto *node = new QTreeWidgetItem(tree, QStringList(caption));
    node->setIcon(0, TreeImage(image));
    return node;
}

} // namespace

CatalogueLoader::CatalogueLoader(Tfrm_cache &form) : QObject(&form), m_form(form)
{}

void CatalogueLoader::LoadCatalogue(bool showProgress)
{
    if (m_loading)
        return;
    m_loading = true;
    CatalogueState &state = m_form.state;

    if (showProgress)
        m_form.ShowProgress(QStringLiteral("Tidewrack正在读取IE缓存文件..."), 1);
    state.tree_ready = false; // the old nodes go with the entries they stand for
    state.cache_list.clear();
    QApplication::processEvents();
    m_form.documents->SetRowCount(0);
    QApplication::processEvents();

    m_form.Tree->setUpdatesEnabled(false);
    {
        const QSignalBlocker quiet(m_form.Tree);
        m_form.Tree->clear();
    }
    m_form.SetStatusText(0, QStringLiteral("读取文件..."));
    QApplication::processEvents();

    state.cache_list = EnumerateCatalogue();
    SortByHost(state.cache_list);
    // The window shows an unreadable store as an empty cache; say why where it can be seen.
    if (const std::string problem = LastUrlCacheReadProblem(); !problem.empty())
        std::fprintf(stderr, "tidewrack: cannot read the cache store: %s\n", problem.c_str());

    m_form.SetStatusText(0, QStringLiteral("装入缓存文件..."));
    QApplication::processEvents();
    rebuildTree();

    m_form.Tree->setUpdatesEnabled(true);
    state.tree_ready = true;
    m_form.SetStatusText(0, QStringLiteral("域名共%1个").arg(m_form.TreeNode(CacheRoot)->childCount()));
    m_form.HideProgress();
    m_loading = false;
}

void CatalogueLoader::rebuildTree()
{
    QTreeWidget *tree = m_form.Tree;
    addRoot(tree, QStringLiteral("采集盒"), 5);
    addRoot(tree, QStringLiteral("搜索站"), 3);
    QTreeWidgetItem *cacheRoot = addRoot(tree, QStringLiteral("IE缓存"), 0);

    const CacheList &list = m_form.state.cache_list;
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
    tree->setCurrentItem(cacheRoot); // tree_ready is still false: no fill
}
