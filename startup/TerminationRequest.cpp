#include "startup/TerminationRequest.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace snt::startup {

namespace {

constexpr std::array endingSignals = {SIGTERM, SIGINT, SIGHUP};

// The signal noted, 0 while none came; written by the handler.
volatile std::sig_atomic_t noted = 0;
// The handler writes a byte into it, which wakes an event loop waiting for its read end: the one
// thing besides noting that a handler may do. It is made once and kept while the program runs,
// so that a handler still running on another thread as the last request goes never writes into a
// descriptor closed and given to a file meanwhile.
int wakeUp[2] = {-1, -1};
std::array<struct sigaction, endingSignals.size()> previous = {};
int living = 0;

void note(int signal)
{
    const int error = errno;
    noted = signal;
    const char byte = 0;
    // When the pipe is full it is readable already.
    [[maybe_unused]] const ssize_t written = ::write(wakeUp[1], &byte, 1);
    errno = error;
}

// Empties the pipe, so that it wakes again only for a signal still to come.
void drainWakeUps()
{
    char bytes[64];
    while (::read(wakeUp[0], bytes, sizeof bytes) > 0) { }
}

// Without the pipe a signal noted would never wake the event loop: the signals then end the
// program at once, as they do without a request.
void install()
{
    const bool canWake = wakeUp[0] >= 0 || ::pipe2(wakeUp, O_CLOEXEC | O_NONBLOCK) == 0;
    drainWakeUps();
    noted = 0;
    struct sigaction action = {};
    action.sa_handler = &note;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < endingSignals.size(); ++i) {
        sigaction(endingSignals[i], nullptr, &previous[i]);
        if (canWake && previous[i].sa_handler != SIG_IGN)
            sigaction(endingSignals[i], &action, nullptr);
    }
}

void restore()
{
    for (std::size_t i = 0; i < endingSignals.size(); ++i)
        sigaction(endingSignals[i], &previous[i], nullptr);
}

} // namespace

TerminationRequest::TerminationRequest()
{
    if (living++ == 0)
        install();
}

TerminationRequest::~TerminationRequest()
{
    if (--living == 0)
        restore();
}

bool TerminationRequest::requested() const
{
    return noted != 0;
}

int TerminationRequest::runEventLoop() const
{
    QSocketNotifier signalled(wakeUp[0], QSocketNotifier::Read);
    QObject::connect(&signalled, &QSocketNotifier::activated, &signalled, [] {
        drainWakeUps();
        QCoreApplication::quit();
    });
    return QCoreApplication::exec();
}

void TerminationRequest::end() const
{
    const int signal = noted;
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    std::_Exit(128 + signal); // only if the signal was blocked
}

} // namespace snt::startup
