// tidewrack-bench-paint: the bench commands that paint the program's own controls offscreen
// (text, view --all-columns, window). tidewrack-bench hands them over, so that it links no widgets.

#include "bench.h"

#include "platform/processmemory.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

PaintingApplication::PaintingApplication()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    m_app = std::make_unique<QApplication>(m_argc, m_argv);
}

PaintingApplication::~PaintingApplication() = default;

int main(int argc, char **argv)
{
    const auto started = std::chrono::steady_clock::now();
    KeepLargeBuffersOffHeap(); // the same setting the program makes at start
    if (argc >= 2 && !std::strcmp(argv[1], "text"))
        return RunText(Arguments(argv + 2, argv + argc));
    if (argc >= 2 && !std::strcmp(argv[1], "window"))
        return RunWindow(Arguments(argv + 2, argv + argc), started);
    if (argc >= 2 && !std::strcmp(argv[1], "view"))
        return RunView(Arguments(argv + 2, argv + argc), RunAllColumns);
    std::fputs("usage: tidewrack-bench-paint text FILE [--repeat N]\n"
               "       tidewrack-bench-paint view STORE HOST [--repeat N] [--all-columns]\n"
               "       tidewrack-bench-paint window STORE [--text WORD] [--until tree|host|search]\n",
               stderr);
    return 2;
}
