#include "documentsaver.h"

#include "catalogue/entry.h"
#include "catalogue/text.h"
#include "windows/copydialog.h"

#include <QFileDialog>
#include <QStringList>

void EnsureTrailingSlash(std::string &path)
{
    if (path.empty() || path.back() != '/')
        path += '/';
}

QString DocumentSaver::askSavePath(const QString &proposed)
{
    if (m_saveDialog)
        return m_saveDialog(proposed);
    // The copy asks before replacing, so the dialog must not ask as well.
    return QFileDialog::getSaveFileName(m_dialogParent, QString(), proposed, QString(), nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

void DocumentSaver::SaveDocuments(const std::vector<const INTERNET_CACHE_ENTRY_INFOA *> &entries)
{
    if (entries.empty())
        return;
    const QString proposed = entries.size() == 1
        ? QString::fromUtf8(std::string(FileNamePart(LocalFileName(*entries.front()))))
        : QStringLiteral("多个文件");
    const QString chosen = askSavePath(proposed);
    if (chosen.isEmpty())
        return;
    const std::string path = chosen.toStdString();
    std::string folder(FolderPart(path));
    EnsureTrailingSlash(folder);

    QStringList sources;
    for (const auto *entry : entries) {
        // A browser cache's body is written out first; one that cannot be is reported by the
        // copy like any file that is gone.
        EnsureLocalFile(entry);
        sources << QString::fromUtf8(LocalFileName(*entry));
    }
    // One file takes exactly the name given; several keep their own names in the folder.
    const std::string target = entries.size() == 1 ? folder + std::string(FileNamePart(path)) : folder;
    RunCopyWithProgress(m_dialogParent, m_answerer, sources, QString::fromStdString(target));
}
