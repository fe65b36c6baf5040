#include "chromiumblockfile.h"

#include "bodies.h"
#include "chromiumpickle.h"
#include "chromiumstores.h"
#include "readfully.h"

#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>
#include <vector>

bool MemoryBlockfileSource::size(const std::string &name, std::uint64_t &size)
{
    const auto it = files.find(name);
    if (it == files.end())
        return false;
    size = it->second.size();
    return true;
}

bool MemoryBlockfileSource::read(const std::string &name, std::uint64_t offset, unsigned char *into, std::size_t count)
{
    const auto it = files.find(name);
    if (it == files.end() || offset > it->second.size() || count > it->second.size() - offset)
        return false;
    std::memcpy(into, it->second.data() + offset, count);
    return true;
}

namespace {

constexpr std::size_t IndexHeaderSize = 256 + 112; // IndexHeader, then LruData
constexpr std::uint32_t DefaultTableLength = 0x10000;
constexpr std::size_t BlockHeaderSize = 8192;
constexpr std::size_t EntrySize = 256;
constexpr std::size_t EntryKeyOffset = 96;
constexpr std::size_t EntrySelfHashOffset = 92;
constexpr std::size_t RankingsSize = 36;
// Streams, keys and response infos beyond these are not what a browser writes.
constexpr std::uint64_t MaxKeyLength = 1 << 20;
constexpr std::uint64_t MaxInfoSize = 16 << 20;

constexpr std::uint32_t AddrInitialized = 0x80000000u;
constexpr std::uint32_t AddrReserved = 0x0C000000u;

constexpr std::uint32_t StateNormal = 0;
constexpr std::uint32_t StateEvicted = 1;
constexpr std::uint32_t StateDoomed = 2;
constexpr std::uint32_t FlagChild = 2;

std::size_t blockSizeOf(std::uint32_t type)
{
    switch (type) {
    case 1:
        return RankingsSize;
    case 2:
        return 256;
    case 3:
        return 1024;
    case 4:
        return 4096;
    default:
        return 0;
    }
}

std::string hex8(std::uint32_t v)
{
    char text[12];
    std::snprintf(text, sizeof text, "%08x", v);
    return text;
}

// Where an address points: a byte range of a named file.
struct Place {
    enum Outcome { Found, Missing, Bad } outcome = Bad;
    std::string file;
    std::uint64_t offset = 0;
    std::uint64_t capacity = 0; // bytes the address covers
    std::uint32_t type = 0;
    std::string why; // Bad: how
};

class Reader {
public:
    Reader(BlockfileSource &source, const std::string &folder, StoreListing &listing)
        : m_source(source), m_folder(folder), m_listing(listing)
    {}

    void run();

private:
    struct BlockFile {
        bool present = false;
        bool sound = false;
        std::uint64_t size = 0;
        std::uint32_t entrySize = 0;
        std::string why;
    };
    const BlockFile &blockFile(std::uint32_t number);
    Place locate(std::uint32_t address, std::uint64_t length);
    // Follows one chain; stops where an entry cannot be trusted.
    void walk(std::uint32_t slot, std::uint32_t address);
    // One entry; false when its `next` cannot be trusted.
    bool entry(std::uint32_t slot, std::uint32_t address, std::uint32_t &next);
    // The fields of an entry's block, as far as listing it needs them.
    struct EntryRecord {
        std::uint32_t hash = 0;
        std::uint32_t next = 0;
        std::uint32_t rankings = 0;
        std::int32_t reuse = 0;
        std::uint32_t state = 0;
        std::uint64_t created = 0;
        std::int32_t keyLength = 0;
        std::uint32_t longKey = 0;
        std::int32_t dataSize[4] = {};
        std::uint32_t dataAddress[4] = {};
        std::uint32_t flags = 0;
    };
    // Reads the entry block at `address` (into m_buffer) and checks that it belongs in `slot`;
    // false, the entry counted as skipped, when it does not read or belong.
    bool readEntryBlock(std::uint32_t slot, std::uint32_t address, Place &place, EntryRecord &record);
    // The entry's key, inside its block or in a block of its own (kept in `longKeyBytes`),
    // checked against its hash; false, counted as skipped, when it cannot be trusted.
    bool readKey(const EntryRecord &record, const Place &place, std::string &longKeyBytes, std::string_view &key);
    // Fills the entry's key and response head from stream 0; false when the entry is no
    // document or its head is damaged (then counted as skipped).
    bool fillFromResponseInfo(const EntryRecord &record, std::string_view key, StoreEntry &entry);
    // Stream 1, the body: a range of a block file or the whole start of an f_ file.
    void placeBody(const EntryRecord &record, const Place &place, StoreEntry &entry);
    // When the entry was last used, from its rankings node; 0 when the node cannot be trusted.
    StoreTime lastUse(std::uint32_t rankings, std::uint32_t address);

    BlockfileSource &m_source;
    const std::string &m_folder;
    StoreListing &m_listing;
    std::uint32_t m_mask = 0;
    std::map<std::uint32_t, BlockFile> m_blockFiles;
    std::unordered_set<std::uint32_t> m_seen;
    std::vector<unsigned char> m_buffer;
};

const Reader::BlockFile &Reader::blockFile(std::uint32_t number)
{
    if (const auto it = m_blockFiles.find(number); it != m_blockFiles.end())
        return it->second;
    BlockFile &file = m_blockFiles[number];
    const std::string name = "data_" + std::to_string(number);
    if (!m_source.size(name, file.size))
        return file;
    file.present = true;
    unsigned char header[24];
    if (file.size < BlockHeaderSize || !m_source.read(name, 0, header, sizeof header)) {
        file.why = name + " shorter than its header";
        return file;
    }
    const std::uint32_t magic = qFromLittleEndian<quint32>(header);
    const std::uint32_t version = qFromLittleEndian<quint32>(header + 4);
    const std::uint32_t thisFile = qFromLittleEndian<quint16>(header + 8);
    file.entrySize = qFromLittleEndian<quint32>(header + 12);
    if (magic != BlockfileBlockMagic || (version >> 16) < 2 || (version >> 16) > 3 || thisFile != number) {
        file.why = name + " has no block file header";
        return file;
    }
    file.sound = true;
    return file;
}

Place Reader::locate(std::uint32_t address, std::uint64_t length)
{
    Place place;
    if (!(address & AddrInitialized)) {
        place.why = "address not in use";
        return place;
    }
    place.type = (address >> 28) & 7;
    if (place.type == 0) {
        char name[16];
        std::snprintf(name, sizeof name, "f_%06x", address & 0x0FFFFFFFu);
        place.file = name;
        std::uint64_t size = 0;
        if (!m_source.size(place.file, size)) {
            place.outcome = Place::Missing;
            return place;
        }
        place.capacity = size;
        if (length > size) {
            place.why = place.file + " shorter than its stream";
            return place;
        }
        place.outcome = Place::Found;
        return place;
    }
    const std::size_t blockSize = blockSizeOf(place.type);
    if (!blockSize || (address & AddrReserved)) {
        place.why = "address of unknown kind";
        return place;
    }
    const std::uint32_t blocks = ((address >> 24) & 3) + 1;
    const std::uint32_t number = (address >> 16) & 0xFF;
    const std::uint32_t start = address & 0xFFFF;
    place.file = "data_" + std::to_string(number);
    const BlockFile &file = blockFile(number);
    if (!file.present) {
        place.outcome = Place::Missing;
        return place;
    }
    if (!file.sound || file.entrySize != blockSize) {
        place.why = file.sound ? place.file + " holds blocks of another size" : file.why;
        return place;
    }
    place.offset = BlockHeaderSize + std::uint64_t(start) * blockSize;
    place.capacity = std::uint64_t(blocks) * blockSize;
    if (place.offset + place.capacity > file.size) {
        place.why = "address past the end of " + place.file;
        return place;
    }
    if (length > place.capacity) {
        place.why = "stream larger than its blocks";
        return place;
    }
    place.outcome = Place::Found;
    return place;
}

void Reader::run()
{
    std::uint64_t indexSize = 0;
    unsigned char header[IndexHeaderSize];
    if (!m_source.size("index", indexSize) || indexSize < IndexHeaderSize
        || !m_source.read("index", 0, header, sizeof header)) {
        m_listing.error = "index: missing or shorter than its header";
        return;
    }
    const std::uint32_t magic = qFromLittleEndian<quint32>(header);
    const std::uint32_t version = qFromLittleEndian<quint32>(header + 4);
    if (magic != BlockfileIndexMagic) {
        m_listing.error = "index: not a blockfile index";
        return;
    }
    if (version != 0x20000 && version != 0x20001 && version != 0x30000) {
        m_listing.fail(version > 0x30000 ? StoreError::NewerFormat : StoreError::Unsupported,
                       "index: blockfile version " + std::to_string(version >> 16) + "."
                           + std::to_string(version & 0xFFFF) + " is not supported");
        return;
    }
    std::uint32_t tableLength = qFromLittleEndian<quint32>(header + 28);
    if (tableLength == 0)
        tableLength = DefaultTableLength;
    if ((tableLength & (tableLength - 1)) != 0 || tableLength > (1u << 24)
        || (indexSize - IndexHeaderSize) / 4 < tableLength) {
        m_listing.error = "index: hash table does not fit the file";
        return;
    }
    m_mask = tableLength - 1;
    std::vector<unsigned char> table(std::size_t(tableLength) * 4);
    if (!m_source.read("index", IndexHeaderSize, table.data(), table.size())) {
        m_listing.error = "index: hash table unreadable";
        return;
    }
    for (std::uint32_t slot = 0; slot < tableLength; ++slot)
        if (const std::uint32_t address = qFromLittleEndian<quint32>(table.data() + std::size_t(slot) * 4))
            walk(slot, address);
}

void Reader::walk(std::uint32_t slot, std::uint32_t address)
{
    while (address) {
        if (!m_seen.insert(address).second) {
            m_listing.skip("hash chain loops");
            return;
        }
        std::uint32_t next = 0;
        if (!entry(slot, address, next))
            return;
        address = next;
    }
}

bool Reader::readEntryBlock(std::uint32_t slot, std::uint32_t address, Place &place, EntryRecord &record)
{
    if (((address >> 28) & 7) != 2) {
        m_listing.skip("entry address of the wrong kind");
        return false;
    }
    place = locate(address, EntrySize);
    if (place.outcome == Place::Missing) {
        m_listing.skip("entry in a missing data file");
        return false;
    }
    if (place.outcome != Place::Found) {
        m_listing.skip("bad entry address");
        return false;
    }
    m_buffer.resize(std::size_t(place.capacity));
    const unsigned char *e = m_buffer.data();
    if (!m_source.read(place.file, place.offset, m_buffer.data(), m_buffer.size())) {
        m_listing.skip("entry unreadable");
        return false;
    }
    const std::uint32_t selfHash = qFromLittleEndian<quint32>(e + EntrySelfHashOffset);
    if (selfHash && selfHash != ChromiumSuperFastHash(e, EntrySelfHashOffset)) {
        m_listing.skip("entry self-hash mismatch");
        return false;
    }
    record.hash = qFromLittleEndian<quint32>(e);
    if ((record.hash & m_mask) != slot) {
        m_listing.skip("entry in the wrong hash slot");
        return false;
    }
    record.next = qFromLittleEndian<quint32>(e + 4);
    record.rankings = qFromLittleEndian<quint32>(e + 8);
    record.reuse = std::int32_t(qFromLittleEndian<quint32>(e + 12));
    record.state = qFromLittleEndian<quint32>(e + 20);
    record.created = qFromLittleEndian<quint64>(e + 24);
    record.keyLength = std::int32_t(qFromLittleEndian<quint32>(e + 32));
    record.longKey = qFromLittleEndian<quint32>(e + 36);
    for (int i = 0; i < 4; ++i) {
        record.dataSize[i] = std::int32_t(qFromLittleEndian<quint32>(e + 40 + 4 * i));
        record.dataAddress[i] = qFromLittleEndian<quint32>(e + 56 + 4 * i);
    }
    record.flags = qFromLittleEndian<quint32>(e + 72);
    return true;
}

bool Reader::readKey(const EntryRecord &record, const Place &place, std::string &longKeyBytes, std::string_view &key)
{
    if (record.keyLength <= 0 || std::uint64_t(record.keyLength) > MaxKeyLength) {
        m_listing.skip("bad key length");
        return false;
    }
    if (!record.longKey) {
        if (std::uint64_t(record.keyLength) > place.capacity - EntryKeyOffset) {
            m_listing.skip("key longer than its entry");
            return false;
        }
        key = std::string_view(reinterpret_cast<const char *>(m_buffer.data() + EntryKeyOffset),
                               std::size_t(record.keyLength));
    } else {
        const Place keyPlace = locate(record.longKey, std::uint64_t(record.keyLength));
        if (keyPlace.outcome == Place::Missing) {
            m_listing.skip("key in a missing data file");
            return false;
        }
        longKeyBytes.resize(std::size_t(record.keyLength));
        if (keyPlace.outcome != Place::Found
            || !m_source.read(keyPlace.file, keyPlace.offset, reinterpret_cast<unsigned char *>(longKeyBytes.data()),
                              longKeyBytes.size())) {
            m_listing.skip("bad key address");
            return false;
        }
        key = longKeyBytes;
    }
    if (ChromiumSuperFastHash(key.data(), key.size()) != record.hash) {
        m_listing.skip("key hash mismatch");
        return false;
    }
    return true;
}

bool Reader::fillFromResponseInfo(const EntryRecord &record, std::string_view key, StoreEntry &entry)
{
    // No response head: an entry the browser keeps for itself, not a document.
    if (record.dataSize[0] <= 0)
        return false;
    const Place infoPlace = locate(record.dataAddress[0], std::uint64_t(record.dataSize[0]));
    if (infoPlace.outcome == Place::Found && std::uint64_t(record.dataSize[0]) <= MaxInfoSize) {
        std::vector<unsigned char> bytes(static_cast<std::size_t>(record.dataSize[0]));
        if (m_source.read(infoPlace.file, infoPlace.offset, bytes.data(), bytes.size())) {
            ChromiumResponseInfo info;
            std::string why;
            if (!ParseChromiumResponseInfo(bytes.data(), bytes.size(), info, why)) {
                m_listing.skip(why);
                return false;
            }
            // The head is copied into the listing before `bytes` goes.
            FillChromiumEntry(m_listing, entry, key, &info);
            return true;
        }
    }
    entry.flags |= EntryHeadersMissing;
    FillChromiumEntry(m_listing, entry, key, nullptr);
    return true;
}

void Reader::placeBody(const EntryRecord &record, const Place &place, StoreEntry &entry)
{
    entry.size = std::uint64_t(record.dataSize[1]);
    if (record.dataSize[1] > 0) {
        const Place body = locate(record.dataAddress[1], std::uint64_t(record.dataSize[1]));
        if (body.outcome == Place::Found) {
            entry.body = BodyPlace::Range;
            entry.container = m_listing.addText(m_folder + "/" + body.file);
            entry.bodyOffset = body.offset;
        } else {
            entry.flags |= EntryBodyMissing;
        }
    } else {
        // An empty body: an empty range of the entry's own block file.
        entry.body = BodyPlace::Range;
        entry.container = m_listing.addText(m_folder + "/" + place.file);
        entry.bodyOffset = place.offset;
    }
}

StoreTime Reader::lastUse(std::uint32_t rankings, std::uint32_t address)
{
    const Place node = locate(rankings, RankingsSize);
    unsigned char ranking[RankingsSize];
    if (node.outcome == Place::Found && node.type == 1 && m_source.read(node.file, node.offset, ranking, RankingsSize)
        && qFromLittleEndian<quint32>(ranking + 24) == address)
        return StoreTimeFromChromium(std::int64_t(qFromLittleEndian<quint64>(ranking)));
    return 0;
}

bool Reader::entry(std::uint32_t slot, std::uint32_t address, std::uint32_t &next)
{
    Place place;
    EntryRecord record;
    if (!readEntryBlock(slot, address, place, record))
        return false;
    next = record.next;
    if (record.state == StateEvicted || record.state == StateDoomed)
        return true;
    if (record.state != StateNormal) {
        m_listing.skip("entry in an unknown state");
        return true;
    }
    std::string longKeyBytes;
    std::string_view key;
    if (!readKey(record, place, longKeyBytes, key))
        return true;
    // Sparse children hold ranges of their parent's body: not documents.
    if ((record.flags & FlagChild) || key.substr(0, 6) == "Range_")
        return true;
    if (record.dataSize[0] < 0 || record.dataSize[1] < 0) {
        m_listing.skip("bad stream size");
        return true;
    }

    StoreEntry entry;
    if (!fillFromResponseInfo(record, key, entry))
        return true;
    placeBody(record, place, entry);
    entry.created = StoreTimeFromChromium(std::int64_t(record.created));
    entry.hitCount = record.reuse > 0 ? std::uint32_t(record.reuse) : 0;
    entry.lastAccess = lastUse(record.rankings, address);

    const std::string id = hex8(address);
    const std::string local =
        PlannedBodyPath(m_folder, id, m_listing.text(entry.url), m_listing.text(entry.contentType));
    entry.localFile = m_listing.addText(local);
    entry.hasLocalFile = true;
    m_listing.entries.push_back(entry);
    return true;
}

// The cache's own folder: data_N files stay open for the listing; the many f_ files are opened
// when asked for and closed again. Regular files only, never through a link, never blocking.
class FolderSource : public BlockfileSource {
public:
    explicit FolderSource(const std::string &folder) : m_folder(folder) {}
    ~FolderSource() override
    {
        for (auto &[name, file] : m_open)
            if (file.fd >= 0)
                ::close(file.fd);
    }
    bool size(const std::string &name, std::uint64_t &size) override
    {
        const File *file = open(name);
        if (!file)
            return false;
        size = file->size;
        return true;
    }
    bool read(const std::string &name, std::uint64_t offset, unsigned char *into, std::size_t count) override
    {
        const File *file = open(name);
        if (!file || offset > file->size || count > file->size - offset)
            return false;
        int fd = file->fd;
        if (fd < 0 && (fd = openFile(name, nullptr)) < 0)
            return false;
        const bool whole = ReadFullyAt(fd, into, count, offset) == (long long)count;
        if (file->fd < 0)
            ::close(fd);
        return whole;
    }

private:
    struct File {
        int fd = -1; // kept open for index and data_N only
        std::uint64_t size = 0;
        bool present = false;
    };
    int openFile(const std::string &name, std::uint64_t *size)
    {
        if (name.empty() || name.find('/') != std::string::npos)
            return -1;
        const std::string path = m_folder + "/" + name;
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
        if (fd < 0)
            return -1;
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            return -1;
        }
        if (size)
            *size = std::uint64_t(st.st_size);
        return fd;
    }
    const File *open(const std::string &name)
    {
        if (const auto it = m_open.find(name); it != m_open.end())
            return it->second.present ? &it->second : nullptr;
        File &file = m_open[name];
        const int fd = openFile(name, &file.size);
        file.present = fd >= 0;
        if (fd >= 0) {
            if (name.rfind("f_", 0) == 0)
                ::close(fd);
            else
                file.fd = fd;
        }
        return file.present ? &file : nullptr;
    }

    std::string m_folder;
    std::map<std::string, File> m_open;
};

} // namespace

StoreListing ReadBlockfileCache(BlockfileSource &source, const std::string &folder)
{
    StoreListing listing;
    Reader(source, folder, listing).run();
    return listing;
}

ChromiumBlockfileStore::ChromiumBlockfileStore(std::string folder) : m_folder(std::move(folder))
{
    while (m_folder.size() > 1 && m_folder.back() == '/')
        m_folder.pop_back();
}

StoreListing ChromiumBlockfileStore::list()
{
    FolderSource source(m_folder);
    StoreListing listing = ReadBlockfileCache(source, m_folder);
    if (!listing.ok())
        listing.error = m_folder + "/" + listing.error;
    return listing;
}

std::string ChromiumBlockfileStore::removalRefusal() const
{
    return "entries of a blockfile cache live inside block files whose hash chains, lists and allocation maps the "
           "browser keeps consistent; this program does not rewrite them, so the cache is read only";
}

StoreResult ChromiumBlockfileStore::remove(std::string_view)
{
    return StoreResult::failure(StoreError::ReadOnly, removalRefusal());
}

// The kind's descriptor: a folder whose index starts with the blockfile index's magic.
namespace {

FolderMatch probeBlockfileFolder(const std::string &folder, bool byNames)
{
    if (byNames)
        return {};
    const std::string index = FileHead(folder + "/index", 4);
    const bool magic = index.size() >= 4 && qFromLittleEndian<quint32>(index.data()) == BlockfileIndexMagic;
    return {magic ? FolderMatch::Marker : FolderMatch::None, {}};
}

} // namespace

const StoreKindInfo ChromiumBlockfileStoreKind = {
    .id = "chromium-blockfile",
    .label = "Chromium（块文件缓存）",
    .probe = probeBlockfileFolder,
    .open = OpenChromiumBlockfileStore,
    .find = nullptr, // found with the simple caches
    .browserName = ChromiumBrowserName,
    .cachesOfProfile = ChromiumCachesOfProfile,
    .below = ChromiumCacheFolders,
    .syncIsArrival = true, // Chromium records when the response arrived
};
