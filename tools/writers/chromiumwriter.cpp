#include "chromiumwriter.h"

BrowserWriteResult WriteChromiumSimpleStore(const std::string &, const std::vector<BrowserWriterEntry> &,
                                            const BrowserWriterOptions &)
{
    BrowserWriteResult result;
    result.error = "the Chromium cache writer is not built yet";
    return result;
}
