// The user-interface services the engine calls: message boxes, the message
// pump and the beep. The GUI installs Qt implementations; without one the
// headless implementation writes "caption: text" to stderr and pumps nothing.
#pragma once

#include <string>

namespace quillard {

enum class TMsgButtons { OK, OKCancel, YesNo, YesNoCancel };
enum class TMsgResult { OK, Cancel, Yes, No };

class IUserServices {
public:
    virtual ~IUserServices() = default;
    virtual TMsgResult MessageBox(const std::string& Text, const std::string& Caption, TMsgButtons Buttons) = 0;
    virtual void ProcessMessages() = 0;
    virtual void Beep() = 0;
};

// The headless implementation: messages go to stderr, the default answer is
// OK (Yes for yes/no questions), nothing is pumped.
class THeadlessServices : public IUserServices {
public:
    TMsgResult MessageBox(const std::string& Text, const std::string& Caption, TMsgButtons Buttons) override;
    void ProcessMessages() override {}
    void Beep() override {}
};

// Installs the services the engine uses (nullptr restores the headless ones).
// The caller keeps ownership.
void SetUserServices(IUserServices* Services);
IUserServices& UserServices();

// Shorthands used throughout the engine.
TMsgResult ShowMessage(const std::string& Text, const std::string& Caption,
                       TMsgButtons Buttons = TMsgButtons::OK);
void ProcessMessages();
void MessageBeep();
// How many messages ShowMessage has shown so far: whoever wants to know
// whether some work spoke compares the counts before and after it.
unsigned MessagesShown();

}  // namespace quillard
