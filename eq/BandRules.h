#pragma once

#include "eq/Records.h"

#include <QList>

#include <algorithm>
#include <cmath>

// Band-level rules of the EQ engine: the peaking response every fit uses, the rule that rejects a
// band outright, the clean-up filters applied to searched bands, and the gentle residual pass of
// line-array mode. Every function keeps the order of the bands it keeps.
namespace snt::eq {

using BandList = QList<Band>;

// The band's amplitude term A = 10^(gain/40), shared by every evaluation of a band so that the
// search's precomputed ladders give bit-identical results.
double peakingAmplitude(double gainDb);

// Magnitude in dB at f of one analog peaking band; 0 unless f, f0 and q are positive.
double peakingGainDb(double f, double f0, double gainDb, double q);

// The same with the per-band and per-point terms precomputed: amplitude over q, amplitude times
// q, the ratio r = f/f0 and (1 - r²)². Exactly equal to peakingGainDb for the same inputs.
inline double peakingGainDbPrepared(double amplitudeOverQ, double amplitudeTimesQ, double r,
                                    double shoulder);

// Per frequency, the sum of the bands' peaking responses.
QList<double> bandsResponse(const BandList &bands, const QList<float> &freqs);

// Coherent (in-phase) sum of two levels in dB, floored at 1e-12.
float sumDb(float a, float b);

// True when a band must not be used: cuts too deep for their sharpness, boosts too sharp or weak.
bool rejectBand(double gain, double q);

// Depth limit of a cut: 24/q rounded to 0.1 dB.
double cutDepthLimit(double q);

BandList sanitizeBands(const BandList &bands);
BandList dropWeakOrNarrowBoosts(const BandList &bands);
BandList dropLowMidBoosts(const BandList &bands);
// Largest boost at or above lowPassHz/2^1.5; 0 when lowPassHz ≤ 0 or there is none.
double highBoostNearLowPass(const BandList &bands, double lowPassHz);

// Drops boosts inside narrow, unreliable dips of the 1/12-octave curve m12 (on the grid) between
// 1 and 10 kHz; dips with good coherence (≥ 0.7 throughout) are trusted and keep their boosts.
BandList protectNarrowDips(const BandList &bands, const QList<double> &m12,
                           const QList<float> &grid, const QList<float> &freq,
                           const QList<float> &coherence);

// Line-array mode: adds at most two gentle bands (|gain| ≤ 3 dB) where the remaining deviation of
// m + EQ from u is largest, each improving its region's squared error by at least 2 %.
BandList residualPass(const BandList &bands, const QList<double> &m, const QList<double> &u,
                      const QList<float> &grid, double lo, double hi, double highPassHz);

inline double peakingGainDbPrepared(double amplitudeOverQ, double amplitudeTimesQ, double r,
                                    double shoulder)
{
    const double a = r * amplitudeOverQ;
    const double b = r / amplitudeTimesQ;
    const double num = a * a + shoulder;
    const double den = b * b + shoulder;
    return 10.0 * std::log10(std::max(1e-300, num) / std::max(1e-300, den));
}

} // namespace snt::eq
