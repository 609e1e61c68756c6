#pragma once

#include "engine/dsp/Complex.h"

// One sample of the measurement's published impulse response; the value's imaginary part
// stays 0.
struct ImpulsePoint
{
    float timeMs = 0.0f;
    Complex value;
};
