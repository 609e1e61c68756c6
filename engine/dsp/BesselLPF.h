#pragma once

#include "engine/dsp/Complex.h"

#include <QtGlobal>
#include <array>

namespace Filter {

// Fifth-order low-pass that smooths one bin's value from analysis tick to analysis tick.
// Three presets set the corner at 0.02, 0.04 or 0.08 of the tick rate (preset 0 smooths most).
// A NaN input leaves the filter untouched and repeats its last output, so one bad tick does not
// poison the history.
template<typename T>
class BesselLPF
{
public:
    BesselLPF() { setPreset(0); }

    T process(const T &x);
    // Presets 0 … 2 set gain and coefficients; any value clears both histories.
    void setPreset(int preset);
    void clear();

private:
    quint32 index_ = 3;
    std::array<T, 6> input_{};
    std::array<T, 6> output_{};
    float gain_ = 1.0f;
    std::array<float, 5> c_{};
};

extern template class BesselLPF<float>;
extern template class BesselLPF<Complex>;

} // namespace Filter
