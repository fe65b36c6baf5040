#pragma once
// The collect box: the user's basket of documents for this run. It keeps the box's three
// views (the tree root's caption, the label's hint and the indicator picture) in step, takes
// rows dropped from the document list on the label or the tree's collect box root, and drags
// the collected files out of the label to any program that takes files.

#include "catalogue/entry.h"

#include <QObject>
#include <QPoint>
#include <QPointer>

#include <functional>

struct CatalogueState;
class DocumentSaver;
class Lister;
class QDrag;
class QDragMoveEvent;
class QDropEvent;
class QLabel;
class QMimeData;
class QTreeWidget;

class CollectBox : public QObject {
    Q_OBJECT
public:
    // `label` is lab_collect, which takes drops and drags the files out; `indicator` is
    // Image1, the picture under it.
    CollectBox(CatalogueState &state, Lister *lister, QTreeWidget *tree, QLabel *label, QLabel *indicator,
               DocumentSaver &saver);
    // Stops watching the label and the tree.
    ~CollectBox() override;

    // Adds the documents of the selected rows, first to last, skipping those already there.
    void AddToCollectBox();
    // Caption, hint and indicator from the number of collected documents.
    void UpdateCollectNode();
    // Paints the indicator: the empty box for 0, the filled box otherwise.
    void DrawCollectIndicator(int count);

    // Drag and drop, as the event filter hands them on.
    void lab_collectDragOver(QDragMoveEvent *event);
    void TreeDragOver(QDragMoveEvent *event);
    void lab_collectDragDrop(QDropEvent *event);
    void lab_collectDblClick();
    void lab_collectMouseDown(const QPoint &at);
    void lab_collectMouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers, const QPoint &at);
    void DragCollectedFiles(const CollectList &entries);

    // True when a drag carries rows of the document list.
    static bool carriesListRows(const QMimeData *data);

    // Runs a prepared drag of files out of the label with the allowed actions; returns when
    // the drag ends. Tests replace it to look at the drag without a modal drag loop.
    using DragRunner = std::function<void(QDrag &drag, Qt::DropActions actions)>;
    void setDragRunner(DragRunner runner) { m_dragRunner = std::move(runner); }

    QPoint pressPoint() const { return m_pressPoint; }

public slots:
    void ASendtoBoxExecute();
    void ARemoveCollectDocExecute();
    void AClearCollectDocExecute();
    void ASaveAllCollectDocExecute();

signals:
    // Rows left view_list while the box was shown: the list now has `rows` rows.
    void rowCountChanged(int rows);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool labelEvent(QEvent *event);
    bool treeEvent(QEvent *event);
    bool collectRootShown() const;
    bool overCollectRoot(const QPoint &viewportPos) const;

    CatalogueState &m_state;
    Lister *m_lister;
    QTreeWidget *m_tree;
    QLabel *m_label;
    QLabel *m_indicator;
    DocumentSaver &m_saver;
    QPoint m_pressPoint;
    bool m_dragStarted = false;   // a drag ran since the last press
    bool m_menuHeldBack = false;  // the label's menu waits for the right button's release
    bool m_releasingMenu = false; // the held-back menu is on its way to the label
    DragRunner m_dragRunner;
    QPointer<QDrag> m_lastDrag;
};
