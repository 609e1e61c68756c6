#pragma once

#include "eq/Records.h"

#include <QList>
#include <QString>

// Estimation of a measured curve's natural corners: where the loudspeaker's low end (high-pass)
// and high end (low-pass) roll off, and whether the low end looks cut by something else.
namespace snt::eq {

// Estimates the corners of a curve (levels in dB). targetIndex selects a preset whose low-cut lock
// fixes the high-pass; outside 0..5 no target applies. floorHz is the lowest high-pass corner the
// estimate may give. Frequencies are not rounded.
CornerEstimate designCorners(const QList<float> &freq, const QList<float> &levels, int targetIndex,
                             const QList<float> &coherence, double floorHz);

// "24 dB/oct · LR" for an order-4 LR corner; empty when the corner is off.
QString slopeText(const Corner &corner);
// The unit of filterFrequencyText: "kHz" from 1000 Hz, else "Hz"; empty when off.
QString frequencyText(const Corner &corner);
// "不开" when off; kHz with one decimal from 1000 Hz; else whole Hz.
QString filterFrequencyText(const Corner &corner);

} // namespace snt::eq
