#include "app/SchemeChoice.h"

#include "app/AppCore.h"
#include "app/ChartPoints.h"
#include "app/CurveFeeds.h"
#include "app/MeasuringFlow.h"
#include "app/SchemeEditing.h"
#include "app/UiState.h"
#include "common/Log.h"
#include "eq/CornerEstimation.h"
#include "eq/TargetPresets.h"

#include <algorithm>

using snt::eq::Corner;
using snt::eq::Scheme;
using snt::eq::SchemeBand;

namespace {

constexpr int targetBudget = 80;
constexpr double lowestHighPassHz = 60.0;
constexpr int defaultTarget = 1;
constexpr int packSmoothing = 6;

// The order the target list shows the presets in.
constexpr int targetOrder[] = {0, 1, 3, 2, 4, 5};

const QString coreIndexKey = QStringLiteral("coreIndex");

bool isLowPass(const QString &kind)
{
    return kind == QLatin1String("lpf");
}

} // namespace

SchemeChoice::SchemeChoice(AppCore &core, const MeasuringFlow &measuring, UiState &ui,
                           QObject *parent)
    : QObject(parent)
    , core_(core)
    , measuring_(measuring)
    , ui_(ui)
{
    core_.setSelectedTarget(defaultTarget);
    buildTargets();
}

// ---- targets --------------------------------------------------------------------------------

void SchemeChoice::buildTargets()
{
    targets_.clear();
    const QList<snt::eq::Target> &presets = snt::eq::targetPresets();
    for (const int index : targetOrder) {
        if (index >= presets.size())
            continue;
        const snt::eq::Target &target = presets[index];
        targets_.append(QVariantMap{
                {QStringLiteral("name"), target.title},
                {QStringLiteral("slug"), target.slug},
                {QStringLiteral("lock"), target.note},
                {QStringLiteral("points"), plotPoints(target.freq, target.db, targetBudget)},
                {coreIndexKey, index}});
    }
    emit targetsChanged();
}

int SchemeChoice::selectedTarget() const
{
    for (qsizetype i = 0; i < targets_.size(); ++i) {
        if (targets_[i].toMap().value(coreIndexKey).toInt() == core_.result().selectedTarget)
            return int(i);
    }
    return 0;
}

void SchemeChoice::setSelectedTarget(int index)
{
    index = std::clamp(index, 0, std::max(int(targets_.size()) - 1, 0));
    const int coreIndex = index < targets_.size()
                                  ? targets_[index].toMap().value(coreIndexKey, index).toInt()
                                  : index;
    if (coreIndex == core_.result().selectedTarget)
        return;
    core_.setSelectedTarget(coreIndex);
    emit targetsChanged();
    emit schemesChanged();
}

// ---- schemes and their previews -------------------------------------------------------------

snt::eq::Measured SchemeChoice::currentMeasurement() const
{
    const MeasuredCurve &measured = core_.measured();
    snt::eq::Measured current;
    current.freq = measured.freq;
    current.coherence = measured.coherence;
    current.delayMs = measured.resultDelayMs();
    return current;
}

QVariantMap SchemeChoice::previewMap(const Scheme &scheme) const
{
    return previews_.curves(scheme, core_.result().snapshot, currentMeasurement());
}

QList<QVariantMap> SchemeChoice::previewMaps() const
{
    return previewMaps(core_.result().schemes, core_.result().snapshot, currentMeasurement());
}

QList<QVariantMap> SchemeChoice::previewMaps(const QList<Scheme> &schemes,
                                             const snt::eq::Measured &snapshot,
                                             const snt::eq::Measured &current) const
{
    return previews_.curves(schemes, snapshot, current);
}

QVariantList SchemeChoice::schemeSummaries() const
{
    QVariantList list;
    for (const Scheme &scheme : core_.result().schemes)
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

QVariantList SchemeChoice::schemes() const
{
    const QList<QVariantMap> previews = previewMaps();
    QVariantList list = schemeSummaries();
    for (qsizetype i = 0; i < list.size(); ++i) {
        QVariantMap entry = previews[i];
        entry.insert(list[i].toMap());
        list[i] = entry;
    }
    return list;
}

int SchemeChoice::selectedScheme() const
{
    return core_.result().selectedScheme;
}

void SchemeChoice::setSelectedScheme(int index)
{
    const QList<Scheme> &schemes = core_.result().schemes;
    if (schemes.isEmpty())
        return;
    index = std::clamp(index, 0, int(schemes.size()) - 1);
    restoreScheme(index);
    core_.setSelectedScheme(index);
    const Scheme &scheme = core_.result().selected();
    core_.setSelectedBands(scheme.bands);
    const bool targetChanged
            = scheme.targetIndex >= 0 && scheme.targetIndex != core_.result().selectedTarget;
    if (targetChanged)
        core_.setSelectedTarget(scheme.targetIndex);
    prepareCorners();
    if (targetChanged)
        emit targetsChanged();
    emit schemesChanged();
}

QVariantMap SchemeChoice::schemeCurves(int index) const
{
    if (index < 0 || index >= core_.result().schemes.size())
        return {};
    return previewMap(core_.result().schemes[index]);
}

QVariantMap SchemeChoice::schemeCurvePoints(int index) const
{
    if (index < 0 || index >= core_.result().schemes.size())
        return {};
    return previews_.points(core_.result().schemes[index], core_.result().snapshot,
                            currentMeasurement());
}

QVariantList SchemeChoice::selectedCurve(const QString &key) const
{
    return core_.result().hasSelection()
                   ? schemeCurves(core_.result().selectedScheme).value(key).toList()
                   : QVariantList();
}

void SchemeChoice::restoreScheme(int index)
{
    core_.restoreComputedScheme(index);
}

void SchemeChoice::leaveDelivery()
{
    core_.flushPendingPackSave();
    const int selected = core_.result().selectedScheme;
    if (selected < 0 || selected >= core_.result().computed.size())
        return;
    restoreScheme(selected);
    prepareCorners();
    emit schemesChanged();
}

// ---- corners --------------------------------------------------------------------------------

QList<float> SchemeChoice::relativeMeasuredDb() const
{
    const MeasuredCurve &measured = core_.measured();
    return normalizedDb(measured.freq, measured.magnitude, measured.coherence, measuring_.flow());
}

void SchemeChoice::prepareCorners()
{
    workingCorners_.reset();
    if (!core_.result().hasSelection())
        return;
    const Scheme &scheme = core_.result().selected();
    if (scheme.hpf.hz > 0.0 || scheme.lpf.hz > 0.0) {
        workingCorners_ = snt::eq::CornerEstimate{scheme.hpf, scheme.lpf, false};
    } else {
        const MeasuredCurve &measured = core_.measured();
        workingCorners_
                = snt::eq::designCorners(measured.freq, relativeMeasuredDb(), scheme.targetIndex,
                                         measured.coherence, lowestHighPassHz);
    }
}

// The corners the cards show: the working ones once prepared, else the scheme's own, else those
// the measured curve suggests for the scheme's target (or the selected target).
snt::eq::CornerEstimate SchemeChoice::shownCorners() const
{
    if (workingCorners_)
        return *workingCorners_;
    const SchemeResult &result = core_.result();
    const bool selected = result.hasSelection();
    if (selected) {
        const Scheme &scheme = result.selected();
        if (scheme.hpf.hz > 0.0 || scheme.lpf.hz > 0.0)
            return {scheme.hpf, scheme.lpf, false};
    }
    const int target = selected ? result.selected().targetIndex : result.selectedTarget;
    const MeasuredCurve &measured = core_.measured();
    return snt::eq::designCorners(measured.freq, relativeMeasuredDb(), target, measured.coherence,
                                  lowestHighPassHz);
}

QVariantList SchemeChoice::eqBands() const
{
    const SchemeResult &result = core_.result();
    return schemeedit::bandList(result.hasSelection() ? result.selected().bands
                                                      : result.selectedBands);
}

QVariantMap SchemeChoice::corners() const
{
    const SchemeResult &result = core_.result();
    if (result.hasSelection() && result.selected().blocked())
        return schemeedit::blockedCornerCards(result.selected().blockedReason);
    const snt::eq::CornerEstimate shown = shownCorners();
    return schemeedit::cornerCards(shown.highPass, shown.lowPass);
}

// ---- edits ----------------------------------------------------------------------------------

snt::eq::CornerEstimate *SchemeChoice::preparedCorners()
{
    if (!core_.result().hasSelection())
        return nullptr;
    if (!workingCorners_)
        prepareCorners();
    return workingCorners_ ? &*workingCorners_ : nullptr;
}

void SchemeChoice::applySelectedScheme()
{
    const snt::eq::CornerEstimate *corners = preparedCorners();
    if (!corners)
        return;
    Scheme scheme = core_.result().selected();
    scheme.hpf = corners->highPass;
    scheme.lpf = corners->lowPass;
    core_.setScheme(core_.result().selectedScheme, scheme);
    core_.setSelectedBands(scheme.bands);
    syncSchemeToPack();
}

bool SchemeChoice::editSelectedBands(const std::function<bool(QList<SchemeBand> &)> &edit)
{
    if (!core_.result().hasSelection())
        return false;
    Scheme scheme = core_.result().selected();
    // A value typed again as the screen shows it still brings the pack up to the scheme.
    if (!edit(scheme.bands)) {
        syncSchemeToPack();
        return false;
    }
    core_.setScheme(core_.result().selectedScheme, scheme);
    applySelectedScheme();
    emit schemesChanged();
    return true;
}

void SchemeChoice::addEqBand()
{
    if (!core_.result().hasSelection())
        return;
    if (!editSelectedBands(schemeedit::addBand))
        ui_.toast(QStringLiteral("EQ 最多 %1 段").arg(schemeedit::maxBands));
}

void SchemeChoice::removeEqBand(int index)
{
    editSelectedBands(
            [index](QList<SchemeBand> &bands) { return schemeedit::removeBand(bands, index); });
}

void SchemeChoice::setEqBandEnabled(int index, bool enabled)
{
    editSelectedBands([index, enabled](QList<SchemeBand> &bands) {
        return schemeedit::setBandEnabled(bands, index, enabled);
    });
}

void SchemeChoice::updateEqBand(int index, double freq, double q, double gainDb)
{
    editSelectedBands([=](QList<SchemeBand> &bands) {
        return schemeedit::updateBand(bands, index, freq, q, gainDb);
    });
}

void SchemeChoice::editCorner(const QString &kind, const std::function<bool(Corner &)> &edit)
{
    snt::eq::CornerEstimate *corners = preparedCorners();
    if (!corners || !edit(isLowPass(kind) ? corners->lowPass : corners->highPass)) {
        syncSchemeToPack();
        return;
    }
    applySelectedScheme();
    emit schemesChanged();
}

void SchemeChoice::updateCorner(const QString &kind, double hz, double slopeDbOct)
{
    editCorner(kind,
               [=](Corner &corner) { return schemeedit::updateCorner(corner, hz, slopeDbOct); });
}

void SchemeChoice::updateCornerType(const QString &kind, const QString &type)
{
    editCorner(kind,
               [&type](Corner &corner) { return schemeedit::updateCornerType(corner, type); });
}

// The bound pack follows every edit of the scheme it was saved for; the write waits until the
// edits pause. Where the pack is not listed (the files were read while another program was
// writing its file), the user is told that the edit was not saved; the next edit once it is
// listed again brings the pack up to the scheme, earlier edits included.
void SchemeChoice::syncSchemeToPack()
{
    const SchemeResult &result = core_.result();
    if (!result.pack.bound() || result.pack.scheme != result.selectedScheme
        || !result.hasSelection())
        return;
    QList<CurvePack> &packs = core_.store().curvePacks;
    const auto pack = std::find_if(packs.begin(), packs.end(), [&](const CurvePack &candidate) {
        return candidate.name == result.pack.name;
    });
    if (pack == packs.end()) {
        sntWarning(lcApp, "[Delivery]")
                << "edit not saved: the pack" << result.pack.name << "is not listed";
        ui_.toast(QStringLiteral("曲线包「%1」现在不在列表里（它的文件可能正被别的程序写入），"
                                 "这次的改动没有存；等那个程序写完，打开曲线窗口后再改一次")
                          .arg(result.pack.name));
        return;
    }
    const Scheme &scheme = result.selected();
    CurvePack edited = *pack;
    edited.bands = scheme.bands;
    edited.low = scheme.hpf;
    edited.high = scheme.lpf;
    edited.smoothBands = packSmoothing;
    edited.levelRefDb = scheme.level;
    edited.levelRefSet = scheme.hasLevel;
    edited.question = scheme.blocked() ? QStringLiteral("有疑问") : QString();
    if (edited == *pack)
        return;
    *pack = std::move(edited);
    core_.savePacksSoon();
    emit curvePacksChanged();
}
