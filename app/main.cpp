#include "mainwindow.h"
#include "startup.h"
#include "stores/bodies.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

namespace {

const char *const UsageLine = "usage: tidewrack [--help | --version] [[--] CACHE]";

// Answers --help and --version before any window or display is needed; nothing for the others.
bool answeredAlone(int argc, char *argv[], int &status)
{
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("%s\n\n"
                        "Browses, previews, gathers and prunes the documents a web browser keeps in its cache.\n"
                        "CACHE: a cache folder (WinInet index.dat, Firefox cache2, Chromium Cache), a file in it,\n"
                        "or a browser profile folder; without it, the cache opened last (see README.md).\n"
                        "The command line tool is tidewrack-cli.\n",
                        UsageLine);
            status = 0;
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("tidewrack %s\n", TIDEWRACK_VERSION);
            status = 0;
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    if (int status = 0; answeredAlone(argc, argv, status))
        return status;
    PrepareProcess();
    QApplication app(argc, argv);
    // Qt has taken its own options; what is left is a cache, or an option of ours it does not know.
    QStringList arguments = QApplication::arguments();
    if (arguments.value(1) == QLatin1String("--"))
        arguments.removeAt(1);
    else if (arguments.value(1).startsWith(QLatin1Char('-'))) {
        std::fprintf(stderr, "tidewrack: unknown option %s\n%s\n", qPrintable(arguments.value(1)), UsageLine);
        ReleaseBodiesFolder();
        return 2;
    }
    const int status = [&app, &arguments] {
        // One optional argument: the cache store to open (a folder, or a file in it).
        const auto frm_cache =
            StartTidewrack(QApplication::applicationDirPath() + QLatin1Char('/'), arguments.value(1));
        return app.exec();
    }();
    ReleaseBodiesFolder();
    return status;
}
