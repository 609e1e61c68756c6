#include "eq/DisplayCurve.h"

#include "engine/dsp/Curve.h"
#include "eq/BandRules.h"
#include "eq/CurveMath.h"
#include "eq/CurvePreparation.h"
#include "eq/DisplaySmoothing.h"
#include "eq/EqResponse.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace snt::eq {

namespace {

constexpr int displayPoints = 480;
constexpr qsizetype minimumPoints = 8;
constexpr double degreesPerRadian = 57.29577951308232;
constexpr float outsideMeasuredRange = -100.0f;

QList<float> sum(const QList<float> &a, const QList<float> &b)
{
    QList<float> result(a);
    float *r = result.data();
    for (qsizetype i = 0; i < result.size(); ++i)
        r[i] += b[i];
    return result;
}

QList<float> pick(const QList<float> &values, const QList<qsizetype> &indices)
{
    QList<float> picked;
    picked.reserve(indices.size());
    for (const qsizetype i : indices)
        picked.append(values[i]);
    return picked;
}

// The measured phase with the delay taken out, wrapped to ±180°.
QList<float> delayCompensatedPhase(const CurveRecord &record)
{
    const qsizetype n = record.freq.size();
    QList<float> phase(n);
    float *p = phase.data();
    const double degreesPerHz = record.delayMs * 360.0 / 1000.0;
    for (qsizetype i = 0; i < n; ++i)
        p[i] = float(remainder360(record.freq[i] * degreesPerHz + record.phaseDeg[i]));
    return phase;
}

// The phase before and after the EQ, unwrapped.
struct PhaseCurves
{
    QList<float> before;
    QList<float> after;
};

// Unwrapping runs through every point, so the EQ's phase is needed at all of them.
PhaseCurves unsmoothedPhases(const CurveRecord &record)
{
    const QList<float> before = unwrapPhase(delayCompensatedPhase(record));
    return {before,
            unwrapPhase(sum(before,
                            eqResponse(record.bands, record.corners, record.freq, Phase).phase))};
}

// True when the smoothed phase cannot turn by half a turn between neighbouring frequencies: the
// sum of its steps over the points spanning each neighbouring pair stays below that.
bool turnsGently(const math::Curve &phase, const QList<float> &freq)
{
    const qsizetype m = phase.freq.size();
    std::vector<double> turned(size_t(m), 0.0); // sum of the absolute steps up to each point
    for (qsizetype k = 1; k < m; ++k)
        turned[k] = turned[k - 1] + std::abs(double(phase.values[k]) - phase.values[k - 1]);
    qsizetype below = 0; // the last point of the phase at or below the previous frequency
    for (qsizetype i = 0; i < freq.size(); ++i) {
        if (i > 0 && !(freq[i] >= freq[i - 1]))
            return false;
        qsizetype next = below;
        while (next + 1 < m && phase.freq[next + 1] <= freq[i])
            ++next;
        if (turned[std::min(next + 1, m - 1)] - turned[below] > 179.0)
            return false;
        below = next;
    }
    return true;
}

// The smoothed phase at the support points, unwrapped once more as the preview's phase curves
// are. Unwrapping changes nothing unless the phase turns by half a turn between neighbouring
// points of the record; only then is it read at every point.
QList<float> unwrappedAt(const math::Curve &phase, const QList<float> &freq,
                         const QList<qsizetype> &support)
{
    if (turnsGently(phase, freq))
        return readPhase(phase, pick(freq, support));
    return pick(unwrapPhase(readPhase(phase, freq)), support);
}

// Smoothing averages unit phasors, and the EQ turns those by its own unit phasor, so neither curve
// needs an angle per point: only the raw phases at the two anchors, the first followed from the
// start of the unwrapped lists and the second taken at any whole number of turns. At the support
// points; empty where the smoothing leaves the phase as it is.
PhaseCurves smoothedPhases(const CurveRecord &record, const QList<qsizetype> &support)
{
    const QList<float> wrapped = delayCompensatedPhase(record);
    const Phasors before = unitPhasors(wrapped);
    const Phasors turn = eqResponse(record.bands, record.corners, record.freq, Turn).turn;
    Phasors after{QList<float>(wrapped.size()), QList<float>(wrapped.size())};
    float *afterCos = after.cos.data();
    float *afterSin = after.sin.data();
    for (qsizetype i = 0; i < wrapped.size(); ++i) {
        afterCos[i] = before.cos[i] * turn.cos[i] - before.sin[i] * turn.sin[i];
        afterSin[i] = before.cos[i] * turn.sin[i] + before.sin[i] * turn.cos[i];
    }

    const auto [first, last] = phaseAnchors(record.freq);
    std::array<float, 2> beforeAt{};
    std::array<float, 2> afterAt{};
    if (first >= 0) {
        CurveRecord lead = record;
        lead.freq = record.freq.mid(0, first + 1);
        lead.phaseDeg = record.phaseDeg.mid(0, first + 1);
        const PhaseCurves leading = unsmoothedPhases(lead);
        const float eqAtLast = eqResponse(record.bands, record.corners, {record.freq[last]}, Phase)
                                       .phase.first();
        beforeAt = {leading.before.last(), wrapped[last]};
        afterAt = {leading.after.last(), wrapped[last] + eqAtLast};
    }
    const int n = record.smoothBands;
    const math::Curve smoothedBefore
            = smoothedPhase(record.freq, before, beforeAt[0], beforeAt[1], n);
    if (smoothedBefore.freq.isEmpty())
        return {};
    const math::Curve smoothedAfter = smoothedPhase(record.freq, after, afterAt[0], afterAt[1], n);
    return {unwrappedAt(smoothedBefore, record.freq, support),
            unwrappedAt(smoothedAfter, record.freq, support)};
}

// A curve read on the display grid; grid points outside the measured range read -100, so that a
// chart shows where nothing was measured.
QList<float> onDisplayGrid(const QList<float> &freq, const QList<float> &values)
{
    const QList<float> &grid = displayFrequencyGrid();
    QList<float> result = resampleToGrid(freq, values, grid);
    for (qsizetype i = 0; i < grid.size(); ++i) {
        if (grid[i] < freq.first() || grid[i] > freq.last())
            result[i] = outsideMeasuredRange;
    }
    return result;
}

// Before and after as levels at the support points, smoothed as the record asks.
struct Levels
{
    QList<float> before;
    QList<float> after;
};

Levels levels(const CurveRecord &record, const QList<qsizetype> &support,
              const QList<float> &supportFreq)
{
    const int n = record.smoothBands;
    const QList<float> rawBefore = pick(record.levelDb, support);
    if (n < 1)
        return {rawBefore,
                sum(rawBefore, eqResponse(record.bands, record.corners, supportFreq, Level).db)};
    // Smoothing reads only some of the points, so the EQ is needed only there.
    const QList<qsizetype> read = smoothingSupport(record.freq);
    const QList<float> readFreq = pick(record.freq, read);
    const QList<float> eq = eqResponse(record.bands, record.corners, readFreq, Level).db;
    if (record.smoothEqOnly)
        return {rawBefore, sum(rawBefore, smoothCurveAt(readFreq, eq, n, supportFreq))};
    return {smoothCurveAt(record.freq, record.levelDb, n, supportFreq),
            smoothCurveAt(readFreq, sum(pick(record.levelDb, read), eq), n, supportFreq)};
}

} // namespace

const QList<float> &displayFrequencyGrid()
{
    static const QList<float> grid = [] {
        QList<float> g(displayPoints);
        for (int i = 0; i < displayPoints; ++i)
            g[i] = float(20.0 * std::pow(1000.0, i / double(displayPoints - 1)));
        return g;
    }();
    return grid;
}

void addCornerResponse(const QList<float> &freq, const Corner &corner, int side,
                       QList<float> &levelDb, QList<float> &phaseDeg)
{
    if (!cornerApplies(corner))
        return;
    const qsizetype levels = levelDb.size();
    const qsizetype phases = phaseDeg.size();
    const qsizetype n = std::min(freq.size(), std::max(levels, phases));
    float *level = levelDb.data();
    float *phase = phaseDeg.data();
    for (qsizetype i = 0; i < n; ++i) {
        const Complex h = cornerResponse(corner, side, freq[i]);
        if (i < levels)
            level[i] += float(cornerLevelDb(h));
        if (i < phases)
            phase[i] += float(h.arg() * degreesPerRadian);
    }
}

DisplayCurve prepareDisplayCurve(const CurveRecord &record)
{
    const qsizetype n = record.freq.size();
    if (n < minimumPoints || record.levelDb.size() != n)
        return {};
    const bool withPhase = record.phaseDeg.size() == n;
    const int smoothing = record.smoothBands;
    // Reading a curve on the display grid touches only some of its points: the level curves are
    // worked out there alone.
    const QList<qsizetype> support = math::readSupport(record.freq, displayFrequencyGrid());
    const QList<float> supportFreq = pick(record.freq, support);
    const Levels level = levels(record, support, supportFreq);

    DisplayCurve display;
    display.freq = displayFrequencyGrid();
    display.before = onDisplayGrid(supportFreq, level.before);
    display.after = onDisplayGrid(supportFreq, level.after);
    if (withPhase) {
        PhaseCurves phase = smoothing >= 1 ? smoothedPhases(record, support) : PhaseCurves();
        if (phase.before.isEmpty()) {
            const PhaseCurves raw = unsmoothedPhases(record);
            phase = {pick(raw.before, support), pick(raw.after, support)};
        }
        display.phaseBefore = onDisplayGrid(supportFreq, phase.before);
        display.phaseAfter = onDisplayGrid(supportFreq, phase.after);
    }
    if (record.auxiliary.size() == n)
        display.auxiliary = onDisplayGrid(supportFreq, pick(record.auxiliary, support));
    if (record.coherence.size() == n)
        display.coherence = onDisplayGrid(supportFreq, pick(record.coherence, support));
    display.valid = true;
    return display;
}

QList<float> combineCurves(const QList<float> &a, const QList<float> &b)
{
    const qsizetype n = std::min(a.size(), b.size());
    QList<float> result(n);
    for (qsizetype i = 0; i < n; ++i)
        result[i] = sumDb(a[i], b[i]);
    return result;
}

QList<float> interpolateCurve(const QList<float> &x, const QList<float> &y,
                              const QList<float> &targets)
{
    QList<float> result(targets.size(), 0.0f);
    const qsizetype n = x.size();
    if (n < 2 || y.size() != n)
        return result;
    for (qsizetype i = 0; i < targets.size(); ++i) {
        const float t = targets[i];
        const qsizetype k = std::lower_bound(x.cbegin(), x.cend(), t) - x.cbegin();
        if (k == 0) {
            result[i] = y.first();
        } else if (k == n) {
            result[i] = y.last();
        } else {
            const double span = double(x[k]) - x[k - 1];
            const double w = x[k] > x[k - 1] ? (double(t) - x[k - 1]) / span : 0.0;
            result[i] = float(y[k - 1] + (double(y[k]) - y[k - 1]) * w);
        }
    }
    return result;
}

QList<float> unwrapPhase(const QList<float> &degrees)
{
    QList<float> result(degrees);
    unwrapDegrees(result);
    return result;
}

} // namespace snt::eq
