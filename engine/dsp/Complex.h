#pragma once

#include <cmath>
#include <limits>

// A single-precision complex value: the element of every spectrum, filter response and EQ
// computation. Eight bytes, stored contiguously in arrays.
struct Complex
{
    float re = 0.0f;
    float im = 0.0f;

    constexpr Complex() = default;
    constexpr Complex(float real)
        : re(real)
    { }
    constexpr Complex(float real, float imag)
        : re(real)
        , im(imag)
    { }

    bool operator!=(const Complex &o) const { return re != o.re || im != o.im; }
    bool operator==(const Complex &o) const { return !(*this != o); }

    Complex operator*(float x) const { return {re * x, im * x}; }
    Complex operator*(const Complex &b) const
    {
        return {re * b.re - im * b.im, re * b.im + im * b.re};
    }
    Complex operator+(const Complex &b) const { return {re + b.re, im + b.im}; }
    Complex operator-(const Complex &b) const { return {re - b.re, im - b.im}; }
    Complex operator/(float x) const { return {re / x, im / x}; }
    // Division in double precision, rounded back to float.
    Complex operator/(const Complex &b) const
    {
        const double d = double(b.re) * b.re + double(b.im) * b.im;
        return {float((double(re) * b.re + double(im) * b.im) / d),
                float((double(im) * b.re - double(re) * b.im) / d)};
    }
    // Compares magnitudes, not values.
    bool operator>(const Complex &b) const { return norm() > b.norm(); }

    Complex &operator*=(float x) { return *this = *this * x; }
    Complex &operator*=(const Complex &b) { return *this = *this * b; }
    Complex &operator+=(const Complex &b) { return *this = *this + b; }
    Complex &operator-=(const Complex &b) { return *this = *this - b; }
    // Subtracts from the real part only.
    Complex &operator-=(float x)
    {
        re -= x;
        return *this;
    }

    float abs() const { return std::sqrt(re * re + im * im); }
    float norm() const { return re * re + im * im; }
    float arg() const { return std::atan2(im, re); }
    Complex conj() const { return {re, -im}; }
    // The value multiplied by e^(i·x).
    Complex rotate(float x) const
    {
        const float c = std::cos(x);
        const float s = std::sin(x);
        return {re * c - im * s, re * s + im * c};
    }

    // The unit phasor e^(i·(arg a − arg b)), without trigonometric calls. Branch-free, so that
    // a loop over many bins runs in vector registers.
    static Complex phaseDifference(const Complex &a, const Complex &b)
    {
        const Complex pa = unitPhasor(a);
        const Complex pb = unitPhasor(b);
        return {pa.im * pb.im + pa.re * pb.re, pa.im * pb.re - pb.im * pa.re};
    }

    // cos and sin of arg(v), as re and im, from the ratio im/re. A value on the imaginary axis
    // has no finite ratio: it points straight up or down. Only (0, 0) has no direction (NaN).
    static Complex unitPhasor(const Complex &v)
    {
        const float t = v.im / v.re;
        const float c = (v.re >= 0.0f ? 1.0f : -1.0f) / std::sqrt(t * t + 1.0f);
        const bool onAxis = v.re == 0.0f;
        const bool origin = onAxis && v.im == 0.0f;
        const float nan = std::numeric_limits<float>::quiet_NaN();
        return {origin   ? nan
                : onAxis ? 0.0f
                         : c,
                origin   ? nan
                : onAxis ? (v.im > 0.0f ? 1.0f : -1.0f)
                         : c * t};
    }
};
