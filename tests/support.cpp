#include "support.h"

#include "platform/indexdatformat.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTest>

TestStore::TestStore() : m_store(std::make_shared<MemoryUrlCacheStore>())
{
    SetUrlCacheStore(m_store);
}

TestStore::~TestStore()
{
    if (CurrentUrlCacheStore() == m_store)
        SetUrlCacheStore(nullptr);
}

std::string TestStore::path(const std::string &fileName) const
{
    return (m_dir.path() + '/' + QString::fromStdString(fileName)).toStdString();
}

UrlCacheRecord &TestStore::add(const std::string &url, const std::string &fileName, const std::string &content,
                               bool createFile)
{
    UrlCacheRecord record;
    record.url = url;
    record.hasLocalFile = !fileName.empty();
    if (record.hasLocalFile)
        record.localFileName = path(fileName);
    record.size = content.size();
    if (record.hasLocalFile && createFile) {
        const QString full = QString::fromStdString(record.localFileName);
        QDir().mkpath(QFileInfo(full).absolutePath());
        QFile file(full);
        if (file.open(QIODevice::WriteOnly))
            file.write(content.data(), qint64(content.size()));
    }
    m_store->add(record);
    return const_cast<UrlCacheRecord &>(m_store->records().back());
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
