#include "app/ComputeFlow.h"

#include "app/AppCore.h"
#include "app/MeasuringFlow.h"
#include "app/SchemeChoice.h"
#include "app/ScreenNames.h"
#include "app/UiState.h"
#include "files/StoreFile.h"

#include <QDateTime>

#include <algorithm>

namespace {

constexpr int defaultTarget = 1;
constexpr qsizetype leastArrayPoints = 3;

} // namespace

ComputeFlow::ComputeFlow(AppCore &core, const MeasuringFlow &measuring, SchemeChoice &choice,
                         UiState &ui, QObject *parent)
    : QObject(parent)
    , core_(core)
    , measuring_(measuring)
    , choice_(choice)
    , ui_(ui)
{
    connect(&core_, &AppCore::computeFinished, this, &ComputeFlow::onComputeFinished);
    connect(&core_, &AppCore::computeProgressChanged, this,
            [this] { emit computeProgressChanged(); });
    rebuildPackCurves();
}

bool ComputeFlow::computing() const
{
    return core_.computing();
}

QString ComputeFlow::computeLog() const
{
    return core_.computeLog();
}

double ComputeFlow::computeProgress() const
{
    const int total = core_.progressTotal();
    return total > 0 ? std::clamp(double(core_.progressDone()) / total, 0.0, 1.0) : 0.0;
}

void ComputeFlow::startCompute()
{
    if (computing())
        return;
    const qsizetype points = measuring_.points().size();
    if (measuring_.lineArray() && points > 0 && points < leastArrayPoints) {
        ui_.toast(QStringLiteral("至少测 3 个点再计算"));
        return;
    }
    const MeasuredCurve &measured = core_.measured();
    if (!measured.hasCurve()) {
        ui_.toast(QStringLiteral("还没有测量曲线"));
        return;
    }
    core_.forgetPack();
    snt::eq::Measured snapshot;
    snapshot.freq = measured.freq;
    snapshot.magnitude = measured.magnitude;
    snapshot.coherence = measured.coherence;
    snapshot.phase = measured.phase;
    snapshot.delayMs = measured.computationDelayMs();
    core_.setSnapshot(snapshot);
    core_.clearComputedSchemes();
    core_.startEqCompute();
    emit computeProgressChanged();
    emit computingChanged();
}

void ComputeFlow::cancelComputation()
{
    if (!computing())
        return;
    cancelRequested_ = true;
    ui_.toast(QStringLiteral("这次计算已取消"));
}

void ComputeFlow::onComputeFinished()
{
    const bool cancelled = std::exchange(cancelRequested_, false);
    if (cancelled) {
        core_.clearSchemes();
        core_.clearComputedSchemes();
    } else {
        core_.forgetPack();
        core_.keepComputedSchemes();
        choice_.prepareCorners();
        rebuildPackCurves();
    }
    emit computeProgressChanged();
    emit computingChanged();
    emit schemesChanged();
    emit curveChanged();
    if (cancelled)
        emit goRequested(measuring_.lineArray() ? screens::arrayMeasuring
                                                : screens::pointMeasuring);
    else
        emit goRequested(screens::use);
}

bool ComputeFlow::loadCurveFile(const QString &path)
{
    if (!core_.importCurveText(store::localFilePath(path))) {
        ui_.toast(QStringLiteral("曲线文件读不进来"));
        return false;
    }
    core_.setSelectedTarget(defaultTarget);
    core_.clearComputeLog();
    core_.clearResult();
    choice_.prepareCorners();
    rebuildPackCurves();
    emit curveChanged();
    emit targetsChanged();
    emit schemesChanged();
    return true;
}

void ComputeFlow::setCurveIndex(int index)
{
    index = std::clamp(index, 0, std::max(int(curveBundles_.size()) - 1, 0));
    if (index == curveIndex_)
        return;
    curveIndex_ = index;
    emit curveIndexChanged();
}

void ComputeFlow::rebuildPackCurves()
{
    curveBundles_.clear();
    const QList<snt::eq::Scheme> &schemes = core_.result().schemes;
    if (schemes.isEmpty()) {
        for (const QVariant &target : choice_.targets()) {
            const QVariantMap map = target.toMap();
            const QVariant points = map.value(QStringLiteral("points"));
            curveBundles_.append(
                    QVariantMap{{QStringLiteral("name"), map.value(QStringLiteral("name"))},
                                {QStringLiteral("count"), 2},
                                {QStringLiteral("time"), QStringLiteral("—")},
                                {QStringLiteral("before"), points},
                                {QStringLiteral("after"), points}});
        }
    } else {
        const QString time = QDateTime::currentDateTime().toString(QStringLiteral("MM-dd HH:mm"));
        // The schemes' previews: made once here, then handed to the scheme cards as well.
        const QList<QVariantMap> previews = choice_.previewMaps();
        for (qsizetype i = 0; i < schemes.size(); ++i) {
            const QVariantMap &curves = previews[i];
            curveBundles_.append(
                    QVariantMap{{QStringLiteral("name"), schemes[i].name},
                                {QStringLiteral("count"), 2},
                                {QStringLiteral("time"), time},
                                {QStringLiteral("before"), curves.value(QStringLiteral("before"))},
                                {QStringLiteral("after"), curves.value(QStringLiteral("after"))}});
        }
    }
    curveIndex_ = std::clamp(curveIndex_, 0, std::max(int(curveBundles_.size()) - 1, 0));
    emit curveBundlesChanged();
    emit curveIndexChanged();
}
