#pragma once

#include <QElapsedTimer>
#include <QObject>

namespace snt::ui {

// Time for slow decorative motion (rings that turn once in minutes, a warning that blinks) that
// needs a new frame only now and then. While `running`, `seconds` grows by the real time passed,
// in steps eight times a second. Every running clock steps on one shared plain timer, so that all
// such motion lands in the same frames; nothing drives Qt Quick's animation clock, which would
// keep the render loop busy between steps. The shared timer runs only while a clock runs.
class StepClock : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool running READ running WRITE setRunning NOTIFY runningChanged)
    Q_PROPERTY(double seconds READ seconds NOTIFY secondsChanged)

public:
    static constexpr int stepMs = 125;

    explicit StepClock(QObject *parent = nullptr);
    ~StepClock() override;

    bool running() const { return running_; }
    void setRunning(bool running);
    // The time this clock has run, as of its last step.
    double seconds() const { return seconds_; }

signals:
    void runningChanged();
    void secondsChanged();

private:
    friend class StepTimer;
    void step();

    bool running_ = false;
    double seconds_ = 0.0;
    QElapsedTimer sinceStep_;
};

} // namespace snt::ui
