#include "engine/services.h"

#include "base/strings.h"

#include <cstdio>

namespace quillard {

namespace {
THeadlessServices gHeadless;
IUserServices* gServices = &gHeadless;

// Message texts use CR LF between lines; a terminal wants plain line feeds.
std::string ForTerminal(const std::string& s)
{
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')
            continue;
        out += s[i];
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}
}  // namespace

TMsgResult THeadlessServices::MessageBox(const std::string& Text, const std::string& Caption, TMsgButtons Buttons)
{
    std::fprintf(stderr, "%s: %s\n", ForTerminal(Caption).c_str(), ForTerminal(Text).c_str());
    std::fflush(stderr);
    switch (Buttons) {
    case TMsgButtons::YesNo:
    case TMsgButtons::YesNoCancel:
        return TMsgResult::Yes;
    default:
        return TMsgResult::OK;
    }
}

TMsgResult TOnceServices::MessageBox(const std::string& Text, const std::string& Caption, TMsgButtons Buttons)
{
    if (Buttons != TMsgButtons::OK)
        return FInner.MessageBox(Text, Caption, Buttons);
    std::string key = Caption;
    key += '\0';
    key += Text;
    if (const auto found = FIndex.find(key); found != FIndex.end()) {
        ++FSaid[found->second].Times;
        return TMsgResult::OK;
    }
    if (FSaid.size() >= MaxDistinct) {
        ++FUnsaid;
        return TMsgResult::OK;
    }
    FIndex.emplace(std::move(key), FSaid.size());
    FSaid.push_back(TSaid{Text, Caption, 1});
    return FInner.MessageBox(Text, Caption, Buttons);
}

void TOnceServices::SayRepeats()
{
    for (const TSaid& s : FSaid)
        if (s.Times > 1)
            FInner.MessageBox(s.Text + " (" + GroupedNumber(s.Times) + " times in all)", s.Caption, TMsgButtons::OK);
    if (FUnsaid > 0)
        FInner.MessageBox(GroupedNumber(FUnsaid) + " more message" + (FUnsaid == 1 ? " was" : "s were") +
                              " not shown: only the first " + std::to_string(MaxDistinct) +
                              " different messages are",
                          "Messages", TMsgButtons::OK);
    FSaid.clear();
    FIndex.clear();
    FUnsaid = 0;
}

void SetUserServices(IUserServices* Services) { gServices = Services ? Services : &gHeadless; }
IUserServices& UserServices() { return *gServices; }

namespace {
unsigned gMessagesShown = 0;
}

TMsgResult ShowMessage(const std::string& Text, const std::string& Caption, TMsgButtons Buttons)
{
    ++gMessagesShown;
    return gServices->MessageBox(Text, Caption, Buttons);
}

unsigned MessagesShown() { return gMessagesShown; }
void ProcessMessages() { gServices->ProcessMessages(); }
void MessageBeep() { gServices->Beep(); }

}  // namespace quillard
