// Time of the alignment work that runs on the GUI thread when a run ends or the engineer edits,
// on captures of 8192 bins (a 16384-point transform at 48 kHz): the subwoofer alignment capture
// after its run stopped (levels to dB, phase unwrap, smoothing, the delay/polarity finder, the
// diagnostics file), the crossover design at the alignment stage (with its alignment and
// diagnostics), one subwoofer EQ edit followed by a read of every curve and figure the result
// screen shows, and the fill alignment's pulse capture on a 16384-point impulse response.
// Limits: 100 ms for each of the first two, 16 ms at the 95th percentile for the edit, 2 ms for
// the pulse capture; each benchmark's label repeats its limit.
#include "app/AlignmentDiagnostics.h"
#include "app/ChartPoints.h"
#include "app/FillAlignment.h"
#include "app/SubwooferAlignment.h"
#include "app/SubwooferCrossover.h"
#include "app/SubwooferViews.h"
#include "bench/BenchSupport.h"
#include "tests/eq/SyntheticCurves.h"

#include <cmath>

namespace synthetic = snt::eq::synthetic;

namespace {

constexpr int bins = 8192;
constexpr double crossoverHz = 90.0;

struct Capture
{
    QList<float> freq;
    QList<float> magnitude;
    QList<float> coherence;
    QList<float> phase;
};

// A Linkwitz-Riley crossover of order 4 at 90 Hz as measured: the main's high-pass, or the
// subwoofer's low-pass arriving 1.4 ms later, with the phase wrapped as a run reports it.
Capture capture(bool subwoofer)
{
    Capture c;
    for (int k = 1; k <= bins; ++k) {
        const double f = k * 48000.0 / (2.0 * bins);
        const double db = 2.0 * synthetic::butterworthDb(f, crossoverHz, 2, !subwoofer)
                          + (subwoofer ? synthetic::butterworthDb(f, 28.0, 4, true) - 6.0 : 0.0);
        const double phase = synthetic::linkwitzRiley4PhaseDeg(f, crossoverHz)
                             - (subwoofer ? 0.36 * f * 1.4 : 0.0);
        c.freq.append(float(f));
        c.magnitude.append(float(std::pow(10.0, db / 20.0)));
        c.coherence.append(0.98f);
        c.phase.append(float(synthetic::wrappedDeg(phase)));
    }
    return c;
}

// The crossover at the alignment stage: both curves captured and designed.
SubwooferCrossover designed()
{
    const Capture main = capture(false);
    const Capture sub = capture(true);
    SubwooferCrossover c;
    c.main.takeCapture(main.freq, main.magnitude, main.coherence, main.phase);
    c.main.resmooth();
    c.measured = 1;
    c.takeSubCapture(sub.freq, sub.magnitude, sub.coherence, sub.phase);
    c.design(true);
    c.addEqBand();
    return c;
}

void subAlignCapture(benchmark::State &state)
{
    const Capture main = capture(false);
    const Capture sub = capture(true);
    const SubwooferCrossover crossover = designed();
    SubwooferAlignment mainCaptured;
    mainCaptured.takeCapture(SubwooferAlignment::MainCapture, main.freq, main.magnitude,
                             main.coherence, main.phase, 3.0);
    SubwooferAlignment alignment;
    timeEachIteration(state, [&] {
        alignment = mainCaptured;
        snt::eq::CrossoverResult design = crossover.result;
        alignment.takeCapture(SubwooferAlignment::SubCapture, sub.freq, sub.magnitude,
                              sub.coherence, sub.phase, 4.4);
        alignment.align(design);
        diagnostics::writeAlignment(design, alignment);
    });
    state.SetLabel(QStringLiteral("limit 100 ms; aligned %1: %2 ms")
                           .arg(alignment.aligned)
                           .arg(alignment.delayMs)
                           .toStdString());
}

void subRecomputeAtAlignStage(benchmark::State &state)
{
    SubwooferCrossover crossover = designed();
    timeEachIteration(state, [&] {
        crossover.design(true);
        diagnostics::writeCrossover(crossover);
        benchmark::DoNotOptimize(crossover.result);
    });
    state.SetLabel(crossover.result.aligned ? "limit 100 ms; designed and aligned"
                                            : "limit 100 ms; designed");
}

// What the result screen reads after each edit, through the functions behind the bridge's
// properties: the main, processed, summed and target curves, both coherences, the design's
// figures and the EQ bands.
qsizetype readResultScreen(const SubwooferCrossover &c)
{
    qsizetype size = 0;
    for (const QVariantList &curve :
         {subwoofer::beforeCurve(c), subwoofer::processedCurve(c), subwoofer::summedCurve(c),
          subwoofer::targetCurve(c), plotPoints(c.main.freq, c.main.coherence, 480),
          plotPoints(c.sub.freq, c.sub.coherence, 480), subwoofer::eqBands(c)})
        size += curve.size();
    return size + subwoofer::info(c).size();
}

void subEditCycle(benchmark::State &state)
{
    SubwooferCrossover crossover = designed();
    int step = 0;
    timeEachIteration(state, [&] {
        crossover.updateEq(0, 60.0 + (step++ % 40), 1.0, -3.0);
        benchmark::DoNotOptimize(readResultScreen(crossover));
    });
    state.SetLabel("limit 16 ms at p95");
}

void fillPulseCapture(benchmark::State &state)
{
    constexpr int points = 16384;
    QList<float> timeMs(points);
    QList<float> amplitude(points);
    for (int i = 0; i < points; ++i) {
        timeMs[i] = float((i - points / 2) * 1000.0 / 48000.0);
        amplitude[i] = float(std::exp(-std::pow((i - 9000) / 6.0, 2.0)) + 0.001 * (i % 7));
    }
    timeEachIteration(state, [&] {
        FillAlignment fill;
        benchmark::DoNotOptimize(fill.capture(FillAlignment::Pulse::Main, timeMs, amplitude));
    });
    state.SetLabel("limit 2 ms");
}

} // namespace

BENCHMARK(subAlignCapture)->UseManualTime()->Iterations(40)->Unit(benchmark::kMillisecond);
BENCHMARK(subRecomputeAtAlignStage)->UseManualTime()->Iterations(40)->Unit(benchmark::kMillisecond);
BENCHMARK(subEditCycle)->UseManualTime()->Iterations(400)->Unit(benchmark::kMillisecond);
BENCHMARK(fillPulseCapture)->UseManualTime()->Iterations(400)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    return runBenchmarksInOwnHome(argc, argv);
}
