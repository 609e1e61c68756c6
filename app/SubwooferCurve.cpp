#include "app/SubwooferCurve.h"

#include "eq/DisplaySmoothing.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int smoothingBands = 6;
constexpr qsizetype leastPoints = 8;
constexpr float leastMagnitude = 1e-9f;

} // namespace

void SubwooferCurve::takeCapture(const QList<float> &frequencies, const QList<float> &magnitude,
                                 const QList<float> &coherences, const QList<float> &phases)
{
    freq = frequencies;
    rawDb.resize(magnitude.size());
    for (qsizetype i = 0; i < magnitude.size(); ++i)
        rawDb[i] = 20.0f * std::log10(std::max(magnitude[i], leastMagnitude));
    coherence = coherences;
    phase = phases;
}

void SubwooferCurve::resmooth()
{
    const bool smoothable = freq.size() >= leastPoints && rawDb.size() == freq.size();
    db = smoothable ? snt::eq::smoothCurve(freq, rawDb, smoothingBands) : rawDb;
}

bool SubwooferCurve::drawable() const
{
    return freq.size() >= leastPoints && db.size() == freq.size();
}
