#include "selftest/CurveTest.h"

#include "selftest/CurvePoints.h"
#include "selftest/CurveTestStages.h"
#include "selftest/Walk.h"

#include <QCoreApplication>
#include <QFile>
#include <QVariantMap>

#include <array>

namespace snt::selftest {

namespace {

const QString useScreen = QStringLiteral("点声源-选用途");
constexpr int computePollMs = 250;
constexpr int computePolls = 160; // 40 s
constexpr std::array coherenceFrequencies{20.5, 25.0, 31.5, 40.0, 50.0, 63.0, 80.0, 100.0};
constexpr std::array probeFrequencies{20.5,   25.0,   31.5,   40.0,   50.0,   63.0,   80.0,  100.0,
                                      125.0,  200.0,  250.0,  284.0,  315.0,  500.0,  700.0, 1000.0,
                                      1400.0, 2000.0, 3000.0, 4000.0, 7000.0, 10000.0};

// Stage 1: the computation of the loaded curve, up to the scheme screen. False when the test
// ended there.
bool compute(const Walk &walk, const CurveTestOptions &options)
{
    if (!options.curveLoaded) {
        qInfo().noquote() << "CURVETEST FAIL load";
        QCoreApplication::exit(3);
        return false;
    }
    if (options.createProject)
        walk.bridge().call("createProjectInWindow", {QStringLiteral("界面验收")});
    walk.bridge().call("startCompute");
    for (int poll = 0; poll < computePolls && walk.screen() != useScreen; ++poll)
        Walk::wait(computePollMs);
    if (walk.screen() != useScreen) {
        qInfo().noquote() << "CURVETEST FAIL compute screen" << walk.screen();
        QCoreApplication::exit(4);
        return false;
    }
    Walk::wait(500);
    qInfo().noquote() << "COMPUTE LOG" << walk.bridge().read("computeLog").toString().trimmed();
    walk.shot(QStringLiteral("real-curve-use.png"));
    return true;
}

QString joined(const QVariantMap &map, std::initializer_list<const char *> keys)
{
    QStringList parts;
    for (const char *key : keys)
        parts << map.value(QLatin1String(key)).toString();
    return parts.join(QLatin1Char(' '));
}

void recordScheme(const Walk &walk, int index, const QVariantMap &scheme, QStringList &summary)
{
    walk.bridge().call("selectScheme", {index});
    const QVariantMap corners = walk.bridge().read("corners").toMap();
    const QString name = scheme.value(QStringLiteral("name")).toString();
    const auto number = [&scheme](const char *key) {
        return scheme.value(QLatin1String(key)).toDouble();
    };
    qInfo().noquote() << "CURVETEST scheme" << index << name << "fit" << number("fitError")
                      << "maxGain" << number("maxGain") << "maxCut" << number("maxCut") << "HPF"
                      << joined(corners, {"hpfValue", "hpfUnit", "hpfSlope"}) << "LPF"
                      << joined(corners, {"lpfValue", "lpfUnit"});
    const auto corner = [&corners](const char *key) {
        return corners.value(QLatin1String(key)).toString();
    };
    summary << QStringLiteral(
                       "SCHEME %1 %2 fit=%3 maxGain=%4 maxCut=%5 HPF=%6 %7 %8 LPF=%9 %10 %11")
                       .arg(QString::number(index), name, fixed(number("fitError"), 2),
                            fixed(number("maxGain"), 1), fixed(number("maxCut"), 1),
                            corner("hpfValue"), corner("hpfUnit"), corner("hpfSlope"),
                            corner("lpfValue"), corner("lpfUnit"), corner("lpfSlope"));
    for (const QVariant &entry : walk.bridge().read("eqBands").toList()) {
        const QVariantMap band = entry.toMap();
        summary << QStringLiteral("  EQ %1 Hz %2 dB Q %3")
                           .arg(fixed(band.value(QStringLiteral("freq")).toDouble(), 1),
                                fixed(band.value(QStringLiteral("gain")).toDouble(), 2),
                                fixed(band.value(QStringLiteral("q")).toDouble(), 2));
    }
    const QVariantList coherence = scheme.value(QStringLiteral("coherence")).toList();
    for (const double frequency : coherenceFrequencies) {
        const CurvePoint point = nearestCurvePoint(coherence, frequency);
        summary << QStringLiteral("  COH %1 Hz f=%2 c=%3")
                           .arg(general(frequency), fixed(point.f, 1), fixed(point.d, 3));
    }
    const QVariantList before = walk.bridge().read("schemeBefore").toList();
    const QVariantList after = walk.bridge().read("schemeAfter").toList();
    for (const double frequency : probeFrequencies) {
        const CurvePoint b = nearestCurvePoint(before, frequency);
        const CurvePoint a = nearestCurvePoint(after, frequency);
        qInfo().noquote() << "CURVETEST probe" << frequency << "f" << b.f << "before" << b.d
                          << "after" << a.d;
        summary << QStringLiteral("  PROBE %1 f=%2 before=%3 after=%4")
                           .arg(general(frequency), fixed(b.f, 1), fixed(b.d, 2), fixed(a.d, 2));
    }
}

// Stage 2: every scheme, then the plan of the first and its delivery screen.
void recordSchemes(const Walk &walk, QStringList &summary)
{
    const QVariantList schemes = walk.bridge().read("schemes").toList();
    summary << QStringLiteral("schemes %1").arg(schemes.size());
    qInfo().noquote() << "CURVETEST schemes" << schemes.size();
    for (qsizetype i = 0; i < schemes.size(); ++i)
        recordScheme(walk, int(i), schemes[i].toMap(), summary);

    walk.bridge().call("selectScheme", {0});
    walk.bridge().write("planDetailOpen", true);
    Walk::wait(600);
    walk.shot(QStringLiteral("real-curve-plan.png"));
    walk.bridge().write("planDetailOpen", false);
    Walk::wait(200);
    walk.bridge().call("go", {QStringLiteral("点声源-交付与复测")});
    Walk::wait(2200);
    walk.shot(QStringLiteral("real-curve-delivery.png"));
}

// Stage 5: summary.txt, the lines and then the untrimmed computation log. False when it could
// not be written.
bool writeSummary(const Walk &walk, const QStringList &summary)
{
    walk.bridge().write("curveWindowOpen", false);
    Walk::wait(200);
    const QString path = walk.outputFolder() + QStringLiteral("/summary.txt");
    const QByteArray text = (summary.join(QLatin1Char('\n')) + QStringLiteral("\n\nCOMPUTE LOG\n")
                             + walk.bridge().read("computeLog").toString())
                                    .toUtf8();
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size()
        || !file.flush()) {
        qInfo().noquote() << "CURVETEST FAIL summary" << path;
        return false;
    }
    return true;
}

} // namespace

QString fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

QString general(double value)
{
    return QString::number(value, 'g', 6);
}

void runCurveTest(const QQmlApplicationEngine &engine, QObject *bridge,
                  const CurveTestOptions &options)
{
    Walk walk(engine, bridge, options.outputFolder);
    if (!walk.start() || !compute(walk, options))
        return;
    QStringList summary;
    recordSchemes(walk, summary);
    if (options.resultEditCheck)
        checkResultEdits(walk, summary);
    walkCurveWindow(walk, options, summary);
    if (!writeSummary(walk, summary)) {
        QCoreApplication::exit(3);
        return;
    }
    qInfo().noquote() << "CURVETEST OK" << options.outputFolder;
    QCoreApplication::exit(0);
}

} // namespace snt::selftest
