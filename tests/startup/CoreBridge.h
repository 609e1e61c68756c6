#pragma once

#include "app/AppCore.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QVariantList>
#include <QVariantMap>

#include <algorithm>
#include <cmath>

namespace snt::test {

inline QVariantList points(const QList<float> &freq, const QList<float> &values)
{
    QVariantList list;
    for (qsizetype i = 0; i < std::min(freq.size(), values.size()); ++i)
        list.append(QVariantMap{{"f", freq[i]}, {"d", values[i]}});
    return list;
}

// What the EQ batch's tests and benchmark run on.

// The members the batch uses, by the bridge's names, over an application core: the schemes as
// the engine returned them, each scheme's own corners, its measured and predicted curves as its
// "before" and "after".
class CoreBridge : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool computing READ computing NOTIFY changed)
    Q_PROPERTY(QVariantList schemes READ schemes NOTIFY changed)
    Q_PROPERTY(QVariantList schemeBefore READ schemeBefore NOTIFY changed)
    Q_PROPERTY(QVariantList schemeAfter READ schemeAfter NOTIFY changed)
    Q_PROPERTY(QVariantMap corners READ corners NOTIFY changed)
    Q_PROPERTY(QVariantList eqBands READ eqBands NOTIFY changed)
public:
    explicit CoreBridge(EqWorker::Compute compute = snt::eq::computeSchemes)
        : core(nullptr, std::move(compute))
    {
        connect(&core, &AppCore::computeFinished, this, &CoreBridge::changed);
    }

    Q_INVOKABLE bool loadCurveFile(const QString &path)
    {
        curveFiles.append(path);
        return core.importCurveText(path);
    }
    Q_INVOKABLE void startCompute()
    {
        if (!core.computing() && !refuseStart)
            core.startEqCompute();
    }
    Q_INVOKABLE void selectScheme(int index)
    {
        if (!core.schemes.isEmpty())
            core.selectedScheme = std::clamp(index, 0, int(core.schemes.size()) - 1);
    }
    Q_INVOKABLE QVariantMap schemeCurves(int index) const
    {
        if (index < 0 || index >= core.schemes.size())
            return {};
        const snt::eq::Scheme &s = core.schemes[index];
        return {{"before", points(s.freq, s.measured)}, {"after", points(s.freq, s.predicted)}};
    }

    bool computing() const { return core.computing(); }
    QVariantList schemes() const
    {
        QVariantList list;
        for (const snt::eq::Scheme &s : core.schemes)
            list.append(QVariantMap{{"name", s.name},
                                    {"targetIndex", s.targetIndex},
                                    {"fitError", s.fitError},
                                    {"maxGain", s.maxGain},
                                    {"maxCut", s.maxCut},
                                    {"blocked", s.blocked()},
                                    {"blockedReason", s.blockedReason}});
        return list;
    }
    QVariantList schemeBefore() const
    {
        return schemeCurves(core.selectedScheme).value("before").toList();
    }
    QVariantList schemeAfter() const
    {
        return schemeCurves(core.selectedScheme).value("after").toList();
    }
    QVariantMap corners() const
    {
        const snt::eq::Scheme &s = core.schemes.at(core.selectedScheme);
        return {{"hpfHz", s.hpf.hz},
                {"hpfSlopeDb", s.hpf.on ? s.hpf.order * 6 : 0},
                {"lpfHz", s.lpf.hz},
                {"lpfSlopeDb", s.lpf.on ? s.lpf.order * 6 : 0}};
    }
    QVariantList eqBands() const
    {
        QVariantList list;
        for (const snt::eq::SchemeBand &b : core.schemes.at(core.selectedScheme).bands)
            list.append(QVariantMap{{"freq", b.freq}, {"gain", b.gain}, {"q", b.q}});
        return list;
    }

    AppCore core;
    bool refuseStart = false;
    QStringList curveFiles; // the files it was asked to load
signals:
    void changed();
};

// The level of an analog peaking filter (centre f0, gain, Q) at f.
inline double peakingDb(double f, double f0, double gainDb, double q)
{
    const double a = std::pow(10.0, gainDb / 40.0);
    const double x = f / f0;
    const double real = (1 - x * x) * (1 - x * x);
    return 10.0 * std::log10((real + std::pow(x * a / q, 2)) / (real + std::pow(x / (a * q), 2)));
}

// A curve of `count` points from 20 Hz to 20 kHz, flat but for one resonance.
inline QJsonObject resonanceCurve(const QString &name, double f0, int count = 400)
{
    QJsonArray curve;
    for (int i = 0; i < count; ++i) {
        const double f = 20.0 * std::pow(1000.0, i / double(count - 1));
        curve.append(QJsonArray{f, peakingDb(f, f0, 6.0, 2.0)});
    }
    return {{"name", name}, {"curve", curve}};
}

} // namespace snt::test
