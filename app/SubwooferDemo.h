#pragma once

#include "app/SubwooferCurve.h"

class SubwooferCrossover;

// Synthetic curves that fill the subwoofer flow without audio, for demos and screenshots: a main
// system rolling off below 100 Hz and a subwoofer rolling off above 80 Hz, each with a gentle
// ripple, coherence 0.9 and the phase of a pure delay. Only the measured levels are set; the
// smoothed ones are left to the flow.
namespace subwoofer {

constexpr double demoMainDelayMs = 8.6;
constexpr double demoSubDelayMs = 10.0;

SubwooferCurve demoMainCurve();
SubwooferCurve demoSubCurve();
// Gives a design without EQ bands two gentle cuts (63 Hz −3 dB Q 1.2, 125 Hz −2 dB Q 1), so the
// demo's result screen has bands to show.
void addDemoBands(SubwooferCrossover &crossover);

} // namespace subwoofer
