#include "engine/tf/generator/PinkNoise.h"

PinkNoise::PinkNoise(GeneratorThread *owner, QObject *parent)
    : OutputDevice(owner, parent)
{
    setName(QStringLiteral("Pink"));
}

float PinkNoise::sample()
{
    const float w = random_.nextUniform();
    b0_ = 0.99886f * b0_ + w * 0.0555179f;
    b1_ = 0.99332f * b1_ + w * 0.0750759f;
    b2_ = 0.96900f * b2_ + w * 0.1538520f;
    b3_ = 0.86650f * b3_ + w * 0.3104856f;
    b4_ = 0.55000f * b4_ + w * 0.5329522f;
    b5_ = -0.7616f * b5_ - w * 0.0168980f;
    // b6 still holds the previous sample's term here.
    const float out
            = (b1_ + b0_ + b2_ + b3_ + b4_ + b5_ + b6_ + w * 0.5362f) * playingGain() * 0.11f;
    b6_ = w * 0.115926f;
    return out;
}
