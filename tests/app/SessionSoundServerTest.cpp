#include "app/AppCore.h"
#include "app/MeasureSession.h"
#include "app/QmlBridge.h"
#include "audio/backends/Backends.h"
#include "engine/tf/LoopbackPairing.h"
#include "tests/audio/LogCapture.h"
#include "tests/support/BusyLoops.h"
#include "tests/support/TestMain.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
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

// What one reading of the session found between 100 Hz and 15 kHz.
struct Reading
{
    float delayMs = 0.0f;
    float medianCoherence = 0.0f;
    int bins = 0;
    double toleranceDb = 0.0;
    // Bins within the tolerance of the filter. A pairing some 20 ms off lowers a 16384-point
    // transform's magnitude by about half a decibel; one that misses the recording altogether
    // leaves most bins several decibels out.
    int close = 0;

    // The filter's shape, whatever the pairing's direction.
    bool heardTheFilter() const { return medianCoherence > 0.99f && close > bins * 95 / 100; }
    // Paired by the devices' clocks, a loaded machine leaves the loopback a few milliseconds
    // either side of the sound: the sound server's smoothed latency report wanders by up to the
    // pairing's own tolerance over a stream's first seconds, and a pairing made then stays (the
    // busy-machine proof holds four runs in five to 5 ms of the quiet pairing).
    bool matchesTheFilter() const
    {
        const auto wander = float(LoopbackPairing::toleranceSeconds * 1000.0);
        return delayMs > -wander && delayMs < 50.0f && heardTheFilter();
    }
    QString text() const
    {
        return QString("delay %1 ms, median coherence %2, %3 of %4 bins within %5 dB")
                .arg(delayMs)
                .arg(medianCoherence)
                .arg(close)
                .arg(bins)
                .arg(toleranceDb);
    }
};

Reading readSession(MeasureSession &session, double toleranceDb)
{
    session.updateDelayEstimate();
    Reading reading;
    reading.toleranceDb = toleranceDb;
    reading.delayMs = session.estimatedDelayMs();
    QList<float> freq, magnitude, coherence, phase;
    session.transferFunction(freq, magnitude, coherence, &phase);
    std::vector<float> coherences;
    for (qsizetype i = 0; i < freq.size(); ++i) {
        if (freq[i] < 100.0f || freq[i] > 15000.0f)
            continue;
        ++reading.bins;
        reading.close
                += std::abs(20.0 * std::log10(magnitude[i]) - lowPassDb(freq[i])) < toleranceDb;
        coherences.push_back(coherence[i]);
    }
    if (!coherences.empty()) {
        const auto middle = coherences.begin() + std::ptrdiff_t(coherences.size() / 2);
        std::nth_element(coherences.begin(), middle, coherences.end());
        reading.medianCoherence = *middle;
    }
    return reading;
}

// The name of the sink the server plays this process's stream into; empty while it plays none.
QString sinkOfOurStream()
{
    const auto pactl = [](const QStringList &arguments) {
        QProcess process;
        process.start("pactl", arguments);
        process.waitForFinished(10000);
        return QString::fromUtf8(process.readAllStandardOutput());
    };
    const QString pid = QString::number(QCoreApplication::applicationPid());
    for (const QString &input : pactl({"list", "sink-inputs"}).split("Sink Input #")) {
        if (!input.contains(QStringLiteral("application.process.id = \"%1\"").arg(pid)))
            continue;
        const QString sink = QRegularExpression("\\n\\s*Sink: (\\d+)\\n").match(input).captured(1);
        for (const QString &line : pactl({"list", "short", "sinks"}).split('\n'))
            if (line.section('\t', 0, 0) == sink)
                return line.section('\t', 1, 1);
    }
    return QString();
}

// Three readings a second apart find the filter, within half a minute of the first 100 frames.
// A server that runs dry once shifts the streams against each other; the session re-pairs and
// averages again, so a single reading may miss, but a pairing that is wrong for good never gets
// there.
bool findsTheFilter(MeasureSession &session, Reading *reading,
                    bool (Reading::*found)() const = &Reading::matchesTheFilter)
{
    QSignalSpy ready(&session, &MeasureSession::frameReady);
    if (!QTest::qWaitFor([&] { return ready.count() >= 100; }, 60000))
        return false;
    int inARow = 0;
    for (int second = 0; second < 30 && inARow < 3; ++second) {
        if (second > 0)
            QTest::qWait(1000);
        *reading = readSession(session, 1.0);
        inARow = (reading->*found)() ? inARow + 1 : 0;
        qInfo().noquote() << reading->text();
    }
    return inARow == 3;
}

bool startOnTheLoop(MeasureSession &session)
{
    return session.start("alsa:loop_monitor", "alsa:loop_filtered", 0, -1, -12.0f, 0);
}

// One session from its start to three seconds after the loopback was first paired.
struct PairedRun
{
    bool paired = false;
    double pairedAfterS = 0.0;
    Reading reading;
    QStringList repairings; // the log's re-pairings within the three seconds

    bool passes(float quietDelayMs) const
    {
        return holds(quietDelayMs) && std::abs(reading.delayMs - quietDelayMs) < 5.0f
               && reading.close >= reading.bins * 95 / 100;
    }
    // Paired near the sound and kept there: not a whole buffer of the server's away.
    bool holds(float quietDelayMs) const
    {
        return paired && repairings.isEmpty() && std::abs(reading.delayMs - quietDelayMs) < 50.0f;
    }
    QString text() const
    {
        if (!paired)
            return QStringLiteral("never paired");
        return QString("paired after %1 s; 3 s later %2%3")
                .arg(pairedAfterS, 0, 'f', 1)
                .arg(reading.text(),
                     repairings.isEmpty() ? QString() : "; " + repairings.join("; "));
    }
};

PairedRun runUntilThreeSecondsAfterThePairing()
{
    PairedRun run;
    LogCapture log;
    MeasureSession session;
    if (!startOnTheLoop(session))
        return run;
    QElapsedTimer clock;
    clock.start();
    session.resume();
    const auto firstPairing = [&log] {
        const QStringList lines = log.lines();
        const auto at = std::find_if(lines.cbegin(), lines.cend(), [](const QString &line) {
            return line.contains("loopback paired with the recording");
        });
        return at == lines.cend() ? -1 : qsizetype(at - lines.cbegin());
    };
    run.paired = QTest::qWaitFor([&] { return firstPairing() >= 0; }, 30000);
    if (run.paired) {
        run.pairedAfterS = double(clock.elapsed()) / 1000.0;
        QTest::qWait(3000);
        run.reading = readSession(session, 0.5);
        const QStringList lines = log.lines();
        for (qsizetype i = firstPairing() + 1; i < lines.size(); ++i)
            if (lines[i].contains("loopback re-paired"))
                run.repairings.append(lines[i]);
    }
    session.stop();
    return run;
}

} // namespace

// A whole session through a real sound server: the generator plays into a sink that filters
// and feeds a null sink, whose monitor is the input; the reference is the generator's own
// output looped back inside the program. Nothing is set by hand: the loopback must meet the
// recording where the sound left the output, whatever the server and the audio layer queue. An
// input that leaves the reference no channel of its own measures nothing.
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
        QVERIFY(startOnTheLoop(session));
        session.resume();
        Reading reading;
        const bool found = findsTheFilter(session, &reading);
        session.stop();
        QVERIFY2(found, qPrintable(reading.text()));
    }

    // A PCM that plays and records, chosen as the input with no output named, is also the
    // output, as a duplex card is: the signal goes into its own sink (the filtering one), not
    // into the server's default, and comes back through the filter.
    void aDuplexInputIsAlsoTheOutput()
    {
        MeasureSession session;
        QVERIFY(session.start("alsa:loop_duplex", QString(), 0, -1, -12.0f, 0));
        QCOMPARE(session.outputDeviceId(), QStringLiteral("alsa:loop_duplex"));
        QCOMPARE(session.outputDeviceName(), QStringLiteral("Filtered loop"));
        session.resume();
        QTRY_COMPARE_WITH_TIMEOUT(sinkOfOurStream(), QStringLiteral("filtered"), 10000);
        Reading reading;
        const bool found = findsTheFilter(session, &reading, &Reading::heardTheFilter);
        session.stop();
        QVERIFY2(found, qPrintable(reading.text()));
    }

    // A choice saved under the id of an earlier version, which named the side, still finds the
    // device.
    void anInputSavedUnderItsEarlierIdIsFound()
    {
        QSettings().setValue("audio/inputDevice", "alsa:capture:loop_duplex");
        const auto forget = qScopeGuard([] { QSettings().remove("audio/inputDevice"); });
        QCOMPARE(MeasureSession::preferredInputDevice(), QStringLiteral("alsa:loop_duplex"));
        QCOMPARE(MeasureSession::findDevice("alsa:render:loop"), QString()); // plays only
    }

    // A reference read from an input that is not one of its own is refused before anything
    // plays, with the reason on the screen and no curve: a mono source behind the server,
    // offered with the one channel it has, or the microphone's own channel as the reference.
    void aReferenceWithoutAnInputOfItsOwnIsRefused_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<int>("reference");
        QTest::addColumn<QStringList>("channels");
        QTest::addColumn<QString>("reason");
        QTest::newRow("mono source")
                << "alsa:mono_mic" << 1 << QStringList{"1"}
                << QString("「%1」只有 1 路输入，测不了：参考信号要单独占一路输入，"
                           "请换一个至少两路输入的声卡")
                           .arg(audio::Client::instance()->deviceName("alsa:mono_mic"));
        QTest::newRow("the microphone's own channel")
                << "alsa:loop_monitor" << 0 << QStringList{"1", "2"}
                << "测量和参考选了同一路输入，测不了：参考信号要单独占一路输入，请在设置里换一路参"
                   "考";
    }
    void aReferenceWithoutAnInputOfItsOwnIsRefused()
    {
        QFETCH(QString, input);
        QFETCH(int, reference);
        QFETCH(QStringList, channels);
        QFETCH(QString, reason);
        QSettings settings;
        settings.setValue("audio/inputDevice", input);
        settings.setValue("audio/referenceChannel", reference);
        const auto forget = qScopeGuard([] {
            QSettings().remove("audio/inputDevice");
            QSettings().remove("audio/referenceChannel");
        });
        QmlBridge bridge;
        QCOMPARE(bridge.audioInputChannels(), channels);
        bridge.beginMeasurement();
        bridge.measurePrimaryAction();
        QTRY_COMPARE(bridge.toastText(), reason);
        QVERIFY(!bridge.measuring());
        QVERIFY(!bridge.core().session());
        QVERIFY(bridge.measuringCurveFlat().isEmpty());
    }

    // With every processor kept busy beside it, a session still pairs the loopback where a
    // quiet machine does (within 5 ms), and three seconds later shows the filter (within half a
    // decibel in 95 % of the bins) without having re-paired. First a run without busy loops,
    // whose pairing the busy runs must meet: the filter's impulse response peaks at lag 0, so
    // it shows no delay. The rest of the suite runs beside it, so that run may meet the sound
    // server's wandering latency report as a busy one does: the first of up to three that pairs
    // within 5 ms is taken. Then twenty busy runs, as many as fit into two and a half minutes;
    // SNT_PAIRING_RUNS asks for that many, however long they take.
    void pairingHoldsOnABusyMachine()
    {
        PairedRun quiet;
        QStringList quietRuns;
        for (int attempt = 0; attempt < 3 && !quiet.passes(0.0f); ++attempt) {
            quiet = runUntilThreeSecondsAfterThePairing();
            quietRuns.append(quiet.text());
            qInfo().noquote() << "quiet:" << quiet.text();
        }
        QVERIFY2(quiet.passes(0.0f), qPrintable(quietRuns.join('\n')));
        bool asked = false;
        const int askedRuns = qEnvironmentVariableIntValue("SNT_PAIRING_RUNS", &asked);
        const int runs = asked && askedRuns > 0 ? askedRuns : 20;
        const BusyLoops busy(processorsOfTheRun());
        QVERIFY(busy.count() > 0);
        QElapsedTimer spent;
        spent.start();
        QStringList missed, lost;
        int done = 0;
        for (; done < runs && (asked || spent.elapsed() < 150000); ++done) {
            const PairedRun run = runUntilThreeSecondsAfterThePairing();
            qInfo().noquote() << "busy run" << done + 1 << "with" << busy.count()
                              << "busy loops:" << run.text();
            const QString line = QString("run %1: %2").arg(done + 1).arg(run.text());
            if (!run.holds(quiet.reading.delayMs))
                lost.append(line);
            else if (!run.passes(quiet.reading.delayMs))
                missed.append(line);
        }
        qInfo().noquote() << done - missed.size() - lost.size() << "of" << done
                          << "busy runs passed";
        QVERIFY2(lost.isEmpty(), qPrintable(lost.join('\n')));
        // The sound server's client library smooths the latency it reports, and with every
        // processor busy that estimate wanders by up to ten milliseconds over a stream's first
        // seconds and slowly comes back, while the filter's response, read against the same
        // pairing, never moves: the error is the server's report, not the pairing. Runs that miss
        // the 5 ms by that much come in clusters (1 of 30 in one long run, none in the next), so
        // one run in five may; none may pair a buffer away or re-pair.
        QVERIFY2(missed.size() <= done / 5, qPrintable(missed.join('\n')));
        QVERIFY2(done >= 5, qPrintable(QString("only %1 runs in the time").arg(done)));
    }
};

SNT_TEST_MAIN(SessionSoundServerTest)
#include "SessionSoundServerTest.moc"
