#pragma once

#include <QList>

// One curve of the subwoofer flow, as measured or taken from a pack: frequency (Hz), level in dB
// as measured, the level at 1/6 octave for the charts and the designer, coherence 0..1 and
// phase in degrees.
struct SubwooferCurve
{
    QList<float> freq;
    QList<float> rawDb;
    QList<float> db;
    QList<float> coherence;
    QList<float> phase;

    bool isEmpty() const { return freq.isEmpty(); }
    void clear() { *this = SubwooferCurve(); }
    // Takes a run's transfer function; the magnitude goes to dB as 20·log10(max(m, 1e-9)), so
    // a silent bin reads −180 dB instead of disappearing.
    void takeCapture(const QList<float> &frequencies, const QList<float> &magnitude,
                     const QList<float> &coherences, const QList<float> &phases);
    // Derives `db` from `rawDb`: 1/6-octave smoothing for a curve of at least 8 points with a
    // level per frequency, else a plain copy.
    void resmooth();
    // At least 8 points with a smoothed level per frequency: enough to draw or sum.
    bool drawable() const;
};
