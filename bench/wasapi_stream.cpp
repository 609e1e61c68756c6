// What one wake-up of a render stream's thread costs: the engine consumes a period, signals,
// and the thread refills the free part of the buffer from its source (read, release). Measured
// over the in-process audio layer, so only the backend's own work and the thread hand-off count;
// the budget is one period, 10 ms.
#include "audio/Stream.h"
#include "audio/wasapi/WasapiPlugin.h"
#include "bench/BenchSupport.h"
#include "tests/platform/FakeAudioSystem.h"

#include <QCoreApplication>
#include <QIODevice>
#include <benchmark/benchmark.h>
#include <cstring>
#include <thread>

namespace {

class EndlessSource : public QIODevice
{
protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        std::memset(data, 0x3c, size_t(maxSize));
        return maxSize;
    }
    qint64 writeData(const char *, qint64) override { return -1; }
};

void BM_RenderWakeUp(benchmark::State &state)
{
    const auto periodFrames = uint32_t(state.range(0));
    auto system = std::make_shared<snt::test::FakeAudioSystem>();
    system->addEndpoint({"out", "Out", platform::DataFlow::Render,
                         platform::WaveFormat::extensibleFloat(48000, 2),
                         platform::WaveFormat::extensibleFloat(48000, 2)});
    audio::WasapiPlugin plugin(system);
    EndlessSource source;
    audio::Stream *stream = plugin.open("out", audio::Plugin::Output, {48000, 2}, &source);
    auto client = system->lastClient();
    int released = 0;
    const auto tickAndWait = [&] {
        client->tick();
        ++released;
        while (system->callCount("releaseBuffer") < released)
            std::this_thread::yield();
    };
    tickAndWait(); // the first wake-up fills the whole buffer
    for (auto _ : state) {
        client->consume(periodFrames);
        tickAndWait();
    }
    stream->close();
    state.SetItemsProcessed(int64_t(state.iterations()) * periodFrames);
}
BENCHMARK(BM_RenderWakeUp)->Arg(480)->Arg(4800)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    return runBenchmarks(argc, argv);
}
