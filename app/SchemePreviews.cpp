#include "app/SchemePreviews.h"

#include "app/CurveFeeds.h"
#include "app/store/CurvePack.h"
#include "eq/CurvePreparation.h"
#include "eq/DisplayCurve.h"

#include <algorithm>

using namespace snt::eq;

namespace {

constexpr int previewSmoothing = 6;
constexpr qsizetype minimumPoints = 8;

bool sameInput(const CurveRecord &a, const CurveRecord &b)
{
    return a.delayMs == b.delayMs && a.smoothBands == b.smoothBands
           && a.smoothEqOnly == b.smoothEqOnly && a.bands == b.bands
           && a.corners.highPass == b.corners.highPass && a.corners.lowPass == b.corners.lowPass
           && a.freq == b.freq && a.levelDb == b.levelDb && a.phaseDeg == b.phaseDeg
           && a.coherence == b.coherence && a.auxiliary == b.auxiliary;
}

void fromSnapshot(CurveRecord &record, const Scheme &scheme, const Measured &snapshot)
{
    // The levels relative to the scheme's level, as the scheme's curve pack keeps them.
    CurvePack relative;
    fillPackCurves(relative, snapshot, &scheme);
    record.freq = snapshot.freq;
    record.levelDb = relative.level;
    record.phaseDeg = snapshot.phase;
    record.coherence = snapshot.coherence;
    record.delayMs = snapshot.delayMs;
    if (!scheme.target.isEmpty() && scheme.target.size() == scheme.freq.size())
        record.auxiliary = resampleToGrid(scheme.freq, scheme.target, snapshot.freq);
}

void fromScheme(CurveRecord &record, const Scheme &scheme, const Measured &current)
{
    record.freq = scheme.freq;
    record.smoothEqOnly = scheme.measuredRaw.size() != scheme.freq.size();
    record.levelDb = record.smoothEqOnly ? scheme.measured : scheme.measuredRaw;
    record.phaseDeg = scheme.phase;
    record.auxiliary = scheme.target;
    record.delayMs = current.delayMs;
    if (current.coherence.size() >= 2 && current.coherence.size() == current.freq.size())
        record.coherence = resampleToGrid(current.freq, current.coherence, scheme.freq);
}

} // namespace

CurveRecord SchemePreviews::input(const Scheme &scheme, const Measured &snapshot,
                                  const Measured &current)
{
    CurveRecord record;
    record.bands = scheme.bands;
    record.corners.highPass = scheme.hpf;
    record.corners.lowPass = scheme.lpf;
    record.smoothBands = previewSmoothing;
    if (snapshot.freq.size() >= minimumPoints && snapshot.magnitude.size() == snapshot.freq.size())
        fromSnapshot(record, scheme, snapshot);
    else
        fromScheme(record, scheme, current);
    return record;
}

DisplayCurve SchemePreviews::preview(const CurveRecord &input)
{
    const auto found = std::find_if(kept_.begin(), kept_.end(),
                                    [&input](const Kept &k) { return sameInput(k.input, input); });
    if (found != kept_.end()) {
        std::rotate(kept_.begin(), found, found + 1);
        return kept_.first().curve;
    }
    kept_.prepend({input, prepareDisplayCurve(input)});
    if (kept_.size() > keptPreviews)
        kept_.removeLast();
    return kept_.first().curve;
}
