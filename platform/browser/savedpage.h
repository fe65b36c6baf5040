#pragma once
// A page saved from the cache names its addresses on the mirror schemes, which no other
// program understands. These turn them back into the http and https addresses they stand for.

#include "stores/storeerror.h"

#include <QByteArray>
#include <QString>

// `bytes` with every mirror address made a web address again: "twhttp://" and "twhttps://"
// lose their prefix (also where a quoted-printable soft line break splits the prefix), and
// the length in a "saved from url=(NNNN)" mark follows its shortened address.
QByteArray WebAddressesOf(const QByteArray &bytes);

// Rewrites a saved page in place: the file itself and, for a complete page, the text files
// in its "NAME_files" folder. A file that cannot be rewritten keeps its old bytes; the result
// names the first such failure.
StoreResult RewriteSavedPage(const QString &path);
