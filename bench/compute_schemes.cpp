// Wall time of the EQ engine on synthetic FFT-resolution curves: (a) one smooth resonance,
// (b) a rough curve of 14 peaks and dips, (c) the rough curve in line-array mode. Before the
// timed runs, each case prints the time and the number of fine-ladder refinements of every lane
// (lanes run in parallel, as in the engine).
#include "bench/BenchSupport.h"
#include "eq/PeqSearch.h"
#include "eq/SchemeEngine.h"
#include "eq/SchemeLane.h"
#include "tests/eq/SyntheticCurves.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <thread>

using namespace snt::eq;

namespace {

struct Case
{
    const char *name;
    Measured curve;
    Options options;
};

Options lineArray(bool on)
{
    Options options;
    options.lineArray = on;
    return options;
}

const std::vector<Case> &cases()
{
    static const std::vector<Case> all{
            {"resonance", synthetic::curve({{1000, 6, 2}}), lineArray(false)},
            {"rough", synthetic::curve(synthetic::roughFeatures()), lineArray(false)},
            {"rough line array", synthetic::curve(synthetic::roughFeatures()), lineArray(true)},
    };
    return all;
}

void printLanes(const Case &c)
{
    const LaneContext context = prepareLaneContext(c.curve, c.options);
    const QList<int> lanes = laneTargetIndices(context);
    struct LaneFigures
    {
        qint64 ns = 0;
        quint64 refinements = 0;
        qsizetype bands = 0;
    };
    std::vector<LaneFigures> figures(size_t(lanes.size()));
    std::vector<std::thread> threads;
    for (qsizetype lane = 0; lane < lanes.size(); ++lane) {
        threads.emplace_back([&context, target = lanes[lane], out = &figures[size_t(lane)]] {
            QElapsedTimer timer;
            timer.start();
            const quint64 before = refinementsOnThisThread();
            out->bands = computeOne(context, target).scheme.bands.size();
            out->ns = timer.nsecsElapsed();
            out->refinements = refinementsOnThisThread() - before;
        });
    }
    for (auto &t : threads)
        t.join();
    std::printf("%s:\n", c.name);
    for (qsizetype lane = 0; lane < lanes.size(); ++lane) {
        const LaneFigures &f = figures[size_t(lane)];
        std::printf(
                "  lane %lld (target %d): %8.1f ms, %3llu refinements (%.2f ms each), %lld bands\n",
                qint64(lane), lanes[lane], f.ns / 1e6,
                static_cast<unsigned long long>(f.refinements),
                f.refinements ? f.ns / 1e6 / double(f.refinements) : 0.0, qint64(f.bands));
    }
}

void computeSchemesWallTime(benchmark::State &state)
{
    const Case &c = cases()[size_t(state.range(0))];
    state.SetLabel(c.name);
    for (auto _ : state)
        benchmark::DoNotOptimize(computeSchemes(c.curve, c.options, nullptr, {}));
}

} // namespace

BENCHMARK(computeSchemesWallTime)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    for (const Case &c : cases())
        printLanes(c);
    return runBenchmarks(argc, argv);
}
