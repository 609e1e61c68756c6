#include "app/QmlBridge.h"

#include "app/PackTree.h"
#include "app/ScreenNames.h"
#include "engine/CalibrationManager.h"
#include "eq/SchemeEngine.h"
#include "processor/EqThumbnail.h"
#include "processor/ProcessorClient.h"
#include "processor/ProcessorEqList.h"

#include <QTimer>

namespace {

constexpr int engineSmoothing = 6; // the EQ engine always works at 1/6 octave
constexpr int firstUpdateCheckDelayMs = 4000;

} // namespace

QmlBridge::QmlBridge(QObject *parent)
    : QmlBridge(snt::eq::computeSchemes, parent)
{ }

QmlBridge::QmlBridge(EqWorker::Compute compute, QObject *parent)
    : QObject(parent)
    , core_(nullptr, std::move(compute))
    , measuring_(core_, ui_)
    , processor_(std::make_unique<ProcessorClient>())
    , feeds_(core_, measuring_)
    , audio_(ui_)
    , library_(core_, ui_)
    , fill_(core_, measuring_, ui_)
    , subwoofer_(core_, measuring_, library_, ui_)
    , choice_(core_, measuring_, ui_)
    , compute_(core_, measuring_, choice_, ui_)
    , delivery_(core_, measuring_, choice_, *processor_, ui_)
    , navigation_(measuring_, choice_, subwoofer_, fill_, ui_)
    , updateChecker_(new UpdateChecker(UpdateChecker::programOptions(), this))
{
    core_.setEqSmoothing(engineSmoothing);
    // The subwoofer's capture is asked first: its run waits for the levels to agree.
    measuring_.addCaptureOwner(&subwoofer_);
    measuring_.addCaptureOwner(&fill_);
    connect(&measuring_, &MeasuringFlow::flowStarted, &fill_, &FillFlow::dropCapture);
    relaySignals();
    // Before any screen hears of a change, so that the tree it reads is up to date.
    connect(this, &QmlBridge::projectsChanged, library_.tree(), &PackTree::refresh);
    connect(this, &QmlBridge::curvePacksChanged, library_.tree(), &PackTree::refresh);

    connect(&core_, &AppCore::toastRequested, &ui_, &UiState::toast);
    // Queued: the session that failed is still emitting, and ending the run deletes it.
    connect(&core_, &AppCore::sessionFailed, &measuring_, &MeasuringFlow::onSessionFailed,
            Qt::QueuedConnection);
    connect(&core_, &AppCore::curvePacksSaved, this,
            [this](bool allWritten, bool toldWhy, bool readAgain) {
                // A reason the store gave stays shown; only without one is the folder the likely
                // cause.
                if (!allWritten && !toldWhy)
                    toast(QStringLiteral("曲线的改动没存上，请检查文档文件夹能否写入"));
                // The list was read again: it shows what the files hold.
                if (readAgain) {
                    emit projectsChanged();
                    emit curvePacksChanged();
                }
            });
    connect(&core_, &AppCore::soonRequested, this,
            [this] { toast(QStringLiteral("这一项还在内测")); });
    connect(CalibrationManager::instance(), &CalibrationManager::warningRaised, this,
            [this](const QString &title, const QString &text) {
                toast(QStringLiteral("%1 · %2").arg(title, text));
            });
    QTimer::singleShot(firstUpdateCheckDelayMs, updateChecker_, &UpdateChecker::checkForUpdates);
}

QmlBridge::~QmlBridge()
{
    core_.flushPendingPackSave();
    core_.store().waitForBackgroundSave();
    core_.releaseSession();
}

// Every workflow tells the screens through the bridge's signals, under the same names.
void QmlBridge::relaySignals()
{
    connect(&core_, &AppCore::measureSettingsChanged, this, &QmlBridge::measureSettingsChanged);

    connect(&ui_, &UiState::themeChanged, this, &QmlBridge::themeChanged);
    connect(&ui_, &UiState::helpChanged, this, &QmlBridge::helpChanged);
    connect(&ui_, &UiState::measureSignalTypeChanged, this, &QmlBridge::measureSignalTypeChanged);
    connect(&ui_, &UiState::measureGuideHiddenChanged, this, &QmlBridge::measureGuideHiddenChanged);
    connect(&ui_, &UiState::subGuideHiddenChanged, this, &QmlBridge::subGuideHiddenChanged);
    connect(&ui_, &UiState::pointGuideHiddenChanged, this, &QmlBridge::pointGuideHiddenChanged);
    connect(&ui_, &UiState::smoothingChanged, this, &QmlBridge::smoothingChanged);
    connect(&ui_, &UiState::newProjectOpenChanged, this, &QmlBridge::newProjectOpenChanged);
    connect(&ui_, &UiState::micGuideOpenChanged, this, &QmlBridge::micGuideOpenChanged);
    connect(&ui_, &UiState::planDetailOpenChanged, this, &QmlBridge::planDetailOpenChanged);
    connect(&ui_, &UiState::processorPanelOpenChanged, this, &QmlBridge::processorPanelOpenChanged);
    connect(&ui_, &UiState::curveWindowOpenChanged, this, &QmlBridge::curveWindowOpenChanged);
    connect(&ui_, &UiState::fillMicGuideOpenChanged, this, &QmlBridge::fillMicGuideOpenChanged);
    connect(&ui_, &UiState::updateDialogOpenChanged, this, &QmlBridge::updateDialogOpenChanged);
    connect(&ui_, &UiState::toastTextChanged, this, &QmlBridge::toastTextChanged);

    connect(&navigation_, &Navigation::screenChanged, this, &QmlBridge::screenChanged);
    connect(&navigation_, &Navigation::measureTick, this, &QmlBridge::measureTick);

    connect(&measuring_, &MeasuringFlow::measuringChanged, this, &QmlBridge::measuringChanged);
    connect(&measuring_, &MeasuringFlow::measureTick, this, &QmlBridge::measureTick);
    connect(&measuring_, &MeasuringFlow::measurePointsChanged, this,
            &QmlBridge::measurePointsChanged);
    connect(&measuring_, &MeasuringFlow::curveChanged, this, &QmlBridge::curveChanged);
    connect(&measuring_, &MeasuringFlow::schemesChanged, this, &QmlBridge::schemesChanged);
    connect(&measuring_, &MeasuringFlow::goRequested, &navigation_, &Navigation::go);

    connect(&audio_, &AudioSetup::audioInputDevicesChanged, this,
            &QmlBridge::audioInputDevicesChanged);
    connect(&audio_, &AudioSetup::selectedAudioDeviceChanged, this,
            &QmlBridge::selectedAudioDeviceChanged);
    connect(&audio_, &AudioSetup::audioChannelsChanged, this, &QmlBridge::audioChannelsChanged);
    connect(&audio_, &AudioSetup::splCalibrationChanged, this, &QmlBridge::splCalibrationChanged);
    connect(&audio_, &AudioSetup::calibrationChanged, this, &QmlBridge::calibrationChanged);
    connect(&audio_, &AudioSetup::systemChecksChanged, this, &QmlBridge::systemChecksChanged);

    connect(&library_, &PackLibrary::projectChanged, this, &QmlBridge::projectChanged);
    connect(&library_, &PackLibrary::projectsChanged, this, &QmlBridge::projectsChanged);
    connect(&library_, &PackLibrary::curvePacksChanged, this, &QmlBridge::curvePacksChanged);
    connect(&library_, &PackLibrary::goRequested, &navigation_, &Navigation::go);

    connect(&fill_, &FillFlow::fillAlignChanged, this, &QmlBridge::fillAlignChanged);
    connect(&fill_, &FillFlow::measuringChanged, this, &QmlBridge::measuringChanged);
    connect(&fill_, &FillFlow::measureTick, this, &QmlBridge::measureTick);
    connect(&fill_, &FillFlow::goRequested, &navigation_, &Navigation::go);

    connect(&subwoofer_, &SubwooferFlow::subChanged, this, &QmlBridge::subChanged);
    connect(&subwoofer_, &SubwooferFlow::subPickingMainChanged, this,
            &QmlBridge::subPickingMainChanged);
    connect(&subwoofer_, &SubwooferFlow::measuringChanged, this, &QmlBridge::measuringChanged);
    connect(&subwoofer_, &SubwooferFlow::measureTick, this, &QmlBridge::measureTick);
    connect(&subwoofer_, &SubwooferFlow::curveChanged, this, &QmlBridge::curveChanged);
    connect(&subwoofer_, &SubwooferFlow::projectsChanged, this, &QmlBridge::projectsChanged);
    connect(&subwoofer_, &SubwooferFlow::curvePacksChanged, this, &QmlBridge::curvePacksChanged);
    connect(&subwoofer_, &SubwooferFlow::goRequested, &navigation_, &Navigation::go);

    connect(&choice_, &SchemeChoice::targetsChanged, this, &QmlBridge::targetsChanged);
    connect(&choice_, &SchemeChoice::schemesChanged, this, &QmlBridge::schemesChanged);
    connect(&choice_, &SchemeChoice::curvePacksChanged, this, &QmlBridge::curvePacksChanged);

    connect(&compute_, &ComputeFlow::computingChanged, this, &QmlBridge::computingChanged);
    connect(&compute_, &ComputeFlow::computeProgressChanged, this,
            &QmlBridge::computeProgressChanged);
    connect(&compute_, &ComputeFlow::schemesChanged, this, &QmlBridge::schemesChanged);
    connect(&compute_, &ComputeFlow::targetsChanged, this, &QmlBridge::targetsChanged);
    connect(&compute_, &ComputeFlow::curveChanged, this, &QmlBridge::curveChanged);
    connect(&compute_, &ComputeFlow::curveBundlesChanged, this, &QmlBridge::curveBundlesChanged);
    connect(&compute_, &ComputeFlow::curveIndexChanged, this, &QmlBridge::curveIndexChanged);
    connect(&compute_, &ComputeFlow::goRequested, &navigation_, &Navigation::go);

    connect(&delivery_, &DeliveryFlow::projectsChanged, this, &QmlBridge::projectsChanged);
    connect(&delivery_, &DeliveryFlow::curvePacksChanged, this, &QmlBridge::curvePacksChanged);
    connect(&delivery_, &DeliveryFlow::goRequested, &navigation_, &Navigation::go);

    connect(updateChecker_, &UpdateChecker::updateChanged, this, &QmlBridge::updateChanged);
}

QObject *QmlBridge::packTree() const
{
    return library_.tree();
}

QObject *QmlBridge::processor() const
{
    return processor_.get();
}

void QmlBridge::setSmoothingBands(int bands)
{
    if (!ui_.setSmoothingBands(bands))
        return;
    core_.setEqSmoothing(engineSmoothing);
    subwoofer_.resmoothCurves();
    emit subChanged();
    compute_.rebuildPackCurves();
    emit curveChanged();
    emit schemesChanged();
    emit curvePacksChanged();
    emit projectsChanged();
}

// Opened, the window lists what the files hold then: another program may have changed them
// while it was closed.
void QmlBridge::setCurveWindowOpen(bool open)
{
    if (open) {
        if (!ui_.curveWindowOpen())
            library_.openCurveWindow();
        return;
    }
    subwoofer_.endPickingMain();
    ui_.setCurveWindowOpen(false);
}

void QmlBridge::stopAnyAction()
{
    compute_.cancelComputation();
    measuring_.discardMeasurement();
}

void QmlBridge::subStop()
{
    compute_.cancelComputation();
    subwoofer_.stop();
}

// The one place where the screen shown decides which EQ leaves the program.
bool QmlBridge::collectProcessorEq(ProcessorEqList &list, const QString &verb, QString &error) const
{
    switch (navigation_.delivered()) {
    case Navigation::Delivered::Scheme:
        return delivery_.schemeEq(list, verb, error);
    case Navigation::Delivered::Subwoofer:
        return subwoofer_.deliveredEq(list, verb, error);
    case Navigation::Delivered::Nothing:
        break;
    }
    error = QStringLiteral("请先测量音响并计算结果，再到这里%1。").arg(verb);
    return false;
}

QVariantMap QmlBridge::uploadEqToOfficial(bool isOut, int idx)
{
    return delivery_.upload(isOut, idx,
                            [this](const QString &verb, ProcessorEqList &list, QString &error) {
                                return collectProcessorEq(list, verb, error);
                            });
}

QVariantMap QmlBridge::exportEqToProcessor(const QString &target)
{
    return delivery_.exportToConverter(
            target, [this](const QString &verb, ProcessorEqList &list, QString &error) {
                return collectProcessorEq(list, verb, error);
            });
}

QVariantList QmlBridge::demoEqCurve() const
{
    return processor::demoEqCurve(
            navigation_.delivered() == Navigation::Delivered::Subwoofer ? subEqBands() : eqBands());
}
