// The fill-loudspeaker alignment on the bridge: play, arm and stop the runs of screen "补声对齐",
// hand a finished run's impulse response to the flow, and the demo with synthetic pulses.
#include "app/AppCore.h"
#include "app/MeasureSession.h"
#include "app/QmlBridge.h"
#include "app/ScreenNames.h"

#include <utility>

int QmlBridge::fillAlignStep() const
{
    return fill_.step();
}

double QmlBridge::fillAlignDelayMs() const
{
    return fill_.delayMs();
}

QVariantList QmlBridge::fillPulseMain() const
{
    return fill_.mainPulse();
}

QVariantList QmlBridge::fillPulseFill() const
{
    return fill_.fillPulse();
}

void QmlBridge::beginFillAlign()
{
    if (measuring_) {
        stopRun();
        emit measuringChanged();
        emit measureTick();
    }
    fill_.reset();
    fillCaptureMarker_ = -1;
    emit fillAlignChanged();
    go(screens::fillAlignment);
}

void QmlBridge::fillAlignPlay()
{
    if (measuring_ || fill_.step() >= FillAlignment::Done)
        return;
    fillCaptureMarker_ = -1;
    startMeasurementRun(false);
    emit fillAlignChanged();
}

void QmlBridge::fillAlignMeasure()
{
    if (!measuring_ || armed_ || fill_.step() >= FillAlignment::Done)
        return;
    fillCaptureMarker_ = fill_.step();
    armRun();
}

void QmlBridge::fillAlignStop()
{
    if (fill_.step() >= FillAlignment::Done)
        return;
    if (measuring_)
        stopRun();
    else if (fillCaptureMarker_ < 0)
        return;
    fillCaptureMarker_ = -1;
    resetRunState();
    emit measuringChanged();
    emit measureTick();
    emit fillAlignChanged();
}

void QmlBridge::captureFillAlign()
{
    const int target = std::exchange(fillCaptureMarker_, -1);
    QList<float> timeMs;
    QList<float> amplitude;
    if (MeasureSession *session = core_->session()) {
        measurePeak_ = session->peak();
        referencePeak_ = session->referencePeak();
        session->stop();
        session->spectrum(timeMs, amplitude);
    }
    core_->releaseSession();
    if (!fill_.capture(target, timeMs, amplitude))
        toast(QStringLiteral("这次没抓到脉冲，靠近一点再测一次"));
    emit fillAlignChanged();
}

void QmlBridge::loadFillAlignDemo(int step, double delayMs)
{
    fill_.loadDemo(step, delayMs);
    fillCaptureMarker_ = -1;
    emit fillAlignChanged();
}
