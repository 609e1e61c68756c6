#include "app/AlignmentDiagnostics.h"
#include "app/AppCore.h"
#include "app/MeasureSession.h"
#include "app/QmlBridge.h"
#include "app/store/CaptureFiles.h"
#include "app/store/ProjectStore.h"
#include "files/DataFolder.h"
#include "processor/ProcessorClient.h"
#include "tests/app/AlignmentFiles.h"
#include "tests/app/SessionCards.h"
#include "tests/processor/SimProcessor.h"
#include "tests/support/TestMain.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QJsonObject>
#include <QSettings>
#include <QSignalSpy>

#include <cmath>
#include <complex>
#include <numbers>

using snt::test::LoopbackCard;

using alignmenttest::fileLines;
using alignmenttest::readPack;

namespace {

constexpr double rate = 48000.0;
constexpr int longWaitMs = 60000;
constexpr double crossoverHz = 100.0;
constexpr float subGain = 2.0f; // the subwoofer's low band as loud as the reference's whole band

std::unique_ptr<SessionCards> cards;
LoopbackCard *card = nullptr;

// Linkwitz-Riley corners of order 2 (a first-order Butterworth squared), from the bilinear
// transform: the low-pass minus the high-pass is an all-pass, their sum has a null at the corner.
std::array<double, 5> linkwitzRiley2(bool highPass)
{
    const double k = std::tan(std::numbers::pi * crossoverHz / rate);
    const double norm = (1.0 + k) * (1.0 + k);
    const double pole = (k - 1.0) / (k + 1.0);
    const double b = highPass ? 1.0 / norm : k * k / norm;
    return {b, highPass ? -2.0 * b : 2.0 * b, b, 2.0 * pole, pole * pole};
}

// The measured input 0 hears output 0 through a loudspeaker of the given band, gain and delay;
// input 1, the reference, is output 1 unchanged.
void setLoudspeaker(float gain, int delayFrames, std::optional<bool> highPass = {},
                    float noiseRms = 0.0f)
{
    LoopbackCard::Path path;
    path.sourceChannel = 0;
    path.gain = gain;
    path.delayFrames = delayFrames;
    path.noiseRms = noiseRms;
    if (highPass)
        path.biquad = linkwitzRiley2(*highPass);
    card->setPath(0, path);
}

// A pack of the main system measured through the card, with a −6 dB band at 1 kHz as its EQ.
bool saveMainPack()
{
    setLoudspeaker(1.0f, 48, true);
    MeasureSession session;
    if (!session.start({}, {}, 0, 1, -20.0f, 0))
        return false;
    session.resume();
    QSignalSpy frames(&session, &MeasureSession::frameReady);
    if (!QTest::qWaitFor([&] { return frames.count() >= 40; }, longWaitMs))
        return false;
    CurvePack pack;
    QList<float> magnitude;
    session.transferFunction(pack.freq, magnitude, pack.coherence, &pack.phase);
    for (const float m : magnitude)
        pack.level.append(20.0f * std::log10(std::max(m, 1e-9f)));
    session.updateDelayEstimate();
    pack.delayMs = session.estimatedDelayMs();
    session.teardown();
    pack.name = QStringLiteral("主扩 01");
    pack.use = QStringLiteral("主扩");
    pack.seq = 1;
    pack.bands = {{1000.0f, -6.0f, 2.0f, true}};
    ProjectStore store;
    store.loadCurvePacks();
    store.curvePacks.append(pack);
    return writeRawFile(store.curvePacks.last()) && store.saveCurvePacks();
}

std::complex<double> response(const QVariantMap &capture, qsizetype i)
{
    const double db = capture.value("level").toList()[i].toDouble();
    const double degrees = capture.value("phase").toList()[i].toDouble();
    return std::polar(std::pow(10.0, db / 20.0), degrees * std::numbers::pi / 180.0);
}

// The subwoofer's preset as the format has it: keys in alphabetical order, four blanks a
// level, numbers in their shortest form; the corners and the one band set by the test.
QByteArray expectedPreset(const QVariantMap &info)
{
    return QStringLiteral(R"({
    "delay": 0,
    "fileMagic": "Kelvra",
    "fileVer": 1,
    "gain": %1,
    "iir": [
        {
            "freq": 31,
            "order": 4,
            "type": "hpfButter"
        },
        {
            "freq": 95,
            "order": 4,
            "type": "lpfLr"
        },
        {
            "freq": 70,
            "gain": -4,
            "q": 2,
            "type": "peak"
        }
    ],
    "polar": %2
}
)")
            .arg(QString::number(info.value("gainDb").toDouble(), 'g',
                                 QLocale::FloatingPointShortest),
                 info.value("invert").toBool() ? "true" : "false")
            .toUtf8();
}

// Uploaded on the result screen into output 1 of the simulated processor: a Butterworth
// high-pass of 24 dB/oct (type 3) and a Linkwitz-Riley low-pass of 24 dB/oct (type 13).
void uploadsTheDesign(QmlBridge &bridge)
{
    snt::test::SimProcessor sim;
    QVERIFY(sim.start());
    auto *client = qobject_cast<ProcessorClient *>(bridge.processor());
    QVERIFY(snt::test::connectTo(*client, sim));
    const QVariantMap result = bridge.uploadEqToOfficial(true, 0);
    QCOMPARE(result.value("message"), QVariant("EQ 已写进 OUT 1。"));
    const QJsonObject body = sim.bodies().last();
    QCOMPARE(body.value("HLPFtype4").toInt(), 3);
    QCOMPARE(body.value("HLPFfreq4").toDouble(), 31.0);
    QCOMPARE(body.value("HLPFtype16").toInt(), 13);
    QCOMPARE(body.value("HLPFfreq16").toDouble(), 95.0);
    client->disconnectDevice();
}

// The deepest dip of the in-phase sum below the louder of the two captures, in dB, over the
// crossover region, with the subwoofer delayed (negative: the main delayed) and maybe inverted.
double deepestDip(const QVariantMap &main, const QVariantMap &sub, double lo, double hi,
                  double subDelayMs, bool invert)
{
    const QVariantList freq = sub.value("freq").toList();
    double deepest = 0.0;
    for (qsizetype i = 0; i < freq.size(); ++i) {
        const double f = freq[i].toDouble();
        if (f < lo || f > hi)
            continue;
        const auto delay = [f](double ms) {
            return std::polar(1.0, -2.0 * std::numbers::pi * f * std::max(ms, 0.0) / 1000.0);
        };
        const std::complex<double> m = response(main, i) * delay(-subDelayMs);
        const std::complex<double> s = response(sub, i) * delay(subDelayMs) * (invert ? -1.0 : 1.0);
        const double dip = 20.0 * std::log10(std::max(std::abs(m), std::abs(s)) / std::abs(m + s));
        deepest = std::max(deepest, dip);
    }
    return deepest;
}

} // namespace

// The fill and subwoofer alignment flows through the bridge, measured on the loopback test card
// whose path is changed between captures as the engineer changes loudspeakers: known delays
// and Linkwitz-Riley crossovers are the truths. The demos fill the same flows without audio.
class AlignmentFlowTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        cards = std::make_unique<SessionCards>();
        QVERIFY(cards->install());
        card = cards->card.get();
    }

    void init()
    {
        QSettings settings;
        settings.clear();
        settings.setValue("audio/inputDevice", "Loopback test card");
        settings.setValue("measure/signalType", 0); // pink noise
        QVERIFY(QDir(documentsRoot()).removeRecursively());
    }

    void cleanupTestCase() { cards.reset(); }

    // The main system and the fill whole samples apart, with noise on the path: the proposed
    // delay is the difference within one sample, either sign.
    void fillDelayWithinOneSample_data()
    {
        QTest::addColumn<int>("mainFrames");
        QTest::addColumn<int>("fillFrames");
        QTest::newRow("fill 2.5 ms early") << 576 << 456;
        QTest::newRow("fill 2.5 ms late") << 456 << 576;
    }

    void fillDelayWithinOneSample()
    {
        QFETCH(int, mainFrames);
        QFETCH(int, fillFrames);
        QmlBridge bridge;
        bridge.setMeasureSeconds(2.0);
        bridge.beginFillAlign();
        QCOMPARE(bridge.screen(), QStringLiteral("补声对齐"));
        for (const int frames : {mainFrames, fillFrames}) {
            const int step = bridge.fillAlignStep();
            setLoudspeaker(0.5f, frames, {}, 0.005f);
            bridge.fillAlignPlay();
            QVERIFY(bridge.measuring() && !bridge.autoMeasuring());
            bridge.fillAlignMeasure();
            QVERIFY(bridge.autoMeasuring());
            QTRY_COMPARE_WITH_TIMEOUT(bridge.fillAlignStep(), step + 1, longWaitMs);
            QVERIFY(!bridge.measuring());
        }
        const double expected = (mainFrames - fillFrames) * 1000.0 / rate;
        QVERIFY2(std::abs(bridge.fillAlignDelayMs() - expected) <= 1000.0 / rate,
                 qPrintable(QString::number(bridge.fillAlignDelayMs())));
        QCOMPARE(bridge.fillPulseMain().size(), 128);
        QCOMPARE(bridge.fillPulseFill().size(), 128);
    }

    // The state table: measuring needs a playing run, stopping keeps the step, a silent path
    // toasts and changes nothing, and nothing plays once both pulses are in.
    void fillGuards()
    {
        QmlBridge bridge;
        bridge.setMeasureSeconds(2.0);
        bridge.beginFillAlign();
        bridge.fillAlignMeasure();
        QVERIFY(!bridge.measuring());
        QSignalSpy changed(&bridge, &QmlBridge::fillAlignChanged);
        bridge.fillAlignStop(); // nothing runs, nothing armed
        QCOMPARE(changed.count(), 0);

        setLoudspeaker(0.0f, 0);
        bridge.fillAlignPlay();
        QVERIFY(bridge.measuring());
        bridge.fillAlignStop();
        QVERIFY(!bridge.measuring());
        QCOMPARE(bridge.fillAlignStep(), 0);
        bridge.fillAlignPlay();
        bridge.fillAlignMeasure();
        bridge.fillAlignMeasure(); // armed already
        QVERIFY(bridge.autoMeasuring());
        QTRY_VERIFY_WITH_TIMEOUT(!bridge.measuring(), longWaitMs);
        QCOMPARE(bridge.toastText(), QStringLiteral("这次没抓到脉冲，靠近一点再测一次"));
        QCOMPARE(bridge.fillAlignStep(), 0);
        QVERIFY(bridge.fillPulseMain().isEmpty());

        bridge.loadFillAlignDemo(1, 3.2); // the main pulse only
        QVERIFY(bridge.fillAlignDelayMs() == 0.0 && bridge.fillPulseFill().isEmpty());
        bridge.loadFillAlignDemo(5, 3.2); // as step 2: both pulses in, nothing plays any more
        QCOMPARE(bridge.fillAlignStep(), 2);
        QCOMPARE(bridge.fillAlignDelayMs(), 3.2);
        QCOMPARE(bridge.fillPulseFill().size(), 128);
        bridge.fillAlignPlay();
        QVERIFY(!bridge.measuring());
    }

    // From a main pack to an aligned, saved subwoofer: the processed main curve as reference,
    // the subwoofer captured only while the meters agree, the design and its edits, then
    // alignment captures of known delay and polarity whose corrected sum has no dip.
    void subwooferFlowEndToEnd()
    {
        QVERIFY(saveMainPack());
        QmlBridge bridge;
        bridge.setMeasureSeconds(2.0);
        bridge.beginSubXover();
        QCOMPARE(bridge.screen(), QStringLiteral("超低分频对齐"));
        bridge.subGuideDone();
        QCOMPARE(bridge.screen(), QStringLiteral("超低分频-测量"));
        bridge.subMeasure();
        QCOMPARE(bridge.toastText(), QStringLiteral("先选主扩曲线，再测超低"));
        QVERIFY(!bridge.exportSubPack());
        QCOMPARE(bridge.toastText(), QStringLiteral("还没有可分频导出的结果"));

        bridge.subTrySetMainFromPack(0); // not picking: ignored
        QVERIFY(bridge.subMainCurve().isEmpty());
        bridge.subPickMain();
        QVERIFY(bridge.curveWindowOpen() && bridge.subPickingMain());
        const QVariantList candidates = bridge.subMainPacks();
        QCOMPARE(candidates.size(), 1);
        QCOMPARE(candidates[0].toMap().value("label").toString(), QStringLiteral("主扩 01"));
        bridge.subTrySetMainFromPack(0);
        QCOMPARE(bridge.toastText(), QStringLiteral("已将「未归属 · 主扩 01」设为主扩参考"));
        QVERIFY(!bridge.subPickingMain());
        QCOMPARE(bridge.subMeasured(), 1);
        // The processed curve: the pack's −6 dB band shows at 1 kHz against 3 kHz.
        const auto mainLevel = [&](double hz) {
            double best = 0.0, bestDistance = 1e9;
            for (const QVariant &p : bridge.subMainCurve()) {
                const QVariantMap point = p.toMap();
                const double distance = std::abs(std::log(point.value("f").toDouble() / hz));
                if (distance < bestDistance) {
                    bestDistance = distance;
                    best = point.value("d").toDouble();
                }
            }
            return best;
        };
        QVERIFY2(std::abs(mainLevel(1000.0) - mainLevel(3000.0) + 6.0) < 1.5,
                 qPrintable(QString::number(mainLevel(1000.0) - mainLevel(3000.0))));

        // The calibration run becomes the capture without starting the audio again; with the
        // meters far apart the capture waits, its progress held.
        setLoudspeaker(0.02f, 48, false);
        bridge.subLevelCalibrate();
        QVERIFY(bridge.measuring() && bridge.subCalibrating() && !bridge.autoMeasuring());
        QTRY_COMPARE(card->openStreamCount(), 2); // playing and recording
        const int opened = card->openCalls();
        bridge.subMeasure();
        QVERIFY(bridge.autoMeasuring() && !bridge.subCalibrating());
        QTest::qWait(2500);
        QCOMPARE(card->openCalls(), opened);
        QVERIFY(bridge.measuring() && bridge.subWaitingForLevel());
        QCOMPARE(bridge.measureProgress(), 0.0);
        setLoudspeaker(subGain, 48, false);
        QTRY_COMPARE_WITH_TIMEOUT(bridge.subStep(), 2, longWaitMs);
        QCOMPARE(bridge.screen(), QStringLiteral("超低分频-结果"));
        QVariantMap info = bridge.subInfo();
        QVERIFY2(info.value("ok").toBool(), qPrintable(info.value("why").toString()));
        const double crossLo = info.value("crossLo").toDouble();
        const double crossHi = info.value("crossHi").toDouble();
        QVERIFY(crossLo < crossoverHz && crossHi > crossoverHz);
        QVERIFY(QFile::exists(diagnostics::crossoverFile()));

        // Edits: a band added and tuned.
        const qsizetype bands = bridge.subEqBands().size();
        bridge.subAddEqBand();
        QCOMPARE(bridge.subEqBands().size(), bands + 1);
        bridge.subUpdateEq(int(bands), 70.04, 2.0, -4.0);
        QCOMPARE(bridge.subEqBands().last().toMap(),
                 (QVariantMap{{"freq", 70.0}, {"q", 2.0}, {"gain", -4.0}, {"enabled", true}}));

        // The design leaves as a preset on the desktop and the clipboard, and into the
        // processor: the corners as set here, only the band switched on and not flat.
        bridge.subUpdateCorner(QStringLiteral("hpf"), 31.0, 24);
        bridge.subUpdateCornerType(QStringLiteral("lpf"), QStringLiteral("lr"));
        bridge.subUpdateCorner(QStringLiteral("lpf"), 95.0, 24);
        for (int i = 0; i < bands; ++i)
            bridge.subSetEqEnabled(i, false);
        QVERIFY(bridge.exportSubPack());
        QCOMPARE(bridge.toastText(), QStringLiteral("超低分频参数已导出到桌面"));
        QFile preset(QDir::homePath() + "/Desktop/超低分频.kvr");
        QVERIFY(preset.open(QIODevice::ReadOnly));
        const QByteArray written = preset.readAll();
        QCOMPARE(written, expectedPreset(bridge.subInfo()));
        bridge.copySubParams();
        QCOMPARE(QGuiApplication::clipboard()->text().toUtf8(), written);
        uploadsTheDesign(bridge);

        bridge.subGotoAlign();
        QCOMPARE(bridge.screen(), QStringLiteral("超低分频-对齐"));
        QCOMPARE(bridge.subStep(), 3);
        struct Row
        {
            const char *name;
            int mainFrames;
            int subFrames;
            float subSign;
            bool invert;
            double delayMs;
            bool dipsUncorrected;
        };
        // Delays small beside the crossover's half period (5 ms at 100 Hz); main and subwoofer
        // equally loud at the corner, where an uncorrected sum of opposite phases has its dip.
        const Row rows[]
                = {{"subwoofer 0.5 ms late", 48, 72, 1.0f, true, -0.5, true},
                   {"subwoofer 0.3125 ms early, inverted", 63, 48, -1.0f, false, 0.3125, false},
                   {"subwoofer 0.3125 ms early", 63, 48, 1.0f, true, 0.3125, true}};
        for (const Row &row : rows) {
            bridge.subAlignRestart();
            setLoudspeaker(1.0f, row.mainFrames, true);
            bridge.subAlignMeasure();
            QTRY_COMPARE_WITH_TIMEOUT(bridge.subAlignStage(), 1, longWaitMs);
            setLoudspeaker(row.subSign, row.subFrames, false);
            bridge.subAlignMeasure();
            QTRY_COMPARE_WITH_TIMEOUT(bridge.subAlignStage(), 2, longWaitMs);
            QVERIFY2(bridge.subAlignAligned(), row.name);
            // To the finder's 0.1 ms: the measured phases of the two bands are a few degrees
            // apart from the analytic ones at the lowest bins of the region.
            QVERIFY2(std::abs(bridge.subAlignDelayMs() - row.delayMs) <= 0.1,
                     qPrintable(QString("%1: %2 ms").arg(row.name).arg(bridge.subAlignDelayMs())));
            QVERIFY2(bridge.subAlignInvert() == row.invert, row.name);
            QVERIFY(!bridge.subAlignCoupled().isEmpty());

            const QVariantMap read = readPack(QStringLiteral("超低对齐 01"));
            const QVariantMap main = read.value("first").toMap();
            const QVariantMap sub = read.value("second").toMap();
            QVERIFY(!main.isEmpty() && !sub.isEmpty());
            const QVariantMap subAlign = read.value("pack").toMap().value("subAlign").toMap();
            QCOMPARE(subAlign.value("delayMs").toDouble(), bridge.subAlignDelayMs());
            QCOMPARE(subAlign.value("invert").toBool(), row.invert);
            const double corrected
                    = deepestDip(main, sub, crossLo, crossHi, bridge.subAlignDelayMs(), row.invert);
            const double uncorrected = deepestDip(main, sub, crossLo, crossHi, 0.0, false);
            QVERIFY2(corrected < 1.0,
                     qPrintable(QString("%1: %2 dB").arg(row.name).arg(corrected)));
            if (row.dipsUncorrected)
                QVERIFY2(uncorrected > 6.0,
                         qPrintable(QString("%1: %2 dB").arg(row.name).arg(uncorrected)));
        }
        QCOMPARE(bridge.core().store().curvePacks.size(),
                 2); // one alignment pack, replaced each time
        const QVariantMap detail = bridge.curvePackDetail(1); // as the curve window shows it
        QVERIFY(detail.value("subAlign").toBool() && !detail.value("third").toList().isEmpty());
        QCOMPARE(detail.value("curveLabels").toStringList(), (QStringList{"全频", "超低", "耦合"}));
        QVERIFY(fileLines(diagnostics::alignmentFile()).value(0).contains(" aligned=1 "));
    }

    // Each demo step: the stage and screen, the designed demo curves with their two bands, the
    // back history through the earlier stages, and the diagnostics files line by line.
    void subwooferDemo_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("stage");
        QTest::newRow("below 0") << -2 << 0;
        QTest::newRow("measuring") << 1 << 1;
        QTest::newRow("result") << 2 << 2;
        QTest::newRow("alignment") << 3 << 3;
        QTest::newRow("above 3") << 7 << 3;
    }

    void subwooferDemo()
    {
        QFETCH(int, step);
        QFETCH(int, stage);
        const QStringList stages{"超低分频对齐", "超低分频-测量", "超低分频-结果", "超低分频-对齐"};
        qputenv("SONETRA_ALIGN_DUMP", "1");
        QFile::remove(diagnostics::alignmentFile());
        QmlBridge bridge;
        bridge.loadSubXoverDemo(step);
        qunsetenv("SONETRA_ALIGN_DUMP");
        QCOMPARE(bridge.subStep(), stage);
        QCOMPARE(bridge.screen(), stages[stage]);
        QVERIFY(bridge.subInfo().value("ok").toBool());
        QVERIFY(bridge.subMainCurve().isEmpty()); // no pack was loaded
        QVERIFY(!bridge.subBefore().isEmpty());
        QCOMPARE(bridge.subEqBands(),
                 (QVariantList{
                         QVariantMap{{"freq", 63.0}, {"q", 1.2}, {"gain", -3.0}, {"enabled", true}},
                         QVariantMap{
                                 {"freq", 125.0}, {"q", 1.0}, {"gain", -2.0}, {"enabled", true}}}));

        // The generators' points, counted here from their rule: from 20 Hz (main, to 20 kHz)
        // and 15 Hz (subwoofer, to 2 kHz), each the last raised by 2 % and rounded up.
        const auto points = [](double first, double last, double lo, double hi) {
            int all = 0, inRange = 0;
            for (double f = first; f <= last; f = std::ceil(f * 1.02)) {
                ++all;
                inRange += f >= lo && f <= hi;
            }
            return std::pair{all, inRange};
        };
        const auto [mainPoints, mainRows] = points(20.0, 20000.0, 15.0, 520.0);
        const auto [subPoints, subRows] = points(15.0, 2000.0, 15.0, 520.0);
        Q_UNUSED(subRows);
        const QStringList xover = fileLines(diagnostics::crossoverFile());
        QCOMPARE(xover.size(), 5 + mainRows);
        QCOMPARE(xover[0], QStringLiteral("ok=1 why="));
        QVERIFY(xover[2].startsWith("lpKind=") && xover[2].endsWith(" lift=15"));
        QCOMPARE(xover[3], QString("mainPts=%1 subPts=%2").arg(mainPoints).arg(subPoints));
        QCOMPARE(xover[4], QStringLiteral("f\tmainDb\tsubDb"));
        QCOMPARE(xover[5].section('\t', 0, 0), QStringLiteral("20"));
        QCOMPARE(xover.last().split('\t').size(), 3);

        const QStringList align = fileLines(diagnostics::alignmentFile());
        if (stage == 3) {
            // Delay the main by the difference of the demo's two delays, 10 − 8.6 ms.
            QCOMPARE(bridge.subAlignDelayMs(), -1.4);
            QVERIFY(bridge.subAlignAligned() && !bridge.subAlignInvert());
            QCOMPARE(align.size(), 4 + mainRows);
            QVERIFY(align[0].startsWith("ok=1 aligned=1 cross="));
            QVERIFY(align[0].endsWith(" delay=-1.4 invert=0"));
            QCOMPARE(align[2], QString("mainPoints=%1 subPoints=%2 mainDelay=8.6 subDelay=10")
                                       .arg(mainPoints)
                                       .arg(subPoints));
            QCOMPARE(align.last().split('\t').size(), 7);
        } else {
            QVERIFY(align.isEmpty());
        }

        for (int s = stage; s > 0; --s) {
            bridge.back();
            QCOMPARE(bridge.subStep(), s - 1);
            QCOMPARE(bridge.screen(), stages[s - 1]);
        }
    }

    // The demo's alignment saved as the first alignment pack, as the start-up option asks; a
    // desktop that cannot be written to is told.
    void demoAlignmentSaves()
    {
        QmlBridge bridge;
        bridge.loadSubXoverDemo(3);
        bridge.saveSubAlignPack();
        const QVariantMap pack = readPack(QStringLiteral("超低对齐 01")).value("pack").toMap();
        QCOMPARE(pack.value("subAlign").toMap().value("delayMs").toDouble(), -1.4);
        QCOMPARE(pack.value("delayMs2").toDouble(), 10.0);

        const QString desktop = QDir::homePath() + "/Desktop";
        QVERIFY(QDir(desktop).removeRecursively());
        QFile blocker(desktop);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QVERIFY(!bridge.exportSubPack());
        QCOMPARE(bridge.toastText(), QStringLiteral("导出没成功"));
        QVERIFY(QFile::remove(desktop));
    }
};

SNT_TEST_MAIN_WITH(QGuiApplication, AlignmentFlowTest)
#include "AlignmentFlowTest.moc"
