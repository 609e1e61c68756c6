// The subwoofer crossover on the bridge: its four stages (guide, measuring, result, time
// alignment), the main reference from a saved pack, the level-gated subwoofer capture, the
// design and its edits, the alignment captures with their pack, the diagnostics files and the
// demo that fills the whole flow without audio.
#include "app/AlignmentDiagnostics.h"
#include "app/AppCore.h"
#include "app/ChartPoints.h"
#include "app/EqPreset.h"
#include "app/MeasureSession.h"
#include "app/PackCurves.h"
#include "app/QmlBridge.h"
#include "app/ScreenNames.h"
#include "app/SubwooferDemo.h"
#include "app/SubwooferViews.h"
#include "app/store/CaptureFiles.h"
#include "eq/DisplayCurve.h"

#include <utility>

namespace {

constexpr int chartBudget = 480;
constexpr qsizetype leastMainPoints = 8;
constexpr int mainSmoothing = 6;

const QString unreadablePackText = QStringLiteral("这条曲线读不出来，换一条");
const QString levelsApartText = QStringLiteral("先把「测量」和「参考」两个表头调到 −3～+6 dB 之间");

enum Stage { GuideStage = 0, MeasureStage = 1, ResultStage = 2, AlignStage = 3 };

const QString &stageScreen(int stage)
{
    return screens::subwooferStages[stage];
}

// A curve with a value per frequency as the charts take it.
QVariantList chartCurve(const QList<float> &freq, const QList<float> &values)
{
    if (freq.size() < 2 || values.size() != freq.size())
        return {};
    return plotPoints(freq, values, chartBudget);
}

} // namespace

// ---- properties -----------------------------------------------------------------------------

int QmlBridge::subLift() const
{
    return subXover_.lift;
}

int QmlBridge::subMeasured() const
{
    return subXover_.measured;
}

QVariantMap QmlBridge::subInfo() const
{
    return subwoofer::info(subXover_);
}

QVariantList QmlBridge::subBefore() const
{
    return subwoofer::beforeCurve(subXover_);
}

QVariantList QmlBridge::subRaw() const
{
    return subwoofer::rawCurve(subXover_);
}

QVariantList QmlBridge::subCalc() const
{
    return subwoofer::processedCurve(subXover_);
}

QVariantList QmlBridge::subAfter() const
{
    return subwoofer::summedCurve(subXover_);
}

QVariantList QmlBridge::subTarget() const
{
    return subwoofer::targetCurve(subXover_);
}

QVariantList QmlBridge::subEqBands() const
{
    return subwoofer::eqBands(subXover_);
}

QVariantList QmlBridge::subMainCurve() const
{
    if (subXover_.mainPackIndex < 0 || subXover_.main.freq.size() < 2)
        return {};
    return plotPoints(subXover_.main.freq, subXover_.main.db, chartBudget);
}

QVariantList QmlBridge::subMainCoherence() const
{
    return chartCurve(subXover_.main.freq, subXover_.main.coherence);
}

QVariantList QmlBridge::subSubCoherence() const
{
    return chartCurve(subXover_.sub.freq, subXover_.sub.coherence);
}

int QmlBridge::subAlignStage() const
{
    return subAlign_.stage;
}

bool QmlBridge::subAlignAligned() const
{
    return subAlign_.aligned;
}

double QmlBridge::subAlignDelayMs() const
{
    return subAlign_.delayMs;
}

bool QmlBridge::subAlignInvert() const
{
    return subAlign_.invert;
}

double QmlBridge::subAlignMainDelayMs() const
{
    return subAlign_.mainDelayMs;
}

QVariantList QmlBridge::subAlignMainCurve() const
{
    return chartCurve(subAlign_.main.freq, subAlign_.main.db);
}

QVariantList QmlBridge::subAlignMainCoherence() const
{
    return chartCurve(subAlign_.main.freq, subAlign_.main.coherence);
}

QVariantList QmlBridge::subAlignSubCurve() const
{
    return chartCurve(subAlign_.sub.freq, subAlign_.sub.db);
}

QVariantList QmlBridge::subAlignSubCoherence() const
{
    return chartCurve(subAlign_.sub.freq, subAlign_.sub.coherence);
}

QVariantList QmlBridge::subAlignCoupled() const
{
    const math::Curve coupled = subAlign_.coupledCurve(subXover_.result);
    return coupled.freq.isEmpty() ? QVariantList()
                                  : plotPoints(coupled.freq, coupled.values, chartBudget);
}

// ---- stages ---------------------------------------------------------------------------------

void QmlBridge::beginSubXover()
{
    if (std::exchange(subPickingMain_, false))
        emit subPickingMainChanged();
    if (measuring_) {
        stopRun();
        emit measuringChanged();
        emit measureTick();
    }
    core_->clearMeasuredCurve();
    subCalibrating_ = false;
    subWaitingForLevel_ = false;
    levelWindow_.reset();
    subCaptureMarker_ = -1;
    resetSubAlignment();
    measureProgress_ = 0.0;
    resetLevels();
    emit measureTick();
    emit curveChanged();
    subXover_.reset();
    subAlign_.lastPackName.clear();
    subStep_ = subGuideHidden_ ? MeasureStage : GuideStage;
    emit subChanged();
    go(stageScreen(subStep_));
}

void QmlBridge::subRestart()
{
    beginSubXover();
}

void QmlBridge::showSubStage(int stage)
{
    stopFlowRun();
    subStep_ = stage;
    emit subChanged();
    go(stageScreen(stage));
}

void QmlBridge::subShowGuide()
{
    showSubStage(GuideStage);
}

void QmlBridge::subGuideDone()
{
    showSubStage(MeasureStage);
}

// ---- main reference -------------------------------------------------------------------------

void QmlBridge::subPickMain()
{
    subPickingMain_ = true;
    flushPendingPackSave();
    core_->listProjects();
    core_->loadCurvePacks();
    emit projectsChanged();
    emit curvePacksChanged();
    setProcessorPanelOpen(false);
    setCurveWindowOpen(true);
    emit subPickingMainChanged();
}

void QmlBridge::subTrySetMainFromPack(int index)
{
    if (!subPickingMain_ || index < 0 || index >= core_->curvePacks.size())
        return;
    const CurvePack &pack = core_->curvePacks[index];
    if (!pack.subAlign.isEmpty() || pack.use.contains(QStringLiteral("超低"))) {
        toast(QStringLiteral("请先处理主扩，并选择其作为主扩参考曲线进行超低分频"));
        return;
    }
    if (!subLoadMainPack(index))
        return;
    subPickingMain_ = false;
    toast(QStringLiteral("已将「%1 · %2」设为主扩参考")
                  .arg(subXover_.mainProject.isEmpty() ? QStringLiteral("未归属")
                                                       : subXover_.mainProject,
                       subXover_.mainName));
    emit subPickingMainChanged();
    emit subChanged();
}

bool QmlBridge::subLoadMainPack(int index)
{
    if (index < 0 || index >= core_->curvePacks.size()) {
        toast(QStringLiteral("这条曲线不在了，重新选一条"));
        return false;
    }
    CurvePack &pack = core_->curvePacks[index];
    readRawFile(pack);
    if (pack.freq.size() < leastMainPoints || pack.level.size() != pack.freq.size()) {
        toast(unreadablePackText);
        return false;
    }
    const snt::eq::DisplayCurve unsmoothed = snt::eq::prepareDisplayCurve(packCurveRecord(pack, 0));
    if (!unsmoothed.valid) {
        toast(unreadablePackText);
        return false;
    }
    subXover_.setMainReference(unsmoothed,
                               snt::eq::prepareDisplayCurve(packCurveRecord(pack, mainSmoothing)));
    subXover_.mainPackIndex = index;
    subXover_.mainName = pack.name;
    subXover_.mainProject = pack.project;
    recomputeSubXover();
    emit subChanged();
    toast(QStringLiteral("已加载 %1（处理后）").arg(pack.name));
    return true;
}

QVariantList QmlBridge::subMainPacks() const
{
    const QList<CurvePack> &packs = core_->curvePacks;
    const QString current = core_->projectName;
    QVariantList candidates;
    const auto pass = [&](auto belongs, bool labelWithProject) {
        for (qsizetype i = 0; i < packs.size(); ++i) {
            if (!belongs(packs[i]))
                continue;
            QVariantMap entry = curvePackSummary(packs[i], int(i));
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

// ---- subwoofer measurement and design -------------------------------------------------------

void QmlBridge::subLevelCalibrate()
{
    if (subCalibrating_) {
        stopFlowRun();
        emit subChanged();
        return;
    }
    if (measuring_) {
        stopRun();
        emit measuringChanged();
    }
    startMeasurementRun(false);
    subCalibrating_ = measuring_;
    emit subChanged();
}

void QmlBridge::subMeasure()
{
    if (subXover_.main.isEmpty()) {
        toast(QStringLiteral("先选主扩曲线，再测超低"));
        emit subChanged();
        return;
    }
    subXover_.startSubMeasurement();
    subCalibrating_ = false;
    if (measuring_ && !armed_) {
        // The calibration run becomes the capture: the audio keeps playing.
        subCaptureMarker_ = 1;
        armRun();
        emit subChanged();
        return;
    }
    if (measuring_)
        stopRun();
    subCaptureMarker_ = 1;
    startMeasurementRun(true);
    if (measuring_)
        subWaitingForLevel_ = true;
    else
        subCaptureMarker_ = -1;
    emit subChanged();
}

void QmlBridge::captureSubMeasure()
{
    subCaptureMarker_ = -1;
    QList<float> freq, magnitude, coherence, phase;
    if (MeasureSession *session = core_->session()) {
        session->stop();
        session->transferFunction(freq, magnitude, coherence, &phase);
    }
    core_->releaseSession();
    if (!subXover_.takeSubCapture(freq, magnitude, coherence, phase)) {
        toast(QStringLiteral("这次没抓到曲线，再测一次"));
        emit subChanged();
        return;
    }
    recomputeSubXover();
    if (subXover_.hasDesign())
        showDesign();
    else
        emit subChanged();
}

void QmlBridge::recomputeSubXover()
{
    if (!subXover_.canDesign())
        return;
    subXover_.design(subStep_ >= ResultStage);
    if (!subXover_.hasDesign() && !subXover_.result.why.isEmpty())
        toast(subXover_.result.why);
    diagnostics::writeCrossover(subXover_);
    emit subChanged();
}

void QmlBridge::showDesign()
{
    subStep_ = ResultStage;
    emit subChanged();
    go(stageScreen(ResultStage));
}

void QmlBridge::subCompute()
{
    recomputeSubXover();
    if (subXover_.hasDesign())
        showDesign();
}

void QmlBridge::subSetLift(int lift)
{
    if (subXover_.setLift(lift))
        recomputeSubXover();
    emit subChanged();
}

void QmlBridge::subStop()
{
    if (computing()) {
        cancelRequested_ = true;
        toast(QStringLiteral("这次计算已取消"));
    }
    stopFlowRun();
    emit subChanged();
}

// ---- edits of the design --------------------------------------------------------------------

void QmlBridge::subAddEqBand()
{
    const QString refusal = subXover_.addEqBand();
    if (refusal.isEmpty())
        emit subChanged();
    else
        toast(refusal);
}

void QmlBridge::subSetEqEnabled(int index, bool enabled)
{
    if (subXover_.setEqEnabled(index, enabled))
        emit subChanged();
}

void QmlBridge::subUpdateEq(int index, double freq, double q, double gainDb)
{
    if (subXover_.updateEq(index, freq, q, gainDb))
        emit subChanged();
}

void QmlBridge::subUpdateCorner(const QString &side, double hz, int slopeDb)
{
    if (subXover_.updateCorner(side, hz, slopeDb))
        emit subChanged();
}

void QmlBridge::subUpdateCornerType(const QString &side, const QString &kind)
{
    if (subXover_.updateCornerType(side, kind))
        emit subChanged();
}

// ---- delivery of the design -----------------------------------------------------------------

// The EQ preset of the delivery with the subwoofer's gain and polarity; its delay stays 0, the
// engineer enters it on the processor.
QJsonObject QmlBridge::subPresetJson() const
{
    return eqpreset::presetJson(subXover_.deliveredBands(), subXover_.deliveredHighPass(),
                                subXover_.deliveredLowPass(), subXover_.result.subGainDb,
                                subXover_.result.alignInvert);
}

void QmlBridge::copySubParams()
{
    if (!subXover_.hasDesign())
        toast(QStringLiteral("还没有分频结果"));
    else
        copyPreset(subPresetJson());
}

bool QmlBridge::exportSubPack()
{
    if (!subXover_.hasDesign()) {
        toast(QStringLiteral("还没有可分频导出的结果"));
        return false;
    }
    if (!eqpreset::writePresetFile(eqpreset::desktopFolder(), QStringLiteral("超低分频"),
                                   subPresetJson())) {
        toast(QStringLiteral("导出没成功"));
        return false;
    }
    toast(QStringLiteral("超低分频参数已导出到桌面"));
    return true;
}

// ---- time alignment -------------------------------------------------------------------------

void QmlBridge::resetSubAlignment()
{
    subAlign_.reset();
    subAlignCaptureMarker_ = -1;
    subWaitingForLevel_ = false;
    subXover_.result.aligned = false;
    subXover_.result.alignDelayMs = 0.0;
    subXover_.result.alignInvert = false;
}

void QmlBridge::subGotoAlign()
{
    stopFlowRun();
    subStep_ = AlignStage;
    resetSubAlignment();
    emit subChanged();
    go(stageScreen(AlignStage));
}

void QmlBridge::subAlignRestart()
{
    stopFlowRun();
    resetSubAlignment();
    emit subChanged();
}

void QmlBridge::subAlignMeasure()
{
    if (subAlign_.stage >= SubwooferAlignment::Done)
        return;
    if (measuring_) {
        if (armed_)
            return;
        if (!levelWindow_.ready()) {
            toast(levelsApartText);
            return;
        }
        // The calibration run becomes the capture: the audio keeps playing.
        subAlignCaptureMarker_ = subAlign_.stage;
        subCalibrating_ = false;
        armRun();
    } else {
        subAlignCaptureMarker_ = subAlign_.stage;
        startMeasurementRun(true);
        if (!measuring_)
            subAlignCaptureMarker_ = -1;
    }
    emit subChanged();
}

void QmlBridge::captureSubAlign()
{
    const int target = std::exchange(subAlignCaptureMarker_, -1);
    double delayMs = 0.0;
    QList<float> freq, magnitude, coherence, phase;
    if (MeasureSession *session = core_->session()) {
        session->updateDelayEstimate();
        delayMs = session->estimatedDelayMs();
        session->stop();
        session->transferFunction(freq, magnitude, coherence, &phase);
    }
    core_->releaseSession();
    if (!subAlign_.takeCapture(target, freq, magnitude, coherence, phase, delayMs)) {
        toast(QStringLiteral("这次没抓到完整的曲线和相位，再测一次"));
        emit subChanged();
        return;
    }
    if (target == SubwooferAlignment::SubCapture) {
        subAlign_.align(subXover_.result);
        if (subAlign_.aligned)
            saveSubAlignPack();
        else
            toast(QStringLiteral("这次对不齐，检查麦位和极性再测一次"));
        diagnostics::writeAlignment(subXover_.result, subAlign_);
    }
    emit subChanged();
}

void QmlBridge::saveSubAlignPack()
{
    if (!subAlign_.canSave(subXover_.result))
        return;
    if (!subAlign_.save(*core_, subXover_.result, subXover_.lift)) {
        toast(QStringLiteral("这次对齐没存下来：曲线文件写不进文档文件夹"));
        return;
    }
    emit projectsChanged();
    emit curvePacksChanged();
}

// ---- demo -----------------------------------------------------------------------------------

void QmlBridge::loadSubXoverDemo(int step)
{
    beginSubXover();
    subXover_.main = subwoofer::demoMainCurve();
    subXover_.sub = subwoofer::demoSubCurve();
    resmoothLiveCurves();
    subXover_.measured = 2;
    recomputeSubXover();
    subwoofer::addDemoBands(subXover_);
    const int stage = std::clamp(step, int(GuideStage), int(AlignStage));
    if (stage >= AlignStage) {
        subAlign_.stage = SubwooferAlignment::Done;
        subAlign_.main = subXover_.main;
        subAlign_.sub = subXover_.sub;
        subAlign_.mainDelayMs = subwoofer::demoMainDelayMs;
        subAlign_.subDelayMs = subwoofer::demoSubDelayMs;
        resmoothLiveCurves();
        subAlign_.align(subXover_.result);
        if (qEnvironmentVariableIsSet("SONETRA_ALIGN_DUMP"))
            diagnostics::writeAlignment(subXover_.result, subAlign_);
    }
    subStep_ = stage;
    emit subChanged();
    for (int shown = MeasureStage; shown <= stage; ++shown)
        go(stageScreen(shown));
}
