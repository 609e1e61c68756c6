#pragma once

#include <csignal>

namespace snt::startup {

// While one lives, SIGTERM and SIGINT no longer end the program at once: they are only noted, so
// that a headless run stops at its next check and leaves its files in order. end() then ends the
// program by the noted signal, as the signal itself would have, so whoever sent it sees it so.
class TerminationRequest
{
public:
    TerminationRequest();
    ~TerminationRequest();
    TerminationRequest(const TerminationRequest &) = delete;
    TerminationRequest &operator=(const TerminationRequest &) = delete;

    bool requested() const;
    [[noreturn]] void end() const;

private:
    static void note(int signal);

    struct sigaction previousTerm_ = {};
    struct sigaction previousInt_ = {};
};

} // namespace snt::startup
