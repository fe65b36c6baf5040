#include "documentlistmodel.h"

#include "text.h"

#include "platform/urlcachestore.h"

#include <QGuiApplication>
#include <QMimeData>
#include <QPalette>

#include <algorithm>

namespace {

QString text(std::string_view bytes)
{
    return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
}

// Sizes and counts line up on the right; times have a fixed width and read well on the left.
bool rightAligned(int column)
{
    return column == DocumentListModel::SizeColumn || EntryFieldType(EntryField(column)) == FieldType::Number;
}

} // namespace

DocumentListModel::DocumentListModel(ViewList &list, QObject *parent)
    : QAbstractTableModel(parent), m_list(list), m_lookup(GetShellFileInfo)
{}

bool DocumentListModel::lookUp(const Tcachedata &record, ShellFileInfo &info) const
{
    // A browser cache's body is written out only when needed: while its container is there,
    // its type is known from the planned file's name.
    if (PresenceFile(record) != LocalFileName(record))
        return FileExists(PresenceFile(record)) && GetShellFileInfoByName(LocalFileName(record), info);
    return m_lookup && m_lookup(LocalFileName(record), info);
}

int DocumentListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int DocumentListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : AllColumnCount;
}

const Tcachedata *DocumentListModel::recordAt(int row) const
{
    return (row >= 0 && std::size_t(row) < m_list.size()) ? &m_list[std::size_t(row)] : nullptr;
}

QVariant DocumentListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Tcachedata *record = recordAt(index.row());
    if (!record) // listerData: a row beyond view_list fills nothing
        return {};
    if (role == Qt::ForegroundRole || role == Qt::ToolTipRole) {
        // A row of a cache closed since it was read shows greyed, and says why.
        const URLCACHE_STORE_ID store = EntryStoreId(*record);
        if (store != 0 && !UrlCacheStoreById(store)) {
            if (role == Qt::ForegroundRole)
                return QGuiApplication::palette().color(QPalette::Disabled, QPalette::Text);
            return QStringLiteral("这个缓存已经关闭：%1").arg(QString::fromStdString(UrlCacheStoreFolder(store)));
        }
    }
    // With several caches open, a row says which one it came from.
    const bool several = (role == Qt::ToolTipRole || index.column() == int(EntryField::CacheKind))
        && OpenUrlCacheStoreCount() > 1 && EntryStoreId(*record) != 0;
    if (several && role == Qt::ToolTipRole) {
        return data(index, Qt::DisplayRole).toString() + QStringLiteral("\n来源：")
            + QString::fromStdString(StoreCaption(EntryStoreId(*record), true));
    }
    if (several && role == Qt::DisplayRole)
        return QString::fromStdString(StoreCaption(EntryStoreId(*record), true));
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        switch (index.column()) {
        case FileNameColumn:
            return text(FileNamePart(LocalFileName(*record)));
        case TypeColumn:
            return record->strTypeName;
        case SizeColumn:
            return sizeText(EntrySize(record->header));
        case UrlColumn:
            return QString::fromUtf8(SourceUrl(*record));
        case LocationColumn:
            return QString::fromUtf8(LocalFileName(*record));
        default:
            return m_fields.text(RowOf(*record), EntryField(index.column()));
        }
        break;
    case Qt::DecorationRole:
        if (index.column() == FileNameColumn)
            return SystemIconList::icon(record->bShellInfoPending ? -1 : record->iIcon);
        break;
    case Qt::TextAlignmentRole:
        if (rightAligned(index.column()))
            return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
        break;
    default:
        break;
    }
    return {};
}

QVariant DocumentListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= AllColumnCount)
        return {};
    if (role == Qt::DisplayRole) {
        QString caption = section < ColumnCount ? baseCaption(section) : EntryFieldCaption(EntryField(section));
        if (section == m_markedColumn)
            caption += m_markAscending ? QStringLiteral("↓") : QStringLiteral("↑");
        return caption;
    }
    if (role == Qt::TextAlignmentRole && rightAligned(section))
        return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
    return {};
}

Qt::ItemFlags DocumentListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemNeverHasChildren;
}

QStringList DocumentListModel::mimeTypes() const
{
    return {QString::fromLatin1(RowsMimeType)};
}

QMimeData *DocumentListModel::mimeData(const QModelIndexList &indexes) const
{
    QList<int> rows;
    for (const QModelIndex &index : indexes)
        if (index.isValid())
            rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    QByteArray payload;
    for (const int row : rows) {
        if (!payload.isEmpty())
            payload += ',';
        payload += QByteArray::number(row);
    }
    auto *mime = new QMimeData;
    mime->setData(QString::fromLatin1(RowsMimeType), payload);
    return mime;
}

Qt::DropActions DocumentListModel::supportedDragActions() const
{
    return Qt::CopyAction;
}

void DocumentListModel::setRowCount(int rows)
{
    rows = std::max(rows, 0);
    const int old = m_rows;
    if (rows > old) {
        beginInsertRows(QModelIndex(), old, rows - 1);
        m_rows = rows;
        endInsertRows();
    } else if (rows < old) {
        beginRemoveRows(QModelIndex(), rows, old - 1);
        m_rows = rows;
        endRemoveRows();
    }
    const int kept = std::min(old, rows);
    if (kept > 0)
        emit dataChanged(index(0, 0), index(kept - 1, AllColumnCount - 1));
}

void DocumentListModel::contentChanged()
{
    if (m_rows > 0)
        emit dataChanged(index(0, 0), index(m_rows - 1, AllColumnCount - 1));
}

QString DocumentListModel::baseCaption(int column)
{
    static const char *const captions[ColumnCount] = {"缓存文件", "类型", "大小", "网址", "位置"};
    return (column >= 0 && column < ColumnCount) ? QString::fromUtf8(captions[column]) : QString();
}

void DocumentListModel::MarkSortColumn(int column, bool ascending)
{
    m_markedColumn = column;
    m_markAscending = ascending;
    emit headerDataChanged(Qt::Horizontal, 0, AllColumnCount - 1);
}

void DocumentListModel::FillTypeNames(int first, int last)
{
    if (first < 0 || first > last || std::size_t(last) >= m_list.size())
        return;
    int changedFirst = -1;
    int changedLast = -1;
    for (int row = first; row <= last; ++row) {
        Tcachedata &record = m_list[std::size_t(row)];
        if (!record.bShellInfoPending)
            continue;
        ShellFileInfo info;
        if (lookUp(record, info)) {
            record.strTypeName = info.typeName;
            record.iIcon = info.iIcon;
        }
        record.bShellInfoPending = 0; // a failed lookup is not repeated
        if (changedFirst < 0)
            changedFirst = row;
        changedLast = row;
    }
    reportTypeNames(changedFirst, changedLast);
}

void DocumentListModel::fillTypeNamesForSort()
{
    int changedFirst = -1;
    int changedLast = -1;
    for (std::size_t row = 0; row < m_list.size(); ++row) {
        Tcachedata &record = m_list[row];
        if (!record.bShellInfoPending || !record.strTypeName.isEmpty())
            continue;
        if (!TypeNameFromFileName(LocalFileName(record), record.strTypeName)) {
            ShellFileInfo info;
            if (lookUp(record, info)) {
                record.strTypeName = info.typeName;
                record.iIcon = info.iIcon;
            }
            record.bShellInfoPending = 0;
        }
        if (changedFirst < 0)
            changedFirst = int(row);
        changedLast = int(row);
    }
    reportTypeNames(changedFirst, changedLast);
}

void DocumentListModel::reportTypeNames(int changedFirst, int changedLast)
{
    // Rows beyond the row count are not on screen: there is nothing to report for them.
    changedLast = std::min(changedLast, m_rows - 1);
    if (changedFirst >= 0 && changedFirst <= changedLast)
        emit dataChanged(index(changedFirst, FileNameColumn), index(changedLast, TypeColumn),
                         {Qt::DisplayRole, Qt::DecorationRole, Qt::ToolTipRole});
}
