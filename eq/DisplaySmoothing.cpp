#include "eq/DisplaySmoothing.h"

#include "engine/dsp/Curve.h"
#include "eq/CurveMath.h"
#include "eq/OctaveSmoothing.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace snt::eq {

namespace {

constexpr qsizetype minimumPoints = 8;
constexpr int fineStepsPerOctave = 192;
constexpr double firstBandEdge = 11.71875;
constexpr float radiansPerDegree = float(std::numbers::pi / 180.0);
constexpr double degreesPerRadian = 180.0 / std::numbers::pi;

bool smoothable(const QList<float> &freq, const QList<float> &values, int n)
{
    return n > 0 && freq.size() >= minimumPoints && values.size() == freq.size();
}

// The mean unit phasor of the points in one 1/n-octave band, placed at the band's centre.
struct BandPhasor
{
    double hz;
    double cos;
    double sin;
};

// Bands of 1/n octave from 11.71875 Hz up. A band's centre lies midway between the upper edge of
// the band closed before it and its own upper edge, so bands that follow empty ones move down
// towards the gap they close. The first point is skipped, as it is the DC end of a spectrum.
std::vector<BandPhasor> bandPhasors(const QList<float> &freq, const Phasors &phasors, int n)
{
    const double ratio = std::pow(2.0, 1.0 / n);
    std::vector<BandPhasor> bands;
    double lower = firstBandEdge;
    double upper = firstBandEdge * ratio;
    double closedUpper = firstBandEdge;
    double sumCos = 0.0;
    double sumSin = 0.0;
    int count = 0;
    const auto close = [&] {
        bands.push_back({(closedUpper + upper) / 2.0, sumCos / count, sumSin / count});
        closedUpper = upper;
        sumCos = 0.0;
        sumSin = 0.0;
        count = 0;
    };
    for (qsizetype i = 1; i < freq.size(); ++i) {
        const double f = freq[i];
        if (f < lower)
            continue;
        while (f > upper) {
            if (count > 0)
                close();
            lower = upper;
            upper *= ratio;
        }
        sumCos += phasors.cos[i];
        sumSin += phasors.sin[i];
        ++count;
    }
    if (count > 0)
        close();
    return bands;
}

// Segment k of the spline runs between the centres of bands k-2 and k-1, sampled in this many
// steps.
int segmentSteps(const std::vector<BandPhasor> &bands, size_t k)
{
    return std::max(8, int(400.0 * std::abs(std::log(bands[k - 1].hz / bands[k - 2].hz))));
}

// The last step a segment is sampled at: its end is the next one's start, except for the last.
int segmentEnd(const std::vector<BandPhasor> &bands, size_t k, int steps)
{
    return k == bands.size() - 1 ? steps : steps - 1;
}

// The frequencies the spline is sampled at, evenly in log frequency within each segment. They
// depend on the band centres alone, which every phase smoothed on one curve's frequencies shares
// (a preview smooths two, an edit the same ones again), so the last ones are kept per thread.
QList<float> splineFrequencies(const std::vector<BandPhasor> &bands)
{
    thread_local std::vector<double> keptCentres;
    thread_local QList<float> kept;
    const auto sameCentre = [](double centre, const BandPhasor &band) {
        return centre == band.hz;
    };
    if (std::equal(keptCentres.cbegin(), keptCentres.cend(), bands.cbegin(), bands.cend(),
                   sameCentre))
        return kept;
    keptCentres.clear();
    for (const BandPhasor &band : bands)
        keptCentres.push_back(band.hz);
    kept.clear();
    for (size_t k = 3; k < bands.size(); ++k) {
        const double span = bands[k - 1].hz / bands[k - 2].hz;
        const int steps = segmentSteps(bands, k);
        for (int s = 0; s <= segmentEnd(bands, k, steps); ++s)
            kept.append(float(bands[k - 2].hz * std::pow(span, double(s) / steps)));
    }
    return kept;
}

// A uniform cubic B-spline through the band phasors, sampled densely in log frequency; its angle
// is the smoothed phase.
math::Curve splinePhase(const std::vector<BandPhasor> &bands)
{
    math::Curve curve;
    curve.freq = splineFrequencies(bands);
    curve.values.reserve(curve.freq.size());
    for (size_t k = 3; k < bands.size(); ++k) {
        const BandPhasor &p0 = bands[k - 3];
        const BandPhasor &p1 = bands[k - 2];
        const BandPhasor &p2 = bands[k - 1];
        const BandPhasor &p3 = bands[k];
        const int steps = segmentSteps(bands, k);
        for (int s = 0; s <= segmentEnd(bands, k, steps); ++s) {
            const double t = double(s) / steps;
            const double t2 = t * t;
            const double t3 = t2 * t;
            const double w0 = (1.0 - t) * (1.0 - t) * (1.0 - t) / 6.0;
            const double w1 = (3.0 * t3 - 6.0 * t2 + 4.0) / 6.0;
            const double w2 = (-3.0 * t3 + 3.0 * t2 + 3.0 * t + 1.0) / 6.0;
            const double w3 = t3 / 6.0;
            const double c = w0 * p0.cos + w1 * p1.cos + w2 * p2.cos + w3 * p3.cos;
            const double sn = w0 * p0.sin + w1 * p1.sin + w2 * p2.sin + w3 * p3.sin;
            curve.values.append(float(quickAtan2(sn, c) * degreesPerRadian));
        }
    }
    return curve;
}

// Pins the smoothed curve to the raw phase of the first and last points in the audible range,
// where smoothing has too few neighbours on one side to be trusted.
void anchorToAudibleEnds(math::Curve &curve, const QList<float> &freq, float firstDeg,
                         float lastDeg)
{
    const auto [a, b] = phaseAnchors(freq);
    if (a < 0)
        return;
    math::Curve anchored;
    anchored.freq.append(freq[a]);
    anchored.values.append(firstDeg);
    for (qsizetype k = 0; k < curve.freq.size(); ++k) {
        if (curve.freq[k] > freq[a] && curve.freq[k] < freq[b]) {
            anchored.freq.append(curve.freq[k]);
            anchored.values.append(curve.values[k]);
        }
    }
    anchored.freq.append(freq[b]);
    anchored.values.append(lastDeg);
    curve = anchored;
}

// The 1/192-octave grid from the curve's first frequency up to its last. Empty for fewer than 8
// points or without a positive rising span.
QList<float> fineGrid(const QList<float> &freq)
{
    QList<float> grid;
    if (freq.size() < minimumPoints || !(freq.first() > 0.0f) || !(freq.last() > freq.first()))
        return grid;
    const double f0 = freq.first();
    const qsizetype m = qsizetype(std::floor(fineStepsPerOctave * std::log2(freq.last() / f0))) + 1;
    grid.reserve(m);
    for (qsizetype k = 0; k < m; ++k)
        grid.append(float(f0 * std::exp2(double(k) / fineStepsPerOctave)));
    return grid;
}

} // namespace

QList<float> resampleLogUniform(const QList<float> &freq, const QList<float> &values,
                                QList<float> &outFreq)
{
    outFreq.clear();
    if (values.size() != freq.size())
        return values;
    outFreq = fineGrid(freq);
    if (outFreq.isEmpty())
        return values;
    QList<float> result;
    result.reserve(outFreq.size());
    math::LogFrequencyReader read(freq.constData(), values.constData(), freq.size());
    for (const float f : std::as_const(outFreq))
        result.append(float(read(f)));
    return result;
}

QList<qsizetype> smoothingSupport(const QList<float> &freq)
{
    const QList<float> fine = fineGrid(freq);
    QList<qsizetype> support;
    if (fine.size() >= minimumPoints)
        support = math::readSupport(freq, fine);
    if (support.size() < minimumPoints) {
        support.clear();
        for (qsizetype i = 0; i < freq.size(); ++i)
            support.append(i);
    }
    return support;
}

QList<float> smoothCurve(const QList<float> &freq, const QList<float> &values, int n)
{
    if (!smoothable(freq, values, n))
        return values;
    return smoothCurveAt(freq, values, n, freq);
}

QList<float> smoothCurveAt(const QList<float> &freq, const QList<float> &values, int n,
                           const QList<float> &at)
{
    QList<float> fineFreq;
    const QList<float> fine = resampleLogUniform(freq, values, fineFreq);
    if (fineFreq.size() >= minimumPoints)
        return smoothToGrid(fineFreq, fine, at, n);
    return smoothToGrid(freq, values, at, n);
}

QList<float> complexSmooth(const QList<float> &freq, const QList<float> &phaseDeg, int n)
{
    if (!smoothable(freq, phaseDeg, n))
        return phaseDeg;
    const auto [a, b] = phaseAnchors(freq);
    const math::Curve smoothed = smoothedPhase(
            freq, unitPhasors(phaseDeg), a < 0 ? 0.0f : phaseDeg[a], b < 0 ? 0.0f : phaseDeg[b], n);
    return smoothed.freq.isEmpty() ? phaseDeg : readPhase(smoothed, freq);
}

Phasors unitPhasors(const QList<float> &phaseDeg)
{
    Phasors p{QList<float>(phaseDeg.size()), QList<float>(phaseDeg.size())};
    float *c = p.cos.data();
    float *s = p.sin.data();
    for (qsizetype i = 0; i < phaseDeg.size(); ++i) {
        const float radians = phaseDeg[i] * radiansPerDegree;
        c[i] = std::cos(radians);
        s[i] = std::sin(radians);
    }
    return p;
}

std::pair<qsizetype, qsizetype> phaseAnchors(const QList<float> &freq)
{
    const auto audible = [](float f) {
        return f >= 20.0f && f <= 20000.0f;
    };
    const auto first = std::find_if(freq.cbegin(), freq.cend(), audible);
    const auto last = std::find_if(freq.crbegin(), freq.crend(), audible);
    if (first == freq.cend())
        return {-1, -1};
    const qsizetype a = first - freq.cbegin();
    const qsizetype b = freq.crend() - last - 1;
    if (b <= a)
        return {-1, -1};
    return {a, b};
}

math::Curve smoothedPhase(const QList<float> &freq, const Phasors &phasors, float firstAnchorDeg,
                          float lastAnchorDeg, int n)
{
    if (!smoothable(freq, phasors.cos, n) || phasors.sin.size() != freq.size())
        return {};
    const std::vector<BandPhasor> bands = bandPhasors(freq, phasors, n);
    if (bands.size() < 4)
        return {};
    math::Curve curve = splinePhase(bands);
    if (curve.freq.size() < 2)
        return {};
    anchorToAudibleEnds(curve, freq, firstAnchorDeg, lastAnchorDeg);
    unwrapDegrees(curve.values);
    return curve;
}

QList<float> readPhase(const math::Curve &phase, const QList<float> &freq)
{
    QList<float> result(freq.size());
    float *out = result.data();
    math::LogFrequencyReader read(phase.freq.constData(), phase.values.constData(),
                                  phase.freq.size());
    for (qsizetype i = 0; i < freq.size(); ++i)
        out[i] = float(read(freq[i]));
    return result;
}

} // namespace snt::eq
