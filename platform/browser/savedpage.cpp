#include "savedpage.h"

#include "stores/savefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

StoreResult rewriteFile(const QString &path)
{
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        return SaveFailure(in);
    const QByteArray bytes = in.readAll();
    if (in.error() != QFileDevice::NoError)
        return SaveFailure(in);
    in.close();
    const QByteArray rewritten = WebAddressesOf(bytes);
    if (rewritten == bytes)
        return {};
    return SaveWholeFile(path, rewritten);
}

bool isTextFile(const QFileInfo &file)
{
    static const QStringList kinds{QStringLiteral("htm"), QStringLiteral("html"), QStringLiteral("xhtml"),
                                   QStringLiteral("css"), QStringLiteral("js"),   QStringLiteral("svg"),
                                   QStringLiteral("xml"), QStringLiteral("mht"),  QStringLiteral("mhtml")};
    return kinds.contains(file.suffix().toLower());
}

} // namespace

QByteArray WebAddressesOf(const QByteArray &bytes)
{
    if (!bytes.contains("ttp") && !bytes.contains("=\n") && !bytes.contains("=\r\n"))
        return bytes;
    // Bytes as Latin-1 characters: one to one, whatever the page's encoding.
    QString text = QString::fromLatin1(bytes);
    static const QRegularExpression mirror(
        QStringLiteral("t(?:=\\r?\\n)?w(?:=\\r?\\n)?(?=h(?:=\\r?\\n)?t(?:=\\r?\\n)?t(?:=\\r?\\n)?p(?:=\\r?\\n)?s?"
                       "(?:=\\r?\\n)?:(?:=\\r?\\n)?/)"),
        QRegularExpression::CaseInsensitiveOption);
    text.remove(mirror);
    // The mark a browser writes at the top of a saved page counts its address's characters.
    static const QRegularExpression mark(QStringLiteral("<!-- saved from url=\\((\\d{4})\\)(\\S*?) -->"));
    QString result;
    qsizetype from = 0;
    for (auto it = mark.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        result += QStringView(text).mid(from, m.capturedStart() - from);
        result += QStringLiteral("<!-- saved from url=(%1)%2 -->")
                      .arg(m.capturedLength(2), 4, 10, QLatin1Char('0'))
                      .arg(m.captured(2));
        from = m.capturedEnd();
    }
    result += QStringView(text).mid(from);
    return result.toLatin1();
}

StoreResult RewriteSavedPage(const QString &path)
{
    StoreResult result = rewriteFile(path);
    const QFileInfo page(path);
    const QDir resources(page.absolutePath() + QLatin1Char('/') + page.completeBaseName() + QStringLiteral("_files"));
    if (resources.exists()) {
        for (const QFileInfo &file : resources.entryInfoList(QDir::Files))
            if (isTextFile(file))
                if (StoreResult one = rewriteFile(file.absoluteFilePath()); result.ok())
                    result = std::move(one);
    }
    return result;
}
