#pragma once

#include "engine/tf/generator/OutputDevice.h"

// Generator type 2: an exponential sine sweep from `start` to `end` over `duration` seconds that
// starts again at phase 0, or, when start and end are less than 1 Hz apart, a steady tone at
// `frequency`. Peak 1.0 at 0 dB.
class SinSweep : public OutputDevice
{
    Q_OBJECT
public:
    explicit SinSweep(GeneratorThread *owner, QObject *parent = nullptr);

public slots:
    // Also moves the tone to the new start frequency.
    void setStart(int start);
    // Also moves the tone to the current start frequency.
    void setEnd(int end);
    void setFrequency(int frequency);
    void setDuration(float duration);
    // Switching the generator on or off starts the next sweep from its beginning.
    void enabledChanged(bool enabled);

protected:
    void beginBlock() override;
    float sample() override;

private:
    struct Sweep
    {
        float frequency = 20.0f;
        float start = 20.0f;
        float end = 20000.0f;
        float duration = 1.0f;
        int restarts = 0; // enabledChanged() calls so far
    };

    realtime::Published<Sweep> sweep_;
    // The reading thread's own.
    double time_ = 0.0;
    int restartsSeen_ = 0;
};
