#include "chromiumsimple.h"

#include "bodies.h"
#include "chromiumstores.h"
#include "parallel.h"
#include "paths.h"
#include "readfully.h"

#include <QCryptographicHash>
#include <QtEndian>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <zlib.h>

std::uint64_t SimpleEntryHash(std::string_view key)
{
    const QByteArray sha1 =
        QCryptographicHash::hash(QByteArrayView(key.data(), qsizetype(key.size())), QCryptographicHash::Sha1);
    return qFromLittleEndian<quint64>(sha1.constData());
}

std::string SimpleEntryFileName(std::uint64_t hash, int stream)
{
    char name[24];
    std::snprintf(name, sizeof name, "%016llx_%c", static_cast<unsigned long long>(hash),
                  stream == 0       ? '0'
                      : stream == 1 ? '1'
                                    : 's');
    return name;
}

namespace {

// The bytes [offset, offset + length) of the file, when the view holds all of them.
const unsigned char *viewAt(const SimpleFileView &v, std::uint64_t offset, std::uint64_t length)
{
    if (offset > v.fileSize || length > v.fileSize - offset)
        return nullptr;
    if (offset + length <= v.headSize)
        return v.head + offset;
    const std::uint64_t tailStart = v.fileSize - v.tailSize;
    if (offset >= tailStart)
        return v.tail + (offset - tailStart);
    return nullptr;
}

std::uint32_t crcOf(const unsigned char *data, std::uint64_t size)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    while (size > 0) {
        const uInt piece = uInt(std::min<std::uint64_t>(size, 1u << 30));
        crc = crc32(crc, data, piece);
        data += piece;
        size -= piece;
    }
    return std::uint32_t(crc);
}

SimpleEntryFacts damaged(std::string why)
{
    SimpleEntryFacts facts;
    facts.outcome = SimpleEntryFacts::Damaged;
    facts.why = std::move(why);
    return facts;
}

} // namespace

SimpleEntryFacts ParseSimpleEntry(const SimpleFileView &view, std::optional<std::uint64_t> nameHash)
{
    const std::uint64_t size = view.fileSize;
    if (view.headSize > size || view.tailSize > size || (view.headSize && !view.head) || (view.tailSize && !view.tail))
        return damaged("inconsistent read");
    // Header, key of at least a byte, two end records: 61 bytes with the packed records.
    if (size < 61)
        return damaged("shorter than an entry");
    SimpleEntryFacts facts;
    auto needMore = [&facts](std::size_t head, std::size_t tail) {
        facts.outcome = SimpleEntryFacts::NeedMore;
        facts.needHead = head;
        facts.needTail = tail;
        return facts;
    };

    // The record size: where the final end record's magic sits.
    const unsigned char *last24 = viewAt(view, size - 24, 24);
    if (!last24)
        return needMore(0, 24);
    std::size_t rec = 0;
    if (qFromLittleEndian<quint64>(last24) == SimpleFinalMagic)
        rec = 24;
    else if (qFromLittleEndian<quint64>(last24 + 4) == SimpleFinalMagic)
        rec = 20;
    else
        return damaged("no end record at the end of the file");
    facts.recordSize = rec;

    const unsigned char *header = viewAt(view, 0, rec);
    if (!header)
        return needMore(rec, 0);
    if (qFromLittleEndian<quint64>(header) != SimpleInitialMagic)
        return damaged("bad header magic");
    const std::uint32_t version = qFromLittleEndian<quint32>(header + 8);
    if (version != SimpleEntryVersion)
        return damaged("entry version " + std::to_string(version));
    const std::uint32_t keyLength = qFromLittleEndian<quint32>(header + 12);
    if (keyLength == 0 || std::uint64_t(keyLength) + 3 * rec > size)
        return damaged("key longer than the file");
    const unsigned char *key = viewAt(view, rec, keyLength);
    if (!key)
        return needMore(rec + keyLength, 0);
    facts.key = std::string_view(reinterpret_cast<const char *>(key), keyLength);
    if (qFromLittleEndian<quint32>(header + 16) != ChromiumSuperFastHash(key, keyLength))
        return damaged("key hash mismatch");
    if (nameHash && SimpleEntryHash(facts.key) != *nameHash)
        return damaged("file name does not match the key");

    const unsigned char *eof0 = last24 + (24 - rec);
    const std::uint32_t flags0 = qFromLittleEndian<quint32>(eof0 + 8);
    const std::uint32_t crc0 = qFromLittleEndian<quint32>(eof0 + 12);
    const std::uint32_t stream0Size = qFromLittleEndian<quint32>(eof0 + 16);
    const std::uint64_t shaSize = (flags0 & SimpleEofHasKeySha256) ? 32 : 0;
    const std::uint64_t bodyStart = rec + std::uint64_t(keyLength);
    if (bodyStart + rec + stream0Size + shaSize + rec > size)
        return damaged("response info larger than the file");
    const std::uint64_t stream0Start = size - rec - shaSize - stream0Size;
    const std::uint64_t eof1At = stream0Start - rec;
    const unsigned char *eof1 = viewAt(view, eof1At, size - eof1At);
    if (!eof1)
        return needMore(0, std::size_t(size - eof1At));
    if (qFromLittleEndian<quint64>(eof1) != SimpleFinalMagic)
        return damaged("no end record after the body");
    const unsigned char *stream0 = eof1 + rec;
    if ((flags0 & SimpleEofHasCrc) && crcOf(stream0, stream0Size) != crc0)
        return damaged("response info checksum mismatch");
    if (shaSize) {
        const QByteArray sha256 = QCryptographicHash::hash(QByteArrayView(key, keyLength), QCryptographicHash::Sha256);
        if (std::memcmp(sha256.constData(), stream0 + stream0Size, 32) != 0)
            return damaged("key digest mismatch");
    }
    facts.bodyOffset = bodyStart;
    facts.bodySize = eof1At - bodyStart;
    const std::uint32_t flags1 = qFromLittleEndian<quint32>(eof1 + 8);
    if (flags1 & SimpleEofHasCrc) {
        // The body's checksum is checked when the body was read anyway (small files are read
        // whole); reading every large body only to list it would cost as much as copying the cache.
        if (const unsigned char *body = viewAt(view, facts.bodyOffset, facts.bodySize)) {
            if (crcOf(body, facts.bodySize) != qFromLittleEndian<quint32>(eof1 + 12))
                return damaged("body checksum mismatch");
            facts.bodyChecked = true;
        }
    }
    if (stream0Size == 0) {
        facts.outcome = SimpleEntryFacts::NotADocument;
        return facts;
    }
    std::string why;
    if (!ParseChromiumResponseInfo(stream0, stream0Size, facts.info, why))
        return damaged(why);
    facts.outcome = SimpleEntryFacts::Entry;
    return facts;
}

std::vector<std::pair<std::uint64_t, std::int64_t>> ParseSimpleIndex(const unsigned char *data, std::size_t size)
{
    std::vector<std::pair<std::uint64_t, std::int64_t>> out;
    if (size < 8)
        return out;
    const std::uint32_t payload = qFromLittleEndian<quint32>(data);
    if (payload > size - 8 || crcOf(data + 8, payload) != qFromLittleEndian<quint32>(data + 4))
        return out;
    const unsigned char *p = data + 8;
    const unsigned char *end = p + payload;
    if (payload < 28 || qFromLittleEndian<quint64>(p) != SimpleIndexMagic)
        return out;
    const std::uint32_t version = qFromLittleEndian<quint32>(p + 8);
    if (version < 6 || version > 9)
        return out;
    const std::uint64_t count = qFromLittleEndian<quint64>(p + 12);
    p += 28; // magic, version, count, cache size
    if (version >= 7) {
        if (end - p < 4)
            return out;
        p += 4; // why the index was written
    }
    if (count > std::uint64_t(end - p) / 24)
        return out;
    out.reserve(std::size_t(count));
    for (std::uint64_t i = 0; i < count; ++i, p += 24)
        out.emplace_back(qFromLittleEndian<quint64>(p), std::int64_t(qFromLittleEndian<quint64>(p + 8)));
    std::sort(out.begin(), out.end());
    return out;
}

namespace {

// "<16 hex>_<stream>": stream '0' for the entry file, 's' for its sparse ranges.
bool isEntryFileName(const char *name, char stream = '0')
{
    if (std::strlen(name) != 18 || name[16] != '_' || name[17] != stream)
        return false;
    for (int i = 0; i < 16; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(name[i])))
            return false;
    return true;
}

// Small entry files are read whole in one call; of larger ones the start (header and key)
// and the end (records and response info), more only when the records say so.
constexpr std::size_t WholeFileLimit = 64 * 1024;
constexpr std::size_t HeadRead = 4096;
constexpr std::size_t TailRead = 16 * 1024;
// Keys and response infos beyond these are not real entries.
constexpr std::size_t MaxHeadRead = 1 << 20;
constexpr std::size_t MaxTailRead = 16 << 20;

bool readAt(int fd, unsigned char *into, std::size_t count, std::uint64_t offset)
{
    return ReadFullyAt(fd, into, count, offset) == (long long)count;
}

// One entry file read and parsed; the facts point into `buffer`.
struct ReadEntry {
    std::vector<unsigned char> head, tail;
    SimpleEntryFacts facts;
    std::string error; // the file could not be read: why
    bool vanished = false;
};

void readEntryFile(int dirFd, const char *name, std::optional<std::uint64_t> nameHash, ReadEntry &out)
{
    out.error.clear();
    out.vanished = false;
    const int fd = ::openat(dirFd, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
    if (fd < 0) {
        if (errno == ENOENT)
            out.vanished = true;
        out.error = errno == ELOOP ? "a symbolic link, not an entry file" : "entry file unreadable";
        return;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        out.error = "not a regular file";
        return;
    }
    const std::uint64_t size = std::uint64_t(st.st_size);
    SimpleFileView view;
    view.fileSize = size;
    if (size <= WholeFileLimit) {
        out.head.resize(std::size_t(size));
        if (!readAt(fd, out.head.data(), out.head.size(), 0)) {
            out.error = "entry file cut short while reading";
            return;
        }
        view.head = view.tail = out.head.data();
        view.headSize = view.tailSize = std::size_t(size);
        out.facts = ParseSimpleEntry(view, nameHash);
        return;
    }
    std::size_t headSize = HeadRead, tailSize = TailRead;
    for (int round = 0; round < 3; ++round) {
        out.head.resize(headSize);
        out.tail.resize(tailSize);
        if (!readAt(fd, out.head.data(), headSize, 0) || !readAt(fd, out.tail.data(), tailSize, size - tailSize)) {
            out.error = "entry file cut short while reading";
            return;
        }
        view.head = out.head.data();
        view.headSize = headSize;
        view.tail = out.tail.data();
        view.tailSize = tailSize;
        out.facts = ParseSimpleEntry(view, nameHash);
        if (out.facts.outcome != SimpleEntryFacts::NeedMore)
            return;
        if (out.facts.needHead > MaxHeadRead || out.facts.needTail > MaxTailRead)
            break;
        headSize = std::max(headSize, out.facts.needHead);
        tailSize = std::max(tailSize, out.facts.needTail);
    }
    out.facts = damaged("records too large");
}

int openFolder(const std::string &folder)
{
    return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

std::vector<std::pair<std::uint64_t, std::int64_t>> readIndexHints(const std::string &folder)
{
    const int fd = ::open((folder + "/index-dir/the-real-index").c_str(),
                          O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
    if (fd < 0)
        return {};
    std::vector<unsigned char> bytes;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 && st.st_size <= (64 << 20)) {
        bytes.resize(std::size_t(st.st_size));
        if (!readAt(fd, bytes.data(), bytes.size(), 0))
            bytes.clear();
    }
    ::close(fd);
    return ParseSimpleIndex(bytes.data(), bytes.size());
}

std::string environmentFolder(const char *variable, const char *belowHome)
{
    if (const char *value = std::getenv(variable); value && *value == '/')
        return value;
    if (const char *home = std::getenv("HOME"); home && *home == '/')
        return std::string(home) + belowHome;
    return {};
}

} // namespace

ChromiumSimpleStore::ChromiumSimpleStore(std::string folder) : m_folder(std::move(folder))
{
    while (m_folder.size() > 1 && m_folder.back() == '/')
        m_folder.pop_back();
}

namespace {

using IndexHints = std::vector<std::pair<std::uint64_t, std::int64_t>>;

// Lists the entry files names[begin, end) into `listing`.
void listEntries(int dirFd, const std::string &folder, const std::vector<std::string> &names, std::size_t begin,
                 std::size_t end, const IndexHints &hints, const std::vector<std::uint64_t> &sparse,
                 StoreListing &listing)
{
    ReadEntry read;
    const BodyPathPlanner bodies(folder);
    for (std::size_t i = begin; i < end; ++i) {
        const std::string &name = names[i];
        const std::uint64_t nameHash = std::strtoull(name.substr(0, 16).c_str(), nullptr, 16);
        readEntryFile(dirFd, name.c_str(), nameHash, read);
        if (read.vanished)
            continue;
        if (!read.error.empty()) {
            listing.skip(read.error);
            continue;
        }
        const SimpleEntryFacts &facts = read.facts;
        if (facts.outcome == SimpleEntryFacts::NotADocument)
            continue;
        if (facts.outcome != SimpleEntryFacts::Entry) {
            listing.skip(facts.why);
            continue;
        }
        StoreEntry e;
        FillChromiumEntry(listing, e, facts.key, &facts.info);
        e.body = BodyPlace::Range;
        e.container = listing.addText(folder + "/" + name);
        e.bodyOffset = facts.bodyOffset;
        e.size = facts.bodySize;
        const auto hint = std::lower_bound(hints.begin(), hints.end(), std::make_pair(nameHash, std::int64_t(0)),
                                           [](const auto &a, const auto &b) { return a.first < b.first; });
        if (hint != hints.end() && hint->first == nameHash)
            e.lastAccess = StoreTimeFromChromium(hint->second);
        // Media kept as sparse ranges: stream 1 holds a part of the document at most.
        if (std::binary_search(sparse.begin(), sparse.end(), nameHash))
            e.flags |= EntryTruncated;
        const std::string local = bodies.path(name, listing.text(e.url), listing.text(e.contentType));
        e.localFile = listing.addText(local);
        e.hasLocalFile = true;
        listing.entries.push_back(e);
    }
}

// Below this many files one thread lists faster than two start.
constexpr std::size_t ThreadedListing = 2000;

} // namespace

StoreListing ChromiumSimpleStore::list()
{
    StoreListing listing;
    const int dirFd = openFolder(m_folder);
    if (dirFd < 0) {
        listing.failErrno(m_folder);
        return listing;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{dirFd};
    std::vector<std::string> names;
    std::vector<std::uint64_t> sparse;
    if (DIR *dir = ::fdopendir(::dup(dirFd))) {
        while (const dirent *d = ::readdir(dir)) {
            if (isEntryFileName(d->d_name))
                names.emplace_back(d->d_name);
            else if (isEntryFileName(d->d_name, 's'))
                sparse.push_back(std::strtoull(std::string(d->d_name, 16).c_str(), nullptr, 16));
        }
        ::closedir(dir);
    } else {
        listing.failErrno(m_folder);
        return listing;
    }
    // Sorted by name: the same order however the work is split.
    std::sort(names.begin(), names.end());
    std::sort(sparse.begin(), sparse.end());
    const IndexHints hints = readIndexHints(m_folder);
    // Two halves on two threads: most of the time goes to opening and reading small files.
    const std::size_t workers = names.size() < ThreadedListing || std::thread::hardware_concurrency() < 2 ? 1 : 2;
    std::vector<StoreListing> parts(workers);
    ParallelParts(workers, [&](std::size_t part) {
        const PartRange range = ShareOf(names.size(), workers, part);
        parts[part].entries.reserve(range.end - range.begin);
        listEntries(dirFd, m_folder, names, range.begin, range.end, hints, sparse, parts[part]);
    });
    return JoinListings(parts);
}

std::vector<std::string> ChromiumUserDataCandidates(const std::string &cacheFolder)
{
    std::string cache = cacheFolder;
    while (cache.size() > 1 && cache.back() == '/')
        cache.pop_back();
    if (BaseName(cache) == "Cache_Data")
        cache = ParentOf(cache);
    // <browser folder>/<profile>/Cache; Opera keeps its one profile in the browser folder.
    const std::string profile = ParentOf(cache);
    const std::string browser = ParentOf(profile);
    const std::string cacheHome = environmentFolder("XDG_CACHE_HOME", "/.cache");
    const std::string configHome = environmentFolder("XDG_CONFIG_HOME", "/.config");
    std::vector<std::string> out;
    auto add = [&out](const std::string &folder) {
        if (!folder.empty() && std::find(out.begin(), out.end(), folder) == out.end())
            out.push_back(folder);
    };
    for (const std::string &folder : {browser, profile}) {
        if (!cacheHome.empty() && !configHome.empty() && folder.size() > cacheHome.size()
            && folder.compare(0, cacheHome.size(), cacheHome) == 0 && folder[cacheHome.size()] == '/')
            add(configHome + folder.substr(cacheHome.size()));
        // Sandboxed installs keep their own pair of folders: a snap's <common>/.cache/chromium
        // beside <common>/chromium, a flatpak's <app>/cache/... beside <app>/config/....
        for (const auto &[cachePart, configPart] : {std::pair<const char *, const char *>{"/.cache/", "/"},
                                                    {"/.cache/", "/.config/"},
                                                    {"/cache/", "/config/"}}) {
            const auto at = folder.rfind(cachePart);
            if (at != std::string::npos)
                add(folder.substr(0, at) + configPart + folder.substr(at + std::strlen(cachePart)));
        }
    }
    add(browser);
    add(profile);
    return out;
}

std::string ChromiumLockHolder(const std::string &userDataFolder)
{
    char target[512];
    const ssize_t n = ::readlink((userDataFolder + "/SingletonLock").c_str(), target, sizeof target - 1);
    if (n <= 0)
        return {};
    target[n] = '\0';
    const std::string holder(target);
    const auto dash = holder.rfind('-');
    if (dash == std::string::npos || dash == 0 || dash + 1 >= holder.size() || holder.size() - dash > 11)
        return {};
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || holder.compare(0, dash, host) != 0 || std::strlen(host) != dash)
        return {};
    long pid = 0;
    for (std::size_t i = dash + 1; i < holder.size(); ++i) {
        if (holder[i] < '0' || holder[i] > '9')
            return {};
        pid = pid * 10 + (holder[i] - '0');
    }
    if (pid <= 0 || pid > 0x7FFFFFFF)
        return {};
    if (::kill(pid_t(pid), 0) == 0 || errno == EPERM)
        return holder;
    return {};
}

std::string ChromiumSimpleStore::removalRefusal() const
{
    for (const std::string &folder : ChromiumUserDataCandidates(m_folder)) {
        const std::string holder = ChromiumLockHolder(folder);
        if (!holder.empty())
            return "the browser is running on this profile (process " + holder.substr(holder.rfind('-') + 1) + ", "
                + folder + "/SingletonLock); close the browser first";
    }
    return {};
}

namespace {

// Whether the stream file `name` (`_1` or `_s`) starts with the header and the key of `key`.
bool streamFileOfKey(int dirFd, const std::string &name, std::string_view key)
{
    const int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
    if (fd < 0)
        return false;
    std::vector<unsigned char> head(24 + key.size());
    const long long got = ReadFullyAt(fd, head.data(), head.size(), 0);
    ::close(fd);
    if (got < 20 || qFromLittleEndian<quint64>(head.data()) != SimpleInitialMagic
        || qFromLittleEndian<quint32>(head.data() + 12) != key.size())
        return false;
    // The key follows the header, which 32-bit builds pack into 20 bytes.
    for (const std::size_t at : {std::size_t(24), std::size_t(20)})
        if (std::size_t(got) >= at + key.size() && std::memcmp(head.data() + at, key.data(), key.size()) == 0)
            return true;
    return false;
}

// Removes what an interrupted removal of `key` left: its `_1` and `_s` files without a
// `_0`. Only files that carry the key go. Returns the failures, in words.
std::string removeLeftovers(int dirFd, const std::string &folder, std::uint64_t hash, std::string_view key)
{
    std::string failed;
    for (const int stream : {1, 2}) {
        const std::string name = SimpleEntryFileName(hash, stream);
        if (streamFileOfKey(dirFd, name, key) && ::unlinkat(dirFd, name.c_str(), 0) != 0 && errno != ENOENT)
            failed += (failed.empty() ? "" : "; ") + folder + "/" + name + ": " + std::strerror(errno);
    }
    return failed;
}

// Whether `name` ("<16 hex>_1" or "<16 hex>_s") is a stream file of the simple cache for the
// hash its name gives: the header's magic, and a key that hashes to that name.
bool streamFileOfHash(int dirFd, const std::string &name, std::uint64_t hash)
{
    const int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
    if (fd < 0)
        return false;
    std::vector<unsigned char> head(24 + 64 * 1024);
    const long long got = ReadFullyAt(fd, head.data(), head.size(), 0);
    ::close(fd);
    if (got < 20 || qFromLittleEndian<quint64>(head.data()) != SimpleInitialMagic)
        return false;
    const std::size_t keySize = qFromLittleEndian<quint32>(head.data() + 12);
    for (const std::size_t at : {std::size_t(24), std::size_t(20)})
        if (std::size_t(got) >= at + keySize
            && SimpleEntryHash(std::string_view(reinterpret_cast<const char *>(head.data() + at), keySize)) == hash)
            return true;
    return false;
}

// Removes the `_1` and `_s` files whose `_0` is gone: what removals cut short left behind,
// which no reader uses any more. Only stream files of the simple cache whose key hashes to
// their name go, and none written in the last minute (an entry being made has its `_0`
// first, but a file that new is left to the next pass rather than raced).
void removeOrphans(int dirFd)
{
    const int listFd = ::dup(dirFd);
    DIR *dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (!dir) {
        if (listFd >= 0)
            ::close(listFd);
        return;
    }
    ::rewinddir(dir);
    std::vector<std::pair<std::string, std::uint64_t>> candidates;
    while (const dirent *item = ::readdir(dir)) {
        const std::string_view name(item->d_name);
        if (name.size() != 18 || name[16] != '_' || (name[17] != '1' && name[17] != 's'))
            continue;
        std::uint64_t hash = 0;
        bool hex = true;
        for (std::size_t i = 0; i < 16 && hex; ++i) {
            const char c = name[i];
            hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
            hash = hash << 4 | std::uint64_t(c <= '9' ? c - '0' : c - 'a' + 10);
        }
        if (hex)
            candidates.emplace_back(std::string(name), hash);
    }
    ::closedir(dir);
    const std::time_t settled = std::time(nullptr) - 60;
    for (const auto &[name, hash] : candidates) {
        struct stat st {};
        if (::fstatat(dirFd, SimpleEntryFileName(hash, 0).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT)
            continue; // its entry is there (or cannot be ruled out)
        if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)
            || st.st_mtime > settled || !streamFileOfHash(dirFd, name, hash))
            continue;
        ::unlinkat(dirFd, name.c_str(), 0); // garbage either way: a failure is left for the next pass
    }
}

} // namespace

StoreResult ChromiumSimpleStore::remove(std::string_view key)
{
    if (const std::string refusal = removalRefusal(); !refusal.empty())
        return StoreResult::failure(StoreError::Busy, refusal);
    const int dirFd = openFolder(m_folder);
    if (dirFd < 0)
        return StoreResult::failure(StoreError::NotFound, m_folder + ": " + std::strerror(errno));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{dirFd};
    return removeIn(dirFd, key);
}

std::vector<KeyRemoval> ChromiumSimpleStore::removeMany(const std::vector<std::string> &keys,
                                                        const RemovalProgress &progress)
{
    const int dirFd = openFolder(m_folder);
    const int openError = errno;
    struct Closer {
        int fd;
        ~Closer()
        {
            if (fd >= 0)
                ::close(fd);
        }
    } closer{dirFd};
    std::vector<KeyRemoval> results = removeEach(keys, progress, [&](std::string_view key) {
        return dirFd < 0 ? StoreResult::failure(StoreError::NotFound, m_folder + ": " + std::strerror(openError))
                         : removeIn(dirFd, key);
    });
    // A prune of the folder also takes what earlier removals cut short left behind, while
    // the browser is still not running on it.
    const bool reached = std::any_of(results.begin(), results.end(), [](const KeyRemoval &r) { return r.gone(); });
    if (dirFd >= 0 && reached && removalRefusal().empty())
        removeOrphans(dirFd);
    return results;
}

StoreResult ChromiumSimpleStore::removeIn(int dirFd, std::string_view key)
{
    const std::uint64_t hash = SimpleEntryHash(key);
    const std::string name = SimpleEntryFileName(hash, 0);
    ReadEntry read;
    readEntryFile(dirFd, name.c_str(), hash, read);
    if (read.vanished) {
        // Gone already; a removal cut short may have left its other files behind.
        if (const std::string failed = removeLeftovers(dirFd, m_folder, hash, key); !failed.empty())
            return StoreResult::failure(StoreError::Denied, "the entry is gone but not all its files: " + failed);
        return StoreResult::failure(StoreError::NotFound, "no entry has this key");
    }
    if (!read.error.empty())
        return StoreResult::failure(StoreError::Denied, m_folder + "/" + name + ": " + read.error);
    // Another key with the same hash is another entry: it stays.
    if (read.facts.key != key)
        return StoreResult::failure(StoreError::NotFound, "no entry has this key");
    std::string local;
    if (read.facts.outcome == SimpleEntryFacts::Entry) {
        const ChromiumKey parts = ParseChromiumKey(read.facts.key);
        const ResponseFacts head = ReadResponseFacts(ChromiumHeadText(read.facts.info.rawHeaders));
        local = PlannedBodyPath(m_folder, name, parts.url, head.contentType);
    }
    // The _0 file goes first: the entry is the _0 file for us and for the browser, which
    // opens an entry only through it and takes a missing _1 for an empty stream 2 and a
    // missing _s for no sparse ranges. Removing _1 or _s first would leave, after a cut, an
    // entry the browser uses with part of its data gone. A _1 or _s without its _0 is
    // garbage nobody reads: the browser deletes it when it next meets the hash, and so do
    // we when the key is removed again.
    if (::unlinkat(dirFd, name.c_str(), 0) != 0) {
        const int error = errno;
        return StoreResult::failure(StoreErrorFromErrno(error), m_folder + "/" + name + ": " + std::strerror(error));
    }
    std::string failed;
    for (const int stream : {1, 2}) {
        const std::string other = SimpleEntryFileName(hash, stream);
        if (::unlinkat(dirFd, other.c_str(), 0) != 0 && errno != ENOENT)
            failed += (failed.empty() ? "" : "; ") + m_folder + "/" + other + ": " + std::strerror(errno);
    }
    if (!local.empty() && ::unlink(local.c_str()) != 0 && errno != ENOENT)
        failed += (failed.empty() ? "" : "; ") + local + ": " + std::strerror(errno);
    if (!failed.empty())
        return StoreResult::failure(StoreError::Denied, "the entry is gone but not all its files: " + failed);
    return {};
}

// The kind's descriptor: a folder with the simple index's magic, its index-dir or entry files.
namespace {

bool isEntryFileName(const char *name)
{
    if (std::strlen(name) != 18 || name[16] != '_' || name[17] != '0')
        return false;
    for (int i = 0; i < 16; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(name[i])))
            return false;
    return true;
}

FolderMatch probeSimpleFolder(const std::string &folder, bool byNames)
{
    if (byNames) {
        const bool found = IsDirectory(folder + "/index-dir") || FolderHoldsFileNamed(folder, isEntryFileName);
        return {found ? FolderMatch::Names : FolderMatch::None, {}};
    }
    if (IsRegularFile(folder + "/sqldb0") || IsRegularFile(folder + "/sqldb1"))
        return {FolderMatch::None, "Chromium's experimental SQL cache backend is not supported"};
    const std::string index = FileHead(folder + "/index", 8);
    const bool magic = index.size() >= 8 && qFromLittleEndian<quint64>(index.data()) == SimpleInitialMagic;
    return {magic ? FolderMatch::Marker : FolderMatch::None, {}};
}

} // namespace

const StoreKindInfo ChromiumSimpleStoreKind = {
    .id = "chromium-simple",
    .label = "Chromium（简单缓存）",
    .probe = probeSimpleFolder,
    .open = OpenChromiumSimpleStore,
    .find = FindChromiumStores, // the blockfile caches too: a profile's cache folder holds either
    .browserName = ChromiumBrowserName,
    .cachesOfProfile = ChromiumCachesOfProfile,
    .below = ChromiumCacheFolders,
    .countsUses = false,   // the simple cache keeps no count of uses
    .syncIsArrival = true, // Chromium records when the response arrived
};
