#pragma once

#include "engine/dsp/Filter.h"

namespace math {

// One second-order section in direct form I:
//   y[n] = (b0·x[n] + b1·x[n−1] + b2·x[n−2] − a1·y[n−1] − a2·y[n−2]) / a0
// All coefficients and histories start at zero (the section then outputs silence).
class BiQuad : public Filter
{
public:
    float process(float x) override;

    void setCoefficients(float b0, float b1, float b2, float a0, float a1, float a2);
    void clearHistory();

    float a0 = 0.0f, a1 = 0.0f, a2 = 0.0f;
    float b0 = 0.0f, b1 = 0.0f, b2 = 0.0f;

private:
    float x0_ = 0.0f, x1_ = 0.0f, x2_ = 0.0f;
    float y0_ = 0.0f, y1_ = 0.0f, y2_ = 0.0f;
};

} // namespace math
