#pragma once

#include "eq/Records.h"

#include <QList>

namespace snt::eq {

// Finds the delay (0.1 ms steps, within ±20 ms) and polarity that bring the subwoofer's phase onto
// the main's in the design's crossover window, from one measurement of each at the same
// microphone position. Fills `aligned`, `alignDelayMs` and `alignInvert`, or says in `why` what
// kept it from aligning. Only points whose coherence is good enough are compared; the main level
// is not used.
void alignSubToMain(CrossoverResult &result, const QList<float> &mainFreq,
                    const QList<float> &mainDb, const QList<float> &mainPhase,
                    const QList<float> &mainCoherence, const QList<float> &subFreq,
                    const QList<float> &subPhase, const QList<float> &subCoherence);

} // namespace snt::eq
