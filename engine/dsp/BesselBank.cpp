#include "engine/dsp/BesselBank.h"

#include "engine/dsp/WideVectors.h"

#include <algorithm>

namespace Filter {

namespace {

// Corners at 0.02, 0.04 and 0.08 of the update rate; each has a DC gain of 1 within 0.2 %.
constexpr BesselPreset presets[3] = {
        {132731.3125f, {0.460008979f, -2.66539168f, 6.20065498f, -7.24088097f, 4.245368f}},
        {5908.17334f, {0.211639687f, -1.39931154f, 3.75252271f, -5.10975742f, 3.53949046f}},
        {350.802368f, {0.0448577888f, -0.369009912f, 1.27194595f, -2.32192183f, 2.28290844f}},
};

// One step over `count` filters; x[k] and y[k] are the rows of the inputs and outputs k ticks
// back, x[0] and y[0] this tick's.
WIDE_VECTOR_CLONES void stepRows(const BesselPreset &p, quint32 count, const float *__restrict in,
                                 float *__restrict out, float *__restrict x0, float *__restrict y0,
                                 const float *__restrict x1, const float *__restrict x2,
                                 const float *__restrict x3, const float *__restrict x4,
                                 const float *__restrict x5, const float *__restrict y1,
                                 const float *__restrict y2, const float *__restrict y3,
                                 const float *__restrict y4, const float *__restrict y5)
{
    const float gain = p.gain;
    const float c0 = p.c[0], c1 = p.c[1], c2 = p.c[2], c3 = p.c[3], c4 = p.c[4];
    for (quint32 k = 0; k < count; ++k) {
        const float x = in[k] / gain;
        const float feedForward
                = x + x1[k] * 5.0f + x2[k] * 10.0f + x3[k] * 10.0f + x4[k] * 5.0f + x5[k];
        const float feedBack = y5[k] * c0 + y4[k] * c1 + y3[k] * c2 + y2[k] * c3 + y1[k] * c4;
        const float y = feedForward + feedBack;
        x0[k] = x;
        y0[k] = y;
        out[k] = y;
    }
}

WIDE_VECTOR_CLONES bool anyNotNumber(quint32 count, const float *__restrict x)
{
    unsigned nan = 0;
    for (quint32 k = 0; k < count; ++k)
        nan |= x[k] != x[k];
    return nan != 0;
}

} // namespace

BesselBank::BesselBank(int channels)
    : channels_(channels)
    , preset_(&presets[0])
{ }

void BesselBank::resize(quint32 filters)
{
    filters_ = filters;
    history_.assign(std::size_t(channels_) * 2 * slotCount * filters, 0.0f);
    preset_ = &presets[0];
}

void BesselBank::setPreset(int preset)
{
    if (preset >= 0 && preset < 3)
        preset_ = &presets[preset];
    clear();
}

void BesselBank::clear()
{
    std::fill(history_.begin(), history_.end(), 0.0f);
}

void BesselBank::beginTick()
{
    slot_ = (slot_ + 1) % slotCount;
}

void BesselBank::process(quint32 from, quint32 count, const float *const *input,
                         float *const *output)
{
    bool anyNan = false;
    for (int c = 0; c < channels_; ++c) {
        stepChannel(c, from, count, input[c], output[c]);
        anyNan = anyNan || anyNotNumber(count, input[c]);
    }
    for (quint32 k = 0; anyNan && k < count; ++k) {
        bool nan = false;
        for (int c = 0; c < channels_; ++c)
            nan = nan || input[c][k] != input[c][k];
        if (!nan)
            continue;
        holdFilter(from + k);
        for (int c = 0; c < channels_; ++c)
            output[c][k] = row(c, true, slot_)[from + k];
    }
}

void BesselBank::settle(quint32 from, quint32 count, const float *const *input)
{
    // The steady output for an input u is u·(32 / gain) / (1 − Σc); the sum comes within a few
    // parts in ten thousand of 1, so it is formed in double.
    const BesselPreset &p = *preset_;
    double feedback = 0.0;
    for (const float c : p.c)
        feedback += double(c);
    const double dcGain = 32.0 / double(p.gain) / (1.0 - feedback);
    for (quint32 k = 0; k < count; ++k) {
        bool nan = false;
        for (int c = 0; c < channels_; ++c)
            nan = nan || input[c][k] != input[c][k];
        if (nan)
            continue;
        for (int c = 0; c < channels_; ++c) {
            const float x = input[c][k];
            for (int slot = 0; slot < slotCount; ++slot) {
                row(c, false, slot)[from + k] = x / p.gain;
                row(c, true, slot)[from + k] = float(double(x) * dcGain);
            }
        }
    }
}

void BesselBank::stepChannel(int c, quint32 from, quint32 count, const float *input, float *output)
{
    stepRows(*preset_, count, input, output, row(c, false, slot_) + from,
             row(c, true, slot_) + from, row(c, false, slotBack(1)) + from,
             row(c, false, slotBack(2)) + from, row(c, false, slotBack(3)) + from,
             row(c, false, slotBack(4)) + from, row(c, false, slotBack(5)) + from,
             row(c, true, slotBack(1)) + from, row(c, true, slotBack(2)) + from,
             row(c, true, slotBack(3)) + from, row(c, true, slotBack(4)) + from,
             row(c, true, slotBack(5)) + from);
}

void BesselBank::holdFilter(quint32 i)
{
    // Its history moves one slot on with the others, so that this tick's slot holds what was
    // its newest, and so on back.
    for (int c = 0; c < channels_; ++c) {
        for (const bool outputs : {false, true}) {
            for (int k = 0; k < slotCount - 1; ++k)
                row(c, outputs, slotBack(k))[i] = row(c, outputs, slotBack(k + 1))[i];
        }
    }
}

} // namespace Filter
