#pragma once

#include "app/SubwooferCurve.h"
#include "eq/Records.h"

#include <QString>

// The subwoofer crossover as the engineer builds it: the main system's reference curve (the
// processed curve of a saved pack), the subwoofer measured at the same microphone position, the
// lift setting, and the design with the engineer's edits of its corners and EQ bands. The
// bridge runs the measurements and the navigation; this holds the data and the rules of the
// edits. Everything runs on the GUI thread.
class SubwooferCrossover
{
public:
    static constexpr int defaultLift = 15;
    static constexpr int maxEqBands = 6;
    // Fewer points than this in a subwoofer capture mean the run caught nothing usable.
    static constexpr qsizetype leastCapturePoints = 20;

    int lift = defaultLift; // dB of low-frequency lift the design aims for (6..20)
    int measured = 0; // 0 nothing, 1 main reference present or a subwoofer run started, 2 captured
    SubwooferCurve main;
    SubwooferCurve sub;
    int mainPackIndex = -1;
    QString mainName;
    QString mainProject;
    snt::eq::CrossoverResult result;

    void reset() { *this = SubwooferCrossover(); }
    bool hasDesign() const { return result.ok; }

    // Stores the lift clamped to 6..20; true when a design exists and so must be made again.
    bool setLift(int dB);

    // Takes the main reference from a pack's curve prepared for display without and with
    // 1/6-octave smoothing (the processed curve: the pack's own EQ and corners applied).
    void setMainReference(const snt::eq::DisplayCurve &unsmoothed,
                          const snt::eq::DisplayCurve &smoothed);
    // Takes the subwoofer's transfer function; false, leaving the curve empty, for fewer than
    // 20 points.
    bool takeSubCapture(const QList<float> &freq, const QList<float> &magnitude,
                        const QList<float> &coherence, const QList<float> &phase);
    // Empties the subwoofer curve and the design for a new subwoofer run.
    void startSubMeasurement();

    // Both curves are there to design from.
    bool canDesign() const { return measured >= 2 && !main.isEmpty() && !sub.isEmpty(); }
    // Designs the crossover from the two curves; with `align`, a design is also aligned in time
    // on the same two curves.
    void design(bool align);

    // Edits of the design. Each answers whether it changed anything the screens show; every
    // accepted edit recomputes the subwoofer curves.
    // A new band (80 Hz, 0 dB, Q 1): a refusal text for the user, or empty when added.
    QString addEqBand();
    bool setEqEnabled(int index, bool enabled);
    // Takes each value only inside its range (20..300 Hz, Q 0.2..10, ±18 dB), rounded to 0.1 Hz,
    // 0.01 and 0.1 dB; out-of-range values leave their field as it was. True for a valid band.
    bool updateEq(int index, double freq, double q, double gainDb);
    // Side "lpf" is the low-pass, anything else the high-pass. A slope of 0 or less switches the
    // corner off; otherwise the order is the slope / 6 (1..8, even for Linkwitz-Riley) and the
    // frequency 10..24000 Hz. A frequency that is not a number is refused.
    bool updateCorner(const QString &side, double hz, int slopeDb);
    // Kind "LR", "BS" or (for anything else) "BW"; false when it is the corner's kind already.
    bool updateCornerType(const QString &side, const QString &kind);

    // The design's EQ and corners in the form the EQ delivery takes; a corner of order 0 is off.
    QList<snt::eq::SchemeBand> deliveredBands() const;
    snt::eq::Corner deliveredHighPass() const;
    snt::eq::Corner deliveredLowPass() const;

private:
    struct CornerFields
    {
        QString &kind;
        int &order;
        double &hz;
    };
    CornerFields corner(const QString &side);
};
