#include "startup/TerminationRequest.h"

#include <cstdlib>

namespace snt::startup {

namespace {

// The signal noted, 0 while none came; written by the handler, which may do no more than that.
volatile std::sig_atomic_t noted = 0;

} // namespace

TerminationRequest::TerminationRequest()
{
    noted = 0;
    struct sigaction action = {};
    action.sa_handler = &TerminationRequest::note;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, &previousTerm_);
    sigaction(SIGINT, &action, &previousInt_);
}

TerminationRequest::~TerminationRequest()
{
    sigaction(SIGTERM, &previousTerm_, nullptr);
    sigaction(SIGINT, &previousInt_, nullptr);
}

void TerminationRequest::note(int signal)
{
    noted = signal;
}

bool TerminationRequest::requested() const
{
    return noted != 0;
}

void TerminationRequest::end() const
{
    const int signal = noted;
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    std::_Exit(128 + signal); // only if the signal was blocked
}

} // namespace snt::startup
