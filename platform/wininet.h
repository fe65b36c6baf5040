#pragma once
// The few records and calls of the Windows Internet library that the catalogue uses,
// kept under their own names so that the catalogue code reads like the platform it was
// made for. Behind them sits our own reader and writer of the cache store (urlcachestore.h).

#include <cstdint>

using DWORD = std::uint32_t;
using HANDLE = void *;

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

// The fixed header of a cache entry. Its string pointers point into the same buffer,
// behind the header, when the enumeration fills it.
struct INTERNET_CACHE_ENTRY_INFOA {
    DWORD dwStructSize;
    char *lpszSourceUrlName;
    char *lpszLocalFileName;
    DWORD CacheEntryType;
    DWORD dwUseCount;
    DWORD dwHitRate;
    DWORD dwSizeLow;
    DWORD dwSizeHigh;
    FILETIME LastModifiedTime;
    FILETIME ExpireTime;
    FILETIME LastAccessTime;
    FILETIME LastSyncTime;
    char *lpHeaderInfo;
    DWORD dwHeaderInfoSize;
    char *lpszFileExtension;
    DWORD dwExemptDelta;
};

constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_WRITE_PROTECT = 19;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
constexpr DWORD ERROR_FILE_CORRUPT = 1392;

// The calling thread's last error, as the platform keeps it.
DWORD GetLastError();
void SetLastError(DWORD error);

// Enumeration of every entry of the current store (see SetUrlCacheStore). A search
// pattern is not supported: pass nullptr. Each step fills `info` when `*size` is large
// enough; otherwise it fails with ERROR_INSUFFICIENT_BUFFER and sets `*size` to what the
// entry needs.
HANDLE FindFirstUrlCacheEntryA(const char *searchPattern, INTERNET_CACHE_ENTRY_INFOA *info, DWORD *size);
bool FindNextUrlCacheEntryA(HANDLE enumeration, INTERNET_CACHE_ENTRY_INFOA *info, DWORD *size);
bool FindCloseUrlCache(HANDLE enumeration);

// Removes the entry whose URL equals `url` byte for byte, with its local file.
bool DeleteUrlCacheEntry(const char *url);

// The offline browsing state of the current user.
bool SetOffline(bool offline);
bool IsOffline();
