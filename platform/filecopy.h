#pragma once
// The copy engine behind saving documents: copies a list of files the way the platform's
// copy with one destination per source does. One source: the target is the destination's
// full path. Several: the target is a folder and every file keeps its own name. Nothing is
// ever overwritten without asking, and a failed or cancelled copy leaves no partial file:
// each file is written beside its destination and only takes the destination's place when
// it is complete. No user interface: questions and reports go through callbacks.

#include <QString>
#include <QStringList>

#include <functional>

class QFileDevice;

// The answer to "replace the existing file?".
enum class ReplaceAnswer { Yes, YesToAll, No, Cancel };

// Why one file could not be copied.
enum class CopyError {
    SourceMissing,
    SourceUnreadable,    // exists but cannot be opened (permissions, a folder, ...)
    TargetFolderMissing, // the destination's folder does not exist or is not a folder
    TargetFolderNotWritable,
    DiskFull,          // ENOSPC while writing
    SameFile,          // source and destination are one file
    TargetIsDirectory, // a folder stands where the file should go
    ReadFailed,        // reading the source failed part way
    WriteFailed,       // any other write failure
};

struct CopyFailure {
    int index = 0; // position of the source in the list
    QString source;
    QString destination;
    CopyError error = CopyError::WriteFailed;
    QString detail; // the system's own words, when it gave any
};

struct CopyProgress {
    qint64 bytesDone = 0;
    qint64 bytesTotal = 0; // the sizes of all sources found at the start
    int fileIndex = 0;     // the source being copied
    int fileCount = 0;
};

// How the caller takes part in a copy. Every member may be left empty.
struct CopyCallbacks {
    // Called before each file and after every chunk; false cancels the whole copy.
    std::function<bool(const CopyProgress &)> progress;
    // Asked before an existing file would be replaced. Empty: the file is skipped.
    std::function<ReplaceAnswer(const QString &destination, int index)> askReplace;
    // Told about each file that could not be copied; false stops the copy. Empty: go on.
    std::function<bool(const CopyFailure &)> failed;
};

struct CopyResult {
    int copied = 0;
    int skipped = 0; // the replace question answered No
    int failed = 0;
    bool cancelled = false; // by the progress callback or a Cancel answer
    bool stopped = false;   // the failure callback asked to stop
};

// The size of the chunks the engine reads and writes.
inline constexpr qint64 CopyChunkSize = 1024 * 1024;

// Where source `index` goes for `target` (see the class comment for the two forms).
QString CopyDestination(const QStringList &sources, const QString &target, int index);

// Copies `sources` to `target`, returning when done. Keeps each source's modification time.
CopyResult CopyFiles(const QStringList &sources, const QString &target,
                     const CopyCallbacks &callbacks = CopyCallbacks());

// How a failed write on `file` is reported: DiskFull for ENOSPC, WriteFailed otherwise.
CopyError ClassifyWriteFailure(const QFileDevice &file);
