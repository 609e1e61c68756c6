// What the GUI thread does 30 times a second while a measuring screen is shown: one tick of the
// measuring flow (levels, delay and the 8193-bin transfer function of a 16384-point measurement
// copied out of the running session) and one read of every curve feed the measuring screens
// bind, with 0, 3 and 10 line-array points captured; and, for scale, one display curve made
// afresh as each read would make it without the cache. The flow and its feeds are made over one
// core as the bridge makes them. The measurement runs on the loopback test card; cycles are 33 ms
// apart and the event loop runs between them, so the measurement publishes as it would.
#include "app/AppCore.h"
#include "app/CurveFeeds.h"
#include "app/MeasuringFeeds.h"
#include "app/MeasuringFlow.h"
#include "app/UiState.h"
#include "audio/Client.h"
#include "bench/BenchSupport.h"
#include "tests/support/LoopbackCard.h"

#include <QSettings>
#include <QThread>

namespace {

std::shared_ptr<snt::test::LoopbackCard> card;
constexpr std::chrono::milliseconds tickPeriod(33);

void waitFor(const std::function<bool()> &done)
{
    for (int i = 0; i < 3000 && !done(); ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
}

// The measuring flow with the chart feeds over one core.
struct Measuring
{
    AppCore core;
    UiState ui;
    MeasuringFlow flow{core, ui};
    MeasuringFeeds feeds{core, flow};

    bool hasCurve() const { return !core.measured().freq.isEmpty(); }
};

// In line-array mode with `points` captured points and a free run going.
std::unique_ptr<Measuring> measuring(int points)
{
    auto m = std::make_unique<Measuring>();
    m->flow.beginArrayMeasurement();
    for (int i = 0; i < points; ++i) {
        m->flow.startMeasure();
        waitFor([&] { return m->hasCurve(); });
        m->flow.stopMeasure();
    }
    m->flow.startMeasure();
    waitFor([&] { return m->hasCurve(); });
    return m;
}

qsizetype readEveryFeed(const MeasuringFeeds &feeds)
{
    return feeds.measuredCurve().size() + feeds.measuringCurveFlat().size()
           + feeds.measuringCoherence().size() + feeds.measuringCoherenceFlat().size()
           + feeds.latestMeasurementCurve().size() + feeds.measurementHistoryCurves().size()
           + feeds.measurementPointCurves().size() + feeds.averageMeasurementCurve().size()
           + qsizetype(feeds.measureCurveCenter());
}

void tickAndReadEveryFeed(benchmark::State &state)
{
    const int points = int(state.range(0));
    std::unique_ptr<Measuring> m = measuring(points);
    if (m->flow.pointCount() != points || !m->flow.measuring()) {
        state.SkipWithError("the loopback card did not measure");
        return;
    }
    state.SetLabel(QStringLiteral("%1 points, %2 bins")
                           .arg(points)
                           .arg(m->core.measured().freq.size())
                           .toStdString());
    std::vector<double> us;
    auto nextTick = std::chrono::steady_clock::now();
    for (auto _ : state) {
        // Paced as the tick timer paces it, so the measurement publishes a new transfer function
        // every second or third cycle, as it does on screen.
        nextTick += tickPeriod;
        while (std::chrono::steady_clock::now() < nextTick) {
            QCoreApplication::processEvents();
            QThread::msleep(1);
        }
        const auto start = std::chrono::steady_clock::now();
        m->flow.onMeasureTick();
        benchmark::DoNotOptimize(readEveryFeed(m->feeds));
        const double seconds
                = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        us.push_back(seconds * 1e6);
    }
    state.counters["median_us"] = percentile(us, 0.5);
    state.counters["p95_us"] = percentile(us, 0.95);
    state.counters["p99_us"] = percentile(us, 0.99);
}

// One display curve of the live transfer function, absolute or relative to its base level.
void displayCurveOfTheLiveCurve(benchmark::State &state)
{
    const LevelScale scale = state.range(0) ? LevelScale::Relative : LevelScale::Absolute;
    std::unique_ptr<Measuring> m = measuring(0);
    const MeasuredCurve &curve = m->core.measured();
    state.SetLabel(QStringLiteral("%1, %2 bins")
                           .arg(scale == LevelScale::Relative ? "relative" : "absolute")
                           .arg(curve.freq.size())
                           .toStdString());
    for (auto _ : state) {
        benchmark::DoNotOptimize(
                displayCurve(curve.freq, curve.magnitude, curve.coherence, scale, Flow::LineArray));
    }
}

} // namespace

BENCHMARK(displayCurveOfTheLiveCurve)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(tickAndReadEveryFeed)
        ->Arg(0)
        ->Arg(3)
        ->Arg(10)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(300);

int main(int argc, char **argv)
{
    const int result = runBenchmarksInOwnHome(argc, argv, [] {
        QCoreApplication::setOrganizationName(QStringLiteral("Halvo"));
        QCoreApplication::setApplicationName(QStringLiteral("测量工作流"));
        QSettings().setValue("measure/signalType", 0);
        card = std::make_shared<snt::test::LoopbackCard>();
        audio::Client::setPluginFactories({[] {
            return card;
        }});
    });
    card.reset();
    return result;
}
