#pragma once

#include "engine/tf/generator/NoiseRandom.h"
#include "engine/tf/generator/OutputDevice.h"

// Generator type 1: white noise, uniform on [−1, 1] at 0 dB (RMS 1/√3, −4.77 dBFS).
class WhiteNoise : public OutputDevice
{
    Q_OBJECT
public:
    explicit WhiteNoise(GeneratorThread *owner, QObject *parent = nullptr);

protected:
    float sample() override;

private:
    NoiseRandom random_;
};
