#pragma once

#include <QString>
#include <cstdint>

namespace platform {

// Every call of the audio layer answers with a 32-bit result code: 0 for success, otherwise one
// of the codes below (failure codes have the top bit set). The values are those the sound
// engines of this family of APIs use, so logs read the same on every platform.
using Result = uint32_t;

namespace result {
constexpr Result Ok = 0x00000000;
constexpr Result NotInitialized = 0x88890001;
constexpr Result AlreadyInitialized = 0x88890002;
constexpr Result WrongEndpointType = 0x88890003;
constexpr Result DeviceInvalidated = 0x88890004;
constexpr Result NotStopped = 0x88890005;
constexpr Result BufferTooLarge = 0x88890006;
constexpr Result OutOfOrder = 0x88890007;
constexpr Result UnsupportedFormat = 0x88890008;
constexpr Result InvalidSize = 0x88890009;
constexpr Result DeviceInUse = 0x8889000A;
constexpr Result ExclusiveModeNotAllowed = 0x8889000E;
constexpr Result EndpointCreateFailed = 0x8889000F;
constexpr Result ServiceNotRunning = 0x88890010;
constexpr Result BufDurationPeriodNotEqual = 0x88890013;
constexpr Result EventHandleNotSet = 0x88890014;
constexpr Result BufferSizeError = 0x88890016;
constexpr Result CpuUsageExceeded = 0x88890017;
constexpr Result BufferSizeNotAligned = 0x88890019;
constexpr Result InvalidDevicePeriod = 0x88890020;
constexpr Result NotFound = 0x80070490;
constexpr Result InvalidArg = 0x80070057;
constexpr Result Fail = 0x80004005;
} // namespace result

constexpr bool succeeded(Result code)
{
    return code == result::Ok;
}

// The symbolic name of the codes an audio client reports most often, or an empty string.
QString resultName(Result code);

// Maps an ALSA error (a negative errno) to the result code an audio client reports for it.
Result resultFromAlsaError(int error);

} // namespace platform
