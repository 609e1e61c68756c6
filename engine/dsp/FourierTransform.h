#pragma once

#include "engine/dsp/Complex.h"
#include "engine/dsp/Container.h"
#include "engine/dsp/StaggeredArrays.h"
#include "engine/dsp/WindowFunction.h"

#include <QList>
#include <QtGlobal>

// The measurement's dual-channel transform: two rings of N samples (measurement "data" and
// "reference") turned into two spectra of N bins by one windowed transform.
//
// Convention: X[k] = (1/N) · Σ x[n] · e^(+2πi·k·n/N), the block read oldest sample first. For
// real input this is the complex conjugate of the usual DFT divided by N; the phase of every
// per-bin record and the delay finder rely on this sign, so it must not be changed to the
// usual one. Before transforming, the block's sum S (not its mean) is taken from every sample:
// bins 1 … N−1 are unaffected and bin 0 reads S·(1 − N)/N.
//
// The plan (bit reversal, twiddles, window table, spectra) is built once by prepare(); add(),
// calculate() and butterflies() allocate nothing. Sizes must be powers of two of at least 2;
// any other size builds no plan and computes nothing.
class FourierTransform
{
public:
    explicit FourierTransform(quint32 size = 0);

    // A new size empties the rings (they hold zeros again); prepare() must follow.
    void setSize(quint32 size);
    void setSampleRate(quint32 rate) { sampleRate_ = rate; }
    void setWindowType(WindowFunction::Type type);
    void prepare();
    // True when the plan matches the current size, so calculate() and butterflies() compute.
    bool isPrepared() const;

    // Advances the write position (wrapping at N) and stores the pair there.
    void add(float data, float reference);
    // Forward transform of both rings into the two spectra.
    void calculate();
    // The two channels read from rings kept elsewhere: N samples of each from its start index
    // on, oldest first, wrapping at ringSize (a power of two of at least N), so the reference
    // may be read further back than the data. Nothing is copied into the transform's rings.
    struct RingBlock
    {
        const float *data;
        const float *reference;
        quint32 ringSize;
        quint32 dataStart;
        quint32 referenceStart;
    };
    void calculate(const RingBlock &block);
    // The butterfly stages over the data spectrum in its present (bit-reversed) order, e.g.
    // after setBins(). A forward pass scales by 1/N; an inverse pass uses the conjugate twiddles
    // and does not scale.
    void butterflies(bool inverse);

    Complex dataBin(quint32 i) const { return bin(dataSpectrum_, i); }
    Complex referenceBin(quint32 i) const { return bin(referenceSpectrum_, i); }
    // Bins 0 … N/2 of each spectrum, one after the other.
    const Complex *dataBins() const { return dataSpectrum_.data(); }
    const Complex *referenceBins() const { return referenceSpectrum_.data(); }
    // Stores a and b at the bit-reversed position of bin i (to feed butterflies()).
    void setBins(quint32 i, const Complex &a, const Complex &b);
    // The real part of the inverse pass (conjugate kernel, no scaling) over a spectrum whose
    // bins above N/2 are the conjugates of those below, as a real block's are: `bins` holds
    // bins 0 … N/2, `real` receives N values. The same values butterflies(true) gives for the
    // whole spectrum set with setBins(), without going through the stored spectra.
    void inverseOfConjugateSymmetric(const Complex *bins, float *real);
    // N/2 bin frequencies i · sampleRate / N.
    QList<float> frequencyList() const;

    quint32 size() const { return size_; }
    quint32 sampleRate() const { return sampleRate_; }
    quint32 writePosition() const { return writePosition_; }
    const WindowFunction &window() const { return window_; }

private:
    // The own rings take memory only once something is added or transformed from them: an owner
    // that hands in blocks of its own rings needs none.
    void makeRings();
    // After calculate() the spectra hold bins 0 … N/2 only: those above are the conjugates of
    // those below, as for any real block.
    Complex bin(const Container::array<Complex> &spectrum, quint32 i) const
    {
        return upperHalfStored_ || i <= size_ / 2 ? spectrum[i] : spectrum[size_ - i].conj();
    }
    // Writes the conjugates above N/2 into the spectra, before they are changed bin by bin.
    void storeUpperHalf();
    // Copies the window table in the order the gather of calculate() reads it.
    void gatherWindow();
    // The butterfly stages over the work area, from the stage of half-length firstHalf on.
    void runStages(bool inverse, quint32 firstHalf);

    quint32 size_;
    quint32 writePosition_ = 0;
    quint32 sampleRate_ = 1;
    WindowFunction window_;
    // The window table in the order the gather reads it, one run after the other; empty below
    // the gathered sizes.
    Container::array<float> gatheredWindow_;
    Container::array<float> dataRing_;
    Container::array<float> referenceRing_;
    Container::array<quint32> bitReverse_;
    Container::array<Complex> dataSpectrum_;
    Container::array<Complex> referenceSpectrum_;
    // The butterflies' tables, split into real and imaginary parts so the stages vectorise:
    // - the work area, `WorkRe` and `WorkIm`, n entries each;
    // - the stage twiddles, `TwiddleRe` and `TwiddleIm`, n entries each: the stage of
    //   half-length h keeps its h factors e^(+2πi·j/2h) at [h, 2h);
    // - for two stages of half-lengths h and 2h together, `TripleRe` and `TripleIm`, n/2 entries
    //   each: at [h, 2h) the cubes e^(+iπ·3j/2h) of the second one's first h factors.
    // The butterflies walk all six in step at power-of-two distances, so they are staggered.
    enum Table { WorkRe, WorkIm, TwiddleRe, TwiddleIm, TripleRe, TripleIm, TableCount };
    StaggeredArrays<TableCount> tables_;
    quint32 planSize_ = 0;
    bool upperHalfStored_ = true;
};
