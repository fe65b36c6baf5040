#include "indexdatstore.h"

#include "fileusers.h"
#include "indexdattext.h"
#include "readfully.h"
#include "storeregistry.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>

using namespace indexdat;

namespace {

// Where the fields of a URL record sit; 4.7 moved everything behind its longer expiry.
struct RecordLayout {
    std::size_t sizeHigh; // 0 = none
    std::size_t exemptDelta, urlOffset, folderIndex, nameOffset, entryType;
    std::size_t headerOffset, headerSize, extensionOffset; // extension 0 = none
    std::size_t lastSync, hitRate, useCount;
    bool expiryIsFileTime;
};

constexpr RecordLayout Layout52{0x24, 0x2C, 0x34, 0x38, 0x3C, 0x40, 0x44, 0x48, 0x4C, 0x50, 0x54, 0x58, false};
constexpr RecordLayout Layout47{0, 0x30, 0x38, 0x3C, 0x40, 0x44, 0x48, 0x4C, 0, 0x54, 0x58, 0x5C, true};

constexpr std::size_t RecLastModified = 0x08, RecLastAccess = 0x10, RecExpiry = 0x18, RecSizeLow = 0x20,
                      RecGroup = 0x28;

// A URL item of the hash table whose record passed the checks of the listing rule.
struct LiveItem {
    std::uint32_t itemOffset;
    std::uint32_t key;
    std::uint32_t record;
    std::uint64_t recordSize; // block count * 0x80, inside the file
};

// Walks the page chain and calls `f` for each live URL item. The sequence check ends loops:
// a page met again carries a number lower than the one expected.
constexpr std::uint32_t PrefetchAhead = 6;

template <typename F>
void forEachLiveItem(const std::uint8_t *data, std::size_t size, F &&f)
{
    std::uint64_t page = qFromLittleEndian<quint32>(data + OffHashTable);
    const std::uint64_t maxPages = size / HashPageSize + 1;
    for (std::uint32_t sequence = 0; page != 0 && sequence < maxPages; ++sequence) {
        if (page < HeaderSize || (page - HeaderSize) % BlockSize != 0 || page + HashPageSize > size)
            return;
        const std::uint8_t *p = data + page;
        if (qFromLittleEndian<quint32>(p) != SigHash || qFromLittleEndian<quint32>(p + 0x0C) != sequence)
            return;
        for (std::uint32_t i = 0; i < HashItemsPerPage; ++i) {
            // Records lie all over the file in hash order: fetch a few items ahead.
            if (i + PrefetchAhead < HashItemsPerPage) {
                const std::uint64_t ahead = qFromLittleEndian<quint32>(p + OffHashItems + 8 * (i + PrefetchAhead) + 4);
                if (ahead + 2 * 64 <= size) {
                    __builtin_prefetch(data + ahead);
                    __builtin_prefetch(data + ahead + 64);
                    __builtin_prefetch(data + ahead + 128);
                }
            }
            const std::uint8_t *item = p + OffHashItems + 8 * i;
            const std::uint32_t key = qFromLittleEndian<quint32>(item);
            const std::uint64_t record = qFromLittleEndian<quint32>(item + 4);
            if (key & 1 || record < HeaderSize || record + 8 > size)
                continue;
            if (qFromLittleEndian<quint32>(data + record) != SigUrl)
                continue;
            const std::uint64_t recordSize = std::uint64_t(qFromLittleEndian<quint32>(data + record + 4)) * BlockSize;
            if (recordSize == 0 || record + recordSize > size)
                continue;
            f(LiveItem{std::uint32_t(page + OffHashItems + 8 * i), key, std::uint32_t(record), recordSize});
        }
        page = qFromLittleEndian<quint32>(p + 0x08);
    }
}

// The hash pages forEachLiveItem walks.
std::vector<std::uint32_t> hashPages(const std::uint8_t *data, std::size_t size)
{
    std::vector<std::uint32_t> pages;
    std::uint64_t page = qFromLittleEndian<quint32>(data + OffHashTable);
    const std::uint64_t maxPages = size / HashPageSize + 1;
    for (std::uint32_t sequence = 0; page != 0 && sequence < maxPages; ++sequence) {
        if (page < HeaderSize || (page - HeaderSize) % BlockSize != 0 || page + HashPageSize > size)
            break;
        const std::uint8_t *p = data + page;
        if (qFromLittleEndian<quint32>(p) != SigHash || qFromLittleEndian<quint32>(p + 0x0C) != sequence)
            break;
        pages.push_back(std::uint32_t(page));
        page = qFromLittleEndian<quint32>(p + 0x08);
    }
    return pages;
}

// What of the hash table a cut file no longer holds: the items naming records past its end,
// and whether the chain of hash pages goes on past it (then nothing tells how many are lost).
struct LostItems {
    std::uint32_t records = 0;
    bool pagesLost = false;
};

LostItems lostItems(const std::uint8_t *data, std::size_t size)
{
    LostItems lost;
    const std::vector<std::uint32_t> pages = hashPages(data, size);
    for (const std::uint32_t page : pages) {
        for (std::uint32_t i = 0; i < HashItemsPerPage; ++i) {
            const std::uint8_t *item = data + page + OffHashItems + 8 * i;
            const std::uint64_t record = qFromLittleEndian<quint32>(item + 4);
            if (qFromLittleEndian<quint32>(item) & 1 || record < HeaderSize)
                continue;
            if (record + 8 > size) {
                ++lost.records;
                continue;
            }
            const std::uint64_t recordSize = std::uint64_t(qFromLittleEndian<quint32>(data + record + 4)) * BlockSize;
            if (qFromLittleEndian<quint32>(data + record) == SigUrl && record + recordSize > size)
                ++lost.records;
        }
    }
    const std::uint64_t next = pages.empty() ? qFromLittleEndian<quint32>(data + OffHashTable)
                                             : qFromLittleEndian<quint32>(data + pages.back() + 0x08);
    lost.pagesLost = next != 0 && next + HashPageSize > size;
    return lost;
}

// A NUL-terminated string at `offset` inside the record; none when it leaves the record.
bool recordString(const std::uint8_t *record, std::uint64_t recordSize, std::uint32_t offset, std::string_view &out)
{
    if (offset == 0 || offset >= recordSize)
        return false;
    const auto *start = record + offset;
    const auto *nul = static_cast<const std::uint8_t *>(std::memchr(start, 0, recordSize - offset));
    if (!nul)
        return false;
    out = std::string_view(reinterpret_cast<const char *>(start), std::size_t(nul - start));
    return true;
}

bool isFolderChar(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// A file name that stays inside its folder whatever system reads it.
bool isPlainFileName(std::string_view name)
{
    if (name.empty() || name == ".")
        return false;
    char previous = 0;
    for (const char c : name) {
        if (c == '/' || c == '\\' || c == ':' || (c == '.' && previous == '.'))
            return false;
        previous = c;
    }
    return true;
}

// A harmless stand-in for a name that is not plain: separators and dot runs become '_'.
std::string harmlessFileName(std::string_view name)
{
    std::string out(name);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const char c = out[i];
        if (c == '/' || c == '\\' || c == ':')
            out[i] = '_';
        else if (c == '.' && ((i + 1 < out.size() && out[i + 1] == '.') || (i > 0 && name[i - 1] == '.')))
            out[i] = '_';
    }
    if (out.empty() || out == ".")
        out = "_";
    return out;
}

// The content folder of a record: its name, or empty for 0xFE. False: no folder at all.
struct FolderChoice {
    bool exists = false;
    bool plain = true;
    std::string name; // empty: the store folder itself
};

class FolderTable {
public:
    FolderTable(const std::uint8_t *data)
    {
        m_count = std::min<std::uint32_t>(qFromLittleEndian<quint32>(data + OffFolderCount), MaxFolders);
        for (std::uint32_t i = 0; i < m_count; ++i) {
            const std::uint8_t *name = data + OffFolders + FolderEntrySize * i + 4;
            std::string &out = m_names[i];
            out.assign(reinterpret_cast<const char *>(name), 8);
            for (char &c : out)
                if (!isFolderChar(static_cast<unsigned char>(c))) {
                    c = '_';
                    m_plain[i] = false;
                }
        }
    }
    std::uint32_t count() const { return m_count; }
    FolderChoice choose(std::uint8_t index) const
    {
        if (index == FolderNone)
            return {true, true, {}};
        if (index >= m_count)
            return {};
        return {true, m_plain[index], m_names[index]};
    }

private:
    std::uint32_t m_count = 0;
    std::string m_names[MaxFolders];
    bool m_plain[MaxFolders] = {true, true, true, true, true, true, true, true, true, true, true,
                                true, true, true, true, true, true, true, true, true, true, true,
                                true, true, true, true, true, true, true, true, true, true};
};

// The local file of a record, decoded, with whether deleting through it is safe. A plain
// ASCII name stays a view into the index, which spares an allocation per entry. A name
// that is neither UTF-8 nor GBK stays the bytes it is: that is its name on disk, and only
// what is shown of it is decoded.
struct LocalFile {
    bool exists = false;
    bool safe = false;
    std::string folder; // empty: beside index.dat
    std::string_view stored;
    std::string converted; // used when `stored` had to be decoded or made harmless
    bool isConverted = false;
    std::string_view name() const { return isConverted ? std::string_view(converted) : stored; }
};

LocalFile localFileOf(const std::uint8_t *record, std::uint64_t recordSize, const RecordLayout &layout,
                      const FolderTable &folders, TextDecoder &decoder)
{
    LocalFile file;
    std::string_view stored;
    if (!recordString(record, recordSize, qFromLittleEndian<quint32>(record + layout.nameOffset), stored)
        || stored.empty())
        return file;
    const FolderChoice folder = folders.choose(record[layout.folderIndex]);
    if (!folder.exists)
        return file;
    file.exists = true;
    file.folder = folder.name;
    file.stored = stored;
    if (!IsAscii(stored) && decoder.decodes(stored, file.converted))
        file.isConverted = true;
    const bool plainName = isPlainFileName(file.name());
    file.safe = folder.plain && plainName;
    if (!plainName) {
        file.converted = harmlessFileName(file.name());
        file.isConverted = true;
    }
    // Beside index.dat, a name may not stand for the index itself.
    if (folder.name.empty() && file.name().size() == 9 && strncasecmp(file.name().data(), "index.dat", 9) == 0)
        file.safe = false;
    return file;
}

void readRecord(const std::uint8_t *record, std::uint64_t recordSize, const RecordLayout &layout,
                const FolderTable &folders, TextDecoder &decoder, const std::string &storeFolder, StoreListing &packed)
{
    StoreEntry out;
    PageString &texts = packed.texts;
    auto textFrom = [&texts](std::size_t start) {
        return StoreText{std::uint32_t(start), std::uint32_t(texts.size() - start)};
    };
    // A URL that cannot be read cannot be shown, searched or deleted either.
    std::string_view text;
    const std::uint32_t urlOffset = qFromLittleEndian<quint32>(record + layout.urlOffset);
    if (urlOffset == 0 || urlOffset >= recordSize) {
        packed.skip("URL outside its record");
        return;
    }
    if (!recordString(record, recordSize, urlOffset, text)) {
        packed.skip("URL without an end inside its record");
        return;
    }
    std::size_t start = texts.size();
    decoder.appendUtf8(texts, text);
    out.url = textFrom(start);
    out.key = out.url;

    const LocalFile file = localFileOf(record, recordSize, layout, folders, decoder);
    out.hasLocalFile = file.exists;
    out.body = file.exists ? BodyPlace::LocalFile : BodyPlace::None;
    start = texts.size();
    if (file.exists) {
        texts += storeFolder;
        texts += '/';
        if (!file.folder.empty()) {
            texts += file.folder;
            texts += '/';
        }
        texts += file.name();
    }
    out.localFile = textFrom(start);

    out.size = qFromLittleEndian<quint32>(record + RecSizeLow);
    if (layout.sizeHigh)
        out.size |= std::uint64_t(qFromLittleEndian<quint32>(record + layout.sizeHigh)) << 32;
    out.entryType = qFromLittleEndian<quint32>(record + layout.entryType);
    out.hitCount = qFromLittleEndian<quint32>(record + layout.useCount);
    out.hitRate = qFromLittleEndian<quint32>(record + layout.hitRate);
    out.exemptDelta = qFromLittleEndian<quint32>(record + layout.exemptDelta);
    out.lastModified = qFromLittleEndian<quint64>(record + RecLastModified);
    out.lastAccess = qFromLittleEndian<quint64>(record + RecLastAccess);
    out.expires = layout.expiryIsFileTime ? qFromLittleEndian<quint64>(record + RecExpiry)
                                          : FileTimeFromDos(qFromLittleEndian<quint16>(record + RecExpiry),
                                                            qFromLittleEndian<quint16>(record + RecExpiry + 2));
    out.lastSync = FileTimeFromDos(qFromLittleEndian<quint16>(record + layout.lastSync),
                                   qFromLittleEndian<quint16>(record + layout.lastSync + 2));

    const std::uint32_t headerOffset = qFromLittleEndian<quint32>(record + layout.headerOffset);
    const std::uint32_t headerSize = qFromLittleEndian<quint32>(record + layout.headerSize);
    if (headerOffset != 0 && headerSize != 0 && headerOffset < recordSize && headerSize <= recordSize - headerOffset)
        out.headers =
            packed.addText(std::string_view(reinterpret_cast<const char *>(record + headerOffset), headerSize));
    start = texts.size();
    if (layout.extensionOffset
        && recordString(record, recordSize, qFromLittleEndian<quint32>(record + layout.extensionOffset), text))
        decoder.appendUtf8(texts, text);
    out.extension = textFrom(start);
    packed.entries.push_back(out);
}

// Memory for a copy of the index, straight from the system and in 2 MiB pages where it
// offers them: the reader jumps all over the file, and large pages spare it thousands of
// page faults at every load and most TLB misses. Returned to the system when destroyed.
class IndexBuffer {
public:
    IndexBuffer() = default;
    IndexBuffer(const IndexBuffer &) = delete;
    IndexBuffer &operator=(const IndexBuffer &) = delete;
    ~IndexBuffer() { release(); }

    // Room for `size` bytes, uninitialised; null when the system has no memory.
    std::uint8_t *allocate(std::size_t size)
    {
        release();
        constexpr std::size_t Large = std::size_t(2) << 20;
        const bool large = size >= Large;
        const std::size_t rounded = (size + Large - 1) / Large * Large;
        const std::size_t length = large ? rounded + Large : std::max<std::size_t>(size, 1); // room to align
        void *mapping = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapping == MAP_FAILED)
            return nullptr;
        m_mapping = mapping;
        m_length = length;
        m_data = static_cast<std::uint8_t *>(mapping);
        if (large) {
            const auto at = (reinterpret_cast<std::uintptr_t>(mapping) + Large - 1) & ~std::uintptr_t(Large - 1);
            m_data = reinterpret_cast<std::uint8_t *>(at);
            ::madvise(m_data, rounded, MADV_HUGEPAGE);
        }
        return m_data;
    }
    const std::uint8_t *data() const { return m_data; }
    std::uint8_t *mutableData() { return m_data; }
    void release()
    {
        if (m_mapping)
            ::munmap(m_mapping, m_length);
        m_mapping = nullptr;
        m_data = nullptr;
    }

private:
    void *m_mapping = nullptr;
    std::size_t m_length = 0;
    std::uint8_t *m_data = nullptr;
};

// Reads the whole file into memory. Read rather than mapped: a mapping of a file that
// shrinks under us faults with SIGBUS. A file that changes size while it is read (WinInet
// grows it, someone truncates it) is read again a few times: the result is a read of one
// size, or an error, never a read past the end.
bool readWholeFile(int fd, IndexBuffer &buffer, std::size_t &size, std::string &error)
{
    constexpr int Attempts = 4;
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            error = "not a regular file";
            return false;
        }
        if (st.st_size < off_t(HeaderSize)) {
            error = "the file is too short for a cache index";
            return false;
        }
        if (st.st_size > off_t(MaxFileSize)) {
            error = "the file is larger than a cache index can be";
            return false;
        }
        size = std::size_t(st.st_size);
        std::uint8_t *bytes = buffer.allocate(size);
        if (!bytes) {
            error = "no memory for a copy of the index";
            return false;
        }
        const long long read = ReadFullyAt(fd, bytes, size, 0);
        if (read < 0) {
            error = std::strerror(errno);
            buffer.release();
            return false;
        }
        const std::size_t done = std::size_t(read); // fewer: it shrank
        struct stat after {};
        if (done == size && ::fstat(fd, &after) == 0 && after.st_size == st.st_size)
            return true;
    }
    buffer.release();
    error = "the file kept changing its size while it was read";
    return false;
}

// The errors a failed write of the index names: a full disk, or a fault of the disk.
StoreError writeErrorFromErrno(int error)
{
    return error == ENOSPC || error == EDQUOT ? StoreError::DiskFull : StoreError::IoError;
}

std::string writeCause(int error)
{
    if (error == ENOSPC || error == EDQUOT)
        return "disk full";
    if (error == EIO)
        return "I/O error";
    return std::strerror(error);
}

// Removes `name` from `folder` (relative to the store folder) without following links on
// the way, so that nothing outside the content folder can be hit. A missing file is fine.
int unlinkInside(const std::string &storeFolder, const std::string &folder, const std::string &name)
{
    const int store = ::open(storeFolder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (store < 0)
        return errno == ENOENT ? 0 : errno;
    int dir = store;
    if (!folder.empty()) {
        dir = ::openat(store, folder.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int openError = errno;
        ::close(store);
        if (dir < 0)
            return openError == ENOENT ? 0 : openError;
    }
    const int result = ::unlinkat(dir, name.c_str(), 0) == 0 ? 0 : errno;
    ::close(dir);
    return result == ENOENT ? 0 : result;
}

// What a file looked like at a moment: a change of any of these says someone wrote to it.
struct FileStamp {
    off_t size = -1;
    ino_t inode = 0;
    struct timespec modified {};
    struct timespec changed {};
    bool operator==(const FileStamp &o) const
    {
        return size == o.size && inode == o.inode && modified.tv_sec == o.modified.tv_sec
            && modified.tv_nsec == o.modified.tv_nsec && changed.tv_sec == o.changed.tv_sec
            && changed.tv_nsec == o.changed.tv_nsec;
    }
};

FileStamp stampOf(int fd)
{
    FileStamp stamp;
    struct stat st {};
    if (::fstat(fd, &st) == 0) {
        stamp.size = st.st_size;
        stamp.inode = st.st_ino;
        stamp.modified = st.st_mtim;
        stamp.changed = st.st_ctim;
    }
    return stamp;
}

// How long a deleter that holds the lock may leave the index unchanged before we take it
// for stuck rather than busy.
constexpr auto StalledHolder = std::chrono::seconds(10);

// Takes a lock on the whole index that another process's lock of the same kind excludes:
// an open-file-description lock, which no other open and close of the index in this
// process can drop. Waits for as long as the deleter holding it keeps changing the index,
// telling `progress` meanwhile; gives up when the index stays unchanged for a while (its
// holder is stuck) or `progress` says stop (ECANCELED). Returns 0 or the error.
int lockIndex(int fd, bool exclusive, const RemovalProgress &progress, std::size_t done)
{
    using Clock = std::chrono::steady_clock;
    auto lastChange = Clock::now();
    FileStamp seen = stampOf(fd);
    struct flock lock {};
    lock.l_type = exclusive ? F_WRLCK : F_RDLCK;
    lock.l_whence = SEEK_SET;
    bool ofd = true;
    for (;;) {
        int result = ofd ? ::fcntl(fd, F_OFD_SETLK, &lock) : ::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB);
        if (result == 0)
            return 0;
        const int error = errno;
        if (ofd && error == EINVAL) { // no such locks here: whole-file flock locks behave alike
            ofd = false;
            continue;
        }
        if (error == EINTR)
            continue;
        if (error != EAGAIN && error != EACCES && error != EWOULDBLOCK)
            return error;
        if (progress && !progress(done, true))
            return ECANCELED;
        const auto now = Clock::now();
        if (const FileStamp stamp = stampOf(fd); !(stamp == seen)) {
            seen = stamp;
            lastChange = now;
        } else if (now - lastChange >= StalledHolder) {
            return EAGAIN;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

constexpr std::uint32_t SigLeak = 0x4B41454C; // "LEAK"
constexpr std::size_t OffLeakList = OffHeaderData + 4 * 0x16;
constexpr std::size_t RecLeakNext = 0x2C;
constexpr std::uint32_t GroupPageSig = FillNew;
constexpr std::uint32_t GroupEntrySize = 0x28;
// A write that stays inside one page of the file is done whole or not at all: the kernel
// copies a write page by page, and a write that fails part-way stops at a page boundary.
constexpr std::size_t WritePage = 0x1000;

bool isBlockStart(std::uint64_t offset, std::size_t size, std::uint64_t length)
{
    return offset >= HeaderSize && (offset - HeaderSize) % BlockSize == 0 && offset + length <= size;
}

// The offset of the usage qword of the group entry at `group`, when it is one: inside a
// group page (prefix 0xDEADBEEF, 0x20 blocks) at a whole entry from the page's start.
std::uint32_t groupUsageOffset(const std::uint8_t *data, std::size_t size, std::uint32_t group)
{
    constexpr std::uint32_t PageBytes = HashPageBlocks * BlockSize;
    if (group < HeaderSize + 8 || std::uint64_t(group) + GroupEntrySize > size)
        return 0;
    for (std::uint64_t page = group - 8; page + PageBytes >= std::uint64_t(group) + GroupEntrySize;
         page -= GroupEntrySize) {
        if (isBlockStart(page, size, PageBytes) && qFromLittleEndian<quint32>(data + page) == GroupPageSig
            && qFromLittleEndian<quint32>(data + page + 4) == HashPageBlocks)
            return group + 0x10;
        if (page < HeaderSize + GroupEntrySize)
            break;
    }
    return 0;
}

// The head of the leak list, when it is empty or starts at a LEAK record.
bool leakListSound(const std::uint8_t *data, std::size_t size)
{
    const std::uint32_t head = qFromLittleEndian<quint32>(data + OffLeakList);
    return head == 0 || (isBlockStart(head, size, BlockSize) && qFromLittleEndian<quint32>(data + head) == SigLeak);
}

} // namespace

IndexDatListing ReadIndexDat(const std::uint8_t *data, std::size_t size, const std::string &storeFolder)
{
    IndexDatListing listing;
    if (size < HeaderSize) {
        listing.error = "the file is too short for a cache index";
        return listing;
    }
    listing.version = VersionOf(data, size);
    if (listing.version == Version::Unknown) {
        listing.error = "the file is no WinInet cache index of a known version (its signature is not "
                        "\"Client UrlCache MMF Ver 5.2\", \"Client UrlCache MMF Ver 4.7\" or "
                        "\"WINE URLCache Ver 0.2012001\")";
        return listing;
    }
    listing.inconsistency = CheckConsistency(data, size);
    TextDecoder decoder;
    const FolderTable folders(data);
    const RecordLayout &layout = listing.version == Version::V47 ? Layout47 : Layout52;
    // Guesses from the allocated blocks: two blocks and some 200 bytes of text an entry.
    const std::size_t guess =
        std::min<std::size_t>(qFromLittleEndian<quint32>(data + OffAllocated), size / BlockSize) / 2;
    listing.entries.entries.reserve(guess);
    listing.entries.error.clear();
    listing.entries.texts.reserve(guess * 200);
    forEachLiveItem(data, size, [&](const LiveItem &item) {
        readRecord(data + item.record, item.recordSize, layout, folders, decoder, storeFolder, listing.entries);
    });
    // A store that breaks the rules WinInet keeps (cut short, or read while being rewritten) may
    // hold more than could be listed: the listing says so, and counts what it can see was lost.
    if (!listing.inconsistency.empty()) {
        StoreListing &entries = listing.entries;
        const LostItems lost = lostItems(data, size);
        if (lost.records) {
            entries.skipped += lost.records;
            entries.skipWhy["beyond the end of the index file"] += lost.records;
        }
        entries.incomplete = "the index breaks WinInet's rules (" + listing.inconsistency + ")";
        if (lost.pagesLost)
            entries.incomplete += "; its hash table goes on beyond the end of the file";
    }
    listing.ok = true;
    return listing;
}

namespace {

// The live items of an index, with what a removal asks of them: the item that holds a URL,
// and whether bytes of the file belong to another live record or to a hash page. Worked out
// once for a removal of many entries; an item removed since is forgotten.
class LiveMap {
public:
    LiveMap(const std::uint8_t *data, std::size_t size)
    {
        if (size < HeaderSize)
            return;
        TextDecoder decoder;
        std::vector<std::pair<std::string, std::string>> names; // stored, decoded when not ASCII
        forEachLiveItem(data, size, [&](const LiveItem &item) {
            m_items.push_back(item);
            m_longest = std::max(m_longest, item.recordSize);
            std::string_view stored;
            if (!recordString(data + item.record, item.recordSize,
                              qFromLittleEndian<quint32>(data + item.record + Layout52.urlOffset), stored)) {
                names.emplace_back();
                return;
            }
            names.emplace_back(std::string(stored), IsAscii(stored) ? std::string() : decoder.toUtf8(stored));
        });
        // Sorted by record for the overlap questions; a URL names the first item that holds
        // it in hash order, as a walk of the table finds it.
        std::vector<std::uint32_t> order(m_items.size());
        for (std::uint32_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::stable_sort(order.begin(), order.end(),
                         [this](std::uint32_t a, std::uint32_t b) { return m_items[a].record < m_items[b].record; });
        std::vector<LiveItem> sorted(m_items.size());
        std::vector<std::uint32_t> position(m_items.size());
        for (std::uint32_t i = 0; i < order.size(); ++i) {
            sorted[i] = m_items[order[i]];
            position[order[i]] = i;
        }
        m_items = std::move(sorted);
        m_dead.assign(m_items.size(), 0);
        m_byUrl.reserve(names.size());
        for (std::uint32_t walked = 0; walked < names.size(); ++walked) {
            auto &[stored, decoded] = names[walked];
            if (stored.empty())
                continue;
            if (!decoded.empty() && decoded != stored)
                m_byUrl.emplace(std::move(decoded), position[walked]);
            m_byUrl.emplace(std::move(stored), position[walked]);
        }
        m_pages = hashPages(data, size);
    }

    // The live item whose URL is `url`; -1 for none.
    std::ptrdiff_t find(std::string_view url) const
    {
        const auto it = m_byUrl.find(std::string(url));
        return it == m_byUrl.end() || m_dead[it->second] ? -1 : std::ptrdiff_t(it->second);
    }
    const LiveItem &item(std::size_t index) const { return m_items[index]; }
    void forget(std::size_t index) { m_dead[index] = 1; }

    // Whether [offset, offset + length) shares a byte with a live record of an item other
    // than the one at `itemOffset`.
    bool otherRecordOverlaps(std::uint64_t offset, std::uint64_t length, std::uint32_t itemOffset) const
    {
        const std::uint64_t end = offset + length;
        const std::uint64_t from = offset > m_longest ? offset - m_longest : 0;
        auto it = std::lower_bound(m_items.begin(), m_items.end(), from,
                                   [](const LiveItem &a, std::uint64_t at) { return a.record < at; });
        for (; it != m_items.end() && it->record < end; ++it)
            if (!m_dead[std::size_t(it - m_items.begin())] && it->itemOffset != itemOffset
                && it->record + it->recordSize > offset)
                return true;
        return false;
    }
    // The same, or a hash page (which only a damaged store can make happen).
    bool inUse(std::uint64_t offset, std::uint64_t length, std::uint32_t itemOffset) const
    {
        const std::uint64_t end = offset + length;
        return std::any_of(m_pages.begin(), m_pages.end(),
                           [&](std::uint32_t page) { return page < end && page + HashPageSize > offset; })
            || otherRecordOverlaps(offset, length, itemOffset);
    }

private:
    std::vector<LiveItem> m_items;
    std::vector<char> m_dead;
    std::unordered_map<std::string, std::uint32_t> m_byUrl;
    std::vector<std::uint32_t> m_pages;
    std::uint64_t m_longest = 0;
};

// Appends one write of the bytes [from, to) at `offset` to the plan.
void addWrite(IndexDatRemoval &plan, IndexDatWrite::Step step, std::uint32_t offset, const std::uint8_t *from,
              const std::uint8_t *to)
{
    plan.writes.push_back({step, offset, std::vector<std::uint8_t>(from, to)});
}

IndexDatRemoval refusedRemoval(StoreError error, std::string reason)
{
    IndexDatRemoval plan;
    plan.error = error;
    plan.reason = std::move(reason);
    return plan;
}

// Why no entry of this store may be removed: its version, or damage. `checked` as for
// planRemoval.
IndexDatRemoval storeRefusal(const std::uint8_t *data, std::size_t size, bool *checked)
{
    const Version version = size >= HeaderSize ? VersionOf(data, size) : Version::Unknown;
    if (version == Version::Unknown)
        return refusedRemoval(StoreError::Damaged, "the file is no WinInet cache index of a known version");
    if (version == Version::V47)
        return refusedRemoval(StoreError::ReadOnly, "version 4.7 stores are read only");
    // The whole-file check counts the bitmap's bits: once per copy read is enough for a pass
    // of many entries, whose own writes keep the counters and the bitmap in step.
    if (!checked || !*checked) {
        if (const std::string broken = CheckConsistency(data, size); !broken.empty())
            return refusedRemoval(StoreError::Damaged, "the store is damaged (" + broken + "); it is left as it is");
        if (checked)
            *checked = true;
    }
    if (qFromLittleEndian<quint32>(data + OffFolderCount) > MaxFolders)
        return refusedRemoval(StoreError::Damaged, "the store is damaged (too many content folders)");
    return {};
}

// Why the entry `target` may not be removed now: a hash table that overlaps it, or a lock
// of a WinInet program that is not stale yet.
IndexDatRemoval entryRefusal(const std::uint8_t *data, const LiveMap &map, const LiveItem &target, std::int64_t nowUnix)
{
    // Freeing the item must not change another entry.
    if (map.otherRecordOverlaps(target.itemOffset, 4, target.itemOffset))
        return refusedRemoval(StoreError::Damaged, "the store is damaged (its hash table overlaps an entry)");
    const std::uint8_t *record = data + target.record;
    const std::uint64_t lastAccess = qFromLittleEndian<quint64>(record + RecLastAccess);
    const std::int64_t age = nowUnix - UnixFromFileTime(lastAccess);
    if (target.key & KeyLocked && qFromLittleEndian<quint32>(record + Layout52.useCount) != 0 && age < 24 * 3600)
        return refusedRemoval(StoreError::Busy, "the entry is in use by a WinInet program");
    return {};
}

// What becomes of the entry's blocks.
struct BlockRelease {
    std::uint32_t first = 0;  // the record's first block
    std::uint32_t blocks = 0; // how many it takes
    std::size_t bitmapEnd = 0;
    bool freeHere = false; // the bitmap and the count change in the header's first page
    bool leak = false;     // handed to WinInet as a LEAK record
};

BlockRelease blockRelease(const std::uint8_t *data, std::size_t size, const LiveMap &map, const LiveItem &target)
{
    BlockRelease release;
    // Its blocks may go only when no other live item uses any of them.
    const std::uint32_t capacity = qFromLittleEndian<quint32>(data + OffCapacity);
    release.blocks = std::uint32_t(target.recordSize / BlockSize);
    release.first = (target.record - HeaderSize) / BlockSize;
    const bool aligned =
        (target.record - HeaderSize) % BlockSize == 0 && std::uint64_t(release.first) + release.blocks <= capacity;
    const bool shared = map.inUse(target.record, target.recordSize, target.itemOffset);
    release.bitmapEnd = OffBitmap + (std::size_t(release.first) + release.blocks + 7) / 8;
    // The block count and the bitmap bits must change in one write that no failure can cut:
    // inside the header's first page. Blocks whose bits lie further out are handed to WinInet
    // as a LEAK record instead, which it frees itself once it sees the file gone.
    release.freeHere = aligned && !shared && release.bitmapEnd <= WritePage;
    release.leak = aligned && !shared && !release.freeHere && leakListSound(data, size);
    return release;
}

// The record becomes a LEAK record at the head of the leak list. It keeps its size, folder
// and file name, which WinInet's clean-up reads; its URL and response head are blanked so
// that the deleted address does not stay.
void planLeak(const std::uint8_t *data, const LiveItem &target, IndexDatRemoval &plan)
{
    const std::uint8_t *record = data + target.record;
    std::vector<std::uint8_t> leaked(record, record + target.recordSize);
    qToLittleEndian<quint32>(SigLeak, leaked.data());
    qToLittleEndian<quint32>(qFromLittleEndian<quint32>(data + OffLeakList), leaked.data() + RecLeakNext);
    const std::uint32_t urlAt = qFromLittleEndian<quint32>(record + Layout52.urlOffset);
    std::string_view stored;
    if (urlAt >= UrlFixedSize && recordString(record, target.recordSize, urlAt, stored))
        std::fill_n(leaked.begin() + urlAt, stored.size(), std::uint8_t(0));
    const std::uint32_t headAt = qFromLittleEndian<quint32>(record + Layout52.headerOffset);
    const std::uint32_t headSize = qFromLittleEndian<quint32>(record + Layout52.headerSize);
    if (headAt >= UrlFixedSize && headAt < target.recordSize && headSize <= target.recordSize - headAt)
        std::fill_n(leaked.begin() + headAt, headSize, std::uint8_t(0));
    // The signature and the link lie in the record's first block, so in one page.
    addWrite(plan, IndexDatWrite::Leak, target.record, leaked.data(), leaked.data() + leaked.size());
    std::uint8_t head[4];
    qToLittleEndian<quint32>(target.record, head);
    addWrite(plan, IndexDatWrite::LeakList, OffLeakList, head, head + 4);
}

// The header's counters, and the bitmap when the blocks go: one write inside page 0.
void planCounters(const std::uint8_t *data, const FolderTable &folders, const LiveItem &target,
                  const BlockRelease &release, std::uint64_t bodySize, IndexDatRemoval &plan)
{
    const std::uint8_t *record = data + target.record;
    const std::size_t end = release.freeHere ? std::max<std::size_t>(release.bitmapEnd, OffHeaderData) : OffHeaderData;
    std::vector<std::uint8_t> header(data + OffAllocated, data + end);
    std::uint8_t *h = header.data() - OffAllocated; // indexable by file offset
    if (release.freeHere) {
        std::uint32_t cleared = 0;
        for (std::uint32_t b = release.first; b < release.first + release.blocks; ++b) {
            std::uint8_t &byte = h[OffBitmap + b / 8];
            if (byte & (1u << (b % 8))) {
                byte = std::uint8_t(byte & ~(1u << (b % 8)));
                ++cleared;
            }
        }
        qToLittleEndian<quint32>(qFromLittleEndian<quint32>(h + OffAllocated) - cleared, h + OffAllocated);
    }
    const std::uint8_t folderIndex = record[Layout52.folderIndex];
    if (folderIndex < folders.count()) {
        std::uint8_t *count = h + OffFolders + FolderEntrySize * folderIndex;
        if (qFromLittleEndian<quint32>(count) > 0)
            qToLittleEndian<quint32>(qFromLittleEndian<quint32>(count) - 1, count);
    }
    auto lower = [&h](std::size_t offset, std::uint64_t by) {
        const std::uint64_t v = qFromLittleEndian<quint64>(h + offset);
        qToLittleEndian<quint64>(v > by ? v - by : 0, h + offset);
    };
    lower(OffUsage, bodySize);
    if (qFromLittleEndian<quint32>(record + Layout52.entryType) & StickyEntry)
        lower(OffExemptUsage, bodySize);
    addWrite(plan, IndexDatWrite::Counters, OffAllocated, header.data(), header.data() + header.size());
}

// The usage of the entry's group, when it belongs to one whose entry nothing else uses.
void planGroupUsage(const std::uint8_t *data, std::size_t size, const LiveMap &map, const LiveItem &target,
                    std::uint64_t bodySize, IndexDatRemoval &plan)
{
    if (!(target.key & KeyInGroup) || (target.key & KeyGroupList))
        return;
    const std::uint32_t group = qFromLittleEndian<quint32>(data + target.record + RecGroup);
    const std::uint32_t usageAt = groupUsageOffset(data, size, group);
    if (!usageAt || map.inUse(usageAt, 8, target.itemOffset))
        return;
    const std::uint64_t usage = qFromLittleEndian<quint64>(data + usageAt);
    std::uint8_t bytes[8];
    qToLittleEndian<quint64>(usage > bodySize ? usage - bodySize : 0, bytes);
    addWrite(plan, IndexDatWrite::GroupUsage, usageAt, bytes, bytes + 8);
}

// Plans the removal of `url` with the items of `map`, which was made from these bytes (or
// from earlier bytes and kept up to date since). `targetIndex` gets the item's index;
// `checked`, when given, says whether these bytes passed the whole-file check already, and is
// set once they do.
IndexDatRemoval planRemoval(const std::uint8_t *data, std::size_t size, const LiveMap &map, std::string_view url,
                            std::int64_t nowUnix, std::ptrdiff_t *targetIndex, bool *checked = nullptr)
{
    if (IndexDatRemoval refused = storeRefusal(data, size, checked); refused.error != StoreError::None)
        return refused;
    const std::ptrdiff_t found = map.find(url);
    if (found < 0)
        return refusedRemoval(StoreError::NotFound, "no entry has this URL");
    const LiveItem target = map.item(std::size_t(found));
    if (targetIndex)
        *targetIndex = found;
    if (IndexDatRemoval refused = entryRefusal(data, map, target, nowUnix); refused.error != StoreError::None)
        return refused;

    IndexDatRemoval plan;
    const std::uint8_t *record = data + target.record;
    const FolderTable folders(data);
    TextDecoder decoder;
    const LocalFile file = localFileOf(record, target.recordSize, Layout52, folders, decoder);
    if (file.exists && file.safe) {
        plan.deleteFile = true;
        plan.contentFolder = file.folder;
        plan.fileName = std::string(file.name());
    }

    // First the entry leaves the hash table: one aligned dword, and from then on nothing
    // refers to its blocks, whatever later write fails.
    std::uint8_t freeKey[4];
    qToLittleEndian<quint32>(KeyFree, freeKey);
    addWrite(plan, IndexDatWrite::Unlist, target.itemOffset, freeKey, freeKey + 4);

    const BlockRelease release = blockRelease(data, size, map, target);
    if (release.leak) {
        planLeak(data, target, plan);
        return plan;
    }
    const std::uint64_t bodySize = qFromLittleEndian<quint32>(record + RecSizeLow)
        | std::uint64_t(qFromLittleEndian<quint32>(record + Layout52.sizeHigh)) << 32;
    planCounters(data, folders, target, release, bodySize, plan);
    planGroupUsage(data, size, map, target, bodySize, plan);
    if (release.freeHere) {
        std::vector<std::uint8_t> fill(target.recordSize);
        for (std::size_t i = 0; i + 4 <= fill.size(); i += 4)
            qToLittleEndian<quint32>(FillFreed, fill.data() + i);
        addWrite(plan, IndexDatWrite::Wipe, target.record, fill.data(), fill.data() + fill.size());
    }
    return plan;
}

} // namespace

IndexDatRemoval PlanIndexDatRemoval(const std::uint8_t *data, std::size_t size, std::string_view url,
                                    std::int64_t nowUnix)
{
    const LiveMap map(data, size);
    return planRemoval(data, size, map, url, nowUnix, nullptr);
}

IndexDatStore::IndexDatStore(std::string indexPath) : m_indexPath(std::move(indexPath))
{
    // Local paths must stay valid whatever the working folder later is.
    if (!m_indexPath.empty() && m_indexPath[0] != '/') {
        char cwd[4096];
        if (::getcwd(cwd, sizeof cwd))
            m_indexPath = std::string(cwd) + "/" + m_indexPath;
    }
    const auto slash = m_indexPath.rfind('/');
    m_folder = slash == std::string::npos ? "." : slash == 0 ? "/" : m_indexPath.substr(0, slash);
}

IndexDatWriteOutcome WriteIndexDatRemoval(int fd, const IndexDatRemoval &plan, const IndexDatWriteCalls &calls)
{
    for (std::size_t i = 0; i < plan.writes.size(); ++i) {
        const IndexDatWrite &w = plan.writes[i];
        std::size_t done = 0;
        while (done < w.bytes.size()) {
            const ssize_t n = calls.pwrite(fd, w.bytes.data() + done, w.bytes.size() - done, off_t(w.offset + done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return {i, n == 0 ? ENOSPC : errno}; // nothing written and no reason: no room
            done += std::size_t(n);
        }
    }
    return {plan.writes.size(), 0};
}

StoreListing IndexDatStore::list()
{
    StoreListing failed;
    // Not blocking: a FIFO or a device in the index's place must not stall the load.
    const int fd = ::open(m_indexPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        failed.failErrno(m_indexPath);
        return failed;
    }
    IndexBuffer bytes;
    std::size_t size = 0;
    std::string why;
    const bool read = readWholeFile(fd, bytes, size, why);
    ::close(fd);
    if (!read) {
        failed.error = m_indexPath + ": " + why;
        return failed;
    }
    IndexDatListing listing = ReadIndexDat(bytes.data(), size, m_folder == "/" ? std::string() : m_folder);
    if (!listing.ok)
        listing.entries.error = m_indexPath + ": " + listing.error;
    return std::move(listing.entries);
}

void IndexDatStore::setWriteCalls(IndexDatWriteCalls calls)
{
    std::lock_guard lock(m_mutex);
    m_writeCalls = std::move(calls);
}

namespace {

// What a removal had done when write `failed` of `plan` could not be made, in words.
std::string partialRemoval(const IndexDatRemoval &plan, std::size_t failed, const std::string &cause)
{
    switch (plan.writes[failed].step) {
    case IndexDatWrite::Unlist:
        return plan.deleteFile ? "the local file was removed, but the index could not be written (" + cause
                + "); the entry is still listed"
                               : "the index could not be written (" + cause + "); nothing was changed";
    case IndexDatWrite::Counters:
        return "the entry was removed, but its counters and space in the index could not be updated (" + cause
            + "); the index stays usable";
    case IndexDatWrite::Leak:
    case IndexDatWrite::LeakList:
        return "the entry was removed, but its space could not be handed back for reuse (" + cause
            + "); the index stays usable";
    case IndexDatWrite::GroupUsage:
        return "the entry was removed, but the usage of its group could not be updated (" + cause + ")";
    case IndexDatWrite::Wipe:
        return "the entry was removed, but its old record could not be overwritten (" + cause + ")";
    }
    return cause;
}

} // namespace

StoreResult IndexDatStore::remove(std::string_view url)
{
    KeyRemoval result = std::move(removeMany({std::string(url)}).front());
    switch (result.outcome) {
    case RemovalOutcome::Deleted:
        return {};
    case RemovalOutcome::AlreadyGone:
        return StoreResult::failure(StoreError::NotFound, m_indexPath + ": no entry has this URL");
    default:
        return StoreResult::failure(result.error, std::move(result.reason));
    }
}

namespace {

// Why deletes must wait: a Wine server runs for the store's prefix (a cheap question), or
// another process maps the index or holds it open (a walk over every process).
std::string wineUser(const std::string &folder)
{
    return WineServerFor(WinePrefixOf(folder));
}

} // namespace

std::vector<KeyRemoval> IndexDatStore::removeMany(const std::vector<std::string> &urls, const RemovalProgress &progress)
{
    std::lock_guard guard(m_mutex);
    std::vector<KeyRemoval> results(urls.size());
    // Every key not yet handled gets the same refusal.
    auto refuseRest = [&](std::size_t from, StoreError error, const std::string &reason) {
        for (std::size_t i = from; i < results.size(); ++i)
            results[i] = {RemovalOutcome::Refused, error, m_indexPath + ": " + reason};
        return results;
    };

    bool writable = true;
    int fd = ::open(m_indexPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    int readOnlyCause = 0;
    if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) {
        writable = false;
        readOnlyCause = errno;
        fd = ::open(m_indexPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    }
    if (fd < 0)
        return refuseRest(0, StoreError::NotFound, std::strerror(errno));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); } // also drops the lock
    } closer{fd};

    // Read, plan and write under one lock: what is written follows from what was read.
    if (const int error = lockIndex(fd, writable, progress, 0)) {
        if (error == ECANCELED) {
            for (KeyRemoval &r : results)
                r.reason = "stopped while another program was changing the index";
            return results;
        }
        if (error == EAGAIN)
            return refuseRest(0, StoreError::Busy,
                              "another program holds the index locked and has not changed it for a while");
        return refuseRest(0, StoreError::Denied, std::string("the index cannot be locked: ") + std::strerror(error));
    }

    IndexBuffer bytes;
    std::size_t size = 0;
    std::unique_ptr<LiveMap> map;
    FileStamp read;       // the file as our copy of it knows it
    bool checked = false; // our copy passed the whole-file check
    // Our copy of the index, read again whenever the file changed under us.
    auto current = [&](std::string &why) {
        const FileStamp now = stampOf(fd);
        if (map && now == read)
            return true;
        map.reset();
        checked = false;
        if (!readWholeFile(fd, bytes, size, why))
            return false;
        read = now;
        map = std::make_unique<LiveMap>(bytes.data(), size);
        return true;
    };

    using Clock = std::chrono::steady_clock;
    Clock::time_point nextWalk;
    bool walked = false, wrote = false;
    for (std::size_t i = 0; i < urls.size(); ++i) {
        if (progress && !progress(i, false)) {
            for (std::size_t j = i; j < results.size(); ++j)
                results[j].reason = "stopped before this entry";
            break;
        }
        std::string why;
        if (!current(why))
            return refuseRest(i, StoreError::Damaged, why);
        std::ptrdiff_t target = -1;
        IndexDatRemoval plan =
            planRemoval(bytes.data(), size, *map, urls[i], std::int64_t(std::time(nullptr)), &target, &checked);
        if (plan.error == StoreError::NotFound) {
            results[i] = {RemovalOutcome::AlreadyGone, StoreError::None, {}};
            continue;
        }
        if (plan.error != StoreError::None) {
            results[i] = {RemovalOutcome::Refused, plan.error, plan.reason};
            continue;
        }
        if (!writable)
            return refuseRest(i, StoreErrorFromErrno(readOnlyCause),
                              std::string("the index cannot be written: ") + std::strerror(readOnlyCause));
        // Right before writing: a Wine program writes the index without our lock, so nothing
        // may be written while one could be at work on it. The Wine server is asked before
        // every entry; the walk over all processes is repeated after a while, never taking
        // more than a small part of the pass.
        std::string user = wineUser(m_folder);
        const auto now = Clock::now();
        if (user.empty() && (!walked || now >= nextWalk)) {
            user = OtherProcessUsing(m_indexPath);
            const auto end = Clock::now();
            nextWalk = end + std::max<Clock::duration>(std::chrono::seconds(1), 20 * (end - now));
            walked = true;
        }
        if (!user.empty())
            return refuseRest(i, StoreError::Busy,
                              "in use by " + user + "; close the Wine programs that use this cache first");

        if (plan.deleteFile) {
            if (const int error = unlinkInside(m_folder, plan.contentFolder, plan.fileName)) {
                results[i] = {RemovalOutcome::Refused, StoreErrorFromErrno(error),
                              "the local file cannot be removed: " + std::string(std::strerror(error))};
                continue;
            }
        }
        // The writes come in an order that keeps the index usable after each of them (see
        // PlanIndexDatRemoval); a failure stops there and says what was done.
        const IndexDatWriteOutcome outcome = WriteIndexDatRemoval(fd, plan, m_writeCalls);
        wrote = true;
        if (outcome.failed < plan.writes.size()) {
            results[i] = {RemovalOutcome::Refused, writeErrorFromErrno(outcome.error),
                          m_indexPath + ": " + partialRemoval(plan, outcome.failed, writeCause(outcome.error))};
            map.reset(); // what the file holds now is read again
            continue;
        }
        // Our copy follows our own writes, so that the next plan need not read the file.
        std::uint8_t *copy = bytes.mutableData();
        for (const IndexDatWrite &w : plan.writes)
            std::copy(w.bytes.begin(), w.bytes.end(), copy + w.offset);
        map->forget(std::size_t(target));
        read = stampOf(fd);
        results[i] = {RemovalOutcome::Deleted, StoreError::None, {}};
    }
    if (wrote && m_writeCalls.fsync(fd) != 0) {
        const int error = errno;
        for (KeyRemoval &r : results)
            if (r.outcome == RemovalOutcome::Deleted)
                r = {RemovalOutcome::Refused, writeErrorFromErrno(error),
                     m_indexPath + ": the entry was removed, but the index could not be flushed to disk ("
                         + writeCause(error) + ")"};
    }
    return results;
}

// The kind's descriptor: a folder holding index.dat, as the Wine prefix keeps one.
namespace {

FolderMatch probeIndexDatFolder(const std::string &folder, bool byNames)
{
    if (byNames)
        return {};
    return {IsRegularFile(folder + "/index.dat") ? FolderMatch::Marker : FolderMatch::None, {}};
}

void findIndexDatStores(const StoreSearchRoots &roots, std::vector<FoundStore> &out)
{
    if (const std::string wine = WineCacheFolder(roots); !wine.empty())
        AddFoundStore(out, "Wine \u2013 IE", "IE", wine);
}

constexpr const char *ContentFolder[] = {"Content.IE5", nullptr};

} // namespace

const StoreKindInfo IndexDatStoreKind = {
    .id = "wininet",
    .label = "IE",
    .probe = probeIndexDatFolder,
    .open = [](const std::string &folder) -> std::shared_ptr<CacheStore> {
        return std::make_shared<IndexDatStore>(folder + "/index.dat");
    },
    .find = findIndexDatStores,
    .browserName = [](const std::string &) { return std::string("IE"); },
    .below = ContentFolder,
};
