#include "app/SubwooferFlow.h"

#include "app/AlignmentDiagnostics.h"
#include "app/AppCore.h"
#include "app/ChartPoints.h"
#include "app/EqPreset.h"
#include "app/MeasureSession.h"
#include "app/MeasuringFlow.h"
#include "app/PackCurves.h"
#include "app/PackLibrary.h"
#include "app/SchemeEqList.h"
#include "app/ScreenNames.h"
#include "app/SubwooferDemo.h"
#include "app/SubwooferViews.h"
#include "app/UiState.h"
#include "app/store/CaptureFiles.h"
#include "eq/DisplayCurve.h"

#include <utility>

namespace {

constexpr int chartBudget = 480;
constexpr qsizetype leastMainPoints = 8;
constexpr int mainSmoothing = 6;

const QString unreadablePackText = QStringLiteral("这条曲线读不出来，换一条");
const QString levelsApartText = QStringLiteral("先把「测量」和「参考」两个表头调到 −3～+6 dB 之间");

using Stage = SubwooferFlow::Stage;

const QString &stageScreen(Stage stage)
{
    return screens::subwooferStages[int(stage)];
}

// A curve with a value per frequency as the charts take it.
QVariantList chartCurve(const QList<float> &freq, const QList<float> &values)
{
    if (freq.size() < 2 || values.size() != freq.size())
        return {};
    return plotPoints(freq, values, chartBudget);
}

} // namespace

SubwooferFlow::SubwooferFlow(AppCore &core, MeasuringFlow &measuring, PackLibrary &library,
                             UiState &ui, QObject *parent)
    : QObject(parent)
    , core_(core)
    , measuring_(measuring)
    , library_(library)
    , ui_(ui)
{ }

int SubwooferFlow::stageIndex(const QString &screen)
{
    return int(screens::subwooferStages.indexOf(screen));
}

// ---- views ----------------------------------------------------------------------------------

QVariantMap SubwooferFlow::info() const
{
    return subwoofer::info(crossover_);
}

QVariantList SubwooferFlow::mainCurve() const
{
    if (crossover_.mainPackIndex < 0 || crossover_.main.freq.size() < 2)
        return {};
    return plotPoints(crossover_.main.freq, crossover_.main.db, chartBudget);
}

QVariantList SubwooferFlow::mainCoherence() const
{
    return chartCurve(crossover_.main.freq, crossover_.main.coherence);
}

QVariantList SubwooferFlow::subCoherence() const
{
    return chartCurve(crossover_.sub.freq, crossover_.sub.coherence);
}

QVariantList SubwooferFlow::alignMainCurve() const
{
    return chartCurve(alignment_.main.freq, alignment_.main.db);
}

QVariantList SubwooferFlow::alignMainCoherence() const
{
    return chartCurve(alignment_.main.freq, alignment_.main.coherence);
}

QVariantList SubwooferFlow::alignSubCurve() const
{
    return chartCurve(alignment_.sub.freq, alignment_.sub.db);
}

QVariantList SubwooferFlow::alignSubCoherence() const
{
    return chartCurve(alignment_.sub.freq, alignment_.sub.coherence);
}

QVariantList SubwooferFlow::alignCoupled() const
{
    const math::Curve coupled = alignment_.coupledCurve(crossover_.result);
    return coupled.freq.isEmpty() ? QVariantList()
                                  : plotPoints(coupled.freq, coupled.values, chartBudget);
}

// The packs that may serve as the main reference: the current project's, then other projects'
// (labelled with their project), then those in no project.
QVariantList SubwooferFlow::mainPacks() const
{
    const QList<CurvePack> &packs = core_.store().curvePacks;
    const QString current = core_.project().name;
    QVariantList candidates;
    const auto pass = [&](auto belongs, bool labelWithProject) {
        for (qsizetype i = 0; i < packs.size(); ++i) {
            if (!belongs(packs[i]))
                continue;
            QVariantMap entry = library_.summary(packs[i], int(i));
            entry.insert(QStringLiteral("label"), labelWithProject ? QStringLiteral("%1 · %2").arg(
                                                          packs[i].project, packs[i].name)
                                                                   : packs[i].name);
            candidates.append(entry);
        }
    };
    pass([&](const CurvePack &p) { return !current.isEmpty() && p.project == current; }, false);
    pass([&](const CurvePack &p) { return !p.project.isEmpty() && p.project != current; }, true);
    pass([](const CurvePack &p) { return p.project.isEmpty(); }, false);
    return candidates;
}

// ---- stages ---------------------------------------------------------------------------------

void SubwooferFlow::begin()
{
    endPickingMain();
    if (measuring_.measuring()) {
        measuring_.stopRun();
        emit measuringChanged();
        emit measureTick();
    }
    core_.clearMeasuredCurve();
    run_ = Run::Idle;
    measuring_.setWaitingForLevel(false);
    measuring_.resetLevelWindow();
    resetAlignment();
    measuring_.resetProgress();
    measuring_.resetLevels();
    emit measureTick();
    emit curveChanged();
    crossover_.reset();
    alignment_.lastPackName.clear();
    stage_ = ui_.subGuideHidden() ? Stage::Measure : Stage::Guide;
    emit subChanged();
    emit goRequested(stageScreen(stage_));
}

void SubwooferFlow::showStage(Stage stage)
{
    stopRun();
    stage_ = stage;
    emit subChanged();
    emit goRequested(stageScreen(stage));
}

void SubwooferFlow::showGuide()
{
    showStage(Stage::Guide);
}

void SubwooferFlow::guideDone()
{
    showStage(Stage::Measure);
}

void SubwooferFlow::gotoAlign()
{
    stopRun();
    stage_ = Stage::Align;
    resetAlignment();
    emit subChanged();
    emit goRequested(stageScreen(Stage::Align));
}

void SubwooferFlow::leaveStage()
{
    if (measuring_.measuring() || calibrating())
        stopRun();
    run_ = Run::Idle;
}

void SubwooferFlow::showStageOf(const QString &screen)
{
    const int stage = stageIndex(screen);
    if (stage < 0)
        return;
    stage_ = Stage(stage);
    emit subChanged();
}

void SubwooferFlow::stopRun()
{
    run_ = Run::Idle;
    measuring_.setWaitingForLevel(false);
    measuring_.resetLevelWindow();
    if (measuring_.measuring()) {
        measuring_.stopRun();
        emit measuringChanged();
        emit measureTick();
        emit curveChanged();
    }
    emit subChanged();
}

void SubwooferFlow::stop()
{
    stopRun();
    emit subChanged();
}

// ---- the main reference ---------------------------------------------------------------------

void SubwooferFlow::pickMain()
{
    pickingMain_ = true;
    library_.openCurveWindow();
    emit subPickingMainChanged();
}

void SubwooferFlow::endPickingMain()
{
    if (std::exchange(pickingMain_, false))
        emit subPickingMainChanged();
}

void SubwooferFlow::trySetMainFromPack(int index)
{
    if (!pickingMain_ || index < 0 || index >= core_.store().curvePacks.size())
        return;
    const CurvePack &pack = core_.store().curvePacks[index];
    if (!pack.subAlign.isEmpty() || pack.use.contains(QStringLiteral("超低"))) {
        ui_.toast(QStringLiteral("请先处理主扩，并选择其作为主扩参考曲线进行超低分频"));
        return;
    }
    if (!loadMainPack(index))
        return;
    pickingMain_ = false;
    ui_.toast(QStringLiteral("已将「%1 · %2」设为主扩参考")
                      .arg(crossover_.mainProject.isEmpty() ? QStringLiteral("未归属")
                                                            : crossover_.mainProject,
                           crossover_.mainName));
    emit subPickingMainChanged();
    emit subChanged();
}

bool SubwooferFlow::loadMainPack(int index)
{
    if (index < 0 || index >= core_.store().curvePacks.size()) {
        ui_.toast(QStringLiteral("这条曲线不在了，重新选一条"));
        return false;
    }
    CurvePack &pack = core_.store().curvePacks[index];
    QString refusal;
    readRawFile(pack, &refusal);
    if (pack.freq.size() < leastMainPoints || pack.level.size() != pack.freq.size()) {
        ui_.toast(refusal.isEmpty() ? unreadablePackText : refusal);
        return false;
    }
    const snt::eq::DisplayCurve unsmoothed = snt::eq::prepareDisplayCurve(packCurveRecord(pack, 0));
    if (!unsmoothed.valid) {
        ui_.toast(unreadablePackText);
        return false;
    }
    crossover_.setMainReference(unsmoothed,
                                snt::eq::prepareDisplayCurve(packCurveRecord(pack, mainSmoothing)));
    crossover_.mainPackIndex = index;
    crossover_.mainName = pack.name;
    crossover_.mainProject = pack.project;
    recompute();
    emit subChanged();
    ui_.toast(QStringLiteral("已加载 %1（处理后）").arg(pack.name));
    return true;
}

// ---- the subwoofer measurement and the design -----------------------------------------------

void SubwooferFlow::levelCalibrate()
{
    if (calibrating()) {
        stopRun();
        emit subChanged();
        return;
    }
    if (measuring_.measuring()) {
        measuring_.stopRun();
        emit measuringChanged();
    }
    if (measuring_.startRun(false))
        run_ = Run::Calibrating;
    emit subChanged();
}

void SubwooferFlow::measure()
{
    if (crossover_.main.isEmpty()) {
        ui_.toast(QStringLiteral("先选主扩曲线，再测超低"));
        emit subChanged();
        return;
    }
    crossover_.startSubMeasurement();
    run_ = Run::CapturingSubwoofer;
    if (measuring_.measuring() && !measuring_.autoMeasuring()) {
        // The calibration run becomes the capture: the audio keeps playing.
        measuring_.armRun();
        emit subChanged();
        return;
    }
    if (measuring_.measuring())
        measuring_.stopRun();
    if (measuring_.startRun(true))
        measuring_.setWaitingForLevel(true);
    else
        run_ = Run::Idle;
    emit subChanged();
}

void SubwooferFlow::captureSubwoofer()
{
    run_ = Run::Idle;
    QList<float> freq, magnitude, coherence, phase;
    if (MeasureSession *session = core_.session()) {
        session->stop();
        session->transferFunction(freq, magnitude, coherence, &phase);
    }
    core_.releaseSession();
    if (!crossover_.takeSubCapture(freq, magnitude, coherence, phase)) {
        ui_.toast(QStringLiteral("这次没抓到曲线，再测一次"));
        emit subChanged();
        return;
    }
    recompute();
    if (crossover_.hasDesign())
        showDesign();
    else
        emit subChanged();
}

void SubwooferFlow::recompute()
{
    if (!crossover_.canDesign())
        return;
    crossover_.design(stage_ >= Stage::Result);
    if (!crossover_.hasDesign() && !crossover_.result.why.isEmpty())
        ui_.toast(crossover_.result.why);
    diagnostics::writeCrossover(crossover_);
    emit subChanged();
}

void SubwooferFlow::showDesign()
{
    stage_ = Stage::Result;
    emit subChanged();
    emit goRequested(stageScreen(Stage::Result));
}

void SubwooferFlow::compute()
{
    recompute();
    if (crossover_.hasDesign())
        showDesign();
}

void SubwooferFlow::setLift(int lift)
{
    if (crossover_.setLift(lift))
        recompute();
    emit subChanged();
}

// ---- edits of the design --------------------------------------------------------------------

void SubwooferFlow::addEqBand()
{
    const QString refusal = crossover_.addEqBand();
    if (refusal.isEmpty())
        emit subChanged();
    else
        ui_.toast(refusal);
}

void SubwooferFlow::setEqEnabled(int index, bool enabled)
{
    if (crossover_.setEqEnabled(index, enabled))
        emit subChanged();
}

void SubwooferFlow::updateEq(int index, double freq, double q, double gainDb)
{
    if (crossover_.updateEq(index, freq, q, gainDb))
        emit subChanged();
}

void SubwooferFlow::updateCorner(const QString &side, double hz, int slopeDb)
{
    if (crossover_.updateCorner(side, hz, slopeDb))
        emit subChanged();
}

void SubwooferFlow::updateCornerType(const QString &side, const QString &kind)
{
    if (crossover_.updateCornerType(side, kind))
        emit subChanged();
}

// ---- delivery of the design -----------------------------------------------------------------

bool SubwooferFlow::deliveredEq(ProcessorEqList &list, const QString &verb, QString &error) const
{
    if (!crossover_.hasDesign()) {
        error = QStringLiteral("超低分频还没算完，先出结果再%1。").arg(verb);
        return false;
    }
    list = schemeEqList(crossover_.deliveredBands(), crossover_.deliveredHighPass(),
                        crossover_.deliveredLowPass());
    return true;
}

// The EQ preset of the delivery with the subwoofer's gain and polarity; its delay stays 0, the
// engineer enters it on the processor.
QJsonObject SubwooferFlow::presetJson() const
{
    return eqpreset::presetJson(crossover_.deliveredBands(), crossover_.deliveredHighPass(),
                                crossover_.deliveredLowPass(), crossover_.result.subGainDb,
                                crossover_.result.alignInvert);
}

void SubwooferFlow::copyParams()
{
    if (!crossover_.hasDesign())
        ui_.toast(QStringLiteral("还没有分频结果"));
    else
        ui_.toast(eqpreset::copyToClipboard(presetJson()));
}

bool SubwooferFlow::exportPack()
{
    if (!crossover_.hasDesign()) {
        ui_.toast(QStringLiteral("还没有可分频导出的结果"));
        return false;
    }
    if (!eqpreset::writePresetFile(eqpreset::desktopFolder(), QStringLiteral("超低分频"),
                                   presetJson())) {
        ui_.toast(QStringLiteral("导出没成功"));
        return false;
    }
    ui_.toast(QStringLiteral("超低分频参数已导出到桌面"));
    return true;
}

// ---- the time alignment ---------------------------------------------------------------------

void SubwooferFlow::resetAlignment()
{
    alignment_.reset();
    if (run_ == Run::CapturingAlignment)
        run_ = Run::Idle;
    measuring_.setWaitingForLevel(false);
    crossover_.result.aligned = false;
    crossover_.result.alignDelayMs = 0.0;
    crossover_.result.alignInvert = false;
}

void SubwooferFlow::alignRestart()
{
    stopRun();
    resetAlignment();
    emit subChanged();
}

void SubwooferFlow::alignMeasure()
{
    if (alignment_.stage >= SubwooferAlignment::Done)
        return;
    if (measuring_.measuring()) {
        if (measuring_.autoMeasuring())
            return;
        if (!measuring_.levelReady()) {
            ui_.toast(levelsApartText);
            return;
        }
        // The calibration run becomes the capture: the audio keeps playing.
        run_ = Run::CapturingAlignment;
        measuring_.armRun();
    } else {
        run_ = Run::CapturingAlignment;
        if (!measuring_.startRun(true))
            run_ = Run::Idle;
    }
    emit subChanged();
}

void SubwooferFlow::captureAlignment()
{
    run_ = Run::Idle;
    const int target = alignment_.stage;
    double delayMs = 0.0;
    QList<float> freq, magnitude, coherence, phase;
    if (MeasureSession *session = core_.session()) {
        session->updateDelayEstimate();
        delayMs = session->estimatedDelayMs();
        session->stop();
        session->transferFunction(freq, magnitude, coherence, &phase);
    }
    core_.releaseSession();
    if (!alignment_.takeCapture(target, freq, magnitude, coherence, phase, delayMs)) {
        ui_.toast(QStringLiteral("这次没抓到完整的曲线和相位，再测一次"));
        emit subChanged();
        return;
    }
    if (target == SubwooferAlignment::SubCapture) {
        alignment_.align(crossover_.result);
        if (alignment_.aligned)
            saveAlignPack();
        else
            ui_.toast(QStringLiteral("这次对不齐，检查麦位和极性再测一次"));
        diagnostics::writeAlignment(crossover_.result, alignment_);
    }
    emit subChanged();
}

void SubwooferFlow::saveAlignPack()
{
    if (!alignment_.canSave(crossover_.result))
        return;
    const bool saved = alignment_.save(core_.store(), crossover_.result, crossover_.lift);
    // Also after a failure: the list then shows what the files hold.
    emit projectsChanged();
    emit curvePacksChanged();
    if (!saved)
        ui_.toast(QStringLiteral("这次对齐没存下来：曲线文件写不进文档文件夹"));
}

// ---- the run's capture ----------------------------------------------------------------------

bool SubwooferFlow::capturePending() const
{
    return run_ == Run::CapturingSubwoofer || run_ == Run::CapturingAlignment;
}

// The subwoofer's capture only counts while the two meters agree: its progress waits for them.
bool SubwooferFlow::holdsForLevel() const
{
    return run_ == Run::CapturingSubwoofer && stage_ == Stage::Measure;
}

void SubwooferFlow::takeCapture()
{
    if (run_ == Run::CapturingSubwoofer)
        captureSubwoofer();
    else
        captureAlignment();
}

void SubwooferFlow::dropCapture()
{
    run_ = Run::Idle;
}

// ---- demo -----------------------------------------------------------------------------------

void SubwooferFlow::resmoothCurves()
{
    for (SubwooferCurve *curve :
         {&crossover_.main, &crossover_.sub, &alignment_.main, &alignment_.sub})
        curve->resmooth();
}

void SubwooferFlow::loadDemo(int step)
{
    begin();
    crossover_.main = subwoofer::demoMainCurve();
    crossover_.sub = subwoofer::demoSubCurve();
    resmoothCurves();
    crossover_.measured = 2;
    recompute();
    subwoofer::addDemoBands(crossover_);
    const Stage stage = Stage(std::clamp(step, int(Stage::Guide), int(Stage::Align)));
    if (stage >= Stage::Align) {
        alignment_.stage = SubwooferAlignment::Done;
        alignment_.main = crossover_.main;
        alignment_.sub = crossover_.sub;
        alignment_.mainDelayMs = subwoofer::demoMainDelayMs;
        alignment_.subDelayMs = subwoofer::demoSubDelayMs;
        resmoothCurves();
        alignment_.align(crossover_.result);
        if (qEnvironmentVariableIsSet("SONETRA_ALIGN_DUMP"))
            diagnostics::writeAlignment(crossover_.result, alignment_);
    }
    stage_ = stage;
    emit subChanged();
    for (int shown = int(Stage::Measure); shown <= int(stage); ++shown)
        emit goRequested(stageScreen(Stage(shown)));
}
