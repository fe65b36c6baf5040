#include "support.h"

#include "stores/indexdatformat.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTest>

TestStore::TestStore() : m_store(std::make_shared<MemoryStore>())
{
    SetUrlCacheStore(m_store);
}

TestStore::~TestStore()
{
    if (CurrentUrlCacheStore() == m_store)
        SetUrlCacheStore(nullptr);
}

std::vector<Listed> ListEntries(CacheStore &store, std::string *error)
{
    const StoreListing listing = store.list();
    if (error)
        *error = listing.error;
    std::vector<Listed> out;
    for (const StoreEntry &e : listing.entries) {
        Listed l;
        auto text = [&listing](StoreText t) { return std::string(listing.text(t)); };
        l.key = text(e.key);
        l.url = text(e.url);
        l.localFileName = text(e.localFile);
        l.headers = text(e.headers);
        l.extension = text(e.extension);
        l.partition = text(e.partition);
        l.contentType = text(e.contentType);
        l.contentEncoding = text(e.contentEncoding);
        l.container = text(e.container);
        l.hasLocalFile = e.hasLocalFile;
        l.size = e.size;
        l.bodyOffset = e.bodyOffset;
        l.lastModified = e.lastModified;
        l.expires = e.expires;
        l.lastAccess = e.lastAccess;
        l.lastSync = e.lastSync;
        l.created = e.created;
        l.hitCount = e.hitCount;
        l.entryType = e.entryType;
        l.exemptDelta = e.exemptDelta;
        l.httpStatus = e.httpStatus;
        l.flags = e.flags;
        l.body = e.body;
        out.push_back(std::move(l));
    }
    return out;
}

std::string TestStore::path(const std::string &fileName) const
{
    return (m_dir.path() + '/' + QString::fromStdString(fileName)).toStdString();
}

StoreEntry &TestStore::add(const std::string &url, const std::string &fileName, const std::string &content,
                           bool createFile)
{
    const bool hasLocalFile = !fileName.empty();
    const std::string local = hasLocalFile ? path(fileName) : std::string();
    if (hasLocalFile && createFile) {
        const QString full = QString::fromStdString(local);
        QDir().mkpath(QFileInfo(full).absolutePath());
        QFile file(full);
        if (file.open(QIODevice::WriteOnly))
            file.write(content.data(), qint64(content.size()));
    }
    StoreEntry &entry = m_store->add(url, local, hasLocalFile);
    entry.size = content.size();
    return entry;
}

QString FixturesDir()
{
    return QStringLiteral(TIDEWRACK_FIXTURES);
}

bool CopyStoreFolder(const QString &from, const QString &to)
{
    if (!QDir().mkpath(to))
        return false;
    const QDir source(from);
    for (const QFileInfo &info : source.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString target = to + '/' + info.fileName();
        if (info.isDir()) {
            if (!CopyStoreFolder(info.filePath(), target))
                return false;
        } else if (!QFile::copy(info.filePath(), target)
                   || !QFile::setPermissions(
                       target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther)) {
            return false;
        }
    }
    return true;
}

StoreWriteResult WriteTestStore(const QString &folder, const std::vector<StoreWriterEntry> &entries,
                                const StoreWriterOptions &options)
{
    StoreWriteResult result = WriteUrlCacheStore(folder.toStdString(), entries, options);
    if (!result.ok)
        QTest::qFail(("store writer: " + result.error).c_str(), __FILE__, __LINE__);
    return result;
}

QByteArray ReadBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteBytes(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::ReadWrite) && file.write(bytes) == bytes.size() && file.resize(bytes.size());
}

QStringList FilesBelow(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(folder).relativeFilePath(it.next());
    files.sort();
    return files;
}

std::string StoreConsistency(const QString &indexPath)
{
    const QByteArray bytes = ReadBytes(indexPath);
    return indexdat::CheckConsistency(reinterpret_cast<const std::uint8_t *>(bytes.constData()),
                                      std::size_t(bytes.size()));
}

QStringList ExpectedList(const QString &path, bool withSize)
{
    QStringList out;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QList<QByteArray> f = line.split('\t');
        QString item = QString::fromUtf8(f.value(0)) + '\t' + QString::fromUtf8(f.value(1));
        if (withSize)
            item += '\t' + QString::fromUtf8(f.value(2));
        out << item;
    }
    out.sort();
    return out;
}

QStringList ListedBy(CacheStore &store, const QString &folder, bool withSize)
{
    QStringList out;
    for (const Listed &r : ListEntries(store)) {
        QString item = QString::fromStdString(r.url) + '\t'
            + QDir(folder).relativeFilePath(QString::fromStdString(r.localFileName));
        if (withSize)
            item += '\t' + QString::number(r.size);
        out << item;
    }
    out.sort();
    return out;
}
