#pragma once

#include "engine/tf/generator/NoiseRandom.h"
#include "engine/tf/generator/OutputDevice.h"

// Generator type 0: pink noise, white noise through Paul Kellet's refined filter (−3 dB per
// octave within a twentieth of a dB over the audio band), scaled by 0.11.
class PinkNoise : public OutputDevice
{
    Q_OBJECT
public:
    explicit PinkNoise(GeneratorThread *owner, QObject *parent = nullptr);

protected:
    float sample() override;

private:
    NoiseRandom random_;
    float b0_ = 0.0f, b1_ = 0.0f, b2_ = 0.0f, b3_ = 0.0f, b4_ = 0.0f, b5_ = 0.0f, b6_ = 0.0f;
};
