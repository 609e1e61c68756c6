#include "engine/dsp/Coherence.h"

#include "engine/dsp/FourierTransform.h"
#include "engine/dsp/WideVectors.h"

#include <algorithm>
#include <cmath>

namespace {

// A power leaving a sum that keeps less than this share of it takes the sum's accuracy along.
constexpr double keptShareBeforeResum = 1.0 / 256.0;
// Bins stored at a time by the per-bin form and by the whole-spectrum tick.
constexpr quint32 blockBins = 256;

// A non-finite entry would turn every sum over the ring into NaN for `depth` ticks.
inline float finiteOrZero(float v)
{
    return std::isfinite(v) ? v : 0.0f;
}

// Written without branches, so that a loop over many bins runs in vector registers.
inline float coherenceOf(double reference, double data, double crossRe, double crossIm)
{
    const double x1 = data * reference;
    const double x2 = crossRe * crossRe + crossIm * crossIm;
    const bool defined = (x1 > 0.0) & (x2 > 0.0);
    const double coherence = defined ? std::sqrt(x2) / std::sqrt(x1) : 0.0;
    return float(coherence < 0.0 ? 0.0 : coherence > 1.0 ? 1.0 : coherence);
}

// One entry in and one out of `count` bins' ring slots (this tick's row) and running sums. Every
// array is a parameter of its own, marked restrict, so that the loop vectorises.
WIDE_VECTOR_CLONES void slide(quint32 count, const float *__restrict reference,
                              const float *__restrict data, const float *__restrict crossRe,
                              const float *__restrict crossIm, float *__restrict referenceRow,
                              float *__restrict dataRow, float *__restrict crossReRow,
                              float *__restrict crossImRow, double *__restrict referenceSum,
                              double *__restrict dataSum, double *__restrict crossReSum,
                              double *__restrict crossImSum, float *__restrict coherence,
                              unsigned char *__restrict inaccurate)
{
    for (quint32 k = 0; k < count; ++k) {
        const float r = finiteOrZero(reference[k]);
        const float d = finiteOrZero(data[k]);
        const bool crossFinite = std::isfinite(crossRe[k]) & std::isfinite(crossIm[k]);
        const float cr = crossFinite ? crossRe[k] : 0.0f;
        const float ci = crossFinite ? crossIm[k] : 0.0f;
        const float leavingR = referenceRow[k];
        const float leavingD = dataRow[k];
        referenceSum[k] += double(r) - double(leavingR);
        dataSum[k] += double(d) - double(leavingD);
        crossReSum[k] += double(cr) - double(crossReRow[k]);
        crossImSum[k] += double(ci) - double(crossImRow[k]);
        referenceRow[k] = r;
        dataRow[k] = d;
        crossReRow[k] = cr;
        crossImRow[k] = ci;
        inaccurate[k] = !(referenceSum[k] >= leavingR * keptShareBeforeResum)
                        | !(dataSum[k] >= leavingD * keptShareBeforeResum);
        coherence[k] = coherenceOf(referenceSum[k], dataSum[k], crossReSum[k], crossImSum[k]);
    }
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
    for (auto *ring : {&referenceRing_, &dataRing_, &crossReRing_, &crossImRing_}) {
        ring->resize(entries);
        ring->fill(0.0f);
    }
    for (auto *sums : {&referenceSum_, &dataSum_, &crossReSum_, &crossImSum_}) {
        sums->resize(bins_);
        sums->fill(0.0);
    }
    inaccurate_.resize(blockBins);
    position_ %= depth_;
    resumFrom_ = resumTo_ = 0;
}

void Coherence::beginTick()
{
    if (++position_ >= depth_)
        position_ = 0;
    // The next share of the bins, so that each is summed afresh once per turn of the rings.
    const quint32 share = quint32((bins_ + depth_ - 1) / depth_);
    resumFrom_ = resumTo_ < bins_ ? resumTo_ : 0;
    resumTo_ = std::min(bins_, resumFrom_ + share);
}

void Coherence::process(std::span<BinRecord> records, const FourierTransform &transform)
{
    beginTick();
    const quint32 bins = quint32(std::min<std::size_t>({bins_, records.size(), transform.size()}));
    float reference[blockBins], data[blockBins], crossRe[blockBins], crossIm[blockBins];
    float coherence[blockBins];
    for (quint32 from = 0; from < bins; from += blockBins) {
        const quint32 count = std::min(blockBins, bins - from);
        for (quint32 k = 0; k < count; ++k) {
            const Complex r = transform.referenceBin(from + k);
            const Complex d = transform.dataBin(from + k);
            const Complex cross = r.conj() * d;
            reference[k] = r.norm();
            data[k] = d.norm();
            crossRe[k] = cross.re;
            crossIm[k] = cross.im;
        }
        store(from, count, reference, data, crossRe, crossIm, coherence);
        for (quint32 k = 0; k < count; ++k)
            records[from + k].coherence = coherence[k];
    }
}

float Coherence::store(quint32 i, const BandSums &entry)
{
    float coherence = 0.0f;
    store(i, 1, &entry.reference, &entry.data, &entry.cross.re, &entry.cross.im, &coherence);
    return coherence;
}

void Coherence::store(quint32 from, quint32 count, const float *reference, const float *data,
                      const float *crossRe, const float *crossIm, float *coherence)
{
    for (quint32 done = 0; done < count; done += blockBins) {
        const quint32 first = from + done;
        const quint32 n = std::min(blockBins, count - done);
        const std::size_t row = std::size_t(position_) * bins_ + first;
        slide(n, reference + done, data + done, crossRe + done, crossIm + done,
              referenceRing_.data() + row, dataRing_.data() + row, crossReRing_.data() + row,
              crossImRing_.data() + row, referenceSum_.data() + first, dataSum_.data() + first,
              crossReSum_.data() + first, crossImSum_.data() + first, coherence + done,
              inaccurate_.data());
        // This tick's share of the bins summed afresh, then any other whose sums lost their
        // accuracy.
        const quint32 shareFrom = std::clamp(resumFrom_, first, first + n);
        const quint32 shareTo = std::clamp(resumTo_, first, first + n);
        if (shareFrom < shareTo)
            resum(shareFrom, shareTo, coherence + done + (shareFrom - first));
        for (quint32 k = 0; k < n; ++k) {
            const quint32 i = first + k;
            if (inaccurate_[k] && (i < shareFrom || i >= shareTo))
                resum(i, i + 1, coherence + done + k);
        }
    }
}

// A bin's ring entries lie a whole row apart, all in the same cache sets: summed bin by bin, each
// bin would fetch every line again. So the bins are summed side by side, a row at a time; each
// bin's entries are added in ring order either way, so its sums are the same to the bit.
void Coherence::resum(quint32 from, quint32 to, float *coherence)
{
    const quint32 n = to - from;
    double reference[blockBins], data[blockBins], crossRe[blockBins], crossIm[blockBins];
    for (double *sums : {reference, data, crossRe, crossIm})
        std::fill_n(sums, n, 0.0);
    for (std::size_t row = from; row < referenceRing_.size(); row += bins_) {
        for (quint32 k = 0; k < n; ++k) {
            reference[k] += referenceRing_[row + k];
            data[k] += dataRing_[row + k];
            crossRe[k] += crossReRing_[row + k];
            crossIm[k] += crossImRing_[row + k];
        }
    }
    for (quint32 k = 0; k < n; ++k) {
        referenceSum_[from + k] = reference[k];
        dataSum_[from + k] = data[k];
        crossReSum_[from + k] = crossRe[k];
        crossImSum_[from + k] = crossIm[k];
        coherence[k] = coherenceOf(reference[k], data[k], crossRe[k], crossIm[k]);
    }
}
