#pragma once
// Loading the catalogue into cache_list and rebuilding the host tree.

#include <QObject>

#include <memory>

class CacheStore;
struct CatalogueState;
class QTreeWidget;
class StatusPanels;

class CatalogueLoader : public QObject {
    Q_OBJECT
public:
    CatalogueLoader(CatalogueState &state, QTreeWidget *tree, StatusPanels &status);

    // The store the next load reads; it becomes the store the cache calls work on.
    void setStore(std::shared_ptr<CacheStore> store);
    const std::shared_ptr<CacheStore> &store() const { return m_store; }

    // Reads the whole cache, sorts it by host and rebuilds the tree. A call made while a load
    // is letting pending events run is ignored, so two loads never build one tree.
    void LoadCatalogue(bool showProgress);
    bool isLoading() const { return m_loading; }

public slots:
    void ARefreshExecute() { LoadCatalogue(true); }

signals:
    // The progress window, when the load was asked to show progress.
    void progressShown(const QString &message, int animation);
    void progressHidden();
    // The catalogue's entries were let go for the reload: no row may show them any more.
    void catalogueCleared();
    // The store could not be read (`reason` names it and says why), or some of its entries
    // were damaged and left out (`reason` counts them); empty after a clean load.
    void storeProblem(const QString &reason);

private:
    void rebuildTree(const QString &cacheCaption);

    CatalogueState &m_state;
    QTreeWidget *m_tree;
    StatusPanels &m_status;
    std::shared_ptr<CacheStore> m_store;
    bool m_loading = false;
};
