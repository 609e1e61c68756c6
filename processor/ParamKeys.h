#pragma once

#include <QLatin1String>
#include <QString>

// Where a channel's settings sit among the processor's parameter keys. A key is a group name, a
// parameter name and a decimal index: "GAINgain" with index 16 is input A's gain. Inputs are
// idx 0 to 3 (A to D), outputs idx 0 to 7 (1 to 8).
namespace processor {

constexpr int kInputs = 4;
constexpr int kOutputs = 8;
constexpr int kBands = 15;

inline QString paramKey(const char *name, int index)
{
    return QLatin1String(name) + QString::number(index);
}

inline bool validChannel(bool isOut, int idx)
{
    return idx >= 0 && idx < (isOut ? kOutputs : kInputs);
}

// GAIN and DELAY: inputs at 16 to 19, outputs at 28 to 35.
inline int channelIndex(bool isOut, int idx)
{
    return idx + (isOut ? 28 : 16);
}

// An output's mute is kept twice, in the layer at 20 to 27 as well as at 28 to 35.
inline int outputMuteLayerIndex(int idx)
{
    return idx + 20;
}

// MIXERmute: 1 when input `in` does not feed output `out`.
inline int routeIndex(int out, int in)
{
    return 16 + out * kInputs + in;
}

// PEQ: 15 bands a channel, inputs from 0, outputs from 140.
inline int peqIndex(bool isOut, int idx, int band)
{
    return idx * kBands + (isOut ? 140 : 0) + band;
}

// HLPF: high-passes of inputs then outputs from 0, low-passes of inputs then outputs from 12.
inline int cornerIndex(bool isOut, int idx, bool highPass)
{
    return idx + (highPass ? 0 : 12) + (isOut ? kInputs : 0);
}

} // namespace processor
