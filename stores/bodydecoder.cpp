#include "bodydecoder.h"

#include <brotli/decode.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>

namespace {

constexpr std::uint64_t MaxDecoded = 256ull * 1024 * 1024;
constexpr std::size_t Piece = 64 * 1024;

// The white space of the C locale, without a call into the locale for every byte.
bool isSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

std::string lowerTrimmed(std::string_view s)
{
    while (!s.empty() && isSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back()))
        s.remove_suffix(1);
    std::string out(s);
    for (char &c : out)
        if (c >= 'A' && c <= 'Z')
            c = char(c + 32);
    return out;
}

// What a thread keeps of one body's decoding for its next body: making a decoding context or
// a stage's buffer costs more than decoding a small body, and a search decodes thousands.
template <typename T, typename Free>
class Pool {
public:
    explicit Pool(Free free) : m_free(free) {}
    ~Pool()
    {
        for (T *item : m_items)
            m_free(item);
    }
    T *take()
    {
        if (m_items.empty())
            return nullptr;
        T *item = m_items.back();
        m_items.pop_back();
        return item;
    }
    // Keeps `item` for the next take, or frees it when enough are kept (a body of several
    // codings holds a few at once).
    void give(T *item)
    {
        if (!item)
            return;
        if (m_items.size() < 4)
            m_items.push_back(item);
        else
            m_free(item);
    }

private:
    Free m_free;
    std::vector<T *> m_items;
};

constexpr auto FreeBuffer = [](char *buffer) { delete[] buffer; };
thread_local Pool<char, decltype(FreeBuffer)> t_buffers(FreeBuffer);

constexpr auto FreeZlib = [](z_stream *z) {
    inflateEnd(z);
    delete z;
};
thread_local Pool<z_stream, decltype(FreeZlib)> t_zlib(FreeZlib);

constexpr auto FreeZstd = [](ZSTD_DStream *s) { ZSTD_freeDStream(s); };
thread_local Pool<ZSTD_DStream, decltype(FreeZstd)> t_zstd(FreeZstd);

} // namespace

std::uint64_t DecodeLimitFor(std::uint64_t storedSize)
{
    const std::uint64_t byRatio = std::max<std::uint64_t>(storedSize, 1) * 1000;
    return std::min(MaxDecoded, std::max<std::uint64_t>(byRatio, 1024 * 1024));
}

std::vector<std::string> ContentCodings(std::string_view contentEncoding)
{
    std::vector<std::string> codings;
    while (!contentEncoding.empty()) {
        const std::size_t comma = contentEncoding.find(',');
        std::string coding = lowerTrimmed(contentEncoding.substr(0, comma));
        if (!coding.empty() && coding != "identity")
            codings.push_back(std::move(coding));
        contentEncoding.remove_prefix(comma == std::string_view::npos ? contentEncoding.size() : comma + 1);
    }
    return codings;
}

// One coding's decoder. `process` writes what it can make of `in` to `out`, at most `room`
// bytes, and says how many it wrote; it reports how much of `in` it used so the caller can
// come back with the rest.
struct BodyDecoder::Stage {
    virtual ~Stage() { t_buffers.give(buffer); }
    // False on damaged input. `used` is how many bytes of `in` were consumed; `ended` becomes
    // true once the coding's stream is complete.
    virtual bool process(std::string_view in, std::size_t &used, char *out, std::size_t room, std::size_t &written) = 0;
    std::string name;
    bool ended = false;
    std::uint64_t produced = 0;
    char *buffer = nullptr; // the stage's output, Piece bytes, reused for every piece
};

namespace {

class ZlibStage : public BodyDecoder::Stage {
public:
    // gzip: windowBits 16 + 15. deflate: a zlib stream when its first two bytes are a zlib
    // header, else a raw one, as some servers send it.
    explicit ZlibStage(bool gzip) : m_gzip(gzip)
    {
        if (gzip)
            init(16 + MAX_WBITS);
    }
    ~ZlibStage() override
    {
        if (m_ready)
            t_zlib.give(m_z);
        else if (m_z)
            FreeZlib(m_z);
    }
    bool process(std::string_view in, std::size_t &used, char *out, std::size_t room, std::size_t &written) override
    {
        used = 0;
        written = 0;
        if (m_trailing) { // bytes after the last gzip member: ignored, as browsers do
            used = in.size();
            return true;
        }
        // Two bytes decide how to read what follows them (a zlib header or not; another gzip
        // member or trailing bytes); pieces may bring them one at a time.
        if (undecided() && m_held.size() < 2) {
            const std::size_t take = std::min<std::size_t>(2 - m_held.size(), in.size());
            m_held.append(in.substr(0, take));
            used = take;
            if (m_held.size() < 2 && take > 0)
                return true;
            if (!decide())
                return true;
        }
        if (!m_held.empty()) {
            std::size_t heldUsed = 0;
            const bool ok = inflateFrom(m_held, heldUsed, out, room, written);
            m_held.erase(0, heldUsed);
            return ok;
        }
        return inflateFrom(in, used, out, room, written);
    }

private:
    bool undecided() const { return m_gzip ? ended : !m_ready; }

    // With the held bytes (two, or fewer at the end of the input): false when they and all
    // that follows are to be ignored.
    bool decide()
    {
        const auto b0 = m_held.size() > 0 ? static_cast<unsigned char>(m_held[0]) : 0u;
        const auto b1 = m_held.size() > 1 ? static_cast<unsigned char>(m_held[1]) : 0u;
        if (!m_gzip) {
            const bool zlibHeader = m_held.size() == 2 && (b0 & 0x0F) == 8 && ((b0 << 8) | b1) % 31 == 0;
            init(zlibHeader ? MAX_WBITS : -MAX_WBITS);
            return true;
        }
        if (m_held.size() == 2 && b0 == 0x1f && b1 == 0x8b) {
            inflateReset(m_z);
            ended = false;
            return true;
        }
        m_held.clear();
        m_trailing = true;
        return false;
    }

    bool inflateFrom(std::string_view in, std::size_t &used, char *out, std::size_t room, std::size_t &written)
    {
        if (!m_ready)
            return false;
        m_z->next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.data()));
        m_z->avail_in = uInt(std::min<std::size_t>(in.size(), 1u << 30));
        m_z->next_out = reinterpret_cast<Bytef *>(out);
        m_z->avail_out = uInt(room);
        const int rc = inflate(m_z, Z_NO_FLUSH);
        used = std::size_t(reinterpret_cast<const char *>(m_z->next_in) - in.data());
        written = room - m_z->avail_out;
        if (rc == Z_STREAM_END) {
            ended = true;
            return true;
        }
        return rc == Z_OK || rc == Z_BUF_ERROR;
    }

    // A stream the thread kept is reset to the window this body needs (zlib keeps its window
    // buffer when the size stays); a new one is made when none is kept.
    void init(int windowBits)
    {
        if ((m_z = t_zlib.take())) {
            m_ready = inflateReset2(m_z, windowBits) == Z_OK;
            return;
        }
        m_z = new z_stream{};
        m_ready = inflateInit2(m_z, windowBits) == Z_OK;
    }

    z_stream *m_z = nullptr; // null until the first bytes say which stream it is
    bool m_gzip;
    bool m_ready = false;
    bool m_trailing = false;
    std::string m_held;
};

class BrotliStage : public BodyDecoder::Stage {
public:
    BrotliStage() : m_state(BrotliDecoderCreateInstance(nullptr, nullptr, nullptr)) {}
    ~BrotliStage() override { BrotliDecoderDestroyInstance(m_state); }
    bool process(std::string_view in, std::size_t &used, char *out, std::size_t room, std::size_t &written) override
    {
        used = 0;
        written = 0;
        if (!m_state)
            return false;
        if (ended) {
            used = in.size();
            return true;
        }
        std::size_t availIn = in.size();
        const auto *nextIn = reinterpret_cast<const std::uint8_t *>(in.data());
        std::size_t availOut = room;
        auto *nextOut = reinterpret_cast<std::uint8_t *>(out);
        const BrotliDecoderResult rc =
            BrotliDecoderDecompressStream(m_state, &availIn, &nextIn, &availOut, &nextOut, nullptr);
        used = in.size() - availIn;
        written = room - availOut;
        if (rc == BROTLI_DECODER_RESULT_SUCCESS)
            ended = true;
        return rc != BROTLI_DECODER_RESULT_ERROR;
    }

private:
    BrotliDecoderState *m_state;
};

class ZstdStage : public BodyDecoder::Stage {
public:
    ZstdStage()
    {
        if ((m_stream = t_zstd.take())) {
            ZSTD_DCtx_reset(m_stream, ZSTD_reset_session_only);
        } else if ((m_stream = ZSTD_createDStream())) {
            // Browsers accept windows up to 8 MiB for zstd content; refuse larger ones instead
            // of allocating what a hostile frame asks for.
            ZSTD_DCtx_setParameter(m_stream, ZSTD_d_windowLogMax, 23);
        }
    }
    ~ZstdStage() override { t_zstd.give(m_stream); }
    bool process(std::string_view in, std::size_t &used, char *out, std::size_t room, std::size_t &written) override
    {
        used = 0;
        written = 0;
        if (!m_stream)
            return false;
        if (in.empty() && ended)
            return true;
        ZSTD_inBuffer input{in.data(), in.size(), 0};
        ZSTD_outBuffer output{out, room, 0};
        const std::size_t rc = ZSTD_decompressStream(m_stream, &output, &input);
        used = input.pos;
        written = output.pos;
        if (ZSTD_isError(rc))
            return false;
        // 0: a frame is complete and flushed; another may follow.
        if (used > 0 || output.pos > 0)
            ended = rc == 0;
        return true;
    }

private:
    ZSTD_DStream *m_stream = nullptr;
};

} // namespace

bool CanDecode(std::string_view contentEncoding)
{
    for (const std::string &c : ContentCodings(contentEncoding))
        if (c != "gzip" && c != "x-gzip" && c != "deflate" && c != "br" && c != "zstd")
            return false;
    return true;
}

BodyDecoder::BodyDecoder(std::string_view contentEncoding, std::uint64_t limit) : m_limit(limit)
{
    std::vector<std::string> codings = ContentCodings(contentEncoding);
    std::reverse(codings.begin(), codings.end());
    for (const std::string &c : codings) {
        std::unique_ptr<Stage> stage;
        if (c == "gzip" || c == "x-gzip")
            stage = std::make_unique<ZlibStage>(true);
        else if (c == "deflate")
            stage = std::make_unique<ZlibStage>(false);
        else if (c == "br")
            stage = std::make_unique<BrotliStage>();
        else if (c == "zstd")
            stage = std::make_unique<ZstdStage>();
        if (!stage) {
            m_supported = false;
            m_error = "the content coding \"" + c + "\" cannot be undone";
            m_stages.clear();
            return;
        }
        stage->name = c;
        m_stages.push_back(std::move(stage));
    }
}

BodyDecoder::~BodyDecoder() = default;

// Pushes `in` through stage `index` and everything behind it. `last` marks the end of input.
bool BodyDecoder::run(std::size_t index, std::string_view in, std::string &out, bool last)
{
    if (index == m_stages.size()) {
        const std::uint64_t room = m_limit - m_produced;
        if (in.size() > room) {
            out.append(in.substr(0, std::size_t(room)));
            m_produced = m_limit;
            m_cut = true;
            return false;
        }
        out.append(in);
        m_produced += in.size();
        return true;
    }
    Stage &stage = *m_stages[index];
    if (!stage.buffer && !(stage.buffer = t_buffers.take()))
        stage.buffer = new char[Piece];
    for (bool more = true; more;) {
        std::size_t used = 0, written = 0;
        if (!stage.process(in, used, stage.buffer, Piece, written)) {
            m_failed = true;
            m_error = "the " + stage.name + " stream is damaged";
            return false;
        }
        in.remove_prefix(used);
        // Every stage stops at the limit: an intermediate stream may be the bomb.
        std::size_t passed = written;
        const bool over = written > m_limit - stage.produced;
        if (over)
            passed = std::size_t(m_limit - stage.produced);
        stage.produced += passed;
        if (passed && !run(index + 1, std::string_view(stage.buffer, passed), out, false))
            return false;
        if (over) {
            m_cut = true;
            return false;
        }
        // A full piece may leave more output waiting; input left over is fed again unless the
        // stage could do nothing with it.
        more = written == Piece || (!in.empty() && (used > 0 || written > 0));
    }
    if (!in.empty() && !stage.ended) {
        m_failed = true;
        m_error = "the " + stage.name + " stream is damaged";
        return false;
    }
    if (!last)
        return true;
    if (!stage.ended) {
        m_failed = true;
        m_error = "the " + stage.name + " stream ends early";
        return false;
    }
    return run(index + 1, {}, out, true);
}

bool BodyDecoder::feed(std::string_view in, std::string &out)
{
    if (m_failed || m_cut)
        return false;
    if (!m_supported) {
        out.append(in);
        return true;
    }
    return run(0, in, out, false);
}

bool BodyDecoder::finish(std::string &out)
{
    if (m_failed || m_cut)
        return false;
    if (!m_supported || m_stages.empty())
        return true;
    return run(0, {}, out, true);
}

DecodedBody DecodeBody(std::string_view stored, std::string_view contentEncoding)
{
    DecodedBody body;
    // An empty body (a redirect, a 304) stays empty whatever coding its head names.
    if (stored.empty()) {
        body.decoded = true;
        return body;
    }
    BodyDecoder decoder(contentEncoding, DecodeLimitFor(stored.size()));
    if (!decoder.decodes()) {
        body.bytes.assign(stored);
        body.error = decoder.error();
        return body;
    }
    bool ok = decoder.feed(stored, body.bytes) && decoder.finish(body.bytes);
    if (decoder.cut()) {
        body.decoded = true;
        body.cut = true;
        return body;
    }
    if (!ok) {
        body.error = decoder.error();
        body.bytes.assign(stored);
        return body;
    }
    body.decoded = true;
    return body;
}
