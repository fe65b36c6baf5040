#include "filecopy.h"

#include "cachefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>

namespace {

enum class Outcome { Copied, Skipped, Failed, Cancelled };

// One copy run: the callbacks, the running totals and the "replace all" answer.
class CopyRun {
public:
    CopyRun(const QStringList &sources, const QString &target, const CopyCallbacks &callbacks)
        : m_sources(sources), m_target(target), m_cb(callbacks)
    {
        m_progress.fileCount = int(sources.size());
        for (const QString &source : sources) {
            const QFileInfo info(source);
            const qint64 size = info.isFile() ? info.size() : 0;
            m_sizes.append(size);
            m_progress.bytesTotal += size;
        }
    }

    CopyResult run()
    {
        CopyResult result;
        qint64 finished = 0;
        for (int i = 0; i < m_sources.size(); ++i) {
            if (!report(finished, i)) {
                result.cancelled = true;
                break;
            }
            const Outcome outcome = copyOne(i, finished);
            if (outcome == Outcome::Cancelled) {
                result.cancelled = true;
                break;
            }
            if (outcome == Outcome::Copied)
                ++result.copied;
            else if (outcome == Outcome::Skipped)
                ++result.skipped;
            else {
                ++result.failed;
                if (m_stopRequested) {
                    result.stopped = true;
                    break;
                }
            }
            finished += m_sizes[i];
        }
        if (!result.cancelled && !result.stopped && !m_sources.isEmpty())
            report(m_progress.bytesTotal, int(m_sources.size()) - 1);
        return result;
    }

private:
    bool report(qint64 done, int index)
    {
        if (!m_cb.progress)
            return true;
        m_progress.bytesDone = done;
        m_progress.fileIndex = index;
        return m_cb.progress(m_progress);
    }

    Outcome fail(int index, const QString &destination, CopyError error, const QString &detail = QString())
    {
        CopyFailure failure;
        failure.index = index;
        failure.source = m_sources[index];
        failure.destination = destination;
        failure.error = error;
        failure.detail = detail;
        if (m_cb.failed && !m_cb.failed(failure))
            m_stopRequested = true;
        return Outcome::Failed;
    }

    Outcome copyOne(int index, qint64 finished)
    {
        const QString &source = m_sources[index];
        const QString destination = CopyDestination(m_sources, m_target, index);

        const QFileInfo sourceInfo(source);
        if (!sourceInfo.exists())
            return fail(index, destination, CopyError::SourceMissing);
        if (sourceInfo.isDir())
            return fail(index, destination, CopyError::SourceUnreadable, QStringLiteral("Is a directory"));

        const QFileInfo destinationInfo(destination);
        const QFileInfo folderInfo(destinationInfo.absolutePath());
        if (!folderInfo.isDir())
            return fail(index, destination, CopyError::TargetFolderMissing);
        if (destinationInfo.isDir())
            return fail(index, destination, CopyError::TargetIsDirectory);
        if (destinationInfo.exists() && destinationInfo.canonicalFilePath() == sourceInfo.canonicalFilePath())
            return fail(index, destination, CopyError::SameFile);
        if (!folderInfo.isWritable())
            return fail(index, destination, CopyError::TargetFolderNotWritable);

        if (destinationInfo.exists() && !m_replaceAll) {
            const ReplaceAnswer answer = m_cb.askReplace ? m_cb.askReplace(destination, index) : ReplaceAnswer::No;
            switch (answer) {
            case ReplaceAnswer::Yes:
                break;
            case ReplaceAnswer::YesToAll:
                m_replaceAll = true;
                break;
            case ReplaceAnswer::No:
                return Outcome::Skipped;
            case ReplaceAnswer::Cancel:
                return Outcome::Cancelled;
            }
        }

        // Only a regular file of the store is copied: a FIFO would hang the copy, and a link
        // out of the cache folder would copy some other file of the user's.
        QFile in;
        if (const CacheFileOpened opened = OpenCacheFile(in, source); !opened)
            return fail(index, destination, CopyError::SourceUnreadable, opened.why);

        // QSaveFile writes an unnamed or temporary file in the destination's folder and
        // renames it over the destination only on commit: a failure or a cancel never leaves
        // a partial file, and an existing file stays intact until the new one is complete.
        QSaveFile out(destination);
        if (!out.open(QIODevice::WriteOnly)) {
            const CopyError error = out.errorString() == qt_error_string(EACCES) ? CopyError::TargetFolderNotWritable
                                                                                 : ClassifyWriteFailure(out);
            return fail(index, destination, error, out.errorString());
        }

        QByteArray chunk;
        qint64 done = finished;
        for (;;) {
            chunk.resize(CopyChunkSize);
            const qint64 got = in.read(chunk.data(), CopyChunkSize);
            if (got < 0) {
                out.cancelWriting();
                return fail(index, destination, CopyError::ReadFailed, in.errorString());
            }
            if (got == 0)
                break;
            if (out.write(chunk.constData(), got) != got) {
                const CopyError error = ClassifyWriteFailure(out);
                const QString detail = out.errorString();
                out.cancelWriting();
                return fail(index, destination, error, detail);
            }
            done += got;
            if (!report(done, index)) {
                out.cancelWriting();
                return Outcome::Cancelled;
            }
        }

        // Flushed first so that no later write moves the time set here.
        if (!out.flush()) {
            const CopyError error = ClassifyWriteFailure(out);
            const QString detail = out.errorString();
            out.cancelWriting();
            return fail(index, destination, error, detail);
        }
        out.setFileTime(sourceInfo.lastModified(), QFileDevice::FileModificationTime);
        if (!out.commit())
            return fail(index, destination, ClassifyWriteFailure(out), out.errorString());
        return Outcome::Copied;
    }

    const QStringList &m_sources;
    const QString &m_target;
    const CopyCallbacks &m_cb;
    QList<qint64> m_sizes;
    CopyProgress m_progress;
    bool m_replaceAll = false;
    bool m_stopRequested = false;
};

} // namespace

QString CopyDestination(const QStringList &sources, const QString &target, int index)
{
    if (sources.size() == 1)
        return target;
    return QDir(target).filePath(QFileInfo(sources.at(index)).fileName());
}

CopyResult CopyFiles(const QStringList &sources, const QString &target, const CopyCallbacks &callbacks)
{
    return CopyRun(sources, target, callbacks).run();
}

CopyError ClassifyWriteFailure(const QFileDevice &file)
{
    // Qt reports ENOSPC as a resource error with the system's text for it.
    if (file.error() == QFileDevice::ResourceError || file.errorString() == qt_error_string(ENOSPC))
        return CopyError::DiskFull;
    return CopyError::WriteFailed;
}
