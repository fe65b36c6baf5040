#pragma once
// A scripted answerer: records every question and report the code under test puts to the
// user, and gives the planned answer instead of showing a box.

#include "windows/messagebox.h"

#include <QList>
#include <QStringList>

#include <functional>

class ScriptedAnswerer : public Answerer {
public:
    int answer(const MessageBoxRequest &request) override
    {
        asked << request;
        return reply ? reply(request) : plan;
    }
    // The texts asked, in order.
    QStringList texts() const
    {
        QStringList all;
        for (const MessageBoxRequest &request : asked)
            all << request.text;
        return all;
    }

    QList<MessageBoxRequest> asked;
    int plan = IDOK;                                     // the answer to every box...
    std::function<int(const MessageBoxRequest &)> reply; // ...unless this answers
};
