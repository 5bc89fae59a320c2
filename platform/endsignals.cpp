#include "platform/endsignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <iterator>
#include <unistd.h>

namespace quillard {

namespace {

constexpr int CaughtSignals[] = {SIGTERM, SIGINT, SIGHUP};
// The pipe from the handler to the event loop: a signal handler may do no
// more than write a byte.
int gPipe[2] = {-1, -1};
// The signals caught here: one that was ignored when the program started
// (nohup, a background job) stays ignored.
bool gCaught[sizeof CaughtSignals / sizeof CaughtSignals[0]] = {};

extern "C" void NoteEndSignal(int Signal)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(Signal);
    [[maybe_unused]] const ssize_t n = ::write(gPipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

TEndSignals::TEndSignals()
{
    if (gPipe[0] >= 0 || ::pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        if (gPipe[0] < 0)
            gPipe[0] = gPipe[1] = -1;
        return;
    }
    FNotifier = std::make_unique<QSocketNotifier>(gPipe[0], QSocketNotifier::Read);
    QObject::connect(FNotifier.get(), &QSocketNotifier::activated, [this] {
        unsigned char byte = 0;
        while (::read(gPipe[0], &byte, 1) == 1)
            if (OnSignal)
                OnSignal(byte);
    });
    struct sigaction action {};
    action.sa_handler = NoteEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < std::size(CaughtSignals); ++i) {
        struct sigaction before {};
        gCaught[i] = ::sigaction(CaughtSignals[i], nullptr, &before) == 0 && before.sa_handler != SIG_IGN &&
                     ::sigaction(CaughtSignals[i], &action, nullptr) == 0;
    }
}

TEndSignals::~TEndSignals()
{
    if (!FNotifier)
        return;
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < std::size(CaughtSignals); ++i)
        if (gCaught[i])
            ::sigaction(CaughtSignals[i], &action, nullptr);
    FNotifier.reset();
    ::close(gPipe[0]);
    ::close(gPipe[1]);
    gPipe[0] = gPipe[1] = -1;
}

}  // namespace quillard
