#include "ui/ChartMapping.h"

#include <algorithm>
#include <cmath>

namespace snt::ui {

namespace {
const double logLow = std::log10(20.0);
const double logSpan = std::log10(20000.0) - logLow;
constexpr double coherenceBand = 0.22;
} // namespace

double ChartMapping::xForFrequency(double f) const
{
    if (!(f > 0))
        return left;
    return left + plotWidth() * (std::log10(f) - logLow) / logSpan;
}

double ChartMapping::yForDb(double value) const
{
    const double t = topValue();
    return top + plotHeight() * (t - value) / (t - yMin);
}

double ChartMapping::yForPhase(double value) const
{
    if (phaseMode)
        value = std::remainder(value, 360.0);
    return yForDb(std::clamp(value, yMin, topValue()));
}

double ChartMapping::yForCoherence(double coherence) const
{
    const double band = coherenceBand * plotHeight();
    const double c = std::clamp(coherence, 0.0, 1.0);
    return coherenceBottom ? bottomEdge() - c * band : top + (1 - c) * band;
}

} // namespace snt::ui
