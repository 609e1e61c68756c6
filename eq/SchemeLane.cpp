#include "eq/SchemeLane.h"

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
    return filterResponse(side == 0 ? ButterworthHighPass : ButterworthLowPass, f, float(corner.hz),
                          corner.order, cornerQ, 0.0f, false, 0.0f);
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

LaneResult computeOne(const LaneContext &context, int laneIndex)
{
    if (laneIndex < 0 || laneIndex >= context.targets.size())
        return {};
    LaneTrace &trace = laneTrace();
    trace.on = traceEnabled() && laneIndex == 0;
    trace.lines.clear();

    const Target &target = context.targets[laneIndex];
    const bool lineArray = context.options.lineArray;
    const QList<float> &grid = context.grid;
    const qsizetype n = grid.size();

    Scheme s;
    s.name = target.title;
    s.kind = QStringLiteral("目标曲线");
    s.targetIndex = lineArray ? -1 : laneIndex;
    s.setting = context.options.setting;
    s.level = context.level;
    s.hasLevel = true;
    s.freq = grid;
    s.measured = context.measured;
    s.measuredRaw = context.measuredRaw;
    s.phase = context.phase;
    if (!context.diagnosis.isEmpty())
        return blocked(s, context.diagnosis);

    // Usable range from the corner estimate.
    const QList<float> &freq = context.curve.freq;
    const QList<float> &rel = context.relativeDb;
    const CornerEstimate corners = designCorners(freq, rel, lineArray ? -1 : laneIndex,
                                                 context.curve.coherence, lineArray ? 40.0 : 60.0);
    Corner hp = corners.highPass;
    Corner lp = corners.lowPass;
    if (isActive(hp))
        hp.hz = roundToTenth(hp.hz);
    if (isActive(lp))
        lp.hz = roundToTenth(lp.hz);
    const FloatCurve smoothed = octaveBinSmoothFloat(freq, rel, 6);
    const double fFirst = smoothed.freq.isEmpty() ? 20.5 : smoothed.freq.first();
    const double fLast = smoothed.freq.isEmpty() ? 24000.0 : smoothed.freq.last();

    const double loHint = target.fitFloorHz > 0.0 ? target.fitFloorHz
                          : isActive(hp)          ? hp.hz
                          : lineArray             ? 40.0
                                                  : 60.0;
    double lo = std::max(std::max(20.0, fFirst), loHint);
    if (corners.lowCutSuspect)
        lo = std::max(lo, 100.0);
    const double hiHint = isActive(lp) ? lp.hz : 24000.0;
    double hi = std::min(std::min(24000.0, fLast), hiHint);
    if (1.5 * lo >= hi)
        return blocked(s, usableRangeTooNarrow());

    const QList<double> measured = toDoubles(context.measured);
    const double base = baseLevel(grid, measured, lo, hi);

    QList<float> t = resampleToGrid(target.freq, target.db, grid);
    if (!t.isEmpty()) {
        const float at1k = t[nearestTo1kHz(grid)];
        for (float &v : t)
            v = std::max(-60.0f, v - at1k);
    }
    traceLine([&] {
        return QStringLiteral("lo=%1 hi=%2 base=%3")
                .arg(QString::number(lo, 'f', 3), QString::number(hi, 'f', 3),
                     QString::number(base, 'f', 4));
    });
    traceLine([&] { return QStringLiteral("m=[%1]").arg(joined(context.measured)); });
    traceLine([&] { return QStringLiteral("tgt=[%1]").arg(joined(t)); });

    QString refusal = diagnoseSaggingMiddle(grid, context.measured, base, lo, hi);
    if (refusal.isEmpty())
        refusal = diagnoseLargeDip(grid, context.measured, lo, hi);
    if (!refusal.isEmpty())
        return blocked(s, refusal);

    // The fit: at most two passes, the second after pulling the low-pass down.
    const qsizetype m = std::min({n, measured.size(), t.size()});
    QList<double> c;
    QList<double> u(n, 0.0);
    QList<double> d(n, 0.0);
    BandList bands;
    double pullDown = 0.0;
    for (int pass = 0; pass < 2; ++pass) {
        c = cornerResponseDb(hp, lp, grid);
        for (qsizetype k = 0; k < m; ++k) {
            if (target.rollOff == 0)
                u[k] = t[k] + c[k];
            else
                u[k] = isActive(hp) ? t[k] - magnitudeDb(cornerAt(hp, 0, grid[k])) : t[k];
            d[k] = grid[k] > lo && grid[k] < hi ? measured[k] - u[k] : 0.0;
        }
        bands = dropLowMidBoosts(dropWeakOrNarrowBoosts(
                sanitizeBands(searchPeq(grid, d, lo, hi, bandBudget, lineArray))));
        if (pass == 1)
            break;
        double shift = 0.0;
        const double pulled = pulledDownLowPass(
                highBoostNearLowPass(bands, isActive(lp) ? lp.hz : 0.0), lp.hz, lo, &shift);
        if (pulled <= 0.0)
            break;
        lp.hz = pulled;
        hi = pulled;
        pullDown = shift;
    }

    const QList<double> m12 = toDoubles(smoothToGrid(freq, rel, grid, 12));
    bands = protectNarrowDips(bands, m12, grid, freq, context.curve.coherence);
    bands.removeIf([](const Band &b) { return std::abs(b.gain) <= keptGainThreshold; });
    if (lineArray) {
        bands = residualPass(bands, measured, u, grid, lo, hi, isActive(hp) ? hp.hz : 0.0);
        bands = keepStrongest(bands, bandBudget);
    }
    const double highBoost = highBoostNearLowPass(bands, isActive(lp) ? lp.hz : 0.0);

    for (const Band &b : std::as_const(bands))
        s.bands.append({float(b.hz), float(b.gain), float(b.q), true});
    std::stable_sort(s.bands.begin(), s.bands.end(),
                     [](const SchemeBand &x, const SchemeBand &y) { return x.freq < y.freq; });

    const QList<double> e = bandsResponse(bands, grid);
    QList<double> predicted(m);
    s.predicted = QList<float>(m);
    s.predictedRaw = QList<float>(std::min(m, context.measuredRaw.size()));
    for (qsizetype k = 0; k < m; ++k) {
        predicted[k] = measured[k] + e[k] + c[k];
        s.predicted[k] = float(predicted[k]);
        if (k < s.predictedRaw.size())
            s.predictedRaw[k] = float(context.measuredRaw[k] + e[k] + c[k]);
    }
    s.target = target.rollOff != 0 ? t : toFloats(u);

    s.predictedPhase = context.phase;
    for (const SchemeBand &b : std::as_const(s.bands)) {
        if (b.enabled)
            addPhase(s.predictedPhase, grid, [&](float f) {
                return filterResponse(Peaking, f, b.freq, 0, b.q, b.gain, false, 0.0f);
            });
    }
    if (isActive(hp))
        addPhase(s.predictedPhase, grid, [&](float f) { return cornerAt(hp, 0, f); });
    if (isActive(lp))
        addPhase(s.predictedPhase, grid, [&](float f) { return cornerAt(lp, 1, f); });

    s.hpf = hp;
    s.lpf = lp;
    s.cornerFlag = corners.lowCutSuspect;

    double squares = 0.0;
    int counted = 0;
    for (qsizetype k = 0; k < m; ++k) {
        if (grid[k] >= lo && grid[k] <= hi) {
            const double ref = target.rollOff != 0 ? u[k] + c[k] : u[k];
            squares += (predicted[k] - ref) * (predicted[k] - ref);
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

    const QString log
            = QStringLiteral(
                      "%1：%2 段 · 误差 %3 dB · %4–%5 Hz · 高频提升 %6 dB · 高切下收 %7 oct\n")
                      .arg(s.name, QString::number(s.bands.size()),
                           QString::number(s.fitError, 'f', 2),
                           QString::number(qint64(std::round(lo))),
                           QString::number(qint64(std::round(hi))),
                           QString::number(highBoost, 'f', 2), QString::number(pullDown, 'f', 3));
    return {s, log};
}

} // namespace snt::eq
