#include "firefoxwriter.h"

BrowserWriteResult WriteFirefoxStore(const std::string &, const std::vector<BrowserWriterEntry> &,
                                     const BrowserWriterOptions &)
{
    BrowserWriteResult result;
    result.error = "the Firefox cache writer is not built yet";
    return result;
}
