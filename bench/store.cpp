// Capture files of the largest size the readers accept, and stores of 50 to 20,000 packs in 20
// projects written and read back: a save after one edit (as the bridge's delayed save makes
// after every scheme edit), a save with every pack changed, a load (the files read before), and
// the first load of a store (every file read and parsed, as at the program's start).
#include "app/store/CaptureFiles.h"
#include "app/store/ProjectStore.h"
#include "bench/BenchSupport.h"
#include "files/DataFolder.h"
#include "tests/app/store/StoreTestFiles.h"

#include <QCoreApplication>
#include <QTemporaryDir>

namespace {

constexpr qsizetype kCaptureValues = 2000000;
constexpr int kProjects = 20;

CurvePack largeCapture()
{
    CurvePack pack;
    pack.freq = ramp(kCaptureValues, 20.0f, 0.01f);
    pack.level = ramp(kCaptureValues, -40.0f, 1e-5f);
    pack.phase = ramp(kCaptureValues, -180.0f, 1e-4f);
    pack.coherence = ramp(kCaptureValues, 0.2f, 1e-7f);
    return pack;
}

constexpr int64_t kCaptureBytes = 11 + 16 * int64_t(kCaptureValues);

void BM_WriteCapture(benchmark::State &state)
{
    CurvePack pack = largeCapture();
    for (auto _ : state) {
        if (!writeRawFile(pack))
            state.SkipWithError("write failed");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kCaptureBytes);
}
BENCHMARK(BM_WriteCapture)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadCapture(benchmark::State &state)
{
    CurvePack written = largeCapture();
    writeRawFile(written);
    for (auto _ : state) {
        CurvePack pack;
        pack.rawFile = written.rawFile;
        if (!readRawFile(pack))
            state.SkipWithError("read failed");
        benchmark::DoNotOptimize(pack.coherence.constData());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kCaptureBytes);
}
BENCHMARK(BM_ReadCapture)->Unit(benchmark::kMillisecond)->UseRealTime();

// A store as an engineer fills it, saved and read back: packs with EQ bands, corners and a few
// named curves. The store's files of an earlier run are removed first.
void savedStore(ProjectStore &store, int packCount)
{
    QDir(projectsDir()).removeRecursively();
    QFile::remove(curvePackRootFile());
    for (int p = 0; p < kProjects; ++p)
        putBytes(projectsDir() + QStringLiteral("/工程 %1.json").arg(p),
                 "{\"roomType\": \"室内\"}");
    for (int i = 0; i < packCount; ++i) {
        CurvePack pack;
        pack.name = QStringLiteral("主扩 %1").arg(i + 1);
        pack.use = QStringLiteral("主扩");
        pack.project = QStringLiteral("工程 %1").arg(i % kProjects);
        pack.time = QStringLiteral("12-06 17:09");
        pack.seq = i + 1;
        pack.rawFile = QStringLiteral("0f8fad5b-d9cb-469f-a165-%1.raw").arg(i, 12, 10, QChar('0'));
        pack.rawPoints = 8193;
        pack.delayMs = 3.25 + i;
        for (int b = 0; b < 10; ++b)
            pack.bands.append({40.0f * float(b + 1), -3.5f + float(b) * 0.5f, 1.4f, true});
        pack.low = {true, QStringLiteral("LR"), 4, 45.0};
        pack.high = {true, QStringLiteral("BW"), 2, 16000.0};
        pack.curveLabels = {QStringLiteral("前"), QStringLiteral("后")};
        pack.curves = {ramp(32, -3.0f, 0.1f), ramp(32, -1.0f, 0.05f)};
        store.curvePacks.append(pack);
    }
    store.saveCurvePacks();
    // Read back as the program reads its store at start, before any edit.
    store.listProjects();
    store.loadCurvePacks();
}

// The usual save, one pack edited so one project file changes; or the worst case, every pack
// changed so every project file and the root file are rewritten.
void BM_SavePacks(benchmark::State &state, bool allChanged)
{
    const int packs = int(state.range(0));
    ProjectStore store;
    savedStore(store, packs);
    int edit = 0;
    for (auto _ : state) {
        for (int i = 0; i < (allChanged ? packs : 1); ++i)
            store.curvePacks[edit++ % packs].delayMs += 0.5;
        if (!store.saveCurvePacks())
            state.SkipWithError("save failed");
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * packs);
}

void packCounts(benchmark::internal::Benchmark *b)
{
    b->Arg(50)->Arg(500)->Arg(5000)->Arg(20000)->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK_CAPTURE(BM_SavePacks, AfterOneEdit, false)->Apply(packCounts);
BENCHMARK_CAPTURE(BM_SavePacks, AllChanged, true)->Apply(packCounts);

void BM_LoadPacks(benchmark::State &state)
{
    const int packs = int(state.range(0));
    ProjectStore store;
    savedStore(store, packs);
    for (auto _ : state) {
        store.loadCurvePacks();
        if (store.curvePacks.size() != packs)
            state.SkipWithError("packs lost");
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * packs);
}
BENCHMARK(BM_LoadPacks)->Apply(packCounts);

void BM_FirstLoad(benchmark::State &state)
{
    const int packs = int(state.range(0));
    {
        ProjectStore store;
        savedStore(store, packs);
    }
    for (auto _ : state) {
        ProjectStore store;
        store.listProjects();
        store.loadCurvePacks();
        if (store.curvePacks.size() != packs)
            state.SkipWithError("packs lost");
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * packs);
}
BENCHMARK(BM_FirstLoad)->Apply(packCounts);

} // namespace

int main(int argc, char **argv)
{
    // The store lives in the documents folder: give the run a home of its own.
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/snt-bench-XXXXXX"));
    qputenv("HOME", home.path().toLocal8Bit());
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_DOCUMENTS_DIR"})
        qunsetenv(name);
    QDir().mkpath(home.path() + QStringLiteral("/Documents"));
    QCoreApplication app(argc, argv);
    return runBenchmarks(argc, argv);
}
