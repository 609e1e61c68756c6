#include "app/SubwooferCrossover.h"

#include "eq/SubAlignment.h"
#include "eq/SubCrossover.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int leastLift = 6;
constexpr int mostLift = 20;
constexpr int mostOrder = 8;

const QString linkwitzRiley = QStringLiteral("LR");
const QString bessel = QStringLiteral("BS");
const QString butterworth = QStringLiteral("BW");

// The value rounded to 1/perUnit when it lies within [low, high]; else the old value.
double inRange(double value, double low, double high, double perUnit, double old)
{
    return value >= low && value <= high ? std::round(value * perUnit) / perUnit : old;
}

// Linkwitz-Riley corners exist only in even orders.
int orderForKind(const QString &kind, int order)
{
    return kind == linkwitzRiley && order > 0 && order % 2 != 0 ? std::min(order + 1, mostOrder)
                                                                : order;
}

} // namespace

bool SubwooferCrossover::setLift(int dB)
{
    lift = std::clamp(dB, leastLift, mostLift);
    return hasDesign();
}

void SubwooferCrossover::setMainReference(const snt::eq::DisplayCurve &unsmoothed,
                                          const snt::eq::DisplayCurve &smoothed)
{
    main.freq = unsmoothed.freq;
    main.rawDb = unsmoothed.after;
    main.coherence = unsmoothed.coherence;
    main.phase = smoothed.phaseAfter.isEmpty() ? unsmoothed.phaseAfter : smoothed.phaseAfter;
    main.resmooth();
    measured = std::max(measured, 1);
}

bool SubwooferCrossover::takeSubCapture(const QList<float> &freq, const QList<float> &magnitude,
                                        const QList<float> &coherence, const QList<float> &phase)
{
    if (freq.size() < leastCapturePoints)
        return false;
    sub.takeCapture(freq, magnitude, coherence, phase);
    sub.resmooth();
    measured = 2;
    return true;
}

void SubwooferCrossover::startSubMeasurement()
{
    sub.clear();
    result = snt::eq::CrossoverResult();
    measured = 1;
}

void SubwooferCrossover::design(bool align)
{
    result = snt::eq::designSubCrossover(main.freq, main.db, sub.freq, sub.db, lift);
    if (result.ok && align)
        snt::eq::alignSubToMain(result, main.freq, main.db, main.phase, main.coherence, sub.freq,
                                sub.phase, sub.coherence);
}

QString SubwooferCrossover::addEqBand()
{
    if (!hasDesign())
        return QStringLiteral("还没有分频结果");
    if (result.subEqBands.size() >= maxEqBands)
        return QStringLiteral("EQ 最多 6 段");
    result.subEqBands.append({80.0, 0.0, 1.0, true});
    snt::eq::subResponse(result);
    return {};
}

bool SubwooferCrossover::setEqEnabled(int index, bool enabled)
{
    if (index < 0 || index >= result.subEqBands.size())
        return false;
    result.subEqBands[index].enabled = enabled;
    snt::eq::subResponse(result);
    return true;
}

bool SubwooferCrossover::updateEq(int index, double freq, double q, double gainDb)
{
    if (index < 0 || index >= result.subEqBands.size())
        return false;
    snt::eq::CrossoverBand &band = result.subEqBands[index];
    band.hz = inRange(freq, 20.0, 300.0, 10.0, band.hz);
    band.q = inRange(q, 0.2, 10.0, 100.0, band.q);
    band.gain = inRange(gainDb, -18.0, 18.0, 10.0, band.gain);
    snt::eq::subResponse(result);
    return true;
}

SubwooferCrossover::CornerFields SubwooferCrossover::corner(const QString &side)
{
    if (side == QLatin1String("lpf"))
        return {result.lowPassKind, result.lowPassOrder, result.lowPassHz};
    return {result.subHighPassKind, result.subHighPassOrder, result.subHighPassHz};
}

bool SubwooferCrossover::updateCorner(const QString &side, double hz, int slopeDb)
{
    if (!hasDesign() || !std::isfinite(hz))
        return false;
    CornerFields c = corner(side);
    if (slopeDb <= 0) {
        c.order = 0;
        c.hz = hz;
    } else {
        const int order = std::clamp(int(std::floor(slopeDb / 6.0 + 0.5)), 1, mostOrder);
        c.order = orderForKind(c.kind, order);
        c.hz = std::clamp(hz, 10.0, 24000.0);
    }
    snt::eq::subResponse(result);
    return true;
}

bool SubwooferCrossover::updateCornerType(const QString &side, const QString &kind)
{
    if (!hasDesign())
        return false;
    const QString upper = kind.toUpper();
    const QString chosen = upper == linkwitzRiley || upper == bessel ? upper : butterworth;
    CornerFields c = corner(side);
    if (chosen == c.kind)
        return false;
    c.kind = chosen;
    c.order = orderForKind(chosen, c.order);
    snt::eq::subResponse(result);
    return true;
}

QList<snt::eq::SchemeBand> SubwooferCrossover::deliveredBands() const
{
    QList<snt::eq::SchemeBand> bands;
    for (const snt::eq::CrossoverBand &band : result.subEqBands)
        bands.append({float(band.hz), float(band.gain), float(band.q), band.enabled});
    return bands;
}

snt::eq::Corner SubwooferCrossover::deliveredHighPass() const
{
    return {result.subHighPassOrder > 0, result.subHighPassKind, result.subHighPassOrder,
            result.subHighPassHz};
}

snt::eq::Corner SubwooferCrossover::deliveredLowPass() const
{
    return {result.lowPassOrder > 0, result.lowPassKind, result.lowPassOrder, result.lowPassHz};
}
