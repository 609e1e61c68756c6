#pragma once

#include "eq/Records.h"

#include <QList>
#include <QString>

// The measured curve the EQ computation starts from: Hz, linear magnitude, coherence 0..1 and
// phase in degrees, with the delay the measurement found, the delay a loaded curve text named
// and the path of that text.
struct MeasuredCurve
{
    QList<float> freq{};
    QList<float> magnitude{};
    QList<float> coherence{};
    QList<float> phase{};
    double delayMs = 0.0;
    double importedDelayMs = 0.0;
    QString source{};

    // Frequencies and magnitudes to work with.
    bool hasCurve() const { return !freq.isEmpty() && !magnitude.isEmpty(); }
    // The computation's delay: a loaded curve's own when it names one.
    double computationDelayMs() const { return importedDelayMs > 0.0 ? importedDelayMs : delayMs; }
    // The delay a saved result keeps: the measured one when there is one.
    double resultDelayMs() const { return delayMs > 0.0 ? delayMs : importedDelayMs; }
    // The curve as the computation takes it, at the computation's delay, without a label.
    snt::eq::Measured computationCurve() const
    {
        snt::eq::Measured curve;
        curve.freq = freq;
        curve.magnitude = magnitude;
        curve.coherence = coherence;
        curve.phase = phase;
        curve.delayMs = computationDelayMs();
        return curve;
    }
};
