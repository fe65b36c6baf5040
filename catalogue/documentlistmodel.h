#pragma once
// The rows of the document list over view_list. The model holds no object per
// row: it reads the records when a view asks for a row, and its row count is set explicitly,
// as the virtual list's is. Type names and icons are looked up only for the rows a view is
// about to show (FillTypeNames), once per record.
//
// Beside the list's five columns it has one for each further field the list can show
// (EntryField order: column c shows field c); the view hides those until the user shows them,
// and a hidden column's values are never read.

#include "entry.h"
#include "entryfields.h"
#include "platform/shellinfo.h"

#include <QAbstractTableModel>
#include <QStringList>

#include <functional>

class DocumentListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // The list's own five columns; ColumnCount counts those alone.
    enum Column { FileNameColumn, TypeColumn, SizeColumn, UrlColumn, LocationColumn, ColumnCount };
    // Every column, the further fields' included.
    static constexpr int AllColumnCount = ListColumnFieldCount;

    // The drag of rows from the list carries this type, so that only the program's own drop
    // targets accept it. The data is the dragged row numbers, ascending, comma-separated.
    static constexpr const char *RowsMimeType = "application/x-tidewrack-rows";

    // The shell lookup (a seam for tests): true and `info` filled, or false.
    using ShellLookup = std::function<bool(const char *path, ShellFileInfo &info)>;

    explicit DocumentListModel(ViewList &list, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    Qt::DropActions supportedDragActions() const override;

    // The record a row shows; null for a row outside view_list.
    const Tcachedata *recordAt(int row) const;

    // Sets the row count (after a fill, or after another concern removed records). Rows that
    // stay keep their selection and show whatever record now stands at their index.
    void setRowCount(int rows);
    // Every row's content changed (after a sort): repaint, keep the rows and the selection.
    void contentChanged();

    // The captions, with the arrow on `column`'s: "↓" ascending, "↑" descending; none for a
    // column outside the model.
    void MarkSortColumn(int column, bool ascending);
    static QString baseCaption(int column);

    // Looks up the type name and icon of every record from `first` to `last` (both
    // included) still pending, and reports the rows it filled. A range not wholly inside
    // view_list is ignored.
    void FillTypeNames(int first, int last);
    void setShellLookup(ShellLookup lookup) { m_lookup = std::move(lookup); }
    // Before a sort by type: gives every record that has none yet its type name, so that
    // rows never shown sort by their type too. The name comes from the file name where that
    // decides it (TypeNameFromFileName), the icon still waits for the row to be shown; the
    // other records get their whole lookup now.
    void fillTypeNamesForSort();

    static QString sizeText(std::uint64_t size) { return QString::number(size); }

    // What reads the further fields; the document list sorts with it too.
    EntryFields &fields() const { return m_fields; }

private:
    // dataChanged for the type names and icons of the rows from first to last.
    void reportTypeNames(int changedFirst, int changedLast);

    ViewList &m_list;
    mutable EntryFields m_fields;
    bool lookUp(const Tcachedata &record, ShellFileInfo &info) const;

    int m_rows = 0;
    int m_markedColumn = -1;
    bool m_markAscending = true;
    ShellLookup m_lookup;
};
