#pragma once
// Text files written "in the system code page": shown as UTF-8 where the bytes are valid
// UTF-8 (an initial byte order mark is dropped), else as GBK, the code page the program's
// users write in. Line breaks of every kind (CR LF, CR, LF) become LF.

#include <QByteArray>
#include <QString>

QString DecodeLocalText(const QByteArray &bytes);
