#pragma once

#include "engine/dsp/BesselLPF.h"
#include "engine/dsp/BinRecord.h"
#include "engine/dsp/Complex.h"
#include "engine/dsp/Meter.h"
#include "engine/tf/ImpulsePoint.h"
#include "engine/tf/MovingWindow.h"

#include <cstdint>
#include <vector>

class Deconvolution;
class FourierTransform;
class PeriodAnalysis;
struct PeriodBin;

// The per-bin half of the analysis tick: turns the two spectra of the main transform into
// calibrated transfer-function values, averages them in one of four ways and writes them into
// the published records, and does the same for the impulse response. Every array is sized when
// the FFT size changes, so a tick allocates nothing.
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
    // Depth of the moving windows (0 counts as 1); clears them.
    void setDepth(uint32_t depth);
    // Coefficient preset 0, 1 or 2 of every smoothing filter; any value clears their histories.
    void setFilterPreset(int preset);
    // Forgets the cumulative sums and both frame counters.
    void clearCumulative();
    // Clears every average: windows, sums, counters, filter histories and bin meters.
    void reset();

    // Sample pairs moved into the main transform since the last reset.
    void addFrames(uint64_t pairs) { framesSinceReset_ += pairs; }
    uint64_t framesSinceReset() const { return framesSinceReset_; }
    uint64_t cumulativeFrames() const { return cumulativeFrames_; }
    // The cumulative average starts only once the transform was refilled after a reset.
    bool readyFor(int averageType, uint32_t size) const
    {
        return averageType != Cumulative || framesSinceReset_ >= size;
    }

    // Starts an analysed tick; must precede processBins and processImpulse, which may then run
    // side by side on two threads (they share no state).
    void beginTick(int averageType);
    // One tick over the spectra of `transform` into `records` (fields 2 to 5, 7 and 8).
    void processBins(int averageType, const FourierTransform &transform,
                     const Calibration &calibration, BinRecord *records);
    // The same over the band sums of a whole measured period (a phone's capture of the test
    // signal), one per record bin.
    void processPeriod(int averageType, const std::vector<PeriodBin> &period,
                       const Calibration &calibration, BinRecord *records);
    // One tick over the impulse response into `points` (ordered from lag −(N/2 − 1) to N/2).
    void processImpulse(int averageType, const Deconvolution &impulse, float msPerSample,
                        ImpulsePoint *points);
    void processImpulse(int averageType, const PeriodAnalysis &period, float msPerSample,
                        ImpulsePoint *points);

private:
    struct BinValue
    {
        float magnitude;
        float amplitude;
        Complex phase;
    };

    // `values(i)` gives bin i's uncalibrated magnitude, amplitude and phase.
    template<typename Values>
    void processValues(int averageType, const Calibration &calibration, BinRecord *records,
                       Values values);
    template<int Type, typename Values>
    void binLoop(Values values, const Calibration &calibration, BinRecord *records);
    template<typename Impulse>
    void impulseLoop(int averageType, const Impulse &impulse, float msPerSample,
                     ImpulsePoint *points);
    // Averages one bin's values; the moving and cumulative types first clean `value` of NaN
    // and infinity, and the bin meter then gets the cleaned amplitude.
    template<int Type>
    BinValue average(uint32_t i, BinValue &value);

    uint32_t bins_ = 0;
    uint32_t size_ = 0;
    uint32_t depth_ = 1;

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

    std::vector<Filter::BesselLPF<float>> smoothMagnitude_;
    std::vector<Filter::BesselLPF<float>> smoothAmplitude_;
    std::vector<Filter::BesselLPF<Complex>> smoothPhase_;
    std::vector<Filter::BesselLPF<float>> smoothImpulse_;

    std::vector<Meter> binMeters_;
};
