#include "browserlist.h"

#include "tools/writers/splitmix.h"

#include <QMimeDatabase>

namespace {

std::string hostOf(const std::string &url)
{
    const auto start = url.find("://");
    if (start == std::string::npos)
        return {};
    const auto end = url.find('/', start + 3);
    return url.substr(0, end);
}

std::string extensionOf(const StoreWriterEntry &e)
{
    if (!e.extension.empty())
        return e.extension;
    std::string path = e.url.substr(0, e.url.find_first_of("?#"));
    const auto slash = path.rfind('/');
    const auto dot = path.rfind('.');
    return dot != std::string::npos && (slash == std::string::npos || dot > slash) ? path.substr(dot + 1)
                                                                                   : std::string();
}

bool isText(const std::string &type)
{
    return type.rfind("text/", 0) == 0 || type == "application/javascript" || type == "application/json"
        || type == "image/svg+xml";
}

} // namespace

std::vector<BrowserWriterEntry> BrowserEntries(const std::vector<StoreWriterEntry> &entries, std::uint64_t seed)
{
    static const QMimeDatabase mimes;
    static const char *const TextCodings[] = {"gzip", "br", "", "gzip", "br", "zstd"};
    SplitMix rng(seed * 0x9E3779B97F4A7C15ull + 17);
    std::vector<BrowserWriterEntry> out;
    out.reserve(entries.size());
    const std::string site = entries.empty() ? std::string() : hostOf(entries.front().url);
    bool altDataGiven = false;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const StoreWriterEntry &in = entries[i];
        BrowserWriterEntry e;
        e.url = in.url;
        e.body = in.content;
        const std::string ext = extensionOf(in);
        if (ext.empty()) {
            e.contentType = "application/json";
        } else {
            const QMimeType type = mimes.mimeTypeForFile(QStringLiteral("x.") + QString::fromStdString(ext),
                                                         QMimeDatabase::MatchExtension);
            e.contentType = type.isDefault() ? "application/octet-stream" : type.name().toStdString();
            if (e.contentType == "application/x-javascript" || e.contentType == "text/javascript")
                e.contentType = "application/javascript";
        }
        if (isText(e.contentType))
            e.contentEncoding = TextCodings[rng.below(6)];
        // A few entries partitioned under another site, some anonymous, an odd POST.
        if (i % 7 == 3 && !site.empty())
            e.partition = site;
        if (i % 11 == 5)
            e.anonymous = true;
        if (i % 29 == 13)
            e.postId = std::to_string(100 + i);
        if (!altDataGiven && e.contentType == "application/javascript") {
            e.altData = std::string("\xC0\xDE\x00\x01compiled script", 19);
            altDataGiven = true;
        }
        e.fetchCount = 1 + std::uint32_t(rng.below(9));
        e.lastModified = in.lastAccess ? in.lastAccess - 86400 * std::int64_t(1 + rng.below(300)) : 0;
        out.push_back(std::move(e));
    }
    return out;
}
