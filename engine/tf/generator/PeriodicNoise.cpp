#include "engine/tf/generator/PeriodicNoise.h"

#include "engine/dsp/Radix2Fft.h"

#include <cmath>
#include <complex>
#include <random>
#include <vector>

QList<double> makePeriodicNoise(int length, quint32 seed, double targetRms)
{
    if (length < 4 || !isPowerOfTwo(std::size_t(length)))
        return {};
    const std::size_t n = std::size_t(length);
    std::vector<std::complex<double>> spectrum(n);
    std::mt19937 random(seed);
    for (std::size_t k = 1; k < n / 2; ++k) {
        const double amplitude = 1.0 / std::sqrt(double(k));
        const std::uint32_t a = random();
        const std::uint32_t b = random();
        const double u = (double(b) * 2097152.0 + double(a >> 11)) * 0x1p-53; // [0, 1)
        const double phase = 2.0 * M_PI * u;
        spectrum[k] = std::polar(amplitude, phase);
        spectrum[n - k] = std::conj(spectrum[k]);
    }
    fftRadix2(spectrum, true);

    QList<double> period(length);
    double mean = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        period[i] = spectrum[i].real();
        mean += period[i];
    }
    mean /= double(n);
    double energy = 0.0;
    for (double &v : period) {
        v -= mean;
        energy += v * v;
    }
    const double rms = std::sqrt(energy / double(n));
    if (!(rms > 0.0) || !std::isfinite(rms))
        return {};
    const double scale = targetRms / rms;
    for (double &v : period)
        v *= scale;
    return period;
}

PeriodicNoise::PeriodicNoise(GeneratorThread *owner, QObject *parent)
    : OutputDevice(owner, parent)
{
    setName(QStringLiteral("PeriodicNoise"));
}

void PeriodicNoise::setSamplerate(int sampleRate)
{
    OutputDevice::setSamplerate(sampleRate);
    if (sampleRate < 1) {
        period_.change([](Period &p) {
            p.samples = {};
            ++p.restarts;
        });
        return;
    }
    // The period does not depend on the rate, so it is made once.
    if (!period_.latest().samples.isEmpty())
        return;
    const QList<double> period = makePeriodicNoise(periodLength, seed, 1.0);
    period_.change([&period](Period &p) { p.samples = period; });
}

void PeriodicNoise::enabledChanged(bool)
{
    period_.change([](Period &p) { ++p.restarts; });
}

void PeriodicNoise::beginBlock()
{
    const Period &period = period_.take();
    if (period.restarts != restartsSeen_) {
        restartsSeen_ = period.restarts;
        position_ = 0;
    }
    if (position_ >= period.samples.size())
        position_ = 0;
}

float PeriodicNoise::sample()
{
    const QList<double> &period = period_.current().samples;
    if (period.isEmpty())
        return 0.0f;
    const double v = period.at(position_);
    if (++position_ >= period.size())
        position_ = 0;
    return float(v) * playingGain();
}
