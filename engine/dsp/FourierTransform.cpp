#include "engine/dsp/FourierTransform.h"

#include <algorithm>
#include <cmath>
#include <numbers>

// Multiversioning needs the GNU toolchain on an ELF platform; elsewhere the baseline build runs.
#if defined(__GNUC__) && defined(__x86_64__) && defined(__ELF__)
#define WIDE_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define WIDE_VECTOR_CLONES
#endif

namespace {

bool isUsableSize(quint32 n)
{
    return n >= 2 && (n & (n - 1)) == 0;
}

// The first two stages of a group of four: their twiddles are 1 and ±i.
template<bool Inverse>
inline void firstTwoStages(float *__restrict re, float *__restrict im, quint32 n)
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
inline void butterflyRun(float *__restrict lr, float *__restrict li, float *__restrict hr,
                         float *__restrict hi, const float *__restrict wr,
                         const float *__restrict wi, std::size_t count)
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

// Stages of half-length h and 2h together over the four quarters of a group of 4h entries,
// each entry read and written once. Every pointer is a parameter of its own, marked restrict,
// so that the loop vectorises without run-time alias checks.
template<bool Inverse>
inline void radix4Run(float *__restrict r0, float *__restrict i0, float *__restrict r1,
                      float *__restrict i1, float *__restrict r2, float *__restrict i2,
                      float *__restrict r3, float *__restrict i3, const float *__restrict w1r,
                      const float *__restrict w1i, const float *__restrict w2r,
                      const float *__restrict w2i, const float *__restrict w3r,
                      const float *__restrict w3i, std::size_t h)
{
    const float sign = Inverse ? -1.0f : 1.0f;
    for (std::size_t j = 0; j < h; ++j) {
        const float ar = w1r[j], ai = sign * w1i[j];
        const float t1r = r1[j] * ar - i1[j] * ai, t1i = r1[j] * ai + i1[j] * ar;
        const float t3r = r3[j] * ar - i3[j] * ai, t3i = r3[j] * ai + i3[j] * ar;
        const float y0r = r0[j] + t1r, y0i = i0[j] + t1i;
        const float y1r = r0[j] - t1r, y1i = i0[j] - t1i;
        const float y2r = r2[j] + t3r, y2i = i2[j] + t3i;
        const float y3r = r2[j] - t3r, y3i = i2[j] - t3i;

        const float br = w2r[j], bi = sign * w2i[j];
        const float cr = w3r[j], ci = sign * w3i[j];
        const float u2r = y2r * br - y2i * bi, u2i = y2r * bi + y2i * br;
        const float u3r = y3r * cr - y3i * ci, u3i = y3r * ci + y3i * cr;
        r0[j] = y0r + u2r;
        i0[j] = y0i + u2i;
        r2[j] = y0r - u2r;
        i2[j] = y0i - u2i;
        r1[j] = y1r + u3r;
        i1[j] = y1i + u3i;
        r3[j] = y1r - u3r;
        i3[j] = y1i - u3i;
    }
}

// The twiddle tables hold the factors of half-length h at [h, 2h).
template<bool Inverse>
inline void stagePair(float *re, float *im, const float *twiddleRe, const float *twiddleIm,
                      std::size_t h)
{
    radix4Run<Inverse>(re, im, re + h, im + h, re + 2 * h, im + 2 * h, re + 3 * h, im + 3 * h,
                       twiddleRe + h, twiddleIm + h, twiddleRe + 2 * h, twiddleIm + 2 * h,
                       twiddleRe + 3 * h, twiddleIm + 3 * h, h);
}

// Entries per block of the early butterfly stages: 32 KiB of work area, the first-level cache.
constexpr quint32 cacheBlock = 4096;

// Decimation-in-time stages over a work area that holds its input in bit-reversed order,
// starting at the stage of half-length `firstHalf` (1, or 16 when the gather below has run the
// first four). The forward kernel is e^(+2πi·k·n/N); the inverse one is its conjugate. No
// scaling here. Where the compiler can, it also builds a copy for processors with 256-bit
// vectors and picks one at load time; the results agree to float rounding.
template<bool Inverse>
WIDE_VECTOR_CLONES void butterflyStages(float *re, float *im, const float *twiddleRe,
                                        const float *twiddleIm, quint32 n, quint32 firstHalf)
{
    if (n < 4) {
        butterflyRun<Inverse>(re, im, re + 1, im + 1, twiddleRe + 1, twiddleIm + 1, 1);
        return;
    }
    // The early stages only mix entries within blocks of 2h: run all of them block by block
    // while a block fits the first-level cache, then the later stages over the whole area.
    const quint32 block = std::min(n, cacheBlock);
    for (quint32 start = 0; start < n; start += block) {
        quint32 h = firstHalf;
        if (h == 1) {
            firstTwoStages<Inverse>(re + start, im + start, block);
            h = 4;
        }
        for (; 4 * h <= block; h *= 4)
            for (quint32 g = start; g < start + block; g += 4 * h)
                stagePair<Inverse>(re + g, im + g, twiddleRe, twiddleIm, h);
    }
    quint32 h = 1;
    while (4 * h <= block)
        h *= 4;
    // Two stages per pass while two remain, so the data crosses the cache half as often.
    for (; 4 * h <= n; h *= 4)
        for (quint32 g = 0; g < n; g += 4 * h)
            stagePair<Inverse>(re + g, im + g, twiddleRe, twiddleIm, h);
    if (2 * h == n)
        butterflyRun<Inverse>(re, im, re + h, im + h, twiddleRe + h, twiddleIm + h, h);
}

// Side of the square tiles of the gather: 16 floats, one cache line.
constexpr quint32 tileSide = 16;
// Stages the gather runs itself: those within runs of tileSide entries.
constexpr quint32 gatherStagesEnd = tileSide;

struct GatherInput
{
    FourierTransform::RingBlock block;
    const float *window;
    const quint32 *bitReverse;
    const float *twiddleRe;
    const float *twiddleIm;
    quint32 size;
};

// The windowed rings (data as real, reference as imaginary part) in bit-reversed order, with
// the first four forward stages already run. Sample m = a·S + b·T + c (T = tileSide,
// S = N/T) belongs at rev(c)·S + rev(b·T) + rev(a); for one b, a T × T tile is read as T runs
// of T consecutive samples, and each of its T output runs (one cache line, fixed c) is a
// group of the first four stages, so those run on the tile, T groups side by side.
WIDE_VECTOR_CLONES void gatherWithFirstStages(const GatherInput &in, float *re, float *im)
{
    const quint32 n = in.size;
    const quint32 ringSize = in.block.ringSize;
    const quint32 ringMask = ringSize - 1;
    const quint32 stride = n / tileSide;
    // tile[p][c]: entry p of the output run of column c.
    float tileRe[tileSide][tileSide];
    float tileIm[tileSide][tileSide];
    for (quint32 b = 0; b < stride / tileSide; ++b) {
        for (quint32 a = 0; a < tileSide; ++a) {
            const quint32 first = a * stride + b * tileSide;
            const quint32 p = in.bitReverse[a * stride];
            const quint32 dataPosition = (in.block.dataStart + first) & ringMask;
            const quint32 referencePosition = (in.block.referenceStart + first) & ringMask;
            const float *window = in.window + first;
            if (dataPosition + tileSide <= ringSize && referencePosition + tileSide <= ringSize) {
                const float *data = in.block.data + dataPosition;
                const float *reference = in.block.reference + referencePosition;
                for (quint32 c = 0; c < tileSide; ++c) {
                    tileRe[p][c] = data[c] * window[c];
                    tileIm[p][c] = reference[c] * window[c];
                }
            } else {
                for (quint32 c = 0; c < tileSide; ++c) {
                    tileRe[p][c] = in.block.data[(dataPosition + c) & ringMask] * window[c];
                    tileIm[p][c]
                            = in.block.reference[(referencePosition + c) & ringMask] * window[c];
                }
            }
        }
        for (quint32 h = 1; h < gatherStagesEnd; h *= 2) {
            for (quint32 g = 0; g < tileSide; g += 2 * h) {
                for (quint32 j = 0; j < h; ++j) {
                    const float wr = in.twiddleRe[h + j], wi = in.twiddleIm[h + j];
                    float *lr = tileRe[g + j];
                    float *li = tileIm[g + j];
                    float *hr = tileRe[g + j + h];
                    float *hi = tileIm[g + j + h];
                    for (quint32 c = 0; c < tileSide; ++c) {
                        const float tr = hr[c] * wr - hi[c] * wi;
                        const float ti = hr[c] * wi + hi[c] * wr;
                        hr[c] = lr[c] - tr;
                        hi[c] = li[c] - ti;
                        lr[c] = lr[c] + tr;
                        li[c] = li[c] + ti;
                    }
                }
            }
        }
        const quint32 middle = in.bitReverse[b * tileSide];
        for (quint32 c = 0; c < tileSide; ++c) {
            const quint32 row = in.bitReverse[c] + middle;
            for (quint32 p = 0; p < tileSide; ++p) {
                re[row + p] = tileRe[p][c];
                im[row + p] = tileIm[p][c];
            }
        }
    }
}

// With Z = D + i·R and D, R the transforms of real blocks: D[k] = (Z[k] + conj Z[N−k]) / 2
// and R[k] = (Z[k] − conj Z[N−k]) / 2i; the bins above N/2 are the conjugates of those below.
// Bins 1 … N−1 of both spectra, scaled by 2·halfScale.
WIDE_VECTOR_CLONES void separateChannels(const float *__restrict re, const float *__restrict im,
                                         quint32 n, float halfScale, Complex *__restrict data,
                                         Complex *__restrict reference)
{
    for (quint32 k = 1; k < n / 2; ++k) {
        const quint32 mirror = n - k;
        const float ar = re[k], ai = im[k], br = re[mirror], bi = im[mirror];
        const float dr = (ar + br) * halfScale, di = (ai - bi) * halfScale;
        const float rr = (ai + bi) * halfScale, ri = (br - ar) * halfScale;
        data[k] = {dr, di};
        reference[k] = {rr, ri};
        data[mirror] = {dr, -di};
        reference[mirror] = {rr, -ri};
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
    workRe_.resize(n);
    workIm_.resize(n);

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
    twiddleRe_.resize(n);
    twiddleIm_.resize(n);
    const quint32 half = n / 2;
    for (quint32 j = 0; j < half; ++j) {
        const double angle = std::numbers::pi * double(j) / double(half);
        twiddleRe_[half + j] = float(std::cos(angle));
        twiddleIm_[half + j] = float(std::sin(angle));
    }
    for (quint32 h = half / 2; h >= 1; h /= 2) {
        const quint32 stride = half / h;
        for (quint32 j = 0; j < h; ++j) {
            twiddleRe_[h + j] = twiddleRe_[half + j * stride];
            twiddleIm_[h + j] = twiddleIm_[half + j * stride];
        }
    }
    planSize_ = n;
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
    const float *window = window_.table();
    const quint32 *bitReverse = bitReverse_.data();
    float *re = workRe_.data();
    float *im = workIm_.data();

    // Both real channels travel through one complex transform: data as the real part,
    // reference as the imaginary part; they are separated again by symmetry below.
    if (n < 4 * tileSide * tileSide) {
        for (quint32 i = 0; i < n; ++i) {
            re[bitReverse[i]] = block.data[(block.dataStart + i) & ringMask] * window[i];
            im[bitReverse[i]] = block.reference[(block.referenceStart + i) & ringMask] * window[i];
        }
        butterflyStages<false>(re, im, twiddleRe_.data(), twiddleIm_.data(), n, 1);
    } else {
        const GatherInput input{block, window, bitReverse, twiddleRe_.data(), twiddleIm_.data(), n};
        gatherWithFirstStages(input, re, im);
        butterflyStages<false>(re, im, twiddleRe_.data(), twiddleIm_.data(), n, gatherStagesEnd);
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
}

void FourierTransform::butterflies(bool inverse)
{
    if (!isPrepared())
        return;
    const quint32 n = size_;
    Complex *spectrum = dataSpectrum_.data();
    float *re = workRe_.data();
    float *im = workIm_.data();
    for (quint32 i = 0; i < n; ++i) {
        re[i] = spectrum[i].re;
        im[i] = spectrum[i].im;
    }
    if (inverse)
        butterflyStages<true>(re, im, twiddleRe_.data(), twiddleIm_.data(), n, 1);
    else
        butterflyStages<false>(re, im, twiddleRe_.data(), twiddleIm_.data(), n, 1);
    const float scale = inverse ? 1.0f : 1.0f / float(n);
    for (quint32 i = 0; i < n; ++i)
        spectrum[i] = {re[i] * scale, im[i] * scale};
}

void FourierTransform::setBins(quint32 i, const Complex &a, const Complex &b)
{
    if (!isPrepared() || i >= size_)
        return;
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
