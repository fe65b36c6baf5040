#pragma once
// The program's logging categories. Warnings of every category reach standard error by
// default; QT_LOGGING_RULES (for example "tidewrack.*.debug=true") turns on more.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcStore) // tidewrack.store: the cache store as the window reads it
Q_DECLARE_LOGGING_CATEGORY(lcUi)    // tidewrack.ui: the window and its own files
