#pragma once
// The tree `Tree`: the collect box, the search station and one root per open cache, with one
// node per host below each cache root, and the absolute index that numbers them: 0..2 the
// first three roots, 3.. the hosts of the first cache root in their order. A host below a
// later cache root numbers as the same place below the first; a later root itself as its
// place among the roots.

#include "catalogue/entry.h"

#include <QStringList>
#include <QTreeWidgetItem>

#include <cstddef>
#include <string_view>

class QTreeWidget;

// Absolute indexes of the tree's three roots.
enum TreeRoot { CollectRoot = 0, SearchRoot = 1, CacheRoot = 2 };

// The tree's host nodes carry the first entry of their host's run.
class HostNodeItem : public QTreeWidgetItem {
public:
    explicit HostNodeItem(CatalogueEntry first) : m_first(std::move(first)) {}
    // The URL of the host's first entry; the entry lives as long as the node.
    const char *url() const { return SourceUrl(m_first); }
    // The store whose entries the node lists.
    URLCACHE_STORE_ID store() const { return EntryStoreId(m_first); }
    // A long host is cut short in the tree: its tool tip is the whole caption.
    QVariant data(int column, int role) const override
    {
        return QTreeWidgetItem::data(column, role == Qt::ToolTipRole ? Qt::DisplayRole : role);
    }

private:
    CatalogueEntry m_first;
};

// The host a node stands for: UrlHost of its URL, empty for the three roots.
inline std::string_view NodeHost(const QTreeWidgetItem *node)
{
    const auto *host = dynamic_cast<const HostNodeItem *>(node);
    return host ? UrlHost(host->url()) : std::string_view();
}

// What a load found wrong with one store, for the row under its root.
struct StoreProblem {
    URLCACHE_STORE_ID store = 0;
    StoreError error = StoreError::None; // the store could not be read
    std::uint32_t damaged = 0;           // entries left out as damaged
    std::uint32_t newer = 0;             // entries left out as written in a newer format
    bool incomplete = false;             // what was listed may not be all of the store
    QString where;                       // the store's folder
    bool any() const { return error != StoreError::None || damaged || newer || incomplete; }
};
Q_DECLARE_METATYPE(StoreProblem)

// What the problem row says ("无法读取：…", "N个缓存项未列出（已损坏）"), one line per fact; and
// the same with the store's folder, for tool tips and 缓存信息.
QStringList StoreProblemLines(const StoreProblem &problem);
QString StoreProblemDetails(const StoreProblem &problem);
// Shows `problem` as the first child of its store's root: readable at a glance, the details in
// its tool tip. The row is not a host and takes no selection.
void ShowStoreProblem(QTreeWidget *tree, const StoreProblem &problem);

// The node with `absoluteIndex`, null when there is none.
QTreeWidgetItem *TreeNode(const QTreeWidget *tree, int absoluteIndex);
// The absolute index of `node`, -1 for null.
int AbsoluteIndex(const QTreeWidget *tree, const QTreeWidgetItem *node);

// Shows the number of documents in the search station in its root's caption.
void ShowSearchCount(const QTreeWidget *tree, std::size_t count);
