#include "documentcommands.h"

#include "catalogue/cataloguestate.h"
#include "catalogue/criteria.h"
#include "documentsaver.h"
#include "lister.h"
#include "logging.h"
#include "platform/causetext.h"
#include "platform/shell.h"
#include "platform/urlcachestore.h"
#include "statuspanels.h"
#include "stores/storeregistry.h"
#include "windows/messagebox.h"
#include "windows/propertiesdialog.h"
#include "windows/workprogress.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProgressDialog>

#include <algorithm>
#include <atomic>
#include <map>
#include <set>

DocumentCommands::DocumentCommands(CatalogueState &state, Lister *lister, DocumentSaver &saver, StatusPanels &status,
                                   QWidget *dialogParent, Answerer &answerer)
    : m_state(state),
      m_lister(lister),
      m_saver(saver),
      m_status(status),
      m_dialogParent(dialogParent),
      m_answerer(answerer)
{}

const INTERNET_CACHE_ENTRY_INFOA *DocumentCommands::firstSelected() const
{
    const int row = m_lister->firstSelectedRow();
    const ViewList &view = m_state.view_list;
    return (row >= 0 && std::size_t(row) < view.size()) ? EntryBlock(view[std::size_t(row)]) : nullptr;
}

const INTERNET_CACHE_ENTRY_INFOA *DocumentCommands::firstSelectedLive() const
{
    const int row = m_lister->firstSelectedRow();
    const ViewList &view = m_state.view_list;
    if (row < 0 || std::size_t(row) >= view.size())
        return nullptr;
    // A row of a closed cache reaches nothing, not even its written-out body.
    const URLCACHE_STORE_ID store = EntryStoreId(view[std::size_t(row)]);
    return (store == 0 || UrlCacheStoreById(store)) ? EntryBlock(view[std::size_t(row)]) : nullptr;
}

bool DocumentCommands::localFileReady(const INTERNET_CACHE_ENTRY_INFOA *entry) const
{
    const StoreResult ready = EnsureLocalFile(entry);
    if (ready.ok())
        return true;
    qCWarning(lcStore, "cannot take out the document: %s", ready.reason.c_str());
    m_answerer.tell(
        QStringLiteral("无法取出缓存文档：%1。\n%2").arg(CauseText(ready.error), QString::fromUtf8(SourceUrl(*entry))),
        MB::ICONWARNING);
    return false;
}

void DocumentCommands::AOpenDocExecute()
{
    // Double click and Enter reach this without the action's enabled test.
    if (const auto *entry = firstSelectedLive(); entry && localFileReady(entry))
        OpenWithDefaultApplication(QString::fromUtf8(LocalFileName(*entry)));
}

void DocumentCommands::ADocinfoExecute()
{
    if (const auto *entry = firstSelectedLive(); entry && localFileReady(entry))
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

std::vector<KeyRemoval> DocumentCommands::removeEntries(const std::vector<URLCACHE_STORE_ID> &stores,
                                                        const std::vector<std::string> &keys)
{
    // The store works on a thread of its own; the window keeps painting, and the dialog,
    // shown when the work takes a while, can stop it before the next entry.
    QProgressDialog progress(QStringLiteral("正在删除缓存文档..."), QStringLiteral("取消"), 0, int(keys.size()),
                             m_dialogParent);
    PrepareWorkProgress(progress, QStringLiteral("frm_deleteprogress"), QStringLiteral("删除"));
    std::atomic<std::size_t> done{0};
    std::atomic<bool> waiting{false};
    std::atomic<bool> stop{false};
    std::vector<KeyRemoval> results;
    const auto work = [&] {
        // Each key goes to the store its entry was read from, in one pass per store; another
        // open cache may hold the same keys.
        results.resize(keys.size());
        std::map<URLCACHE_STORE_ID, std::vector<std::size_t>> byStore;
        for (std::size_t i = 0; i < keys.size() && i < stores.size(); ++i)
            byStore[stores[i]].push_back(i);
        std::size_t before = 0;
        for (const auto &[store, indexes] : byStore) {
            std::vector<std::string> part;
            part.reserve(indexes.size());
            for (const std::size_t i : indexes)
                part.push_back(keys[i]);
            const std::vector<KeyRemoval> partResults =
                DeleteUrlCacheEntriesInStore(store, part, [&](std::size_t reached, bool waits) {
                    done = before + reached;
                    waiting = waits;
                    return !stop.load();
                });
            for (std::size_t j = 0; j < indexes.size(); ++j)
                results[indexes[j]] = j < partResults.size()
                    ? partResults[j]
                    : KeyRemoval{RemovalOutcome::NotTried, StoreError::None, {}};
            before += indexes.size();
        }
    };
    QElapsedTimer clock;
    clock.start();
    const auto tick = [&] {
        if (progress.wasCanceled())
            stop = true;
        progress.setLabelText(waiting ? QStringLiteral("另一个程序正在修改这个缓存，等它完成后再删除...")
                                      : QStringLiteral("正在删除缓存文档..."));
        progress.setValue(int(done));
        if (!progress.isVisible() && clock.elapsed() >= 400)
            progress.show();
    };
    RunOffWindowThread(work, tick, 50, [&stop] { stop = true; });
    return results;
}

void DocumentCommands::ADeleteDocExecute()
{
    if (m_answerer.ask(QStringLiteral("确实要删除选定的缓存文档吗？"), MB::YESNO | MB::ICONQUESTION) != IDYES)
        return;
    ViewList &view = m_state.view_list;
    const QList<int> rows = m_lister->selectedRows();
    m_lister->deselectAll();
    // Deleted by its key: a browser keeps one URL under several keys. The rows are known by
    // their blocks, which the copies keep alive whatever the list does meanwhile.
    // Each in the store it was read from.
    ViewList records;
    std::vector<std::string> keys;
    std::vector<URLCACHE_STORE_ID> stores;
    for (const int row : rows)
        if (row >= 0 && std::size_t(row) < view.size()) {
            records.push_back(view[std::size_t(row)]);
            keys.emplace_back(EntryKey(view[std::size_t(row)]));
            stores.push_back(EntryStoreId(view[std::size_t(row)]));
        }
    const std::vector<KeyRemoval> results = removeEntries(stores, keys);

    std::set<const INTERNET_CACHE_ENTRY_INFOA *> gone;
    int failed = 0, notTried = 0;
    const KeyRemoval *firstFailure = nullptr;
    URLCACHE_STORE_ID firstStore = 0;
    for (std::size_t i = 0; i < results.size() && i < records.size(); ++i) {
        if (results[i].gone())
            gone.insert(EntryBlock(records[i]));
        else if (results[i].outcome == RemovalOutcome::NotTried)
            ++notTried;
        else if (failed++ == 0) {
            firstFailure = &results[i];
            firstStore = stores[i];
        }
    }
    // Only the rows whose entries left the cache leave the list.
    view.erase(std::remove_if(view.begin(), view.end(),
                              [&](const Tcachedata &row) { return gone.count(EntryBlock(row)) > 0; }),
               view.end());
    emit rowCountChanged(int(view.size()));
    if (!rows.isEmpty())
        m_lister->focusRowOnly(rows.first()); // the row that took the first deleted one's place
    // A cache another program is using shows as such until the list is filled again.
    const bool inUse = firstFailure && firstFailure->error == StoreError::Busy;
    m_status.setText(1,
                     inUse ? QStringLiteral("文档共%1项（缓存正在使用中）").arg(view.size())
                           : QStringLiteral("文档共%1项").arg(view.size()));
    PurgeMissingFiles(m_state.cache_list);
    PurgeMissingFiles(m_state.search_list);
    PurgeMissingFiles(m_state.collect_list);
    emit entriesRemoved();
    QStringList lines;
    if (notTried > 0)
        lines << QStringLiteral("删除已取消，有%1个缓存文档没有删除。").arg(notTried);
    if (failed > 0) {
        QString text = QStringLiteral("有%1个缓存文档未能删除：%2")
                           .arg(failed)
                           .arg(DeleteFailureText(firstFailure->error, UrlCacheStoreById(firstStore).get()));
        // The store's own words are for the log; the box says it in the user's language.
        if (!firstFailure->reason.empty())
            qCWarning(lcStore, "not deleted: %s", firstFailure->reason.c_str());
        lines << text;
    }
    if (!lines.isEmpty())
        m_answerer.tell(lines.join(QLatin1Char('\n')), failed > 0 ? MB::ICONWARNING : MB::ICONINFORMATION);
}

void DocumentCommands::deleteFound()
{
    deleteAll(m_state.search_list);
}

void DocumentCommands::deleteHost(const std::string &host, URLCACHE_STORE_ID store)
{
    // The entries the host's node lists: its URL host byte for byte, in its store.
    CacheList entries;
    for (const CatalogueEntry &e : m_state.cache_list)
        if (UrlHost(SourceUrl(e)) == host && (store == 0 || EntryStoreId(e) == store))
            entries.push_back(e);
    deleteAll(entries);
}

void DocumentCommands::deleteAll(const std::vector<CatalogueEntry> &listed)
{
    // Rows of a closed cache reach nothing: they are neither counted nor deleted.
    CacheList entries;
    for (const CatalogueEntry &e : listed)
        if (EntryStoreId(e) == 0 || UrlCacheStoreById(EntryStoreId(e)))
            entries.push_back(e);
    const EntryTally tally = TallyEntries(entries);
    if (tally.documents == 0)
        return;
    if (m_answerer.ask(QStringLiteral("将删除%1个缓存文档，共%2，来自%3个缓存。确实要删除吗？")
                           .arg(tally.documents)
                           .arg(ByteCountText(tally.bytes))
                           .arg(tally.stores),
                       MB::YESNO | MB::ICONQUESTION)
        != IDYES)
        return;
    std::vector<std::string> keys;
    std::vector<URLCACHE_STORE_ID> stores;
    for (const CatalogueEntry &e : entries) {
        keys.emplace_back(EntryKey(e));
        stores.push_back(EntryStoreId(e));
    }
    m_lister->deselectAll();
    const std::vector<KeyRemoval> results = removeEntries(stores, keys);

    std::set<const INTERNET_CACHE_ENTRY_INFOA *> gone;
    std::size_t failed = 0, notTried = 0;
    std::uint64_t freed = 0;
    std::size_t firstFailure = results.size();
    for (std::size_t i = 0; i < results.size() && i < entries.size(); ++i) {
        if (results[i].gone()) {
            gone.insert(EntryBlock(entries[i]));
            freed += results[i].outcome == RemovalOutcome::Deleted ? EntrySize(*entries[i]) : 0;
        } else if (results[i].outcome == RemovalOutcome::NotTried) {
            ++notTried;
        } else if (failed++ == 0) {
            firstFailure = i;
        }
    }
    // What left the cache leaves every list at once, whether or not a file stood for it.
    const auto isGone = [&gone](const auto &e) { return gone.count(EntryBlock(e)) > 0; };
    std::erase_if(m_state.view_list, isGone);
    std::erase_if(m_state.cache_list, isGone);
    std::erase_if(m_state.search_list, isGone);
    PurgeMissingFiles(m_state.collect_list);
    emit rowCountChanged(int(m_state.view_list.size()));
    const bool inUse = failed > 0 && results[firstFailure].error == StoreError::Busy;
    m_status.setText(1,
                     inUse ? QStringLiteral("文档共%1项（缓存正在使用中）").arg(m_state.view_list.size())
                           : QStringLiteral("文档共%1项").arg(m_state.view_list.size()));
    emit entriesRemoved();

    QString summary = QStringLiteral("已删除%1项，释放%2").arg(gone.size()).arg(ByteCountText(freed));
    if (failed > 0) {
        summary +=
            QStringLiteral("；%1项未能删除：%2")
                .arg(failed)
                .arg(DeleteFailureText(results[firstFailure].error, UrlCacheStoreById(stores[firstFailure]).get()));
        if (!results[firstFailure].reason.empty())
            summary += QStringLiteral("\n（%1）").arg(QString::fromStdString(results[firstFailure].reason));
    }
    if (notTried > 0)
        summary += QStringLiteral("\n删除已取消，有%1个缓存文档没有删除。").arg(notTried);
    m_answerer.tell(summary, failed > 0 ? MB::ICONWARNING : MB::ICONINFORMATION);
}

QString DeleteFailureText(StoreError error, const CacheStore *store)
{
    switch (error) {
    case StoreError::Busy:
        if (store && store->holder() == StoreHolder::Browser && !store->browserName().empty())
            return QStringLiteral("%1 正在使用这个缓存，请先关闭 %1。")
                .arg(QString::fromStdString(store->browserName()));
        return QStringLiteral("先关闭正在使用这个缓存的Wine程序");
    case StoreError::ReadOnly:
        // A store only ever read is so for its whole kind; otherwise its version is too old.
        if (store && store->readOnly())
            return QStringLiteral("%1只能读取，不能删除其中的文档。").arg(QString::fromUtf8(store->kind()->label));
        return QStringLiteral("这种旧版本的缓存索引只能读取。");
    case StoreError::DiskFull:
        return QStringLiteral("磁盘已满，缓存没有改完。");
    case StoreError::IoError:
        return QStringLiteral("读写磁盘时出错，缓存没有改完。");
    case StoreError::Denied:
        return QStringLiteral("没有修改缓存的权限。");
    case StoreError::DiskReadOnly:
        return QStringLiteral("缓存所在的磁盘是只读的。");
    case StoreError::Damaged:
        return QStringLiteral("缓存索引已损坏，不能修改。");
    case StoreError::NotFound:
        return QStringLiteral("缓存中找不到该项。");
    case StoreError::Closed:
        return QStringLiteral("这个缓存已经关闭。");
    default:
        return CauseText(error) + QStringLiteral("。");
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
        m_answerer.tell(QStringLiteral("离线状态未能更改：%1。").arg(CauseText(StoreErrorOfWinInet(GetLastError()))),
                        MB::ICONWARNING);
}
