// Time of one chart preview as a band or corner edit recomputes it on the GUI thread: a
// 32768-point measured curve with 10 EQ bands and 2 corner filters, without smoothing and at the
// usual 1/6 octave, level only or with phase.
#include "bench/BenchSupport.h"
#include "eq/CurvePreparation.h"
#include "eq/DisplayCurve.h"
#include "tests/eq/SyntheticCurves.h"

using namespace snt::eq;

namespace {

const Measured &measured()
{
    static const Measured m = [] {
        Measured rough = synthetic::curve(synthetic::roughFeatures(), 60.0, 4, 18000.0, 2);
        rough.freq.append(24000.0f);
        rough.magnitude.append(rough.magnitude.last());
        return rough;
    }();
    return m;
}

CurveRecord editedCurve(int smoothBands, bool withPhase)
{
    const Measured &m = measured();
    CurveRecord record;
    record.freq = m.freq;
    record.levelDb = toDb(m.magnitude);
    record.coherence = QList<float>(m.freq.size(), 1.0f);
    record.delayMs = 3.2;
    if (withPhase) {
        for (const float f : std::as_const(m.freq))
            record.phaseDeg.append(float(synthetic::wrappedDeg(-0.36 * f * 3.25)));
    }
    for (const synthetic::Feature &x : synthetic::roughFeatures().mid(0, 10))
        record.bands.append({float(x.hz), float(-x.gainDb), float(x.q), true});
    record.corners.highPass = {true, QStringLiteral("BW"), 4, 70.0};
    record.corners.lowPass = {true, QStringLiteral("LR"), 4, 16000.0};
    record.smoothBands = smoothBands;
    return record;
}

void prepareDisplayCurveTime(benchmark::State &state)
{
    const CurveRecord record = editedCurve(int(state.range(0)), state.range(1) != 0);
    state.SetLabel(QStringLiteral("%1 points, 1/%2 octave, %3")
                           .arg(record.freq.size())
                           .arg(record.smoothBands)
                           .arg(record.phaseDeg.isEmpty() ? "level" : "level and phase")
                           .toStdString());
    for (auto _ : state)
        benchmark::DoNotOptimize(prepareDisplayCurve(record));
}

} // namespace

BENCHMARK(prepareDisplayCurveTime)->ArgsProduct({{0, 6}, {0, 1}})->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    return runBenchmarks(argc, argv);
}
