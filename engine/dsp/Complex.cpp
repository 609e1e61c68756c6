#include "engine/dsp/Complex.h"

#include <limits>

namespace {

struct UnitPhasor
{
    float c;
    float s;
};

// cos and sin of arg(v) from the ratio im/re. A value on the imaginary axis has no finite ratio:
// it points straight up or down. Only (0, 0) has no direction at all.
UnitPhasor unitPhasor(const Complex &v)
{
    if (v.re == 0.0f) {
        if (v.im == 0.0f) {
            const float nan = std::numeric_limits<float>::quiet_NaN();
            return {nan, nan};
        }
        return {0.0f, v.im > 0.0f ? 1.0f : -1.0f};
    }
    const float t = v.im / v.re;
    const float c = (v.re >= 0.0f ? 1.0f : -1.0f) / std::sqrt(t * t + 1.0f);
    return {c, c * t};
}

} // namespace

Complex Complex::phaseDifference(const Complex &a, const Complex &b)
{
    const UnitPhasor pa = unitPhasor(a);
    const UnitPhasor pb = unitPhasor(b);
    return {pa.s * pb.s + pa.c * pb.c, pa.s * pb.c - pb.s * pa.c};
}
