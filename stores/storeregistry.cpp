#include "storeregistry.h"

#include "paths.h"
#include "savefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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

std::string withoutTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string absolute(const std::string &path)
{
    if (path.empty() || path[0] == '/')
        return path;
    char cwd[4096];
    return ::getcwd(cwd, sizeof cwd) ? std::string(cwd) + "/" + path : path;
}

// The folders a cache may sit in below a profile or a browser's folder, for every kind.
const std::vector<std::string> &belowFolders()
{
    static const std::vector<std::string> folders = [] {
        std::vector<std::string> out;
        for (const StoreKind kind : CacheStoreKinds())
            for (const char *const *below = kind->below; below && *below; ++below)
                if (std::find(out.begin(), out.end(), *below) == out.end())
                    out.emplace_back(*below);
        return out;
    }();
    return folders;
}

StoreProbe probeBelow(const std::string &path);

// What lies around `path` when it is no store itself (`probe` says so): a store in one of the
// folders a cache sits in below it, or the cache of the browser profile it is.
StoreProbe probeAround(const std::string &path, StoreProbe probe)
{
    for (const std::string &below : belowFolders()) {
        if (!IsDirectory(path + "/" + below))
            continue;
        StoreProbe deeper = ProbeFolder(path + "/" + below);
        if (deeper.kind != StoreKind::None)
            return deeper;
    }
    // A browser profile folder whose cache lies elsewhere.
    for (const StoreKind kind : CacheStoreKinds()) {
        if (!kind->cachesOfProfile)
            continue;
        for (const std::string &folder : kind->cachesOfProfile(path))
            if (folder != path && IsDirectory(folder))
                if (StoreProbe elsewhere = probeBelow(folder); elsewhere.kind != StoreKind::None)
                    return elsewhere;
    }
    return probe;
}

// The store below `path` itself, or in one of the folders a store's cache sits in below it.
StoreProbe probeBelow(const std::string &path)
{
    StoreProbe probe = ProbeFolder(path);
    if (probe.kind != StoreKind::None)
        return probe;
    return probeAround(path, std::move(probe));
}

} // namespace

bool FolderHoldsFileNamed(const std::string &folder, bool (*test)(const char *))
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

StoreProbe ProbeFolder(const std::string &folder)
{
    StoreProbe probe;
    probe.folder = folder;
    // Every kind's marker first: a walk of the folder's names is asked only when none is there.
    for (const bool byNames : {false, true}) {
        for (const StoreKind kind : CacheStoreKinds()) {
            const FolderMatch match = kind->probe(folder, byNames);
            if (!match.unsupported.empty()) {
                probe.why = folder + ": " + match.unsupported;
                probe.error = StoreError::Unsupported;
                return probe;
            }
            if (match.strength != FolderMatch::None) {
                probe.kind = kind;
                return probe;
            }
        }
    }
    probe.why = folder + ": no cache store there (looked for";
    for (const StoreKind kind : CacheStoreKinds())
        probe.why += std::string(kind == CacheStoreKinds().front() ? " " : ", ") + kind->id;
    probe.why += ")";
    return probe;
}

StoreProbe ProbeStore(const std::string &given)
{
    std::string path = absolute(withoutTrailingSlashes(given));
    if (path.empty())
        return {StoreKind::None, {}, "no store named", StoreError::NotACache};
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return {StoreKind::None, path, path + ": " + std::strerror(errno), StoreError::NotACache};
    if (!S_ISDIR(st.st_mode)) {
        // A file of the store: index.dat, index, or a Firefox entry file.
        path = ParentOf(path);
        if (BaseName(path) == "entries")
            path = ParentOf(path);
    } else if (BaseName(path) == "entries") {
        // The entries/ folder of the store above it, unless it is a store of another kind.
        const std::string above = ParentOf(path);
        const StoreKind inside = ProbeFolder(path).kind;
        const StoreKind outside = ProbeFolder(above).kind;
        if (outside != StoreKind::None && (inside == StoreKind::None || inside == outside))
            path = above;
    }
    StoreProbe probe = ProbeFolder(path);
    if (probe.kind != StoreKind::None || probe.error == StoreError::Unsupported)
        return probe;
    // A folder above the store: a Firefox profile's cache folder, a Chromium profile or its
    // Cache folder.
    return probeAround(path, std::move(probe));
}

std::shared_ptr<CacheStore> OpenStore(const std::string &path)
{
    const StoreProbe probe = ProbeStore(path);
    if (probe.kind->open)
        return probe.kind->open(probe.folder);
    return std::make_shared<EmptyStore>(std::string(), probe.why.empty() ? path + ": no cache store there" : probe.why,
                                        probe.error);
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

std::string ConfigHome(const StoreSearchRoots &roots)
{
    return roots.xdgConfigHome.empty() ? roots.home + "/.config" : roots.xdgConfigHome;
}

std::string CacheHome(const StoreSearchRoots &roots)
{
    return roots.xdgCacheHome.empty() ? roots.home + "/.cache" : roots.xdgCacheHome;
}

void AddFoundStore(std::vector<FoundStore> &out, std::string name, std::string browser, const std::string &folder)
{
    if (!IsDirectory(folder))
        return;
    const StoreProbe probe = ProbeFolder(folder);
    if (probe.kind == StoreKind::None)
        return;
    for (const FoundStore &known : out)
        if (known.path == probe.folder)
            return;
    out.push_back({std::move(name), std::move(browser), probe.kind, probe.folder});
}

std::vector<FoundStore> FindStores(const StoreSearchRoots &roots)
{
    std::vector<FoundStore> out;
    for (const StoreKind kind : CacheStoreKinds())
        if (kind->find)
            kind->find(roots, out);
    for (const std::string &extra : roots.extraStores) {
        const StoreProbe probe = ProbeStore(extra);
        if (!probe.kind->open)
            continue;
        const std::string browser = BrowserNameFor(probe.kind, probe.folder);
        AddFoundStore(out, browser + " \u2013 " + BaseName(probe.folder), browser, probe.folder);
    }
    return out;
}

StartStore ChooseStartStore(const StartChoice &choice, const StoreSearchRoots &roots)
{
    // A store the user named is opened even when it cannot be read, so that the reason shows.
    if (!choice.commandLine.empty())
        return {choice.commandLine, "named on the command line"};
    if (!choice.environment.empty())
        return {choice.environment, "named by TIDEWRACK_URLCACHE"};
    if (!choice.remembered.empty() && ProbeStore(choice.remembered).kind != StoreKind::None)
        return {choice.remembered, "opened last time"};
    const std::string wine = WineCacheFolder(roots);
    if (!wine.empty() && ProbeFolder(wine).kind != StoreKind::None)
        return {wine, "the Wine prefix's cache"};
    const std::vector<FoundStore> found = FindStores(roots);
    if (!found.empty())
        return {found.front().path, "the first cache found on this machine"};
    return {{}, "no cache store found: no Wine prefix cache, no Firefox or Chromium profile cache"};
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
    std::string text = FileHead(path, 8192);
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
