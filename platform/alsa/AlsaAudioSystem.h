#pragma once

#include "platform/AudioLayer.h"

namespace platform::alsa {

// The audio layer over ALSA: endpoints as AlsaEndpoints finds them, audio clients as
// AlsaAudioClient runs them.
class AlsaAudioSystem : public AudioSystem
{
public:
    AlsaAudioSystem();
    Result createDeviceEnumerator(std::shared_ptr<DeviceEnumerator> *enumerator) override;
    std::shared_ptr<Event> createEvent() override;
};

} // namespace platform::alsa
