#pragma once
// The document list: fills view_list from the selected node's list, keeps it in
// the chosen order and serves its rows to the `lister` control through DocumentListModel.

#include <QList>
#include <QObject>

#include <string>

class DocumentListModel;
class QAction;
class QTreeWidgetItem;
class Tfrm_cache;

class DocumentList : public QObject {
    Q_OBJECT
public:
    explicit DocumentList(Tfrm_cache &form);

    void TreeChange(QTreeWidgetItem *node);
    void BuildViewList(int absoluteIndex, const std::string &host);
    void SetListImages(bool small);
    void SortView(int key, bool toggle);
    void FillTypeNames(int first, int last);
    // The row count after another concern removed elements of view_list.
    void SetRowCount(int rows);
    int firstSelectedRow() const;
    QList<int> selectedRows() const;

    DocumentListModel *model() const { return m_model; }

public slots:
    void m_VsIconClick(QAction *sender);
    void m_sortcaptionClick(int position);
    void listerColumnClick(int column);
    void listerDataHint(int first, int last);
    void listerKeyDown(int key);
    void listerDblClick();
    void listerContextPopup(const QPoint &globalPos);

private:
    void openDocument();

    Tfrm_cache &m_form;
    DocumentListModel *m_model;
};
