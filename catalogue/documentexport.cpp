#include "documentexport.h"

#include "listexport.h"
#include "text.h"

#include "stores/bodies.h"
#include "stores/bodydecoder.h"

#include <QDir>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t CopyPiece = 256 * 1024;
constexpr int MostNumbers = 100000;

QString fromErrno(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// A name of one path component that stays in the folder it is opened in.
bool plainName(const std::string &name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos
        && name.find('\0') == std::string::npos;
}

// The real path of a folder, links resolved, whether it exists yet or not: the real path of
// its nearest existing ancestor with the missing rest appended. Empty when nothing resolves.
std::string realFolder(const QString &path)
{
    if (path.isEmpty())
        return {};
    QString existing = QDir::cleanPath(QDir(path).absolutePath());
    QString rest;
    for (;;) {
        if (char *resolved = ::realpath(QFile::encodeName(existing).constData(), nullptr)) {
            std::string out(resolved);
            std::free(resolved);
            if (!rest.isEmpty())
                out += (out == "/" ? "" : "/") + rest.toStdString();
            return out;
        }
        const int slash = int(existing.lastIndexOf(QLatin1Char('/')));
        if (slash < 0 || existing == QLatin1String("/"))
            return {};
        rest = rest.isEmpty() ? existing.mid(slash + 1) : existing.mid(slash + 1) + QLatin1Char('/') + rest;
        existing = slash == 0 ? QStringLiteral("/") : existing.left(slash);
    }
}

bool isInside(const std::string &path, const std::string &folder)
{
    if (path.empty() || folder.empty())
        return false;
    return path == folder
        || (path.compare(0, folder.size(), folder) == 0 && path.size() > folder.size()
            && (folder.back() == '/' || path[folder.size()] == '/'));
}

// Errors that belong to the folder rather than to one document: no document could be written.
bool folderError(int error)
{
    return error == EACCES || error == EPERM || error == EROFS;
}

// Creates the first free name of `base`'s numbered names in the folder, never replacing or
// following anything already there. The descriptor, or -1 with errno set.
int createFree(int folder, const std::string &base, std::string &taken)
{
    for (int n = 1; n <= MostNumbers; ++n) {
        const std::string name = NumberedName(base, n);
        const int fd = ::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            taken = name;
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    errno = EEXIST;
    return -1;
}

// Writes all of `piece`; false with errno set.
bool writeAll(int fd, std::string_view piece)
{
    while (!piece.empty()) {
        const ssize_t n = ::write(fd, piece.data(), piece.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        piece.remove_prefix(std::size_t(n));
    }
    return true;
}

// Where one document's bytes come from and how they went.
struct Copy {
    int writeError = 0;
    QString readProblem;
    StoreError readCause = StoreError::None;
    QString note;
};

// Copies a local file (the document itself) into `to`.
void copyLocalFile(const char *path, int to, Copy &copy)
{
    const int from = ::open(path, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (from < 0) {
        copy.readCause = errno == ELOOP ? StoreError::Denied : StoreErrorFromErrno(errno);
        copy.readProblem = QString::fromUtf8(path) + QStringLiteral(": ")
            + (errno == ELOOP ? QStringLiteral("a symbolic link, not a cache file") : fromErrno(errno));
        return;
    }
    struct stat st {};
    if (::fstat(from, &st) != 0 || !S_ISREG(st.st_mode)) {
        copy.readCause = StoreError::Denied;
        copy.readProblem = QString::fromUtf8(path) + QStringLiteral(": not a regular file");
        ::close(from);
        return;
    }
    std::string piece(CopyPiece, '\0');
    for (;;) {
        const ssize_t n = ::read(from, piece.data(), piece.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            copy.readCause = StoreError::IoError;
            copy.readProblem = QString::fromUtf8(path) + QStringLiteral(": ") + fromErrno(errno);
            break;
        }
        if (n == 0)
            break;
        if (!writeAll(to, std::string_view(piece.data(), std::size_t(n)))) {
            copy.writeError = errno;
            break;
        }
    }
    ::close(from);
}

// Writes a body kept in a container decoded into `to`; a body that does not decode is written
// as stored, as the program offers it everywhere else.
void copyBody(const BodyRef &ref, int to, Copy &copy)
{
    auto sink = [&](std::string_view piece) {
        if (writeAll(to, piece))
            return true;
        copy.writeError = errno;
        return false;
    };
    bool decoded = false;
    bool cut = false;
    StoreResult read = ReadDecodedBody(ref, sink, &decoded, &cut);
    if (copy.writeError)
        return;
    if (!read.ok() && read.error == StoreError::Damaged && decoded) {
        if (::ftruncate(to, 0) != 0 || ::lseek(to, 0, SEEK_SET) != 0) {
            copy.writeError = errno;
            return;
        }
        copy.note = QStringLiteral("written as stored: ") + QString::fromStdString(read.reason);
        decoded = false;
        read = ReadStoredBody(ref, sink);
        if (copy.writeError)
            return;
    }
    if (!read.ok() && read.error != StoreError::Damaged) {
        copy.readCause = read.error;
        copy.readProblem = QString::fromStdString(read.reason);
        return;
    }
    if (!read.ok())
        copy.note = QStringLiteral("damaged in the cache: ") + QString::fromStdString(read.reason);
    else if (cut)
        copy.note = QStringLiteral("cut at the decoding limit");
    else if (!decoded && !ContentCodings(ref.contentEncoding).empty() && copy.note.isEmpty())
        copy.note = QStringLiteral("written as stored: content coding \"") + QString::fromStdString(ref.contentEncoding)
            + QStringLiteral("\" cannot be undone");
}

// The name a row's document is written under.
std::string documentName(const EntryRow &row, EntryFields &fields)
{
    std::string contentType;
    fields.appendText(contentType, row, EntryField::ContentType);
    std::string name = BodyFileName(SourceUrl(*row.header), contentType);
    // Without a type to name it by, the local file's extension tells what the document is.
    if (ExtensionOf(name).size() < 2) {
        const std::string_view extension = ExtensionOf(LocalFileName(*row.header));
        if (extension.size() >= 2 && extension.find('/') == std::string_view::npos)
            name += extension;
    }
    if (!plainName(name))
        name = "index";
    return name;
}

class Exporter {
public:
    Exporter(int folder, EntryFields &fields) : m_folder(folder), m_fields(fields) {}

    // Writes one document; a folder-level failure is reported in `folderProblem`.
    ExportedDocument write(const EntryRow &row, int &folderProblem)
    {
        ExportedDocument done;
        if (!row.header) {
            done.problem = QStringLiteral("no entry");
            done.cause = StoreError::NotFound;
            return done;
        }
        const EntryExtras *extras = ExtrasOf(row.block);
        const bool inContainer = BodyInContainer(row.block);
        if (!inContainer && !FileExists(LocalFileName(*row.header))) {
            done.problem = QString::fromUtf8(LocalFileName(*row.header)) + QStringLiteral(": the file is gone");
            done.cause = StoreError::NotFound;
            return done;
        }

        std::string name;
        const int fd = createFree(m_folder, documentName(row, m_fields), name);
        if (fd < 0) {
            if (folderError(errno))
                folderProblem = errno;
            done.problem = fromErrno(errno);
            done.cause = StoreErrorFromErrno(errno);
            return done;
        }
        Copy copy;
        if (inContainer) {
            copyBody(EntryBodyRef(row.block, *row.header), fd, copy);
        } else {
            copyLocalFile(LocalFileName(*row.header), fd, copy);
        }
        if (!copy.writeError && copy.readProblem.isEmpty()) {
            if (const auto modified = m_fields.number(row, EntryField::LastModified)) {
                const std::int64_t seconds = UnixFromStoreTime(*modified);
                const timespec times[2] = {{0, UTIME_OMIT}, {time_t(seconds), long((*modified % 10000000u) * 100u)}};
                ::futimens(fd, times);
            }
        }
        if (::close(fd) != 0 && !copy.writeError)
            copy.writeError = errno;
        if (copy.writeError || !copy.readProblem.isEmpty()) {
            ::unlinkat(m_folder, name.c_str(), 0);
            done.problem = copy.writeError
                ? QString::fromStdString(name) + QStringLiteral(": ") + fromErrno(copy.writeError)
                : copy.readProblem;
            done.cause = copy.writeError ? StoreErrorFromErrno(copy.writeError) : copy.readCause;
            return done;
        }
        if (extras && (extras->flags & EntryTruncated) && copy.note.isEmpty())
            copy.note = QStringLiteral("the cache holds only part of this document");
        done.written = true;
        done.fileName = QString::fromStdString(name);
        done.problem = copy.note;
        return done;
    }

private:
    int m_folder;
    EntryFields &m_fields;
};

} // namespace

std::size_t DocumentExportResult::writtenCount() const
{
    std::size_t count = 0;
    for (const ExportedDocument &d : documents)
        count += d.written ? 1 : 0;
    return count;
}

std::string NumberedName(const std::string &name, int n)
{
    if (n <= 1)
        return name;
    const std::string number = " (" + std::to_string(n) + ")";
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return name + number;
    return name.substr(0, dot) + number + name.substr(dot);
}

DocumentExportResult ExportDocuments(const std::vector<EntryRow> &rows, const QString &folder, EntryFields &fields,
                                     const DocumentExportOptions &options)
{
    DocumentExportResult result;
    result.documents.resize(rows.size());
    auto fail = [&](ExportFolderProblem kind, const QString &why, StoreError cause = StoreError::None) {
        result.folderProblem = kind;
        result.folderCause = cause;
        result.error = why;
        for (ExportedDocument &d : result.documents)
            d.problem = why;
        return result;
    };
    if (folder.isEmpty())
        return fail(ExportFolderProblem::NoFolder, QStringLiteral("no folder given"));
    const QString target = QDir::cleanPath(QDir(folder).absolutePath());
    result.folder = target;
    // Checked before the folder is made, so that not even a folder lands in the cache.
    if (isInside(realFolder(target), realFolder(options.storeFolder)))
        return fail(ExportFolderProblem::InsideCache,
                    target + QStringLiteral(": inside the cache's own folder; the cache is never written to"));
    if (!QDir().mkpath(target))
        return fail(ExportFolderProblem::CannotMake, target + QStringLiteral(": cannot make the folder"));
    const int dir = ::open(QFile::encodeName(target).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        const int error = errno;
        return error == ENOTDIR ? fail(ExportFolderProblem::NotAFolder, target + QStringLiteral(": not a folder"))
                                : fail(ExportFolderProblem::Unwritable,
                                       target + QStringLiteral(": ") + fromErrno(error), StoreErrorFromErrno(error));
    }

    auto folderFailed = [&](int error) {
        result.folderProblem = ExportFolderProblem::Unwritable;
        result.folderCause = StoreErrorFromErrno(error);
        return target + QStringLiteral(": cannot write into the folder: ") + fromErrno(error);
    };
    // A nameless file tells whether the folder takes files at all, leaving nothing behind.
    if (const int probe = ::openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600); probe >= 0) {
        ::close(probe);
    } else if (folderError(errno)) {
        const int error = errno;
        ::close(dir);
        const QString why = folderFailed(error);
        return fail(ExportFolderProblem::Unwritable, why, StoreErrorFromErrno(error));
    }

    std::string manifestName;
    if (options.manifest) {
        std::string wanted = options.manifestName.toStdString();
        if (!plainName(wanted))
            wanted = "manifest.csv";
        // Taken first, so that no document takes its name.
        const int fd = createFree(dir, wanted, manifestName);
        if (fd < 0) {
            const int error = errno;
            if (folderError(error)) {
                ::close(dir);
                const QString why = folderFailed(error);
                return fail(ExportFolderProblem::Unwritable, why, StoreErrorFromErrno(error));
            }
            result.manifestError = fromErrno(error); // the documents still go
            result.manifestCause = StoreErrorFromErrno(error);
        } else {
            ::close(fd);
        }
    }

    Exporter exporter(dir, fields);
    std::size_t index = 0;
    for (; index < rows.size(); ++index) {
        int folderProblem = 0;
        result.documents[index] = exporter.write(rows[index], folderProblem);
        if (folderProblem) {
            result.error = folderFailed(folderProblem);
            break;
        }
        if (options.progress && !options.progress(index + 1, rows.size())) {
            result.stopped = true;
            ++index;
            break;
        }
    }
    for (std::size_t rest = index; rest < rows.size(); ++rest)
        if (!result.documents[rest].written && result.documents[rest].problem.isEmpty())
            result.documents[rest].problem =
                result.stopped ? QStringLiteral("stopped before this document") : result.error;
    if (!result.error.isEmpty() && index < rows.size())
        result.documents[index].problem = result.error;

    if (!manifestName.empty()) {
        ListExportOptions list;
        ExtraColumn file{"exported_file", QStringLiteral("导出文件"), {}};
        ExtraColumn problem{"export_problem", QStringLiteral("导出问题"), {}};
        for (const ExportedDocument &d : result.documents) {
            file.values.push_back(d.fileName.toStdString());
            problem.values.push_back(d.problem.toStdString());
        }
        list.extra = {std::move(file), std::move(problem)};
        const QString path = target + QLatin1Char('/') + QString::fromStdString(manifestName);
        if (const StoreResult written = ExportEntryList(path, rows, ListFormat::Csv, fields, list); written.ok()) {
            result.manifestFile = QString::fromStdString(manifestName);
        } else {
            result.manifestError = QString::fromStdString(written.reason);
            result.manifestCause = written.error;
            ::unlinkat(dir, manifestName.c_str(), 0); // the empty file that held the name
        }
    }
    ::close(dir);
    return result;
}
