// What the preview window knows of the automation server of its process:
// whether one is published and for whom, its registration, and the look at
// whether a process the bus started has anything left to do. The server
// layer (autoserver.h) is the one implementation; the window holds it
// through this interface, so the window and the server do not depend on
// each other.
#pragma once

#include "app/switches.h"

#include <memory>
#include <string>

namespace quillard {

class TAutomationPresence {
public:
    virtual ~TAutomationPresence() = default;
    // Whether the server is published on a bus.
    virtual bool Exists() const = 0;
    // The window is shown at start and closing it ends the program unless a
    // server exists and a client started the process.
    virtual bool StandAlone() const = 0;
    // Number of clients that called the server and are still on the bus.
    virtual int ObjectCount() const = 0;
    // Writes or removes the server's registration; false with the reason in
    // Error.
    virtual bool Register(std::string* Reason) = 0;
    virtual bool Unregister(std::string* Reason) = 0;
    // Looks again whether a process the bus started has anything left to do.
    virtual void CheckIdle() = 0;
    // The window has finished loading a report, loaded or not: clients
    // hear of it.
    virtual void LoadEnded(bool Loaded) { (void)Loaded; }
    // Whether a client's Close was answered while the window was busy and
    // waits for its turn: work that can be given up (a transfer, writing
    // into a stalled FIFO or socket) stops.
    virtual bool CloseWaiting() const { return false; }
};

// The server layer of a process started with Switches, not yet published.
std::unique_ptr<TAutomationPresence> MakeAutomationPresence(const TStartSwitches& Switches);

}  // namespace quillard
