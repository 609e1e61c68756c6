#pragma once

#include "platform/asio/AsioTypes.h"

#include <cstdint>

namespace platform::asio {

// What the host is called back with. The period callbacks run on the driver's real-time
// thread; the rate and message callbacks on whichever thread the driver notices the change in.
class HostCallbacks
{
public:
    virtual ~HostCallbacks() = default;
    // Process the half `index`; `directProcess` false means the host may not process now.
    virtual void bufferSwitch(int index, bool directProcess) = 0;
    // The same with the period's time information.
    virtual void bufferSwitchTimeInfo(const TimeInfo &time, int index, bool directProcess) = 0;
    virtual void sampleRateChanged(double rate) = 0;
    virtual int message(int selector, int value) = 0;
};

// One loaded driver. The host calls these in the documented order: init, the queries, buffer
// creation, start; then stop, buffer disposal and exit. The queries work without buffers and
// may be repeated. stop() may be called from inside a period callback: the driver then makes no
// further callbacks and leaves its real-time thread alone until it is stopped again from
// another thread, disposed or exited. No period callback starts after stop() returns.
class Driver
{
public:
    virtual ~Driver() = default;
    virtual Error init() = 0;
    virtual Error exit() = 0;
    virtual Error start() = 0;
    virtual Error stop() = 0;
    virtual Error channels(int *inputs, int *outputs) = 0;
    virtual Error bufferSize(int *minimum, int *maximum, int *preferred, int *granularity) = 0;
    virtual Error sampleRate(double *rate) = 0;
    virtual Error setSampleRate(double rate) = 0;
    virtual Error channelInfo(ChannelInfo *info) = 0;
    virtual Error createBuffers(BufferInfo *infos, int count, int frames, HostCallbacks *callbacks)
            = 0;
    virtual Error disposeBuffers() = 0;
    // The host has filled the output half of this period.
    virtual Error outputReady() = 0;
    virtual Error samplePosition(int64_t *position, int64_t *systemTimeNs) = 0;
};

} // namespace platform::asio
