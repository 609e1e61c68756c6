#pragma once

#include <QString>
#include <QStringList>

// The EQ engine's optional trace: when the environment variable SNT_EQ_TRACE names a file, the
// lane of the first target records its working values, and the driver writes them there.
namespace snt::eq {

// The lines recorded by the current lane thread.
struct LaneTrace
{
    bool on = false;
    QStringList lines;
};

// True when SNT_EQ_TRACE is set to a non-empty value (read once per process).
bool traceEnabled();

// The calling thread's trace record.
LaneTrace &laneTrace();

// Appends a line when the calling lane records; `line` is only built when it does.
template<typename MakeLine>
void traceLine(MakeLine makeLine)
{
    LaneTrace &trace = laneTrace();
    if (trace.on)
        trace.lines.append(makeLine());
}

// When the calling lane recorded, its lines replace the shared trace.
void publishLaneTrace();

// The lines of the last traced computation.
QStringList sharedTrace();

} // namespace snt::eq
