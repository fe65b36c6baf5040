#include "indexdatwriter.h"

#include "newfile.h"

#include "splitmix.h"
#include "stores/indexdatformat.h"
#include "stores/indexdattext.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

using namespace indexdat;

namespace {

constexpr char NameAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

std::string randomName(SplitMix &rng)
{
    std::string name(8, ' ');
    for (char &c : name)
        c = NameAlphabet[rng.below(36)];
    return name;
}

std::size_t align8(std::size_t n)
{
    return (n + 7) & ~std::size_t(7);
}

std::string lower(std::string s)
{
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return s;
}

std::string mimeTypeOf(const std::string &ext)
{
    static const std::map<std::string, std::string> types = {{"htm", "text/html"},    {"html", "text/html"},
                                                             {"css", "text/css"},     {"js", "application/javascript"},
                                                             {"txt", "text/plain"},   {"class", "application/java-vm"},
                                                             {"jpg", "image/jpeg"},   {"jpeg", "image/jpeg"},
                                                             {"gif", "image/gif"},    {"png", "image/png"},
                                                             {"ico", "image/x-icon"}, {"xml", "text/xml"}};
    const auto it = types.find(lower(ext));
    return it == types.end() ? "application/octet-stream" : it->second;
}

// Characters a Windows file name cannot hold become '_'.
std::string windowsSafe(std::string_view text)
{
    std::string out(text);
    for (char &c : out)
        if (static_cast<unsigned char>(c) < 0x20 || std::strchr("\\/:*?\"<>|", c))
            c = '_';
    return out;
}

// The last path segment of a URL without query and fragment, split into base and extension.
void lastSegment(std::string_view url, std::string &base, std::string &ext)
{
    url = url.substr(0, std::min(url.find('?'), url.find('#')));
    auto cut = url.rfind('/');
    if (cut == std::string_view::npos)
        cut = url.rfind(':');
    const std::string_view segment = cut == std::string_view::npos ? url : url.substr(cut + 1);
    const auto dot = segment.rfind('.');
    if (dot == std::string_view::npos || dot == 0) {
        base = std::string(segment);
        ext.clear();
    } else {
        base = std::string(segment.substr(0, dot));
        ext = std::string(segment.substr(dot + 1));
    }
}

// Everything known about one entry before the file is laid out.
struct Planned {
    std::string storedUrl;
    std::string fileName; // UTF-8, as on disk
    std::string storedName;
    std::string storedExt;
    std::string header;
    std::uint8_t folder = FolderNone;
    std::uint32_t hash = 0;
    std::uint32_t blocks = 0;
};

bool makeFolder(const std::string &path, std::string &error)
{
    std::string partial;
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        partial = path.substr(0, pos);
        if (partial.empty() || ::mkdir(partial.c_str(), 0755) == 0 || errno == EEXIST)
            continue;
        error = partial + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace

std::size_t UrlCacheStoreEntryLimit()
{
    return MaxBlocks - HashPageBlocks;
}

StoreWriteResult WriteUrlCacheStore(const std::string &folder, const std::vector<StoreWriterEntry> &entries,
                                    const StoreWriterOptions &options)
{
    StoreWriteResult result;
    auto fail = [&result](std::string why) {
        result.error = std::move(why);
        return result;
    };
    if (entries.size() > UrlCacheStoreEntryLimit())
        return fail("too many entries: a cache store holds at most " + std::to_string(UrlCacheStoreEntryLimit())
                    + " entries (0xF70000 bytes)");
    if (options.folderCount < 1 || options.folderCount > MaxFolders)
        return fail("the folder count must lie between 1 and 32");
    const std::string indexPath = folder + "/index.dat";
    if (::access(indexPath.c_str(), F_OK) == 0)
        return fail(indexPath + " exists already; the writer never writes into an existing store");

    SplitMix rng(options.seed);
    std::vector<std::string> folders;
    while (folders.size() < options.folderCount) {
        std::string name = randomName(rng);
        if (std::find(folders.begin(), folders.end(), name) == folders.end())
            folders.push_back(std::move(name));
    }
    std::int64_t now = options.now ? options.now : std::int64_t(std::time(nullptr));
    now &= ~std::int64_t(1); // DOS times have two-second steps

    // Names, texts and sizes of every record.
    std::vector<Planned> planned(entries.size());
    std::unordered_set<std::string> urls;
    std::vector<std::set<std::string>> taken(folders.size());
    std::vector<std::map<std::string, unsigned>> nextNumber(folders.size());
    std::vector<std::uint32_t> folderFiles(folders.size(), 0);
    const unsigned firstIndex = 1;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const StoreWriterEntry &in = entries[i];
        Planned &p = planned[i];
        if (in.url.empty())
            return fail("entry " + std::to_string(i + 1) + " has no URL");
        if (!urls.insert(in.url).second)
            return fail("the URL " + in.url + " is given twice");
        bool ok = true;
        p.storedUrl = ToStoreBytes(in.url, &ok);
        if (!ok)
            return fail("the URL " + in.url + " has characters without a GBK form");
        if (p.storedUrl.find('\0') != std::string::npos)
            return fail("the URL " + in.url + " holds a NUL byte");

        std::string base, urlExt;
        lastSegment(in.url, base, urlExt);
        std::string ext = windowsSafe(in.extension.empty() ? urlExt : in.extension);
        if (in.hasLocalFile) {
            p.folder = std::uint8_t(rng.below(std::uint32_t(folders.size())));
            auto &names = taken[p.folder];
            std::string name;
            if (base.empty()) {
                // A URL ending in '/' gets a made-up name, as WinInet does.
                do {
                    name = randomName(rng) + "." + (ext.empty() ? std::string("htm") : ext);
                } while (names.count(lower(name)));
            } else {
                base = windowsSafe(base);
                if (base.size() > 80) {
                    std::size_t cut = 80;
                    while (cut > 0 && (static_cast<unsigned char>(base[cut]) & 0xC0) == 0x80)
                        --cut;
                    base.resize(cut);
                }
                // Each base name counts on from where it stopped, so many equal names stay cheap.
                unsigned &n = nextNumber[p.folder].try_emplace(lower(base + "." + ext), firstIndex).first->second;
                do {
                    name = base + "[" + std::to_string(n++) + "]" + (ext.empty() ? "" : "." + ext);
                } while (names.count(lower(name)));
            }
            names.insert(lower(name));
            ++folderFiles[p.folder];
            p.fileName = name;
            p.storedName = ToStoreBytes(name, &ok);
            if (!ok)
                return fail("the file name of " + in.url + " has characters without a GBK form");
        }
        p.storedExt = ToStoreBytes(ext, &ok);
        p.header = in.headerInfo.empty()
            ? "HTTP/1.1 200 OK\r\nContent-Type: " + mimeTypeOf(ext) + "\r\n\r\n" + std::string(1, '\0')
            : in.headerInfo;
        const std::size_t bytes = UrlFixedSize + align8(p.storedUrl.size() + 1)
            + (in.hasLocalFile ? align8(p.storedName.size() + 1) : 0) + align8(p.header.size())
            + (p.storedExt.empty() ? 0 : align8(p.storedExt.size() + 1));
        p.blocks = std::uint32_t((bytes + BlockSize - 1) / BlockSize);
        p.hash = NativeUrlHash(p.storedUrl);
    }

    // Hash pages: as many as the fullest bucket needs.
    std::vector<std::uint32_t> bucketFill(64, 0);
    for (const Planned &p : planned)
        ++bucketFill[p.hash & 63];
    const std::uint32_t fullest = *std::max_element(bucketFill.begin(), bucketFill.end());
    const std::uint32_t pages = std::max<std::uint32_t>(1, (fullest + HashBucketItems - 1) / HashBucketItems);
    std::uint64_t used = std::uint64_t(pages) * HashPageBlocks;
    for (const Planned &p : planned)
        used += p.blocks;
    if (used > MaxBlocks)
        return fail("the entries need " + std::to_string(used) + " blocks of 128 bytes; a cache store holds at most "
                    + std::to_string(MaxBlocks) + " (0xF70000 bytes)");
    const std::uint32_t capacity =
        std::max<std::uint32_t>(GrowBlocks, std::uint32_t((used + GrowBlocks - 1) / GrowBlocks * GrowBlocks));
    const std::uint32_t fileSize = HeaderSize + capacity * BlockSize;

    // Lay the file out in memory.
    std::vector<std::uint8_t> file(fileSize, 0);
    std::uint8_t *d = file.data();
    std::memcpy(d, SignatureNative52, SignatureSize);
    qToLittleEndian<quint32>(fileSize, d + OffFileSize);
    qToLittleEndian<quint32>(HeaderSize, d + OffHashTable);
    qToLittleEndian<quint32>(capacity, d + OffCapacity);
    qToLittleEndian<quint32>(std::uint32_t(used), d + OffAllocated);
    qToLittleEndian<quint32>(std::uint32_t(folders.size()), d + OffFolderCount);
    for (std::size_t f = 0; f < folders.size(); ++f) {
        qToLittleEndian<quint32>(folderFiles[f], d + OffFolders + FolderEntrySize * f);
        std::memcpy(d + OffFolders + FolderEntrySize * f + 4, folders[f].data(), 8);
    }
    for (std::uint32_t b = 0; b < used; ++b)
        d[OffBitmap + b / 8] |= std::uint8_t(1u << (b % 8));

    for (std::uint32_t page = 0; page < pages; ++page) {
        std::uint8_t *p = d + HeaderSize + page * HashPageSize;
        qToLittleEndian<quint32>(SigHash, p);
        qToLittleEndian<quint32>(HashPageBlocks, p + 4);
        qToLittleEndian<quint32>(page + 1 < pages ? HeaderSize + (page + 1) * HashPageSize : 0, p + 8);
        qToLittleEndian<quint32>(page, p + 12);
        for (std::uint32_t i = 0; i < HashItemsPerPage; ++i) {
            qToLittleEndian<quint32>(KeyUnused, p + OffHashItems + 8 * i);
            qToLittleEndian<quint32>(KeyUnused, p + OffHashItems + 8 * i + 4);
        }
        for (std::uint32_t off = OffHashItems + 8 * HashItemsPerPage; off < HashPageSize; off += 4)
            qToLittleEndian<quint32>(FillNew, p + off);
    }

    const std::uint32_t dosNow = DosFromUnix(now);
    const std::uint32_t dosExpiry = DosFromUnix(now + 30 * 86400);
    std::uint64_t usage = 0, exemptUsage = 0;
    std::uint32_t nextBlock = pages * HashPageBlocks;
    result.entries.resize(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const StoreWriterEntry &in = entries[i];
        const Planned &p = planned[i];
        const std::uint32_t recordOffset = HeaderSize + nextBlock * BlockSize;
        nextBlock += p.blocks;
        std::uint8_t *r = d + recordOffset;
        for (std::uint32_t off = 0; off < p.blocks * BlockSize; off += 4)
            qToLittleEndian<quint32>(FillNew, r + off);
        const std::int64_t access = in.lastAccess ? in.lastAccess : now;
        qToLittleEndian<quint32>(SigUrl, r);
        qToLittleEndian<quint32>(p.blocks, r + 4);
        qToLittleEndian<quint64>(FileTimeFromUnix(now - 86400 - std::int64_t(i % 86400)), r + 0x08);
        qToLittleEndian<quint64>(FileTimeFromUnix(access), r + 0x10);
        qToLittleEndian<quint16>(std::uint16_t(dosExpiry >> 16), r + 0x18);
        qToLittleEndian<quint16>(std::uint16_t(dosExpiry), r + 0x1A);
        qToLittleEndian<quint32>(0, r + 0x1C);
        qToLittleEndian<quint32>(0, r + 0x28);
        qToLittleEndian<quint32>(in.entryType & StickyEntry ? 86400 : 0, r + 0x2C);
        qToLittleEndian<quint32>(0x60, r + 0x30);
        std::uint32_t cursor = UrlFixedSize;
        auto putText = [&](const std::string &text, std::size_t length) {
            std::memcpy(r + cursor, text.data(), text.size());
            std::memset(r + cursor + text.size(), 0, length - text.size());
            const std::uint32_t at = cursor;
            cursor += std::uint32_t(align8(length));
            return at;
        };
        qToLittleEndian<quint32>(putText(p.storedUrl, p.storedUrl.size() + 1), r + 0x34);
        r[0x38] = p.folder;
        r[0x39] = 0;
        r[0x3A] = 0x10;
        r[0x3B] = 0x10;
        qToLittleEndian<quint32>(in.hasLocalFile ? putText(p.storedName, p.storedName.size() + 1) : 0, r + 0x3C);
        qToLittleEndian<quint32>(in.entryType, r + 0x40);
        qToLittleEndian<quint32>(putText(p.header, p.header.size()), r + 0x44);
        qToLittleEndian<quint32>(std::uint32_t(p.header.size()), r + 0x48);
        qToLittleEndian<quint32>(p.storedExt.empty() ? 0 : putText(p.storedExt, p.storedExt.size() + 1), r + 0x4C);
        qToLittleEndian<quint16>(std::uint16_t(dosNow >> 16), r + 0x50);
        qToLittleEndian<quint16>(std::uint16_t(dosNow), r + 0x52);
        qToLittleEndian<quint32>(1, r + 0x54);
        qToLittleEndian<quint32>(in.useCount, r + 0x58);
        qToLittleEndian<quint16>(std::uint16_t(dosNow >> 16), r + 0x5C);
        qToLittleEndian<quint16>(std::uint16_t(dosNow), r + 0x5E);
        qToLittleEndian<quint32>(0, r + 0x60);

        // The first never-used item of the bucket, in page order.
        const std::uint32_t bucket = p.hash & 63;
        std::uint32_t itemOffset = 0;
        for (std::uint32_t page = 0; page < pages && !itemOffset; ++page)
            for (std::uint32_t slot = 0; slot < HashBucketItems; ++slot) {
                const std::uint32_t at =
                    HeaderSize + page * HashPageSize + OffHashItems + 8 * (bucket * HashBucketItems + slot);
                if (qFromLittleEndian<quint32>(d + at) == KeyUnused) {
                    itemOffset = at;
                    break;
                }
            }
        qToLittleEndian<quint32>((p.hash & ~63u) | (in.locked ? KeyLocked : 0), d + itemOffset);
        qToLittleEndian<quint32>(recordOffset, d + itemOffset + 4);

        WrittenEntry &out = result.entries[i];
        out.url = in.url;
        out.itemOffset = itemOffset;
        out.recordOffset = recordOffset;
        out.blocks = p.blocks;
        if (in.hasLocalFile)
            out.localFile = folder + "/" + folders[p.folder] + "/" + p.fileName;
    }

    // Content files first, the index last: a failure leaves no index behind.
    std::string error;
    for (const std::string &f : folders)
        if (!makeFolder(folder + "/" + f, error))
            return fail(error);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::string generated = options.contentFor ? options.contentFor(i) : std::string();
        const std::string &bytes = options.contentFor ? generated : entries[i].content;
        result.entries[i].size = bytes.size();
        // Wine removes a local file only when its write time matches the record.
        if (entries[i].hasLocalFile && !WriteNewFile(result.entries[i].localFile, bytes, error, 0644, now))
            return fail(error);
        qToLittleEndian<quint64>(bytes.size(), d + result.entries[i].recordOffset + 0x20);
        usage += bytes.size();
        if (entries[i].entryType & StickyEntry)
            exemptUsage += bytes.size();
    }
    // Native stores count sticky entries in the total as well.
    qToLittleEndian<quint64>(usage, d + OffUsage);
    qToLittleEndian<quint64>(exemptUsage, d + OffExemptUsage);
    const std::uint64_t limit = std::max<std::uint64_t>(50ull << 20, ((usage * 2) >> 20 << 20) + (1ull << 20));
    qToLittleEndian<quint64>(limit, d + OffCacheLimit);

    if (!WriteNewFile(indexPath, std::string_view(reinterpret_cast<const char *>(d), file.size()), error, 0644, now))
        return fail(error);

    result.ok = true;
    result.indexPath = indexPath;
    result.fileSize = fileSize;
    result.allocatedBlocks = std::uint32_t(used);
    result.hashPages = pages;
    result.folders = folders;
    return result;
}
