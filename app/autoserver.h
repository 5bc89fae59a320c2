// The automation server layer as start-up sees it: whether a server object
// exists, whether a client started the process, and the server's
// registration. This build has no automation server yet, so no server
// exists, the program always runs as a plain viewer, and registration
// reports failure with the reason in Error.
#pragma once

#include "app/switches.h"

#include <string>

namespace quillard {

class TAutomationServerLayer {
public:
    explicit TAutomationServerLayer(const TStartSwitches& Switches) : FSwitches(Switches) {}
    // Whether the server object was created (never without "NOREGSERVER"
    // either, in this build).
    bool Exists() const { return false; }
    // Started by an automation client ("AUTOMATION" or "EMBEDDING").
    bool StartedByAutomation() const { return FSwitches.Automation; }
    // The window is shown at start and closing it ends the program unless a
    // server exists and a client started the process.
    bool StandAlone() const { return !Exists() || !StartedByAutomation(); }
    // Number of objects clients hold.
    int ObjectCount() const { return 0; }
    bool Register(std::string& Error);
    bool Unregister(std::string& Error);

private:
    TStartSwitches FSwitches;
};

}  // namespace quillard
