// What the curve window does on the GUI thread with a large saved result: the text export of an
// ordinary pack and of a line array with its points (every file written and flushed to disk),
// and the detail curves drawn when a pack is picked.
#include "app/PackDetail.h"
#include "app/PackTextExport.h"
#include "app/store/CurvePack.h"
#include "bench/BenchSupport.h"

#include <cmath>

namespace {

constexpr qsizetype kBins = 8193; // a 16384-point transform

QList<float> binFrequencies()
{
    QList<float> freq(kBins);
    for (qsizetype i = 0; i < kBins; ++i)
        freq[i] = float(i + 1) * 48000.0f / 16384.0f;
    return freq;
}

CurvePack measuredPack(int points)
{
    CurvePack pack;
    pack.name = QStringLiteral("线阵列 01");
    pack.use = points > 0 ? QStringLiteral("线阵列") : QStringLiteral("主扩");
    pack.freq = binFrequencies();
    pack.level = noise(kBins, 1);
    pack.phase = noise(kBins, 2);
    pack.coherence = QList<float>(kBins, 0.9f);
    pack.delayMs = 3.5;
    pack.bands = {{120.0f, -4.0f, 2.0f, true}, {2500.0f, 3.0f, 1.4f, true}};
    pack.low = {true, QStringLiteral("LR"), 4, 45.0};
    for (int p = 0; p < points; ++p) {
        pack.pointFreq.append(pack.freq);
        QList<float> magnitude = noise(kBins, 10 + p);
        for (float &m : magnitude)
            m = 1.0f + std::abs(m);
        pack.pointLevel.append(magnitude);
        pack.pointPhase.append(noise(kBins, 100 + p));
        pack.pointCoherence.append(pack.coherence);
    }
    return pack;
}

void BM_Export(benchmark::State &state)
{
    const CurvePack pack = measuredPack(int(state.range(0)));
    const QString folder = PackTextExport::folderFor(pack.name);
    for (auto _ : state) {
        if (!PackTextExport::write(folder, PackTextExport::curvesOf(pack)))
            state.SkipWithError("export failed");
    }
    state.counters["files"] = double(PackTextExport::curvesOf(pack).size());
}
BENCHMARK(BM_Export)->Arg(0)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Detail(benchmark::State &state)
{
    const CurvePack pack = measuredPack(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(PackDetail::curves(pack, 6));
}
BENCHMARK(BM_Detail)->Arg(0)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    return runBenchmarksInOwnHome(argc, argv);
}
