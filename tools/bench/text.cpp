// tidewrack-bench text FILE [--repeat N]: the text preview of one file as the window shows
// it: read (at most the preview's limit), decode, put into a read-only text viewer and paint
// its first screen. A file without line breaks is the hard case.

#include "bench.h"

#include "app/preview.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QTextBlock>

#include <chrono>
#include <cstdio>
#include <cstdlib>

int RunText(const Arguments &args)
{
    long repeat = 1;
    if (args.size() == 3 && args[1] == "--repeat")
        repeat = std::strtol(args[2].c_str(), nullptr, 10);
    if ((args.size() != 1 && args.size() != 3) || repeat < 1) {
        std::fputs("usage: tidewrack-bench text FILE [--repeat N]\n", stderr);
        return 2;
    }
    const PaintingApplication app;

    // The viewer as the window makes it, at a window's size.
    QPlainTextEdit viewer;
    viewer.setReadOnly(true);
    viewer.resize(900, 400);
    viewer.show();

    const QString path = QString::fromLocal8Bit(args[0].c_str());
    std::vector<double> times;
    qsizetype characters = 0;
    int longest = 0;
    for (long i = 0; i < repeat; ++i) {
        viewer.clear();
        QApplication::processEvents();
        const auto start = std::chrono::steady_clock::now();
        const std::optional<PreviewText> text = ReadPreviewText(path);
        if (!text) {
            std::fprintf(stderr, "tidewrack-bench: cannot open %s\n", args[0].c_str());
            return 1;
        }
        viewer.setPlainText(text->text);
        viewer.grab(); // lays out and paints what shows
        const auto end = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
        characters = text->text.size();
    }
    for (QTextBlock block = viewer.document()->begin(); block.isValid(); block = block.next())
        longest = std::max(longest, block.length() - 1);
    std::printf("characters: %lld\n", static_cast<long long>(characters));
    std::printf("longest_line: %d\n", longest);
    std::printf("text_ms_median: %.2f\n", Median(times));
    return 0;
}
