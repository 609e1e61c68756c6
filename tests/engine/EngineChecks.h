#pragma once

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace snt::test {

constexpr double twoPi = 2.0 * std::numbers::pi;

inline std::vector<double> gaussianNoise(std::size_t n, unsigned seed)
{
    std::mt19937 generator(seed);
    std::normal_distribution<double> distribution(0.0, 1.0);
    std::vector<double> x(n);
    for (double &v : x)
        v = distribution(generator);
    return x;
}

// Steady-state gain in dB of a filter for a unit sine of `cyclesPerSample`: settle for `settle`
// samples, then correlate the output with sine and cosine over `cycles` whole periods.
template<typename Filter>
double sineGainDb(Filter &filter, double cyclesPerSample, int settle, int cycles)
{
    const int length = int(std::lround(cycles / cyclesPerSample));
    double s = 0.0, c = 0.0, ss = 0.0, cc = 0.0;
    for (int n = 0; n < settle + length; ++n) {
        const double phase = twoPi * cyclesPerSample * n;
        const double y = filter.process(float(std::sin(phase)));
        if (n < settle)
            continue;
        s += y * std::sin(phase);
        c += y * std::cos(phase);
        ss += std::sin(phase) * std::sin(phase);
        cc += std::cos(phase) * std::cos(phase);
    }
    return 20.0 * std::log10(std::hypot(s / ss, c / cc));
}

} // namespace snt::test
