#include "app/FillFlow.h"

#include "app/AppCore.h"
#include "app/MeasureSession.h"
#include "app/MeasuringFlow.h"
#include "app/ScreenNames.h"
#include "app/UiState.h"

#include <algorithm>

FillFlow::FillFlow(AppCore &core, MeasuringFlow &measuring, UiState &ui, QObject *parent)
    : QObject(parent)
    , core_(core)
    , measuring_(measuring)
    , ui_(ui)
{ }

int FillFlow::step() const
{
    switch (stage_) {
    case Stage::MeasureMain:
    case Stage::CaptureMain:
        return 0;
    case Stage::MeasureFill:
    case Stage::CaptureFill:
        return 1;
    case Stage::Done:
        break;
    }
    return 2;
}

FillFlow::Stage FillFlow::measureStage() const
{
    switch (stage_) {
    case Stage::CaptureMain:
        return Stage::MeasureMain;
    case Stage::CaptureFill:
        return Stage::MeasureFill;
    default:
        return stage_;
    }
}

bool FillFlow::capturePending() const
{
    return stage_ == Stage::CaptureMain || stage_ == Stage::CaptureFill;
}

void FillFlow::begin()
{
    if (measuring_.measuring()) {
        measuring_.stopRun();
        emit measuringChanged();
        emit measureTick();
    }
    pulses_.reset();
    stage_ = Stage::MeasureMain;
    emit fillAlignChanged();
    emit goRequested(screens::fillAlignment);
}

void FillFlow::play()
{
    if (measuring_.measuring() || stage_ == Stage::Done)
        return;
    stage_ = measureStage();
    measuring_.startRun(false);
    emit fillAlignChanged();
}

void FillFlow::measure()
{
    if (!measuring_.measuring() || measuring_.autoMeasuring() || stage_ == Stage::Done)
        return;
    stage_ = step() == 0 ? Stage::CaptureMain : Stage::CaptureFill;
    measuring_.armRun();
}

void FillFlow::stop()
{
    if (stage_ == Stage::Done)
        return;
    if (measuring_.measuring())
        measuring_.stopRun();
    else if (!capturePending())
        return;
    stage_ = measureStage();
    measuring_.resetRunState();
    emit measuringChanged();
    emit measureTick();
    emit fillAlignChanged();
}

void FillFlow::takeCapture()
{
    const Stage captured = stage_;
    stage_ = measureStage();
    QList<float> timeMs;
    QList<float> amplitude;
    if (MeasureSession *session = core_.session()) {
        measuring_.takePeaks(*session);
        session->stop();
        session->spectrum(timeMs, amplitude);
    }
    core_.releaseSession();
    const bool main = captured == Stage::CaptureMain;
    if (pulses_.capture(main ? FillAlignment::Pulse::Main : FillAlignment::Pulse::Fill, timeMs,
                        amplitude))
        stage_ = main ? Stage::MeasureFill : Stage::Done;
    else
        ui_.toast(QStringLiteral("这次没抓到脉冲，靠近一点再测一次"));
    emit fillAlignChanged();
}

void FillFlow::dropCapture()
{
    stage_ = measureStage();
}

void FillFlow::loadDemo(int step, double delayMs)
{
    step = std::clamp(step, 0, 2);
    pulses_.loadDemo(step == 2, delayMs);
    stage_ = step == 0 ? Stage::MeasureMain : step == 1 ? Stage::MeasureFill : Stage::Done;
    emit fillAlignChanged();
}
