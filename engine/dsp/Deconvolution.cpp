#include "engine/dsp/Deconvolution.h"

#include <cmath>

namespace {

// Bins below this magnitude carry no usable information: a quiet data bin contributes nothing,
// a quiet reference bin is replaced by the float epsilon so that no division by zero occurs.
constexpr float quietBin = 1e-7f;
constexpr float quietBinSquared = quietBin * quietBin;
constexpr float floatEpsilon = 1.1920929e-7f;

} // namespace

Deconvolution::Deconvolution(quint32 size)
    : size_(size)
    , inverseSize_(size ? 1.0f / float(size) : 0.0f)
    , impulse_(size, 0.0f)
    , forward_(size)
    , inverse_(size)
{
    forward_.prepare();
    inverse_.prepare();
}

void Deconvolution::setSize(quint32 size)
{
    size_ = size;
    inverseSize_ = size ? 1.0f / float(size) : 0.0f;
    impulse_.resize(size);
    forward_.setSize(size);
    inverse_.setSize(size);
    forward_.prepare();
    inverse_.prepare();
}

void Deconvolution::setWindowType(WindowFunction::Type type)
{
    forward_.setWindowType(type);
}

void Deconvolution::add(float data, float reference)
{
    forward_.add(data, reference);
}

void Deconvolution::calculate(const FourierTransform *source)
{
    if (!inverse_.isPrepared())
        return;
    if (source && source->size() == size_ && source->isPrepared()) {
        deconvolve(*source);
        return;
    }
    forward_.calculate();
    deconvolve(forward_);
}

void Deconvolution::calculate(const FourierTransform::RingBlock &block)
{
    if (!inverse_.isPrepared())
        return;
    forward_.calculate(block);
    deconvolve(forward_);
}

void Deconvolution::deconvolve(const FourierTransform &spectra)
{
    for (quint32 i = 0; i < size_; ++i) {
        Complex d = spectra.dataBin(i);
        Complex r = spectra.referenceBin(i);
        if (d.norm() < quietBinSquared)
            d = Complex();
        if (r.norm() < quietBinSquared)
            r = Complex(floatEpsilon, 0.0f);
        inverse_.setBins(i, d / r, Complex());
    }
    inverse_.butterflies(true);

    // The peak is the first sample of largest magnitude; a response of zeros keeps the last one.
    float peak = 0.0f;
    for (quint32 i = 0; i < size_; ++i) {
        const float h = inverseSize_ * inverse_.dataBin(i).re;
        impulse_[i] = h;
        if (std::abs(h) > peak) {
            peak = std::abs(h);
            peakIndex_ = i;
        }
    }
}

float Deconvolution::impulseAt(quint32 i) const
{
    const float h = impulse_[i];
    return std::isnan(h) ? 0.0f : h;
}
