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
    float sample() override;

private:
    float frequency_ = 20.0f;
    double time_ = 0.0;
    float start_ = 20.0f;
    float end_ = 20000.0f;
    float duration_ = 1.0f;
};
