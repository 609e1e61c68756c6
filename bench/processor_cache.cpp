// The processor client's parameter cache on the GUI thread: a full read of a device's whole
// parameter set (every channel with 15 active bands and two 4-section corners), one channel's
// predicted EQ curve, and a small merge as the level socket pushes them, each followed by what
// the panel reads.
#include "bench/BenchSupport.h"
#include "processor/ProcessorClient.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

constexpr int kReplyKeys = 2000;

void put(QJsonObject &params, const char *name, int index, const QJsonValue &value)
{
    params.insert(QLatin1String(name) + QString::number(index), value);
}

// A device with every channel in use: gains, delays and routes, all EQ bands switched on,
// Linkwitz-Riley 48 high-passes and Butterworth 48 low-passes, dynamics, presets, and filler
// keys of the groups the client keeps but does not read, up to `kReplyKeys`.
QJsonObject busyDevice()
{
    QJsonObject p;
    for (int k = 16; k < 36; ++k) {
        put(p, "GAINgain", k, -0.5 * (k % 13));
        put(p, "GAINmute", k, k % 5 == 0 ? 1 : 0);
        put(p, "GAINphase", k, k % 7 == 0 ? 0 : 1);
        put(p, "DELAYtime", k, 0.25 * (k % 9));
        put(p, "DELAYbps", k, 0);
    }
    for (int r = 16; r < 48; ++r)
        put(p, "MIXERmute", r, r % 5 == 0 ? 0 : 1);
    for (int k = 0; k < 260; ++k) {
        put(p, "PEQfreq", k, 40.0 * (1 + k % 15) * (1 + k % 3));
        put(p, "PEQgain", k, (k % 2 ? -1.0 : 1.0) * (k % 9));
        put(p, "PEQq_value", k, 0.7 + 0.1 * (k % 20));
        put(p, "PEQtype", k, k % 3);
        put(p, "PEQbps", k, 0);
    }
    for (int k = 0; k < 24; ++k) {
        put(p, "HLPFfreq", k, k < 12 ? 60.0 : 15000.0);
        put(p, "HLPFtype", k, k < 12 ? 15 : 5);
        put(p, "HLPFbps", k, 0);
    }
    for (int o = 0; o < 8; ++o) {
        for (const char *name : {"COMPthrd", "COMPknee", "COMPratio", "COMPattack", "COMPrelease"})
            put(p, name, o + 4, 10);
        put(p, "LIMITERthrd", o, 12.0);
        put(p, "LIMITERrelease", o, 100);
        put(p, "BYPASSbypass", o + 12, 0);
        put(p, "BYPASSbypass", o + 20, 0);
    }
    for (int s = 0; s < 80; ++s)
        put(p, "PRESETNAMEname", s, QStringLiteral("预设 %1").arg(s));
    for (int filler = 0; p.size() < kReplyKeys; ++filler)
        put(p, "DEQgain", filler, 0.0);
    return p;
}

QByteArray replyBody(const QJsonObject &params)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("WSI"), QStringLiteral("wsi=1a2b")},
                                     {QStringLiteral("data"), params}})
            .toJson(QJsonDocument::Compact);
}

void BM_FullRead(benchmark::State &state)
{
    const QByteArray body = replyBody(busyDevice());
    ProcessorClient client;
    long strips = 0;
    timeEachIteration(state, [&] {
        const QJsonObject reply = QJsonDocument::fromJson(body).object();
        client.replaceCache(reply.value(QLatin1String("data")).toObject());
        strips += client.inputs().size() + client.outputs().size();
    });
    state.counters["keys"] = double(client.paramCache().size());
    state.counters["reply_kB"] = double(body.size()) / 1024.0;
    benchmark::DoNotOptimize(strips);
}
BENCHMARK(BM_FullRead)->UseManualTime()->Iterations(300)->Unit(benchmark::kMillisecond);

void BM_RebuildEqResponse(benchmark::State &state)
{
    ProcessorClient client;
    client.replaceCache(busyDevice());
    timeEachIteration(state, [&] { client.rebuildEqResponse(true, 3); });
}
BENCHMARK(BM_RebuildEqResponse)->UseManualTime()->Iterations(3000)->Unit(benchmark::kMicrosecond);

void BM_MergeAndReadOutputs(benchmark::State &state)
{
    ProcessorClient client;
    client.replaceCache(busyDevice());
    long step = 0;
    timeEachIteration(state, [&] {
        const double gain = -0.1 * double(step++ % 100);
        client.mergeParams({{QStringLiteral("GAINgain28"), gain},
                            {QStringLiteral("GAINgain29"), gain},
                            {QStringLiteral("GAINmute30"), int(step % 2)},
                            {QStringLiteral("GAINphase31"), 1},
                            {QStringLiteral("DELAYtime32"), -gain}});
        benchmark::DoNotOptimize(client.outputs());
    });
}
BENCHMARK(BM_MergeAndReadOutputs)
        ->UseManualTime()
        ->Iterations(10000)
        ->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    // The client reads its own settings scope.
    return runBenchmarksInOwnHome(argc, argv);
}
