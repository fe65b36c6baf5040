#pragma once
// What the cache knows about the listed documents, for the user to read and to take out: the
// window "缓存信息" for the focused document, the list written as a file (CSV, HTML or JSON)
// and the selected documents written into a folder.

#include "catalogue/documentexport.h"
#include "catalogue/entryfields.h"
#include "catalogue/listexport.h"
#include "catalogue/warcexport.h"
#include "windows/entryinfowindow.h"
#include "windows/exportdocumentsdialog.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <utility>

class Answerer;
struct CatalogueState;
class Lister;
class QWidget;

// The words of the one box after a web archive export; empty when there is nothing to say.
QString WarcExportReport(const WarcExportResult &result, const std::vector<EntryRow> &rows, const QString &path);

// The window's content for one entry: every field of the details that has a value.
EntryInfo EntryInfoOf(const EntryRow &row, EntryFields &fields);

// The save dialog's filters for the list, in the order it offers them: CSV, HTML, JSON.
const QStringList &ListExportFilters();
// The format and the file for what the save dialog returned: an extension of one of the
// formats names it; otherwise the chosen filter does, and its extension is added.
std::pair<ListFormat, QString> ListExportTarget(const QString &path, const QString &filter);

// The words of the one box after a document export: the documents that were not written,
// each with why, and a manifest that could not be; when all went, how many were written.
// `reached` counts the documents the export came to before it was stopped. The first line is
// always the program's own words, so that a message box never takes a URL for markup.
QString DocumentExportReport(const DocumentExportResult &result, const std::vector<EntryRow> &rows,
                             std::size_t reached);

class EntryCommands : public QObject {
    Q_OBJECT
public:
    // `dialogParent` carries the windows and the dialogs; the reports go to `answerer`.
    EntryCommands(CatalogueState &state, Lister *lister, QWidget *dialogParent, Answerer &answerer);

    // Stand-ins for the dialogs (tests). The list's save dialog gets the proposed path and
    // returns the chosen one (empty for cancel) and the chosen filter in `filter`; `all` comes
    // in as the rows offered by default (all of the list, or the selected ones) and goes out
    // as the rows chosen.
    using ListFileDialog = std::function<QString(const QString &proposed, QString &filter, bool &all)>;
    void setListFileDialog(ListFileDialog dialog) { m_listDialog = std::move(dialog); }
    using DocumentsDialog = std::function<std::optional<ExportDocumentsChoice>(int count, const QString &proposed)>;
    void setDocumentsDialog(DocumentsDialog dialog) { m_documentsDialog = std::move(dialog); }
    // The archive's save dialog: the proposed path in, the chosen one (empty for cancel) out.
    using ArchiveFileDialog = std::function<QString(const QString &proposed)>;
    void setArchiveFileDialog(ArchiveFileDialog dialog) { m_archiveDialog = std::move(dialog); }

    // What the last load found wrong with a store, shown in 缓存信息 for its documents.
    void setStoreProblem(URLCACHE_STORE_ID store, const QString &text) { m_storeProblems.insert(store, text); }
    void clearStoreProblems() { m_storeProblems.clear(); }

public slots:
    void showEntryInfo();
    void exportList();
    void exportDocuments();
    // The selected documents (or all of the list) as a web archive, written off the window's
    // thread with progress and 停止.
    void exportWarc();

signals:
    // The list export runs on the interface thread: the info window says so meanwhile.
    void progressShown(const QString &message, int animation);
    void progressHidden();

private:
    // The focused row when it is selected, else the first selected row; -1 for none.
    int focusedRow() const;
    QString askListFile(const QString &proposed, QString &filter, int selected, int all, bool &allChosen);
    std::optional<ExportDocumentsChoice> askDocumentsFolder(int count, const QString &proposed);

    CatalogueState &m_state;
    Lister *m_lister;
    QWidget *m_dialogParent;
    Answerer &m_answerer;
    ListFileDialog m_listDialog;
    DocumentsDialog m_documentsDialog;
    ArchiveFileDialog m_archiveDialog;
    QString m_lastFolder; // where the last export went
    QHash<URLCACHE_STORE_ID, QString> m_storeProblems;
};
