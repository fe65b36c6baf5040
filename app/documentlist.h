#pragma once
// The document list: fills view_list from the selected node's list, keeps it in
// the chosen order and serves its rows to the `lister` control through DocumentListModel.

#include "platform/wininet.h"

#include <QList>
#include <QObject>

#include <string>

struct CatalogueState;
class DocumentListModel;
class Lister;
class QTreeWidget;
class QTreeWidgetItem;
class StatusPanels;

class DocumentList : public QObject {
    Q_OBJECT
public:
    DocumentList(CatalogueState &state, Lister *lister, QTreeWidget *tree, StatusPanels &status);

    void TreeChange(QTreeWidgetItem *node);
    // Fills view_list from the list the node with `absoluteIndex` stands for (a host's
    // documents are found by `host`, among the entries of `store` where it is not 0); the
    // cache roots keep the rows they have.
    void fillFromNode(int absoluteIndex, const std::string &host, URLCACHE_STORE_ID store = 0);
    // Shows the search station's documents: selects its node, or fills the list again when
    // it is already selected (selecting it again would raise no change).
    void showSearchStation();
    void SetListImages(bool small);
    // Orders view_list by `key` (sort_key's values: the sort menu's 0..5, or columnSortKey of
    // a further column), turning the direction over when `toggle` and the key is the current one.
    void SortView(int key, bool toggle);
    // The sort key a click on `column` sorts by: the five columns' keys are their numbers, as
    // the sort menu's; a further column's lies beyond the menu's.
    static int columnSortKey(int column);
    // The column whose caption shows the arrow for `key`; -1 for none.
    static int sortKeyColumn(int key);
    void FillTypeNames(int first, int last);
    // The row count after another concern removed elements of view_list; the status bar's
    // count follows.
    void setRowCount(int rows);
    // A reload let the catalogue go: the list shows no row, and a fill that was under way
    // when the reload ran (it lets events run) is not finished.
    void catalogueCleared();
    int firstSelectedRow() const;
    QList<int> selectedRows() const;

    DocumentListModel *model() const { return m_model; }

signals:
    // The list is now ordered by `key` (the sort menu shows it).
    void sortKeyChanged(int key);
    // The list shows `style` (Lister::ViewStyle), as the settings file stores it.
    void viewStyleChanged(int style);
    // Enter or a double click on the list: open the first selected document.
    void openRequested();

public slots:
    // One of the two list styles was picked: the report (small icons) or large icons.
    void m_VsIconClick(bool report);
    void m_sortcaptionClick(int position);
    void listerColumnClick(int column);
    void listerDataHint(int first, int last);
    void listerKeyDown(int key);
    void listerDblClick();

private:
    CatalogueState &m_state;
    Lister *m_lister;
    QTreeWidget *m_tree;
    StatusPanels &m_status;
    DocumentListModel *m_model;
    // Counts the fills begun and the reloads; a fill that finds it moved on was overtaken.
    int m_fillSerial = 0;
};
