#include "startup/SixDigitNumber.h"

#include <QString>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace snt::startup {

namespace {

constexpr int significantDigits = 6;
constexpr int lowestSixDigits = 100000;
constexpr int pastSixDigits = 1000000;
// Every power of ten up to this one is a double exactly, so scaling by it rounds only once.
constexpr int largestExactPower = 22;

constexpr std::array<double, largestExactPower + 1> powersOfTen = [] {
    std::array<double, largestExactPower + 1> powers{};
    double power = 1.0;
    for (double &p : powers) {
        p = power;
        power *= 10.0;
    }
    return powers;
}();

// The decimal digits of a number: the six significant ones and the exponent of the first.
struct Digits
{
    int value = 0; // 100000 to 999999
    int exponent = 0;
};

// |value| · 10^(5 − exponent), rounded once.
double scaled(double magnitude, int exponent)
{
    const int shift = significantDigits - 1 - exponent;
    return shift >= 0 ? magnitude * powersOfTen[size_t(shift)]
                      : magnitude / powersOfTen[size_t(-shift)];
}

// The six digits a correct rounding gives, worked out in double arithmetic; false for the
// numbers that need exact digits: those that scale onto a point halfway between two six-digit
// numbers (exactly halfway, writers also differ in the way they round) and those too large or
// small to scale by an exact power of ten.
bool roundedDigits(double magnitude, Digits &digits)
{
    // Within rounding of a power of ten the logarithm may fall on either side of it; the digits
    // then round to that power, 100000 or 1000000, which the carry below brings to one form.
    const int exponent = int(std::floor(std::log10(magnitude)));
    if (std::abs(significantDigits - 1 - exponent) > largestExactPower)
        return false;
    const double x = scaled(magnitude, exponent);
    // Scaling rounds to the nearest double, and every point halfway between two six-digit
    // numbers (a whole number and a half, below 10^6) is a double: rounding never carries the
    // scaled value across one, only onto it. There the exact digits decide.
    const double whole = std::floor(x);
    const double fraction = x - whole;
    if (fraction == 0.5)
        return false;
    digits.value = int(whole) + (fraction > 0.5 ? 1 : 0);
    digits.exponent = exponent;
    if (digits.value == pastSixDigits) { // 999999.7 rounds up to the next power of ten
        digits.value = lowestSixDigits;
        ++digits.exponent;
    }
    return true;
}

// "%g": fixed notation for exponents from -4 to 5, else scientific with at least two exponent
// digits; trailing zeros of the fraction go, and the point with them.
void appendDigits(QByteArray &out, bool negative, const Digits &digits)
{
    std::array<char, significantDigits> d{};
    std::to_chars(d.data(), d.data() + d.size(), digits.value);
    int used = significantDigits;
    while (used > 1 && d[size_t(used - 1)] == '0')
        --used;
    std::array<char, 32> text{};
    char *p = text.data();
    if (negative)
        *p++ = '-';
    const int e = digits.exponent;
    if (e >= -4 && e < significantDigits) {
        if (e < 0) {
            *p++ = '0';
            *p++ = '.';
            p = std::fill_n(p, -e - 1, '0');
            p = std::copy_n(d.data(), used, p);
        } else {
            p = std::copy_n(d.data(), e + 1, p);
            if (used > e + 1) {
                *p++ = '.';
                p = std::copy(d.data() + e + 1, d.data() + used, p);
            }
        }
    } else {
        *p++ = d[0];
        if (used > 1) {
            *p++ = '.';
            p = std::copy(d.data() + 1, d.data() + used, p);
        }
        *p++ = 'e';
        *p++ = e < 0 ? '-' : '+';
        if (std::abs(e) < 10)
            *p++ = '0';
        p = std::to_chars(p, text.data() + text.size(), std::abs(e)).ptr;
    }
    out.append(text.data(), p - text.data());
}

} // namespace

void appendSixDigitNumber(QByteArray &out, double value)
{
    Digits digits;
    if (value != 0.0 && std::isfinite(value) && roundedDigits(std::abs(value), digits)) {
        appendDigits(out, value < 0.0, digits);
        return;
    }
    out += QString::number(value, 'g', significantDigits).toLatin1();
}

} // namespace snt::startup
