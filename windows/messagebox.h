#pragma once
// The program's message boxes: captioned "提示", application-modal, with the platform's
// icon and button flags. The window's concerns ask and report through an Answerer they are
// given, so that a test answers with planned replies and no box ever blocks it.

#include <QString>

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
    QWidget *owner = nullptr; // null: the program's active or first shown window
};

// Who answers the program's questions and reads its reports: the user through real boxes
// (MessageBoxAnswerer), or a test's script.
class Answerer {
public:
    virtual ~Answerer() = default;
    // Puts `request` to the user; returns the pressed button's code (IDOK, IDYES, IDNO,
    // IDIGNORE for a skip box's second button).
    virtual int answer(const MessageBoxRequest &request) = 0;

    // The usual box, captioned "提示" and modal to the whole program.
    int ask(const QString &text, unsigned flags)
    {
        return answer({QStringLiteral("提示"), text, flags | MB::SYSTEMMODAL});
    }
    void tell(const QString &text, unsigned flags) { ask(text, flags); }
    // The error report: a box with a stop icon titled "Tidewrack".
    void report(const QString &text) { answer({QStringLiteral("Tidewrack"), text, MB::ICONERROR}); }
    // A box with OK and a second button `skipCaption` for not being asked again about the
    // same: IDOK, or IDIGNORE for the second button. Esc and the close box count as OK.
    int askSkip(QWidget *owner, const QString &caption, const QString &text, unsigned flags, const QString &skipCaption)
    {
        return answer({caption, text, flags, skipCaption, owner});
    }
};

// Shows each request as a real message box.
class MessageBoxAnswerer final : public Answerer {
public:
    int answer(const MessageBoxRequest &request) override;
};
