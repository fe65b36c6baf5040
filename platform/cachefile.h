#pragma once
// Opening a cache store's files for reading. A cache folder may come from an archive or from
// another disk, so what stands at an entry's local path is not trusted: it is read only when
// it is a regular file (a FIFO, socket, device or folder counts as unreadable, and nothing is
// ever opened in a way that could block), and a path that passes through a symbolic link is
// read only when it resolves to a file inside the store's own folders.

#include <QString>

#include <cstdint>
#include <string>
#include <vector>

class QFile;

// Why a cache file could not be opened.
enum class CacheFileRefusal {
    None,
    Missing,      // nothing there, or a dangling link
    NotRegular,   // a folder, FIFO, socket or device
    OutsideStore, // a link that leads out of the store's folders
    Unreadable,   // it exists but could not be opened (permissions, I/O)
};

// An open cache file: a read-only descriptor, closed with the object.
class CacheFile {
public:
    CacheFile() = default;
    ~CacheFile();
    CacheFile(CacheFile &&other) noexcept;
    CacheFile &operator=(CacheFile &&other) noexcept;
    CacheFile(const CacheFile &) = delete;
    CacheFile &operator=(const CacheFile &) = delete;

    // Opens `path` under the rules above, with the folders of the store in use.
    static CacheFile open(const char *path);
    // The same with the store folders given.
    static CacheFile open(const char *path, const std::vector<std::string> &storeFolders);

    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    // Gives the descriptor away; the object no longer closes it.
    int release();
    CacheFileRefusal refusal() const { return m_refusal; }
    std::int64_t size() const { return m_size; }
    // A short English reason for messages; empty when open.
    QString reason() const;

private:
    int m_fd = -1;
    CacheFileRefusal m_refusal = CacheFileRefusal::None;
    int m_errno = 0;
    std::int64_t m_size = 0;
};

// Opens `path` as CacheFile::open does and hands the descriptor to `file` (which then closes
// it). When the file is refused, `file` stays closed and `why` says why.
struct CacheFileOpened {
    bool ok = false;
    QString why;
    explicit operator bool() const { return ok; }
};
CacheFileOpened OpenCacheFile(QFile &file, const QString &path);

// The folders that the open stores' files may resolve into: each store's own folder (its
// content folders lie below it) and the folder of bodies written out of container files.
std::vector<std::string> CacheStoreFolders();

// The folder of the open store that `path` (which need not exist yet) lies in, links
// resolved; with none, the current store's folder. What a writer out of the caches refuses.
std::string StoreFolderHolding(const std::string &path);
