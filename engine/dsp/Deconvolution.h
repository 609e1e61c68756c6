#pragma once

#include "engine/dsp/Container.h"
#include "engine/dsp/FourierTransform.h"

#include <QtGlobal>

// Impulse response of the measurement against the reference, h = IDFT(D/R), and the index of
// its peak. A peak at index i means the measurement lags the reference by i samples; indices
// past N/2 stand for negative lags.
class Deconvolution
{
public:
    explicit Deconvolution(quint32 size);

    void setSize(quint32 size);
    // The window of the forward transform.
    void setWindowType(WindowFunction::Type type);
    void add(float data, float reference);
    // Uses the spectra of `source` when it is given and has been prepared for this size;
    // otherwise transforms its own rings first.
    void calculate(const FourierTransform *source = nullptr);
    // Transforms the block of rings kept elsewhere (see FourierTransform::RingBlock) instead.
    void calculate(const FourierTransform::RingBlock &block);

    // h[i], with a NaN read as 0.
    float impulseAt(quint32 i) const
    {
        const float h = impulse_[i];
        return h != h ? 0.0f : h;
    }
    quint32 peakIndex() const { return peakIndex_; }
    quint32 size() const { return size_; }

private:
    void deconvolve(const FourierTransform &spectra);

    quint32 size_;
    quint32 peakIndex_ = 0;
    float inverseSize_;
    Container::array<float> impulse_;
    Container::array<Complex> ratio_; // D/R of bins 0 … N/2
    FourierTransform forward_;
    FourierTransform inverse_;
};
