// The per-sample and per-block paths of the test signal: a source's readData with its loopback
// samples handed in blocks to a locked consumer, the network sender's push
// at the block sizes the generator's pacing produces, and the once-per-rate synthesis of the
// periodic noise.
#include "audio/aes67/FrameRing.h"
#include "audio/aes67/Sender.h"
#include "bench/BenchSupport.h"
#include "engine/tf/generator/GeneratorThread.h"
#include "engine/tf/generator/PeriodicNoise.h"
#include "engine/tf/generator/PinkNoise.h"
#include "engine/tf/generator/SinSweep.h"
#include "engine/tf/generator/WhiteNoise.h"

#include <QMutex>

namespace {

// Stands in for the measurement's loopback input: one lock per block, one store per sample.
struct LoopbackConsumer : LoopbackSink
{
    QMutex mutex;
    std::vector<float> ring = std::vector<float>(65536);
    size_t next = 0;

    void loopedBack(std::span<const float> samples) override
    {
        QMutexLocker lock(&mutex);
        for (const float s : samples) {
            ring[next] = s;
            next = (next + 1) & 65535;
        }
    }
};

template<typename Source>
void readBlocks(benchmark::State &state)
{
    const int channels = int(state.range(0));
    const int frames = 480; // 10 ms at 48 kHz
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
    owner.bindLoopback(&consumer);
    std::vector<float> buffer(size_t(frames * channels));
    for (auto _ : state) {
        source.read(reinterpret_cast<char *>(buffer.data()), qint64(buffer.size() * sizeof(float)));
        benchmark::DoNotOptimize(buffer.data());
    }
    owner.unbindLoopback(&consumer);
    reportPerFrame(state, frames);
}

// push() into a ring that a reader empties after every call (the steady state), or into a ring
// nobody reads, where every call drops the oldest frames.
void BM_SenderPush(benchmark::State &state, bool drain)
{
    const qint64 frames = state.range(0);
    const int channels = drain ? int(state.range(1)) : 8;
    audio::aes67::Sender *sender = audio::aes67::Sender::instance();
    sender->setRunning(true);
    std::vector<float> block(size_t(frames * channels), 0.25f);
    std::vector<float> drained(size_t(audio::aes67::FrameRing::capacity * 8));
    for (auto _ : state) {
        sender->push(block.data(), frames, channels, 48000);
        if (!drain)
            continue;
        state.PauseTiming();
        sender->ring().read(drained.data(), audio::aes67::FrameRing::capacity);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * frames);
}

void BM_MakePeriodicNoise(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(makePeriodicNoise(int(state.range(0)), 0x50524E21, 1.0));
}

} // namespace

BENCHMARK_TEMPLATE(readBlocks, PinkNoise)->Arg(1)->Arg(2)->Arg(8);
BENCHMARK_TEMPLATE(readBlocks, WhiteNoise)->Arg(2);
BENCHMARK_TEMPLATE(readBlocks, SinSweep)->Arg(2);
BENCHMARK_TEMPLATE(readBlocks, PeriodicNoise)->Arg(2)->Arg(8);
BENCHMARK_CAPTURE(BM_SenderPush, Drained, true)->ArgsProduct({{240, 480, 4800}, {2, 8, 12}});
BENCHMARK_CAPTURE(BM_SenderPush, Overflow, false)->Arg(4800)->Arg(10000);
BENCHMARK(BM_MakePeriodicNoise)->Arg(65536);

BENCHMARK_MAIN();
