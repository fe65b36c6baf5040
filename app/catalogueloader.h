#pragma once
// Loading the catalogue into cache_list and rebuilding the host tree: one root per open
// cache store, each with the hosts of its own entries.

#include "platform/wininet.h"
#include "treenodes.h"

#include <QObject>

#include <memory>
#include <vector>

class CacheStore;
struct CatalogueState;
class QTreeWidget;
class QTreeWidgetItem;
class StatusPanels;

// The data roles of a cache root: its store's id, and what status panel 0 says of it.
inline constexpr int StoreIdRole = Qt::UserRole;
inline constexpr int StoreStateRole = Qt::UserRole + 1;

class CatalogueLoader : public QObject {
    Q_OBJECT
public:
    CatalogueLoader(CatalogueState &state, QTreeWidget *tree, StatusPanels &status);

    // The stores the next load reads, each under its own root in this order; the first
    // becomes the store the cache calls without a store work on. setStore makes `store` the
    // only one; addStore puts it beside the others (false when it is there already);
    // removeStore closes one: its entries left in the lists stay, but reach no store.
    void setStore(std::shared_ptr<CacheStore> store);
    bool addStore(std::shared_ptr<CacheStore> store);
    void removeStore(URLCACHE_STORE_ID id);
    const std::shared_ptr<CacheStore> &store() const;
    const std::vector<std::shared_ptr<CacheStore>> &stores() const { return m_stores; }
    // Whether a store was closed since the loader was made: only then can a row be unavailable.
    bool closedAny() const { return m_closedAny; }

    // Reads every store off the window's thread (the window's events go on meanwhile), sorts
    // each by host and rebuilds the tree; returns when the tree stands. A call made while a
    // load runs makes that load read the stores again and drop what it had read, so two
    // loads never build one tree.
    void LoadCatalogue(bool showProgress);
    bool isLoading() const { return m_loading; }

    // The cache root `node` is or lies below; null for the collect box and search station.
    static QTreeWidgetItem *cacheRootOf(QTreeWidgetItem *node);

public slots:
    void ARefreshExecute() { LoadCatalogue(true); }

signals:
    // The progress window, when the load was asked to show progress.
    void progressShown(const QString &message, int animation);
    void progressHidden();
    // The catalogue's entries were let go for the reload: no row may show them any more.
    void catalogueCleared();
    // After a load, once for each store that could not be read, or read only in part; its
    // root is in the tree by then.
    void storeProblem(const StoreProblem &problem);

private:
    struct Loaded;
    // One read and tree; false when the program quits meanwhile.
    bool loadOnce(bool showProgress);
    void keepRootSelected();
    void addRoot(const Loaded &loaded, bool several);
    void showRootState(QTreeWidgetItem *node);

    CatalogueState &m_state;
    QTreeWidget *m_tree;
    StatusPanels &m_status;
    std::vector<std::shared_ptr<CacheStore>> m_stores;
    bool m_loading = false;
    bool m_restart = false;
    bool m_restartShowsProgress = false;
    static constexpr int ProgressTickMs = 50;
    bool m_closedAny = false;
};
