#include "listcolumns.h"

#include "catalogue/documentlistmodel.h"
#include "catalogue/entryfields.h"
#include "stores/savefile.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QMenu>
#include <QSettings>

#include <algorithm>

namespace {

constexpr int BaseColumns = DocumentListModel::ColumnCount;
constexpr int AllColumns = DocumentListModel::AllColumnCount;
// Widths outside these bounds are no one's choice: a damaged file's.
constexpr int NarrowestWidth = 16;
constexpr int WidestWidth = 4000;

QString columnName(int column)
{
    return QString::fromLatin1(EntryFieldName(EntryField(column)));
}

int columnNamed(const QString &name)
{
    const auto field = EntryFieldFromName(name.trimmed().toStdString());
    return field && int(*field) < AllColumns ? int(*field) : -1;
}

// A list value as QSettings hands it back: a list where the file had commas, else one text.
QStringList names(const QVariant &value)
{
    QStringList parts =
        value.typeId() == QMetaType::QStringList ? value.toStringList() : value.toString().split(QLatin1Char(','));
    for (QString &part : parts)
        part = part.trimmed();
    parts.removeAll(QString());
    return parts;
}

bool validLayout(const ColumnLayout &layout)
{
    return layout.order.size() == std::size_t(AllColumns) && layout.shown.size() == std::size_t(AllColumns)
        && layout.widths.size() == std::size_t(AllColumns);
}

} // namespace

QString ColumnLayoutPath(const QString &settingsPath)
{
    return QFileInfo(settingsPath).dir().filePath(QStringLiteral("columns.ini"));
}

ColumnLayout ReadColumnLayout(const QString &path, const ColumnLayout &defaults)
{
    ColumnLayout layout = defaults;
    if (!validLayout(defaults) || !QFileInfo(path).isFile())
        return layout;
    const QSettings file(path, QSettings::IniFormat);
    if (file.status() != QSettings::NoError)
        return layout;

    // The order: the named columns first, each once, then the rest in their default order.
    std::vector<int> order;
    std::vector<bool> placed(std::size_t(AllColumns), false);
    for (const QString &name : names(file.value(QStringLiteral("columns/order")))) {
        const int column = columnNamed(name);
        if (column >= 0 && !placed[std::size_t(column)]) {
            placed[std::size_t(column)] = true;
            order.push_back(column);
        }
    }
    for (const int column : defaults.order)
        if (!placed[std::size_t(column)])
            order.push_back(column);
    // The first column stays first: the list's header keeps it there.
    const auto first = std::find(order.begin(), order.end(), defaults.order.front());
    std::rotate(order.begin(), first, first + 1);
    layout.order = order;

    if (file.contains(QStringLiteral("columns/shown"))) {
        for (int column = BaseColumns; column < AllColumns; ++column)
            layout.shown[std::size_t(column)] = false;
        for (const QString &name : names(file.value(QStringLiteral("columns/shown"))))
            if (const int column = columnNamed(name); column >= BaseColumns)
                layout.shown[std::size_t(column)] = true;
    }

    for (int column = 0; column < AllColumns; ++column) {
        bool ok = false;
        const int width = file.value(QStringLiteral("widths/") + columnName(column)).toInt(&ok);
        if (ok && width >= NarrowestWidth && width <= WidestWidth)
            layout.widths[std::size_t(column)] = width;
    }
    return layout;
}

StoreResult WriteColumnLayout(const QString &path, const ColumnLayout &layout)
{
    if (!validLayout(layout))
        return StoreResult::failure(StoreError::Damaged, "not an arrangement of every column");
    QDir().mkpath(QFileInfo(path).absolutePath());
    // Written here rather than by QSettings, whose save commits a file cut by a full disk.
    QStringList order, shown;
    for (const int column : layout.order)
        order << columnName(column);
    for (int column = BaseColumns; column < AllColumns; ++column)
        if (layout.shown[std::size_t(column)])
            shown << columnName(column);
    QString text = QStringLiteral("[columns]\norder=\"%1\"\nshown=\"%2\"\n\n[widths]\n")
                       .arg(order.join(QLatin1Char(',')), shown.join(QLatin1Char(',')));
    for (int column = 0; column < AllColumns; ++column)
        text += columnName(column) + QLatin1Char('=') + QString::number(layout.widths[std::size_t(column)])
            + QLatin1Char('\n');
    return SaveWholeFile(path, text.toUtf8());
}

ListColumns::ListColumns(QHeaderView *header, const QString &path, QWidget *menuParent)
    : m_header(header), m_path(path), m_menu(new QMenu(menuParent))
{
    // The five keep the widths the list gives them; a time column fits a whole time.
    const int timeWidth = header->fontMetrics().horizontalAdvance(QStringLiteral("0000-00-00 00:00:00")) + 16;
    const int columnWidths[AllColumns] = {0,         0,  0,   0,  0,  timeWidth, timeWidth, timeWidth,
                                          timeWidth, 70, 130, 80, 50, 160,       120};
    for (int column = 0; column < AllColumns; ++column) {
        m_default.order.push_back(column);
        m_default.shown.push_back(column < BaseColumns);
        m_default.widths.push_back(column < BaseColumns ? header->sectionSize(column) : columnWidths[column]);
    }
    m_widths = m_default.widths;

    // The user orders the columns by dragging their captions; the file name stays first.
    header->setSectionsMovable(true);
    header->setFirstSectionMovable(false);
    header->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(header, &QWidget::customContextMenuRequested, this, &ListColumns::showMenu);
    connect(header, &QHeaderView::sectionResized, this,
            [this](int column, int, int width) { noteWidth(column, width); });

    m_menu->setObjectName(QStringLiteral("Pop_columns"));
    m_items.assign(std::size_t(AllColumns), nullptr);
    for (int column = BaseColumns; column < AllColumns; ++column) {
        QAction *item = m_menu->addAction(EntryFieldCaption(EntryField(column)));
        item->setObjectName(QStringLiteral("column_") + columnName(column));
        item->setCheckable(true);
        connect(item, &QAction::triggered, this, [this, column](bool checked) { setColumnShown(column, checked); });
        m_items[std::size_t(column)] = item;
    }
    m_menu->addSeparator();
    QAction *reset = m_menu->addAction(QStringLiteral("恢复默认列(&D)"));
    reset->setObjectName(QStringLiteral("column_defaults"));
    connect(reset, &QAction::triggered, this, [this] { applyLayout(m_default); });

    m_read = ReadColumnLayout(m_path, m_default);
    applyLayout(m_read);
}

void ListColumns::noteWidth(int column, int width)
{
    // A hidden section reports the width 0: the width it had is kept for its next showing.
    if (column >= 0 && column < AllColumns && width > 0 && !m_header->isSectionHidden(column))
        m_widths[std::size_t(column)] = width;
}

ColumnLayout ListColumns::layout() const
{
    ColumnLayout now;
    now.order.assign(std::size_t(AllColumns), 0);
    for (int column = 0; column < AllColumns; ++column) {
        const int position = m_header->visualIndex(column);
        if (position >= 0 && position < AllColumns)
            now.order[std::size_t(position)] = column;
        now.shown.push_back(!m_header->isSectionHidden(column));
        now.widths.push_back(m_widths[std::size_t(column)]);
    }
    return now;
}

void ListColumns::applyLayout(const ColumnLayout &layout)
{
    if (!validLayout(layout) || m_header->count() != AllColumns)
        return;
    for (int position = 0; position < AllColumns; ++position) {
        const int from = m_header->visualIndex(layout.order[std::size_t(position)]);
        if (from != position)
            m_header->moveSection(from, position);
    }
    for (int column = 0; column < AllColumns; ++column) {
        m_widths[std::size_t(column)] = layout.widths[std::size_t(column)];
        setColumnShown(column, layout.shown[std::size_t(column)]);
        m_header->resizeSection(column, layout.widths[std::size_t(column)]);
    }
}

void ListColumns::setColumnShown(int column, bool shown)
{
    if (column < 0 || column >= AllColumns || (column < BaseColumns && !shown))
        return;
    if (QAction *item = m_items[std::size_t(column)])
        item->setChecked(shown);
    if (m_header->isSectionHidden(column) == !shown)
        return;
    m_header->setSectionHidden(column, !shown);
    if (shown)
        m_header->resizeSection(column, m_widths[std::size_t(column)]);
}

bool ListColumns::isColumnShown(int column) const
{
    return column >= 0 && column < AllColumns && !m_header->isSectionHidden(column);
}

void ListColumns::showMenu(const QPoint &at)
{
    m_menu->popup(m_header->viewport()->mapToGlobal(at));
}

StoreResult ListColumns::save()
{
    const ColumnLayout now = layout();
    if (now == m_read)
        return {};
    StoreResult written = WriteColumnLayout(m_path, now);
    if (written.ok())
        m_read = now;
    return written;
}
