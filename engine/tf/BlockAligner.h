#pragma once

#include "engine/tf/BlockCorrelation.h"
#include "engine/tf/SincInterpolator.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The outcome of aligning one block of phone samples with the signal's template.
struct BlockAlignment
{
    enum Reason {
        None = 0,
        InputSize = 1,
        CorrelationUnreliable = 2,
        RatioOutOfRange = 3,
        Silence = 4
    };

    bool ok = false;
    Reason reason = None;
    double drift = 1.0; // measured period / expected period
    double ppm = 0.0; // the phone clock against the generator's, (drift − 1) · 10^6
    int64_t coarseLag = 0; // phone samples from the block's start to the period's start
    float fineCorrelation = 0.0f; // |r| of the aligned period with the template
    float periodQuality = 0.0f;
    bool inverted = false; // the best correlation was negative
};

// Finds one period of the known test signal in a block of phone samples: how long the period is
// on the phone's clock, where it starts, and the period resampled onto the generator's sample
// grid so that it lines up with the template sample for sample. The template and the transform
// plans are kept between blocks.
//
// The start is looked for in the block already resampled by the measured clock ratio: compared
// on the phone's own grid, a sweep stretched by the clock difference matches best some samples
// away from its true start (13 samples for a 7 s sweep 35 ppm off), beyond the ±8 samples the
// fine alignment looks at. The fine alignment places the start to a fraction of a sample, and
// the period is read between the phone's samples band-limited, so that neither a start half a
// sample off nor the interpolation blurs or dims the top octaves.
class BlockAligner
{
public:
    // Blocks with this many consecutive 10 ms stretches of digital silence hold an interruption.
    static constexpr int silentSegments = 5;
    static constexpr double maxPpm = 2000.0;
    // Shifts tried either side of the coarse start when lining up the resampled period.
    static constexpr int fineShifts = 8;

    void setTemplate(std::vector<float> samples);
    const std::vector<float> &templateSamples() const { return template_; }

    // Phone samples a block needs at the least for a template of `length` samples.
    static int64_t minimumBlock(int64_t length, double phoneRate, double generatorRate);

    BlockAlignment align(const float *block, std::size_t length, double phoneRate,
                         double generatorRate);
    // The period found by the last successful align(), on the generator's grid.
    const std::vector<float> &aligned() const { return aligned_; }

private:
    bool holdsSilence(const float *block, std::size_t length, double phoneRate) const;
    // The block resampled onto the generator's grid: one sample every `step` phone samples.
    void onGeneratorGrid(const float *block, std::size_t length, double step);
    // r of the template with the grid samples from `at` on.
    double correlationAt(std::size_t at) const;
    // The shift m in 0 … 16 at which grid samples from `first` + m on correlate best with the
    // template, and that r.
    std::pair<int, double> bestShift(int64_t first) const;
    // The fraction of a grid sample, within ±0.5, by which the best shift is off.
    double fractionalShift(int64_t first, int shift, double r) const;
    // The period from phone sample `start` on, one sample every `step`, band-limited.
    void readPeriod(const float *block, std::size_t length, double start, double step,
                    double cutoff);

    std::vector<float> template_;
    double templateEnergy_ = 0.0;
    BlockCorrelation correlation_;
    std::vector<float> grid_;
    std::vector<double> gridSquares_;
    SincInterpolator interpolator_;
    std::vector<float> aligned_;
};
