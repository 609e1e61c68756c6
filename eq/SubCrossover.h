#pragma once

#include "eq/Records.h"

#include <QList>
#include <QString>

// The crossover between a main loudspeaker and a subwoofer, designed from one measurement of each
// against a low-frequency lift target. All curves of a design are in dB on the standard grid.
namespace snt::eq {

// Level of a corner filter at f: kind "LR" is Linkwitz-Riley (two Butterworth filters of half the
// order, at least one pair), any other kind Butterworth. 0 dB when fc or f is not positive or the
// order gives no filter.
double crossoverGainDb(const QString &kind, int order, double fc, double f, bool highPass);

// The lift target at f for the lift setting 6, 15 or 20 dB, or the default lift for any other
// setting: the full lift up to 20.5 Hz, falling to 0 dB at 1 kHz.
double subLiftDb(double f, int liftSetting);

// Designs the subwoofer's high-pass, low-pass, gain and up to two EQ bands so that the main and
// the subwoofer summed in phase follow the lift target. Levels are in dB, best 1/6-octave smoothed.
// Without a design `ok` is false and `why` says why.
CrossoverResult designSubCrossover(const QList<float> &mainFreq, const QList<float> &mainDb,
                                   const QList<float> &subFreq, const QList<float> &subDb,
                                   int liftSetting);

// Recomputes the subwoofer curves and the sum after the engineer edited corners, gain or bands.
// Does nothing without a design.
void subResponse(CrossoverResult &result);

} // namespace snt::eq
