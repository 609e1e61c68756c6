#include "app/MeasureSession.h"
#include "audio/backends/Backends.h"
#include "tests/support/TestMain.h"

#include <QSettings>
#include <QSignalSpy>
#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace {

constexpr double rate = 48000.0;
constexpr double cutoffHz = 1000.0;

// The sound server's filter: a one-pole low-pass y[n] = (1 − a)·x[n] + a·y[n − 1] with unity
// gain at 0 Hz and −3.01 dB at its cutoff, which fixes a = c − √(c² − 1), c = 2 − cos ωc.
double lowPassDb(double hz)
{
    const double c = 2.0 - std::cos(2.0 * std::numbers::pi * cutoffHz / rate);
    const double a = c - std::sqrt(c * c - 1.0);
    const std::complex<double> z1 = std::polar(1.0, -2.0 * std::numbers::pi * hz / rate);
    return 20.0 * std::log10(std::abs((1.0 - a) / (1.0 - a * z1)));
}

} // namespace

// A whole session through a real sound server: the generator plays into a sink that filters
// and feeds a null sink, whose monitor is the input; the reference is the generator's own
// output looped back inside the program. Nothing is set by hand: the loopback must meet the
// recording where the sound left the output, whatever the server and the audio layer queue.
class SessionSoundServerTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            SNT_SKIP("needs the test sound server (scripts/test.sh)");
        QCoreApplication::setOrganizationName(QStringLiteral("Halvo"));
        QCoreApplication::setApplicationName(QStringLiteral("测量工作流"));
        QSettings().setValue("measure/signalType", 0);
        // The program's own backends, as it gives them to the client at its start.
        QVERIFY(audio::Client::setPluginFactories(audio::backendFactories()));
    }

    void loopbackMeetsTheRecording()
    {
        MeasureSession session;
        QVERIFY(session.start("alsa:capture:loop_monitor", "alsa:render:loop_filtered", 0, -1,
                              -12.0f, 0));
        QSignalSpy ready(&session, &MeasureSession::frameReady);
        session.resume();
        QVERIFY(QTest::qWaitFor([&] { return ready.count() >= 100; }, 60000));
        session.updateDelayEstimate();
        const float delayMs = session.estimatedDelayMs();

        QList<float> freq, magnitude, coherence, phase;
        session.transferFunction(freq, magnitude, coherence, &phase);
        session.stop();
        int bins = 0, close = 0;
        std::vector<float> coherences;
        for (qsizetype i = 0; i < freq.size(); ++i) {
            if (freq[i] < 100.0f || freq[i] > 15000.0f)
                continue;
            ++bins;
            close += std::abs(20.0 * std::log10(magnitude[i]) - lowPassDb(freq[i])) < 0.5;
            coherences.push_back(coherence[i]);
        }
        std::nth_element(coherences.begin(), coherences.begin() + bins / 2, coherences.end());
        const QString found = QString("delay %1 ms, median coherence %2, %3 of %4 bins within "
                                      "0.5 dB")
                                      .arg(delayMs)
                                      .arg(coherences[bins / 2])
                                      .arg(close)
                                      .arg(bins);
        qInfo().noquote() << found;
        QVERIFY2(delayMs >= 0.0f && delayMs < 50.0f, qPrintable(found));
        QVERIFY2(coherences[bins / 2] > 0.99f, qPrintable(found));
        QVERIFY2(close > bins * 95 / 100, qPrintable(found));
    }
};

SNT_TEST_MAIN(SessionSoundServerTest)
#include "SessionSoundServerTest.moc"
