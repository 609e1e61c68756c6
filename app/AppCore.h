#pragma once

#include "app/EqWorker.h"
#include "app/MeasuredCurve.h"
#include "app/SchemeResult.h"
#include "app/store/ProjectStore.h"
#include "eq/Records.h"
#include "eq/SchemeEngine.h"

#include <QList>
#include <QMetaObject>
#include <QObject>
#include <QString>
#include <QTimer>

class MeasureSession;
class QThread;

// The current project's description.
struct ProjectDescription
{
    QString name; // empty: no project
    QString roomType = QStringLiteral("室内");
    QString roomHeight = QStringLiteral("4 m");
    QString programType = QStringLiteral("Livehouse");

    friend bool operator==(const ProjectDescription &, const ProjectDescription &) = default;
};

// The application core: the current project, the measuring settings, the measured curve the EQ
// computation starts from, the last computation's result with its selection, the project store
// with the delayed writing of its packs, the one measurement session and, while one runs, the EQ
// computation on a thread of its own. Its state changes through setters that signal; the
// workflows above it share it. Everything here belongs to the GUI thread.
class AppCore : public QObject
{
    Q_OBJECT
public:
    // Prepares the data folder and loads the store. `compute` is the EQ engine.
    explicit AppCore(QObject *parent = nullptr,
                     EqWorker::Compute compute = snt::eq::computeSchemes);
    // Releases the session and waits for every computation still running to end.
    ~AppCore() override;

    ProjectStore &store() { return store_; }
    const ProjectStore &store() const { return store_; }

    // ---- the current project
    const ProjectDescription &project() const { return project_; }
    void setProject(const ProjectDescription &project);
    void setProjectName(const QString &name);
    // Writes the project file of `name` with the current room and programme, then lists the
    // projects again; the current project's name is not changed.
    bool saveProjectAs(const QString &name);

    // ---- measuring settings
    // The two setters take a value that differs by more than a relative 1e-12 from the one
    // kept. The generator's level is kept as a float and handed to the running session too.
    float generatorGain() const { return generatorGain_; } // dB
    void setGeneratorGain(double db);
    double measureSeconds() const { return measureSeconds_; }
    void setMeasureSeconds(double seconds);

    // ---- what the computation is asked for
    QString use() const { return use_; }
    void setUse(const QString &use);
    bool verifyRun() const { return verifyRun_; }
    void setVerifyRun(bool verify);
    int eqSmoothing() const { return eqSmoothing_; }
    void setEqSmoothing(int bands);
    bool lineArray() const { return lineArray_; }
    void setLineArray(bool lineArray);

    // ---- the measured curve
    const MeasuredCurve &measured() const { return measured_; }
    void setMeasured(MeasuredCurve curve);
    void setMeasuredDelayMs(double delayMs);
    // Empties the lists and both delays; the source path stays.
    void clearMeasuredCurve();
    void forgetMeasuredSource();
    // Replaces the measured curve with the one in a curve text file and empties the result's
    // schemes; false, changing nothing, when the file holds no usable curve.
    bool importCurveText(const QString &path);

    // ---- the result of the last computation
    const SchemeResult &result() const { return result_; }
    void setSelectedScheme(int index);
    void setSelectedTarget(int index);
    void setSelectedBands(const QList<snt::eq::SchemeBand> &bands);
    void setScheme(int index, const snt::eq::Scheme &scheme);
    // A result of schemes other than the computation's (a test's, a batch's).
    void setSchemes(const QList<snt::eq::Scheme> &schemes);
    // Empties the schemes and selects the first.
    void clearSchemes();
    // The copy of the schemes as computed, which edits never touch.
    void keepComputedSchemes();
    void clearComputedSchemes();
    // Puts scheme `index` back as it was computed.
    void restoreComputedScheme(int index);
    void setSnapshot(const snt::eq::Measured &snapshot);
    // Empties the schemes and their copy, the selected bands and the snapshot, and forgets the
    // pack the result was saved as.
    void clearResult();
    void bindPack(const QString &name, int scheme);
    // The bound pack was deleted: nothing is bound, but the result counts as saved.
    void unbindPack();
    void forgetPack();

    // ---- the computation
    bool computing() const { return computing_; }
    int progressDone() const { return progressDone_; }
    int progressTotal() const { return progressTotal_; }
    QString computeLog() const { return computeLog_; }
    void clearComputeLog() { computeLog_.clear(); }
    // Starts the EQ computation of the measured curve unless one runs.
    void startEqCompute();

    // ---- the session
    // The session, created and started from the saved input settings when there is none; null
    // (after a toast) when no usable sound card or microphone is found.
    MeasureSession *ensureSession();
    MeasureSession *session() const { return session_; }
    void releaseSession();

    // ---- writing the packs
    // Writes the current project's file, then lists the projects again.
    bool saveProject();
    // Writes the pack list on a thread of its own (see ProjectStore); the projects are listed
    // again and curvePacksSaved() follows, on this object's thread, once it is written.
    void saveCurvePacksLater();
    // Edits of the bound pack are written 350 ms after the last one, while a pack is bound.
    void savePacksSoon();
    // Writes a pending delayed save now.
    void flushPendingPackSave();
    // The whole list was just written: a pending delayed save is dropped.
    void cancelPendingPackSave();

signals:
    void computeFinished();
    void computeProgressChanged(int done, int total);
    void soonRequested();
    void toastRequested(QString text);
    // The running session cannot measure (MeasureSession::deviceFailed): a sentence for the
    // user.
    void sessionFailed(QString message);
    // `toldWhy`: the user was already told why the files were not all written. `readAgain`: the
    // lists were read from the files again (they held what the list did not).
    void curvePacksSaved(bool allWritten, bool toldWhy, bool readAgain);
    void projectChanged();
    void measureSettingsChanged();
    void measuredChanged();
    void resultChanged();

private:
    snt::eq::Measured computationInput() const;
    snt::eq::Options computeOptions() const;
    void onEqWorkerProgress(int done, int total);
    void finishEqCompute();
    void waitForComputations();
    void savePendingPacks();

    ProjectStore store_;
    ProjectDescription project_;
    float generatorGain_ = 0.0f;
    double measureSeconds_ = 10.0;
    QString use_ = QStringLiteral("主扩");
    bool verifyRun_ = false;
    int eqSmoothing_ = 6;
    bool lineArray_ = false;
    MeasuredCurve measured_;
    SchemeResult result_;

    const EqWorker::Compute compute_;
    bool computing_ = false;
    int progressDone_ = 0;
    int progressTotal_ = 6;
    QString computeLog_;
    MeasureSession *session_ = nullptr;
    QThread *computeThread_ = nullptr;
    EqWorker *worker_ = nullptr;
    QList<QMetaObject::Connection> workerConnections_;
    QTimer packSaveTimer_;
};
