#pragma once
// Where SetOffline / IsOffline keep the offline browsing state: in memory, and in a small
// file so that it survives a restart.

#include <string>

// The file used by default: $XDG_CONFIG_HOME/tidewrack/offline (~/.config/tidewrack/offline).
std::string DefaultOfflineStateFile();

// Reads the state from `path` (missing, unreadable or not a regular file: online) and keeps
// later changes there.
void UseOfflineStateFile(const std::string &path);
