#pragma once
// The preview pane: plain-text documents in the text viewer, everything else in the
// browser; switching the pane on and off; the browser's own commands (find in page,
// Internet options, save web page); and the cache lookup that serves the browser offline.

#include "catalogue/entry.h"
#include "platform/browser/offlineserving.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>

#include <optional>
#include <string>

class Answerer;
struct CatalogueState;
struct Tsettingdata;
class Browser;
class Lister;
class QPlainTextEdit;
class QSplitter;
class QWidget;
class StatusPanels;

// At most this much of a local file goes into the text viewer; the rest is cut, with a note.
inline constexpr qint64 kPreviewTextLimit = 2 * 1024 * 1024;
// The list's height in the window's design, which it has until the pane is first applied.
inline constexpr int kDesignedListHeight = 105;

// Longer lines are shown in pieces of this many characters.
inline constexpr qsizetype kPreviewLineLimit = 4096;

// `text` with a line break put in wherever a line has run `longest` characters.
QString BreakLongLines(const QString &text, qsizetype longest);

struct PreviewText {
    QString text;
    bool cut = false; // the file is longer than what `text` shows
};

// Reads at most `limit` bytes of `path` as text: UTF-8 where those bytes are valid UTF-8,
// GBK otherwise, its long lines broken (BreakLongLines). No value when the file cannot be
// opened as a cache file (cachefile.h).
std::optional<PreviewText> ReadPreviewText(const QString &path, qint64 limit = kPreviewTextLimit);

// Finds a catalogue entry's local file by the entry's URL, for the offline preview, among
// the entries of one store: a page is served only from the cache it came from. The index is
// built on first use and again whenever the catalogue has changed.
class CachedUrlIndex {
public:
    explicit CachedUrlIndex(const CacheList &catalogue) : m_catalogue(catalogue) {}
    CachedLocalFile localFile(const QByteArray &url);
    // The store whose entries answer; 0 (at first): the current store.
    void setStore(URLCACHE_STORE_ID store) { m_store = store; }

private:
    using WeakEntry = std::weak_ptr<const INTERNET_CACHE_ENTRY_INFOA>;
    // A reload makes new entry blocks, a purge or a deletion changes the count: either
    // shows at the list's ends or in its size.
    bool catalogueChanged() const;
    void rebuild();

    const CacheList &m_catalogue;
    QHash<QByteArray, WeakEntry> m_byUrl;
    bool m_built = false;
    URLCACHE_STORE_ID m_store = 0;
    std::size_t m_size = 0;
    WeakEntry m_front, m_back;
};

class PreviewPane : public QObject {
    Q_OBJECT
public:
    // The controls the pane works with: the list whose row it previews, the splitter between
    // the list and the pane `pnl_main`, and the two viewers inside the pane.
    struct Controls {
        Lister *lister;
        QSplitter *splitter;
        QWidget *pane;
        QPlainTextEdit *editor;
        Browser *browser;
    };

    // Reads and writes the settings' preview switch (viewdoc) and list height.
    // What cannot be shown is told to `answerer`.
    PreviewPane(const CatalogueState &state, Tsettingdata &settings, const Controls &controls, StatusPanels &status,
                Answerer &answerer);
    // The browser stops asking this pane for cached files.
    ~PreviewPane() override;

    // Browser command numbers of BrowserCommand.
    enum { HTMLID_FIND = 1, HTMLID_OPTIONS = 3 };

    void listerChange(int row);
    void ShowPreview(bool visible);
    // Ctrl+C where the text viewer or the browser has the focus and holds a selection: copies
    // that selection and returns true. False otherwise: the key copies the document's URL.
    bool copySelection();
    void BrowserCommand(int command);

public slots:
    // The preview switch was turned to `checked`.
    void m_viewdocClick(bool checked);
    void Web1NewWindow2(Browser **ppDisp);
    void AFindInWebExecute();
    void AInternetOptionExecute();
    void ASaveWebasExecute();

private:
    bool rowIsFocusedAndSelected(int row) const;
    void showText(const char *localFile);
    int listHeight() const;

    const CatalogueState &m_state;
    Tsettingdata &m_settings;
    Controls m_controls;
    StatusPanels &m_status;
    Answerer &m_answerer;
    CachedUrlIndex m_index;
    // The list's height while the window has not been laid out yet.
    int m_unlaidListHeight = kDesignedListHeight;
};
