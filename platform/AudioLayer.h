#pragma once

#include "platform/Result.h"
#include "platform/WaveFormat.h"

#include <QString>
#include <chrono>
#include <cstdint>
#include <memory>
#include <variant>

// The audio layer the WASAPI backend talks to: an enumerator of endpoints (each a render or a
// capture side of a device, with a stable string id, a friendly name and the engine's device
// format), default endpoints, and per endpoint a shared-mode audio client that moves 32-bit
// float frames through a render buffer or capture packets, waking its user through an event
// once per engine period. Every call answers with a Result; outputs come through pointers.
namespace platform {

class Event;

enum class DataFlow { Render = 0, Capture = 1, All = 2 };
enum class Role { Console = 0, Multimedia = 1, Communications = 2 };
enum class ShareMode { Shared = 0, Exclusive = 1 };
enum class PropertyKey { FriendlyName, EngineDeviceFormat };

constexpr uint32_t deviceStateActive = 0x1;

// Time in units of 100 ns, as buffer durations and periods are given.
using RefTime = int64_t;
constexpr RefTime refTimePerSecond = 10'000'000;

// A moment as the audio clients give it (a performance-counter position): the steady clock
// (CLOCK_MONOTONIC) in units of 100 ns; 0 where the device tells no time.
using QpcTime = uint64_t;
using QpcTicks = std::chrono::duration<int64_t, std::ratio<1, refTimePerSecond>>;

inline QpcTime qpcFrom(std::chrono::steady_clock::time_point t)
{
    return QpcTime(std::chrono::duration_cast<QpcTicks>(t.time_since_epoch()).count());
}

inline std::chrono::steady_clock::time_point timeOfQpc(QpcTime qpc)
{
    return std::chrono::steady_clock::time_point(
            std::chrono::duration_cast<std::chrono::steady_clock::duration>(QpcTicks(qpc)));
}

namespace streamflags {
constexpr uint32_t EventCallback = 0x00040000;
constexpr uint32_t AutoConvertPcm = 0x80000000;
} // namespace streamflags

namespace bufferflags {
constexpr uint32_t DataDiscontinuity = 0x1;
constexpr uint32_t Silent = 0x2;
constexpr uint32_t TimestampError = 0x4;
} // namespace bufferflags

// An empty value stands for a property the endpoint does not have.
using PropertyValue = std::variant<std::monostate, QString, WaveFormat>;

class PropertyStore
{
public:
    virtual ~PropertyStore() = default;
    virtual Result value(PropertyKey key, PropertyValue *value) = 0;
};

class Endpoint
{
public:
    virtual ~Endpoint() = default;
    virtual Result dataFlow(DataFlow *flow) = 0;
};

class RenderClient
{
public:
    virtual ~RenderClient() = default;
    // A writable area of `frames` frames; frames must not exceed buffer size minus padding.
    virtual Result buffer(uint32_t frames, uint8_t **data) = 0;
    // Queues the frames written into the area for playback; flags may carry Silent.
    virtual Result releaseBuffer(uint32_t frames, uint32_t flags) = 0;
};

class CaptureClient
{
public:
    virtual ~CaptureClient() = default;
    // Frames of the oldest captured packet, 0 when none is waiting.
    virtual Result nextPacketSize(uint32_t *frames) = 0;
    // The oldest packet: its samples, frames and flags, the device position of its first frame
    // (frames the device captured since the stream started, those lost included) and when
    // that frame was captured by the device's clock (0 where the device told no time). A
    // packet after a gap carries DataDiscontinuity, and TimestampError too when the position
    // does not tell how long the gap was.
    virtual Result buffer(uint8_t **data, uint32_t *frames, uint32_t *flags,
                          uint64_t *devicePosition, QpcTime *qpcPosition)
            = 0;
    virtual Result releaseBuffer(uint32_t frames) = 0;
};

class AudioClient
{
public:
    virtual ~AudioClient() = default;
    virtual Result mixFormat(WaveFormat *format) = 0;
    virtual Result devicePeriod(RefTime *defaultPeriod, RefTime *minimumPeriod) = 0;
    virtual Result initialize(ShareMode mode, uint32_t streamFlags, RefTime bufferDuration,
                              RefTime periodicity, const WaveFormat &format)
            = 0;
    virtual Result setEventHandle(std::shared_ptr<Event> event) = 0;
    virtual Result bufferSize(uint32_t *frames) = 0;
    // Render: frames queued and not yet played. Capture: frames captured and not yet taken.
    virtual Result currentPadding(uint32_t *frames) = 0;
    // The device's own share of the latency, as last seen. Render: frames the client has handed
    // on that will play before the first frame of its buffer. Capture: frames the device had
    // captured that the client had not yet taken.
    virtual Result deviceDelay(uint32_t *frames) = 0;
    // Render: when a frame of the stream leaves the device, by the device's clock as last read:
    // the frame `position` (frames released into the buffer since the start, counted from 0)
    // at `qpcPosition`, which may lie ahead. Both 0 until the device has told a time, and for
    // a device that tells none. Capture: both 0 (packets carry their own time).
    virtual Result clock(uint64_t *position, QpcTime *qpcPosition) = 0;
    virtual Result renderClient(std::shared_ptr<RenderClient> *client) = 0;
    virtual Result captureClient(std::shared_ptr<CaptureClient> *client) = 0;
    virtual Result start() = 0;
    virtual Result stop() = 0;
};

class Device
{
public:
    virtual ~Device() = default;
    virtual Result id(QString *id) = 0;
    virtual Result endpoint(std::shared_ptr<Endpoint> *endpoint) = 0;
    virtual Result openPropertyStore(std::shared_ptr<PropertyStore> *store) = 0;
    virtual Result activateAudioClient(std::shared_ptr<AudioClient> *client) = 0;
};

class DeviceCollection
{
public:
    virtual ~DeviceCollection() = default;
    virtual Result count(uint32_t *count) = 0;
    virtual Result item(uint32_t index, std::shared_ptr<Device> *device) = 0;
};

class DeviceEnumerator
{
public:
    virtual ~DeviceEnumerator() = default;
    virtual Result enumAudioEndpoints(DataFlow flow, uint32_t stateMask,
                                      std::shared_ptr<DeviceCollection> *devices)
            = 0;
    virtual Result defaultAudioEndpoint(DataFlow flow, Role role, std::shared_ptr<Device> *device)
            = 0;
    // The two sides of one device (it plays and records) may share an id: `flow` chooses the
    // side, DataFlow::All either. An id the device had before may also find it; its id() then
    // gives the one it has now.
    virtual Result device(const QString &id, DataFlow flow, std::shared_ptr<Device> *device) = 0;
};

// The entry point: makes enumerators and the events the audio clients signal.
class AudioSystem
{
public:
    virtual ~AudioSystem() = default;
    virtual Result createDeviceEnumerator(std::shared_ptr<DeviceEnumerator> *enumerator) = 0;
    // Null when no event can be made.
    virtual std::shared_ptr<Event> createEvent() = 0;
};

// The audio system of this machine (ALSA), shared by all its users.
std::shared_ptr<AudioSystem> systemAudio();

} // namespace platform
