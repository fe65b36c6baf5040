#include "documentcommands.h"

#include "catalogue/cataloguestate.h"
#include "documentsaver.h"
#include "lister.h"
#include "platform/causetext.h"
#include "platform/shell.h"
#include "platform/urlcachestore.h"
#include "statuspanels.h"
#include "stores/storeregistry.h"
#include "windows/messagebox.h"
#include "windows/propertiesdialog.h"

#include <QClipboard>
#include <QGuiApplication>

DocumentCommands::DocumentCommands(CatalogueState &state, Lister *lister, DocumentSaver &saver, StatusPanels &status,
                                   QWidget *dialogParent)
    : m_state(state), m_lister(lister), m_saver(saver), m_status(status), m_dialogParent(dialogParent)
{}

const INTERNET_CACHE_ENTRY_INFOA *DocumentCommands::firstSelected() const
{
    const int row = m_lister->firstSelectedRow();
    const ViewList &view = m_state.view_list;
    return (row >= 0 && std::size_t(row) < view.size()) ? EntryBlock(view[std::size_t(row)]) : nullptr;
}

bool DocumentCommands::localFileReady(const INTERNET_CACHE_ENTRY_INFOA *entry) const
{
    std::string why;
    if (EnsureLocalFile(entry, &why))
        return true;
    MsgBox(QStringLiteral("无法取出缓存文档：%1").arg(QString::fromStdString(why)), MB::ICONWARNING);
    return false;
}

void DocumentCommands::AOpenDocExecute()
{
    // Double click and Enter reach this without the action's enabled test.
    if (const auto *entry = firstSelected(); entry && localFileReady(entry))
        OpenWithDefaultApplication(QString::fromUtf8(LocalFileName(*entry)));
}

void DocumentCommands::ADocinfoExecute()
{
    if (const auto *entry = firstSelected(); entry && localFileReady(entry))
        ShowFileProperties(QString::fromUtf8(LocalFileName(*entry)), QString::fromUtf8(SourceUrl(*entry)));
}

void DocumentCommands::ShowFileProperties(const QString &path, const QString &url)
{
    if (!ShowItemPropertiesViaFileManager(path))
        ShowPropertiesDialog(m_dialogParent, path, url);
}

void DocumentCommands::ACopyUrlExecute()
{
    if (const auto *entry = firstSelected())
        QGuiApplication::clipboard()->setText(QString::fromUtf8(SourceUrl(*entry)));
}

void DocumentCommands::ASelectAllExecute()
{
    m_lister->selectAllRows();
}

void DocumentCommands::ADeleteDocExecute()
{
    if (AskBox(QStringLiteral("确实要删除选定的缓存文档吗？"), MB::YESNO | MB::ICONQUESTION) != IDYES)
        return;
    ViewList &view = m_state.view_list;
    const QList<int> rows = m_lister->selectedRows();
    m_lister->deselectAll();
    int failed = 0;
    DWORD firstError = ERROR_SUCCESS;
    std::string firstReason;
    for (auto it = rows.crbegin(); it != rows.crend(); ++it) {
        const auto row = std::size_t(*it);
        if (row >= view.size())
            continue;
        // A failure keeps the file, so the purge below keeps the entry everywhere.
        // Deleted by its key: a browser keeps one URL under several keys.
        if (!DeleteUrlCacheEntry(EntryKey(view[row])) && failed++ == 0) {
            firstError = GetLastError();
            firstReason = LastUrlCacheDeleteReason();
        }
        view.erase(view.begin() + std::ptrdiff_t(row));
    }
    emit rowCountChanged(int(view.size()));
    if (!rows.isEmpty())
        m_lister->focusRowOnly(rows.first()); // the row that took the first deleted one's place
    m_status.setText(1, QStringLiteral("文档共%1项").arg(view.size()));
    PurgeMissingFiles(m_state.cache_list);
    PurgeMissingFiles(m_state.search_list);
    PurgeMissingFiles(m_state.collect_list);
    emit entriesRemoved();
    // The rows leave the list either way; say so when the cache kept some of them.
    if (failed > 0) {
        const std::shared_ptr<CacheStore> store = CurrentUrlCacheStore();
        const StoreKind kind = store ? store->kind() : StoreKind::None;
        const QString browser =
            store ? QString::fromStdString(BrowserNameFor(store->kind(), store->folder())) : QString();
        QString text =
            QStringLiteral("有%1个缓存文档未能删除：%2").arg(failed).arg(DeleteFailureText(firstError, kind, browser));
        if (!firstReason.empty())
            text += QStringLiteral("\n（%1）").arg(QString::fromStdString(firstReason));
        MsgBox(text, MB::ICONWARNING);
    }
}

QString DeleteFailureText(DWORD error, StoreKind kind, const QString &browser)
{
    switch (error) {
    case ERROR_SHARING_VIOLATION:
        if (kind == StoreKind::Firefox || kind == StoreKind::ChromiumSimple || kind == StoreKind::ChromiumBlockfile)
            return QStringLiteral("%1 正在使用这个缓存，请先关闭 %1。").arg(browser);
        return QStringLiteral("缓存正被其他程序使用，请先关闭这些程序（Wine 程序可用 wineserver -k 关闭）。");
    case ERROR_NOT_SUPPORTED:
        if (kind == StoreKind::WinInet)
            return QStringLiteral("这种旧版本的缓存索引只能读取。");
        return QStringLiteral("这种缓存（Chromium 旧式的块文件缓存）只能读取，不能删除其中的文档。");
    case ERROR_DISK_FULL:
        return QStringLiteral("磁盘已满，缓存没有改完。");
    case ERROR_WRITE_FAULT:
        return QStringLiteral("读写磁盘时出错，缓存没有改完。");
    case ERROR_ACCESS_DENIED:
        return QStringLiteral("没有修改缓存的权限。");
    case ERROR_WRITE_PROTECT:
        return QStringLiteral("缓存所在的磁盘是只读的。");
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
    const ViewList &view = m_state.view_list;
    for (int row : m_lister->selectedRows())
        if (std::size_t(row) < view.size())
            entries.push_back(EntryBlock(view[std::size_t(row)]));
    if (!entries.empty())
        m_saver.SaveDocuments(entries);
}

void DocumentCommands::AofflineExecute(bool offline)
{
    // The action has already inverted its check; the next update pass shows the real state.
    if (!SetOffline(offline))
        MsgBox(QStringLiteral("离线状态未能更改：%1。").arg(CauseText(GetLastError())), MB::ICONWARNING);
}
