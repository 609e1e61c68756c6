// What the GUI thread does while the engineer picks and edits a scheme: one read of `schemes`
// (the previews of all six schemes) and one edit cycle on the delivery screen (a band moved,
// then a read of every property the screen binds: corners, bands, the after, before and
// coherence curves), on a 32768-bin measurement. The previews are kept per source (scheme,
// snapshot, measurement), so a read with nothing changed makes none, and a read after an edit
// makes only the edited scheme's preview again; for scale, the six previews made afresh (at once,
// one thread each) as the first read after a new result makes them.
#include "app/AppCore.h"
#include "app/QmlBridge.h"
#include "app/SchemePreviews.h"
#include "audio/Client.h"
#include "bench/BenchSupport.h"
#include "tests/eq/SyntheticCurves.h"

#include <QThread>

namespace {

// A bridge on the delivery screen with the six schemes computed for a rough 32768-bin curve.
std::unique_ptr<QmlBridge> computedBridge()
{
    auto bridge = std::make_unique<QmlBridge>();
    const snt::eq::Measured curve
            = snt::eq::synthetic::curve(snt::eq::synthetic::roughFeatures(), 60.0, 4, 18000.0, 2);
    bridge->core().setMeasured(
            {.freq = curve.freq, .magnitude = curve.magnitude, .coherence = curve.coherence});
    bridge->startCompute();
    for (int i = 0; i < 6000 && bridge->computing(); ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
    bridge->enterScheme(0);
    return bridge;
}

std::string label(QmlBridge &bridge)
{
    return QStringLiteral("%1 schemes, %2 bins")
            .arg(bridge.core().result().schemes.size())
            .arg(bridge.core().measured().freq.size())
            .toStdString();
}

void schemesRead(benchmark::State &state)
{
    std::unique_ptr<QmlBridge> bridge = computedBridge();
    state.SetLabel(label(*bridge));
    timeEachIteration(state, [&] { benchmark::DoNotOptimize(bridge->schemes().size()); });
}

void schemesReadWithNothingKept(benchmark::State &state)
{
    std::unique_ptr<QmlBridge> bridge = computedBridge();
    const AppCore &core = bridge->core();
    snt::eq::Measured snapshot;
    snapshot.freq = core.measured().freq;
    snapshot.magnitude = core.measured().magnitude;
    snapshot.coherence = core.measured().coherence;
    state.SetLabel(label(*bridge));
    timeEachIteration(state, [&] {
        SchemePreviews fresh;
        benchmark::DoNotOptimize(fresh.curves(core.result().schemes, snapshot, snapshot).size());
    });
}

void editCycle(benchmark::State &state)
{
    std::unique_ptr<QmlBridge> bridge = computedBridge();
    state.SetLabel(label(*bridge));
    const snt::eq::SchemeBand first = bridge->core().result().schemes[0].bands.value(0);
    int step = 0;
    timeEachIteration(state, [&] {
        // A new gain every time, so every cycle makes the edited preview anew.
        bridge->updateEqBand(0, first.freq, first.q, -6.0 + 0.001 * (++step % 10000));
        benchmark::DoNotOptimize(bridge->corners().size() + bridge->eqBands().size()
                                 + bridge->schemeAfter().size() + bridge->schemeBefore().size()
                                 + bridge->schemeCoherence().size());
    });
}

} // namespace

BENCHMARK(schemesRead)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(200);
BENCHMARK(schemesReadWithNothingKept)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(20);
BENCHMARK(editCycle)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(300);

int main(int argc, char **argv)
{
    return runBenchmarksInOwnHome(argc, argv, [] {
        QCoreApplication::setOrganizationName(QStringLiteral("Halvo"));
        QCoreApplication::setApplicationName(QStringLiteral("测量工作流"));
        audio::Client::setPluginFactories({});
    });
}
