// Navigation: the current screen, its back history, and what moving between screens does to a
// running measurement, the line-array mode and the scheme being delivered.
#include "app/AppCore.h"
#include "app/QmlBridge.h"
#include "app/ScreenNames.h"

namespace {

constexpr qsizetype historyLength = 24;

} // namespace

bool QmlBridge::isMeasuringScreen(const QString &name)
{
    return name == screens::pointMeasuring || name == screens::arrayMeasuring
           || name == screens::fillAlignment;
}

bool QmlBridge::isSubScreen(const QString &name)
{
    return subStageIndex(name) >= 0;
}

void QmlBridge::setScreen(const QString &name, bool push)
{
    if (name.isEmpty() || name == screen_)
        return;
    if (push) {
        history_.append(screen_);
        if (history_.size() > historyLength)
            history_.removeFirst();
    }
    setFillMicGuideOpen(false);
    if (name == screens::arrayMeasuring)
        lineArray_ = true;
    else if (name == screens::pointMeasuring)
        lineArray_ = false;
    core_->lineArray = lineArray_;
    // A screen with meters shows them silent until its own run plays.
    if (!measuring_ && (isMeasuringScreen(name) || isSubScreen(name)))
        silenceMeters();
    screen_ = name;
    emit screenChanged();
}

// The delivery screen edits a copy of the chosen scheme that lives on in its curve pack only:
// leaving it writes the pack and puts the scheme back as it was computed.
void QmlBridge::leaveDeliveryScreen()
{
    flushPendingPackSave();
    const int selected = core_->selectedScheme;
    if (selected < 0 || selected >= savedSchemes_.size())
        return;
    restoreSchemeEntry(selected);
    prepareSelectedTarget();
    emit schemesChanged();
}

void QmlBridge::endRunOnLeaving()
{
    stopRun();
    fillCaptureMarker_ = -1;
    emit measuringChanged();
}

void QmlBridge::go(const QString &name)
{
    if (name.isEmpty() || name == screen_)
        return;
    if (screen_ == screens::delivery)
        leaveDeliveryScreen();
    if (isMeasuringScreen(screen_) && !isMeasuringScreen(name))
        endRunOnLeaving();
    setScreen(name, true);
}

void QmlBridge::back()
{
    if (screen_ == screens::use) {
        go(lineArray_ ? screens::arrayMeasuring : screens::pointMeasuring);
        return;
    }
    if (isSubScreen(screen_)) {
        if (measuring_ || subCalibrating_)
            stopFlowRun();
        subCaptureMarker_ = -1;
        subAlignCaptureMarker_ = -1;
        if (history_.isEmpty()) {
            home();
            return;
        }
        const QString previous = history_.takeLast();
        if (isSubScreen(previous)) {
            subStep_ = subStageIndex(previous);
            emit subChanged();
        }
        setScreen(previous, false);
        return;
    }
    if (history_.isEmpty())
        return;
    const QString previous = history_.takeLast();
    if (screen_ == screens::delivery)
        leaveDeliveryScreen();
    if (isMeasuringScreen(screen_)) {
        endRunOnLeaving();
        emit measureTick();
    }
    setScreen(previous, false);
}

void QmlBridge::home()
{
    if (measuring_) {
        stopRun();
        fillCaptureMarker_ = -1;
        subCaptureMarker_ = -1;
        subAlignCaptureMarker_ = -1;
        subCalibrating_ = false;
        subWaitingForLevel_ = false;
        emit measuringChanged();
        emit measureTick();
    }
    go(screens::home);
}

void QmlBridge::stopFlowRun()
{
    subCalibrating_ = false;
    subWaitingForLevel_ = false;
    levelWindow_.reset();
    subCaptureMarker_ = -1;
    subAlignCaptureMarker_ = -1;
    if (measuring_) {
        stopRun();
        emit measuringChanged();
        emit measureTick();
        emit curveChanged();
    }
    emit subChanged();
}
