#pragma once

#include "app/AppCore.h"
#include "app/AudioSetup.h"
#include "app/ComputeFlow.h"
#include "app/DeliveryFlow.h"
#include "app/FillFlow.h"
#include "app/MeasuringFeeds.h"
#include "app/MeasuringFlow.h"
#include "app/Navigation.h"
#include "app/PackLibrary.h"
#include "app/SchemeChoice.h"
#include "app/SubwooferFlow.h"
#include "app/SubwooferViews.h"
#include "app/UiState.h"
#include "app/UpdateChecker.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariantList>
#include <QVariantMap>

#include <memory>

class ProcessorClient;

// The one object through which the QML interface reaches the program (the context property
// `bridge`). It keeps the names the screens bind to and forwards each to the object that owns
// that state: the application core, the screens' own state (UiState), the navigation, the
// measuring flow with its chart feeds, the sound card set-up, the projects and packs, the scheme
// choice with the computation and the delivery, the fill alignment, the subwoofer flow and the
// update check. It holds no workflow state of its own. Every call arrives on the GUI thread.
class QmlBridge : public QObject
{
    Q_OBJECT

public:
    explicit QmlBridge(QObject *parent = nullptr);
    // With the EQ engine `compute` in place of snt::eq::computeSchemes.
    explicit QmlBridge(EqWorker::Compute compute, QObject *parent = nullptr);
    // Writes a pending pack save and releases the session.
    ~QmlBridge() override;

    AppCore &core() { return core_; }

    // ---- the screens' own state: palette, settings, dialogs, toast, geometry
    Q_PROPERTY(QVariantMap theme READ theme NOTIFY themeChanged)
    QVariantMap theme() const { return ui_.theme(); }
    Q_PROPERTY(bool darkMode READ darkMode WRITE setDarkMode NOTIFY themeChanged)
    bool darkMode() const { return ui_.darkMode(); }
    void setDarkMode(bool dark) { ui_.setDarkMode(dark); }
    Q_PROPERTY(bool helpOn READ helpOn WRITE setHelpOn NOTIFY helpChanged)
    bool helpOn() const { return ui_.helpOn(); }
    void setHelpOn(bool on) { ui_.setHelpOn(on); }
    Q_PROPERTY(int measureSignalType READ measureSignalType WRITE setMeasureSignalType NOTIFY
                       measureSignalTypeChanged)
    int measureSignalType() const { return ui_.measureSignalType(); }
    void setMeasureSignalType(int type) { ui_.setMeasureSignalType(type); }
    Q_PROPERTY(bool measureGuideHidden READ measureGuideHidden WRITE setMeasureGuideHidden NOTIFY
                       measureGuideHiddenChanged)
    bool measureGuideHidden() const { return ui_.measureGuideHidden(); }
    void setMeasureGuideHidden(bool hidden) { ui_.setMeasureGuideHidden(hidden); }
    Q_PROPERTY(bool subGuideHidden READ subGuideHidden WRITE setSubGuideHidden NOTIFY
                       subGuideHiddenChanged)
    bool subGuideHidden() const { return ui_.subGuideHidden(); }
    void setSubGuideHidden(bool hidden) { ui_.setSubGuideHidden(hidden); }
    Q_PROPERTY(bool pointGuideHidden READ pointGuideHidden WRITE setPointGuideHidden NOTIFY
                       pointGuideHiddenChanged)
    bool pointGuideHidden() const { return ui_.pointGuideHidden(); }
    void setPointGuideHidden(bool hidden) { ui_.setPointGuideHidden(hidden); }
    Q_PROPERTY(
            int smoothingBands READ smoothingBands WRITE setSmoothingBands NOTIFY smoothingChanged)
    int smoothingBands() const { return ui_.smoothingBands(); }
    // Every curve drawn at the display smoothing follows a change.
    void setSmoothingBands(int bands);
    Q_PROPERTY(QString smoothingLabel READ smoothingLabel NOTIFY smoothingChanged)
    QString smoothingLabel() const { return ui_.smoothingLabel(); }
    Q_PROPERTY(QString toastText READ toastText NOTIFY toastTextChanged)
    QString toastText() const { return ui_.toastText(); }
    Q_INVOKABLE void toast(const QString &text) { ui_.toast(text); }
    Q_INVOKABLE void clearToast() { ui_.clearToast(); }
    Q_PROPERTY(bool newProjectOpen READ newProjectOpen WRITE setNewProjectOpen NOTIFY
                       newProjectOpenChanged)
    bool newProjectOpen() const { return ui_.newProjectOpen(); }
    void setNewProjectOpen(bool open) { ui_.setNewProjectOpen(open); }
    Q_PROPERTY(bool micGuideOpen READ micGuideOpen WRITE setMicGuideOpen NOTIFY micGuideOpenChanged)
    bool micGuideOpen() const { return ui_.micGuideOpen(); }
    void setMicGuideOpen(bool open) { ui_.setMicGuideOpen(open); }
    Q_PROPERTY(bool planDetailOpen READ planDetailOpen WRITE setPlanDetailOpen NOTIFY
                       planDetailOpenChanged)
    bool planDetailOpen() const { return ui_.planDetailOpen(); }
    void setPlanDetailOpen(bool open) { ui_.setPlanDetailOpen(open); }
    Q_PROPERTY(bool processorPanelOpen READ processorPanelOpen WRITE setProcessorPanelOpen NOTIFY
                       processorPanelOpenChanged)
    bool processorPanelOpen() const { return ui_.processorPanelOpen(); }
    void setProcessorPanelOpen(bool open) { ui_.setProcessorPanelOpen(open); }
    Q_PROPERTY(bool curveWindowOpen READ curveWindowOpen WRITE setCurveWindowOpen NOTIFY
                       curveWindowOpenChanged)
    bool curveWindowOpen() const { return ui_.curveWindowOpen(); }
    // Opening the curve window reads the lists again as openCurveWindow does; setting it open
    // while it is open reads nothing. Closing it ends the subwoofer flow's picking of its main
    // curve.
    void setCurveWindowOpen(bool open);
    Q_PROPERTY(bool fillMicGuideOpen READ fillMicGuideOpen WRITE setFillMicGuideOpen NOTIFY
                       fillMicGuideOpenChanged)
    bool fillMicGuideOpen() const { return ui_.fillMicGuideOpen(); }
    void setFillMicGuideOpen(bool open) { ui_.setFillMicGuideOpen(open); }
    Q_PROPERTY(bool updateDialogOpen READ updateDialogOpen WRITE setUpdateDialogOpen NOTIFY
                       updateDialogOpenChanged)
    bool updateDialogOpen() const { return ui_.updateDialogOpen(); }
    void setUpdateDialogOpen(bool open) { ui_.setUpdateDialogOpen(open); }
    Q_INVOKABLE void saveWindowState(const QString &key, double x, double y, double w, double h)
    {
        UiState::saveWindowState(key, x, y, w, h);
    }
    Q_INVOKABLE QVariantMap windowState(const QString &key) const
    {
        return UiState::windowState(key);
    }
    Q_PROPERTY(QObject *processor READ processor CONSTANT)
    QObject *processor() const;

    // ---- navigation
    Q_PROPERTY(QString screen READ screen NOTIFY screenChanged)
    QString screen() const { return navigation_.screen(); }
    QStringList history() const { return navigation_.history(); }
    Q_INVOKABLE void go(const QString &name) { navigation_.go(name); }
    Q_INVOKABLE void back() { navigation_.back(); }
    Q_INVOKABLE void home() { navigation_.home(); }

    // ---- the measuring flow
    Q_PROPERTY(bool measuring READ measuring NOTIFY measuringChanged)
    bool measuring() const { return measuring_.measuring(); }
    Q_PROPERTY(bool autoMeasuring READ autoMeasuring NOTIFY measuringChanged)
    bool autoMeasuring() const { return measuring_.autoMeasuring(); }
    bool lineArrayMode() const { return measuring_.lineArray(); }
    Q_PROPERTY(double measureSeconds READ measureSeconds WRITE setMeasureSeconds NOTIFY
                       measureSettingsChanged)
    double measureSeconds() const { return core_.measureSeconds(); }
    void setMeasureSeconds(double seconds) { measuring_.setMeasureSeconds(seconds); }
    Q_PROPERTY(double generatorGain READ generatorGain WRITE setGeneratorGain NOTIFY
                       measureSettingsChanged)
    double generatorGain() const { return core_.generatorGain(); }
    void setGeneratorGain(double db) { measuring_.setGeneratorGain(db); }
    Q_PROPERTY(double measureLevel READ measureLevel NOTIFY measureTick)
    double measureLevel() const { return measuring_.measureLevel(); }
    Q_PROPERTY(double referenceLevel READ referenceLevel NOTIFY measureTick)
    double referenceLevel() const { return measuring_.referenceLevel(); }
    Q_PROPERTY(double measurePeak READ measurePeak NOTIFY measureTick)
    double measurePeak() const { return measuring_.measurePeak(); }
    Q_PROPERTY(double referencePeak READ referencePeak NOTIFY measureTick)
    double referencePeak() const { return measuring_.referencePeak(); }
    Q_PROPERTY(double measureProgress READ measureProgress NOTIFY measureTick)
    double measureProgress() const { return measuring_.measureProgress(); }
    Q_PROPERTY(int measuredPointCount READ measuredPointCount NOTIFY measurePointsChanged)
    Q_PROPERTY(int currentMeasurePoint READ measuredPointCount NOTIFY measurePointsChanged)
    int measuredPointCount() const { return measuring_.pointCount(); }
    Q_PROPERTY(bool canCompute READ canCompute NOTIFY measurePointsChanged)
    bool canCompute() const { return measuring_.canCompute(); }
    Q_PROPERTY(bool measureLevelReady READ measureLevelReady NOTIFY measureTick)
    Q_PROPERTY(bool subLevelReady READ measureLevelReady NOTIFY measureTick)
    bool measureLevelReady() const { return measuring_.levelReady(); }
    Q_PROPERTY(double measureLevelGapDb READ measureLevelGapDb NOTIFY measureTick)
    Q_PROPERTY(double subLevelDiffDb READ measureLevelGapDb NOTIFY measureTick)
    double measureLevelGapDb() const { return measuring_.levelGapDb(); }
    Q_PROPERTY(bool subWaitingForLevel READ subWaitingForLevel NOTIFY measureTick)
    bool subWaitingForLevel() const { return measuring_.waitingForLevel(); }
    Q_INVOKABLE void startMeasure() { measuring_.startMeasure(); }
    Q_INVOKABLE void stopMeasure() { measuring_.stopMeasure(); }
    Q_INVOKABLE void measurePrimaryAction() { measuring_.measurePrimaryAction(); }
    Q_INVOKABLE void levelCalibrate() { measuring_.levelCalibrate(); }
    Q_INVOKABLE void arrayPrimaryAction() { measuring_.arrayPrimaryAction(); }
    Q_INVOKABLE void arrayStop() { measuring_.arrayStop(); }
    Q_INVOKABLE void discardMeasurement() { measuring_.discardMeasurement(); }
    // Cancels a running computation, then throws the measurement away.
    Q_INVOKABLE void stopAnyAction();
    Q_INVOKABLE void beginMeasurement() { measuring_.beginMeasurement(); }
    Q_INVOKABLE void beginArrayMeasurement() { measuring_.beginArrayMeasurement(); }
    Q_INVOKABLE void startMeasureFlow() { measuring_.startMeasureFlow(); }
    Q_INVOKABLE void nextMeasurement() { measuring_.nextMeasurement(); }
    Q_INVOKABLE void computeNow() { measuring_.computeNow(); }
    Q_INVOKABLE QVariantMap coherenceQuality() const { return measuring_.coherenceQuality(); }

    // ---- the chart feeds of the measuring screens
    Q_PROPERTY(QVariantList measuredCurve READ measuredCurve NOTIFY curveChanged)
    Q_PROPERTY(QVariantList measuringCurve READ measuredCurve NOTIFY curveChanged)
    QVariantList measuredCurve() const { return feeds_.measuredCurve(); }
    Q_PROPERTY(QVariantList measuringCurveFlat READ measuringCurveFlat NOTIFY curveChanged)
    QVariantList measuringCurveFlat() const { return feeds_.measuringCurveFlat(); }
    Q_PROPERTY(QVariantList measuringCoherence READ measuringCoherence NOTIFY curveChanged)
    QVariantList measuringCoherence() const { return feeds_.measuringCoherence(); }
    Q_PROPERTY(QVariantList measuringCoherenceFlat READ measuringCoherenceFlat NOTIFY curveChanged)
    QVariantList measuringCoherenceFlat() const { return feeds_.measuringCoherenceFlat(); }
    Q_PROPERTY(QVariantList latestMeasurementCurve READ latestMeasurementCurve NOTIFY curveChanged)
    QVariantList latestMeasurementCurve() const { return feeds_.latestMeasurementCurve(); }
    Q_PROPERTY(
            QVariantList measurementHistoryCurves READ measurementHistoryCurves NOTIFY curveChanged)
    QVariantList measurementHistoryCurves() const { return feeds_.measurementHistoryCurves(); }
    Q_PROPERTY(QVariantList measurementPointCurves READ measurementPointCurves NOTIFY curveChanged)
    QVariantList measurementPointCurves() const { return feeds_.measurementPointCurves(); }
    Q_PROPERTY(
            QVariantList averageMeasurementCurve READ averageMeasurementCurve NOTIFY curveChanged)
    QVariantList averageMeasurementCurve() const { return feeds_.averageMeasurementCurve(); }
    Q_PROPERTY(double measureCurveCenter READ measureCurveCenter NOTIFY curveChanged)
    double measureCurveCenter() const { return feeds_.measureCurveCenter(); }

    // ---- the sound card set-up
    Q_PROPERTY(QStringList audioInputDevices READ audioInputDevices NOTIFY audioInputDevicesChanged)
    QStringList audioInputDevices() const { return audio_.audioInputDevices(); }
    Q_PROPERTY(QString selectedAudioDevice READ selectedAudioDevice WRITE setSelectedAudioDevice
                       NOTIFY selectedAudioDeviceChanged)
    QString selectedAudioDevice() const { return audio_.selectedAudioDevice(); }
    void setSelectedAudioDevice(const QString &name) { audio_.setSelectedAudioDevice(name); }
    Q_PROPERTY(QStringList audioInputChannels READ audioInputChannels NOTIFY audioChannelsChanged)
    QStringList audioInputChannels() const { return audio_.audioInputChannels(); }
    Q_PROPERTY(int audioDataChannel READ audioDataChannel WRITE setAudioDataChannel NOTIFY
                       audioChannelsChanged)
    int audioDataChannel() const { return audio_.audioDataChannel(); }
    void setAudioDataChannel(int channel) { audio_.setAudioDataChannel(channel); }
    Q_PROPERTY(int audioReferenceChannel READ audioReferenceChannel WRITE setAudioReferenceChannel
                       NOTIFY audioChannelsChanged)
    int audioReferenceChannel() const { return audio_.audioReferenceChannel(); }
    void setAudioReferenceChannel(int channel) { audio_.setAudioReferenceChannel(channel); }
    Q_PROPERTY(bool splCalibrated READ splCalibrated NOTIFY splCalibrationChanged)
    bool splCalibrated() const { return audio_.splCalibrated(); }
    Q_PROPERTY(QString splDeviceName READ splDeviceName NOTIFY splCalibrationChanged)
    QString splDeviceName() const { return audio_.splDeviceName(); }
    Q_PROPERTY(double splLevel READ splLevel NOTIFY measureTick)
    double splLevel() const { return audio_.splLevel(measuring_.uncalibratedSpl()); }
    Q_INVOKABLE void refreshAudioDevices() { audio_.refreshAudioDevices(); }
    Q_PROPERTY(QVariantMap calibrationInfo READ calibrationInfo NOTIFY calibrationChanged)
    QVariantMap calibrationInfo() const { return audio_.calibrationInfo(); }
    Q_PROPERTY(QVariantList calibrationMicFiles READ calibrationMicFiles NOTIFY calibrationChanged)
    QVariantList calibrationMicFiles() const { return audio_.calibrationMicFiles(); }
    Q_PROPERTY(QVariantList calibrationCalFiles READ calibrationCalFiles NOTIFY calibrationChanged)
    QVariantList calibrationCalFiles() const { return audio_.calibrationCalFiles(); }
    Q_PROPERTY(QString calibrationError READ calibrationError NOTIFY calibrationChanged)
    QString calibrationError() const { return audio_.calibrationError(); }
    // The data folder's calibration folder, where the file dialogs open.
    Q_PROPERTY(QUrl calibrationFolder READ calibrationFolder CONSTANT)
    QUrl calibrationFolder() const { return audio_.calibrationFolder(); }
    Q_INVOKABLE bool setCalibrationFile(int slot, const QString &path)
    {
        return audio_.setCalibrationFile(slot, path);
    }
    Q_INVOKABLE void clearCalibrationFile(int slot) { audio_.clearCalibrationFile(slot); }
    Q_PROPERTY(QVariantList systemChecks READ systemChecks NOTIFY systemChecksChanged)
    QVariantList systemChecks() const { return audio_.systemChecks(); }
    Q_INVOKABLE void runSystemCheck() { audio_.runSystemCheck(); }
    Q_INVOKABLE QString applySystemFixes() { return audio_.applySystemFixes(); }
    Q_INVOKABLE void openSystemAction(const QString &action) { audio_.openSystemAction(action); }
    Q_INVOKABLE void openMicPrivacySettings() { audio_.openMicPrivacySettings(); }

    // ---- projects and curve packs
    Q_PROPERTY(QString projectName READ projectName WRITE setProjectName NOTIFY projectChanged)
    QString projectName() const { return library_.projectName(); }
    void setProjectName(const QString &name) { library_.setProjectName(name); }
    Q_PROPERTY(QString roomType READ roomType NOTIFY projectChanged)
    QString roomType() const { return library_.roomType(); }
    Q_PROPERTY(QString roomHeight READ roomHeight NOTIFY projectChanged)
    QString roomHeight() const { return library_.roomHeight(); }
    Q_PROPERTY(QString programType READ programType NOTIFY projectChanged)
    QString programType() const { return library_.programType(); }
    Q_PROPERTY(bool freshInstall READ freshInstall NOTIFY projectsChanged)
    bool freshInstall() const { return library_.freshInstall(); }
    Q_PROPERTY(QVariantList projects READ projects NOTIFY projectsChanged)
    QVariantList projects() const { return library_.projects(); }
    Q_INVOKABLE void openProject(int index) { library_.openProject(index); }
    Q_INVOKABLE void createProject(const QString &name) { library_.createProject(name); }
    Q_INVOKABLE bool createProjectInWindow(const QString &name)
    {
        return library_.createProjectInWindow(name);
    }
    Q_INVOKABLE bool renameProject(const QString &oldName, const QString &newName)
    {
        return library_.renameProject(oldName, newName);
    }
    Q_INVOKABLE void deleteProject(int index) { library_.deleteProject(index); }
    Q_PROPERTY(QVariantList rootPacks READ rootPacks NOTIFY curvePacksChanged)
    QVariantList rootPacks() const { return library_.rootPacks(); }
    Q_INVOKABLE QVariantMap curvePackDetail(int index) { return library_.curvePackDetail(index); }
    Q_INVOKABLE bool movePack(int from, int before, const QString &project)
    {
        return library_.movePack(from, before, project);
    }
    Q_INVOKABLE bool deleteCurvePack(int index) { return library_.deleteCurvePack(index); }
    Q_INVOKABLE void openCurveWindow() { library_.openCurveWindow(); }
    Q_INVOKABLE bool exportCurvePack(int index) { return library_.exportCurvePack(index); }
    // The curve window's tree of projects and packs (PackTree), brought up to the store on every
    // projectsChanged and curvePacksChanged.
    Q_PROPERTY(QObject *packTree READ packTree CONSTANT)
    QObject *packTree() const;

    // ---- the result: computation, curve file, curve entries
    Q_PROPERTY(bool computing READ computing NOTIFY computingChanged)
    bool computing() const { return compute_.computing(); }
    Q_PROPERTY(QString computeLog READ computeLog NOTIFY computingChanged)
    QString computeLog() const { return compute_.computeLog(); }
    Q_PROPERTY(double computeProgress READ computeProgress NOTIFY computeProgressChanged)
    double computeProgress() const { return compute_.computeProgress(); }
    Q_INVOKABLE void startCompute() { compute_.startCompute(); }
    Q_INVOKABLE bool loadCurveFile(const QString &path) { return compute_.loadCurveFile(path); }
    Q_PROPERTY(QVariantList curveBundles READ curveBundles NOTIFY curveBundlesChanged)
    QVariantList curveBundles() const { return compute_.curveBundles(); }
    Q_PROPERTY(int curveIndex READ curveIndex WRITE setCurveIndex NOTIFY curveIndexChanged)
    int curveIndex() const { return compute_.curveIndex(); }
    void setCurveIndex(int index) { compute_.setCurveIndex(index); }

    // ---- scheme choice and targets, band and corner editing
    Q_PROPERTY(QVariantList targets READ targets NOTIFY targetsChanged)
    QVariantList targets() const { return choice_.targets(); }
    Q_PROPERTY(int selectedTarget READ selectedTarget WRITE setSelectedTarget NOTIFY targetsChanged)
    int selectedTarget() const { return choice_.selectedTarget(); }
    void setSelectedTarget(int index) { choice_.setSelectedTarget(index); }
    Q_INVOKABLE void selectTarget(int index) { choice_.setSelectedTarget(index); }
    Q_PROPERTY(QVariantList schemes READ schemes NOTIFY schemesChanged)
    QVariantList schemes() const { return choice_.schemes(); }
    Q_PROPERTY(int selectedScheme READ selectedScheme WRITE setSelectedScheme NOTIFY schemesChanged)
    int selectedScheme() const { return choice_.selectedScheme(); }
    void setSelectedScheme(int index) { choice_.setSelectedScheme(index); }
    Q_INVOKABLE void selectScheme(int index) { choice_.setSelectedScheme(index); }
    Q_PROPERTY(QVariantList schemeBefore READ schemeBefore NOTIFY schemesChanged)
    QVariantList schemeBefore() const { return choice_.selectedCurve(QStringLiteral("before")); }
    Q_PROPERTY(QVariantList schemeAfter READ schemeAfter NOTIFY schemesChanged)
    QVariantList schemeAfter() const { return choice_.selectedCurve(QStringLiteral("after")); }
    Q_PROPERTY(QVariantList schemeTarget READ schemeTarget NOTIFY schemesChanged)
    QVariantList schemeTarget() const { return choice_.selectedCurve(QStringLiteral("target")); }
    Q_PROPERTY(QVariantList schemeCoherence READ schemeCoherence NOTIFY schemesChanged)
    QVariantList schemeCoherence() const
    {
        return choice_.selectedCurve(QStringLiteral("coherence"));
    }
    Q_INVOKABLE QVariantMap schemeCurves(int index) const { return choice_.schemeCurves(index); }
    // The same curves as QList<QPointF> (x in Hz), for a reader that is no screen (the headless
    // batch): a map per point is most of what `schemeCurves` costs.
    Q_INVOKABLE QVariantMap schemeCurvePoints(int index) const
    {
        return choice_.schemeCurvePoints(index);
    }
    // The entries of `schemes` without their preview curves, for a reader that needs only the
    // figures (the headless batch): the previews are most of what a list costs.
    Q_INVOKABLE QVariantList schemeSummaries() const { return choice_.schemeSummaries(); }
    Q_PROPERTY(QVariantList eqBands READ eqBands NOTIFY schemesChanged)
    QVariantList eqBands() const { return choice_.eqBands(); }
    Q_PROPERTY(QVariantMap corners READ corners NOTIFY schemesChanged)
    QVariantMap corners() const { return choice_.corners(); }
    Q_INVOKABLE void addEqBand() { choice_.addEqBand(); }
    Q_INVOKABLE void removeEqBand(int index) { choice_.removeEqBand(index); }
    Q_INVOKABLE void setEqBandEnabled(int index, bool enabled)
    {
        choice_.setEqBandEnabled(index, enabled);
    }
    Q_INVOKABLE void updateEqBand(int index, double freq, double q, double gainDb)
    {
        choice_.updateEqBand(index, freq, q, gainDb);
    }
    Q_INVOKABLE void updateCorner(const QString &kind, double hz, double slopeDbOct)
    {
        choice_.updateCorner(kind, hz, slopeDbOct);
    }
    Q_INVOKABLE void updateCornerType(const QString &kind, const QString &type)
    {
        choice_.updateCornerType(kind, type);
    }

    // ---- EQ delivery
    Q_INVOKABLE void enterScheme(int index) { delivery_.enterScheme(index); }
    Q_INVOKABLE void saveSelectedPack() { delivery_.saveSelectedPack(); }
    Q_INVOKABLE void copyCurrentParams() { delivery_.copyCurrentParams(); }
    Q_INVOKABLE bool exportCurrentPack() { return delivery_.exportCurrentPack(); }
    Q_INVOKABLE QVariantMap uploadEqToOfficial(bool isOut, int idx);
    Q_INVOKABLE QVariantMap exportEqToProcessor(const QString &target);
    // The processor panel's thumbnail of the EQ it would deliver, shown while no processor is
    // connected.
    Q_INVOKABLE QVariantList demoEqCurve() const;
    // Where the converter program is looked for; the program's own folder by default.
    void setConverterFolder(const QString &folder) { delivery_.setConverterFolder(folder); }
    // The processor list of the EQ the current screen delivers; false with `error` naming `verb`.
    bool collectProcessorEq(ProcessorEqList &list, const QString &verb, QString &error) const;

    // ---- fill alignment
    Q_PROPERTY(int fillAlignStep READ fillAlignStep NOTIFY fillAlignChanged)
    int fillAlignStep() const { return fill_.step(); }
    Q_PROPERTY(double fillAlignDelayMs READ fillAlignDelayMs NOTIFY fillAlignChanged)
    double fillAlignDelayMs() const { return fill_.pulses().delayMs(); }
    Q_PROPERTY(QVariantList fillPulseMain READ fillPulseMain NOTIFY fillAlignChanged)
    QVariantList fillPulseMain() const { return fill_.pulses().mainPulse(); }
    Q_PROPERTY(QVariantList fillPulseFill READ fillPulseFill NOTIFY fillAlignChanged)
    QVariantList fillPulseFill() const { return fill_.pulses().fillPulse(); }
    Q_PROPERTY(double fillPulseMainX READ fillPulseMainX NOTIFY fillAlignChanged)
    double fillPulseMainX() const { return FillAlignment::mainPulseX; }
    Q_PROPERTY(double fillPulseFillX READ fillPulseFillX NOTIFY fillAlignChanged)
    double fillPulseFillX() const { return FillAlignment::fillPulseX; }
    Q_INVOKABLE void beginFillAlign() { fill_.begin(); }
    Q_INVOKABLE void fillAlignPlay() { fill_.play(); }
    Q_INVOKABLE void fillAlignMeasure() { fill_.measure(); }
    Q_INVOKABLE void fillAlignStop() { fill_.stop(); }
    Q_INVOKABLE void loadFillAlignDemo(int step, double delayMs) { fill_.loadDemo(step, delayMs); }

    // ---- the subwoofer crossover and its time alignment
    Q_PROPERTY(int subStep READ subStep NOTIFY subChanged)
    int subStep() const { return int(subwoofer_.stage()); }
    static int subStageIndex(const QString &name) { return SubwooferFlow::stageIndex(name); }
    Q_PROPERTY(int subLift READ subLift NOTIFY subChanged)
    int subLift() const { return subwoofer_.crossover().lift; }
    Q_PROPERTY(int subMeasured READ subMeasured NOTIFY subChanged)
    int subMeasured() const { return subwoofer_.crossover().measured; }
    Q_PROPERTY(bool subCalibrating READ subCalibrating NOTIFY subChanged)
    bool subCalibrating() const { return subwoofer_.calibrating(); }
    Q_PROPERTY(bool subPickingMain READ subPickingMain NOTIFY subPickingMainChanged)
    bool subPickingMain() const { return subwoofer_.pickingMain(); }
    Q_PROPERTY(QVariantMap subInfo READ subInfo NOTIFY subChanged)
    QVariantMap subInfo() const { return subwoofer_.info(); }
    Q_PROPERTY(QVariantList subMainPacks READ subMainPacks NOTIFY curvePacksChanged)
    QVariantList subMainPacks() const { return subwoofer_.mainPacks(); }
    Q_PROPERTY(QVariantList subBefore READ subBefore NOTIFY subChanged)
    QVariantList subBefore() const { return subwoofer::beforeCurve(subwoofer_.crossover()); }
    Q_PROPERTY(QVariantList subRaw READ subRaw NOTIFY subChanged)
    QVariantList subRaw() const { return subwoofer::rawCurve(subwoofer_.crossover()); }
    Q_PROPERTY(QVariantList subCalc READ subCalc NOTIFY subChanged)
    QVariantList subCalc() const { return subwoofer::processedCurve(subwoofer_.crossover()); }
    Q_PROPERTY(QVariantList subAfter READ subAfter NOTIFY subChanged)
    QVariantList subAfter() const { return subwoofer::summedCurve(subwoofer_.crossover()); }
    Q_PROPERTY(QVariantList subTarget READ subTarget NOTIFY subChanged)
    QVariantList subTarget() const { return subwoofer::targetCurve(subwoofer_.crossover()); }
    Q_PROPERTY(QVariantList subMainCurve READ subMainCurve NOTIFY subChanged)
    QVariantList subMainCurve() const { return subwoofer_.mainCurve(); }
    Q_PROPERTY(QVariantList subMainCoherence READ subMainCoherence NOTIFY subChanged)
    QVariantList subMainCoherence() const { return subwoofer_.mainCoherence(); }
    Q_PROPERTY(QVariantList subSubCoherence READ subSubCoherence NOTIFY subChanged)
    QVariantList subSubCoherence() const { return subwoofer_.subCoherence(); }
    Q_PROPERTY(QVariantList subEqBands READ subEqBands NOTIFY subChanged)
    QVariantList subEqBands() const { return subwoofer::eqBands(subwoofer_.crossover()); }
    Q_PROPERTY(int subAlignStage READ subAlignStage NOTIFY subChanged)
    int subAlignStage() const { return subwoofer_.alignment().stage; }
    Q_PROPERTY(bool subAlignAligned READ subAlignAligned NOTIFY subChanged)
    bool subAlignAligned() const { return subwoofer_.alignment().aligned; }
    Q_PROPERTY(double subAlignDelayMs READ subAlignDelayMs NOTIFY subChanged)
    double subAlignDelayMs() const { return subwoofer_.alignment().delayMs; }
    Q_PROPERTY(bool subAlignInvert READ subAlignInvert NOTIFY subChanged)
    bool subAlignInvert() const { return subwoofer_.alignment().invert; }
    Q_PROPERTY(double subAlignMainDelayMs READ subAlignMainDelayMs NOTIFY subChanged)
    double subAlignMainDelayMs() const { return subwoofer_.alignment().mainDelayMs; }
    Q_PROPERTY(QVariantList subAlignMainCurve READ subAlignMainCurve NOTIFY subChanged)
    QVariantList subAlignMainCurve() const { return subwoofer_.alignMainCurve(); }
    Q_PROPERTY(QVariantList subAlignMainCoherence READ subAlignMainCoherence NOTIFY subChanged)
    QVariantList subAlignMainCoherence() const { return subwoofer_.alignMainCoherence(); }
    Q_PROPERTY(QVariantList subAlignSubCurve READ subAlignSubCurve NOTIFY subChanged)
    QVariantList subAlignSubCurve() const { return subwoofer_.alignSubCurve(); }
    Q_PROPERTY(QVariantList subAlignSubCoherence READ subAlignSubCoherence NOTIFY subChanged)
    QVariantList subAlignSubCoherence() const { return subwoofer_.alignSubCoherence(); }
    Q_PROPERTY(QVariantList subAlignCoupled READ subAlignCoupled NOTIFY subChanged)
    QVariantList subAlignCoupled() const { return subwoofer_.alignCoupled(); }
    Q_INVOKABLE void beginSubXover() { subwoofer_.begin(); }
    Q_INVOKABLE void subRestart() { subwoofer_.begin(); }
    Q_INVOKABLE void subShowGuide() { subwoofer_.showGuide(); }
    Q_INVOKABLE void subGuideDone() { subwoofer_.guideDone(); }
    Q_INVOKABLE void subPickMain() { subwoofer_.pickMain(); }
    Q_INVOKABLE void subTrySetMainFromPack(int index) { subwoofer_.trySetMainFromPack(index); }
    Q_INVOKABLE bool subLoadMainPack(int index) { return subwoofer_.loadMainPack(index); }
    Q_INVOKABLE void subLevelCalibrate() { subwoofer_.levelCalibrate(); }
    Q_INVOKABLE void subMeasure() { subwoofer_.measure(); }
    Q_INVOKABLE void subCompute() { subwoofer_.compute(); }
    Q_INVOKABLE void subSetLift(int lift) { subwoofer_.setLift(lift); }
    // Cancels a running computation, then stops the flow's run.
    Q_INVOKABLE void subStop();
    Q_INVOKABLE void subAddEqBand() { subwoofer_.addEqBand(); }
    Q_INVOKABLE void subSetEqEnabled(int index, bool enabled)
    {
        subwoofer_.setEqEnabled(index, enabled);
    }
    Q_INVOKABLE void subUpdateEq(int index, double freq, double q, double gainDb)
    {
        subwoofer_.updateEq(index, freq, q, gainDb);
    }
    Q_INVOKABLE void subUpdateCorner(const QString &side, double hz, int slopeDb)
    {
        subwoofer_.updateCorner(side, hz, slopeDb);
    }
    Q_INVOKABLE void subUpdateCornerType(const QString &side, const QString &kind)
    {
        subwoofer_.updateCornerType(side, kind);
    }
    Q_INVOKABLE void subGotoAlign() { subwoofer_.gotoAlign(); }
    Q_INVOKABLE void subAlignRestart() { subwoofer_.alignRestart(); }
    Q_INVOKABLE void subAlignMeasure() { subwoofer_.alignMeasure(); }
    Q_INVOKABLE void loadSubXoverDemo(int step) { subwoofer_.loadDemo(step); }
    Q_INVOKABLE void copySubParams() { subwoofer_.copyParams(); }
    Q_INVOKABLE bool exportSubPack() { return subwoofer_.exportPack(); }
    // Saves the aligned result as a curve pack; also the start-up option that saves the demo.
    Q_INVOKABLE void saveSubAlignPack() { subwoofer_.saveAlignPack(); }

    // ---- update check
    Q_PROPERTY(bool updateAvailable READ updateAvailable NOTIFY updateChanged)
    bool updateAvailable() const { return updateChecker_->updateAvailable(); }
    Q_PROPERTY(QString updateVersion READ updateVersion NOTIFY updateChanged)
    QString updateVersion() const { return updateChecker_->updateVersion(); }
    Q_PROPERTY(QString updateDate READ updateDate NOTIFY updateChanged)
    QString updateDate() const { return updateChecker_->updateDate(); }
    Q_PROPERTY(QString updateNotes READ updateNotes NOTIFY updateChanged)
    QString updateNotes() const { return updateChecker_->updateNotes(); }
    Q_PROPERTY(QString updateError READ updateError NOTIFY updateChanged)
    QString updateError() const { return updateChecker_->updateError(); }
    Q_PROPERTY(bool updating READ updating NOTIFY updateChanged)
    bool updating() const { return updateChecker_->updating(); }
    Q_PROPERTY(double updateProgress READ installerProgress NOTIFY updateChanged)
    double installerProgress() const { return updateChecker_->updateProgress(); }
    // Also run once, 4 s after the bridge is made.
    Q_INVOKABLE void checkForUpdates() { updateChecker_->checkForUpdates(); }
    Q_INVOKABLE void startUpdate() { updateChecker_->startUpdate(); }

signals:
    void themeChanged();
    void projectChanged();
    void projectsChanged();
    void helpChanged();
    void measureSignalTypeChanged();
    void measureGuideHiddenChanged();
    void subGuideHiddenChanged();
    void pointGuideHiddenChanged();
    void measureSettingsChanged();
    void smoothingChanged();
    void toastTextChanged();
    void newProjectOpenChanged();
    void micGuideOpenChanged();
    void planDetailOpenChanged();
    void processorPanelOpenChanged();
    void curveWindowOpenChanged();
    void fillMicGuideOpenChanged();
    void curveIndexChanged();
    void screenChanged();
    void measuringChanged();
    void computingChanged();
    void computeProgressChanged();
    void measureTick();
    void measurePointsChanged();
    void curveChanged();
    void schemesChanged();
    void curvePacksChanged();
    void subChanged();
    void subPickingMainChanged();
    void targetsChanged();
    void audioInputDevicesChanged();
    void selectedAudioDeviceChanged();
    void audioChannelsChanged();
    void splCalibrationChanged();
    void calibrationChanged();
    void curveBundlesChanged();
    void systemChecksChanged();
    void updateChanged();
    void updateDialogOpenChanged();
    void fillAlignChanged();

private:
    void relaySignals();

    // The workflows in the order they are made: each takes those made before it.
    AppCore core_;
    UiState ui_;
    MeasuringFlow measuring_;
    std::unique_ptr<ProcessorClient> processor_;
    MeasuringFeeds feeds_;
    AudioSetup audio_;
    PackLibrary library_;
    FillFlow fill_;
    SubwooferFlow subwoofer_;
    SchemeChoice choice_;
    ComputeFlow compute_;
    DeliveryFlow delivery_;
    Navigation navigation_;
    // A child of the bridge.
    UpdateChecker *updateChecker_;
};
