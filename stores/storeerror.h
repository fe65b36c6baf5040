#pragma once
// The error numbers a store reports, the platform's own (so that the WinInet-named calls can
// hand them on unchanged), and the result of a store operation.

#include <cerrno>
#include <cstdint>
#include <string>

constexpr std::uint32_t ERROR_SUCCESS = 0;
constexpr std::uint32_t ERROR_FILE_NOT_FOUND = 2;
constexpr std::uint32_t ERROR_PATH_NOT_FOUND = 3;
constexpr std::uint32_t ERROR_ACCESS_DENIED = 5;
constexpr std::uint32_t ERROR_WRITE_PROTECT = 19;
constexpr std::uint32_t ERROR_WRITE_FAULT = 29;
constexpr std::uint32_t ERROR_SHARING_VIOLATION = 32;
constexpr std::uint32_t ERROR_NOT_SUPPORTED = 50;
constexpr std::uint32_t ERROR_INVALID_PARAMETER = 87;
constexpr std::uint32_t ERROR_DISK_FULL = 112;
constexpr std::uint32_t ERROR_INSUFFICIENT_BUFFER = 122;
constexpr std::uint32_t ERROR_NO_MORE_ITEMS = 259;
constexpr std::uint32_t ERROR_FILE_CORRUPT = 1392;

// The error number a failed system call's errno stands for, the same for every kind of store
// and every file the program writes: a read-only disk is ERROR_WRITE_PROTECT wherever it is met.
inline std::uint32_t StoreErrorFromErrno(int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return ERROR_DISK_FULL;
    case EIO:
        return ERROR_WRITE_FAULT;
    case EROFS:
        return ERROR_WRITE_PROTECT;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EBUSY:
    case ETXTBSY:
        return ERROR_SHARING_VIOLATION;
    default:
        return ERROR_ACCESS_DENIED;
    }
}

// What a store operation did: ERROR_SUCCESS, or an error with a one-line reason in English.
struct StoreResult {
    std::uint32_t error = ERROR_SUCCESS;
    std::string reason;
    bool ok() const { return error == ERROR_SUCCESS; }
    static StoreResult failure(std::uint32_t error, std::string reason) { return {error, std::move(reason)}; }
};
