#pragma once

#include "eq/BandRules.h"
#include "eq/FilterResponse.h"
#include "eq/Records.h"

#include <QList>

#include <cmath>
#include <numbers>
#include <random>
#include <tuple>

// Measured curves whose right answer is known, shaped from analytic filter responses on the bins
// of a 65536-point FFT at 48 kHz.
namespace snt::eq::synthetic {

struct Feature
{
    double hz;
    double gainDb;
    double q;
};

inline QList<float> fftBins()
{
    QList<float> f;
    f.reserve(32767);
    for (int k = 1; k < 32768; ++k)
        f.append(float(k * 48000.0 / 65536.0));
    return f;
}

// A curve of the given peaking features, optionally with Butterworth corners (order 0: none).
inline Measured curve(const QList<Feature> &features, double hpHz = 0.0, int hpOrder = 0,
                      double lpHz = 0.0, int lpOrder = 0)
{
    Measured m;
    m.freq = fftBins();
    m.coherence = QList<float>(m.freq.size(), 1.0f);
    m.magnitude.reserve(m.freq.size());
    for (const float f : std::as_const(m.freq)) {
        double db = 0.0;
        for (const Feature &x : features)
            db += peakingGainDb(f, x.hz, x.gainDb, x.q);
        for (const auto &[type, hz, order] : {std::tuple{ButterworthHighPass, hpHz, hpOrder},
                                              std::tuple{ButterworthLowPass, lpHz, lpOrder}}) {
            if (order > 0)
                db += 20.0
                      * std::log10(
                              filterResponse(
                                      {.type = type, .fc = float(hz), .order = order, .q = 0.707f},
                                      f)
                                      .abs());
        }
        m.magnitude.append(float(std::pow(10.0, db / 20.0)));
    }
    return m;
}

// About 14 peaks and dips of 2 to 8 dB spread from 80 Hz to 12 kHz, the same on every run.
inline QList<Feature> roughFeatures()
{
    std::mt19937 random(20240607);
    std::uniform_real_distribution<double> depth(2.0, 8.0), jitter(-0.15, 0.15),
            sharpness(1.0, 4.0);
    QList<Feature> features;
    for (int i = 0; i < 14; ++i) {
        const double octave = std::log2(80.0) + (std::log2(12000.0) - std::log2(80.0)) * i / 13.0;
        const double sign = (i % 2 == 0) ? 1.0 : -1.0;
        features.append(
                {std::pow(2.0, octave + jitter(random)), sign * depth(random), sharpness(random)});
    }
    return features;
}

// Level in dB of a Butterworth filter of order n, from its closed form |H|² = 1/(1 + r^2n), with
// r = fc/f for a high-pass and f/fc for a low-pass.
inline double butterworthDb(double f, double fc, int n, bool highPass)
{
    const double r = highPass ? fc / f : f / fc;
    return -10.0 * std::log10(1.0 + std::pow(r, 2 * n));
}

// Phase in degrees of a Linkwitz-Riley low-pass of order 4 (a second-order Butterworth squared).
// The matching high-pass differs by exactly 360°, so the pair is in phase at every frequency.
inline double linkwitzRiley4PhaseDeg(double f, double fc)
{
    const double w = f / fc;
    return -2.0 * std::atan2(std::sqrt(2.0) * w, 1.0 - w * w) * 180.0 / std::numbers::pi;
}

inline double wrappedDeg(double deg)
{
    return std::remainder(deg, 360.0);
}

// A main loudspeaker and a subwoofer measured at one position: the main rolls off with a
// Linkwitz-Riley high-pass of order 4 at `crossoverHz`, the subwoofer with the matching low-pass,
// `subLevelDb` below the main, below 28 Hz with a fourth-order Butterworth high-pass (its level
// only), arriving `subLateMs` later and, when asked, inverted. Phases are wrapped to ±180°.
struct SubwooferPair
{
    QList<float> freq;
    QList<float> mainDb;
    QList<float> mainPhase;
    QList<float> subDb;
    QList<float> subPhase;
    QList<float> coherence;
};

inline SubwooferPair subwooferPair(double crossoverHz, double subLevelDb, double subLateMs,
                                   bool subInverted)
{
    SubwooferPair p;
    p.freq = fftBins();
    p.coherence = QList<float>(p.freq.size(), 1.0f);
    for (const float f : std::as_const(p.freq)) {
        const double phase = linkwitzRiley4PhaseDeg(f, crossoverHz);
        p.mainDb.append(float(2.0 * butterworthDb(f, crossoverHz, 2, true)));
        p.mainPhase.append(float(wrappedDeg(phase)));
        p.subDb.append(float(subLevelDb + 2.0 * butterworthDb(f, crossoverHz, 2, false)
                             + butterworthDb(f, 28.0, 4, true)));
        p.subPhase.append(
                float(wrappedDeg(phase - 0.36 * f * subLateMs + (subInverted ? 180.0 : 0.0))));
    }
    return p;
}

// A subwoofer as measured before any crossover: `levelDb` in its band, rolling off below 28 Hz
// (fourth-order Butterworth) and above 250 Hz (second order).
inline QList<float> broadbandSubDb(const QList<float> &freq, double levelDb)
{
    QList<float> db;
    for (const float f : freq)
        db.append(float(levelDb + butterworthDb(f, 28.0, 4, true)
                        + butterworthDb(f, 250.0, 2, false)));
    return db;
}

} // namespace snt::eq::synthetic
