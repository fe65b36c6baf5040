#include "chromiumwriter.h"

#include "newfile.h"

#include "splitmix.h"
#include "stores/chromiumpickle.h"
#include "stores/chromiumsimple.h"

#include <QCryptographicHash>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace {

constexpr std::int64_t UnixEpochIn1601Seconds = 11644473600;
constexpr std::uint32_t IndexVersion = 9;
constexpr std::uint32_t InfoVersion = 3;
constexpr std::uint32_t InfoTruncated = 1u << 12;

std::int64_t chromiumMicros(std::int64_t unixSeconds, std::int64_t extraMicros = 0)
{
    return (unixSeconds + UnixEpochIn1601Seconds) * 1000000 + extraMicros;
}

void put32(std::string &out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out += char((v >> (8 * i)) & 0xFF);
}

void put64(std::string &out, std::uint64_t v)
{
    put32(out, std::uint32_t(v));
    put32(out, std::uint32_t(v >> 32));
}

std::uint32_t crcOf(std::string_view bytes)
{
    return std::uint32_t(
        crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef *>(bytes.data()), uInt(bytes.size())));
}

// A base::Pickle: fields padded to 4 bytes, the payload's size in front.
class Pickle {
public:
    void int32(std::uint32_t v) { put32(m_payload, v); }
    void int64(std::int64_t v) { put64(m_payload, std::uint64_t(v)); }
    void string(std::string_view s)
    {
        int32(std::uint32_t(s.size()));
        m_payload.append(s);
        pad();
    }
    void uint16(std::uint16_t v)
    {
        m_payload += char(v & 0xFF);
        m_payload += char(v >> 8);
        pad();
    }
    std::string bytes() const
    {
        std::string out;
        put32(out, std::uint32_t(m_payload.size()));
        return out + m_payload;
    }
    const std::string &payload() const { return m_payload; }

private:
    void pad()
    {
        while (m_payload.size() % 4)
            m_payload += '\0';
    }
    std::string m_payload;
};

std::string header(std::string_view key)
{
    std::string out;
    put64(out, SimpleInitialMagic);
    put32(out, SimpleEntryVersion);
    put32(out, std::uint32_t(key.size()));
    put32(out, ChromiumSuperFastHash(key.data(), key.size()));
    put32(out, 0);
    return out;
}

std::string endRecord(std::uint32_t flags, std::string_view stream, std::uint32_t streamSize)
{
    std::string out;
    put64(out, SimpleFinalMagic);
    put32(out, flags | SimpleEofHasCrc);
    put32(out, crcOf(stream));
    put32(out, streamSize);
    put32(out, 0);
    return out;
}

// The site a top-level page belongs to: scheme and the last two labels of the host (a
// registrable domain for the common cases; enough for keys the tests and the demo read).
std::string siteOf(const std::string &url)
{
    const auto scheme = url.find("://");
    if (scheme == std::string::npos)
        return url;
    const auto hostStart = scheme + 3;
    const auto hostEnd = url.find_first_of(":/?#", hostStart);
    std::string host = url.substr(hostStart, hostEnd == std::string::npos ? std::string::npos : hostEnd - hostStart);
    const bool numeric = host.find_first_not_of("0123456789.") == std::string::npos;
    if (!numeric) {
        const auto last = host.rfind('.');
        if (last != std::string::npos && last > 0) {
            const auto before = host.rfind('.', last - 1);
            if (before != std::string::npos)
                host = host.substr(before + 1);
        }
    }
    return url.substr(0, hostStart) + host;
}

// The key Chromium's HTTP cache gives a request with split cache on: credentials, upload
// id, the top-level site and the frame's site, then the URL.
bool cacheKey(const BrowserWriterEntry &e, std::string &key, std::string &error)
{
    if (!e.postId.empty() && e.postId.find_first_not_of("0123456789") != std::string::npos) {
        error = "a POST id must be a number: " + e.postId;
        return false;
    }
    if (e.url.find(' ') != std::string::npos) {
        error = "a URL with a space cannot be a cache key: " + e.url;
        return false;
    }
    const std::string site = e.partition.empty() ? siteOf(e.url) : e.partition;
    key = std::string(e.anonymous ? "0" : "1") + "/" + (e.postId.empty() ? "0" : e.postId) + "/_dk_" + site + " " + site
        + " " + e.url;
    return true;
}

// The raw headers as Chromium keeps them: lines NUL-separated, ending with an empty line.
std::string rawHeaders(const std::string &head)
{
    std::string raw;
    std::size_t start = 0;
    while (start < head.size()) {
        auto end = head.find("\r\n", start);
        if (end == std::string::npos)
            end = head.size();
        if (end > start) {
            raw.append(head, start, end - start);
            raw += '\0';
        }
        start = end + 2;
    }
    raw += '\0';
    return raw;
}

// True when the folder already holds anything of a simple cache.
bool holdsCache(const std::string &folder)
{
    std::error_code ec;
    for (const auto &item : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = item.path().filename().string();
        if (name == "index" || name == "index-dir" || (name.size() == 18 && name[16] == '_'))
            return true;
    }
    return false;
}

} // namespace

BrowserWriteResult WriteChromiumSimpleStore(const std::string &folder, const std::vector<BrowserWriterEntry> &entries,
                                            const BrowserWriterOptions &options)
{
    BrowserWriteResult result;
    std::error_code ec;
    if (folder.empty()) {
        result.error = "no folder given";
        return result;
    }
    if (std::filesystem::exists(folder, ec) && holdsCache(folder)) {
        result.error = folder + ": already holds a cache; the writer only makes new ones";
        return result;
    }
    std::filesystem::create_directories(folder + "/index-dir", ec);
    if (ec) {
        result.error = folder + ": " + ec.message();
        return result;
    }
    result.folder = folder;
    const std::int64_t now = options.now ? options.now : std::int64_t(std::time(nullptr));
    SplitMix rng(options.seed * 0xD1B54A32D192ED03ull + 5);

    struct IndexRecord {
        std::uint64_t hash;
        std::int64_t lastUsed;
        std::uint64_t size;
    };
    std::vector<IndexRecord> records;
    records.reserve(entries.size());
    std::set<std::uint64_t> hashes;
    std::uint64_t cacheSize = 0;
    std::string file;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const BrowserWriterEntry &e = entries[i];
        StoredBody body;
        if (!MakeStoredBody(e, i, options, body, result.error))
            return result;
        const std::string &stored = body.stored;
        std::string key;
        if (!cacheKey(e, key, result.error))
            return result;
        const std::uint64_t hash = SimpleEntryHash(key);
        if (!hashes.insert(hash).second) {
            result.error = "two entries with the key " + key;
            return result;
        }
        const std::int64_t fetched = e.fetched ? e.fetched : now - std::int64_t(rng.below(30 * 86400));
        const std::int64_t requested = chromiumMicros(fetched, -std::int64_t(rng.below(400000)));
        const std::int64_t received = chromiumMicros(fetched, std::int64_t(rng.below(400000)));

        Pickle info;
        info.int32(InfoVersion | (e.truncated ? InfoTruncated : 0));
        info.int64(requested);
        info.int64(received);
        info.string(rawHeaders(ResponseHead(e, fetched, body.sentLength)));
        info.string(""); // the server's address, not kept
        info.uint16(443);
        const std::string stream0 = info.bytes();
        const QByteArray keySha256 =
            QCryptographicHash::hash(QByteArrayView(key.data(), qsizetype(key.size())), QCryptographicHash::Sha256);

        file.clear();
        file += header(key);
        file += key;
        file += stored;
        file += endRecord(0, stored, std::uint32_t(stored.size()));
        file += stream0;
        file.append(keySha256.constData(), std::size_t(keySha256.size()));
        file += endRecord(SimpleEofHasKeySha256, stream0, std::uint32_t(stream0.size()));
        const std::string path = folder + "/" + SimpleEntryFileName(hash, 0);
        if (!WriteNewFile(path, file, result.error))
            return result;
        std::uint64_t size = file.size();
        if (!e.altData.empty()) {
            // Stream 2, compiled script, in the entry's second file.
            std::string second = header(key) + key + e.altData;
            second += endRecord(0, e.altData, std::uint32_t(e.altData.size()));
            if (!WriteNewFile(folder + "/" + SimpleEntryFileName(hash, 1), second, result.error))
                return result;
            size += second.size();
        }
        records.push_back({hash, chromiumMicros(fetched), size});
        cacheSize += size;
        result.entries.push_back({key, path, stored.size(), body.document.size()});
    }

    // The fake index that marks the folder, and the real one (a hint the browser rebuilds
    // from the files when it is stale).
    std::string fake;
    put64(fake, SimpleInitialMagic);
    put32(fake, IndexVersion);
    put32(fake, 0);
    put32(fake, 0);
    put32(fake, 0);
    Pickle index;
    index.int64(std::int64_t(SimpleIndexMagic));
    index.int32(IndexVersion);
    index.int64(std::int64_t(records.size()));
    index.int64(std::int64_t(cacheSize));
    index.int32(0); // written at shutdown
    for (const IndexRecord &r : records) {
        index.int64(std::int64_t(r.hash));
        index.int64(r.lastUsed);
        index.int64(std::int64_t(((r.size + 255) / 256) << 8));
    }
    index.int64(chromiumMicros(now));
    std::string real;
    put32(real, std::uint32_t(index.payload().size()));
    put32(real, crcOf(index.payload()));
    real += index.payload();
    if (!WriteNewFile(folder + "/index", fake, result.error)
        || !WriteNewFile(folder + "/index-dir/the-real-index", real, result.error))
        return result;
    result.ok = true;
    return result;
}
