#include "firefoxformat.h"

#include "bodydecoder.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QCryptographicHash>

#include <openssl/evp.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace cache2 {

namespace {

inline void mix(std::uint32_t &a, std::uint32_t &b, std::uint32_t &c)
{
    a -= b;
    a -= c;
    a ^= (c >> 13);
    b -= c;
    b -= a;
    b ^= (a << 8);
    c -= a;
    c -= b;
    c ^= (b >> 13);
    a -= b;
    a -= c;
    a ^= (c >> 12);
    b -= c;
    b -= a;
    b ^= (a << 16);
    c -= a;
    c -= b;
    c ^= (b >> 5);
    a -= b;
    a -= c;
    a ^= (c >> 3);
    b -= c;
    b -= a;
    b ^= (a << 10);
    c -= a;
    c -= b;
    c ^= (b >> 15);
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

bool allDigits(std::string_view s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string percentDecoded(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && hexValue(s[i + 1]) >= 0 && hexValue(s[i + 2]) >= 0) {
            out += char(hexValue(s[i + 1]) * 16 + hexValue(s[i + 2]));
            i += 2;
        } else {
            out += s[i] == '+' ? ' ' : s[i];
        }
    }
    return out;
}

// "(https,example.com)" or "(https,example.com,8080)" as a site; other forms as they are.
std::string readableSite(const std::string &value)
{
    if (value.size() < 2 || value.front() != '(' || value.back() != ')')
        return value;
    std::string_view inner = std::string_view(value).substr(1, value.size() - 2);
    std::string_view parts[4];
    int count = 0;
    while (count < 4) {
        const auto comma = inner.find(',');
        parts[count++] = inner.substr(0, comma);
        if (comma == std::string_view::npos)
            break;
        inner.remove_prefix(comma + 1);
    }
    if (count < 2 || parts[0].empty() || parts[1].empty())
        return value;
    std::string site = std::string(parts[0]) + "://" + std::string(parts[1]);
    // A third part is the port where it is a number; other parts are flags of the partition.
    if (count >= 3 && allDigits(parts[2]))
        site += ":" + std::string(parts[2]);
    return site;
}

void appendPart(std::string &out, std::string_view part)
{
    if (part.empty())
        return;
    if (!out.empty())
        out += ", ";
    out += part;
}

// Firefox's key parser: a tag value runs to the next single ','; ",," is a comma of it.
bool readTagValue(std::string_view key, std::size_t &pos, std::string *value)
{
    if (pos >= key.size())
        return false;
    while (pos < key.size()) {
        const char c = key[pos];
        if (c != ',') {
            if (value)
                *value += c;
            ++pos;
            continue;
        }
        if (pos + 1 < key.size() && key[pos + 1] == ',') {
            if (value)
                *value += ',';
            pos += 2;
            continue;
        }
        return true; // the ',' that ends the tag stays for the caller
    }
    return false;
}

} // namespace

std::uint32_t Hash(std::string_view bytes, std::uint32_t initval)
{
    const auto *k = reinterpret_cast<const unsigned char *>(bytes.data());
    std::size_t len = bytes.size();
    std::uint32_t a = 0x9e3779b9u, b = 0x9e3779b9u, c = initval;
    while (len >= 12) {
        a += qFromLittleEndian<quint32>(k);
        b += qFromLittleEndian<quint32>(k + 4);
        c += qFromLittleEndian<quint32>(k + 8);
        mix(a, b, c);
        k += 12;
        len -= 12;
    }
    c += std::uint32_t(bytes.size());
    switch (len) { // every case falls through to the next
    case 11:
        c += std::uint32_t(k[10]) << 24;
        [[fallthrough]];
    case 10:
        c += std::uint32_t(k[9]) << 16;
        [[fallthrough]];
    case 9:
        c += std::uint32_t(k[8]) << 8; // the low byte of c is the length's
        [[fallthrough]];
    case 8:
        b += std::uint32_t(k[7]) << 24;
        [[fallthrough]];
    case 7:
        b += std::uint32_t(k[6]) << 16;
        [[fallthrough]];
    case 6:
        b += std::uint32_t(k[5]) << 8;
        [[fallthrough]];
    case 5:
        b += k[4];
        [[fallthrough]];
    case 4:
        a += std::uint32_t(k[3]) << 24;
        [[fallthrough]];
    case 3:
        a += std::uint32_t(k[2]) << 16;
        [[fallthrough]];
    case 2:
        a += std::uint32_t(k[1]) << 8;
        [[fallthrough]];
    case 1:
        a += k[0];
        break;
    default:
        break;
    }
    mix(a, b, c);
    return c;
}

std::uint64_t MaxMetadataSize(std::uint64_t dataSize)
{
    return 4 + 2 * ChunkCount(dataSize) + HeaderSize + MaxKeySize + 1 + MaxElementsSize + SealOverhead + 8;
}

std::uint64_t StoredDataSize(std::uint64_t dataSize, bool encrypted)
{
    return encrypted ? dataSize + ChunkCount(dataSize) * SealOverhead : dataSize;
}

namespace {

struct CipherContext {
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    ~CipherContext() { EVP_CIPHER_CTX_free(ctx); }
};

// The additional data of a block: its number, 8 bytes little-endian, then `extra`.
bool addAad(EVP_CIPHER_CTX *ctx, std::uint64_t number, std::string_view extra, bool encrypt)
{
    unsigned char aad[8 + 8];
    for (int i = 0; i < 8; ++i)
        aad[i] = static_cast<unsigned char>(number >> (8 * i));
    if (extra.size() > 8)
        return false;
    if (!extra.empty()) // an empty view may hold no pointer at all
        std::memcpy(aad + 8, extra.data(), extra.size());
    int n = 0;
    const int size = int(8 + extra.size());
    return encrypt ? EVP_EncryptUpdate(ctx, nullptr, &n, aad, size) == 1
                   : EVP_DecryptUpdate(ctx, nullptr, &n, aad, size) == 1;
}

} // namespace

bool OpenBlock(const SealKey &key, std::uint64_t number, std::string_view sealed, std::string_view extraAad,
               std::string &clear)
{
    if (sealed.size() < SealOverhead || sealed.size() - SealOverhead > std::size_t(INT32_MAX))
        return false;
    const std::size_t size = sealed.size() - SealOverhead;
    const auto *bytes = reinterpret_cast<const unsigned char *>(sealed.data());
    CipherContext c;
    if (!c.ctx || EVP_DecryptInit_ex(c.ctx, EVP_aes_256_gcm(), nullptr, nullptr, nullptr) != 1
        || EVP_CIPHER_CTX_ctrl(c.ctx, EVP_CTRL_GCM_SET_IVLEN, SealNonceSize, nullptr) != 1
        || EVP_DecryptInit_ex(c.ctx, nullptr, nullptr, key.data(), bytes + size + SealTagSize) != 1
        || !addAad(c.ctx, number, extraAad, false))
        return false;
    clear.resize(size);
    int n = 0;
    if (size && EVP_DecryptUpdate(c.ctx, reinterpret_cast<unsigned char *>(clear.data()), &n, bytes, int(size)) != 1)
        return false;
    unsigned char tag[SealTagSize];
    std::memcpy(tag, bytes + size, SealTagSize);
    int last = 0;
    unsigned char rest[16];
    return EVP_CIPHER_CTX_ctrl(c.ctx, EVP_CTRL_GCM_SET_TAG, SealTagSize, tag) == 1
        && EVP_DecryptFinal_ex(c.ctx, rest, &last) == 1;
}

bool SealBlock(const SealKey &key, std::uint64_t number, std::string_view clear, std::string_view extraAad,
               const std::array<unsigned char, SealNonceSize> &nonce, std::string &sealed)
{
    if (clear.size() > std::size_t(INT32_MAX) - SealOverhead)
        return false;
    CipherContext c;
    if (!c.ctx || EVP_EncryptInit_ex(c.ctx, EVP_aes_256_gcm(), nullptr, nullptr, nullptr) != 1
        || EVP_CIPHER_CTX_ctrl(c.ctx, EVP_CTRL_GCM_SET_IVLEN, SealNonceSize, nullptr) != 1
        || EVP_EncryptInit_ex(c.ctx, nullptr, nullptr, key.data(), nonce.data()) != 1
        || !addAad(c.ctx, number, extraAad, true))
        return false;
    sealed.assign(clear.size() + SealOverhead, '\0');
    auto *out = reinterpret_cast<unsigned char *>(sealed.data());
    int n = 0, last = 0;
    if (!clear.empty()
        && EVP_EncryptUpdate(c.ctx, out, &n, reinterpret_cast<const unsigned char *>(clear.data()), int(clear.size()))
            != 1)
        return false;
    unsigned char rest[16];
    if (EVP_EncryptFinal_ex(c.ctx, rest, &last) != 1
        || EVP_CIPHER_CTX_ctrl(c.ctx, EVP_CTRL_GCM_GET_TAG, SealTagSize, out + clear.size()) != 1)
        return false;
    std::memcpy(out + clear.size() + SealTagSize, nonce.data(), SealNonceSize);
    return true;
}

bool DecodeSealKey(std::string_view base64, SealKey &out)
{
    const auto decoded = QByteArray::fromBase64Encoding(QByteArray(base64.data(), qsizetype(base64.size())),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != qsizetype(SealKeySize))
        return false;
    std::memcpy(out.data(), decoded.decoded.constData(), SealKeySize);
    return true;
}

const char *MetaErrorReason(MetaError error)
{
    switch (error) {
    case MetaError::None:
        return "";
    case MetaError::TooShort:
        return "file too short for an entry";
    case MetaError::OffsetPastEnd:
        return "metadata offset past the end of the file";
    case MetaError::TooLarge:
        return "metadata larger than Firefox writes";
    case MetaError::HeaderOutside:
        return "metadata header past the end of the file";
    case MetaError::UnknownVersion:
        return "unknown metadata version";
    case MetaError::NewerVersion:
        return "newer metadata version";
    case MetaError::Encrypted:
        return "encrypted entry";
    case MetaError::SealBroken:
        return "encrypted entry the profile's key does not open";
    case MetaError::KeyOutside:
        return "key runs past the metadata";
    case MetaError::KeyUnterminated:
        return "key not terminated";
    case MetaError::HashMismatch:
        return "metadata hash mismatch";
    case MetaError::BadElements:
        return "damaged metadata elements";
    }
    return "damaged metadata";
}

std::uint32_t NewerVersionOf(std::string_view tail)
{
    // Before version 4 the word before the offset ends the elements, whose last byte is a
    // NUL: a small number there is a version word, never text.
    if (tail.size() < 8)
        return 0;
    const std::uint32_t word = qFromBigEndian<quint32>(tail.data() + tail.size() - 8);
    return word > EntryVersion && word < 0x100 ? word : 0;
}

MetaError ReadTrailer(std::string_view tail, std::uint64_t fileSize, Trailer &out)
{
    out = Trailer{};
    // An offset, a hash, a version 1 header and a key's NUL at the least.
    if (tail.size() < 4 || tail.size() > fileSize || fileSize < 4 + 4 + HeaderSizeV1 + 1)
        return MetaError::TooShort;
    const std::uint32_t last = qFromBigEndian<quint32>(tail.data() + tail.size() - 4);
    const std::uint32_t before = tail.size() >= 8 ? qFromBigEndian<quint32>(tail.data() + tail.size() - 8) : 0;
    if (NewerVersionOf(tail))
        return MetaError::NewerVersion;
    if (before == EntryVersion) {
        out.size = 8;
        out.version = before;
        out.encrypted = (last & EncryptedFlag) != 0;
        out.dataSize = last & ~EncryptedFlag;
    } else {
        out.dataSize = last;
    }
    out.metaStart = StoredDataSize(out.dataSize, out.encrypted);
    if (out.metaStart >= fileSize)
        return MetaError::OffsetPastEnd;
    if (fileSize - out.metaStart > MaxMetadataSize(out.dataSize))
        return MetaError::TooLarge;
    if (fileSize - out.metaStart < out.size + (out.encrypted ? SealOverhead : 0))
        return MetaError::TooShort;
    return MetaError::None;
}

MetaError ParseMetadata(std::string_view meta, std::uint64_t fileSize, Metadata &out, const SealKey *key,
                        std::string *clear)
{
    Trailer trailer;
    if (const MetaError e =
            ReadTrailer(meta.substr(meta.size() - std::min<std::size_t>(meta.size(), 8)), fileSize, trailer);
        e != MetaError::None)
        return e;
    if (fileSize - trailer.metaStart != meta.size())
        return MetaError::TooShort;
    out = Metadata{};
    out.dataSize = trailer.dataSize;
    out.trailer = trailer;
    // The block before the trailer; an encrypted one opened first.
    std::string_view block = meta.substr(0, meta.size() - trailer.size);
    if (trailer.encrypted) {
        if (!key || !clear)
            return MetaError::Encrypted;
        if (!OpenBlock(*key, MetadataBlockNumber, block, meta.substr(block.size()), *clear))
            return MetaError::SealBroken;
        block = *clear;
    }
    // Offsets inside `block`, each checked against its end, in 64 bits so that nothing wraps.
    const std::uint64_t end = block.size();
    const std::uint64_t hashes = 4;
    const std::uint64_t hashesSize = 2 * ChunkCount(trailer.dataSize);
    const std::uint64_t header = hashes + hashesSize;
    std::uint64_t keyStart = header + HeaderSize;
    if (keyStart > end)
        return MetaError::HeaderOutside;
    const char *h = block.data() + header;
    out.version = qFromBigEndian<quint32>(h);
    out.fetchCount = qFromBigEndian<quint32>(h + 4);
    out.lastFetched = qFromBigEndian<quint32>(h + 8);
    out.lastModified = qFromBigEndian<quint32>(h + 12);
    out.frecency = qFromBigEndian<quint32>(h + 16);
    out.expirationTime = qFromBigEndian<quint32>(h + 20);
    const std::uint32_t keySize = qFromBigEndian<quint32>(h + 24);
    if (out.version == 1) {
        keyStart -= 4;
    } else if (out.version >= 2 && out.version <= EntryVersion) {
        out.flags = qFromBigEndian<quint32>(h + 28);
    } else {
        // A newer format says so in its trailer; a header alone naming one is damage.
        return MetaError::UnknownVersion;
    }
    const std::uint64_t elementsStart = keyStart + std::uint64_t(keySize) + 1;
    if (elementsStart > end)
        return MetaError::KeyOutside;
    if (block[std::size_t(elementsStart - 1)] != 0)
        return MetaError::KeyUnterminated;
    const std::uint32_t expected = qFromBigEndian<quint32>(block.data());
    if (Hash(block.substr(std::size_t(hashes), std::size_t(end - hashes))) != expected)
        return MetaError::HashMismatch;
    out.chunkHashes = block.substr(std::size_t(hashes), std::size_t(hashesSize));
    out.key = block.substr(std::size_t(keyStart), keySize);
    out.elements = block.substr(std::size_t(elementsStart), std::size_t(end - elementsStart));
    // Elements come in NUL-terminated pairs (Firefox checks for a final NUL and an even
    // number of them: the same). The ones a listing needs are taken on the way.
    const std::string_view elements = out.elements;
    std::size_t pos = 0;
    while (pos < elements.size()) {
        const char *start = elements.data() + pos;
        const auto *nameEnd = static_cast<const char *>(std::memchr(start, 0, elements.size() - pos));
        if (!nameEnd)
            return MetaError::BadElements;
        const std::size_t valuePos = std::size_t(nameEnd - elements.data()) + 1;
        const auto *valueEnd =
            static_cast<const char *>(std::memchr(elements.data() + valuePos, 0, elements.size() - valuePos));
        if (!valueEnd)
            return MetaError::BadElements;
        const std::string_view name(start, std::size_t(nameEnd - start));
        const std::string_view value(elements.data() + valuePos, std::size_t(valueEnd - elements.data()) - valuePos);
        if (name == "response-head") {
            out.responseHead = value;
            out.hasResponseHead = true;
        } else if (name == "request-method") {
            out.requestMethod = value;
        } else if (name == "alt-data") {
            out.altData = value;
            out.hasAltData = true;
        }
        pos = std::size_t(valueEnd - elements.data()) + 1;
    }
    return MetaError::None;
}

bool ParseAltData(std::string_view value, std::uint64_t &offset, std::string_view &type)
{
    // Only version 1 of the record exists.
    if (value.size() < 3 || value.substr(0, 2) != "1;")
        return false;
    value.remove_prefix(2);
    const std::size_t comma = value.find(',');
    if (comma == std::string_view::npos)
        return false;
    const std::string_view number = value.substr(0, comma);
    if (!allDigits(number) || number.size() > 18)
        return false;
    offset = 0;
    for (char c : number)
        offset = offset * 10 + std::uint64_t(c - '0');
    type = value.substr(comma + 1);
    return true;
}

bool ParseKey(std::string_view key, Key &out)
{
    out = Key{};
    std::size_t pos = 0;
    char lastTag = 0;
    while (pos < key.size()) {
        const char tag = key[pos++];
        // Tags come in ASCII order; ':' ends them.
        if (!(lastTag < tag || tag == ':'))
            return false;
        lastTag = tag;
        switch (tag) {
        case ':':
            out.url = key.substr(pos);
            return true;
        case 'O':
            if (!readTagValue(key, pos, &out.originAttributes))
                return false;
            if (!out.originAttributes.empty() && out.originAttributes[0] != '^')
                return false;
            break;
        case 'p':
            out.isPrivate = true;
            break;
        case 'a':
            out.anonymous = true;
            break;
        case 'i': { // an application id of old Firefox versions
            const std::size_t start = pos;
            while (pos < key.size() && key[pos] >= '0' && key[pos] <= '9')
                ++pos;
            if (pos == start || pos - start > 10)
                return false;
            break;
        }
        case '~':
            if (!readTagValue(key, pos, &out.id))
                return false;
            break;
        default: // a tag of old or newer versions: its value is skipped
            if (!readTagValue(key, pos, nullptr))
                return false;
            break;
        }
        if (pos >= key.size() || key[pos] != ',')
            return false;
        ++pos;
    }
    return false; // no URL
}

std::string ReadablePartition(const Key &key, std::string_view requestMethod)
{
    std::string out;
    bool isPrivate = key.isPrivate;
    std::string_view attributes = key.originAttributes;
    if (!attributes.empty() && attributes[0] == '^')
        attributes.remove_prefix(1);
    while (!attributes.empty()) {
        const std::size_t amp = attributes.find('&');
        const std::string_view pair = attributes.substr(0, amp);
        attributes.remove_prefix(amp == std::string_view::npos ? attributes.size() : amp + 1);
        const std::size_t eq = pair.find('=');
        const std::string_view name = pair.substr(0, eq);
        const std::string value = eq == std::string_view::npos ? std::string() : percentDecoded(pair.substr(eq + 1));
        if (name == "partitionKey") {
            appendPart(out, readableSite(value));
        } else if (name == "firstPartyDomain") {
            appendPart(out, "first party " + readableSite(value));
        } else if (name == "userContextId") {
            if (value != "0")
                appendPart(out, "container " + value);
        } else if (name == "privateBrowsingId") {
            if (value != "0")
                isPrivate = true;
        } else if (name == "geckoViewUserContextId") {
            appendPart(out, "context " + value);
        } else if (!pair.empty()) {
            appendPart(out, std::string(name) + "=" + value);
        }
    }
    if (isPrivate)
        appendPart(out, "private");
    if (key.anonymous)
        appendPart(out, "anonymous");
    if (!key.id.empty())
        appendPart(out, (equalsIgnoringCase(requestMethod, "POST") ? "POST " : "id ") + key.id);
    return out;
}

std::string FileNameForKey(std::string_view key)
{
    static const char Hex[] = "0123456789ABCDEF";
    const QByteArray sum =
        QCryptographicHash::hash(QByteArrayView(key.data(), qsizetype(key.size())), QCryptographicHash::Sha1);
    std::string name(40, '0');
    for (int i = 0; i < 20; ++i) {
        const auto byte = static_cast<unsigned char>(sum[i]);
        name[std::size_t(2 * i)] = Hex[byte >> 4];
        name[std::size_t(2 * i + 1)] = Hex[byte & 15];
    }
    return name;
}

bool IsEntryFileName(std::string_view name)
{
    return name.size() == 40 && std::all_of(name.begin(), name.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
           });
}

std::string_view EntryResult::reason() const
{
    switch (error) {
    case EntryError::None:
    case EntryError::NotDocument:
        return {};
    case EntryError::Metadata:
        return MetaErrorReason(metaError);
    case EntryError::WrongFileName:
        return "file name is not the SHA-1 of its key";
    case EntryError::BadKey:
        return "unreadable key";
    case EntryError::BadAltData:
        return "damaged alt-data record";
    }
    return "damaged entry";
}

namespace {

// Compares the SHA-1 of `key` with the 40 hex digits of `name`, without allocating.
bool nameMatchesKey(std::string_view name, std::string_view key)
{
    static const char Hex[] = "0123456789ABCDEF";
    if (name.size() != 40)
        return false;
    thread_local QCryptographicHash sha1(QCryptographicHash::Sha1);
    sha1.reset();
    sha1.addData(QByteArrayView(key.data(), qsizetype(key.size())));
    const QByteArrayView sum = sha1.resultView();
    for (std::size_t i = 0; i < 20; ++i) {
        const auto byte = static_cast<unsigned char>(sum[qsizetype(i)]);
        if (name[2 * i] != Hex[byte >> 4] || name[2 * i + 1] != Hex[byte & 15])
            return false;
    }
    return true;
}

} // namespace

EntryResult ReadEntry(std::string_view meta, std::uint64_t fileSize, std::string_view fileName, Entry &out,
                      const SealKey *key, std::string *clear)
{
    EntryResult result;
    out = Entry{};
    result.metaError = ParseMetadata(meta, fileSize, out.meta, key, clear);
    if (result.metaError != MetaError::None) {
        result.error = EntryError::Metadata;
        return result;
    }
    if (!fileName.empty() && !nameMatchesKey(fileName, out.meta.key)) {
        result.error = EntryError::WrongFileName;
        return result;
    }
    if (!out.meta.hasResponseHead) {
        result.error = EntryError::NotDocument;
        return result;
    }
    out.responseHead = out.meta.responseHead;
    out.requestMethod = out.meta.requestMethod;
    out.bodySize = out.meta.dataSize;
    if (out.meta.hasAltData) {
        const std::string_view altData = out.meta.altData;
        // Past the offset lies compiled script, never content; an offset beyond the data
        // leaves no way to tell where the body ends.
        std::uint64_t offset = 0;
        std::string_view type;
        if (!ParseAltData(altData, offset, type) || offset > out.meta.dataSize) {
            result.error = EntryError::BadAltData;
            return result;
        }
        out.bodySize = offset;
        out.hasAltData = true;
    }
    if (!ParseKey(out.meta.key, out.key)) {
        result.error = EntryError::BadKey;
        return result;
    }
    return result;
}

EntryResult ParseFirefoxEntry(const std::uint8_t *bytes, std::size_t size, std::string_view fileName, Entry &out,
                              const SealKey *key, std::string *clear)
{
    const std::string_view file(reinterpret_cast<const char *>(bytes), size);
    Trailer trailer;
    EntryResult result;
    result.metaError = ReadTrailer(file.substr(size - std::min<std::size_t>(size, 8)), size, trailer);
    if (result.metaError != MetaError::None) {
        result.error = EntryError::Metadata;
        return result;
    }
    return ReadEntry(file.substr(std::size_t(trailer.metaStart)), size, fileName, out, key, clear);
}

bool OpenEntryData(std::string_view file, const Metadata &meta, const SealKey *key, std::string &data)
{
    data.clear();
    const bool encrypted = meta.trailer.encrypted;
    if ((encrypted && !key) || StoredDataSize(meta.dataSize, encrypted) > file.size())
        return false;
    std::string chunk;
    std::uint64_t at = 0;
    for (std::uint64_t i = 0; i < ChunkCount(meta.dataSize); ++i) {
        const std::size_t size = std::size_t(std::min<std::uint64_t>(ChunkSize, meta.dataSize - i * ChunkSize));
        std::string_view clear = file.substr(std::size_t(at), size);
        if (encrypted) {
            if (!OpenBlock(*key, i, file.substr(std::size_t(at), size + SealOverhead), {}, chunk))
                return false;
            clear = chunk;
            at += SealOverhead;
        }
        at += size;
        const std::uint16_t hash = qFromBigEndian<quint16>(meta.chunkHashes.data() + 2 * i);
        if (Hash16(clear) != hash)
            return false;
        data.append(clear);
    }
    return true;
}

namespace {

StoreTime fromUnix(std::uint32_t seconds)
{
    return seconds == 0 ? 0 : StoreTimeFromUnix(seconds);
}

} // namespace

void FillStoreEntry(const Entry &entry, std::string_view container, StoreListing &listing, StoreEntry &out)
{
    out = StoreEntry{};
    const ResponseFacts facts = ReadResponseFacts(entry.responseHead);
    out.key = listing.addText(entry.meta.key);
    out.url = listing.addText(entry.key.url);
    out.headers = listing.addText(entry.responseHead);
    out.contentType = listing.addText(facts.contentType);
    out.contentEncoding = listing.addText(facts.contentEncoding);
    out.requestMethod = listing.addText(entry.requestMethod);
    out.container = listing.addText(container);
    const std::string partition = ReadablePartition(entry.key, entry.requestMethod);
    out.partition = listing.addText(partition);
    out.body = BodyPlace::Range;
    out.bodyOffset = 0;
    out.size = entry.bodySize;
    out.httpStatus = facts.status;
    out.hitCount = entry.meta.fetchCount;
    out.lastAccess = fromUnix(entry.meta.lastFetched);
    // The metadata changes when a response is stored or revalidated; without that time,
    // the response's own date.
    out.lastSync = entry.meta.lastModified ? fromUnix(entry.meta.lastModified) : StoreTimeFromHttpDate(facts.date);
    out.lastModified = StoreTimeFromHttpDate(facts.lastModified);
    const std::uint32_t expiry = entry.meta.expirationTime;
    out.expires = expiry != 0 && expiry != NoExpiration ? fromUnix(expiry) : StoreTimeFromHttpDate(facts.expires);
    out.hasLocalFile = true;
    std::uint16_t flags = 0;
    if (entry.key.anonymous)
        flags |= EntryAnonymous;
    if (entry.meta.flags & PinnedFlag)
        flags |= EntryPinned;
    if (!CanDecode(facts.contentEncoding))
        flags |= EntryUndecodable;
    // A partial response, or less than the response said it sent: an interrupted download
    // Firefox completes later with a range request.
    if (facts.status == 206 || (facts.contentLength && entry.bodySize < *facts.contentLength))
        flags |= EntryTruncated;
    out.flags = flags;
}

} // namespace cache2
