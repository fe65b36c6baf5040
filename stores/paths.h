#pragma once
// Path text as the stores take it apart: slash-separated, no normalising, no file system
// access except where the name says so.

#include <string>
#include <string_view>

// The folder holding `path`: the text before its last slash; "/" for a path right below the
// root, "." for a bare name.
std::string ParentOf(std::string_view path);
// The text after the last slash (the whole path when it has none).
std::string BaseName(std::string_view path);
// True when `path` names a folder, following links.
bool IsDirectory(const std::string &path);
// True when `path` names a regular file, following links.
bool IsRegularFile(const std::string &path);
// Up to `count` first bytes of a regular file, opened without blocking (through a link only
// when `followLinks`); fewer when it is shorter, none when it cannot be read.
std::string FileHead(const std::string &path, std::size_t count, bool followLinks = true);
