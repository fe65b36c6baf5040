#pragma once
// The document list control `lister`: a report view (columns, small icons) and a large-icon
// view over one model and one selection model, one of them shown at a time. It is a virtual
// list: the model holds no row objects, and before a view paints, the list asks for the
// visible rows (dataHint) so that their expensive data can be filled first.

#include <QColor>
#include <QList>
#include <QStringList>
#include <QWidget>

#include <utility>

class QAbstractItemModel;
class QAbstractItemView;
class QItemSelection;
class QItemSelectionModel;
class QListView;
class QModelIndex;
class QStackedLayout;
class QTreeView;

// The caption of an item in the large-icon view, as file managers show it: wrapped onto a
// second line where it is wider than `width` (anywhere, a file name has few spaces), and only
// then cut, in the middle of the second line, so that the end of the name still shows.
QStringList IconCaptionLines(const QString &text, const QFont &font, int width);

class Lister : public QWidget {
    Q_OBJECT
public:
    // View styles as the settings file stores them.
    enum ViewStyle { LargeIcons = 0, SmallIcons = 1, ListStyle = 2, Report = 3 };

    explicit Lister(QWidget *parent = nullptr);

    void setModel(QAbstractItemModel *model);
    QTreeView *report() const { return m_report; }
    QListView *iconView() const { return m_icons; }
    QAbstractItemView *currentView() const;
    QItemSelectionModel *selectionModel() const;

    // 3 report, 0 large icons; 1 and 2 (never stored by the program) show the report view.
    void setViewStyle(int style);
    int viewStyle() const { return m_viewStyle; }
    // Attaches the icon list for the small (report) or the large (icon view) pictures.
    void setImageList(bool small);
    bool smallImagesAttached() const { return m_smallImages; }
    bool largeImagesAttached() const { return m_largeImages; }

    void setColours(const QColor &background, const QColor &text);

    // Batch update: no repaint and no row-state signal until the matching end.
    void beginBatchUpdate();
    void endBatchUpdate();
    bool inBatchUpdate() const { return m_batch > 0; }

    int rowCount() const;
    int firstSelectedRow() const;
    QList<int> selectedRows() const; // ascending
    void selectAllRows();            // keeps the focused row
    // Clears the focus mark of the first selected row, deselects every row, scrolls to row 0.
    void clearSelectionAndScrollTop();
    // Before rows leave the list: deselects every row and drops the focus mark, so that
    // once the rows below move up none the user did not choose is left selected.
    void deselectAll();
    // Puts the focus mark on `row` (the last row when there are fewer) without selecting it.
    void focusRowOnly(int row);
    // The rows the shown view displays, both ends included; (-1, -1) when none.
    std::pair<int, int> visibleRows() const;
    // Asks for the visible rows' data now (dataHint), as a paint would.
    void hintVisibleRows();

    // Drag of rows: whole-row selection off during the drag, the cursor for one or several.
    void listerStartDrag(int draggedRows);
    void listerEndDrag();
    bool dragShowsSeveral() const { return m_dragSeveral; }

signals:
    // A row became focused and selected, or selected while focused (not during a batch).
    void rowStateChanged(int row);
    // The rows first..last are about to be shown.
    void dataHint(int first, int last);
    void keyDown(int key); // Enter and Return; other keys keep the view's handling
    void doubleClicked();
    void columnClicked(int column);
    void contextMenuRequested(const QPoint &globalPos);

protected:
    void changeEvent(QEvent *event) override;

private slots:
    void onCurrentChanged(const QModelIndex &current);
    void onSelectionChanged(const QItemSelection &selected);
    void onContextMenu(const QPoint &pos);

private:
    template <typename View>
    friend class ListerView;
    void noteFocusedSelectedRow();
    void startRowDrag();
    QList<QAbstractItemView *> views() const;
    void applyPalette();
    // The icon view's cells: the icon and two lines of its caption.
    void fitIconGrid();

    QTreeView *m_report;
    QListView *m_icons;
    QStackedLayout *m_stack;
    QColor m_background;
    QColor m_text;
    int m_viewStyle = Report;
    bool m_smallImages = false;
    bool m_largeImages = false;
    bool m_dragSeveral = false;
    int m_batch = 0;
    int m_focusedSelectedRow = -1; // the row last seen focused and selected, -1 for none
    bool m_hinting = false;
};
