#pragma once

#include "eq/Records.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QVariantList>

#include <optional>

class AppCore;
class MeasuringFlow;
class SchemeChoice;
class UiState;

// Where a result comes from: the EQ computation of the measured curve on the core's worker
// thread, which the engineer may cancel (its result is then dropped when it arrives), or a curve
// text file loaded as the measured curve; and the curve entries built from the result's schemes
// (or from the target curves while there is none).
class ComputeFlow : public QObject
{
    Q_OBJECT
public:
    ComputeFlow(AppCore &core, const MeasuringFlow &measuring, SchemeChoice &choice, UiState &ui,
                QObject *parent = nullptr);

    bool computing() const;
    QString computeLog() const;
    double computeProgress() const;
    void startCompute();
    // While a computation runs, its result is to be dropped when it arrives.
    void cancelComputation();

    bool loadCurveFile(const QString &path);

    QVariantList curveBundles() const;
    int curveIndex() const { return curveIndex_; }
    void setCurveIndex(int index);
    void rebuildPackCurves();

signals:
    void computingChanged();
    void computeProgressChanged();
    void schemesChanged();
    void targetsChanged();
    void curveChanged();
    void curveBundlesChanged();
    void curveIndexChanged();
    void goRequested(const QString &screen);

private:
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

    void onComputeFinished();
    int curveBundleCount() const;

    AppCore &core_;
    const MeasuringFlow &measuring_;
    SchemeChoice &choice_;
    UiState &ui_;
    bool cancelRequested_ = false;
    mutable QVariantList curveBundles_;
    mutable std::optional<BundleSources> bundleSources_;
    int curveIndex_ = 0;
};
