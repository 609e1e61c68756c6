#pragma once

// A workflow that borrows the measuring run for captures of its own (the fill alignment, the
// subwoofer flow): the run asks it whether the capture at its end is the workflow's, whether its
// progress waits for the two inputs' levels to agree, hands it the run's end, and tells it when
// the run is thrown away.
class CaptureOwner
{
public:
    virtual ~CaptureOwner() = default;

    // The end of the current run is this workflow's capture.
    virtual bool capturePending() const = 0;
    // The run's progress waits while the measurement and reference levels disagree.
    virtual bool holdsForLevel() const = 0;
    // The run has ended (the tick stopped, the session still there): take its result.
    virtual void takeCapture() = 0;
    // The run was thrown away: nothing of it is this workflow's any more.
    virtual void dropCapture() = 0;
};
