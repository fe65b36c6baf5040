#pragma once
// The code page of the texts inside a store. The system that writes a store keeps URLs and
// file names in its ANSI code page (GBK for the systems this program is made for); the
// program works in UTF-8. A text that already is valid UTF-8 is taken as it is, unless it
// is made only of two-byte characters that GBK reads as well (see looksLikeGbk).

#include <QStringDecoder>
#include <QStringEncoder>

#include <string>
#include <string_view>

namespace indexdat {

bool IsAscii(std::string_view bytes);
bool IsValidUtf8(std::string_view bytes);

// Turns stored bytes into UTF-8. One per read: the converter is costly to create.
class TextDecoder {
public:
    TextDecoder();
    bool canDecode() const { return m_gbk.isValid(); }
    std::string toUtf8(std::string_view stored);
    // Like toUtf8, but false when the bytes are neither UTF-8 nor GBK: a file name like that
    // exists on disk only as those very bytes.
    bool decodes(std::string_view stored, std::string &utf8);
    template <typename String>
    void appendUtf8(String &out, std::string_view stored)
    {
        if (IsAscii(stored))
            out.append(stored);
        else
            out.append(toUtf8(stored));
    }

private:
    QStringDecoder m_gbk;
};

// The bytes a GBK system stores for a UTF-8 text; ASCII stays as it is. Empty with
// `ok` false when a character has no GBK form.
std::string ToStoreBytes(std::string_view utf8, bool *ok = nullptr);

} // namespace indexdat
