#pragma once
// The commands on the selected documents of the list, and the offline toggle.

#include "catalogue/entry.h"
#include "platform/wininet.h"

#include "stores/cachestore.h"

#include <QObject>
#include <QString>

#include <string>
#include <vector>

class Answerer;
struct CatalogueState;
class DocumentSaver;
class Lister;
class QWidget;
class StatusPanels;

// Why the cache kept an entry, for the user: `error` as the cache layer reported it, told in
// the words `store` answers (who keeps it busy, whether it is only ever read); null when the
// store is not known.
QString DeleteFailureText(StoreError error, const CacheStore *store = nullptr);

class DocumentCommands : public QObject {
    Q_OBJECT
public:
    // `dialogParent` carries the properties dialog and the delete's progress; the questions
    // and reports go to `answerer`.
    DocumentCommands(CatalogueState &state, Lister *lister, DocumentSaver &saver, StatusPanels &status,
                     QWidget *dialogParent, Answerer &answerer);

    void ShowFileProperties(const QString &path, const QString &url = QString());

public slots:
    void AOpenDocExecute();
    void ADocinfoExecute();
    void ACopyUrlExecute();
    void ASelectAllExecute();
    void ADeleteDocExecute();
    void ASaveDocasExecute();
    // `offline`: the state the toggle was set to.
    void AofflineExecute(bool offline);
    // Deletes every document of the search station, or every document of one host (of one
    // store, or of every store for 0), after one question that says what will go, with one
    // summary afterwards.
    void deleteFound();
    void deleteHost(const std::string &host, URLCACHE_STORE_ID store);

signals:
    // Deleted rows left view_list: the list now has `rows` rows.
    void rowCountChanged(int rows);
    // Entries whose files are gone were purged from every list (the collect box and the
    // search station show their new counts).
    void entriesRemoved();

private:
    void deleteAll(const std::vector<CatalogueEntry> &entries);
    // Removes the entries with these keys off the window's thread, with a dialog that shows
    // how far it came (or that it waits for another deleter) and can stop it.
    std::vector<KeyRemoval> removeEntries(const std::vector<URLCACHE_STORE_ID> &stores,
                                          const std::vector<std::string> &keys);
    // The block of the selected row with the lowest index, or null.
    const INTERNET_CACHE_ENTRY_INFOA *firstSelected() const;
    // The same, but null for a row of a cache closed since it was read.
    const INTERNET_CACHE_ENTRY_INFOA *firstSelectedLive() const;
    // Makes the entry's local file exist (a browser cache's body is written out on demand);
    // says why not in a box when it cannot.
    bool localFileReady(const INTERNET_CACHE_ENTRY_INFOA *entry) const;

    CatalogueState &m_state;
    Lister *m_lister;
    DocumentSaver &m_saver;
    StatusPanels &m_status;
    QWidget *m_dialogParent;
    Answerer &m_answerer;
};
