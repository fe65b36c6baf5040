#pragma once
// The commands on the selected documents of the list, and the offline toggle.

#include "platform/wininet.h"

#include <QObject>
#include <QString>

struct CatalogueState;
class DocumentSaver;
class Lister;
class QWidget;
class StatusPanels;

// Why the cache kept an entry, in words, from the error a failed deletion left.
QString DeleteFailureText(DWORD error);

class DocumentCommands : public QObject {
    Q_OBJECT
public:
    // `dialogParent` carries the properties dialog and the delete's messages.
    DocumentCommands(CatalogueState &state, Lister *lister, DocumentSaver &saver, StatusPanels &status,
                     QWidget *dialogParent);

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

signals:
    // Deleted rows left view_list: the list now has `rows` rows.
    void rowCountChanged(int rows);
    // Entries whose files are gone were purged from every list (the collect box and the
    // search station show their new counts).
    void entriesRemoved();

private:
    const INTERNET_CACHE_ENTRY_INFOA *firstSelected() const;

    CatalogueState &m_state;
    Lister *m_lister;
    DocumentSaver &m_saver;
    StatusPanels &m_status;
    QWidget *m_dialogParent;
};
