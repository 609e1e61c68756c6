#include "engine/dsp/Radix2Fft.h"

#include <algorithm>
#include <numbers>
#include <utility>

namespace {

using Cd = std::complex<double>;

// Stages up to this many values run block by block, each block staying in the cache for all of
// them; only the larger stages sweep the whole array.
constexpr std::size_t cacheBlock = 4096;

void bitReverse(Cd *values, std::size_t m)
{
    for (std::size_t i = 1, j = 0; i < m; ++i) {
        std::size_t bit = m >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j |= bit;
        if (i < j)
            std::swap(values[i], values[j]);
    }
}

// One butterfly stage over `count` values: pairs h apart, twiddle j taken `step` apart in the
// table. The products are written out so that no library call checks them for NaN.
void butterflyStage(Cd *values, std::size_t count, std::size_t h, const Cd *twiddles,
                    std::size_t step, double sign)
{
    auto *v = reinterpret_cast<double *>(values);
    for (std::size_t start = 0; start < count; start += 2 * h) {
        for (std::size_t j = 0; j < h; ++j) {
            const double wr = twiddles[j * step].real();
            const double wi = sign * twiddles[j * step].imag();
            double *a = v + 2 * (start + j);
            double *b = v + 2 * (start + j + h);
            const double br = b[0] * wr - b[1] * wi;
            const double bi = b[0] * wi + b[1] * wr;
            b[0] = a[0] - br;
            b[1] = a[1] - bi;
            a[0] += br;
            a[1] += bi;
        }
    }
}

void scale(Cd *values, std::size_t m, double factor)
{
    for (std::size_t i = 0; i < m; ++i)
        values[i] *= factor;
}

// The samples zero-padded (or cut) to n, packed into `out` as n/2 complex values (even samples
// as real parts, odd ones as imaginary parts) with room for bin n/2.
template<typename Sample>
void pack(const Sample *samples, std::size_t count, std::size_t n, std::vector<Cd> &out)
{
    out.assign(n / 2 + 1, {});
    const std::size_t used = samples ? std::min(n, count) : 0;
    auto *packed = reinterpret_cast<double *>(out.data());
    for (std::size_t i = 0; i < used; ++i)
        packed[i] = double(samples[i]);
}

// A real transform with a plan made for it alone.
template<typename Sample>
void oneRealFft(const Sample *samples, std::size_t count, std::size_t n, std::vector<Cd> &out)
{
    const Radix2Plan plan(n);
    if (plan.isEmpty())
        out.clear();
    else
        plan.realForward(samples, count, out);
}

} // namespace

bool isPowerOfTwo(std::size_t n)
{
    return n >= 1 && (n & (n - 1)) == 0;
}

Radix2Plan::Radix2Plan(std::size_t n)
{
    if (!isPowerOfTwo(n))
        return;
    n_ = n;
    // Each twiddle straight from the cosine and sine: a running product would gather rounding
    // error along the table.
    twiddles_.resize(n / 2);
    for (std::size_t k = 0; k < n / 2; ++k) {
        const double angle = -2.0 * std::numbers::pi * double(k) / double(n);
        twiddles_[k] = Cd(std::cos(angle), std::sin(angle));
    }
}

void Radix2Plan::complexTransform(Cd *values, std::size_t m, bool inverse) const
{
    if (m < 2)
        return;
    bitReverse(values, m);
    const double sign = inverse ? -1.0 : 1.0;
    const std::size_t block = std::min(m, cacheBlock);
    for (std::size_t start = 0; start < m; start += block) {
        for (std::size_t h = 1; h < block; h *= 2)
            butterflyStage(values + start, block, h, twiddles_.data(), n_ / (2 * h), sign);
    }
    for (std::size_t h = block; h < m; h *= 2)
        butterflyStage(values, m, h, twiddles_.data(), n_ / (2 * h), sign);
}

void Radix2Plan::transform(Cd *values, bool inverse) const
{
    complexTransform(values, n_, inverse);
    if (inverse && n_ > 1)
        scale(values, n_, 1.0 / double(n_));
}

void Radix2Plan::splitHalfSpectrum(std::vector<Cd> &spectrum) const
{
    // The even samples went in as real parts and the odd ones as imaginary parts of a transform
    // of half the size; bins k and m − k of the real transform follow from its bins k and m − k.
    const std::size_t m = n_ / 2;
    if (m == 0)
        return;
    complexTransform(spectrum.data(), m, false);
    const Cd z0 = spectrum[0];
    spectrum[0] = z0.real() + z0.imag();
    spectrum[m] = z0.real() - z0.imag();
    for (std::size_t k = 1; k <= m / 2; ++k) {
        const Cd a = spectrum[k];
        const Cd b = std::conj(spectrum[m - k]);
        const Cd even = 0.5 * (a + b);
        const Cd odd = Cd(0.0, -0.5) * (a - b);
        const Cd turned = twiddles_[k] * odd;
        spectrum[k] = even + turned;
        spectrum[m - k] = std::conj(even - turned);
    }
}

void Radix2Plan::realForward(const float *samples, std::size_t count, std::vector<Cd> &out) const
{
    pack(samples, count, n_, out);
    splitHalfSpectrum(out);
}

void Radix2Plan::realForward(const double *samples, std::size_t count, std::vector<Cd> &out) const
{
    pack(samples, count, n_, out);
    splitHalfSpectrum(out);
}

void Radix2Plan::realInverse(const Cd *halfSpectrum, std::size_t bins,
                             std::vector<double> &out) const
{
    out.assign(n_, 0.0);
    const std::size_t m = n_ / 2;
    const auto bin = [&](std::size_t k) {
        return k < bins ? halfSpectrum[k] : Cd();
    };
    if (m == 0) {
        if (n_ == 1)
            out[0] = bin(0).real();
        return;
    }
    // The half-size spectrum whose inverse holds the even samples as real parts and the odd
    // ones as imaginary parts.
    auto *packed = reinterpret_cast<Cd *>(out.data());
    const double first = bin(0).real(), last = bin(m).real();
    packed[0] = Cd(0.5 * (first + last), 0.5 * (first - last));
    for (std::size_t k = 1; k < m; ++k) {
        const Cd a = bin(k);
        const Cd b = std::conj(bin(m - k));
        const Cd even = 0.5 * (a + b);
        const Cd odd = std::conj(twiddles_[k]) * (0.5 * (a - b));
        packed[k] = even + Cd(0.0, 1.0) * odd;
    }
    complexTransform(packed, m, true);
    scale(packed, m, 1.0 / double(m));
}

void fftRadix2(std::vector<Cd> &values, bool inverse)
{
    Radix2Plan(values.size()).transform(values.data(), inverse);
}

void realFft(const float *samples, std::size_t count, std::size_t n, std::vector<Cd> &out)
{
    oneRealFft(samples, count, n, out);
}

void realFft(const double *samples, std::size_t count, std::size_t n, std::vector<Cd> &out)
{
    oneRealFft(samples, count, n, out);
}

void realInverseFft(const std::vector<Cd> &halfSpectrum, std::size_t n, std::vector<double> &out)
{
    const Radix2Plan plan(n);
    if (plan.isEmpty())
        out.clear();
    else
        plan.realInverse(halfSpectrum.data(), halfSpectrum.size(), out);
}
