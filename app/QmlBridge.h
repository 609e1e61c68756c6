#pragma once

#include "app/ConverterExport.h"
#include "app/EqWorker.h"
#include "app/FillAlignment.h"
#include "app/LevelWindow.h"
#include "app/SchemePreviews.h"
#include "app/SubwooferAlignment.h"
#include "app/SubwooferCrossover.h"
#include "eq/Records.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <QVariantList>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

class AppCore;
class ProcessorClient;
class SystemCheckRunner;
class UpdateChecker;
struct CurveFeedCache;
struct CurvePack;
struct DisplaySource;

// The one object through which the QML interface reaches the program (the context property
// `bridge`). It holds the application core and the processor client, keeps the state only the
// screens need (current screen and its history, dialogs, toast, theme), reads and writes the
// application settings, runs the measuring flows with their 33 ms tick and feeds the charts.
// Every call arrives on the GUI thread. The members are spread over several source files, one
// per area: QmlBridge.cpp (object, settings, theme, toast), QmlBridgeNavigation.cpp,
// QmlBridgeAudioInput.cpp, QmlBridgeMeasuring.cpp, QmlBridgeCurves.cpp and QmlBridgeTuning.cpp
// (what the measuring flow needs of the tuning workflows); further areas follow at the end, among
// them QmlBridgeFillAlignment.cpp and QmlBridgeSubwoofer.cpp.
class QmlBridge : public QObject
{
    Q_OBJECT

    // Object, settings and dialogs
    Q_PROPERTY(QVariantMap theme READ theme NOTIFY themeChanged)
    Q_PROPERTY(bool darkMode READ darkMode WRITE setDarkMode NOTIFY themeChanged)
    Q_PROPERTY(QString projectName READ projectName WRITE setProjectName NOTIFY projectChanged)
    Q_PROPERTY(QString roomType READ roomType NOTIFY projectChanged)
    Q_PROPERTY(QString roomHeight READ roomHeight NOTIFY projectChanged)
    Q_PROPERTY(QString programType READ programType NOTIFY projectChanged)
    Q_PROPERTY(bool freshInstall READ freshInstall NOTIFY projectsChanged)
    Q_PROPERTY(bool helpOn READ helpOn WRITE setHelpOn NOTIFY helpChanged)
    Q_PROPERTY(int measureSignalType READ measureSignalType WRITE setMeasureSignalType NOTIFY
                       measureSignalTypeChanged)
    Q_PROPERTY(bool measureGuideHidden READ measureGuideHidden WRITE setMeasureGuideHidden NOTIFY
                       measureGuideHiddenChanged)
    Q_PROPERTY(bool subGuideHidden READ subGuideHidden WRITE setSubGuideHidden NOTIFY
                       subGuideHiddenChanged)
    Q_PROPERTY(bool pointGuideHidden READ pointGuideHidden WRITE setPointGuideHidden NOTIFY
                       pointGuideHiddenChanged)
    Q_PROPERTY(double measureSeconds READ measureSeconds WRITE setMeasureSeconds NOTIFY
                       measureSettingsChanged)
    Q_PROPERTY(double generatorGain READ generatorGain WRITE setGeneratorGain NOTIFY
                       measureSettingsChanged)
    Q_PROPERTY(
            int smoothingBands READ smoothingBands WRITE setSmoothingBands NOTIFY smoothingChanged)
    Q_PROPERTY(QString smoothingLabel READ smoothingLabel NOTIFY smoothingChanged)
    Q_PROPERTY(QString toastText READ toastText NOTIFY toastTextChanged)
    Q_PROPERTY(bool newProjectOpen READ newProjectOpen WRITE setNewProjectOpen NOTIFY
                       newProjectOpenChanged)
    Q_PROPERTY(bool micGuideOpen READ micGuideOpen WRITE setMicGuideOpen NOTIFY micGuideOpenChanged)
    Q_PROPERTY(bool planDetailOpen READ planDetailOpen WRITE setPlanDetailOpen NOTIFY
                       planDetailOpenChanged)
    Q_PROPERTY(bool processorPanelOpen READ processorPanelOpen WRITE setProcessorPanelOpen NOTIFY
                       processorPanelOpenChanged)
    Q_PROPERTY(bool curveWindowOpen READ curveWindowOpen WRITE setCurveWindowOpen NOTIFY
                       curveWindowOpenChanged)
    Q_PROPERTY(bool fillMicGuideOpen READ fillMicGuideOpen WRITE setFillMicGuideOpen NOTIFY
                       fillMicGuideOpenChanged)
    Q_PROPERTY(int curveIndex READ curveIndex WRITE setCurveIndex NOTIFY curveIndexChanged)
    Q_PROPERTY(QObject *processor READ processor CONSTANT)

    // Navigation
    Q_PROPERTY(QString screen READ screen NOTIFY screenChanged)

    // Measuring flow
    Q_PROPERTY(bool measuring READ measuring NOTIFY measuringChanged)
    Q_PROPERTY(bool autoMeasuring READ autoMeasuring NOTIFY measuringChanged)
    Q_PROPERTY(bool computing READ computing NOTIFY computingChanged)
    Q_PROPERTY(QString computeLog READ computeLog NOTIFY computingChanged)
    Q_PROPERTY(double computeProgress READ computeProgress NOTIFY computeProgressChanged)
    Q_PROPERTY(double measureLevel READ measureLevel NOTIFY measureTick)
    Q_PROPERTY(double referenceLevel READ referenceLevel NOTIFY measureTick)
    Q_PROPERTY(double measurePeak READ measurePeak NOTIFY measureTick)
    Q_PROPERTY(double referencePeak READ referencePeak NOTIFY measureTick)
    Q_PROPERTY(double measureProgress READ measureProgress NOTIFY measureTick)
    Q_PROPERTY(int measuredPointCount READ measuredPointCount NOTIFY measurePointsChanged)
    Q_PROPERTY(int currentMeasurePoint READ measuredPointCount NOTIFY measurePointsChanged)
    Q_PROPERTY(bool canCompute READ canCompute NOTIFY measurePointsChanged)
    Q_PROPERTY(bool measureLevelReady READ measureLevelReady NOTIFY measureTick)
    Q_PROPERTY(bool subLevelReady READ measureLevelReady NOTIFY measureTick)
    Q_PROPERTY(double measureLevelGapDb READ measureLevelGapDb NOTIFY measureTick)
    Q_PROPERTY(double subLevelDiffDb READ measureLevelGapDb NOTIFY measureTick)
    Q_PROPERTY(bool subWaitingForLevel READ subWaitingForLevel NOTIFY measureTick)

    // Chart feeds
    Q_PROPERTY(QVariantList measuredCurve READ measuredCurve NOTIFY curveChanged)
    Q_PROPERTY(QVariantList measuringCurve READ measuredCurve NOTIFY curveChanged)
    Q_PROPERTY(QVariantList measuringCurveFlat READ measuringCurveFlat NOTIFY curveChanged)
    Q_PROPERTY(QVariantList measuringCoherence READ measuringCoherence NOTIFY curveChanged)
    Q_PROPERTY(QVariantList measuringCoherenceFlat READ measuringCoherenceFlat NOTIFY curveChanged)
    Q_PROPERTY(QVariantList latestMeasurementCurve READ latestMeasurementCurve NOTIFY curveChanged)
    Q_PROPERTY(
            QVariantList measurementHistoryCurves READ measurementHistoryCurves NOTIFY curveChanged)
    Q_PROPERTY(QVariantList measurementPointCurves READ measurementPointCurves NOTIFY curveChanged)
    Q_PROPERTY(
            QVariantList averageMeasurementCurve READ averageMeasurementCurve NOTIFY curveChanged)
    Q_PROPERTY(double measureCurveCenter READ measureCurveCenter NOTIFY curveChanged)

    // Audio input settings
    Q_PROPERTY(QStringList audioInputDevices READ audioInputDevices NOTIFY audioInputDevicesChanged)
    Q_PROPERTY(QString selectedAudioDevice READ selectedAudioDevice WRITE setSelectedAudioDevice
                       NOTIFY selectedAudioDeviceChanged)
    Q_PROPERTY(QStringList audioInputChannels READ audioInputChannels NOTIFY audioChannelsChanged)
    Q_PROPERTY(int audioDataChannel READ audioDataChannel WRITE setAudioDataChannel NOTIFY
                       audioChannelsChanged)
    Q_PROPERTY(int audioReferenceChannel READ audioReferenceChannel WRITE setAudioReferenceChannel
                       NOTIFY audioChannelsChanged)
    Q_PROPERTY(bool splCalibrated READ splCalibrated NOTIFY splCalibrationChanged)
    Q_PROPERTY(QString splDeviceName READ splDeviceName NOTIFY splCalibrationChanged)
    Q_PROPERTY(double splLevel READ splLevel NOTIFY measureTick)

    // What the measuring flow shares with the tuning workflows
    Q_PROPERTY(QVariantList targets READ targets NOTIFY targetsChanged)
    Q_PROPERTY(int selectedTarget READ selectedTarget WRITE setSelectedTarget NOTIFY targetsChanged)
    Q_PROPERTY(bool subPickingMain READ subPickingMain NOTIFY subPickingMainChanged)

public:
    explicit QmlBridge(QObject *parent = nullptr);
    // With the EQ engine `compute` in place of snt::eq::computeSchemes.
    explicit QmlBridge(EqWorker::Compute compute, QObject *parent = nullptr);
    ~QmlBridge() override;

    AppCore &core() { return *core_; }

    // Object, settings and dialogs
    QVariantMap theme() const;
    bool darkMode() const { return darkMode_; }
    void setDarkMode(bool dark);
    QString projectName() const;
    void setProjectName(const QString &name);
    QString roomType() const;
    QString roomHeight() const;
    QString programType() const;
    bool freshInstall() const;
    bool helpOn() const;
    void setHelpOn(bool on);
    int measureSignalType() const;
    void setMeasureSignalType(int type);
    bool measureGuideHidden() const { return measureGuideHidden_; }
    void setMeasureGuideHidden(bool hidden);
    bool subGuideHidden() const { return subGuideHidden_; }
    void setSubGuideHidden(bool hidden);
    bool pointGuideHidden() const { return pointGuideHidden_; }
    void setPointGuideHidden(bool hidden);
    double measureSeconds() const;
    void setMeasureSeconds(double seconds);
    double generatorGain() const;
    void setGeneratorGain(double db);
    int smoothingBands() const { return smoothingBands_; }
    void setSmoothingBands(int bands);
    QString smoothingLabel() const;
    QString toastText() const { return toastText_; }
    bool newProjectOpen() const { return newProjectOpen_; }
    void setNewProjectOpen(bool open);
    bool micGuideOpen() const { return micGuideOpen_; }
    void setMicGuideOpen(bool open);
    bool planDetailOpen() const { return planDetailOpen_; }
    void setPlanDetailOpen(bool open);
    bool processorPanelOpen() const { return processorPanelOpen_; }
    void setProcessorPanelOpen(bool open);
    bool curveWindowOpen() const { return curveWindowOpen_; }
    void setCurveWindowOpen(bool open);
    bool fillMicGuideOpen() const { return fillMicGuideOpen_; }
    void setFillMicGuideOpen(bool open);
    int curveIndex() const { return curveIndex_; }
    void setCurveIndex(int index);
    QObject *processor() const;

    Q_INVOKABLE void toast(const QString &text);
    Q_INVOKABLE void clearToast();
    Q_INVOKABLE void saveWindowState(const QString &key, double x, double y, double w, double h);
    Q_INVOKABLE QVariantMap windowState(const QString &key) const;

    // Navigation
    QString screen() const { return screen_; }
    Q_INVOKABLE void go(const QString &name);
    Q_INVOKABLE void back();
    Q_INVOKABLE void home();
    QStringList history() const { return history_; }

    // Measuring flow
    bool measuring() const { return measuring_; }
    bool autoMeasuring() const { return measuring_ && armed_; }
    bool computing() const;
    QString computeLog() const;
    double computeProgress() const;
    double measureLevel() const { return measureLevel_; }
    double referenceLevel() const { return referenceLevel_; }
    double measurePeak() const { return measurePeak_; }
    double referencePeak() const { return referencePeak_; }
    double measureProgress() const { return measureProgress_; }
    int measuredPointCount() const { return int(points_.size()); }
    bool canCompute() const { return points_.size() >= 3; }
    bool measureLevelReady() const { return levelWindow_.ready(); }
    double measureLevelGapDb() const { return levelWindow_.gapDb(); }
    bool subWaitingForLevel() const { return subWaitingForLevel_; }
    bool lineArrayMode() const { return lineArray_; }

    Q_INVOKABLE void startMeasure();
    Q_INVOKABLE void stopMeasure();
    Q_INVOKABLE void measurePrimaryAction();
    Q_INVOKABLE void levelCalibrate();
    Q_INVOKABLE void arrayPrimaryAction();
    Q_INVOKABLE void arrayStop();
    Q_INVOKABLE void discardMeasurement();
    Q_INVOKABLE void stopAnyAction();
    Q_INVOKABLE void beginMeasurement();
    Q_INVOKABLE void beginArrayMeasurement();
    Q_INVOKABLE void startMeasureFlow();
    Q_INVOKABLE void nextMeasurement();
    Q_INVOKABLE void computeNow();
    Q_INVOKABLE void startCompute();
    Q_INVOKABLE QVariantMap coherenceQuality() const;

    // Chart feeds
    QVariantList measuredCurve() const;
    QVariantList measuringCurveFlat() const;
    QVariantList measuringCoherence() const;
    QVariantList measuringCoherenceFlat() const;
    QVariantList latestMeasurementCurve() const;
    QVariantList measurementHistoryCurves() const;
    QVariantList measurementPointCurves() const;
    QVariantList averageMeasurementCurve() const;
    double measureCurveCenter() const;

    // Audio input settings
    QStringList audioInputDevices() const;
    QString selectedAudioDevice() const;
    void setSelectedAudioDevice(const QString &name);
    QStringList audioInputChannels() const;
    int audioDataChannel() const;
    void setAudioDataChannel(int channel);
    int audioReferenceChannel() const;
    void setAudioReferenceChannel(int channel);
    bool splCalibrated() const { return splCalibrated_; }
    QString splDeviceName() const { return splDeviceName_; }
    double splLevel() const;
    Q_INVOKABLE void refreshAudioDevices();

    // What the measuring flow shares with the tuning workflows
    QVariantList targets() const { return targets_; }
    int selectedTarget() const;
    void setSelectedTarget(int index);
    bool subPickingMain() const { return subPickingMain_; }
    static int subStageIndex(const QString &name);

public slots:
    // One poll of the running measurement; the tick timer calls it every 33 ms.
    void onMeasureTick();
    void onSessionFailed(const QString &message);

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

private:
    void connectCore();

    // Navigation
    void setScreen(const QString &name, bool push);
    void leaveDeliveryScreen();
    void endRunOnLeaving();
    void stopFlowRun();
    static bool isMeasuringScreen(const QString &name);
    static bool isSubScreen(const QString &name);

    // Measuring flow
    void startMeasurementRun(bool armed);
    void captureMeasurement();
    void stopRun();
    void endRunWithoutCapture();
    void clearResult();
    void clearPoints();
    void resetLevels();
    void silenceMeters();
    void resetRunState();
    void forgetSavedPack();
    void averageCurves();
    void holdProgress();
    void updateProgress();
    void takeLiveCurve(const snt::eq::Measured &live);
    void takePoint();
    void armRun();
    void clearFlow(bool lineArray);
    void onComputeFinished();
    bool hasMeasuredCurve() const;
    qint64 now() const;

    // Chart feeds
    DisplaySource liveAbsoluteSource() const;
    bool hasMeasuredCoherence() const;
    QVariantList liveRelativeCurve() const;
    QVariantList pointCurve(qsizetype index) const;
    void resmoothLiveCurves();

    // Audio input settings
    void refreshSplCalibration();
    QString currentSystemDeviceId(const QString &name) const;

    // What the measuring flow shares with the tuning workflows
    void buildTargets();
    void prepareSelectedTarget();
    void restoreSchemeEntry(int index);
    void captureSubMeasure();
    void captureFillAlign();
    void captureSubAlign();

    // Members in construction order: the core first, the tick timer before the processor
    // client, the client before the pack-save timer.
    std::unique_ptr<AppCore> core_;
    QString screen_;
    QStringList history_;

    bool darkMode_ = true;
    bool measuring_ = false;
    bool cancelRequested_ = false;
    bool armed_ = false;
    bool lineArray_ = false;

    int fillCaptureMarker_ = -1;

    int subStep_ = 0;
    bool subCalibrating_ = false;
    bool subPickingMain_ = false;
    bool subWaitingForLevel_ = false;
    LevelWindow levelWindow_;
    int subCaptureMarker_ = -1;
    int subAlignCaptureMarker_ = -1;

    double measureLevel_ = -100.0;
    double uncalibratedSpl_ = -100.0; // the sound level before the calibrated card's offset
    bool splCalibrated_ = false;
    QString splDeviceName_;
    double referenceLevel_ = -100.0;
    double measurePeak_ = -100.0;
    double referencePeak_ = -100.0;
    double measureProgress_ = 0.0;
    qint64 runStart_ = 0;

    QTimer tickTimer_;

    QVariantList targets_;
    int curveIndex_ = 0;
    bool measureGuideHidden_ = false;
    bool subGuideHidden_ = false;

    QList<snt::eq::Measured> points_;
    QVariantList lineArrayAverage_;

    bool savedPackValid_ = false;
    int smoothingBands_ = 6;
    QString toastText_;

    bool newProjectOpen_ = false;
    bool micGuideOpen_ = false;
    bool pointGuideHidden_ = false;
    bool planDetailOpen_ = false;
    bool processorPanelOpen_ = false;

    std::unique_ptr<ProcessorClient> processor_;

    bool curveWindowOpen_ = false;
    bool fillMicGuideOpen_ = false;
    int bandEditMarker_ = 0;
    snt::eq::CornerEstimate workingCorners_;
    bool cornersPrepared_ = false;

    QList<snt::eq::Scheme> savedSchemes_;
    QString savedPackName_;
    int savedPackScheme_ = -1;

    snt::eq::Measured resultSnapshot_;

    QTimer packSaveTimer_;

    // Display curves kept while the lists they were made from stay the same.
    std::unique_ptr<CurveFeedCache> feeds_;

    // Every further area declares its members in one block of its own under its heading below
    // (properties, public members, signals, then private members, each with its access
    // specifier) and defines them in a source file of its own, QmlBridge<Area>.cpp.

    // Projects and curve packs
    Q_PROPERTY(QVariantList projects READ projects NOTIFY projectsChanged)
    Q_PROPERTY(QVariantList rootPacks READ rootPacks NOTIFY curvePacksChanged)

public:
    QVariantList projects() const;
    Q_INVOKABLE void openProject(int index);
    Q_INVOKABLE void createProject(const QString &name);
    Q_INVOKABLE bool createProjectInWindow(const QString &name);
    Q_INVOKABLE bool renameProject(const QString &oldName, const QString &newName);
    Q_INVOKABLE void deleteProject(int index);

    QVariantList rootPacks() const;
    Q_INVOKABLE QVariantMap curvePackDetail(int index);
    Q_INVOKABLE bool movePack(int from, int before, const QString &project);
    Q_INVOKABLE bool deleteCurvePack(int index);
    Q_INVOKABLE void openCurveWindow();
    Q_INVOKABLE bool exportCurvePack(int index);

private:
    bool isListedProject(const QString &name) const;
    QString projectNameProblem(const QString &name) const;
    bool refuseProjectName(const QString &name, bool takenToo);
    bool saveProjectAs(const QString &name);
    QVariantMap curvePackSummary(const CurvePack &pack, int index) const;

    // Saving results as curve packs
    Q_PROPERTY(QVariantList curveBundles READ curveBundles NOTIFY curveBundlesChanged)

public:
    QVariantList curveBundles() const;
    Q_INVOKABLE void saveSelectedPack();
    Q_INVOKABLE bool loadCurveFile(const QString &path);

signals:
    void curveBundlesChanged();

private:
    void takeArrayPoints(CurvePack &pack) const;
    void savePendingPacks();
    void flushPendingPackSave();
    void rebuildPackCurves();
    int curveBundleCount() const;

    // What the bundles of a result are made from, as it stood when they were last rebuilt: they
    // are made when first read, since each scheme's preview costs milliseconds and a caller
    // without screens (the headless batch) never reads them.
    struct BundleSources
    {
        QList<snt::eq::Scheme> schemes;
        snt::eq::Measured snapshot;
        snt::eq::Measured current;
        QString time;
    };
    mutable QVariantList curveBundles_;
    mutable std::optional<BundleSources> bundleSources_;

    static QString localFilePath(const QString &path);

    // System audio check
    Q_PROPERTY(QVariantList systemChecks READ systemChecks NOTIFY systemChecksChanged)

public:
    QVariantList systemChecks() const { return systemChecks_; }
    // The check and the fixes run on a thread of their own: the list arrives with
    // systemChecksChanged when they are done, and a fix's outcome as a toast.
    Q_INVOKABLE void runSystemCheck();
    // Returns at once with a line for the screens to show while the fixes run.
    Q_INVOKABLE QString applySystemFixes();
    Q_INVOKABLE void openSystemAction(const QString &action);
    Q_INVOKABLE void openMicPrivacySettings();

signals:
    void systemChecksChanged();

private:
    SystemCheckRunner *makeSystemCheckRunner();
    void setSystemChecks(const QVariantList &items);

    QVariantList systemChecks_;
    // Made and wired as the bridge is built; a child of the bridge.
    SystemCheckRunner *systemCheckRunner_ = makeSystemCheckRunner();

    // Update check
    Q_PROPERTY(bool updateAvailable READ updateAvailable NOTIFY updateChanged)
    Q_PROPERTY(QString updateVersion READ updateVersion NOTIFY updateChanged)
    Q_PROPERTY(QString updateDate READ updateDate NOTIFY updateChanged)
    Q_PROPERTY(QString updateNotes READ updateNotes NOTIFY updateChanged)
    Q_PROPERTY(QString updateError READ updateError NOTIFY updateChanged)
    Q_PROPERTY(bool updating READ updating NOTIFY updateChanged)
    Q_PROPERTY(double updateProgress READ installerProgress NOTIFY updateChanged)
    Q_PROPERTY(bool updateDialogOpen READ updateDialogOpen WRITE setUpdateDialogOpen NOTIFY
                       updateDialogOpenChanged)

public:
    bool updateAvailable() const;
    QString updateVersion() const;
    QString updateDate() const;
    QString updateNotes() const;
    QString updateError() const;
    bool updating() const;
    double installerProgress() const;
    bool updateDialogOpen() const { return updateDialogOpen_; }
    void setUpdateDialogOpen(bool open);
    // Also run once, 4 s after the bridge is made.
    Q_INVOKABLE void checkForUpdates();
    Q_INVOKABLE void startUpdate();

signals:
    void updateChanged();
    void updateDialogOpenChanged();

private:
    UpdateChecker *makeUpdateChecker();

    bool updateDialogOpen_ = false;
    // Made and wired as the bridge is built; a child of the bridge.
    UpdateChecker *updateChecker_ = makeUpdateChecker();

    // Calibration files
    Q_PROPERTY(QVariantMap calibrationInfo READ calibrationInfo NOTIFY calibrationChanged)
    Q_PROPERTY(QVariantList calibrationMicFiles READ calibrationMicFiles NOTIFY calibrationChanged)
    Q_PROPERTY(QVariantList calibrationCalFiles READ calibrationCalFiles NOTIFY calibrationChanged)
    Q_PROPERTY(QString calibrationError READ calibrationError NOTIFY calibrationChanged)
    // The data folder's calibration folder, where the file dialogs open.
    Q_PROPERTY(QUrl calibrationFolder READ calibrationFolder CONSTANT)

public:
    QVariantMap calibrationInfo() const;
    QUrl calibrationFolder() const;
    QVariantList calibrationMicFiles() const;
    QVariantList calibrationCalFiles() const;
    QString calibrationError() const { return calibrationError_; }
    Q_INVOKABLE bool setCalibrationFile(int slot, const QString &path);
    Q_INVOKABLE void clearCalibrationFile(int slot);

private:
    QString importCalibrationFile(int slot, const QString &path) const;

    QString calibrationError_;

    // Tuning workflows: schemes and targets, bands and corners, delivery, fill and subwoofer
    // alignment

    // Scheme choice, band and corner editing, EQ delivery (QmlBridgeDelivery.cpp)
    Q_PROPERTY(QVariantList schemes READ schemes NOTIFY schemesChanged)
    Q_PROPERTY(int selectedScheme READ selectedScheme WRITE setSelectedScheme NOTIFY schemesChanged)
    Q_PROPERTY(QVariantList schemeBefore READ schemeBefore NOTIFY schemesChanged)
    Q_PROPERTY(QVariantList schemeAfter READ schemeAfter NOTIFY schemesChanged)
    Q_PROPERTY(QVariantList schemeTarget READ schemeTarget NOTIFY schemesChanged)
    Q_PROPERTY(QVariantList schemeCoherence READ schemeCoherence NOTIFY schemesChanged)
    Q_PROPERTY(QVariantList eqBands READ eqBands NOTIFY schemesChanged)
    Q_PROPERTY(QVariantMap corners READ corners NOTIFY schemesChanged)

public:
    QVariantList schemes() const;
    int selectedScheme() const;
    void setSelectedScheme(int index);
    QVariantList schemeBefore() const;
    QVariantList schemeAfter() const;
    QVariantList schemeTarget() const;
    QVariantList schemeCoherence() const;
    QVariantList eqBands() const;
    QVariantMap corners() const;
    Q_INVOKABLE void selectScheme(int index) { setSelectedScheme(index); }
    Q_INVOKABLE void selectTarget(int index) { setSelectedTarget(index); }
    Q_INVOKABLE QVariantMap schemeCurves(int index) const;
    // The entries of `schemes` without their preview curves, for a reader that needs only the
    // figures (the headless batch): the previews are most of what a list costs.
    Q_INVOKABLE QVariantList schemeSummaries() const;
    Q_INVOKABLE void enterScheme(int index);
    Q_INVOKABLE void addEqBand();
    Q_INVOKABLE void removeEqBand(int index);
    Q_INVOKABLE void setEqBandEnabled(int index, bool enabled);
    Q_INVOKABLE void updateEqBand(int index, double freq, double q, double gainDb);
    Q_INVOKABLE void updateCorner(const QString &kind, double hz, double slopeDbOct);
    Q_INVOKABLE void updateCornerType(const QString &kind, const QString &type);
    Q_INVOKABLE void copyCurrentParams();
    Q_INVOKABLE bool exportCurrentPack();
    Q_INVOKABLE QVariantMap uploadEqToOfficial(bool isOut, int idx);
    Q_INVOKABLE QVariantMap exportEqToProcessor(const QString &target);
    // Where the converter program is looked for; the program's own folder by default.
    void setConverterFolder(const QString &folder) { converter_.setConverterFolder(folder); }
    // The processor list of the current screen's result; false with `error` naming `verb`.
    bool collectProcessorEq(ProcessorEqList &list, const QString &verb, QString &error) const;

private:
    bool hasSelectedScheme() const;
    snt::eq::Measured currentMeasurement() const;
    QVariantMap schemePreviewMap(const snt::eq::Scheme &scheme) const;
    QList<QVariantMap> schemePreviewMaps() const; // of every scheme, in order
    QVariantMap selectedSchemeCurves() const;
    QVariantList selectedCurve(const QString &key) const;
    snt::eq::CornerEstimate shownCorners() const;
    bool prepareCorners();
    bool editSelectedBands(const std::function<bool(QList<snt::eq::SchemeBand> &)> &edit);
    void editCorner(const QString &kind, const std::function<bool(snt::eq::Corner &)> &edit);
    void applySelectedScheme();
    void syncSchemeToPack();
    QJsonObject currentPresetJson() const;
    // Puts the preset on the clipboard as indented text and tells the engineer.
    void copyPreset(const QJsonObject &preset);

    mutable SchemePreviews previews_;
    ConverterExport converter_;
    // Fill alignment (QmlBridgeFillAlignment.cpp)
    Q_PROPERTY(int fillAlignStep READ fillAlignStep NOTIFY fillAlignChanged)
    Q_PROPERTY(double fillAlignDelayMs READ fillAlignDelayMs NOTIFY fillAlignChanged)
    Q_PROPERTY(QVariantList fillPulseMain READ fillPulseMain NOTIFY fillAlignChanged)
    Q_PROPERTY(QVariantList fillPulseFill READ fillPulseFill NOTIFY fillAlignChanged)
    Q_PROPERTY(double fillPulseMainX READ fillPulseMainX NOTIFY fillAlignChanged)
    Q_PROPERTY(double fillPulseFillX READ fillPulseFillX NOTIFY fillAlignChanged)

public:
    int fillAlignStep() const;
    double fillAlignDelayMs() const;
    QVariantList fillPulseMain() const;
    QVariantList fillPulseFill() const;
    double fillPulseMainX() const { return FillAlignment::mainPulseX; }
    double fillPulseFillX() const { return FillAlignment::fillPulseX; }
    Q_INVOKABLE void beginFillAlign();
    Q_INVOKABLE void fillAlignPlay();
    Q_INVOKABLE void fillAlignMeasure();
    Q_INVOKABLE void fillAlignStop();
    Q_INVOKABLE void loadFillAlignDemo(int step, double delayMs);

signals:
    void fillAlignChanged();

private:
    FillAlignment fill_;

    // Subwoofer crossover and its time alignment (QmlBridgeSubwoofer.cpp)
    Q_PROPERTY(int subStep READ subStep NOTIFY subChanged)
    Q_PROPERTY(int subLift READ subLift NOTIFY subChanged)
    Q_PROPERTY(int subMeasured READ subMeasured NOTIFY subChanged)
    Q_PROPERTY(bool subCalibrating READ subCalibrating NOTIFY subChanged)
    Q_PROPERTY(QVariantMap subInfo READ subInfo NOTIFY subChanged)
    Q_PROPERTY(QVariantList subMainPacks READ subMainPacks NOTIFY curvePacksChanged)
    Q_PROPERTY(QVariantList subBefore READ subBefore NOTIFY subChanged)
    Q_PROPERTY(QVariantList subRaw READ subRaw NOTIFY subChanged)
    Q_PROPERTY(QVariantList subCalc READ subCalc NOTIFY subChanged)
    Q_PROPERTY(QVariantList subAfter READ subAfter NOTIFY subChanged)
    Q_PROPERTY(QVariantList subTarget READ subTarget NOTIFY subChanged)
    Q_PROPERTY(QVariantList subMainCurve READ subMainCurve NOTIFY subChanged)
    Q_PROPERTY(QVariantList subMainCoherence READ subMainCoherence NOTIFY subChanged)
    Q_PROPERTY(QVariantList subSubCoherence READ subSubCoherence NOTIFY subChanged)
    Q_PROPERTY(QVariantList subEqBands READ subEqBands NOTIFY subChanged)
    Q_PROPERTY(int subAlignStage READ subAlignStage NOTIFY subChanged)
    Q_PROPERTY(bool subAlignAligned READ subAlignAligned NOTIFY subChanged)
    Q_PROPERTY(double subAlignDelayMs READ subAlignDelayMs NOTIFY subChanged)
    Q_PROPERTY(bool subAlignInvert READ subAlignInvert NOTIFY subChanged)
    Q_PROPERTY(double subAlignMainDelayMs READ subAlignMainDelayMs NOTIFY subChanged)
    Q_PROPERTY(QVariantList subAlignMainCurve READ subAlignMainCurve NOTIFY subChanged)
    Q_PROPERTY(QVariantList subAlignMainCoherence READ subAlignMainCoherence NOTIFY subChanged)
    Q_PROPERTY(QVariantList subAlignSubCurve READ subAlignSubCurve NOTIFY subChanged)
    Q_PROPERTY(QVariantList subAlignSubCoherence READ subAlignSubCoherence NOTIFY subChanged)
    Q_PROPERTY(QVariantList subAlignCoupled READ subAlignCoupled NOTIFY subChanged)

public:
    int subStep() const { return subStep_; }
    int subLift() const;
    int subMeasured() const;
    bool subCalibrating() const { return subCalibrating_; }
    QVariantMap subInfo() const;
    QVariantList subMainPacks() const;
    QVariantList subBefore() const;
    QVariantList subRaw() const;
    QVariantList subCalc() const;
    QVariantList subAfter() const;
    QVariantList subTarget() const;
    QVariantList subMainCurve() const;
    QVariantList subMainCoherence() const;
    QVariantList subSubCoherence() const;
    QVariantList subEqBands() const;
    int subAlignStage() const;
    bool subAlignAligned() const;
    double subAlignDelayMs() const;
    bool subAlignInvert() const;
    double subAlignMainDelayMs() const;
    QVariantList subAlignMainCurve() const;
    QVariantList subAlignMainCoherence() const;
    QVariantList subAlignSubCurve() const;
    QVariantList subAlignSubCoherence() const;
    QVariantList subAlignCoupled() const;

    Q_INVOKABLE void beginSubXover();
    Q_INVOKABLE void subRestart();
    Q_INVOKABLE void subShowGuide();
    Q_INVOKABLE void subGuideDone();
    Q_INVOKABLE void subPickMain();
    Q_INVOKABLE void subTrySetMainFromPack(int index);
    Q_INVOKABLE bool subLoadMainPack(int index);
    Q_INVOKABLE void subLevelCalibrate();
    Q_INVOKABLE void subMeasure();
    Q_INVOKABLE void subCompute();
    Q_INVOKABLE void subSetLift(int lift);
    Q_INVOKABLE void subStop();
    Q_INVOKABLE void subAddEqBand();
    Q_INVOKABLE void subSetEqEnabled(int index, bool enabled);
    Q_INVOKABLE void subUpdateEq(int index, double freq, double q, double gainDb);
    Q_INVOKABLE void subUpdateCorner(const QString &side, double hz, int slopeDb);
    Q_INVOKABLE void subUpdateCornerType(const QString &side, const QString &kind);
    Q_INVOKABLE void subGotoAlign();
    Q_INVOKABLE void subAlignRestart();
    Q_INVOKABLE void subAlignMeasure();
    Q_INVOKABLE void loadSubXoverDemo(int step);
    Q_INVOKABLE void copySubParams();
    Q_INVOKABLE bool exportSubPack();
    // Saves the aligned result as a curve pack; also the start-up option that saves the demo.
    Q_INVOKABLE void saveSubAlignPack();

private:
    void showSubStage(int stage);
    void showDesign();
    void recomputeSubXover();
    void resetSubAlignment();
    QJsonObject subPresetJson() const;
    SubwooferCrossover subXover_;
    SubwooferAlignment subAlign_;
};
