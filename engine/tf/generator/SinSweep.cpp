#include "engine/tf/generator/SinSweep.h"

#include <QMutexLocker>
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
    QMutexLocker lock(&stateLock());
    start_ = float(start);
    frequency_ = float(start);
}

void SinSweep::setEnd(int end)
{
    QMutexLocker lock(&stateLock());
    frequency_ = start_;
    end_ = float(end);
}

void SinSweep::setFrequency(int frequency)
{
    QMutexLocker lock(&stateLock());
    frequency_ = float(frequency);
}

void SinSweep::setDuration(float duration)
{
    QMutexLocker lock(&stateLock());
    duration_ = duration;
}

void SinSweep::enabledChanged(bool)
{
    QMutexLocker lock(&stateLock());
    time_ = 0.0;
}

float SinSweep::sample()
{
    const int rate = sampleRateLocked();
    if (rate < 1)
        return 0.0f;
    const double t = time_;
    time_ = t + 1.0 / double(rate);
    float x;
    if (std::abs(end_ - start_) < 1.0f) {
        x = (frequency_ * twoPi) * float(t);
        // Whole seconds hold whole cycles of a whole-hertz tone, so the wrap keeps the phase
        // continuous while the float phase stays small.
        if (time_ >= 1.0)
            time_ -= 1.0;
    } else {
        const float logRatio = std::log(end_ / start_);
        const float factor = start_ * twoPi * duration_ / logRatio;
        x = float((std::exp(double(logRatio) * t / double(duration_)) - 1.0) * double(factor));
        if (time_ >= double(duration_))
            time_ = 0.0;
    }
    return std::sin(x) * gainLocked();
}
