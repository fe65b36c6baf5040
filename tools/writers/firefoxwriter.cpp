#include "firefoxwriter.h"

#include "newfile.h"

#include "splitmix.h"
#include "stores/firefoxformat.h"

#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void appendBig32(std::string &out, std::uint32_t v)
{
    char bytes[4];
    qToBigEndian<quint32>(v, bytes);
    out.append(bytes, 4);
}

// application/x-www-form-urlencoded, as Firefox serialises origin attributes.
std::string formEncoded(std::string_view text)
{
    static const char Hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) || c == '*' || c == '-' || c == '.' || c == '_') {
            out += c;
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += Hex[u >> 4];
            out += Hex[u & 15];
        }
    }
    return out;
}

// A key tag's value, its commas doubled.
std::string tagValue(std::string_view value)
{
    std::string out;
    for (const char c : value) {
        out += c;
        if (c == ',')
            out += ',';
    }
    return out;
}

// "https://example.com[:port]" as the partition key "(https,example.com[,port])".
std::string partitionKey(std::string_view site)
{
    std::string_view scheme = "https";
    if (const auto sep = site.find("://"); sep != std::string_view::npos) {
        scheme = site.substr(0, sep);
        site.remove_prefix(sep + 3);
    }
    site = site.substr(0, site.find('/'));
    std::string key = "(" + std::string(scheme) + ",";
    if (const auto colon = site.rfind(':'); colon != std::string_view::npos)
        key += std::string(site.substr(0, colon)) + "," + std::string(site.substr(colon + 1));
    else
        key += std::string(site);
    return key + ")";
}

void addElement(std::string &elements, std::string_view name, std::string_view value)
{
    elements.append(name);
    elements += '\0';
    elements.append(value);
    elements += '\0';
}

// Firefox's content type ids: 1 other, 2 script, 3 image, 4 media, 5 stylesheet, 6 wasm.
const char *contentTypeId(const std::string &type)
{
    if (type.find("javascript") != std::string::npos || type == "text/ecmascript")
        return "2";
    if (type.rfind("image/", 0) == 0)
        return "3";
    if (type.rfind("audio/", 0) == 0 || type.rfind("video/", 0) == 0)
        return "4";
    if (type == "text/css")
        return "5";
    if (type == "application/wasm")
        return "6";
    return "1";
}

bool exists(const std::string &path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool makeFolders(const std::string &path)
{
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (!part.empty() && ::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            break;
    }
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

std::string FirefoxChunkHashes(std::string_view data)
{
    std::string out;
    for (std::size_t at = 0; at < data.size(); at += cache2::ChunkSize) {
        const std::uint16_t h = cache2::Hash16(data.substr(at, cache2::ChunkSize));
        out += char(h >> 8);
        out += char(h & 0xFF);
    }
    return out;
}

std::string FirefoxMetadataBytes(const FirefoxMetadataFields &f)
{
    std::string out;
    out.reserve(4 + f.chunkHashes.size() + cache2::HeaderSize + f.key.size() + 1 + f.elements.size() + 8);
    out.append(4, '\0'); // the hash, once the rest is there
    out += f.chunkHashes;
    appendBig32(out, f.version);
    appendBig32(out, f.fetchCount);
    appendBig32(out, f.lastFetched);
    appendBig32(out, f.lastModified);
    appendBig32(out, f.frecency);
    appendBig32(out, f.expirationTime);
    appendBig32(out, std::uint32_t(f.key.size()));
    if (f.version >= 2)
        appendBig32(out, f.flags);
    out += f.key;
    out += '\0';
    out += f.elements;
    qToBigEndian<quint32>(cache2::Hash(std::string_view(out).substr(4)), out.data());
    if (f.version >= 4)
        appendBig32(out, f.version);
    appendBig32(out, f.dataSize);
    return out;
}

bool SealFirefoxEntry(std::string_view data, const FirefoxMetadataFields &fields, const std::string &key,
                      std::uint64_t nonceSeed, std::string &file)
{
    if (key.size() != cache2::SealKeySize || fields.version != 4 || data.size() != fields.dataSize
        || (fields.dataSize & cache2::EncryptedFlag))
        return false;
    cache2::SealKey sealKey;
    std::memcpy(sealKey.data(), key.data(), key.size());
    SplitMix rng(nonceSeed);
    auto nonce = [&rng] {
        std::array<unsigned char, cache2::SealNonceSize> n{};
        for (unsigned char &b : n)
            b = static_cast<unsigned char>(rng.below(256));
        return n;
    };
    file.clear();
    std::string sealed;
    for (std::size_t at = 0, i = 0; at < data.size(); at += cache2::ChunkSize, ++i) {
        if (!cache2::SealBlock(sealKey, i, data.substr(at, cache2::ChunkSize), {}, nonce(), sealed))
            return false;
        file += sealed;
    }
    const std::string meta = FirefoxMetadataBytes(fields);
    std::string trailer(8, '\0');
    qToBigEndian<quint32>(fields.version, trailer.data());
    qToBigEndian<quint32>(fields.dataSize | cache2::EncryptedFlag, trailer.data() + 4);
    if (!cache2::SealBlock(sealKey, cache2::MetadataBlockNumber, std::string_view(meta).substr(0, meta.size() - 8),
                           trailer, nonce(), sealed))
        return false;
    file += sealed;
    file += trailer;
    return true;
}

std::string FirefoxKeyFor(const BrowserWriterEntry &entry)
{
    std::string key;
    // Tags in ASCII order: 'O' (origin attributes), 'a' (anonymous), '~' (POST id).
    if (!entry.partition.empty())
        key += "O" + tagValue("^partitionKey=" + formEncoded(partitionKey(entry.partition))) + ",";
    if (entry.anonymous)
        key += "a,";
    if (!entry.postId.empty())
        key += "~" + tagValue(entry.postId) + ",";
    return key + ":" + entry.url;
}

BrowserWriteResult WriteFirefoxStore(const std::string &folder, const std::vector<BrowserWriterEntry> &entries,
                                     const BrowserWriterOptions &options)
{
    BrowserWriteResult result;
    result.folder = folder;
    const std::string entriesFolder = folder + "/entries";
    if (exists(entriesFolder) || exists(folder + "/index")) {
        result.error = folder + " already holds a cache; nothing written";
        return result;
    }
    std::set<std::string> keys;
    for (const BrowserWriterEntry &e : entries)
        if (!keys.insert(FirefoxKeyFor(e)).second) {
            result.error = "two entries have the key " + FirefoxKeyFor(e) + "; nothing written";
            return result;
        }
    if (!makeFolders(entriesFolder)) {
        result.error = entriesFolder + ": " + std::strerror(errno);
        return result;
    }
    if (options.firefoxVersion < 1 || options.firefoxVersion > cache2::EntryVersion
        || (!options.firefoxKey.empty()
            && (options.firefoxVersion != cache2::EntryVersion || options.firefoxKey.size() != cache2::SealKeySize))) {
        result.error = "Firefox writes metadata versions 1 to 4, and encrypts only version 4 with a 32-byte key";
        return result;
    }
    const std::int64_t now = options.now ? options.now : std::int64_t(std::time(nullptr));
    SplitMix rng(options.seed * 0x2545F4914F6CDD1Dull + 3);
    std::string file;
    result.entries.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const BrowserWriterEntry &e = entries[i];
        StoredBody body;
        if (!MakeStoredBody(e, i, options, body, result.error))
            return result;
        const std::int64_t fetched = e.fetched ? e.fetched : now;

        FirefoxMetadataFields meta;
        meta.version = options.firefoxVersion;
        meta.key = FirefoxKeyFor(e);
        meta.fetchCount = e.fetchCount;
        meta.lastFetched = std::uint32_t(fetched);
        meta.lastModified = std::uint32_t(fetched);
        meta.frecency = std::uint32_t(fetched / 3) + std::uint32_t(rng.below(100000));
        meta.expirationTime = e.expires ? std::uint32_t(e.expires) : cache2::NoExpiration;
        addElement(meta.elements, "request-method", e.postId.empty() ? "GET" : "POST");
        addElement(meta.elements, "request-Accept-Encoding", "gzip, deflate, br, zstd");
        addElement(meta.elements, "response-head", ResponseHead(e, fetched, body.sentLength));
        addElement(meta.elements, "ctid", contentTypeId(e.contentType));
        const std::size_t onStart = 20 + rng.below(400);
        addElement(meta.elements, "net-response-time-onstart", std::to_string(onStart));
        addElement(meta.elements, "net-response-time-onstop", std::to_string(onStart + rng.below(200)));
        if (!e.altData.empty()) {
            addElement(meta.elements, "alt-data",
                       "1;" + std::to_string(body.stored.size())
                           + ",javascript/moz-script-bytecode-20250101000000-8l0");
            addElement(meta.elements, "alt-data-from-child", "1");
        }

        file.assign(body.stored);
        file += e.altData;
        if (file.size() >= 0x7FFFFFFFu - 1024 * 1024) { // version 4 keeps the top bit for its mark
            result.error = e.url + ": too large for a cache2 entry";
            return result;
        }
        meta.dataSize = std::uint32_t(file.size());
        meta.chunkHashes = FirefoxChunkHashes(file);
        if (options.firefoxKey.empty()) {
            file += FirefoxMetadataBytes(meta);
        } else {
            std::string sealed;
            if (!SealFirefoxEntry(file, meta, options.firefoxKey, rng.next(), sealed)) {
                result.error = e.url + ": cannot be encrypted";
                return result;
            }
            file = std::move(sealed);
        }

        const std::string name = cache2::FileNameForKey(meta.key);
        if (!WriteNewFile(entriesFolder + "/" + name, file, result.error))
            return result;
        result.entries.push_back({meta.key, entriesFolder + "/" + name, body.stored.size(), body.document.size()});
    }
    result.ok = true;
    return result;
}
