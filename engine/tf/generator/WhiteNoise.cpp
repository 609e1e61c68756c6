#include "engine/tf/generator/WhiteNoise.h"

WhiteNoise::WhiteNoise(GeneratorThread *owner, QObject *parent)
    : OutputDevice(owner, parent)
{
    setName(QStringLiteral("White"));
}

float WhiteNoise::sample()
{
    return random_.nextUniform() * playingGain();
}
