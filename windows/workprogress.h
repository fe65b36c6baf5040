#pragma once
// Work that runs off the window's thread behind a modal progress window: the window keeps
// painting, and the progress window shows only when the work takes more than a moment.

#include <functional>

class QProgressDialog;
class QString;

// Names and captions `progress` and makes it window-modal, shown after 400 ms, and kept open
// at its maximum until the caller closes it.
void PrepareWorkProgress(QProgressDialog &progress, const QString &objectName, const QString &title);

// Runs `work` on a thread of its own and returns once it is done; meanwhile the window's
// events go on and `tick` runs on the window's thread every `intervalMs`. Should the event
// loop end first (the program quits), `stop` is called and the work still waited for.
void RunOffWindowThread(const std::function<void()> &work, const std::function<void()> &tick, int intervalMs,
                        const std::function<void()> &stop);
