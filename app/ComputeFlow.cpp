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
    core_.setSnapshot(measured.computationCurve());
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
    index = std::clamp(index, 0, std::max(curveBundleCount() - 1, 0));
    if (index == curveIndex_)
        return;
    curveIndex_ = index;
    emit curveIndexChanged();
}

void ComputeFlow::rebuildPackCurves()
{
    curveBundles_.clear();
    bundleSources_.reset();
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
        // The schemes' previews are made when the bundles are first read, from the sources as
        // they stand now; whichever of the bundles and the scheme cards is read first makes them
        // for both.
        bundleSources_ = BundleSources{
                schemes, core_.result().snapshot, choice_.currentMeasurement(),
                QDateTime::currentDateTime().toString(QStringLiteral("MM-dd HH:mm"))};
    }
    curveIndex_ = std::clamp(curveIndex_, 0, std::max(curveBundleCount() - 1, 0));
    emit curveBundlesChanged();
    emit curveIndexChanged();
}

int ComputeFlow::curveBundleCount() const
{
    return bundleSources_ ? int(bundleSources_->schemes.size()) : int(curveBundles_.size());
}

QVariantList ComputeFlow::curveBundles() const
{
    if (!bundleSources_)
        return curveBundles_;
    const BundleSources &sources = *bundleSources_;
    const QList<QVariantMap> previews
            = choice_.previewMaps(sources.schemes, sources.snapshot, sources.current);
    for (qsizetype i = 0; i < sources.schemes.size(); ++i) {
        const QVariantMap &curves = previews[i];
        curveBundles_.append(
                QVariantMap{{QStringLiteral("name"), sources.schemes[i].name},
                            {QStringLiteral("count"), 2},
                            {QStringLiteral("time"), sources.time},
                            {QStringLiteral("before"), curves.value(QStringLiteral("before"))},
                            {QStringLiteral("after"), curves.value(QStringLiteral("after"))}});
    }
    bundleSources_.reset();
    return curveBundles_;
}
