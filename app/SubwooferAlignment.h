#pragma once

#include "app/SubwooferCurve.h"
#include "engine/dsp/Curve.h"
#include "eq/Records.h"

#include <QString>

class ProjectStore;
struct CurvePack;

// The last stage of the subwoofer crossover: the main system and then the subwoofer captured
// from one microphone position, the delay and polarity that make them add up in the crossover
// region, and the two captures with the result kept as a curve pack. The bridge runs the
// captures; this holds them and the result. Everything runs on the GUI thread.
class SubwooferAlignment
{
public:
    enum Stage { MeasureMain = 0, MeasureSub = 1, Done = 2 };
    enum Target { MainCapture = 0, SubCapture = 1 };
    static constexpr qsizetype leastCapturePoints = 20;
    static inline const QString packUse = QStringLiteral("超低对齐");

    int stage = MeasureMain;
    bool aligned = false;
    double delayMs = 0.0; // positive: delay the subwoofer; negative: delay the main
    bool invert = false; // invert the subwoofer's polarity
    double mainDelayMs = 0.0; // the measurement's delay estimate of each capture
    double subDelayMs = 0.0;
    SubwooferCurve main;
    SubwooferCurve sub;
    QString lastPackName; // the pack this flow saved last; kept across restarts of the stage

    // Back to the main system's capture, keeping `lastPackName`.
    void reset();

    // Takes a run's transfer function and delay estimate for `target`: the level in dB, the
    // phase unwrapped. False, changing nothing, for fewer than 20 points or a phase that does
    // not cover every point.
    bool takeCapture(int target, const QList<float> &freq, const QList<float> &magnitude,
                     const QList<float> &coherence, const QList<float> &phase,
                     double delayEstimateMs);
    // Finds delay and polarity on the two captures in the design's crossover region; without a
    // design nothing is aligned. The result goes into `design` and into this stage's fields.
    void align(snt::eq::CrossoverResult &design);

    // The two smoothed levels summed in phase on the display grid, over the subwoofer capture's
    // span (the delay and polarity found are not applied); empty until aligned.
    math::Curve coupledCurve(const snt::eq::CrossoverResult &design) const;

    // An aligned result with both captures drawable.
    bool canSave(const snt::eq::CrossoverResult &design) const;
    // Saves the captures and the result as a pack "超低对齐 NN", or over the pack this flow saved
    // last when it still exists. The pack list changes only once both captures and the list
    // are written; false, with the store and `lastPackName` as they were, otherwise.
    bool save(ProjectStore &store, const snt::eq::CrossoverResult &design, int lift);

private:
    CurvePack packRecord(const CurvePack &base, const snt::eq::CrossoverResult &design,
                         int lift) const;
};
