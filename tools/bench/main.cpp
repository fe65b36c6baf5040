// tidewrack-bench: runs the program's own store reading and catalogue work without a window
// and prints plain figures, so that speed and memory can be compared with other readers.
// It links no widget or web-engine library, so that its start-up is the CLI's: the commands
// that paint (text, view --all-columns, window) run in tidewrack-bench-paint, built beside it.

#include "bench.h"

#include "platform/processmemory.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

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
    {"view", [](const Arguments &a) { return RunView(a, nullptr); },
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
    {"text", nullptr, "text FILE [--repeat N]      the text preview of a file, first screen painted: text_ms_median"},
    {"window", nullptr,
     "window STORE [--text WORD] [--until tree|host|search]\n"
     "                              the program's window offscreen: tree_ms (from start to the tree\n"
     "                              painted), host_ms (the largest host's list), search_ms (a full-\n"
     "                              text search shown); --until ends the process after that step"},
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

// The commands that paint run in the painting bench beside this executable, with the same
// arguments.
bool paints(int argc, char **argv)
{
    if (!std::strcmp(argv[1], "text") || !std::strcmp(argv[1], "window"))
        return true;
    if (std::strcmp(argv[1], "view"))
        return false;
    for (int i = 2; i < argc; ++i)
        if (!std::strcmp(argv[i], "--all-columns"))
            return true;
    return false;
}

int runPainting(char **argv)
{
    char self[4096];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    std::string painting = length > 0 ? std::string(self, std::size_t(length)) : std::string();
    painting = painting.substr(0, painting.rfind('/') + 1) + "tidewrack-bench-paint";
    argv[0] = painting.data();
    ::execv(painting.c_str(), argv);
    std::fprintf(stderr, "tidewrack-bench: cannot start %s for %s\n", painting.c_str(), argv[1]);
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    KeepLargeBuffersOffHeap(); // the same setting the program makes at start
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
        usage(argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    if (paints(argc, argv))
        return runPainting(argv);
    for (const Command &c : Commands)
        if (!std::strcmp(argv[1], c.name))
            return c.run(Arguments(argv + 2, argv + argc));
    std::fprintf(stderr, "tidewrack-bench: unknown command %s\n", argv[1]);
    usage(stderr);
    return 2;
}
