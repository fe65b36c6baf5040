#include "collectbox.h"

#include <cstdlib>
#include <utility>
#include <vector>

namespace {

QString decodedName(const char *name)
{
    return QString::fromUtf8(name ? name : "");
}

} // namespace

QString CollectKey(const char *name)
{
    return decodedName(name).toCaseFolded();
}

bool SameLocalFileName(const char *a, const char *b)
{
    return CollectKey(a) == CollectKey(b);
}

CollectKeys::CollectKeys(const CollectList &list)
{
    m_keys.reserve(qsizetype(list.size()));
    for (const HeaderCopy &entry : list)
        m_keys.insert(CollectKey(LocalFileName(entry)));
}

std::ptrdiff_t FindCollected(const CollectList &list, const char *name)
{
    const QString key = CollectKey(name);
    for (std::size_t i = 0; i < list.size(); ++i)
        if (CollectKey(LocalFileName(list[i])) == key)
            return std::ptrdiff_t(i);
    return -1;
}

bool AddToCollectList(CollectList &list, CollectKeys &keys, const Tcachedata &record)
{
    QString key = CollectKey(LocalFileName(record));
    if (keys.contains(key))
        return false;
    list.push_back(MakeHeaderCopy(record));
    keys.insert(std::move(key));
    return true;
}

bool AddToCollectList(CollectList &list, const Tcachedata &record)
{
    CollectKeys keys(list);
    return AddToCollectList(list, keys, record);
}

std::size_t RemoveFromCollectList(CollectList &list, const QSet<QString> &keys)
{
    if (keys.isEmpty())
        return 0;
    return std::erase_if(list,
                         [&keys](const HeaderCopy &entry) { return keys.contains(CollectKey(LocalFileName(entry))); });
}

bool RemoveFromCollectList(CollectList &list, const char *name)
{
    return RemoveFromCollectList(list, QSet<QString>{CollectKey(name)}) > 0;
}

QStringList CollectedPaths(const CollectList &list)
{
    QStringList paths;
    paths.reserve(qsizetype(list.size()));
    for (const HeaderCopy &entry : list)
        paths.append(decodedName(LocalFileName(entry)));
    return paths;
}

QString CollectNodeCaption(std::size_t count)
{
    return count == 0 ? QStringLiteral("采集盒") : QStringLiteral("采集盒(") + QString::number(count) + u')';
}

QString CollectHint(std::size_t count)
{
    return count == 0 ? QStringLiteral("采集盒")
                      : QStringLiteral("采集盒-现在有个") + QString::number(count) + QStringLiteral("文档");
}

bool StartsCollectDrag(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers, QPoint pressedAt, QPoint at)
{
    if (pressedAt.x() == NoPressPoint.x())
        return false;
    if (buttons != Qt::LeftButton && buttons != Qt::RightButton)
        return false;
    if (modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier))
        return false;
    return std::abs(at.x() - pressedAt.x()) >= CollectDragDistance
        || std::abs(at.y() - pressedAt.y()) >= CollectDragDistance;
}
