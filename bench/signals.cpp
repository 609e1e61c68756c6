// The per-sample and per-block paths of the test signal: a source's readData with its loopback
// samples taken by a locked consumer (as the measurement takes them), the network sender's push
// at the block sizes the generator's pacing produces, and the once-per-rate synthesis of the
// periodic noise.
#include "audio/aes67/FrameRing.h"
#include "audio/aes67/Sender.h"
#include "engine/tf/generator/GeneratorThread.h"
#include "engine/tf/generator/PeriodicNoise.h"
#include "engine/tf/generator/PinkNoise.h"
#include "engine/tf/generator/SinSweep.h"
#include "engine/tf/generator/WhiteNoise.h"

#include <QMutex>
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

namespace {

// Stands in for the measurement's loopback input: one lock and one store per sample.
struct LoopbackConsumer {
    QMutex mutex;
    std::vector<float> ring = std::vector<float>(65536);
    size_t next = 0;

    void add(float s)
    {
        QMutexLocker lock(&mutex);
        ring[next] = s;
        next = (next + 1) & 65535;
    }
};

template <typename Source>
void readBlocks(benchmark::State& state)
{
    const int channels = int(state.range(0));
    const int frames = 480;  // 10 ms at 48 kHz
    GeneratorThread owner;
    QSet<int> all;
    for (int c = 0; c < channels; ++c)
        all.insert(c);
    owner.setChannels(all);
    Source source(&owner);
    source.setChanelCount(channels);
    source.setSamplerate(48000);
    source.resetFadeIn();
    source.open(QIODevice::ReadOnly);
    LoopbackConsumer consumer;
    QObject::connect(&source, &OutputDevice::sampleOut, &source,
                     [&consumer](float s) { consumer.add(s); }, Qt::DirectConnection);
    std::vector<float> buffer(size_t(frames * channels));
    for (auto _ : state) {
        source.read(reinterpret_cast<char*>(buffer.data()), qint64(buffer.size() * sizeof(float)));
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetItemsProcessed(state.iterations() * frames);
    state.counters["ns_per_frame"] = benchmark::Counter(
        double(state.iterations() * frames), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_ReadPink(benchmark::State& state) { readBlocks<PinkNoise>(state); }
void BM_ReadWhite(benchmark::State& state) { readBlocks<WhiteNoise>(state); }
void BM_ReadSweep(benchmark::State& state) { readBlocks<SinSweep>(state); }
void BM_ReadPeriodic(benchmark::State& state) { readBlocks<PeriodicNoise>(state); }

// push() into a ring that a reader empties after every call: the steady state.
void BM_SenderPush(benchmark::State& state)
{
    const qint64 frames = state.range(0);
    const int channels = int(state.range(1));
    audio::aes67::Sender* sender = audio::aes67::Sender::instance();
    sender->setRunning(true);
    std::vector<float> block(size_t(frames * channels), 0.25f);
    std::vector<float> drained(size_t(audio::aes67::FrameRing::capacity * 8));
    for (auto _ : state) {
        sender->push(block.data(), frames, channels, 48000);
        state.PauseTiming();
        sender->ring().read(drained.data(), audio::aes67::FrameRing::capacity);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * frames);
}

// push() into a ring nobody reads: every call drops the oldest frames.
void BM_SenderPushOverflow(benchmark::State& state)
{
    const qint64 frames = state.range(0);
    audio::aes67::Sender* sender = audio::aes67::Sender::instance();
    sender->setRunning(true);
    std::vector<float> block(size_t(frames * 8), 0.25f);
    for (auto _ : state)
        sender->push(block.data(), frames, 8, 48000);
    state.SetItemsProcessed(state.iterations() * frames);
}

void BM_MakePeriodicNoise(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(makePeriodicNoise(int(state.range(0)), 0x50524E21, 1.0));
}

}  // namespace

BENCHMARK(BM_ReadPink)->Arg(1)->Arg(2)->Arg(8);
BENCHMARK(BM_ReadWhite)->Arg(2);
BENCHMARK(BM_ReadSweep)->Arg(2);
BENCHMARK(BM_ReadPeriodic)->Arg(2)->Arg(8);
BENCHMARK(BM_SenderPush)->ArgsProduct({{240, 480, 4800}, {2, 8, 12}});
BENCHMARK(BM_SenderPushOverflow)->Arg(4800)->Arg(10000);
BENCHMARK(BM_MakePeriodicNoise)->Arg(65536);

BENCHMARK_MAIN();
