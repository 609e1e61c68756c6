#include "app/MeasuringFlow.h"

#include "app/AppCore.h"
#include "app/CaptureOwner.h"
#include "app/ChartPoints.h"
#include "app/MeasureSession.h"
#include "app/ScreenNames.h"
#include "app/UiState.h"

#include <QDateTime>

#include <algorithm>

using snt::eq::Measured;

namespace {

constexpr int tickMs = 33;
constexpr qsizetype leastArrayPoints = 3;
constexpr int displayBudget = 480;
constexpr double silentLevelDb = -100.0;
constexpr double shortestRunSeconds = 0.01;

const QString noCardText = QStringLiteral("没找到可用的声卡 / 话筒");
const QString alignMetersText = QStringLiteral("把「测量」和「参考」两个表头调到齐平");
const QString tooFewPointsText = QStringLiteral("至少测 3 个点再计算");
const QString noCurveText = QStringLiteral("还没有测量曲线");

qint64 now()
{
    return QDateTime::currentMSecsSinceEpoch();
}

} // namespace

MeasuringFlow::MeasuringFlow(AppCore &core, UiState &ui, QObject *parent)
    : QObject(parent)
    , core_(core)
    , ui_(ui)
{
    tickTimer_.setInterval(tickMs);
    connect(&tickTimer_, &QTimer::timeout, this, &MeasuringFlow::onMeasureTick);
}

void MeasuringFlow::addCaptureOwner(CaptureOwner *owner)
{
    owners_.append(owner);
}

void MeasuringFlow::setLineArray(bool lineArray)
{
    lineArray_ = lineArray;
    core_.setLineArray(lineArray);
}

void MeasuringFlow::setMeasureSeconds(double seconds)
{
    core_.setMeasureSeconds(std::clamp(seconds, 2.0, 60.0));
}

void MeasuringFlow::setGeneratorGain(double db)
{
    core_.setGeneratorGain(std::clamp(db, -60.0, 12.0));
}

bool MeasuringFlow::hasMeasuredCurve() const
{
    return core_.measured().hasCurve();
}

CaptureOwner *MeasuringFlow::pendingOwner() const
{
    const auto owner = std::find_if(owners_.cbegin(), owners_.cend(),
                                    [](const CaptureOwner *o) { return o->capturePending(); });
    return owner == owners_.cend() ? nullptr : *owner;
}

// ---- the run --------------------------------------------------------------------------------

bool MeasuringFlow::startRun(bool armed)
{
    if (measuring())
        return true;
    core_.releaseSession();
    core_.clearMeasuredCurve();
    core_.clearResult();
    if (!lineArray_) {
        clearPoints();
        emit measurePointsChanged();
    }
    resetRunState();
    resetLevels();
    MeasureSession *session = core_.ensureSession();
    if (!session) {
        ui_.toast(noCardText);
        return false;
    }
    session->setGeneratorGain(core_.generatorGain());
    session->resume();
    if (session->failed()) { // said by onSessionFailed
        core_.releaseSession();
        return false;
    }
    run_ = armed ? Run::Capturing : Run::Checking;
    runStart_ = now();
    tickTimer_.start();
    emit measuringChanged();
    emit curveChanged();
    emit measureTick();
    return true;
}

void MeasuringFlow::armRun()
{
    run_ = Run::Capturing;
    measureProgress_ = 0.0;
    runStart_ = now();
    emit measuringChanged();
    emit measureTick();
}

void MeasuringFlow::stopRun()
{
    const bool endsArrayRun = measuring() && lineArray_;
    tickTimer_.stop();
    run_ = Run::Idle;
    core_.releaseSession();
    silenceMeters();
    if (endsArrayRun)
        endRunWithoutCapture();
}

void MeasuringFlow::endRun()
{
    stopRun();
    emit measuringChanged();
}

void MeasuringFlow::abandonRun()
{
    if (!measuring())
        return;
    stopRun();
    for (CaptureOwner *owner : std::as_const(owners_))
        owner->dropCapture();
    waitingForLevel_ = false;
    emit measuringChanged();
    emit measureTick();
}

// Live levels read silent while nothing measures: a meter never shows a run that has ended.
void MeasuringFlow::silenceMeters()
{
    resetLevels();
    emit measureTick();
}

void MeasuringFlow::resetLevels()
{
    measureLevel_ = silentLevelDb;
    referenceLevel_ = silentLevelDb;
    measurePeak_ = silentLevelDb;
    referencePeak_ = silentLevelDb;
}

void MeasuringFlow::resetRunState()
{
    measureProgress_ = 0.0;
    waitingForLevel_ = false;
    levelWindow_.reset();
}

void MeasuringFlow::resetLevelWindow()
{
    levelWindow_.reset();
}

void MeasuringFlow::setWaitingForLevel(bool waiting)
{
    waitingForLevel_ = waiting;
}

void MeasuringFlow::takePeaks(const MeasureSession &session)
{
    measurePeak_ = session.peak();
    referencePeak_ = session.referencePeak();
}

// The tick keeps the core's measured curve on the live run. When a line-array run ends without
// a point taken, the curve goes back to what the points say, so a computation never starts from
// the unfinished run.
void MeasuringFlow::endRunWithoutCapture()
{
    if (points_.size() < leastArrayPoints) {
        core_.clearMeasuredCurve();
        return;
    }
    core_.setMeasuredDelayMs(points_.last().delayMs);
    averageCurves();
}

void MeasuringFlow::clearPoints()
{
    points_.clear();
    lineArrayAverage_.clear();
}

// ---- the tick -------------------------------------------------------------------------------

void MeasuringFlow::onMeasureTick()
{
    MeasureSession *session = core_.session();
    if (!measuring() || !session)
        return;
    measureLevel_ = session->level();
    uncalibratedSpl_ = session->splLevel();
    referenceLevel_ = session->referenceLevel();
    measurePeak_ = session->peak();
    referencePeak_ = session->referencePeak();
    const double delayMs = session->estimatedDelayMs();
    Measured live;
    session->transferFunction(live.freq, live.magnitude, live.coherence, &live.phase);
    takeLiveCurve(live, delayMs);
    if (!live.freq.isEmpty() && !live.magnitude.isEmpty())
        emit curveChanged();

    const bool levelStep = std::any_of(owners_.cbegin(), owners_.cend(),
                                       [](const CaptureOwner *o) { return o->holdsForLevel(); });
    const bool freeLevelCheck = run_ == Run::Checking && !pendingOwner();
    if (levelStep || freeLevelCheck) {
        const bool signal = levelWindow_.add(measurePeak_, referencePeak_);
        waitingForLevel_ = !levelWindow_.ready();
        if (!signal || (levelStep && !levelWindow_.ready())) {
            holdProgress();
            emit measureTick();
            return;
        }
    } else {
        waitingForLevel_ = false;
    }
    updateProgress();
    emit measureTick();
    if (autoMeasuring() && measureProgress_ >= 1.0)
        captureMeasurement();
}

// The measurement publishes every 80 ms, the tick polls every 33 ms: a list that did not change
// since the last tick is kept as it is, so the chart feeds made from it are not made again.
void MeasuringFlow::takeLiveCurve(const Measured &live, double delayMs)
{
    const auto take = [](QList<float> &kept, const QList<float> &fresh) {
        // Two empty lists are not compared: Qt would compare their null data.
        if (kept.size() != fresh.size() || (!kept.isEmpty() && kept != fresh))
            kept = fresh;
    };
    MeasuredCurve curve = core_.measured();
    curve.delayMs = delayMs;
    if (!live.freq.isEmpty() && !live.magnitude.isEmpty()) {
        take(curve.freq, live.freq);
        take(curve.magnitude, live.magnitude);
        take(curve.coherence, live.coherence);
        take(curve.phase, live.phase);
    }
    core_.setMeasured(std::move(curve));
}

void MeasuringFlow::updateProgress()
{
    const double seconds = core_.measureSeconds();
    measureProgress_ = seconds <= shortestRunSeconds
                               ? 0.0
                               : std::clamp(double(now() - runStart_) / 1000.0 / seconds, 0.0, 1.0);
}

// While the level window waits, the run's start moves with the clock, so the progress neither
// grows nor drops.
void MeasuringFlow::holdProgress()
{
    runStart_ = now() - qint64(measureProgress_ * core_.measureSeconds() * 1000.0);
}

// A run that cannot measure (a card that did not open, delivers or takes nothing, a test signal
// that cannot play, a microphone channel the card lacks, a reference without an input of its
// own) ends at once without a point: silence, or a microphone read against itself, must never
// become a measured curve. The curve goes back to the points taken.
void MeasuringFlow::onSessionFailed(const QString &message)
{
    ui_.toast(message);
    const MeasureSession *session = core_.session();
    if (!measuring() || !session || !session->failed())
        return;
    stopRun();
    if (!lineArray_) {
        if (points_.isEmpty())
            core_.clearMeasuredCurve();
        else
            averageCurves();
    }
    resetRunState();
    emit measuringChanged();
    emit measureTick();
    emit curveChanged();
}

// ---- the end of a run -----------------------------------------------------------------------

void MeasuringFlow::stopMeasure()
{
    captureMeasurement();
}

void MeasuringFlow::captureMeasurement()
{
    if (!measuring())
        return;
    tickTimer_.stop();
    const bool wasArmed = autoMeasuring();
    run_ = Run::Idle;
    resetLevels();
    // A run a workflow armed for itself ends in that workflow's own capture.
    if (CaptureOwner *owner = pendingOwner()) {
        owner->takeCapture();
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
        emit goRequested(screens::computing);
}

// The run's final transfer function becomes a measuring point; a point on another frequency
// grid than the first cannot be averaged with it and is refused.
void MeasuringFlow::takePoint()
{
    Measured point;
    if (MeasureSession *session = core_.session()) {
        session->updateDelayEstimate();
        point.delayMs = session->estimatedDelayMs();
        session->stop();
        session->transferFunction(point.freq, point.magnitude, point.coherence, &point.phase);
    }
    const bool captured = !point.freq.isEmpty() && !point.magnitude.isEmpty();
    if (captured)
        core_.setMeasuredDelayMs(point.delayMs);
    core_.releaseSession();
    if (!captured) {
        if (lineArray_)
            endRunWithoutCapture();
        return;
    }
    if (!points_.isEmpty() && points_.first().freq.size() != point.freq.size()) {
        ui_.toast(QStringLiteral("这次采到的频点数和前面不一致，请重测这一点"));
        if (lineArray_)
            endRunWithoutCapture();
        return;
    }
    points_.append(point);
    if (!lineArray_ || points_.size() >= leastArrayPoints)
        averageCurves();
}

void MeasuringFlow::averageCurves()
{
    if (points_.isEmpty())
        return;
    const Measured average = averagePoints(points_, flow());
    MeasuredCurve curve = core_.measured();
    curve.freq = average.freq;
    curve.magnitude = average.magnitude;
    curve.coherence = average.coherence;
    curve.phase = average.phase;
    core_.setMeasured(std::move(curve));
    lineArrayAverage_.clear();
    if (lineArray_) {
        const snt::eq::DisplayCurve display = displayCurve(average.freq, average.magnitude, {},
                                                           LevelScale::Absolute, Flow::LineArray);
        lineArrayAverage_ = flatPairs(display.freq, display.before, displayBudget);
    }
}

// ---- the screens' operations ----------------------------------------------------------------

void MeasuringFlow::startMeasure()
{
    startRun(false);
}

void MeasuringFlow::measurePrimaryAction()
{
    if (core_.computing())
        return;
    if (measuring()) {
        if (autoMeasuring())
            return;
        if (levelWindow_.ready())
            armRun();
        else
            ui_.toast(QStringLiteral("先把「测量」和「参考」两个表头调到 −3～+6 dB 之间"));
        return;
    }
    discardMeasurement();
    if (startRun(false))
        ui_.toast(alignMetersText);
}

void MeasuringFlow::levelCalibrate()
{
    if (measuring()) {
        captureMeasurement();
        return;
    }
    if (startRun(false))
        ui_.toast(alignMetersText);
}

void MeasuringFlow::arrayPrimaryAction()
{
    if (core_.computing() || !lineArray_)
        return;
    if (!measuring())
        startRun(!points_.isEmpty());
    else if (!autoMeasuring())
        armRun();
}

void MeasuringFlow::arrayStop()
{
    if (!lineArray_)
        return;
    if (measuring())
        stopRun();
    resetRunState();
    emit measuringChanged();
    emit measureTick();
    emit curveChanged();
}

void MeasuringFlow::discardMeasurement()
{
    if (measuring())
        stopRun();
    for (CaptureOwner *owner : std::as_const(owners_))
        owner->dropCapture();
    resetRunState();
    clearPoints();
    core_.clearMeasuredCurve();
    core_.clearResult();
    emit measurePointsChanged();
    emit measuringChanged();
    emit measureTick();
    emit curveChanged();
    emit schemesChanged();
}

void MeasuringFlow::clearFlow(bool lineArray)
{
    lineArray_ = lineArray;
    if (measuring())
        stopRun();
    clearPoints();
    resetLevels();
    emit flowStarted();
    measureProgress_ = 0.0;
    core_.clearMeasuredCurve();
    core_.clearSchemes();
    core_.forgetMeasuredSource();
    core_.setVerifyRun(false);
    core_.forgetPack();
    emit measurePointsChanged();
    emit measuringChanged();
    emit measureTick();
    emit curveChanged();
    emit schemesChanged();
}

void MeasuringFlow::beginMeasurement()
{
    clearFlow(false);
    emit goRequested(screens::pointMeasuring);
}

void MeasuringFlow::beginArrayMeasurement()
{
    clearFlow(true);
    emit goRequested(screens::arrayMeasuring);
}

void MeasuringFlow::startMeasureFlow()
{
    if (ui_.measureGuideHidden())
        beginMeasurement();
    else
        emit goRequested(screens::guide);
}

void MeasuringFlow::nextMeasurement()
{
    if (lineArray_) {
        beginArrayMeasurement();
        return;
    }
    clearPoints();
    core_.clearMeasuredCurve();
    core_.clearResult();
    measureProgress_ = 0.0;
    resetLevels();
    emit measurePointsChanged();
    emit measureTick();
    emit curveChanged();
    emit schemesChanged();
    emit goRequested(screens::pointMeasuring);
}

void MeasuringFlow::computeNow()
{
    if (lineArray_ && points_.size() < leastArrayPoints)
        ui_.toast(tooFewPointsText);
    else if (hasMeasuredCurve())
        emit goRequested(screens::computing);
    else
        ui_.toast(noCurveText);
}

QVariantMap MeasuringFlow::coherenceQuality() const
{
    if (!hasMeasuredCurve())
        return {};
    const MeasuredCurve &measured = core_.measured();
    const snt::eq::DisplayCurve display = displayCurve(
            measured.freq, measured.magnitude, measured.coherence, LevelScale::Relative, flow());
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
