#include "fonts.h"

#include <QFontDatabase>
#include <QStringList>

namespace {

QString FirstInstalled(const QStringList &candidates)
{
    const QStringList installed = QFontDatabase::families();
    for (const QString &name : candidates)
        if (installed.contains(name, Qt::CaseInsensitive))
            return name;
    return QString();
}

QString InterfaceFamily()
{
    static const QString family = [] {
        QString name =
            FirstInstalled({QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("Noto Sans CJK SC"),
                            QStringLiteral("Source Han Sans SC"), QStringLiteral("WenQuanYi Micro Hei")});
        if (name.isEmpty()) {
            const QStringList chinese = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
            if (!chinese.isEmpty())
                name = chinese.first();
        }
        return name;
    }();
    return family;
}

} // namespace

QFont InterfaceFont(int pixelSize)
{
    QFont font;
    const QString family = InterfaceFamily();
    if (!family.isEmpty())
        font.setFamilies({family});
    font.setPixelSize(pixelSize);
    return font;
}

QFont KaiFont(int pixelSize, bool bold)
{
    static const QString kai =
        FirstInstalled({QStringLiteral("楷体_GB2312"), QStringLiteral("楷体"), QStringLiteral("KaiTi_GB2312"),
                        QStringLiteral("KaiTi"), QStringLiteral("AR PL UKai CN"), QStringLiteral("AR PL KaitiM GB")});
    QFont font = InterfaceFont(pixelSize);
    if (!kai.isEmpty())
        font.setFamilies({kai});
    font.setBold(bold);
    return font;
}
