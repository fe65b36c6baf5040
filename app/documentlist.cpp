#include "documentlist.h"

#include "catalogue/cataloguestate.h"
#include "catalogue/documentlistmodel.h"
#include "catalogue/entryfields.h"
#include "catalogue/viewlist.h"
#include "lister.h"
#include "platform/shellinfo.h"
#include "statuspanels.h"
#include "treenodes.h"
#include "windows/pictures.h"

#include <QApplication>
#include <QTreeWidget>

#include <string>

DocumentList::DocumentList(CatalogueState &state, Lister *lister, QTreeWidget *tree, StatusPanels &status)
    : m_state(state),
      m_lister(lister),
      m_tree(tree),
      m_status(status),
      m_model(new DocumentListModel(state.view_list, this))
{
    // The program's own picture where the icon theme has none for a file's type.
    if (SystemIconList::defaultIcon().isNull())
        SystemIconList::setDefaultIcon(GenericDocumentIcon());

    m_lister->setModel(m_model);
    connect(m_lister, &Lister::dataHint, this, &DocumentList::listerDataHint);
    connect(m_lister, &Lister::keyDown, this, &DocumentList::listerKeyDown);
    connect(m_lister, &Lister::doubleClicked, this, &DocumentList::listerDblClick);
    connect(m_lister, &Lister::columnClicked, this, &DocumentList::listerColumnClick);
}

void DocumentList::TreeChange(QTreeWidgetItem *node)
{
    if (!m_state.tree_ready)
        return;
    int absoluteIndex = AbsoluteIndex(m_tree, node);
    if (node && !node->parent() && absoluteIndex > CacheRoot)
        absoluteIndex = CacheRoot; // every cache root keeps the rows it has
    const auto *hostNode = dynamic_cast<const HostNodeItem *>(node);
    const URLCACHE_STORE_ID store = hostNode ? hostNode->store() : 0;
    const QPalette &palette = m_lister->palette();
    m_lister->setColours(palette.color(absoluteIndex == CollectRoot ? QPalette::Button : QPalette::Base),
                         palette.color(QPalette::Text));
    m_status.setText(2, QString());
    m_state.list_ready = false;
    m_lister->beginBatchUpdate();
    const int serial = ++m_fillSerial;
    // A copy: the node and the entry its host points into may go while events run below.
    const std::string host(NodeHost(node));
    m_status.setText(1, QStringLiteral("导入缓存文件..."));
    QApplication::processEvents();
    // The user may have picked another node meanwhile, whose fill has run; or F5 reloaded
    // the catalogue, which took the node away and emptied the list. Either way the list
    // stands as the tree now shows it: say what it holds and leave it.
    if (serial != m_fillSerial || m_tree->currentItem() != node) {
        m_state.list_ready = true;
        m_lister->endBatchUpdate();
        m_status.setText(1, QStringLiteral("文档共%1项").arg(m_lister->rowCount()));
        return;
    }
    fillFromNode(absoluteIndex, host, store);
    m_state.list_ready = true;
    if (m_lister->firstSelectedRow() >= 0)
        m_lister->clearSelectionAndScrollTop();
    SortView(m_state.sort_key, false);
    m_lister->endBatchUpdate();
    m_status.setText(1, QStringLiteral("文档共%1项").arg(m_lister->rowCount()));
    QApplication::processEvents();
}

void DocumentList::fillFromNode(int absoluteIndex, const std::string &host, URLCACHE_STORE_ID store)
{
    switch (absoluteIndex) {
    case CollectRoot:
        BuildViewList(m_state.view_list, m_state.collect_list);
        break;
    case SearchRoot:
        BuildViewList(m_state.view_list, m_state.search_list);
        break;
    default:
        if (absoluteIndex <= CacheRoot)
            return; // the cache root keeps the rows it has
        if (store)
            BuildHostViewList(m_state.view_list, m_state.cache_list, host, store);
        else
            BuildHostViewList(m_state.view_list, m_state.cache_list, host);
        break;
    }
    setRowCount(int(m_state.view_list.size()));
}

void DocumentList::showSearchStation()
{
    QTreeWidgetItem *station = TreeNode(m_tree, SearchRoot);
    if (!station)
        return;
    if (m_tree->currentItem() == station)
        TreeChange(station);
    else
        m_tree->setCurrentItem(station);
}

namespace {

// The further columns' sort keys follow the sort menu's six.
constexpr int FieldSortKeyBase = 16;

} // namespace

int DocumentList::columnSortKey(int column)
{
    return column < DocumentListModel::ColumnCount ? column : FieldSortKeyBase + column;
}

int DocumentList::sortKeyColumn(int key)
{
    if (key >= 0 && key < DocumentListModel::ColumnCount)
        return key;
    const int column = key - FieldSortKeyBase;
    return column >= DocumentListModel::ColumnCount && column < DocumentListModel::AllColumnCount ? column : -1;
}

void DocumentList::SortView(int key, bool toggle)
{
    if (toggle && key == m_state.sort_key)
        m_state.sort_dir = -m_state.sort_dir;
    m_state.sort_key = std::uint8_t(key);
    if (key == SortByTypeName)
        m_model->fillTypeNamesForSort(); // rows not shown yet have no type name to sort by
    const int column = sortKeyColumn(key);
    if (column >= DocumentListModel::ColumnCount)
        SortViewByField(m_state.view_list, EntryField(column), m_state.sort_dir, m_model->fields());
    else
        SortViewList(m_state.view_list, key, m_state.sort_dir);
    m_model->MarkSortColumn(column, m_state.sort_dir == 1);
    emit sortKeyChanged(key);
    m_model->contentChanged();
}

void DocumentList::FillTypeNames(int first, int last)
{
    m_model->FillTypeNames(first, last);
}

void DocumentList::setRowCount(int rows)
{
    m_model->setRowCount(rows);
    // The count shown follows the rows that left, or it would disagree with the list.
    m_status.setText(1, QStringLiteral("文档共%1项").arg(rows));
}

void DocumentList::catalogueCleared()
{
    ++m_fillSerial;
    m_model->setRowCount(0);
    // The reload selects a cache root: the collect box's grey goes with its rows.
    const QPalette &palette = m_lister->palette();
    m_lister->setColours(palette.color(QPalette::Base), palette.color(QPalette::Text));
    // A count shown for the rows that went would no longer agree with the list.
    if (!m_status.text(1).isEmpty())
        m_status.setText(1, QStringLiteral("文档共0项"));
}

int DocumentList::firstSelectedRow() const
{
    return m_lister->firstSelectedRow();
}

QList<int> DocumentList::selectedRows() const
{
    return m_lister->selectedRows();
}

void DocumentList::SetListImages(bool small)
{
    m_lister->setImageList(small);
}

void DocumentList::m_VsIconClick(bool report)
{
    m_lister->setViewStyle(report ? Lister::Report : Lister::LargeIcons);
    emit viewStyleChanged(m_lister->viewStyle());
    SetListImages(report);
}

void DocumentList::m_sortcaptionClick(int position)
{
    SortView(position, true);
}

void DocumentList::listerColumnClick(int column)
{
    SortView(columnSortKey(column), true);
}

void DocumentList::listerDataHint(int first, int last)
{
    FillTypeNames(first, last);
}

void DocumentList::listerKeyDown(int key)
{
    if (key == Qt::Key_Return || key == Qt::Key_Enter)
        emit openRequested();
}

void DocumentList::listerDblClick()
{
    emit openRequested();
}
