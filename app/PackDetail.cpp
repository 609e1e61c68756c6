#include "app/PackDetail.h"

#include "app/ChartPoints.h"
#include "app/PackCurves.h"
#include "app/store/CurvePack.h"
#include "eq/CurveMath.h"
#include "eq/CurvePreparation.h"
#include "eq/DisplayCurve.h"
#include "eq/DisplaySmoothing.h"

#include <algorithm>

namespace {

constexpr int budget = 480;
constexpr qsizetype leastPoints = 8;

QList<float> wrapPhase360(QList<float> phase)
{
    for (float &value : phase)
        value = float(snt::eq::remainder360(value));
    return phase;
}

// Each step the shortest turn from the one before, as the phase of a smooth response runs.
QList<float> unwrapped(QList<float> phase)
{
    for (qsizetype i = 1; i < phase.size(); ++i)
        phase[i] = float(phase[i - 1] + snt::eq::remainder360(double(phase[i]) - phase[i - 1]));
    return phase;
}

QList<float> smoothedPhase(const QList<float> &freq, const QList<float> &phase, int smoothBands)
{
    return smoothBands > 0 ? unwrapped(snt::eq::complexSmooth(freq, phase, smoothBands)) : phase;
}

// A capture on the display grid at the chart's smoothing, without EQ.
snt::eq::DisplayCurve preparedCapture(const QList<float> &freq, const QList<float> &level,
                                      const QList<float> &phase, const QList<float> &coherence,
                                      double delayMs, int smoothBands)
{
    snt::eq::CurveRecord record;
    record.freq = freq;
    record.levelDb = level;
    record.phaseDeg = phase;
    record.coherence = coherence;
    record.delayMs = delayMs;
    record.smoothBands = smoothBands;
    return snt::eq::prepareDisplayCurve(record);
}

bool coherenceOnGrid(const snt::eq::DisplayCurve &prepared)
{
    return prepared.coherence.size() == prepared.freq.size();
}

QVariantList preparedCoherence(const snt::eq::DisplayCurve &prepared)
{
    return coherenceOnGrid(prepared) ? plotPoints(prepared.freq, prepared.coherence, budget)
                                     : QVariantList();
}

// The coherence beside a capture's phase: the prepared one, or else the capture's own.
QVariantList phaseCoherence(const snt::eq::DisplayCurve &prepared, const QList<float> &freq,
                            const QList<float> &coherence)
{
    if (coherenceOnGrid(prepared))
        return preparedCoherence(prepared);
    return coherence.size() >= leastPoints ? plotPoints(freq, coherence, int(freq.size()))
                                           : QVariantList();
}

// The keys both kinds of subwoofer alignment share.
QVariantMap alignmentKeys(const CurvePack &pack)
{
    return {{QStringLiteral("subAlign"), true},
            {QStringLiteral("curveLabels"), pack.curveLabels},
            {QStringLiteral("subAlignInfo"), pack.subAlign.toVariantMap()}};
}

// Both captures at their aligned delays and their in-phase sum; empty when either capture does
// not make a valid display curve.
QVariantMap alignedCaptures(const CurvePack &pack, int smoothBands)
{
    const snt::eq::DisplayCurve main = preparedCapture(pack.freq, pack.level, pack.phase,
                                                       pack.coherence, pack.delayMs, smoothBands);
    const snt::eq::DisplayCurve sub = preparedCapture(pack.freq2, pack.level2, pack.phase2,
                                                      pack.coherence2, pack.delayMs, smoothBands);
    if (!main.valid || !sub.valid)
        return {};
    const double d = pack.subAlign.value(QStringLiteral("delayMs")).toDouble(0.0);
    const bool invert = pack.subAlign.value(QStringLiteral("invert")).toBool(false);
    QVariantMap map = alignmentKeys(pack);
    map.insert(QVariantMap{
            {QStringLiteral("before"), plotPoints(main.freq, main.before, budget)},
            {QStringLiteral("after"), plotPoints(sub.freq, sub.before, budget)},
            {QStringLiteral("third"),
             plotPoints(main.freq, snt::eq::combineCurves(main.before, sub.before), budget)},
            {QStringLiteral("phaseAfter"),
             PackDetail::capturePhase(pack.freq, pack.phase, std::min(d, 0.0) + pack.delayMs, 0.0,
                                      smoothBands)},
            {QStringLiteral("phaseBefore"),
             PackDetail::capturePhase(pack.freq2, pack.phase2, pack.delayMs - std::max(d, 0.0),
                                      invert ? 180.0 : 0.0, smoothBands)},
            {QStringLiteral("phaseCoherence"), phaseCoherence(main, pack.freq, pack.coherence)},
            {QStringLiteral("phaseCoherence2"), phaseCoherence(sub, pack.freq2, pack.coherence2)},
            {QStringLiteral("coherence"), preparedCoherence(main)},
            {QStringLiteral("coherence2"), preparedCoherence(sub)}});
    return map;
}

// A per-grid-point array of the alignment result, when it has one value per grid frequency.
QList<float> gridArray(const CurvePack &pack, const char *key)
{
    const QList<float> values = jsonArrayToFloats(pack.subAlign.value(QLatin1String(key)));
    return values.size() == snt::eq::standardGrid().size() ? values : QList<float>();
}

QVariantList gridPhase(const CurvePack &pack, const char *key, int smoothBands)
{
    const QList<float> &grid = snt::eq::standardGrid();
    const QList<float> phase = gridArray(pack, key);
    if (phase.isEmpty())
        return {};
    return plotPoints(grid, unwrapped(smoothedPhase(grid, wrapPhase360(phase), smoothBands)),
                      budget);
}

QVariantList gridValues(const CurvePack &pack, const char *key)
{
    return plotPoints(snt::eq::standardGrid(), gridArray(pack, key), budget);
}

// The alignment as it was kept: three named curves on the standard grid with the result's
// phase and coherence arrays.
QVariantMap alignedNamedCurves(const CurvePack &pack, int smoothBands)
{
    const QList<float> &grid = snt::eq::standardGrid();
    QVariantMap map = alignmentKeys(pack);
    map.insert(
            QVariantMap{{QStringLiteral("before"), plotPoints(grid, pack.curves[0], budget)},
                        {QStringLiteral("after"), plotPoints(grid, pack.curves[1], budget)},
                        {QStringLiteral("third"), plotPoints(grid, pack.curves[2], budget)},
                        {QStringLiteral("phaseAfter"), gridPhase(pack, "phaseMain", smoothBands)},
                        {QStringLiteral("phaseBefore"), gridPhase(pack, "phaseSub", smoothBands)},
                        {QStringLiteral("phaseCoherence"), gridValues(pack, "phaseCohMain")},
                        {QStringLiteral("phaseCoherence2"), gridValues(pack, "phaseCohSub")}});
    return map;
}

// One curve per measured point of a line array that has at least 8 values, levels relative to
// the point's own band level.
QVariantList arrayPointCurves(const CurvePack &pack, int smoothBands)
{
    QVariantList curves;
    const qsizetype count = std::min(pack.pointFreq.size(), pack.pointLevel.size());
    for (qsizetype i = 0; i < count; ++i) {
        const qsizetype n = std::min(pack.pointFreq[i].size(), pack.pointLevel[i].size());
        if (n < leastPoints)
            continue;
        snt::eq::CurveRecord record;
        record.freq = pack.pointFreq[i].first(n);
        record.levelDb = bandRelativeDb(record.freq, pack.pointLevel[i]);
        record.coherence = pack.pointCoherence.value(i);
        record.smoothBands = smoothBands;
        const snt::eq::DisplayCurve prepared = snt::eq::prepareDisplayCurve(record);
        if (prepared.valid) {
            curves.append(QVariantMap{{QStringLiteral("points"),
                                       plotPoints(prepared.freq, prepared.before, budget)}});
        }
    }
    return curves;
}

// The curves of a preview by their keys, each in the form `points` gives it; none when the
// preview is not valid.
template<typename Points>
QVariantMap previewCurves(const snt::eq::DisplayCurve &preview, Points points)
{
    if (!preview.valid)
        return {};
    QVariantMap map{{QStringLiteral("before"), points(preview.freq, preview.before)},
                    {QStringLiteral("after"), points(preview.freq, preview.after)},
                    {QStringLiteral("phaseBefore"), points(preview.freq, preview.phaseBefore)},
                    {QStringLiteral("phaseAfter"), points(preview.freq, preview.phaseAfter)},
                    {QStringLiteral("coherence"), points(preview.freq, preview.coherence)}};
    if (!preview.auxiliary.isEmpty())
        map.insert(QStringLiteral("target"), points(preview.freq, preview.auxiliary));
    return map;
}

} // namespace

QVariantMap PackDetail::curves(const CurvePack &pack, int smoothBands)
{
    if (!pack.subAlign.isEmpty() && pack.freq.size() >= leastPoints
        && pack.freq2.size() >= leastPoints) {
        const QVariantMap aligned = alignedCaptures(pack, smoothBands);
        if (!aligned.isEmpty())
            return aligned;
    }
    if (!pack.subAlign.isEmpty() && pack.curves.size() >= 3)
        return alignedNamedCurves(pack, smoothBands);
    QVariantMap map
            = schemeCurves(snt::eq::prepareDisplayCurve(packCurveRecord(pack, smoothBands)));
    if (pack.use == lineArrayUse) {
        const QVariantList points = arrayPointCurves(pack, smoothBands);
        map.insert(QVariantMap{{QStringLiteral("isArray"), true},
                               {QStringLiteral("pointCurves"), points},
                               {QStringLiteral("pointCount"), points.size()}});
    }
    return map;
}

QVariantMap PackDetail::schemeCurves(const snt::eq::DisplayCurve &preview)
{
    return previewCurves(preview, [](const QList<float> &freq, const QList<float> &values) {
        return QVariant(plotPoints(freq, values, budget));
    });
}

QVariantMap PackDetail::schemeCurvePoints(const snt::eq::DisplayCurve &preview)
{
    return previewCurves(preview, [](const QList<float> &freq, const QList<float> &values) {
        return QVariant::fromValue(chartPoints(freq, values, budget));
    });
}

QVariantList PackDetail::capturePhase(const QList<float> &freq, const QList<float> &phase,
                                      double delayMs, double offsetDeg, int smoothBands)
{
    const qsizetype n = std::min(freq.size(), phase.size());
    if (n < leastPoints)
        return {};
    QList<float> turned(n);
    for (qsizetype i = 0; i < n; ++i) {
        double q = snt::eq::remainder360(double(freq[i]) * delayMs * 360.0 / 1000.0 + phase[i]
                                         - offsetDeg);
        turned[i] = float(q <= -180.0 ? q + 360.0 : q);
    }
    const QList<float> f = freq.first(n);
    return plotPoints(f, smoothedPhase(f, unwrapped(turned), smoothBands), int(n));
}
