#pragma once

#include <complex>
#include <cstddef>
#include <vector>

// Double-precision radix-2 transforms with the usual kernel e^(−2πi·k·n/N): forward unscaled,
// inverse scaled by 1/n. (The measurement's FourierTransform has the opposite sign and its own
// scaling; the two are deliberately separate.)

// True for n ≥ 1 with exactly one bit set.
bool isPowerOfTwo(std::size_t n);

// The twiddles of one size n, built once; executing a transform then touches only the caller's
// buffers, so one plan serves any number of transforms (also from several threads at once). A
// plan of size n does complex transforms of n values and real transforms of n samples. Sizes
// below 2 or not powers of two make an empty plan that computes nothing.
class Radix2Plan
{
public:
    explicit Radix2Plan(std::size_t n = 0);

    std::size_t size() const { return n_; }
    bool isEmpty() const { return n_ == 0; }

    // In-place transform of n values.
    void transform(std::complex<double> *values, bool inverse) const;
    // The first n/2 + 1 bins of the transform of `count` real samples zero-padded (or cut) to
    // n; null samples count as silence.
    void realForward(const float *samples, std::size_t count,
                     std::vector<std::complex<double>> &out) const;
    void realForward(const double *samples, std::size_t count,
                     std::vector<std::complex<double>> &out) const;
    // The n real samples whose half spectrum (`bins` values of bins 0 … n/2) is given; missing
    // bins count as 0.
    void realInverse(const std::complex<double> *halfSpectrum, std::size_t bins,
                     std::vector<double> &out) const;

private:
    // The unscaled complex transform of m = n or n/2 values in place.
    void complexTransform(std::complex<double> *values, std::size_t m, bool inverse) const;
    // Turns the packed samples into bins 0 … n/2 through a transform of half the size.
    void splitHalfSpectrum(std::vector<std::complex<double>> &spectrum) const;

    std::size_t n_ = 0;
    // e^(−2πi·k/n) for k < n/2.
    std::vector<std::complex<double>> twiddles_;
};

// In-place transform of the whole vector; nothing happens when its size is below 2 or not a
// power of two.
void fftRadix2(std::vector<std::complex<double>> &values, bool inverse);

// The first n/2 + 1 bins of the transform of `count` real samples zero-padded (or cut) to n.
// `out` is emptied when n is not a power of two.
void realFft(const float *samples, std::size_t count, std::size_t n,
             std::vector<std::complex<double>> &out);
void realFft(const double *samples, std::size_t count, std::size_t n,
             std::vector<std::complex<double>> &out);

// The n real samples whose half spectrum (bins 0 … n/2) is given; missing bins count as 0.
// `out` is emptied when n is not a power of two.
void realInverseFft(const std::vector<std::complex<double>> &halfSpectrum, std::size_t n,
                    std::vector<double> &out);
