#include "browserwriter.h"

#include "stores/bodydecoder.h"

#include <brotli/encode.h>
#include <zlib.h>
#include <zstd.h>

#include <ctime>

namespace {

bool deflateWith(std::string_view in, int windowBits, std::string &out)
{
    z_stream z{};
    if (deflateInit2(&z, 6, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    out.resize(deflateBound(&z, uLong(in.size())) + 32);
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.data()));
    z.avail_in = uInt(in.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    const int rc = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return rc == Z_STREAM_END;
}

} // namespace

bool EncodeBody(std::string_view body, std::string_view contentEncoding, std::string &out, std::string &error)
{
    std::string current(body);
    for (const std::string &coding : ContentCodings(contentEncoding)) {
        std::string next;
        bool ok = false;
        if (coding == "gzip" || coding == "x-gzip") {
            ok = deflateWith(current, 16 + MAX_WBITS, next);
        } else if (coding == "deflate") {
            ok = deflateWith(current, MAX_WBITS, next);
        } else if (coding == "br") {
            std::size_t size = BrotliEncoderMaxCompressedSize(current.size());
            next.resize(size ? size : current.size() + 1024);
            size = next.size();
            ok = BrotliEncoderCompress(BROTLI_DEFAULT_QUALITY, BROTLI_DEFAULT_WINDOW, BROTLI_MODE_TEXT, current.size(),
                                       reinterpret_cast<const std::uint8_t *>(current.data()), &size,
                                       reinterpret_cast<std::uint8_t *>(next.data()));
            next.resize(size);
        } else if (coding == "zstd") {
            next.resize(ZSTD_compressBound(current.size()));
            const std::size_t size = ZSTD_compress(next.data(), next.size(), current.data(), current.size(), 3);
            ok = !ZSTD_isError(size);
            next.resize(ok ? size : 0);
        } else {
            error = "cannot write the content coding \"" + coding + "\"";
            return false;
        }
        if (!ok) {
            error = "compressing with " + coding + " failed";
            return false;
        }
        current = std::move(next);
    }
    out = std::move(current);
    return true;
}

bool MakeStoredBody(const BrowserWriterEntry &entry, std::size_t index, const BrowserWriterOptions &options,
                    StoredBody &out, std::string &error)
{
    out.document = options.bodyFor ? options.bodyFor(index) : entry.body;
    if (!EncodeBody(out.document, entry.contentEncoding, out.stored, error))
        return false;
    out.sentLength = out.stored.size();
    if (entry.truncated)
        out.stored.resize(out.stored.size() / 2);
    return true;
}

std::string HttpDate(std::int64_t unixSeconds)
{
    const std::time_t t = std::time_t(unixSeconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    static const char *const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char *const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", days[tm.tm_wday], tm.tm_mday,
                  months[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

std::string ResponseHead(const BrowserWriterEntry &entry, std::int64_t date, std::uint64_t contentLength)
{
    const char *reason = entry.status == 200 ? "OK"
        : entry.status == 404                ? "Not Found"
        : entry.status == 301                ? "Moved Permanently"
        : entry.status == 302                ? "Found"
        : entry.status == 304                ? "Not Modified"
                                             : "Status";
    std::string head = "HTTP/1.1 " + std::to_string(entry.status) + " " + reason + "\r\n";
    head += "Date: " + HttpDate(date) + "\r\n";
    if (!entry.contentType.empty())
        head += "Content-Type: " + entry.contentType + "\r\n";
    if (!entry.contentEncoding.empty())
        head += "Content-Encoding: " + entry.contentEncoding + "\r\n";
    head += "Content-Length: " + std::to_string(contentLength) + "\r\n";
    if (entry.lastModified)
        head += "Last-Modified: " + HttpDate(entry.lastModified) + "\r\n";
    if (entry.expires)
        head += "Expires: " + HttpDate(entry.expires) + "\r\n";
    for (const auto &[name, value] : entry.headers)
        head += name + ": " + value + "\r\n";
    return head;
}
