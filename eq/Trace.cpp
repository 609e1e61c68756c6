#include "eq/Trace.h"

#include <QMutex>
#include <QMutexLocker>

namespace snt::eq {

namespace {

QMutex sharedTraceMutex;
QStringList sharedTraceLines;

} // namespace

bool traceEnabled()
{
    static const bool enabled = !qEnvironmentVariable("SNT_EQ_TRACE").isEmpty();
    return enabled;
}

LaneTrace &laneTrace()
{
    thread_local LaneTrace trace;
    return trace;
}

void publishLaneTrace()
{
    const LaneTrace &trace = laneTrace();
    if (!trace.on)
        return;
    QMutexLocker lock(&sharedTraceMutex);
    sharedTraceLines = trace.lines;
}

QStringList sharedTrace()
{
    QMutexLocker lock(&sharedTraceMutex);
    return sharedTraceLines;
}

} // namespace snt::eq
