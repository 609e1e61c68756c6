#include "engine/dsp/Coherence.h"

#include "engine/dsp/FourierTransform.h"

#include <algorithm>
#include <cmath>

namespace {

float finiteOrZero(float v)
{
    return std::isfinite(v) ? v : 0.0f;
}

Complex finiteOrZero(const Complex &v)
{
    return std::isfinite(v.re) && std::isfinite(v.im) ? v : Complex();
}

} // namespace

void Coherence::setDepth(quint64 depth)
{
    depth_ = std::max<quint64>(depth, 1);
    resizeRings();
}

void Coherence::setSize(quint32 bins)
{
    bins_ = bins;
    resizeRings();
}

void Coherence::resizeRings()
{
    const std::size_t entries = std::size_t(bins_) * depth_;
    referenceRing_.resize(entries);
    dataRing_.resize(entries);
    crossRing_.resize(entries);
    referenceRing_.fill(0.0f);
    dataRing_.fill(0.0f);
    crossRing_.fill(Complex());
    position_ %= depth_;
}

void Coherence::advance()
{
    if (++position_ >= depth_)
        position_ = 0;
}

void Coherence::process(std::span<BinRecord> records, const FourierTransform &transform)
{
    advance();
    const quint32 bins = quint32(std::min<std::size_t>({bins_, records.size(), transform.size()}));
    for (quint32 i = 0; i < bins; ++i) {
        const Complex r = transform.referenceBin(i);
        const Complex d = transform.dataBin(i);
        records[i].coherence = store(i, {r.norm(), d.norm(), r.conj() * d});
    }
}

float Coherence::store(quint32 i, const BandSums &entry)
{
    const std::size_t row = std::size_t(i) * depth_;
    // A non-finite entry would turn every sum over the ring into NaN for `depth` ticks.
    referenceRing_[row + position_] = finiteOrZero(entry.reference);
    dataRing_[row + position_] = finiteOrZero(entry.data);
    crossRing_[row + position_] = finiteOrZero(entry.cross);

    double referenceSum = 0.0, dataSum = 0.0, crossRe = 0.0, crossIm = 0.0;
    for (quint64 k = 0; k < depth_; ++k) {
        referenceSum += referenceRing_[row + k];
        dataSum += dataRing_[row + k];
        crossRe += crossRing_[row + k].re;
        crossIm += crossRing_[row + k].im;
    }
    const double x1 = dataSum * referenceSum;
    const double x2 = crossRe * crossRe + crossIm * crossIm;
    const double coherence = x1 > 0.0 && x2 > 0.0 ? std::sqrt(x2) / std::sqrt(x1) : 0.0;
    return float(std::clamp(coherence, 0.0, 1.0));
}
