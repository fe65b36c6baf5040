#pragma once
// The document list: fills view_list from the selected node's list and serves its rows.

#include <QObject>

class QAction;
class QTreeWidgetItem;
class Tfrm_cache;

class DocumentList : public QObject {
    Q_OBJECT
public:
    explicit DocumentList(Tfrm_cache &form);

    void TreeChange(QTreeWidgetItem *node);
    void SetListImages(bool small);
    void SortView(int key, bool toggle);
    // The row count after another concern removed elements of view_list.
    void SetRowCount(int rows);
    int firstSelectedRow() const;
    QList<int> selectedRows() const;

public slots:
    void m_VsIconClick(QAction *sender);
    void m_sortcaptionClick(int position);

private:
    Tfrm_cache &m_form;
};
