#include "common/ThreadPriority.h"

#include <sched.h>

namespace realtime {

int raiseToAudioPriority(pthread_t thread)
{
    sched_param param{};
    param.sched_priority = sched_get_priority_min(SCHED_FIFO) + 10;
    return pthread_setschedparam(thread, SCHED_FIFO, &param);
}

void returnToOrdinaryPriority()
{
    sched_param param{};
    pthread_setschedparam(pthread_self(), SCHED_OTHER, &param);
}

} // namespace realtime
