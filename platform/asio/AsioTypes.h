#pragma once

#include <QString>
#include <array>
#include <cstdint>

// The vocabulary of the callback-driven pro-audio host layer: one driver at a time owns a set of
// input and output channels, each with a sample format and two buffer halves. While it runs,
// the driver calls the host once per period with the index of the half that is the host's to
// read (inputs) and fill (outputs); the other half belongs to the hardware meanwhile.
namespace platform::asio {

// Every host call answers 0 for success or one of the negative codes below.
using Error = int;

namespace error {
constexpr Error Ok = 0;
constexpr Error NotPresent = -1000; // no driver loaded, no hardware, no server
constexpr Error HardwareMalfunction = -999;
constexpr Error InvalidParameter = -998;
constexpr Error InvalidMode = -997;
constexpr Error NotRunning = -996; // sample position asked while stopped
constexpr Error NoClock = -995; // the rate cannot be set or determined
constexpr Error NoMemory = -994;
} // namespace error

// How a channel's samples are stored in its buffer halves (little-endian, packed). A driver may
// report a value outside this list; hosts must refuse such a channel.
enum class SampleType : int {
    Int16 = 16,
    Int24 = 17,
    Int32 = 18,
    Float32 = 19,
    Float64 = 20,
};

// Bytes per sample of a known type, 0 for any other value.
constexpr int bytesPerSample(SampleType type)
{
    switch (type) {
    case SampleType::Int16:
        return 2;
    case SampleType::Int24:
        return 3;
    case SampleType::Int32:
    case SampleType::Float32:
        return 4;
    case SampleType::Float64:
        return 8;
    }
    return 0;
}

// One channel as the driver describes it. The host fills `channel` and `isInput` and asks.
struct ChannelInfo
{
    int channel = 0;
    bool isInput = false;
    SampleType type = SampleType::Float32;
    QString name; // at most 31 characters, may be empty
};

// One channel the host wants buffers for; the driver fills `halves` at buffer creation.
struct BufferInfo
{
    bool isInput = false;
    int channel = 0;
    std::array<void *, 2> halves{nullptr, nullptr};
};

// Which fields of a period's time information hold a value.
namespace timeflags {
constexpr uint32_t SystemTimeValid = 0x1;
constexpr uint32_t SamplePositionValid = 0x2;
constexpr uint32_t SampleRateValid = 0x4;
constexpr uint32_t SpeedValid = 0x8;
constexpr uint32_t Any = SystemTimeValid | SamplePositionValid | SampleRateValid | SpeedValid;
} // namespace timeflags

struct TimeInfo
{
    uint32_t flags = 0;
    int64_t samplePosition = 0; // frames since the driver started
    int64_t systemTimeNs = 0;
    double sampleRate = 0;
    double speed = 1.0;
};

// What a driver may ask or tell the host through the message callback.
namespace message {
constexpr int SelectorSupported = 1; // answer 1 when the selector in `value` is understood
constexpr int EngineVersion = 2;
constexpr int ResetRequest = 3; // the driver must be stopped and set up again
constexpr int ResyncRequest = 5;
constexpr int LatenciesChanged = 6;
constexpr int SupportsTimeInfo = 7;
} // namespace message

} // namespace platform::asio
