#include "app/MeasureSession.h"
#include "audio/Client.h"
#include "audio/phone/AudioStreamServer.h"
#include "engine/CalibrationManager.h"
#include "engine/tf/Measurement.h"
#include "engine/tf/generator/Generator.h"
#include "tests/app/SessionCards.h"
#include "tests/engine/SignalTools.h"
#include "tests/support/PhoneEmulator.h"
#include "tests/support/TestMain.h"

#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <algorithm>
#include <optional>

using snt::test::LoopbackCard;

namespace {

constexpr double rate = 48000.0;
constexpr float level = -6.0f;
std::unique_ptr<SessionCards> cards;
LoopbackCard *card = nullptr;
FakePlugin *scripted = nullptr;

// The card's measured channel: half gain, 1 ms late, a 6 dB dip at 1.5 kHz. Channel 1 is a
// cable from output 1, the electrical reference.
const signaltest::Path path{0.5, 48, signaltest::Biquad::peaking(1500.0, -6.0, 1.0, rate)};

double pathGainDb(double hz)
{
    return 20.0 * std::log10(std::abs(path.response(2.0 * std::numbers::pi * hz / rate)));
}

// The path's mean power gain over equal shares of every octave from 20 Hz to 20 kHz: what it
// does to the level of pink noise and of the music signal, whose power is the same per octave.
double pathGainOnPinkDb()
{
    double sum = 0.0;
    constexpr int steps = 3000;
    for (int i = 0; i < steps; ++i)
        sum += std::pow(10.0, pathGainDb(20.0 * std::pow(1000.0, (i + 0.5) / steps)) / 10.0);
    return 10.0 * std::log10(sum / steps);
}

// The refusal of a run whose microphone is input 3 of the two-input test card.
const QString missingInput3 = QStringLiteral("「Loopback test card」只有 2 路输入，没有测量通道选的"
                                             "输入 3，测不了：请在设置里重新选测量通道");

void reloadDevices()
{
    audio::Client::instance()->reloadDevices();
}

// Waits for `frames` analysis frames of the running session.
bool runFrames(MeasureSession &session, int frames)
{
    QSignalSpy ready(&session, &MeasureSession::frameReady);
    return QTest::qWaitFor([&] { return ready.count() >= frames; }, 60000);
}

// The microphone's and the reference's levels, each the power mean of the session's meter over
// `frames` analysis frames. The meters read the last 125 ms: a window of pink noise lies between
// about -2 and +3.5 dB of the noise's own level, anywhere in a run, while the mean of 40 frames
// (3.2 s) stays within 0.7 dB.
struct Levels
{
    double measured = 0.0;
    double reference = 0.0;
};

std::optional<Levels> meanLevels(MeasureSession &session, int frames)
{
    double measuredPower = 0.0, referencePower = 0.0;
    int read = 0;
    const QMetaObject::Connection each
            = QObject::connect(&session, &MeasureSession::frameReady, &session, [&] {
                  measuredPower += std::pow(10.0, session.level() / 10.0);
                  referencePower += std::pow(10.0, session.referenceLevel() / 10.0);
                  ++read;
              });
    const bool done = QTest::qWaitFor([&] { return read >= frames; }, 60000);
    QObject::disconnect(each);
    if (!done)
        return std::nullopt;
    return Levels{10.0 * std::log10(measuredPower / read),
                  10.0 * std::log10(referencePower / read)};
}

struct Comparison
{
    int bins = 0;
    int withinHalfDb = 0;
    double medianCoherence = 0.0;
};

// The session's magnitude against the path (with a calibration factor per frequency), from
// 100 Hz to 15 kHz.
template<typename Expected>
Comparison compare(const MeasureSession &session, Expected expectedDb)
{
    QList<float> freq, magnitude, coherence, phase;
    session.transferFunction(freq, magnitude, coherence, &phase);
    Comparison c;
    std::vector<float> coherences;
    for (qsizetype i = 0; i < freq.size(); ++i) {
        if (freq[i] < 100.0f || freq[i] > 15000.0f)
            continue;
        ++c.bins;
        c.withinHalfDb += std::abs(20.0 * std::log10(magnitude[i]) - expectedDb(freq[i])) < 0.5;
        coherences.push_back(coherence[i]);
    }
    std::nth_element(coherences.begin(), coherences.begin() + coherences.size() / 2,
                     coherences.end());
    c.medianCoherence = coherences.empty() ? 0.0 : coherences[coherences.size() / 2];
    return c;
}

QString describe(const Comparison &c)
{
    return QString("%1 of %2 bins within 0.5 dB, median coherence %3")
            .arg(c.withinHalfDb)
            .arg(c.bins)
            .arg(c.medianCoherence);
}

} // namespace

// Sessions on an in-process duplex test card whose measured channel is a known path: the
// results are checked against the path's analytic response, known signal levels, calibration
// curves computed here, and device lists scripted to each rule of the device questions.
class MeasureSessionTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        cards = std::make_unique<SessionCards>();
        QVERIFY(cards->install());
        card = cards->card.get();
        scripted = cards->scripted.get();
        card->setPath(0, signaltest::cardPath(path, 0));
    }

    void init()
    {
        QSettings settings;
        settings.clear();
        settings.setValue("audio/inputDevice", "Loopback test card");
        scripted->rows.clear();
        scripted->defaultInput.clear();
        reloadDevices();
    }

    void cleanupTestCase() { cards.reset(); }

    // Each test signal through the path against the cable reference: the path's magnitude,
    // its delay, and levels that follow from the signal's own level and the path's gain.
    void measuresThePath_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<double>("signalRmsDb"); // at 0 dB gain; NaN: too uneven to read
        QTest::addColumn<int>("reference");
        QTest::newRow("pink noise") << 0 << -14.25 << 1;
        QTest::newRow("sine sweep") << 1 << -3.0103 << 1;
        QTest::newRow("music signal") << 2 << qQNaN() << 1;
        // The generator's own samples as the reference: paired with the moment the card plays
        // them, they give the path's delay with nothing set by hand.
        QTest::newRow("pink noise, looped back") << 0 << -14.25 << -1;
    }

    void measuresThePath()
    {
        QFETCH(int, signal);
        QFETCH(double, signalRmsDb);
        QFETCH(int, reference);
        QSettings().setValue("measure/signalType", signal);
        // The session gives the generator its channels: the output never plays without them.
        QTest::failOnWarning(QRegularExpression("Output channels are not set"));
        MeasureSession session;
        QVERIFY(session.start({}, {}, 0, reference, level, 0));
        QCOMPARE(session.inputDeviceId(), card->deviceId());
        QCOMPARE(session.outputDeviceId(), card->deviceId()); // the duplex card plays too
        session.resume();
        // A looped-back reference is paired once two seconds agree, and the averages start
        // again there.
        QVERIFY(runFrames(session, reference == -1 ? 90 : 60));
        // The path's delay; a sweep adds the dip's group delay at the frequencies it plays.
        session.updateDelayEstimate();
        QVERIFY2(std::abs(session.estimatedDelayMs() - 1.0f) < 0.1f,
                 qPrintable(QString::number(session.estimatedDelayMs())));

        const Comparison c = compare(session, pathGainDb);
        QVERIFY2(c.withinHalfDb > c.bins * 95 / 100, qPrintable(describe(c)));
        QVERIFY2(c.medianCoherence > 0.99, qPrintable(describe(c)));

        QList<float> timeMs, impulse;
        session.spectrum(timeMs, impulse);
        const auto peak = std::max_element(impulse.cbegin(), impulse.cend()) - impulse.cbegin();
        QVERIFY2(std::abs(timeMs[peak] - 1.0f) < 0.1f, qPrintable(QString::number(timeMs[peak])));

        const std::optional<Levels> levels = meanLevels(session, 40);
        QVERIFY(levels);
        if (!std::isnan(signalRmsDb))
            QVERIFY2(std::abs(levels->reference - (signalRmsDb + level)) < 1.0,
                     qPrintable(QString::number(levels->reference)));
        const double gap = levels->measured - levels->reference;
        // The sweep's level follows the path's gain at the frequencies it played meanwhile.
        const double low = signal == 1 ? pathGainDb(1500.0) - 0.1 : pathGainOnPinkDb() - 0.5;
        const double high = signal == 1 ? pathGainDb(100.0) + 0.1 : pathGainOnPinkDb() + 0.5;
        QVERIFY2(gap > low && gap < high, qPrintable(QString::number(gap)));

        session.stop();
        QVERIFY(session.elapsedSeconds() > 3.0);
        QCOMPARE(session.sampleRate(), 48000u);
    }

    // A microphone file that rises 6 dB per decade above 100 Hz and a +2 dB file on the
    // reference channel: the microphone's gain divides the magnitude, the reference's multiplies.
    void calibrationScalesTheResult()
    {
        QTemporaryDir dir;
        const QString micFile = dir.filePath("mic.txt");
        const QString referenceFile = dir.filePath("reference.txt");
        QVERIFY(signaltest::writeFile(micFile, "100\t0\n10000\t12\n"));
        QVERIFY(signaltest::writeFile(referenceFile, "20\t2\n20000\t2\n"));
        CalibrationManager::Profile profile;
        profile.deviceId = card->deviceId();
        profile.setCalFile(0, 0, micFile);
        profile.setCalFile(1, 0, referenceFile);
        CalibrationManager::instance()->saveProfile(profile);

        QSettings().setValue("measure/signalType", 0);
        MeasureSession session;
        QVERIFY(session.start({}, {}, 0, 1, level, 0));
        session.resume();
        QVERIFY(runFrames(session, 45));
        const Comparison c = compare(session, [](double hz) {
            const double micDb = 6.0 * std::clamp(std::log10(hz / 100.0), 0.0, 2.0);
            return pathGainDb(hz) - micDb + 2.0;
        });
        QVERIFY2(c.withinHalfDb > c.bins * 95 / 100, qPrintable(describe(c)));
        profile.calFiles.clear();
        CalibrationManager::instance()->saveProfile(profile);
    }

    // The generator falls silent while the measurement still listens: no looped-back sample can
    // be on its way into a measurement that is already scheduled for deletion.
    void teardownSilencesTheGeneratorFirst()
    {
        MeasureSession session;
        QVERIFY(session.start({}, {}, 0, -1, level, 0));
        session.resume();
        QVERIFY(runFrames(session, 2));
        QPointer<Measurement> measurement = session.measurement();
        bool listening = false;
        QObject context;
        connect(session.generator()->generatorThread(), &GeneratorThread::enabledChanged, &context,
                [&](bool on) { listening = !on && measurement && measurement->active(); });
        session.teardown();
        QVERIFY(listening);
        QVERIFY(!session.measurement() && !session.generator());
        QTRY_VERIFY(!measurement);
        QCOMPARE(session.level(), MeasureSession::silentLevelDb);
        QCOMPARE(session.splLevel(), MeasureSession::silentSoundLevelDb);
    }

    void startRules()
    {
        MeasureSession session;
        QVERIFY(session.start({}, {}, 3, -2, level, 2));
        QVERIFY(!session.start({}, {}, 0, 1, level, 0)); // built once
        QCOMPARE(session.dataChannel(), 3);
        QCOMPARE(session.referenceChannel(), 1); // the card has two inputs
        QCOMPARE(session.measurement()->dataChannel(), 3);
        QCOMPARE(session.generator()->generatorThread()->duration(), MeasureSession::sweepSeconds);
        QTRY_COMPARE(session.generator()->generatorThread()->channels(), (QSet<int>{0, 1, 2}));
        QCOMPARE(session.inputDeviceName(), QStringLiteral("Loopback test card"));

        scripted->defaultInput = QStringLiteral("gone");
        QSettings().remove("audio/inputDevice");
        MeasureSession unusable;
        QVERIFY(!unusable.start({}, {}, 0, 1, level, 0));
        QVERIFY(!unusable.measurement() && !unusable.generator());
    }

    // A microphone channel the card does not have records nothing, and the run would show that
    // silence as the loudspeaker: on the two-input test card, input 3 as the microphone is
    // refused before anything plays or records, with the card and the channel named, whatever
    // the reference.
    void aMicrophoneChannelTheCardLacksIsRefused_data()
    {
        QTest::addColumn<int>("reference");
        QTest::newRow("reference on input 2") << 1;
        QTest::newRow("the generator's own samples as the reference") << -1;
    }

    void aMicrophoneChannelTheCardLacksIsRefused()
    {
        QFETCH(int, reference);
        MeasureSession session;
        QSignalSpy failed(&session, &MeasureSession::deviceFailed);
        QVERIFY(session.start({}, {}, 2, reference, level, 0));
        const int opened = card->openCalls();
        session.resume();
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.first().first().toString(), missingInput3);
        QVERIFY(session.failed());
        QVERIFY(!session.measurement()->active());
        QCOMPARE(card->openCalls(), opened);
        QCOMPARE(session.dataChannel(), 2); // the choice is kept as it was made
    }

    // The reference is refused as the microphone's own input by the channels the recording
    // reads, on the two-input test card: both stored as input 3 are not one input (the reference
    // is read from input 1 there), and the run is refused for the microphone's missing channel;
    // a reference beyond the card is read from the input the microphone leaves, and measures.
    void aReferenceIsComparedAsTheRunReadsIt_data()
    {
        QTest::addColumn<int>("data");
        QTest::addColumn<int>("reference");
        QTest::addColumn<QString>("refusal"); // empty: the run measures
        QTest::newRow("both stored as input 3") << 2 << 2 << missingInput3;
        QTest::newRow("both on input 1")
                << 0 << 0
                << QStringLiteral("测量和参考选了同一路输入，测不了：参考信号要单独占一路输入，"
                                  "请在设置里换一路参考");
        QTest::newRow("the reference beyond the card, read from input 1") << 1 << 4 << QString();
    }

    void aReferenceIsComparedAsTheRunReadsIt()
    {
        QFETCH(int, data);
        QFETCH(int, reference);
        QFETCH(QString, refusal);
        MeasureSession session;
        QSignalSpy failed(&session, &MeasureSession::deviceFailed);
        QVERIFY(session.start({}, {}, data, reference, level, 0));
        session.resume();
        if (!refusal.isEmpty()) {
            QCOMPARE(failed.count(), 1);
            QCOMPARE(failed.first().first().toString(), refusal);
            QVERIFY(!session.measurement()->active());
            return;
        }
        QVERIFY(runFrames(session, 2));
        QCOMPARE(failed.count(), 0);
        session.stop();
    }

    // "measure/signalType" beyond 0..2 counts as its nearer end.
    void signalChoice_data()
    {
        QTest::addColumn<int>("saved");
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("file");
        QTest::newRow("-3: pink noise") << -3 << 0 << false;
        QTest::newRow("1: sweep") << 1 << 2 << false;
        QTest::newRow("5: music file") << 5 << 3 << true;
    }

    void signalChoice()
    {
        QFETCH(int, saved);
        QFETCH(int, type);
        QFETCH(bool, file);
        QSettings().setValue("measure/signalType", saved);
        MeasureSession session;
        QVERIFY(session.start({}, {}, 0, 1, level, 0));
        QCOMPARE(session.generator()->type(), type);
        QSignalSpy loaded(session.generator(), &Generator::audioFileLoaded);
        QCOMPARE(loaded.wait(file ? 5000 : 300), file);
        if (file)
            QVERIFY(loaded.first().first().toBool()); // the file beside the program
    }

    void deviceQuestions()
    {
        auto device = [](const QString &id, const QString &name, const QStringList &inputs) {
            return audio::DeviceInfo{id, name, 48000, "Scripted", inputs, {}};
        };
        scripted->rows
                = {device("mic", "USB Mic", {"L"}), device("line", "Codec Line In", {"L", "R"}),
                   device("dead", "USB Audio CODEC", {}),
                   device("codec", "USB Audio CODEC", {"", " ", "Mic 3"})};
        scripted->defaultInput = QStringLiteral("line");
        reloadDevices();
        QSettings().remove("audio/inputDevice");

        QCOMPARE(MeasureSession::preferredInputDevice(), QStringLiteral("codec"));
        QCOMPARE(MeasureSession::inputChannelNames("codec"),
                 (QStringList{"输入 1", "输入 2", "Mic 3"}));
        QCOMPARE(MeasureSession::inputChannelNames("no such device"), (QStringList{"L", "R"}));
        QCOMPARE(MeasureSession::findDevice("USB Audio CODEC"), QStringLiteral("codec"));
        QCOMPARE(MeasureSession::findDevice(QString()), QString());
        QCOMPARE(MeasureSession::defaultReferenceChannel("mic"), -1);
        QCOMPARE(MeasureSession::defaultReferenceChannel(QString()), 1); // the default, "line"
        QCOMPARE(
                MeasureSession::inputDeviceNames(),
                (QStringList{"USB Mic", "Codec Line In", "USB Audio CODEC", "Loopback test card"}));

        scripted->rows.removeLast();
        reloadDevices();
        QCOMPARE(MeasureSession::preferredInputDevice(), QStringLiteral("line"));
        QSettings().setValue("audio/inputDevice", "USB Mic");
        QCOMPARE(MeasureSession::preferredInputDevice(), QStringLiteral("mic"));
    }

    // A phone as the microphone, whatever signal is saved: the session plays the sweep a phone's
    // blocks can hold and measures what the phone emulator, on a clock 40 ppm fast, hears of it
    // through a 6 dB peak at 1 kHz (at -12 dB against the sweep's level of -6 dB). The phone's
    // sweeps start 1 s into its stream, so its first full read holds a period's start.
    void phoneAsTheMicrophone()
    {
        audio::AudioStreamServer *server = audio::AudioStreamServer::instance();
        QVERIFY(server->listen(QHostAddress::LocalHost, 0, 0, 0));
        const auto stopServer = qScopeGuard([server] { server->stop(); });
        snt::test::PhoneEmulator phone(PHONE_EMULATOR_SCRIPT);
        const QJsonObject peak{{"f0", 1000}, {"gain_db", 6}, {"q", 2}};
        QVERIFY(phone.open(server->wsPort(), "phone-1"));
        QVERIFY(phone.signal({{"kind", "sweep"},
                              {"duration", MeasureSession::phoneSweepSeconds},
                              {"offset", MeasureSession::phoneSweepSeconds - 1.0},
                              {"amplitude", std::pow(10.0, -18.0 / 20.0)},
                              {"ppm", 40.0},
                              {"filter", peak}}));
        QVERIFY(QTest::qWaitFor([server] { return server->hasClient("phone-1"); }));

        QSettings().setValue("measure/signalType", 2);
        MeasureSession session;
        QVERIFY(session.start("phone-1", card->deviceId(), 0, -1, level, 0));
        QVERIFY(session.phoneInput());
        QCOMPARE(session.inputDeviceName(), QStringLiteral("Emulated phone"));
        QCOMPARE(session.generator()->type(), 2);
        QCOMPARE(session.generator()->generatorThread()->duration(),
                 MeasureSession::phoneSweepSeconds);
        session.resume();
        QVERIFY(phone.stream(10.0, {}, 2.0) > 0);
        QVERIFY(runFrames(session, 60));
        QCOMPARE(session.measurement()->blockStatus(), 4);
        const signaltest::Path heard{std::pow(10.0, -12.0 / 20.0), 0,
                                     signaltest::Biquad::peaking(1000.0, 6.0, 2.0, rate)};
        const Comparison c = compare(session, [&heard](double hz) {
            return 20.0 * std::log10(std::abs(heard.response(2.0 * std::numbers::pi * hz / rate)));
        });
        QVERIFY2(c.withinHalfDb == c.bins && c.medianCoherence > 0.99, qPrintable(describe(c)));
        session.stop();
    }

    void resultsWithoutAMeasurement()
    {
        MeasureSession session;
        QList<float> freq{1.0f}, magnitude{1.0f}, coherence{1.0f}, phase{1.0f};
        session.transferFunction(freq, magnitude, coherence, &phase);
        QVERIFY(freq.isEmpty() && magnitude.isEmpty() && coherence.isEmpty() && phase.isEmpty());
        QCOMPARE(session.peak(), MeasureSession::silentLevelDb);
        QCOMPARE(session.estimatedDelayMs(), 0.0f);
        session.stop();

        // A built run that never ran: every bin is exactly zero, so no phase is given.
        QVERIFY(session.start({}, {}, 0, 1, level, 0));
        session.stop();
        QCOMPARE(session.elapsedSeconds(), 0.0);
        session.transferFunction(freq, magnitude, coherence, &phase);
        QCOMPARE(freq.size(), 8192);
        QVERIFY(phase.isEmpty());
    }
};

SNT_TEST_MAIN(MeasureSessionTest)
#include "MeasureSessionTest.moc"
