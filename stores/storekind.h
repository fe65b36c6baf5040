#pragma once
// What the program knows of one kind of cache store: its names, how to tell a folder that
// holds one, how to open it and where such stores lie on this machine. Each kind defines its
// one descriptor in its own file; storekinds.cpp lists them, one row each, and everything
// else goes through that list or through the store itself.

#include "storeerror.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class CacheStore;
struct FoundStore;
struct StoreSearchRoots;

// How a folder holds a store of a kind, as the kind's probe tells it.
struct FolderMatch {
    enum Strength : std::uint8_t {
        None,
        Names,  // files named as the kind names its entry files, nothing surer
        Marker, // the kind's own index file or folder
    };
    Strength strength = None;
    // A store of the kind's family that the program does not read: why, in English. Probing
    // stops there and the folder is offered to no other kind.
    std::string unsupported;
};

// A reader for bodies a kind keeps in a form of its own (encrypted, say) in their container:
// true, with `result` set, when it read the container (open as `fd`); false when the
// container is none of its kind, and the plain bytes are read.
using SealedBodyReader = bool (*)(int fd, std::uint64_t fileSize, const std::string &container, std::uint64_t offset,
                                  std::uint64_t size, const std::function<bool(std::string_view)> &sink,
                                  StoreResult &result);

struct StoreKindInfo {
    const char *id = "";    // as the command line prints it and files keep it: "firefox"
    const char *label = ""; // the kind as 缓存信息 shows it: "Firefox", "Chromium（简单缓存）"
    // How `folder` itself holds a store of this kind. With `byNames` false only the kind's
    // markers are looked at; with true only the names of the files in it (a walk of the
    // folder, asked when no kind found its marker). Null for the program's own kinds.
    FolderMatch (*probe)(const std::string &folder, bool byNames) = nullptr;
    // Opens the store in `folder`, which the probe accepted.
    std::shared_ptr<CacheStore> (*open)(const std::string &folder) = nullptr;
    // Appends the stores of this kind on this machine in menu order (AddFoundStore); null for
    // a kind found together with another one of its family.
    void (*find)(const StoreSearchRoots &roots, std::vector<FoundStore> &out) = nullptr;
    // The browser a store of this kind in `folder` belongs to: "IE", "Firefox", "Chrome", ...
    std::string (*browserName)(const std::string &folder) = nullptr;
    // The folders where the cache of a browser profile folder `profile` (or of a user-data
    // folder) lies when it is not below it; null when the kind's caches always are.
    std::vector<std::string> (*cachesOfProfile)(const std::string &profile) = nullptr;
    // Folder names below a profile or a browser's folder where a store of this kind sits
    // ("cache2", "Cache/Cache_Data"), tried in order; a null ends the list. Null for none.
    const char *const *below = nullptr;
    // Whether an entry's hit count counts its uses (Chromium's simple cache keeps none).
    bool countsUses = true;
    // Whether an entry's last sync time is when the response arrived rather than when the
    // entry was last checked (the server's Date then says when the response was made).
    bool syncIsArrival = false;
    // Reads the bodies the kind keeps sealed; null when its bodies are the bytes as stored.
    SealedBodyReader readSealedBody = nullptr;
};

// The program's own kinds: no store, and a store held in memory.
extern const StoreKindInfo NoStoreKind;
extern const StoreKindInfo MemoryStoreKind;

// A kind of store: a reference to its descriptor, compared by identity.
class StoreKind {
public:
    constexpr StoreKind() noexcept : m_info(&NoStoreKind) {}
    constexpr StoreKind(const StoreKindInfo &info) noexcept : m_info(&info) {}

    static const StoreKind None;
    static const StoreKind Memory;

    const StoreKindInfo &info() const { return *m_info; }
    const StoreKindInfo *operator->() const { return m_info; }
    friend constexpr bool operator==(StoreKind a, StoreKind b) { return a.m_info == b.m_info; }

private:
    const StoreKindInfo *m_info;
};
inline constexpr StoreKind StoreKind::None{NoStoreKind};
inline constexpr StoreKind StoreKind::Memory{MemoryStoreKind};

// The kinds of cache store the program reads, in the order folders are probed for them.
const std::vector<StoreKind> &CacheStoreKinds();

// "wininet", "firefox", "chromium-simple", "chromium-blockfile", "memory", "none".
const char *StoreKindId(StoreKind kind);
// The kind a StoreKindId names; None for anything else.
StoreKind StoreKindFromId(std::string_view id);
// A small number for the kind, kept where a pointer cannot be (an entry block's extras):
// 0 for None; StoreKindAt turns it back, None for a number no kind has.
std::uint32_t StoreKindNumber(StoreKind kind);
StoreKind StoreKindAt(std::uint32_t number);

// The browser name to show for a store of `kind` in `folder` ("Chrome" for a path below
// google-chrome, ...; for WinInet "IE"); empty for the program's own kinds.
std::string BrowserNameFor(StoreKind kind, const std::string &folder);
