#include "images.h"
#include "storelist.h"
#include "tools/writers/splitmix.h"

#include <set>

namespace {

const char *const Words[] = {
    "harbor",    "lantern",    "river",    "garden",   "market",   "weather",  "travel",   "mountain",   "island",
    "library",   "museum",     "concert",  "recipe",   "noodle",   "dumpling", "tea",      "bicycle",    "railway",
    "station",   "bridge",     "harvest",  "autumn",   "winter",   "spring",   "summer",   "forest",     "ocean",
    "village",   "school",     "teacher",  "student",  "history",  "science",  "physics",  "planet",     "comet",
    "telescope", "camera",     "picture",  "gallery",  "painting", "poetry",   "novel",    "chapter",    "journal",
    "editor",    "letter",     "archive",  "calendar", "festival", "dragon",   "phoenix",  "silk",       "porcelain",
    "bamboo",    "panda",      "temple",   "palace",   "emperor",  "dynasty",  "scholar",  "compass",    "paper",
    "printing",  "engine",     "factory",  "software", "network",  "browser",  "server",   "database",   "keyboard",
    "monitor",   "window",     "folder",   "document", "download", "update",   "security", "password",   "account",
    "profile",   "message",    "forum",    "weblog",   "article",  "review",   "football", "basketball", "tennis",
    "swimming",  "marathon",   "olympic",  "medal",    "champion", "stadium",  "ticket",   "airport",    "flight",
    "hotel",     "restaurant", "menu",     "coffee",   "bakery",   "orange",   "apple",    "melon",      "pepper",
    "ginger",    "garlic",     "rice",     "wheat",    "farmer",   "tractor",  "weekend",  "holiday",    "birthday",
    "wedding",   "family",     "friend",   "neighbor", "doctor",   "hospital", "medicine", "pharmacy",   "insurance",
    "bank",      "finance",    "stock",    "currency", "invoice",  "contract", "lawyer",   "court",      "election",
    "council",   "mayor",      "province", "capital",  "harmony",  "quartz",   "zephyr"};
constexpr std::size_t WordCount = sizeof Words / sizeof Words[0];

const char *const HostPrefixes[] = {"www", "img", "cdn", "news", "static", "blog", "shop", "mail"};
const char *const Tlds[] = {".com", ".net", ".org", ".cn", ".com.cn", ".de", ".io"};

struct Kind {
    const char *extension; // empty: none
    unsigned weight;
};
const Kind Kinds[] = {{"htm", 14}, {"html", 14}, {"css", 8},  {"js", 12},  {"txt", 8}, {"class", 2},
                      {"jpg", 10}, {"jpeg", 3},  {"gif", 10}, {"png", 11}, {"", 8}};

const char *word(SplitMix &rng)
{
    return Words[rng.below(WordCount)];
}

std::string base36(std::size_t n)
{
    std::string out;
    do {
        out.insert(out.begin(), "0123456789abcdefghijklmnopqrstuvwxyz"[n % 36]);
        n /= 36;
    } while (n);
    return out;
}

std::string words(SplitMix &rng, std::size_t bytes)
{
    std::string text;
    std::size_t sentence = 0;
    while (text.size() < bytes) {
        std::string w = word(rng);
        if (sentence == 0)
            w[0] = char(w[0] - 'a' + 'A');
        text += w;
        if (++sentence >= 6 + rng.below(8)) {
            text += ". ";
            sentence = 0;
        } else {
            text += ' ';
        }
    }
    text.resize(bytes);
    return text;
}

} // namespace

std::vector<StoreWriterEntry> SyntheticEntries(std::size_t count, std::size_t hosts, std::uint64_t seed)
{
    SplitMix rng(seed);
    std::vector<std::string> hostNames;
    std::set<std::string> seen;
    while (hostNames.size() < std::max<std::size_t>(1, hosts)) {
        std::string host = std::string(HostPrefixes[rng.below(8)]) + "." + word(rng);
        if (rng.below(3) == 0)
            host += std::string("-") + word(rng);
        host += Tlds[rng.below(7)];
        if (!seen.insert(host).second)
            host = std::string("h") + base36(hostNames.size()) + "." + host;
        seen.insert(host);
        hostNames.push_back(host);
    }
    unsigned totalWeight = 0;
    for (const Kind &k : Kinds)
        totalWeight += k.weight;

    std::vector<StoreWriterEntry> entries(count);
    for (std::size_t i = 0; i < count; ++i) {
        unsigned pick = unsigned(rng.below(totalWeight));
        const Kind *kind = Kinds;
        while (pick >= kind->weight)
            pick -= (kind++)->weight;
        StoreWriterEntry &e = entries[i];
        const std::string &host = hostNames[rng.below(hostNames.size())];
        const std::string ext = kind->extension;
        e.url = (rng.below(4) == 0 ? "https://" : "http://") + host + "/";
        if (ext.empty()) {
            e.url += std::string("api/") + word(rng) + "?id=" + base36(i);
        } else {
            e.url += std::string(word(rng)) + "/" + word(rng) + "-" + base36(i) + "." + ext;
        }
        e.extension = ext;
    }
    return entries;
}

std::string SyntheticContent(const StoreWriterEntry &entry, std::size_t index, std::uint64_t seed,
                             std::size_t textBytes)
{
    SplitMix rng(seed * 0x100000001B3ull + index);
    const std::string &ext = entry.extension;
    if (ext == "jpg" || ext == "jpeg")
        return TinyJpeg();
    if (ext == "png")
        return TinyPng();
    if (ext == "gif")
        return TinyGif(unsigned(index));
    if (ext == "class") {
        std::string bytes("\xCA\xFE\xBA\xBE\x00\x00\x00\x34", 8);
        bytes += words(rng, 120);
        return bytes;
    }
    const std::size_t body = textBytes > 120 ? textBytes - 120 : textBytes;
    if (ext == "htm" || ext == "html") {
        const std::string title = std::string(word(rng)) + " " + word(rng);
        return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + title + "</title></head>\n<body><h1>"
            + title + "</h1>\n<p>" + words(rng, body) + "</p>\n</body></html>\n";
    }
    if (ext == "css")
        return "/* " + words(rng, body) + " */\nbody { margin: 0; font-family: sans-serif; }\nh1 { color: #285aa0; }\n";
    if (ext == "js")
        return "// " + words(rng, body) + "\nfunction " + word(rng) + "() { return \"" + word(rng) + "\"; }\n";
    if (ext == "txt")
        return words(rng, textBytes);
    return "{\"id\": " + std::to_string(index) + ", \"text\": \"" + words(rng, body) + "\"}\n";
}
