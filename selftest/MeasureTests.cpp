#include "selftest/MeasureTests.h"

#include "common/Log.h"
#include "selftest/Walk.h"

#include <QCoreApplication>
#include <QFile>
#include <QVariantList>
#include <QVariantMap>

namespace snt::selftest {

namespace {

const QString pointScreen = QStringLiteral("点声源-测量中");
const QString subMeasureScreen = QStringLiteral("超低分频-测量");
const QString subResultScreen = QStringLiteral("超低分频-结果");

ClickTarget pageControl(const char *name, QPoint point)
{
    return {{QStringLiteral("pageLoader"), QLatin1String(name)}, point};
}

// The wait after an automatic run was armed: the run's length plus `slackMs`.
int runWaitMs(const Walk &walk, int slackMs)
{
    return slackMs + int(walk.bridge().read("measureSeconds").toDouble() * 1000.0);
}

// Entries of a curve point list: a flat list of numbers holds two per point.
qsizetype curvePoints(const QVariantList &curve)
{
    const int first = curve.isEmpty() ? QMetaType::UnknownType : curve.first().typeId();
    const bool flat = !curve.isEmpty() && first != QMetaType::QVariantMap
                      && first != QMetaType::QVariantList;
    return flat ? curve.size() / 2 : curve.size();
}

const char *asDigit(bool value)
{
    return value ? "1" : "0";
}

// ---- point-source measuring walk ------------------------------------------------------------

void reportMeasureTestFailure(const Walk &walk, const QString &check)
{
    const bool measuring = walk.flag("measuring");
    const QString reason = walk.withCause(check);
    qCInfo(lcSelfTest).noquote() << "MEASURETEST FAIL" << reason << "screen" << walk.screen()
                                 << "measuring" << measuring;
    walk.shot(QStringLiteral("measure-fail.png"));
    QFile file(walk.outputFolder() + QStringLiteral("/fail.txt"));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        file.write(QStringLiteral("%1 | screen=%2 | measuring=%3 | points=%4")
                           .arg(reason, walk.screen(), QLatin1String(asDigit(measuring)))
                           .arg(walk.number("measuredPointCount"))
                           .toUtf8());
    }
    QCoreApplication::exit(4);
}

// False, after the failure report, when `failed`.
bool measureCheck(const Walk &walk, bool failed, const QString &reason)
{
    if (failed)
        reportMeasureTestFailure(walk, reason);
    return !failed;
}

bool passedStep(const Walk &walk, const char *step, const QString &shot)
{
    qCInfo(lcSelfTest).noquote() << "MEASURETEST" << step << "OK";
    walk.shot(shot);
    return true;
}

bool idleOnEntry(const Walk &walk)
{
    return measureCheck(walk, walk.screen() != pointScreen, QStringLiteral("进页失败"))
           && measureCheck(walk, walk.flag("measuring"), QStringLiteral("进页就自动起信号"))
           && measureCheck(walk, walk.bridge().read("measureProgress").toDouble() > 0.001,
                           QStringLiteral("进页进度不是零"))
           && passedStep(walk, "idle", QStringLiteral("measure-01-idle.png"));
}

bool playAndStop(const Walk &walk)
{
    walk.click(pageControl("primaryButton", walk.fromRight(253, 793)));
    Walk::wait(500);
    if (!measureCheck(walk, !walk.flag("measuring") || walk.screen() != pointScreen,
                      QStringLiteral("播放没有起信号或跳页"))
        || !measureCheck(walk, walk.flag("autoMeasuring"), QStringLiteral("手动播放被当成自动测量"))
        || !passedStep(walk, "play", QStringLiteral("measure-02-play.png")))
        return false;
    walk.click(pageControl("stopButton", walk.fromRight(253, 793)));
    Walk::wait(500);
    return measureCheck(walk, walk.flag("measuring"), QStringLiteral("同一按钮再点没有停止"))
           && measureCheck(walk, walk.screen() != pointScreen, QStringLiteral("停止后跳页"))
           && passedStep(walk, "stop", QStringLiteral("measure-03-stop.png"));
}

bool automaticRun(const Walk &walk)
{
    const bool pressed
            = walk.pressUntilArmed(pageControl("primaryButton", walk.fromRight(125, 793)));
    if (!measureCheck(walk, !pressed,
                      QStringLiteral("表头 %1 秒内没有对齐").arg(Walk::levelWaitSeconds)))
        return false;
    Walk::wait(500);
    if (!measureCheck(walk, !walk.flag("measuring") || walk.screen() != pointScreen,
                      QStringLiteral("自动测量没有起信号或提前跳页"))
        || !measureCheck(walk, !walk.flag("autoMeasuring"),
                         QStringLiteral("自动测量没有进入自动进度"))
        || !passedStep(walk, "auto-start", QStringLiteral("measure-04-auto-start.png")))
        return false;
    Walk::wait(runWaitMs(walk, 2200));
    const QString screen = walk.screen();
    return measureCheck(walk, walk.flag("measuring"), QStringLiteral("自动测量到时仍在测量"))
           && measureCheck(walk,
                           screen != QStringLiteral("点声源-计算")
                                   && screen != QStringLiteral("点声源-选用途"),
                           QStringLiteral("自动测量没有进入下一步"))
           && passedStep(walk, "auto-finish", QStringLiteral("measure-05-compute.png"));
}

// ---- line-array walk ------------------------------------------------------------------------

void appendArrayTestLog(const Walk &walk, const char *step)
{
    QFile file(walk.outputFolder() + QStringLiteral("/array-log.txt"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return;
    file.write(QStringLiteral("%1 screen=%2 measuring=%3 points=%4 live=%5 avg=%6\n")
                       .arg(QLatin1String(step), walk.screen(),
                            QLatin1String(asDigit(walk.flag("measuring"))))
                       .arg(walk.number("measuredPointCount"))
                       .arg(walk.bridge().read("measurementPointCurves").toList().size())
                       .arg(curvePoints(walk.bridge().read("averageMeasurementCurve").toList()))
                       .toUtf8());
}

void recordArrayStep(const Walk &walk, const char *step, const QString &shot)
{
    appendArrayTestLog(walk, step);
    walk.shot(shot);
}

void reportArrayTestFailure(Walk &walk, const QString &check)
{
    qCWarning(lcSelfTest).noquote()
            << "ARRAYTEST FAIL" << walk.withCause(check) << "screen" << walk.screen() << "measuring"
            << walk.flag("measuring") << "points" << walk.number("measuredPointCount");
    walk.fail(3);
    walk.end();
}

// Steps 2 to 6: the signal started and armed into the first point, then the second point
// measured at once. False, after the failure report, when nothing played or no point came.
bool arrayPoints(Walk &walk, const ClickTarget &primary)
{
    recordArrayStep(walk, "idle", QStringLiteral("array-01-idle.png"));
    walk.click(primary);
    Walk::wait(3000);
    recordArrayStep(walk, "live-3s", QStringLiteral("array-02-live.png"));
    if (!walk.flag("measuring")) {
        reportArrayTestFailure(walk, QStringLiteral("播放线阵列没有起信号"));
        return false;
    }
    Walk::wait(9000);
    recordArrayStep(walk, "point1", QStringLiteral("array-03-point1.png"));
    walk.click(primary);
    Walk::wait(11000);
    recordArrayStep(walk, "point2", QStringLiteral("array-04-point2.png"));
    walk.click(primary);
    Walk::wait(11000);
    recordArrayStep(walk, "point3", QStringLiteral("array-05-point3.png"));
    if (walk.number("measuredPointCount") == 0) {
        reportArrayTestFailure(walk, QStringLiteral("一个测点也没测到"));
        return false;
    }
    return true;
}

// ---- subwoofer calibration walk -------------------------------------------------------------

void reportSubcalibTestFailure(const Walk &walk, const QString &check)
{
    qCWarning(lcSelfTest).noquote()
            << "SUBCALIB FAIL" << walk.withCause(check) << "screen" << walk.screen() << "measuring"
            << walk.flag("measuring") << "calibrating" << walk.flag("subCalibrating");
    walk.shot(QStringLiteral("subcalib-fail.png"));
    QCoreApplication::exit(3);
}

bool subCheck(const Walk &walk, bool failed, const QString &reason)
{
    if (failed)
        reportSubcalibTestFailure(walk, reason);
    return !failed;
}

bool signalRuns(const Walk &walk)
{
    return walk.flag("measuring") || walk.flag("subCalibrating");
}

// The level calibration by the page's primary button. That button offers the main-reference
// pick ("选择主扩") instead until a reference is loaded, as on a fresh install, though the
// calibration needs none.
void startLevelCalibration(const Walk &walk)
{
    const QVariantMap info = walk.bridge().read("subInfo").toMap();
    if (info.value(QStringLiteral("mainLoaded")).toBool())
        walk.click(pageControl("primaryButton", {243, 1087}));
    else
        walk.callThroughBridge("subLevelCalibrate", {},
                               QStringLiteral("no control starts it without a main reference"));
}

// Steps 2 to 10: the measuring page idle after the main-reference pick, the level calibration
// started and stopped inline.
bool inlineCalibration(const Walk &walk)
{
    const ClickTarget primary = pageControl("primaryButton", {429, 1087});
    walk.bridge().call("beginSubXover");
    walk.bridge().call("subGuideDone");
    Walk::wait(500);
    walk.shot(QStringLiteral("subcalib-01-idle.png"));
    walk.click(primary);
    Walk::wait(400);
    walk.shot(QStringLiteral("subcalib-01a-main-menu.png"));
    walk.pressEscape();
    Walk::wait(200);
    if (!subCheck(walk, walk.screen() != subMeasureScreen, QStringLiteral("不是原测量页"))
        || !subCheck(walk, signalRuns(walk), QStringLiteral("进页就出信号")))
        return false;

    // A main reference the pick above loaded counts as one measured curve already: the
    // calibration must add none.
    const int measuredBefore = walk.number("subMeasured");
    startLevelCalibration(walk);
    Walk::wait(1500);
    qCInfo(lcSelfTest).noquote() << "SUBCALIB live measuring=" << walk.flag("measuring")
                                 << "calibrating=" << walk.flag("subCalibrating") << "curve="
                                 << walk.bridge().read("measuringCurveFlat").toList().size()
                                 << "measured=" << walk.number("subMeasured");
    walk.shot(QStringLiteral("subcalib-02-live.png"));
    if (!subCheck(walk, !walk.flag("measuring") || !walk.flag("subCalibrating"),
                  QStringLiteral("电平校准没起信号"))
        || !subCheck(walk, walk.screen() != subMeasureScreen, QStringLiteral("校准跳页了")))
        return false;

    walk.click(pageControl("stopButton", {243, 1087}));
    Walk::wait(500);
    walk.shot(QStringLiteral("subcalib-03-stop.png"));
    if (!subCheck(walk, signalRuns(walk), QStringLiteral("停止没关信号"))
        || !subCheck(walk, walk.number("subMeasured") != measuredBefore,
                     QStringLiteral("校准落了测量点"))
        || !subCheck(walk, walk.screen() != subMeasureScreen, QStringLiteral("停止后跳页")))
        return false;
    walk.shot(QStringLiteral("subcalib-04-back.png"));
    qCInfo(lcSelfTest).noquote() << "SUBCALIB inline OK screen=" << walk.screen();
    return true;
}

// Steps 11 to 16: the merged measurement against the first main reference pack, to the result
// page.
void mergedMeasurement(const Walk &walk)
{
    if (walk.bridge().read("subMainPacks").toList().isEmpty()) {
        qCInfo(lcSelfTest).noquote() << "SUBCALIB merged result SKIP: no main pack";
        QCoreApplication::exit(0);
        return;
    }
    walk.bridge().call("subLoadMainPack", {0});
    Walk::wait(300);
    // Meters that never agree leave the run checking them, which the skip below reports.
    walk.pressUntilArmed(pageControl("primaryButton", {429, 1087}));
    if (!subCheck(walk, !walk.flag("measuring"), QStringLiteral("超低测量分频没起测量")))
        return;
    Walk::wait(150);
    walk.shot(QStringLiteral("subcalib-05a-wait.png"));
    qCInfo(lcSelfTest).noquote() << "SUBCALIB wait-level"
                                 << (walk.flag("subWaitingForLevel") ? "ON" : "OFF") << "progress"
                                 << walk.bridge().read("measureProgress").toDouble();
    Walk::wait(runWaitMs(walk, 2600));
    walk.shot(QStringLiteral("subcalib-05-result.png"));
    if (walk.flag("measuring") || walk.flag("subWaitingForLevel")) {
        qCInfo(lcSelfTest).noquote() << "SUBCALIB waiting-level; result check skipped";
        QCoreApplication::exit(0);
        return;
    }
    if (subCheck(walk, walk.screen() != subResultScreen, QStringLiteral("测完没直接进结果页"))) {
        qCInfo(lcSelfTest).noquote() << "SUBCALIB merged result OK screen=" << walk.screen();
        QCoreApplication::exit(0);
    }
}

} // namespace

void runMeasureTest(const QQmlApplicationEngine &engine, QObject *bridge,
                    const QString &outputFolder)
{
    Walk walk(engine, bridge, outputFolder);
    if (!walk.start())
        return;
    walk.bridge().call("beginArrayMeasurement");
    Walk::wait(300);
    walk.bridge().call("go", {pointScreen});
    Walk::wait(400);
    if (idleOnEntry(walk) && playAndStop(walk) && automaticRun(walk))
        walk.end();
}

void runArrayTest(const QQmlApplicationEngine &engine, QObject *bridge, const QString &outputFolder)
{
    Walk walk(engine, bridge, outputFolder);
    if (!walk.start())
        return;
    walk.bridge().call("beginArrayMeasurement");
    Walk::wait(500);
    if (!arrayPoints(walk, pageControl("primaryButton", {154, 797})))
        return;
    walk.click(pageControl("computeButton", {314, 797}));
    Walk::wait(4000);
    recordArrayStep(walk, "compute", QStringLiteral("array-06-compute.png"));
    walk.end();
}

void runSubcalibTest(const QQmlApplicationEngine &engine, QObject *bridge,
                     const QString &outputFolder)
{
    Walk walk(engine, bridge, outputFolder);
    if (walk.start(false) && inlineCalibration(walk))
        mergedMeasurement(walk);
}

} // namespace snt::selftest
