#pragma once
// The subcommands of tidewrack-bench. Each takes the arguments after its name and returns
// the process exit code.

#include "catalogue/entry.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

class CacheStore;
class QApplication;

using Arguments = std::vector<std::string>;

int RunList(const Arguments &args);
int RunLoad(const Arguments &args);
int RunDelete(const Arguments &args);
// The painted part of view --all-columns; only the painting bench has it.
using AllColumnsRun = int (*)(CacheList &catalogue, const std::string &host, long repeat);
int RunAllColumns(CacheList &catalogue, const std::string &host, long repeat);
int RunView(const Arguments &args, AllColumnsRun allColumnsRun);
int RunSearch(const Arguments &args);
int RunBody(const Arguments &args);
int RunExport(const Arguments &args);
int RunFields(const Arguments &args);
int RunText(const Arguments &args);
// The program's window driven offscreen; `started` is when main() began.
int RunWindow(const Arguments &args, std::chrono::steady_clock::time_point started);

// The middle value of timed runs (the mean of the two middle ones for an even count).
double Median(std::vector<double> values);

// Opens STORE (a cache folder of any kind the program reads, or a file in it) and makes it the
// process's store. Prints the reason and returns null when there is no readable store there.
std::shared_ptr<CacheStore> UseStore(const std::string &path);

// The widget application of the measures that paint, offscreen unless QT_QPA_PLATFORM names
// another platform.
class PaintingApplication {
public:
    PaintingApplication();
    ~PaintingApplication();
    PaintingApplication(const PaintingApplication &) = delete;
    PaintingApplication &operator=(const PaintingApplication &) = delete;

private:
    int m_argc = 1;
    char m_name[16] = "tidewrack-bench";
    char *m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QApplication> m_app;
};
