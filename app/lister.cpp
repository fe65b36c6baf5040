#include "lister.h"

#include "windows/plaintooltips.h"

#include <QApplication>
#include <QDrag>
#include <QHeaderView>
#include <QKeyEvent>
#include <QListView>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QStackedLayout>
#include <QStyledItemDelegate>
#include <QTextLayout>
#include <QTreeView>

namespace {

constexpr int ColumnWidths[] = {170, 120, 60, 200, 300};

// The drag cursor: an arrow with one document, or with a small stack of them.
QPixmap dragCursorPicture(bool several)
{
    QPixmap picture(32, 32);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath arrow;
    arrow.moveTo(0, 0);
    arrow.lineTo(0, 15);
    arrow.lineTo(4, 11);
    arrow.lineTo(7, 17);
    arrow.lineTo(9, 16);
    arrow.lineTo(6, 10);
    arrow.lineTo(11, 10);
    arrow.closeSubpath();
    painter.setPen(Qt::black);
    painter.setBrush(Qt::white);
    painter.drawPath(arrow);
    const int pages = several ? 3 : 1;
    for (int i = pages - 1; i >= 0; --i)
        painter.drawRect(QRectF(12 + 3 * i, 14 + 3 * i, 10, 12));
    return picture;
}

constexpr int IconGridWidth = 96;
constexpr int IconTextGap = 4; // between the icon and its caption, and around the caption

// Items of the large-icon view: the style draws the icon and the focus, the caption is
// drawn here on up to two lines (IconCaptionLines).
class IconItemDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // Every item takes a whole cell of the grid, which has room for two caption lines.
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        if (const auto *view = qobject_cast<const QListView *>(option.widget); view && view->gridSize().isValid())
            return view->gridSize();
        return QStyledItemDelegate::sizeHint(option, index);
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QStyleOptionViewItem opt(option);
        initStyleOption(&opt, index);
        const QString caption = opt.text;
        opt.text.clear();
        const QWidget *view = opt.widget;
        QStyle *style = view ? view->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, view);

        const QRect icon = style->subElementRect(QStyle::SE_ItemViewItemDecoration, &opt, view);
        const QRect area(opt.rect.left() + IconTextGap / 2, icon.bottom() + 1 + IconTextGap,
                         opt.rect.width() - IconTextGap, opt.rect.bottom() - icon.bottom() - IconTextGap);
        const QStringList lines = IconCaptionLines(caption, opt.font, area.width());
        const QFontMetrics metrics(opt.font);
        int widest = 0;
        for (const QString &line : lines)
            widest = std::max(widest, metrics.horizontalAdvance(line));
        const QRect block(area.left() + (area.width() - widest) / 2 - 1, area.top(), widest + 2,
                          int(lines.size()) * metrics.lineSpacing());
        const QPalette::ColorGroup group = !(opt.state & QStyle::State_Enabled) ? QPalette::Disabled
            : (opt.state & QStyle::State_Active)                                ? QPalette::Active
                                                                                : QPalette::Inactive;
        const bool selected = opt.state & QStyle::State_Selected;
        painter->save();
        if (selected)
            painter->fillRect(block, opt.palette.brush(group, QPalette::Highlight));
        painter->setFont(opt.font);
        painter->setPen(opt.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
        for (int i = 0; i < lines.size(); ++i)
            painter->drawText(
                QRect(area.left(), area.top() + i * metrics.lineSpacing(), area.width(), metrics.lineSpacing()),
                Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine, lines[i]);
        painter->restore();
    }
};

} // namespace

QStringList IconCaptionLines(const QString &text, const QFont &font, int width)
{
    if (text.isEmpty() || width <= 0)
        return {text};
    const QFontMetrics metrics(font);
    if (metrics.horizontalAdvance(text) <= width)
        return {text};
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine first = layout.createLine();
    first.setLineWidth(width);
    layout.endLayout();
    const int cut = std::max(1, first.textLength());
    const QString rest = text.mid(cut);
    return {text.left(cut), metrics.elidedText(rest, Qt::ElideMiddle, width)};
}

// The hooks both views share: the data hint before painting, the keys, the double click,
// no find-as-you-type, and the drag of rows.
template <typename View>
class ListerView : public View {
public:
    ListerView(Lister *lister) : View(lister), m_lister(lister) {}

    void keyboardSearch(const QString &) override {} // listerDataFind: no item is ever found

protected:
    void paintEvent(QPaintEvent *event) override
    {
        m_lister->hintVisibleRows(); // listerDataHint before the rows are drawn
        View::paintEvent(event);
    }
    void keyPressEvent(QKeyEvent *event) override
    {
        emit m_lister->keyDown(event->key());
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            event->accept();
            return;
        }
        View::keyPressEvent(event);
    }
    void mouseDoubleClickEvent(QMouseEvent *event) override
    {
        View::mouseDoubleClickEvent(event);
        if (event->button() == Qt::LeftButton)
            emit m_lister->doubleClicked();
    }
    void startDrag(Qt::DropActions) override { m_lister->startRowDrag(); }

private:
    Lister *m_lister;
};

Lister::Lister(QWidget *parent)
    : QWidget(parent),
      m_report(new ListerView<QTreeView>(this)),
      m_icons(new ListerView<QListView>(this)),
      m_stack(new QStackedLayout(this))
{
    m_stack->setContentsMargins(0, 0, 0, 0);
    m_stack->addWidget(m_report);
    m_stack->addWidget(m_icons);
    m_report->setObjectName(QStringLiteral("listerReport"));
    m_icons->setObjectName(QStringLiteral("listerIcons"));

    m_report->setRootIsDecorated(false);
    m_report->setItemsExpandable(false);
    m_report->setUniformRowHeights(true);
    m_report->setAllColumnsShowFocus(true);
    m_report->setSortingEnabled(false); // the order is view_list's own
    m_report->setIconSize(QSize(16, 16));
    m_report->header()->setSectionsClickable(true);
    m_report->header()->setSectionsMovable(false);
    m_report->header()->setStretchLastSection(false);
    connect(m_report->header(), &QHeaderView::sectionClicked, this, &Lister::columnClicked);

    m_icons->setViewMode(QListView::IconMode);
    m_icons->setMovement(QListView::Static);
    m_icons->setResizeMode(QListView::Adjust);
    m_icons->setFlow(QListView::LeftToRight);
    m_icons->setWrapping(true);
    m_icons->setUniformItemSizes(true);
    m_icons->setWordWrap(true);
    m_icons->setTextElideMode(Qt::ElideMiddle);
    m_icons->setIconSize(QSize(32, 32));
    m_icons->setItemDelegate(new IconItemDelegate(m_icons));
    fitIconGrid();

    for (QAbstractItemView *view : views()) {
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        view->setDragEnabled(true);
        view->setDragDropMode(QAbstractItemView::DragOnly);
        view->setDefaultDropAction(Qt::CopyAction);
        view->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(view, &QWidget::customContextMenuRequested, this, &Lister::onContextMenu);
        ShowItemToolTipsAsPlainText(view); // names and URLs as they are
    }
    m_background = palette().color(QPalette::Base);
    m_text = palette().color(QPalette::Text);
    applyPalette();
    setFocusProxy(m_report);
}

void Lister::fitIconGrid()
{
    const int captionHeight = 2 * QFontMetrics(m_icons->font()).lineSpacing();
    m_icons->setGridSize(QSize(IconGridWidth, m_icons->iconSize().height() + captionHeight + 3 * IconTextGap));
}

void Lister::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        fitIconGrid();
}

QList<QAbstractItemView *> Lister::views() const
{
    return {m_report, m_icons};
}

void Lister::setModel(QAbstractItemModel *model)
{
    m_report->setModel(model);
    m_icons->setModel(model);
    QItemSelectionModel *shared = m_report->selectionModel();
    QItemSelectionModel *own = m_icons->selectionModel();
    m_icons->setSelectionModel(shared);
    if (own != shared)
        delete own;
    for (int i = 0; i < int(std::size(ColumnWidths)); ++i)
        m_report->header()->resizeSection(i, ColumnWidths[i]);
    connect(shared, &QItemSelectionModel::currentChanged, this, &Lister::onCurrentChanged);
    connect(shared, &QItemSelectionModel::selectionChanged, this, &Lister::onSelectionChanged);
    // A reset clears the selection without a signal.
    connect(model, &QAbstractItemModel::modelReset, this, [this] { m_focusedSelectedRow = -1; });
}

QAbstractItemView *Lister::currentView() const
{
    return m_stack->currentWidget() == m_icons ? static_cast<QAbstractItemView *>(m_icons)
                                               : static_cast<QAbstractItemView *>(m_report);
}

QItemSelectionModel *Lister::selectionModel() const
{
    return m_report->selectionModel();
}

void Lister::setViewStyle(int style)
{
    m_viewStyle = style;
    QAbstractItemView *shown =
        style == LargeIcons ? static_cast<QAbstractItemView *>(m_icons) : static_cast<QAbstractItemView *>(m_report);
    if (m_stack->currentWidget() == shown)
        return;
    const bool hadFocus = currentView()->hasFocus();
    m_stack->setCurrentWidget(shown);
    setFocusProxy(shown);
    if (hadFocus)
        shown->setFocus();
    if (QItemSelectionModel *selection = selectionModel(); selection && selection->currentIndex().isValid())
        shown->scrollTo(selection->currentIndex());
}

void Lister::setImageList(bool small)
{
    if (small) {
        m_report->setIconSize(QSize(16, 16));
        m_smallImages = true;
    } else {
        m_icons->setIconSize(QSize(32, 32));
        m_largeImages = true;
    }
}

void Lister::setColours(const QColor &background, const QColor &text)
{
    m_background = background;
    m_text = text;
    applyPalette();
}

void Lister::applyPalette()
{
    for (QAbstractItemView *view : views()) {
        QPalette p = view->palette();
        p.setColor(QPalette::Base, m_background);
        p.setColor(QPalette::Text, m_text);
        // The selection stays visible, in the same colours, when the list loses the focus.
        for (const QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
            p.setColor(QPalette::Inactive, role, p.color(QPalette::Active, role));
        view->setPalette(p);
    }
}

void Lister::beginBatchUpdate()
{
    if (m_batch++ == 0)
        setUpdatesEnabled(false);
}

void Lister::endBatchUpdate()
{
    if (m_batch > 0 && --m_batch == 0)
        setUpdatesEnabled(true);
}

int Lister::rowCount() const
{
    const QAbstractItemModel *model = m_report->model();
    return model ? model->rowCount() : 0;
}

int Lister::firstSelectedRow() const
{
    const QItemSelectionModel *selection = selectionModel();
    if (!selection)
        return -1;
    int first = -1;
    for (const QItemSelectionRange &range : selection->selection())
        if (range.isValid() && (first < 0 || range.top() < first))
            first = range.top();
    return first;
}

QList<int> Lister::selectedRows() const
{
    QList<int> rows;
    const QItemSelectionModel *selection = selectionModel();
    if (!selection)
        return rows;
    for (const QItemSelectionRange &range : selection->selection())
        if (range.isValid())
            for (int row = range.top(); row <= range.bottom(); ++row)
                rows.append(row);
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

void Lister::selectAllRows()
{
    QAbstractItemModel *model = m_report->model();
    const int rows = rowCount();
    if (!model || rows == 0)
        return;
    const QItemSelection all(model->index(0, 0), model->index(rows - 1, model->columnCount() - 1));
    selectionModel()->select(all, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void Lister::clearSelectionAndScrollTop()
{
    QItemSelectionModel *selection = selectionModel();
    if (!selection)
        return;
    const int first = firstSelectedRow();
    if (first >= 0 && selection->currentIndex().row() == first)
        selection->clearCurrentIndex();
    selection->clearSelection();
    m_report->scrollToTop();
    m_icons->scrollToTop();
}

void Lister::deselectAll()
{
    if (QItemSelectionModel *selection = selectionModel()) {
        selection->clearCurrentIndex();
        selection->clearSelection();
    }
}

void Lister::focusRowOnly(int row)
{
    QItemSelectionModel *selection = selectionModel();
    const QAbstractItemModel *model = m_report->model();
    const int rows = rowCount();
    if (!selection || !model || rows == 0 || row < 0)
        return;
    selection->setCurrentIndex(model->index(std::min(row, rows - 1), 0), QItemSelectionModel::NoUpdate);
}

std::pair<int, int> Lister::visibleRows() const
{
    const int rows = rowCount();
    if (rows == 0)
        return {-1, -1};
    QAbstractItemView *view = currentView();
    const int height = view->viewport()->height();
    if (view == m_report) {
        const QModelIndex top = m_report->indexAt(QPoint(0, 0));
        const QModelIndex bottom = m_report->indexAt(QPoint(0, std::max(height - 1, 0)));
        if (!top.isValid())
            return {-1, -1};
        return {top.row(), bottom.isValid() ? bottom.row() : rows - 1};
    }
    // The icon view lays the rows out in reading order: its visible rows are one range.
    QAbstractItemModel *model = view->model();
    auto rect = [&](int row) { return view->visualRect(model->index(row, 0)); };
    int lo = 0, hi = rows; // first row whose bottom is on screen
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (rect(mid).bottom() < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    const int first = lo;
    lo = first;
    hi = rows; // first row whose top is below the viewport
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (rect(mid).top() < height)
            lo = mid + 1;
        else
            hi = mid;
    }
    const int last = lo - 1;
    if (first >= rows || last < first)
        return {-1, -1};
    return {first, last};
}

void Lister::hintVisibleRows()
{
    if (m_hinting || m_batch > 0)
        return;
    const auto [first, last] = visibleRows();
    if (first < 0)
        return;
    m_hinting = true;
    emit dataHint(first, last);
    m_hinting = false;
}

void Lister::listerStartDrag(int draggedRows)
{
    m_report->setSelectionBehavior(QAbstractItemView::SelectItems);
    m_dragSeveral = draggedRows >= 2;
}

void Lister::listerEndDrag()
{
    m_report->setSelectionBehavior(QAbstractItemView::SelectRows);
}

void Lister::startRowDrag()
{
    const QList<int> rows = selectedRows();
    QAbstractItemModel *model = m_report->model();
    if (rows.isEmpty() || !model)
        return;
    QModelIndexList indexes;
    indexes.reserve(rows.size());
    for (const int row : rows)
        indexes.append(model->index(row, 0));
    auto *drag = new QDrag(currentView());
    drag->setMimeData(model->mimeData(indexes));
    listerStartDrag(int(rows.size()));
    drag->setDragCursor(dragCursorPicture(m_dragSeveral), Qt::CopyAction);
    drag->exec(Qt::CopyAction, Qt::CopyAction);
    listerEndDrag();
}

void Lister::onCurrentChanged(const QModelIndex &)
{
    noteFocusedSelectedRow();
}

void Lister::onSelectionChanged(const QItemSelection &)
{
    noteFocusedSelectedRow();
}

void Lister::noteFocusedSelectedRow()
{
    // A click changes both the focus and the selection; the row becomes focused and selected
    // once, so it is reported once.
    const QModelIndex current = selectionModel()->currentIndex();
    const int row = current.isValid() && selectionModel()->isSelected(current) ? current.row() : -1;
    const bool becameFocusedAndSelected = row >= 0 && row != m_focusedSelectedRow;
    m_focusedSelectedRow = row;
    if (becameFocusedAndSelected && m_batch == 0)
        emit rowStateChanged(row);
}

void Lister::onContextMenu(const QPoint &pos)
{
    emit contextMenuRequested(currentView()->viewport()->mapToGlobal(pos));
}
