#include "support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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

UrlCacheRecord &TestStore::add(const std::string &url, const std::string &fileName,
                               const std::string &content, bool createFile)
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

QString FixturesDir() { return QStringLiteral(TIDEWRACK_FIXTURES); }
