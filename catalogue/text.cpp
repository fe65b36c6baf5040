#include "text.h"

#include <QByteArray>
#include <QString>
#include <QStringDecoder>

#include <cstring>

#include <algorithm>
#include <array>
#include <cerrno>
#include <iconv.h>
#include <sys/stat.h>

namespace {

// Position of the last byte of `path` that is one of `wanted` and not the trail byte of a
// double-byte character; npos when there is none.
template <typename Pred>
std::size_t lastMarker(std::string_view path, CodePage codePage, Pred wanted)
{
    std::size_t found = std::string_view::npos;
    if (codePage == CodePage::Utf8) {
        for (std::size_t i = path.size(); i-- > 0;)
            if (wanted(path[i]))
                return i;
        return found;
    }
    // GBK can only be read from the front: a trail byte may look like any ASCII byte.
    for (std::size_t i = 0; i < path.size(); ++i) {
        const auto byte = static_cast<unsigned char>(path[i]);
        if (byte >= 0x81 && byte <= 0xFE && i + 1 < path.size()) {
            ++i;
            continue;
        }
        if (wanted(path[i]))
            found = i;
    }
    return found;
}

bool isOneOf(std::string_view lowered, std::initializer_list<std::string_view> set)
{
    return std::find(set.begin(), set.end(), lowered) != set.end();
}

std::string loweredExtension(std::string_view path, CodePage codePage)
{
    return LowerAscii(ExtensionOf(path, codePage));
}

} // namespace

std::string_view UrlHost(std::string_view url)
{
    const std::size_t second = [&] {
        const std::size_t first = url.find('/');
        return first == std::string_view::npos ? first : url.find('/', first + 1);
    }();
    if (second == std::string_view::npos)
        return {};
    const std::size_t third = url.find('/', second + 1);
    return url.substr(second + 1, third == std::string_view::npos ? std::string_view::npos : third - second - 1);
}

std::string_view UrlHost(const char *url)
{
    if (!url)
        return {};
    // The same walk without measuring the whole URL first: it ends at the third slash.
    const char *slash = std::strchr(url, '/');
    if (slash)
        slash = std::strchr(slash + 1, '/');
    if (!slash)
        return {};
    const char *host = slash + 1;
    const char *end = host;
    while (*end && *end != '/')
        ++end;
    return std::string_view(host, std::size_t(end - host));
}

std::string LowerAscii(std::string_view text)
{
    std::string result(text);
    for (char &c : result)
        c = LowerAsciiChar(c);
    return result;
}

int CompareLowered(std::string_view a, std::string_view b)
{
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const int ca = static_cast<unsigned char>(LowerAsciiChar(a[i]));
        const int cb = static_cast<unsigned char>(LowerAsciiChar(b[i]));
        if (ca != cb)
            return ca - cb;
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

int CompareUppered(std::string_view a, std::string_view b)
{
    auto upper = [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte >= 'a' && byte <= 'z') ? byte - 32 : int(byte);
    };
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const int ca = upper(a[i]);
        const int cb = upper(b[i]);
        if (ca != cb)
            return ca - cb;
    }
    return static_cast<int>(a.size()) - static_cast<int>(b.size());
}

bool IsAscii(std::string_view text)
{
    unsigned char any = 0;
    for (const char c : text)
        any |= static_cast<unsigned char>(c);
    return any < 0x80;
}

int GbkSortKey(std::string_view text, std::string &key)
{
    if (IsAscii(text)) {
        key.assign(text);
        return 0;
    }
    // One converter per thread, opened on first use: sorts run on several threads.
    struct Converter {
        iconv_t cd = iconv_open("GBK", "UTF-8");
        ~Converter()
        {
            if (cd != iconv_t(-1))
                iconv_close(cd);
        }
    };
    thread_local Converter converter;
    if (converter.cd != iconv_t(-1)) {
        // A character takes no more bytes in GBK than in UTF-8.
        key.resize(text.size());
        char *in = const_cast<char *>(text.data());
        std::size_t inLeft = text.size();
        char *out = key.data();
        std::size_t outLeft = key.size();
        iconv(converter.cd, nullptr, nullptr, nullptr, nullptr);
        if (iconv(converter.cd, &in, &inLeft, &out, &outLeft) != std::size_t(-1) && inLeft == 0) {
            key.resize(key.size() - outLeft);
            return 0;
        }
    }
    key.assign(text);
    return 1;
}

namespace {

template <typename Compare>
int compareNames(std::string_view a, std::string_view b, Compare compare)
{
    if (IsAscii(a) && IsAscii(b))
        return compare(a, b);
    std::string ka;
    std::string kb;
    const int ga = GbkSortKey(a, ka);
    const int gb = GbkSortKey(b, kb);
    return ga != gb ? ga - gb : compare(ka, kb);
}

} // namespace

int CompareNamesUppered(std::string_view a, std::string_view b)
{
    return compareNames(a, b, CompareUppered);
}

int CompareNamesLowered(std::string_view a, std::string_view b)
{
    return compareNames(a, b, CompareLowered);
}

std::string_view ExtensionOf(std::string_view path, CodePage codePage)
{
    const std::size_t at = lastMarker(path, codePage, [](char c) { return c == '.' || IsPathSeparator(c); });
    if (at == std::string_view::npos || path[at] != '.')
        return {};
    return path.substr(at);
}

std::string_view FileNamePart(std::string_view path, CodePage codePage)
{
    const std::size_t at = lastMarker(path, codePage, [](char c) { return IsPathSeparator(c); });
    return at == std::string_view::npos ? path : path.substr(at + 1);
}

std::string_view FolderPart(std::string_view path, CodePage codePage)
{
    const std::size_t at = lastMarker(path, codePage, [](char c) { return IsPathSeparator(c); });
    return at == std::string_view::npos ? std::string_view{} : path.substr(0, at + 1);
}

bool IsTextDocument(std::string_view path, CodePage codePage)
{
    return isOneOf(loweredExtension(path, codePage), {".htm", ".html", ".css", ".js", ".txt", ".class"});
}

bool IsPlainTextDocument(std::string_view path, CodePage codePage)
{
    return isOneOf(loweredExtension(path, codePage), {".css", ".js", ".txt", ".class"});
}

bool IsImageDocument(std::string_view path, CodePage codePage)
{
    return isOneOf(loweredExtension(path, codePage), {".jpg", ".jpeg", ".gif"});
}

bool FileExists(const char *path)
{
    if (!path || !*path)
        return false;
    struct stat info;
    return ::stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

void AppendDecimal(std::string &out, std::uint64_t value)
{
    char digits[24];
    char *const end = digits + sizeof digits;
    char *p = end;
    do {
        *--p = char('0' + value % 10);
        value /= 10;
    } while (value);
    out.append(p, std::size_t(end - p));
}

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
