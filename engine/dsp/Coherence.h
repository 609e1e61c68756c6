#pragma once

#include "engine/dsp/BinRecord.h"
#include "engine/dsp/Complex.h"
#include "engine/dsp/Container.h"

#include <QtGlobal>
#include <span>

class FourierTransform;

// Magnitude coherence of measurement and reference per bin over the last `depth` analysis
// ticks: |Σ conj(R)·D| / sqrt(Σ|D|² · Σ|R|²).
//
// The sums are formed afresh from the rings on every tick, in double: a running sum kept by
// adding and subtracting would carry the rounding residue of loud past ticks and read a stale
// (or above 1) coherence long after the level drops.
class Coherence
{
public:
    // Stores the depth and resizes every ring to it, zero-filled.
    void setDepth(quint64 depth);
    // Sizes the rings for `bins` bins and zeroes them.
    void setSize(quint32 bins);
    // One tick: stores the newest spectra and writes the coherence of each bin into its record.
    void process(std::span<BinRecord> records, const FourierTransform &transform);

    // A bin's powers and cross power summed over a band of finer bins, in place of one bin of
    // each spectrum.
    struct BandSums
    {
        float reference = 0.0f; // Σ |R|²
        float data = 0.0f; // Σ |D|²
        Complex cross; // Σ conj(R)·D
    };
    // One tick from band sums, `sums(i)` giving bin i's.
    template<typename Sums>
    void process(std::span<BinRecord> records, Sums sums)
    {
        advance();
        const auto bins = quint32(std::min<std::size_t>(bins_, records.size()));
        for (quint32 i = 0; i < bins; ++i)
            records[i].coherence = store(i, sums(i));
    }

    quint64 depth() const { return depth_; }
    quint32 size() const { return bins_; }

private:
    void resizeRings();
    void advance();
    // Stores bin i's newest entry and answers its coherence over the ring.
    float store(quint32 i, const BandSums &entry);

    // Ring entry k of bin i is at [i·depth + k].
    Container::array<float> referenceRing_;
    Container::array<float> dataRing_;
    Container::array<Complex> crossRing_;
    quint64 position_ = 0;
    quint64 depth_ = 1;
    quint32 bins_ = 0;
};
