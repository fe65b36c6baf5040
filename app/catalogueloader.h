#pragma once
// Loading the catalogue into cache_list and rebuilding the host tree.

#include <QObject>

class Tfrm_cache;

class CatalogueLoader : public QObject {
    Q_OBJECT
public:
    explicit CatalogueLoader(Tfrm_cache &form);

    // Reads the whole cache, sorts it by host and rebuilds the tree. A call made while a load
    // is letting pending events run is ignored, so two loads never build one tree.
    void LoadCatalogue(bool showProgress);
    bool isLoading() const { return m_loading; }

public slots:
    void ARefreshExecute() { LoadCatalogue(true); }

private:
    void rebuildTree();

    Tfrm_cache &m_form;
    bool m_loading = false;
};
