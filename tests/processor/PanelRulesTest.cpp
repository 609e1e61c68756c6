// The processor pages' rules without a window: the dynamics designed from the ratings and the
// compressor's curve, against the figures a technician works out by hand, and the thumbnail of
// an EQ not yet in a processor; each also against the script the pages computed them with
// before, over a spread of inputs.
#include "processor/DynamicsDesign.h"
#include "processor/EqThumbnail.h"
#include "tests/support/TestMain.h"

#include <QJSEngine>

#include <cmath>
#include <random>

using namespace processor;

namespace {

// What the dynamics page and the processor panel computed in their own script.
const char *const pageScript = R"(
function design(r) {
    const gainLinear = r.byGain ? Math.pow(10, r.gainDb / 20) : Math.sqrt(Math.max(1, r.ampPower) * Math.max(1, r.ampZ)) / Math.max(0.05, r.sensV)
    const g = Math.max(0.0001, gainLinear)
    const vRmsMax = Math.sqrt(Math.max(1, r.spkPower) * Math.max(1, r.spkZ))
    const vPkMax = Math.sqrt(Math.max(1, r.spkPower) * 4 * Math.max(1, r.spkZ))
    const limit = ms => Math.round(Math.max(0, Math.min(10000, ms)))
    const release = r.lowCut > 0 ? limit(20000 / r.lowCut) : 200
    return {"compThrd": 20 * Math.log10(vRmsMax / g / 0.775),
            "limThrd": 20 * Math.log10(vPkMax / g / 0.775),
            "compAttack": r.lowCut > 0 ? limit(2000 / r.lowCut) : 20,
            "compRelease": release, "limRelease": release, "compKnee": 30, "compRatio": 20}
}
function compressed(x, t, knee, ratio) {
    const k = Math.max(0, knee), r = Math.max(1, ratio)
    if (k <= 0.001)
        return x <= t ? x : t + (x - t) / r
    const lo = t - k / 2, hi = t + k / 2
    if (x <= lo)
        return x
    if (x >= hi)
        return t + (x - t) / r
    return x + (1 / r - 1) * (x - lo) * (x - lo) / (2 * k)
}
function demoEqCurve(bands) {
    const values = []
    for (let i = 0; i < 48; ++i) {
        const f = 20 * Math.pow(1000, i / 47)
        let gain = 0
        for (const band of bands) {
            if (!band.enabled)
                continue
            const oct = Math.log2(f / band.freq)
            const w = 1 / Math.max(0.3, band.q || 1)
            gain += band.gain * Math.exp(-oct * oct / (2 * w * w))
        }
        values.push(gain)
    }
    const min = Math.min(...values)
    const span = Math.max(6, Math.max(...values) - min)
    return values.map(v => Math.max(0, Math.min(1, (v - min + 1) / (span + 2))))
}
)";

// Equal within the last bits two maths libraries may differ in.
bool close(double a, double b)
{
    return std::abs(a - b) <= 1e-9 * std::max(1.0, std::abs(b));
}

QVariantMap ratings(double spkPower, double spkZ, double lowCut, bool byGain, double sensV,
                    double ampPower, double ampZ, double gainDb)
{
    return {{"spkPower", spkPower}, {"spkZ", spkZ},         {"lowCut", lowCut}, {"byGain", byGain},
            {"sensV", sensV},       {"ampPower", ampPower}, {"ampZ", ampZ},     {"gainDb", gainDb}};
}

} // namespace

class PanelRulesTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(!script.evaluate(QString::fromUtf8(pageScript)).isError()); }

    // 400 W into 8 Ω, an amplifier of 800 W into 8 Ω for 1.4 V, a low cut at 100 Hz: the
    // loudspeaker's 56.6 V RMS and 113 V peak need 0.99 V and 1.98 V at the amplifier's input,
    // 2.1 and 8.1 dBu; a gain of 32 dB (39.8 times) needs 1.42 V and 2.84 V, 5.3 and 11.3 dBu.
    void designFromRatings()
    {
        const Dynamics rated = designDynamics({});
        QVERIFY(std::abs(rated.compThrd - 2.126) < 0.001);
        QVERIFY(std::abs(rated.limThrd - 8.147) < 0.001);
        QCOMPARE(rated.compAttack, 20.0);
        QCOMPARE(rated.compRelease, 200.0);
        QCOMPARE(rated.limRelease, 200.0);
        QCOMPARE(rated.compKnee, 30.0);
        QCOMPARE(rated.compRatio, 20.0);

        DynamicsRatings gain;
        gain.byGain = true;
        const Dynamics byGain = designDynamics(gain);
        QVERIFY(std::abs(byGain.compThrd - 5.265) < 0.001);
        QVERIFY(std::abs(byGain.limThrd - 11.286) < 0.001);

        DynamicsRatings low;
        low.lowCut = 0.1;
        QCOMPARE(designDynamics(low).compAttack, 10000.0);
        QCOMPARE(designDynamics(low).compRelease, 10000.0);
        low.lowCut = 0.0;
        QCOMPARE(designDynamics(low).compAttack, 20.0);
        QCOMPARE(designDynamics(low).limRelease, 200.0);
        low.lowCut = 80.0; // 25 ms and 250 ms; 2000/160 = 12.5 rounds up
        QCOMPARE(designDynamics(low).compAttack, 25.0);
        low.lowCut = 160.0;
        QCOMPARE(designDynamics(low).compAttack, 13.0);
    }

    // Hard knee: the input up to the threshold, then 1/ratio; soft knee: the curve meets both
    // lines at the knee's edges with their slopes; a ratio below 1 draws as 1:1.
    void compressorCurve()
    {
        QCOMPARE(compressedLevel(-20.0, 0.0, 0.0, 4.0), -20.0);
        QCOMPARE(compressedLevel(8.0, 0.0, 0.0, 4.0), 2.0);
        QCOMPARE(compressedLevel(8.0, 0.0, 0.0, 0.5), 8.0);
        QCOMPARE(compressedLevel(-15.0, 0.0, 30.0, 20.0), -15.0);
        QVERIFY(std::abs(compressedLevel(15.0, 0.0, 30.0, 20.0) - 0.75) < 1e-12);
        const double h = 1e-6;
        const double slopeBelow
                = (compressedLevel(-15.0 + h, 0.0, 30.0, 20.0) - compressedLevel(-15.0, 0, 30, 20))
                  / h;
        const double slopeAbove
                = (compressedLevel(15.0, 0.0, 30.0, 20.0) - compressedLevel(15.0 - h, 0, 30, 20))
                  / h;
        QVERIFY(std::abs(slopeBelow - 1.0) < 1e-4);
        QVERIFY(std::abs(slopeAbove - 0.05) < 1e-4);
    }

    // The design and the curve as the page's script gave them, over ratings and levels of
    // every sort, also ones the fields refuse.
    void agreesWithThePageScript()
    {
        std::mt19937 random(7);
        std::uniform_real_distribution<double> any(-50.0, 2000.0);
        QJSValue design = script.globalObject().property("design");
        QJSValue compressed = script.globalObject().property("compressed");
        for (int i = 0; i < 500; ++i) {
            const QVariantMap r
                    = ratings(any(random), any(random) / 50, any(random) / 5, i % 2 == 0,
                              any(random) / 200, any(random), any(random) / 50, any(random) / 20);
            const QVariantMap expected = design.call({script.toScriptValue(r)}).toVariant().toMap();
            const QVariantMap designed = dynamicsToMap(designDynamics(ratingsFromMap(r)));
            QCOMPARE(designed.keys(), expected.keys());
            for (const QString &key : expected.keys())
                QVERIFY2(close(designed[key].toDouble(), expected[key].toDouble()),
                         qPrintable(key));
            const double x = any(random) / 10 - 80, t = any(random) / 20 - 40;
            const double knee = any(random) / 40, ratio = any(random) / 100;
            QVERIFY(close(compressedLevel(x, t, knee, ratio),
                          compressed.call({x, t, knee, ratio}).toNumber()));
        }
    }

    // No band: a flat line; one band of +6 dB at 1 kHz peaks near 1 kHz at 7/8 of the height
    // and reads 1/8 at the ends; a switched-off band is left out; the values are the script's.
    void thumbnail()
    {
        const QVariantList flat = demoEqCurve({});
        QCOMPARE(flat.size(), 48);
        for (const QVariant &value : flat)
            QCOMPARE(value.toDouble(), 0.125);
        const QVariantMap peak{{"freq", 1000.0}, {"gain", 6.0}, {"q", 1.0}, {"enabled", true}};
        const QVariantList one = demoEqCurve({peak});
        const int at1k = int(std::lround(47 * std::log10(1000.0 / 20.0) / 3.0));
        QVERIFY(std::abs(one[at1k].toDouble() - 0.875) < 0.01);
        QVERIFY(one.first().toDouble() < 0.13 && one.last().toDouble() < 0.13);
        QVariantMap off = peak;
        off["enabled"] = false;
        QCOMPARE(demoEqCurve({off}), flat);

        std::mt19937 random(11);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        QJSValue script_ = script.globalObject().property("demoEqCurve");
        for (int i = 0; i < 200; ++i) {
            QVariantList bands;
            for (int b = 0; b < i % 7; ++b)
                bands.append(QVariantMap{{"freq", 20.0 * std::pow(1000.0, unit(random))},
                                         {"gain", 36.0 * unit(random) - 18.0},
                                         {"q", b == 2 ? 0.0 : 10.0 * unit(random)},
                                         {"enabled", b != 3}});
            const QVariantList expected
                    = script_.call({script.toScriptValue(bands)}).toVariant().toList();
            const QVariantList curve = demoEqCurve(bands);
            QCOMPARE(curve.size(), expected.size());
            for (qsizetype k = 0; k < curve.size(); ++k)
                QVERIFY(close(curve[k].toDouble(), expected[k].toDouble()));
        }
    }

private:
    QJSEngine script;
};

SNT_TEST_MAIN(PanelRulesTest)
#include "PanelRulesTest.moc"
