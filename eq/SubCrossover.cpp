#include "eq/SubCrossover.h"

#include "engine/dsp/Curve.h"
#include "eq/BandRules.h"
#include "eq/CurveMath.h"
#include "eq/CurvePreparation.h"
#include "eq/FilterResponse.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

namespace snt::eq {

namespace {

constexpr qsizetype minimumPoints = 8;
constexpr double unmeasuredDb = -120.0;
constexpr float cornerQ = 0.707f;
constexpr double liftLowHz = 20.0;
constexpr double liftHighHz = 500.0;
constexpr double needSpanDb = 15.0; // how far below the largest need a point still counts
constexpr double windowDepthDb = 15.0;
constexpr double deviationClampDb = 4.0;
constexpr double eqHighHz = 300.0;
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

const QString subNotCovering = QStringLiteral("超低这条曲线没覆盖 80 Hz 附近，没法定分频");
const QString mainIncomplete = QStringLiteral("主扩这条曲线不完整，没法定分频");
const QString mainAboveTarget = QStringLiteral("主扩自己就在目标之上，这条目标不需要超低");
const QString mainOnTarget = QStringLiteral("主扩自己已经贴到目标，超低没有可补的");
const QString noLowPass = QStringLiteral("没有可用的低通组合");

constexpr std::array<double, 18> liftHz{20.5, 25,  30,  40,  50,  63,  80,  100, 125,
                                        160,  200, 250, 315, 400, 500, 630, 800, 1000};
constexpr std::array<std::array<double, 18>, 4> liftTables{{
        {11.7, 10.6, 9.5, 7.5, 5.9, 4.5, 3.2, 2.2, 1.5, 1.0, 0.6, 0.4, 0.3, 0.2, 0.1, 0.1, 0.0,
         0.0},
        {22.5, 20.5, 18.4, 15.0, 12.3, 9.7, 7.2, 5.3, 3.8, 2.5, 1.7, 1.1, 0.7, 0.5, 0.3, 0.2, 0.1,
         0.1},
        {29.0, 26.5, 24.1, 20.0, 16.8, 13.7, 10.7, 8.2, 6.0, 4.2, 2.9, 2.0, 1.3, 0.8, 0.5, 0.3, 0.2,
         0.1},
        {15.4, 14.0, 12.5, 10.0, 8.0, 6.1, 4.4, 3.1, 2.2, 1.4, 0.9, 0.6, 0.4, 0.2, 0.2, 0.1, 0.1,
         0.0},
}};

struct LowPassType
{
    QString kind;
    int order;
};

// The low-pass types the design tries, in the order it tries them.
const std::array<LowPassType, 6> lowPassTypes{{{QStringLiteral("LR"), 4},
                                               {QStringLiteral("LR"), 8},
                                               {QStringLiteral("LR"), 2},
                                               {QStringLiteral("BW"), 4},
                                               {QStringLiteral("BW"), 8},
                                               {QStringLiteral("BW"), 2}}};

using Curve = std::vector<double>; // one value per grid point

QList<float> toFloats(const Curve &curve)
{
    QList<float> result;
    result.reserve(qsizetype(curve.size()));
    for (const double v : curve)
        result.append(float(v));
    return result;
}

double roundToHundredth(double value)
{
    return std::round(value * 100.0) / 100.0;
}

bool usable(const QList<float> &freq, const QList<float> &db)
{
    return freq.size() >= minimumPoints && db.size() == freq.size();
}

// The curve on the grid; -120 dB below its first frequency, where nothing was measured.
Curve onGrid(const QList<float> &freq, const QList<float> &db)
{
    const QList<float> &grid = standardGrid();
    const QList<float> resampled = resampleToGrid(freq, db, grid);
    Curve curve(size_t(grid.size()));
    for (qsizetype i = 0; i < grid.size(); ++i)
        curve[i] = grid[i] < freq.first() ? unmeasuredDb : resampled[i];
    return curve;
}

// The subwoofer's natural low end: where its level falls 6 dB below its loudest point between
// 25 and 45 Hz, clamped to that span. 40 Hz (and `fallback` set) when the curve shows none.
double highPassCorner(const Curve &sub, bool &fallback)
{
    const QList<float> &grid = standardGrid();
    qsizetype peak = -1;
    for (qsizetype i = 0; i < grid.size(); ++i) {
        if (grid[i] >= 25.0f && grid[i] <= 45.0f && (peak < 0 || sub[i] > sub[peak]))
            peak = i;
    }
    fallback = false;
    if (peak >= 0) {
        const double level = sub[peak] - 6.0;
        for (qsizetype k = peak; k > 0; --k) {
            if (sub[k - 1] < level) {
                const double t = (level - sub[k - 1]) / (sub[k] - sub[k - 1]);
                const double hz = grid[k - 1] + t * (double(grid[k]) - grid[k - 1]);
                return roundToTenth(std::clamp(hz, 25.0, 45.0));
            }
        }
    }
    fallback = true;
    return 40.0;
}

struct Window
{
    double lowHz = 0.0;
    double highHz = 0.0;
    bool found = false;
};

// Where the subwoofer hands over to the main: the crossing from subwoofer-louder to main-louder at
// the highest level, widened while both curves stay within 15 dB below that level.
Window crossoverWindow(const Curve &sub, const Curve &main)
{
    const QList<float> &grid = standardGrid();
    const qsizetype n = grid.size();
    qsizetype crossing = -1;
    double crossingLevel = 0.0;
    for (qsizetype k = 1; k < n; ++k) {
        if (grid[k - 1] < liftLowHz || grid[k] > liftHighHz)
            continue;
        const double d1 = sub[k - 1] - main[k - 1];
        const double d2 = sub[k] - main[k];
        if (!(d1 >= 0.0 && d2 < 0.0))
            continue;
        const double t = d1 / (d1 - d2);
        const double level = main[k - 1] + t * (main[k] - main[k - 1]);
        if (crossing < 0 || level > crossingLevel) {
            crossing = k;
            crossingLevel = level;
        }
    }
    if (crossing < 0)
        return {};
    const double floor = crossingLevel - windowDepthDb;
    const auto bothAbove = [&](qsizetype i) {
        return sub[i] >= floor && main[i] >= floor;
    };
    qsizetype low = crossing;
    while (low > 0 && grid[low - 1] >= liftLowHz && bothAbove(low - 1))
        --low;
    qsizetype high = crossing;
    while (high + 1 < n && grid[high + 1] <= liftHighHz && bothAbove(high + 1))
        ++high;
    if (!(grid[high] > grid[low]))
        return {};
    return {grid[low], grid[high], true};
}

// Everything the design reads, on the grid.
struct Design
{
    Curve mainRel;
    Curve subRaw;
    Curve subAfterHighPass;
    Curve lift;
    Curve need; // lift the subwoofer must add; NaN where the main alone reaches the target
    double largestNeed = -std::numeric_limits<double>::infinity();
    Window fallback; // where the need is within 15 dB of the largest
    Window window; // the crossover window, or the fallback where none was found
    std::vector<qsizetype> errorRange; // grid points the fit is judged on
};

bool needsLift(const Design &d, qsizetype i)
{
    return !std::isnan(d.need[i]) && d.need[i] >= d.largestNeed - needSpanDb;
}

void findNeed(Design &d)
{
    const QList<float> &grid = standardGrid();
    d.need.assign(size_t(grid.size()), nan);
    for (qsizetype i = 0; i < grid.size(); ++i) {
        if (grid[i] < liftLowHz || grid[i] > liftHighHz)
            continue;
        const double linear
                = std::pow(10.0, d.lift[i] / 20.0) - std::pow(10.0, d.mainRel[i] / 20.0);
        if (linear > 0.001) {
            d.need[i] = 20.0 * std::log10(std::max(linear, 1e-12));
            d.largestNeed = std::max(d.largestNeed, d.need[i]);
        }
    }
}

void findWindows(Design &d)
{
    const QList<float> &grid = standardGrid();
    for (qsizetype i = 0; i < grid.size(); ++i) {
        if (needsLift(d, i)) {
            if (!d.fallback.found)
                d.fallback.lowHz = grid[i];
            d.fallback.highHz = grid[i];
            d.fallback.found = true;
        }
    }
    d.window = crossoverWindow(d.subRaw, d.mainRel);
    if (!d.window.found)
        d.window = d.fallback;
}

void findErrorRange(Design &d, double highPassHz)
{
    const QList<float> &grid = standardGrid();
    const double from = std::max({1.15 * highPassHz, 0.8 * d.window.lowHz, liftLowHz});
    const double to = std::min(std::max(1.5 * d.window.highHz, 160.0), 1000.0);
    for (qsizetype i = 0; i < grid.size(); ++i) {
        if (grid[i] >= from && grid[i] <= to)
            d.errorRange.push_back(i);
    }
}

// The subwoofer gain the need points to: the median of need minus subwoofer in the fallback window.
double gainLadderCentre(const Design &d)
{
    const QList<float> &grid = standardGrid();
    QList<double> gaps;
    for (qsizetype i = 0; i < grid.size(); ++i) {
        if (grid[i] >= d.fallback.lowHz && grid[i] <= d.fallback.highHz && needsLift(d, i))
            gaps.append(d.need[i] - d.subAfterHighPass[i]);
    }
    return median(gaps);
}

struct Candidate
{
    double error = 0.0; // rounded to 0.1 dB
    int type = -1; // index into lowPassTypes; -1: none yet
    double hz = 0.0;
    double gainDb = 0.0;
    double octavesFromMiddle = 0.0;
};

bool ranksBefore(const Candidate &a, const Candidate &b)
{
    if (b.type < 0)
        return true;
    if (a.error != b.error)
        return a.error < b.error;
    const bool aLr = lowPassTypes[a.type].kind == QLatin1String("LR");
    const bool bLr = lowPassTypes[b.type].kind == QLatin1String("LR");
    if (aLr != bLr)
        return aLr;
    if (lowPassTypes[a.type].order != lowPassTypes[b.type].order)
        return lowPassTypes[a.type].order < lowPassTypes[b.type].order;
    return a.octavesFromMiddle < b.octavesFromMiddle;
}

// Low-pass frequencies to try: from the window's low edge (at least 60 Hz) up to 120 Hz or a
// little above the start, in 1/24-octave steps.
struct Ladder
{
    QList<double> hz;
    double middleHz = 0.0;
};

Ladder lowPassLadder(double windowLowHz)
{
    double base = std::max(60.0, windowLowHz);
    double top = std::max(120.0, 1.05 * base);
    if (base > 120.0) {
        base = 60.0;
        top = 120.0;
    }
    Ladder ladder;
    ladder.middleHz = std::sqrt(base * top);
    const int steps = std::max(int(std::round(24.0 * std::log2(top / base))), 10);
    for (int k = 0; k <= steps; ++k) {
        const double hz = base * std::exp2(k / 24.0);
        if (hz <= top)
            ladder.hz.append(hz);
    }
    return ladder;
}

// The weighted fit error of every gain offset is computed on linear amplitudes prepared once,
// since the search sums main and subwoofer in phase millions of times.
struct FitTerms
{
    std::vector<double> mainAmplitude;
    std::vector<double> lift;
    std::vector<double> weight;
};

FitTerms fitTerms(const Design &d)
{
    const QList<float> &grid = standardGrid();
    FitTerms terms;
    for (const qsizetype i : d.errorRange) {
        terms.mainAmplitude.push_back(std::pow(10.0, d.mainRel[i] / 20.0));
        terms.lift.push_back(d.lift[i]);
        const double lowWeight = grid[i] < 30.0f ? 0.4 : 1.0;
        const double highWeight = grid[i] > d.fallback.highHz ? 0.5 : 1.0;
        terms.weight.push_back(lowWeight * highWeight);
    }
    return terms;
}

double weightedError(const FitTerms &terms, const std::vector<double> &subAmplitude,
                     double gainFactor)
{
    double sum = 0.0;
    for (size_t r = 0; r < subAmplitude.size(); ++r) {
        const double combined
                = 20.0
                  * std::log10(
                          std::max(terms.mainAmplitude[r] + gainFactor * subAmplitude[r], 1e-12));
        const double d = std::clamp(combined - terms.lift[r], -deviationClampDb, deviationClampDb);
        sum += terms.weight[r] * d * d;
    }
    return std::sqrt(sum / double(subAmplitude.size()));
}

// True when the subwoofer with this low-pass and gain stays within 15 dB above the target over
// the octave and a half above the low-pass (up to 400 Hz), so it does not boom through the main.
bool staysInBounds(const Design &d, const Curve &response, double lowPassHz, double gainDb)
{
    const QList<float> &grid = standardGrid();
    const double top = std::min(400.0, 3.0 * lowPassHz);
    for (qsizetype i = 0; i < grid.size(); ++i) {
        if (grid[i] >= lowPassHz && grid[i] <= top
            && d.subAfterHighPass[i] + response[i] + gainDb > d.lift[i] + 15.0)
            return false;
    }
    return true;
}

// Tries every low-pass type at every ladder frequency with every gain offset; prefers the best
// candidate that stays in bounds, else the best overall.
Candidate bestLowPass(const Design &d)
{
    const QList<float> &grid = standardGrid();
    const FitTerms terms = fitTerms(d);
    const double centre = gainLadderCentre(d);
    std::vector<double> gains;
    std::vector<double> gainFactors;
    for (int j = 0; centre - 15.0 + j * 0.1 <= centre + 15.01; ++j) {
        gains.push_back(centre - 15.0 + j * 0.1);
        gainFactors.push_back(std::pow(10.0, gains.back() / 20.0));
    }
    const Ladder ladder = lowPassLadder(d.window.lowHz);

    Candidate best;
    Candidate bestInBounds;
    Curve response(size_t(grid.size()));
    std::vector<double> subAmplitude(d.errorRange.size());
    for (int type = 0; type < int(lowPassTypes.size()); ++type) {
        for (const double hz : ladder.hz) {
            for (qsizetype i = 0; i < grid.size(); ++i)
                response[i] = crossoverGainDb(lowPassTypes[type].kind, lowPassTypes[type].order, hz,
                                              grid[i], false);
            for (size_t r = 0; r < d.errorRange.size(); ++r) {
                const qsizetype i = d.errorRange[r];
                subAmplitude[r] = std::pow(10.0, (d.subAfterHighPass[i] + response[i]) / 20.0);
            }
            size_t bestGain = 0;
            double lowestError = std::numeric_limits<double>::infinity();
            for (size_t j = 0; j < gains.size(); ++j) {
                const double error = weightedError(terms, subAmplitude, gainFactors[j]);
                if (error < lowestError) {
                    lowestError = error;
                    bestGain = j;
                }
            }
            if (!std::isfinite(lowestError))
                continue;
            const Candidate c{roundToTenth(lowestError), type, hz, gains[bestGain],
                              std::abs(std::log2(hz / ladder.middleHz))};
            if (ranksBefore(c, best))
                best = c;
            if (staysInBounds(d, response, hz, c.gainDb) && ranksBefore(c, bestInBounds))
                bestInBounds = c;
        }
    }
    return bestInBounds.type >= 0 ? bestInBounds : best;
}

// Level of the enabled bands on the grid up to `upToHz`, 0 above. The design counts the subwoofer's
// EQ up to 300 Hz, the top of where it places bands.
Curve bandsOnGrid(const QList<CrossoverBand> &bands, double upToHz)
{
    const QList<float> &grid = standardGrid();
    Curve eq(size_t(grid.size()), 0.0);
    for (const CrossoverBand &b : bands) {
        if (!b.enabled || !(b.hz > 0.0) || !(b.q > 0.0))
            continue;
        for (qsizetype i = 0; i < grid.size() && grid[i] <= upToHz; ++i)
            eq[i] += peakingGainDb(grid[i], b.hz, b.gain, b.q);
    }
    return eq;
}

// The measured subwoofer after the result's high-pass, low-pass and gain.
Curve subAfterCorners(const CrossoverResult &r, const Curve &subRaw)
{
    const QList<float> &grid = standardGrid();
    const QString highPassKind
            = r.subHighPassKind.isEmpty() ? QStringLiteral("BW") : r.subHighPassKind;
    Curve sub(size_t(grid.size()));
    for (qsizetype i = 0; i < grid.size(); ++i) {
        const double lowPass = r.lowPassOrder >= 1 ? crossoverGainDb(r.lowPassKind, r.lowPassOrder,
                                                                     r.lowPassHz, grid[i], false)
                                                   : 0.0;
        const double highPass = r.subHighPassOrder > 0
                                        ? crossoverGainDb(highPassKind, r.subHighPassOrder,
                                                          r.subHighPassHz, grid[i], true)
                                        : 0.0;
        sub[i] = subRaw[i] + highPass + lowPass + r.subGainDb;
    }
    return sub;
}

Curve combined(const Curve &main, const Curve &sub, const Curve &eq)
{
    Curve sum(main.size());
    for (size_t i = 0; i < main.size(); ++i)
        sum[i] = sumDb(float(main[i]), float(sub[i] + eq[i]));
    return sum;
}

// Root mean square of the combined curve's deviation from the target, each deviation clamped to
// ±4 dB so that a deep room null does not dominate.
double deviationRms(const Design &d, const Curve &sum)
{
    double squares = 0.0;
    for (const qsizetype i : d.errorRange) {
        const double dev = std::clamp(sum[i] - d.lift[i], -deviationClampDb, deviationClampDb);
        squares += dev * dev;
    }
    return std::sqrt(squares / double(d.errorRange.size()));
}

// Up to two peaking bands that take down where the sum overshoots the target most, each kept only
// when it lowers the deviation by more than 0.02 dB.
void addSubEqBands(CrossoverResult &result, const Design &d, double error)
{
    const QList<float> &grid = standardGrid();
    const Curve sub = subAfterCorners(result, d.subRaw);
    const double fromHz = std::max(result.subHighPassHz, 35.0);
    for (int round = 0; round < 2; ++round) {
        const Curve eq = bandsOnGrid(result.subEqBands, eqHighHz);
        const Curve sum = combined(d.mainRel, sub, eq);
        qsizetype worst = -1;
        for (qsizetype i = 0; i < grid.size(); ++i) {
            if (grid[i] >= fromHz && grid[i] <= eqHighHz
                && (worst < 0 || sum[i] - d.lift[i] > sum[worst] - d.lift[worst]))
                worst = i;
        }
        if (worst < 0 || sum[worst] - d.lift[worst] <= 1.5)
            return;
        const double baseGain = std::max(-(sum[worst] - d.lift[worst]), -12.0);
        CrossoverBand kept;
        bool found = false;
        for (const int offset : {-4, -2, 0, 2, 4}) {
            const qsizetype centre = worst + offset;
            if (centre < 0 || centre >= grid.size() || grid[centre] < 25.0f
                || grid[centre] > eqHighHz)
                continue;
            for (const double scale : {0.7, 1.0, 1.3}) {
                for (const double q : {0.5, 0.7, 1.0, 1.4, 2.0, 2.8}) {
                    const CrossoverBand trial{grid[centre],
                                              std::clamp(baseGain * scale, -12.0, 12.0), q, true};
                    Curve trialEq = bandsOnGrid({trial}, eqHighHz);
                    for (size_t i = 0; i < trialEq.size(); ++i)
                        trialEq[i] += eq[i];
                    const double trialError = deviationRms(d, combined(d.mainRel, sub, trialEq));
                    if (trialError < error - 0.02) {
                        error = trialError;
                        kept = trial;
                        found = true;
                    }
                }
            }
        }
        if (!found)
            return;
        result.subEqBands.append(
                {roundToTenth(kept.hz), roundToTenth(kept.gain), roundToTenth(kept.q), true});
    }
}

// The final curves, the crossover window of the processed subwoofer and the fit figures.
void finishDesign(CrossoverResult &result, const Design &d)
{
    const QList<float> &grid = standardGrid();
    const Curve sub = subAfterCorners(result, d.subRaw);
    const Curve eq = bandsOnGrid(result.subEqBands, eqHighHz);
    const Curve sum = combined(d.mainRel, sub, eq);
    result.subAfter = toFloats(sub);
    result.subEq = toFloats(eq);
    result.combined = toFloats(sum);

    Window window = crossoverWindow(sub, d.mainRel);
    if (!window.found)
        window = d.fallback;
    result.windowLowHz = window.lowHz;
    result.windowHighHz = window.highHz;

    result.fitErrorDb = roundToHundredth(deviationRms(d, sum));
    qsizetype largest = d.errorRange.front();
    for (const qsizetype i : d.errorRange) {
        if (std::abs(sum[i] - d.lift[i]) > std::abs(sum[largest] - d.lift[largest]))
            largest = i;
    }
    result.maxDeviationDb = roundToHundredth(sum[largest] - d.lift[largest]);
    result.maxDeviationHz = grid[largest];
    qsizetype at40 = 0;
    for (qsizetype i = 1; i < grid.size(); ++i) {
        if (std::abs(grid[i] - 40.0) < std::abs(grid[at40] - 40.0))
            at40 = i;
    }
    result.deviationAt40HzDb = roundToHundredth(sum[at40] - d.lift[at40]);
    result.ok = true;
}

void addNotes(CrossoverResult &result)
{
    if (result.subHighPassFallback)
        result.notes.append(QStringLiteral("超低低端认不出下限，先按 40 Hz 保守给"));
    if (result.lowPassHz <= 60.6)
        result.notes.append(QStringLiteral("低通已经贴到 60 Hz 的底线，更低的靠低频 EQ 找"));
    if (result.fitErrorDb > 2.5)
        result.notes.append(QStringLiteral("整体贴不住，平均差 %1 dB")
                                    .arg(QString::number(result.fitErrorDb, 'f', 1)));
}

} // namespace

double crossoverGainDb(const QString &kind, int order, double fc, double f, bool highPass)
{
    if (!(fc > 0.0) || !(f > 0.0))
        return 0.0;
    // A Linkwitz-Riley filter is a Butterworth filter of half its order applied twice.
    const bool linkwitzRiley = kind == QLatin1String("LR");
    const int type = linkwitzRiley ? (highPass ? LinkwitzRileyHighPass : LinkwitzRileyLowPass)
                                   : (highPass ? ButterworthHighPass : ButterworthLowPass);
    const int effectiveOrder = linkwitzRiley ? 2 * std::max(order / 2, 1) : order;
    const Complex h = filterResponse(
            {.type = type, .fc = float(fc), .order = effectiveOrder, .q = cornerQ}, float(f));
    return 20.0 * std::log10(std::max(double(h.abs()), 1e-9));
}

double subLiftDb(double f, int liftSetting)
{
    const size_t table = liftSetting == 6 ? 0 : liftSetting == 15 ? 1 : liftSetting == 20 ? 2 : 3;
    if (f >= liftHz.back())
        return 0.0;
    return math::LogFrequencyReader(liftHz.data(), liftTables[table].data(),
                                    qsizetype(liftHz.size()))(f);
}

CrossoverResult designSubCrossover(const QList<float> &mainFreq, const QList<float> &mainDb,
                                   const QList<float> &subFreq, const QList<float> &subDb,
                                   int liftSetting)
{
    CrossoverResult result;
    // A curve too short to resample would become -120 dB everywhere and be "compensated" by a
    // gain of about +120 dB; such curves are refused here, before anything is designed from them.
    if (!usable(subFreq, subDb) || subFreq.last() < 100.0f || subFreq.first() > 80.0f) {
        result.why = subNotCovering;
        return result;
    }
    if (!usable(mainFreq, mainDb)) {
        result.why = mainIncomplete;
        return result;
    }

    const QList<float> &grid = standardGrid();
    Design d;
    d.mainRel = onGrid(mainFreq, mainDb);
    d.subRaw = onGrid(subFreq, subDb);
    double referenceSum = 0.0;
    int referenceCount = 0;
    for (qsizetype i = 0; i < grid.size(); ++i) {
        if (grid[i] >= 800.0f && grid[i] <= 1250.0f) {
            referenceSum += d.mainRel[i];
            ++referenceCount;
        }
    }
    const double reference = referenceSum / referenceCount;
    for (double &v : d.mainRel)
        v -= reference;
    for (qsizetype i = 0; i < grid.size(); ++i)
        d.lift.push_back(subLiftDb(grid[i], liftSetting));
    result.mainRel = toFloats(d.mainRel);
    result.subRaw = toFloats(d.subRaw);
    result.liftTarget = toFloats(d.lift);

    result.subHighPassHz = highPassCorner(d.subRaw, result.subHighPassFallback);
    d.subAfterHighPass = d.subRaw;
    for (qsizetype i = 0; i < grid.size(); ++i)
        d.subAfterHighPass[i] += crossoverGainDb(result.subHighPassKind, result.subHighPassOrder,
                                                 result.subHighPassHz, grid[i], true);
    result.subAfter = toFloats(d.subAfterHighPass);

    findNeed(d);
    if (!std::isfinite(d.largestNeed)) {
        result.why = mainAboveTarget;
        return result;
    }
    if (d.largestNeed < 2.0) {
        result.why = mainOnTarget;
        return result;
    }
    findWindows(d);
    result.fallbackLowHz = d.fallback.lowHz;
    result.fallbackHighHz = d.fallback.highHz;
    result.windowLowHz = d.window.lowHz;
    result.windowHighHz = d.window.highHz;
    findErrorRange(d, result.subHighPassHz);

    const Candidate chosen = d.errorRange.empty() ? Candidate() : bestLowPass(d);
    if (chosen.type < 0) {
        result.why = noLowPass;
        return result;
    }
    result.lowPassKind = lowPassTypes[chosen.type].kind;
    result.lowPassOrder = lowPassTypes[chosen.type].order;
    result.lowPassHz = roundToTenth(chosen.hz);
    result.subGainDb = roundToTenth(chosen.gainDb);
    addSubEqBands(result, d, chosen.error);
    finishDesign(result, d);
    addNotes(result);
    return result;
}

void subResponse(CrossoverResult &result)
{
    const QList<float> &grid = standardGrid();
    if (!result.ok || result.mainRel.size() != grid.size() || result.subRaw.size() != grid.size())
        return;
    const Curve subRaw(result.subRaw.cbegin(), result.subRaw.cend());
    const Curve mainRel(result.mainRel.cbegin(), result.mainRel.cend());
    const Curve sub = subAfterCorners(result, subRaw);
    const Curve eq = bandsOnGrid(result.subEqBands, std::numeric_limits<double>::infinity());
    result.subAfter = toFloats(sub);
    result.subEq = toFloats(eq);
    result.combined = toFloats(combined(mainRel, sub, eq));
}

} // namespace snt::eq
