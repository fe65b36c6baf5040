#pragma once
// The subcommands of tidewrack-bench. Each takes the arguments after its name and returns
// the process exit code.

#include <memory>
#include <string>
#include <vector>

class UrlCacheStore;

using Arguments = std::vector<std::string>;

int RunList(const Arguments &args);
int RunLoad(const Arguments &args);
int RunDelete(const Arguments &args);
int RunView(const Arguments &args);
int RunSearch(const Arguments &args);
int RunText(const Arguments &args);

// The middle value of timed runs (the mean of the two middle ones for an even count).
double Median(std::vector<double> values);

// Opens STORE (a folder holding index.dat, or the file) and makes it the process's store.
// Prints the reason and returns null when there is no index there.
std::shared_ptr<UrlCacheStore> UseStore(const std::string &path);
