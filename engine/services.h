// The user-interface services the engine calls: message boxes, the message
// pump and the beep. The GUI installs Qt implementations; without one the
// headless implementation writes "caption: text" to stderr and pumps nothing.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

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

// Services that say each message once: the same caption and text again is
// counted, not passed on, and SayRepeats tells how often each came. Past
// MaxDistinct different messages the rest are only counted. Questions
// always go through. For runs without a window, whose messages land in a
// terminal or a log.
class TOnceServices : public IUserServices {
public:
    static constexpr size_t MaxDistinct = 200;

    explicit TOnceServices(IUserServices& Inner) : FInner(Inner) {}
    TMsgResult MessageBox(const std::string& Text, const std::string& Caption, TMsgButtons Buttons) override;
    void ProcessMessages() override { FInner.ProcessMessages(); }
    void Beep() override { FInner.Beep(); }
    // Passes on, for every message that came more than once, the message
    // with "(N times in all)", and how many messages were not said at all;
    // then starts counting afresh.
    void SayRepeats();

private:
    struct TSaid {
        std::string Text, Caption;
        int64_t Times = 0;
    };
    IUserServices& FInner;
    std::vector<TSaid> FSaid;  // in the order first said
    std::unordered_map<std::string, size_t> FIndex;
    int64_t FUnsaid = 0;
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
