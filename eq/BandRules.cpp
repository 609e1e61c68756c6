#include "eq/BandRules.h"

#include "engine/dsp/Curve.h"
#include "eq/CurveMath.h"

#include <algorithm>
#include <cmath>

namespace snt::eq {

namespace {

constexpr double gainEpsilon = 1.000000001;
constexpr double maxBoostDb = 6.0;

bool isBoost(const Band &b)
{
    return b.gain > 0.0;
}

template<typename Keep>
BandList filtered(const BandList &bands, Keep keep)
{
    BandList result;
    for (const Band &b : bands) {
        if (keep(b))
            result.append(b);
    }
    return result;
}

struct Dip
{
    double hz;
    double depth;
    double width;
};

} // namespace

double peakingAmplitude(double gainDb)
{
    return std::pow(10.0, gainDb / 40.0);
}

double peakingGainDb(double f, double f0, double gainDb, double q)
{
    if (!(f > 0.0 && f0 > 0.0 && q > 0.0))
        return 0.0;
    const double amplitude = peakingAmplitude(gainDb);
    const double r = f / f0;
    const double w = 1.0 - r * r;
    return peakingGainDbPrepared(amplitude / q, amplitude * q, r, w * w);
}

QList<double> bandsResponse(const BandList &bands, const QList<float> &freqs)
{
    QList<double> sum(freqs.size(), 0.0);
    for (const Band &b : bands) {
        for (qsizetype k = 0; k < freqs.size(); ++k)
            sum[k] += peakingGainDb(freqs[k], b.hz, b.gain, b.q);
    }
    return sum;
}

float sumDb(float a, float b)
{
    const double linear = std::pow(10.0, a / 20.0) + std::pow(10.0, b / 20.0);
    return float(20.0 * std::log10(std::max(1e-12, linear)));
}

double cutDepthLimit(double q)
{
    return roundToTenth(24.0 / q);
}

bool rejectBand(double gain, double q)
{
    if (gain <= 0.0)
        return std::abs(gain) * q > 24.0 && cutDepthLimit(q) <= gainEpsilon;
    return q > 6.0 || std::min(gain, maxBoostDb) < 1.5 || q * q * std::min(gain, maxBoostDb) > 72.0;
}

BandList sanitizeBands(const BandList &bands)
{
    BandList result;
    for (Band b : bands) {
        if (b.gain > maxBoostDb)
            b.gain = maxBoostDb;
        if (b.gain <= 0.0) {
            if (std::abs(b.gain) * b.q > 24.0) {
                b.gain = -cutDepthLimit(b.q);
                if (std::abs(b.gain) <= gainEpsilon)
                    continue;
            }
            result.append(b);
            continue;
        }
        const double p = b.q * b.q * b.gain;
        if (p > 72.0)
            continue;
        if (p > 63.0)
            b.gain -= 2.0;
        else if (p > 54.0)
            b.gain -= 1.0;
        if (std::abs(b.gain) < 1e-9)
            continue;
        result.append(b);
    }
    return result;
}

BandList dropWeakOrNarrowBoosts(const BandList &bands)
{
    return filtered(bands,
                    [](const Band &b) { return !isBoost(b) || (b.q <= 6.0 && b.gain >= 1.5); });
}

BandList dropLowMidBoosts(const BandList &bands)
{
    return filtered(bands,
                    [](const Band &b) { return !isBoost(b) || b.hz < 100.0 || b.hz > 300.0; });
}

double highBoostNearLowPass(const BandList &bands, double lowPassHz)
{
    if (lowPassHz <= 0.0)
        return 0.0;
    const double from = lowPassHz / std::pow(2.0, 1.5);
    double largest = 0.0;
    for (const Band &b : bands) {
        if (isBoost(b) && b.hz >= from)
            largest = std::max(largest, b.gain);
    }
    return largest;
}

BandList protectNarrowDips(const BandList &bands, const QList<double> &m12,
                           const QList<float> &grid, const QList<float> &freq,
                           const QList<float> &coherence)
{
    const qsizetype n = std::min(grid.size(), m12.size());
    if (n < 8)
        return bands;

    constexpr int probes = 11;
    double x[probes];
    double y[probes];
    math::LogFrequencyReader read(grid.constData(), m12.constData(), n);
    for (int i = 0; i < probes; ++i) {
        x[i] = 1000.0 * std::pow(2.0, i / 6.0);
        y[i] = read(x[i]);
    }

    const auto shoulder = [&](int centre, double fromOct, double toOct, double *level) {
        int count = 0;
        for (int k = 0; k < probes; ++k) {
            if (x[k] >= x[centre] * std::pow(2.0, fromOct)
                && x[k] <= x[centre] * std::pow(2.0, toOct)) {
                *level = count == 0 ? y[k] : std::max(*level, y[k]);
                ++count;
            }
        }
        return count >= 2;
    };

    QList<Dip> dips;
    for (int i = 2; i <= 8; ++i) {
        if (!(y[i - 1] >= y[i] && y[i + 1] >= y[i]))
            continue;
        double left = 0.0;
        double right = 0.0;
        if (!shoulder(i, -0.75, -0.25, &left) || !shoulder(i, 0.25, 0.75, &right))
            continue;
        const double depth = std::min(left, right) - y[i];
        if (depth < 5.0)
            continue;
        const double half = y[i] + depth / 2.0;
        int first = i;
        int last = i;
        while (first > 0 && y[first - 1] < half)
            --first;
        while (last < probes - 1 && y[last + 1] < half)
            ++last;
        const double width = last > first ? std::log2(x[last] / x[first]) : 0.0;
        if (width > 0.5)
            continue;
        if (coherence.size() == freq.size()) {
            const double spread = std::pow(2.0, width / 2.0);
            bool any = false;
            float least = 1.0f;
            for (qsizetype k = 0; k < freq.size(); ++k) {
                if (freq[k] >= x[i] / spread && freq[k] <= x[i] * spread) {
                    least = any ? std::min(least, coherence[k]) : coherence[k];
                    any = true;
                }
            }
            if (any && least >= 0.7f)
                continue;
        }
        dips.append({x[i], depth, width});
    }
    if (dips.isEmpty())
        return bands;

    std::stable_sort(dips.begin(), dips.end(),
                     [](const Dip &a, const Dip &b) { return a.depth > b.depth; });
    QList<Dip> kept;
    for (const Dip &d : std::as_const(dips)) {
        const bool apart = std::all_of(kept.cbegin(), kept.cend(), [&](const Dip &k) {
            return std::abs(std::log2(d.hz / k.hz)) >= 0.34;
        });
        if (apart)
            kept.append(d);
    }
    return filtered(bands, [&](const Band &b) {
        if (!isBoost(b))
            return true;
        return std::none_of(kept.cbegin(), kept.cend(), [&](const Dip &d) {
            const double reach = std::pow(2.0, d.width / 2.0 + 0.5);
            return b.hz >= d.hz / reach && b.hz <= d.hz * reach;
        });
    });
}

BandList residualPass(const BandList &bands, const QList<double> &m, const QList<double> &u,
                      const QList<float> &grid, double lo, double hi, double highPassHz)
{
    const qsizetype n = std::min({grid.size(), m.size(), u.size()});
    if (n < 8)
        return bands;
    static constexpr double qLadder[] = {0.7, 1.0, 1.4, 2.0, 2.8, 4.0, 6.0};

    BandList result = bands;
    QList<double> dev(n);
    for (int iteration = 0; iteration < 2; ++iteration) {
        const QList<double> eq = bandsResponse(result, grid);
        for (qsizetype k = 0; k < n; ++k)
            dev[k] = m[k] + eq[k] - u[k];

        bool found = false;
        Band best;
        double bestImprovement = 0.0;
        for (qsizetype i = 1; i + 1 < n; ++i) {
            const double fi = grid[i];
            if (!(fi > lo * 1.02 && fi < hi * 0.98))
                continue;
            const double v = std::abs(dev[i]);
            if (v < 1.5 || v < std::abs(dev[i - 1]) || v < std::abs(dev[i + 1]))
                continue;
            const double half = v / 2.0;
            qsizetype left = 0;
            for (qsizetype k = i - 1; k >= 0; --k) {
                if (std::abs(dev[k]) <= half) {
                    left = k;
                    break;
                }
            }
            qsizetype right = n - 1;
            for (qsizetype k = i + 1; k < n; ++k) {
                if (std::abs(dev[k]) <= half) {
                    right = k;
                    break;
                }
            }
            const bool boost = dev[i] < 0.0;
            if (boost) {
                if (std::log2(double(grid[right]) / grid[left]) < 0.45 || v > 6.0)
                    continue;
                if (highPassHz > 0.0 && fi < 1.05 * highPassHz)
                    continue;
            }
            const bool sameKindNearby
                    = std::any_of(result.cbegin(), result.cend(), [&](const Band &b) {
                          return isBoost(b) == boost && std::abs(std::log2(b.hz / fi)) < 0.25;
                      });
            if (sameKindNearby)
                continue;
            const double gain = boost ? std::min(3.0, v) : -std::min(3.0, v);

            double e0 = 0.0;
            for (qsizetype k = 0; k < n; ++k) {
                if (std::abs(std::log2(grid[k] / fi)) <= 1.5)
                    e0 += dev[k] * dev[k];
            }
            if (!(e0 > 0.0))
                continue;
            for (const double q : qLadder) {
                double e1 = 0.0;
                for (qsizetype k = 0; k < n; ++k) {
                    if (std::abs(std::log2(grid[k] / fi)) <= 1.5) {
                        const double e = peakingGainDb(grid[k], fi, gain, q) + dev[k];
                        e1 += e * e;
                    }
                }
                const double improvement = e0 - e1;
                if (improvement / e0 >= 0.02 && improvement > bestImprovement) {
                    bestImprovement = improvement;
                    best = {fi, gain, q};
                    found = true;
                }
            }
        }
        if (!found)
            break;
        result.append(best);
    }
    return result;
}

} // namespace snt::eq
