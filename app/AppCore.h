#pragma once

#include "app/EqWorker.h"
#include "app/store/ProjectStore.h"
#include "eq/Records.h"
#include "eq/SchemeEngine.h"

#include <QList>
#include <QMetaObject>
#include <QObject>
#include <QString>

class MeasureSession;
class QThread;

// The application core: the current project's description, the measured curve the EQ
// computation starts from, the last computation's schemes and selection, the store's project
// and pack lists (it is the store), the one measurement session and, while one runs, the EQ
// computation on a thread of its own. The bridge holds it for the whole run and reads and writes
// its fields directly; everything here belongs to the GUI thread.
class AppCore
    : public QObject
    , public ProjectStore
{
    Q_OBJECT
public:
    // Prepares the data folder and loads the store. `compute` is the EQ engine.
    explicit AppCore(QObject *parent = nullptr,
                     EqWorker::Compute compute = snt::eq::computeSchemes);
    // Releases the session and waits for every computation still running to end.
    ~AppCore() override;

    QString projectName;
    QString roomType = QStringLiteral("室内");
    QString roomHeight = QStringLiteral("4 m");
    QString programType = QStringLiteral("Livehouse");
    QString use = QStringLiteral("主扩");
    bool verifyRun = false;
    float generatorGain = 0.0f; // dB
    double measureSeconds = 10.0;

    // The measured curve: Hz, linear magnitude, coherence 0..1, phase in degrees.
    QList<float> measuredFreq;
    QList<float> measuredMagnitude;
    QList<float> measuredCoherence;
    QList<float> measuredPhase;
    double measuredDelayMs = 0.0;
    double importedDelayMs = 0.0;
    QString measuredSource;

    QList<snt::eq::Scheme> schemes;
    int selectedScheme = 0;
    int selectedTarget = 0;
    int eqSmoothing = 6;
    bool lineArray = false;
    QList<snt::eq::SchemeBand> selectedBands;

    bool computing() const { return computing_; }
    int progressDone() const { return progressDone_; }
    int progressTotal() const { return progressTotal_; }
    QString computeLog() const { return computeLog_; }
    void clearComputeLog() { computeLog_.clear(); }

    // The session, created and started from the saved input settings when there is none; null
    // (after a toast) when no usable sound card or microphone is found.
    MeasureSession *ensureSession();
    MeasureSession *session() const { return session_; }
    void releaseSession();

    void clearMeasuredCurve();
    // Replaces the measured curve with the one in a curve text file; false, changing nothing,
    // when the file holds no usable curve.
    bool importCurveText(const QString &path);
    // Writes the current project's file, then lists the projects again.
    bool saveProject();
    // Writes the pack list on a thread of its own (see ProjectStore); the projects are listed
    // again and curvePacksSaved() follows, on this object's thread, once it is written.
    void saveCurvePacksLater();

    // Starts the EQ computation of the measured curve unless one runs.
    void startEqCompute();

signals:
    void computeFinished();
    void computeProgressChanged(int done, int total);
    void soonRequested();
    void toastRequested(QString text);
    // The running session's input or output failed: a sentence for the user.
    void sessionFailed(QString message);
    void curvePacksSaved(bool allWritten);

private:
    snt::eq::Measured measuredRecord() const;
    snt::eq::Options computeOptions() const;
    void onEqWorkerProgress(int done, int total);
    void finishEqCompute();
    void waitForComputations();

    const EqWorker::Compute compute_;
    bool computing_ = false;
    int progressDone_ = 0;
    int progressTotal_ = 6;
    QString computeLog_;
    MeasureSession *session_ = nullptr;
    QThread *computeThread_ = nullptr;
    EqWorker *worker_ = nullptr;
    QList<QMetaObject::Connection> workerConnections_;
};
