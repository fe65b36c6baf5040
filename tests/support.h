#pragma once
// Helpers the tests share, without widgets: cache stores built in temporary folders, files.

#include "platform/urlcachestore.h"
#include "tools/writers/indexdatwriter.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <string>

// A store held in memory whose local files live in a temporary folder. Installed as the
// process's store while it lives.
class TestStore {
public:
    TestStore();
    ~TestStore();

    // Adds an entry; with `content` given, its local file is created under the folder.
    // `fileName` empty: the entry has no local file name at all.
    StoreEntry &add(const std::string &url, const std::string &fileName, const std::string &content = std::string(),
                    bool createFile = true);
    QString folder() const { return m_dir.path(); }
    std::string path(const std::string &fileName) const;
    MemoryStore &store() { return *m_store; }

private:
    QTemporaryDir m_dir;
    std::shared_ptr<MemoryStore> m_store;
};

// An entry of a store's listing with its texts copied out, for comparisons.
struct Listed {
    std::string key, url, localFileName, headers, extension, partition, contentType, contentEncoding, container;
    bool hasLocalFile = true;
    std::uint64_t size = 0, bodyOffset = 0;
    StoreTime lastModified = 0, expires = 0, lastAccess = 0, lastSync = 0, created = 0;
    std::uint32_t hitCount = 0, entryType = 0, exemptDelta = 0;
    std::uint16_t httpStatus = 0, flags = 0;
    BodyPlace body = BodyPlace::None;
};
// Lists `store`; `error` (optional) gets the listing's error.
std::vector<Listed> ListEntries(CacheStore &store, std::string *error = nullptr);

// The folder of the real stores the project did not write.
QString FixturesDir();

// Copies a folder tree (a fixture store) and makes the copies writable, as a user's own
// store would be. False when anything could not be copied.
bool CopyStoreFolder(const QString &from, const QString &to);

// Writes a store with the store writer into `folder`; fails the calling test on an error.
StoreWriteResult WriteTestStore(const QString &folder, const std::vector<StoreWriterEntry> &entries,
                                const StoreWriterOptions &options = {});

// A whole file's bytes, and writing them as the whole file (in place, or new with its folder).
QByteArray ReadBytes(const QString &path);
bool WriteBytes(const QString &path, const QByteArray &bytes);

// An index.dat's expected listing (expected-list.tsv) as sorted lines "url<TAB>local file",
// with "<TAB>size" when `withSize`; and a store's listing in the same form, its local files
// relative to `folder`.
QStringList ExpectedList(const QString &path, bool withSize);
QStringList ListedBy(CacheStore &store, const QString &folder, bool withSize);

// Every file below `folder`, as paths relative to it, sorted.
QStringList FilesBelow(const QString &folder);

// The rules WinInet checks before using a store; empty when they hold.
std::string StoreConsistency(const QString &indexPath);
