#include "eq/SchemeLane.h"

#include "engine/dsp/Curve.h"
#include "eq/BandRules.h"
#include "eq/CornerEstimation.h"
#include "eq/CurveMath.h"
#include "eq/CurvePreparation.h"
#include "eq/FilterResponse.h"
#include "eq/OctaveSmoothing.h"
#include "eq/PeqSearch.h"
#include "eq/Trace.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <numeric>

namespace snt::eq {

namespace {

constexpr int bandBudget = 8;
constexpr double keptGainThreshold = 1.000001;
constexpr float cornerQ = 0.707f;

const QString saggingMiddle = QStringLiteral("这条曲线两头鼓、中间塌了一大块，找不到可信的基准。这"
                                             "种曲线给不出可靠的高低切和 EQ，先重测一遍。");
const QString largeDip = QStringLiteral("这条曲线有一大段明显塌下去，多半是某个单元不响，或者测量有"
                                        "问题。不建议直接套 EQ，先确认单元、重测一遍。");

bool isActive(const Corner &c)
{
    return c.on && c.hz > 0.0;
}

QList<double> toDoubles(const QList<float> &values)
{
    return QList<double>(values.cbegin(), values.cend());
}

QList<float> toFloats(const QList<double> &values)
{
    QList<float> result;
    result.reserve(values.size());
    for (const double v : values)
        result.append(float(v));
    return result;
}

QString joined(const QList<float> &values)
{
    QStringList parts;
    parts.reserve(values.size());
    for (const float v : values)
        parts.append(QString::number(v, 'f', 3));
    return parts.join(QLatin1Char(','));
}

double magnitudeDb(const Complex &h)
{
    return 20.0 * std::log10(std::max(1e-9, double(h.abs())));
}

Complex cornerAt(const Corner &corner, int side, float f)
{
    return filterResponse({.type = side == 0 ? ButterworthHighPass : ButterworthLowPass,
                           .fc = float(corner.hz),
                           .order = corner.order,
                           .q = cornerQ},
                          f);
}

// The corner filters' level on the grid. The fit always models them as Butterworth: the kind is
// the user's later choice and does not move the corner frequency.
QList<double> cornerResponseDb(const Corner &hp, const Corner &lp, const QList<float> &grid)
{
    QList<double> c(grid.size(), 0.0);
    for (qsizetype k = 0; k < grid.size(); ++k) {
        if (isActive(hp))
            c[k] += magnitudeDb(cornerAt(hp, 0, grid[k]));
        if (isActive(lp))
            c[k] += magnitudeDb(cornerAt(lp, 1, grid[k]));
    }
    return c;
}

// Adds a filter's phase to p along the grid and unwraps the sum.
template<typename Response>
void addPhase(QList<float> &p, const QList<float> &grid, Response response)
{
    const qsizetype n = std::min(p.size(), grid.size());
    for (qsizetype k = 0; k < n; ++k)
        p[k] = float(p[k] + response(grid[k]).arg() * 180.0 / std::numbers::pi);
    unwrapDegrees(p);
}

void block(Scheme &s, const QString &message)
{
    s.target = s.measured;
    s.predicted = s.measured;
    s.predictedRaw = s.measuredRaw;
    s.predictedPhase = s.phase;
    s.bands.clear();
    s.hpf = Corner();
    s.lpf = Corner();
    s.blockedReason = message;
    s.explain = message;
    s.valid = false;
}

LaneResult blocked(Scheme s, const QString &message)
{
    block(s, message);
    const QString log = QStringLiteral("%1：已拦下 · %2\n").arg(s.name, message);
    return {s, log};
}

// Keeps the `keep` bands of largest |gain|; the weakest go first, the earlier of equals first.
BandList keepStrongest(const BandList &bands, qsizetype keep)
{
    if (bands.size() <= keep)
        return bands;
    QList<qsizetype> order(bands.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](qsizetype x, qsizetype y) {
        return std::abs(bands[x].gain) < std::abs(bands[y].gain);
    });
    QList<bool> dropped(bands.size(), false);
    for (qsizetype k = 0; k < bands.size() - keep; ++k)
        dropped[order[k]] = true;
    BandList result;
    for (qsizetype k = 0; k < bands.size(); ++k) {
        if (!dropped[k])
            result.append(bands[k]);
    }
    return result;
}

qsizetype nearestTo1kHz(const QList<float> &grid)
{
    qsizetype best = 0;
    double bestDistance = std::numeric_limits<double>::infinity();
    for (qsizetype k = 0; k < grid.size(); ++k) {
        const double distance = std::abs(std::log(grid[k] / 1000.0));
        if (distance < bestDistance) {
            bestDistance = distance;
            best = k;
        }
    }
    return best;
}

// Where a level crosses thr between two points, interpolated against ln f.
double crossing(double f0, double l0, double f1, double l1, double thr, double whenLevel)
{
    if (l1 == l0)
        return whenLevel;
    const double t = std::clamp((thr - l0) / (l1 - l0), 0.0, 1.0);
    return std::exp(std::log(f0) + t * (std::log(f1) - std::log(f0)));
}

} // namespace

QString usableRangeTooNarrow()
{
    return QStringLiteral("这条曲线能用的频段太窄，算不出可信的高低通和 EQ，先重测一遍。");
}

QString diagnoseSaggingMiddle(const QList<float> &grid, const QList<float> &measured, double base,
                              double lo, double hi)
{
    const qsizetype n = std::min(grid.size(), measured.size());
    QList<double> inRange;
    for (qsizetype k = 0; k < n; ++k) {
        if (grid[k] > lo && grid[k] < hi)
            inRange.append(measured[k]);
    }
    if (inRange.size() >= 4 && median(inRange) - base >= 4.0)
        return saggingMiddle;
    return {};
}

QString diagnoseLargeDip(const QList<float> &grid, const QList<float> &measured, double lo,
                         double hi)
{
    const qsizetype size = std::min(grid.size(), measured.size());
    QList<double> f;
    QList<double> level;
    for (qsizetype k = 0; k < size; ++k) {
        if (grid[k] > lo && grid[k] < hi) {
            f.append(grid[k]);
            level.append(measured[k]);
        }
    }
    const qsizetype n = f.size();
    if (n < 8)
        return {};
    const double thr = median(level) - 12.0;
    double widest = 0.0;
    for (qsizetype s = 0; s < n; ++s) {
        if (!(level[s] < thr))
            continue;
        qsizetype e = s;
        while (e + 1 < n && level[e + 1] < thr)
            ++e;
        if (s > 0 && e < n - 1) {
            const double lower = crossing(f[s - 1], level[s - 1], f[s], level[s], thr, f[s - 1]);
            const double upper = crossing(f[e], level[e], f[e + 1], level[e + 1], thr, f[e]);
            widest = std::max(widest, std::log2(upper / std::max(1e-9, lower)));
        }
        s = e;
    }
    return widest >= 1.0 ? largeDip : QString();
}

double pulledDownLowPass(double highBoostDb, double lowPassHz, double lo, double *shift)
{
    *shift = 0.0;
    if (!(highBoostDb > 5.0))
        return 0.0;
    const double octaves = std::min(0.25, (highBoostDb - 5.0) * 0.1);
    const double pulled = lowPassHz / std::pow(2.0, octaves);
    if (!(pulled > 1.5 * lo && octaves > 0.05))
        return 0.0;
    *shift = octaves;
    return roundToTenth(pulled);
}

namespace {

// Where the lane fits: the corners estimated from the curve and the frequency range between them.
struct UsableRange
{
    Corner highPass;
    Corner lowPass;
    bool lowCutSuspect = false;
    double lo = 0.0;
    double hi = 0.0;
    double lowPassPullDown = 0.0; // octaves the fit pulled the low-pass down by

    bool tooNarrow() const { return 1.5 * lo >= hi; }
};

// The lane's curves on the grid, each named for what it holds (dB).
struct LaneCurves
{
    QList<double> measured; // the 1/6-octave smoothed relative level
    QList<float> target; // the target, 0 dB at 1 kHz, floored at -60 dB
    QList<double> corners; // the corner filters' level
    QList<double> aim; // what the bands aim for: the target with the corners
    QList<double> deviation; // measured minus aim inside the range, 0 outside
    QList<double> eq; // the bands' response
    QList<double> predicted; // measured with the EQ and the corners
    qsizetype fitted = 0; // points that the measured, the target and the grid all have
};

UsableRange usableRange(const LaneContext &context, const Target &target, int laneIndex)
{
    const bool lineArray = context.options.lineArray;
    const QList<float> &freq = context.curve.freq;
    const CornerEstimate corners
            = designCorners(freq, context.relativeDb, lineArray ? -1 : laneIndex,
                            context.curve.coherence, lineArray ? 40.0 : 60.0);
    UsableRange range;
    range.highPass = corners.highPass;
    range.lowPass = corners.lowPass;
    range.lowCutSuspect = corners.lowCutSuspect;
    if (isActive(range.highPass))
        range.highPass.hz = roundToTenth(range.highPass.hz);
    if (isActive(range.lowPass))
        range.lowPass.hz = roundToTenth(range.lowPass.hz);
    const math::Curve smoothed = octaveBinSmoothFloat(freq, context.relativeDb, 6);
    const double fFirst = smoothed.freq.isEmpty() ? 20.5 : smoothed.freq.first();
    const double fLast = smoothed.freq.isEmpty() ? 24000.0 : smoothed.freq.last();

    const double loHint = target.fitFloorHz > 0.0    ? target.fitFloorHz
                          : isActive(range.highPass) ? range.highPass.hz
                          : lineArray                ? 40.0
                                                     : 60.0;
    range.lo = std::max(std::max(20.0, fFirst), loHint);
    if (range.lowCutSuspect)
        range.lo = std::max(range.lo, 100.0);
    const double hiHint = isActive(range.lowPass) ? range.lowPass.hz : 24000.0;
    range.hi = std::min(std::min(24000.0, fLast), hiHint);
    return range;
}

// The target read on the grid and moved to 0 dB at 1 kHz, no lower than -60 dB.
QList<float> targetOnGrid(const Target &target, const QList<float> &grid)
{
    QList<float> onGrid = resampleToGrid(target.freq, target.db, grid);
    if (!onGrid.isEmpty()) {
        const float at1k = onGrid[nearestTo1kHz(grid)];
        for (float &v : onGrid)
            v = std::max(-60.0f, v - at1k);
    }
    return onGrid;
}

// The aim and the deviation the bands are fitted to, for the corners as they stand.
void aimAndDeviation(LaneCurves &curves, const UsableRange &range, const Target &target,
                     const QList<float> &grid)
{
    curves.corners = cornerResponseDb(range.highPass, range.lowPass, grid);
    for (qsizetype k = 0; k < curves.fitted; ++k) {
        const double t = curves.target[k];
        if (target.rollOff == 0)
            curves.aim[k] = t + curves.corners[k];
        else
            curves.aim[k] = isActive(range.highPass)
                                    ? t - magnitudeDb(cornerAt(range.highPass, 0, grid[k]))
                                    : t;
        curves.deviation[k] = grid[k] > range.lo && grid[k] < range.hi
                                      ? curves.measured[k] - curves.aim[k]
                                      : 0.0;
    }
}

// The band fit: at most two passes, the second after pulling the low-pass down when the first
// boosts hard next to it.
BandList fitBands(LaneCurves &curves, UsableRange &range, const Target &target,
                  const LaneContext &context)
{
    const QList<float> &grid = context.grid;
    BandList bands;
    for (int pass = 0; pass < 2; ++pass) {
        aimAndDeviation(curves, range, target, grid);
        bands = dropLowMidBoosts(dropWeakOrNarrowBoosts(
                sanitizeBands(searchPeq(grid, curves.deviation, range.lo, range.hi, bandBudget,
                                        context.options.lineArray, context.responses.get()))));
        if (pass == 1)
            break;
        double shift = 0.0;
        const double pulled = pulledDownLowPass(
                highBoostNearLowPass(bands, isActive(range.lowPass) ? range.lowPass.hz : 0.0),
                range.lowPass.hz, range.lo, &shift);
        if (pulled <= 0.0)
            break;
        range.lowPass.hz = pulled;
        range.hi = pulled;
        range.lowPassPullDown = shift;
    }
    return bands;
}

// Drops boosts in unreliable narrow dips and bands too weak to keep; in line-array mode adds the
// gentle residual bands and keeps the strongest within the budget.
BandList cleanUp(BandList bands, const LaneCurves &curves, const UsableRange &range,
                 const LaneContext &context)
{
    const QList<float> &grid = context.grid;
    const QList<double> m12
            = toDoubles(smoothToGrid(context.curve.freq, context.relativeDb, grid, 12));
    bands = protectNarrowDips(bands, m12, grid, context.curve.freq, context.curve.coherence);
    bands.removeIf([](const Band &b) { return std::abs(b.gain) <= keptGainThreshold; });
    if (context.options.lineArray) {
        bands = residualPass(bands, curves.measured, curves.aim, grid, range.lo, range.hi,
                             isActive(range.highPass) ? range.highPass.hz : 0.0);
        bands = keepStrongest(bands, bandBudget);
    }
    return bands;
}

// The scheme's bands (by frequency), and its predicted level, target and phase.
void predict(Scheme &s, LaneCurves &curves, const BandList &bands, const UsableRange &range,
             const Target &target, const LaneContext &context)
{
    const QList<float> &grid = context.grid;
    for (const Band &b : bands)
        s.bands.append({float(b.hz), float(b.gain), float(b.q), true});
    std::stable_sort(s.bands.begin(), s.bands.end(),
                     [](const SchemeBand &x, const SchemeBand &y) { return x.freq < y.freq; });

    curves.eq = bandsResponse(bands, grid);
    const qsizetype m = curves.fitted;
    curves.predicted = QList<double>(m);
    s.predicted = QList<float>(m);
    s.predictedRaw = QList<float>(std::min(m, context.measuredRaw.size()));
    for (qsizetype k = 0; k < m; ++k) {
        curves.predicted[k] = curves.measured[k] + curves.eq[k] + curves.corners[k];
        s.predicted[k] = float(curves.predicted[k]);
        if (k < s.predictedRaw.size())
            s.predictedRaw[k] = float(context.measuredRaw[k] + curves.eq[k] + curves.corners[k]);
    }
    s.target = target.rollOff != 0 ? curves.target : toFloats(curves.aim);

    s.predictedPhase = context.phase;
    for (const SchemeBand &b : std::as_const(s.bands)) {
        if (b.enabled)
            addPhase(s.predictedPhase, grid, [&](float f) {
                return filterResponse({.type = Peaking, .fc = b.freq, .q = b.q, .gainDb = b.gain},
                                      f);
            });
    }
    if (isActive(range.highPass))
        addPhase(s.predictedPhase, grid, [&](float f) { return cornerAt(range.highPass, 0, f); });
    if (isActive(range.lowPass))
        addPhase(s.predictedPhase, grid, [&](float f) { return cornerAt(range.lowPass, 1, f); });

    s.hpf = range.highPass;
    s.lpf = range.lowPass;
    s.cornerFlag = range.lowCutSuspect;
}

// The fit error inside the range, the largest boost and cut, the explanation and the log line.
LaneResult describe(Scheme s, const LaneCurves &curves, const BandList &bands,
                    const UsableRange &range, const Target &target, const QList<float> &grid)
{
    double squares = 0.0;
    int counted = 0;
    for (qsizetype k = 0; k < curves.fitted; ++k) {
        if (grid[k] >= range.lo && grid[k] <= range.hi) {
            const double ref
                    = target.rollOff != 0 ? curves.aim[k] + curves.corners[k] : curves.aim[k];
            squares += (curves.predicted[k] - ref) * (curves.predicted[k] - ref);
            ++counted;
        }
    }
    s.fitError = counted > 0 ? float(std::sqrt(squares / counted)) : 0.0f;
    for (const SchemeBand &b : std::as_const(s.bands)) {
        if (b.enabled) {
            s.maxGain = std::max(s.maxGain, b.gain);
            s.maxCut = std::min(s.maxCut, b.gain);
        }
    }
    s.valid = true;
    s.explain = QStringLiteral("按「%1」这条目标曲线算出来的结果。").arg(target.title);
    if (!target.note.isEmpty())
        s.explain += QStringLiteral(" %1。").arg(target.note);

    const double highBoost
            = highBoostNearLowPass(bands, isActive(range.lowPass) ? range.lowPass.hz : 0.0);
    const QString log
            = QStringLiteral(
                      "%1：%2 段 · 误差 %3 dB · %4–%5 Hz · 高频提升 %6 dB · 高切下收 %7 oct\n")
                      .arg(s.name, QString::number(s.bands.size()),
                           QString::number(s.fitError, 'f', 2),
                           QString::number(qint64(std::round(range.lo))),
                           QString::number(qint64(std::round(range.hi))),
                           QString::number(highBoost, 'f', 2),
                           QString::number(range.lowPassPullDown, 'f', 3));
    return {s, log};
}

Scheme startScheme(const LaneContext &context, const Target &target, int laneIndex)
{
    Scheme s;
    s.name = target.title;
    s.kind = QStringLiteral("目标曲线");
    s.targetIndex = context.options.lineArray ? -1 : laneIndex;
    s.setting = context.options.setting;
    s.level = context.level;
    s.hasLevel = true;
    s.freq = context.grid;
    s.measured = context.measured;
    s.measuredRaw = context.measuredRaw;
    s.phase = context.phase;
    return s;
}

} // namespace

LaneResult computeOne(const LaneContext &context, int laneIndex)
{
    if (laneIndex < 0 || laneIndex >= context.targets.size())
        return {};
    LaneTrace &trace = laneTrace();
    trace.on = traceEnabled() && laneIndex == 0;
    trace.lines.clear();

    const Target &target = context.targets[laneIndex];
    const QList<float> &grid = context.grid;
    Scheme s = startScheme(context, target, laneIndex);
    if (!context.diagnosis.isEmpty())
        return blocked(s, context.diagnosis);

    UsableRange range = usableRange(context, target, laneIndex);
    if (range.tooNarrow())
        return blocked(s, usableRangeTooNarrow());

    LaneCurves curves;
    curves.measured = toDoubles(context.measured);
    const double base = baseLevel(grid, curves.measured, range.lo, range.hi);
    curves.target = targetOnGrid(target, grid);
    traceLine([&] {
        return QStringLiteral("lo=%1 hi=%2 base=%3")
                .arg(QString::number(range.lo, 'f', 3), QString::number(range.hi, 'f', 3),
                     QString::number(base, 'f', 4));
    });
    traceLine([&] { return QStringLiteral("m=[%1]").arg(joined(context.measured)); });
    traceLine([&] { return QStringLiteral("tgt=[%1]").arg(joined(curves.target)); });

    QString refusal = diagnoseSaggingMiddle(grid, context.measured, base, range.lo, range.hi);
    if (refusal.isEmpty())
        refusal = diagnoseLargeDip(grid, context.measured, range.lo, range.hi);
    if (!refusal.isEmpty())
        return blocked(s, refusal);

    curves.fitted = std::min({grid.size(), curves.measured.size(), curves.target.size()});
    curves.aim = QList<double>(grid.size(), 0.0);
    curves.deviation = QList<double>(grid.size(), 0.0);
    BandList bands = fitBands(curves, range, target, context);
    bands = cleanUp(bands, curves, range, context);
    predict(s, curves, bands, range, target, context);
    return describe(s, curves, bands, range, target, grid);
}

} // namespace snt::eq
