#include "app/SchemePreviews.h"

#include "app/CurveFeeds.h"
#include "app/PackDetail.h"
#include "app/store/CurvePack.h"
#include "eq/CurvePreparation.h"
#include "eq/DisplayCurve.h"

#include <QThread>

#include <algorithm>
#include <memory>
#include <vector>

using namespace snt::eq;

namespace {

constexpr int previewSmoothing = 6;
constexpr qsizetype minimumPoints = 8;

// The same curve: the kept copy still shares its data (any change would have detached it).
bool sameCurve(const QList<float> &kept, const QList<float> &now)
{
    return kept.size() == now.size() && (kept.isEmpty() || kept.constData() == now.constData());
}

bool sameMeasured(const Measured &kept, const Measured &now)
{
    return sameCurve(kept.freq, now.freq) && sameCurve(kept.magnitude, now.magnitude)
           && sameCurve(kept.coherence, now.coherence) && sameCurve(kept.phase, now.phase)
           && kept.delayMs == now.delayMs;
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

bool SchemePreviews::sameSources(const Sources &kept, const Scheme &scheme,
                                 const Measured &snapshot, const Measured &current)
{
    const Scheme &k = kept.scheme;
    return k.bands == scheme.bands && k.hpf == scheme.hpf && k.lpf == scheme.lpf
           && k.hasLevel == scheme.hasLevel && k.level == scheme.level
           && sameCurve(k.freq, scheme.freq) && sameCurve(k.measured, scheme.measured)
           && sameCurve(k.measuredRaw, scheme.measuredRaw) && sameCurve(k.phase, scheme.phase)
           && sameCurve(k.target, scheme.target) && sameMeasured(kept.snapshot, snapshot)
           && sameMeasured(kept.current, current);
}

QList<SchemePreviews::Kept>::iterator
SchemePreviews::find(const Scheme &scheme, const Measured &snapshot, const Measured &current)
{
    return std::find_if(kept_.begin(), kept_.end(), [&](const Kept &k) {
        return sameSources(k.sources, scheme, snapshot, current);
    });
}

SchemePreviews::Kept SchemePreviews::make(const Scheme &scheme, const Measured &snapshot,
                                          const Measured &current)
{
    return {{scheme, snapshot, current},
            prepareDisplayCurve(input(scheme, snapshot, current)),
            std::nullopt};
}

const QVariantMap &SchemePreviews::curvesOf(Kept &kept)
{
    if (!kept.curves)
        kept.curves = PackDetail::schemeCurves(kept.preview);
    return *kept.curves;
}

void SchemePreviews::keep(Kept made)
{
    kept_.prepend(std::move(made));
    if (kept_.size() > keptPreviews)
        kept_.removeLast();
}

SchemePreviews::Kept &SchemePreviews::kept(const Scheme &scheme, const Measured &snapshot,
                                           const Measured &current)
{
    const auto found = find(scheme, snapshot, current);
    if (found != kept_.end())
        std::rotate(kept_.begin(), found, found + 1);
    else
        keep(make(scheme, snapshot, current));
    return kept_.first();
}

QVariantMap SchemePreviews::curves(const Scheme &scheme, const Measured &snapshot,
                                   const Measured &current)
{
    return curvesOf(kept(scheme, snapshot, current));
}

QVariantMap SchemePreviews::points(const Scheme &scheme, const Measured &snapshot,
                                   const Measured &current)
{
    return PackDetail::schemeCurvePoints(kept(scheme, snapshot, current).preview);
}

QList<QVariantMap> SchemePreviews::curves(const QList<Scheme> &schemes, const Measured &snapshot,
                                          const Measured &current)
{
    QList<qsizetype> missing;
    for (qsizetype i = 0; i < schemes.size(); ++i) {
        if (find(schemes[i], snapshot, current) == kept_.end())
            missing.append(i);
    }
    if (missing.size() > 1) {
        std::vector<Kept> made(size_t(missing.size()));
        std::vector<std::unique_ptr<QThread>> threads;
        for (size_t k = 0; k < made.size(); ++k)
            threads.emplace_back(QThread::create([&, k] {
                made[k] = make(schemes[missing[qsizetype(k)]], snapshot, current);
                curvesOf(made[k]);
            }));
        for (const auto &thread : threads)
            thread->start();
        for (const auto &thread : threads)
            thread->wait();
        for (Kept &kept : made)
            keep(std::move(kept));
    }
    QList<QVariantMap> all;
    for (const Scheme &scheme : schemes)
        all.append(curves(scheme, snapshot, current));
    return all;
}
