// What the bridge's 33 ms tick asks of a running session: its levels and delay, and a copy of
// the transfer function (frequency, magnitude, coherence and phase of 8192 bins) into lists it
// keeps from tick to tick. Measured on a session that ran for a while on the in-process test
// card, so every bin holds a real value.
#include "app/MeasureSession.h"
#include "audio/Client.h"
#include "bench/BenchSupport.h"
#include "tests/support/LoopbackCard.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSettings>
#include <QThread>

namespace {

std::shared_ptr<snt::test::LoopbackCard> card;

void BM_TickReadsTheSession(benchmark::State &state)
{
    QSettings().setValue("measure/signalType", 0);
    MeasureSession session;
    if (!session.start({}, {}, 0, 1, -12.0f, 0)) {
        state.SkipWithError("no session");
        return;
    }
    session.resume();
    const QDeadlineTimer deadline(30000);
    while (session.framesDone() < 20 && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    session.stop();
    QList<float> freq, magnitude, coherence, phase;
    timeEachIteration(state, [&] {
        benchmark::DoNotOptimize(session.level() + session.peak() + session.referenceLevel()
                                 + session.referencePeak() + session.estimatedDelayMs());
        session.transferFunction(freq, magnitude, coherence, &phase);
        benchmark::DoNotOptimize(phase.constData());
    });
    state.counters["bins"] = double(freq.size());
}
BENCHMARK(BM_TickReadsTheSession)
        ->UseManualTime()
        ->Iterations(10000)
        ->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    const int result = runBenchmarksInOwnHome(argc, argv, [] {
        card = std::make_shared<snt::test::LoopbackCard>();
        audio::Client::setPluginFactories({[] {
            return card;
        }});
    });
    card.reset();
    return result;
}
