#pragma once

#include "eq/BandRules.h"
#include "eq/FilterResponse.h"
#include "eq/Records.h"

#include <QList>

#include <cmath>
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
                              filterResponse(type, f, float(hz), order, 0.707f, 0, false, 0).abs());
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

} // namespace snt::eq::synthetic
