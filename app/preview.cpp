#include "preview.h"

#include "catalogue/cataloguestate.h"
#include "catalogue/text.h"
#include "lister.h"
#include "platform/browser/browser.h"
#include "platform/cachefile.h"
#include "platform/causetext.h"
#include "platform/urlcachestore.h"
#include "settingsfile.h"
#include "statuspanels.h"
#include "stores/storeentry.h"
#include "windows/messagebox.h"

#include <QApplication>
#include <QFile>
#include <QItemSelectionModel>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineView>

QString BreakLongLines(const QString &text, qsizetype longest)
{
    if (longest < 2 || text.size() <= longest)
        return text;
    QString result;
    qsizetype run = 0; // characters since the last line break
    qsizetype from = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('\n')) {
            run = 0;
            continue;
        }
        // Never between the two halves of a surrogate pair.
        if (run >= longest && !text.at(i).isLowSurrogate()) {
            if (result.isEmpty())
                result.reserve(text.size() + text.size() / longest + 1);
            result.append(QStringView(text).mid(from, i - from));
            result.append(QLatin1Char('\n'));
            from = i;
            run = 0;
        }
        ++run;
    }
    if (result.isEmpty())
        return text;
    result.append(QStringView(text).mid(from));
    return result;
}

std::optional<PreviewText> ReadPreviewText(const QString &path, qint64 limit)
{
    QFile file;
    if (!OpenCacheFile(file, path))
        return std::nullopt;
    const QByteArray bytes = file.read(limit);
    PreviewText result;
    result.cut = !file.atEnd();

    // The decoders are stateful: a character cut at the limit is left out, not an error.
    result.text = DecodeLocalText(bytes);
    // A NUL would end the text in the viewer; binary files still show all their bytes.
    result.text.replace(QChar(0), QChar(0x2400));
    // The viewer lays out a whole line at once: a file without line breaks would take
    // minutes. In pieces it shows at once, and the pieces wrap as the line would have.
    result.text = BreakLongLines(result.text, kPreviewLineLimit);
    if (result.cut)
        result.text +=
            QStringLiteral("\n\n[文件太大，只显示了前 %1 MB，其余部分已截去。]\n").arg(limit / (1024 * 1024));
    return result;
}

namespace {

// The index's keys start with the entry's store.
QByteArray storeKey(URLCACHE_STORE_ID store)
{
    return QByteArray::number(store) + ' ';
}

// Why a cache file does not open, in a phrase.
QString unopenableCause(const QString &path)
{
    const CacheFile file = CacheFile::open(QFile::encodeName(path).constData());
    switch (file.refusal()) {
    case CacheFileRefusal::None:
        return QStringLiteral("读取时出错");
    case CacheFileRefusal::Missing:
        return CauseText(StoreError::NotFound);
    case CacheFileRefusal::NotRegular:
        return QStringLiteral("它不是普通文件");
    case CacheFileRefusal::OutsideStore:
        return QStringLiteral("它是指向缓存以外的链接");
    case CacheFileRefusal::Unreadable:
        break;
    }
    return QStringLiteral("无法读取（%1）").arg(file.reason());
}

} // namespace

bool CachedUrlIndex::catalogueChanged() const
{
    if (!m_built || m_catalogue.size() != m_size)
        return true;
    return !m_catalogue.empty() && (m_front.lock() != m_catalogue.front() || m_back.lock() != m_catalogue.back());
}

void CachedUrlIndex::rebuild()
{
    m_byUrl.clear();
    m_byUrl.reserve(qsizetype(m_catalogue.size()) * 2);
    for (const CatalogueEntry &entry : m_catalogue) {
        if (!entry || !entry->lpszLocalFileName || !entry->lpszSourceUrlName)
            continue;
        const QByteArray store = storeKey(EntryStoreId(entry));
        const QByteArray url(SourceUrl(*entry));
        m_byUrl.insert(store + url, entry);
        // The browser asks with the URL in its normal form: escaped, host in lower case.
        const QByteArray normal = QUrl(QString::fromUtf8(url)).adjusted(QUrl::RemoveFragment).toEncoded();
        if (!normal.isEmpty() && !m_byUrl.contains(store + normal))
            m_byUrl.insert(store + normal, entry);
    }
    m_size = m_catalogue.size();
    m_front = m_catalogue.empty() ? WeakEntry() : WeakEntry(m_catalogue.front());
    m_back = m_catalogue.empty() ? WeakEntry() : WeakEntry(m_catalogue.back());
    m_built = true;
}

CachedLocalFile CachedUrlIndex::localFile(const QByteArray &url)
{
    if (catalogueChanged())
        rebuild();
    const auto found = m_byUrl.constFind(storeKey(m_store ? m_store : CurrentUrlCacheStoreId()) + url);
    if (found == m_byUrl.constEnd())
        return std::nullopt;
    const CatalogueEntry entry = found->lock();
    if (!entry)
        return std::nullopt;
    // A browser cache's body becomes a file when the page asks for it, off the window's
    // thread: decoding it may take long. The entry block stays alive with the task.
    auto written = [entry]() -> CachedLocalFile {
        if (const StoreResult ready = EnsureLocalFile(entry); !ready.ok()) {
            CachedLocalFile failed;
            failed.problem = CauseText(ready.error);
            return failed;
        }
        return std::optional(std::string(LocalFileName(*entry)));
    };
    if (!BodyInContainer(entry.get()))
        return written(); // a file of its own: only looked at
    CachedLocalFile later;
    later.make = written;
    return later;
}

PreviewPane::PreviewPane(const CatalogueState &state, Tsettingdata &settings, const Controls &controls,
                         StatusPanels &status, Answerer &answerer)
    : m_state(state),
      m_settings(settings),
      m_controls(controls),
      m_status(status),
      m_answerer(answerer),
      m_index(state.cache_list)
{
    m_controls.browser->setCacheLookup([this](const QByteArray &url) { return m_index.localFile(url); });
    connect(m_controls.browser, &Browser::NewWindow2, this, &PreviewPane::Web1NewWindow2, Qt::DirectConnection);
    connect(m_controls.browser, &Browser::failed, this,
            [this](const QString &text) { m_answerer.tell(text, MB::ICONWARNING); });
    connect(m_controls.lister, &Lister::rowStateChanged, this, &PreviewPane::listerChange);
}

PreviewPane::~PreviewPane()
{
    m_controls.browser->setCacheLookup({});
}

bool PreviewPane::rowIsFocusedAndSelected(int row) const
{
    const QItemSelectionModel *selection = m_controls.lister->selectionModel();
    if (!selection)
        return false;
    const QModelIndex focused = selection->currentIndex();
    return focused.isValid() && focused.row() == row && selection->isRowSelected(row, focused.parent());
}

void PreviewPane::listerChange(int row)
{
    const ViewList &rows = m_state.view_list;
    if (row < 0 || std::size_t(row) >= rows.size() || m_settings.viewdoc == 0 || !m_state.list_ready
        || !rowIsFocusedAndSelected(row))
        return;
    const Tcachedata &record = rows[std::size_t(row)];
    m_index.setStore(EntryStoreId(record));
    m_status.setText(2, QString::fromUtf8(SourceUrl(record)));
    if (IsPlainTextDocument(LocalFileName(record))) {
        m_controls.browser->setVisibleFlag(false);
        m_controls.editor->show();
        m_controls.editor->raise();
        // A body kept inside the browser's files that cannot be written out is there all the
        // same: the message says why it cannot be shown. A missing file of its own is told below.
        const bool inContainer = BodyInContainer(EntryBlock(record));
        if (const StoreResult ready = EnsureLocalFile(record); !ready.ok() && inContainer) {
            m_answerer.report(QStringLiteral("无法显示该文档：它在缓存中，但未能取出（%1）。\n%2")
                                  .arg(CauseText(ready.error), QString::fromUtf8(SourceUrl(record))));
            return;
        }
        showText(LocalFileName(record));
    } else {
        m_controls.editor->hide();
        m_controls.browser->setVisibleFlag(true);
        const QString refused = m_controls.browser->Navigate(QString::fromUtf8(SourceUrl(record)));
        if (!refused.isEmpty())
            m_answerer.report(refused);
    }
}

bool PreviewPane::copySelection()
{
    const QWidget *focused = QApplication::focusWidget();
    if (!focused)
        return false;
    auto within = [focused](const QWidget *viewer) {
        return viewer && viewer->isVisible() && (viewer == focused || viewer->isAncestorOf(focused));
    };
    QPlainTextEdit *editor = m_controls.editor;
    if (within(editor) && editor->textCursor().hasSelection()) {
        editor->copy();
        return true;
    }
    QWebEngineView *view = m_controls.browser->view();
    if (within(view) && view->hasSelection()) {
        view->triggerPageAction(QWebEnginePage::Copy);
        return true;
    }
    return false;
}

void PreviewPane::showText(const char *localFile)
{
    const QString path = QString::fromUtf8(localFile);
    const std::optional<PreviewText> text = ReadPreviewText(path);
    if (!text) {
        m_answerer.report(QStringLiteral("无法打开文件 %1：%2。").arg(path, unopenableCause(path)));
        return;
    }
    m_controls.editor->setPlainText(text->text);
}

int PreviewPane::listHeight() const
{
    // Until the window is first laid out the list has no height of its own on screen.
    return m_controls.lister->isVisible() ? m_controls.lister->height() : m_unlaidListHeight;
}

void PreviewPane::ShowPreview(bool visible)
{
    QSplitter *splitter = m_controls.splitter;
    if (visible) {
        const int height = std::max(0, int(m_settings.listheight));
        m_unlaidListHeight = height;
        m_controls.pane->show();
        // The pane stretches and the list does not: the list takes exactly its height.
        const int rest = std::max(1, splitter->height() - splitter->handleWidth() - height);
        splitter->setSizes({height, rest});
        splitter->handle(1)->show();
    } else {
        splitter->handle(1)->hide();
        m_controls.pane->hide();
        m_settings.listheight = listHeight();
    }
}

void PreviewPane::m_viewdocClick(bool checked)
{
    m_settings.viewdoc = checked ? 1 : 0;
    ShowPreview(checked);
}

void PreviewPane::Web1NewWindow2(Browser **ppDisp)
{
    if (ppDisp)
        *ppDisp = m_controls.browser;
}

void PreviewPane::BrowserCommand(int command)
{
    Browser *browser = m_controls.browser;
    if (!browser->hasDocument())
        return;
    switch (command) {
    case HTMLID_FIND:
        browser->find();
        break;
    case HTMLID_OPTIONS:
        browser->internetOptions();
        break;
    default:
        break;
    }
}

void PreviewPane::AFindInWebExecute()
{
    BrowserCommand(HTMLID_FIND);
}

void PreviewPane::AInternetOptionExecute()
{
    BrowserCommand(HTMLID_OPTIONS);
}

void PreviewPane::ASaveWebasExecute()
{
    if (m_controls.browser->canSave())
        m_controls.browser->saveAs();
}
