// Processor time per curve of the headless EQ batch, through the program's bridge, against the
// EQ engine alone on the same curve (400 points with one resonance), in the time of all threads
// (the engine runs its lanes on threads of its own). The difference is the batch's own share with
// the bridge's: the curve file, its import, the worker thread, the wait, reading the schemes and
// their curves, and the result file, saved after every curve. A batch of one saves once; in a
// longer batch every save writes the two entries its kept copy lacks, and every entry stays in
// memory for a complete copy, so a batch of 20 costs a little more per curve.
// The two run turn by turn: one after the other, each met the machine in a state of its own (the
// allocator's free memory, the caches, other load), and their ratio moved from run to run by more
// than the batch's whole share.
#include "app/QmlBridge.h"
#include "app/store/CurveTextImport.h"
#include "bench/BenchSupport.h"
#include "eq/SchemeEngine.h"
#include "startup/EqBatch.h"
#include "tests/startup/BatchFiles.h"

#include <ctime>
#include <optional>

namespace {

// Processor time of every thread of the process so far.
double processCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

QJsonObject benchCurve()
{
    return snt::test::resonanceCurve("bench", 1000.0);
}

// The curve as the core hands it to the engine: imported from the batch's curve text.
std::optional<snt::eq::Measured> importedBenchCurve(const QTemporaryDir &dir)
{
    QFile text(dir.filePath("curve.txt"));
    ImportedCurve imported;
    if (!text.open(QIODevice::WriteOnly)
        || text.write(snt::startup::batchCurveText(benchCurve())) < 0 || !text.flush()
        || !importCurveText(text.fileName(), imported))
        return std::nullopt;
    snt::eq::Measured measured;
    measured.freq = imported.freq;
    measured.magnitude = imported.magnitude;
    measured.coherence = imported.coherence;
    measured.phase = imported.phase;
    return measured;
}

// Each iteration: the engine alone on `curves` curves with the core's options, then a batch of
// as many. Reports per curve "engine_all_threads_cpu_ms", "batch_all_threads_cpu_ms" and the
// batch's own share over the engine's in percent, "batch_own_pct".
void batchAgainstEngine(benchmark::State &state)
{
    const qint64 curves = state.range(0);
    QTemporaryDir dir;
    QJsonArray input;
    for (qint64 i = 0; i < curves; ++i)
        input.append(benchCurve());
    const std::optional<snt::eq::Measured> measured = importedBenchCurve(dir);
    if (!measured || !snt::test::writeBatchInput(dir.filePath("in.json"), input)) {
        state.SkipWithError("input not writable");
        return;
    }
    snt::eq::Options options;
    options.use = QStringLiteral("主扩");
    options.roomType = QStringLiteral("室内");
    options.programType = QStringLiteral("Livehouse");
    QmlBridge bridge;
    const snt::startup::EqBatch::Settings settings{dir.filePath("in.json"),
                                                   dir.filePath("out.json")};
    double engineMs = 0.0;
    double batchMs = 0.0;
    for (auto _ : state) {
        const double start = processCpuMs();
        for (qint64 i = 0; i < curves; ++i)
            benchmark::DoNotOptimize(snt::eq::computeSchemes(*measured, options, nullptr, {}));
        const double engineDone = processCpuMs();
        if (snt::startup::EqBatch(&bridge, settings).run() != 0) {
            state.SkipWithError("batch failed");
            return;
        }
        engineMs += engineDone - start;
        batchMs += processCpuMs() - engineDone;
    }
    const double perCurve = double(state.iterations() * curves);
    state.counters["engine_all_threads_cpu_ms"] = engineMs / perCurve;
    state.counters["batch_all_threads_cpu_ms"] = batchMs / perCurve;
    state.counters["batch_own_pct"] = 100.0 * (batchMs / engineMs - 1.0);
}

} // namespace

BENCHMARK(batchAgainstEngine)->Arg(1)->Iterations(200)->Unit(benchmark::kMillisecond);
BENCHMARK(batchAgainstEngine)->Arg(20)->Iterations(10)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    // The batch and the bridge log as they go; only the figures are wanted here.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    return runBenchmarksInOwnHome(argc, argv);
}
