#include "documentlist.h"

#include "catalogue/documentlistmodel.h"
#include "catalogue/viewlist.h"
#include "documentcommands.h"
#include "lister.h"
#include "mainwindow.h"
#include "platform/shellinfo.h"
#include "treenodes.h"
#include "windows/pictures.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTreeWidgetItem>

#include <string>

DocumentList::DocumentList(Tfrm_cache &form)
    : QObject(&form), m_form(form), m_model(new DocumentListModel(form.state.view_list, this))
{
    // The program's own picture where the icon theme has none for a file's type.
    if (SystemIconList::defaultIcon().isNull())
        SystemIconList::setDefaultIcon(GenericDocumentIcon());

    Lister *lister = m_form.lister;
    lister->setModel(m_model);
    connect(lister, &Lister::dataHint, this, &DocumentList::listerDataHint);
    connect(lister, &Lister::keyDown, this, &DocumentList::listerKeyDown);
    connect(lister, &Lister::doubleClicked, this, &DocumentList::listerDblClick);
    connect(lister, &Lister::columnClicked, this, &DocumentList::listerColumnClick);
    connect(lister, &Lister::contextMenuRequested, this, &DocumentList::listerContextPopup);
}

void DocumentList::TreeChange(QTreeWidgetItem *node)
{
    CatalogueState &state = m_form.state;
    if (!state.tree_ready)
        return;
    Lister *lister = m_form.lister;
    const int absoluteIndex = m_form.AbsoluteIndex(node);
    const QPalette &palette = m_form.palette();
    lister->setColours(palette.color(absoluteIndex == CollectRoot ? QPalette::Button : QPalette::Base),
                       palette.color(QPalette::Text));
    m_form.SetStatusText(2, QString());
    state.list_ready = false;
    lister->beginBatchUpdate();
    // A copy: the node and the entry its host points into may go while events run below.
    const std::string host(NodeHost(node));
    m_form.SetStatusText(1, QStringLiteral("导入缓存文件..."));
    QApplication::processEvents();
    // The user may have picked another node meanwhile; that change has filled the list.
    if (m_form.Tree->currentItem() != node) {
        lister->endBatchUpdate();
        return;
    }
    BuildViewList(absoluteIndex, host);
    state.list_ready = true;
    if (lister->firstSelectedRow() >= 0)
        lister->clearSelectionAndScrollTop();
    SortView(state.sort_key, false);
    lister->endBatchUpdate();
    m_form.SetStatusText(1, QStringLiteral("文档共%1项").arg(lister->rowCount()));
    QApplication::processEvents();
}

void DocumentList::BuildViewList(int absoluteIndex, const std::string &host)
{
    CatalogueState &state = m_form.state;
    switch (absoluteIndex) {
    case CollectRoot:
        ::BuildViewList(state.view_list, state.collect_list);
        break;
    case SearchRoot:
        ::BuildViewList(state.view_list, state.search_list);
        break;
    default:
        if (absoluteIndex <= CacheRoot)
            return; // the cache root keeps the rows it has
        BuildHostViewList(state.view_list, state.cache_list, host);
        break;
    }
    SetRowCount(int(state.view_list.size()));
}

void DocumentList::SortView(int key, bool toggle)
{
    CatalogueState &state = m_form.state;
    if (toggle && key == state.sort_key)
        state.sort_dir = -state.sort_dir;
    state.sort_key = std::uint8_t(key);
    SortViewList(state.view_list, key, state.sort_dir);
    m_model->MarkSortColumn(key, state.sort_dir == 1);
    if (key >= 0 && key < m_form.sortItems.size())
        m_form.sortItems[key]->setChecked(true); // a no-op on "日期", which is no radio item
    m_model->contentChanged();
}

void DocumentList::FillTypeNames(int first, int last)
{
    m_model->FillTypeNames(first, last);
}

void DocumentList::SetRowCount(int rows)
{
    m_model->setRowCount(rows);
}

int DocumentList::firstSelectedRow() const
{
    return m_form.lister->firstSelectedRow();
}

QList<int> DocumentList::selectedRows() const
{
    return m_form.lister->selectedRows();
}

void DocumentList::SetListImages(bool small)
{
    m_form.lister->setImageList(small);
}

void DocumentList::m_VsIconClick(QAction *sender)
{
    sender->setChecked(true);
    const bool report = sender == m_form.m_VsReport;
    m_form.lister->setViewStyle(report ? Lister::Report : Lister::LargeIcons);
    m_form.settings.viewstyle = std::uint8_t(m_form.lister->viewStyle());
    SetListImages(report);
}

void DocumentList::m_sortcaptionClick(int position)
{
    SortView(position, true);
}

void DocumentList::listerColumnClick(int column)
{
    SortView(column, true);
}

void DocumentList::listerDataHint(int first, int last)
{
    FillTypeNames(first, last);
}

void DocumentList::listerKeyDown(int key)
{
    if (key == Qt::Key_Return || key == Qt::Key_Enter)
        openDocument();
}

void DocumentList::listerDblClick()
{
    openDocument();
}

void DocumentList::listerContextPopup(const QPoint &globalPos)
{
    if (m_form.Pop_list)
        m_form.Pop_list->popup(globalPos);
}

void DocumentList::openDocument()
{
    if (m_form.commands)
        m_form.commands->AOpenDocExecute();
}
