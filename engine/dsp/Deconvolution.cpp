#include "engine/dsp/Deconvolution.h"

#include "engine/dsp/WideVectors.h"

#include <cmath>

namespace {

// Bins below this magnitude carry no usable information: a quiet data bin contributes nothing,
// a quiet reference bin is replaced by the float epsilon so that no division by zero occurs.
constexpr float quietBin = 1e-7f;
constexpr float quietBinSquared = quietBin * quietBin;
constexpr float floatEpsilon = 1.1920929e-7f;

// D/R of `count` bins, in double precision as Complex divides; quiet bins as described above.
WIDE_VECTOR_CLONES void ratios(const Complex *__restrict data, const Complex *__restrict reference,
                               quint32 count, Complex *__restrict ratio)
{
    for (quint32 k = 0; k < count; ++k) {
        const Complex d = data[k].norm() < quietBinSquared ? Complex() : data[k];
        const Complex r = reference[k].norm() < quietBinSquared ? Complex(floatEpsilon, 0.0f)
                                                                : reference[k];
        ratio[k] = d / r;
    }
}

} // namespace

Deconvolution::Deconvolution(quint32 size)
    : size_(size)
    , inverseSize_(size ? 1.0f / float(size) : 0.0f)
    , impulse_(size, 0.0f)
    , ratio_(size / 2 + 1, Complex())
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
    ratio_.resize(size / 2 + 1);
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
    // Both spectra are of real blocks, so the bins above N/2 mirror those below as conjugates,
    // and so do their ratios.
    ratios(spectra.dataBins(), spectra.referenceBins(), size_ / 2 + 1, ratio_.data());
    inverse_.inverseOfConjugateSymmetric(ratio_.data(), impulse_.data());

    // The peak is the first sample of largest magnitude; a response of zeros keeps the last one.
    float peak = 0.0f;
    for (quint32 i = 0; i < size_; ++i) {
        const float h = inverseSize_ * impulse_[i];
        impulse_[i] = h;
        if (std::abs(h) > peak) {
            peak = std::abs(h);
            peakIndex_ = i;
        }
    }
}
