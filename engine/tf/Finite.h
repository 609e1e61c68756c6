#pragma once

#include "engine/dsp/Complex.h"

#include <cmath>

// Non-finite values (NaN, ±∞) would stay in running sums and filter histories for good; where
// samples and per-bin values enter, they count as silence instead.
inline float finiteOrZero(float x)
{
    return std::isfinite(x) ? x : 0.0f;
}

inline Complex finiteOrZero(const Complex &c)
{
    return std::isfinite(c.re) && std::isfinite(c.im) ? c : Complex();
}
