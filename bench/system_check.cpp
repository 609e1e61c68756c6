// One system check as the screens ask for it every 20 s: six items read from the sound system
// (levels through ALSA's mixer, formats and names from the sound server, its modules). It runs
// on a thread of its own, so its time is how stale the screens' view may be, not a freeze.
// Run with the test sound server's environment (scripts/test-services.sh), PULSE_SERVER set
// to the server to read.
#include "app/SystemCheck.h"
#include "audio/Client.h"
#include "audio/wasapi/WasapiPlugin.h"
#include "bench/BenchSupport.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

namespace {

void BM_SystemCheck(benchmark::State &state)
{
    const auto client = std::make_shared<audio::Client>(QList<audio::Client::PluginFactory>{[] {
        return std::make_shared<audio::WasapiPlugin>();
    }});
    const syscheck::SystemCheck check(client, platform::systemSoundSettings());
    timeEachIteration(state,
                      [&check] { benchmark::DoNotOptimize(check.runSystemCheck(QString())); });
}
BENCHMARK(BM_SystemCheck)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(50);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    return runBenchmarks(argc, argv);
}
