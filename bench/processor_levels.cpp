// One message of the processor's level socket as it arrives many times a second: 52 level
// readings and 5 gain changes, through the client's real handler, which must leave the GUI
// thread at once and tell the meters once per message.
#include "bench/BenchSupport.h"
#include "processor/ProcessorClient.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

QString levelMessage(int seed)
{
    QJsonObject data;
    for (int n = 0; n < ProcessorClient::kLevelSlots; ++n)
        data.insert(QStringLiteral("VUvu%1").arg(n), -60.0 + (n * 7 + seed) % 61);
    for (int o = 0; o < 5; ++o)
        data.insert(QStringLiteral("GAINgain%1").arg(28 + o), -0.5 * ((o + seed) % 20));
    return QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("data"), data}})
                                     .toJson(QJsonDocument::Compact));
}

void BM_LevelMessage(benchmark::State &state)
{
    ProcessorClient client;
    long levelSignals = 0;
    QObject::connect(&client, &ProcessorClient::levelsChanged, [&] { ++levelSignals; });
    QStringList messages;
    for (int seed = 0; seed < 16; ++seed)
        messages.append(levelMessage(seed));

    long handled = 0;
    timeEachIteration(state, [&] {
        client.handleLevelMessage(messages[handled % messages.size()]);
        ++handled;
    });
    state.counters["levelsChanged_per_message"] = double(levelSignals) / double(handled);
}
BENCHMARK(BM_LevelMessage)->UseManualTime()->Iterations(10000)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    // The client reads its own settings scope.
    return runBenchmarksInOwnHome(argc, argv);
}
