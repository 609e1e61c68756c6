// Times the two phone paths against their budgets. A phone's block of a sweep is aligned and
// measured on the GUI thread while the phone keeps streaming: one block for a 7 s sweep at
// 48 kHz should take well under 150 ms. The phone input stream pumps every 10 ms: its work
// should stay under 1 % of that ("percent_of_period").
#include "audio/phone/AudioStreamServer.h"
#include "audio/phone/PhoneInputStream.h"
#include "bench/BenchSupport.h"
#include "engine/tf/BlockAligner.h"
#include "engine/tf/PeriodAnalysis.h"
#include "engine/tf/SweepTemplate.h"
#include "engine/tf/WelchCoherence.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QWebSocket>
#include <QtEndian>
#include <chrono>
#include <cmath>
#include <numbers>

namespace {

constexpr uint32_t rate = 48000;

// The block a phone 35 ppm fast delivers once tracking: a quarter period of margin, the period,
// and as much after as the 9 s read allows; a little noise on top.
std::vector<float> phoneBlock(float duration, const std::vector<float> &sweep)
{
    const double phoneRate = rate * (1.0 + 35e-6);
    const auto length = std::min<std::size_t>(sweep.size() * 3 / 2, 9 * rate);
    const QList<float> hiss = noise(qsizetype(length), 7);
    std::vector<float> block(length);
    for (std::size_t n = 0; n < length; ++n) {
        const double t = std::fmod(double(n) / phoneRate + 0.75 * duration, double(duration));
        const double position = t * rate;
        const auto k = std::size_t(position);
        const float next = sweep[(k + 1) % sweep.size()];
        block[n] = 0.5f * (sweep[k] + float(position - double(k)) * (next - sweep[k]))
                   + 0.01f * hiss[qsizetype(n)];
    }
    return block;
}

// Alignment, score and whole-period analysis of one block, as the block path does them, for a
// sweep of `range(0)` seconds; records of `range(1)` bins.
void BM_SweepBlock(benchmark::State &state)
{
    const auto duration = float(state.range(0));
    const auto fftSize = uint32_t(state.range(1));
    const std::vector<float> sweep = sweepTemplate(20.0f, 20000.0f, duration, 1.0f, rate);
    const std::vector<float> block = phoneBlock(duration, sweep);
    BlockAligner aligner;
    WelchCoherence welch;
    PeriodAnalysis analysis;
    aligner.setTemplate(sweep);
    welch.setTemplate(sweep, sweep.size(), rate);
    analysis.setTemplate(sweep);
    std::vector<double> ms;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const BlockAlignment alignment = aligner.align(block.data(), block.size(), rate, rate);
        benchmark::DoNotOptimize(welch.score(aligner.aligned().data()));
        analysis.analyse(aligner.aligned().data(), fftSize);
        ms.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                        .count());
        if (!alignment.ok)
            state.SkipWithError("the block did not align");
    }
    state.counters["median_ms"] = percentile(ms, 0.5);
    state.counters["max_ms"] = percentile(ms, 1.0);
}
BENCHMARK(BM_SweepBlock)
        ->Args({7, 16384})
        ->Args({7, 65536})
        ->Args({2, 16384})
        ->Unit(benchmark::kMillisecond)
        ->MinTime(3.0);

// The parts of one 7 s block on their own.
void BM_SweepBlockParts(benchmark::State &state)
{
    const std::vector<float> sweep = sweepTemplate(20.0f, 20000.0f, 7.0f, 1.0f, rate);
    const std::vector<float> block = phoneBlock(7.0f, sweep);
    BlockAligner aligner;
    aligner.setTemplate(sweep);
    aligner.align(block.data(), block.size(), rate, rate);
    WelchCoherence welch;
    welch.setTemplate(sweep, sweep.size(), rate);
    PeriodAnalysis analysis;
    analysis.setTemplate(sweep);
    for (auto _ : state) {
        switch (state.range(0)) {
        case 0:
            benchmark::DoNotOptimize(aligner.align(block.data(), block.size(), rate, rate));
            break;
        case 1:
            benchmark::DoNotOptimize(welch.score(aligner.aligned().data()));
            break;
        default:
            analysis.analyse(aligner.aligned().data(), 16384);
            break;
        }
    }
    state.SetLabel(state.range(0) == 0 ? "align" : state.range(0) == 1 ? "score" : "analyse");
}
BENCHMARK(BM_SweepBlockParts)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

// A sink that takes everything and keeps nothing.
class NullSink : public QIODevice
{
public:
    NullSink() { open(QIODevice::WriteOnly); }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64 size) override { return size; }
};

// Streams 100 ms of audio from an in-process phone and waits until the server holds it.
bool sendFrame(QWebSocket &phone, quint64 &index)
{
    const QList<float> hiss = noise(4800, 3);
    QByteArray frame(18 + 2 * 4800, '\0');
    frame[0] = 'Q';
    frame[1] = 'K';
    for (qsizetype i = 0; i < 4800; ++i)
        qToLittleEndian<qint16>(qint16(hiss[i] * 8000.0f), frame.data() + 18 + 2 * i);
    qToLittleEndian<quint64>(index, frame.data() + 6);
    qToLittleEndian<quint32>(4800, frame.data() + 14);
    phone.sendBinaryMessage(frame);
    index += 4800;
    const quint64 end = index;
    auto *server = audio::AudioStreamServer::instance();
    const QDeadlineTimer deadline(30000);
    while (server->writeIndex("bench") < end && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return server->writeIndex("bench") >= end;
}

// One 10 ms pump of the phone input stream at 48 kHz while it steers its rate: 480 samples read
// from the phone's ring, resampled and written to the sink.
void BM_PhoneInputPump(benchmark::State &state)
{
    auto *server = audio::AudioStreamServer::instance();
    QWebSocket phone;
    const QDeadlineTimer deadline(30000);
    if (!server->listen(QHostAddress::LocalHost, 0, 0, 0)) {
        state.SkipWithError("the phone server does not listen");
        return;
    }
    phone.open(QUrl(QString("ws://127.0.0.1:%1").arg(server->wsPort())));
    while (phone.state() != QAbstractSocket::ConnectedState && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    phone.sendTextMessage(R"({"type":"audio-hello","id":"bench","sampleRate":48000})");
    quint64 index = 0;
    NullSink sink;
    qint64 now = 0;
    audio::PhoneInputStream stream({rate, 1}, "bench", &sink, server, [&now] { return now; });
    std::vector<double> us;
    for (auto _ : state) {
        if (server->available("bench") < 4800) {
            state.PauseTiming();
            // Kept between 100 and 200 ms, where the stream neither flushes nor underflows.
            if (!sendFrame(phone, index))
                state.SkipWithError("the phone's samples did not arrive");
            state.ResumeTiming();
        }
        now += audio::PhoneInputStream::pumpIntervalMs;
        const auto start = std::chrono::steady_clock::now();
        stream.pump();
        us.push_back(
                std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                        .count());
    }
    state.counters["median_us"] = percentile(us, 0.5);
    state.counters["p99_us"] = percentile(us, 0.99);
    state.counters["percent_of_period"]
            = percentile(us, 0.5) / (audio::PhoneInputStream::pumpIntervalMs * 1000.0) * 100.0;
    phone.close();
    server->stop();
}
BENCHMARK(BM_PhoneInputPump)->Iterations(20000);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    return runBenchmarks(argc, argv);
}
