// The measuring flows: a single loudspeaker measured as one run, or a line array measured at
// three or more points that are averaged; the 33 ms tick that polls the running measurement and
// watches the input levels; the captured points, their average, and the EQ computation.
#include "app/AppCore.h"
#include "app/ChartPoints.h"
#include "app/CurveFeeds.h"
#include "app/MeasureSession.h"
#include "app/QmlBridge.h"
#include "app/ScreenNames.h"

#include <QDateTime>

#include <algorithm>

using snt::eq::Measured;

namespace {

constexpr qsizetype leastArrayPoints = 3;
constexpr int displayBudget = 480;
constexpr double silentLevelDb = -100.0;
constexpr double shortestRunSeconds = 0.01;

const QString noCardText = QStringLiteral("没找到可用的声卡 / 话筒");
const QString alignMetersText = QStringLiteral("把「测量」和「参考」两个表头调到齐平");
const QString tooFewPointsText = QStringLiteral("至少测 3 个点再计算");
const QString noCurveText = QStringLiteral("还没有测量曲线");

} // namespace

bool QmlBridge::computing() const
{
    return core_->computing();
}

QString QmlBridge::computeLog() const
{
    return core_->computeLog();
}

double QmlBridge::computeProgress() const
{
    const int total = core_->progressTotal();
    return total > 0 ? std::clamp(double(core_->progressDone()) / total, 0.0, 1.0) : 0.0;
}

qint64 QmlBridge::now() const
{
    return QDateTime::currentMSecsSinceEpoch();
}

bool QmlBridge::hasMeasuredCurve() const
{
    return !core_->measuredFreq.isEmpty() && !core_->measuredMagnitude.isEmpty();
}

void QmlBridge::stopRun()
{
    const bool endsArrayRun = measuring_ && lineArray_;
    tickTimer_.stop();
    measuring_ = false;
    armed_ = false;
    core_->releaseSession();
    silenceMeters();
    if (endsArrayRun)
        endRunWithoutCapture();
}

// Live levels read silent while nothing measures: a meter never shows a run that has ended.
void QmlBridge::silenceMeters()
{
    resetLevels();
    emit measureTick();
}

// The tick keeps the core's measured curve on the live run. When a line-array run ends without
// a point taken, the curve goes back to what the points say, so a computation never starts from
// the unfinished run.
void QmlBridge::endRunWithoutCapture()
{
    if (points_.size() < leastArrayPoints) {
        core_->clearMeasuredCurve();
        return;
    }
    core_->measuredDelayMs = points_.last().delayMs;
    averageCurves();
}

void QmlBridge::forgetSavedPack()
{
    savedPackValid_ = false;
    savedPackName_.clear();
    savedPackScheme_ = -1;
}

void QmlBridge::clearResult()
{
    core_->schemes.clear();
    core_->selectedBands.clear();
    core_->selectedScheme = 0;
    savedSchemes_.clear();
    resultSnapshot_ = Measured();
    bandEditMarker_ = 0;
    forgetSavedPack();
}

void QmlBridge::clearPoints()
{
    points_.clear();
    lineArrayAverage_.clear();
}

void QmlBridge::resetLevels()
{
    measureLevel_ = silentLevelDb;
    referenceLevel_ = silentLevelDb;
    measurePeak_ = silentLevelDb;
    referencePeak_ = silentLevelDb;
}

void QmlBridge::resetRunState()
{
    measureProgress_ = 0.0;
    subWaitingForLevel_ = false;
    levelWindow_.reset();
}

void QmlBridge::startMeasure()
{
    startMeasurementRun(false);
}

void QmlBridge::startMeasurementRun(bool armed)
{
    if (measuring_)
        return;
    core_->releaseSession();
    core_->clearMeasuredCurve();
    clearResult();
    if (!lineArray_) {
        clearPoints();
        emit measurePointsChanged();
    }
    resetRunState();
    resetLevels();
    MeasureSession *session = core_->ensureSession();
    if (!session) {
        toast(noCardText);
        return;
    }
    session->setGeneratorGain(core_->generatorGain);
    session->resume();
    if (session->failed()) { // said by onSessionFailed
        core_->releaseSession();
        return;
    }
    armed_ = armed;
    runStart_ = now();
    measuring_ = true;
    tickTimer_.start();
    emit measuringChanged();
    emit curveChanged();
    emit measureTick();
}

void QmlBridge::onMeasureTick()
{
    MeasureSession *session = core_->session();
    if (!measuring_ || !session)
        return;
    measureLevel_ = session->level();
    uncalibratedSpl_ = session->splLevel();
    referenceLevel_ = session->referenceLevel();
    measurePeak_ = session->peak();
    referencePeak_ = session->referencePeak();
    core_->measuredDelayMs = session->estimatedDelayMs();
    Measured live;
    session->transferFunction(live.freq, live.magnitude, live.coherence, &live.phase);
    if (!live.freq.isEmpty() && !live.magnitude.isEmpty()) {
        takeLiveCurve(live);
        emit curveChanged();
    }

    const bool subLevelStep = subCaptureMarker_ == 1 && subStep_ == 1 && !subCalibrating_;
    const bool freeLevelCheck = !armed_ && fillCaptureMarker_ < 0 && subCaptureMarker_ < 0
                                && subAlignCaptureMarker_ < 0;
    if (subLevelStep || freeLevelCheck) {
        const bool signal = levelWindow_.add(measurePeak_, referencePeak_);
        subWaitingForLevel_ = !levelWindow_.ready();
        if (!signal || (subLevelStep && !levelWindow_.ready())) {
            holdProgress();
            emit measureTick();
            return;
        }
    } else {
        subWaitingForLevel_ = false;
    }
    updateProgress();
    emit measureTick();
    if (armed_ && measureProgress_ >= 1.0)
        captureMeasurement();
}

// A run on a card that failed (did not open, delivers or takes nothing) ends at once without a
// point: silence must never become a measured curve. The curve goes back to the points taken.
void QmlBridge::onSessionFailed(const QString &message)
{
    toast(message);
    const MeasureSession *session = core_->session();
    if (!measuring_ || !session || !session->failed())
        return;
    stopRun();
    if (!lineArray_) {
        if (points_.isEmpty())
            core_->clearMeasuredCurve();
        else
            averageCurves();
    }
    resetRunState();
    emit measuringChanged();
    emit measureTick();
    emit curveChanged();
}

// The measurement publishes every 80 ms, the tick polls every 33 ms: a list that did not change
// since the last tick is kept as it is, so the chart feeds made from it are not made again.
void QmlBridge::takeLiveCurve(const Measured &live)
{
    const auto take = [](QList<float> &kept, const QList<float> &fresh) {
        // Two empty lists are not compared: Qt would compare their null data.
        if (kept.size() != fresh.size() || (!kept.isEmpty() && kept != fresh))
            kept = fresh;
    };
    take(core_->measuredFreq, live.freq);
    take(core_->measuredMagnitude, live.magnitude);
    take(core_->measuredCoherence, live.coherence);
    take(core_->measuredPhase, live.phase);
}

void QmlBridge::updateProgress()
{
    const double seconds = core_->measureSeconds;
    measureProgress_ = seconds <= shortestRunSeconds
                               ? 0.0
                               : std::clamp(double(now() - runStart_) / 1000.0 / seconds, 0.0, 1.0);
}

// While the level window waits, the run's start moves with the clock, so the progress neither
// grows nor drops.
void QmlBridge::holdProgress()
{
    runStart_ = now() - qint64(measureProgress_ * core_->measureSeconds * 1000.0);
}

void QmlBridge::stopMeasure()
{
    captureMeasurement();
}

void QmlBridge::captureMeasurement()
{
    if (!measuring_)
        return;
    tickTimer_.stop();
    measuring_ = false;
    const bool wasArmed = armed_;
    armed_ = false;
    resetLevels();
    // A run a tuning workflow started ends in that workflow's own capture.
    if (subCaptureMarker_ >= 0 || fillCaptureMarker_ >= 0 || subAlignCaptureMarker_ >= 0) {
        if (subCaptureMarker_ >= 0)
            captureSubMeasure();
        else if (fillCaptureMarker_ >= 0)
            captureFillAlign();
        else
            captureSubAlign();
        emit measuringChanged();
        emit measureTick();
        return;
    }
    takePoint();
    emit measurePointsChanged();
    emit measuringChanged();
    emit curveChanged();
    emit measureTick();
    if (wasArmed && !lineArray_ && hasMeasuredCurve())
        go(screens::computing);
}

// The run's final transfer function becomes a measuring point; a point on another frequency
// grid than the first cannot be averaged with it and is refused.
void QmlBridge::takePoint()
{
    Measured point;
    if (MeasureSession *session = core_->session()) {
        session->updateDelayEstimate();
        point.delayMs = session->estimatedDelayMs();
        session->stop();
        session->transferFunction(point.freq, point.magnitude, point.coherence, &point.phase);
    }
    const bool captured = !point.freq.isEmpty() && !point.magnitude.isEmpty();
    if (captured)
        core_->measuredDelayMs = point.delayMs;
    core_->releaseSession();
    if (!captured) {
        if (lineArray_)
            endRunWithoutCapture();
        return;
    }
    if (!points_.isEmpty() && points_.first().freq.size() != point.freq.size()) {
        toast(QStringLiteral("这次采到的频点数和前面不一致，请重测这一点"));
        if (lineArray_)
            endRunWithoutCapture();
        return;
    }
    points_.append(point);
    if (!lineArray_ || points_.size() >= leastArrayPoints)
        averageCurves();
}

void QmlBridge::averageCurves()
{
    if (points_.isEmpty())
        return;
    const Measured average
            = averagePoints(points_, lineArray_ ? Flow::LineArray : Flow::PointSource);
    core_->measuredFreq = average.freq;
    core_->measuredMagnitude = average.magnitude;
    core_->measuredCoherence = average.coherence;
    core_->measuredPhase = average.phase;
    lineArrayAverage_.clear();
    if (lineArray_) {
        const snt::eq::DisplayCurve display = displayCurve(average.freq, average.magnitude, {},
                                                           LevelScale::Absolute, Flow::LineArray);
        lineArrayAverage_ = flatPairs(display.freq, display.before, displayBudget);
    }
}

void QmlBridge::armRun()
{
    armed_ = true;
    measureProgress_ = 0.0;
    runStart_ = now();
    emit measuringChanged();
    emit measureTick();
}

void QmlBridge::measurePrimaryAction()
{
    if (computing())
        return;
    if (measuring_) {
        if (armed_)
            return;
        if (levelWindow_.ready())
            armRun();
        else
            toast(QStringLiteral("先把「测量」和「参考」两个表头调到 −3～+6 dB 之间"));
        return;
    }
    discardMeasurement();
    startMeasurementRun(false);
    if (measuring_)
        toast(alignMetersText);
}

void QmlBridge::levelCalibrate()
{
    if (measuring_) {
        captureMeasurement();
        return;
    }
    startMeasurementRun(false);
    if (measuring_)
        toast(alignMetersText);
}

void QmlBridge::arrayPrimaryAction()
{
    if (computing() || !lineArray_)
        return;
    if (!measuring_)
        startMeasurementRun(!points_.isEmpty());
    else if (!armed_)
        armRun();
}

void QmlBridge::arrayStop()
{
    if (!lineArray_)
        return;
    if (measuring_)
        stopRun();
    resetRunState();
    emit measuringChanged();
    emit measureTick();
    emit curveChanged();
}

void QmlBridge::discardMeasurement()
{
    if (measuring_)
        stopRun();
    fillCaptureMarker_ = -1;
    subCaptureMarker_ = -1;
    subAlignCaptureMarker_ = -1;
    subCalibrating_ = false;
    resetRunState();
    clearPoints();
    core_->clearMeasuredCurve();
    clearResult();
    emit measurePointsChanged();
    emit measuringChanged();
    emit measureTick();
    emit curveChanged();
    emit schemesChanged();
}

void QmlBridge::stopAnyAction()
{
    if (computing()) {
        cancelRequested_ = true;
        toast(QStringLiteral("这次计算已取消"));
    }
    discardMeasurement();
}

void QmlBridge::clearFlow(bool lineArray)
{
    lineArray_ = lineArray;
    if (measuring_)
        stopRun();
    clearPoints();
    resetLevels();
    fillCaptureMarker_ = -1;
    measureProgress_ = 0.0;
    core_->clearMeasuredCurve();
    core_->schemes.clear();
    core_->selectedScheme = 0;
    core_->measuredSource.clear();
    core_->verifyRun = false;
    forgetSavedPack();
    emit measurePointsChanged();
    emit measuringChanged();
    emit measureTick();
    emit curveChanged();
    emit schemesChanged();
}

void QmlBridge::beginMeasurement()
{
    clearFlow(false);
    go(screens::pointMeasuring);
}

void QmlBridge::beginArrayMeasurement()
{
    clearFlow(true);
    go(screens::arrayMeasuring);
}

void QmlBridge::startMeasureFlow()
{
    if (measureGuideHidden_)
        beginMeasurement();
    else
        go(screens::guide);
}

void QmlBridge::nextMeasurement()
{
    if (lineArray_) {
        beginArrayMeasurement();
        return;
    }
    clearPoints();
    core_->clearMeasuredCurve();
    clearResult();
    measureProgress_ = 0.0;
    resetLevels();
    emit measurePointsChanged();
    emit measureTick();
    emit curveChanged();
    emit schemesChanged();
    go(screens::pointMeasuring);
}

void QmlBridge::computeNow()
{
    if (lineArray_ && points_.size() < leastArrayPoints)
        toast(tooFewPointsText);
    else if (hasMeasuredCurve())
        go(screens::computing);
    else
        toast(noCurveText);
}

void QmlBridge::startCompute()
{
    if (computing())
        return;
    if (lineArray_ && !points_.isEmpty() && points_.size() < leastArrayPoints) {
        toast(tooFewPointsText);
        return;
    }
    if (!hasMeasuredCurve()) {
        toast(noCurveText);
        return;
    }
    forgetSavedPack();
    resultSnapshot_ = Measured();
    resultSnapshot_.freq = core_->measuredFreq;
    resultSnapshot_.magnitude = core_->measuredMagnitude;
    resultSnapshot_.coherence = core_->measuredCoherence;
    resultSnapshot_.phase = core_->measuredPhase;
    resultSnapshot_.delayMs
            = core_->importedDelayMs > 0.0 ? core_->importedDelayMs : core_->measuredDelayMs;
    savedSchemes_.clear();
    core_->startEqCompute();
    emit computeProgressChanged();
    emit computingChanged();
}

void QmlBridge::onComputeFinished()
{
    const bool cancelled = cancelRequested_;
    cancelRequested_ = false;
    if (cancelled) {
        core_->schemes.clear();
        core_->selectedScheme = 0;
        savedSchemes_.clear();
    } else {
        forgetSavedPack();
        savedSchemes_ = core_->schemes;
        prepareSelectedTarget();
        rebuildPackCurves();
    }
    emit computeProgressChanged();
    emit computingChanged();
    emit schemesChanged();
    emit curveChanged();
    if (cancelled)
        go(lineArray_ ? screens::arrayMeasuring : screens::pointMeasuring);
    else
        go(screens::use);
}

QVariantMap QmlBridge::coherenceQuality() const
{
    if (!hasMeasuredCurve())
        return {};
    const snt::eq::DisplayCurve display
            = displayCurve(core_->measuredFreq, core_->measuredMagnitude, core_->measuredCoherence,
                           LevelScale::Relative, lineArray_ ? Flow::LineArray : Flow::PointSource);
    int n = 0;
    int low = 0;
    double sum = 0.0;
    const qsizetype bins = std::min(display.freq.size(), display.coherence.size());
    for (qsizetype i = 0; i < bins; ++i) {
        const float f = display.freq[i];
        const float c = display.coherence[i];
        if (f < 100.0f || f > 16000.0f || !(c > 0.0f))
            continue;
        ++n;
        sum += c;
        low += c < 0.5f;
    }
    return {{QStringLiteral("n"), n},
            {QStringLiteral("mean"), n > 0 ? sum / n : 0.0},
            {QStringLiteral("low"), n > 0 ? double(low) / n : 0.0}};
}
