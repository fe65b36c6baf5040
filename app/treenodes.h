#pragma once
// The tree's host nodes carry the first entry of their host's run.

#include "catalogue/entry.h"

#include <QTreeWidgetItem>

#include <string_view>

class HostNodeItem : public QTreeWidgetItem {
public:
    explicit HostNodeItem(CatalogueEntry first) : m_first(std::move(first)) {}
    // The URL of the host's first entry; the entry lives as long as the node.
    const char *url() const { return SourceUrl(m_first); }

private:
    CatalogueEntry m_first;
};

// The host a node stands for: UrlHost of its URL, empty for the three roots.
inline std::string_view NodeHost(const QTreeWidgetItem *node)
{
    const auto *host = dynamic_cast<const HostNodeItem *>(node);
    return host ? UrlHost(host->url()) : std::string_view();
}
