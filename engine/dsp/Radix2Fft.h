#pragma once

#include <complex>
#include <cstddef>
#include <vector>

// Double-precision radix-2 transforms with the usual kernel e^(−2πi·k·n/N): forward unscaled,
// inverse scaled by 1/n. (The measurement's FourierTransform has the opposite sign and its own
// scaling; the two are deliberately separate.)

// True for n ≥ 1 with exactly one bit set.
bool isPowerOfTwo(std::size_t n);

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
