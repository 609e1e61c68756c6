#pragma once

#include <QList>
#include <QString>

// Bringing a measured response into the engine's common shape: the standard grid, levels in dB,
// resampling, robust level statistics, the reference level, the phase on the grid, and the
// diagnosis that refuses curves which are plainly no full-range loudspeaker measurement.
namespace snt::eq {

// The 266 frequencies (20.5 Hz to 24 kHz) every scheme and target curve lives on.
const QList<float> &standardGrid();

// 20·log10(x), or -100 dB for x ≤ 1e-9.
QList<float> toDb(const QList<float> &magnitude);

// The curve read on the ascending `grid` by linear interpolation over log frequency, holding its
// first and last values outside its range; -100 everywhere when the curve is unusable.
QList<float> resampleToGrid(const QList<float> &freq, const QList<float> &values,
                            const QList<float> &grid);

// Mean of the levels between 200 Hz and 2 kHz that lie above -90 dB; 0 when there is none.
double midbandMeanLevel(const QList<float> &freq, const QList<float> &db);

// Median of a list; 0 for an empty one.
double median(QList<double> values);

// Median of the finite values with fLo ≤ f ≤ fHi; NaN when fewer than 3 qualify.
double bandMedian(const QList<float> &freq, const QList<float> &values, double fLo, double fHi,
                  int *count = nullptr);

// The level that the flattest half-octave stretches of lo < f < hi sit at.
double baseLevel(const QList<float> &grid, const QList<double> &m, double lo, double hi);

// Reference level of a measured curve that carries none (dB).
float estimateBaseLevel(const QList<float> &freq, const QList<float> &db,
                        const QList<float> &coherence, bool lineArray);

// The measured phase on the grid: the delay added back, unwrapped and resampled. Empty when the
// phase list is not exactly as long as the frequency list.
QList<float> measuredPhaseOnGrid(const QList<float> &freq, const QList<float> &phase,
                                 double delayMs, const QList<float> &grid);

// A stand-in phase from the level slope (15° per dB/octave), for curves measured without phase.
QList<float> slopePhase(const QList<float> &grid, const QList<float> &db);

// Refuses curves whose coherence gives out below 1 kHz; empty text when the curve passes.
QString diagnoseHighEnd(const QList<float> &freq, const QList<float> &coherence);

// The whole-curve diagnosis on the relative level: the first refusal message, or empty text.
QString diagnoseCurve(const QList<float> &freq, const QList<float> &relativeDb,
                      const QList<float> &coherence);

} // namespace snt::eq
