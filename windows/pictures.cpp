#include "pictures.h"

#include <QPainter>
#include <QSvgRenderer>

#include <array>

namespace {

constexpr std::array<const char *, ToolbarImageCount> toolbarFiles = {
    ":/icons/tb/about.svg",  ":/icons/tb/copyurl.svg",    ":/icons/tb/delete.svg",  ":/icons/tb/sendtobox.svg",
    ":/icons/tb/search.svg", ":/icons/tb/properties.svg", ":/icons/tb/refresh.svg", ":/icons/tb/save.svg",
    ":/icons/tb/open.svg",   ":/icons/tb/offline.svg",
};

constexpr std::array<const char *, TreeImageCount> treeFiles = {
    ":/icons/tree/cache.svg",       ":/icons/tree/host.svg",       ":/icons/tree/host-open.svg",
    ":/icons/tree/search.svg",      ":/icons/tree/search-alt.svg", ":/icons/tree/collect.svg",
    ":/icons/tree/collect-alt.svg", ":/icons/tree/document.svg",
};

constexpr std::array<const char *, CollectBoxImageCount> collectFiles = {
    ":/icons/collect/empty.svg",
    ":/icons/collect/full.svg",
};

template <std::size_t N>
QIcon IconFrom(const std::array<const char *, N> &files, int index)
{
    if (index < 0 || index >= int(N))
        return QIcon();
    return QIcon(QString::fromLatin1(files[std::size_t(index)]));
}

} // namespace

QIcon ToolbarImage(int index)
{
    return IconFrom(toolbarFiles, index);
}

QIcon TreeImage(int index)
{
    return IconFrom(treeFiles, index);
}

QPixmap CollectBoxImage(int index)
{
    if (index < 0 || index >= CollectBoxImageCount)
        return QPixmap();
    // Rendered at exactly 32 x 32 device pixels: the indicator draws it centred and
    // must not depend on the screen's scale.
    QSvgRenderer renderer(QString::fromLatin1(collectFiles[std::size_t(index)]));
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter, QRectF(0, 0, 32, 32));
    return pixmap;
}

QIcon ProgramIcon()
{
    return QIcon(QStringLiteral(":/icons/tidewrack.svg"));
}

QIcon GenericDocumentIcon()
{
    return QIcon(QStringLiteral(":/icons/document.svg"));
}
