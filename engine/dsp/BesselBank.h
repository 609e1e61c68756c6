#pragma once

#include <QtGlobal>
#include <vector>

namespace Filter {

// The gain and feedback coefficients of one corner of the fifth-order Bessel low-pass.
struct BesselPreset
{
    float gain;
    float c[5];
};

// Many fifth-order Bessel low-passes run in step, one per bin, each over one or more channels
// (a complex value is two): the smoothing of Filter::BesselLPF, laid out so that a tick runs over
// the bins a row at a time. Every filter keeps its last six inputs (over the gain) and outputs
// in six slotCount that all filters share: a tick writes the next slot and reads the five before it,
// y = (x + 5·x₁ + 10·x₂ + 10·x₃ + 5·x₄ + x₅) + (c₀·y₅ + c₁·y₄ + c₂·y₃ + c₃·y₂ + c₄·y₁), in
// exactly that order, so each filter computes what a filter of its own would, to the bit. A NaN
// input (in any channel) leaves that filter as it was and repeats its last output.
class BesselBank
{
public:
    explicit BesselBank(int channels = 1);

    // `filters` filters at preset 0 with empty histories.
    void resize(quint32 filters);
    // Presets 0 … 2 set gain and coefficients; any value clears every history.
    void setPreset(int preset);
    void clear();

    quint32 size() const { return filters_; }
    int channels() const { return channels_; }

    // Starts a tick: the next slot becomes the newest of every filter.
    void beginTick();
    // One step of filters [from, from + count): input[c][k] is channel c's input of filter
    // from + k, output[c][k] receives its output (the two do not overlap). Each filter steps
    // once per tick.
    void process(quint32 from, quint32 count, const float *const *input, float *const *output);
    // Gives filters [from, from + count) the histories they would have after taking input[c][k]
    // for ever, so that this tick's step reads it at once (times the DC gain) instead of rising
    // to it from nothing; a filter with a NaN among its inputs is left as it is. Within a tick,
    // before its process().
    void settle(quint32 from, quint32 count, const float *const *input);

private:
    static constexpr int slotCount = 6;

    float *row(int channel, bool outputs, int slot)
    {
        return history_.data()
               + (std::size_t(channel * 2 + (outputs ? 1 : 0)) * slotCount + slot) * filters_;
    }
    int slotBack(int k) const { return (slot_ + slotCount - k) % slotCount; }
    void stepChannel(int channel, quint32 from, quint32 count, const float *input, float *output);
    // Puts a filter that met a NaN back as it was before this tick.
    void holdFilter(quint32 i);

    int channels_;
    quint32 filters_ = 0;
    int slot_ = 0;
    const BesselPreset *preset_;
    std::vector<float> history_;
};

} // namespace Filter
