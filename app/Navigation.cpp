#include "app/Navigation.h"

#include "app/FillFlow.h"
#include "app/MeasuringFlow.h"
#include "app/SchemeChoice.h"
#include "app/ScreenNames.h"
#include "app/SubwooferFlow.h"
#include "app/UiState.h"

namespace {

constexpr qsizetype historyLength = 24;

bool isSubScreen(const QString &name)
{
    return SubwooferFlow::stageIndex(name) >= 0;
}

} // namespace

Navigation::Navigation(MeasuringFlow &measuring, SchemeChoice &choice, SubwooferFlow &subwoofer,
                       FillFlow &fill, UiState &ui, QObject *parent)
    : QObject(parent)
    , measuring_(measuring)
    , choice_(choice)
    , subwoofer_(subwoofer)
    , fill_(fill)
    , ui_(ui)
    , screen_(screens::home)
{ }

bool Navigation::isMeasuringScreen(const QString &name)
{
    return name == screens::pointMeasuring || name == screens::arrayMeasuring
           || name == screens::fillAlignment;
}

Navigation::Delivered Navigation::delivered() const
{
    if (screen_ == screens::delivery)
        return Delivered::Scheme;
    if (screen_.startsWith(QStringLiteral("超低分频")))
        return Delivered::Subwoofer;
    return Delivered::Nothing;
}

void Navigation::setScreen(const QString &name, bool push)
{
    if (name.isEmpty() || name == screen_)
        return;
    if (push) {
        history_.append(screen_);
        if (history_.size() > historyLength)
            history_.removeFirst();
    }
    ui_.setFillMicGuideOpen(false);
    measuring_.setLineArray(name == screens::arrayMeasuring
                            || (name != screens::pointMeasuring && measuring_.lineArray()));
    // A screen with meters shows them silent until its own run plays.
    if (!measuring_.measuring() && (isMeasuringScreen(name) || isSubScreen(name)))
        measuring_.silenceMeters();
    screen_ = name;
    emit screenChanged();
}

void Navigation::endRunOnLeaving()
{
    measuring_.endRun();
    fill_.dropCapture();
}

void Navigation::go(const QString &name)
{
    if (name.isEmpty() || name == screen_)
        return;
    if (screen_ == screens::delivery)
        choice_.leaveDelivery();
    if (isMeasuringScreen(screen_) && !isMeasuringScreen(name))
        endRunOnLeaving();
    setScreen(name, true);
}

void Navigation::back()
{
    if (screen_ == screens::use) {
        go(measuring_.lineArray() ? screens::arrayMeasuring : screens::pointMeasuring);
        return;
    }
    if (isSubScreen(screen_)) {
        subwoofer_.leaveStage();
        if (history_.isEmpty()) {
            home();
            return;
        }
        const QString previous = history_.takeLast();
        subwoofer_.showStageOf(previous);
        setScreen(previous, false);
        return;
    }
    if (history_.isEmpty())
        return;
    const QString previous = history_.takeLast();
    if (screen_ == screens::delivery)
        choice_.leaveDelivery();
    if (isMeasuringScreen(screen_)) {
        endRunOnLeaving();
        emit measureTick();
    }
    setScreen(previous, false);
}

void Navigation::home()
{
    measuring_.abandonRun();
    go(screens::home);
}
