#pragma once
// The subcommands of tidewrack-bench. Each takes the arguments after its name and returns
// the process exit code.

#include <memory>
#include <string>
#include <vector>

class CacheStore;

using Arguments = std::vector<std::string>;

int RunList(const Arguments &args);
int RunLoad(const Arguments &args);
int RunDelete(const Arguments &args);
int RunView(const Arguments &args);
int RunSearch(const Arguments &args);
int RunBody(const Arguments &args);
int RunExport(const Arguments &args);
int RunFields(const Arguments &args);
int RunText(const Arguments &args);

// The middle value of timed runs (the mean of the two middle ones for an even count).
double Median(std::vector<double> values);

// Opens STORE (a cache folder of any kind the program reads, or a file in it) and makes it the
// process's store. Prints the reason and returns null when there is no readable store there.
std::shared_ptr<CacheStore> UseStore(const std::string &path);
