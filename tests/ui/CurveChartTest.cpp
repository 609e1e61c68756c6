#include "tests/support/GuiTestMain.h"
#include "tests/ui/ChartProbes.h"
#include "ui/CoverageRaster.h"
#include "ui/PolylineThinning.h"

#include <QSignalSpy>

#include <cmath>
#include <limits>
#include <random>

using namespace snt::ui;

Q_DECLARE_METATYPE(snt::ui::PointList)
Q_DECLARE_METATYPE(QList<snt::ui::PointRun>)

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();
constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();

QVariantMap fd(QVariant f, QVariant d)
{
    return {{QStringLiteral("f"), f}, {QStringLiteral("d"), d}};
}

// n frequencies spread evenly on the logarithmic axis from 20 Hz to 20 kHz.
QList<double> logFrequencies(int n)
{
    QList<double> f(n);
    for (int i = 0; i < n; ++i)
        f[i] = 20 * std::pow(1000.0, double(i) / (n - 1));
    return f;
}

QVariantList flat(const QList<double> &f, const std::function<double(double)> &value)
{
    QVariantList list;
    for (double x : f)
        list << x << value(x);
    return list;
}

// 480 x 307 with the default paddings, opaque pens of one channel each: grid red, axes green,
// the curve blue; labels and fills off unless a test wants them.
void prepare(CurveChartItem &chart)
{
    chart.setSize(QSizeF(480, 307));
    chart.setProperty("gridColor", QColor(255, 0, 0));
    chart.setProperty("axisColor", QColor(0, 255, 0));
    chart.setProperty("lineColor", QColor(0, 0, 255));
    chart.setProperty("labelColor", QColor(Qt::transparent));
    chart.setProperty("showFill", false);
}

bool anyAbove(const QImage &image, QRect area, char which, int level)
{
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (channel(image.pixel(x, y), which) > level)
                return true;
    return false;
}

} // namespace

class CurveChartTest : public QObject
{
    Q_OBJECT

private slots:
    void parsesTheThreeForms_data()
    {
        QTest::addColumn<QVariantList>("input");
        QTest::addColumn<PointList>("expected");
        QTest::newRow("flat, odd tail ignored")
                << QVariantList{100, -3, 200.5, -2, 300} << PointList{{100, -3}, {200.5, -2}};
        QTest::newRow("flat, non-finite pair dropped")
                << QVariantList{qint64(10), infinity, 20.0f, 1} << PointList{{20, 1}};
        QTest::newRow("maps, missing key reads 0")
                << QVariantList{QVariantMap{{"f", 1000}}, fd(1000, notANumber), fd(50, "2.5")}
                << PointList{{1000, 0}, {50, 2.5}};
        QTest::newRow("pairs, short ones skipped, text reads 0")
                << QVariantList{QVariantList{50}, QVariantList{20, 1}, QVariantList{30, "x"}}
                << PointList{{20, 1}, {30, 0}};
        QTest::newRow("map first: bare numbers skipped")
                << QVariantList{fd(1, 2), 3, 4, QVariantList{5, 6}} << PointList{{1, 2}, {5, 6}};
        QTest::newRow("order kept")
                << QVariantList{300, 1, 100, 2, 300, 3} << PointList{{300, 1}, {100, 2}, {300, 3}};
        QTest::newRow("empty") << QVariantList{} << PointList{};
    }
    void parsesTheThreeForms()
    {
        QFETCH(QVariantList, input);
        QFETCH(PointList, expected);
        QCOMPARE(parsePoints(input), expected);
    }

    void listWritesSignalOnlyOnChange_data()
    {
        QTest::addColumn<QByteArray>("name");
        for (const char *name : {"points", "points2", "points3", "targetCurve", "coherence",
                                 "coherence2", "historyCurves"})
            QTest::newRow(name) << QByteArray(name);
    }
    void listWritesSignalOnlyOnChange()
    {
        QFETCH(QByteArray, name);
        CurveChartItem chart;
        QSignalSpy spy(&chart, "2" + name + "Changed()");
        // Fresh lists each time, as a QML binding hands them over.
        const auto list = [](double d) {
            return QVariantList{QVariantList{100, d, 200, d}, QVariantList{300, d, 400, d}};
        };
        QVERIFY(chart.setProperty(name, list(1)));
        QVERIFY(chart.setProperty(name, list(1)));
        QCOMPARE(spy.count(), 1);
        chart.setProperty(name, list(2));
        QCOMPARE(spy.count(), 2);
        QCOMPARE(chart.property(name).toList(), list(2));
    }

    void historyKeepsCurvesOfTwoPointsOrMore()
    {
        CurveChartItem chart;
        chart.setHistoryCurves({QVariantList{100, 1, 200, 2}, QVariantList{100, 1}, QVariantList{},
                                QVariantList{fd(1, notANumber), fd(2, 0), fd(3, 0)}});
        QCOMPARE(chart.parsedHistory(), (QList<PointList>{{{100, 1}, {200, 2}}, {{2, 0}, {3, 0}}}));
    }

    void doubleRules_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QList<double>>("writes");
        QTest::addColumn<double>("stored");
        QTest::addColumn<int>("signals");
        QTest::newRow("delay negative") << QByteArray("delayMs") << QList{3.0, -5.0} << 0.0 << 2;
        QTest::newRow("delay NaN") << QByteArray("delayMs") << QList{notANumber} << 0.0 << 0;
        QTest::newRow("delay near zero") << QByteArray("delayMs") << QList{1e-13} << 0.0 << 0;
        QTest::newRow("centre 540") << QByteArray("phaseCenter") << QList{540.0} << 180.0 << 1;
        QTest::newRow("centre -180") << QByteArray("phaseCenter") << QList{-180.0} << 180.0 << 1;
        QTest::newRow("centre 450, 90")
                << QByteArray("phaseCenter") << QList{450.0, 90.0} << 90.0 << 1;
        QTest::newRow("scale 3") << QByteArray("renderScale") << QList{3.0} << 2.0 << 1;
        QTest::newRow("scale 0.5") << QByteArray("renderScale") << QList{0.5} << 1.0 << 0;
        QTest::newRow("scale NaN")
                << QByteArray("renderScale") << QList{1.5, notANumber} << 1.0 << 2;
        QTest::newRow("yMin -infinity kept")
                << QByteArray("yMin") << QList{-30.0, -infinity} << -30.0 << 1;
        QTest::newRow("yMax NaN kept") << QByteArray("yMax") << QList{notANumber} << 18.0 << 0;
        QTest::newRow("yMax +infinity kept") << QByteArray("yMax") << QList{infinity} << 18.0 << 0;
        QTest::newRow("fuzzy equal") << QByteArray("padTop") << QList{22 + 1e-12} << 22.0 << 0;
        QTest::newRow("padding") << QByteArray("padLeft") << QList{65.0} << 65.0 << 1;
        QTest::newRow("threshold") << QByteArray("coherenceThreshold") << QList{0.0} << 0.0 << 1;
    }
    void doubleRules()
    {
        QFETCH(QByteArray, name);
        QFETCH(QList<double>, writes);
        CurveChartItem chart;
        QSignalSpy spy(&chart, "2" + name + "Changed()");
        for (double value : writes)
            chart.setProperty(name, value);
        QTEST(chart.property(name).toDouble(), "stored");
        QTEST(int(spy.count()), "signals");
    }

    void exactRules_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QVariant>("other");
        QTest::newRow("bool") << QByteArray("showGrid") << QVariant(false);
        QTest::newRow("int") << QByteArray("labelSize") << QVariant(9);
        QTest::newRow("colour") << QByteArray("targetColor") << QVariant(QColor(74, 142, 254));
    }
    void exactRules()
    {
        QFETCH(QByteArray, name);
        QFETCH(QVariant, other);
        CurveChartItem chart;
        QSignalSpy spy(&chart, "2" + name + "Changed()");
        chart.setProperty(name, chart.property(name));
        QCOMPARE(spy.count(), 0);
        chart.setProperty(name, other);
        chart.setProperty(name, other);
        QCOMPARE(spy.count(), 1);
    }

    // Without a window the texture is the item size times renderScale, rounded up; the new size
    // is in place when renderScaleChanged arrives.
    void textureSizeFollowsRenderScale()
    {
        CurveChartItem chart;
        chart.setSize(QSizeF(480.4, 307));
        QCOMPARE(chart.textureSize(), QSize(481, 307));
        QSize seen;
        connect(&chart, &CurveChartItem::renderScaleChanged, this,
                [&] { seen = chart.textureSize(); });
        chart.setRenderScale(1.5);
        QCOMPARE(seen, QSize(721, 461)); // 720.6 and 460.5 rounded up
    }

    // Curve: 100 .. 600 Hz with a dip to -17.5 (yMin + 1 = -17) at 300 Hz. Coherence, where given:
    // 1 up to 390 Hz, 0.2 from 410 to 510 Hz, 1 again from 590 Hz; 0.6 at 400 Hz.
    void runs_data()
    {
        QTest::addColumn<QVariantList>("coherence");
        QTest::addColumn<double>("threshold");
        QTest::addColumn<bool>("gate");
        QTest::addColumn<QList<PointRun>>("gated");
        QTest::addColumn<QList<PointRun>>("fill");
        const QVariantList dip{100, 1, 390, 1, 410, 0.2, 510, 0.2, 590, 1};
        const QList<PointRun> all{{0, 6}};
        const QList<PointRun> floorCut{{0, 2}, {3, 6}};
        const QList<PointRun> bothCut{{0, 2}, {5, 6}}; // single points are kept
        QTest::newRow("no coherence") << QVariantList{} << 0.7 << true << all << floorCut;
        QTest::newRow("gated") << dip << 0.7 << true << bothCut << bothCut;
        QTest::newRow("threshold 0") << dip << 0.0 << true << all << floorCut;
        QTest::newRow("gate off") << dip << 0.7 << false << all << floorCut;
    }
    void runs()
    {
        QFETCH(QVariantList, coherence);
        QFETCH(double, threshold);
        QFETCH(bool, gate);
        CurveChartItem chart;
        chart.setCoherence(coherence);
        chart.setCoherenceThreshold(threshold);
        chart.setProperty("curveCoherenceGate", gate);
        const PointList curve{{100, 0}, {200, 0}, {300, -17.5}, {400, 0}, {500, 0}, {600, 0}};
        QTEST(chart.gatedSegments(curve, 0), "gated");
        QTEST(chart.runsAboveFloor(curve, 0, chart.gateActive(0)), "fill");
        QCOMPARE(chart.gatedSegments(curve, 2), (QList<PointRun>{{0, 6}}));
    }

    // Horizontal lines down column x = 204 (clear of the 200 and 300 Hz verticals at 192.7 and
    // 216.0): 'M' major (red, 1.4 wide), 'm' minor (red at 55 %, 1.1 wide), 'z' the 0 line and
    // 'a' the bottom axis (green).
    void gridRows_data()
    {
        QTest::addColumn<QList<double>>("bounds");
        QTest::addColumn<bool>("phase");
        QTest::addColumn<QList<double>>("centres");
        QTest::addColumn<QString>("kinds");
        // Every 3 dB from 18 to -18: 248 / 12 = 20.667 px apart.
        QList<double> every3;
        for (int k = 0; k <= 12; ++k)
            every3 << 22 + 248.0 * k / 12;
        QTest::newRow("-18..18") << QList{-18.0, 18.0} << false << every3
                                 << QStringLiteral("MmMmMmzmMmMma");
        QTest::newRow("infinite bounds kept")
                << QList{-infinity, infinity} << false << every3 << QStringLiteral("MmMmMmzmMmMma");
        // -9 .. 9 at y = 22 + 248 * (10 - v) / 20; -12 and 12 lie outside the axis.
        QTest::newRow("-10..10") << QList{-10.0, 10.0} << false
                                 << QList{34.4, 71.6, 108.8, 146.0, 183.2, 220.4, 257.6, 270.0}
                                 << QStringLiteral("mMmzmMma");
        QTest::newRow("phase") << QList{-180.0, 180.0} << true << every3
                               << QStringLiteral("MmMmMmMmMmMma");
        // Hundreds of millions of 3 dB lines: no value grid, the paint still ends.
        QTest::newRow("huge range")
                << QList{-1e9, 1e9} << false << QList{270.0} << QStringLiteral("a");
    }
    void gridRows()
    {
        QFETCH(QList<double>, bounds);
        QFETCH(QList<double>, centres);
        QFETCH(QString, kinds);
        QFETCH(bool, phase);
        CurveChartItem chart;
        prepare(chart);
        chart.setProperty("phaseMode", phase);
        chart.setYMin(bounds[0]);
        chart.setYMax(bounds[1]);
        const QImage image = paintOverBlack(chart);
        const QList<Line> red = linesDown(image, 204, 'r');
        const QList<Line> green = linesDown(image, 204, 'g');
        qsizetype r = 0, g = 0;
        for (qsizetype i = 0; i < centres.size(); ++i) {
            const QChar kind = kinds[i];
            const bool isGreen = kind == 'z' || kind == 'a';
            QVERIFY2(isGreen ? g < green.size() : r < red.size(), qPrintable(QString::number(i)));
            const Line line = isGreen ? green[g++] : red[r++];
            QVERIFY2(std::abs(line.centre - centres[i]) < 0.25,
                     qPrintable(QStringLiteral("line %1 at %2").arg(i).arg(line.centre)));
            if (kind == 'M')
                QVERIFY(line.strength > 300); // 1.4 px of 255
            if (kind == 'm')
                QVERIFY(line.strength > 110 && line.strength < 200); // 1.1 px of 140
            if (kind == 'a' && r < red.size() && std::abs(red[r].centre - 270) < 1)
                ++r; // the bottom grid line under the axis
        }
        QCOMPARE(r, red.size());
        QCOMPARE(g, green.size());
    }

    // The verticals along row 200: the left axis at 60, then x = 60 + 398 * log10(f / 20) / 3.
    void gridColumns()
    {
        CurveChartItem chart;
        prepare(chart);
        const QImage image = paintOverBlack(chart);
        const QList<Line> red = linesAcross(image, 200, 'r');
        const QList<Line> green = linesAcross(image, 200, 'g');
        QCOMPARE(green.size(), 1);
        QVERIFY(std::abs(green[0].centre - 60) < 0.25);
        const double frequencies[]
                = {30,  40,  50,   60,   70,   80,   90,   100,  200,  300,  400,  500,   600,  700,
                   800, 900, 1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000, 9000, 10000, 20000};
        QCOMPARE(red.size(), qsizetype(std::size(frequencies)));
        for (qsizetype i = 0; i < red.size(); ++i)
            QVERIFY(std::abs(red[i].centre - (60 + 398 * std::log10(frequencies[i] / 20) / 3))
                    < 0.25);
    }

    // Curves at known values down one column: blue 6 dB flat; green from -12 dB at 100 Hz to
    // 12 dB at 10 kHz, so 0 dB at 1 kHz (x 285.39): at the column centre 285.5 it sits at
    // 146 - 0.11 * 165.33 / 265.33 = 145.93; red at 30 dB, held at the top edge 22.
    void curvesAtKnownValues()
    {
        CurveChartItem chart;
        prepare(chart);
        chart.setProperty("showGrid", false);
        chart.setProperty("axisColor", QColor(Qt::transparent));
        chart.setProperty("line2Color", QColor(0, 255, 0));
        chart.setProperty("line3Color", QColor(255, 0, 0));
        chart.setProperty("secondSolid", true);
        chart.setProperty("thirdSolid", true);
        chart.setPoints({20, 6, 20000, 6});
        chart.setPoints2({QVariantList{100, -12}, QVariantList{10000, 12}});
        chart.setPoints3({fd(20, 30), fd(20000, 30)});
        const QImage image = paintOverBlack(chart);
        const QList<Line> blue = linesDown(image, 300, 'b');
        const QList<Line> green = linesDown(image, 285, 'g');
        const QList<Line> red = linesDown(image, 300, 'r');
        QCOMPARE(blue.size(), 1);
        QCOMPARE(green.size(), 1);
        QCOMPARE(red.size(), 1);
        QVERIFY(std::abs(blue[0].centre - (22 + 248 * 12.0 / 36)) < 0.25);
        QVERIFY(std::abs(green[0].centre - 145.93) < 0.25);
        QVERIFY(red[0].centre < 22.5); // half the pen is clipped away above the edge
    }

    // Compact or unlabelled charts use the paddings 4/7/8/5 whatever the configured ones say:
    // on 200 x 100 the left axis is at x 4, the bottom axis at y 95 and 0 dB at 8 + 87 / 2.
    void smallPaddings_data()
    {
        QTest::addColumn<QByteArray>("setting");
        QTest::addColumn<bool>("value");
        QTest::newRow("compact") << QByteArray("compact") << true;
        QTest::newRow("no labels") << QByteArray("showLabels") << false;
    }
    void smallPaddings()
    {
        QFETCH(QByteArray, setting);
        QFETCH(bool, value);
        CurveChartItem chart;
        prepare(chart);
        chart.setSize(QSizeF(200, 100));
        chart.setProperty("showGrid", false);
        chart.setProperty(setting, value);
        chart.setPoints({20, 0, 20000, 0});
        const QImage image = paintOverBlack(chart);
        const QList<Line> left = linesAcross(image, 30, 'g');
        const QList<Line> bottom = linesDown(image, 100, 'g');
        const QList<Line> curve = linesDown(image, 100, 'b');
        QVERIFY(left.size() == 1 && std::abs(left[0].centre - 4) < 0.25);
        QVERIFY(bottom.size() == 1 && std::abs(bottom[0].centre - 95) < 0.25);
        QVERIFY(curve.size() == 1 && std::abs(curve[0].centre - 51.5) < 0.25);
    }

    // 200 points at 15 dB (y 42.67) with a single fill; coherence 1, dipping to 0.2 between 800
    // and 1250 Hz. The interpolated coherence is below 0.7 from 737.5 to 1343.75 Hz, so the last
    // point drawn before the gap is at 714 Hz (x 266.0) and the first after it at 1390 Hz
    // (x 304.0): curve and fill are both missing from x 268 to 302.
    void lowCoherenceGap_data()
    {
        QTest::addColumn<double>("threshold");
        QTest::addColumn<bool>("gap");
        QTest::newRow("gated") << 0.7 << true;
        QTest::newRow("threshold 0") << 0.0 << false;
    }
    void lowCoherenceGap()
    {
        QFETCH(double, threshold);
        QFETCH(bool, gap);
        CurveChartItem chart;
        prepare(chart);
        chart.setProperty("showGrid", false);
        chart.setProperty("showFill", true);
        chart.setCoherenceThreshold(threshold);
        chart.setPoints(flat(logFrequencies(200), [](double) { return 15.0; }));
        chart.setCoherence({20, 1, 700, 1, 800, 0.2, 1250, 0.2, 1400, 1, 20000, 1});
        const QImage image = paintOverBlack(chart);
        for (int x : {272, 285, 298}) {
            QCOMPARE(anyAbove(image, QRect(x, 36, 1, 14), 'b', 8), !gap); // the stroke
            QCOMPARE(anyAbove(image, QRect(x, 150, 1, 1), 'b', 8), !gap); // the fill
        }
        for (int x : {240, 330}) {
            QVERIFY(anyAbove(image, QRect(x, 36, 1, 14), 'b', 200));
            // Row 150 lies 128.5 / 248 = 0.518 down the gradient: alpha 100 - 68 * 0.518 / 0.62.
            QVERIFY(std::abs(qBlue(image.pixel(x, 150)) - 43) <= 2);
        }
    }

    // On a -18..-12 axis a curve at -13 dips to -17 (= yMin + 1) between 950 and 1050 Hz
    // (x 282.4 to 288.2). The single fill keeps one run and fills under the dip (down from
    // y 228.7); the fill of both curves breaks at the dip, its runs end at 900 Hz (x 279.3) and
    // start at 1100 Hz (x 290.9).
    void fillsBreakAtTheFloor_data()
    {
        QTest::addColumn<bool>("both");
        QTest::newRow("single fill") << false;
        QTest::newRow("both curves") << true;
    }
    void fillsBreakAtTheFloor()
    {
        QFETCH(bool, both);
        CurveChartItem chart;
        prepare(chart);
        chart.setProperty("showGrid", false);
        chart.setProperty("showFill", true);
        chart.setProperty("fillBoth", both);
        chart.setYMin(-18);
        chart.setYMax(-12);
        chart.setPoints({20, -13, 900, -13, 950, -17, 1050, -17, 1100, -13, 20000, -13});
        const QImage image = paintOverBlack(chart);
        QCOMPARE(anyAbove(image, QRect(285, 250, 1, 1), 'b', 3), !both);
        QVERIFY(anyAbove(image, QRect(250, 250, 1, 1), 'b', 3));
    }

    // A coherence of 0.5 sits at 0.5 * 0.22 * 248 = 27.28 px from the band's edge.
    void coherenceTrace_data()
    {
        QTest::addColumn<bool>("bottom");
        QTest::addColumn<double>("y");
        QTest::newRow("top band") << false << 22 + 27.28;
        QTest::newRow("bottom band") << true << 270 - 27.28;
    }
    void coherenceTrace()
    {
        QFETCH(bool, bottom);
        QFETCH(double, y);
        CurveChartItem chart;
        prepare(chart);
        chart.setProperty("showGrid", false);
        chart.setProperty("showCoherence", true);
        chart.setProperty("coherenceBottom", bottom);
        chart.setProperty("coherenceColor", QColor(0, 0, 255));
        chart.setCoherence({20, 0.5, 20000, 0.5});
        const QList<Line> trace = linesDown(paintOverBlack(chart), 300, 'b');
        QCOMPARE(trace.size(), 1);
        QVERIFY(std::abs(trace[0].centre - y) < 0.25);
    }

    // The value labels, right-aligned against x 50 at y = 22 + 248 * i / 6, must read exactly
    // like these texts set in the same font there.
    void valueLabels_data()
    {
        QTest::addColumn<QList<double>>("bounds");
        QTest::addColumn<double>("centre"); // NaN: not in phase mode
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("-18..18") << QList{-18.0, 18.0} << notANumber
                                 << QStringList{"18 dB", "12", "6", "0", "-6", "-12", "-18"};
        QTest::newRow("-10..10") << QList{-10.0, 10.0} << notANumber
                                 << QStringList{"10 dB", "7", "3", "0", "-3", "-7", "-10"};
        QTest::newRow("phase") << QList{-180.0, 180.0} << 0.0
                               << QStringList{"180°", "120", "60", "0", "-60", "-120", "-180"};
        QTest::newRow("phase centre 90")
                << QList{-180.0, 180.0} << 90.0
                << QStringList{"-90°", "-150", "150", "90", "30", "-30", "-90"};
    }
    void valueLabels()
    {
        QFETCH(QList<double>, bounds);
        QFETCH(double, centre);
        QFETCH(QStringList, texts);
        CurveChartItem chart;
        prepare(chart);
        chart.setProperty("showGrid", false);
        chart.setProperty("showXLabels", false);
        chart.setProperty("axisColor", QColor(Qt::transparent));
        chart.setProperty("labelColor", QColor(Qt::white));
        chart.setYMin(bounds[0]);
        chart.setYMax(bounds[1]);
        chart.setProperty("phaseMode", !std::isnan(centre));
        chart.setPhaseCenter(std::isnan(centre) ? 0 : centre);
        const QImage image = paintOverBlack(chart);

        QImage expected(image.size(), image.format());
        expected.fill(Qt::black);
        QPainter painter(&expected);
        painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
        QFont font(QStringLiteral("Microsoft YaHei UI"));
        font.setPixelSize(11);
        painter.setFont(font);
        painter.setPen(Qt::white);
        for (int i = 0; i < 7; ++i)
            painter.drawText(QRectF(50 - 98, 22 + 248.0 * i / 6 - 11, 98, 22),
                             Qt::AlignRight | Qt::AlignVCenter, texts[i]);
        painter.end();
        QCOMPARE(image, expected);
    }

    // On a 200 px chart (plot 118 px) "30" sits at x 66.9 and "200" at 99.3; 40 .. 100 Hz
    // (x 71.8 .. 87.5) would come closer than 8 px to "30" and are left out.
    void frequencyLabelsThinOut()
    {
        CurveChartItem chart;
        prepare(chart);
        chart.setSize(QSizeF(200, 307));
        chart.setProperty("showGrid", false);
        chart.setProperty("labelColor", QColor(0, 0, 255));
        const QImage image = paintOverBlack(chart);
        const QRect band(0, 307 - 37 + 10, 200, 19);
        QVERIFY(anyAbove(image, band.adjusted(61, 0, -200 + 73, 0), 'b', 60)); // "30"
        QVERIFY(!anyAbove(image, band.adjusted(75, 0, -200 + 88, 0), 'b', 8));
        QVERIFY(anyAbove(image, band.adjusted(91, 0, -200 + 108, 0), 'b', 60)); // "200"
    }

    // A pure delay of 0.25 ms: phase -0.36 * 0.25 * f degrees, wrapped. With delayMs 0 the chart
    // estimates the delay from the slope and turns the curve flat at -90 degrees (the rotation is
    // referred to 1 kHz): y = 22 + 248 * 270 / 360 = 208. Compensated phases are drawn as given:
    // at 2 kHz the phase is -180, drawn at the top (180 after wrapping) or bottom edge.
    void pureDelayDrawnFlat_data()
    {
        QTest::addColumn<bool>("compensated");
        QTest::newRow("estimated") << false;
        QTest::newRow("compensated") << true;
    }
    void pureDelayDrawnFlat()
    {
        QFETCH(bool, compensated);
        CurveChartItem chart;
        prepare(chart);
        chart.setProperty("showGrid", false);
        chart.setProperty("phaseMode", true);
        chart.setProperty("phaseCompensated", compensated);
        chart.setYMin(-180);
        chart.setYMax(180);
        chart.setPoints(flat(logFrequencies(480),
                             [](double f) { return std::remainder(-0.09 * f, 360.0); }));
        const QImage image = paintOverBlack(chart);
        for (int x = 80; x < 440; x += 20) {
            const QList<Line> curve = linesDown(image, x, 'b');
            const bool flatThere = curve.size() == 1 && std::abs(curve[0].centre - 208) < 0.3;
            QVERIFY2(flatThere || compensated, qPrintable(QString::number(x)));
        }
        const int x2k = int(60 + 398 * 2.0 / 3); // 2 kHz
        const QList<Line> at2k = linesDown(image, x2k, 'b');
        QVERIFY(!at2k.isEmpty());
        QCOMPARE(std::abs(at2k[0].centre - 208) < 1, !compensated);
    }

    // A noisy 8193-point capture is drawn with far fewer pieces than points (at most four points
    // per pixel column for solid lines, dash pieces inside one column merged), yet its picture
    // stays within a pixel of the same polyline stroked by QPainter through every point (mapped
    // here with the axis formulas).
    void denseCurveDrawnWithinAPixel_data()
    {
        QTest::addColumn<bool>("solid");
        QTest::newRow("solid") << true;
        QTest::newRow("dashed") << false;
    }
    void denseCurveDrawnWithinAPixel()
    {
        QFETCH(bool, solid);
        std::mt19937 random(7);
        std::normal_distribution<double> noise(0, 4);
        QVariantList list;
        QPolygonF full;
        for (int i = 1; i <= 8193; ++i) {
            const double f = i * 48000.0 / 16384;
            const double v = std::clamp(f > 2000 ? noise(random) : 0.0, -18.0, 18.0);
            list << f << v;
            full << QPointF(60 + 398 * std::log10(f / 20) / 3, 22 + 248 * (18 - v) / 36);
        }
        QVERIFY(thinToPixelColumns(full, 1).size() <= 4 * 480);

        CurveChartItem chart;
        prepare(chart);
        chart.setProperty("showGrid", false);
        chart.setProperty("axisColor", QColor(Qt::transparent));
        chart.setProperty("firstSolid", solid);
        chart.setPoints(list);
        QImage reference(480, 307, QImage::Format_ARGB32_Premultiplied);
        reference.fill(Qt::black);
        QPainter painter(&reference);
        painter.setRenderHint(QPainter::Antialiasing);
        QPen pen(QColor(0, 0, 255), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        if (!solid)
            pen.setDashPattern({4, 4});
        painter.setPen(pen);
        painter.drawPolyline(full);
        painter.end();
        QVERIFY(sameWithinAPixel(paintOverBlack(chart), reference));
    }

    // Exact pixel coverages: a rectangle from x 10.25 to 20.75 and y 5 to 15.5 covers its edge
    // columns by 0.75, its last row by 0.5 and those corners by 0.375; a stroke 2 wide along
    // y 10.5 covers the rows next to it by half.
    void rasterCoversExactAreas_data()
    {
        QTest::addColumn<bool>("stroke");
        QTest::addColumn<QList<QPoint>>("pixels");
        QTest::addColumn<QList<double>>("coverage");
        QTest::newRow("area") << false
                              << QList<QPoint>{{9, 8},  {10, 8},  {15, 8},  {20, 8}, {21, 8},
                                               {15, 4}, {15, 15}, {20, 15}, {15, 16}}
                              << QList<double>{0, 0.75, 1, 0.75, 0, 0, 0.5, 0.375, 0};
        QTest::newRow("stroke") << true
                                << QList<QPoint>{{20, 8}, {20, 9}, {20, 10}, {20, 11}, {20, 12}}
                                << QList<double>{0, 0.5, 1, 0.5, 0};
    }
    void rasterCoversExactAreas()
    {
        QFETCH(bool, stroke);
        QFETCH(QList<QPoint>, pixels);
        QFETCH(QList<double>, coverage);
        CoverageRaster raster;
        raster.resize(QSize(40, 20));
        if (stroke)
            raster.addStroke(QPolygonF{{5, 10.5}, {35, 10.5}}, 2, {});
        else
            raster.addArea(QRectF(QPointF(10.25, 5), QPointF(20.75, 15.5)));
        QImage image(40, 20, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::black);
        QPainter painter(&image);
        raster.paint(&painter, QColor(Qt::white));
        painter.end();
        for (qsizetype i = 0; i < pixels.size(); ++i)
            QVERIFY2(std::abs(qRed(image.pixel(pixels[i])) - 255 * coverage[i]) <= 1.5,
                     qPrintable(QString::number(i)));
    }

    // A chart painted again after its axis, colours and size changed looks exactly like a new chart
    // painted once with them (the kept grid and labels follow); and where the kept pictures cannot
    // be used (a device of pixel ratio 2), QPainter alone draws the same picture within a pixel.
    void repaintsMatchFreshCharts()
    {
        const auto dress = [](CurveChartItem &chart) {
            prepare(chart);
            chart.setProperty("labelColor", QColor(Qt::white));
            chart.setProperty("showCoherence", true);
            chart.setProperty("showFill", true);
            chart.setPoints(
                    flat(logFrequencies(480), [](double f) { return 9 * std::sin(f / 700); }));
            chart.setCoherence({20, 0.9, 20000, 0.9});
            chart.setHistoryCurves({QVariant(QVariantList{20, -6, 20000, 3})});
            chart.setTargetCurve({20, 3, 20000, -6});
        };
        CurveChartItem chart;
        dress(chart);
        paintOverBlack(chart);
        const auto change = [](CurveChartItem &chart) {
            chart.setSize(QSizeF(400, 250));
            chart.setYMax(12);
            chart.setProperty("gridColor", QColor(0, 128, 255));
            chart.setProperty("labelSize", 12);
        };
        change(chart);
        CurveChartItem fresh;
        dress(fresh);
        change(fresh);
        QCOMPARE(paintOverBlack(chart), paintOverBlack(fresh));
        // An opaque picture gets the same (the kept pictures stay transparent around the lines).
        QCOMPARE(paintOverBlack(chart, QImage::Format_RGB32)
                         .convertToFormat(QImage::Format_ARGB32_Premultiplied),
                 paintOverBlack(fresh));

        QImage kept(800, 500, QImage::Format_ARGB32_Premultiplied);
        kept.fill(Qt::black);
        QPainter scaled(&kept);
        scaled.scale(2, 2);
        chart.paint(&scaled);
        scaled.end();
        QImage direct(800, 500, QImage::Format_ARGB32_Premultiplied);
        direct.setDevicePixelRatio(2);
        direct.fill(Qt::black);
        QPainter plain(&direct);
        chart.paint(&plain);
        plain.end();
        direct.setDevicePixelRatio(1);
        QVERIFY(sameWithinAPixel(kept, direct));
    }
};

SNT_GUI_TEST_MAIN(CurveChartTest)
#include "CurveChartTest.moc"
