#pragma once

#include <QVariantMap>

// The compressor and limiter of a processor output designed from the ratings of the loudspeaker
// and the amplifier it drives, and the compressor's static curve the dynamics page draws.
namespace processor {

struct DynamicsRatings
{
    double spkPower = 400.0; // W
    double spkZ = 8.0; // Ω
    double lowCut = 100.0; // Hz, the lowest frequency the loudspeaker is fed
    bool byGain = false; // rated by voltage gain instead of input sensitivity
    double sensV = 1.4; // V in for full power
    double ampPower = 800.0; // W
    double ampZ = 8.0; // Ω
    double gainDb = 32.0;
};

struct Dynamics
{
    double compThrd = 0.0; // dBu
    double limThrd = 0.0; // dBu
    double compAttack = 0.0; // ms
    double compRelease = 0.0; // ms
    double limRelease = 0.0; // ms
    double compKnee = 0.0; // dB
    double compRatio = 0.0;
};

// Thresholds in dBu at the processor's output: the voltage that, through the amplifier's gain,
// drives the loudspeaker to its rated RMS voltage √(P·Z) (compressor) or peak voltage √(4·P·Z)
// (limiter), 0 dBu being 0.775 V. The attack is 2000/lowCut ms and both releases 20000/lowCut ms,
// each within 0 … 10000 ms and rounded (20 and 200 ms without a low cut); knee 30 dB, ratio 20.
Dynamics designDynamics(const DynamicsRatings &ratings);

// The compressor's output level for an input level (dB): unchanged below the knee, threshold +
// (input − threshold)/ratio above it, and a quadratic blend across a knee of `knee` dB centred on
// the threshold (a hard knee at 0.001 dB or less). A ratio below 1 counts as 1.
double compressedLevel(double inputDb, double thresholdDb, double kneeDb, double ratio);

// The map forms the dynamics page hands over and takes: the rating keys of DynamicsRatings in,
// the value keys of Dynamics out.
DynamicsRatings ratingsFromMap(const QVariantMap &map);
QVariantMap dynamicsToMap(const Dynamics &dynamics);

} // namespace processor
