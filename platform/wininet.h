#pragma once
// The few records and calls of the Windows Internet library that the catalogue uses,
// kept under their own names so that the catalogue code reads like the platform it was
// made for. Behind them sits our own reader and writer of the cache store (urlcachestore.h).

#include "stores/storeerror.h"

#include <cstdint>

using DWORD = std::uint32_t;
using HANDLE = void *;

// The platform's error numbers the calls below set as their last error.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_WRITE_PROTECT = 19;
constexpr DWORD ERROR_NOT_READY = 21;
constexpr DWORD ERROR_WRITE_FAULT = 29;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
constexpr DWORD ERROR_FILE_CORRUPT = 1392;
constexpr DWORD ERROR_UNRECOGNIZED_VOLUME = 1005;
constexpr DWORD ERROR_ENCRYPTION_FAILED = 6000;

// A store's error as the platform numbers it, and back (an unknown number is Denied).
DWORD WinInetErrorOf(StoreError error);
StoreError StoreErrorOfWinInet(DWORD error);

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

// What the store knows of an entry beyond the header, behind the header of the blocks the
// enumeration fills for entries that have more to say than WinInet's own (browser caches);
// such a block's dwStructSize counts both. Texts point into the block. A block without them
// is an entry of the WinInet kind: its key is its URL, its body its local file.
struct EntryExtras {
    const char *key;             // the store's key (WinInet: the URL)
    const char *partition;       // browsers: the partition part of the key
    const char *container;       // the file holding the body, when the body is a range of it
    const char *contentType;     // media type without parameters
    const char *contentEncoding; // as sent; still to undo in the container
    const char *requestMethod;
    std::uint64_t bodyOffset;
    std::uint64_t created; // FILETIME ticks; 0 unknown
    DWORD status;          // HTTP status; 0 unknown
    DWORD flags;           // StoreEntryFlag
    DWORD bodyPlace;       // BodyPlace
    DWORD storeKind;       // StoreKindNumber
};

// The extras of a block the enumeration filled; null for a bare header, and for a copy of a
// block's header (which keeps the block's dwStructSize but has no extras behind it): in a
// block the URL text starts right behind the extras.
inline const EntryExtras *ExtrasOf(const INTERNET_CACHE_ENTRY_INFOA *block)
{
    if (!block || block->dwStructSize < sizeof(INTERNET_CACHE_ENTRY_INFOA) + sizeof(EntryExtras))
        return nullptr;
    const auto *extras = reinterpret_cast<const EntryExtras *>(block + 1);
    if (block->lpszSourceUrlName != reinterpret_cast<const char *>(extras + 1))
        return nullptr;
    return extras;
}

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

// Removes the entry whose key (for WinInet stores, the URL) equals `key` byte for byte, with
// its local file.
bool DeleteUrlCacheEntry(const char *key);

// The program keeps several stores open at once (urlcachestore.h); each has an id, and this
// is FindFirstUrlCacheEntryA for the store with that id (deleting from it is
// DeleteUrlCacheEntriesInStore). A store that is not open gives no entries, and deletes
// nothing (ERROR_NOT_READY): an entry never reaches another store.
using URLCACHE_STORE_ID = DWORD;
HANDLE FindFirstUrlCacheEntryInStore(URLCACHE_STORE_ID store, INTERNET_CACHE_ENTRY_INFOA *info, DWORD *size);

// The offline browsing state of the current user. A change that cannot be kept for the next
// start is refused: false, with the cause as the last error.
bool SetOffline(bool offline);
bool IsOffline();
