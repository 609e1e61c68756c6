#include "engine/dsp/BiQuad.h"

namespace math {

float BiQuad::process(float x)
{
    x2_ = x1_;
    x1_ = x0_;
    y2_ = y1_;
    y1_ = y0_;
    x0_ = x;
    y0_ = (b0 * x0_ + b1 * x1_ + b2 * x2_ - (a1 * y1_ + a2 * y2_)) / a0;
    return y0_;
}

void BiQuad::setCoefficients(float nb0, float nb1, float nb2, float na0, float na1, float na2)
{
    b0 = nb0;
    b1 = nb1;
    b2 = nb2;
    a0 = na0;
    a1 = na1;
    a2 = na2;
}

void BiQuad::clearHistory()
{
    x0_ = x1_ = x2_ = 0.0f;
    y0_ = y1_ = y2_ = 0.0f;
}

} // namespace math
