#include "app/AppCore.h"
#include "app/MeasureSession.h"
#include "app/QmlBridge.h"
#include "audio/Client.h"
#include "tests/engine/SignalTools.h"
#include "tests/support/LoopbackCard.h"
#include "tests/support/TestMain.h"
#include "ui/CurvePoints.h"

#include <QSettings>
#include <QSignalSpy>

#include <cmath>
#include <complex>
#include <numbers>

using snt::test::LoopbackCard;

namespace {

constexpr double rate = 48000.0;
constexpr int longWaitMs = 60000;

std::shared_ptr<LoopbackCard> card;

// A peaking resonance of `gainDb` at f0 on the measured path, scaled by `gain`.
signaltest::Path resonance(double gain, double f0, double gainDb, double q)
{
    return {gain, 0, signaltest::Biquad::peaking(f0, gainDb, q, rate)};
}

double levelDb(const signaltest::Path &path, double f)
{
    return 20.0 * std::log10(std::abs(path.response(2.0 * std::numbers::pi * f / rate)));
}

// The measured input channel 0 passes the card's output through the path; channel 1, the
// reference, is the output unchanged.
void setMeasuredPath(const signaltest::Path &path)
{
    LoopbackCard::Path measured;
    measured.sourceChannel = 0;
    measured.gain = float(path.gain);
    measured.biquad = {path.bq.b0, path.bq.b1, path.bq.b2, path.bq.a1, path.bq.a2};
    card->setPath(0, measured);
}

// The level of a measured curve at f (nearest bin), in dB.
double levelAt(const QList<float> &freq, const QList<float> &magnitude, double f)
{
    qsizetype best = 0;
    for (qsizetype i = 0; i < freq.size(); ++i) {
        if (std::abs(freq[i] - f) < std::abs(freq[best] - f))
            best = i;
    }
    return 20.0 * std::log10(magnitude[best]);
}

// A point list as a screen would get it: at most 480 points, each finite and at or below
// 20000.01 Hz, read back through the chart item's own parser.
void checkPointList(const QVariant &list)
{
    const snt::ui::PointList points = snt::ui::parsePoints(list.toList());
    QVERIFY(!points.isEmpty());
    QVERIFY(points.size() <= 480);
    for (const QPointF &p : points)
        QVERIFY(std::isfinite(p.x()) && std::isfinite(p.y()) && p.x() <= 20000.01);
    const QVariantList raw = list.toList();
    const bool flat = raw.first().typeId() == QMetaType::Double;
    QCOMPARE(points.size(), flat ? raw.size() / 2 : raw.size());
}

} // namespace

// The measuring flows from button to result, through the loopback test card with a known
// filter on the measured channel: a single loudspeaker from the first press to the computed
// schemes, a line array of three points and their average, a run ended without a point, and a
// computation cancelled while it runs.
class MeasuringFlowTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Halvo"));
        QCoreApplication::setApplicationName(QStringLiteral("测量工作流"));
        card = std::make_shared<LoopbackCard>();
        QVERIFY(audio::Client::setPluginFactories({[] {
            return card;
        }}));
        QVERIFY(audio::Client::instance());
    }

    void init()
    {
        QSettings settings;
        settings.clear();
        settings.setValue("measure/signalType", 0); // pink noise
        setMeasuredPath(resonance(1.0, 1000.0, 6.0, 2.0));
    }

    void cleanupTestCase() { card.reset(); }

    // Play, wait for the meters to agree, arm, let the run end by itself, compute: the measured
    // curve shows the +6 dB resonance and every scheme answers it with a cut.
    void pointSourceFlowEndsInSchemes()
    {
        QmlBridge bridge;
        bridge.setMeasureSeconds(2.0);
        bridge.beginMeasurement();
        QCOMPARE(bridge.screen(), QStringLiteral("点声源-测量中"));
        bridge.measurePrimaryAction();
        QVERIFY(bridge.measuring() && !bridge.autoMeasuring());
        QCOMPARE(bridge.toastText(), QStringLiteral("把「测量」和「参考」两个表头调到齐平"));
        QTRY_VERIFY_WITH_TIMEOUT(bridge.measureLevelReady(), longWaitMs);
        QVERIFY(std::abs(bridge.measureLevelGapDb()) < 6.0);
        // A free run counts its progress but never captures.
        QTRY_VERIFY_WITH_TIMEOUT(bridge.measureProgress() >= 1.0, longWaitMs);
        QVERIFY(bridge.measuring() && bridge.measuredPointCount() == 0);
        checkPointList(bridge.property("measuringCurveFlat"));
        checkPointList(bridge.property("measuringCoherenceFlat"));
        checkPointList(bridge.property("measuredCurve"));

        bridge.measurePrimaryAction();
        QVERIFY(bridge.autoMeasuring());
        QTRY_COMPARE_WITH_TIMEOUT(bridge.screen(), QStringLiteral("点声源-计算"), longWaitMs);
        QVERIFY(!bridge.measuring());
        QCOMPARE(bridge.measuredPointCount(), 1);
        const AppCore &core = bridge.core();
        const signaltest::Path path = resonance(1.0, 1000.0, 6.0, 2.0);
        for (const double f : {200.0, 1000.0, 3000.0}) {
            const double gap = levelAt(core.measured().freq, core.measured().magnitude, f)
                               - levelAt(core.measured().freq, core.measured().magnitude, 100.0);
            QVERIFY2(std::abs(gap - (levelDb(path, f) - levelDb(path, 100.0))) < 0.5,
                     qPrintable(QString("%1 Hz: %2 dB").arg(f).arg(gap)));
        }
        const QVariantMap quality = bridge.coherenceQuality();
        QVERIFY(quality.value("n").toInt() > 100 && quality.value("mean").toDouble() > 0.95);

        QSignalSpy finished(&bridge, &QmlBridge::computingChanged);
        bridge.startCompute();
        QVERIFY(bridge.computing());
        QTRY_VERIFY_WITH_TIMEOUT(!bridge.computing(), longWaitMs);
        QCOMPARE(bridge.screen(), QStringLiteral("点声源-选用途"));
        QCOMPARE(bridge.computeProgress(), 1.0);
        QVERIFY(!core.result().schemes.isEmpty());
        for (const snt::eq::Scheme &scheme : core.result().schemes) {
            if (scheme.blocked())
                continue;
            QVERIFY2(std::any_of(scheme.bands.cbegin(), scheme.bands.cend(),
                                 [](const snt::eq::SchemeBand &b) {
                                     return std::abs(std::log2(b.freq / 1000.0)) < 1.0 / 3.0
                                            && b.gain < -3.0f;
                                 }),
                     qPrintable(scheme.name));
        }
    }

    // Three points at three levels: the line array's average has the resonance's shape
    // whatever the levels, and the feeds show each point and the average.
    void lineArrayAveragesThreePoints()
    {
        QmlBridge bridge;
        bridge.setMeasureSeconds(2.0);
        bridge.beginArrayMeasurement();
        QVERIFY(bridge.lineArrayMode());
        for (const double gain : {1.0, 0.5, 2.0}) {
            setMeasuredPath(resonance(gain, 1000.0, 6.0, 2.0));
            bridge.arrayPrimaryAction();
            QVERIFY(bridge.measuring());
            if (bridge.measuredPointCount() == 0) {
                // The first point starts as a free level check and is armed by hand.
                QVERIFY(!bridge.autoMeasuring());
                bridge.arrayPrimaryAction();
            }
            QVERIFY(bridge.autoMeasuring());
            const int before = bridge.measuredPointCount();
            QTRY_COMPARE_WITH_TIMEOUT(bridge.measuredPointCount(), before + 1, longWaitMs);
            QCOMPARE(bridge.screen(), QStringLiteral("线阵列-测量中"));
            QCOMPARE(bridge.averageMeasurementCurve().isEmpty(), bridge.measuredPointCount() < 3);
        }
        QVERIFY(bridge.canCompute());
        const AppCore &core = bridge.core();
        const signaltest::Path path = resonance(1.0, 1000.0, 6.0, 2.0);
        const double gap = levelAt(core.measured().freq, core.measured().magnitude, 1000.0)
                           - levelAt(core.measured().freq, core.measured().magnitude, 100.0);
        QVERIFY2(std::abs(gap - (levelDb(path, 1000.0) - levelDb(path, 100.0))) < 0.5,
                 qPrintable(QString::number(gap)));
        checkPointList(bridge.property("averageMeasurementCurve"));
        const QVariantList points = bridge.measurementPointCurves();
        QCOMPARE(points.size(), 3);
        for (const QVariant &point : points)
            checkPointList(point);
        // The points lie at 0, −6 and +6 dB: the average is drawn where their mean lies, on
        // the 0 dB point, at every frequency the chart gets.
        const QVariantList average = bridge.averageMeasurementCurve();
        const QVariantList middle = points.first().toList();
        QCOMPARE(average.size(), middle.size());
        for (qsizetype i = 0; i + 1 < average.size(); i += 2) {
            QCOMPARE(average[i].toDouble(), middle[i].toDouble());
            QVERIFY2(std::abs(average[i + 1].toDouble() - middle[i + 1].toDouble()) < 0.2,
                     qPrintable(QString("%1 Hz: %2 dB against %3 dB")
                                        .arg(middle[i].toDouble())
                                        .arg(average[i + 1].toDouble())
                                        .arg(middle[i + 1].toDouble())));
        }
        QCOMPARE(bridge.measurementHistoryCurves().size(), 2);
        checkPointList(bridge.property("latestMeasurementCurve"));

        bridge.computeNow();
        QCOMPARE(bridge.screen(), QStringLiteral("点声源-计算"));
        bridge.startCompute();
        QTRY_COMPARE_WITH_TIMEOUT(bridge.screen(), QStringLiteral("点声源-选用途"), longWaitMs);
        QVERIFY(!core.result().schemes.isEmpty());
    }

    // A run that ends without a point (stopped, or left for another screen) must leave the
    // curve the computation starts from as the points' average, not the unfinished run.
    void unfinishedArrayRunLeavesTheAverage_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::newRow("stop") << "stop";
        QTest::newRow("home") << "home";
        QTest::newRow("back") << "back";
        QTest::newRow("compute") << "compute";
    }

    void unfinishedArrayRunLeavesTheAverage()
    {
        QFETCH(QString, ending);
        QmlBridge bridge;
        bridge.setMeasureSeconds(2.0);
        bridge.go("设置");
        bridge.beginArrayMeasurement();
        for (int i = 0; i < 3; ++i) {
            bridge.arrayPrimaryAction();
            if (!bridge.autoMeasuring())
                bridge.arrayPrimaryAction();
            QTRY_COMPARE_WITH_TIMEOUT(bridge.measuredPointCount(), i + 1, longWaitMs);
        }
        const QList<float> average = bridge.core().measured().magnitude;
        const double delay = bridge.core().measured().delayMs;

        // A fourth run on a very different path, ended before it is captured.
        setMeasuredPath(resonance(0.1, 3000.0, -12.0, 1.0));
        bridge.arrayPrimaryAction();
        QVERIFY(bridge.autoMeasuring());
        QSignalSpy live(&bridge, &QmlBridge::curveChanged);
        QTRY_VERIFY_WITH_TIMEOUT(
                live.count() > 10 && bridge.core().measured().magnitude.size() == average.size(),
                longWaitMs);
        if (ending == "stop")
            bridge.arrayStop();
        else if (ending == "home")
            bridge.home();
        else if (ending == "back")
            bridge.back();
        else
            bridge.computeNow();
        QVERIFY(!bridge.measuring());
        QCOMPARE(bridge.measuredPointCount(), 3);
        QCOMPARE(bridge.core().measured().magnitude, average);
        QCOMPARE(bridge.core().measured().delayMs, delay);
    }

    void leavingForAnotherMeasuringScreenKeepsTheRun()
    {
        QmlBridge bridge;
        bridge.beginMeasurement();
        bridge.startMeasure();
        QVERIFY(bridge.measuring());
        bridge.go("线阵列-测量中");
        QVERIFY(bridge.measuring() && bridge.lineArrayMode());
        QSignalSpy tick(&bridge, &QmlBridge::measureTick);
        bridge.back(); // back always ends the run, even onto a measuring screen
        QVERIFY(!bridge.measuring());
        QCOMPARE(bridge.screen(), QStringLiteral("点声源-测量中"));
        QVERIFY(tick.count() >= 1);
        QVERIFY(!bridge.core().session());
    }

    // A card that stops delivering under a running measurement is named on the measuring
    // screen once it has been silent for two seconds.
    void aCardThatDeliversNothingIsNamedWhileMeasuring()
    {
        QmlBridge bridge;
        bridge.beginMeasurement();
        bridge.startMeasure();
        QVERIFY(bridge.measuring());
        QTRY_VERIFY_WITH_TIMEOUT(bridge.core().session()->framesDone() > 10, longWaitMs);
        bridge.clearToast();
        card->dropCapturePeriods(500); // five seconds of nothing
        QTRY_COMPARE_WITH_TIMEOUT(bridge.toastText(),
                                  QStringLiteral("声卡没有送来声音，检查设备或换一个声卡"), 5000);
        QVERIFY(card->waitTicks(300, 10000)); // the card delivers again before the next test
        bridge.back();
        QVERIFY(!bridge.measuring());
    }

    // A card that falls silent ends the run without a point, whichever flow measures: silence
    // never becomes a measured curve.
    void aRunOnACardThatFallsSilentEndsWithoutAPoint_data()
    {
        QTest::addColumn<bool>("lineArray");
        QTest::newRow("point source") << false;
        QTest::newRow("line array") << true;
    }

    void aRunOnACardThatFallsSilentEndsWithoutAPoint()
    {
        QFETCH(bool, lineArray);
        QmlBridge bridge;
        bridge.setMeasureSeconds(30.0);
        if (lineArray) {
            bridge.beginArrayMeasurement();
            bridge.arrayPrimaryAction();
            bridge.arrayPrimaryAction(); // armed: the run would take its point at its end
        } else {
            bridge.beginMeasurement();
            bridge.startMeasure();
        }
        QVERIFY(bridge.measuring());
        QTRY_VERIFY_WITH_TIMEOUT(bridge.core().session()->framesDone() > 10, longWaitMs);
        card->dropCapturePeriods(500); // five seconds of nothing
        QTRY_VERIFY_WITH_TIMEOUT(!bridge.measuring(), 5000);
        QCOMPARE(bridge.toastText(), QStringLiteral("声卡没有送来声音，检查设备或换一个声卡"));
        QVERIFY(!bridge.core().session());
        QCOMPARE(bridge.measuredPointCount(), 0);
        QVERIFY(bridge.core().measured().magnitude.isEmpty());
        QVERIFY(card->waitTicks(300, 10000)); // the card delivers again before the next test
    }

    // An input that cannot be opened starts no run at all, and says why.
    void anInputThatDoesNotOpenStartsNoRun()
    {
        QmlBridge bridge;
        bridge.beginArrayMeasurement();
        card->setFailOpen(true);
        bridge.arrayPrimaryAction();
        card->setFailOpen(false);
        QVERIFY(!bridge.measuring());
        QVERIFY(!bridge.core().session());
        QTRY_COMPARE(bridge.toastText(), QStringLiteral("无法打开音频输入设备"));
        QCOMPARE(bridge.measuredPointCount(), 0);
    }

    // With input 3 chosen as the microphone and the two-input test card in use, the measuring
    // button starts no run: the screen names the card and the channel it lacks, rather than
    // measuring silence as the loudspeaker, and the choices stay stored for a card that has them.
    void aMicrophoneChannelTheCardLacksStartsNoRun_data()
    {
        QTest::addColumn<int>("reference");
        QTest::newRow("reference on input 2") << 1;
        // Not the microphone's own input: the recording reads the reference from input 1.
        QTest::newRow("reference stored as input 3 too") << 2;
    }

    void aMicrophoneChannelTheCardLacksStartsNoRun()
    {
        QFETCH(int, reference);
        QSettings settings;
        settings.setValue("audio/dataChannel", 2);
        settings.setValue("audio/referenceChannel", reference);
        QmlBridge bridge;
        bridge.beginMeasurement();
        const int opened = card->openCalls();
        bridge.measurePrimaryAction();
        QTRY_COMPARE(bridge.toastText(),
                     QStringLiteral("「Loopback test card」只有 2 路输入，没有测量通道选的输入 3，"
                                    "测不了：请在设置里重新选测量通道"));
        QVERIFY(!bridge.measuring());
        QVERIFY(!bridge.core().session());
        QCOMPARE(card->openCalls(), opened);
        QCOMPARE(bridge.measuredPointCount(), 0);
        QVERIFY(bridge.measuringCurveFlat().isEmpty());
        QCOMPARE(settings.value("audio/dataChannel").toInt(), 2);
        QCOMPARE(settings.value("audio/referenceChannel").toInt(), reference);
    }

    // The stop button during a computation drops its result when it arrives.
    void cancelledComputationIsDropped()
    {
        QmlBridge bridge;
        bridge.setMeasureSeconds(2.0);
        bridge.beginMeasurement();
        bridge.startMeasure();
        QTRY_VERIFY_WITH_TIMEOUT(!bridge.measuringCurveFlat().isEmpty(), longWaitMs);
        bridge.stopMeasure();
        QCOMPARE(bridge.measuredPointCount(), 1);
        QCOMPARE(bridge.screen(), QStringLiteral("点声源-测量中")); // a free run stays
        bridge.startCompute();
        QVERIFY(bridge.computing());
        bridge.stopAnyAction();
        QCOMPARE(bridge.toastText(), QStringLiteral("这次计算已取消"));
        QCOMPARE(bridge.measuredPointCount(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!bridge.computing(), longWaitMs);
        QCOMPARE(bridge.screen(), QStringLiteral("点声源-测量中"));
        QVERIFY(bridge.core().result().schemes.isEmpty());
    }
};

SNT_TEST_MAIN(MeasuringFlowTest)
#include "MeasuringFlowTest.moc"
