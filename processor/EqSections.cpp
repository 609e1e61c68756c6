#include "processor/EqSections.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace processor {

namespace {

constexpr double kNyquist = kDeviceRate / 2.0;
// A band's Q of 0 or less, possible only from device data, would make alpha infinite.
constexpr double kBandFallbackQ = 0.707;
constexpr double kSecondOrderFallbackQ = 0.7071;
// The thumbnail spans ±18 dB.
constexpr double kThumbnailSpanDb = 18.0;
// A section's level is kept within ±400 dB, so a sum of sections is always a number.
constexpr double kPowerFloor = 1e-40;
constexpr double kPowerCeiling = 1e40;
constexpr double kLog10Of2 = std::numbers::ln2 * std::numbers::log10e;

// The sections of each corner type: a first-order section where `first` is set, then one
// second-order section per Q.
struct CornerShape
{
    bool first;
    std::array<double, 4> q;
    int qCount;
};

constexpr std::array<CornerShape, 16> kCornerShapes{{
        {true, {}, 0}, // 0 Butterworth 6 dB/oct
        {false, {0.7071}, 1}, // 1 Butterworth 12
        {true, {1.0}, 1}, // 2 Butterworth 18
        {false, {0.5412, 1.3066}, 2}, // 3 Butterworth 24
        {false, {0.5176, 0.7071, 1.9319}, 3}, // 4 Butterworth 36
        {false, {0.5098, 0.6013, 0.9, 2.5629}, 4}, // 5 Butterworth 48
        {true, {}, 0}, // 6 Bessel 6
        {false, {0.5774}, 1}, // 7 Bessel 12
        {true, {0.691}, 1}, // 8 Bessel 18
        {false, {0.5219, 0.8055}, 2}, // 9 Bessel 24
        {false, {0.5103, 0.6112, 1.0234}, 3}, // 10 Bessel 36
        {false, {0.506, 0.5606, 0.7109, 1.2257}, 4}, // 11 Bessel 48
        {false, {0.5}, 1}, // 12 Linkwitz-Riley 12
        {false, {0.7071, 0.7071}, 2}, // 13 Linkwitz-Riley 24
        {false, {0.5, 1.0, 1.0}, 3}, // 14 Linkwitz-Riley 36
        {false, {0.5412, 0.5412, 1.3066, 1.3066}, 4}, // 15 Linkwitz-Riley 48
}};

// cos and sin of w and 2w at every grid frequency, so a response costs no trigonometry.
struct GridAngles
{
    double cos1, sin1, cos2, sin2;
};

const std::array<GridAngles, kGridPoints> &gridAngles()
{
    static const std::array<GridAngles, kGridPoints> angles = [] {
        std::array<GridAngles, kGridPoints> table{};
        const QList<float> &grid = eqFrequencyGrid();
        for (int k = 0; k < kGridPoints; ++k) {
            const double w = 2.0 * std::numbers::pi * double(grid[k]) / kDeviceRate;
            table[k] = {std::cos(w), std::sin(w), std::cos(2.0 * w), std::sin(2.0 * w)};
        }
        return table;
    }();
    return angles;
}

// The grid point nearest to each thumbnail frequency 30·600^(i/32) Hz.
const std::array<int, kThumbnailPoints> &thumbnailIndices()
{
    static const std::array<int, kThumbnailPoints> indices = [] {
        std::array<int, kThumbnailPoints> table{};
        for (int i = 0; i < kThumbnailPoints; ++i) {
            const double f = std::pow(600.0, double(i) / (kThumbnailPoints - 1)) * 30.0;
            const double x = std::log10(f / 10.0) / std::log10(2400.0) * (kGridPoints - 1);
            table[i] = std::clamp(int(std::round(x)), 0, kGridPoints - 1);
        }
        return table;
    }();
    return indices;
}

bool isFinite(const BiquadSection &s)
{
    return std::isfinite(s.b0) && std::isfinite(s.b1) && std::isfinite(s.b2) && std::isfinite(s.a0)
           && std::isfinite(s.a1) && std::isfinite(s.a2);
}

bool inBand(double freq)
{
    return std::isfinite(freq) && freq > 0.0 && freq < kNyquist;
}

BiquadSection firstOrderSection(double freq, bool highPass)
{
    const double k = std::tan(std::numbers::pi * freq / kDeviceRate);
    const double p = (k - 1.0) / (k + 1.0);
    if (highPass)
        return {1.0 / (k + 1.0), -1.0 / (k + 1.0), 0.0, 1.0, p, 0.0};
    return {k / (k + 1.0), k / (k + 1.0), 0.0, 1.0, p, 0.0};
}

// The cookbook second-order high- or low-pass.
BiquadSection cookbookPass(double cosW, double alpha, bool highPass)
{
    if (highPass)
        return {(1.0 + cosW) / 2.0, -(1.0 + cosW), (1.0 + cosW) / 2.0,
                1.0 + alpha,        -2.0 * cosW,   1.0 - alpha};
    return {(1.0 - cosW) / 2.0, 1.0 - cosW,  (1.0 - cosW) / 2.0,
            1.0 + alpha,        -2.0 * cosW, 1.0 - alpha};
}

BiquadSection bandCoefficients(double freq, double gainDb, double q, int type)
{
    const double w = 2.0 * std::numbers::pi * freq / kDeviceRate;
    const double c = std::cos(w);
    const double alpha = std::sin(w) / (2.0 * q);
    const double a = std::pow(10.0, gainDb / 40.0);
    const double k = std::tan(std::numbers::pi * freq / kDeviceRate);
    const double p = (k - 1.0) / (k + 1.0);
    switch (type) {
    case 0:
        return {1.0 + alpha * a, -2.0 * c, 1.0 - alpha * a,
                1.0 + alpha / a, -2.0 * c, 1.0 - alpha / a};
    case 1:
    case 2:
        return shelfSection(c, a, 2.0 * std::sqrt(a) * alpha, type == 2);
    case 3:
        return {p, 1.0, 0.0, 1.0, p, 0.0};
    case 4:
    case 5:
        return {1.0 - alpha, -2.0 * c, 1.0 + alpha, 1.0 + alpha, -2.0 * c, 1.0 - alpha};
    case 6:
    case 7:
        return secondOrderSection(w, q, type == 7);
    case 8:
    case 9:
        return cookbookPass(c, alpha, type == 9);
    case 10:
    case 11:
        return firstOrderSection(freq, type == 11);
    case 12:
        return {alpha, 0.0, -alpha, 1.0 + alpha, -2.0 * c, 1.0 - alpha};
    default: // 13, 14: notch
        return {1.0, -2.0 * c, 1.0, 1.0 + alpha, -2.0 * c, 1.0 - alpha};
    }
}

} // namespace

const QList<float> &eqFrequencyGrid()
{
    static const QList<float> grid = [] {
        QList<float> frequencies(kGridPoints);
        const double low = std::log10(10.0);
        const double high = std::log10(24000.0);
        for (int k = 0; k < kGridPoints; ++k)
            frequencies[k] = float(std::pow(10.0, low + k * (high - low) / (kGridPoints - 1)));
        return frequencies;
    }();
    return grid;
}

BiquadSection shelfSection(double cosW, double a, double beta, bool high)
{
    const double plus = a + 1.0;
    const double minus = a - 1.0;
    if (high)
        return {a * (plus + minus * cosW + beta), -2.0 * a * (minus + plus * cosW),
                a * (plus + minus * cosW - beta), plus - minus * cosW + beta,
                2.0 * (minus - plus * cosW),      plus - minus * cosW - beta};
    return {a * (plus - minus * cosW + beta), 2.0 * a * (minus - plus * cosW),
            a * (plus - minus * cosW - beta), plus + minus * cosW + beta,
            -2.0 * (minus + plus * cosW),     plus + minus * cosW - beta};
}

BiquadSection secondOrderSection(double w, double q, bool highPass)
{
    const double k = std::tan(w / 2.0);
    const double qq = q > 0.0 ? q : kSecondOrderFallbackQ;
    const double k2q = k * k * qq;
    const double n = k2q + k + qq;
    const double a1 = 2.0 * qq * (k * k - 1.0) / n;
    const double a2 = (k2q - k + qq) / n;
    if (highPass)
        return {qq / n, -2.0 * qq / n, qq / n, 1.0, a1, a2};
    return {k2q / n, 2.0 * k2q / n, k2q / n, 1.0, a1, a2};
}

Sections bandSection(double freq, double gainDb, double q, int type)
{
    if (!inBand(freq) || !std::isfinite(gainDb) || type < 0 || type > 14)
        return {};
    const double usableQ = std::isfinite(q) && q > 0.0 ? q : kBandFallbackQ;
    const BiquadSection section = bandCoefficients(freq, gainDb, usableQ, type);
    return isFinite(section) ? Sections{section} : Sections{};
}

Sections cornerSections(double freq, int type, bool highPass)
{
    if (!inBand(freq) || type < 0 || type >= int(kCornerShapes.size()))
        return {};
    const CornerShape &shape = kCornerShapes[type];
    Sections sections;
    if (shape.first)
        sections.append(firstOrderSection(freq, highPass));
    const double w = 2.0 * std::numbers::pi * freq / kDeviceRate;
    for (int n = 0; n < shape.qCount; ++n)
        sections.append(cookbookPass(std::cos(w), std::sin(w) / (2.0 * shape.q[n]), highPass));
    return sections;
}

QList<float> responseOnGrid(const Sections &sections)
{
    const std::array<GridAngles, kGridPoints> &angles = gridAngles();
    QList<float> levels(kGridPoints, 0.0f);
    for (int k = 0; k < kGridPoints; ++k) {
        const GridAngles &g = angles[k];
        // The product of the sections' power ratios, as a mantissa and a power of two: one
        // logarithm per frequency instead of one per section.
        double mantissa = 1.0;
        int exponent = 0;
        for (const BiquadSection &s : sections) {
            const double numRe = s.b0 + s.b1 * g.cos1 + s.b2 * g.cos2;
            const double numIm = -(s.b1 * g.sin1 + s.b2 * g.sin2);
            const double denRe = s.a0 + s.a1 * g.cos1 + s.a2 * g.cos2;
            const double denIm = -(s.a1 * g.sin1 + s.a2 * g.sin2);
            const double power = (numRe * numRe + numIm * numIm)
                                 / std::max(denRe * denRe + denIm * denIm, kPowerFloor);
            // Written so that a power that is not a number lands on the floor.
            const double bounded
                    = power >= kPowerFloor ? std::min(power, kPowerCeiling) : kPowerFloor;
            int e = 0;
            mantissa = std::frexp(mantissa * bounded, &e);
            exponent += e;
        }
        levels[k] = float(10.0 * (std::log10(mantissa) + exponent * kLog10Of2));
    }
    return levels;
}

QList<float> thumbnailOf(const Sections &sections)
{
    if (sections.isEmpty())
        return QList<float>(kThumbnailPoints, 0.5f);
    const QList<float> levels = responseOnGrid(sections);
    QList<float> points;
    points.reserve(kThumbnailPoints);
    for (const int index : thumbnailIndices()) {
        const double position = (levels[index] + kThumbnailSpanDb) / (2.0 * kThumbnailSpanDb);
        points.append(float(std::clamp(position, 0.0, 1.0)));
    }
    return points;
}

} // namespace processor
