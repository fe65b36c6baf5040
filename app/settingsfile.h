#pragma once
// The settings file "tidewrack.inf": one raw 52-byte little-endian record, no header.

#include "stores/storeerror.h"

#include <QRect>
#include <QString>

#include <cstdint>
#include <vector>

// The platform's window placement record, eleven 32-bit fields.
struct WINDOWPLACEMENT {
    std::uint32_t length;
    std::uint32_t flags;
    std::uint32_t showCmd;
    std::int32_t ptMinPositionX, ptMinPositionY;
    std::int32_t ptMaxPositionX, ptMaxPositionY;
    std::int32_t rcNormalLeft, rcNormalTop, rcNormalRight, rcNormalBottom;
};

constexpr std::uint32_t SW_SHOWNORMAL = 1;
constexpr std::uint32_t SW_SHOWMINIMIZED = 2;
constexpr std::uint32_t SW_SHOWMAXIMIZED = 3;

struct Tsettingdata {
    std::uint8_t viewdoc;
    std::uint8_t viewstyle;
    std::uint8_t reserved[2];
    std::int32_t listheight;
    WINDOWPLACEMENT placement;
};
static_assert(sizeof(Tsettingdata) == 52, "the settings file is exactly one 52-byte record");

inline constexpr char settings_name[] = "tidewrack.inf";

enum class SettingsRead {
    Missing, // no file, or anything but a regular file: silent defaults
    Damaged, // present but not one whole record
    Ok,
};

// Reads the first 52 bytes of `path` into `settings`; bytes beyond them are ignored. On a
// damaged file `settings` keeps what it held: a partly read record is never applied.
SettingsRead ReadSettingsFile(const QString &path, Tsettingdata &settings);

// Writes exactly 52 bytes through a new file that replaces the old one only once all of them
// are on the disk: a full disk or an interrupted write leaves the old file as it was.
StoreResult WriteSettingsFile(const QString &path, const Tsettingdata &settings);

// Replaces what the program never writes (a damaged file's leftovers) by safe values:
// viewdoc other than 0/1, viewstyle above 3, a list height outside 1..maxListHeight, and a
// placement whose normal rectangle meets none of `screens` (it is dropped: length 0).
void SanitizeSettings(Tsettingdata &settings, const std::vector<QRect> &screens, int maxListHeight = 4000);

// The default outer window rectangle: four fifths of the screen, centred (integer arithmetic).
QRect DefaultPlacementRect(int screenWidth, int screenHeight);

// Where the settings file lives: beside the executable when that folder can be written,
// else in $XDG_CONFIG_HOME/tidewrack/.
QString SettingsFilePath(const QString &appDir);
