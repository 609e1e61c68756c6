#pragma once

#include "eq/Records.h"

#include <QList>

// The before/after previews of the computed schemes. The screens read them again after every
// edit, also during drags, and a preview over a measurement of tens of thousands of bins costs
// milliseconds; so the last few previews are kept with the exact input they were made from and
// handed out again only for an identical input.
class SchemePreviews
{
public:
    // The preview input of one scheme, smoothed at 1/6 octave. From the compute snapshot when it
    // has at least 8 frequencies and as many magnitudes (levels relative to the scheme's level,
    // or to the snapshot's mid-band level when the scheme has none, floored at -60 dB; the
    // scheme's target read on the snapshot's frequencies). Otherwise from the scheme's own
    // curves: its level curve, or its smoothed one as a fallback, its phase and target, the
    // delay and the coherence of the current measurement `current` (coherence read on the
    // scheme's frequencies when the measurement has as many coherence points as frequencies, at
    // least 2).
    static snt::eq::CurveRecord input(const snt::eq::Scheme &scheme,
                                      const snt::eq::Measured &snapshot,
                                      const snt::eq::Measured &current);

    // prepareDisplayCurve(input), the kept result when this input was seen lately.
    snt::eq::DisplayCurve preview(const snt::eq::CurveRecord &input);

    void clear() { kept_.clear(); }

private:
    struct Kept
    {
        snt::eq::CurveRecord input;
        snt::eq::DisplayCurve curve;
    };
    // Enough for every scheme of a computation and one edited copy.
    static constexpr qsizetype keptPreviews = 8;
    QList<Kept> kept_; // most recently used first
};
