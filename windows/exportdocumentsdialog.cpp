#include "exportdocumentsdialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

ExportDocumentsDialog::ExportDocumentsDialog(int count, const QString &folder, QWidget *owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("frm_exportdocs"));
    setWindowTitle(QStringLiteral("导出文档"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    auto *what = new QLabel(QStringLiteral("将选定的%1个文档导出到文件夹：").arg(count), this);
    what->setTextFormat(Qt::PlainText);
    m_folder = new QLineEdit(QDir::toNativeSeparators(folder), this);
    m_folder->setObjectName(QStringLiteral("folder"));
    auto *browse = new QPushButton(QStringLiteral("浏览(&B)..."), this);
    browse->setObjectName(QStringLiteral("browse"));
    browse->setAutoDefault(false);
    auto *row = new QHBoxLayout;
    row->addWidget(m_folder, 1);
    row->addWidget(browse);
    m_manifest = new QCheckBox(QStringLiteral("同时写入清单文件 manifest.csv（每个文档的全部字段）(&M)"), this);
    m_manifest->setObjectName(QStringLiteral("manifest"));
    auto *note = new QLabel(QStringLiteral("文档以网址中的名称保存，同名时加上编号，不会替换已有的文件。"), this);
    note->setTextFormat(Qt::PlainText);
    note->setWordWrap(true);

    auto *buttons = new QDialogButtonBox(this);
    m_ok = buttons->addButton(QStringLiteral("导出"), QDialogButtonBox::AcceptRole);
    m_ok->setObjectName(QStringLiteral("ok"));
    buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(browse, &QPushButton::clicked, this, &ExportDocumentsDialog::browse);
    connect(m_folder, &QLineEdit::textChanged, this, &ExportDocumentsDialog::updateOk);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(what);
    layout->addLayout(row);
    layout->addWidget(m_manifest);
    layout->addWidget(note);
    layout->addStretch();
    layout->addWidget(buttons);
    updateOk();
    resize(qMax(sizeHint().width(), 460), sizeHint().height());
}

ExportDocumentsChoice ExportDocumentsDialog::choice() const
{
    return {QDir::fromNativeSeparators(m_folder->text().trimmed()), m_manifest->isChecked()};
}

void ExportDocumentsDialog::browse()
{
    const QString chosen = QFileDialog::getExistingDirectory(this, QStringLiteral("选择文件夹"), choice().folder);
    if (!chosen.isEmpty())
        m_folder->setText(QDir::toNativeSeparators(chosen));
}

void ExportDocumentsDialog::updateOk()
{
    m_ok->setEnabled(!m_folder->text().trimmed().isEmpty());
}

std::optional<ExportDocumentsChoice> AskExportDocuments(QWidget *owner, int count, const QString &folder)
{
    ExportDocumentsDialog dialog(count, folder, owner);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.choice();
}
