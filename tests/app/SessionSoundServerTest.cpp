#include "app/AppCore.h"
#include "app/MeasureSession.h"
#include "app/QmlBridge.h"
#include "audio/backends/Backends.h"
#include "tests/audio/LogCapture.h"
#include "tests/support/BusyLoops.h"
#include "tests/support/TestMain.h"

#include <QElapsedTimer>
#include <QFile>
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
    // How far the delay read lies outside the path's own, 0 to 0.7 ms (a one-pole low-pass
    // smears its response over the first samples), in ms.
    double pairingErrorMs() const
    {
        return delayMs < 0.0f ? -double(delayMs) : std::max(0.0, double(delayMs) - 0.7);
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

// The test sound server's own log (SNT_TEST_PULSE_LOG, written at debug level) from the moment
// this is made.
class ServerLog
{
public:
    ServerLog()
        : file_(qEnvironmentVariable("SNT_TEST_PULSE_LOG"))
    {
        if (file_.open(QIODevice::ReadOnly))
            file_.seek(file_.size());
    }

    // How far the server rewound its sinks short of what it was asked since this was made (or
    // last asked), in ms of the loop's float32 stereo stream at 48 kHz. Lines the server's
    // threads write at once may run into each other, so the text is searched as a whole.
    double partialRewindsMs()
    {
        static const QRegularExpression rewind("(Requested to rewind|Rewound) (\\d+) bytes");
        constexpr double bytesPerMs = 2 * sizeof(float) * rate / 1000.0;
        double rewound = 0.0;
        qint64 requested = 0;
        const QString text = QString::fromUtf8(file_.readAll());
        for (auto it = rewind.globalMatch(text); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            const qint64 bytes = m.captured(2).toLongLong();
            if (m.captured(1) == QLatin1String("Requested to rewind"))
                requested = bytes;
            else if (bytes < requested)
                rewound += double(bytes) / bytesPerMs;
        }
        return rewound;
    }

private:
    QFile file_;
};

// The sound shows the recording's lag to about a millisecond.
constexpr double soundPrecisionMs = 1.0;

// What the log of one session tells of the sound server behind it, measured by the program's
// streams and against the recorded sound, and what the server's own log says.
struct ServerSigns
{
    // The output took no frames and the monitor gave none for two seconds: the sound path
    // stood still, whatever the program asked of it.
    bool stoodStill = false;
    // How far the server's latency report wandered against the sound while paired, in ms: the
    // pairing, made by that report, can be as far off.
    double wanderMs = 0.0;
    // Re-pairings the sound itself showed: the server ran dry and the streams moved.
    QStringList streamsMoved;
    // How far the server rewound its sink short of what it was asked, in ms. When a stream that
    // ran dry gets data again, the server rewinds what it had already mixed, by a period of the
    // stream; where it had mixed less, it rewinds that much, and the sound then stands that far
    // off what its latency report says (seen 7.54 ms rewound in a run paired 7.60 ms off, 5.75
    // ms in one 5.85 ms off, and none in the runs paired right).
    double rewoundMs = 0.0;

    static ServerSigns of(const QStringList &lines, double rewoundMs)
    {
        ServerSigns signs;
        signs.rewoundMs = rewoundMs;
        const auto any = [&lines](const char *text) {
            return std::any_of(lines.cbegin(), lines.cend(),
                               [text](const QString &line) { return line.contains(text); });
        };
        signs.stoodStill = any("took no frames for") && any("no frames from alsa:loop_monitor");
        const QRegularExpression wander("timing wandered by up to (\\d+) ms against the sound");
        for (const QString &line : lines) {
            if (const QRegularExpressionMatch m = wander.match(line); m.hasMatch())
                signs.wanderMs = std::max(signs.wanderMs, m.captured(1).toDouble());
            if (line.contains("loopback re-paired: the sound moved"))
                signs.streamsMoved.append(line);
        }
        return signs;
    }
    // Whether a pairing `errorMs` off is what the server's report was seen to wander against
    // the sound, and its sink to be rewound short, together (with the sound's precision of a
    // millisecond): the server's, not the program's.
    bool explains(double errorMs) const
    {
        const double serversMs = wanderMs + rewoundMs;
        return serversMs > 0.0 && errorMs <= soundPrecisionMs + serversMs;
    }
    // Whether a pairing `errorMs` off lies within what the server's report lets a pairing be:
    // one that held still after the pairing was still seen up to 3.7 ms off at a busy stream's
    // start (in 19 runs beside eight busy loops), which nothing after the pairing can measure,
    // so 5 ms; beyond that, what it was seen to wander and its sink to be rewound short.
    bool excuses(double errorMs) const { return errorMs < 5.0 || explains(errorMs); }
    // Whether the run's failure tells nothing of the program: the sound path stood still; or
    // the pairing lies as far off as the server's report was seen to wander and its sink to be
    // rewound short, and either beyond what a pairing may be or the filter was not shown where
    // a rewind short moved the sound under the average (seen in 6 of 16 busy runs beside
    // eight busy loops: the magnitude then strays by more than half a decibel in up to half
    // the bins, in runs paired 1.5 ms off).
    bool account(double errorMs, bool showedTheFilter) const
    {
        if (stoodStill)
            return true;
        return explains(errorMs)
               && (errorMs >= 5.0 || (!showedTheFilter && rewoundMs >= soundPrecisionMs));
    }
    QString text() const
    {
        QStringList out;
        if (stoodStill)
            out << "the output took no frames and the monitor gave none for two seconds";
        if (wanderMs > 0.0)
            out << QString("the server's latency report wandered by %1 ms against the sound")
                            .arg(wanderMs);
        if (rewoundMs > 0.0)
            out << QString("the server rewound its sink short by %1 ms in all (its log)")
                            .arg(rewoundMs, 0, 'f', 2);
        if (!streamsMoved.isEmpty())
            out << QString("the server ran dry and the sound moved %1 time(s)")
                            .arg(streamsMoved.size());
        return out.join("; ");
    }
};

// Three readings a second apart find the filter's shape, within half a minute of the first
// 100 frames. A server that runs dry once shifts the streams against each other; the session
// re-pairs and averages again, so a single reading may miss, but a pairing that is wrong for
// good never gets there.
bool findsTheFilter(MeasureSession &session, Reading *reading)
{
    QSignalSpy ready(&session, &MeasureSession::frameReady);
    if (!QTest::qWaitFor([&] { return ready.count() >= 100; }, 60000))
        return false;
    int inARow = 0;
    for (int second = 0; second < 30 && inARow < 3; ++second) {
        if (second > 0)
            QTest::qWait(1000);
        *reading = readSession(session, 1.0);
        inARow = reading->heardTheFilter() ? inARow + 1 : 0;
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
    ServerSigns signs; // of the whole run

    // Paired at the path's own delay, as far as the server's report lets it, and showing the
    // filter.
    bool passes() const
    {
        return holds() && signs.excuses(reading.pairingErrorMs()) && showsTheFilter();
    }
    bool showsTheFilter() const { return reading.close >= reading.bins * 95 / 100; }
    // Paired near the sound: not a whole buffer of the server's away.
    bool holds() const { return paired && reading.pairingErrorMs() < 50.0; }
    // Whether the server's signs account for the run's failure (see ServerSigns::account).
    bool tellsNothing() const { return signs.account(reading.pairingErrorMs(), showsTheFilter()); }
    QString text() const
    {
        const QString server = signs.text().isEmpty() ? QString() : "; " + signs.text();
        if (!paired)
            return QStringLiteral("never paired") + server;
        return QString("paired after %1 s; 3 s later %2%3")
                .arg(pairedAfterS, 0, 'f', 1)
                .arg(reading.text(), server);
    }
};

PairedRun runUntilThreeSecondsAfterThePairing()
{
    PairedRun run;
    LogCapture log;
    ServerLog serverLog;
    double rewoundMs = 0.0;
    {
        MeasureSession session;
        if (!startOnTheLoop(session))
            return run;
        QElapsedTimer clock;
        clock.start();
        session.resume();
        run.paired = QTest::qWaitFor(
                [&log] {
                    const QStringList lines = log.lines();
                    return std::any_of(lines.cbegin(), lines.cend(), [](const QString &line) {
                        return line.contains("loopback paired with the recording");
                    });
                },
                30000);
        if (run.paired) {
            run.pairedAfterS = double(clock.elapsed()) / 1000.0;
            QTest::qWait(3000);
            run.reading = readSession(session, 0.5);
        }
        // Up to the reading: the stop rewinds the sink as well.
        rewoundMs = serverLog.partialRewindsMs();
        session.stop();
    }
    run.signs = ServerSigns::of(log.lines(), rewoundMs);
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

    // The session shows the filter, and the delay of the path's own low-pass: off by no more
    // than the server's latency report lets a pairing be. A run whose failure the server's
    // measured signs account for (the sound path stood still for two seconds, the output taking
    // nothing and the monitor giving nothing; or the pairing lies as far off as the server's
    // report was seen to wander against the sound and its sink to be rewound short, or the
    // filter was not shown where such a rewind moved the sound) tells nothing of the program:
    // it is said so, and a new session measures, up to three.
    void loopbackMeetsTheRecording()
    {
        QStringList theServers;
        for (int attempt = 0; attempt < 3; ++attempt) {
            LogCapture log;
            ServerLog serverLog;
            Reading reading;
            bool found = false;
            double rewoundMs = 0.0;
            {
                MeasureSession session;
                QVERIFY(startOnTheLoop(session));
                session.resume();
                found = findsTheFilter(session, &reading);
                // Up to the reading: the stop rewinds the sink as well.
                rewoundMs = serverLog.partialRewindsMs();
                session.stop();
            }
            const ServerSigns signs = ServerSigns::of(log.lines(), rewoundMs);
            const double error = reading.pairingErrorMs();
            const QString seen = reading.text() + "; " + signs.text();
            if ((!found || !signs.excuses(error)) && signs.account(error, found)) {
                qInfo().noquote() << "a run the sound server's signs account for:" << seen;
                theServers.append(seen);
                continue;
            }
            QVERIFY2(found, qPrintable(seen));
            QVERIFY2(signs.excuses(error), qPrintable(seen));
            if (error > 1.0)
                qInfo().noquote() << "paired" << error
                                  << "ms off the path, by the server's latency report:" << seen;
            return;
        }
        QFAIL(qPrintable("the sound server's signs account for every run:\n"
                         + theServers.join('\n')));
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
        const bool found = findsTheFilter(session, &reading);
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
    // quiet machine does, and three seconds later shows the filter (within half a decibel in
    // 95 % of the bins). First a run without busy loops must pair at the path's own delay: the
    // filter's impulse response peaks at lag 0, so it shows no delay. The rest of the suite
    // runs beside it, so that run may meet a wandering latency report as a busy one does: the
    // first of up to three that pairs within the sound's precision and the report's measured
    // wander is taken. Every run is measured from that known delay, not from the quiet run's
    // pairing, which may itself be a millisecond off and would add its own error to every busy
    // run's. Then twenty busy runs, as many as fit into two and a half minutes, and more, up to
    // four and a half, while the server's signs leave fewer than five to judge; SNT_PAIRING_RUNS
    // asks for that many, however long they take.
    //
    // What the server does on a busy machine is measured, not guessed: its latency report is
    // read against the recorded sound, and its own log says how far it rewound its sink short;
    // a run may be off the path's delay by 5 ms, or by as much as the report was seen to wander
    // and the sink to be rewound short (plus the sound's precision of a millisecond); a server
    // that ran dry moves the streams, and the session re-pairs by what the sound shows; a run
    // the server's signs account for (a sound path that stood still, nothing taken and nothing
    // given for two seconds; a pairing as far off as the report wandered and the sink was
    // rewound short, or a filter not shown where such a rewind moved the sound under the
    // average) tells nothing of the program, and is named and left out. Of the others, one in
    // five may miss; none may pair a buffer away.
    void pairingHoldsOnABusyMachine()
    {
        PairedRun quiet;
        QStringList quietRuns;
        for (int attempt = 0; attempt < 3 && !quiet.passes(); ++attempt) {
            quiet = runUntilThreeSecondsAfterThePairing();
            quietRuns.append(quiet.text());
            qInfo().noquote() << "quiet:" << quiet.text();
        }
        QVERIFY2(quiet.passes(), qPrintable(quietRuns.join('\n')));
        bool asked = false;
        const int askedRuns = qEnvironmentVariableIntValue("SNT_PAIRING_RUNS", &asked);
        const int runs = asked && askedRuns > 0 ? askedRuns : 20;
        constexpr int leastJudged = 5;
        const BusyLoops busy(processorsOfTheRun());
        QVERIFY(busy.count() > 0);
        QElapsedTimer spent;
        spent.start();
        QStringList missed, lost, accounted;
        int done = 0;
        const auto wantsAnotherRun = [&] {
            if (asked)
                return done < runs;
            if (done - accounted.size() < leastJudged)
                return spent.elapsed() < 270000;
            return done < runs && spent.elapsed() < 150000;
        };
        for (; wantsAnotherRun(); ++done) {
            const PairedRun run = runUntilThreeSecondsAfterThePairing();
            qInfo().noquote() << "busy run" << done + 1 << "with" << busy.count()
                              << "busy loops:" << run.text();
            const QString line = QString("run %1: %2").arg(done + 1).arg(run.text());
            if (run.tellsNothing())
                accounted.append(line);
            else if (!run.holds())
                lost.append(line);
            else if (!run.passes())
                missed.append(line);
        }
        const int judged = done - int(accounted.size());
        qInfo().noquote() << judged - missed.size() - lost.size() << "of" << judged
                          << "busy runs passed;" << accounted.size()
                          << "the sound server's signs account for";
        QVERIFY2(lost.isEmpty(), qPrintable(lost.join('\n')));
        QVERIFY2(missed.size() <= judged / 5, qPrintable(missed.join('\n')));
        QVERIFY2(judged >= leastJudged,
                 qPrintable(QString("only %1 runs to judge in the time; the sound server's "
                                    "signs account for:\n%2")
                                    .arg(judged)
                                    .arg(accounted.join('\n'))));
    }
};

SNT_TEST_MAIN(SessionSoundServerTest)
#include "SessionSoundServerTest.moc"
