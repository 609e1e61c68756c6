// One analysis tick of the measurement at every FFT size and averaging type, with its median and
// 99th percentile and the heap allocations it makes; and the per-frame cost of the sample inputs
// with the generator loopback connected the way the generator connects it.
#include "audio/Client.h"
#include "engine/tf/Measurement.h"

#include <QCoreApplication>
#include <QList>
#include <QLoggingCategory>
#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <random>
#include <thread>
#include <vector>

// ---- heap allocations, counted on the benchmark thread while a tick runs ----------------------

namespace {
thread_local bool countAllocations = false;
std::atomic<long> allocations{0};

void* allocate(std::size_t size)
{
    if (countAllocations)
        allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

constexpr int tickFrames = 48000 * Measurement::analysisIntervalMs / 1000;

QList<float> noise(int count, unsigned seed)
{
    std::mt19937 engine(seed);
    std::uniform_real_distribution<float> uniform(-0.5f, 0.5f);
    QList<float> out(count);
    for (float& v : out)
        v = uniform(engine);
    return out;
}

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
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f)
        return 0.0;
    long pages = 0, resident = 0;
    const int read = std::fscanf(f, "%ld %ld", &pages, &resident);
    std::fclose(f);
    return read == 2 ? double(resident) * 4096.0 / (1024.0 * 1024.0) : 0.0;
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    const auto at = std::size_t(p * double(values.size() - 1) + 0.5);
    return values[std::min(at, values.size() - 1)];
}

// Arguments: FFT mode (0 → 1024 … 6 → 65536) and averaging type.
void BM_AnalysisTick(benchmark::State& state)
{
    const double residentBefore = residentMb();
    const auto m = makeMeasurement(int(state.range(0)), int(state.range(1)));
    const QList<float> data = noise(tickFrames, 1);
    const QList<float> reference = noise(tickFrames, 2);
    // Fill the transform once, so the cumulative average runs from the first timed tick.
    for (uint32_t filled = 0; filled < m->fftSize() + tickFrames; filled += tickFrames) {
        m->writeData(data, reference);
        m->transform();
    }

    std::vector<double> ms;
    long mostAllocations = 0;
    for (auto _ : state) {
        m->writeData(data, reference);
        allocations.store(0);
        countAllocations = true;
        const auto start = std::chrono::steady_clock::now();
        m->transform();
        const auto end = std::chrono::steady_clock::now();
        countAllocations = false;
        mostAllocations = std::max(mostAllocations, allocations.load());
        const double seconds = std::chrono::duration<double>(end - start).count();
        state.SetIterationTime(seconds);
        ms.push_back(seconds * 1000.0);
    }
    state.counters["fft"] = double(m->fftSize());
    state.counters["median_ms"] = percentile(ms, 0.5);
    state.counters["p99_ms"] = percentile(ms, 0.99);
    state.counters["allocs_per_tick"] = double(mostAllocations);
    state.counters["measurement_mb"] = residentMb() - residentBefore;
}

void tickArguments(benchmark::internal::Benchmark* b)
{
    for (int mode = 0; mode < Measurement::modeCount; ++mode)
        for (int type = 0; type < 4; ++type)
            b->Args({mode, type});
}
BENCHMARK(BM_AnalysisTick)->Apply(tickArguments)->UseManualTime()->Iterations(300)
    ->Unit(benchmark::kMillisecond);

// Emits samples the way the generator thread does: one signal per frame, connected directly.
class LoopbackEmitter : public QObject {
    Q_OBJECT
signals:
    void sampleOut(float sample);

public:
    void play(const QList<float>& samples)
    {
        for (float s : samples)
            emit sampleOut(s);
    }
};

// Per frame: the loopback sample through the direct connection (render thread) plus the input
// block that consumes it (GUI thread), 480 frames (10 ms) a block.
void BM_InputPathPerFrame(benchmark::State& state)
{
    const auto m = makeMeasurement(4, 1);
    m->setReferenceChannel(-1);
    LoopbackEmitter generator;
    QObject::connect(&generator, &LoopbackEmitter::sampleOut, m.get(),
                     &Measurement::writeLoopbackSample, Qt::DirectConnection);
    const QList<float> block = noise(480, 3);
    for (auto _ : state) {
        generator.play(block);
        m->writeData(block, block);
    }
    state.SetItemsProcessed(state.iterations() * block.size());
    state.counters["ns_per_frame"] = benchmark::Counter(
        double(state.iterations() * block.size()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_InputPathPerFrame);

// The render thread's share alone: the loopback samples through the direct connection (the
// input block that drains the queue is left out of the time).
void BM_LoopbackPerFrame(benchmark::State& state)
{
    const auto m = makeMeasurement(4, 1);
    m->setReferenceChannel(-1);
    LoopbackEmitter generator;
    QObject::connect(&generator, &LoopbackEmitter::sampleOut, m.get(),
                     &Measurement::writeLoopbackSample, Qt::DirectConnection);
    const QList<float> block = noise(480, 4);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        generator.play(block);
        const auto end = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
        m->writeData(block, block);
    }
    state.counters["ns_per_frame"] = benchmark::Counter(
        double(state.iterations() * block.size()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_LoopbackPerFrame)->UseManualTime();

// How long the render thread can be held up by the measurement's lock: a paced render thread
// (480 loopback frames every 10 ms) against back-to-back input blocks, analysis ticks at 65536
// points and a reset of the averages every tenth tick on the GUI side. The figures are the
// longest and the 99.9th-percentile time of one loopback sample.
void BM_RenderThreadWait(benchmark::State& state)
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
                    const auto end = std::chrono::steady_clock::now();
                    const std::chrono::duration<double, std::micro> waited = end - start;
                    waitsUs.push_back(waited.count());
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

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The measurement reports every start and every missing device; the figures are what counts.
    QLoggingCategory::setFilterRules(
        QStringLiteral("*.debug=false\n*.info=false\n*.warning=false"));
    audio::Client::setPluginFactories({});
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

#include "measurement_tick.moc"
