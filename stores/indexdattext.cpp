#include "indexdattext.h"

namespace indexdat {

bool IsAscii(std::string_view bytes)
{
    for (const char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

bool IsValidUtf8(std::string_view bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const auto *end = p + bytes.size();
    while (p < end) {
        const unsigned c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int extra;
        unsigned min;
        if ((c & 0xE0) == 0xC0) {
            extra = 1;
            min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            min = 0x10000;
        } else {
            return false;
        }
        if (end - p <= extra)
            return false;
        unsigned cp = c & (0x3F >> extra);
        for (int i = 1; i <= extra; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
            cp = cp << 6 | (p[i] & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        p += extra + 1;
    }
    return true;
}

namespace {

// Valid UTF-8 whose every multi-byte character takes two bytes (Latin, Greek, Cyrillic
// letters), and which GBK reads as well: on the systems that write these stores such a
// text is a GBK text, e.g. "图片" stored as CD BC C6 AC.
bool looksLikeGbk(std::string_view bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const auto *end = p + bytes.size();
    while (p < end) {
        if (*p < 0x80) {
            ++p;
            continue;
        }
        if ((*p & 0xE0) != 0xC0)
            return false; // a three- or four-byte character: real UTF-8
        const unsigned lead = p[0], trail = p[1];
        if (lead < 0x81 || lead > 0xFE || trail < 0x40 || trail > 0xFE || trail == 0x7F)
            return false;
        p += 2;
    }
    return true;
}

} // namespace

TextDecoder::TextDecoder() : m_gbk("GBK", QStringDecoder::Flag::Stateless)
{}

std::string TextDecoder::toUtf8(std::string_view stored)
{
    if (IsAscii(stored) || !m_gbk.isValid() || (IsValidUtf8(stored) && !looksLikeGbk(stored)))
        return std::string(stored);
    const QString text = m_gbk.decode(QByteArrayView(stored.data(), qsizetype(stored.size())));
    m_gbk.resetState();
    return text.toStdString();
}

bool TextDecoder::decodes(std::string_view stored, std::string &utf8)
{
    if (IsAscii(stored) || !m_gbk.isValid() || (IsValidUtf8(stored) && !looksLikeGbk(stored))) {
        utf8.assign(stored);
        return true;
    }
    const QString text = m_gbk.decode(QByteArrayView(stored.data(), qsizetype(stored.size())));
    const bool failed = m_gbk.hasError() || text.contains(QChar::ReplacementCharacter);
    m_gbk.resetState();
    if (failed)
        return false;
    utf8 = text.toStdString();
    return true;
}

std::string ToStoreBytes(std::string_view utf8, bool *ok)
{
    if (ok)
        *ok = true;
    if (IsAscii(utf8))
        return std::string(utf8);
    QStringEncoder gbk("GBK", QStringEncoder::Flag::Stateless);
    if (!gbk.isValid()) {
        if (ok)
            *ok = false;
        return {};
    }
    const QByteArray bytes = gbk.encode(QString::fromUtf8(utf8.data(), qsizetype(utf8.size())));
    if (gbk.hasError()) {
        if (ok)
            *ok = false;
        return {};
    }
    return bytes.toStdString();
}

} // namespace indexdat
