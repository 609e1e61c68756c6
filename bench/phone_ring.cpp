// Times the phone sample ring on the paths a streaming phone keeps busy: appending frames,
// random-access reads with many recorded gaps, the stream reader's resampled read, and a phone
// that keeps restarting its capture at the highest rate.
#include "audio/phone/PhoneSampleRing.h"
#include "bench/BenchSupport.h"

using audio::PhoneSampleRing;

namespace {

constexpr qint64 kRate = 48000;
constexpr qint64 kMaxRate = 192000;

// Appends frames of `range(0)` samples back to back; the ring wraps all the time.
void BM_AppendFrames(benchmark::State &state)
{
    const qint64 frame = state.range(0);
    const QList<float> samples = noise(frame, 1);
    PhoneSampleRing ring(kRate * 10);
    quint64 index = 0;
    for (auto _ : state) {
        ring.append(samples.constData(), frame, index);
        index += quint64(frame);
        benchmark::DoNotOptimize(ring.end());
    }
    state.SetItemsProcessed(state.iterations() * frame);
}
BENCHMARK(BM_AppendFrames)->Arg(480)->Arg(4096)->Arg(65536);

// Reads the newest 4096 samples of a ring holding `range(0)` recorded gaps.
void BM_ReadWithGaps(benchmark::State &state)
{
    const qint64 gaps = state.range(0);
    const QList<float> samples = noise(4096, 1);
    PhoneSampleRing ring(kMaxRate * 10);
    quint64 index = 0;
    for (qint64 g = 0; g < gaps; ++g) {
        ring.append(samples.constData(), 10, index);
        index += 20; // leaves a 10-sample hole before the next frame
    }
    ring.append(samples.constData(), samples.size(), index);
    QList<float> out(samples.size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(ring.read(index, out.size(), out.data()));
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * out.size());
}
BENCHMARK(BM_ReadWithGaps)->Arg(0)->Arg(100)->Arg(10000);

// One 10 ms pump of the phone input stream: 480 samples read at a slightly fast rate, the ring
// refilled as a phone would.
void BM_ReadResampled(benchmark::State &state)
{
    const QList<float> samples = noise(480, 1);
    PhoneSampleRing ring(kRate * 10);
    quint64 index = 0;
    for (int i = 0; i < 20; ++i, index += 480)
        ring.append(samples.constData(), samples.size(), index);
    QList<float> out(480);
    double phase = 0.0;
    for (auto _ : state) {
        ring.append(samples.constData(), samples.size(), index);
        index += 480;
        benchmark::DoNotOptimize(ring.readResampled(out.data(), out.size(), 1.0002, &phase));
    }
    state.SetItemsProcessed(state.iterations() * out.size());
}
BENCHMARK(BM_ReadResampled);

// A 192 kHz phone whose every frame goes back in time, so every frame restarts the ring.
void BM_RestartEveryFrame(benchmark::State &state)
{
    const QList<float> samples = noise(480, 1);
    PhoneSampleRing ring(kMaxRate * 10);
    for (auto _ : state) {
        ring.append(samples.constData(), samples.size(), 1000);
        benchmark::DoNotOptimize(ring.end());
    }
    state.SetItemsProcessed(state.iterations() * samples.size());
}
BENCHMARK(BM_RestartEveryFrame);

} // namespace

BENCHMARK_MAIN();
