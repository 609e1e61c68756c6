#pragma once

#include <QObject>
#include <QString>
#include <QVariantList>

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

    QVariantList curveBundles() const { return curveBundles_; }
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
    void onComputeFinished();

    AppCore &core_;
    const MeasuringFlow &measuring_;
    SchemeChoice &choice_;
    UiState &ui_;
    bool cancelRequested_ = false;
    QVariantList curveBundles_;
    int curveIndex_ = 0;
};
