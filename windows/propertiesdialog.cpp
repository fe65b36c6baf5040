#include "propertiesdialog.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMimeDatabase>
#include <QVBoxLayout>

namespace {

QString timeText(const QDateTime &time)
{
    return time.isValid() ? time.toString(QStringLiteral("yyyy年M月d日 HH:mm:ss")) : QString();
}

} // namespace

QString PermissionsText(QFileDevice::Permissions permissions, bool isDir)
{
    static constexpr struct {
        QFileDevice::Permission flag;
        char letter;
    } bits[] = {
        {QFileDevice::ReadOwner, 'r'}, {QFileDevice::WriteOwner, 'w'}, {QFileDevice::ExeOwner, 'x'},
        {QFileDevice::ReadGroup, 'r'}, {QFileDevice::WriteGroup, 'w'}, {QFileDevice::ExeGroup, 'x'},
        {QFileDevice::ReadOther, 'r'}, {QFileDevice::WriteOther, 'w'}, {QFileDevice::ExeOther, 'x'},
    };
    QString text(isDir ? QLatin1Char('d') : QLatin1Char('-'));
    for (const auto &bit : bits)
        text += permissions.testFlag(bit.flag) ? QLatin1Char(bit.letter) : QLatin1Char('-');
    return text;
}

QString SizeText(qint64 bytes)
{
    const QLocale locale;
    const QString exact = QStringLiteral("%1 字节").arg(locale.toString(bytes));
    if (bytes < 1024)
        return exact;
    return QStringLiteral("%1 (%2)").arg(locale.formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat), exact);
}

PropertiesDialog::PropertiesDialog(const QString &path, const QString &url, QWidget *owner) : QDialog(owner)
{
    const QFileInfo info(path);
    setObjectName(QStringLiteral("PropertiesDialog"));
    setWindowTitle(QStringLiteral("%1 属性").arg(info.fileName()));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    m_form = new QFormLayout;
    addField(QStringLiteral("name"), QStringLiteral("名称："), info.fileName());
    if (info.exists()) {
        const QMimeType type = QMimeDatabase().mimeTypeForFile(info);
        addField(QStringLiteral("type"), QStringLiteral("类型："), type.comment());
    }
    addField(QStringLiteral("location"), QStringLiteral("位置："), QDir::toNativeSeparators(info.absolutePath()));
    if (info.exists()) {
        addField(QStringLiteral("size"), QStringLiteral("大小："), SizeText(info.size()));
        addField(QStringLiteral("modified"), QStringLiteral("修改时间："), timeText(info.lastModified()));
        addField(QStringLiteral("accessed"), QStringLiteral("访问时间："), timeText(info.lastRead()));
        addField(QStringLiteral("permissions"), QStringLiteral("权限："),
                 PermissionsText(info.permissions(), info.isDir()));
        addField(QStringLiteral("owner"), QStringLiteral("所有者："),
                 QStringLiteral("%1 / %2").arg(info.owner(), info.group()));
    } else {
        addField(QStringLiteral("size"), QStringLiteral("大小："), QStringLiteral("文件不存在"));
    }
    // A URL can be far longer than any window is wide: a line that scrolls and selects.
    auto *urlField = new QLineEdit(url, this);
    urlField->setObjectName(QStringLiteral("url"));
    urlField->setReadOnly(true);
    urlField->setCursorPosition(0);
    m_form->addRow(QStringLiteral("网址："), urlField);

    auto *buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("确定"), QDialogButtonBox::AcceptRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(m_form);
    layout->addStretch();
    layout->addWidget(buttons);
    resize(qMax(sizeHint().width(), 380), sizeHint().height());
}

void PropertiesDialog::addField(const QString &name, const QString &label, const QString &value)
{
    auto *field = new QLabel(value, this);
    field->setObjectName(name);
    field->setTextFormat(Qt::PlainText);
    field->setTextInteractionFlags(Qt::TextSelectableByMouse);
    field->setWordWrap(true);
    m_form->addRow(label, field);
}

QString PropertiesDialog::fieldText(const QString &name) const
{
    if (const auto *label = findChild<QLabel *>(name, Qt::FindDirectChildrenOnly))
        return label->text();
    if (const auto *line = findChild<QLineEdit *>(name, Qt::FindDirectChildrenOnly))
        return line->text();
    return QString();
}

void ShowPropertiesDialog(QWidget *owner, const QString &path, const QString &url)
{
    auto *dialog = new PropertiesDialog(path, url, owner);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
}
