#include "engine/dsp/Radix2Fft.h"

#include <algorithm>
#include <numbers>
#include <utility>

namespace {

template<typename Sample>
void realFftOf(const Sample *samples, std::size_t count, std::size_t n,
               std::vector<std::complex<double>> &out)
{
    if (!isPowerOfTwo(n)) {
        out.clear();
        return;
    }
    out.assign(n, {});
    const std::size_t used = samples ? std::min(n, count) : 0;
    for (std::size_t i = 0; i < used; ++i)
        out[i] = double(samples[i]);
    fftRadix2(out, false);
    out.resize(n / 2 + 1);
}

} // namespace

bool isPowerOfTwo(std::size_t n)
{
    return n >= 1 && (n & (n - 1)) == 0;
}

void fftRadix2(std::vector<std::complex<double>> &values, bool inverse)
{
    const std::size_t n = values.size();
    if (n < 2 || !isPowerOfTwo(n))
        return;

    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j |= bit;
        if (i < j)
            std::swap(values[i], values[j]);
    }

    for (std::size_t len = 2; len <= n; len <<= 1) {
        const double angle = (inverse ? 2.0 : -2.0) * std::numbers::pi / double(len);
        const std::complex<double> wLen(std::cos(angle), std::sin(angle));
        const std::size_t half = len / 2;
        for (std::size_t start = 0; start < n; start += len) {
            std::complex<double> w(1.0, 0.0);
            for (std::size_t j = start; j < start + half; ++j) {
                const std::complex<double> u = values[j];
                const std::complex<double> v = values[j + half] * w;
                values[j] = u + v;
                values[j + half] = u - v;
                w *= wLen;
            }
        }
    }

    if (inverse) {
        const double scale = 1.0 / double(n);
        for (std::complex<double> &v : values)
            v *= scale;
    }
}

void realFft(const float *samples, std::size_t count, std::size_t n,
             std::vector<std::complex<double>> &out)
{
    realFftOf(samples, count, n, out);
}

void realFft(const double *samples, std::size_t count, std::size_t n,
             std::vector<std::complex<double>> &out)
{
    realFftOf(samples, count, n, out);
}

void realInverseFft(const std::vector<std::complex<double>> &halfSpectrum, std::size_t n,
                    std::vector<double> &out)
{
    if (!isPowerOfTwo(n)) {
        out.clear();
        return;
    }
    std::vector<std::complex<double>> full(n);
    const std::size_t bins = std::min(n / 2 + 1, halfSpectrum.size());
    std::copy_n(halfSpectrum.begin(), bins, full.begin());
    full[0].imag(0.0);
    if (n >= 2) {
        full[n / 2].imag(0.0);
        for (std::size_t k = 1; k < n / 2; ++k)
            full[n - k] = std::conj(full[k]);
    }
    fftRadix2(full, true);
    out.resize(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = full[i].real();
}
