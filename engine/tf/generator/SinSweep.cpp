#include "engine/tf/generator/SinSweep.h"

#include <cmath>

namespace {

constexpr float twoPi = 6.2831855f;

} // namespace

SinSweep::SinSweep(GeneratorThread *owner, QObject *parent)
    : OutputDevice(owner, parent)
{
    setName(QStringLiteral("SineSweep"));
}

void SinSweep::setStart(int start)
{
    sweep_.change([start](Sweep &s) {
        s.start = float(start);
        s.frequency = float(start);
    });
}

void SinSweep::setEnd(int end)
{
    sweep_.change([end](Sweep &s) {
        s.frequency = s.start;
        s.end = float(end);
    });
}

void SinSweep::setFrequency(int frequency)
{
    sweep_.change([frequency](Sweep &s) { s.frequency = float(frequency); });
}

void SinSweep::setDuration(float duration)
{
    sweep_.change([duration](Sweep &s) { s.duration = duration; });
}

void SinSweep::enabledChanged(bool)
{
    sweep_.change([](Sweep &s) { ++s.restarts; });
}

void SinSweep::beginBlock()
{
    const Sweep &sweep = sweep_.take();
    if (sweep.restarts != restartsSeen_) {
        restartsSeen_ = sweep.restarts;
        time_ = 0.0;
    }
}

float SinSweep::sample()
{
    const int rate = playingRate();
    if (rate < 1)
        return 0.0f;
    const Sweep &s = sweep_.current();
    const double t = time_;
    time_ = t + 1.0 / double(rate);
    float x;
    if (std::abs(s.end - s.start) < 1.0f) {
        x = (s.frequency * twoPi) * float(t);
        // Whole seconds hold whole cycles of a whole-hertz tone, so the wrap keeps the phase
        // continuous while the float phase stays small.
        if (time_ >= 1.0)
            time_ -= 1.0;
    } else {
        const float logRatio = std::log(s.end / s.start);
        const float factor = s.start * twoPi * s.duration / logRatio;
        x = float((std::exp(double(logRatio) * t / double(s.duration)) - 1.0) * double(factor));
        if (time_ >= double(s.duration))
            time_ = 0.0;
    }
    return std::sin(x) * playingGain();
}
