#include "collectbox.h"

#include "catalogue/cataloguestate.h"
#include "catalogue/documentlistmodel.h"
#include "collections/collectbox.h"
#include "documentsaver.h"
#include "lister.h"
#include "treenodes.h"
#include "windows/pictures.h"

#include <QAbstractItemView>
#include <QContextMenuEvent>
#include <QDrag>
#include <QDropEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QTreeWidget>
#include <QUrl>

#include <algorithm>
#include <climits>

CollectBox::CollectBox(CatalogueState &state, Lister *lister, QTreeWidget *tree, QLabel *label, QLabel *indicator,
                       DocumentSaver &saver)
    : m_state(state),
      m_lister(lister),
      m_tree(tree),
      m_label(label),
      m_indicator(indicator),
      m_saver(saver),
      m_pressPoint(NoPressPoint)
{
    // The label and the tree take drops and report the label's mouse through this object, so
    // that neither needs a class of its own.
    for (QWidget *target : {static_cast<QWidget *>(m_label), m_tree->viewport()}) {
        target->setAcceptDrops(true);
        target->installEventFilter(this);
    }
}

CollectBox::~CollectBox()
{
    m_label->removeEventFilter(this);
    m_tree->viewport()->removeEventFilter(this);
}

bool CollectBox::carriesListRows(const QMimeData *data)
{
    return data && data->hasFormat(QString::fromLatin1(DocumentListModel::RowsMimeType));
}

bool CollectBox::collectRootShown() const
{
    const QTreeWidgetItem *root = TreeNode(m_tree, CollectRoot);
    return root && m_tree->currentItem() == root;
}

bool CollectBox::overCollectRoot(const QPoint &viewportPos) const
{
    const QTreeWidgetItem *root = TreeNode(m_tree, CollectRoot);
    return root && m_tree->itemAt(viewportPos) == root;
}

void CollectBox::AddToCollectBox()
{
    CollectKeys keys(m_state.collect_list);
    for (const int row : m_lister->selectedRows())
        if (std::size_t(row) < m_state.view_list.size())
            AddToCollectList(m_state.collect_list, keys, m_state.view_list[std::size_t(row)]);
    UpdateCollectNode();
}

void CollectBox::ASendtoBoxExecute()
{
    AddToCollectBox();
}

void CollectBox::ARemoveCollectDocExecute()
{
    // The rows are those of the collect box only while its root is shown; a stale action
    // state must not take rows of another list out of the box.
    if (!collectRootShown())
        return;
    const QList<int> rows = m_lister->selectedRows();
    m_lister->deselectAll(); // the rows that move up were not chosen
    // The list is sorted by its own key, so rows find their entries by name, never by
    // position; the box is walked once for all of them.
    QSet<QString> removed;
    for (auto it = rows.crbegin(); it != rows.crend(); ++it) {
        const auto row = std::size_t(*it);
        if (row >= m_state.view_list.size())
            continue;
        removed.insert(CollectKey(LocalFileName(m_state.view_list[row])));
        m_state.view_list.erase(m_state.view_list.begin() + std::ptrdiff_t(row));
    }
    RemoveFromCollectList(m_state.collect_list, removed);
    emit rowCountChanged(int(m_state.view_list.size()));
    if (!rows.isEmpty())
        m_lister->focusRowOnly(rows.first());
    m_lister->currentView()->viewport()->update();
    UpdateCollectNode();
}

void CollectBox::AClearCollectDocExecute()
{
    m_state.collect_list.clear();
    if (collectRootShown()) {
        // view_list keeps its records until the next fill; with no rows nothing reads them.
        m_lister->beginBatchUpdate();
        emit rowCountChanged(0);
        m_lister->endBatchUpdate();
    }
    UpdateCollectNode();
}

void CollectBox::ASaveAllCollectDocExecute()
{
    std::vector<const INTERNET_CACHE_ENTRY_INFOA *> entries;
    entries.reserve(m_state.collect_list.size());
    for (const HeaderCopy &entry : m_state.collect_list)
        entries.push_back(EntryBlock(entry));
    if (!entries.empty())
        m_saver.SaveDocuments(entries);
}

void CollectBox::UpdateCollectNode()
{
    const std::size_t count = m_state.collect_list.size();
    if (QTreeWidgetItem *root = TreeNode(m_tree, CollectRoot))
        root->setText(0, CollectNodeCaption(count));
    m_label->setToolTip(CollectHint(count));
    DrawCollectIndicator(int(std::min<std::size_t>(count, INT_MAX)));
}

void CollectBox::DrawCollectIndicator(int count)
{
    QPixmap picture(m_indicator->size());
    // The frame around the indicator has the button-shadow colour; the picture continues it.
    picture.fill(m_indicator->palette().color(QPalette::Dark));
    QPainter painter(&picture);
    painter.drawPixmap(2, 1, CollectBoxImage(count == 0 ? 0 : 1));
    painter.end();
    m_indicator->setPixmap(picture);
}

void CollectBox::lab_collectDragOver(QDragMoveEvent *event)
{
    if (carriesListRows(event->mimeData())) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void CollectBox::TreeDragOver(QDragMoveEvent *event)
{
    if (carriesListRows(event->mimeData()) && overCollectRoot(event->position().toPoint())) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void CollectBox::lab_collectDragDrop(QDropEvent *event)
{
    m_tree->viewport()->update();
    event->setDropAction(Qt::CopyAction);
    event->accept();
    AddToCollectBox();
}

void CollectBox::lab_collectDblClick()
{
    if (collectRootShown())
        return;
    if (m_tree->isVisible() && m_tree->isEnabled() && m_tree->focusPolicy() != Qt::NoFocus)
        m_tree->setFocus(Qt::OtherFocusReason);
    if (QTreeWidgetItem *root = TreeNode(m_tree, CollectRoot))
        m_tree->setCurrentItem(root); // the list fills through TreeChange
}

void CollectBox::lab_collectMouseDown(const QPoint &at)
{
    m_pressPoint = at;
}

void CollectBox::lab_collectMouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers, const QPoint &at)
{
    if (!StartsCollectDrag(buttons, modifiers, m_pressPoint, at))
        return;
    m_dragStarted = true;
    DragCollectedFiles(m_state.collect_list);
}

void CollectBox::DragCollectedFiles(const CollectList &entries)
{
    if (entries.empty())
        return;
    // A browser cache's bodies become files now: the drop target reads them by name. One
    // that cannot be written out (its container gone) is offered all the same, as a file
    // that is gone would be.
    for (const HeaderCopy &entry : entries)
        EnsureLocalFile(entry);
    QList<QUrl> urls;
    for (const QString &path : CollectedPaths(entries))
        urls.append(QUrl::fromLocalFile(path));
    auto *data = new QMimeData;
    data->setUrls(urls);

    // The last drag's data may still be fetched by its target after exec() returns; it
    // goes once a new drag starts (the platform may have let it go already).
    delete m_lastDrag.data();
    auto *drag = new QDrag(m_label);
    m_lastDrag = drag;
    drag->setMimeData(data);
    // No drag picture: an empty pixmap would make Qt show its default one.
    QPixmap nothing(1, 1);
    nothing.fill(Qt::transparent);
    drag->setPixmap(nothing);
    drag->setHotSpot(QPoint(0, 0));
    if (m_dragRunner)
        m_dragRunner(*drag, Qt::CopyAction);
    else
        drag->exec(Qt::CopyAction, Qt::CopyAction); // returns when the drop is done or cancelled
}

bool CollectBox::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_label)
        return labelEvent(event);
    if (watched == m_tree->viewport())
        return treeEvent(event);
    return QObject::eventFilter(watched, event);
}

bool CollectBox::labelEvent(QEvent *event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
        lab_collectDragOver(static_cast<QDragMoveEvent *>(event));
        return true;
    case QEvent::Drop:
        if (!carriesListRows(static_cast<QDropEvent *>(event)->mimeData())) {
            event->ignore();
            return true;
        }
        lab_collectDragDrop(static_cast<QDropEvent *>(event));
        return true;
    case QEvent::MouseButtonPress: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        m_dragStarted = false;
        m_menuHeldBack = false;
        lab_collectMouseDown(mouse->position().toPoint());
        return false;
    }
    case QEvent::MouseMove: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        lab_collectMouseMove(mouse->buttons(), mouse->modifiers(), mouse->position().toPoint());
        return false;
    }
    case QEvent::MouseButtonDblClick:
        if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
            lab_collectDblClick();
        return false;
    case QEvent::ContextMenu: {
        // Where the menu comes with the right button's press, it would take the mouse before a
        // drag with the right button could start: hold it back until the release.
        const auto *menu = static_cast<QContextMenuEvent *>(event);
        if (m_releasingMenu || menu->reason() != QContextMenuEvent::Mouse
            || !(QGuiApplication::mouseButtons() & Qt::RightButton))
            return false;
        m_menuHeldBack = true;
        return true;
    }
    case QEvent::MouseButtonRelease: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::RightButton && m_menuHeldBack) {
            m_menuHeldBack = false;
            if (!m_dragStarted) {
                QContextMenuEvent menu(QContextMenuEvent::Mouse, mouse->position().toPoint(),
                                       mouse->globalPosition().toPoint(), mouse->modifiers());
                m_releasingMenu = true;
                QCoreApplication::sendEvent(m_label, &menu);
                m_releasingMenu = false;
            }
        }
        return false;
    }
    default:
        return false;
    }
}

bool CollectBox::treeEvent(QEvent *event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
        // A refused enter would keep every later move from the tree; the move that always
        // follows the enter decides for the node under the pointer.
        lab_collectDragOver(static_cast<QDragMoveEvent *>(event));
        return true;
    case QEvent::DragMove:
        TreeDragOver(static_cast<QDragMoveEvent *>(event));
        return true;
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        // A drop lands where the last move was accepted; checked again all the same.
        if (!carriesListRows(drop->mimeData()) || !overCollectRoot(drop->position().toPoint())) {
            drop->ignore();
            return true;
        }
        lab_collectDragDrop(drop);
        return true;
    }
    default:
        return false;
    }
}
