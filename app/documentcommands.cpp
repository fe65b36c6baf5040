#include "documentcommands.h"

#include "collectbox.h"
#include "documentlist.h"
#include "lister.h"
#include "mainwindow.h"
#include "platform/browser/browser.h"
#include "platform/shell.h"
#include "windows/copydialog.h"
#include "windows/messagebox.h"
#include "windows/propertiesdialog.h"

#include <QAction>
#include <QClipboard>
#include <QFileDialog>
#include <QGuiApplication>
#include <QTreeWidget>

void AddBackslash(std::string &path)
{
    if (path.empty() || path.back() != '/')
        path += '/';
}

DocumentCommands::DocumentCommands(Tfrm_cache &form) : QObject(&form), m_form(form)
{}

void DocumentCommands::ActionList1Update()
{
    const bool sel = m_form.lister->firstSelectedRow() >= 0;
    const bool rows = m_form.lister->rowCount() > 0;
    const bool doc = m_form.Web1->hasDocument();
    const bool shown = m_form.Web1->Visible();
    const QTreeWidgetItem *node = m_form.Tree->currentItem();
    const bool inBox = node && node == m_form.TreeNode(CollectRoot);
    const bool boxFull = !m_form.state.collect_list.empty();

    for (QAction *a : {m_form.ADocinfo, m_form.AOpenDoc, m_form.ADeleteDoc, m_form.ASaveDocas, m_form.ACopyUrl})
        a->setEnabled(sel);
    m_form.ASaveWebas->setEnabled(sel && shown);
    m_form.ASendtoBox->setEnabled(sel && !inBox);
    m_form.ASelectAll->setEnabled(rows);
    m_form.AInternetOption->setEnabled(doc);
    m_form.ARemoveCollectDoc->setEnabled(inBox && sel);
    m_form.AClearCollectDoc->setEnabled(boxFull);
    m_form.ASaveAllCollectDoc->setEnabled(boxFull);
    m_form.AFindInWeb->setEnabled(doc && sel && shown);
    m_form.Aoffline->setChecked(IsOffline());
}

const INTERNET_CACHE_ENTRY_INFOA *DocumentCommands::firstSelected() const
{
    const int row = m_form.lister->firstSelectedRow();
    const ViewList &view = m_form.state.view_list;
    return (row >= 0 && std::size_t(row) < view.size()) ? &view[std::size_t(row)].header : nullptr;
}

void DocumentCommands::AOpenDocExecute()
{
    // Double click and Enter reach this without the action's enabled test.
    if (const auto *entry = firstSelected())
        OpenWithDefaultApplication(QString::fromUtf8(LocalFileName(*entry)));
}

void DocumentCommands::ADocinfoExecute()
{
    if (const auto *entry = firstSelected())
        ShowFileProperties(QString::fromUtf8(LocalFileName(*entry)), QString::fromUtf8(SourceUrl(*entry)));
}

void DocumentCommands::ShowFileProperties(const QString &path, const QString &url)
{
    if (!ShowItemPropertiesViaFileManager(path))
        ShowPropertiesDialog(&m_form, path, url);
}

void DocumentCommands::ACopyUrlExecute()
{
    if (const auto *entry = firstSelected())
        QGuiApplication::clipboard()->setText(QString::fromUtf8(SourceUrl(*entry)));
}

void DocumentCommands::ASelectAllExecute()
{
    m_form.lister->selectAllRows();
}

void DocumentCommands::ADeleteDocExecute()
{
    if (AskBox(QStringLiteral("确实要删除选定的缓存文档吗？"), MB::YESNO | MB::ICONQUESTION) != IDYES)
        return;
    CatalogueState &state = m_form.state;
    const QList<int> rows = m_form.lister->selectedRows();
    int failed = 0;
    DWORD firstError = ERROR_SUCCESS;
    for (auto it = rows.crbegin(); it != rows.crend(); ++it) {
        const auto row = std::size_t(*it);
        if (row >= state.view_list.size())
            continue;
        // A failure keeps the file, so the purge below keeps the entry everywhere.
        if (!DeleteUrlCacheEntry(SourceUrl(state.view_list[row])) && failed++ == 0)
            firstError = GetLastError();
        state.view_list.erase(state.view_list.begin() + std::ptrdiff_t(row));
    }
    m_form.documents->SetRowCount(int(state.view_list.size()));
    m_form.SetStatusText(1, QStringLiteral("文档共%1项").arg(state.view_list.size()));
    PurgeMissingFiles(state.cache_list);
    PurgeMissingFiles(state.search_list);
    PurgeMissingFiles(state.collect_list);
    m_form.collectBox->UpdateCollectNode();
    m_form.UpdateSearchNode();
    // The rows leave the list either way; say so when the cache kept some of them.
    if (failed > 0)
        MsgBox(QStringLiteral("有%1个缓存文档未能删除：%2").arg(failed).arg(DeleteFailureText(firstError)),
               MB::ICONWARNING);
}

QString DeleteFailureText(DWORD error)
{
    switch (error) {
    case ERROR_SHARING_VIOLATION:
        return QStringLiteral("缓存正被其他程序使用，请先关闭这些程序（Wine 程序可用 wineserver -k 关闭）。");
    case ERROR_ACCESS_DENIED:
        return QStringLiteral("没有修改缓存的权限。");
    case ERROR_WRITE_PROTECT:
        return QStringLiteral("这种旧版本的缓存索引只能读取。");
    case ERROR_FILE_CORRUPT:
        return QStringLiteral("缓存索引已损坏，不能修改。");
    case ERROR_FILE_NOT_FOUND:
        return QStringLiteral("缓存中找不到该项。");
    default:
        return QStringLiteral("错误代码 %1。").arg(error);
    }
}

void DocumentCommands::ASaveDocasExecute()
{
    std::vector<const INTERNET_CACHE_ENTRY_INFOA *> entries;
    const ViewList &view = m_form.state.view_list;
    for (int row : m_form.lister->selectedRows())
        if (std::size_t(row) < view.size())
            entries.push_back(&view[std::size_t(row)].header);
    if (!entries.empty())
        SaveDocuments(entries);
}

QString DocumentCommands::askSavePath(const QString &proposed)
{
    if (m_saveDialog)
        return m_saveDialog(proposed);
    // The copy asks before replacing, so the dialog must not ask as well.
    return QFileDialog::getSaveFileName(&m_form, QString(), proposed, QString(), nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

void DocumentCommands::SaveDocuments(const std::vector<const INTERNET_CACHE_ENTRY_INFOA *> &entries)
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
    AddBackslash(folder);

    QStringList sources;
    for (const auto *entry : entries)
        sources << QString::fromUtf8(LocalFileName(*entry));
    // One file takes exactly the name given; several keep their own names in the folder.
    const std::string target = entries.size() == 1 ? folder + std::string(FileNamePart(path)) : folder;
    RunCopyWithProgress(&m_form, sources, QString::fromStdString(target));
}

void DocumentCommands::AofflineExecute()
{
    // The action has already inverted its check; the next update pass shows the real state.
    SetOffline(m_form.Aoffline->isChecked());
}
