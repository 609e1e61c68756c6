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
// The sums run on in double, one entry in and one out per tick, so that a tick reads only this
// tick's row of the rings. A running sum carries the rounding residue of what it once held: a
// loud tick that leaves would leave it behind in a sum of far quieter ones, which would read a
// stale (or above 1) coherence. So a bin's sums are formed afresh from its ring whenever a power
// much larger than what remains leaves them, and every bin's once per `depth` ticks.
class Coherence
{
public:
    // A bin's powers and cross power, from one bin of each spectrum or summed over a band of
    // finer bins.
    struct BandSums
    {
        float reference = 0.0f; // Σ |R|²
        float data = 0.0f; // Σ |D|²
        Complex cross; // Σ conj(R)·D
    };

    // Stores the depth and resizes every ring to it, zero-filled.
    void setDepth(quint64 depth);
    // Sizes the rings for `bins` bins and zeroes them.
    void setSize(quint32 bins);
    // One tick: stores the newest spectra and writes the coherence of each bin into its record.
    void process(std::span<BinRecord> records, const FourierTransform &transform);
    // One tick from band sums, `sums(i)` giving bin i's.
    template<typename Sums>
    void process(std::span<BinRecord> records, Sums sums)
    {
        beginTick();
        const auto bins = quint32(std::min<std::size_t>(bins_, records.size()));
        for (quint32 i = 0; i < bins; ++i)
            records[i].coherence = store(i, sums(i));
    }

    // The same a block of bins at a time, for a caller that passes over the bins anyway:
    // beginTick(), then every bin stored once, in any order.
    void beginTick();
    // Stores bin i's newest entry and answers its coherence over the ring.
    float store(quint32 i, const BandSums &entry);
    // Stores the entries of bins [from, from + count) (as in BandSums, a field at a time) and
    // writes their coherences to `coherence`.
    void store(quint32 from, quint32 count, const float *reference, const float *data,
               const float *crossRe, const float *crossIm, float *coherence);

    quint64 depth() const { return depth_; }
    quint32 size() const { return bins_; }

private:
    void resizeRings();
    // Forms the sums of bins [from, to), at most a block of them, afresh from their rings and
    // writes their coherences to `coherence`.
    void resum(quint32 from, quint32 to, float *coherence);

    // Ring row k holds every bin's entry of one tick: bin i at [k·bins + i].
    Container::array<float> referenceRing_;
    Container::array<float> dataRing_;
    Container::array<float> crossReRing_;
    Container::array<float> crossImRing_;
    Container::array<double> referenceSum_;
    Container::array<double> dataSum_;
    Container::array<double> crossReSum_;
    Container::array<double> crossImSum_;
    quint64 position_ = 0;
    quint64 depth_ = 1;
    quint32 bins_ = 0;
    // The bins [resumFrom_, resumTo_) have their sums formed afresh this tick.
    quint32 resumFrom_ = 0;
    quint32 resumTo_ = 0;
    // Per bin of a block: whether a power left its sums that they cannot spare.
    Container::array<unsigned char> inaccurate_;
};
