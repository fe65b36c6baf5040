#pragma once
// Writing web archives (WARC 1.1): each record compressed as a gzip member of its own, so that
// an index can point at any record and a tool can cut the file between two records. Records
// go to a sink as they are made; the writer keeps nothing but the record it is writing.

#include "stores/storeentry.h"

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// RFC 4648 base32 (upper case, padded with '=').
std::string Base32(std::string_view bytes);

// "sha1:" and the base32 of the SHA-1 of the pieces, the form of WARC's digest fields.
std::string WarcSha1(std::initializer_list<std::string_view> pieces);

// A time as WARC-Date writes it: "2024-01-02T03:04:05Z" (UTC).
std::string WarcDate(StoreTime time);

// A new "<urn:uuid:...>" record id.
std::string NewWarcRecordId();

// A header field's value made safe for a WARC head: CR, LF and other control bytes become
// %XX, so that no value can start a field of its own; so do the bytes above ASCII of a value
// that is not UTF-8.
std::string WarcFieldValue(std::string_view value);
// `value` with every byte that `escaped` picks written as %XX (upper-case hex).
std::string PercentEncoded(std::string_view value, const std::function<bool(unsigned char)> &escaped);

struct WarcField {
    std::string name;
    std::string value;
};

class WarcWriter {
public:
    // The sink takes the compressed bytes; returning false stops the writer (error() says so).
    using Sink = std::function<bool(std::string_view)>;
    // `compressed` false writes a plain .warc: the records one after the other, as they are.
    explicit WarcWriter(Sink sink, bool compressed = true);
    ~WarcWriter();
    WarcWriter(const WarcWriter &) = delete;
    WarcWriter &operator=(const WarcWriter &) = delete;

    // True when the sink has taken everything written so far (a plain archive holds back a
    // little until then).
    bool flush();

    // Writes one record: "WARC/1.1", `fields` in their order, WARC-Block-Digest and
    // Content-Length of the block made of `block`'s pieces, the block, and the two CRLFs that
    // end a record, as one gzip member. `storeOnly` keeps the member uncompressed (for a block
    // that is compressed already). False when the sink or zlib failed. A plain archive's
    // records go out as they are.
    bool write(const std::vector<WarcField> &fields, std::initializer_list<std::string_view> block,
               bool storeOnly = false);

    const std::string &error() const { return m_error; }
    std::uint64_t written() const { return m_written; }

private:
    struct Deflate;
    bool compress(std::string_view piece, bool last);
    bool writePlain(const std::string &head, std::initializer_list<std::string_view> block);

    std::unique_ptr<Deflate> m_deflate; // one zlib stream, reset for every member
    Sink m_sink;
    std::string m_error;
    std::string m_out; // the compressed member (or plain records), reused from record to record
    bool m_compressed = true;
    std::uint64_t m_written = 0;
};
