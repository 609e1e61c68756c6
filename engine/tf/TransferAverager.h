#pragma once

#include "engine/dsp/BesselBank.h"
#include "engine/dsp/BinRecord.h"
#include "engine/dsp/Complex.h"
#include "engine/tf/BinMeters.h"
#include "engine/tf/ImpulsePoint.h"
#include "engine/tf/MovingWindow.h"

#include <cstdint>
#include <vector>

class Coherence;
class Deconvolution;
class FourierTransform;
class PeriodAnalysis;
struct PeriodBin;

// The per-bin half of the analysis tick: turns the two spectra of the main transform into
// calibrated transfer-function values, averages them in one of four ways and writes them into
// the published records, and does the same for the impulse response. The state of an averaging
// type is made when that type is first chosen and sized with the FFT size, so a tick allocates
// nothing; a tick passes over the bins once, a block of them at a time, each state laid out by
// bin so that a block's values are worked on side by side.
class TransferAverager
{
public:
    enum AverageType { None = 0, Smoothing = 1, Moving = 2, Cumulative = 3 };

    // Per-bin calibration factors: the magnitude is divided by the microphone's gain and
    // multiplied by the reference channel's; null means no curve for that channel.
    struct Calibration
    {
        const float *microphone = nullptr;
        const float *reference = nullptr;
    };

    // Reshapes every state for `bins` bins and `size` impulse samples. Moving windows and
    // cumulative sums are cleared; filters and bin meters are recreated only when their count
    // changes.
    void resize(uint32_t bins, uint32_t size);
    // 0 none, 1 per-bin Bessel smoothing, 2 moving window, 3 cumulative. Forgets the cumulative
    // sums and both frame counters; makes the type's state if it has none yet.
    void setAverageType(int type);
    int averageType() const { return type_; }
    // Depth of the moving windows (0 counts as 1); clears them.
    void setDepth(uint32_t depth);
    // Coefficient preset 0, 1 or 2 of every smoothing filter; any value clears their histories.
    void setFilterPreset(int preset);
    // Clears every average: windows, sums, counters, filter histories and bin meters.
    void reset();

    // Sample pairs moved into the main transform since the last reset.
    void addFrames(uint64_t pairs) { framesSinceReset_ += pairs; }
    uint64_t framesSinceReset() const { return framesSinceReset_; }
    uint64_t cumulativeFrames() const { return cumulativeFrames_; }
    // The cumulative average starts only once the transform was refilled after a reset.
    bool readyFor(uint32_t size) const { return type_ != Cumulative || framesSinceReset_ >= size; }

    // Whether the smoothing waits for a tick to take its level from: its histories were cleared
    // (a reset, a new count, a preset) and no tick has settled them since.
    bool settling() const { return type_ == Smoothing && !smoothingSettled_; }
    // Starts an analysed tick; must precede processBins and processImpulse, which may then run
    // side by side on two threads (they share no state). `settles`: the tick's block is a
    // measurement through and through (only pairs since the reset, a reference that carries
    // sound); a smoothing that is settling then takes this tick's values as the level it has
    // always had, instead of rising to them from nothing over some forty ticks.
    void beginTick(bool settles);
    // One tick over the spectra of `transform` into `records` (fields 2 to 5, 7 and 8), with the
    // coherence of each bin (field 6) in the same pass.
    void processBins(const FourierTransform &transform, const Calibration &calibration,
                     Coherence &coherence, BinRecord *records);
    // The same over the band sums of a whole measured period (a phone's capture of the test
    // signal), one per record bin.
    void processPeriod(const std::vector<PeriodBin> &period, const Calibration &calibration,
                       BinRecord *records);
    // One tick over the impulse response into `points` (ordered from lag −(N/2 − 1) to N/2).
    void processImpulse(const Deconvolution &impulse, float msPerSample, ImpulsePoint *points);
    void processImpulse(const PeriodAnalysis &period, float msPerSample, ImpulsePoint *points);

    struct Block;

private:
    // Makes the state of the chosen type for the present sizes, where it has none.
    void makeState();
    // `values(from, block)` fills the block of bins from `from` on with their uncalibrated
    // magnitudes, amplitudes and phases.
    template<typename Values>
    void processValues(const Calibration &calibration, BinRecord *records, Values values);
    template<int Type, typename Values>
    void binLoop(Values values, const Calibration &calibration, BinRecord *records);
    // Averages a block of bins from `from` on; the moving and cumulative types first clean the
    // values of NaN and infinity, and the bin meters then get the cleaned amplitudes.
    template<int Type>
    void average(uint32_t from, Block &values, Block &averaged);
    template<typename Impulse>
    void impulseLoop(const Impulse &impulse, float msPerSample, ImpulsePoint *points);
    // One smoothing step of filters [from, from + count) of `bank`, settled first on the tick
    // that settles.
    void smooth(Filter::BesselBank &bank, uint32_t from, uint32_t count, const float *const *input,
                float *const *output);
    // Averages impulse samples [from, from + count) of `h` into `averaged`.
    void averageImpulse(uint32_t from, uint32_t count, const float *h, float *averaged);

    int type_ = Smoothing;
    uint32_t bins_ = 0;
    uint32_t size_ = 0;
    uint32_t depth_ = 1;
    int preset_ = 0;

    MovingWindow<float> movingMagnitude_;
    MovingWindow<float> movingAmplitude_;
    MovingWindow<Complex> movingPhase_;
    MovingWindow<float> movingImpulse_;

    std::vector<double> sumMagnitude_;
    std::vector<double> sumAmplitude_;
    std::vector<double> sumPhaseRe_;
    std::vector<double> sumPhaseIm_;
    std::vector<double> sumImpulse_;
    uint64_t cumulativeFrames_ = 0;
    uint64_t framesSinceReset_ = 0;
    bool smoothingSettled_ = false;
    bool settleThisTick_ = false; // set before a tick's two halves run, read by both

    Filter::BesselBank smoothMagnitude_{1};
    Filter::BesselBank smoothAmplitude_{1};
    Filter::BesselBank smoothPhase_{2};
    Filter::BesselBank smoothImpulse_{1};

    BinMeters binMeters_;
};
