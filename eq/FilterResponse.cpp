#include "eq/FilterResponse.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace snt::eq {

namespace {

Complex square(const Complex &s)
{
    return s * s;
}

bool passesNothingAtDc(int type)
{
    return type == ButterworthHighPass || type == LinkwitzRileyHighPass || type == BesselHighPass
           || type == BandPass;
}

float amplitudeOfGain(float gainDb)
{
    return float(std::pow(10.0, double(gainDb) / 40.0));
}

// Coefficient a_i of the reverse Bessel polynomial of order n: (2n-i)! / (2^(n-i) · i! · (n-i)!).
// The products stay integral and far below 2^53 for every order a corner uses, so they are exact.
double besselCoefficient(unsigned int n, unsigned int i)
{
    double value = 1.0;
    for (unsigned int k = n - i + 1; k <= 2 * n - i; ++k)
        value *= k; // (2n-i)! / (n-i)!
    for (unsigned int k = 2; k <= i; ++k)
        value /= k;
    return std::ldexp(value, -int(n - i));
}

// Coefficient c of the k-th quadratic section s² + c·s + 1 of a Butterworth filter of order n.
float butterworthCoefficient(unsigned int n, unsigned int k)
{
    return float(-2.0 * std::cos((n - 1 + 2.0 * k) * std::numbers::pi / (2.0 * n)));
}

// The coefficients of the orders a corner filter uses, worked out once: a display preview
// evaluates its corners at every one of tens of thousands of frequencies.
constexpr unsigned int tabulatedOrders = 16;

float tabulatedButterworthCoefficient(unsigned int n, unsigned int k)
{
    static const auto table = [] {
        std::array<std::array<float, tabulatedOrders / 2 + 1>, tabulatedOrders + 1> t{};
        for (unsigned int order = 1; order <= tabulatedOrders; ++order) {
            for (unsigned int section = 1; section <= order / 2; ++section)
                t[order][section] = butterworthCoefficient(order, section);
        }
        return t;
    }();
    return n <= tabulatedOrders ? table[n][k] : butterworthCoefficient(n, k);
}

ComplexFraction butterworthFraction(bool highPass, unsigned int n, Complex s)
{
    if (n == 0)
        return {Complex(1.0f), Complex(1.0f)};
    Complex numerator(1.0f);
    if (highPass) {
        for (unsigned int k = 0; k < n; ++k)
            numerator *= s;
    }
    Complex denominator = (n % 2 == 1) ? s + Complex(1.0f) : Complex(1.0f);
    const Complex s2 = square(s);
    for (unsigned int k = 1; k <= n / 2; ++k)
        denominator *= s2 + s * tabulatedButterworthCoefficient(n, k) + Complex(1.0f);
    return {numerator, denominator};
}

ComplexFraction besselFraction(bool highPass, unsigned int n, Complex s)
{
    if (highPass)
        s = Complex(1.0f) / s;
    // Horner's scheme from the highest power down; a_n is 1.
    Complex denominator(float(besselCoefficient(n, n)));
    for (unsigned int i = n; i-- > 0;)
        denominator = denominator * s + Complex(float(besselCoefficient(n, i)));
    return {Complex(float(besselCoefficient(n, 0))), denominator};
}

} // namespace

ComplexFraction cornerFraction(int type, Complex s, unsigned int order)
{
    switch (type) {
    case ButterworthHighPass:
    case ButterworthLowPass:
        return butterworthFraction(type == ButterworthHighPass, order, s);
    case LinkwitzRileyHighPass:
    case LinkwitzRileyLowPass: {
        const ComplexFraction b = butterworthFraction(type == LinkwitzRileyHighPass, order / 2, s);
        return {b.numerator * b.numerator, b.denominator * b.denominator};
    }
    case BesselHighPass:
    case BesselLowPass:
        return besselFraction(type == BesselHighPass, order, s);
    default:
        return {Complex(1.0f), Complex(1.0f)};
    }
}

Complex shelfResponse(bool high, Complex s, float q, float gainDb)
{
    const float a = amplitudeOfGain(gainDb);
    const float r = std::sqrt(a);
    const Complex s2 = square(s);
    const Complex middle = s * (r / q);
    if (high)
        return (s2 * a + middle + Complex(1.0f)) * a / (s2 + middle + Complex(a));
    return (s2 + middle + Complex(a)) * a / (s2 * a + middle + Complex(1.0f));
}

Complex prototypeResponse(int type, Complex s, unsigned int order, float q, float gainDb)
{
    const Complex one(1.0f);
    switch (type) {
    case ButterworthHighPass:
    case ButterworthLowPass:
    case LinkwitzRileyHighPass:
    case LinkwitzRileyLowPass:
    case BesselHighPass:
    case BesselLowPass: {
        const ComplexFraction h = cornerFraction(type, s, order);
        return h.numerator / h.denominator;
    }
    case AllPass: {
        const Complex s2 = square(s);
        if (order == 2)
            return (s2 - one) / (s2 + s * 2.0f + one);
        if (order == 4)
            return (s2 - s / q + one) / (s2 + s / q + one);
        return one;
    }
    case BandPass:
        return (s / q) / (square(s) + s / q + one);
    case Peaking: {
        const ComplexFraction h = peakingFraction(s, amplitudeOfGain(gainDb), q);
        return h.numerator / h.denominator;
    }
    case HighShelf:
    case LowShelf:
        return shelfResponse(type == HighShelf, s, q, gainDb);
    case Notch:
        return (square(s) + one) / (square(s) + s / q + one);
    default:
        return one;
    }
}

Complex filterResponse(const FilterSpec &filter, float f)
{
    if (filter.fc <= 0.0f)
        return Complex(1.0f);
    if (f <= 0.0f)
        return Complex(passesNothingAtDc(filter.type) ? 0.0f : 1.0f);
    const Complex h
            = prototypeResponse(filter.type, Complex(0.0f, f / filter.fc),
                                unsigned(std::max(filter.order, 0)), filter.q, filter.gainDb);
    const double angle = (filter.inverted ? std::numbers::pi : 0.0)
                         - 2.0 * std::numbers::pi * double(f) * double(filter.delayMs) / 1000.0;
    if (angle == 0.0)
        return h;
    return h * Complex(float(std::cos(angle)), float(std::sin(angle)));
}

int cornerFilterCode(int side, const QString &kind)
{
    if (kind == QLatin1String("LR"))
        return side + 2;
    if (kind == QLatin1String("BS"))
        return side + 4;
    return side;
}

} // namespace snt::eq
