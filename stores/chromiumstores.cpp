#include "chromiumstores.h"

#include "chromiumblockfile.h"
#include "chromiumsimple.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstring>

std::shared_ptr<CacheStore> OpenChromiumSimpleStore(const std::string &folder)
{
    return std::make_shared<ChromiumSimpleStore>(folder);
}

std::shared_ptr<CacheStore> OpenChromiumBlockfileStore(const std::string &folder)
{
    return std::make_shared<ChromiumBlockfileStore>(folder);
}

namespace {

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

// The folder of a user-data folder's last used profile, from Local State.
std::string lastUsedProfile(const std::string &userData)
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

// The profile folders of a browser: those Local State names, then Default and "Profile N"
// folders that exist.
std::vector<std::string> browserProfiles(const std::string &configRoot)
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

void findBrowser(std::vector<FoundStore> &out, const std::string &name, const std::string &configRoot,
                 const std::string &cacheRoot)
{
    const bool installed = IsDirectory(configRoot) || IsDirectory(cacheRoot);
    if (!installed)
        return;
    std::vector<std::string> profiles = browserProfiles(configRoot);
    if (profiles.empty() && IsDirectory(cacheRoot + "/Default"))
        profiles.push_back("Default");
    for (const std::string &profile : profiles) {
        const std::string label = name + " \u2013 " + profile;
        for (const std::string &root : {cacheRoot, configRoot}) {
            AddFoundStore(out, label, name, root + "/" + profile + "/Cache/Cache_Data");
            AddFoundStore(out, label, name, root + "/" + profile + "/Cache");
        }
    }
    // Opera keeps one profile in the browser's folder itself.
    AddFoundStore(out, name, name, cacheRoot + "/Cache/Cache_Data");
    AddFoundStore(out, name, name, cacheRoot + "/Cache");
}

// Where a profile's cache mirrors it under the cache home.
void addMirrors(std::vector<std::string> &out, const std::string &profile, const StoreSearchRoots &roots)
{
    const std::string config = ConfigHome(roots);
    if (!roots.home.empty() && profile.size() > config.size()
        && profile.compare(0, config.size() + 1, config + "/") == 0)
        out.push_back(CacheHome(roots) + profile.substr(config.size()));
    if (const std::size_t at = profile.rfind("/.config/"); at != std::string::npos)
        out.push_back(profile.substr(0, at) + "/.cache/" + profile.substr(at + 9));
}

} // namespace

std::string ChromiumBrowserName(const std::string &folder)
{
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

void FindChromiumStores(const StoreSearchRoots &roots, std::vector<FoundStore> &out)
{
    if (roots.home.empty())
        return;
    const std::string config = ConfigHome(roots);
    const std::string cache = CacheHome(roots);
    for (const ChromiumBrowser &browser : ChromiumBrowsers)
        findBrowser(out, browser.name, config + "/" + browser.folder, cache + "/" + browser.folder);
    findBrowser(out, "Chromium (snap)", roots.home + "/snap/chromium/common/chromium",
                roots.home + "/snap/chromium/common/.cache/chromium");
}

std::vector<std::string> ChromiumCachesOfProfile(const std::string &profile)
{
    const StoreSearchRoots roots = StoreSearchRoots::fromEnvironment();
    std::vector<std::string> out;
    addMirrors(out, profile, roots);
    // A user-data folder stands for its last used profile.
    if (IsRegularFile(profile + "/Local State"))
        if (const std::string last = lastUsedProfile(profile); !last.empty() && IsDirectory(last)) {
            out.push_back(last);
            addMirrors(out, last, roots);
        }
    return out;
}
