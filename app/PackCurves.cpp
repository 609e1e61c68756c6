#include "app/PackCurves.h"

#include "app/CurveFeeds.h"
#include "app/store/CaptureFiles.h"
#include "app/store/CurvePack.h"
#include "eq/CurveMath.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr qsizetype leastPoints = 8;
constexpr double bandLowHz = 225.0;
constexpr double bandHighHz = 8800.0;
constexpr double floorMagnitude = 1e-9;

} // namespace

QList<float> compensatedPhase(const QList<float> &freq, const QList<float> &phase, double delayMs)
{
    if (freq.size() < leastPoints || phase.size() != freq.size())
        return {};
    // Unwrapping first and turning each value back afterwards, as one might, gives the same
    // values: turning each sum directly keeps them exact.
    QList<float> result(freq.size());
    for (qsizetype i = 0; i < freq.size(); ++i)
        result[i] = float(
                snt::eq::remainder360(double(freq[i]) * delayMs * 360.0 / 1000.0 + phase[i]));
    return result;
}

QList<float> bandRelativeDb(const QList<float> &freq, const QList<float> &magnitude)
{
    const qsizetype n = std::min(freq.size(), magnitude.size());
    const double reference = bandLevelDb(freq, magnitude, bandLowHz, bandHighHz);
    QList<float> db(n);
    for (qsizetype k = 0; k < n; ++k)
        db[k] = float(20.0 * std::log10(std::max(double(magnitude[k]), floorMagnitude))
                      - reference);
    return db;
}

snt::eq::CurveRecord packCurveRecord(const CurvePack &pack, int smoothBands)
{
    snt::eq::CurveRecord record;
    record.freq = pack.freq;
    record.levelDb = pack.level;
    record.phaseDeg = pack.phase;
    record.coherence = pack.coherence;
    record.delayMs = pack.delayMs;
    record.bands = pack.bands;
    record.corners = {pack.low, pack.high, pack.lcSuspect};
    record.smoothBands = smoothBands;
    return record;
}

bool hasPointCurves(const CurvePack &pack)
{
    return pack.use == lineArrayUse && !pack.pointFreq.isEmpty();
}

QString loadPackCurves(CurvePack &pack)
{
    QString refusal;
    readRawFile(pack, &refusal);
    if (pack.use == lineArrayUse && pack.pointCount >= 1 && pack.pointFreq.isEmpty())
        readPointsFile(pack, &refusal);
    return refusal;
}
