// tidewrack-mkstore: writes a cache store (WinInet, Firefox cache2 or Chromium simple cache)
// from a list of entries or made up in bulk, for tests, demos and benchmarks.

#include "browserlist.h"
#include "storelist.h"

#include "tools/writers/chromiumwriter.h"
#include "tools/writers/firefoxwriter.h"
#include "tools/writers/indexdatwriter.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char Usage[] = "usage: tidewrack-mkstore [--kind K] --out DIR --from LIST.tsv [--seed S] [--format-version V]\n"
                     "       tidewrack-mkstore [--kind K] --out DIR --entries N --hosts H [--seed S] [--text-bytes B]\n"
                     "                         [--format-version V]\n"
                     "\n"
                     "Writes a new cache store into DIR, of the kind K:\n"
                     "  wininet   (the default) a WinInet store, signature \"Client UrlCache MMF Ver 5.2\":\n"
                     "            DIR/index.dat and four content folders. DIR must not hold an index.dat yet.\n"
                     "  firefox   a Firefox cache2 folder: DIR/entries/ with metadata version 4 (Firefox 153),\n"
                     "            or the version --format-version names (1 to 4).\n"
                     "  chromium  a Chromium simple cache: DIR/index, DIR/index-dir/ and DIR/<hash>_0 files.\n"
                     "Browser caches get types from the extensions and a mix of gzip, br, zstd and plain\n"
                     "bodies, partitioned, anonymous and POST keys, and one entry with compiled script.\n"
                     "\n"
                     "--from LIST.tsv   one entry a line, fields separated by a TAB:\n"
                     "                    URL <TAB> extension or - [<TAB> content [<TAB> gbk]]\n"
                     "                  '-' takes the extension of the URL's last segment (none if it has none).\n"
                     "                  Content escapes: \\n newline, \\t tab, \\r, \\\\ backslash, \\xHH any byte.\n"
                     "                  Content @gif, @jpeg or @png: a small picture of that kind.\n"
                     "                  A fourth field 'gbk' stores the content in GBK instead of UTF-8.\n"
                     "                  Lines starting with '#' and empty lines are skipped.\n"
                     "                  URLs and file names with Chinese characters are stored in GBK.\n"
                     "--entries N       N made-up entries (pages, style sheets, scripts, texts, applets,\n"
                     "--hosts H         pictures, no-extension API answers) over H hosts.\n"
                     "--seed S          makes the store reproducible (default 1).\n"
                     "--text-bytes B    size of each made-up text file (default 1500).\n"
                     "\n"
                     "A store can hold at most 0xF70000 bytes of index; beyond that nothing is written.\n";

bool parseNumber(const char *text, unsigned long long &out)
{
    char *end = nullptr;
    out = std::strtoull(text, &end, 10);
    return end && *end == '\0' && *text != '\0' && *text != '-';
}

int fail(const std::string &message)
{
    std::fprintf(stderr, "tidewrack-mkstore: %s\n", message.c_str());
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    std::string out, from, kind = "wininet";
    unsigned long long entries = 0, hosts = 0, seed = 1, textBytes = 1500, formatVersion = 4;
    bool haveEntries = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(Usage, stdout);
            return 0;
        }
        if (i + 1 >= argc)
            return fail("missing value after " + arg + "\n" + Usage);
        const char *value = argv[++i];
        unsigned long long number = 0;
        if (arg == "--out")
            out = value;
        else if (arg == "--kind")
            kind = value;
        else if (arg == "--from")
            from = value;
        else if (!parseNumber(value, number))
            return fail(arg + " needs a number, not '" + value + "'");
        else if (arg == "--entries")
            entries = number, haveEntries = true;
        else if (arg == "--hosts")
            hosts = number;
        else if (arg == "--seed")
            seed = number;
        else if (arg == "--text-bytes")
            textBytes = number;
        else if (arg == "--format-version")
            formatVersion = number;
        else
            return fail("unknown option " + arg + "\n" + Usage);
    }
    if (out.empty() || from.empty() == !haveEntries)
        return fail(std::string("give --out and either --from or --entries\n") + Usage);
    if (kind != "wininet" && kind != "firefox" && kind != "chromium")
        return fail("unknown kind " + kind + " (wininet, firefox or chromium)");

    std::vector<StoreWriterEntry> list;
    StoreWriterOptions options;
    options.seed = seed;
    if (!from.empty()) {
        std::string error;
        if (!ReadStoreList(from, list, error))
            return fail(error);
    } else {
        if (hosts == 0)
            return fail("--entries needs --hosts with at least 1 host");
        if (kind == "wininet" && entries > UrlCacheStoreEntryLimit())
            return fail(std::to_string(entries) + " entries exceed what a cache store can hold (at most "
                        + std::to_string(UrlCacheStoreEntryLimit())
                        + " one-block records in 0xF70000 bytes); nothing written");
        list = SyntheticEntries(entries, hosts, seed);
        options.contentFor = [&list, seed, textBytes](std::size_t i) {
            return SyntheticContent(list[i], i, seed, textBytes);
        };
    }
    if (kind != "wininet") {
        std::vector<BrowserWriterEntry> browserEntries = BrowserEntries(list, seed);
        BrowserWriterOptions browserOptions;
        browserOptions.seed = seed;
        browserOptions.firefoxVersion = std::uint32_t(std::min(formatVersion, 0xFFFFFFFFull));
        if (options.contentFor)
            browserOptions.bodyFor = options.contentFor;
        const BrowserWriteResult result = kind == "firefox"
            ? WriteFirefoxStore(out, browserEntries, browserOptions)
            : WriteChromiumSimpleStore(out, browserEntries, browserOptions);
        if (!result.ok)
            return fail(result.error);
        std::printf("%s: %zu entries (%s)\n", result.folder.c_str(), result.entries.size(), kind.c_str());
        return 0;
    }
    const StoreWriteResult result = WriteUrlCacheStore(out, list, options);
    if (!result.ok)
        return fail(result.error + "; nothing written");
    std::printf("%s: %zu entries, %u bytes, %u of %u blocks used, %u hash pages\n", result.indexPath.c_str(),
                result.entries.size(), result.fileSize, result.allocatedBlocks, (result.fileSize - 0x4000) / 0x80,
                result.hashPages);
    return 0;
}
