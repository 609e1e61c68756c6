#pragma once

#include "app/CaptureOwner.h"
#include "app/SubwooferAlignment.h"
#include "app/SubwooferCrossover.h"

#include <QJsonObject>
#include <QObject>
#include <QVariantList>
#include <QVariantMap>

class AppCore;
class MeasuringFlow;
class PackLibrary;
class UiState;
struct ProcessorEqList;

// The subwoofer crossover of the screens "超低分频…": its four stages (guide, measuring, result,
// time alignment), the main reference taken from a saved pack, the subwoofer measured while the
// two inputs' levels agree, the design and its edits with their delivery, the alignment captures
// with the pack they are saved as, the diagnostics files and a demo that fills the flow without
// audio. It borrows the measuring runs for its captures and calibration runs.
class SubwooferFlow
    : public QObject
    , public CaptureOwner
{
    Q_OBJECT
public:
    // The stage shown, one screen each (subStep).
    enum class Stage { Guide, Measure, Result, Align };
    Q_ENUM(Stage)
    // What the run the flow started does: plays for the level meters only, or captures the
    // subwoofer for the design, or a capture of the alignment (the main system's or the
    // subwoofer's by the alignment's stage).
    enum class Run { Idle, Calibrating, CapturingSubwoofer, CapturingAlignment };
    Q_ENUM(Run)

    SubwooferFlow(AppCore &core, MeasuringFlow &measuring, PackLibrary &library, UiState &ui,
                  QObject *parent = nullptr);

    Stage stage() const { return stage_; }
    Run run() const { return run_; }
    bool calibrating() const { return run_ == Run::Calibrating; }
    bool pickingMain() const { return pickingMain_; }
    const SubwooferCrossover &crossover() const { return crossover_; }
    const SubwooferAlignment &alignment() const { return alignment_; }
    // The stage of a subwoofer screen name, −1 for any other name.
    static int stageIndex(const QString &screen);

    // The views of the screens.
    QVariantMap info() const;
    QVariantList mainPacks() const;
    QVariantList mainCurve() const;
    QVariantList mainCoherence() const;
    QVariantList subCoherence() const;
    QVariantList alignMainCurve() const;
    QVariantList alignMainCoherence() const;
    QVariantList alignSubCurve() const;
    QVariantList alignSubCoherence() const;
    QVariantList alignCoupled() const;

    // Stages
    void begin();
    void showGuide();
    void guideDone();
    void gotoAlign();
    // Back navigation leaves a stage: a playing run stops and no capture stays pending.
    void leaveStage();
    // Back navigation showed `screen`: its stage becomes the flow's when it is one of the flow's.
    void showStageOf(const QString &screen);
    // Stops the flow's run: no calibration, no pending capture, the level window reset.
    void stopRun();
    // The stop button: stopRun and tell the screens.
    void stop();

    // The main reference
    void pickMain();
    void endPickingMain();
    void trySetMainFromPack(int index);
    bool loadMainPack(int index);

    // The subwoofer measurement and the design
    void levelCalibrate();
    void measure();
    void compute();
    void setLift(int lift);

    // Edits of the design
    void addEqBand();
    void setEqEnabled(int index, bool enabled);
    void updateEq(int index, double freq, double q, double gainDb);
    void updateCorner(const QString &side, double hz, int slopeDb);
    void updateCornerType(const QString &side, const QString &kind);

    // The design's EQ as the processor takes it; false without a design, with `error` naming
    // `verb`.
    bool deliveredEq(ProcessorEqList &list, const QString &verb, QString &error) const;
    void copyParams();
    bool exportPack();

    // The time alignment
    void alignRestart();
    void alignMeasure();
    void saveAlignPack();

    void loadDemo(int step);
    // The smoothed levels derived again from the measured ones.
    void resmoothCurves();

    bool capturePending() const override;
    bool holdsForLevel() const override;
    void takeCapture() override;
    void dropCapture() override;

signals:
    void subChanged();
    void subPickingMainChanged();
    void measuringChanged();
    void measureTick();
    void curveChanged();
    void projectsChanged();
    void curvePacksChanged();
    void goRequested(const QString &screen);

private:
    void showStage(Stage stage);
    void showDesign();
    void recompute();
    void resetAlignment();
    void captureSubwoofer();
    void captureAlignment();
    QJsonObject presetJson() const;

    AppCore &core_;
    MeasuringFlow &measuring_;
    PackLibrary &library_;
    UiState &ui_;
    Stage stage_ = Stage::Guide;
    Run run_ = Run::Idle;
    bool pickingMain_ = false;
    SubwooferCrossover crossover_;
    SubwooferAlignment alignment_;
};
