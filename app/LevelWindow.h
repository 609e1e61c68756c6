#pragma once

#include <QList>

// Watches that the measurement and reference inputs stand at about the same level before a run
// may be armed: the mean of the last 15 peak gaps (measure − reference) must lie within −3 …
// +6 dB for 12 ticks in a row to become ready, and outside for 30 ticks in a row to lose it, so
// a meter flickering at an edge neither arms nor disarms a run.
class LevelWindow
{
public:
    // Takes one tick's peaks in dB. Either peak at or below −90 dB means no signal: the window
    // starts over and false is returned.
    bool add(double measurePeakDb, double referencePeakDb);
    void reset();

    bool ready() const { return ready_; }
    double gapDb() const { return gapDb_; }

private:
    QList<double> gaps_;
    int readyCount_ = 0;
    int lostCount_ = 0;
    bool ready_ = false;
    double gapDb_ = 0.0;
};
