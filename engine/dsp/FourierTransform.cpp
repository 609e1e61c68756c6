#include "engine/dsp/FourierTransform.h"

#include "engine/dsp/WideVectors.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace {

bool isUsableSize(quint32 n)
{
    return n >= 2 && (n & (n - 1)) == 0;
}

// The first two stages of a group of four: their twiddles are 1 and ±i.
template<bool Inverse>
WIDE_VECTOR_INLINE inline void firstTwoStages(float *__restrict re, float *__restrict im, quint32 n)
{
    for (quint32 g = 0; g < n; g += 4) {
        const float a0r = re[g] + re[g + 1], a0i = im[g] + im[g + 1];
        const float a1r = re[g] - re[g + 1], a1i = im[g] - im[g + 1];
        const float a2r = re[g + 2] + re[g + 3], a2i = im[g + 2] + im[g + 3];
        const float a3r = re[g + 2] - re[g + 3], a3i = im[g + 2] - im[g + 3];
        // a3 · i forward, a3 · (−i) inverse.
        const float tr = Inverse ? a3i : -a3i;
        const float ti = Inverse ? -a3r : a3r;
        re[g] = a0r + a2r;
        im[g] = a0i + a2i;
        re[g + 2] = a0r - a2r;
        im[g + 2] = a0i - a2i;
        re[g + 1] = a1r + tr;
        im[g + 1] = a1i + ti;
        re[g + 3] = a1r - tr;
        im[g + 3] = a1i - ti;
    }
}

// One butterfly column: (l, h) ← (l + w·h, l − w·h) over `count` contiguous entries.
template<bool Inverse>
WIDE_VECTOR_INLINE inline void
butterflyRun(float *__restrict lr, float *__restrict li, float *__restrict hr, float *__restrict hi,
             const float *__restrict wr, const float *__restrict wi, std::size_t count)
{
    for (std::size_t j = 0; j < count; ++j) {
        const float twr = wr[j];
        const float twi = Inverse ? -wi[j] : wi[j];
        const float tr = hr[j] * twr - hi[j] * twi;
        const float ti = hr[j] * twi + hi[j] * twr;
        const float ur = lr[j], ui = li[j];
        lr[j] = ur + tr;
        li[j] = ui + ti;
        hr[j] = ur - tr;
        hi[j] = ui - ti;
    }
}

// The factors of the butterfly stages, split into real and imaginary parts: `re`/`im` hold those
// of the stage of half-length h, e^(+iπ·j/h), at [h, 2h); `tripleRe`/`tripleIm` hold at [h, 2h)
// the cubes of the next stage's first h factors, e^(+iπ·3j/2h), for the two stages together.
struct Twiddles
{
    const float *re;
    const float *im;
    const float *tripleRe;
    const float *tripleIm;
};

// Stages of half-length h and 2h together over the four quarters of a group of 4h entries,
// each entry read and written once. With w = e^(+iπ·j/2h) (its conjugate inverse) and the
// quarters' entries a0 … a3, the two stages give
//   a0 + b1 ± (b2 + b3) and a0 − b1 ± i·(b2 − b3),  with b1 = w²·a1, b2 = w·a2, b3 = w³·a3,
// three products where the stages one by one take four. Every pointer is a parameter of its
// own, marked restrict, so that the loop vectorises without run-time alias checks.
template<bool Inverse>
WIDE_VECTOR_INLINE inline void
radix4Run(float *__restrict r0, float *__restrict i0, float *__restrict r1, float *__restrict i1,
          float *__restrict r2, float *__restrict i2, float *__restrict r3, float *__restrict i3,
          const float *__restrict w1r, const float *__restrict w1i, const float *__restrict w2r,
          const float *__restrict w2i, const float *__restrict w3r, const float *__restrict w3i,
          std::size_t h)
{
    const float sign = Inverse ? -1.0f : 1.0f;
    for (std::size_t j = 0; j < h; ++j) {
        // w² (the first stage's factor), w and w³.
        const float ar = w1r[j], ai = sign * w1i[j];
        const float br = w2r[j], bi = sign * w2i[j];
        const float cr = w3r[j], ci = sign * w3i[j];
        const float b1r = r1[j] * ar - i1[j] * ai, b1i = r1[j] * ai + i1[j] * ar;
        const float b2r = r2[j] * br - i2[j] * bi, b2i = r2[j] * bi + i2[j] * br;
        const float b3r = r3[j] * cr - i3[j] * ci, b3i = r3[j] * ci + i3[j] * cr;
        const float sr = r0[j] + b1r, si = i0[j] + b1i;
        const float dr = r0[j] - b1r, di = i0[j] - b1i;
        const float pr = b2r + b3r, pi = b2i + b3i;
        // i·(b2 − b3) forward, −i·(b2 − b3) inverse.
        const float qr = sign * (b3i - b2i), qi = sign * (b2r - b3r);
        r0[j] = sr + pr;
        i0[j] = si + pi;
        r2[j] = sr - pr;
        i2[j] = si - pi;
        r1[j] = dr + qr;
        i1[j] = di + qi;
        r3[j] = dr - qr;
        i3[j] = di - qi;
    }
}

template<bool Inverse>
WIDE_VECTOR_INLINE inline void stagePair(float *re, float *im, const Twiddles &twiddles,
                                         std::size_t h)
{
    radix4Run<Inverse>(re, im, re + h, im + h, re + 2 * h, im + 2 * h, re + 3 * h, im + 3 * h,
                       twiddles.re + h, twiddles.im + h, twiddles.re + 2 * h, twiddles.im + 2 * h,
                       twiddles.tripleRe + h, twiddles.tripleIm + h, h);
}

// Entries per block of the early butterfly stages: 32 KiB of work area, the first-level cache.
constexpr quint32 cacheBlock = 4096;
// From this size on the first three stages run as eight-point transforms while the input is
// gathered (eight runs of eight lanes, two or four bases at a time).
constexpr quint32 gatheredSize = 128;

// Decimation-in-time stages over a work area that holds its input in bit-reversed order,
// starting at the stage of half-length `firstHalf` (1, or 8 when the gather below has run the
// first three). The forward kernel is e^(+2πi·k·n/N); the inverse one is its conjugate. No
// scaling here. Where the compiler can, it also builds a copy for processors with 256-bit
// vectors and picks one at load time; the results agree to float rounding.
template<bool Inverse>
WIDE_VECTOR_CLONES void butterflyStages(float *re, float *im, const Twiddles &twiddles, quint32 n,
                                        quint32 firstHalf)
{
    if (n < 4) {
        butterflyRun<Inverse>(re, im, re + 1, im + 1, twiddles.re + 1, twiddles.im + 1, 1);
        return;
    }
    // The early stages only mix entries within blocks of 2h: run all of them block by block
    // while a block fits the first-level cache, then the later stages over the whole area.
    const quint32 block = std::min(n, cacheBlock);
    quint32 blockEnd = firstHalf == 1 ? 4 : firstHalf;
    while (4 * blockEnd <= block)
        blockEnd *= 4;
    for (quint32 start = 0; start < n; start += block) {
        quint32 h = firstHalf;
        if (h == 1) {
            firstTwoStages<Inverse>(re + start, im + start, block);
            h = 4;
        }
        for (; h < blockEnd; h *= 4)
            for (quint32 g = start; g < start + block; g += 4 * h)
                stagePair<Inverse>(re + g, im + g, twiddles, h);
    }
    // Two stages per pass while two remain, so the data crosses the cache half as often.
    quint32 h = blockEnd;
    for (; 4 * h <= n; h *= 4)
        for (quint32 g = 0; g < n; g += 4 * h)
            stagePair<Inverse>(re + g, im + g, twiddles, h);
    if (2 * h == n)
        butterflyRun<Inverse>(re, im, re + h, im + h, twiddles.re + h, twiddles.im + h, h);
}

// Eight floats in one vector register (two halves of one on processors without 256-bit
// vectors). They are passed by reference only: by value they would cross the baseline calling
// convention.
using Vec8 = float __attribute__((vector_size(32)));

inline void load8(Vec8 &v, const float *p)
{
    std::memcpy(&v, p, sizeof v);
}

inline void store8(float *p, const Vec8 &v)
{
    std::memcpy(p, &v, sizeof v);
}

// Eight floats of a ring from `position` on, wrapping at its end.
inline void load8(Vec8 &v, const float *ring, quint32 position, quint32 ringSize)
{
    if (position + 8 <= ringSize) {
        load8(v, ring + position);
        return;
    }
    float run[8];
    for (quint32 c = 0; c < 8; ++c)
        run[c] = ring[(position + c) & (ringSize - 1)];
    load8(v, run);
}

// Rows become columns: r[i][j] ← r[j][i].
inline void transpose8(Vec8 r[8])
{
    const Vec8 t0 = __builtin_shufflevector(r[0], r[1], 0, 8, 1, 9, 4, 12, 5, 13);
    const Vec8 t1 = __builtin_shufflevector(r[0], r[1], 2, 10, 3, 11, 6, 14, 7, 15);
    const Vec8 t2 = __builtin_shufflevector(r[2], r[3], 0, 8, 1, 9, 4, 12, 5, 13);
    const Vec8 t3 = __builtin_shufflevector(r[2], r[3], 2, 10, 3, 11, 6, 14, 7, 15);
    const Vec8 t4 = __builtin_shufflevector(r[4], r[5], 0, 8, 1, 9, 4, 12, 5, 13);
    const Vec8 t5 = __builtin_shufflevector(r[4], r[5], 2, 10, 3, 11, 6, 14, 7, 15);
    const Vec8 t6 = __builtin_shufflevector(r[6], r[7], 0, 8, 1, 9, 4, 12, 5, 13);
    const Vec8 t7 = __builtin_shufflevector(r[6], r[7], 2, 10, 3, 11, 6, 14, 7, 15);
    const Vec8 u0 = __builtin_shufflevector(t0, t2, 0, 1, 8, 9, 4, 5, 12, 13);
    const Vec8 u1 = __builtin_shufflevector(t0, t2, 2, 3, 10, 11, 6, 7, 14, 15);
    const Vec8 u2 = __builtin_shufflevector(t1, t3, 0, 1, 8, 9, 4, 5, 12, 13);
    const Vec8 u3 = __builtin_shufflevector(t1, t3, 2, 3, 10, 11, 6, 7, 14, 15);
    const Vec8 u4 = __builtin_shufflevector(t4, t6, 0, 1, 8, 9, 4, 5, 12, 13);
    const Vec8 u5 = __builtin_shufflevector(t4, t6, 2, 3, 10, 11, 6, 7, 14, 15);
    const Vec8 u6 = __builtin_shufflevector(t5, t7, 0, 1, 8, 9, 4, 5, 12, 13);
    const Vec8 u7 = __builtin_shufflevector(t5, t7, 2, 3, 10, 11, 6, 7, 14, 15);
    r[0] = __builtin_shufflevector(u0, u4, 0, 1, 2, 3, 8, 9, 10, 11);
    r[1] = __builtin_shufflevector(u1, u5, 0, 1, 2, 3, 8, 9, 10, 11);
    r[2] = __builtin_shufflevector(u2, u6, 0, 1, 2, 3, 8, 9, 10, 11);
    r[3] = __builtin_shufflevector(u3, u7, 0, 1, 2, 3, 8, 9, 10, 11);
    r[4] = __builtin_shufflevector(u0, u4, 4, 5, 6, 7, 12, 13, 14, 15);
    r[5] = __builtin_shufflevector(u1, u5, 4, 5, 6, 7, 12, 13, 14, 15);
    r[6] = __builtin_shufflevector(u2, u6, 4, 5, 6, 7, 12, 13, 14, 15);
    r[7] = __builtin_shufflevector(u3, u7, 4, 5, 6, 7, 12, 13, 14, 15);
}

// Eight-point transforms, one per lane: x[s] → X[k] = Σ x[s]·w^(k·s) with w = e^(+2πi/8)
// forward and its conjugate inverse, in place. As the first three decimation-in-time stages
// compute them: two-point sums, then i, then the eighth roots.
template<bool Inverse>
inline void eightPoint(Vec8 re[8], Vec8 im[8])
{
    constexpr float root = 0.707106781186547524f; // cos π/4 = sin π/4
    const auto timesI = [](Vec8 &r, Vec8 &i) { // by i forward, by −i inverse
        const Vec8 t = r;
        r = Inverse ? i : -i;
        i = Inverse ? -t : t;
    };
    // Stage 1: pairs s, s + 4.
    Vec8 ar[8], ai[8];
#pragma GCC unroll 8
    for (int s = 0; s < 4; ++s) {
        ar[2 * s] = re[s] + re[s + 4];
        ai[2 * s] = im[s] + im[s + 4];
        ar[2 * s + 1] = re[s] - re[s + 4];
        ai[2 * s + 1] = im[s] - im[s + 4];
    }
    // ar[0..1]: s = 0, 4; ar[2..3]: s = 1, 5; ar[4..5]: s = 2, 6; ar[6..7]: s = 3, 7.
    // Stage 2: the four-point transforms of the even and of the odd samples.
    Vec8 er[4], ei[4], orr[4], oi[4];
#pragma GCC unroll 8
    for (int half = 0; half < 2; ++half) {
        Vec8 *pr = half == 0 ? er : orr;
        Vec8 *pi = half == 0 ? ei : oi;
        const int a = half; // pairs (0, 4)+(2, 6) for even samples, (1, 5)+(3, 7) for odd
        Vec8 dr = ar[2 * (a + 2) + 1], di = ai[2 * (a + 2) + 1];
        timesI(dr, di);
        pr[0] = ar[2 * a] + ar[2 * (a + 2)];
        pi[0] = ai[2 * a] + ai[2 * (a + 2)];
        pr[2] = ar[2 * a] - ar[2 * (a + 2)];
        pi[2] = ai[2 * a] - ai[2 * (a + 2)];
        pr[1] = ar[2 * a + 1] + dr;
        pi[1] = ai[2 * a + 1] + di;
        pr[3] = ar[2 * a + 1] - dr;
        pi[3] = ai[2 * a + 1] - di;
    }
    // Stage 3: X[k] = E[k] + w^k·O[k], X[k + 4] = E[k] − w^k·O[k].
    const float sign = Inverse ? -1.0f : 1.0f;
    Vec8 wr[4], wi[4];
    wr[0] = orr[0];
    wi[0] = oi[0];
    wr[1] = root * (orr[1] - sign * oi[1]);
    wi[1] = root * (oi[1] + sign * orr[1]);
    wr[2] = orr[2];
    wi[2] = oi[2];
    timesI(wr[2], wi[2]);
    wr[3] = root * (-orr[3] - sign * oi[3]);
    wi[3] = root * (-oi[3] + sign * orr[3]);
#pragma GCC unroll 8
    for (int k = 0; k < 4; ++k) {
        re[k] = er[k] + wr[k];
        im[k] = ei[k] + wi[k];
        re[k + 4] = er[k] - wr[k];
        im[k + 4] = ei[k] - wi[k];
    }
}

// Counts 0, 1, 2, … with the bits of each count turned round, over log2(count) bits.
class BitReversedCounter
{
public:
    explicit BitReversedCounter(quint32 count)
        : top_(count / 2)
    { }
    quint32 value() const { return value_; }
    void next()
    {
        quint32 bit = top_;
        while (value_ & bit) {
            value_ ^= bit;
            bit >>= 1;
        }
        value_ |= bit;
    }

private:
    quint32 top_;
    quint32 value_ = 0;
};

// Eight runs of eight lanes, as the eight-point transforms leave them.
struct Runs
{
    Vec8 re[8];
    Vec8 im[8];
};

// Two sets of runs into the work area. Lane j of the runs from base b (a multiple of 8) belongs
// to the group of eight entries at rev(b) + rev3(j)·N/8; the second set's bases lie N/16 after
// the first's, so its groups follow the first's at once: each of the sixteen cache-line-sized
// stretches (eight entries of each set) is written whole at once.
WIDE_VECTOR_INLINE inline void storeNeighbouringGroups(Runs &first, Runs &second, float *workRe,
                                                       float *workIm, quint32 start, quint32 eighth)
{
    static constexpr quint32 rev3[8] = {0, 4, 2, 6, 1, 5, 3, 7};
    transpose8(first.re);
    transpose8(first.im);
    transpose8(second.re);
    transpose8(second.im);
#pragma GCC unroll 8
    for (int j = 0; j < 8; ++j) {
        const quint32 at = start + rev3[j] * eighth;
        store8(workRe + at, first.re[j]);
        store8(workRe + at + 8, second.re[j]);
        store8(workIm + at, first.im[j]);
        store8(workIm + at + 8, second.im[j]);
    }
}

// Samples each run of the gather reads at a time: 8 below this size, 16 from it on. From there
// the runs (N/8 apart, a power of two, at least 4 KiB) compete for the same few lines of the
// first-level cache, so each line must be used whole while it is at hand; below, the smaller
// step keeps more in registers.
constexpr quint32 wideGatherSize = 8192;

quint32 gatherWidth(quint32 n)
{
    return n >= wideGatherSize ? 16 : 8;
}

// Where the window's runs for base b begin in the gathered window (the window in the order the
// gather reads it): per step, the eight runs of `width` entries of base b, then those of base
// b + N/16.
inline quint32 gatheredWindowOffset(quint32 b, quint32 n, quint32 width)
{
    const quint32 sixteenth = n / 16;
    return b < sixteenth ? 16 * b : 16 * (b - sixteenth) + 8 * width;
}

// In bit-reversed order the first three stages make, of each group of eight entries g, the
// eight-point transform of the samples rev(g) + s·N/8: so eight consecutive bases b are read as
// eight runs of eight samples, transformed lane by lane and turned round into their eight
// groups. Each run is read `Width` samples at a time (`transformRuns(b, sets)` fills the sets of
// bases b, b + 8, …), and the sets of bases b and b + N/16 are written together, their groups
// being neighbours: each cache line of the work area is written whole at once. For N of at least
// 16 · Width.
template<quint32 Width, typename TransformRuns>
WIDE_VECTOR_INLINE inline void gatherInGroups(quint32 n, float *re, float *im,
                                              TransformRuns &&transformRuns)
{
    constexpr quint32 sets = Width / 8;
    const quint32 eighth = n / 8;
    const quint32 sixteenth = n / 16;
    // rev(b) for b = Width·m is Width·rev(m), m turned round over log2(N/Width²) bits; base
    // b + 8 goes to rev(b) + N/16.
    BitReversedCounter group(n / (Width * Width));
    for (quint32 b = 0; b < sixteenth; b += Width, group.next()) {
        Runs low[sets], high[sets];
        transformRuns(b, low);
        transformRuns(b + sixteenth, high);
#pragma GCC unroll 2
        for (quint32 set = 0; set < sets; ++set)
            storeNeighbouringGroups(low[set], high[set], re, im,
                                    Width * group.value() + set * sixteenth, eighth);
    }
}

// The windowed rings (data as real, reference as imaginary part) in bit-reversed order with the
// first three forward stages run; `window` is the gathered window.
template<quint32 Width>
WIDE_VECTOR_INLINE inline void gatherRings(const FourierTransform::RingBlock &ring,
                                           const float *window, quint32 n, float *re, float *im)
{
    const quint32 eighth = n / 8;
    const quint32 mask = ring.ringSize - 1;
    gatherInGroups<Width>(n, re, im, [&](quint32 b, Runs *sets) WIDE_VECTOR_INLINE {
        const float *windowRuns = window + gatheredWindowOffset(b, n, Width);
#pragma GCC unroll 8
        for (quint32 s = 0; s < 8; ++s) {
#pragma GCC unroll 2
            for (quint32 set = 0; set < Width / 8; ++set) {
                const quint32 m = b + s * eighth + 8 * set;
                Vec8 w;
                load8(w, windowRuns + Width * s + 8 * set);
                load8(sets[set].re[s], ring.data, (ring.dataStart + m) & mask, ring.ringSize);
                load8(sets[set].im[s], ring.reference, (ring.referenceStart + m) & mask,
                      ring.ringSize);
                sets[set].re[s] *= w;
                sets[set].im[s] *= w;
            }
        }
#pragma GCC unroll 2
        for (quint32 set = 0; set < Width / 8; ++set)
            eightPoint<false>(sets[set].re, sets[set].im);
    });
}

WIDE_VECTOR_CLONES void gatherWithFirstStages(const FourierTransform::RingBlock &ring,
                                              const float *window, quint32 n, float *re, float *im)
{
    if (gatherWidth(n) == 16)
        gatherRings<16>(ring, window, n, re, im);
    else
        gatherRings<8>(ring, window, n, re, im);
}

// The same for the inverse pass over a spectrum of conjugate symmetry, `bins` holding bins
// 0 … N/2. Its runs are put together value by value (those above N/2 mirrored), so the narrower
// step serves every size.
WIDE_VECTOR_CLONES void gatherConjugateSymmetric(const Complex *bins, quint32 n, float *re,
                                                 float *im)
{
    const quint32 eighth = n / 8;
    gatherInGroups<8>(n, re, im, [&](quint32 b, Runs *set) WIDE_VECTOR_INLINE {
        for (quint32 s = 0; s < 8; ++s) {
            float runRe[8], runIm[8];
            for (quint32 c = 0; c < 8; ++c) {
                const quint32 m = b + s * eighth + c;
                const bool mirrored = m > n / 2;
                const Complex &bin = bins[mirrored ? n - m : m];
                runRe[c] = bin.re;
                runIm[c] = mirrored ? -bin.im : bin.im;
            }
            load8(set->re[s], runRe);
            load8(set->im[s], runIm);
        }
        eightPoint<true>(set->re, set->im);
    });
}

// With Z = D + i·R and D, R the transforms of real blocks: D[k] = (Z[k] + conj Z[N−k]) / 2
// and R[k] = (Z[k] − conj Z[N−k]) / 2i; the bins above N/2 are the conjugates of those below.
// Bins 1 … N/2 − 1 of both spectra, scaled by 2·halfScale, eight at a time while eight remain.
WIDE_VECTOR_CLONES void separateChannels(const float *__restrict re, const float *__restrict im,
                                         quint32 n, float halfScale, Complex *__restrict data,
                                         Complex *__restrict reference)
{
    quint32 k = 1;
    for (; k + 8 <= n / 2; k += 8) {
        Vec8 ar, ai, mirrorRe, mirrorIm;
        load8(ar, re + k);
        load8(ai, im + k);
        load8(mirrorRe, re + n - k - 7);
        load8(mirrorIm, im + n - k - 7);
        // Z[N − k − 7 … N − k], turned round to run with k.
        const Vec8 br = __builtin_shufflevector(mirrorRe, mirrorRe, 7, 6, 5, 4, 3, 2, 1, 0);
        const Vec8 bi = __builtin_shufflevector(mirrorIm, mirrorIm, 7, 6, 5, 4, 3, 2, 1, 0);
        const Vec8 dr = (ar + br) * halfScale, di = (ai - bi) * halfScale;
        const Vec8 rr = (ai + bi) * halfScale, ri = (br - ar) * halfScale;
        // Interleaved as (re, im) pairs.
        const Vec8 dLow = __builtin_shufflevector(dr, di, 0, 8, 1, 9, 2, 10, 3, 11);
        const Vec8 dHigh = __builtin_shufflevector(dr, di, 4, 12, 5, 13, 6, 14, 7, 15);
        const Vec8 rLow = __builtin_shufflevector(rr, ri, 0, 8, 1, 9, 2, 10, 3, 11);
        const Vec8 rHigh = __builtin_shufflevector(rr, ri, 4, 12, 5, 13, 6, 14, 7, 15);
        store8(&data[k].re, dLow);
        store8(&data[k + 4].re, dHigh);
        store8(&reference[k].re, rLow);
        store8(&reference[k + 4].re, rHigh);
    }
    for (; k < n / 2; ++k) {
        const quint32 mirror = n - k;
        const float ar = re[k], ai = im[k], br = re[mirror], bi = im[mirror];
        data[k] = {(ar + br) * halfScale, (ai - bi) * halfScale};
        reference[k] = {(ai + bi) * halfScale, (br - ar) * halfScale};
    }
}

} // namespace

FourierTransform::FourierTransform(quint32 size)
    : size_(size)
{ }

void FourierTransform::setSize(quint32 size)
{
    if (size == size_)
        return;
    size_ = size;
    writePosition_ = 0;
    // Made again, of zeros, on the next add().
    dataRing_.resize(0);
    referenceRing_.resize(0);
}

void FourierTransform::makeRings()
{
    dataRing_.resize(size_);
    referenceRing_.resize(size_);
}

void FourierTransform::setWindowType(WindowFunction::Type type)
{
    window_.setType(type);
    gatherWindow();
}

void FourierTransform::gatherWindow()
{
    const quint32 n = window_.size();
    gatheredWindow_.resize(n < gatheredSize ? 0 : n);
    if (n < gatheredSize)
        return;
    const quint32 width = gatherWidth(n);
    for (quint32 b = 0; b < n / 8; b += width)
        for (quint32 s = 0; s < 8; ++s)
            for (quint32 c = 0; c < width; ++c)
                gatheredWindow_[gatheredWindowOffset(b, n, width) + width * s + c]
                        = window_.value(b + s * (n / 8) + c);
}

bool FourierTransform::isPrepared() const
{
    return planSize_ != 0 && planSize_ == size_;
}

void FourierTransform::prepare()
{
    planSize_ = 0;
    if (!isUsableSize(size_))
        return;
    const quint32 n = size_;
    dataSpectrum_.resize(n);
    referenceSpectrum_.resize(n);
    bitReverse_.resize(n);
    window_.resize(n);
    gatherWindow();
    tables_.resize({n, n, n, n, n / 2, n / 2});

    for (quint32 i = 0; i < n; ++i)
        bitReverse_[i] = i;
    for (quint32 i = 1, j = 0; i < n; ++i) {
        quint32 k = n / 2;
        while (j >= k) {
            j -= k;
            k /= 2;
        }
        j += k;
        if (i < j)
            std::swap(bitReverse_[i], bitReverse_[j]);
    }

    // Every twiddle comes straight from its angle (in double), so the error does not grow along
    // a stage as it would with a running product. The stage of half-length h uses e^(+iπ·j/h),
    // the entries j·(n/2)/h of the last stage's table.
    float *twiddleRe = tables_[TwiddleRe];
    float *twiddleIm = tables_[TwiddleIm];
    const quint32 half = n / 2;
    for (quint32 j = 0; j < half; ++j) {
        const double angle = std::numbers::pi * double(j) / double(half);
        twiddleRe[half + j] = float(std::cos(angle));
        twiddleIm[half + j] = float(std::sin(angle));
    }
    for (quint32 h = half / 2; h >= 1; h /= 2) {
        const quint32 stride = half / h;
        for (quint32 j = 0; j < h; ++j) {
            twiddleRe[h + j] = twiddleRe[half + j * stride];
            twiddleIm[h + j] = twiddleIm[half + j * stride];
        }
    }
    // The cubes e^(+iπ·3j/2h) = e^(+iπ·m/half) with m = 3j·stride/2, taken from the same table
    // (e^(iπ·m/half) = −e^(iπ·(m − half)/half) for m of half or more).
    float *tripleRe = tables_[TripleRe];
    float *tripleIm = tables_[TripleIm];
    for (quint32 h = half / 2; h >= 1; h /= 2) {
        const quint32 stride = half / h;
        for (quint32 j = 0; j < h; ++j) {
            const quint32 m = 3 * j * stride / 2;
            const float flip = m < half ? 1.0f : -1.0f;
            tripleRe[h + j] = flip * twiddleRe[half + m % half];
            tripleIm[h + j] = flip * twiddleIm[half + m % half];
        }
    }
    planSize_ = n;
}

void FourierTransform::runStages(bool inverse, quint32 firstHalf)
{
    const Twiddles twiddles{tables_[TwiddleRe], tables_[TwiddleIm], tables_[TripleRe],
                            tables_[TripleIm]};
    if (inverse)
        butterflyStages<true>(tables_[WorkRe], tables_[WorkIm], twiddles, size_, firstHalf);
    else
        butterflyStages<false>(tables_[WorkRe], tables_[WorkIm], twiddles, size_, firstHalf);
}

void FourierTransform::add(float data, float reference)
{
    if (size_ == 0)
        return;
    if (dataRing_.size() != size_)
        makeRings();
    if (++writePosition_ >= size_)
        writePosition_ = 0;
    dataRing_[writePosition_] = data;
    referenceRing_[writePosition_] = reference;
}

void FourierTransform::calculate()
{
    if (dataRing_.size() != size_)
        makeRings();
    const quint32 start = (writePosition_ + 1) & (size_ - 1);
    calculate({dataRing_.data(), referenceRing_.data(), size_, start, start});
}

void FourierTransform::calculate(const RingBlock &block)
{
    if (!isPrepared() || block.ringSize < size_ || (block.ringSize & (block.ringSize - 1)) != 0)
        return;
    const quint32 n = size_;
    const quint32 ringMask = block.ringSize - 1;
    const float *window = n < gatheredSize ? window_.table() : gatheredWindow_.data();
    const quint32 *bitReverse = bitReverse_.data();
    float *re = tables_[WorkRe];
    float *im = tables_[WorkIm];

    // Both real channels travel through one complex transform: data as the real part,
    // reference as the imaginary part; they are separated again by symmetry below.
    if (n < gatheredSize) {
        for (quint32 i = 0; i < n; ++i) {
            re[bitReverse[i]] = block.data[(block.dataStart + i) & ringMask] * window[i];
            im[bitReverse[i]] = block.reference[(block.referenceStart + i) & ringMask] * window[i];
        }
        runStages(false, 1);
    } else {
        gatherWithFirstStages(block, window, n, re, im);
        runStages(false, 8);
    }

    // Bin 0 of the unscaled transform is the sum of the windowed block.
    const float dataSum = re[0];
    const float referenceSum = im[0];

    const float scale = 1.0f / float(n);
    Complex *data = dataSpectrum_.data();
    Complex *reference = referenceSpectrum_.data();
    separateChannels(re, im, n, 0.5f * scale, data, reference);
    data[n / 2] = {re[n / 2] * scale, 0.0f};
    reference[n / 2] = {im[n / 2] * scale, 0.0f};
    // The block's sum (not its mean) is taken from every sample before the transform; only
    // bin 0 shows it: S·(1 − N)/N.
    data[0] = {dataSum * scale - dataSum, 0.0f};
    reference[0] = {referenceSum * scale - referenceSum, 0.0f};
    upperHalfStored_ = false;
}

void FourierTransform::butterflies(bool inverse)
{
    if (!isPrepared())
        return;
    storeUpperHalf();
    const quint32 n = size_;
    Complex *spectrum = dataSpectrum_.data();
    float *re = tables_[WorkRe];
    float *im = tables_[WorkIm];
    for (quint32 i = 0; i < n; ++i) {
        re[i] = spectrum[i].re;
        im[i] = spectrum[i].im;
    }
    runStages(inverse, 1);
    const float scale = inverse ? 1.0f : 1.0f / float(n);
    for (quint32 i = 0; i < n; ++i)
        spectrum[i] = {re[i] * scale, im[i] * scale};
}

void FourierTransform::storeUpperHalf()
{
    if (upperHalfStored_)
        return;
    for (quint32 i = size_ / 2 + 1; i < size_; ++i) {
        dataSpectrum_[i] = dataSpectrum_[size_ - i].conj();
        referenceSpectrum_[i] = referenceSpectrum_[size_ - i].conj();
    }
    upperHalfStored_ = true;
}

void FourierTransform::inverseOfConjugateSymmetric(const Complex *bins, float *real)
{
    if (!isPrepared())
        return;
    const quint32 n = size_;
    const quint32 half = n / 2;
    const quint32 *bitReverse = bitReverse_.data();
    float *re = tables_[WorkRe];
    float *im = tables_[WorkIm];
    if (n < gatheredSize) {
        for (quint32 i = 0; i <= half; ++i) {
            re[bitReverse[i]] = bins[i].re;
            im[bitReverse[i]] = bins[i].im;
        }
        for (quint32 i = 1; i < half; ++i) {
            re[bitReverse[n - i]] = bins[i].re;
            im[bitReverse[n - i]] = -bins[i].im;
        }
        runStages(true, 1);
    } else {
        gatherConjugateSymmetric(bins, n, re, im);
        runStages(true, 8);
    }
    std::copy_n(re, n, real);
}

void FourierTransform::setBins(quint32 i, const Complex &a, const Complex &b)
{
    if (!isPrepared() || i >= size_)
        return;
    storeUpperHalf();
    dataSpectrum_[bitReverse_[i]] = a;
    referenceSpectrum_[bitReverse_[i]] = b;
}

QList<float> FourierTransform::frequencyList() const
{
    QList<float> list;
    const quint32 bins = size_ / 2;
    list.reserve(bins);
    const float step = size_ ? float(sampleRate_) / float(size_) : 0.0f;
    for (quint32 i = 0; i < bins; ++i)
        list.append(float(i) * step);
    return list;
}
