#include "app/QmlBridge.h"

#include "app/AppCore.h"
#include "app/CurveFeedCache.h"
#include "app/MeasureSession.h"
#include "audio/Client.h"
#include "engine/CalibrationManager.h"
#include "eq/SchemeEngine.h"
#include "processor/ProcessorClient.h"

#include <QSettings>

#include <algorithm>
#include <cmath>

namespace {

const QString smoothingKey = QStringLiteral("curve/smoothingBandsV2");
const QString themeKey = QStringLiteral("ui/theme");
const QString helpKey = QStringLiteral("ui/helpOn");
const QString signalTypeKey = QStringLiteral("measure/signalType");
const QString measureGuideKey = QStringLiteral("measure/guideHidden");
const QString subGuideKey = QStringLiteral("sub/guideHidden");
const QString pointGuideKey = QStringLiteral("point/guideHidden");

constexpr int engineSmoothing = 6; // the EQ engine always works at 1/6 octave
constexpr int defaultSignalType = 2; // the music signal
constexpr int tickMs = 33;
constexpr int packSaveDelayMs = 350;

// The display smoothings a user can pick; anything else reads as 1/6 octave.
int allowedSmoothing(int bands)
{
    return bands == 0 || bands == 3 || bands == 6 || bands == 12 || bands == 48 ? bands : 6;
}

// Doubles count as equal within a relative 1e-12, so a value read back from a float or a setting
// does not look like a change.
bool fuzzyEqual(double a, double b)
{
    return std::abs(a - b) * 1e12 <= std::min(std::abs(a), std::abs(b));
}

struct ThemeColour
{
    const char *key;
    const char *dark;
    const char *light;
};

// "#RRGGBB", or "#AARRGGBB" with the alpha first.
constexpr ThemeColour themeColours[] = {
        {"bg", "#08090A", "#FFFFFF"},
        {"bgBlue", "#083988", "#083988"},
        {"blue", "#083988", "#083988"},
        {"blueDeep", "#073278", "#073278"},
        {"card", "#9E0F0F13", "#F2FFFFFF"},
        {"cardSolid", "#0F0F13", "#FFFFFF"},
        {"cardBlue", "#B8073278", "#B8073278"},
        {"text", "#FFFFFF", "#0A0A0A"},
        {"text70", "#B3FFFFFF", "#0A0A0A"},
        {"text50", "#80FFFFFF", "#80000000"},
        {"line", "#1FFFFFFF", "#1F000000"},
        {"line25", "#40FFFFFF", "#40000000"},
        {"line06", "#0FFFFFFF", "#0F000000"},
        {"glow", "#4A8EFF", "#4A8EFF"},
        {"accent", "#D9E2FF", "#D9E2FF"},
        {"danger", "#FF4D4D", "#D92E2E"},
        {"icon", "#FFFFFF", "#0A0A0A"},
        {"onBlue", "#FFFFFF", "#FFFFFF"},
        {"chartLine", "#FFFFFF", "#0A0A0A"},
        {"chartLine2", "#B3FFFFFF", "#990A0A0A"},
        {"chartGrid", "#1FFFFFFF", "#16000000"},
        {"chartAxis", "#40FFFFFF", "#33000000"},
        {"chartLabel", "#FFFFFF", "#0A0A0A"},
        {"chartCoherence", "#FFFFFF", "#0A0A0A"},
        {"chartFill", "#38FFFFFF", "#260A0A0A"},
        {"chartTarget", "#4A8EFF", "#2F6BFF"},
};

QString windowKey(const QString &key, const char *field)
{
    return QStringLiteral("window/%1/%2").arg(key, QLatin1String(field));
}

// Stores a changed flag, writes its setting and tells the screens.
template<typename Signal>
void setStoredFlag(QmlBridge *bridge, bool &flag, bool value, const QString &key, Signal changed)
{
    if (flag == value)
        return;
    flag = value;
    QSettings().setValue(key, value);
    emit(bridge->*changed)();
}

template<typename Signal>
void setFlag(QmlBridge *bridge, bool &flag, bool value, Signal changed)
{
    if (flag == value)
        return;
    flag = value;
    emit(bridge->*changed)();
}

} // namespace

QmlBridge::QmlBridge(QObject *parent)
    : QmlBridge(snt::eq::computeSchemes, parent)
{ }

QmlBridge::QmlBridge(EqWorker::Compute compute, QObject *parent)
    : QObject(parent)
    , core_(std::make_unique<AppCore>(nullptr, std::move(compute)))
    , screen_(QStringLiteral("主页"))
    , processor_(std::make_unique<ProcessorClient>())
    , feeds_(std::make_unique<CurveFeedCache>())
{
    {
        QSettings settings;
        smoothingBands_ = allowedSmoothing(settings.value(smoothingKey, 6).toInt());
        darkMode_ = settings.value(themeKey).toString() != QLatin1String("light");
        measureGuideHidden_ = settings.value(measureGuideKey, false).toBool();
        subGuideHidden_ = settings.value(subGuideKey, false).toBool();
        pointGuideHidden_ = settings.value(pointGuideKey, false).toBool();
    }
    core_->eqSmoothing = engineSmoothing;

    tickTimer_.setInterval(tickMs);
    connect(&tickTimer_, &QTimer::timeout, this, &QmlBridge::onMeasureTick);
    packSaveTimer_.setSingleShot(true);
    packSaveTimer_.setInterval(packSaveDelayMs);
    connect(&packSaveTimer_, &QTimer::timeout, this, &QmlBridge::savePendingPacks);
    connectCore();
    connect(CalibrationManager::instance(), &CalibrationManager::warningRaised, this,
            [this](const QString &title, const QString &text) {
                toast(QStringLiteral("%1 · %2").arg(title, text));
            });

    core_->selectedTarget = 1;
    buildTargets();
    rebuildPackCurves();

    if (const auto client = audio::Client::instance())
        connect(client.get(), &audio::Client::deviceListChanged, this,
                &QmlBridge::refreshSplCalibration);
    refreshSplCalibration();
}

QmlBridge::~QmlBridge()
{
    tickTimer_.stop();
    flushPendingPackSave();
    core_->waitForBackgroundSave();
    core_->releaseSession();
}

void QmlBridge::connectCore()
{
    connect(core_.get(), &AppCore::computeFinished, this, &QmlBridge::onComputeFinished);
    connect(core_.get(), &AppCore::computeProgressChanged, this,
            [this] { emit computeProgressChanged(); });
    connect(core_.get(), &AppCore::toastRequested, this, &QmlBridge::toast);
    // Queued: the session that failed is still emitting, and ending the run deletes it.
    connect(core_.get(), &AppCore::sessionFailed, this, &QmlBridge::onSessionFailed,
            Qt::QueuedConnection);
    connect(core_.get(), &AppCore::curvePacksSaved, this, [this](bool allWritten) {
        if (!allWritten)
            toast(QStringLiteral("曲线的改动没存上，请检查文档文件夹能否写入"));
    });
    connect(core_.get(), &AppCore::soonRequested, this,
            [this] { toast(QStringLiteral("这一项还在内测")); });
}

QVariantMap QmlBridge::theme() const
{
    QVariantMap map{{QStringLiteral("dark"), darkMode_}};
    for (const ThemeColour &colour : themeColours)
        map.insert(QLatin1String(colour.key),
                   QLatin1String(darkMode_ ? colour.dark : colour.light));
    return map;
}

void QmlBridge::setDarkMode(bool dark)
{
    QSettings().setValue(themeKey, dark ? QStringLiteral("dark") : QStringLiteral("light"));
    setFlag(this, darkMode_, dark, &QmlBridge::themeChanged);
}

QString QmlBridge::projectName() const
{
    return core_->projectName;
}

void QmlBridge::setProjectName(const QString &name)
{
    if (core_->projectName == name)
        return;
    core_->projectName = name;
    emit projectChanged();
}

QString QmlBridge::roomType() const
{
    return core_->roomType;
}

QString QmlBridge::roomHeight() const
{
    return core_->roomHeight;
}

QString QmlBridge::programType() const
{
    return core_->programType;
}

bool QmlBridge::freshInstall() const
{
    return core_->freshInstall;
}

bool QmlBridge::helpOn() const
{
    return QSettings().value(helpKey, true).toBool();
}

void QmlBridge::setHelpOn(bool on)
{
    QSettings settings;
    if (settings.value(helpKey, true).toBool() == on)
        return;
    settings.setValue(helpKey, on);
    emit helpChanged();
}

int QmlBridge::measureSignalType() const
{
    return std::clamp(QSettings().value(signalTypeKey, defaultSignalType).toInt(), 0, 2);
}

void QmlBridge::setMeasureSignalType(int type)
{
    type = std::clamp(type, 0, 2);
    QSettings settings;
    if (settings.value(signalTypeKey, defaultSignalType).toInt() == type)
        return;
    settings.setValue(signalTypeKey, type);
    emit measureSignalTypeChanged();
}

void QmlBridge::setMeasureGuideHidden(bool hidden)
{
    setStoredFlag(this, measureGuideHidden_, hidden, measureGuideKey,
                  &QmlBridge::measureGuideHiddenChanged);
}

void QmlBridge::setSubGuideHidden(bool hidden)
{
    setStoredFlag(this, subGuideHidden_, hidden, subGuideKey, &QmlBridge::subGuideHiddenChanged);
}

void QmlBridge::setPointGuideHidden(bool hidden)
{
    setStoredFlag(this, pointGuideHidden_, hidden, pointGuideKey,
                  &QmlBridge::pointGuideHiddenChanged);
}

double QmlBridge::measureSeconds() const
{
    return core_->measureSeconds;
}

void QmlBridge::setMeasureSeconds(double seconds)
{
    seconds = std::clamp(seconds, 2.0, 60.0);
    if (fuzzyEqual(seconds, core_->measureSeconds))
        return;
    core_->measureSeconds = seconds;
    emit measureSettingsChanged();
}

double QmlBridge::generatorGain() const
{
    return core_->generatorGain;
}

void QmlBridge::setGeneratorGain(double db)
{
    db = std::clamp(db, -60.0, 12.0);
    if (fuzzyEqual(db, core_->generatorGain))
        return;
    core_->generatorGain = float(db);
    if (MeasureSession *session = core_->session())
        session->setGeneratorGain(core_->generatorGain);
    emit measureSettingsChanged();
}

void QmlBridge::setSmoothingBands(int bands)
{
    bands = allowedSmoothing(bands);
    if (bands == smoothingBands_)
        return;
    smoothingBands_ = bands;
    core_->eqSmoothing = engineSmoothing;
    {
        QSettings settings;
        settings.setValue(smoothingKey, bands);
        settings.sync();
    }
    emit smoothingChanged();
    resmoothLiveCurves();
    emit subChanged();
    rebuildPackCurves();
    emit curveChanged();
    emit schemesChanged();
    emit curvePacksChanged();
    emit projectsChanged();
}

QString QmlBridge::smoothingLabel() const
{
    switch (smoothingBands_) {
    case 0:
        return QStringLiteral("不平滑");
    case 3:
        return QStringLiteral("1/3 OCT");
    case 12:
        return QStringLiteral("1/12 OCT");
    case 48:
        return QStringLiteral("1/48 OCT");
    default:
        return QStringLiteral("1/6 OCT");
    }
}

void QmlBridge::setNewProjectOpen(bool open)
{
    setFlag(this, newProjectOpen_, open, &QmlBridge::newProjectOpenChanged);
}

void QmlBridge::setMicGuideOpen(bool open)
{
    setFlag(this, micGuideOpen_, open, &QmlBridge::micGuideOpenChanged);
}

void QmlBridge::setPlanDetailOpen(bool open)
{
    setFlag(this, planDetailOpen_, open, &QmlBridge::planDetailOpenChanged);
}

void QmlBridge::setProcessorPanelOpen(bool open)
{
    if (open)
        setFlag(this, curveWindowOpen_, false, &QmlBridge::curveWindowOpenChanged);
    setFlag(this, processorPanelOpen_, open, &QmlBridge::processorPanelOpenChanged);
}

void QmlBridge::setCurveWindowOpen(bool open)
{
    if (open)
        setFlag(this, processorPanelOpen_, false, &QmlBridge::processorPanelOpenChanged);
    else
        setFlag(this, subPickingMain_, false, &QmlBridge::subPickingMainChanged);
    setFlag(this, curveWindowOpen_, open, &QmlBridge::curveWindowOpenChanged);
}

void QmlBridge::setFillMicGuideOpen(bool open)
{
    setFlag(this, fillMicGuideOpen_, open, &QmlBridge::fillMicGuideOpenChanged);
}

void QmlBridge::setCurveIndex(int index)
{
    index = std::clamp(index, 0, std::max(curveBundleCount() - 1, 0));
    if (index == curveIndex_)
        return;
    curveIndex_ = index;
    emit curveIndexChanged();
}

QObject *QmlBridge::processor() const
{
    return processor_.get();
}

void QmlBridge::toast(const QString &text)
{
    toastText_ = text;
    emit toastTextChanged();
}

void QmlBridge::clearToast()
{
    if (toastText_.isEmpty())
        return;
    toast(QString());
}

void QmlBridge::saveWindowState(const QString &key, double x, double y, double w, double h)
{
    QSettings settings;
    settings.setValue(windowKey(key, "x"), x);
    settings.setValue(windowKey(key, "y"), y);
    settings.setValue(windowKey(key, "w"), w);
    settings.setValue(windowKey(key, "h"), h);
}

QVariantMap QmlBridge::windowState(const QString &key) const
{
    QSettings settings;
    return {{QStringLiteral("x"), settings.value(windowKey(key, "x"), -1.0).toDouble()},
            {QStringLiteral("y"), settings.value(windowKey(key, "y"), -1.0).toDouble()},
            {QStringLiteral("width"), settings.value(windowKey(key, "w"), 0.0).toDouble()},
            {QStringLiteral("height"), settings.value(windowKey(key, "h"), 0.0).toDouble()}};
}
