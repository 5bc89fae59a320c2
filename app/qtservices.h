// The engine's user-interface services on Qt Widgets: modal message boxes,
// the message pump a long page pass calls, and the beep.
#pragma once

#include "engine/services.h"
#include "platform/qtstrings.h"

#include <QString>
#include <chrono>
#include <functional>
#include <string>

namespace quillard {

// Whether anyone can see and answer the program's windows: not on the
// offscreen platform.
bool Unattended();

// A warning question with Yes and No, No the default; true for Yes.
// Unattended, the question goes to stderr and the default (No) is taken.
bool AskWarning(const std::string& Text, const std::string& Caption);

class TQtUserServices : public IUserServices {
public:
    // A modal message box with Caption as its title. Unattended, the message
    // goes to stderr and the default answer is taken, since nobody could
    // answer the box.
    TMsgResult MessageBox(const std::string& Text, const std::string& Caption, TMsgButtons Buttons) override;
    // Lets pending window messages run. A page pass calls this a few times
    // per line; the window needs it far less often, so calls closer together
    // than PumpInterval return at once.
    void ProcessMessages() override;
    void Beep() override;

    // Run before each pump that does run: the windows bring their progress
    // gauges up to date there.
    std::function<void()> BeforePump;
    std::chrono::milliseconds PumpInterval{10};

private:
    std::chrono::steady_clock::time_point FLastPump{};
    unsigned FCalls = 0;
};

}  // namespace quillard
