#include "app/AppCore.h"

#include "app/MeasureSession.h"
#include "app/store/CurveTextImport.h"
#include "app/store/DataFolder.h"
#include "common/Log.h"

#include <QSettings>
#include <QThread>
#include <algorithm>

namespace {

const char *const tag = "[AppCore]";
constexpr int pointSourceLanes = 6;
constexpr int lineArrayLanes = 3;
constexpr int computeJoinTimeoutMs = 3000;

} // namespace

AppCore::AppCore(QObject *parent, EqWorker::Compute compute)
    : QObject(parent)
    , compute_(std::move(compute))
{
    initStorageFolders();
    migrateSettingsPaths();
    listProjects();
    loadCurvePacks();
}

AppCore::~AppCore()
{
    releaseSession();
    waitForComputations();
    waitForBackgroundSave();
}

void AppCore::waitForComputations()
{
    // A result arriving now would find no core: the worker is cut off first. A running thread
    // must not be destroyed (that ends the program), and the engine cannot be stopped but
    // always ends, so the wait goes on for as long as it takes.
    for (const QMetaObject::Connection &connection : std::as_const(workerConnections_))
        disconnect(connection);
    for (QThread *thread : findChildren<QThread *>(Qt::FindDirectChildrenOnly)) {
        thread->quit();
        if (thread->wait(computeJoinTimeoutMs))
            continue;
        sntWarning(tag) << "an EQ computation is still running after" << computeJoinTimeoutMs
                        << "ms; waiting for it to end before closing";
        thread->wait();
        sntInfo(tag) << "the EQ computation has ended";
    }
}

// ---- session --------------------------------------------------------------------------------

MeasureSession *AppCore::ensureSession()
{
    if (session_)
        return session_;
    const QSettings settings;
    const int dataChannel
            = MeasureSession::usableDataChannel(settings.value("audio/dataChannel", 0).toInt());
    const int referenceChannel = settings.value("audio/referenceChannel", 1).toInt();
    session_ = new MeasureSession;
    if (!session_->start(QString(), QString(), dataChannel, referenceChannel, generatorGain, 0)) {
        delete session_;
        session_ = nullptr;
        emit toastRequested(QStringLiteral("没找到可用的声卡 / 话筒"));
        return nullptr;
    }
    connect(session_, &MeasureSession::deviceFailed, this, &AppCore::sessionFailed);
    return session_;
}

void AppCore::releaseSession()
{
    if (!session_)
        return;
    session_->stop();
    session_->teardown();
    delete session_;
    session_ = nullptr;
}

// ---- measured curve -------------------------------------------------------------------------

void AppCore::clearMeasuredCurve()
{
    measuredFreq.clear();
    measuredMagnitude.clear();
    measuredCoherence.clear();
    measuredPhase.clear();
    measuredDelayMs = 0.0;
    importedDelayMs = 0.0;
}

bool AppCore::importCurveText(const QString &path)
{
    ImportedCurve curve;
    if (!::importCurveText(path, curve))
        return false;
    measuredFreq = curve.freq;
    measuredMagnitude = curve.magnitude;
    measuredCoherence = curve.coherence;
    measuredPhase = curve.phase;
    importedDelayMs = curve.delayMs;
    measuredDelayMs = 0.0;
    measuredSource = path;
    schemes.clear();
    selectedBands.clear();
    selectedScheme = 0;
    return true;
}

bool AppCore::saveProject()
{
    return ProjectStore::saveProject(projectName, roomType, roomHeight, programType);
}

void AppCore::saveCurvePacksLater()
{
    saveCurvePacksInBackground([this](SaveOutcome outcome) {
        // Runs on the saving thread; what follows belongs to this object's.
        QMetaObject::invokeMethod(
                this,
                [this, outcome = std::move(outcome)] {
                    listProjects(outcome);
                    emit curvePacksSaved(outcome.allWritten);
                },
                Qt::QueuedConnection);
    });
}

// ---- EQ computation -------------------------------------------------------------------------

snt::eq::Measured AppCore::measuredRecord() const
{
    snt::eq::Measured measured;
    measured.freq = measuredFreq;
    measured.magnitude = measuredMagnitude;
    measured.coherence = measuredCoherence;
    measured.phase = measuredPhase;
    measured.delayMs = importedDelayMs > 0.0 ? importedDelayMs : measuredDelayMs;
    measured.label = QStringLiteral("单只音箱");
    if (!use.isEmpty())
        measured.label += QStringLiteral("·") + use;
    if (verifyRun)
        measured.label += QStringLiteral("验证");
    return measured;
}

snt::eq::Options AppCore::computeOptions() const
{
    snt::eq::Options options;
    options.use = use;
    options.roomType = roomType;
    options.programType = programType;
    options.setting = eqSmoothing;
    options.lineArray = lineArray;
    return options;
}

void AppCore::startEqCompute()
{
    if (computing_)
        return;
    progressDone_ = 0;
    progressTotal_ = lineArray ? lineArrayLanes : pointSourceLanes;
    emit computeProgressChanged(0, progressTotal_);

    // Earlier threads stay children of the core until it goes, which waits for each of them.
    computeThread_ = new QThread(this);
    worker_ = new EqWorker(compute_);
    worker_->measured = measuredRecord();
    worker_->options = computeOptions();
    worker_->moveToThread(computeThread_);
    connect(computeThread_, &QThread::started, worker_, &EqWorker::run);
    connect(computeThread_, &QThread::finished, worker_, &QObject::deleteLater);
    workerConnections_ = {
            connect(worker_, &EqWorker::progressChanged, this, &AppCore::onEqWorkerProgress,
                    Qt::QueuedConnection),
            connect(worker_, &EqWorker::done, this, &AppCore::finishEqCompute,
                    Qt::QueuedConnection),
    };
    computing_ = true;
    computeThread_->start();
}

void AppCore::onEqWorkerProgress(int done, int total)
{
    progressDone_ = std::max(progressDone_, done);
    progressTotal_ = total < 1 ? pointSourceLanes : total;
    emit computeProgressChanged(progressDone_, progressTotal_);
}

void AppCore::finishEqCompute()
{
    // The worker wrote these before it signalled and touches them no more; it deletes itself
    // once its thread has ended.
    schemes = std::move(worker_->schemes);
    computeLog_ = std::move(worker_->log);
    workerConnections_.clear();
    worker_ = nullptr;
    computeThread_->quit();
    computing_ = false;
    progressDone_ = progressTotal_;
    emit computeProgressChanged(progressDone_, progressTotal_);

    selectedScheme = 0;
    if (!schemes.isEmpty()) {
        selectedBands = schemes.first().bands;
        if (schemes.first().targetIndex >= 0)
            selectedTarget = schemes.first().targetIndex;
    }
    emit computeFinished();
}
