#pragma once

#include "engine/dsp/Container.h"
#include "engine/dsp/Weighting.h"

#include <QtGlobal>
#include <algorithm>
#include <cmath>

// A level meter over a sliding window of squared (optionally weighted) samples: the window is
// 125 ms (mode 0) or one second (mode 1) once a sample rate is set, or a fixed length.
class Meter
{
public:
    enum Mode : quint32 { Fast = 0, Slow = 1, Fixed = 2 };

    Meter(quint32 weightingType, quint32 mode);
    // A meter of L values without weighting (the per-bin meters).
    explicit Meter(quint64 length);

    void add(double x);
    // 10·log10 of the window's mean square.
    double level() const;
    double mean() const;
    // The running peak of the squared values, and the same in dB.
    double peak() const { return peak_; }
    double peakDb() const;
    void reset();
    void setSampleRate(quint32 rate);

    quint64 length() const { return length_; }
    quint32 count() const { return count_; }

    // One step of a window's running sum and peak: the square `leaving` drops out, `v` comes in.
    static void slide(double &sum, double &peak, double leaving, double v)
    {
        const double s = sum - leaving;
        double t = s + v;
        if (v > s)
            t = t - (s - (t - v));
        sum = t < 0.0 ? 0.0 : t;

        // The peak is followed approximately: when the value leaving the window is the peak,
        // the newest value takes its place.
        const bool peakLeaves
                = std::min(std::abs(peak), std::abs(leaving)) >= std::abs(peak - leaving) * 1e12;
        const double candidate = peakLeaves ? v : peak;
        peak = std::max(v, candidate);
    }

private:
    quint64 length_;
    quint64 position_ = 0;
    Container::array<double> window_;
    Weighting weighting_;
    quint32 mode_;
    quint32 count_ = 0;
    double sum_ = 0.0;
    double peak_ = 0.0;
};
