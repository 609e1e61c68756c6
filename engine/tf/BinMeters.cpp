#include "engine/tf/BinMeters.h"

#include "engine/dsp/Meter.h"
#include "engine/dsp/WideVectors.h"

#include <algorithm>
#include <cmath>

namespace {

WIDE_VECTOR_CLONES void slideBlock(uint32_t count, const float *__restrict values,
                                   float *__restrict window, double *__restrict sums,
                                   double *__restrict peaks, double held, float *__restrict peak,
                                   float *__restrict mean)
{
    for (uint32_t k = 0; k < count; ++k) {
        const float sample = std::isfinite(values[k]) ? values[k] : 0.0f;
        const double leaving = double(window[k]) * double(window[k]);
        window[k] = sample;
        Meter::slide(sums[k], peaks[k], leaving, double(sample) * double(sample));
        peak[k] = float(peaks[k]);
        mean[k] = float(sums[k] / held);
    }
}

} // namespace

void BinMeters::resize(uint32_t bins, uint32_t length)
{
    bins_ = bins;
    length_ = std::max<uint32_t>(length, 1);
    window_.assign(std::size_t(bins_) * length_, 0.0f);
    sums_.assign(bins_, 0.0);
    peaks_.assign(bins_, 0.0);
    row_ = length_ - 1;
    count_ = 0;
}

void BinMeters::reset()
{
    std::fill(window_.begin(), window_.end(), 0.0f);
    std::fill(sums_.begin(), sums_.end(), 0.0);
    std::fill(peaks_.begin(), peaks_.end(), 0.0);
    row_ = length_ - 1;
    count_ = 0;
}

void BinMeters::add(uint32_t from, uint32_t count, const float *values, float *peak, float *mean)
{
    slideBlock(count, values, window_.data() + std::size_t(row_) * bins_ + from,
               sums_.data() + from, peaks_.data() + from, double(count_), peak, mean);
}

void BinMeters::beginTick()
{
    if (++row_ >= length_)
        row_ = 0;
    count_ = std::min(count_ + 1, length_);
}
