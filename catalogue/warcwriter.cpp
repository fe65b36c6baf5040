#include "warcwriter.h"

#include <QUtf8StringView>
#include <QUuid>

#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <ctime>

namespace {

// Compressed bytes go to the sink in pieces of about this size.
constexpr std::size_t SinkPiece = 256 * 1024;

} // namespace

std::string Base32(std::string_view bytes)
{
    static const char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
    std::string out;
    out.reserve((bytes.size() + 4) / 5 * 8);
    std::uint64_t bits = 0;
    int count = 0;
    for (const char c : bytes) {
        bits = (bits << 8) | static_cast<unsigned char>(c);
        count += 8;
        while (count >= 5) {
            count -= 5;
            out += Alphabet[(bits >> count) & 31];
        }
    }
    if (count > 0)
        out += Alphabet[(bits << (5 - count)) & 31];
    while (out.size() % 8)
        out += '=';
    return out;
}

std::string WarcSha1(std::initializer_list<std::string_view> pieces)
{
    // OpenSSL's SHA-1 uses the processor's SHA instructions: the two digests of every record
    // then cost a fraction of reading the body.
    thread_local const std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX *)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    static EVP_MD *const sha1 = EVP_MD_fetch(nullptr, "SHA1", nullptr); // looked up once, not per record
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    bool ok = context && sha1 && EVP_DigestInit_ex(context.get(), sha1, nullptr) == 1;
    for (const std::string_view piece : pieces)
        ok = ok && EVP_DigestUpdate(context.get(), piece.data(), piece.size()) == 1;
    ok = ok && EVP_DigestFinal_ex(context.get(), digest, &size) == 1;
    if (!ok)
        return {}; // no digest rather than a wrong one; never seen with a working OpenSSL
    return "sha1:" + Base32(std::string_view(reinterpret_cast<const char *>(digest), size));
}

std::string WarcDate(StoreTime time)
{
    const std::time_t seconds = std::time_t(UnixFromStoreTime(time));
    std::tm utc{};
    char text[32] = {};
    if (!gmtime_r(&seconds, &utc) || std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc) == 0)
        return "1970-01-01T00:00:00Z";
    return text;
}

std::string NewWarcRecordId()
{
    return "<urn:uuid:" + QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString() + ">";
}

std::string PercentEncoded(std::string_view value, const std::function<bool(unsigned char)> &escaped)
{
    static const char Hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size());
    for (const char c : value) {
        const auto b = static_cast<unsigned char>(c);
        if (escaped(b)) {
            out += '%';
            out += Hex[b >> 4];
            out += Hex[b & 15];
        } else {
            out += c;
        }
    }
    return out;
}

std::string WarcFieldValue(std::string_view value)
{
    // A head is UTF-8 text: a value that is not (an old WinInet store's GBK URL) keeps its
    // bytes above ASCII as %XX too.
    // Nearly every value is printable ASCII already, and goes in as it is.
    if (std::all_of(value.begin(), value.end(), [](char c) { return c >= 0x20 && c < 0x7F; }))
        return std::string(value);
    const bool utf8 = QUtf8StringView(value.data(), qsizetype(value.size())).isValidUtf8();
    return PercentEncoded(value, [utf8](unsigned char b) { return b < 0x20 || b == 0x7F || (b >= 0x80 && !utf8); });
}

struct WarcWriter::Deflate {
    z_stream stream{};
    bool ready = false;
    int level = Z_BEST_SPEED;
};

WarcWriter::WarcWriter(Sink sink, bool compressed)
    : m_deflate(std::make_unique<Deflate>()), m_sink(std::move(sink)), m_compressed(compressed)
{
    // windowBits 31: a gzip wrapper around each member.
    m_deflate->ready = deflateInit2(&m_deflate->stream, Z_BEST_SPEED, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    if (!m_deflate->ready)
        m_error = "zlib cannot start a compressor";
}

bool WarcWriter::flush()
{
    if (m_compressed || m_out.empty())
        return m_error.empty();
    if (!m_sink(m_out)) {
        m_error = "the archive could not be written";
        return false;
    }
    m_written += m_out.size();
    m_out.clear();
    return true;
}

// Small pieces gather in the buffer; a large body goes to the sink as it is, never copied.
bool WarcWriter::writePlain(const std::string &head, std::initializer_list<std::string_view> block)
{
    auto put = [this](std::string_view piece) {
        if (m_out.size() + piece.size() > SinkPiece && !flush())
            return false;
        if (piece.size() < SinkPiece) {
            m_out.append(piece);
            return true;
        }
        if (!m_sink(piece)) {
            m_error = "the archive could not be written";
            return false;
        }
        m_written += piece.size();
        return true;
    };
    if (!put(head))
        return false;
    for (const std::string_view piece : block)
        if (!put(piece))
            return false;
    return put("\r\n\r\n");
}

WarcWriter::~WarcWriter()
{
    if (m_deflate->ready)
        deflateEnd(&m_deflate->stream);
}

bool WarcWriter::compress(std::string_view piece, bool last)
{
    z_stream &z = m_deflate->stream;
    std::size_t offset = 0;
    for (;;) {
        const std::size_t take = std::min<std::size_t>(piece.size() - offset, UINT_MAX);
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(piece.data() + offset));
        z.avail_in = uInt(take);
        const bool finishing = last && offset + take == piece.size();
        int status = Z_OK;
        do {
            if (z.avail_out < 1024) {
                // Hand what is made to the sink and start the buffer over.
                const std::size_t made = std::size_t(z.next_out - reinterpret_cast<Bytef *>(m_out.data()));
                if (made && !m_sink(std::string_view(m_out.data(), made))) {
                    m_error = "the archive could not be written";
                    return false;
                }
                m_written += made;
                z.next_out = reinterpret_cast<Bytef *>(m_out.data());
                z.avail_out = uInt(m_out.size());
            }
            status = deflate(&z, finishing ? Z_FINISH : Z_NO_FLUSH);
            if (status == Z_STREAM_ERROR) {
                m_error = "zlib failed to compress";
                return false;
            }
        } while (z.avail_in > 0 || (finishing && status != Z_STREAM_END) || z.avail_out == 0);
        offset += take;
        if (offset >= piece.size())
            return true;
    }
}

bool WarcWriter::write(const std::vector<WarcField> &fields, std::initializer_list<std::string_view> block,
                       bool storeOnly)
{
    if (!m_deflate->ready || !m_error.empty())
        return false;
    std::uint64_t length = 0;
    for (const std::string_view piece : block)
        length += piece.size();
    std::string head = "WARC/1.1\r\n";
    for (const WarcField &f : fields)
        head += f.name + ": " + WarcFieldValue(f.value) + "\r\n";
    const std::string digest = WarcSha1(block);
    if (digest.empty()) {
        m_error = "the block digest cannot be computed";
        return false;
    }
    head += "WARC-Block-Digest: " + digest + "\r\n";
    head += "Content-Length: " + std::to_string(length) + "\r\n\r\n";
    if (!m_compressed)
        return writePlain(head, block);

    z_stream &z = m_deflate->stream;
    if (deflateReset(&z) != Z_OK) {
        m_error = "zlib cannot start a member";
        return false;
    }
    const int level = storeOnly ? Z_NO_COMPRESSION : Z_BEST_SPEED;
    if (level != m_deflate->level) {
        // Nothing is pending right after a reset, so the change takes effect at once.
        if (deflateParams(&z, level, Z_DEFAULT_STRATEGY) != Z_OK) {
            m_error = "zlib cannot change its level";
            return false;
        }
        m_deflate->level = level;
    }
    if (m_out.size() < SinkPiece)
        m_out.resize(SinkPiece);
    z.next_out = reinterpret_cast<Bytef *>(m_out.data());
    z.avail_out = uInt(m_out.size());
    if (!compress(head, false))
        return false;
    for (const std::string_view piece : block)
        if (!compress(piece, false))
            return false;
    if (!compress("\r\n\r\n", true))
        return false;
    const std::size_t made = std::size_t(z.next_out - reinterpret_cast<Bytef *>(m_out.data()));
    if (made && !m_sink(std::string_view(m_out.data(), made))) {
        m_error = "the archive could not be written";
        return false;
    }
    m_written += made;
    return true;
}
