#include "copydialog.h"

#include "windows/messagebox.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

std::function<ReplaceAnswer(const ReplaceQuestion &)> &replaceResponder()
{
    static std::function<ReplaceAnswer(const ReplaceQuestion &)> r;
    return r;
}

ReplaceAnswer askReplace(QWidget *owner, const QString &destination)
{
    ReplaceQuestion question;
    question.destination = destination;
    question.text = QStringLiteral("目标位置已有文件“%1”。要替换它吗？").arg(QFileInfo(destination).fileName());
    if (replaceResponder())
        return replaceResponder()(question);

    QMessageBox box(owner);
    box.setWindowTitle(QStringLiteral("提示"));
    box.setTextFormat(Qt::PlainText); // the file's name as it is, whatever it holds
    box.setText(question.text);
    box.setIcon(QMessageBox::Question);
    box.setWindowModality(Qt::ApplicationModal);
    QPushButton *yes = box.addButton(QStringLiteral("是"), QMessageBox::YesRole);
    QPushButton *yesToAll = box.addButton(QStringLiteral("全部是"), QMessageBox::YesRole);
    QPushButton *no = box.addButton(QStringLiteral("否"), QMessageBox::NoRole);
    QPushButton *cancel = box.addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(cancel);
    box.exec();
    QAbstractButton *pressed = box.clickedButton();
    if (pressed == yes)
        return ReplaceAnswer::Yes;
    if (pressed == yesToAll)
        return ReplaceAnswer::YesToAll;
    if (pressed == no)
        return ReplaceAnswer::No;
    return ReplaceAnswer::Cancel;
}

// Reports a failed file; with more files to come, asks whether to go on with them.
bool reportFailure(Answerer &answerer, QWidget *owner, const CopyFailure &failure, int fileCount)
{
    QString text = QStringLiteral("无法复制“%1”：%2").arg(QFileInfo(failure.source).fileName(), CopyErrorText(failure));
    if (failure.index + 1 >= fileCount) {
        answerer.answer({QStringLiteral("提示"), text, MB::OK | MB::ICONERROR, {}, owner});
        return true;
    }
    text += QStringLiteral("\n\n要继续复制其余的文件吗？");
    return answerer.answer({QStringLiteral("提示"), text, MB::YESNO | MB::ICONERROR, {}, owner}) == IDYES;
}

} // namespace

void SetReplaceQuestionResponder(std::function<ReplaceAnswer(const ReplaceQuestion &)> r)
{
    replaceResponder() = std::move(r);
}

QString CopyErrorText(const CopyFailure &failure)
{
    switch (failure.error) {
    case CopyError::SourceMissing:
        return QStringLiteral("源文件不存在。");
    case CopyError::SourceUnreadable:
        return QStringLiteral("无法读取源文件。");
    case CopyError::TargetFolderMissing:
        return QStringLiteral("目标文件夹不存在。");
    case CopyError::TargetFolderNotWritable:
        return QStringLiteral("没有写入目标文件夹的权限。");
    case CopyError::DiskFull:
        return QStringLiteral("磁盘空间不足。");
    case CopyError::SameFile:
        return QStringLiteral("源文件和目标文件是同一个文件。");
    case CopyError::TargetIsDirectory:
        return QStringLiteral("目标位置已有同名的文件夹。");
    case CopyError::ReadFailed:
        return failure.detail.isEmpty() ? QStringLiteral("读取源文件时出错。")
                                        : QStringLiteral("读取源文件时出错（%1）。").arg(failure.detail);
    case CopyError::WriteFailed:
        break;
    }
    return failure.detail.isEmpty() ? QStringLiteral("写入目标文件时出错。")
                                    : QStringLiteral("写入目标文件时出错（%1）。").arg(failure.detail);
}

CopyProgressWindow::CopyProgressWindow(QWidget *owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("CopyProgressWindow"));
    setWindowTitle(QStringLiteral("复制文档..."));
    setWindowModality(Qt::ApplicationModal);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    m_bar = new QProgressBar(this);
    m_bar->setRange(0, 1000);
    m_bar->setValue(0);
    m_bar->setTextVisible(false);
    m_bar->setMinimumWidth(320);

    m_cancel = new QPushButton(QStringLiteral("取消"), this);
    m_cancel->setObjectName(QStringLiteral("cancelButton"));
    connect(m_cancel, &QPushButton::clicked, this, &CopyProgressWindow::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_bar);
    layout->addWidget(m_cancel, 0, Qt::AlignRight);
    setFixedSize(sizeHint());
}

bool CopyProgressWindow::updateProgress(const CopyProgress &progress)
{
    const int value = progress.bytesTotal > 0
        ? int(progress.bytesDone * 1000 / progress.bytesTotal)
        : (progress.fileCount > 0 ? progress.fileIndex * 1000 / progress.fileCount : 0);
    m_bar->setValue(qBound(0, value, 1000));
    if (!m_sincePaint.isValid() || m_sincePaint.elapsed() >= PaintIntervalMs) {
        QCoreApplication::processEvents();
        m_sincePaint.restart();
    }
    return !m_cancelled;
}

void CopyProgressWindow::reject()
{
    m_cancelled = true;
}

void CopyProgressWindow::closeEvent(QCloseEvent *event)
{
    // The copy decides when the window goes; the close box only asks it to stop.
    m_cancelled = true;
    event->ignore();
}

CopyResult RunCopyWithProgress(QWidget *owner, Answerer &answerer, const QStringList &sources, const QString &target)
{
    CopyProgressWindow window(owner);
    window.show();
    QCoreApplication::processEvents();

    CopyCallbacks callbacks;
    callbacks.progress = [&window](const CopyProgress &progress) { return window.updateProgress(progress); };
    callbacks.askReplace = [&window](const QString &destination, int) { return askReplace(&window, destination); };
    const int fileCount = int(sources.size());
    callbacks.failed = [&answerer, &window, fileCount](const CopyFailure &failure) {
        return reportFailure(answerer, &window, failure, fileCount);
    };
    const CopyResult result = CopyFiles(sources, target, callbacks);
    window.hide();
    return result;
}
