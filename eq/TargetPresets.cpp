#include "eq/TargetPresets.h"

#include "eq/CurvePreparation.h"

#include <cmath>
#include <functional>

namespace snt::eq {

namespace {

// A gentle +2 dB first-order low shelf around 179 Hz, normalised so 1 kHz sits near 0 dB.
double lowShelfPlus2(double f)
{
    const double g = std::pow(10.0, 2.0 / 20.0);
    const double r = f / 179.0;
    return 10.0 * std::log10((g * g + r * r) / (1.0 + r * r)) - 0.0775;
}

// +3 dB under 63 Hz easing to 0 dB at 1 kHz, flat to 2 kHz, then down to -3 dB at 20 kHz.
double djEdm(double f)
{
    if (f <= 63.0)
        return 3.0;
    if (f < 1000.0)
        return 3.0 * (1.0 - std::log(f / 63.0) / std::log(1000.0 / 63.0));
    if (f <= 2000.0)
        return 0.0;
    if (f < 20000.0)
        return -3.0 * std::log10(f / 2000.0);
    return -3.0;
}

// Flat to 4 kHz, rising to +3 dB at 20 kHz for air absorption outdoors.
double outdoorPlus3(double f)
{
    if (f <= 4000.0)
        return 0.0;
    if (f < 20000.0)
        return 3.0 * std::log10(f / 4000.0) / std::log10(5.0);
    return 3.0;
}

// The low-cut slope of the fill and monitor targets: second-order Butterworth at 120 Hz.
double highPass120(double f)
{
    const double r4 = std::pow(f / 120.0, 4.0);
    return 10.0 * std::log10(r4 / (1.0 + r4)) + 0.0009;
}

Target makeTarget(const char *slug, const QString &title, const QString &note, double lockHz,
                  int lockOrder, const std::function<double(double)> &shape)
{
    Target t;
    t.slug = QString::fromLatin1(slug);
    t.title = title;
    t.note = note;
    t.lockHz = lockHz;
    t.lockOrder = lockOrder;
    t.fitFloorHz = lockHz > 0.0 ? 80.0 : 0.0;
    t.rollOff = lockHz > 0.0 ? 1 : 0;
    t.freq = standardGrid();
    t.db.reserve(t.freq.size());
    for (const float f : std::as_const(t.freq))
        t.db.append(float(shape(f)));
    return t;
}

} // namespace

QList<Target> buildTargetPresets()
{
    const auto flat = [](double) {
        return 0.0;
    };
    const QString lock = QStringLiteral("低切锁 120 Hz");
    return {
            makeTarget("flat", QStringLiteral("平直"), QString(), 0.0, 0, flat),
            makeTarget("main_lf2", QStringLiteral("常规箱主扩 低频 +2"), QString(), 0.0, 0,
                       lowShelfPlus2),
            makeTarget("dj_edm", QStringLiteral("DJ / EDM 主扩"), QString(), 0.0, 0, djEdm),
            makeTarget("outdoor3", QStringLiteral("室外主扩 高频 +3"), QString(), 0.0, 0,
                       outdoorPlus3),
            makeTarget("fill120", QStringLiteral("补声"), lock, 120.0, 2, highPass120),
            makeTarget("monitor120", QStringLiteral("返送"), lock, 120.0, 2, highPass120),
    };
}

const QList<Target> &targetPresets()
{
    static const QList<Target> presets = buildTargetPresets();
    return presets;
}

} // namespace snt::eq
