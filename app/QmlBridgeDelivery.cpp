// The bridge's scheme choice, band and corner editing and EQ delivery: the computed schemes with
// their previews, the selected scheme and target, the edits of the delivery screen (which change
// the selected scheme and its bound curve pack, never the saved copy), and the ways the EQ
// leaves the program: preset file, clipboard, processor upload and the converter program.
#include "app/AppCore.h"
#include "app/CurveFeeds.h"
#include "app/EqPreset.h"
#include "app/QmlBridge.h"
#include "app/SchemeEditing.h"
#include "app/ScreenNames.h"
#include "eq/CornerEstimation.h"
#include "eq/CurvePreparation.h"
#include "processor/ProcessorClient.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QStandardPaths>

using snt::eq::Corner;
using snt::eq::Scheme;
using snt::eq::SchemeBand;

namespace {

constexpr double lowestHighPassHz = 60.0;
constexpr int packSmoothing = 6;

const QString questionText = QStringLiteral("有疑问");

bool isLowPass(const QString &kind)
{
    return kind == QLatin1String("lpf");
}

} // namespace

bool QmlBridge::hasSelectedScheme() const
{
    return core_->selectedScheme >= 0 && core_->selectedScheme < core_->schemes.size();
}

// The measurement the computation did not see: its coherence and the delay found for it.
snt::eq::Measured QmlBridge::currentMeasurement() const
{
    snt::eq::Measured current;
    current.freq = core_->measuredFreq;
    current.coherence = core_->measuredCoherence;
    current.delayMs
            = core_->measuredDelayMs > 0.0 ? core_->measuredDelayMs : core_->importedDelayMs;
    return current;
}

QVariantMap QmlBridge::schemePreviewMap(const Scheme &scheme) const
{
    return previews_.curves(scheme, resultSnapshot_, currentMeasurement());
}

QList<QVariantMap> QmlBridge::schemePreviewMaps() const
{
    return previews_.curves(core_->schemes, resultSnapshot_, currentMeasurement());
}

QVariantList QmlBridge::schemeSummaries() const
{
    QVariantList list;
    for (const Scheme &scheme : std::as_const(core_->schemes))
        list.append(QVariantMap{{QStringLiteral("name"), scheme.name},
                                {QStringLiteral("kind"), scheme.kind},
                                {QStringLiteral("explain"), scheme.explain},
                                {QStringLiteral("targetIndex"), scheme.targetIndex},
                                {QStringLiteral("fitError"), scheme.fitError},
                                {QStringLiteral("maxGain"), scheme.maxGain},
                                {QStringLiteral("maxCut"), scheme.maxCut},
                                {QStringLiteral("valid"), scheme.valid},
                                {QStringLiteral("blocked"), scheme.blocked()},
                                {QStringLiteral("blockedReason"), scheme.blockedReason}});
    return list;
}

QVariantList QmlBridge::schemes() const
{
    const QList<QVariantMap> previews = schemePreviewMaps();
    QVariantList list = schemeSummaries();
    for (qsizetype i = 0; i < list.size(); ++i) {
        QVariantMap entry = previews[i];
        entry.insert(list[i].toMap());
        list[i] = entry;
    }
    return list;
}

int QmlBridge::selectedScheme() const
{
    return core_->selectedScheme;
}

void QmlBridge::setSelectedScheme(int index)
{
    if (core_->schemes.isEmpty())
        return;
    index = std::clamp(index, 0, int(core_->schemes.size()) - 1);
    restoreSchemeEntry(index);
    core_->selectedScheme = index;
    const Scheme &scheme = core_->schemes[index];
    core_->selectedBands = scheme.bands;
    const bool targetChanged
            = scheme.targetIndex >= 0 && scheme.targetIndex != core_->selectedTarget;
    if (targetChanged)
        core_->selectedTarget = scheme.targetIndex;
    prepareSelectedTarget();
    if (targetChanged)
        emit targetsChanged();
    emit schemesChanged();
}

QVariantMap QmlBridge::schemeCurves(int index) const
{
    if (index < 0 || index >= core_->schemes.size())
        return {};
    return schemePreviewMap(core_->schemes[index]);
}

QVariantMap QmlBridge::selectedSchemeCurves() const
{
    if (!hasSelectedScheme())
        return {};
    const Scheme &scheme = core_->schemes[core_->selectedScheme];
    QVariantMap map = schemePreviewMap(scheme);
    map.insert(QStringLiteral("name"), scheme.name);
    map.insert(QStringLiteral("explain"), scheme.explain);
    return map;
}

QVariantList QmlBridge::selectedCurve(const QString &key) const
{
    return hasSelectedScheme() ? schemeCurves(core_->selectedScheme).value(key).toList()
                               : QVariantList();
}

QVariantList QmlBridge::schemeBefore() const
{
    return selectedCurve(QStringLiteral("before"));
}

QVariantList QmlBridge::schemeAfter() const
{
    return selectedCurve(QStringLiteral("after"));
}

QVariantList QmlBridge::schemeTarget() const
{
    return selectedCurve(QStringLiteral("target"));
}

QVariantList QmlBridge::schemeCoherence() const
{
    return selectedCurve(QStringLiteral("coherence"));
}

void QmlBridge::enterScheme(int index)
{
    setSelectedScheme(index);
    saveSelectedPack();
    go(screens::delivery);
}

// Band and corner editing

QVariantList QmlBridge::eqBands() const
{
    return schemeedit::bandList(hasSelectedScheme() ? core_->schemes[core_->selectedScheme].bands
                                                    : core_->selectedBands);
}

// The corners the cards show: the working ones once prepared, else the scheme's own, else those
// the measured curve suggests for the scheme's target (or the selected target).
snt::eq::CornerEstimate QmlBridge::shownCorners() const
{
    if (cornersPrepared_)
        return workingCorners_;
    const bool selected = hasSelectedScheme();
    if (selected) {
        const Scheme &scheme = core_->schemes[core_->selectedScheme];
        if (scheme.hpf.hz > 0.0 || scheme.lpf.hz > 0.0)
            return {scheme.hpf, scheme.lpf, false};
    }
    const QList<float> relative
            = normalizedDb(core_->measuredFreq, core_->measuredMagnitude, core_->measuredCoherence,
                           lineArray_ ? Flow::LineArray : Flow::PointSource);
    const int target
            = selected ? core_->schemes[core_->selectedScheme].targetIndex : core_->selectedTarget;
    return snt::eq::designCorners(core_->measuredFreq, relative, target, core_->measuredCoherence,
                                  lowestHighPassHz);
}

QVariantMap QmlBridge::corners() const
{
    if (hasSelectedScheme() && core_->schemes[core_->selectedScheme].blocked())
        return schemeedit::blockedCornerCards(core_->schemes[core_->selectedScheme].blockedReason);
    const snt::eq::CornerEstimate shown = shownCorners();
    return schemeedit::cornerCards(shown.highPass, shown.lowPass);
}

bool QmlBridge::prepareCorners()
{
    if (!cornersPrepared_)
        prepareSelectedTarget();
    return cornersPrepared_;
}

void QmlBridge::applySelectedScheme()
{
    if (!hasSelectedScheme() || !prepareCorners())
        return;
    Scheme &scheme = core_->schemes[core_->selectedScheme];
    scheme.hpf = workingCorners_.highPass;
    scheme.lpf = workingCorners_.lowPass;
    core_->selectedBands = scheme.bands;
    syncSchemeToPack();
}

bool QmlBridge::editSelectedBands(const std::function<bool(QList<SchemeBand> &)> &edit)
{
    if (!hasSelectedScheme() || !edit(core_->schemes[core_->selectedScheme].bands))
        return false;
    applySelectedScheme();
    emit schemesChanged();
    return true;
}

void QmlBridge::addEqBand()
{
    if (!hasSelectedScheme())
        return;
    if (!editSelectedBands(schemeedit::addBand))
        toast(QStringLiteral("EQ 最多 %1 段").arg(schemeedit::maxBands));
}

void QmlBridge::removeEqBand(int index)
{
    editSelectedBands(
            [index](QList<SchemeBand> &bands) { return schemeedit::removeBand(bands, index); });
}

void QmlBridge::setEqBandEnabled(int index, bool enabled)
{
    editSelectedBands([index, enabled](QList<SchemeBand> &bands) {
        return schemeedit::setBandEnabled(bands, index, enabled);
    });
}

void QmlBridge::updateEqBand(int index, double freq, double q, double gainDb)
{
    editSelectedBands([=](QList<SchemeBand> &bands) {
        return schemeedit::updateBand(bands, index, freq, q, gainDb);
    });
}

void QmlBridge::editCorner(const QString &kind, const std::function<bool(Corner &)> &edit)
{
    if (!hasSelectedScheme() || !prepareCorners())
        return;
    if (!edit(isLowPass(kind) ? workingCorners_.lowPass : workingCorners_.highPass))
        return;
    applySelectedScheme();
    emit schemesChanged();
}

void QmlBridge::updateCorner(const QString &kind, double hz, double slopeDbOct)
{
    editCorner(kind,
               [=](Corner &corner) { return schemeedit::updateCorner(corner, hz, slopeDbOct); });
}

void QmlBridge::updateCornerType(const QString &kind, const QString &type)
{
    editCorner(kind,
               [&type](Corner &corner) { return schemeedit::updateCornerType(corner, type); });
}

// The bound pack follows every edit of the scheme it was saved for; the write waits until the
// edits pause.
void QmlBridge::syncSchemeToPack()
{
    if (savedPackName_.isEmpty() || savedPackScheme_ != core_->selectedScheme
        || !hasSelectedScheme())
        return;
    const auto pack = std::find_if(
            core_->curvePacks.begin(), core_->curvePacks.end(),
            [this](const CurvePack &candidate) { return candidate.name == savedPackName_; });
    if (pack == core_->curvePacks.end())
        return;
    const Scheme &scheme = core_->schemes[core_->selectedScheme];
    pack->bands = scheme.bands;
    pack->low = scheme.hpf;
    pack->high = scheme.lpf;
    pack->smoothBands = packSmoothing;
    pack->levelRefDb = scheme.level;
    pack->levelRefSet = scheme.hasLevel;
    pack->question = scheme.blocked() ? questionText : QString();
    packSaveTimer_.start();
}

// EQ delivery

QJsonObject QmlBridge::currentPresetJson() const
{
    const snt::eq::CornerEstimate shown = shownCorners();
    const QList<SchemeBand> &bands = hasSelectedScheme()
                                             ? core_->schemes[core_->selectedScheme].bands
                                             : core_->selectedBands;
    return eqpreset::presetJson(bands, shown.highPass, shown.lowPass);
}

void QmlBridge::copyCurrentParams()
{
    if (hasSelectedScheme() && core_->schemes[core_->selectedScheme].blocked()) {
        toast(QStringLiteral("这条曲线不建议计算，没有 EQ 可以复制"));
        return;
    }
    copyPreset(currentPresetJson());
}

void QmlBridge::copyPreset(const QJsonObject &preset)
{
    auto *application = qobject_cast<QGuiApplication *>(QCoreApplication::instance());
    if (!application) {
        toast(QStringLiteral("复制没成功"));
        return;
    }
    application->clipboard()->setText(QString::fromUtf8(eqpreset::presetText(preset)));
    toast(QStringLiteral("EQ 参数已复制"));
}

bool QmlBridge::exportCurrentPack()
{
    if (core_->schemes.isEmpty() || !hasSelectedScheme()) {
        toast(QStringLiteral("还没有可导出的结果"));
        return false;
    }
    const Scheme &scheme = core_->schemes[core_->selectedScheme];
    if (scheme.blocked()) {
        toast(QStringLiteral("这条曲线不建议计算，没有 EQ 可以导出"));
        return false;
    }
    const QString base
            = eqpreset::presetBaseName(savedPackName_.isEmpty() ? scheme.name : savedPackName_);
    if (!eqpreset::writePresetFile(eqpreset::desktopFolder(), base, currentPresetJson())) {
        toast(QStringLiteral("导出没成功"));
        return false;
    }
    toast(QStringLiteral("EQ 预设已导出到桌面"));
    return true;
}

bool QmlBridge::collectProcessorEq(ProcessorEqList &list, const QString &verb, QString &error) const
{
    if (screen_ == screens::delivery && hasSelectedScheme()) {
        const Scheme &scheme = core_->schemes[core_->selectedScheme];
        if (scheme.blocked()) {
            error = scheme.blockedReason;
            return false;
        }
        if (scheme.bands.isEmpty()) {
            error = QStringLiteral("这条结果没有 EQ 段，不能%1。").arg(verb);
            return false;
        }
        list = ProcessorEqList::fromScheme(scheme.bands, scheme.hpf, scheme.lpf);
        return true;
    }
    if (screen_.startsWith(QStringLiteral("超低分频"))) {
        if (subXover_.hasDesign()) {
            list = ProcessorEqList::fromScheme(subXover_.deliveredBands(),
                                               subXover_.deliveredHighPass(),
                                               subXover_.deliveredLowPass());
            return true;
        }
        error = QStringLiteral("超低分频还没算完，先出结果再%1。").arg(verb);
        return false;
    }
    error = QStringLiteral("请先测量音响并计算结果，再到这里%1。").arg(verb);
    return false;
}

QVariantMap QmlBridge::uploadEqToOfficial(bool isOut, int idx)
{
    ProcessorEqList list;
    QString error;
    if (!collectProcessorEq(list, QStringLiteral("上传"), error))
        return {{QStringLiteral("ok"), false}, {QStringLiteral("message"), error}};
    return processor_->uploadEqScheme(isOut, idx, list.filterMaps(), list.hpf.toVariantMap(),
                                      list.lpf.toVariantMap());
}

QVariantMap QmlBridge::exportEqToProcessor(const QString &target)
{
    return converter_.exportEq(target,
                               QStandardPaths::writableLocation(QStandardPaths::DesktopLocation),
                               [this](const QString &verb, ProcessorEqList &list, QString &error) {
                                   return collectProcessorEq(list, verb, error);
                               });
}
