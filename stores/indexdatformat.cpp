#include "indexdatformat.h"

#include "calendar.h"

#include <bit>

namespace indexdat {

namespace {

constexpr std::uint8_t HashTable[256] = {
    0x01, 0x0E, 0x6E, 0x19, 0x61, 0xAE, 0x84, 0x77, 0x8A, 0xAA, 0x7D, 0x76, 0x1B, 0xE9, 0x8C, 0x33, 0x57, 0xC5, 0xB1,
    0x6B, 0xEA, 0xA9, 0x38, 0x44, 0x1E, 0x07, 0xAD, 0x49, 0xBC, 0x28, 0x24, 0x41, 0x31, 0xD5, 0x68, 0xBE, 0x39, 0xD3,
    0x94, 0xDF, 0x30, 0x73, 0x0F, 0x02, 0x43, 0xBA, 0xD2, 0x1C, 0x0C, 0xB5, 0x67, 0x46, 0x16, 0x3A, 0x4B, 0x4E, 0xB7,
    0xA7, 0xEE, 0x9D, 0x7C, 0x93, 0xAC, 0x90, 0xB0, 0xA1, 0x8D, 0x56, 0x3C, 0x42, 0x80, 0x53, 0x9C, 0xF1, 0x4F, 0x2E,
    0xA8, 0xC6, 0x29, 0xFE, 0xB2, 0x55, 0xFD, 0xED, 0xFA, 0x9A, 0x85, 0x58, 0x23, 0xCE, 0x5F, 0x74, 0xFC, 0xC0, 0x36,
    0xDD, 0x66, 0xDA, 0xFF, 0xF0, 0x52, 0x6A, 0x9E, 0xC9, 0x3D, 0x03, 0x59, 0x09, 0x2A, 0x9B, 0x9F, 0x5D, 0xA6, 0x50,
    0x32, 0x22, 0xAF, 0xC3, 0x64, 0x63, 0x1A, 0x96, 0x10, 0x91, 0x04, 0x21, 0x08, 0xBD, 0x79, 0x40, 0x4D, 0x48, 0xD0,
    0xF5, 0x82, 0x7A, 0x8F, 0x37, 0x69, 0x86, 0x1D, 0xA4, 0xB9, 0xC2, 0xC1, 0xEF, 0x65, 0xF2, 0x05, 0xAB, 0x7E, 0x0B,
    0x4A, 0x3B, 0x89, 0xE4, 0x6C, 0xBF, 0xE8, 0x8B, 0x06, 0x18, 0x51, 0x14, 0x7F, 0x11, 0x5B, 0x5C, 0xFB, 0x97, 0xE1,
    0xCF, 0x15, 0x62, 0x71, 0x70, 0x54, 0xE2, 0x12, 0xD6, 0xC7, 0xBB, 0x0D, 0x20, 0x5E, 0xDC, 0xE0, 0xD4, 0xF7, 0xCC,
    0xC4, 0x2B, 0xF9, 0xEC, 0x2D, 0xF4, 0x6F, 0xB6, 0x99, 0x88, 0x81, 0x5A, 0xD9, 0xCA, 0x13, 0xA5, 0xE7, 0x47, 0xE6,
    0x8E, 0x60, 0xE3, 0x3E, 0xB3, 0xF6, 0x72, 0xA2, 0x35, 0xA0, 0xD7, 0xCD, 0xB4, 0x2F, 0x6D, 0x2C, 0x26, 0x1F, 0x95,
    0x87, 0x00, 0xD8, 0x34, 0x3F, 0x17, 0x25, 0x45, 0x27, 0x75, 0x92, 0xB8, 0xA3, 0xC8, 0xDE, 0xEB, 0xF8, 0xF3, 0xDB,
    0x0A, 0x98, 0x83, 0x7B, 0xE5, 0xCB, 0x4C, 0x78, 0xD1,
};

constexpr std::int64_t FileTimeUnixEpoch = 116444736000000000LL; // 1970-01-01 as FILETIME
constexpr std::int64_t TicksPerSecond = 10000000;

} // namespace

Version VersionOf(const std::uint8_t *header, std::size_t size)
{
    if (size < SignatureSize)
        return Version::Unknown;
    if (std::memcmp(header, SignatureNative52, SignatureSize) == 0
        || std::memcmp(header, SignatureWine, SignatureSize) == 0)
        return Version::V52;
    if (std::memcmp(header, SignatureNative47, SignatureSize) == 0)
        return Version::V47;
    return Version::Unknown;
}

std::uint32_t NativeUrlHash(std::string_view url)
{
    const auto c0 = url.empty() ? 0u : std::uint8_t(url[0]);
    std::uint8_t k[4] = {HashTable[c0], HashTable[(c0 + 1) & 255], HashTable[(c0 + 2) & 255],
                         HashTable[(c0 + 3) & 255]};
    for (std::size_t i = 1; i < url.size(); ++i) {
        const auto c = std::uint8_t(url[i]);
        if (c == '/' && i + 1 == url.size())
            break;
        for (auto &kj : k)
            kj = HashTable[kj ^ c];
    }
    return qFromLittleEndian<quint32>(k);
}

std::uint32_t CountBits(const std::uint8_t *bitmap, std::uint32_t bits)
{
    std::uint32_t count = 0;
    const std::uint32_t whole = bits / 8;
    for (std::uint32_t i = 0; i < whole; ++i)
        count += std::uint32_t(std::popcount(bitmap[i]));
    if (bits % 8)
        count += std::uint32_t(std::popcount(std::uint8_t(bitmap[whole] & ((1u << (bits % 8)) - 1))));
    return count;
}

std::string CheckConsistency(const std::uint8_t *data, std::size_t size)
{
    if (size < MinFileSize)
        return "the file is shorter than 32 KiB";
    if (size > MaxFileSize)
        return "the file is larger than the format allows";
    if (VersionOf(data, size) == Version::Unknown) {
        constexpr std::string_view winePrefix = "WINE URLCache Ver ";
        if (std::memcmp(data, winePrefix.data(), winePrefix.size()) == 0)
            return "the store was written by an unknown Wine version";
        return "the signature is not one of a WinInet cache store";
    }
    if (qFromLittleEndian<quint32>(data + OffFileSize) != size)
        return "the size field does not match the file size";
    const std::uint32_t capacity = qFromLittleEndian<quint32>(data + OffCapacity);
    if (std::uint64_t(HeaderSize) + std::uint64_t(capacity) * BlockSize != size)
        return "the capacity field does not match the file size";
    if (capacity % 8 != 0 || capacity / 8 > BitmapSize)
        return "the capacity field does not fit the allocation bitmap";
    const std::uint8_t *bitmap = data + OffBitmap;
    if (CountBits(bitmap, capacity) != qFromLittleEndian<quint32>(data + OffAllocated))
        return "the allocated block count does not match the allocation bitmap";
    for (std::size_t i = capacity / 8; i < BitmapSize; ++i)
        if (bitmap[i] != 0)
            return "the allocation bitmap marks blocks beyond the capacity";
    return {};
}

std::uint64_t FileTimeFromUnix(std::int64_t unixSeconds)
{
    const std::int64_t ticks = unixSeconds * TicksPerSecond + FileTimeUnixEpoch;
    return ticks < 0 ? 0 : std::uint64_t(ticks);
}

std::int64_t UnixFromFileTime(std::uint64_t fileTime)
{
    return (std::int64_t(fileTime / TicksPerSecond)) - FileTimeUnixEpoch / TicksPerSecond;
}

std::uint64_t FileTimeFromDos(std::uint16_t date, std::uint16_t time)
{
    if (date == 0 && time == 0)
        return 0;
    const unsigned day = date & 0x1F, month = (date >> 5) & 0x0F, year = 1980 + (date >> 9);
    const unsigned seconds = (time & 0x1F) * 2, minutes = (time >> 5) & 0x3F, hours = time >> 11;
    if (day == 0 || month == 0 || month > 12 || hours > 23 || minutes > 59 || seconds > 59)
        return 0;
    const std::int64_t days = DaysFromCivil(int(year), month, day);
    return FileTimeFromUnix(days * 86400 + hours * 3600 + minutes * 60 + seconds);
}

std::uint32_t DosFromUnix(std::int64_t unixSeconds)
{
    std::int64_t days = unixSeconds / 86400;
    std::int64_t rest = unixSeconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    // DOS dates hold 1980 to 2107; anything further out is no date the calendar need see.
    if (days < DaysFromCivil(1980, 1, 1) || days > DaysFromCivil(2107, 12, 31))
        return 0;
    const CivilDate civil = CivilFromDays(days);
    const std::uint32_t date = std::uint32_t((civil.year - 1980) << 9 | civil.month << 5 | civil.day);
    const std::uint32_t time = std::uint32_t((rest / 3600) << 11 | ((rest / 60) % 60) << 5 | (rest % 60) / 2);
    return date << 16 | time;
}

} // namespace indexdat
