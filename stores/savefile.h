#pragma once
// Writing a file whole through QSaveFile. QSaveFile commits whatever reached the disk even
// after a write or its flush failed (a full disk leaves an empty or cut file in the old one's
// place), so every writer goes through these: each write and the flush are checked, and on any
// failure the new file is given up and the old one stays as it was.

#include "stores/storeerror.h"

#include <QByteArrayView>
#include <QFile>
#include <QSaveFile>

#include <cerrno>
#include <string>

// The errno behind a failed operation on `file`: Qt keeps only the system's text for it.
inline int ErrnoOf(const QFileDevice &file)
{
    const QString text = file.errorString();
    for (const int error : {ENOSPC, EDQUOT, EFBIG, EIO, EROFS, EACCES, EPERM, ENOENT, ENOTDIR, EISDIR, EBUSY})
        if (text == qt_error_string(error))
            return error;
    return 0;
}

// The failure of `file` as an error number and the system's words for it.
inline StoreResult SaveFailure(const QFileDevice &file)
{
    const int error = ErrnoOf(file);
    return StoreResult::failure(error ? StoreErrorFromErrno(error) : StoreError::IoError,
                                QFile::encodeName(file.fileName()).toStdString() + ": "
                                    + file.errorString().toStdString());
}

// Writes all of `bytes` (going on after short writes). False on a failure; the caller then
// gives the file up with FinishSaveFile.
inline bool WriteAllTo(QSaveFile &file, QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        const qint64 n = file.write(bytes.data(), bytes.size());
        if (n <= 0)
            return false;
        bytes = bytes.sliced(n);
    }
    return true;
}

// Puts `file` in the place of the old file when everything written reached it (the flush is
// checked before the commit); otherwise drops it, leaving the old file, and says why.
// `writeFailed`: a write of the caller's already failed (WriteAllTo returned false).
inline StoreResult FinishSaveFile(QSaveFile &file, bool writeFailed = false)
{
    if (writeFailed || !file.flush() || file.error() != QFileDevice::NoError) {
        StoreResult why = SaveFailure(file);
        if (file.error() == QFileDevice::NoError) // a write that took nothing and named no cause
            why = StoreResult::failure(StoreError::DiskFull,
                                       QFile::encodeName(file.fileName()).toStdString()
                                           + ": nothing more could be written");
        file.cancelWriting();
        return why;
    }
    if (!file.commit())
        return SaveFailure(file);
    return {};
}

// Replaces the file `path` by `bytes`, or leaves it as it was and says why.
inline StoreResult SaveWholeFile(const QString &path, QByteArrayView bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return SaveFailure(file);
    return FinishSaveFile(file, !WriteAllTo(file, bytes));
}
