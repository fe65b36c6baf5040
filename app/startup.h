#pragma once
// The program's start-up, shared by main() and the end-to-end test: the splash, the user's
// cache store, the offline state and the main window, in that order.

#include <QString>

#include <memory>

class Answerer;
class Tfrm_cache;

// Call before the application object exists.
void PrepareProcess();

// Shows the splash, opens the user's store, makes and shows the main window (whose first
// showing loads the catalogue and drops the splash). `appDir` is the executable's folder;
// `store` the store named on the command line (empty: none); the window's questions go to
// `answerer`, or to real message boxes without one.
std::unique_ptr<Tfrm_cache> StartTidewrack(const QString &appDir, const QString &store = QString(),
                                           Answerer *answerer = nullptr);
