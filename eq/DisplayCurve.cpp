#include "eq/DisplayCurve.h"

#include "eq/BandRules.h"
#include "eq/CurveMath.h"
#include "eq/CurvePreparation.h"
#include "eq/DisplaySmoothing.h"
#include "eq/FilterResponse.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>
#include <vector>

namespace snt::eq {

namespace {

constexpr int displayPoints = 480;
constexpr qsizetype minimumPoints = 8;
constexpr float cornerQ = 0.707f;
constexpr double degreesPerRadian = 57.29577951308232;
constexpr float outsideMeasuredRange = -100.0f;
constexpr float negligibleGainDb = 0.0001f;

bool applies(const SchemeBand &band)
{
    return band.enabled && band.freq > 0.0f && band.q > 0.0f
           && std::abs(band.gain) >= negligibleGainDb;
}

bool applies(const Corner &corner)
{
    return corner.on && corner.hz > 0.0 && corner.order >= 1;
}

// A corner as the filter it stands for: its kind's family at Q 0.707; side 0 is the high-pass,
// side 1 the low-pass.
struct CornerFilter
{
    CornerFilter(const Corner &corner, int side)
        : on(applies(corner))
        , code(cornerFilterCode(side, corner.kind))
        , hz(float(corner.hz))
        , order(corner.order)
    { }

    Complex at(float f) const
    {
        return filterResponse(code, f, hz, order, cornerQ, 0.0f, false, 0.0f);
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

// A corner's level is floored at -180 dB (1e-9), far below anything a chart shows.
constexpr double minimumMagnitude = 1e-9;
constexpr double minimumPower = minimumMagnitude * minimumMagnitude;

double magnitudeDb(const Complex &h)
{
    return 20.0 * std::log10(std::max(double(h.abs()), minimumMagnitude));
}

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
double eqPhaseSum(const CurveRecord &record, const std::array<CornerFilter, 2> &corners, float f)
{
    double rad = 0.0;
    for (const SchemeBand &b : record.bands) {
        if (applies(b))
            rad += filterResponse(Peaking, f, b.freq, 1, b.q, b.gain, false, 0.0f).arg();
    }
    for (const CornerFilter &c : corners) {
        if (c.on)
            rad += c.at(f).arg();
    }
    return rad * degreesPerRadian;
}

// The level, phase and unit phasor of the enabled bands and both corners at each frequency; each
// empty unless asked for.
enum EqPart : unsigned { Level = 1, Phase = 2, Turn = 4 };

struct EqResponse
{
    QList<float> db;
    QList<float> phase;
    Phasors turn;
};

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

// Per frequency the bands' fractions are multiplied out and divided once, so that a point costs
// one logarithm and one arctangent however many bands there are: a preview is recomputed on every
// edit of a band. The angle of the product is the sum of the filters' angles up to whole turns.
// The phase is unwrapped later, which removes whole turns everywhere but at the first point, so
// that point takes the sum itself.
EqResponse eqResponse(const CurveRecord &record, const QList<float> &freq, unsigned parts)
{
    const std::array<CornerFilter, 2> corners{CornerFilter(record.corners.highPass, 0),
                                              CornerFilter(record.corners.lowPass, 1)};
    const QList<PreparedBand> bands = preparedBands(record.bands);
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
        const BlockProduct p(bands, f, m);
        for (qsizetype k = 0; k < m; ++k) {
            double power = norm(p.numRe[k], p.numIm[k]) / norm(p.denRe[k], p.denIm[k]);
            double re = double(p.numRe[k]) * p.denRe[k] + double(p.numIm[k]) * p.denIm[k];
            double im = double(p.numIm[k]) * p.denRe[k] - double(p.numRe[k]) * p.denIm[k];
            for (const CornerFilter &c : corners) {
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
        phase[0] = float(eqPhaseSum(record, corners, freq[0]));
    return eq;
}

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
    return {before, unwrapPhase(sum(before, eqResponse(record, record.freq, Phase).phase))};
}

// True when the smoothed phase cannot turn by half a turn between neighbouring frequencies: the
// sum of its steps over the points spanning each neighbouring pair stays below that.
bool turnsGently(const SmoothedPhase &phase, const QList<float> &freq)
{
    const qsizetype m = phase.freq.size();
    std::vector<double> turned(size_t(m), 0.0); // sum of the absolute steps up to each point
    for (qsizetype k = 1; k < m; ++k)
        turned[k] = turned[k - 1] + std::abs(double(phase.deg[k]) - phase.deg[k - 1]);
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
QList<float> unwrappedAt(const SmoothedPhase &phase, const QList<float> &freq,
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
    const Phasors turn = eqResponse(record, record.freq, Turn).turn;
    Phasors after{QList<float>(wrapped.size()), QList<float>(wrapped.size())};
    for (qsizetype i = 0; i < wrapped.size(); ++i) {
        after.cos[i] = before.cos[i] * turn.cos[i] - before.sin[i] * turn.sin[i];
        after.sin[i] = before.cos[i] * turn.sin[i] + before.sin[i] * turn.cos[i];
    }

    const auto [first, last] = phaseAnchors(record.freq);
    std::array<float, 2> beforeAt{};
    std::array<float, 2> afterAt{};
    if (first >= 0) {
        CurveRecord lead = record;
        lead.freq = record.freq.mid(0, first + 1);
        lead.phaseDeg = record.phaseDeg.mid(0, first + 1);
        const PhaseCurves leading = unsmoothedPhases(lead);
        const float eqAtLast = eqResponse(record, {record.freq[last]}, Phase).phase.first();
        beforeAt = {leading.before.last(), wrapped[last]};
        afterAt = {leading.after.last(), wrapped[last] + eqAtLast};
    }
    const int n = record.smoothBands;
    const SmoothedPhase smoothedBefore
            = smoothedPhase(record.freq, before, beforeAt[0], beforeAt[1], n);
    if (smoothedBefore.freq.isEmpty())
        return {};
    const SmoothedPhase smoothedAfter
            = smoothedPhase(record.freq, after, afterAt[0], afterAt[1], n);
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
        return {rawBefore, sum(rawBefore, eqResponse(record, supportFreq, Level).db)};
    // Smoothing reads only some of the points, so the EQ is needed only there.
    const QList<qsizetype> read = smoothingSupport(record.freq);
    const QList<float> readFreq = pick(record.freq, read);
    const QList<float> eq = eqResponse(record, readFreq, Level).db;
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
    const CornerFilter filter(corner, side);
    if (!filter.on)
        return;
    const qsizetype levels = levelDb.size();
    const qsizetype phases = phaseDeg.size();
    const qsizetype n = std::min(freq.size(), std::max(levels, phases));
    float *level = levelDb.data();
    float *phase = phaseDeg.data();
    for (qsizetype i = 0; i < n; ++i) {
        const Complex h = filter.at(freq[i]);
        if (i < levels)
            level[i] += float(magnitudeDb(h));
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
    const QList<qsizetype> support = readSupport(record.freq, displayFrequencyGrid());
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
