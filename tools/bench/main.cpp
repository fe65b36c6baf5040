// tidewrack-bench: runs the program's own store reading and catalogue work without a window
// and prints plain figures, so that speed and memory can be compared with other readers.

#include "bench.h"

#include "platform/processmemory.h"
#include "platform/urlcachestore.h"
#include "stores/storeregistry.h"

#include <QApplication>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

struct Command {
    const char *name;
    int (*run)(const Arguments &);
    const char *usage;
};

const Command Commands[] = {
    {"list", RunList,
     "list STORE                  every entry: URL<TAB>local path<TAB>size<TAB>key,\n"
     "                              then kind: NAME, entries: N, skipped: N"},
    {"load", RunLoad, "load STORE [--repeat N]     the catalogue load N times; prints name: value lines"},
    {"delete", RunDelete,
     "delete STORE KEY...         deletes entries by key in one pass and says what became of each\n"
     "                              (deleted, gone: removed before, kept: with the reason)\n"
     "delete STORE --count N      deletes N entries spread over the store: deleted, delete_ms"},
    {"body", RunBody, "body STORE KEY              writes the entry's decoded body to standard output"},
    {"view", RunView,
     "view STORE HOST [--repeat N] [--all-columns]\n"
     "                              the document list of one host: rows, view_ms_median;\n"
     "                              --all-columns: the fill painted with five and with all columns"},
    {"search", RunSearch,
     "search STORE --field url|name|text [--kind K] TEXT [--repeat N]\n"
     "                              the search without a window: hits, search_ms_median"},
    {"export", RunExport,
     "export STORE [--format csv|html|json|tsv] [--rows N] [--repeat N] [--out FILE]\n"
     "                              the list export of every entry: bytes, export_ms_median"},
    {"fields", RunFields,
     "fields STORE HOST [--repeat N] one host's rows with every field: all_fields_text_ms_median,\n"
     "                              sort_NAME_ms_median for each field"},
    {"text", RunText, "text FILE [--repeat N]      the text preview of a file, first screen painted: text_ms_median"},
};

void usage(FILE *to)
{
    std::fputs("usage: tidewrack-bench COMMAND STORE ...\n"
               "STORE is a cache folder (WinInet index.dat, Firefox cache2, Chromium Cache),\n"
               "or a file in it.\n\n",
               to);
    for (const Command &c : Commands)
        std::fprintf(to, "  %s\n", c.usage);
}

} // namespace

PaintingApplication::PaintingApplication()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    m_app = std::make_unique<QApplication>(m_argc, m_argv);
}

PaintingApplication::~PaintingApplication() = default;

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::shared_ptr<CacheStore> UseStore(const std::string &path)
{
    auto store = OpenStore(path);
    if (store->kind() == StoreKind::None) {
        std::fprintf(stderr, "tidewrack-bench: %s\n", store->describe().c_str());
        return nullptr;
    }
    SetUrlCacheStore(store);
    return store;
}

int main(int argc, char **argv)
{
    KeepLargeBuffersOffHeap(); // the same setting the program makes at start
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
        usage(argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    for (const Command &c : Commands)
        if (!std::strcmp(argv[1], c.name))
            return c.run(Arguments(argv + 2, argv + argc));
    std::fprintf(stderr, "tidewrack-bench: unknown command %s\n", argv[1]);
    usage(stderr);
    return 2;
}
