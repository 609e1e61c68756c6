#pragma once

#include "app/CaptureOwner.h"
#include "app/FillAlignment.h"

#include <QObject>
#include <QVariantList>

class AppCore;
class MeasuringFlow;
class UiState;

// The fill-loudspeaker alignment of screen "补声对齐": the test signal plays through the main
// system and a run captures its pulse, then the same for the fill, and the fill's delay follows
// from the two arrival times. It plays, arms and stops the measuring runs it borrows and takes
// the impulse response at the end of the run it armed.
class FillFlow
    : public QObject
    , public CaptureOwner
{
    Q_OBJECT
public:
    // The loudspeaker to measure next, and whether a run is armed to capture its pulse.
    enum class Stage { MeasureMain, CaptureMain, MeasureFill, CaptureFill, Done };
    Q_ENUM(Stage)

    FillFlow(AppCore &core, MeasuringFlow &measuring, UiState &ui, QObject *parent = nullptr);

    Stage stage() const { return stage_; }
    // 0 main system to measure, 1 fill to measure, 2 done.
    int step() const;
    const FillAlignment &pulses() const { return pulses_; }

    // Stops a playing run, starts over and shows the screen.
    void begin();
    // Plays the test signal for the current step.
    void play();
    // Arms the playing run to capture the current step's pulse.
    void measure();
    // Stops the signal or the armed capture; the step stays.
    void stop();
    // Synthetic pulses: step 0 or 1 shows the main system's, step 2 (or more) both with the delay.
    void loadDemo(int step, double delayMs);

    bool capturePending() const override;
    bool holdsForLevel() const override { return false; }
    void takeCapture() override;
    void dropCapture() override;

signals:
    void fillAlignChanged();
    void measuringChanged();
    void measureTick();
    void goRequested(const QString &screen);

private:
    // The stage of the current step without a capture armed.
    Stage measureStage() const;

    AppCore &core_;
    MeasuringFlow &measuring_;
    UiState &ui_;
    Stage stage_ = Stage::MeasureMain;
    FillAlignment pulses_;
};
