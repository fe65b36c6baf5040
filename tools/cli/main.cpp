// tidewrack-cli: what the program knows about a cache, without a window. Lists the caches of
// this machine, lists a cache's entries with every field, and writes documents out of it.
// Reads the cache exactly as the program does and never deletes: deleting stays behind the
// window's question. The output formats are documented in docs/cli.md; keep them stable.

#include "catalogue/catalogue.h"
#include "catalogue/documentexport.h"
#include "catalogue/listexport.h"
#include "catalogue/text.h"
#include "collections/search.h"
#include "platform/urlcachestore.h"
#include "stores/storeregistry.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

// Exit statuses.
constexpr int Success = 0;
constexpr int Unreadable = 1; // a store that cannot be read, or a target folder that cannot be written
constexpr int Usage = 2;
constexpr int SomeNotWritten = 3; // some output was not written: documents, the manifest, the list
constexpr int Incomplete = 4;     // the output is written, but part of the store could not be read

const char *const UsageText =
    "usage: tidewrack-cli COMMAND [ARGUMENTS]\n"
    "\n"
    "  stores                          the caches found on this machine (TSV: kind, browser, name, path)\n"
    "  list [STORE] [FILTERS] [--format tsv|csv|json|html]\n"
    "                                  every entry with all its fields (default TSV)\n"
    "  export STORE DIR [FILTERS] [--no-manifest]\n"
    "                                  writes the documents into DIR, with manifest.csv\n"
    "\n"
    "STORE is a cache folder (WinInet index.dat, Firefox cache2, Chromium Cache), a file in it,\n"
    "or a browser profile folder. Without STORE, list opens the cache the program would open.\n"
    "FILTERS (all must hold):\n"
    "  --host H      entries of host H (letter case ignored)\n"
    "  --url TEXT    entries whose URL contains TEXT (letter case ignored)\n"
    "  --kind K      document kind by file name: all, text, image, html, css, js, txt, jpeg, gif, other\n"
    "  --text TEXT   entries whose document contains TEXT (full-text search)\n"
    "Exit status: 0 done, 1 store unreadable or folder unwritable, 2 usage error,\n"
    "3 some output was not written (documents, the manifest, the list), 4 done but part of the store\n"
    "could not be read (a cut or inconsistent index, documents --text could not read).\n";

int usageError(const std::string &why = {})
{
    if (!why.empty())
        std::fprintf(stderr, "tidewrack-cli: %s\n", why.c_str());
    std::fputs(UsageText, stderr);
    return Usage;
}

// The names --kind takes, in the order of the search dialog's kinds.
const char *const KindNames[DocKindCount] = {"all", "text", "image", "html", "css",
                                             "js",  "txt",  "jpeg",  "gif",  "other"};

std::optional<int> docKindFromName(const std::string &name)
{
    for (int kind = 0; kind < DocKindCount; ++kind)
        if (name == KindNames[kind])
            return kind;
    return std::nullopt;
}

struct Filters {
    std::string host;
    std::string url;
    std::string text;
    int kind = AllKinds;
};

struct Options {
    std::vector<std::string> positional;
    Filters filters;
    ListFormat format = ListFormat::Tsv;
    bool manifest = true;
};

// Parses the arguments after the command name; an error text for a usage error.
std::string parse(int argc, char **argv, Options &options, bool forExport)
{
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        auto value = [&]() { return std::string(argv[++i]); };
        if (arg == "--host" && hasValue) {
            options.filters.host = value();
        } else if (arg == "--url" && hasValue) {
            options.filters.url = value();
        } else if (arg == "--text" && hasValue) {
            options.filters.text = value();
        } else if (arg == "--kind" && hasValue) {
            const std::string name = value();
            const auto kind = docKindFromName(name);
            if (!kind)
                return "unknown document kind " + name;
            options.filters.kind = *kind;
        } else if (arg == "--format" && hasValue && !forExport) {
            const std::string name = value();
            const auto format = ListFormatFromName(name);
            if (!format)
                return "unknown format " + name;
            options.format = *format;
        } else if (arg == "--no-manifest" && forExport) {
            options.manifest = false;
        } else if (arg == "--") {
            for (++i; i < argc; ++i)
                options.positional.emplace_back(argv[i]);
        } else if (arg.size() > 1 && arg[0] == '-') {
            return "unknown option " + arg + (hasValue ? std::string() : " (or its value is missing)");
        } else {
            options.positional.push_back(arg);
        }
    }
    return {};
}

// Opens `path` as the process's store and reads its catalogue as the window loads it.
// `incomplete` is set when the store could not be read whole.
bool loadCatalogue(const std::string &path, std::shared_ptr<CacheStore> &store, CacheList &catalogue, bool &incomplete)
{
    store = OpenStore(path);
    if (store->kind() == StoreKind::None) {
        std::fprintf(stderr, "tidewrack-cli: %s\n", store->describe().c_str());
        return false;
    }
    SetUrlCacheStore(store);
    catalogue = EnumerateCatalogue();
    if (const std::string problem = LastUrlCacheReadProblem(); !problem.empty()) {
        std::fprintf(stderr, "tidewrack-cli: cannot read the cache store: %s\n", problem.c_str());
        return false;
    }
    if (const std::string skipped = LastUrlCacheSkipped(); !skipped.empty())
        std::fprintf(stderr, "tidewrack-cli: %s\n", skipped.c_str());
    const std::string why = LastUrlCacheIncomplete();
    incomplete = !why.empty();
    if (incomplete)
        std::fprintf(stderr, "tidewrack-cli: the listing may lack entries of the store: %s\n", why.c_str());
    SortByHost(catalogue);
    return true;
}

// The entries that pass every filter, in catalogue order. The cheap filters run first, so the
// full-text search reads only the bodies that can still match. `unreadable` counts the
// documents the full-text search could not read (they count as no hit).
SearchList applyFilters(const CacheList &catalogue, const Filters &filters, std::size_t &unreadable)
{
    CacheList candidates;
    if (filters.host.empty()) {
        candidates = catalogue;
    } else {
        const std::string host = LowerAscii(filters.host);
        for (const CatalogueEntry &e : catalogue)
            if (LowerAscii(UrlHost(SourceUrl(e))) == host)
                candidates.push_back(e);
    }
    SearchCriteria byUrl;
    byUrl.field = SearchField::Url;
    byUrl.kind = filters.kind;
    byUrl.text = QString::fromStdString(filters.url);
    SearchList hits = SearchCatalogue(candidates, byUrl);
    if (!filters.text.empty()) {
        SearchCriteria byText;
        byText.field = SearchField::FullText;
        byText.text = QString::fromStdString(filters.text);
        SearchObserver observer;
        observer.unreadable = [&unreadable](const CatalogueEntry &) { ++unreadable; };
        hits = SearchCatalogue(hits, byText, observer);
    }
    if (unreadable)
        std::fprintf(stderr, "tidewrack-cli: %zu document%s could not be read for the full-text search\n", unreadable,
                     unreadable == 1 ? "" : "s");
    return hits;
}

std::string tsvCell(const std::string &text)
{
    std::string out;
    for (const char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

int runStores(int argc, char **)
{
    if (argc != 0)
        return usageError("stores takes no arguments");
    std::printf("kind\tbrowser\tname\tpath\n");
    for (const FoundStore &found : FindStores(StoreSearchRoots::fromEnvironment()))
        std::printf("%s\t%s\t%s\t%s\n", StoreKindId(found.kind), tsvCell(found.browser).c_str(),
                    tsvCell(found.name).c_str(), tsvCell(found.path).c_str());
    return Success;
}

int runList(int argc, char **argv)
{
    Options options;
    if (const std::string why = parse(argc, argv, options, false); !why.empty())
        return usageError(why);
    if (options.positional.size() > 1)
        return usageError("list takes at most one STORE");

    std::string path;
    if (!options.positional.empty()) {
        path = options.positional.front();
    } else {
        StartChoice choice;
        if (const char *named = std::getenv("TIDEWRACK_URLCACHE"))
            choice.environment = named;
        choice.remembered = RememberedStore(); // what the window opened last
        std::string why;
        path = ChooseStartStore(choice, StoreSearchRoots::fromEnvironment(), &why);
        if (path.empty()) {
            std::fprintf(stderr, "tidewrack-cli: %s\n", why.c_str());
            return Unreadable;
        }
    }

    std::shared_ptr<CacheStore> store;
    CacheList catalogue;
    bool incomplete = false;
    if (!loadCatalogue(path, store, catalogue, incomplete))
        return Unreadable;
    std::size_t unreadable = 0;
    const SearchList hits = applyFilters(catalogue, options.filters, unreadable);

    EntryFields fields(QString::fromStdString(store->folder()));
    ListExportOptions list;
    list.byteOrderMark = false; // a stream for scripts, not a file for a spreadsheet program
    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly)) {
        std::fprintf(stderr, "tidewrack-cli: cannot write to standard output\n");
        return Unreadable;
    }
    // Flushed here, so that a full disk behind standard output is seen and not left to exit.
    if (!WriteEntryList(out, RowsOf(hits), options.format, fields, list) || !out.flush()) {
        std::fprintf(stderr, "tidewrack-cli: the list could not be written whole: %s\n",
                     out.errorString().toLocal8Bit().constData());
        return SomeNotWritten;
    }
    return incomplete || unreadable ? Incomplete : Success;
}

int runExport(int argc, char **argv)
{
    Options options;
    if (const std::string why = parse(argc, argv, options, true); !why.empty())
        return usageError(why);
    if (options.positional.size() != 2)
        return usageError("export takes STORE and DIR");

    std::shared_ptr<CacheStore> store;
    CacheList catalogue;
    bool incomplete = false;
    if (!loadCatalogue(options.positional[0], store, catalogue, incomplete))
        return Unreadable;
    std::size_t unreadable = 0;
    const SearchList hits = applyFilters(catalogue, options.filters, unreadable);

    EntryFields fields(QString::fromStdString(store->folder()));
    DocumentExportOptions exportOptions;
    exportOptions.manifest = options.manifest;
    exportOptions.storeFolder = QString::fromStdString(store->folder());
    const std::vector<EntryRow> rows = RowsOf(hits);
    const DocumentExportResult result =
        ExportDocuments(rows, QString::fromStdString(options.positional[1]), fields, exportOptions);
    if (!result.error.isEmpty() && result.writtenCount() == 0) {
        std::fprintf(stderr, "tidewrack-cli: %s\n", result.error.toLocal8Bit().constData());
        return Unreadable;
    }

    std::size_t failed = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const ExportedDocument &d = result.documents[i];
        failed += d.written ? 0 : 1;
        std::printf("%s\t%s\t%s\t%s\n", d.written ? "ok" : "failed", tsvCell(d.fileName.toStdString()).c_str(),
                    tsvCell(fields.text(rows[i], EntryField::Url).toStdString()).c_str(),
                    tsvCell(d.problem.toStdString()).c_str());
    }
    std::fflush(stdout);
    if (!result.error.isEmpty())
        std::fprintf(stderr, "tidewrack-cli: %s\n", result.error.toLocal8Bit().constData());
    if (!result.manifestError.isEmpty())
        std::fprintf(stderr, "tidewrack-cli: manifest not written: %s\n",
                     result.manifestError.toLocal8Bit().constData());
    if (failed)
        std::fprintf(stderr, "tidewrack-cli: %zu of %zu documents not written\n", failed, rows.size());
    if (failed || !result.manifestError.isEmpty())
        return SomeNotWritten;
    return incomplete || unreadable ? Incomplete : Success;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return usageError();
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(UsageText, stdout);
        return Success;
    }
    if (command == "stores")
        return runStores(argc - 2, argv + 2);
    if (command == "list")
        return runList(argc - 2, argv + 2);
    if (command == "export")
        return runExport(argc - 2, argv + 2);
    return usageError("unknown command " + command);
}
