// Time per curve of the headless EQ batch, through the program's bridge, against the EQ engine
// alone on the same curve (400 points with one resonance). The difference is the batch's own
// share with the bridge's: the curve file, its import, the worker thread, the wait, reading the
// schemes and their curves, and the result file, saved after every curve (only the entries its
// kept copy lacks are written, so a batch of 20 should cost no more per curve than a batch of one).
// Both are given in wall time and in the processor time of all threads per curve.
#include "app/QmlBridge.h"
#include "app/store/CurveTextImport.h"
#include "bench/BenchSupport.h"
#include "eq/SchemeEngine.h"
#include "startup/EqBatch.h"
#include "tests/startup/BatchFiles.h"

#include <algorithm>
#include <ctime>

namespace {

// Processor time of every thread of the process: the engine runs its lanes on threads of their
// own, which the benchmark's CPU column (the calling thread's alone) does not see.
double processCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// Reports the processor time of all threads per curve as "all_threads_cpu_ms".
void reportCpuPerCurve(benchmark::State &state, double startMs, qint64 curvesPerIteration)
{
    const double curves = double(state.iterations() * curvesPerIteration);
    state.counters["all_threads_cpu_ms"] = (processCpuMs() - startMs) / std::max(curves, 1.0);
}

QJsonObject benchCurve()
{
    return snt::test::resonanceCurve("bench", 1000.0);
}

// The engine on the curve as the core hands it over: imported from the batch's curve text,
// with the core's options.
void engineAlone(benchmark::State &state)
{
    QTemporaryDir dir;
    QFile text(dir.filePath("curve.txt"));
    ImportedCurve imported;
    if (!text.open(QIODevice::WriteOnly)
        || text.write(snt::startup::batchCurveText(benchCurve())) < 0 || !text.flush()
        || !importCurveText(text.fileName(), imported)) {
        state.SkipWithError("curve text not readable");
        return;
    }
    snt::eq::Measured measured;
    measured.freq = imported.freq;
    measured.magnitude = imported.magnitude;
    measured.coherence = imported.coherence;
    measured.phase = imported.phase;
    snt::eq::Options options;
    options.use = QStringLiteral("主扩");
    options.roomType = QStringLiteral("室内");
    options.programType = QStringLiteral("Livehouse");
    const double startMs = processCpuMs();
    for (auto _ : state)
        benchmark::DoNotOptimize(snt::eq::computeSchemes(measured, options, nullptr, {}));
    reportCpuPerCurve(state, startMs, 1);
}

void batchPerCurve(benchmark::State &state)
{
    QTemporaryDir dir;
    QJsonArray curves;
    for (int i = 0; i < state.range(0); ++i)
        curves.append(benchCurve());
    if (!snt::test::writeBatchInput(dir.filePath("in.json"), curves)) {
        state.SkipWithError("input not writable");
        return;
    }
    QmlBridge bridge;
    const double startMs = processCpuMs();
    for (auto _ : state) {
        if (snt::startup::EqBatch(&bridge, {dir.filePath("in.json"), dir.filePath("out.json")})
                    .run()
            != 0)
            state.SkipWithError("batch failed");
    }
    reportCpuPerCurve(state, startMs, state.range(0));
    state.SetItemsProcessed(state.iterations() * state.range(0)); // curves per second
}

} // namespace

BENCHMARK(engineAlone)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(batchPerCurve)->Arg(1)->Arg(20)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv)
{
    // The batch and the bridge log as they go; only the figures are wanted here.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    return runBenchmarksInOwnHome(argc, argv);
}
