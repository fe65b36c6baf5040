#include "warcexport.h"

#include "platform/urlcachestore.h"
#include "stores/bodies.h"
#include "stores/bodydecoder.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <set>
#include <unordered_map>

namespace {

const char *const RevisitProfile = "http://netpreserve.org/warc/1.1/revisit/identical-payload-digest";

// A body kept longer than this is not kept for the next record's buffer.
constexpr std::size_t KeptBuffer = 16 * 1024 * 1024;

bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

// A header line's name, when the line is "Name: value".
bool isHeader(std::string_view line, std::string_view name)
{
    return startsWithNoCase(line, name) && line.size() > name.size()
        && (line[name.size()] == ':' || line[name.size()] == ' ');
}

// Whether `body` starts as the last coding of `contentEncoding` makes bodies start. Only the
// codings with a signature can tell; for the others the head is taken at its word.
bool looksEncoded(std::string_view body, std::string_view contentEncoding)
{
    const std::vector<std::string> codings = ContentCodings(contentEncoding);
    if (codings.empty() || body.empty())
        return true;
    const std::string &last = codings.back();
    const auto at = [&](std::size_t i) { return i < body.size() ? static_cast<unsigned char>(body[i]) : 0u; };
    if (last == "gzip" || last == "x-gzip")
        return at(0) == 0x1F && at(1) == 0x8B;
    if (last == "zstd")
        return at(0) == 0x28 && at(1) == 0xB5 && at(2) == 0x2F && at(3) == 0xFD;
    return true;
}

// The stored body is already compressed: compressing it again costs time and gains nothing.
bool compressedAlready(std::string_view contentEncoding, std::string_view contentType)
{
    if (!ContentCodings(contentEncoding).empty())
        return true;
    if (startsWithNoCase(contentType, "image/"))
        return !startsWithNoCase(contentType, "image/svg") && !startsWithNoCase(contentType, "image/bmp");
    return startsWithNoCase(contentType, "video/") || startsWithNoCase(contentType, "audio/")
        || startsWithNoCase(contentType, "font/woff") || startsWithNoCase(contentType, "application/zip")
        || startsWithNoCase(contentType, "application/gzip");
}

// The HTTP response head as it goes into the record: the stored head's lines joined by CRLF,
// ended by an empty line. A head without a status line gets one from the status the cache
// kept; without either there is no response to write (empty result). The body is stored
// without its transfer coding, and a WinInet file may hold the body decoded: headers that
// would make a reader undo what is not there keep their value under another name.
std::string httpHead(std::string_view stored, unsigned status, bool bodyStillEncoded, std::size_t bodySize)
{
    std::string head;
    std::size_t start = 0;
    bool first = true;
    while (start < stored.size()) {
        std::size_t end = stored.find_first_of(std::string_view("\r\n\0", 3), start);
        if (end == std::string_view::npos)
            end = stored.size();
        std::string_view line = stored.substr(start, end - start);
        start = end + 1;
        if (line.empty())
            continue;
        if (first) {
            first = false;
            if (!startsWithNoCase(line, "HTTP/")) {
                if (status == 0)
                    return {};
                head += "HTTP/1.1 " + std::to_string(status) + "\r\n";
            }
        }
        if (isHeader(line, "Transfer-Encoding") || (!bodyStillEncoded && isHeader(line, "Content-Encoding")))
            head += "X-Tidewrack-Original-";
        head.append(line);
        head += "\r\n";
    }
    if (head.empty())
        return {};
    // A status line alone (what Wine's WinInet keeps) does not say where the body ends, and
    // readers then take the body for header lines: its length, as stored, says it.
    if (head.find("\r\n") + 2 == head.size())
        head += "Content-Length: " + std::to_string(bodySize) + "\r\n";
    head += "\r\n";
    return head;
}

struct Original {
    std::string id;
    std::string uri;
    std::string date;
};

// A URI as WARC-Target-URI takes it: bytes outside printable ASCII percent-encoded.
std::string targetUri(std::string_view url)
{
    if (std::all_of(url.begin(), url.end(), [](char c) { return c > 0x20 && c < 0x7F; }))
        return std::string(url);
    return PercentEncoded(url, [](unsigned char b) { return b <= 0x20 || b >= 0x7F; });
}

StoreKind kindOf(const EntryRow &row)
{
    return EntryBlockKind(row.block);
}

StoreTime timeOf(const FILETIME &t)
{
    return (StoreTime(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

StoreTime nowAsStoreTime()
{
    using namespace std::chrono;
    return StoreTimeFromUnix(duration_cast<seconds>(system_clock::now().time_since_epoch()).count());
}

class RecordMaker {
public:
    RecordMaker(WarcWriter &writer, std::string warcinfoId)
        : m_writer(writer), m_fields(QString()), m_warcinfoId(std::move(warcinfoId))
    {}

    // Writes the document's record. False only when the writer failed.
    bool write(const EntryRow &row, WarcExported &done)
    {
        const INTERNET_CACHE_ENTRY_INFOA &h = *row.header;
        const EntryExtras *extras = ExtrasOf(row.block);
        const bool inContainer = BodyInContainer(row.block);
        if (BodyNotHeld(row.block) || (extras && (extras->flags & EntryBodyMissing))) {
            done.problem = QStringLiteral("the cache holds no body for this document");
            return true;
        }
        // The stored bytes: their codings are undone below, where the head says which.
        BodyRef ref = EntryBodyRef(row.block, h);
        ref.contentEncoding.clear();
        m_body.clear();
        const StoreResult read = ReadStoredBody(ref, [this](std::string_view piece) {
            m_body.append(piece);
            return true;
        });
        if (!read.ok()) {
            done.problem = QString::fromStdString(read.reason);
            releaseBody();
            return true;
        }

        std::string contentEncoding;
        m_fields.appendText(contentEncoding, row, EntryField::ContentEncoding);
        std::string contentType;
        m_fields.appendText(contentType, row, EntryField::ContentType);
        const std::string_view stored = h.lpHeaderInfo && h.dwHeaderInfoSize
            ? std::string_view(h.lpHeaderInfo, h.dwHeaderInfoSize)
            : std::string_view();
        const bool headMissing = extras && (extras->flags & EntryHeadersMissing);
        const unsigned status = extras ? extras->status : 0;
        const bool stillEncoded = inContainer || looksEncoded(m_body, contentEncoding);
        const std::string head = headMissing ? std::string() : httpHead(stored, status, stillEncoded, m_body.size());

        const std::string uri = targetUri(SourceUrl(h));
        const StoreKind kind = kindOf(row);
        const StoreTime when = WarcResponseTime(row, kind);
        const std::string date = WarcDate(when ? when : nowAsStoreTime());
        const std::string id = NewWarcRecordId();
        const std::string payloadDigest = WarcSha1({m_body});
        if (payloadDigest.empty()) {
            done.problem = QStringLiteral("the payload digest cannot be computed");
            releaseBody();
            return true;
        }
        const bool truncated = extras && (extras->flags & EntryTruncated);

        std::vector<WarcField> fields;
        const std::string key = extras && extras->key ? extras->key : SourceUrl(h);
        auto common = [&](const char *type) {
            fields = {{"WARC-Type", type}, {"WARC-Record-ID", id}, {"WARC-Date", date}, {"WARC-Target-URI", uri}};
        };
        auto ours = [&]() {
            fields.push_back({"WARC-Warcinfo-ID", m_warcinfoId});
            fields.push_back({"WARC-Tidewrack-Key", key});
            if (extras && extras->partition && *extras->partition)
                fields.push_back({"WARC-Tidewrack-Partition", extras->partition});
            fields.push_back({"WARC-Tidewrack-Cache", StoreKindId(kind)});
        };

        bool ok = true;
        if (head.empty()) {
            common("resource");
            fields.push_back({"WARC-Payload-Digest", payloadDigest});
            ours();
            if (truncated)
                fields.push_back({"WARC-Truncated", "unspecified"});
            fields.push_back({"Content-Type", contentType.empty() ? "application/octet-stream" : contentType});
            ok = m_writer.write(fields, {m_body}, compressedAlready(contentEncoding, contentType));
            done.kind = WarcRecordKind::Resource;
        } else if (const auto seen = m_originals.find(payloadDigest);
                   seen != m_originals.end() && !truncated && !m_body.empty()) {
            common("revisit");
            fields.push_back({"WARC-Profile", RevisitProfile});
            fields.push_back({"WARC-Refers-To", seen->second.id});
            fields.push_back({"WARC-Refers-To-Target-URI", seen->second.uri});
            fields.push_back({"WARC-Refers-To-Date", seen->second.date});
            fields.push_back({"WARC-Payload-Digest", payloadDigest});
            ours();
            fields.push_back({"Content-Type", "application/http; msgtype=response"});
            ok = m_writer.write(fields, {head});
            done.kind = WarcRecordKind::Revisit;
        } else {
            common("response");
            fields.push_back({"WARC-Payload-Digest", payloadDigest});
            ours();
            if (truncated)
                fields.push_back({"WARC-Truncated", "unspecified"});
            fields.push_back({"Content-Type", "application/http; msgtype=response"});
            ok = m_writer.write(fields, {head, m_body}, compressedAlready(contentEncoding, contentType));
            done.kind = WarcRecordKind::Response;
            if (!truncated && !m_body.empty())
                m_originals.emplace(payloadDigest, Original{id, uri, date});
        }
        releaseBody();
        if (!ok)
            done.kind = WarcRecordKind::None;
        return ok;
    }

private:
    void releaseBody()
    {
        m_body.clear();
        if (m_body.capacity() > KeptBuffer)
            std::string().swap(m_body);
    }

    WarcWriter &m_writer;
    EntryFields m_fields;
    std::string m_warcinfoId;
    std::string m_body;                                    // the one body in memory
    std::unordered_map<std::string, Original> m_originals; // by payload digest
};

} // namespace

const char *WarcRecordKindName(WarcRecordKind kind)
{
    switch (kind) {
    case WarcRecordKind::Response:
        return "response";
    case WarcRecordKind::Resource:
        return "resource";
    case WarcRecordKind::Revisit:
        return "revisit";
    case WarcRecordKind::None:
        break;
    }
    return "";
}

std::size_t WarcExportResult::writtenCount() const
{
    std::size_t count = 0;
    for (const WarcExported &d : documents)
        count += d.kind != WarcRecordKind::None ? 1 : 0;
    return count;
}

StoreTime WarcResponseTime(const EntryRow &row, StoreKind kind)
{
    const INTERNET_CACHE_ENTRY_INFOA &h = *row.header;
    const StoreTime lastSync = timeOf(h.LastSyncTime);
    // A store that records when the response arrived says it better than the server's Date.
    if (kind->syncIsArrival && lastSync)
        return lastSync;
    if (h.lpHeaderInfo && h.dwHeaderInfoSize)
        if (const StoreTime date =
                StoreTimeFromHttpDate(ReadResponseFacts(std::string_view(h.lpHeaderInfo, h.dwHeaderInfoSize)).date))
            return date;
    if (lastSync)
        return lastSync;
    const EntryExtras *extras = ExtrasOf(row.block);
    if (extras && extras->created)
        return extras->created;
    return timeOf(h.LastAccessTime);
}

bool WriteWarcRecords(const std::vector<WarcDocument> &documents, WarcWriter &writer, const std::string &fileName,
                      const WarcExportOptions &options, WarcExportResult &result)
{
    result.documents.assign(documents.size(), {});
    // The warcinfo record names the program and every cache the documents come from.
    std::set<std::pair<std::string, std::string>> stores;
    for (const WarcDocument &d : documents)
        if (d.row.header)
            stores.emplace(StoreKindId(kindOf(d.row)), d.storeFolder.toStdString());
    std::string info = "software: Tidewrack/" TIDEWRACK_VERSION "\r\n"
                       "format: WARC File Format 1.1\r\n";
    for (const auto &[kind, folder] : stores)
        info += "tidewrack-cache: " + kind + " " + WarcFieldValue(folder) + "\r\n";
    const std::string warcinfoId = NewWarcRecordId();
    const std::vector<WarcField> infoFields = {{"WARC-Type", "warcinfo"},
                                               {"WARC-Record-ID", warcinfoId},
                                               {"WARC-Date", WarcDate(options.now ? options.now : nowAsStoreTime())},
                                               {"WARC-Filename", fileName},
                                               {"Content-Type", "application/warc-fields"}};
    if (!writer.write(infoFields, {info}))
        return false;

    RecordMaker maker(writer, warcinfoId);
    for (std::size_t i = 0; i < documents.size(); ++i) {
        if (!documents[i].row.header)
            result.documents[i].problem = QStringLiteral("no entry");
        else if (!maker.write(documents[i].row, result.documents[i]))
            return false;
        if (options.progress && !options.progress(i + 1, documents.size())) {
            result.stopped = true;
            return true;
        }
    }
    return true;
}

WarcExportResult ExportWarc(const std::vector<WarcDocument> &documents, const QString &path,
                            const WarcExportOptions &options)
{
    WarcExportResult result;
    const QFileInfo target(path);
    const QString targetFolder = QFileInfo(target.absolutePath()).canonicalFilePath();
    QSet<QString> storeFolders; // each store's folder looked at once, not once per document
    for (const WarcDocument &d : documents) {
        if (storeFolders.contains(d.storeFolder))
            continue;
        storeFolders.insert(d.storeFolder);
        const QString store = QFileInfo(d.storeFolder).canonicalFilePath();
        if (!store.isEmpty() && !targetFolder.isEmpty()
            && (targetFolder == store || targetFolder.startsWith(store + QLatin1Char('/')))) {
            result.error = QStringLiteral("%1 is inside the cache's folder %2").arg(path, d.storeFolder);
            result.documents.assign(documents.size(), {});
            return result;
        }
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        result.error = file.errorString();
        result.documents.assign(documents.size(), {});
        return result;
    }
    // A name ending in .warc asks for a plain archive; anything else (.warc.gz) is compressed.
    const bool compressed = !path.endsWith(QLatin1String(".warc"), Qt::CaseInsensitive);
    WarcWriter writer(
        [&file](std::string_view piece) {
            return file.write(piece.data(), qint64(piece.size())) == qint64(piece.size());
        },
        compressed);
    const bool written =
        WriteWarcRecords(documents, writer, target.fileName().toStdString(), options, result) && writer.flush();
    if (!written || result.stopped) {
        file.cancelWriting();
        if (!written)
            result.error =
                file.error() != QFileDevice::NoError ? file.errorString() : QString::fromStdString(writer.error());
        for (WarcExported &d : result.documents)
            d.kind = WarcRecordKind::None;
        return result;
    }
    if (!file.commit()) {
        result.error = file.errorString();
        for (WarcExported &d : result.documents)
            d.kind = WarcRecordKind::None;
    }
    return result;
}
