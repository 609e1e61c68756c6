#include "app/AppCore.h"

#include "app/MeasureSession.h"
#include "app/store/CurveTextImport.h"
#include "common/Log.h"
#include "files/DataFolder.h"

#include <QSettings>
#include <QThread>
#include <algorithm>
#include <cmath>

namespace {

const char *const tag = "[AppCore]";
constexpr int pointSourceLanes = 6;
constexpr int lineArrayLanes = 3;
constexpr int computeJoinTimeoutMs = 3000;
constexpr int packSaveDelayMs = 350;

// Doubles count as equal within a relative 1e-12, so a value read back from a float or a setting
// does not look like a change.
bool fuzzyEqual(double a, double b)
{
    return std::abs(a - b) * 1e12 <= std::min(std::abs(a), std::abs(b));
}

} // namespace

AppCore::AppCore(QObject *parent, EqWorker::Compute compute)
    : QObject(parent)
    // Queued: a save in the background tells from its own thread, and the store's first load
    // from here, before anyone listens for toasts.
    , store_([this](const QString &text) {
        QMetaObject::invokeMethod(
                this, [this, text] { emit toastRequested(text); }, Qt::QueuedConnection);
    })
    , compute_(std::move(compute))
{
    initStorageFolders();
    migrateSettingsPaths();
    store_.listProjects();
    store_.loadCurvePacks();
    packSaveTimer_.setSingleShot(true);
    packSaveTimer_.setInterval(packSaveDelayMs);
    connect(&packSaveTimer_, &QTimer::timeout, this, &AppCore::savePendingPacks);
}

AppCore::~AppCore()
{
    releaseSession();
    waitForComputations();
    store_.waitForBackgroundSave();
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
        sntWarning(lcApp, tag) << "an EQ computation is still running after" << computeJoinTimeoutMs
                               << "ms; waiting for it to end before closing";
        thread->wait();
        sntInfo(lcApp, tag) << "the EQ computation has ended";
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
    if (!session_->start(QString(), QString(), dataChannel, referenceChannel, generatorGain_, 0)) {
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

// ---- the current project and the settings ----------------------------------------------

void AppCore::setProject(const ProjectDescription &project)
{
    if (project_ == project)
        return;
    project_ = project;
    emit projectChanged();
}

void AppCore::setProjectName(const QString &name)
{
    if (project_.name == name)
        return;
    project_.name = name;
    emit projectChanged();
}

bool AppCore::saveProjectAs(const QString &name)
{
    return store_.saveProject(name, project_.roomType, project_.roomHeight, project_.programType);
}

bool AppCore::saveProject()
{
    return saveProjectAs(project_.name);
}

void AppCore::setGeneratorGain(double db)
{
    if (fuzzyEqual(db, generatorGain_))
        return;
    generatorGain_ = float(db);
    if (session_)
        session_->setGeneratorGain(generatorGain_);
    emit measureSettingsChanged();
}

void AppCore::setMeasureSeconds(double seconds)
{
    if (fuzzyEqual(seconds, measureSeconds_))
        return;
    measureSeconds_ = seconds;
    emit measureSettingsChanged();
}

void AppCore::setUse(const QString &use)
{
    use_ = use;
}

void AppCore::setVerifyRun(bool verify)
{
    verifyRun_ = verify;
}

void AppCore::setEqSmoothing(int bands)
{
    eqSmoothing_ = bands;
}

void AppCore::setLineArray(bool lineArray)
{
    lineArray_ = lineArray;
}

// ---- measured curve -------------------------------------------------------------------------

void AppCore::setMeasured(MeasuredCurve curve)
{
    measured_ = std::move(curve);
    emit measuredChanged();
}

void AppCore::setMeasuredDelayMs(double delayMs)
{
    measured_.delayMs = delayMs;
    emit measuredChanged();
}

void AppCore::clearMeasuredCurve()
{
    measured_ = MeasuredCurve{.source = measured_.source};
    emit measuredChanged();
}

void AppCore::forgetMeasuredSource()
{
    measured_.source.clear();
    emit measuredChanged();
}

bool AppCore::importCurveText(const QString &path)
{
    ImportedCurve curve;
    if (!::importCurveText(path, curve))
        return false;
    measured_
            = {curve.freq, curve.magnitude, curve.coherence, curve.phase, 0.0, curve.delayMs, path};
    result_.schemes.clear();
    result_.selectedBands.clear();
    result_.selectedScheme = 0;
    emit measuredChanged();
    emit resultChanged();
    return true;
}

// ---- the result -----------------------------------------------------------------------------

void AppCore::setSelectedScheme(int index)
{
    result_.selectedScheme = index;
    emit resultChanged();
}

void AppCore::setSelectedTarget(int index)
{
    result_.selectedTarget = index;
    emit resultChanged();
}

void AppCore::setSelectedBands(const QList<snt::eq::SchemeBand> &bands)
{
    result_.selectedBands = bands;
    emit resultChanged();
}

void AppCore::setScheme(int index, const snt::eq::Scheme &scheme)
{
    result_.schemes[index] = scheme;
    emit resultChanged();
}

void AppCore::setSchemes(const QList<snt::eq::Scheme> &schemes)
{
    result_.schemes = schemes;
    emit resultChanged();
}

void AppCore::clearSchemes()
{
    result_.schemes.clear();
    result_.selectedScheme = 0;
    emit resultChanged();
}

void AppCore::keepComputedSchemes()
{
    result_.computed = result_.schemes;
    emit resultChanged();
}

void AppCore::clearComputedSchemes()
{
    result_.computed.clear();
    emit resultChanged();
}

void AppCore::restoreComputedScheme(int index)
{
    if (index < 0 || index >= result_.schemes.size() || index >= result_.computed.size())
        return;
    result_.schemes[index] = result_.computed[index];
    if (index == result_.selectedScheme)
        result_.selectedBands = result_.schemes[index].bands;
    emit resultChanged();
}

void AppCore::setSnapshot(const snt::eq::Measured &snapshot)
{
    result_.snapshot = snapshot;
    emit resultChanged();
}

void AppCore::clearResult()
{
    result_.schemes.clear();
    result_.selectedBands.clear();
    result_.selectedScheme = 0;
    result_.computed.clear();
    result_.snapshot = snt::eq::Measured();
    result_.pack = BoundPack();
    emit resultChanged();
}

void AppCore::bindPack(const QString &name, int scheme)
{
    result_.pack = {name, scheme, true};
    emit resultChanged();
}

void AppCore::unbindPack()
{
    result_.pack.name.clear();
    result_.pack.scheme = -1;
    emit resultChanged();
}

void AppCore::forgetPack()
{
    result_.pack = BoundPack();
    emit resultChanged();
}

// ---- writing the packs ----------------------------------------------------------------------

void AppCore::saveCurvePacksLater()
{
    store_.saveCurvePacksInBackground([this](ProjectStore::SaveOutcome outcome) {
        // Runs on the saving thread; what follows belongs to this object's.
        QMetaObject::invokeMethod(
                this,
                [this, outcome = std::move(outcome)] {
                    // Edits made while it ran wait for a save of their own, made against what
                    // this one wrote; reading the packs again now would drop them.
                    const bool editsWait = outcome.allWritten && packSaveTimer_.isActive();
                    const bool readAgain = !editsWait && store_.finishBackgroundSave(outcome);
                    emit curvePacksSaved(outcome.allWritten, outcome.toldWhy, readAgain);
                },
                Qt::QueuedConnection);
    });
}

void AppCore::savePacksSoon()
{
    packSaveTimer_.start();
}

void AppCore::savePendingPacks()
{
    // Off the GUI thread: the outcome comes back through curvePacksSaved.
    if (result_.pack.bound())
        saveCurvePacksLater();
}

void AppCore::flushPendingPackSave()
{
    if (!packSaveTimer_.isActive())
        return;
    packSaveTimer_.stop();
    savePendingPacks();
}

void AppCore::cancelPendingPackSave()
{
    packSaveTimer_.stop();
}

// ---- EQ computation -------------------------------------------------------------------------

snt::eq::Measured AppCore::computationInput() const
{
    snt::eq::Measured measured = measured_.computationCurve();
    measured.label = QStringLiteral("单只音箱");
    if (!use_.isEmpty())
        measured.label += QStringLiteral("·") + use_;
    if (verifyRun_)
        measured.label += QStringLiteral("验证");
    return measured;
}

snt::eq::Options AppCore::computeOptions() const
{
    snt::eq::Options options;
    options.use = use_;
    options.roomType = project_.roomType;
    options.programType = project_.programType;
    options.setting = eqSmoothing_;
    options.lineArray = lineArray_;
    return options;
}

void AppCore::startEqCompute()
{
    if (computing_)
        return;
    progressDone_ = 0;
    progressTotal_ = lineArray_ ? lineArrayLanes : pointSourceLanes;
    emit computeProgressChanged(0, progressTotal_);

    // Earlier threads stay children of the core until it goes, which waits for each of them.
    computeThread_ = new QThread(this);
    worker_ = new EqWorker(compute_);
    worker_->measured = computationInput();
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
    result_.schemes = std::move(worker_->schemes);
    computeLog_ = std::move(worker_->log);
    workerConnections_.clear();
    worker_ = nullptr;
    computeThread_->quit();
    computing_ = false;
    progressDone_ = progressTotal_;
    emit computeProgressChanged(progressDone_, progressTotal_);

    result_.selectedScheme = 0;
    if (!result_.schemes.isEmpty()) {
        result_.selectedBands = result_.schemes.first().bands;
        if (result_.schemes.first().targetIndex >= 0)
            result_.selectedTarget = result_.schemes.first().targetIndex;
    }
    emit resultChanged();
    emit computeFinished();
}
