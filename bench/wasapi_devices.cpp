// The device listing runs under the audio client's mutex at every refresh, so it must stay
// quick: it reads the ALSA control interface and the user's declarations, never opens a PCM
// whose format it already knows, and asks the sound server, over one short connection, for the
// channels of the sinks and sources the PCMs lead to. Run with the test sound server's
// environment (scripts/test-services.sh) to list its sinks and monitors as well.
#include "audio/wasapi/WasapiPlugin.h"
#include "bench/BenchSupport.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

namespace {

void BM_DevicesListing(benchmark::State &state)
{
    audio::WasapiPlugin plugin;
    plugin.devices(); // the first listing probes the formats once
    for (auto _ : state)
        benchmark::DoNotOptimize(plugin.devices());
    state.counters["rows"] = double(plugin.devices().size());
}
BENCHMARK(BM_DevicesListing)->Unit(benchmark::kMicrosecond);

void BM_PreferredFormat(benchmark::State &state)
{
    audio::WasapiPlugin plugin;
    const QString id = plugin.defaultDevice(audio::Plugin::Output);
    for (auto _ : state)
        benchmark::DoNotOptimize(plugin.preferredFormat(id, audio::Plugin::Output));
}
BENCHMARK(BM_PreferredFormat)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    return runBenchmarks(argc, argv);
}
