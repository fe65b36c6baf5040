#pragma once
// Undoing a body's Content-Encoding: gzip / x-gzip, deflate (zlib, else raw), br and zstd, in
// reverse order of the header's list, streaming and bounded so that a hostile body can
// neither fill memory nor run for ever.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The most a body may decode to: 256 MiB, and no more than 1,000 times its stored size
// (but at least 1 MiB, so that small bodies of very repetitive text still decode).
std::uint64_t DecodeLimitFor(std::uint64_t storedSize);

// The codings of a Content-Encoding value, lower case, in the order they were applied;
// "identity" and empty items dropped.
std::vector<std::string> ContentCodings(std::string_view contentEncoding);

// True when every coding of the list can be undone here.
bool CanDecode(std::string_view contentEncoding);

class BodyDecoder {
public:
    BodyDecoder(std::string_view contentEncoding, std::uint64_t limit);
    ~BodyDecoder();
    BodyDecoder(const BodyDecoder &) = delete;
    BodyDecoder &operator=(const BodyDecoder &) = delete;

    // False for a coding that cannot be undone; such a body is passed through as stored.
    bool supported() const { return m_supported; }
    // True when there is a coding to undo (and every one can be).
    bool decodes() const { return m_supported && !m_stages.empty(); }
    // Decodes the next piece of the stored body, appending to `out`. False once the body turned
    // out damaged (error() says how) or the limit was reached (cut() is then true).
    bool feed(std::string_view in, std::string &out);
    // The end of the stored body: false when a coding's stream was not complete.
    bool finish(std::string &out);
    bool cut() const { return m_cut; }
    const std::string &error() const { return m_error; }
    std::uint64_t produced() const { return m_produced; }

    struct Stage;

private:
    bool run(std::size_t stage, std::string_view in, std::string &out, bool last);

    std::vector<std::unique_ptr<Stage>> m_stages; // in decoding order
    bool m_supported = true;
    bool m_cut = false;
    bool m_failed = false;
    std::string m_error;
    std::uint64_t m_limit;
    std::uint64_t m_produced = 0;
};

// A whole body decoded at once.
struct DecodedBody {
    std::string bytes;
    bool decoded = false; // false: `bytes` are the stored bytes (nothing to undo, or could not)
    bool cut = false;     // the limit was reached: `bytes` holds the start only
    std::string error;    // why decoding failed; `bytes` then holds the stored bytes
};
DecodedBody DecodeBody(std::string_view stored, std::string_view contentEncoding);
