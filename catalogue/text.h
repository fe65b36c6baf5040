#pragma once
// Byte-wise text helpers. The program's narrow text is UTF-8; stores written on Chinese
// systems hold GBK. Only the ASCII letters are ever folded, and bytes compare unsigned.

#include <cstdint>
#include <string>
#include <string_view>

// Declared only: some files that include this header use names Qt's headers make keywords.
class QByteArray;
class QString;

enum class CodePage {
    Utf8, // no byte of a multi-byte character is ASCII, so any byte may be a separator
    Gbk,  // a lead byte 0x81..0xFE takes the next byte with it; that byte is never a separator
};

// The host part of a URL: the text between its second and its third slash, wherever they stand.
std::string_view UrlHost(std::string_view url);
// The same for a zero-terminated URL, read no further than its host (null reads as empty).
std::string_view UrlHost(const char *url);

// The ASCII letters A..Z made lower case, every other byte kept.
std::string LowerAscii(std::string_view text);
inline char LowerAsciiChar(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
}

// Unsigned byte comparison of `a` and `b` with A..Z read as a..z: the difference of the first
// differing bytes, else the difference of the lengths' order (negative: a first).
int CompareLowered(std::string_view a, std::string_view b);

// Unsigned byte comparison with a..z read as A..Z: the first differing pair decides (their
// difference), else the shorter text comes first (the difference of the lengths).
int CompareUppered(std::string_view a, std::string_view b);

// Names in the order a Chinese user expects: as a byte comparison of their GBK text orders
// them, GB2312 holding its common characters in pinyin order. A text with a character GBK
// lacks (or that is no UTF-8) keeps its own bytes and sorts after every text that has a GBK
// form. ASCII is its own GBK text: check IsAscii first and keep such a text as it is.
bool IsAscii(std::string_view text);
// Writes the key of `text` into `key` and returns its group: 0 for GBK bytes, 1 for a text
// without a GBK form (the key is then the text itself). Groups order before keys.
int GbkSortKey(std::string_view text, std::string &key);
// CompareUppered and CompareLowered on the keys of GbkSortKey, group first.
int CompareNamesUppered(std::string_view a, std::string_view b);
int CompareNamesLowered(std::string_view a, std::string_view b);

// True where a path separator may stand: '/', '\' and ':'.
inline bool IsPathSeparator(char c)
{
    return c == '/' || c == '\\' || c == ':';
}

// The extension of a path, dot included: the text from the last dot that follows the last
// separator; empty when there is none.
std::string_view ExtensionOf(std::string_view path, CodePage codePage = CodePage::Utf8);
// The text after the last separator.
std::string_view FileNamePart(std::string_view path, CodePage codePage = CodePage::Utf8);
// The text up to and including the last separator (empty when there is none).
std::string_view FolderPart(std::string_view path, CodePage codePage = CodePage::Utf8);

bool IsTextDocument(std::string_view path, CodePage codePage = CodePage::Utf8);
bool IsPlainTextDocument(std::string_view path, CodePage codePage = CodePage::Utf8);
bool IsImageDocument(std::string_view path, CodePage codePage = CodePage::Utf8);

// True only for an existing regular file (a directory does not count).
bool FileExists(const char *path);

// Appends `value` in decimal, without a call into the C library's formatting (exports write
// millions of numbers).
void AppendDecimal(std::string &out, std::uint64_t value);

// Text files written "in the system code page": shown as UTF-8 where the bytes are valid
// UTF-8 (an initial byte order mark is dropped), else as GBK, the code page the program's
// users write in. Line breaks of every kind (CR LF, CR, LF) become LF.
QString DecodeLocalText(const QByteArray &bytes);
