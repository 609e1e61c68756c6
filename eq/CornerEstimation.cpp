#include "eq/CornerEstimation.h"

#include "eq/CurveMath.h"
#include "eq/CurvePreparation.h"
#include "eq/OctaveSmoothing.h"
#include "eq/TargetPresets.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

namespace snt::eq {

namespace {

constexpr double minimumStayOctaves = 0.33;
constexpr double endMarginOctaves = 0.5;
constexpr double coherentLevel = 0.7;

// A stretch of the smoothed curve: frequencies and levels relative to the mid level.
struct Region
{
    std::vector<double> f;
    std::vector<double> rel;

    qsizetype size() const { return qsizetype(f.size()); }
    void add(double freq, double level)
    {
        f.push_back(freq);
        rel.push_back(level);
    }
};

Region regionBetween(const OctaveBinCurve &curve, const QList<double> &rel, double fLo, double fHi)
{
    Region region;
    for (qsizetype i = 0; i < curve.freq.size(); ++i) {
        if (curve.freq[i] >= fLo && curve.freq[i] <= fHi)
            region.add(curve.freq[i], rel[i]);
    }
    return region;
}

bool straddles(const Region &r, qsizetype i, double level)
{
    return (r.rel[size_t(i)] - level) * (r.rel[size_t(i + 1)] - level) <= 0.0;
}

double crossingFrequency(const Region &r, qsizetype i, double level)
{
    const double r0 = r.rel[size_t(i)];
    const double r1 = r.rel[size_t(i + 1)];
    const double t = r1 == r0 ? 0.0 : (level - r0) / (r1 - r0);
    const double l0 = std::log(r.f[size_t(i)]);
    const double l1 = std::log(r.f[size_t(i + 1)]);
    return std::exp(l0 + t * (l1 - l0));
}

// Bottom-up search for the level where the top end falls away for good: a crossing counts when
// the curve stays below the level afterwards (for at least a third of an octave, or to the end).
std::optional<double> lowPassCrossing(const Region &r, double level)
{
    const qsizetype n = r.size();
    if (n < 6 || r.rel[0] < level)
        return std::nullopt;
    if (std::min({r.rel[size_t(n - 3)], r.rel[size_t(n - 2)], r.rel[size_t(n - 1)]}) >= level)
        return std::nullopt;
    for (qsizetype i = 0; i + 2 < n; ++i) {
        if (!straddles(r, i, level))
            continue;
        qsizetype j = n - 1;
        bool staysBelow = true;
        for (qsizetype k = i + 2; k < n; ++k) {
            if (r.rel[size_t(k)] >= level) {
                j = k;
                staysBelow = false;
                break;
            }
        }
        const bool nearEnd = std::log2(r.f[size_t(n - 1)] / r.f[size_t(i)]) <= endMarginOctaves;
        const bool longStay = std::log2(r.f[size_t(j)] / r.f[size_t(i + 1)]) >= minimumStayOctaves;
        if (staysBelow || nearEnd || longStay)
            return crossingFrequency(r, i, level);
    }
    return std::nullopt;
}

// Top-down search for the level where the bottom end has risen for good. With a depth limit the
// search also runs on curves whose first points are not yet below the level, provided everything
// under the region's lowest point lies deep below it.
std::optional<double> highPassCrossing(const Region &r, double level,
                                       std::optional<double> depthLimit = std::nullopt)
{
    const qsizetype n = r.size();
    if (n < 6 || r.rel[size_t(n - 1)] < level)
        return std::nullopt;
    const bool startsBelow = r.rel[0] < level || r.rel[1] < level || r.rel[2] < level;
    if (!startsBelow) {
        if (!depthLimit)
            return std::nullopt;
        const auto lowest = std::min_element(r.rel.cbegin(), r.rel.cend());
        if (*lowest >= level)
            return std::nullopt;
        if (std::any_of(r.rel.cbegin(), lowest, [&](double v) { return v >= -*depthLimit; }))
            return std::nullopt;
    }
    for (qsizetype i = n - 2; i >= 0; --i) {
        if (!straddles(r, i, level))
            continue;
        qsizetype k = i + 1;
        while (k > 0 && r.rel[size_t(k - 1)] < level)
            --k;
        const bool belowFromStart = k == 0 && r.rel[size_t(i)] < level;
        const double stay = (k <= i && r.f[size_t(k)] > 0.0)
                                    ? std::log2(r.f[size_t(i)] / r.f[size_t(k)])
                                    : 0.0;
        if (belowFromStart || (k <= i && stay >= minimumStayOctaves))
            return crossingFrequency(r, i, level);
    }
    return std::nullopt;
}

// Coherence at the smoothed points: interpolated over log frequency, 0 at or beyond the measured
// range, 1 when no coherence matches the curve.
QList<double> coherenceAt(const QList<double> &at, const QList<float> &freq,
                          const QList<float> &coherence)
{
    QList<double> result(at.size(), 1.0);
    if (coherence.size() != freq.size())
        return result;
    const qsizetype n = freq.size();
    for (qsizetype i = 0; i < at.size(); ++i) {
        const double f = at[i];
        if (n < 2 || f <= freq.first() || f >= freq.last()) {
            result[i] = 0.0;
            continue;
        }
        const qsizetype upper
                = std::upper_bound(freq.cbegin(), freq.cend(), float(f)) - freq.cbegin();
        const qsizetype hi = std::clamp<qsizetype>(upper, 1, n - 1);
        const qsizetype lo = hi - 1;
        const double f0 = freq[lo];
        const double f1 = freq[hi];
        if (f0 <= 0.0 || f0 >= f1) {
            result[i] = coherence[lo];
            continue;
        }
        const double t = std::clamp(std::log(f / f0) / std::log(f1 / f0), 0.0, 1.0);
        result[i] = coherence[lo] + t * (double(coherence[hi]) - coherence[lo]);
    }
    return result;
}

// The deep-drop rule: a low end that sits far below the mid level is cut at the highest point
// under which everything stays deep, unless the measurement around that point is unreliable.
std::optional<double> deepDropCorner(const OctaveBinCurve &curve, const QList<double> &rel,
                                     const QList<float> &freq, const QList<float> &coherence,
                                     double floorHz)
{
    QList<double> low;
    for (qsizetype i = 0; i < curve.freq.size(); ++i) {
        if (curve.freq[i] >= floorHz && curve.freq[i] <= 200.0)
            low.append(rel[i]);
    }
    if (low.size() < 4 || median(low) > -8.0)
        return std::nullopt;

    for (qsizetype i = curve.freq.size() - 1; i >= 0; --i) {
        const double f = curve.freq[i];
        if (f < floorHz || f > 400.0 || rel[i] > -10.0)
            continue;
        bool anyBelow = false;
        bool allDeep = true;
        for (qsizetype k = 0; k < curve.freq.size(); ++k) {
            if (curve.freq[k] >= floorHz && curve.freq[k] < 0.99 * f) {
                anyBelow = true;
                allDeep = allDeep && rel[k] < -9.0;
            }
        }
        if (!anyBelow || !allDeep)
            continue;
        if (coherence.size() == freq.size()) {
            const double third = std::pow(2.0, 1.0 / 3.0);
            QList<double> near;
            for (qsizetype k = 0; k < freq.size(); ++k) {
                if (freq[k] >= f / third && freq[k] <= f * third)
                    near.append(coherence[k]);
            }
            if (near.size() >= 3 && median(near) < 0.8)
                return std::nullopt;
        }
        return f;
    }
    return std::nullopt;
}

Corner butterworthCorner(int order, double hz)
{
    Corner c;
    c.on = true;
    c.kind = QStringLiteral("BW");
    c.order = order;
    c.hz = hz;
    return c;
}

} // namespace

CornerEstimate designCorners(const QList<float> &freq, const QList<float> &levels, int targetIndex,
                             const QList<float> &coherence, double floorHz)
{
    CornerEstimate estimate;
    const QList<Target> &presets = targetPresets();

    const OctaveBinCurve curve = octaveBinSmooth(freq, levels, 6);
    if (curve.freq.size() < 8)
        return estimate;
    QList<double> mids;
    for (qsizetype i = 0; i < curve.freq.size(); ++i) {
        if (curve.freq[i] >= 200.0 && curve.freq[i] <= 8000.0)
            mids.append(curve.values[i]);
    }
    if (mids.size() < 3)
        return estimate;
    const double mid = median(mids);
    QList<double> rel;
    rel.reserve(curve.values.size());
    for (const double v : curve.values)
        rel.append(v - mid);

    const Region low = regionBetween(curve, rel, 20.0, 400.0);
    const Region high = regionBetween(curve, rel, 8000.0, 24000.0);
    const std::optional<double> hpCrossing = highPassCrossing(low, -10.0);

    std::optional<double> lp;
    const qsizetype nh = high.size();
    if (nh >= 6
        && std::min({high.rel[size_t(nh - 3)], high.rel[size_t(nh - 2)], high.rel[size_t(nh - 1)]})
                   < -10.0
        && high.rel[0] >= -10.0)
        lp = lowPassCrossing(high, -10.0);
    if (!lp)
        lp = lowPassCrossing(high, -6.0);
    if (lp && hpCrossing && 2.0 * *hpCrossing >= *lp)
        lp.reset();
    if (!lp && nh >= 3) {
        if (median(QList<double>(high.rel.cbegin(), high.rel.cend())) < -10.0)
            lp = lowPassCrossing(regionBetween(curve, rel, 100.0, 24000.0), -6.0);
        if (!lp && curve.freq.last() >= 20000.0)
            lp = 24000.0;
    }
    if (lp)
        estimate.lowPass = butterworthCorner(4, *lp);

    const bool hasTarget = targetIndex >= 0 && targetIndex < presets.size();
    if (hasTarget && presets[targetIndex].lockHz > 0.0) {
        const Target &target = presets[targetIndex];
        estimate.highPass = butterworthCorner(target.lockOrder, target.lockHz);
        return estimate;
    }

    std::optional<double> hp = hpCrossing;
    int order = 4;
    if (hp && *hp > 0.0 && *hp < 60.0) {
        const std::optional<double> at6 = highPassCrossing(low, -6.0);
        if (at6 && *at6 > *hp) {
            hp = at6;
            order = 8;
        }
    }
    if (!hp && low.size() >= 4) {
        const double peak = *std::max_element(low.rel.cbegin(), low.rel.cend());
        if (peak >= 3.0) {
            Region shifted = low;
            for (double &v : shifted.rel)
                v -= peak;
            hp = highPassCrossing(shifted, -10.0);
        }
    }

    const bool coherenceMatches = coherence.size() == freq.size();
    const QList<double> curveCoherence = coherenceAt(curve.freq, freq, coherence);
    Region marked;
    for (qsizetype i = 0; i < curve.freq.size(); ++i) {
        if (curve.freq[i] >= 20.0 && curve.freq[i] <= 400.0 && curveCoherence[i] >= coherentLevel)
            marked.add(curve.freq[i], rel[i]);
    }
    if (!hp && coherenceMatches) {
        double loudestUnmarked = -std::numeric_limits<double>::infinity();
        bool anyUnmarked = false;
        for (qsizetype i = 0; i < curve.freq.size(); ++i) {
            if (curve.freq[i] >= 20.0 && curve.freq[i] <= 400.0
                && curveCoherence[i] < coherentLevel) {
                anyUnmarked = true;
                loudestUnmarked = std::max(loudestUnmarked, rel[i]);
            }
        }
        if (marked.size() >= 6 && anyUnmarked && loudestUnmarked > -5.0)
            hp = highPassCrossing(marked, -10.0, 6.0);
    }

    bool fromDeepDrop = false;
    if (!hp) {
        hp = deepDropCorner(curve, rel, freq, coherence, floorHz);
        fromDeepDrop = hp.has_value();
    }
    double corner = hp.value_or(floorHz);
    if (!hp || corner < floorHz) {
        corner = floorHz;
        order = 8;
    }

    if (corner > 100.0 && !fromDeepDrop && coherenceMatches) {
        double loudest = -std::numeric_limits<double>::infinity();
        double lastLevel = 0.0;
        int count = 0;
        for (qsizetype i = 0; i < marked.size(); ++i) {
            if (marked.f[size_t(i)] <= 0.98 * corner) {
                loudest = std::max(loudest, marked.rel[size_t(i)]);
                lastLevel = marked.rel[size_t(i)];
                ++count;
            }
        }
        if (count >= 3 && loudest - lastLevel >= 6.0) {
            corner = floorHz;
            order = 8;
            estimate.lowCutSuspect = true;
        }
    }
    estimate.highPass = butterworthCorner(order, corner);
    return estimate;
}

QString slopeText(const Corner &corner)
{
    if (!corner.on)
        return {};
    return QStringLiteral("%1 dB/oct · %2").arg(6 * corner.order).arg(corner.kind);
}

QString frequencyText(const Corner &corner)
{
    if (!corner.on)
        return {};
    return corner.hz >= 1000.0 ? QStringLiteral("kHz") : QStringLiteral("Hz");
}

QString filterFrequencyText(const Corner &corner)
{
    if (!corner.on)
        return QStringLiteral("不开");
    if (corner.hz >= 1000.0)
        return QString::number(corner.hz / 1000.0, 'f', 1);
    return QString::number(qint64(std::round(corner.hz)));
}

} // namespace snt::eq
