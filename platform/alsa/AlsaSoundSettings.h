#pragma once

#include "platform/SoundSettings.h"

namespace platform::alsa {

// The sound settings of a Linux machine, for the endpoints ALSA lists (AlsaEndpoints):
// - level and mute: ALSA's mixer of the card, or of the sound server's sink or source where the
//   endpoint leads to the server (PcmRoute);
// - the device format: the sample format the server runs the sink or source at, or the format
//   the engine runs a card at;
// - the server's format cannot be set from a program (it comes from the server's
//   configuration), nor has a card a default format of its own, so setting one always fails;
// - ducking: PulseAudio's role modules (module-role-cork mutes other streams during a call,
//   module-role-ducking lowers them); without them, or without a server, nothing is lowered.
// Stateless: every call asks the system afresh, from any thread.
class AlsaSoundSettings : public SoundSettings
{
public:
    QString defaultEndpoint(DataFlow flow) override;
    QString friendlyName(const QString &id, DataFlow flow) override;
    Result volumeControl(const QString &id, DataFlow flow,
                         std::shared_ptr<VolumeControl> *control) override;
    Result deviceFormat(const QString &id, DataFlow flow, WaveFormat *format) override;
    Result setDeviceFormat(const QString &id, DataFlow flow, const WaveFormat &format) override;
    Result sharedFormatSupported(const QString &id, DataFlow flow,
                                 const WaveFormat &format) override;
    int duckingPreference() override;
    Result setDuckingPreference(int preference) override;
};

} // namespace platform::alsa
