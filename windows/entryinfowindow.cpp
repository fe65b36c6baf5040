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
#include <QVBoxLayout>

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
    resize(560, m_head ? 620 : sizeHint().height());
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
