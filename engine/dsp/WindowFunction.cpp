#include "engine/dsp/WindowFunction.h"

#include <cmath>
#include <numbers>

namespace {

// Σ c_k · cos(k·x) with alternating signs as the coefficients are given.
double cosineSum(double x, std::initializer_list<double> coefficients)
{
    double sum = 0.0;
    int k = 0;
    for (double c : coefficients) {
        sum += c * std::cos(k * x);
        ++k;
    }
    return sum;
}

} // namespace

WindowFunction::WindowFunction(Type type)
    : type_(type)
{ }

float WindowFunction::calculate(float n, quint32 size) const
{
    return calculate(type_, n, size);
}

float WindowFunction::calculate(Type type, float n, quint32 size)
{
    constexpr double twoPi = 2.0 * std::numbers::pi;
    const double x = std::clamp(double(n) * twoPi / double(size), 0.0, twoPi);
    switch (type) {
    case Rectangular:
        return 1.0f;
    case Hann: {
        const double s = std::sin(x / 2.0);
        return float(s * s);
    }
    case Hamming:
        return float(0.54 - 0.46 * std::cos(x));
    case FlatTop:
        return float(cosineSum(x, {1.0, -1.93, 1.29, -0.388, 0.028}));
    case BlackmanHarris:
        return float(cosineSum(x, {0.35875, -0.48829, 0.14128, -0.01168}));
    case HFT223D:
        return float(cosineSum(x, {1.0, -1.98298997309, 1.75556083063, -1.19037717712,
                                   0.56155440797, -0.17296769663, 0.03233247087, -0.00324954578,
                                   0.0001380104, -1.32725e-6}));
    case Exponental: {
        // Falls by 60.83 dB (7 nepers at 8.69 dB each) from the centre to either edge.
        const double centre = std::floor(size / 2.0);
        const double scale = size * 0.5 * 8.69 / 60.83;
        return float(std::exp(-std::abs(double(n) - centre) / scale));
    }
    }
    return 1.0f;
}

void WindowFunction::resize(quint32 size)
{
    if (size == this->size())
        return;
    table_.resize(size);
    rebuild();
}

void WindowFunction::setType(Type type)
{
    type_ = type;
    rebuild();
}

void WindowFunction::rebuild()
{
    const quint32 n = size();
    if (n == 0)
        return;
    float sum = 0.0f;
    for (quint32 i = 0; i < n; ++i) {
        table_[i] = calculate(float(i), n);
        sum += table_[i];
    }
    mean_ = sum / float(n);
    for (quint32 i = 0; i < n; ++i)
        table_[i] /= mean_;
}
