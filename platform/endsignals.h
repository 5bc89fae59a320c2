// The signals that ask the program to end (SIGTERM, SIGINT, SIGHUP): caught
// and handed to the event loop, where the program ends as it does when its
// user closes it, its temporary files removed, instead of dying where it
// stands.
#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

namespace quillard {

class TEndSignals {
public:
    // Catches the signals from now on; one object at a time.
    TEndSignals();
    // Gives the signals their default handling back.
    ~TEndSignals();
    TEndSignals(const TEndSignals&) = delete;
    TEndSignals& operator=(const TEndSignals&) = delete;

    // Called in the event loop with each signal that arrived.
    std::function<void(int Signal)> OnSignal;
    // Whether the signals are caught (a pipe could be made).
    bool Active() const { return FNotifier != nullptr; }

private:
    std::unique_ptr<QSocketNotifier> FNotifier;
};

}  // namespace quillard
