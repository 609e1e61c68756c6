// Time of the subwoofer crossover design and of the delay/polarity search, both run on the GUI
// thread when the engineer measures or edits: FFT-resolution curves (32767 points) of a main
// loudspeaker and a subwoofer crossing at 90 Hz.
#include "bench/BenchSupport.h"
#include "eq/SubAlignment.h"
#include "eq/SubCrossover.h"
#include "tests/eq/SyntheticCurves.h"

#include <cstdio>

using namespace snt::eq;

namespace {

const synthetic::SubwooferPair &pair()
{
    static const synthetic::SubwooferPair p = synthetic::subwooferPair(90.0, -6.0, 1.4, true);
    return p;
}

CrossoverResult design(int liftSetting)
{
    const synthetic::SubwooferPair &p = pair();
    return designSubCrossover(p.freq, p.mainDb, p.freq, synthetic::broadbandSubDb(p.freq, -10.0),
                              liftSetting);
}

void designSubCrossoverTime(benchmark::State &state)
{
    const synthetic::SubwooferPair &p = pair();
    const QList<float> subDb = synthetic::broadbandSubDb(p.freq, -10.0);
    const int lift = int(state.range(0));
    state.SetLabel(QStringLiteral("lift %1").arg(lift).toStdString());
    for (auto _ : state)
        benchmark::DoNotOptimize(designSubCrossover(p.freq, p.mainDb, p.freq, subDb, lift));
}

void alignSubToMainTime(benchmark::State &state)
{
    const synthetic::SubwooferPair &p = pair();
    const CrossoverResult designed = design(int(state.range(0)));
    state.SetLabel(QStringLiteral("window %1-%2 Hz")
                           .arg(designed.windowLowHz)
                           .arg(designed.windowHighHz)
                           .toStdString());
    for (auto _ : state) {
        CrossoverResult r = designed;
        alignSubToMain(r, p.freq, p.mainDb, p.mainPhase, p.coherence, p.freq, p.subPhase,
                       p.coherence);
        benchmark::DoNotOptimize(r);
    }
}

} // namespace

BENCHMARK(designSubCrossoverTime)->Arg(6)->Arg(15)->Arg(20)->Unit(benchmark::kMillisecond);
BENCHMARK(alignSubToMainTime)->Arg(6)->Arg(15)->Arg(20)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    for (const int lift : {6, 15, 20}) {
        const CrossoverResult r = design(lift);
        std::printf("lift %d: ok %d, high-pass %.1f Hz, low-pass %s%d %.1f Hz, gain %.1f dB, "
                    "%lld EQ bands, fit %.2f dB, window %.0f-%.0f Hz %s\n",
                    lift, r.ok, r.subHighPassHz, qPrintable(r.lowPassKind), r.lowPassOrder,
                    r.lowPassHz, r.subGainDb, qint64(r.subEqBands.size()), r.fitErrorDb,
                    r.windowLowHz, r.windowHighHz, qPrintable(r.why));
    }
    return runBenchmarks(argc, argv);
}
