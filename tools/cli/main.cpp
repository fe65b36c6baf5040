// tidewrack-cli: what the program knows about a cache, without a window. Lists the caches of
// this machine, lists a cache's entries with every field, writes documents out of it and
// deletes the entries a filter picks. Reads the cache exactly as the program does; a delete
// asks first (on a terminal) unless told --yes, and goes through the same store removal as
// the window's. The output formats are documented in docs/cli.md; keep them stable.

#include "catalogue/catalogue.h"
#include "catalogue/criteria.h"
#include "catalogue/documentexport.h"
#include "catalogue/listexport.h"
#include "catalogue/text.h"
#include "catalogue/warcexport.h"
#include "collections/search.h"
#include "platform/cachefile.h"
#include "platform/urlcachestore.h"
#include "stores/storeregistry.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

// Exit statuses.
constexpr int Success = 0;
constexpr int Unreadable = 1; // a store that cannot be read, or a target folder that cannot be written
constexpr int Usage = 2;
constexpr int SomeNotWritten = 3; // some output was not written: documents, the manifest, the list
constexpr int Incomplete = 4;     // the output is written, but part of the store could not be read

const char *const UsageText =
    "usage: tidewrack-cli COMMAND [ARGUMENTS]\n"
    "       tidewrack-cli COMMAND --help | --help | --version\n"
    "\n"
    "  stores                          the caches found on this machine (TSV: kind, browser, name, path, id)\n"
    "  list [STORE...|--all] [FILTERS] [--format tsv|csv|json|html]\n"
    "                                  every entry with all its fields (default TSV)\n"
    "  export STORE...|--all DIR [FILTERS] [--no-manifest]\n"
    "                                  writes the documents into DIR, with manifest.csv\n"
    "  export --format warc STORE...|--all [FILTERS] -o FILE.warc.gz\n"
    "                                  writes the documents as a web archive (WARC 1.1)\n"
    "  delete STORE...|--all [FILTERS] [--dry-run [--format F]] [--yes]\n"
    "                                  deletes the entries that pass the filters from their caches\n"
    "\n"
    "STORE is a cache folder (WinInet index.dat, Firefox cache2, Chromium Cache), a file in it,\n"
    "or a browser profile folder; --all takes every cache stores lists. Without STORE, list\n"
    "opens the cache the program would open. Every row names its store's id and kind.\n"
    "FILTERS (all must hold):\n"
    "  --host H             entries of host H (letter case ignored)\n"
    "  --url TEXT           entries whose URL contains TEXT (letter case ignored)\n"
    "  --kind K             document kind by file name: all, text, image, html, css, js, txt, jpeg, gif, other\n"
    "  --text TEXT          entries whose document contains TEXT (full-text search)\n"
    "  --older-than DUR     last used more than DUR ago (30d, 12h, 2w, 45m; a plain number is days)\n"
    "  --newer-than DUR     last used less than DUR ago\n"
    "  --since DATE         last used at or after DATE (2026-12-01 or 2026-12-01T08:30:00[Z], local time)\n"
    "  --until DATE         last used before DATE\n"
    "  --time FIELD         the time the four above look at: access (default), modified, expires\n"
    "  --larger-than SIZE   stored size above SIZE (500, 20K, 1.5M, 2G)\n"
    "  --smaller-than SIZE  stored size below SIZE\n"
    "  --type KIND          content type: page, image, script, style, font, media, other\n"
    "  --status CODE        HTTP status CODE\n"
    "  --partition TEXT     partition containing TEXT (letter case ignored)\n"
    "  --key KEY            the entry with cache key KEY (repeatable)\n"
    "An entry whose cache does not know a time or status a filter asks about does not pass it.\n"
    "delete lists what it would delete with --dry-run (as list does); otherwise it asks on a\n"
    "terminal, refuses when standard input is not one unless given --yes, and prints one line\n"
    "per entry (deleted, gone, kept, not-tried; store id; key; reason) and a summary on stderr.\n"
    "Exit status: 0 done, 1 store unreadable or folder unwritable, 2 usage error (or delete\n"
    "refused without --yes, or not confirmed), 3 some output was not written (documents, the\n"
    "manifest, the list) or some entries could not be deleted, 4 done but part of the store\n"
    "could not be read (a cut or inconsistent index, documents --text could not read).\n";

// Each command's own line, shown with a usage error instead of the whole page.
const char *commandUsage(const std::string &command)
{
    if (command == "stores")
        return "usage: tidewrack-cli stores";
    if (command == "list")
        return "usage: tidewrack-cli list [STORE...|--all] [FILTERS] [--format tsv|csv|json|html]";
    if (command == "export")
        return "usage: tidewrack-cli export STORE...|--all DIR [FILTERS] [--no-manifest]\n"
               "       tidewrack-cli export --format warc STORE...|--all [FILTERS] -o FILE.warc.gz";
    if (command == "delete")
        return "usage: tidewrack-cli delete STORE...|--all [FILTERS] [--dry-run [--format F]] [--yes]";
    return "usage: tidewrack-cli COMMAND [ARGUMENTS]   (COMMAND: stores, list, export, delete)";
}

std::string g_command; // the command being run, for its usage line

int usageError(const std::string &why = {})
{
    if (!why.empty())
        std::fprintf(stderr, "tidewrack-cli: %s\n", why.c_str());
    std::fprintf(stderr, "%s\nTry 'tidewrack-cli --help' for more.\n", commandUsage(g_command));
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
    EntryCriteria criteria;
};

struct Options {
    std::vector<std::string> positional;
    bool all = false; // --all: every cache found on this machine
    Filters filters;
    ListFormat format = ListFormat::Tsv;
    bool manifest = true;
    bool warc = false;   // export: a web archive instead of a folder of documents
    std::string output;  // export --format warc: the archive file
    bool dryRun = false; // delete: list what would go
    bool yes = false;    // delete: without asking
    bool help = false;
};

// Narrows an open time range: a later lower bound, an earlier upper one.
void atLeast(std::optional<StoreTime> &bound, StoreTime value)
{
    bound = bound ? std::max(*bound, value) : value;
}
void below(std::optional<StoreTime> &bound, StoreTime value)
{
    bound = bound ? std::min(*bound, value) : value;
}

// The criteria options; false when `arg` is none of them, an error text in `why` for a bad value.
bool parseCriterion(const std::string &arg, const std::string &value, EntryCriteria &c, std::string &why)
{
    const StoreTime now = StoreTimeFromUnix(std::int64_t(std::time(nullptr)));
    auto ago = [&](std::int64_t seconds) { return now - std::min<StoreTime>(now, StoreTime(seconds) * 10'000'000u); };
    if (arg == "--older-than" || arg == "--newer-than") {
        const auto seconds = ParseDuration(value);
        if (!seconds)
            why = "not a duration: " + value;
        else if (arg == "--older-than")
            below(c.before, ago(*seconds));
        else
            atLeast(c.notBefore, ago(*seconds));
    } else if (arg == "--since" || arg == "--until") {
        const auto date = ParseDate(value);
        if (!date)
            why = "not a date: " + value;
        else if (arg == "--since")
            atLeast(c.notBefore, *date);
        else
            below(c.before, *date);
    } else if (arg == "--time") {
        static const std::map<std::string, TimeField> names = {
            {"access", TimeField::LastAccess}, {"modified", TimeField::LastModified}, {"expires", TimeField::Expires}};
        const auto found = names.find(value);
        if (found == names.end())
            why = "unknown time " + value + " (access, modified, expires)";
        else
            c.timeField = found->second;
    } else if (arg == "--larger-than" || arg == "--smaller-than") {
        const auto size = ParseSize(value);
        if (!size)
            why = "not a size: " + value;
        else
            (arg == "--larger-than" ? c.largerThan : c.smallerThan) = *size;
    } else if (arg == "--type") {
        c.kind = ContentKindFromId(value);
        if (!c.kind)
            why = "unknown content type " + value + " (page, image, script, style, font, media, other)";
    } else if (arg == "--status") {
        char *end = nullptr;
        const unsigned long code = std::strtoul(value.c_str(), &end, 10);
        if (value.empty() || *end || code < 100 || code > 999)
            why = "not an HTTP status: " + value;
        else
            c.status = std::uint32_t(code);
    } else if (arg == "--partition") {
        c.partition = QString::fromStdString(value);
    } else if (arg == "--key") {
        c.keys.insert(value);
    } else {
        return false;
    }
    return true;
}

// Parses the arguments after the command name; an error text for a usage error.
std::string parse(int argc, char **argv, Options &options, bool forExport, bool forDelete = false)
{
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        auto value = [&]() { return std::string(argv[++i]); };
        std::string why;
        if (hasValue && parseCriterion(arg, argv[i + 1], options.filters.criteria, why)) {
            if (!why.empty())
                return why;
            ++i;
        } else if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--dry-run" && forDelete) {
            options.dryRun = true;
        } else if (arg == "--yes" && forDelete) {
            options.yes = true;
        } else if (arg == "--host" && hasValue) {
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
        } else if (arg == "--format" && hasValue && forExport) {
            const std::string name = value();
            if (name != "warc")
                return "unknown export format " + name;
            options.warc = true;
        } else if ((arg == "-o" || arg == "--output") && hasValue && forExport) {
            options.output = value();
        } else if (arg == "--all") {
            options.all = true;
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

// A store's id in the rows and in `stores`: the same for the same folder on every run.
std::string storeIdOf(const std::string &folder)
{
    return QCryptographicHash::hash(QByteArray::fromStdString(folder), QCryptographicHash::Sha1)
        .toHex()
        .left(12)
        .toStdString();
}

// Opens every store of `paths` and reads their catalogues as the window loads them, one after
// the other. False when a store cannot be read: that one is left out, after its reason.
// `incomplete` is set when a store could not be read whole.
bool loadCatalogue(const std::vector<std::string> &paths, CacheList &catalogue, bool &incomplete)
{
    bool all = true;
    for (const std::string &path : paths) {
        const std::shared_ptr<CacheStore> store = OpenStore(path);
        if (store->kind() == StoreKind::None) {
            std::fprintf(stderr, "tidewrack-cli: %s\n", store->describe().c_str());
            all = false;
            continue;
        }
        CacheList part = EnumerateCatalogue(OpenUrlCacheStore(store));
        if (const std::string problem = LastUrlCacheReadProblem(); !problem.empty()) {
            std::fprintf(stderr, "tidewrack-cli: cannot read the cache store: %s\n", problem.c_str());
            all = false;
            continue;
        }
        if (const std::string skipped = LastUrlCacheSkipped(); !skipped.empty())
            std::fprintf(stderr, "tidewrack-cli: %s\n", skipped.c_str());
        if (const std::string why = LastUrlCacheIncomplete(); !why.empty()) {
            incomplete = true;
            std::fprintf(stderr, "tidewrack-cli: the listing may lack entries of the store: %s\n", why.c_str());
        }
        SortByHost(part);
        catalogue.insert(catalogue.end(), part.begin(), part.end());
    }
    return all;
}

// The folders of every cache found on this machine, for --all.
std::vector<std::string> everyStore()
{
    std::vector<std::string> paths;
    for (const FoundStore &found : FindStores(StoreSearchRoots::fromEnvironment()))
        paths.push_back(found.path);
    return paths;
}

// The two columns after the fields that name each row's store.
std::vector<ExtraColumn> storeColumns(const std::vector<EntryRow> &rows)
{
    ExtraColumn id{"store_id", QStringLiteral("缓存标识"), {}};
    ExtraColumn kind{"store_kind", QStringLiteral("缓存种类"), {}};
    id.values.reserve(rows.size());
    kind.values.reserve(rows.size());
    // Rows come store by store: the id is worked out once per run of rows of one store.
    std::optional<URLCACHE_STORE_ID> last;
    std::string lastId, lastKind;
    for (const EntryRow &row : rows) {
        if (row.store != last) {
            last = row.store;
            lastId = storeIdOf(UrlCacheStoreFolder(row.store));
            lastKind = StoreKindId(UrlCacheStoreKind(row.store));
        }
        id.values.push_back(lastId);
        kind.values.push_back(lastKind);
    }
    return {std::move(id), std::move(kind)};
}

// The entries that pass every filter, in catalogue order. The cheap filters run first, so the
// full-text search reads only the bodies that can still match. `unreadable` counts the
// documents the full-text search could not read (they count as no hit).
SearchList applyFilters(const CacheList &catalogue, const Filters &filters, std::size_t &unreadable)
{
    CacheList candidates;
    if (filters.host.empty()) {
        candidates = FilterByCriteria(catalogue, filters.criteria);
    } else {
        const std::string host = LowerAscii(filters.host);
        for (const CatalogueEntry &e : catalogue)
            if (LowerAscii(UrlHost(SourceUrl(e))) == host)
                candidates.push_back(e);
        candidates = FilterByCriteria(candidates, filters.criteria);
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

// What a command works on: the entries of its stores that pass the filters, and how whole the
// reading was.
struct Selection {
    SearchList hits;
    bool read = true;           // every store could be read
    bool incomplete = false;    // a store's listing may lack entries
    std::size_t unreadable = 0; // documents the full-text search could not read
    int status() const { return !read ? Unreadable : incomplete || unreadable ? Incomplete : Success; }
};

Selection selectEntries(const std::vector<std::string> &paths, const Filters &filters)
{
    Selection selection;
    CacheList catalogue;
    selection.read = loadCatalogue(paths, catalogue, selection.incomplete);
    selection.hits = applyFilters(catalogue, filters, selection.unreadable);
    return selection;
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

// Writes the hits to standard output as `list` does; SomeNotWritten when it could not.
int writeList(const SearchList &hits, ListFormat format)
{
    EntryFields fields;
    const std::vector<EntryRow> rows = RowsOf(hits);
    ListExportOptions list;
    list.byteOrderMark = false; // a stream for scripts, not a file for a spreadsheet program
    list.extra = storeColumns(rows);
    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly)) {
        std::fprintf(stderr, "tidewrack-cli: cannot write to standard output\n");
        return Unreadable;
    }
    // Flushed here, so that a full disk behind standard output is seen and not left to exit.
    QString why;
    if (!WriteEntryList(out, rows, format, fields, list, &why) || !out.flush()) {
        std::fprintf(stderr, "tidewrack-cli: the list could not be written whole: %s\n",
                     (why.isEmpty() ? out.errorString() : why).toLocal8Bit().constData());
        return SomeNotWritten;
    }
    return Success;
}

// COMMAND --help: the command's line and what its arguments mean, on standard output.
int commandHelp()
{
    const char *shared = std::strstr(UsageText, "STORE is");
    std::printf("%s\n\n%s", commandUsage(g_command), shared ? shared : UsageText);
    return Success;
}

int runStores(int argc, char **argv)
{
    if (argc == 1 && (std::strcmp(argv[0], "--help") == 0 || std::strcmp(argv[0], "-h") == 0))
        return commandHelp();
    if (argc != 0)
        return usageError("stores takes no arguments");
    std::printf("kind\tbrowser\tname\tpath\tid\n");
    for (const FoundStore &found : FindStores(StoreSearchRoots::fromEnvironment()))
        std::printf("%s\t%s\t%s\t%s\t%s\n", StoreKindId(found.kind), tsvCell(found.browser).c_str(),
                    tsvCell(found.name).c_str(), tsvCell(found.path).c_str(),
                    storeIdOf(ProbeStore(found.path).folder).c_str());
    return Success;
}

int runList(int argc, char **argv)
{
    Options options;
    if (const std::string why = parse(argc, argv, options, false); !why.empty())
        return usageError(why);
    if (options.help)
        return commandHelp();
    if (options.all && !options.positional.empty())
        return usageError("list takes STORE... or --all, not both");

    std::vector<std::string> paths = options.all ? everyStore() : options.positional;
    if (paths.empty() && !options.all) {
        StartChoice choice;
        if (const char *named = std::getenv("TIDEWRACK_URLCACHE"))
            choice.environment = named;
        choice.remembered = RememberedStore(); // what the window opened last
        const StartStore start = ChooseStartStore(choice, StoreSearchRoots::fromEnvironment());
        if (start.path.empty()) {
            std::fprintf(stderr, "tidewrack-cli: %s\n", start.why.c_str());
            return Unreadable;
        }
        paths.push_back(start.path);
    }

    // One store that cannot be read gives no list; of several, the others are listed.
    const Selection selection = selectEntries(paths, options.filters);
    if (!selection.read && paths.size() == 1)
        return Unreadable;
    if (const int status = writeList(selection.hits, options.format); status != Success)
        return status;
    return selection.status();
}

// export --format warc: the documents that pass the filters as one web archive.
int runWarcExport(const Options &options)
{
    if ((options.all ? !options.positional.empty() : options.positional.empty()) || options.output.empty())
        return usageError("export --format warc takes STORE... (or --all) and -o FILE");
    const Selection selection = selectEntries(options.all ? everyStore() : options.positional, options.filters);
    if (!selection.read)
        return Unreadable;
    const SearchList &hits = selection.hits;
    std::vector<WarcDocument> documents;
    documents.reserve(hits.size());
    for (const CatalogueEntry &e : hits) {
        const EntryRow row = RowOf(e);
        documents.push_back({row, QString::fromStdString(UrlCacheStoreFolder(row.store))});
    }
    const WarcExportResult result = ExportWarc(documents, QString::fromStdString(options.output));
    if (!result.error.isEmpty()) {
        std::fprintf(stderr, "tidewrack-cli: %s\n", result.error.toLocal8Bit().constData());
        return Unreadable;
    }
    std::size_t failed = 0;
    for (std::size_t i = 0; i < documents.size(); ++i) {
        const WarcExported &d = result.documents[i];
        failed += d.kind == WarcRecordKind::None ? 1 : 0;
        std::printf("%s\t%s\t%s\n", d.kind == WarcRecordKind::None ? "failed" : WarcRecordKindName(d.kind),
                    tsvCell(SourceUrl(hits[i])).c_str(), tsvCell(d.problem.toStdString()).c_str());
    }
    std::fflush(stdout);
    if (failed) {
        std::fprintf(stderr, "tidewrack-cli: %zu of %zu documents not archived\n", failed, documents.size());
        return SomeNotWritten;
    }
    return selection.status();
}

int runExport(int argc, char **argv)
{
    Options options;
    if (const std::string why = parse(argc, argv, options, true); !why.empty())
        return usageError(why);
    if (options.help)
        return commandHelp();
    if (options.warc)
        return runWarcExport(options);
    if (!options.output.empty())
        return usageError("-o is for export --format warc");
    if (options.all ? options.positional.size() != 1 : options.positional.size() < 2)
        return usageError("export takes STORE... (or --all) and DIR");
    const std::string target = options.positional.back();
    options.positional.pop_back();

    const Selection selection = selectEntries(options.all ? everyStore() : options.positional, options.filters);
    if (!selection.read)
        return Unreadable;
    const SearchList &hits = selection.hits;

    EntryFields fields;
    DocumentExportOptions exportOptions;
    exportOptions.manifest = options.manifest;
    // The documents never go into a cache's own folder: the export refuses the one it is in.
    exportOptions.storeFolder = QString::fromStdString(
        StoreFolderHolding(QDir::cleanPath(QDir(QString::fromStdString(target)).absolutePath()).toStdString()));
    const std::vector<EntryRow> rows = RowsOf(hits);
    const DocumentExportResult result = ExportDocuments(rows, QString::fromStdString(target), fields, exportOptions);
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
    return selection.status();
}

// Asks on the terminal whether to delete; true for "y" or "yes".
bool confirmed(const EntryTally &tally)
{
    std::fprintf(stderr, "Delete %zu document%s (%s) from %zu cache%s? [y/N] ", tally.documents,
                 tally.documents == 1 ? "" : "s", ByteCountText(tally.bytes).toLocal8Bit().constData(), tally.stores,
                 tally.stores == 1 ? "" : "s");
    std::fflush(stderr);
    char answer[16] = {};
    if (!std::fgets(answer, sizeof answer, stdin))
        return false;
    const std::string text = LowerAscii(std::string(answer, strcspn(answer, "\r\n")));
    return text == "y" || text == "yes";
}

const char *removalName(RemovalOutcome outcome)
{
    switch (outcome) {
    case RemovalOutcome::Deleted:
        return "deleted";
    case RemovalOutcome::AlreadyGone:
        return "gone";
    case RemovalOutcome::Refused:
        return "kept";
    case RemovalOutcome::NotTried:
        break;
    }
    return "not-tried";
}

// delete: the entries that pass the filters leave their caches, each through its own store,
// which keeps its lock and its refusals (browser running, read-only, a kind it cannot change).
int runDelete(int argc, char **argv)
{
    Options options;
    if (const std::string why = parse(argc, argv, options, false, true); !why.empty())
        return usageError(why);
    if (options.help)
        return commandHelp();
    if (options.all ? !options.positional.empty() : options.positional.empty())
        return usageError("delete takes STORE... or --all");

    const std::vector<std::string> paths = options.all ? everyStore() : options.positional;
    const Selection selection = selectEntries(paths, options.filters);
    if (!selection.read && paths.size() == 1)
        return Unreadable;
    const SearchList &hits = selection.hits;
    const bool read = selection.read;
    if (options.dryRun) {
        if (const int status = writeList(hits, options.format); status != Success)
            return status;
        return selection.status();
    }
    const EntryTally tally = TallyEntries(hits);
    if (hits.empty()) {
        std::fprintf(stderr, "tidewrack-cli: no entry passes the filters; nothing deleted\n");
        return read ? Success : Unreadable;
    }
    if (!options.yes) {
        if (!isatty(STDIN_FILENO)) {
            std::fprintf(stderr,
                         "tidewrack-cli: %zu documents would be deleted; not asking without a terminal: "
                         "give --yes (or --dry-run to see them)\n",
                         tally.documents);
            return Usage;
        }
        if (!confirmed(tally)) {
            std::fprintf(stderr, "tidewrack-cli: nothing deleted\n");
            return Usage;
        }
    }

    // One pass per store, with the keys of its entries.
    std::map<URLCACHE_STORE_ID, std::vector<std::size_t>> byStore;
    for (std::size_t i = 0; i < hits.size(); ++i)
        byStore[EntryStoreId(hits[i])].push_back(i);
    std::vector<KeyRemoval> results(hits.size());
    for (const auto &[store, indexes] : byStore) {
        std::vector<std::string> keys;
        for (const std::size_t i : indexes)
            keys.emplace_back(EntryKey(hits[i]));
        const std::vector<KeyRemoval> part = DeleteUrlCacheEntriesInStore(store, keys);
        for (std::size_t j = 0; j < indexes.size() && j < part.size(); ++j)
            results[indexes[j]] = part[j];
    }

    std::size_t gone = 0, kept = 0;
    std::uint64_t freed = 0;
    const KeyRemoval *firstKept = nullptr;
    for (std::size_t i = 0; i < hits.size(); ++i) {
        const KeyRemoval &r = results[i];
        if (r.gone()) {
            ++gone;
            freed += r.outcome == RemovalOutcome::Deleted ? EntrySize(*hits[i]) : 0;
        } else if (kept++ == 0) {
            firstKept = &r;
        }
        std::printf("%s\t%s\t%s\t%s\n", removalName(r.outcome),
                    storeIdOf(UrlCacheStoreFolder(EntryStoreId(hits[i]))).c_str(), tsvCell(EntryKey(hits[i])).c_str(),
                    tsvCell(r.reason).c_str());
    }
    std::fflush(stdout);
    std::fprintf(stderr, "tidewrack-cli: deleted %zu of %zu documents, freed %s", gone, hits.size(),
                 ByteCountText(freed).toLocal8Bit().constData());
    if (firstKept)
        std::fprintf(stderr, "; %zu could not be deleted: %s", kept,
                     firstKept->reason.empty() ? "refused by the store" : firstKept->reason.c_str());
    std::fprintf(stderr, "\n");
    if (kept)
        return SomeNotWritten;
    return read ? Success : Unreadable;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return usageError("no command given");
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(UsageText, stdout);
        return Success;
    }
    if (command == "--version") {
        std::printf("tidewrack-cli %s\n", TIDEWRACK_VERSION);
        return Success;
    }
    g_command = command;
    if (command == "stores")
        return runStores(argc - 2, argv + 2);
    if (command == "list")
        return runList(argc - 2, argv + 2);
    if (command == "export")
        return runExport(argc - 2, argv + 2);
    if (command == "delete")
        return runDelete(argc - 2, argv + 2);
    g_command.clear();
    return usageError("unknown command " + command);
}
