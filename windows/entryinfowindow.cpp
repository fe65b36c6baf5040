#include "entryinfowindow.h"

#include <QClipboard>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTextDocument>
#include <QVBoxLayout>

#include <algorithm>

EntryInfoWindow::EntryInfoWindow(const EntryInfo &info, QWidget *owner) : QDialog(owner), m_copyText(info.copyText)
{
    setObjectName(QStringLiteral("frm_entryinfo"));
    setWindowTitle(QStringLiteral("缓存信息"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    auto *form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    for (const EntryInfo::Line &line : info.lines) {
        auto *caption = new QLabel(line.caption + QStringLiteral("："), this);
        caption->setTextFormat(Qt::PlainText);
        // A line edit never reads its text as markup, selects with mouse and keys, and
        // scrolls a URL longer than the window is wide.
        auto *value = new QLineEdit(line.value, this);
        value->setObjectName(line.name);
        value->setReadOnly(true);
        value->setCursorPosition(0);
        caption->setBuddy(value);
        form->addRow(caption, value);
    }

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    if (!info.responseHead.isEmpty()) {
        auto *caption = new QLabel(QStringLiteral("响应头："), this);
        caption->setTextFormat(Qt::PlainText);
        m_head = new QPlainTextEdit(this);
        m_head->setObjectName(QStringLiteral("response_head"));
        m_head->setReadOnly(true);
        m_head->setLineWrapMode(QPlainTextEdit::NoWrap);
        m_head->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        m_head->setPlainText(info.responseHead);
        caption->setBuddy(m_head);
        layout->addWidget(caption);
        layout->addWidget(m_head, 1);
    }

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *copy = buttons->addButton(QStringLiteral("复制全部(&C)"), QDialogButtonBox::ActionRole);
    copy->setObjectName(QStringLiteral("copyAll"));
    copy->setAutoDefault(false);
    QPushButton *close = buttons->addButton(QStringLiteral("关闭"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("close"));
    connect(copy, &QPushButton::clicked, this, &EntryInfoWindow::copyAll);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    fitToContent(owner);
}

void EntryInfoWindow::fitToContent(const QWidget *owner)
{
    // The values in full beside their captions, and the head's every line: as much of it as
    // the screen holds, the head taking what height there is.
    const QScreen *screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    const QRect room = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    const QSize least = sizeHint();
    const QMargins margins = layout()->contentsMargins();
    int width = least.width();
    int height = least.height();
    const auto *form = qobject_cast<const QFormLayout *>(layout()->itemAt(0)->layout());
    for (int row = 0; form && row < form->rowCount(); ++row) {
        const QLayoutItem *caption = form->itemAt(row, QFormLayout::LabelRole);
        const auto *value = qobject_cast<const QLineEdit *>(form->itemAt(row, QFormLayout::FieldRole)->widget());
        if (caption && value)
            width = std::max(width,
                             margins.left() + margins.right() + caption->sizeHint().width() + form->horizontalSpacing()
                                 + value->fontMetrics().horizontalAdvance(value->text()) + TextFieldPadding);
    }
    if (m_head) {
        const QFontMetrics metrics(m_head->font());
        const QStringList lines = m_head->toPlainText().split(QLatin1Char('\n'));
        int longest = 0;
        for (const QString &line : lines)
            longest = std::max(longest, metrics.horizontalAdvance(line));
        const int chrome = 2 * (m_head->frameWidth() + int(m_head->document()->documentMargin()))
            + m_head->verticalScrollBar()->sizeHint().width();
        width = std::max(width, margins.left() + margins.right() + longest + chrome);
        height += std::max(0, int(lines.size()) * metrics.lineSpacing() + chrome - m_head->sizeHint().height());
        if (width > room.width() * 9 / 10)
            height += m_head->horizontalScrollBar()->sizeHint().height();
    }
    resize(std::min(width, room.width() * 9 / 10), std::min(height, room.height() * 9 / 10));
}

QString EntryInfoWindow::valueText(const QString &name) const
{
    const auto *value = findChild<QLineEdit *>(name, Qt::FindDirectChildrenOnly);
    return value ? value->text() : QString();
}

QString EntryInfoWindow::responseHeadText() const
{
    return m_head ? m_head->toPlainText() : QString();
}

void EntryInfoWindow::copyAll()
{
    QGuiApplication::clipboard()->setText(m_copyText);
}

EntryInfoWindow *ShowEntryInfo(QWidget *owner, const EntryInfo &info)
{
    auto *window = new EntryInfoWindow(info, owner);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
    return window;
}
