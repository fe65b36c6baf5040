#include "findbar.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QShortcut>
#include <QToolButton>
#include <QWebEngineFindTextResult>
#include <QWebEnginePage>

FindBar::FindBar(QWidget *parent)
    : QWidget(parent),
      m_field(new QLineEdit(this)),
      m_matchCase(new QCheckBox(QStringLiteral("区分大小写(&C)"), this)),
      m_result(new QLabel(this))
{
    setObjectName(QStringLiteral("FindBar"));
    m_field->setObjectName(QStringLiteral("findText"));
    m_field->setPlaceholderText(QStringLiteral("在网页中查找"));
    m_field->setClearButtonEnabled(true);
    m_matchCase->setObjectName(QStringLiteral("matchCase"));
    m_result->setObjectName(QStringLiteral("findResult"));

    auto *previous = new QToolButton(this);
    previous->setObjectName(QStringLiteral("findPrevious"));
    previous->setText(QStringLiteral("上一个"));
    previous->setToolTip(QStringLiteral("查找上一个 (Shift+Enter)"));
    auto *next = new QToolButton(this);
    next->setObjectName(QStringLiteral("findNext"));
    next->setText(QStringLiteral("下一个"));
    next->setToolTip(QStringLiteral("查找下一个 (Enter)"));
    auto *closer = new QToolButton(this);
    closer->setObjectName(QStringLiteral("findClose"));
    closer->setText(QStringLiteral("×"));
    closer->setToolTip(QStringLiteral("关闭 (Esc)"));
    closer->setAutoRaise(true);

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(4, 2, 4, 2);
    row->addWidget(new QLabel(QStringLiteral("查找:"), this));
    row->addWidget(m_field, 1);
    row->addWidget(previous);
    row->addWidget(next);
    row->addWidget(m_matchCase);
    row->addWidget(m_result);
    row->addWidget(closer);

    connect(m_field, &QLineEdit::returnPressed, this, &FindBar::findNext);
    connect(m_field, &QLineEdit::textChanged, this, &FindBar::findNext);
    connect(m_matchCase, &QCheckBox::toggled, this, &FindBar::restart);
    connect(next, &QToolButton::clicked, this, &FindBar::findNext);
    connect(previous, &QToolButton::clicked, this, &FindBar::findPrevious);
    connect(closer, &QToolButton::clicked, this, &FindBar::close);
    auto *backwards =
        new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_Return), m_field, nullptr, nullptr, Qt::WidgetShortcut);
    connect(backwards, &QShortcut::activated, this, &FindBar::findPrevious);
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
    connect(escape, &QShortcut::activated, this, &FindBar::close);
    hide();
}

void FindBar::setPage(QWebEnginePage *page)
{
    m_page = page;
    if (m_page)
        connect(m_page, &QWebEnginePage::findTextFinished, this, &FindBar::showResult);
}

void FindBar::start()
{
    show();
    m_field->setFocus(Qt::ShortcutFocusReason);
    m_field->selectAll();
}

void FindBar::findNext()
{
    find(false);
}

void FindBar::restart()
{
    // The engine carries on a search of the same text with its old options: end it first.
    if (m_page)
        m_page->findText(QString());
    find(false);
}

void FindBar::findPrevious()
{
    find(true);
}

void FindBar::find(bool backward)
{
    if (!m_page || !isVisible())
        return;
    QWebEnginePage::FindFlags flags;
    if (backward)
        flags |= QWebEnginePage::FindBackward;
    if (m_matchCase->isChecked())
        flags |= QWebEnginePage::FindCaseSensitively;
    if (m_field->text().isEmpty())
        m_result->clear();
    m_page->findText(m_field->text(), flags);
}

void FindBar::showResult(const QWebEngineFindTextResult &result)
{
    if (m_field->text().isEmpty())
        m_result->clear();
    else if (result.numberOfMatches() == 0)
        m_result->setText(QStringLiteral("找不到"));
    else
        m_result->setText(QStringLiteral("%1/%2").arg(result.activeMatch()).arg(result.numberOfMatches()));
}

void FindBar::close()
{
    if (m_page)
        m_page->findText(QString()); // drops the highlighting
    m_result->clear();
    hide();
    if (parentWidget())
        parentWidget()->setFocus(Qt::OtherFocusReason);
}
