#pragma once
// The program's message boxes: captioned "提示", application-modal, with the platform's
// icon and button flags. Tests install a responder so that no box ever blocks them.

#include <QString>

#include <functional>

class QWidget;

// Platform flag and answer values the callers pass and compare.
namespace MB {
constexpr unsigned OK = 0x0;
constexpr unsigned YESNO = 0x4;
constexpr unsigned ICONERROR = 0x10;
constexpr unsigned ICONQUESTION = 0x20;
constexpr unsigned ICONWARNING = 0x30;
constexpr unsigned ICONINFORMATION = 0x40;
constexpr unsigned SYSTEMMODAL = 0x1000;
} // namespace MB
constexpr int IDOK = 1;
constexpr int IDIGNORE = 5; // the second button of a box that offers to skip the rest
constexpr int IDYES = 6;
constexpr int IDNO = 7;

struct MessageBoxRequest {
    QString caption;
    QString text;
    unsigned flags;
    QString skipCaption = {}; // a box that offers to skip the rest: its second button
};

// Answers every box instead of showing it (tests); an empty function restores real boxes.
void SetMessageBoxResponder(std::function<int(const MessageBoxRequest &)> responder);

// Shows a box and returns the pressed button's code (IDOK, IDYES, IDNO).
int ShowMessageBox(QWidget *owner, const QString &caption, const QString &text, unsigned flags);
// A box with OK and a second button `skipCaption` for not being asked again about the same:
// returns IDOK, or IDIGNORE for the second button. Esc and the close box count as OK.
int ShowSkipBox(QWidget *owner, const QString &caption, const QString &text, unsigned flags,
                const QString &skipCaption);

int AskBox(const QString &text, unsigned flags);
void MsgBox(const QString &text, unsigned flags);
void InfoBox(const QString &text);

// The application's default error report: a box with a stop icon titled "Tidewrack".
void ShowErrorReport(const QString &text);
