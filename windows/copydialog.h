#pragma once
// The program's copy with progress: a modal window titled "复制文档..." with a progress bar
// and a cancel button (no file names), the question before an existing file is replaced,
// and a message for each file that could not be copied, put to the caller's answerer. Tests
// answer the replace question through SetReplaceQuestionResponder.

#include "platform/filecopy.h"

#include <QDialog>
#include <QElapsedTimer>

#include <functional>

class Answerer;
class QProgressBar;
class QPushButton;

// What the replace question shows.
struct ReplaceQuestion {
    QString destination; // full path of the existing file
    QString text;        // the question as the user reads it
};

// Answers every replace question instead of asking (tests); an empty function restores the
// real question.
void SetReplaceQuestionResponder(std::function<ReplaceAnswer(const ReplaceQuestion &)> responder);

// The user's words for why a file could not be copied.
QString CopyErrorText(const CopyFailure &failure);

// The progress window itself, shown while the copy runs on the interface thread.
class CopyProgressWindow : public QDialog {
    Q_OBJECT
public:
    explicit CopyProgressWindow(QWidget *owner = nullptr);

    // Moves the bar; lets pending events run at most every PaintIntervalMs so that the window
    // stays painted and the cancel button answers. False once the user has cancelled.
    bool updateProgress(const CopyProgress &progress);
    bool cancelRequested() const { return m_cancelled; }

    static constexpr int PaintIntervalMs = 50;

public slots:
    void reject() override; // Esc and the cancel button: cancel, the copy closes the window

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QProgressBar *m_bar = nullptr;
    QPushButton *m_cancel = nullptr;
    QElapsedTimer m_sincePaint;
    bool m_cancelled = false;
};

// Copies `sources` to `target` (one source: the target is the full destination path;
// several: the target is a folder) with the progress window over `owner`; a file that could
// not be copied is told to `answerer`. Returns when done.
CopyResult RunCopyWithProgress(QWidget *owner, Answerer &answerer, const QStringList &sources, const QString &target);
