#include "app/AppCore.h"
#include "app/CaptureOwner.h"
#include "app/ComputeFlow.h"
#include "app/FillFlow.h"
#include "app/MeasuringFlow.h"
#include "app/Navigation.h"
#include "app/PackLibrary.h"
#include "app/SchemeChoice.h"
#include "app/SubwooferFlow.h"
#include "app/UiState.h"
#include "tests/app/SessionCards.h"
#include "tests/eq/SyntheticCurves.h"
#include "tests/support/TestMain.h"

#include <QSettings>
#include <QSignalSpy>

#include <memory>

namespace {

constexpr int longWaitMs = 60000;

std::unique_ptr<SessionCards> cards;

using Run = MeasuringFlow::Run;

// A workflow that claims the runs it is told to: it counts the captures handed to it and the
// captures dropped, and releases the session as a workflow does.
struct StandInOwner : CaptureOwner
{
    AppCore *core = nullptr;
    bool pending = false;
    bool holds = false;
    int captures = 0;
    int drops = 0;

    bool capturePending() const override { return pending; }
    bool holdsForLevel() const override { return holds; }
    void takeCapture() override
    {
        ++captures;
        pending = false;
        core->releaseSession();
    }
    void dropCapture() override
    {
        ++drops;
        pending = false;
    }
};

// The workflows over one core, made and wired as the bridge makes them, without the bridge.
struct Flows
{
    explicit Flows(EqWorker::Compute engine = snt::eq::computeSchemes)
        : core(nullptr, std::move(engine))
    {
        measuring.addCaptureOwner(&subwoofer);
        measuring.addCaptureOwner(&fill);
        QObject::connect(&core, &AppCore::sessionFailed, &measuring,
                         &MeasuringFlow::onSessionFailed, Qt::QueuedConnection);
        const auto go = [this](const QString &screen) {
            navigation.go(screen);
        };
        QObject::connect(&measuring, &MeasuringFlow::goRequested, go);
        QObject::connect(&fill, &FillFlow::goRequested, go);
        QObject::connect(&subwoofer, &SubwooferFlow::goRequested, go);
        QObject::connect(&compute, &ComputeFlow::goRequested, go);
    }

    AppCore core;
    UiState ui;
    MeasuringFlow measuring{core, ui};
    PackLibrary library{core, ui};
    FillFlow fill{core, measuring, ui};
    SubwooferFlow subwoofer{core, measuring, library, ui};
    SchemeChoice choice{core, measuring, ui};
    ComputeFlow compute{core, measuring, choice, ui};
    Navigation navigation{measuring, choice, subwoofer, fill, ui};
};

} // namespace

// The stages of each workflow and how they follow the engineer's presses and the runs' ends,
// without a bridge or a window: the measuring run (idle, checking the levels, capturing) with
// the workflows that borrow it, the fill alignment's five stages, the subwoofer flow's stages
// and runs, the computation that is cancelled, and the screen that decides what is delivered.
// The runs play on the in-process loopback card.
class FlowStagesTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        cards = std::make_unique<SessionCards>();
        QVERIFY(cards->install());
    }

    void init()
    {
        QSettings settings;
        settings.clear();
        settings.setValue("audio/inputDevice", "Loopback test card");
        settings.setValue("measure/signalType", 0); // pink noise
        cards->card->setFailOpen(false);
    }

    void cleanupTestCase() { cards.reset(); }

    // Idle → checking → capturing → idle with a point; an armed single-loudspeaker run that
    // took a point asks for the computing screen. A card whose input does not open starts
    // nothing and says why.
    void measuringRunStages()
    {
        Flows flows;
        MeasuringFlow &measuring = flows.measuring;
        measuring.setMeasureSeconds(2.0);
        QSignalSpy screens(&measuring, &MeasuringFlow::goRequested);
        QCOMPARE(measuring.run(), Run::Idle);
        measuring.arrayPrimaryAction(); // not a line array: nothing
        QCOMPARE(measuring.run(), Run::Idle);

        measuring.startMeasure();
        QCOMPARE(measuring.run(), Run::Checking);
        measuring.startMeasure(); // a second start changes nothing
        QCOMPARE(measuring.run(), Run::Checking);
        QTRY_VERIFY_WITH_TIMEOUT(measuring.levelReady(), longWaitMs);
        QVERIFY(!measuring.waitingForLevel());
        measuring.measurePrimaryAction();
        QCOMPARE(measuring.run(), Run::Capturing);
        QTRY_COMPARE_WITH_TIMEOUT(measuring.run(), Run::Idle, longWaitMs);
        QCOMPARE(measuring.pointCount(), 1);
        QVERIFY(!flows.core.session());
        QCOMPARE(screens.count(), 1);
        QCOMPARE(screens.first().first().toString(), QStringLiteral("点声源-计算"));

        cards->card->setFailOpen(true);
        QVERIFY(!measuring.startRun(false));
        QCOMPARE(measuring.run(), Run::Idle);
        QTRY_COMPARE(flows.ui.toastText(), QStringLiteral("无法打开音频输入设备"));
    }

    // A line array: the first press starts a free run and the second arms it, a point's run ends
    // on the measuring screen; later points start armed. Stopping an armed run keeps the points
    // taken, and fewer than three points are not computed.
    void lineArrayRunStages()
    {
        Flows flows;
        MeasuringFlow &measuring = flows.measuring;
        measuring.setMeasureSeconds(2.0);
        measuring.beginArrayMeasurement();
        QCOMPARE(flows.navigation.screen(), QStringLiteral("线阵列-测量中"));
        QVERIFY(measuring.lineArray());
        QSignalSpy screens(&measuring, &MeasuringFlow::goRequested);

        measuring.arrayPrimaryAction();
        QCOMPARE(measuring.run(), Run::Checking);
        measuring.arrayPrimaryAction();
        QCOMPARE(measuring.run(), Run::Capturing);
        measuring.arrayPrimaryAction(); // capturing: nothing
        QCOMPARE(measuring.run(), Run::Capturing);
        QTRY_COMPARE_WITH_TIMEOUT(measuring.run(), Run::Idle, longWaitMs);
        QCOMPARE(measuring.pointCount(), 1);
        QVERIFY(!flows.core.session());
        QCOMPARE(screens.count(), 0);

        measuring.arrayPrimaryAction();
        QCOMPARE(measuring.run(), Run::Capturing);
        measuring.arrayStop();
        QCOMPARE(measuring.run(), Run::Idle);
        QCOMPARE(measuring.pointCount(), 1);
        QVERIFY(!flows.core.session());

        measuring.computeNow();
        QCOMPARE(flows.ui.toastText(), QStringLiteral("至少测 3 个点再计算"));
        QCOMPARE(screens.count(), 0);
        measuring.nextMeasurement(); // a new line array: no points
        QCOMPARE(measuring.pointCount(), 0);
        QVERIFY(measuring.lineArray());
    }

    // Screens go onto the history, at most 24 of them; back returns along it. Leaving a
    // measuring screen ends its run, and back from the choice of use returns to the measuring
    // screen of the flow; home ends whatever plays.
    void navigationStages()
    {
        Flows flows;
        Navigation &navigation = flows.navigation;
        QCOMPARE(navigation.screen(), QStringLiteral("主页"));
        for (int i = 1; i <= 30; ++i)
            navigation.go(QStringLiteral("screen %1").arg(i));
        QCOMPARE(navigation.history().size(), 24);
        QCOMPARE(navigation.history().last(), QStringLiteral("screen 29"));
        navigation.back();
        QCOMPARE(navigation.screen(), QStringLiteral("screen 29"));
        navigation.home();
        QCOMPARE(navigation.screen(), QStringLiteral("主页"));

        flows.measuring.setMeasureSeconds(2.0);
        flows.measuring.beginMeasurement();
        QCOMPARE(navigation.screen(), QStringLiteral("点声源-测量中"));
        flows.measuring.startMeasure();
        QCOMPARE(flows.measuring.run(), Run::Checking);
        navigation.go(QStringLiteral("点声源-选用途"));
        QCOMPARE(flows.measuring.run(), Run::Idle);
        QVERIFY(!flows.core.session());
        navigation.back();
        QCOMPARE(navigation.screen(), QStringLiteral("点声源-测量中"));

        flows.measuring.startMeasure();
        navigation.home();
        QCOMPARE(flows.measuring.run(), Run::Idle);
        QVERIFY(!flows.core.session());
    }

    // A run armed for a workflow's capture ends in that workflow, not as a point; while the
    // workflow holds the run for the levels, its progress waits for them; throwing the run
    // away, or leaving it for home, drops every pending capture.
    void workflowCapturesEndTheirRuns()
    {
        AppCore core;
        UiState ui;
        MeasuringFlow measuring(core, ui);
        StandInOwner owner;
        owner.core = &core;
        measuring.addCaptureOwner(&owner);
        measuring.setMeasureSeconds(2.0);

        owner.pending = true;
        owner.holds = true;
        QVERIFY(measuring.startRun(true));
        QCOMPARE(measuring.run(), Run::Capturing);
        QVERIFY(measuring.measureProgress() == 0.0);
        QTRY_COMPARE_WITH_TIMEOUT(measuring.run(), Run::Idle, longWaitMs);
        QCOMPARE(owner.captures, 1);
        QCOMPARE(measuring.pointCount(), 0);
        QVERIFY(measuring.levelReady()); // the capture only counted once the levels agreed

        owner.pending = true;
        owner.holds = false;
        measuring.discardMeasurement();
        QCOMPARE(owner.drops, 1);
        QVERIFY(!owner.pending);

        measuring.abandonRun(); // nothing plays: nothing to drop
        QCOMPARE(owner.drops, 1);
        QVERIFY(measuring.startRun(false));
        measuring.abandonRun();
        QCOMPARE(owner.drops, 2);
        QCOMPARE(measuring.run(), Run::Idle);
    }

    // Main: measure → capture; fill: measure → capture → done. Measuring before playing does
    // nothing; stopping an armed capture returns to the step's measuring stage; a dropped
    // capture too; a demo of step 5 is done.
    void fillStages()
    {
        Flows flows;
        FillFlow &fill = flows.fill;
        flows.measuring.setMeasureSeconds(2.0);
        using Stage = FillFlow::Stage;
        fill.begin();
        QCOMPARE(flows.navigation.screen(), QStringLiteral("补声对齐"));
        QCOMPARE(fill.stage(), Stage::MeasureMain);
        fill.measure();
        QCOMPARE(fill.stage(), Stage::MeasureMain);

        fill.play();
        QVERIFY(flows.measuring.measuring());
        fill.measure();
        QCOMPARE(fill.stage(), Stage::CaptureMain);
        QVERIFY(fill.capturePending());
        QTRY_COMPARE_WITH_TIMEOUT(fill.stage(), Stage::MeasureFill, longWaitMs);
        QCOMPARE(fill.step(), 1);
        QVERIFY(!flows.measuring.measuring());

        fill.play();
        fill.measure();
        QCOMPARE(fill.stage(), Stage::CaptureFill);
        fill.stop();
        QCOMPARE(fill.stage(), Stage::MeasureFill);
        QVERIFY(!flows.measuring.measuring());
        fill.stop(); // nothing plays, nothing is armed
        QCOMPARE(fill.stage(), Stage::MeasureFill);

        fill.play();
        fill.measure();
        fill.dropCapture();
        QCOMPARE(fill.stage(), Stage::MeasureFill);
        fill.stop();
        QVERIFY(!flows.measuring.measuring());
        fill.play();
        fill.measure();
        QTRY_COMPARE_WITH_TIMEOUT(fill.stage(), Stage::Done, longWaitMs);
        QCOMPARE(fill.step(), 2);
        fill.play(); // done: nothing plays
        QVERIFY(!flows.measuring.measuring());

        fill.loadDemo(1, 3.2);
        QCOMPARE(fill.stage(), Stage::MeasureFill);
        QCOMPARE(fill.pulses().delayMs(), 0.0);
        fill.loadDemo(5, 3.2);
        QCOMPARE(fill.stage(), Stage::Done);
        QCOMPARE(fill.pulses().delayMs(), 3.2);
    }

    // Guide → measuring → result → alignment, and the runs of the measuring and alignment
    // stages: a calibration run that is stopped, turned into the subwoofer's capture once the
    // levels agree (a capture held for the levels), the alignment's two captures, and a
    // return by the back button that leaves no run.
    void subwooferStages()
    {
        Flows flows;
        SubwooferFlow &sub = flows.subwoofer;
        flows.measuring.setMeasureSeconds(2.0);
        using Stage = SubwooferFlow::Stage;
        using SubRun = SubwooferFlow::Run;
        sub.begin();
        QCOMPARE(sub.stage(), Stage::Guide);
        QCOMPARE(flows.navigation.screen(), QStringLiteral("超低分频对齐"));
        sub.guideDone();
        QCOMPARE(sub.stage(), Stage::Measure);

        sub.measure(); // no main reference yet
        QCOMPARE(sub.run(), SubRun::Idle);
        QCOMPARE(flows.ui.toastText(), QStringLiteral("先选主扩曲线，再测超低"));
        sub.levelCalibrate();
        QCOMPARE(sub.run(), SubRun::Calibrating);
        QVERIFY(sub.calibrating() && !sub.capturePending());
        sub.levelCalibrate();
        QCOMPARE(sub.run(), SubRun::Idle);
        QVERIFY(!flows.measuring.measuring());

        sub.loadDemo(1); // the demo's main reference and design
        QCOMPARE(sub.stage(), Stage::Measure);
        sub.levelCalibrate();
        QTRY_VERIFY_WITH_TIMEOUT(flows.measuring.levelReady(), longWaitMs);
        sub.measure();
        QCOMPARE(sub.run(), SubRun::CapturingSubwoofer);
        QVERIFY(sub.capturePending() && sub.holdsForLevel());
        QVERIFY(flows.measuring.autoMeasuring());
        QTRY_COMPARE_WITH_TIMEOUT(sub.stage(), Stage::Result, longWaitMs);
        QCOMPARE(sub.run(), SubRun::Idle);
        QCOMPARE(sub.crossover().measured, 2);

        sub.gotoAlign();
        QCOMPARE(sub.stage(), Stage::Align);
        QCOMPARE(flows.navigation.screen(), QStringLiteral("超低分频-对齐"));
        sub.alignMeasure();
        QCOMPARE(sub.run(), SubRun::CapturingAlignment);
        QVERIFY(!sub.holdsForLevel());
        QTRY_COMPARE_WITH_TIMEOUT(sub.alignment().stage, int(SubwooferAlignment::MeasureSub),
                                  longWaitMs);
        QCOMPARE(sub.run(), SubRun::Idle);
        sub.alignMeasure();
        QCOMPARE(sub.run(), SubRun::CapturingAlignment);
        flows.navigation.back(); // to the result stage, the capture given up
        QCOMPARE(sub.run(), SubRun::Idle);
        QCOMPARE(sub.stage(), Stage::Result);
        QCOMPARE(flows.navigation.screen(), QStringLiteral("超低分频-结果"));
        QVERIFY(!flows.measuring.measuring());
    }

    // A computation cancelled while it runs leaves no schemes and returns to the measuring
    // screen; one that is not keeps its schemes with a copy as computed and shows the choice.
    void cancelledComputationIsDropped()
    {
        Flows flows([](const snt::eq::Measured &, const snt::eq::Options &, QString *,
                       const EqWorker::Progress &) {
            return QList<snt::eq::Scheme>{snt::eq::Scheme{}, snt::eq::Scheme{}};
        });
        const snt::eq::Measured curve = snt::eq::synthetic::curve({{1000.0, 6.0, 2.0}});
        flows.core.setMeasured(
                {.freq = curve.freq, .magnitude = curve.magnitude, .coherence = curve.coherence});
        QSignalSpy finished(&flows.core, &AppCore::computeFinished);

        flows.compute.startCompute();
        QVERIFY(flows.compute.computing());
        flows.compute.cancelComputation();
        QCOMPARE(flows.ui.toastText(), QStringLiteral("这次计算已取消"));
        QVERIFY(finished.wait(10000));
        QVERIFY(flows.core.result().schemes.isEmpty());
        QCOMPARE(flows.navigation.screen(), QStringLiteral("点声源-测量中"));

        flows.compute.startCompute();
        QVERIFY(finished.wait(10000));
        QCOMPARE(flows.core.result().schemes.size(), 2);
        QCOMPARE(flows.core.result().computed.size(), 2);
        QCOMPARE(flows.navigation.screen(), QStringLiteral("点声源-选用途"));
        flows.ui.clearToast();
        flows.compute.cancelComputation(); // nothing runs: nothing to cancel
        QVERIFY(flows.ui.toastText().isEmpty());
    }

    // The screen shown alone decides which EQ the processor panel delivers.
    void deliveredEqFollowsTheScreen()
    {
        Flows flows;
        using Delivered = Navigation::Delivered;
        QCOMPARE(flows.navigation.delivered(), Delivered::Nothing);
        flows.navigation.go(QStringLiteral("点声源-交付与复测"));
        QCOMPARE(flows.navigation.delivered(), Delivered::Scheme);
        for (const char *screen :
             {"超低分频对齐", "超低分频-测量", "超低分频-结果", "超低分频-对齐"}) {
            flows.navigation.go(QString::fromUtf8(screen));
            QCOMPARE(flows.navigation.delivered(), Delivered::Subwoofer);
        }
        flows.navigation.go(QStringLiteral("点声源-选用途"));
        QCOMPARE(flows.navigation.delivered(), Delivered::Nothing);
    }
};

SNT_TEST_MAIN(FlowStagesTest)
#include "FlowStagesTest.moc"
