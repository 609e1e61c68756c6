#pragma once

#include "engine/dsp/Complex.h"

#include <QString>

// Complex responses of the analog filter prototypes used by the EQ engine and the curve previews.
// Every filter is evaluated on the imaginary axis at the normalised frequency f/fc; there is no
// bilinear transform, so the curves show the ideal analog shapes the processors approximate.
namespace snt::eq {

// Filter codes. The pairs 0..5 are high-pass (even) and low-pass (odd) of one family.
enum FilterType : int {
    ButterworthHighPass = 0,
    ButterworthLowPass = 1,
    LinkwitzRileyHighPass = 2,
    LinkwitzRileyLowPass = 3,
    BesselHighPass = 4,
    BesselLowPass = 5,
    AllPass = 6,
    BandPass = 7,
    Peaking = 8,
    HighShelf = 9,
    LowShelf = 10,
    Notch = 11,
};

// A response as its numerator and denominator polynomials, so that a caller cascading many
// filters can multiply them out and divide once.
struct ComplexFraction
{
    Complex numerator;
    Complex denominator;
};

// The peaking prototype (s² + s·A/q + 1) / (s² + s/(A·q) + 1), given its amplitude term
// A = 10^(gain/40) (the band's, computed once).
inline ComplexFraction peakingFraction(Complex s, float amplitude, float q)
{
    const Complex s2 = s * s;
    return {s2 + s * (amplitude / q) + Complex(1.0f), s2 + s / (amplitude * q) + Complex(1.0f)};
}

// One filter as a response is asked of it: its code and corner, the order of a corner filter, the
// q and gain of the others, and what the signal path adds (polarity and a pure delay).
struct FilterSpec
{
    int type = Peaking;
    float fc = 0.0f; // Hz
    int order = 0;
    float q = 0.0f;
    float gainDb = 0.0f;
    bool inverted = false;
    float delayMs = 0.0f;
};

// Response of one filter at f Hz.
Complex filterResponse(const FilterSpec &filter, float f);

// The normalised prototype at the complex frequency s (callers pass s = j·f/fc).
Complex prototypeResponse(int type, Complex s, unsigned int order, float q, float gainDb);

// A corner filter's prototype (the Butterworth, Linkwitz-Riley and Bessel codes 0 to 5) at s as a
// fraction, for callers cascading it with other filters before one division; s must not be 0.
// Bessel filters are normalised for unit group delay at DC (not for -3 dB at the corner).
ComplexFraction cornerFraction(int type, Complex s, unsigned int order);
Complex shelfResponse(bool high, Complex s, float q, float gainDb);

// Code of a corner filter: side 0 (high-pass) or 1 (low-pass), plus 2 for the kind "LR" and 4 for
// "BS"; every other kind text (exact, case-sensitive) is Butterworth.
int cornerFilterCode(int side, const QString &kind);

} // namespace snt::eq
