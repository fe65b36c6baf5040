#include "treenodes.h"

#include <QTreeWidget>

QTreeWidgetItem *TreeNode(const QTreeWidget *tree, int absoluteIndex)
{
    if (absoluteIndex < 0)
        return nullptr;
    if (absoluteIndex < tree->topLevelItemCount() && absoluteIndex <= CacheRoot)
        return tree->topLevelItem(absoluteIndex);
    QTreeWidgetItem *cache = tree->topLevelItem(CacheRoot);
    const int child = absoluteIndex - CacheRoot - 1;
    return (cache && child >= 0 && child < cache->childCount()) ? cache->child(child) : nullptr;
}

int AbsoluteIndex(const QTreeWidget *tree, const QTreeWidgetItem *node)
{
    if (!node)
        return -1;
    if (!node->parent())
        return tree->indexOfTopLevelItem(const_cast<QTreeWidgetItem *>(node));
    return CacheRoot + 1 + node->parent()->indexOfChild(const_cast<QTreeWidgetItem *>(node));
}

void ShowSearchCount(const QTreeWidget *tree, std::size_t count)
{
    if (QTreeWidgetItem *node = TreeNode(tree, SearchRoot))
        node->setText(0, count == 0 ? QStringLiteral("搜索站") : QStringLiteral("搜索站(%1)").arg(count));
}
