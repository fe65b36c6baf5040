#pragma once
// The preview pane: plain-text documents in the text viewer, everything else in the
// browser; switching the pane on and off; the browser's own commands (find in page,
// Internet options, save web page); and the cache lookup that serves the browser offline.

#include "catalogue/entry.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>

#include <optional>
#include <string>

class Browser;
class Tfrm_cache;

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

// Finds a catalogue entry's local file by the entry's URL, for the offline preview. The
// index is built on first use and again whenever the catalogue has changed.
class CachedUrlIndex {
public:
    explicit CachedUrlIndex(const CacheList &catalogue) : m_catalogue(catalogue) {}
    std::optional<std::string> localFile(const QByteArray &url);

private:
    using WeakEntry = std::weak_ptr<const INTERNET_CACHE_ENTRY_INFOA>;
    // A reload makes new entry blocks, a purge or a deletion changes the count: either
    // shows at the list's ends or in its size.
    bool catalogueChanged() const;
    void rebuild();

    const CacheList &m_catalogue;
    QHash<QByteArray, WeakEntry> m_byUrl;
    bool m_built = false;
    std::size_t m_size = 0;
    WeakEntry m_front, m_back;
};

class PreviewPane : public QObject {
    Q_OBJECT
public:
    explicit PreviewPane(Tfrm_cache &form);

    // Browser command numbers of BrowserCommand.
    enum { HTMLID_FIND = 1, HTMLID_OPTIONS = 3 };

    void listerChange(int row);
    void ShowPreview(bool visible);
    void BrowserCommand(int command);

public slots:
    void m_viewdocClick();
    void Web1NewWindow2(Browser **ppDisp);
    void AFindInWebExecute();
    void AInternetOptionExecute();
    void ASaveWebasExecute();

private:
    bool rowIsFocusedAndSelected(int row) const;
    void showText(const char *localFile);
    int listHeight() const;

    Tfrm_cache &m_form;
    CachedUrlIndex m_index;
    // The list's height while the window has not been laid out yet.
    int m_unlaidListHeight = kDesignedListHeight;
};
