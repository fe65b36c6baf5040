#pragma once
// The collect box's logic without a widget: the case-blind identity of a collected document,
// adding without duplicates, removing by name, the texts that show the count, and the rule
// that decides when a mouse move over the label starts dragging the files out.

#include "catalogue/entry.h"

#include <QPoint>
#include <QSet>
#include <QString>
#include <QStringList>

#include <cstddef>

// The identity of a collected document: its local file name (UTF-8; null reads as empty)
// with the letter case folded, so that names differing only in case are one document. This
// is the equality of QString's case-insensitive comparison, as a value that can be hashed.
QString CollectKey(const char *name);

// True when two local file names name the same document for the collect box.
bool SameLocalFileName(const char *a, const char *b);

// The keys of a collect list, so that one command adding many documents looks each one up
// at once rather than walking the whole box for every row.
class CollectKeys {
public:
    explicit CollectKeys(const CollectList &list);
    bool contains(const QString &key) const { return m_keys.contains(key); }
    void insert(const QString &key) { m_keys.insert(key); }

private:
    QSet<QString> m_keys;
};

// The index of the first entry of `list` with the local file name `name`, or -1.
std::ptrdiff_t FindCollected(const CollectList &list, const char *name);

// Appends a header copy of `record` unless an entry of the same local file name is there.
// True when it was added. `keys` must describe `list`; it is kept in step.
bool AddToCollectList(CollectList &list, CollectKeys &keys, const Tcachedata &record);
bool AddToCollectList(CollectList &list, const Tcachedata &record);

// Removes, in one pass, every entry whose key is in `keys` (each name is in the box at most
// once); the others keep their order. Returns how many went.
std::size_t RemoveFromCollectList(CollectList &list, const QSet<QString> &keys);
bool RemoveFromCollectList(CollectList &list, const char *name);

// The full local paths of the entries, in collect box order (a null name gives "").
QStringList CollectedPaths(const CollectList &list);

// "采集盒", or "采集盒(n)" while the box holds n documents.
QString CollectNodeCaption(std::size_t count);
// "采集盒", or "采集盒-现在有个n文档" while the box holds n documents.
QString CollectHint(std::size_t count);

// The press on the collect box label that a drag out is measured from. A press point whose
// x is -1 means no press has been seen yet, and then no move starts a drag.
constexpr QPoint NoPressPoint{-1, -1};
constexpr int CollectDragDistance = 10;

// True when a move to `at` with `buttons` and `modifiers` held starts dragging the collected
// files: exactly the left or exactly the right button, none of Shift, Ctrl and Alt, and at
// least CollectDragDistance pixels from `pressedAt` horizontally or vertically.
bool StartsCollectDrag(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers, QPoint pressedAt, QPoint at);
