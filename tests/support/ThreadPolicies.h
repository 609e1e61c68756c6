#pragma once

#include <QDir>
#include <QFile>
#include <QList>

#include <algorithm>
#include <pthread.h>
#include <sched.h>
#include <thread>

// The scheduling policies of this process's threads named `name`, each once, in order.
inline QList<int> policiesOfThreads(const QByteArray &name)
{
    QList<int> policies;
    for (const QString &task :
         QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm("/proc/self/task/" + task + "/comm");
        if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != name)
            continue;
        const int policy = sched_getscheduler(pid_t(task.toInt()));
        if (!policies.contains(policy))
            policies.append(policy);
    }
    std::sort(policies.begin(), policies.end());
    return policies;
}

// The policy an audio thread of this process runs under: FIFO where the system grants this
// process a real-time priority (asked of a thread of the test's own), the ordinary one where not.
inline int audioThreadPolicy()
{
    bool granted = false;
    std::thread([&granted] {
        sched_param param{};
        param.sched_priority = sched_get_priority_min(SCHED_FIFO) + 10;
        granted = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
    }).join();
    return granted ? SCHED_FIFO : SCHED_OTHER;
}
