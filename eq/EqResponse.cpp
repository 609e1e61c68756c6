#include "eq/EqResponse.h"

#include "eq/BandRules.h"
#include "eq/CurveMath.h"
#include "eq/FilterResponse.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace snt::eq {

namespace {

constexpr float cornerQ = 0.707f;
constexpr double degreesPerRadian = 57.29577951308232;
constexpr float negligibleGainDb = 0.0001f;
constexpr double minimumMagnitude = 1e-9;
constexpr double minimumPower = minimumMagnitude * minimumMagnitude;

bool applies(const SchemeBand &band)
{
    return band.enabled && band.freq > 0.0f && band.q > 0.0f
           && std::abs(band.gain) >= negligibleGainDb;
}

// A corner as the filter it stands for: its kind's family at Q 0.707; side 0 is the high-pass,
// side 1 the low-pass.
struct CornerFilter
{
    CornerFilter(const Corner &corner, int side)
        : on(cornerApplies(corner))
        , code(cornerFilterCode(side, corner.kind))
        , hz(float(corner.hz))
        , order(corner.order)
    { }

    Complex at(float f) const
    {
        return filterResponse({.type = code, .fc = hz, .order = order, .q = cornerQ}, f);
    }

    // The response as a fraction; at 0 Hz and below, the response itself over 1.
    ComplexFraction fraction(float f) const
    {
        if (!(f > 0.0f))
            return {at(f), Complex(1.0f)};
        return cornerFraction(code, Complex(0.0f, f / hz), unsigned(order));
    }

    bool on;
    int code;
    float hz;
    int order;
};

double norm(double re, double im)
{
    return re * re + im * im;
}

// Multiplies (re, im) by (byRe, byIm).
void rotate(double &re, double &im, double byRe, double byIm)
{
    const double rotatedRe = re * byRe - im * byIm;
    im = re * byIm + im * byRe;
    re = rotatedRe;
}

// The sum of the angles of the bands and corners at f, each wrapped to ±180° on its own.
double eqPhaseSum(const QList<SchemeBand> &bands, const std::array<CornerFilter, 2> &corners,
                  float f)
{
    double rad = 0.0;
    for (const SchemeBand &b : bands) {
        if (applies(b))
            rad += filterResponse(
                           {.type = Peaking, .fc = b.freq, .order = 1, .q = b.q, .gainDb = b.gain},
                           f)
                           .arg();
    }
    for (const CornerFilter &c : corners) {
        if (c.on)
            rad += c.at(f).arg();
    }
    return rad * degreesPerRadian;
}

// Points are worked through in blocks small enough for the running products of the bands to stay
// in the fastest cache, each band's pass over a block running in vector registers.
constexpr qsizetype blockSize = 256;

// A band with its per-band terms worked out once.
struct PreparedBand
{
    float hz;
    float amplitude;
    float q;
    float hzSquared;
};

QList<PreparedBand> preparedBands(const QList<SchemeBand> &bands)
{
    QList<PreparedBand> prepared;
    for (const SchemeBand &b : bands) {
        if (applies(b))
            prepared.append({b.freq, float(peakingAmplitude(b.gain)), b.q, b.freq * b.freq});
    }
    return prepared;
}

// The bands' responses multiplied out over one block of frequencies, numerator and denominator
// apart. Each band's two polynomials are scaled alike by min(1, (f0/f)²): the ratio stays and the
// product of many bands stays in range.
struct BlockProduct
{
    std::array<float, blockSize> numRe, numIm, denRe, denIm;

    BlockProduct(const QList<PreparedBand> &bands, const float *freq, qsizetype m)
    {
        std::fill_n(numRe.begin(), m, 1.0f);
        std::fill_n(numIm.begin(), m, 0.0f);
        std::fill_n(denRe.begin(), m, 1.0f);
        std::fill_n(denIm.begin(), m, 0.0f);
        std::array<float, blockSize> inverseSquare;
        for (qsizetype k = 0; k < m; ++k)
            inverseSquare[k] = 1.0f / (freq[k] * freq[k]);
        for (const PreparedBand &b : bands) {
            for (qsizetype k = 0; k < m; ++k) {
                const ComplexFraction h
                        = peakingFraction(Complex(0.0f, freq[k] / b.hz), b.amplitude, b.q);
                const float scale = std::min(1.0f, b.hzSquared * inverseSquare[k]);
                const float nr = numRe[k] * h.numerator.re - numIm[k] * h.numerator.im;
                const float ni = numRe[k] * h.numerator.im + numIm[k] * h.numerator.re;
                const float dr = denRe[k] * h.denominator.re - denIm[k] * h.denominator.im;
                const float di = denRe[k] * h.denominator.im + denIm[k] * h.denominator.re;
                numRe[k] = nr * scale;
                numIm[k] = ni * scale;
                denRe[k] = dr * scale;
                denIm[k] = di * scale;
            }
        }
    }
};

} // namespace

bool cornerApplies(const Corner &corner)
{
    return corner.on && corner.hz > 0.0 && corner.order >= 1;
}

Complex cornerResponse(const Corner &corner, int side, float f)
{
    return CornerFilter(corner, side).at(f);
}

double cornerLevelDb(const Complex &h)
{
    return 20.0 * std::log10(std::max(double(h.abs()), minimumMagnitude));
}

// Per frequency the bands' fractions are multiplied out and divided once, so that a point costs
// one logarithm and one arctangent however many bands there are: a preview is recomputed on every
// edit of a band. The angle of the product is the sum of the filters' angles up to whole turns.
// The phase is unwrapped later, which removes whole turns everywhere but at the first point, so
// that point takes the sum itself.
EqResponse eqResponse(const QList<SchemeBand> &bands, const CornerEstimate &corners,
                      const QList<float> &freq, unsigned parts)
{
    const std::array<CornerFilter, 2> filters{CornerFilter(corners.highPass, 0),
                                              CornerFilter(corners.lowPass, 1)};
    const QList<PreparedBand> prepared = preparedBands(bands);
    const qsizetype n = freq.size();
    const auto list = [n](bool wanted) {
        return wanted ? QList<float>(n) : QList<float>();
    };
    EqResponse eq{
            list(parts & Level), list(parts & Phase), {list(parts & Turn), list(parts & Turn)}};
    float *db = eq.db.data();
    float *phase = eq.phase.data();
    float *turnCos = eq.turn.cos.data();
    float *turnSin = eq.turn.sin.data();
    for (qsizetype start = 0; start < n; start += blockSize) {
        const qsizetype m = std::min(blockSize, n - start);
        const float *f = freq.constData() + start;
        const BlockProduct p(prepared, f, m);
        for (qsizetype k = 0; k < m; ++k) {
            double power = norm(p.numRe[k], p.numIm[k]) / norm(p.denRe[k], p.denIm[k]);
            double re = double(p.numRe[k]) * p.denRe[k] + double(p.numIm[k]) * p.denIm[k];
            double im = double(p.numIm[k]) * p.denRe[k] - double(p.numRe[k]) * p.denIm[k];
            for (const CornerFilter &c : filters) {
                if (!c.on)
                    continue;
                const ComplexFraction h = c.fraction(f[k]);
                power *= std::max(norm(h.numerator.re, h.numerator.im)
                                          / norm(h.denominator.re, h.denominator.im),
                                  minimumPower);
                rotate(re, im, h.numerator.re, h.numerator.im);
                rotate(re, im, h.denominator.re, -h.denominator.im);
            }
            if (parts & Level)
                db[start + k] = float(10.0 * std::log10(power));
            if (parts & Phase)
                phase[start + k] = float(quickAtan2(im, re) * degreesPerRadian);
            if (parts & Turn) {
                const double scale = 1.0 / std::sqrt(norm(re, im));
                turnCos[start + k] = float(re * scale);
                turnSin[start + k] = float(im * scale);
            }
        }
    }
    if ((parts & Phase) && n > 0)
        phase[0] = float(eqPhaseSum(bands, filters, freq[0]));
    return eq;
}

} // namespace snt::eq
