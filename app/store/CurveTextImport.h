#pragma once

#include <QList>
#include <QString>

// A measured curve read from a text file: one line per frequency with the level in dB and,
// optionally, phase (degrees) and coherence, plus an optional "Delay: <x> ms" note near the top.
struct ImportedCurve
{
    QList<float> freq; // Hz, in file order
    QList<float> magnitude; // linear
    QList<float> coherence; // 0..1
    QList<float> phase; // degrees, unwrapped
    double delayMs = 0.0;
};

// Reads the curve text at `path` into `curve`. A line is usable when its frequency is a number
// above 0 and its level a number within 200 dB either way. False, leaving `curve` untouched, when
// the file cannot be read or holds fewer than 8 usable lines.
bool importCurveText(const QString &path, ImportedCurve &curve);

// Unwraps phases in place: each value moves by whole turns until it lies within (-180, 180]
// degrees above the one before it when it was above that window, within [-180, 180) when below.
void unwrapPhase(QList<float> &phase);
