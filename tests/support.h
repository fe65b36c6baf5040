#pragma once
// Helpers the tests share: cache stores built in temporary folders.

#include "platform/urlcachestore.h"

#include <QString>
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
    UrlCacheRecord &add(const std::string &url, const std::string &fileName,
                        const std::string &content = std::string(), bool createFile = true);
    QString folder() const { return m_dir.path(); }
    std::string path(const std::string &fileName) const;
    MemoryUrlCacheStore &store() { return *m_store; }

private:
    QTemporaryDir m_dir;
    std::shared_ptr<MemoryUrlCacheStore> m_store;
};

// The folder of the real stores the project did not write.
QString FixturesDir();
