#pragma once

#include "app/CurveFeeds.h"
#include "app/LevelWindow.h"
#include "eq/Records.h"

#include <QList>
#include <QObject>
#include <QTimer>
#include <QVariantList>
#include <QVariantMap>

class AppCore;
class CaptureOwner;
class MeasureSession;
class UiState;

// The engineer's measuring: a single loudspeaker measured as one run, or a line array measured
// at three or more points that are averaged. It starts and stops the runs on the core's session,
// polls the running measurement every 33 ms, watches that the measurement and reference inputs
// stand at about the same level before a run may be armed, ends an armed run when its time is
// up and keeps every captured point with their average as the core's measured curve. The
// alignment workflows borrow its runs: the end of a run is theirs while they have a capture
// pending (CaptureOwner). Everything runs on the GUI thread.
class MeasuringFlow : public QObject
{
    Q_OBJECT
public:
    // Idle; a free run that checks the levels and never captures by itself; an armed run that
    // captures when its progress reaches 1.
    enum class Run { Idle, Checking, Capturing };
    Q_ENUM(Run)

    MeasuringFlow(AppCore &core, UiState &ui, QObject *parent = nullptr);

    // Asked in the order added whether a run's end is theirs.
    void addCaptureOwner(CaptureOwner *owner);

    Run run() const { return run_; }
    bool measuring() const { return run_ != Run::Idle; }
    bool autoMeasuring() const { return run_ == Run::Capturing; }
    bool lineArray() const { return lineArray_; }
    Flow flow() const { return lineArray_ ? Flow::LineArray : Flow::PointSource; }
    // Set by the screen shown; the core's computation follows it.
    void setLineArray(bool lineArray);

    double measureLevel() const { return measureLevel_; }
    double referenceLevel() const { return referenceLevel_; }
    double measurePeak() const { return measurePeak_; }
    double referencePeak() const { return referencePeak_; }
    // The sound level as the session reads it, before a calibrated card's offset.
    double uncalibratedSpl() const { return uncalibratedSpl_; }
    double measureProgress() const { return measureProgress_; }
    bool levelReady() const { return levelWindow_.ready(); }
    double levelGapDb() const { return levelWindow_.gapDb(); }
    bool waitingForLevel() const { return waitingForLevel_; }

    const QList<snt::eq::Measured> &points() const { return points_; }
    int pointCount() const { return int(points_.size()); }
    bool canCompute() const { return points_.size() >= 3; }
    // The line array's average as the chart draws it; empty for a single loudspeaker.
    const QVariantList &lineArrayAverage() const { return lineArrayAverage_; }

    // 2 … 60 s; −60 … +12 dB.
    void setMeasureSeconds(double seconds);
    void setGeneratorGain(double db);

    // The screens' operations.
    void startMeasure();
    void stopMeasure();
    void measurePrimaryAction();
    void levelCalibrate();
    void arrayPrimaryAction();
    void arrayStop();
    void discardMeasurement();
    void beginMeasurement();
    void beginArrayMeasurement();
    void startMeasureFlow();
    void nextMeasurement();
    void computeNow();
    QVariantMap coherenceQuality() const;

    // What the workflows and the navigation use of the run.
    // Starts a run unless one plays; false, after a toast, without a usable card.
    bool startRun(bool armed);
    // The playing run starts capturing, its progress from 0.
    void armRun();
    // Stops the playing run and releases the session, without a capture.
    void stopRun();
    // stopRun and tell the screens.
    void endRun();
    // endRun, and nothing of the run is any workflow's any more.
    void abandonRun();
    void resetRunState();
    void resetLevelWindow();
    void setWaitingForLevel(bool waiting);
    void resetProgress() { measureProgress_ = 0.0; }
    void resetLevels();
    // The meters read silent until a run plays: resetLevels and tell the screens.
    void silenceMeters();
    // The peaks of the session's last analysis (a workflow's capture shows them).
    void takePeaks(const MeasureSession &session);

public slots:
    // One poll of the running measurement; the tick timer calls it every 33 ms.
    void onMeasureTick();
    // A run that cannot measure (a card that failed, a signal that cannot play, a reference
    // without an input of its own) ends at once, without a point.
    void onSessionFailed(const QString &message);

signals:
    void measuringChanged();
    void measureTick();
    void measurePointsChanged();
    void curveChanged();
    void schemesChanged();
    void goRequested(const QString &screen);
    // A new measuring flow starts: the run that played is nobody's any more.
    void flowStarted();

private:
    void captureMeasurement();
    CaptureOwner *pendingOwner() const;
    void clearPoints();
    void clearFlow(bool lineArray);
    void endRunWithoutCapture();
    void averageCurves();
    void holdProgress();
    void updateProgress();
    void takeLiveCurve(const snt::eq::Measured &live, double delayMs);
    void takePoint();
    bool hasMeasuredCurve() const;

    AppCore &core_;
    UiState &ui_;
    QList<CaptureOwner *> owners_;
    Run run_ = Run::Idle;
    bool lineArray_ = false;
    QTimer tickTimer_;
    qint64 runStart_ = 0; // ms since the epoch from which the run's progress counts

    double measureLevel_ = -100.0;
    double uncalibratedSpl_ = -100.0;
    double referenceLevel_ = -100.0;
    double measurePeak_ = -100.0;
    double referencePeak_ = -100.0;
    double measureProgress_ = 0.0;
    LevelWindow levelWindow_;
    bool waitingForLevel_ = false;

    QList<snt::eq::Measured> points_;
    QVariantList lineArrayAverage_;
};
