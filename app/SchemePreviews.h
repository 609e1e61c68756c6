#pragma once

#include "eq/Records.h"

#include <QList>
#include <QVariantMap>

#include <optional>

// The before/after previews of the computed schemes, as the screens draw them. The screens and
// the headless batch read them again and again (every read of `schemes` lists all of them, and
// every edit, also during drags, reads the selected one several times), while making one over a
// measurement of tens of thousands of bins, and its point maps, costs milliseconds. So the last
// few are kept with the sources they were made from: the scheme, the compute snapshot and the
// current measurement. Curves are compared by identity: a kept copy shares the curve's data, so
// any change to a curve detaches it and the kept preview no longer matches; small values (bands,
// corners, levels, delays) are compared by value. A new result, another target, an edited band
// or corner, a new measurement: each changes a source, so no stale preview is ever handed out.
// A kept preview's point maps are made when they are first read: a reader of point lists (the
// headless batch) never needs them.
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

    // PackDetail::schemeCurves(prepareDisplayCurve(input(...))), the kept map when it was made
    // lately from the same sources.
    QVariantMap curves(const snt::eq::Scheme &scheme, const snt::eq::Measured &snapshot,
                       const snt::eq::Measured &current);

    // The same curves in PackDetail::schemeCurvePoints's form, from the same kept preview; the
    // maps per point are not made for them.
    QVariantMap points(const snt::eq::Scheme &scheme, const snt::eq::Measured &snapshot,
                       const snt::eq::Measured &current);

    // The previews of all the schemes of a result, in their order. Those not kept are made at
    // once, one thread each, so a new result's previews cost about the time of one.
    QList<QVariantMap> curves(const QList<snt::eq::Scheme> &schemes,
                              const snt::eq::Measured &snapshot, const snt::eq::Measured &current);

    void clear() { kept_.clear(); }

private:
    struct Sources
    {
        snt::eq::Scheme scheme;
        snt::eq::Measured snapshot;
        snt::eq::Measured current;
    };
    struct Kept
    {
        Sources sources;
        snt::eq::DisplayCurve preview;
        std::optional<QVariantMap> curves; // made when first read
    };
    QList<Kept>::iterator find(const snt::eq::Scheme &scheme, const snt::eq::Measured &snapshot,
                               const snt::eq::Measured &current);
    // The kept preview of these sources, made when there is none, now the most recently used.
    Kept &kept(const snt::eq::Scheme &scheme, const snt::eq::Measured &snapshot,
               const snt::eq::Measured &current);
    static Kept make(const snt::eq::Scheme &scheme, const snt::eq::Measured &snapshot,
                     const snt::eq::Measured &current);
    static const QVariantMap &curvesOf(Kept &kept);
    void keep(Kept made);
    static bool sameSources(const Sources &kept, const snt::eq::Scheme &scheme,
                            const snt::eq::Measured &snapshot, const snt::eq::Measured &current);

    // Enough for every scheme of a computation and one edited copy.
    static constexpr qsizetype keptPreviews = 8;
    QList<Kept> kept_; // most recently used first
};
