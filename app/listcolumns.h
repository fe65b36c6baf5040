#pragma once
// The document list's columns as the user arranges them: which of the further columns show
// beside the five, their order and their widths. The arrangement lives in a small file of the
// program's own, "columns.ini" beside the settings file, so that the settings record keeps its
// 52 bytes; a user who never changes the columns never gets that file.

#include "stores/storeerror.h"

#include <QObject>
#include <QString>

#include <vector>

class QAction;
class QHeaderView;
class QMenu;
class QWidget;

// One arrangement of the document list's columns; a column is its model column (the field's
// number).
struct ColumnLayout {
    std::vector<int> order;  // every column once, from left to right
    std::vector<bool> shown; // by column; the five are always shown
    std::vector<int> widths; // by column, in pixels, also for a hidden column (its width once shown)

    bool operator==(const ColumnLayout &) const = default;
};

// The file beside the settings file `settingsPath`.
QString ColumnLayoutPath(const QString &settingsPath);

// Reads the arrangement in `path` over `defaults`: what the file lacks, or holds damaged
// (unknown columns, repeated ones, widths no one would set), keeps the default.
ColumnLayout ReadColumnLayout(const QString &path, const ColumnLayout &defaults);
// Writes the arrangement, replacing the file as a whole; when that fails, the old file stays.
StoreResult WriteColumnLayout(const QString &path, const ColumnLayout &layout);

// Shows the arrangement on the list's report header and lets the user change it: the
// header's context menu `Pop_columns` shows and hides the further columns, the header's
// sections can be dragged (the first stays first) and resized.
class ListColumns : public QObject {
    Q_OBJECT
public:
    // `header` belongs to the list over the document list's model; `path` is the arrangement's file.
    ListColumns(QHeaderView *header, const QString &path, QWidget *menuParent);

    // The arrangement with the further columns hidden, in the model's order, at the default widths.
    const ColumnLayout &defaultLayout() const { return m_default; }
    // The arrangement the header shows now.
    ColumnLayout layout() const;
    void applyLayout(const ColumnLayout &layout);

    void setColumnShown(int column, bool shown);
    bool isColumnShown(int column) const;
    QMenu *menu() const { return m_menu; }

    // Writes the arrangement when it differs from the one read at start.
    StoreResult save();

private:
    void showMenu(const QPoint &at);
    void noteWidth(int column, int width);

    QHeaderView *m_header;
    QString m_path;
    QMenu *m_menu;
    std::vector<QAction *> m_items; // the menu's items, by column; null for the five
    ColumnLayout m_default;
    ColumnLayout m_read;
    std::vector<int> m_widths; // the last width each column had while shown
};
