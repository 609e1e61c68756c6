#pragma once

#include <cstdint>
#include <vector>

// The meters of every bin (one per bin, unweighted, a window of `length` ticks, see Meter), fed
// in step: each tick adds one value to every meter. The window holds the values themselves, one
// row of every bin's per tick, so a tick reads and writes only its own row; the squares the
// meters sum are formed from them again as they leave, to the bit.
class BinMeters
{
public:
    // Meters for `bins` bins, all empty.
    void resize(uint32_t bins, uint32_t length);
    void reset();
    uint32_t bins() const { return bins_; }

    // Starts a tick: its values go to the next row, and every meter holds one more value.
    void beginTick();
    // This tick's values of bins [from, from + count); a non-finite value counts as silence.
    // Each meter's running peak of the squared values and their mean over the window go to
    // `peak` and `mean`.
    void add(uint32_t from, uint32_t count, const float *values, float *peak, float *mean);

private:
    uint32_t bins_ = 0;
    uint32_t length_ = 1;
    uint32_t row_ = 0; // this tick's
    uint32_t count_ = 0; // values each meter holds
    std::vector<float> window_; // row r, bin i at r · bins + i
    std::vector<double> sums_;
    std::vector<double> peaks_;
};
