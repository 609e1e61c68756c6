#pragma once

#include "engine/dsp/Complex.h"
#include "eq/DisplaySmoothing.h"
#include "eq/Records.h"

#include <QList>

// The response of a stored curve's EQ, its peaking bands and corner filters, at many frequencies
// at once: a preview evaluates it at every point of an FFT-resolution curve on every edit.
namespace snt::eq {

// True for a corner that is on, above 0 Hz and of order 1 or more; others add nothing.
bool cornerApplies(const Corner &corner);

// The corner as the filter it stands for: its kind's family at Q 0.707. Side 0 is the high-pass,
// side 1 the low-pass.
Complex cornerResponse(const Corner &corner, int side, float f);

// The level of a corner's response in dB, floored at -180 dB (1e-9), far below any chart.
double cornerLevelDb(const Complex &h);

// What eqResponse works out; the other lists stay empty.
enum EqPart : unsigned { Level = 1, Phase = 2, Turn = 4 };

struct EqResponse
{
    QList<float> db; // Level: dB
    QList<float> phase; // Phase: degrees, each filter's angle wrapped on its own at the first
            // frequency and the sum wrapped at the others
    Phasors turn; // Turn: the unit phasor of the response
};

// The enabled bands (|gain| of 0.0001 dB or more) and both corners at each frequency.
EqResponse eqResponse(const QList<SchemeBand> &bands, const CornerEstimate &corners,
                      const QList<float> &freq, unsigned parts);

} // namespace snt::eq
