#pragma once
// Helpers the tests of the main window share.

#include <initializer_list>

class Tfrm_cache;

// Selects exactly `rows` of the window's document list, as clicks with Ctrl would.
void SelectRows(Tfrm_cache &window, std::initializer_list<int> rows);
