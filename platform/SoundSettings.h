#pragma once

#include "platform/AudioLayer.h"

#include <QString>
#include <memory>

// The system's own settings of its sound endpoints, as its sound settings panel shows them: an
// endpoint's master level and mute, the format the system runs the endpoint at, and whether the
// system lowers other sounds while a call runs. Endpoint ids are the audio layer's; an empty id,
// or one the system does not know, stands for the default endpoint of the direction.
namespace platform {

class VolumeControl
{
public:
    virtual ~VolumeControl() = default;
    // The master level as a scalar, 1.0 at the endpoint's full (nominal) level.
    virtual Result masterLevel(float *level) = 0;
    virtual Result setMasterLevel(float level) = 0;
    virtual Result mute(bool *muted) = 0;
    virtual Result setMute(bool muted) = 0;
};

// What the system does to other sounds while a call runs.
namespace ducking {
constexpr int Unknown = -1; // the system keeps no such preference
constexpr int MuteOthers = 0;
constexpr int LowerBy80 = 1;
constexpr int LowerBy50 = 2;
constexpr int DoNothing = 3;
} // namespace ducking

class SoundSettings
{
public:
    virtual ~SoundSettings() = default;
    // The id of the default endpoint of the direction, empty when there is none.
    virtual QString defaultEndpoint(DataFlow flow) = 0;
    // The name the system shows for the endpoint, empty when it has none.
    virtual QString friendlyName(const QString &id, DataFlow flow) = 0;
    // Fails when the endpoint has no level control.
    virtual Result volumeControl(const QString &id, DataFlow flow,
                                 std::shared_ptr<VolumeControl> *control)
            = 0;
    // The format the system runs the endpoint at; sound of any other format is converted.
    virtual Result deviceFormat(const QString &id, DataFlow flow, WaveFormat *format) = 0;
    virtual Result setDeviceFormat(const QString &id, DataFlow flow, const WaveFormat &format) = 0;
    // Ok when the endpoint takes the format as it is, without conversion.
    virtual Result sharedFormatSupported(const QString &id, DataFlow flow, const WaveFormat &format)
            = 0;
    // One of the ducking values.
    virtual int duckingPreference() = 0;
    virtual Result setDuckingPreference(int preference) = 0;
};

// The settings of this machine's sound system.
std::shared_ptr<SoundSettings> systemSoundSettings();

} // namespace platform
