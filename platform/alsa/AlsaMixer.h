#pragma once

#include "platform/SoundSettings.h"
#include "platform/alsa/PcmRoute.h"

#include <alsa/asoundlib.h>

namespace platform::alsa {

struct MixerSide;

// The master level and mute of a sound card's output or input, or of a sound server's sink or
// source, through ALSA's simple mixer: a card through its own control device, a server device
// through ALSA's "pulse" control plugin made for that device. The level scalar is the control's
// position between its lowest and its nominal full value, as the server's and the card's
// settings show it in percent.
class AlsaMixer : public VolumeControl
{
public:
    static Result open(const PcmRoute &route, DataFlow flow,
                       std::shared_ptr<VolumeControl> *control);
    ~AlsaMixer() override;
    AlsaMixer(const AlsaMixer &) = delete;
    AlsaMixer &operator=(const AlsaMixer &) = delete;

    Result masterLevel(float *level) override;
    Result setMasterLevel(float level) override;
    Result mute(bool *muted) override;
    Result setMute(bool muted) override;

private:
    AlsaMixer(snd_mixer_t *mixer, snd_config_t *config, snd_mixer_elem_t *element,
              const MixerSide &side);

    snd_mixer_t *mixer_;
    snd_config_t *config_; // the control's own definition, for a server device
    snd_mixer_elem_t *element_;
    const MixerSide &side_;
};

} // namespace platform::alsa
