#pragma once

#include "engine/tf/PhoneBlockPath.h"

#include <QString>

namespace audio {
class AudioStreamServer;
}

// One phone of the phone-audio server, read by the block path by absolute sample index.
class PhoneServerSamples : public PhoneSamples
{
public:
    PhoneServerSamples(const audio::AudioStreamServer &server, const QString &phoneId);

    bool connected() const override;
    uint32_t sampleRate() const override;
    uint64_t writeIndex() const override;
    int read(uint64_t start, int64_t count, float *out) const override;
    int64_t lastPacketTimeMs() const override;

private:
    const audio::AudioStreamServer &server_;
    const QString phoneId_;
};
