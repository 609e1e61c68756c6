#pragma once

#include <QProcess>
#include <QThread>

#include <csignal>
#include <memory>
#include <sys/prctl.h>
#include <vector>

// Programs that keep every processor busy beside the test, each in a session of its own as
// other work on the machine would be (a kernel that shares processor time out by session
// gives each its share), for as long as this lives.
class BusyLoops
{
public:
    explicit BusyLoops(int count)
    {
        for (int i = 0; i < count; ++i) {
            auto loop = std::make_unique<QProcess>();
            // A test that aborts must not leave them spinning through the rest of the suite.
            loop->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
            loop->start("setsid", {"sh", "-c", "while :; do :; done"});
            if (loop->waitForStarted())
                loops_.push_back(std::move(loop));
        }
    }
    ~BusyLoops()
    {
        for (const auto &loop : loops_) {
            loop->kill();
            loop->waitForFinished();
        }
    }
    int count() const { return int(loops_.size()); }

private:
    std::vector<std::unique_ptr<QProcess>> loops_;
};

// As many busy loops as the test run may use processors (the test command says how many), else
// as many as the machine has.
inline int processorsOfTheRun()
{
    bool ok = false;
    const int jobs = qEnvironmentVariableIntValue("SNT_JOBS", &ok);
    return ok && jobs > 0 ? jobs : QThread::idealThreadCount();
}
