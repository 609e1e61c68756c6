#pragma once

#include "engine/dsp/BesselBank.h"
#include "engine/dsp/Complex.h"

namespace Filter {

// Fifth-order low-pass that smooths one value from analysis tick to analysis tick. Three
// presets set the corner at 0.02, 0.04 or 0.08 of the tick rate (preset 0 smooths most). A NaN
// input leaves the filter untouched and repeats its last output, so one bad tick does not poison
// the history. A measurement runs one per bin, in a BesselBank; this is one such filter alone.
template<typename T>
class BesselLPF
{
public:
    BesselLPF();

    T process(const T &x);
    // Presets 0 … 2 set gain and coefficients; any value clears both histories.
    void setPreset(int preset) { bank_.setPreset(preset); }
    void clear() { bank_.clear(); }

private:
    BesselBank bank_;
};

extern template class BesselLPF<float>;
extern template class BesselLPF<Complex>;

} // namespace Filter
