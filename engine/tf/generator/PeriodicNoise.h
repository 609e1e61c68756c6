#pragma once

#include "engine/tf/generator/OutputDevice.h"

#include <QList>

// One period of N samples of pink-spectrum noise (amplitude 1/√k in every bin k between DC and
// Nyquist, random phases from a 32-bit Mersenne Twister seeded with `seed`), exactly periodic in
// N, with mean 0 and RMS `targetRms`. Empty when N is not a power of two of at least 4. The same
// seed always gives the same period.
QList<double> makePeriodicNoise(int length, quint32 seed, double targetRms);

// Generator type 4: the periodic pink noise of 65536 samples, repeated exactly; RMS 1.0 at 0 dB,
// so its peaks exceed full scale.
class PeriodicNoise : public OutputDevice
{
    Q_OBJECT
public:
    static constexpr int periodLength = 65536;
    static constexpr quint32 seed = 0x50524E21;

    explicit PeriodicNoise(GeneratorThread *owner, QObject *parent = nullptr);

public slots:
    void setSamplerate(int sampleRate) override;
    // Switching the generator on or off starts again at the beginning of the period.
    void enabledChanged(bool enabled);

protected:
    void beginBlock() override;
    float sample() override;

private:
    struct Period
    {
        QList<double> samples; // empty without a rate
        int restarts = 0; // each restart plays from the beginning
    };

    realtime::Published<Period> period_;
    // The reading thread's own.
    qint64 position_ = 0;
    int restartsSeen_ = 0;
};
