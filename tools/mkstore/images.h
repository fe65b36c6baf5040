#pragma once
// Tiny valid pictures for written stores, so that previews show real images.

#include <algorithm>
#include <string>

std::string TinyJpeg();
std::string TinyPng();
// A 24x16 GIF; `variant` changes its colours.
std::string TinyGif(unsigned variant = 0);
