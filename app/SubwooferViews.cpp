#include "app/SubwooferViews.h"

#include "app/SubwooferCrossover.h"
#include "eq/CurvePreparation.h"
#include "eq/SubCrossover.h"

#include <cmath>

namespace {

constexpr float highestGridHz = 20500.0f;
constexpr float lowestShownDb = -30.0f;

// The curve as [Hz, dB] pairs on the standard grid; `keep` decides which values are shown.
template<typename Keep>
QVariantList onGrid(const QList<float> &db, Keep keep)
{
    const QList<float> &grid = snt::eq::standardGrid();
    if (db.size() != grid.size())
        return {};
    QVariantList points;
    for (qsizetype i = 0; i < grid.size() && grid[i] <= highestGridHz; ++i) {
        if (keep(db[i]))
            points.append(QVariant(QVariantList{double(grid[i]), double(db[i])}));
    }
    return points;
}

QVariantList shownOnGrid(const QList<float> &db)
{
    return onGrid(db, [](float value) { return std::isfinite(value) && value >= lowestShownDb; });
}

} // namespace

namespace subwoofer {

QVariantList beforeCurve(const SubwooferCrossover &crossover)
{
    return shownOnGrid(crossover.result.mainRel);
}

QVariantList rawCurve(const SubwooferCrossover &crossover)
{
    return shownOnGrid(crossover.result.subRaw);
}

QVariantList processedCurve(const SubwooferCrossover &crossover)
{
    QList<float> processed = crossover.result.subAfter;
    const QList<float> &eq = crossover.result.subEq;
    if (eq.size() == snt::eq::standardGrid().size() && processed.size() == eq.size()) {
        for (qsizetype i = 0; i < processed.size(); ++i)
            processed[i] += eq[i];
    }
    return shownOnGrid(processed);
}

QVariantList summedCurve(const SubwooferCrossover &crossover)
{
    return shownOnGrid(crossover.result.combined);
}

QVariantList targetCurve(const SubwooferCrossover &crossover)
{
    const QList<float> &grid = snt::eq::standardGrid();
    QList<float> target = crossover.result.liftTarget;
    if (target.size() != grid.size()) {
        target.resize(grid.size());
        for (qsizetype i = 0; i < grid.size(); ++i)
            target[i] = float(snt::eq::subLiftDb(grid[i], crossover.lift));
    }
    return onGrid(target, [](float) { return true; });
}

QVariantList eqBands(const SubwooferCrossover &crossover)
{
    QVariantList bands;
    for (const snt::eq::CrossoverBand &band : crossover.result.subEqBands)
        bands.append(QVariantMap{{QStringLiteral("freq"), band.hz},
                                 {QStringLiteral("q"), band.q},
                                 {QStringLiteral("gain"), band.gain},
                                 {QStringLiteral("enabled"), band.enabled}});
    return bands;
}

QVariantMap info(const SubwooferCrossover &crossover)
{
    const snt::eq::CrossoverResult &r = crossover.result;
    QVariantList eq;
    for (const snt::eq::CrossoverBand &band : r.subEqBands)
        eq.append(QVariantMap{{QStringLiteral("fc"), band.hz},
                              {QStringLiteral("gain"), band.gain},
                              {QStringLiteral("q"), band.q}});
    return {{QStringLiteral("ok"), r.ok},
            {QStringLiteral("why"), r.why},
            {QStringLiteral("lowFc"), r.subHighPassHz},
            {QStringLiteral("lowKind"), r.subHighPassKind},
            {QStringLiteral("lowOrder"), r.subHighPassOrder},
            {QStringLiteral("lpKind"), r.lowPassKind},
            {QStringLiteral("lpOrder"), r.lowPassOrder},
            {QStringLiteral("lpFc"), r.lowPassHz},
            {QStringLiteral("gainDb"), r.subGainDb},
            {QStringLiteral("rmsDb"), r.fitErrorDb},
            {QStringLiteral("aligned"), r.aligned},
            {QStringLiteral("delayMs"), r.alignDelayMs},
            {QStringLiteral("invert"), r.alignInvert},
            {QStringLiteral("winLo"), r.fallbackLowHz},
            {QStringLiteral("winHi"), r.fallbackHighHz},
            {QStringLiteral("crossLo"), r.windowLowHz},
            {QStringLiteral("crossHi"), r.windowHighHz},
            {QStringLiteral("mainPack"), crossover.mainPackIndex},
            {QStringLiteral("mainName"), crossover.mainName},
            {QStringLiteral("mainProject"), crossover.mainProject},
            {QStringLiteral("mainLoaded"), !crossover.main.isEmpty()},
            {QStringLiteral("eq"), eq}};
}

} // namespace subwoofer
