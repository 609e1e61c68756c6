#include "app/UiState.h"

#include <QSettings>

#include <algorithm>

namespace {

const QString smoothingKey = QStringLiteral("curve/smoothingBandsV2");
const QString themeKey = QStringLiteral("ui/theme");
const QString helpKey = QStringLiteral("ui/helpOn");
const QString signalTypeKey = QStringLiteral("measure/signalType");
const QString measureGuideKey = QStringLiteral("measure/guideHidden");
const QString subGuideKey = QStringLiteral("sub/guideHidden");
const QString pointGuideKey = QStringLiteral("point/guideHidden");

constexpr int defaultSignalType = 2; // the music signal

// The display smoothings a user can pick; anything else reads as 1/6 octave.
int allowedSmoothing(int bands)
{
    return bands == 0 || bands == 3 || bands == 6 || bands == 12 || bands == 48 ? bands : 6;
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

// Stores a changed flag, writes its setting when it has one and signals.
template<typename Signal>
void setFlag(UiState *state, bool &flag, bool value, Signal changed,
             const QString &settingsKey = QString())
{
    if (flag == value)
        return;
    flag = value;
    if (!settingsKey.isEmpty())
        QSettings().setValue(settingsKey, value);
    emit(state->*changed)();
}

} // namespace

UiState::UiState(QObject *parent)
    : QObject(parent)
{
    QSettings settings;
    smoothingBands_ = allowedSmoothing(settings.value(smoothingKey, 6).toInt());
    darkMode_ = settings.value(themeKey).toString() != QLatin1String("light");
    measureGuideHidden_ = settings.value(measureGuideKey, false).toBool();
    subGuideHidden_ = settings.value(subGuideKey, false).toBool();
    pointGuideHidden_ = settings.value(pointGuideKey, false).toBool();
}

QVariantMap UiState::theme() const
{
    QVariantMap map{{QStringLiteral("dark"), darkMode_}};
    for (const ThemeColour &colour : themeColours)
        map.insert(QLatin1String(colour.key),
                   QLatin1String(darkMode_ ? colour.dark : colour.light));
    return map;
}

void UiState::setDarkMode(bool dark)
{
    QSettings().setValue(themeKey, dark ? QStringLiteral("dark") : QStringLiteral("light"));
    setFlag(this, darkMode_, dark, &UiState::themeChanged);
}

bool UiState::helpOn() const
{
    return QSettings().value(helpKey, true).toBool();
}

void UiState::setHelpOn(bool on)
{
    QSettings settings;
    if (settings.value(helpKey, true).toBool() == on)
        return;
    settings.setValue(helpKey, on);
    emit helpChanged();
}

int UiState::measureSignalType() const
{
    return std::clamp(QSettings().value(signalTypeKey, defaultSignalType).toInt(), 0, 2);
}

void UiState::setMeasureSignalType(int type)
{
    type = std::clamp(type, 0, 2);
    QSettings settings;
    if (settings.value(signalTypeKey, defaultSignalType).toInt() == type)
        return;
    settings.setValue(signalTypeKey, type);
    emit measureSignalTypeChanged();
}

void UiState::setMeasureGuideHidden(bool hidden)
{
    setFlag(this, measureGuideHidden_, hidden, &UiState::measureGuideHiddenChanged,
            measureGuideKey);
}

void UiState::setSubGuideHidden(bool hidden)
{
    setFlag(this, subGuideHidden_, hidden, &UiState::subGuideHiddenChanged, subGuideKey);
}

void UiState::setPointGuideHidden(bool hidden)
{
    setFlag(this, pointGuideHidden_, hidden, &UiState::pointGuideHiddenChanged, pointGuideKey);
}

bool UiState::setSmoothingBands(int bands)
{
    bands = allowedSmoothing(bands);
    if (bands == smoothingBands_)
        return false;
    smoothingBands_ = bands;
    QSettings settings;
    settings.setValue(smoothingKey, bands);
    settings.sync();
    emit smoothingChanged();
    return true;
}

QString UiState::smoothingLabel() const
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

void UiState::setNewProjectOpen(bool open)
{
    setFlag(this, newProjectOpen_, open, &UiState::newProjectOpenChanged);
}

void UiState::setMicGuideOpen(bool open)
{
    setFlag(this, micGuideOpen_, open, &UiState::micGuideOpenChanged);
}

void UiState::setPlanDetailOpen(bool open)
{
    setFlag(this, planDetailOpen_, open, &UiState::planDetailOpenChanged);
}

void UiState::setProcessorPanelOpen(bool open)
{
    if (open)
        setFlag(this, curveWindowOpen_, false, &UiState::curveWindowOpenChanged);
    setFlag(this, processorPanelOpen_, open, &UiState::processorPanelOpenChanged);
}

void UiState::setCurveWindowOpen(bool open)
{
    if (open)
        setFlag(this, processorPanelOpen_, false, &UiState::processorPanelOpenChanged);
    setFlag(this, curveWindowOpen_, open, &UiState::curveWindowOpenChanged);
}

void UiState::setFillMicGuideOpen(bool open)
{
    setFlag(this, fillMicGuideOpen_, open, &UiState::fillMicGuideOpenChanged);
}

void UiState::setUpdateDialogOpen(bool open)
{
    setFlag(this, updateDialogOpen_, open, &UiState::updateDialogOpenChanged);
}

void UiState::toast(const QString &text)
{
    toastText_ = text;
    emit toastTextChanged();
}

void UiState::clearToast()
{
    if (toastText_.isEmpty())
        return;
    toast(QString());
}

void UiState::saveWindowState(const QString &key, double x, double y, double w, double h)
{
    QSettings settings;
    settings.setValue(windowKey(key, "x"), x);
    settings.setValue(windowKey(key, "y"), y);
    settings.setValue(windowKey(key, "w"), w);
    settings.setValue(windowKey(key, "h"), h);
}

QVariantMap UiState::windowState(const QString &key)
{
    QSettings settings;
    return {{QStringLiteral("x"), settings.value(windowKey(key, "x"), -1.0).toDouble()},
            {QStringLiteral("y"), settings.value(windowKey(key, "y"), -1.0).toDouble()},
            {QStringLiteral("width"), settings.value(windowKey(key, "w"), 0.0).toDouble()},
            {QStringLiteral("height"), settings.value(windowKey(key, "h"), 0.0).toDouble()}};
}
