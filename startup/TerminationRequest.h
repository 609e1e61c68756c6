#pragma once

namespace snt::startup {

// While one lives, SIGTERM, SIGINT and SIGHUP (a logout or shutdown, Ctrl+C, a closed terminal)
// no longer end the program at once: they are only noted, so that the program ends its own way
// and leaves its files in order. A headless run checks requested() and stops; the program with
// windows runs its event loop through runEventLoop(), which a signal quits. end() then ends the
// program by the noted signal, as the signal itself would have, so whoever sent it sees it so.
// A signal the process ignores when the first request is made (nohup's SIGHUP, the SIGINT of a
// script's background job) stays ignored. Requests made while another lives share its handler and
// what it noted: the program has one from its start, and the EQ batch one of its own inside it.
class TerminationRequest
{
public:
    TerminationRequest();
    ~TerminationRequest();
    TerminationRequest(const TerminationRequest &) = delete;
    TerminationRequest &operator=(const TerminationRequest &) = delete;

    bool requested() const;

    // QCoreApplication::exec(), quit by a signal noted before or while it runs as the last
    // window's close quits it (the windows close, aboutToQuit is emitted); its exit code.
    int runEventLoop() const;

    [[noreturn]] void end() const;
};

} // namespace snt::startup
