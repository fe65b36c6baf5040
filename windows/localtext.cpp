#include "localtext.h"

#include <QStringDecoder>

QString DecodeLocalText(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(bytes);
    if (utf8.hasError()) {
        // GB18030 is a superset of GBK that decodes every GBK file the same way.
        QStringDecoder gbk("GB18030");
        if (!gbk.isValid())
            gbk = QStringDecoder("GBK");
        text = gbk.isValid() ? gbk.decode(bytes) : QString::fromLatin1(bytes);
    }
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}
