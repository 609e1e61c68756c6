#pragma once

#include "engine/dsp/Curve.h"

#include <QList>
#include <QPair>

// A calibration curve: (frequency, dB) points sorted by frequency, read by linear interpolation
// over log10 frequency and held at the end values outside the points. The measurement turns it
// into a per-bin table of linear gains whenever its bin frequencies change.
class CalCurve
{
public:
    // (frequency in Hz, gain in dB); frequencies must be greater than 0.
    using Point = QPair<float, float>;

    bool isEmpty() const { return points_.freq.isEmpty(); }
    const QList<float> &frequencies() const { return points_.freq; }
    const QList<float> &gainsDb() const { return points_.values; }

    // Replaces the points (sorted here) and forgets the per-bin table.
    void setPoints(QList<Point> points);
    // The gain in dB at `frequency`; 0 for an empty curve.
    float gainDbAt(float frequency) const;
    // Builds the per-bin table of linear gains 10^(dB/20) for ascending bin frequencies; every
    // entry is 1 when the curve or the bin list is empty.
    void buildLut(const QList<float> &binFrequencies);
    // The linear gain of a bin; 1 when there is no table or the bin lies outside it.
    float gainForBin(int bin) const;

private:
    math::LogFrequencyReader<float, float> reader() const;

    math::Curve points_; // gains in dB
    QList<float> lut_;
};
