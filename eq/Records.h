#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

// The records that cross the EQ engine's boundary: its input (a measured curve and the options),
// its result (one scheme per target curve), the target curves, the corner filters and the
// subwoofer crossover design. Plain value types with implicitly shared containers.
namespace snt::eq {

class LadderResponseCache;

// One measured transfer function, as the application core hands it to the engine.
struct Measured
{
    QList<float> freq; // Hz, ascending
    QList<float> magnitude; // linear, same length as freq
    QList<float> coherence; // 0..1 per frequency
    QList<float> phase; // degrees; used only when exactly as long as freq
    double delayMs = 0.0; // measured delay, used for phase correction when > 0
    float level = 0.0f; // a given reference level in dB
    bool hasLevel = false; // otherwise the engine estimates the level
    QString label;
};

struct Options
{
    QString use;
    QString roomType;
    QString programType;
    int setting = 6; // copied unchanged into every scheme
    bool lineArray = false;
};

// A peaking band inside the engine.
struct Band
{
    double hz = 0.0;
    double gain = 0.0; // dB
    double q = 0.0;

    friend bool operator==(const Band &, const Band &) = default;
};

// One band of a scheme as the user interface and the curve packs see it.
struct SchemeBand
{
    float freq = 0.0f; // Hz
    float gain = 0.0f; // dB
    float q = 0.0f;
    bool enabled = true;

    friend bool operator==(const SchemeBand &, const SchemeBand &) = default;
};

// A corner (high- or low-pass) filter. Slope = 6·order dB/oct. A cleared corner is off, with an
// empty kind, order 0 and 0 Hz.
struct Corner
{
    bool on = false;
    QString kind; // "BW", "LR" or "BS"
    int order = 0;
    double hz = 0.0;

    friend bool operator==(const Corner &, const Corner &) = default;
};

// One target curve: the level the EQ aims for, in dB relative to the curve's base level.
struct Target
{
    QString slug;
    QString title;
    QString note;
    double lockHz = 0.0; // 0: no low-cut lock
    int lockOrder = 0;
    double fitFloorHz = 0.0; // lowest frequency fitted; 0: none
    int rollOff = 0; // non-zero when db already holds the low-cut slope
    QList<float> freq;
    QList<float> db;
};

// The estimate of a measured curve's natural corners.
struct CornerEstimate
{
    Corner highPass;
    Corner lowPass;
    bool lowCutSuspect = false; // the low end looks cut by something else than the loudspeaker
};

// The EQ proposal for one target curve.
struct Scheme
{
    QString name;
    QString kind;
    QString explain;
    int targetIndex = -1;
    int setting = 6;
    float level = 0.0f;
    bool hasLevel = false;
    QList<SchemeBand> bands;
    float fitError = 0.0f;
    QList<float> freq;
    QList<float> measured;
    QList<float> measuredRaw;
    QList<float> target;
    QList<float> predicted;
    QList<float> predictedRaw;
    QList<float> phase;
    QList<float> predictedPhase;
    Corner hpf;
    Corner lpf;
    bool cornerFlag = false;
    float maxGain = 0.0f;
    float maxCut = 0.0f;
    QString blockedReason;
    bool valid = false;

    bool blocked() const { return !blockedReason.isEmpty(); }
};

// Everything the lanes share, prepared once by the driver and only read by the lanes.
struct LaneContext
{
    QList<Target> targets;
    Options options;
    float level = 0.0f; // reference level, dB
    QList<float> grid;
    QList<float> measured; // 1/6-octave smoothed relative level on the grid
    QList<float> measuredRaw; // relative level on the grid
    QList<float> phase; // measured phase on the grid, degrees (may be empty)
    QString diagnosis; // non-empty: every lane is refused with it
    Measured curve; // the measured record, ascending and finite
    QList<float> relativeDb; // relative level on the measured frequencies
    // The band responses on the grid that the lanes' searches computed, shared by all of them.
    std::shared_ptr<LadderResponseCache> responses;
};

// The result slot of one lane: its scheme and its log text.
struct LaneResult
{
    Scheme scheme;
    QString log;
};

// A stored curve with its EQ, as the screens hand it over for a before/after preview.
struct CurveRecord
{
    QList<float> freq; // Hz, ascending
    QList<float> levelDb;
    QList<float> phaseDeg; // used only when exactly as long as freq
    QList<float> coherence; // shown only when exactly as long as freq
    QList<float> auxiliary; // a second per-point curve shown beside the level; may be empty
    double delayMs = 0.0; // removed from the phase
    QList<SchemeBand> bands;
    CornerEstimate corners;
    int smoothBands = 0; // 1/N-octave smoothing; 0: none
    bool smoothEqOnly = false; // smooth only the EQ's response, not the measured level
};

// The preview of a `CurveRecord` on the display grid. Each list holds one value per grid
// frequency, or none when the record had nothing to show for it.
struct DisplayCurve
{
    QList<float> freq;
    QList<float> before; // dB
    QList<float> after; // dB, with the EQ and corners applied
    QList<float> phaseBefore; // degrees, unwrapped
    QList<float> phaseAfter;
    QList<float> auxiliary;
    QList<float> coherence;
    bool valid = false;
};

// One EQ band of the subwoofer in a crossover design.
struct CrossoverBand
{
    double hz = 0.0;
    double gain = 0.0;
    double q = 0.0;
    bool enabled = true;

    friend bool operator==(const CrossoverBand &, const CrossoverBand &) = default;
};

// One subwoofer crossover design and its time alignment.
struct CrossoverResult
{
    bool ok = false;
    QString why;
    double subHighPassHz = 40.0;
    QString subHighPassKind = QStringLiteral("BW");
    int subHighPassOrder = 8;
    bool subHighPassFallback = false;
    QString lowPassKind = QStringLiteral("LR");
    int lowPassOrder = 4;
    double lowPassHz = 80.0;
    double subGainDb = 0.0;
    double fallbackLowHz = 0.0;
    double fallbackHighHz = 0.0;
    double windowLowHz = 0.0;
    double windowHighHz = 0.0;
    double fitErrorDb = 0.0;
    double maxDeviationDb = 0.0;
    double maxDeviationHz = 0.0;
    double deviationAt40HzDb = 0.0;
    QList<CrossoverBand> subEqBands;
    bool aligned = false;
    double alignDelayMs = 0.0;
    bool alignInvert = false;
    QList<float> mainRel;
    QList<float> subRaw;
    QList<float> subAfter;
    QList<float> liftTarget;
    QList<float> combined;
    QList<float> subEq;
    QStringList notes;
};

} // namespace snt::eq
