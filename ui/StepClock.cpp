#include "ui/StepClock.h"

#include <QList>
#include <QTimer>

namespace snt::ui {

// The one timer the running clocks step on, in the GUI thread.
class StepTimer : public QObject
{
public:
    static StepTimer &instance()
    {
        static StepTimer timer;
        return timer;
    }

    void add(StepClock *clock)
    {
        clocks_.append(clock);
        if (!timer_.isActive())
            timer_.start();
    }

    void remove(StepClock *clock)
    {
        clocks_.removeAll(clock);
        if (clocks_.isEmpty())
            timer_.stop();
    }

private:
    StepTimer()
    {
        timer_.setInterval(StepClock::stepMs);
        timer_.setTimerType(Qt::CoarseTimer);
        connect(&timer_, &QTimer::timeout, this, [this] {
            const QList<StepClock *> clocks = clocks_;
            for (StepClock *clock : clocks)
                clock->step();
        });
    }

    QTimer timer_;
    QList<StepClock *> clocks_;
};

StepClock::StepClock(QObject *parent)
    : QObject(parent)
{ }

StepClock::~StepClock()
{
    if (running_)
        StepTimer::instance().remove(this);
}

void StepClock::setRunning(bool running)
{
    if (running == running_)
        return;
    running_ = running;
    if (running_) {
        sinceStep_.start();
        StepTimer::instance().add(this);
    } else {
        StepTimer::instance().remove(this);
    }
    emit runningChanged();
}

void StepClock::step()
{
    seconds_ += double(sinceStep_.restart()) / 1000.0;
    emit secondsChanged();
}

} // namespace snt::ui
