#include "engine/dsp/Meter.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr quint64 defaultLength = 100;
constexpr quint32 defaultRate = 48000;

} // namespace

Meter::Meter(quint32 weightingType, quint32 mode)
    : length_(defaultLength)
    , window_(defaultLength, 0.0)
    , weighting_(weightingType, defaultRate)
    , mode_(mode)
{ }

Meter::Meter(quint64 length)
    : length_(std::max<quint64>(length, 1))
    , window_(length_, 0.0)
    , weighting_(Weighting::Flat, defaultRate)
    , mode_(Fast)
{ }

void Meter::add(double x)
{
    // A non-finite sample would stay in the weighting sections' histories for the rest of the
    // run and silence the meter for good; it counts as silence instead.
    float sample = float(x);
    if (!std::isfinite(sample))
        sample = 0.0f;
    const double y = weighting_.process(sample);
    double v = y * y;
    if (!std::isfinite(v))
        v = 0.0;

    const double old = window_[position_];
    window_[position_] = v;
    if (++position_ >= length_)
        position_ = 0;
    slide(sum_, peak_, old, v);
    if (count_ < length_)
        ++count_;
}

double Meter::level() const
{
    return 10.0 * std::log10(mean());
}

double Meter::mean() const
{
    if (count_ == 0)
        return std::numeric_limits<double>::min();
    return sum_ / count_;
}

double Meter::peakDb() const
{
    return 10.0 * std::log10(peak_);
}

void Meter::reset()
{
    count_ = 0;
    sum_ = 0.0;
    peak_ = 0.0;
    window_.fill(0.0);
    position_ = 0;
}

void Meter::setSampleRate(quint32 rate)
{
    if (mode_ == Fast)
        length_ = std::max<quint64>(quint64(rate * 0.125), 1);
    else if (mode_ == Slow)
        length_ = std::max<quint64>(rate, 1);
    window_.resize(length_);
    weighting_.setSampleRate(rate);
    reset();
}
