// The paths on which audio threads meet the rest of the program: the input path (a capture
// thread writing blocks into the recording front end, which hands them to the measurement), the
// loopback path (a render thread reading the test signal, every sample of which goes to the
// measurement), how long a paced render thread is held up while the GUI thread runs analysis
// ticks at 65536 points, and the heap allocations each audio thread makes while a whole
// measurement streams for two seconds through the in-process loopback card and, when the test
// sound server runs (scripts/test-services.sh start DIR, then export its environment), through
// the ALSA layer into a PulseAudio null sink and back from its monitor.
#include "audio/AudioInput.h"
#include "audio/Client.h"
#include "audio/Stream.h"
#include "audio/backends/Backends.h"
#include "bench/BenchSupport.h"
#include "engine/tf/Measurement.h"
#include "engine/tf/generator/Generator.h"
#include "engine/tf/generator/WhiteNoise.h"
#include "tests/support/AllocationCounter.h"
#include "tests/support/LoopbackCard.h"
#include "tests/support/TestSandbox.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QTimer>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <pthread.h>
#include <thread>

// ---- heap allocations per thread ----------------------------------------------------------------

namespace {

constexpr int maxThreads = 64;
std::atomic<bool> counting{false};
std::atomic<int> threadsSeen{0};
std::array<std::atomic<pthread_t>, maxThreads> slotThread{};
std::array<std::atomic<long>, maxThreads> slotAllocations{};
thread_local int slot = -1;

void countPerThread()
{
    if (!counting.load(std::memory_order_relaxed))
        return;
    if (slot < 0) {
        slot = threadsSeen.fetch_add(1);
        if (slot < maxThreads)
            slotThread[slot].store(pthread_self());
    }
    if (slot < maxThreads)
        slotAllocations[slot].fetch_add(1, std::memory_order_relaxed);
}

} // namespace

namespace {

void startCounting()
{
    for (auto &count : slotAllocations)
        count.store(0);
    counting.store(true);
}

long allocationsOf(pthread_t thread)
{
    const int seen = std::min(threadsSeen.load(), maxThreads);
    for (int i = 0; i < seen; ++i)
        if (pthread_equal(slotThread[i].load(), thread))
            return slotAllocations[i].load();
    return 0;
}

// Runs the event loop of the calling (GUI) thread for `ms`.
void runEventLoop(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// ---- a capture device the benchmark writes into itself -------------------------------------------

// A backend with one stereo input whose stream never runs by itself: the benchmark writes the
// blocks into the sink the recording front end handed over.
class BenchCapture : public audio::Plugin
{
public:
    QString name() const override { return QStringLiteral("Bench"); }
    audio::DeviceList devices() override
    {
        return {audio::DeviceInfo{QStringLiteral("bench-capture"),
                                  QStringLiteral("Bench"),
                                  48000,
                                  name(),
                                  {"1", "2"},
                                  {}}};
    }
    audio::DeviceInfo::Id defaultDevice(const Direction &) override
    {
        return QStringLiteral("bench-capture");
    }
    audio::Format preferredFormat(const audio::DeviceInfo::Id &, const Direction &) override
    {
        return {48000, 2};
    }
    audio::Stream *open(const QString &id, const Direction &direction, const audio::Format &,
                        QIODevice *device) override
    {
        if (id != QLatin1String("bench-capture") || direction != Input)
            return nullptr;
        device->open(QIODevice::WriteOnly);
        sink = device;
        auto *stream = new audio::Stream({48000, 2});
        QObject::connect(stream, &audio::Stream::closeMe, stream, &QObject::deleteLater);
        return stream;
    }
    QIODevice *sink = nullptr;
};

std::shared_ptr<BenchCapture> benchCapture = std::make_shared<BenchCapture>();
std::shared_ptr<snt::test::LoopbackCard> card;

constexpr int blockFrames = 480; // 10 ms at 48 kHz

std::unique_ptr<Measurement> makeMeasurement(const QString &deviceId, int mode, int reference)
{
    auto m = std::make_unique<Measurement>();
    m->setDeviceId(deviceId);
    m->setMode(mode);
    m->setAverageType(1);
    m->setReferenceChannel(reference);
    return m;
}

// The input path as the program wires it: a capture thread writes one second of stereo blocks
// into the front end's sink; then the GUI thread takes what arrived. Per frame: the capture
// thread's share, the GUI thread's share and both.
void BM_InputPath(benchmark::State &state)
{
    const auto m = makeMeasurement(QStringLiteral("bench-capture"), 4, 1);
    m->setActive(true);
    const QList<float> left = noise(blockFrames, 1), right = noise(blockFrames, 2);
    std::vector<float> interleaved(2 * blockFrames);
    for (int f = 0; f < blockFrames; ++f) {
        interleaved[2 * f] = left[f];
        interleaved[2 * f + 1] = right[f];
    }
    constexpr int blocks = 100;
    double captureSeconds = 0.0, guiSeconds = 0.0;
    for (auto _ : state) {
        std::thread capture([&] {
            const auto start = std::chrono::steady_clock::now();
            for (int b = 0; b < blocks; ++b)
                benchCapture->sink->write(reinterpret_cast<const char *>(interleaved.data()),
                                          qint64(interleaved.size() * sizeof(float)));
            captureSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
                                     .count();
        });
        capture.join();
        const auto start = std::chrono::steady_clock::now();
        QCoreApplication::sendPostedEvents(); // blocks queued to the GUI thread, if any
        m->drainInputs();
        guiSeconds
                = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(captureSeconds + guiSeconds);
        state.counters["capture_ns_per_frame"] = captureSeconds * 1e9 / (blocks * blockFrames);
        state.counters["gui_ns_per_frame"] = guiSeconds * 1e9 / (blocks * blockFrames);
    }
    reportPerFrame(state, qint64(blocks) * blockFrames);
    m->setActive(false);
}
BENCHMARK(BM_InputPath)->UseManualTime()->Unit(benchmark::kMillisecond);

// A source of a generator whose loopback goes, as in a run, to an active measurement of `mode`
// that takes the loopback as its reference.
struct LoopbackRig
{
    explicit LoopbackRig(int mode)
        : measurement(makeMeasurement(QStringLiteral("bench-capture"), mode, -1))
    {
        owner.setChannels({0, 1});
        source.setChanelCount(2);
        source.setSamplerate(48000);
        source.resetFadeIn();
        source.open(QIODevice::ReadOnly);
        measurement->setGenerator(&owner);
        measurement->setActive(true);
    }
    ~LoopbackRig() { measurement->setActive(false); }
    // One 10 ms block, as the render thread reads it.
    void readBlock()
    {
        source.read(reinterpret_cast<char *>(buffer.data()), qint64(buffer.size() * sizeof(float)));
    }

    GeneratorThread owner;
    WhiteNoise source{&owner};
    const std::unique_ptr<Measurement> measurement;
    std::vector<float> buffer = std::vector<float>(2 * blockFrames);
};

// The loopback path: the render thread reads 10 ms blocks of white noise from a source; every
// sample goes on to the measurement, bound to the generator as its loopback sink. Per frame,
// the render thread's time, and the GUI thread's for taking the samples.
void BM_LoopbackPath(benchmark::State &state)
{
    LoopbackRig rig(4);
    double guiSeconds = 0.0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        rig.readBlock();
        const auto read = std::chrono::steady_clock::now();
        rig.measurement->drainInputs(); // the GUI thread's share: into the loopback queue
        guiSeconds
                += std::chrono::duration<double>(std::chrono::steady_clock::now() - read).count();
        state.SetIterationTime(std::chrono::duration<double>(read - start).count());
    }
    reportPerFrame(state, blockFrames);
    state.counters["gui_ns_per_frame"]
            = guiSeconds * 1e9 / double(state.iterations() * blockFrames);
}
BENCHMARK(BM_LoopbackPath)->UseManualTime();

// A render thread reads a 10 ms block of the test signal every 10 ms while the GUI thread takes
// input blocks and runs analysis ticks at 65536 points back to back (a reset of the averages
// every tenth), for two seconds. The figures: the longest and the 99.9th-percentile time the
// render thread spent in one block, against its median.
void BM_RenderThreadDuringTicks(benchmark::State &state)
{
    LoopbackRig rig(6);
    Measurement &m = *rig.measurement;
    const QList<float> block = noise(blockFrames, 5);
    for (auto _ : state) {
        std::atomic<bool> running{true};
        std::vector<double> blockUs;
        blockUs.reserve(1000);
        std::thread render([&] {
            auto next = std::chrono::steady_clock::now();
            while (running.load()) {
                const auto start = std::chrono::steady_clock::now();
                rig.readBlock();
                blockUs.push_back(std::chrono::duration<double, std::micro>(
                                          std::chrono::steady_clock::now() - start)
                                          .count());
                next += std::chrono::milliseconds(10);
                std::this_thread::sleep_until(next);
            }
        });
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        for (int tick = 0; std::chrono::steady_clock::now() < end; ++tick) {
            for (int b = 0; b < 8; ++b)
                m.writeData(block, block);
            m.transform();
            if (tick % 10 == 9)
                m.resetAverage();
        }
        running.store(false);
        render.join();
        state.counters["max_block_us"] = percentile(blockUs, 1.0);
        state.counters["p999_block_us"] = percentile(blockUs, 0.999);
        state.counters["median_block_us"] = percentile(blockUs, 0.5);
    }
}
BENCHMARK(BM_RenderThreadDuringTicks)->Iterations(1)->Unit(benchmark::kMillisecond);

// A measurement that notes the threads its sinks are called on.
class ThreadNotingMeasurement : public Measurement
{
public:
    void captured(std::span<const float> data, std::span<const float> reference) override
    {
        captureThread.store(pthread_self());
        Measurement::captured(data, reference);
    }
    void loopedBack(std::span<const float> samples) override
    {
        renderThread.store(pthread_self());
        Measurement::loopedBack(samples);
    }

    std::atomic<pthread_t> renderThread{}, captureThread{};
};

// A whole measurement streams for two seconds after half a second to settle: the generator
// plays white noise into `output`, the measurement records `input` against the loopback with
// ticks at 65536 points. Heap allocations per second on the render and the capture thread
// (found by the measurement's sinks), and on every other thread but the GUI thread, listed by
// name.
void streamAndCount(benchmark::State &state, const char *path, const QString &output,
                    const QString &input)
{
    for (auto _ : state) {
        Generator generator;
        generator.setType(1);
        generator.setDeviceId(output);
        generator.setChannels({0, 1});
        ThreadNotingMeasurement m;
        m.setDeviceId(input);
        m.setMode(6);
        m.setAverageType(1);
        m.setReferenceChannel(-1);
        m.setGenerator(generator.generatorThread());
        std::atomic<pthread_t> &renderThread = m.renderThread, &captureThread = m.captureThread;
        runEventLoop(100);
        generator.setEnabled(true);
        m.setActive(true);
        if (!m.audioInput() || !m.audioInput()->isActive()) {
            state.SkipWithError("the input did not open");
            break;
        }
        runEventLoop(500);
        startCounting();
        constexpr double seconds = 2.0;
        runEventLoop(int(seconds * 1000));
        counting.store(false);
        state.counters["render_allocs_per_s"] = allocationsOf(renderThread.load()) / seconds;
        state.counters["capture_allocs_per_s"] = allocationsOf(captureThread.load()) / seconds;
        const int seen = std::min(threadsSeen.load(), maxThreads);
        for (int i = 0; i < seen; ++i) {
            const pthread_t thread = slotThread[i].load();
            const long count = slotAllocations[i].load();
            if (count == 0 || pthread_equal(thread, renderThread.load())
                || pthread_equal(thread, captureThread.load()))
                continue;
            char name[32] = "?";
            pthread_getname_np(thread, name, sizeof name);
            std::fprintf(stderr, "  %s: %s thread %d \"%s\": %.1f allocations/s\n", path,
                         pthread_equal(thread, pthread_self()) ? "GUI" : "other", i, name,
                         count / seconds);
        }
        m.setActive(false);
        generator.setEnabled(false);
        runEventLoop(100);
    }
}

void BM_StreamingAllocations_LoopbackCard(benchmark::State &state)
{
    streamAndCount(state, "loopback card", card->deviceId(), card->deviceId());
}
BENCHMARK(BM_StreamingAllocations_LoopbackCard)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_StreamingAllocations_PulseAudioLoop(benchmark::State &state)
{
    if (qEnvironmentVariableIsEmpty("PULSE_SERVER")) {
        state.SkipWithError("needs the test sound server (scripts/test-services.sh)");
        for (auto _ : state) { }
        return;
    }
    streamAndCount(state, "PulseAudio loop", QStringLiteral("alsa:loop"),
                   QStringLiteral("alsa:loop_monitor"));
}
BENCHMARK(BM_StreamingAllocations_PulseAudioLoop)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    // A home of its own, where ALSA finds the test sound server's devices when it runs.
    snt::test::TestSandbox sandbox;
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(
            QStringLiteral("*.debug=false\n*.info=false\n*.warning=false"));
    card = std::make_shared<snt::test::LoopbackCard>();
    QList<audio::Client::PluginFactory> factories = audio::backendFactories();
    factories.append([] { return benchCapture; });
    factories.append([] { return card; });
    audio::Client::setPluginFactories(factories);
    snt::test::setAllocationHook(&countPerThread);
    const int result = runBenchmarks(argc, argv);
    card.reset();
    return result;
}
