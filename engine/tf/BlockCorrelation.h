#pragma once

#include "engine/dsp/Radix2Fft.h"

#include <complex>
#include <cstddef>
#include <cstdint>
#include <vector>

// The period a block of phone samples repeats with.
struct PeriodEstimate
{
    double period = 0.0; // phone samples, 0 when none was found
    double quality = 0.0; // the Pearson correlation at that period, at least 0
};

// Where a template starts inside a block.
struct LagEstimate
{
    int64_t lag = -1; // block samples, −1 when none was found
    double correlation = 0.0; // |normalised correlation| at that lag
};

// Correlations of a block of phone samples, through transforms: with itself shifted by about
// one signal period (how long the period is on the phone's clock) and with the signal's template
// (where a period starts). The plans and the template's transform are kept for the next block.
class BlockCorrelation
{
public:
    // Candidate periods lie within this many ppm of the expected one (and 25 % beyond).
    static constexpr double searchPpm = 2000.0;

    void setTemplate(const float *samples, std::size_t length);

    // The period near `expected` at which the block best correlates with itself (Pearson, over
    // the overlap), refined between samples by a parabola through the best and its neighbours.
    PeriodEstimate period(const float *block, std::size_t length, double expected);
    // The lag in [first, limit) at which the template best matches the block.
    LagEstimate templateLag(const float *block, std::size_t length, int64_t first, int64_t limit);

private:
    double pearson(std::size_t p) const;

    std::vector<float> template_;
    double templateEnergy_ = 0.0;
    Radix2Plan periodPlan_;
    Radix2Plan lagPlan_;
    std::vector<std::complex<double>> templateSpectrum_;
    std::size_t blockLength_ = 0;
    std::size_t firstCandidate_ = 0;
    // Prefix sums of the block and of its squares.
    std::vector<double> sum_;
    std::vector<double> sumSquares_;
    std::vector<std::complex<double>> spectrum_;
    std::vector<std::complex<double>> headSpectrum_;
    std::vector<double> correlation_;
};

// One-off forms of the two searches.
PeriodEstimate refinePeriod(const float *block, std::size_t length, double expected);
LagEstimate findCorrelationLag(const float *samples, std::size_t templateLength, const float *block,
                               std::size_t length, int64_t first, int64_t limit);
