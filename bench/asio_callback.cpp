// One period of the ASIO backend as the driver's real-time thread runs it: the driver copies its
// input ports into the current half, the backend fills the outputs from one render stream,
// converts every channel and hands the input block to the ASIO thread for two capture streams,
// and the driver copies the output half to its ports. Reported as a share of the period's time
// (goal: under 5 %), with the heap calls made on the real-time thread (goal: none of the
// backend's; the fake driver notes every call in its call log, a string and now and then a
// longer list, which the count takes in). The capture dispatch that follows in the ASIO thread
// is measured apart.
#include "audio/Stream.h"
#include "audio/asio/ASIOPlugin.h"
#include "audio/asio/AsioStreamTable.h"
#include "bench/BenchSupport.h"
#include "common/RealTime.h"
#include "tests/platform/FakeAsioDriver.h"

#include <QCoreApplication>
#include <QIODevice>
#include <atomic>
#include <cstring>

namespace {

using platform::asio::SampleType;
constexpr double rate = 48000;

// A render source that always has a signal, and a sink that takes every block.
class EndlessDevice : public QIODevice
{
protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        auto *out = reinterpret_cast<float *>(data);
        for (qint64 i = 0; i < maxSize / qint64(sizeof(float)); ++i)
            out[i] = float(i % 200) * 0.005f - 0.5f;
        return maxSize;
    }
    qint64 writeData(const char *, qint64 size) override { return size; }
};

void BM_AsioPeriod(benchmark::State &state)
{
    const auto frames = int(state.range(0));
    const auto type = SampleType(state.range(1));
    snt::test::FakeAsioBoard board;
    snt::test::FakeAsioBoard::DriverSpec spec;
    spec.key = "Bench";
    spec.bufferSize = frames;
    spec.rate = rate;
    spec.inputs = {{type, "In 1"}, {type, "In 2"}};
    spec.outputs = {{type, "Out 1"}, {type, "Out 2"}};
    board.addDriver(spec);
    audio::ASIOPlugin plugin(board.makeHost());
    QMetaObject::invokeMethod(
            &plugin, [] {}, Qt::BlockingQueuedConnection); // probe done
    EndlessDevice source, sink1, sink2;
    audio::Stream *render = plugin.open("Bench", audio::Plugin::Output, {}, &source);
    audio::Stream *capture1 = plugin.open("Bench", audio::Plugin::Input, {}, &sink1);
    audio::Stream *capture2 = plugin.open("Bench", audio::Plugin::Input, {}, &sink2);
    snt::test::FakeAsioDriver *driver = board.current();
    for (int c = 0; c < 2; ++c)
        driver->setInputPort(c, QByteArray(frames * platform::asio::bytesPerSample(type), '\x21'));

    uint64_t mostHeapCalls = 0;
    timeEachIteration(state, [&] {
        realtime::resetViolations();
        {
            realtime::Section audioThread;
            driver->runPeriod();
        }
        mostHeapCalls = std::max(mostHeapCalls, realtime::violations().heapCalls);
    });
    const double periodUs = frames / rate * 1e6;
    state.counters["period_us"] = periodUs;
    state.counters["median_pct"] = 100.0 * state.counters["median_us"] / periodUs;
    state.counters["p99_pct"] = 100.0 * state.counters["p99_us"] / periodUs;
    state.counters["heap_calls_per_period"] = double(mostHeapCalls);
    for (audio::Stream *s : {render, capture1, capture2})
        s->close();
}
BENCHMARK(BM_AsioPeriod)
        ->ArgsProduct({{64, 1024}, {int(SampleType::Float32), int(SampleType::Int32)}})
        ->ArgNames({"frames", "type"})
        ->UseManualTime()
        ->Unit(benchmark::kMicrosecond);

// The ASIO thread's part of a captured block: writing it into two capture streams' sinks.
void BM_AsioCaptureDispatch(benchmark::State &state)
{
    const auto frames = qsizetype(state.range(0));
    audio::asio::StreamTable table;
    EndlessDevice sink1, sink2;
    audio::Stream capture1({48000, 2}), capture2({48000, 2});
    for (auto [stream, sink] : {std::pair{&capture1, &sink1}, std::pair{&capture2, &sink2}}) {
        sink->open(QIODevice::WriteOnly | QIODevice::Unbuffered);
        table.addCapture(stream, sink);
    }
    const QList<float> block = noise(frames * 2, 1);
    for (auto _ : state)
        table.dispatch(block.constData(), block.size());
    state.counters["period_us"] = frames / rate * 1e6;
    reportPerFrame(state, frames);
}
BENCHMARK(BM_AsioCaptureDispatch)->Arg(64)->Arg(1024)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // Periods run back to back here, far faster than a sound card asks for them, so the ASIO
    // thread's notes about dropped blocks say nothing about real use.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    return runBenchmarks(argc, argv);
}
