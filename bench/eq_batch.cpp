// Time per curve of the headless EQ batch against the EQ engine alone on the same curve (a
// 400-point curve with one resonance). The difference is the batch's own share: the curve file,
// its import, the worker thread, the event pumping while it waits and the result file. The batch
// drives a bridge over the application core as the program's bridge does.
#include "app/store/CurveTextImport.h"
#include "bench/BenchSupport.h"
#include "eq/SchemeEngine.h"
#include "startup/EqBatch.h"
#include "tests/startup/CoreBridge.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

namespace {

struct Files
{
    QTemporaryDir dir;
    QString input = dir.filePath("in.json");
    QString output = dir.filePath("out.json");
    QString curveText = dir.filePath("curve.txt");
};

Files &files()
{
    static Files f;
    static const bool written = [] {
        const QJsonObject curve = snt::test::resonanceCurve("bench", 1000.0);
        QFile input(f.input);
        QFile text(f.curveText);
        return input.open(QIODevice::WriteOnly)
               && input.write(QJsonDocument(QJsonObject{{"curves", QJsonArray{curve}}}).toJson())
                          > 0
               && text.open(QIODevice::WriteOnly)
               && text.write(snt::startup::batchCurveText(curve)) > 0;
    }();
    Q_UNUSED(written);
    return f;
}

// The engine on the curve as the core hands it over: imported from the batch's curve text,
// with the core's options.
void engineAlone(benchmark::State &state)
{
    ImportedCurve imported;
    if (!importCurveText(files().curveText, imported)) {
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
    for (auto _ : state)
        benchmark::DoNotOptimize(snt::eq::computeSchemes(measured, options, nullptr, {}));
}

void batchPerCurve(benchmark::State &state)
{
    snt::test::CoreBridge bridge;
    for (auto _ : state) {
        if (snt::startup::EqBatch(&bridge, {files().input, files().output}).run() != 0)
            state.SkipWithError("batch failed");
    }
}

} // namespace

BENCHMARK(engineAlone)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(batchPerCurve)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv)
{
    // The batch logs a line per run; only the figures are wanted here.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    return runBenchmarksInOwnHome(argc, argv);
}
