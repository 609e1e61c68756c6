#pragma once

#include "app/SchemePreviews.h"
#include "eq/Records.h"

#include <QList>
#include <QObject>
#include <QVariantList>
#include <QVariantMap>

#include <functional>
#include <optional>

class AppCore;
class MeasuringFlow;
class UiState;

// The schemes of the last computation as the use and delivery screens see them: the target
// curves, the schemes with their before/after previews, the chosen scheme and target, the
// corners of the chosen scheme and the engineer's edits of its bands and corners. An edit
// changes the chosen scheme and the pack it was saved as, never the copy kept as computed.
class SchemeChoice : public QObject
{
    Q_OBJECT
public:
    SchemeChoice(AppCore &core, const MeasuringFlow &measuring, UiState &ui,
                 QObject *parent = nullptr);

    // The target list, built once from the presets.
    QVariantList targets() const { return targets_; }
    int selectedTarget() const;
    void setSelectedTarget(int index);

    QVariantList schemes() const;
    // The entries of `schemes` without their preview curves.
    QVariantList schemeSummaries() const;
    int selectedScheme() const;
    // Puts the scheme back as computed, selects it with its target and prepares its corners.
    void setSelectedScheme(int index);
    QVariantMap schemeCurves(int index) const;
    // The same curves as point lists (PackDetail::schemeCurvePoints).
    QVariantMap schemeCurvePoints(int index) const;
    // The previews of every scheme, in order.
    QList<QVariantMap> previewMaps() const;
    // The previews of `schemes` over `snapshot` and `current`; made once for any of their
    // readers, as previewMaps makes them.
    QList<QVariantMap> previewMaps(const QList<snt::eq::Scheme> &schemes,
                                   const snt::eq::Measured &snapshot,
                                   const snt::eq::Measured &current) const;
    // The measurement the computation did not see: its coherence and the delay found for it.
    snt::eq::Measured currentMeasurement() const;
    // A curve ("before", "after", "target", "coherence") of the selected scheme's preview.
    QVariantList selectedCurve(const QString &key) const;
    QVariantList eqBands() const;
    QVariantMap corners() const;
    // The corners the delivery works with: the shown ones.
    snt::eq::CornerEstimate shownCorners() const;

    // The selected scheme's corners as the delivery edits them: its own, or designed from the
    // measured curve for its target.
    void prepareCorners();
    void restoreScheme(int index);
    // The delivery screen is left: edits live on in the pack only, the scheme is put back.
    void leaveDelivery();

    void addEqBand();
    void removeEqBand(int index);
    void setEqBandEnabled(int index, bool enabled);
    void updateEqBand(int index, double freq, double q, double gainDb);
    void updateCorner(const QString &kind, double hz, double slopeDbOct);
    void updateCornerType(const QString &kind, const QString &type);

signals:
    void targetsChanged();
    void schemesChanged();
    // The bound pack took an edit of its scheme: what the curve window shows of it changed.
    void curvePacksChanged();

private:
    void buildTargets();
    QVariantMap previewMap(const snt::eq::Scheme &scheme) const;
    QList<float> relativeMeasuredDb() const;
    bool editSelectedBands(const std::function<bool(QList<snt::eq::SchemeBand> &)> &edit);
    void editCorner(const QString &kind, const std::function<bool(snt::eq::Corner &)> &edit);
    // The working corners, prepared where they are not yet; none without a selected scheme.
    snt::eq::CornerEstimate *preparedCorners();
    void applySelectedScheme();
    void syncSchemeToPack();

    AppCore &core_;
    const MeasuringFlow &measuring_;
    UiState &ui_;
    QVariantList targets_;
    // Prepared by prepareCorners; none until then.
    std::optional<snt::eq::CornerEstimate> workingCorners_;
    mutable SchemePreviews previews_;
};
