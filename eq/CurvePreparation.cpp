#include "eq/CurvePreparation.h"

#include "engine/dsp/Curve.h"
#include "eq/CornerEstimation.h"
#include "eq/CurveMath.h"
#include "eq/OctaveSmoothing.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace snt::eq {

namespace {

const float standardGridTable[] = {
        20.5078f, 20.96f,   21.4221f, 21.8942f, 22.3769f, 22.8704f, 23.3743f, 23.8895f, 24.4164f,
        25.8457f, 26.4157f, 26.9977f, 27.5933f, 28.2015f, 28.8229f, 29.4584f, 31.1459f, 31.8323f,
        32.5343f, 33.2517f, 33.9847f, 34.7339f, 35.4995f, 36.2821f, 38.3179f, 39.163f,  40.0258f,
        40.9083f, 41.8095f, 42.7316f, 43.6735f, 46.0763f, 47.092f,  48.1309f, 49.1914f, 50.2749f,
        51.3833f, 52.5164f, 55.3517f, 56.5714f, 57.8187f, 59.0935f, 60.3958f, 61.7279f, 63.0875f,
        66.4333f, 67.8982f, 69.3937f, 70.9257f, 72.4882f, 74.0842f, 75.7203f, 79.6662f, 81.419f,
        83.2136f, 85.0504f, 86.925f,  88.8419f, 93.3953f, 95.4538f, 97.5555f, 99.7057f, 101.905f,
        104.153f, 109.407f, 111.818f, 114.278f, 116.804f, 119.379f, 122.012f, 124.702f, 130.893f,
        133.773f, 136.721f, 139.738f, 142.824f, 149.808f, 153.116f, 156.482f, 159.932f, 163.465f,
        167.068f, 175.135f, 178.988f, 182.927f, 186.971f, 191.083f, 195.301f, 204.595f, 209.117f,
        213.727f, 218.424f, 223.256f, 233.739f, 238.891f, 244.156f, 249.536f, 255.028f, 260.667f,
        272.763f, 278.768f, 284.886f, 291.196f, 297.621f, 311.229f, 318.12f,  325.123f, 332.284f,
        339.604f, 354.971f, 362.781f, 370.815f, 379.014f, 387.305f, 404.692f, 413.561f, 422.746f,
        432.009f, 441.6f,   461.067f, 471.276f, 481.64f,  492.254f, 503.122f, 525.188f, 536.688f,
        548.571f, 560.72f,  572.992f, 597.865f, 611.068f, 624.535f, 638.263f, 665.742f, 680.272f,
        695.249f, 710.69f,  726.392f, 757.191f, 773.949f, 790.953f, 808.454f, 842.389f, 860.987f,
        880.113f, 899.459f, 919.337f, 957.471f, 978.838f, 1000.39f, 1022.1f,  1064.48f, 1088.16f,
        1111.97f, 1136.34f, 1183.33f, 1209.34f, 1235.96f, 1263.16f, 1314.43f, 1343.33f, 1372.83f,
        1403.66f, 1434.36f, 1491.82f, 1525.08f, 1558.97f, 1620.49f, 1656.16f, 1693.43f, 1730.27f,
        1799.24f, 1838.96f, 1879.23f, 1921.3f,  1995.84f, 2041.11f, 2085.45f, 2131.75f, 2214.83f,
        2262.75f, 2312.8f,  2365.1f,  2455.45f, 2511.39f, 2565.52f, 2664.32f, 2724.32f, 2784.53f,
        2844.78f, 2953.85f, 3017.68f, 3084.34f, 3154.0f,  3273.87f, 3344.05f, 3421.05f, 3547.59f,
        3628.87f, 3705.26f, 3789.47f, 3931.54f, 4020.0f,  4107.28f, 4261.1f,  4352.0f,  4446.87f,
        4612.81f, 4717.95f, 4820.96f, 4928.57f, 5106.38f, 5217.39f, 5333.33f, 5532.47f, 5651.74f,
        5776.27f, 5989.6f,  6116.81f, 6260.87f, 6488.89f, 6623.82f, 6777.56f, 7019.76f, 7175.76f,
        7323.71f, 7594.94f, 7758.62f, 7929.52f, 8216.22f, 8405.53f, 8583.53f, 8884.62f, 9081.08f,
        9286.43f, 9600.0f,  9826.77f, 10037.5f, 10389.0f, 10621.8f, 10865.3f, 11228.1f, 11497.0f,
        11743.1f, 12150.0f, 12421.7f, 12705.9f, 13120.0f, 13433.4f, 13714.3f, 14177.9f, 14487.3f,
        14988.8f, 15330.8f, 15688.7f, 16190.5f, 16585.4f, 16929.5f, 17491.5f, 17870.1f, 18477.9f,
        18895.9f, 19333.3f, 20019.0f, 22000.0f, 24000.0f,
};

const QString lowEndMissing = QStringLiteral("这条曲线的低频几乎没有，像是只测到了高音，或者低音单"
                                             "元没响。先确认低音单元和接线，再重测一遍。");
const QString highEndMissing
        = QStringLiteral("这条曲线的高频比低频少太多，像是只测到了低音喇叭。可能是高音单元没响，或"
                         "者话筒离得太远。先确认高音单元和接线，再重测一遍。");
const QString lowEndUnmeasured
        = QStringLiteral("这条曲线的低频基本没测到东西，可能是低音单元没响、只测了高音，或者低频被"
                         "房间噪声盖住了。先确认单元和话筒位置，再重测一遍。");
const QString highEndUnmeasured
        = QStringLiteral("这条曲线的高频几乎没有有效数据，像是只测到了低音，或者高音单元没响。先确"
                         "认高音单元和接线，再重测一遍。");

double meanDb(const QList<float> &freq, const QList<float> &db, double fLo, double fHi,
              bool skipSilence)
{
    const qsizetype n = std::min(freq.size(), db.size());
    double sum = 0.0;
    int count = 0;
    for (qsizetype i = 0; i < n; ++i) {
        if (freq[i] >= fLo && freq[i] <= fHi && (!skipSilence || db[i] > -90.0f)) {
            sum += db[i];
            ++count;
        }
    }
    return count > 0 ? sum / count : 0.0;
}

} // namespace

const QList<float> &standardGrid()
{
    static const QList<float> grid(std::begin(standardGridTable), std::end(standardGridTable));
    return grid;
}

QList<float> toDb(const QList<float> &magnitude)
{
    QList<float> db;
    db.reserve(magnitude.size());
    for (const float x : magnitude)
        db.append(x > 1e-9f ? float(20.0 * std::log10(double(x))) : -100.0f);
    return db;
}

QList<float> resampleToGrid(const QList<float> &freq, const QList<float> &values,
                            const QList<float> &grid)
{
    QList<float> result(grid.size(), -100.0f);
    if (freq.size() < 2 || values.size() != freq.size())
        return result;
    math::LogFrequencyReader read(freq.constData(), values.constData(), freq.size());
    for (qsizetype i = 0; i < grid.size(); ++i)
        result[i] = float(read(grid[i]));
    return result;
}

double midbandMeanLevel(const QList<float> &freq, const QList<float> &db)
{
    return meanDb(freq, db, 200.0, 2000.0, true);
}

double median(QList<double> values)
{
    if (values.isEmpty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

double bandMedian(const QList<float> &freq, const QList<float> &values, double fLo, double fHi,
                  int *count)
{
    const qsizetype n = std::min(freq.size(), values.size());
    QList<double> inBand;
    for (qsizetype i = 0; i < n; ++i) {
        if (freq[i] >= fLo && freq[i] <= fHi && std::isfinite(values[i]))
            inBand.append(values[i]);
    }
    if (count)
        *count = int(inBand.size());
    if (inBand.size() < 3)
        return std::numeric_limits<double>::quiet_NaN();
    return median(inBand);
}

double baseLevel(const QList<float> &grid, const QList<double> &m, double lo, double hi)
{
    const qsizetype n = std::min(grid.size(), m.size());
    QList<double> inRange;
    for (qsizetype i = 0; i < n; ++i) {
        if (grid[i] > lo && grid[i] < hi)
            inRange.append(m[i]);
    }
    if (inRange.size() < 4)
        return median(m);

    struct Window
    {
        double spread;
        double median;
    };
    QList<Window> windows;
    QList<double> values;
    const double end = std::log2(std::max(lo, hi));
    for (double a = std::log2(std::max(1e-6, lo)); end - 0.5 + 1e-9 >= a; a += 0.1) {
        const double from = std::pow(2.0, a);
        const double to = std::pow(2.0, a + 0.5);
        values.clear();
        for (qsizetype i = 0; i < n; ++i) {
            const double f = grid[i];
            if (f >= from && f <= to && f > lo && f < hi)
                values.append(m[i]);
        }
        if (values.size() >= 4) {
            const auto [low, high] = std::minmax_element(values.cbegin(), values.cend());
            windows.append({*high - *low, median(values)});
        }
    }
    if (windows.size() < 3)
        return median(inRange);
    double flattest = windows.first().spread;
    for (const Window &w : std::as_const(windows))
        flattest = std::min(flattest, w.spread);
    QList<double> medians;
    for (const Window &w : std::as_const(windows)) {
        if (w.spread <= flattest + 1.5)
            medians.append(w.median);
    }
    return median(medians);
}

float estimateBaseLevel(const QList<float> &freq, const QList<float> &db,
                        const QList<float> &coherence, bool lineArray)
{
    const double mid = midbandMeanLevel(freq, db);
    if (lineArray) {
        const qsizetype n = std::min(freq.size(), db.size());
        for (qsizetype i = 0; i < n; ++i) {
            if (freq[i] >= 900.0f && freq[i] <= 1100.0f)
                return float(meanDb(freq, db, 900.0, 1100.0, false));
        }
        return float(mid);
    }
    if (db.size() < 8 || db.size() != freq.size())
        return float(mid);

    QList<float> rel;
    rel.reserve(db.size());
    for (const float v : db)
        rel.append(float(std::max(-60.0, v - mid)));
    const QList<float> &grid = standardGrid();
    const QList<float> smoothed = smoothToGrid(freq, rel, grid, 6);

    const CornerEstimate corners = designCorners(freq, rel, 0, coherence, 60.0);
    const double lo = corners.highPass.on && corners.highPass.hz > 0.0 ? corners.highPass.hz : 60.0;
    const double hi = corners.lowPass.on && corners.lowPass.hz > 0.0 ? corners.lowPass.hz : 20000.0;
    if (hi > 1.5 * lo) {
        const double b = baseLevel(grid, QList<double>(smoothed.cbegin(), smoothed.cend()), lo, hi);
        if (std::isfinite(b))
            return float(std::clamp(mid + b, -120.0, 120.0));
    }
    return float(mid);
}

QList<float> measuredPhaseOnGrid(const QList<float> &freq, const QList<float> &phase,
                                 double delayMs, const QList<float> &grid)
{
    if (phase.isEmpty() || phase.size() != freq.size())
        return {};
    QList<float> unwrapped = phase;
    if (std::isfinite(delayMs) && delayMs > 0.0) {
        for (qsizetype i = 0; i < unwrapped.size(); ++i)
            unwrapped[i] = float(remainder360(double(phase[i]) + double(freq[i]) * delayMs * 0.36));
    }
    unwrapDegrees(unwrapped);
    return resampleToGrid(freq, unwrapped, grid);
}

QList<float> slopePhase(const QList<float> &grid, const QList<float> &db)
{
    const qsizetype n = std::min(grid.size(), db.size());
    if (n < 3)
        return {};
    QList<float> phase(n);
    for (qsizetype i = 0; i < n; ++i) {
        const qsizetype below = std::max<qsizetype>(i - 1, 0);
        const qsizetype above = std::min<qsizetype>(i + 1, n - 1);
        const double x = std::log2(std::max(1e-6, double(grid[above]))
                                   / std::max(1e-6, double(grid[below])));
        const double slope = x > 1e-6 ? (double(db[above]) - db[below]) / x : 0.0;
        phase[i] = float(std::clamp(15.0 * slope, -180.0, 180.0));
    }
    return phase;
}

QString diagnoseHighEnd(const QList<float> &freq, const QList<float> &coherence)
{
    const qsizetype n = freq.size();
    if (coherence.size() != n || n < 20)
        return {};
    const double fLo = std::max(20.0, double(freq.first()));
    const double fHi = std::min(24000.0, double(freq.last()));
    if (2.0 * fLo >= fHi)
        return {};

    constexpr int points = 512;
    double x[points];
    double c[points];
    math::LogFrequencyReader read(freq.constData(), coherence.constData(), n);
    for (int k = 0; k < points; ++k) {
        x[k] = fLo * std::pow(fHi / fLo, k / double(points - 1));
        c[k] = read(x[k]);
    }
    int width = std::max(3, int(std::round((points / 6.0) / std::log2(fHi / fLo))));
    if (width % 2 == 0)
        ++width;
    const int half = width / 2;
    double edge = fLo;
    for (int k = 0; k < points; ++k) {
        double sum = 0.0;
        for (int i = std::max(0, k - half); i <= std::min(points - 1, k + half); ++i)
            sum += c[i];
        if (sum / width >= 0.5)
            edge = x[k];
    }
    return edge < 1000.0 ? highEndUnmeasured : QString();
}

QString diagnoseCurve(const QList<float> &freq, const QList<float> &relativeDb,
                      const QList<float> &coherence)
{
    const QString highEnd = diagnoseHighEnd(freq, coherence);
    if (!highEnd.isEmpty())
        return highEnd;

    const double a = bandMedian(freq, relativeDb, 60.0, 300.0);
    const double b = bandMedian(freq, relativeDb, 300.0, 600.0);
    const double c = bandMedian(freq, relativeDb, 800.0, 4000.0);
    if (std::isfinite(a) && std::isfinite(b) && std::isfinite(c) && c - a >= 20.0 && c - b >= 10.0)
        return lowEndMissing;

    int hiCount = 0;
    int loCount = 0;
    const double hiBand = bandMedian(freq, relativeDb, 8000.0, 16000.0, &hiCount);
    const double loBand = bandMedian(freq, relativeDb, 60.0, 300.0, &loCount);
    if (hiCount >= 10 && loCount >= 10 && std::isfinite(hiBand) && std::isfinite(loBand)
        && loBand - hiBand >= 20.0)
        return highEndMissing;

    const double lowCoherence = bandMedian(freq, coherence, 60.0, 300.0);
    if (std::isfinite(lowCoherence) && lowCoherence < 0.5)
        return lowEndUnmeasured;
    return {};
}

} // namespace snt::eq
