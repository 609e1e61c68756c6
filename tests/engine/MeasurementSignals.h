#pragma once

#include <QList>
#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <vector>

// Test signals and an independent model of the measured path (gain, whole-sample delay and an
// audio-EQ-cookbook peaking biquad), evaluated in double precision.
namespace snt::test {

struct Biquad {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;  // a0 = 1

    static Biquad peaking(double f0, double gainDb, double q, double rate)
    {
        const double a = std::pow(10.0, gainDb / 40.0);
        const double w0 = 2.0 * std::numbers::pi * f0 / rate;
        const double alpha = std::sin(w0) / (2.0 * q);
        const double a0 = 1.0 + alpha / a;
        return {(1.0 + alpha * a) / a0, -2.0 * std::cos(w0) / a0, (1.0 - alpha * a) / a0,
                -2.0 * std::cos(w0) / a0, (1.0 - alpha / a) / a0};
    }

    std::complex<double> response(double omega) const
    {
        const std::complex<double> z1 = std::polar(1.0, -omega);
        const std::complex<double> z2 = z1 * z1;
        return (b0 + b1 * z1 + b2 * z2) / (1.0 + a1 * z1 + a2 * z2);
    }

    std::vector<double> filter(const std::vector<double>& x) const
    {
        std::vector<double> y(x.size());
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        for (std::size_t n = 0; n < x.size(); ++n) {
            y[n] = b0 * x[n] + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
            x2 = x1;
            x1 = x[n];
            y2 = y1;
            y1 = y[n];
        }
        return y;
    }

    // Output power over input power for white noise: the energy of the impulse response.
    double noisePowerGain() const
    {
        std::vector<double> impulse(20000, 0.0);
        impulse[0] = 1.0;
        double energy = 0;
        for (double h : filter(impulse))
            energy += h * h;
        return energy;
    }
};

struct Path {
    double gain = 1.0;
    int delay = 0;  // samples; negative: the measurement leads
    Biquad biquad;

    std::complex<double> response(double omega) const
    {
        return gain * biquad.response(omega) * std::polar(1.0, -omega * delay);
    }
};

// Uniform white noise in [-amplitude, amplitude), reproducible.
inline std::vector<double> whiteNoise(std::size_t count, double amplitude, unsigned seed)
{
    std::mt19937 engine(seed);
    std::uniform_real_distribution<double> uniform(-amplitude, amplitude);
    std::vector<double> x(count);
    for (double& v : x)
        v = uniform(engine);
    return x;
}

// `reference` repeated to `count` samples.
inline std::vector<double> repeated(const std::vector<double>& period, std::size_t count)
{
    std::vector<double> x(count);
    for (std::size_t n = 0; n < count; ++n)
        x[n] = period[n % period.size()];
    return x;
}

// The measurement through `path` of the stimulus x; samples outside x count as x's periodic
// continuation when `period` is given, else as silence.
inline std::vector<double> throughPath(const std::vector<double>& x, const Path& path,
                                       std::size_t period = 0)
{
    using Index = long long;
    const auto size = static_cast<Index>(x.size());
    const auto cycle = static_cast<Index>(period);
    std::vector<double> shifted(x.size(), 0.0);
    for (Index n = 0; n < size; ++n) {
        const Index at = n - path.delay;
        if (at >= 0 && at < size)
            shifted[std::size_t(n)] = x[std::size_t(at)];
        else if (cycle)
            shifted[std::size_t(n)] = x[std::size_t((at % cycle + cycle) % cycle)];
    }
    std::vector<double> y = path.biquad.filter(shifted);
    for (double& v : y)
        v *= path.gain;
    return y;
}

inline QList<float> toFloats(const std::vector<double>& x, std::size_t from, std::size_t count)
{
    QList<float> out;
    out.reserve(qsizetype(count));
    for (std::size_t n = from; n < from + count; ++n)
        out.append(float(x[n]));
    return out;
}

}  // namespace snt::test
