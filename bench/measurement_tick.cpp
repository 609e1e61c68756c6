// One analysis tick at every FFT size and averaging type, the analyser driven on its own, with its
// median and 99th percentile and the heap allocations it makes; and the per-frame cost of the
// measurement's sample inputs with the generator loopback handed over the way the generator
// hands it.
#include "audio/Client.h"
#include "bench/BenchSupport.h"
#include "engine/tf/Measurement.h"
#include "engine/tf/TransferAnalyser.h"
#include "tests/support/AllocationCounter.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

// ---- heap allocations, counted on the benchmark thread while a tick runs ----------------------

namespace {
thread_local bool countAllocations = false;
std::atomic<long> allocations{0};

void countOnThisThread()
{
    if (countAllocations)
        allocations.fetch_add(1, std::memory_order_relaxed);
}
} // namespace

namespace {

constexpr int tickFrames = 48000 * Measurement::analysisIntervalMs / 1000;

// A measurement that takes only the blocks the benchmark writes, as the session sets it up.
std::unique_ptr<Measurement> makeMeasurement(int mode, int averageType)
{
    auto m = std::make_unique<Measurement>();
    m->setDeviceId(QStringLiteral("no-device"));
    m->setMode(mode);
    m->setAverageType(averageType);
    m->setAverage(16);
    m->setActive(true);
    return m;
}

// Resident memory of the process in MB (Linux), to show what one measurement holds per size.
double residentMb()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    return statm >> pages >> resident ? double(resident) * 4096.0 / (1024.0 * 1024.0) : 0.0;
}

void push(TransferAnalyser &analyser, const QList<float> &data, const QList<float> &reference)
{
    for (qsizetype k = 0; k < data.size(); ++k)
        analyser.push(data[k], reference[k]);
}

// Arguments: FFT mode (0 → 1024 … 6 → 65536) and averaging type.
void BM_AnalysisTick(benchmark::State &state)
{
    const double residentBefore = residentMb();
    TransferAnalyser analyser(Measurement::fftSizeForMode(int(state.range(0))), 48000);
    analyser.setAverageType(int(state.range(1)));
    analyser.setAverageDepth(16);
    const QList<float> data = noise(tickFrames, 1), reference = noise(tickFrames, 2);
    // Fill the transform once, so the cumulative average runs from the first timed tick.
    for (uint32_t filled = 0; filled < analyser.size() + tickFrames; filled += tickFrames) {
        push(analyser, data, reference);
        analyser.analyse();
    }

    std::vector<double> ms;
    long mostAllocations = 0;
    for (auto _ : state) {
        push(analyser, data, reference);
        allocations.store(0);
        countAllocations = true;
        const auto start = std::chrono::steady_clock::now();
        analyser.analyse();
        const double seconds
                = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        countAllocations = false;
        mostAllocations = std::max(mostAllocations, allocations.load());
        state.SetIterationTime(seconds);
        ms.push_back(seconds * 1000.0);
    }
    state.counters["fft"] = double(analyser.size());
    state.counters["median_ms"] = percentile(ms, 0.5);
    state.counters["p99_ms"] = percentile(ms, 0.99);
    state.counters["allocs_per_tick"] = double(mostAllocations);
    state.counters["measurement_mb"] = residentMb() - residentBefore;
}

BENCHMARK(BM_AnalysisTick)
        ->ArgsProduct({benchmark::CreateDenseRange(0, Measurement::modeCount - 1, 1), {0, 1, 2, 3}})
        ->UseManualTime()
        ->Iterations(300)
        ->Unit(benchmark::kMillisecond);

// Per frame, 480 frames (10 ms) a block: the loopback block handed to the measurement as the
// generator hands it (render thread) plus the input block that consumes it (GUI thread); or the
// render thread's share alone, the input block left out of the time.
void BM_PerFrame(benchmark::State &state, bool renderShareOnly)
{
    const auto m = makeMeasurement(4, 1);
    m->setReferenceChannel(-1);
    const QList<float> block = noise(480, 3);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        m->loopedBack({block.constData(), std::size_t(block.size())});
        const auto played = std::chrono::steady_clock::now();
        m->writeData(block, block);
        const auto end = renderShareOnly ? played : std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
    reportPerFrame(state, block.size());
}
BENCHMARK_CAPTURE(BM_PerFrame, InputPath, false)->UseManualTime();
BENCHMARK_CAPTURE(BM_PerFrame, LoopbackOnly, true)->UseManualTime();

// How long the render thread can be held up by the measurement's lock: a paced render thread
// (480 loopback frames every 10 ms) against back-to-back input blocks, analysis ticks at 65536
// points and a reset of the averages every tenth tick on the GUI side. The figures are the
// longest and the 99.9th-percentile time of one loopback sample.
void BM_RenderThreadWait(benchmark::State &state)
{
    const auto m = makeMeasurement(6, 1);
    m->setReferenceChannel(-1);
    const QList<float> block = noise(tickFrames, 5);
    for (auto _ : state) {
        std::atomic<bool> running{true};
        std::vector<double> waitsUs;
        waitsUs.reserve(48000 * 4);
        std::thread render([&] {
            auto next = std::chrono::steady_clock::now();
            while (running.load()) {
                for (int i = 0; i < 480; ++i) {
                    const auto start = std::chrono::steady_clock::now();
                    m->writeLoopbackSample(block[i]);
                    waitsUs.push_back(std::chrono::duration<double, std::micro>(
                                              std::chrono::steady_clock::now() - start)
                                              .count());
                }
                next += std::chrono::milliseconds(10);
                std::this_thread::sleep_until(next);
            }
        });
        for (int tick = 0; tick < 40; ++tick) {
            m->writeData(block, block);
            m->transform();
            if (tick % 10 == 9)
                m->resetAverage();
        }
        running.store(false);
        render.join();
        state.counters["max_wait_us"] = percentile(waitsUs, 1.0);
        state.counters["p999_wait_us"] = percentile(waitsUs, 0.999);
    }
}
BENCHMARK(BM_RenderThreadWait)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The measurement reports every start and every missing device; the figures are what counts.
    QLoggingCategory::setFilterRules(
            QStringLiteral("*.debug=false\n*.info=false\n*.warning=false"));
    audio::Client::setPluginFactories({});
    snt::test::setAllocationHook(&countOnThisThread);
    return runBenchmarks(argc, argv);
}
