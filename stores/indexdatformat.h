#pragma once
// Layout constants and small helpers shared by the index.dat reader, the deleter and the
// store writer: where the header fields sit, the native URL hash, the consistency rules a
// store must meet before anybody may write to it, and the DOS/FILETIME time forms. Numbers
// are little-endian: read and written with qFromLittleEndian / qToLittleEndian.

#include <QtEndian>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace indexdat {

constexpr std::uint32_t HeaderSize = 0x4000;
constexpr std::uint32_t BlockSize = 0x80;
constexpr std::uint32_t MinFileSize = 0x8000;
constexpr std::uint32_t MaxFileSize = 0xF70000;
constexpr std::uint32_t MaxBlocks = (MaxFileSize - HeaderSize) / BlockSize; // 0x1ED80
constexpr std::uint32_t GrowBlocks = 0x80;                                  // native growth step, 0x4000 bytes

// Header fields.
constexpr std::size_t SignatureSize = 28;
constexpr std::size_t OffFileSize = 0x01C;
constexpr std::size_t OffHashTable = 0x020;
constexpr std::size_t OffCapacity = 0x024;
constexpr std::size_t OffAllocated = 0x028;
constexpr std::size_t OffCacheLimit = 0x030;
constexpr std::size_t OffUsage = 0x038;
constexpr std::size_t OffExemptUsage = 0x040;
constexpr std::size_t OffFolderCount = 0x048;
constexpr std::size_t OffFolders = 0x04C;
constexpr std::size_t FolderEntrySize = 12;
constexpr std::uint32_t MaxFolders = 32;
constexpr std::size_t OffHeaderData = 0x1CC;
constexpr std::size_t OffBitmap = 0x250;
constexpr std::size_t BitmapSize = 0x3DB0;

// Hash pages.
constexpr std::uint32_t HashPageBlocks = 0x20;
constexpr std::uint32_t HashPageSize = HashPageBlocks * BlockSize;
constexpr std::size_t OffHashItems = 0x10;
constexpr std::uint32_t HashItemsPerPage = 448;
constexpr std::uint32_t HashBucketItems = 7;
constexpr std::uint32_t KeyFree = 1;
constexpr std::uint32_t KeyUnused = 3;
constexpr std::uint32_t KeyLocked = 0x02;
constexpr std::uint32_t KeyInGroup = 0x08;
constexpr std::uint32_t KeyGroupList = 0x10;

// Record signatures as little-endian dwords.
constexpr std::uint32_t SigHash = 0x48534148; // "HASH"
constexpr std::uint32_t SigUrl = 0x204C5255;  // "URL "
constexpr std::uint32_t FillNew = 0xDEADBEEF;
constexpr std::uint32_t FillFreed = 0x0BADF00D;

constexpr std::uint8_t FolderNone = 0xFE; // file lies beside index.dat
constexpr std::uint32_t UrlFixedSize = 0x68;
constexpr std::uint32_t StickyEntry = 0x04;

constexpr char SignatureNative52[SignatureSize] = "Client UrlCache MMF Ver 5.2";
constexpr char SignatureNative47[SignatureSize] = "Client UrlCache MMF Ver 4.7";
constexpr char SignatureWine[SignatureSize] = "WINE URLCache Ver 0.2012001";

enum class Version { Unknown, V47, V52 };

// The layout a signature stands for; Unknown for every signature we do not read.
Version VersionOf(const std::uint8_t *header, std::size_t size);

// The native WinInet hash of a URL's stored bytes (the trailing '/' is skipped).
std::uint32_t NativeUrlHash(std::string_view url);

// Checks the rules WinInet applies before it uses a store (size fields, signature family,
// capacity, bitmap count). Empty when they hold; otherwise the first broken rule. A store
// failing them must never be written to: Wine would wipe the whole cache on next use.
std::string CheckConsistency(const std::uint8_t *data, std::size_t size);

// Number of set bits among the first `bits` bits of the bitmap at `bitmap`.
std::uint32_t CountBits(const std::uint8_t *bitmap, std::uint32_t bits);

// Time forms of the records. FILETIME counts 100 ns since 1601-01-01 UTC.
std::uint64_t FileTimeFromUnix(std::int64_t unixSeconds);
std::int64_t UnixFromFileTime(std::uint64_t fileTime);
// A DOS date and time (UTC) as FILETIME; 0 for 0/0 and for impossible fields.
std::uint64_t FileTimeFromDos(std::uint16_t date, std::uint16_t time);
// Date in the high half, time in the low half; 0 before 1980.
std::uint32_t DosFromUnix(std::int64_t unixSeconds);

} // namespace indexdat
