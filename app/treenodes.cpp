#include "treenodes.h"

#include "platform/causetext.h"

#include <QApplication>
#include <QStyle>
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

QStringList StoreProblemLines(const StoreProblem &problem)
{
    QStringList lines;
    if (problem.error != StoreError::None)
        lines << QStringLiteral("无法读取：%1").arg(CauseText(problem.error));
    if (problem.incomplete)
        lines << QStringLiteral("缓存索引不完整，列出的可能不是全部");
    if (problem.newer > 0)
        lines << QStringLiteral("%1个缓存项未列出（较新的格式）").arg(problem.newer);
    if (problem.damaged > 0)
        lines << QStringLiteral("%1个缓存项未列出（已损坏）").arg(problem.damaged);
    return lines;
}

QString StoreProblemDetails(const StoreProblem &problem)
{
    QStringList lines = StoreProblemLines(problem);
    if (!problem.where.isEmpty())
        lines.prepend(problem.where);
    return lines.join(QLatin1Char('\n'));
}

void ShowStoreProblem(QTreeWidget *tree, const StoreProblem &problem)
{
    if (!problem.any())
        return;
    for (int i = CacheRoot; i < tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem *root = tree->topLevelItem(i);
        if (root->data(0, Qt::UserRole).toUInt() != problem.store)
            continue;
        auto *row = new QTreeWidgetItem(QStringList(StoreProblemLines(problem).join(QStringLiteral("；"))));
        // Not a host: it cannot become the current node, yet reads in the text's own colour.
        row->setFlags(Qt::NoItemFlags);
        row->setForeground(0, tree->palette().brush(QPalette::Active, QPalette::Text));
        row->setIcon(0, QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning));
        row->setToolTip(0, StoreProblemDetails(problem));
        root->insertChild(0, row);
        return;
    }
}
