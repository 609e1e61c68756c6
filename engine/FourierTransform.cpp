#include "engine/FourierTransform.h"

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
template <bool Inverse>
inline void firstTwoStages(float* __restrict re, float* __restrict im, quint32 n)
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
template <bool Inverse>
inline void butterflyRun(float* __restrict lr, float* __restrict li, float* __restrict hr,
                         float* __restrict hi, const float* __restrict wr,
                         const float* __restrict wi, std::size_t count)
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
template <bool Inverse>
inline void radix4Run(float* __restrict r0, float* __restrict i0, float* __restrict r1,
                      float* __restrict i1, float* __restrict r2, float* __restrict i2,
                      float* __restrict r3, float* __restrict i3, const float* __restrict w1r,
                      const float* __restrict w1i, const float* __restrict w2r,
                      const float* __restrict w2i, const float* __restrict w3r,
                      const float* __restrict w3i, std::size_t h)
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
template <bool Inverse>
inline void stagePair(float* re, float* im, const float* twiddleRe, const float* twiddleIm,
                      std::size_t h)
{
    radix4Run<Inverse>(re, im, re + h, im + h, re + 2 * h, im + 2 * h, re + 3 * h, im + 3 * h,
                       twiddleRe + h, twiddleIm + h, twiddleRe + 2 * h, twiddleIm + 2 * h,
                       twiddleRe + 3 * h, twiddleIm + 3 * h, h);
}

// Entries per block of the early butterfly stages: 32 KiB of work area, the first-level cache.
constexpr quint32 cacheBlock = 4096;

// Decimation-in-time stages over a work area that holds its input in bit-reversed order. The
// forward kernel is e^(+2πi·k·n/N); the inverse one is its conjugate. No scaling here. Where
// the compiler can, it also builds a copy for processors with 256-bit vectors and picks one at
// load time; the results agree to float rounding.
template <bool Inverse>
WIDE_VECTOR_CLONES void butterflyStages(float* re, float* im, const float* twiddleRe,
                                        const float* twiddleIm, quint32 n)
{
    if (n < 4) {
        butterflyRun<Inverse>(re, im, re + 1, im + 1, twiddleRe + 1, twiddleIm + 1, 1);
        return;
    }
    // The early stages only mix entries within blocks of 2h: run all of them block by block
    // while a block fits the first-level cache, then the later stages over the whole area.
    const quint32 block = std::min(n, cacheBlock);
    for (quint32 start = 0; start < n; start += block) {
        firstTwoStages<Inverse>(re + start, im + start, block);
        for (quint32 h = 4; 4 * h <= block; h *= 4)
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

}  // namespace

FourierTransform::FourierTransform(quint32 size)
    : size_(size), dataRing_(size, 0.0f), referenceRing_(size, 0.0f)
{
}

void FourierTransform::setSize(quint32 size)
{
    if (size == size_)
        return;
    size_ = size;
    dataRing_.resize(size);
    referenceRing_.resize(size);
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
    if (++writePosition_ >= size_)
        writePosition_ = 0;
    dataRing_[writePosition_] = data;
    referenceRing_[writePosition_] = reference;
}

void FourierTransform::calculate()
{
    if (!isPrepared())
        return;
    const quint32 n = size_;
    const quint32 mask = n - 1;
    const float* window = window_.table();
    const quint32* bitReverse = bitReverse_.data();
    float* re = workRe_.data();
    float* im = workIm_.data();

    // Both real channels travel through one complex transform: data as the real part,
    // reference as the imaginary part; they are separated again by symmetry below.
    const quint32 start = (writePosition_ + 1) & mask;
    if (n < 4 * tileSide * tileSide) {
        for (quint32 i = 0; i < n; ++i) {
            const quint32 position = (start + i) & mask;
            re[bitReverse[i]] = dataRing_[position] * window[i];
            im[bitReverse[i]] = referenceRing_[position] * window[i];
        }
    } else {
        gatherTiled(start);
    }

    butterflyStages<false>(re, im, twiddleRe_.data(), twiddleIm_.data(), n);

    // Bin 0 of the unscaled transform is the sum of the windowed block.
    const float dataSum = re[0];
    const float referenceSum = im[0];

    // With Z = D + i·R and D, R the transforms of real blocks: D[k] = (Z[k] + conj Z[N−k]) / 2
    // and R[k] = (Z[k] − conj Z[N−k]) / 2i; the bins above N/2 are the conjugates of those below.
    const float scale = 1.0f / float(n);
    const float halfScale = 0.5f * scale;
    Complex* data = dataSpectrum_.data();
    Complex* reference = referenceSpectrum_.data();
    for (quint32 k = 1; k < n / 2; ++k) {
        const quint32 mirror = n - k;
        const float ar = re[k], ai = im[k], br = re[mirror], bi = im[mirror];
        data[k] = {(ar + br) * halfScale, (ai - bi) * halfScale};
        reference[k] = {(ai + bi) * halfScale, (br - ar) * halfScale};
        data[mirror] = data[k].conj();
        reference[mirror] = reference[k].conj();
    }
    data[n / 2] = {re[n / 2] * scale, 0.0f};
    reference[n / 2] = {im[n / 2] * scale, 0.0f};
    // The block's sum (not its mean) is taken from every sample before the transform; only
    // bin 0 shows it: S·(1 − N)/N.
    data[0] = {dataSum * scale - dataSum, 0.0f};
    reference[0] = {referenceSum * scale - referenceSum, 0.0f};
}

// The windowed rings in bit-reversed order, without writing all over the work area: sample
// n = a·S + b·T + c (T = tileSide, S = N/T) lands at rev(c)·S + rev(b·T) + rev(a), so for
// one b a T × T tile is read as T runs of T consecutive samples and written as T runs of
// T neighbouring entries, each run one cache line.
void FourierTransform::gatherTiled(quint32 start)
{
    const quint32 n = size_;
    const quint32 mask = n - 1;
    const quint32 stride = n / tileSide;
    const float* window = window_.table();
    const quint32* bitReverse = bitReverse_.data();
    float* re = workRe_.data();
    float* im = workIm_.data();
    float tileRe[tileSide][tileSide];
    float tileIm[tileSide][tileSide];
    for (quint32 b = 0; b < stride / tileSide; ++b) {
        for (quint32 a = 0; a < tileSide; ++a) {
            const quint32 first = a * stride + b * tileSide;
            const quint32 column = bitReverse[a * stride];
            for (quint32 c = 0; c < tileSide; ++c) {
                const quint32 position = (start + first + c) & mask;
                tileRe[c][column] = dataRing_[position] * window[first + c];
                tileIm[c][column] = referenceRing_[position] * window[first + c];
            }
        }
        const quint32 middle = bitReverse[b * tileSide];
        for (quint32 c = 0; c < tileSide; ++c) {
            const quint32 row = bitReverse[c] + middle;
            for (quint32 a = 0; a < tileSide; ++a) {
                re[row + a] = tileRe[c][a];
                im[row + a] = tileIm[c][a];
            }
        }
    }
}

void FourierTransform::butterflies(bool inverse)
{
    if (!isPrepared())
        return;
    const quint32 n = size_;
    Complex* spectrum = dataSpectrum_.data();
    float* re = workRe_.data();
    float* im = workIm_.data();
    for (quint32 i = 0; i < n; ++i) {
        re[i] = spectrum[i].re;
        im[i] = spectrum[i].im;
    }
    if (inverse)
        butterflyStages<true>(re, im, twiddleRe_.data(), twiddleIm_.data(), n);
    else
        butterflyStages<false>(re, im, twiddleRe_.data(), twiddleIm_.data(), n);
    const float scale = inverse ? 1.0f : 1.0f / float(n);
    for (quint32 i = 0; i < n; ++i)
        spectrum[i] = {re[i] * scale, im[i] * scale};
}

void FourierTransform::setBins(quint32 i, const Complex& a, const Complex& b)
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
