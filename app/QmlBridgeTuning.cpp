// What the measuring flow and the navigation use of the tuning workflows: the target list, the
// saved copy of a scheme, the corners of the selected scheme and the subwoofer stages.
#include "app/AppCore.h"
#include "app/ChartPoints.h"
#include "app/CurveFeeds.h"
#include "app/QmlBridge.h"
#include "app/ScreenNames.h"
#include "eq/CornerEstimation.h"
#include "eq/TargetPresets.h"

namespace {

constexpr int targetBudget = 80;
constexpr double lowestHighPassHz = 60.0;

// The order the target list shows the presets in.
constexpr int targetOrder[] = {0, 1, 3, 2, 4, 5};

const QString coreIndexKey = QStringLiteral("coreIndex");

} // namespace

void QmlBridge::buildTargets()
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

int QmlBridge::selectedTarget() const
{
    for (qsizetype i = 0; i < targets_.size(); ++i) {
        if (targets_[i].toMap().value(coreIndexKey).toInt() == core_->selectedTarget)
            return int(i);
    }
    return 0;
}

void QmlBridge::setSelectedTarget(int index)
{
    index = std::clamp(index, 0, std::max(int(targets_.size()) - 1, 0));
    const int coreIndex = index < targets_.size()
                                  ? targets_[index].toMap().value(coreIndexKey, index).toInt()
                                  : index;
    if (coreIndex == core_->selectedTarget)
        return;
    core_->selectedTarget = coreIndex;
    emit targetsChanged();
    emit schemesChanged();
}

// The corners the delivery works with: the scheme's own when it has any, else designed from
// the measured curve for the scheme's target.
void QmlBridge::prepareSelectedTarget()
{
    cornersPrepared_ = false;
    const int selected = core_->selectedScheme;
    if (selected < 0 || selected >= core_->schemes.size())
        return;
    const snt::eq::Scheme &scheme = core_->schemes[selected];
    if (scheme.hpf.hz > 0.0 || scheme.lpf.hz > 0.0) {
        workingCorners_.highPass = scheme.hpf;
        workingCorners_.lowPass = scheme.lpf;
    } else {
        const QList<float> relative = normalizedDb(
                core_->measuredFreq, core_->measuredMagnitude, core_->measuredCoherence,
                lineArray_ ? Flow::LineArray : Flow::PointSource);
        workingCorners_ = snt::eq::designCorners(core_->measuredFreq, relative, scheme.targetIndex,
                                                 core_->measuredCoherence, lowestHighPassHz);
    }
    cornersPrepared_ = true;
}

void QmlBridge::restoreSchemeEntry(int index)
{
    if (index < 0 || index >= core_->schemes.size() || index >= savedSchemes_.size())
        return;
    core_->schemes[index] = savedSchemes_[index];
    if (index == core_->selectedScheme)
        core_->selectedBands = core_->schemes[index].bands;
}

int QmlBridge::subStageIndex(const QString &name)
{
    return int(screens::subwooferStages.indexOf(name));
}
