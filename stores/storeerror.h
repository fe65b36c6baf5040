#pragma once
// What went wrong in a store operation, in words of our own that every kind of store shares:
// the window turns them into Chinese, the WinInet-named calls into the platform's numbers.

#include <cerrno>
#include <cstdint>
#include <string>

enum class StoreError : std::uint8_t {
    None,
    NotFound,     // no such file, folder or entry
    NoFolder,     // a folder the path needs is missing or is no folder
    NotACache,    // the place holds no cache store we know
    Unsupported,  // a cache store of a kind or version we do not read
    Busy,         // another program (the browser, a Wine program) uses it now
    ReadOnly,     // this kind or version of store is only ever read
    DiskReadOnly, // the disk it lies on cannot be written
    Damaged,      // the data breaks the format's rules
    NewerFormat,  // written by a newer browser than we read
    Encrypted,    // encrypted, and the key cannot be found
    DiskFull,     // no room left to write
    IoError,      // the disk failed to read or write
    Denied,       // no permission
    Closed,       // the store was closed: nothing reaches another one in its place
};

// "not-found", "busy", ...: a stable English name for logs and the tools' output.
inline const char *StoreErrorName(StoreError error)
{
    switch (error) {
    case StoreError::None:
        return "none";
    case StoreError::NotFound:
        return "not-found";
    case StoreError::NoFolder:
        return "no-folder";
    case StoreError::NotACache:
        return "not-a-cache";
    case StoreError::Unsupported:
        return "unsupported";
    case StoreError::Busy:
        return "busy";
    case StoreError::ReadOnly:
        return "read-only";
    case StoreError::DiskReadOnly:
        return "disk-read-only";
    case StoreError::Damaged:
        return "damaged";
    case StoreError::NewerFormat:
        return "newer-format";
    case StoreError::Encrypted:
        return "encrypted";
    case StoreError::DiskFull:
        return "disk-full";
    case StoreError::IoError:
        return "io-error";
    case StoreError::Denied:
        return "denied";
    case StoreError::Closed:
        return "closed";
    }
    return "unknown";
}

// The error a failed system call's errno stands for, the same for every kind of store and
// every file the program writes: a read-only disk is DiskReadOnly wherever it is met.
inline StoreError StoreErrorFromErrno(int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return StoreError::DiskFull;
    case EIO:
        return StoreError::IoError;
    case EROFS:
        return StoreError::DiskReadOnly;
    case ENOENT:
        return StoreError::NotFound;
    case ENOTDIR:
        return StoreError::NoFolder;
    case EBUSY:
    case ETXTBSY:
        return StoreError::Busy;
    default:
        return StoreError::Denied;
    }
}

// What a store operation did: no error, or an error with a one-line reason in English.
struct StoreResult {
    StoreError error = StoreError::None;
    std::string reason;
    bool ok() const { return error == StoreError::None; }
    static StoreResult failure(StoreError error, std::string reason) { return {error, std::move(reason)}; }
};
