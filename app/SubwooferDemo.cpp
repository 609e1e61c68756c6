#include "app/SubwooferDemo.h"

#include "app/SubwooferCrossover.h"
#include "eq/SubCrossover.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace {

constexpr float demoCoherence = 0.9f;

// Points from `first` to `last` Hz, each the previous one raised by 2 % and rounded up to a whole
// Hz, with the given level and the phase of a pure delay.
SubwooferCurve demoCurve(double first, double last, double delayMs,
                         const std::function<double(double)> &levelDb)
{
    SubwooferCurve curve;
    for (double f = first; f <= last; f = std::ceil(f * 1.02)) {
        curve.freq.append(float(f));
        curve.rawDb.append(float(levelDb(f)));
        curve.coherence.append(demoCoherence);
        curve.phase.append(float(-360.0 * delayMs * f / 1000.0));
    }
    return curve;
}

} // namespace

namespace subwoofer {

SubwooferCurve demoMainCurve()
{
    return demoCurve(20.0, 20000.0, demoMainDelayMs, [](double f) {
        const double rollOff = f < 100.0 ? std::log2(100.0 / std::max(f, 20.0)) * 14.0 * 0.55 : 0.0;
        return -3.0 - rollOff + 1.2 * std::sin(3.1 * std::log2(f / 250.0));
    });
}

SubwooferCurve demoSubCurve()
{
    return demoCurve(15.0, 2000.0, demoSubDelayMs, [](double f) {
        if (f < 25.0)
            return -12.0;
        if (f > 80.0)
            return 2.0 - 22.0 * std::log2(f / 80.0);
        return 2.0 + 1.5 * std::sin(2.2 * std::log2(f / 40.0));
    });
}

void addDemoBands(SubwooferCrossover &crossover)
{
    if (!crossover.hasDesign() || !crossover.result.subEqBands.isEmpty())
        return;
    crossover.result.subEqBands = {{63.0, -3.0, 1.2, true}, {125.0, -2.0, 1.0, true}};
    snt::eq::subResponse(crossover.result);
}

} // namespace subwoofer
