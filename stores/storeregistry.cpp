#include "storeregistry.h"

#include "chromiumstores.h"
#include "firefoxstore.h"
#include "indexdatformat.h"
#include "indexdatstore.h"
#include "savefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool isDirectory(const std::string &path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isRegularFile(const std::string &path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string withoutTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string parentOf(const std::string &path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseName(const std::string &path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string absolute(const std::string &path)
{
    if (path.empty() || path[0] == '/')
        return path;
    char cwd[4096];
    return ::getcwd(cwd, sizeof cwd) ? std::string(cwd) + "/" + path : path;
}

// The first bytes of a file; fewer when it is shorter or cannot be read. Opened without
// blocking, and only when it is a regular file.
std::string head(const std::string &path, std::size_t count)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return {};
    std::string bytes;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        bytes.resize(count);
        const ssize_t n = ::pread(fd, bytes.data(), count, 0);
        bytes.resize(n > 0 ? std::size_t(n) : 0);
    }
    ::close(fd);
    return bytes;
}

std::uint64_t le(const std::string &bytes, std::size_t offset, std::size_t width)
{
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < width && offset + i < bytes.size(); ++i)
        v |= std::uint64_t(static_cast<unsigned char>(bytes[offset + i])) << (8 * i);
    return v;
}

constexpr std::uint64_t SimpleIndexMagic = 0xfcfb6d1ba7725c30ull;
constexpr std::uint32_t BlockfileIndexMagic = 0xC103CAC3u;

bool isHex16(const char *name)
{
    for (int i = 0; i < 16; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(name[i])))
            return false;
    return true;
}

bool isSimpleEntryName(const char *name)
{
    return std::strlen(name) == 18 && name[16] == '_' && name[17] == '0' && isHex16(name);
}

// A Firefox entry file: the SHA-1 of its key in 40 upper-case hex digits.
bool isFirefoxEntryName(const char *name)
{
    if (std::strlen(name) != 40)
        return false;
    for (int i = 0; i < 40; ++i)
        if (!std::isdigit(static_cast<unsigned char>(name[i])) && !(name[i] >= 'A' && name[i] <= 'F'))
            return false;
    return true;
}

// True when the folder holds a file whose name `test` accepts.
bool holdsFileNamed(const std::string &folder, bool (*test)(const char *))
{
    DIR *dir = ::opendir(folder.c_str());
    if (!dir)
        return false;
    bool found = false;
    while (const dirent *d = ::readdir(dir)) {
        if (test(d->d_name)) {
            found = true;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

// The kind of store whose own files lie directly in `folder`.
StoreProbe probeFolder(const std::string &folder)
{
    StoreProbe probe;
    probe.folder = folder;
    if (isRegularFile(folder + "/index.dat")) {
        probe.kind = StoreKind::WinInet;
        return probe;
    }
    if (isDirectory(folder + "/entries")) {
        probe.kind = StoreKind::Firefox;
        return probe;
    }
    if (isRegularFile(folder + "/sqldb0") || isRegularFile(folder + "/sqldb1")) {
        probe.why = folder + ": Chromium's experimental SQL cache backend is not supported";
        return probe;
    }
    const std::string index = head(folder + "/index", 8);
    if (index.size() >= 8 && le(index, 0, 8) == SimpleIndexMagic) {
        probe.kind = StoreKind::ChromiumSimple;
        return probe;
    }
    if (index.size() >= 4 && le(index, 0, 4) == BlockfileIndexMagic) {
        probe.kind = StoreKind::ChromiumBlockfile;
        return probe;
    }
    if (isDirectory(folder + "/index-dir") || holdsFileNamed(folder, isSimpleEntryName)) {
        probe.kind = StoreKind::ChromiumSimple;
        return probe;
    }
    // Entry files straight in the folder: a copied entries/ folder, or a cache2 folder as some
    // tools keep it.
    if (holdsFileNamed(folder, isFirefoxEntryName)) {
        probe.kind = StoreKind::Firefox;
        return probe;
    }
    probe.why = folder + ": no cache store there (no index.dat, no cache2 entries, no Chromium cache files)";
    return probe;
}

// The value of a string pref in a profile's prefs.js; empty when it is not set.
std::string prefsString(const std::string &profile, const std::string &name)
{
    const std::string prefs = head(profile + "/prefs.js", 4 * 1024 * 1024);
    const std::string quoted = "\"" + name + "\"";
    std::string value;
    for (std::size_t at = prefs.find(quoted); at != std::string::npos; at = prefs.find(quoted, at + 1)) {
        std::size_t i = at + quoted.size();
        while (i < prefs.size() && (prefs[i] == ' ' || prefs[i] == ','))
            ++i;
        const std::size_t close = i < prefs.size() && prefs[i] == '"' ? prefs.find('"', i + 1) : std::string::npos;
        if (close != std::string::npos)
            value = prefs.substr(i + 1, close - i - 1);
    }
    return value;
}

// The folder of a Chromium-family user-data folder's last used profile, from Local State.
std::string lastUsedChromiumProfile(const std::string &userData)
{
    QFile localState(QString::fromStdString(userData + "/Local State"));
    if (localState.size() > 16 * 1024 * 1024 || !localState.open(QIODevice::ReadOnly))
        return {};
    const QString last = QJsonDocument::fromJson(localState.readAll())
                             .object()
                             .value(QStringLiteral("profile"))
                             .toObject()
                             .value(QStringLiteral("last_used"))
                             .toString();
    const std::string name = last.isEmpty() ? std::string("Default") : last.toStdString();
    if (name.find('/') != std::string::npos || name == "." || name == "..")
        return {};
    return userData + "/" + name;
}

// Where the cache of a browser profile folder lies when it is not inside it: a Firefox
// profile's where its prefs put it or under the cache home at the same relative path; a
// Chromium profile's under the cache home (~/.config/<browser>/<p> ↔ ~/.cache/<browser>/<p>).
std::vector<std::string> profileCacheFolders(const std::string &profile)
{
    std::vector<std::string> out;
    const StoreSearchRoots roots = StoreSearchRoots::fromEnvironment();
    if (isRegularFile(profile + "/prefs.js") || isRegularFile(profile + "/times.json")) {
        if (const std::string dir = prefsString(profile, "browser.cache.disk.parent_directory");
            !dir.empty() && dir[0] == '/')
            out.push_back(dir + "/cache2");
        const std::string name = baseName(profile);
        const std::string firefox = parentOf(profile);
        const std::string mozilla = parentOf(firefox);
        if (baseName(firefox) == "firefox" && (baseName(mozilla) == ".mozilla" || baseName(mozilla) == "mozilla")) {
            // <root>/.mozilla, <root>/.config/mozilla or a flatpak's <app>/config/mozilla.
            std::string root = parentOf(mozilla);
            if (baseName(mozilla) == "mozilla")
                root = parentOf(root);
            out.push_back(root + "/.cache/mozilla/firefox/" + name + "/cache2");
            out.push_back(root + "/cache/mozilla/firefox/" + name + "/cache2");
            if (!roots.xdgCacheHome.empty())
                out.push_back(roots.xdgCacheHome + "/mozilla/firefox/" + name + "/cache2");
        }
        return out;
    }
    const std::string config = roots.xdgConfigHome.empty() ? roots.home + "/.config" : roots.xdgConfigHome;
    const std::string cache = roots.xdgCacheHome.empty() ? roots.home + "/.cache" : roots.xdgCacheHome;
    if (!roots.home.empty() && profile.size() > config.size()
        && profile.compare(0, config.size() + 1, config + "/") == 0)
        out.push_back(cache + profile.substr(config.size()));
    if (const std::size_t at = profile.rfind("/.config/"); at != std::string::npos)
        out.push_back(profile.substr(0, at) + "/.cache/" + profile.substr(at + 9));
    return out;
}

StoreProbe probeBelow(const std::string &path);

// What lies around `path` when it is no store itself (`probe` says so): a store in one of the
// folders a cache sits in below it, or the cache of the browser profile it is.
StoreProbe probeAround(const std::string &path, StoreProbe probe)
{
    for (const char *below : {"/cache2", "/Cache_Data", "/Cache/Cache_Data", "/Cache", "/Content.IE5"}) {
        if (!isDirectory(path + below))
            continue;
        StoreProbe deeper = probeFolder(path + below);
        if (deeper.kind != StoreKind::None)
            return deeper;
    }
    // A browser profile folder whose cache lies elsewhere; a Chromium user-data folder stands
    // for its last used profile.
    std::vector<std::string> profiles{path};
    if (isRegularFile(path + "/Local State"))
        if (const std::string last = lastUsedChromiumProfile(path); !last.empty() && isDirectory(last))
            profiles.push_back(last);
    for (const std::string &profile : profiles) {
        if (profile != path)
            if (StoreProbe inside = probeBelow(profile); inside.kind != StoreKind::None)
                return inside;
        for (const std::string &folder : profileCacheFolders(profile))
            if (isDirectory(folder))
                if (StoreProbe elsewhere = probeBelow(folder); elsewhere.kind != StoreKind::None)
                    return elsewhere;
    }
    return probe;
}

// The store below `path` itself, or in one of the folders a store's cache sits in below it.
StoreProbe probeBelow(const std::string &path)
{
    StoreProbe probe = probeFolder(path);
    if (probe.kind != StoreKind::None)
        return probe;
    return probeAround(path, std::move(probe));
}

} // namespace

StoreProbe ProbeStore(const std::string &given)
{
    std::string path = absolute(withoutTrailingSlashes(given));
    if (path.empty())
        return {StoreKind::None, {}, "no store named"};
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return {StoreKind::None, path, path + ": " + std::strerror(errno)};
    if (!S_ISDIR(st.st_mode)) {
        // A file of the store: index.dat, index, or a Firefox entry file.
        path = parentOf(path);
        if (baseName(path) == "entries")
            path = parentOf(path);
    } else if (baseName(path) == "entries" && isDirectory(path) && !isRegularFile(path + "/index.dat")) {
        const std::string above = parentOf(path);
        if (probeFolder(above).kind == StoreKind::Firefox)
            path = above;
    }
    StoreProbe probe = probeFolder(path);
    if (probe.kind != StoreKind::None || (!probe.why.empty() && probe.why.find("SQL") != std::string::npos))
        return probe;
    // A folder above the store: a Firefox profile's cache folder, a Chromium profile or its
    // Cache folder.
    return probeAround(path, std::move(probe));
}

std::shared_ptr<CacheStore> OpenStore(const std::string &path)
{
    const StoreProbe probe = ProbeStore(path);
    switch (probe.kind) {
    case StoreKind::WinInet:
        return std::make_shared<IndexDatStore>(probe.folder + "/index.dat");
    case StoreKind::Firefox:
        return OpenFirefoxStore(probe.folder);
    case StoreKind::ChromiumSimple:
        return OpenChromiumSimpleStore(probe.folder);
    case StoreKind::ChromiumBlockfile:
        return OpenChromiumBlockfileStore(probe.folder);
    case StoreKind::None:
    case StoreKind::Memory:
        break;
    }
    const bool unsupported = probe.why.find("SQL") != std::string::npos;
    return std::make_shared<EmptyStore>(std::string(), probe.why.empty() ? path + ": no cache store there" : probe.why,
                                        unsupported ? StoreError::Unsupported : StoreError::NotACache);
}

StoreSearchRoots StoreSearchRoots::fromEnvironment()
{
    StoreSearchRoots roots;
    if (const char *home = std::getenv("HOME"); home && *home)
        roots.home = home;
    else if (const passwd *pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
        roots.home = pw->pw_dir;
    if (const char *config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/')
        roots.xdgConfigHome = config;
    if (const char *cache = std::getenv("XDG_CACHE_HOME"); cache && *cache == '/')
        roots.xdgCacheHome = cache;
    if (const char *wine = std::getenv("WINEPREFIX"); wine && *wine)
        roots.winePrefix = wine;
    if (const passwd *pw = ::getpwuid(::getuid()); pw && pw->pw_name && *pw->pw_name)
        roots.userName = pw->pw_name;
    else if (const char *user = std::getenv("USER"))
        roots.userName = user;
    if (const char *extra = std::getenv("TIDEWRACK_STORES")) {
        std::string_view rest(extra);
        while (!rest.empty()) {
            const auto colon = rest.find(':');
            if (colon != 0)
                roots.extraStores.emplace_back(rest.substr(0, colon));
            rest.remove_prefix(colon == std::string_view::npos ? rest.size() : colon + 1);
        }
    }
    return roots;
}

std::string WineCacheFolder(const StoreSearchRoots &roots)
{
    const std::string prefix = !roots.winePrefix.empty() ? roots.winePrefix
        : roots.home.empty()                             ? std::string()
                                                         : roots.home + "/.wine";
    if (prefix.empty())
        return {};
    return prefix + "/drive_c/users/" + roots.userName + "/AppData/Local/Microsoft/Windows/INetCache/Content.IE5";
}

namespace {

std::string configHome(const StoreSearchRoots &roots)
{
    return roots.xdgConfigHome.empty() ? roots.home + "/.config" : roots.xdgConfigHome;
}

std::string cacheHome(const StoreSearchRoots &roots)
{
    return roots.xdgCacheHome.empty() ? roots.home + "/.cache" : roots.xdgCacheHome;
}

void addIfStore(std::vector<FoundStore> &out, std::string name, std::string browser, const std::string &folder)
{
    if (!isDirectory(folder))
        return;
    const StoreProbe probe = probeFolder(folder);
    if (probe.kind == StoreKind::None)
        return;
    for (const FoundStore &known : out)
        if (known.path == probe.folder)
            return;
    out.push_back({std::move(name), std::move(browser), probe.kind, probe.folder});
}

// Firefox: profiles.ini beside the profiles; the cache of a relative profile lies under the
// cache root at the same relative path, that of an absolute one in the profile itself.
void findFirefox(std::vector<FoundStore> &out, const std::string &profilesRoot, const std::string &cacheRoot,
                 const std::string &suffix)
{
    const QString ini = QString::fromStdString(profilesRoot + "/profiles.ini");
    if (!QFile::exists(ini))
        return;
    QSettings settings(ini, QSettings::IniFormat);
    QStringList groups = settings.childGroups();
    groups.sort();
    for (const QString &group : groups) {
        if (!group.startsWith(QLatin1String("Profile")))
            continue;
        settings.beginGroup(group);
        const std::string path = settings.value(QStringLiteral("Path")).toString().toStdString();
        const bool relative = settings.value(QStringLiteral("IsRelative"), 1).toInt() != 0;
        std::string name = settings.value(QStringLiteral("Name")).toString().toStdString();
        settings.endGroup();
        if (path.empty() || (relative && (path.find("..") != std::string::npos || path[0] == '/')))
            continue;
        if (name.empty())
            name = baseName(path);
        const std::string label = "Firefox" + suffix + " \u2013 " + name;
        if (relative) {
            addIfStore(out, label, "Firefox", cacheRoot + "/" + path + "/cache2");
            addIfStore(out, label, "Firefox", profilesRoot + "/" + path + "/cache2");
        } else {
            addIfStore(out, label, "Firefox", path + "/cache2");
        }
    }
}

// The profile folders of a Chromium-family browser: those Local State names, then Default and
// "Profile N" folders that exist.
std::vector<std::string> chromiumProfiles(const std::string &configRoot)
{
    std::vector<std::string> profiles;
    QFile localState(QString::fromStdString(configRoot + "/Local State"));
    if (localState.size() < 16 * 1024 * 1024 && localState.open(QIODevice::ReadOnly)) {
        const QJsonObject cache = QJsonDocument::fromJson(localState.readAll())
                                      .object()
                                      .value(QStringLiteral("profile"))
                                      .toObject()
                                      .value(QStringLiteral("info_cache"))
                                      .toObject();
        for (const QString &key : cache.keys())
            if (!key.contains(QLatin1Char('/')) && key != QLatin1String("..") && key != QLatin1String("."))
                profiles.push_back(key.toStdString());
    }
    const QDir dir(QString::fromStdString(configRoot));
    for (const QString &entry : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
        if (entry == QLatin1String("Default") || entry.startsWith(QLatin1String("Profile ")))
            profiles.push_back(entry.toStdString());
    std::sort(profiles.begin(), profiles.end(), [](const std::string &a, const std::string &b) {
        // Default first, then by name.
        if ((a == "Default") != (b == "Default"))
            return a == "Default";
        return a < b;
    });
    profiles.erase(std::unique(profiles.begin(), profiles.end()), profiles.end());
    return profiles;
}

struct ChromiumBrowser {
    const char *name;
    const char *folder; // below the XDG config and cache folders
};
constexpr ChromiumBrowser ChromiumBrowsers[] = {
    {"Chrome", "google-chrome"},
    {"Chrome Beta", "google-chrome-beta"},
    {"Chrome Dev", "google-chrome-unstable"},
    {"Chromium", "chromium"},
    {"Edge", "microsoft-edge"},
    {"Edge Beta", "microsoft-edge-beta"},
    {"Edge Dev", "microsoft-edge-dev"},
    {"Brave", "BraveSoftware/Brave-Browser"},
    {"Vivaldi", "vivaldi"},
    {"Opera", "opera"},
};

void findChromium(std::vector<FoundStore> &out, const std::string &name, const std::string &configRoot,
                  const std::string &cacheRoot)
{
    const bool installed = isDirectory(configRoot) || isDirectory(cacheRoot);
    if (!installed)
        return;
    std::vector<std::string> profiles = chromiumProfiles(configRoot);
    if (profiles.empty() && isDirectory(cacheRoot + "/Default"))
        profiles.push_back("Default");
    for (const std::string &profile : profiles) {
        const std::string label = name + " \u2013 " + profile;
        for (const std::string &root : {cacheRoot, configRoot}) {
            addIfStore(out, label, name, root + "/" + profile + "/Cache/Cache_Data");
            addIfStore(out, label, name, root + "/" + profile + "/Cache");
        }
    }
    // Opera keeps one profile in the browser's folder itself.
    addIfStore(out, name, name, cacheRoot + "/Cache/Cache_Data");
    addIfStore(out, name, name, cacheRoot + "/Cache");
}

} // namespace

std::vector<FoundStore> FindStores(const StoreSearchRoots &roots)
{
    std::vector<FoundStore> out;
    const std::string wine = WineCacheFolder(roots);
    if (!wine.empty())
        addIfStore(out, "Wine \u2013 IE", "IE", wine);

    const std::string config = configHome(roots);
    const std::string cache = cacheHome(roots);
    if (!roots.home.empty()) {
        findFirefox(out, roots.home + "/.mozilla/firefox", cache + "/mozilla/firefox", "");
        findFirefox(out, config + "/mozilla/firefox", cache + "/mozilla/firefox", "");
        findFirefox(out, roots.home + "/snap/firefox/common/.mozilla/firefox",
                    roots.home + "/snap/firefox/common/.cache/mozilla/firefox", " (snap)");
        findFirefox(out, roots.home + "/.var/app/org.mozilla.firefox/.mozilla/firefox",
                    roots.home + "/.var/app/org.mozilla.firefox/cache/mozilla/firefox", " (flatpak)");

        for (const ChromiumBrowser &browser : ChromiumBrowsers)
            findChromium(out, browser.name, config + "/" + browser.folder, cache + "/" + browser.folder);
        findChromium(out, "Chromium (snap)", roots.home + "/snap/chromium/common/chromium",
                     roots.home + "/snap/chromium/common/.cache/chromium");
    }
    for (const std::string &extra : roots.extraStores) {
        const StoreProbe probe = ProbeStore(extra);
        if (probe.kind == StoreKind::None || probe.kind == StoreKind::Memory)
            continue;
        const std::string browser = BrowserNameFor(probe.kind, probe.folder);
        addIfStore(out, browser + " \u2013 " + baseName(probe.folder), browser, probe.folder);
    }
    return out;
}

std::string BrowserNameFor(StoreKind kind, const std::string &folder)
{
    switch (kind) {
    case StoreKind::WinInet:
        return "IE";
    case StoreKind::Firefox:
        return "Firefox";
    case StoreKind::ChromiumSimple:
    case StoreKind::ChromiumBlockfile: {
        // The longest folder name wins: "google-chrome-beta" before "google-chrome".
        const ChromiumBrowser *best = nullptr;
        for (const ChromiumBrowser &browser : ChromiumBrowsers) {
            const std::string part = std::string("/") + browser.folder + "/";
            if (folder.find(part) != std::string::npos
                && (!best || std::strlen(browser.folder) > std::strlen(best->folder)))
                best = &browser;
        }
        return best ? best->name : "Chromium";
    }
    case StoreKind::Memory:
    case StoreKind::None:
        break;
    }
    return {};
}

std::string ChooseStartStore(const StartChoice &choice, const StoreSearchRoots &roots, std::string *why)
{
    auto chosen = [why](const std::string &path, const std::string &because) {
        if (why)
            *why = because;
        return path;
    };
    // A store the user named is opened even when it cannot be read, so that the reason shows.
    if (!choice.commandLine.empty())
        return chosen(choice.commandLine, "named on the command line");
    if (!choice.environment.empty())
        return chosen(choice.environment, "named by TIDEWRACK_URLCACHE");
    if (!choice.remembered.empty() && ProbeStore(choice.remembered).kind != StoreKind::None)
        return chosen(choice.remembered, "opened last time");
    const std::string wine = WineCacheFolder(roots);
    if (!wine.empty() && probeFolder(wine).kind != StoreKind::None)
        return chosen(wine, "the Wine prefix's cache");
    const std::vector<FoundStore> found = FindStores(roots);
    if (!found.empty())
        return chosen(found.front().path, "the first cache found on this machine");
    return chosen({}, "no cache store found: no Wine prefix cache, no Firefox or Chromium profile cache");
}

namespace {

QString rememberedStoreFile()
{
    QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (config.isEmpty())
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/tidewrack/last-store");
}

} // namespace

std::string RememberedStore()
{
    const std::string path = QFile::encodeName(rememberedStoreFile()).toStdString();
    std::string text = head(path, 8192);
    const auto end = text.find_first_of("\r\n");
    if (end != std::string::npos)
        text.resize(end);
    return text;
}

StoreResult RememberStore(const std::string &path)
{
    const QString file = rememberedStoreFile();
    if (!QDir().mkpath(QFileInfo(file).path()))
        return StoreResult::failure(
            StoreError::Denied, QFile::encodeName(QFileInfo(file).path()).toStdString() + ": cannot make the folder");
    return SaveWholeFile(file, QByteArray::fromStdString(path + "\n"));
}

std::string CacheRootCaption(StoreKind kind, const std::string &folder)
{
    const std::string browser = BrowserNameFor(kind, folder);
    return (browser.empty() ? std::string("IE") : browser) + "缓存";
}
