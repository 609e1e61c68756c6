// The main road in the program's window, driven as a user would, through the loopback test card
// with a known filter on the measured channel: one loudspeaker from the home page to the next
// one, a line array of three points, a signal that cannot play, and the level status against
// real channel gains.
#include "audio/Client.h"
#include "tests/audio/LogCapture.h"
#include "tests/engine/SignalTools.h"
#include "tests/qml/ChartGeometry.h"
#include "tests/qml/ContrastProbe.h"
#include "tests/qml/MeterProbe.h"
#include "tests/qml/PillProbe.h"
#include "tests/qml/ScreenDriver.h"
#include "tests/support/GuiTestMain.h"
#include "tests/support/LoopbackCard.h"

#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>

#include <cmath>
#include <numbers>

using screentest::ScreenDriver;
using snt::test::levelRow;
using snt::test::LoopbackCard;
using snt::test::plotColumn;

namespace {

constexpr double rate = 48000.0;
constexpr int longWaitMs = 120000;

std::shared_ptr<LoopbackCard> card;

void setMeasuredPath(const signaltest::Path &path)
{
    LoopbackCard::Path measured;
    measured.sourceChannel = 0;
    measured.gain = float(path.gain);
    measured.biquad = {path.bq.b0, path.bq.b1, path.bq.b2, path.bq.a1, path.bq.a2};
    card->setPath(0, measured);
}

signaltest::Path peak(double gain, double gainDb)
{
    return {gain, 0, signaltest::Biquad::peaking(1000.0, gainDb, 1.4, rate)};
}

double levelDb(const signaltest::Path &path, double f)
{
    return 20.0 * std::log10(std::abs(path.response(2.0 * std::numbers::pi * f / rate)));
}

// The row of the chart's white curve in the window's column of frequency f, or -1.
double curveRow(const QImage &shown, QQuickItem *chart, double f)
{
    const QPointF origin = chart->mapToScene(QPointF(0, 0));
    const int x = plotColumn(chart, f);
    const int top = int(origin.y() + chart->property("padTop").toDouble());
    const int bottom = int(origin.y() + chart->height() - chart->property("padBottom").toDouble());
    double sum = 0;
    int rows = 0;
    for (int y = top; y < bottom; ++y) {
        const QRgb p = shown.pixel(x, y);
        if (std::min({qRed(p), qGreen(p), qBlue(p)}) > 200) {
            sum += y + 0.5;
            ++rows;
        }
    }
    return rows > 0 ? sum / rows : -1;
}

// The value of a flat point list at the listed frequency nearest to f.
double valueNear(const QVariantList &flat, double f)
{
    qsizetype best = 0;
    for (qsizetype i = 0; i + 1 < flat.size(); i += 2) {
        if (std::abs(std::log(flat[i].toDouble() / f))
            < std::abs(std::log(flat[best].toDouble() / f)))
            best = i;
    }
    return flat[best + 1].toDouble();
}

// Whether the drawn curve rises from 250 Hz to 1 kHz by what the path's response gives.
bool curveFollowsThePath(ScreenDriver &ui, const signaltest::Path &path)
{
    QQuickItem *chart = ui.find("measureChart");
    const QImage shown = ui.grab();
    const double low = curveRow(shown, chart, 250.0);
    const double high = curveRow(shown, chart, 1000.0);
    if (low < 0 || high < 0)
        return false;
    const double plotHeight = chart->height() - chart->property("padTop").toDouble()
                              - chart->property("padBottom").toDouble();
    const double dbPerRow
            = (chart->property("yMax").toDouble() - chart->property("yMin").toDouble())
              / plotHeight;
    const double drawn = (low - high) * dbPerRow;
    return std::abs(drawn - (levelDb(path, 1000.0) - levelDb(path, 250.0))) < 1.0;
}

// The points' curves on the line-array chart, while no average covers them, stand out from the
// card in both palettes: between grid lines at three frequencies, where each point's curve runs,
// they change the card's pixels by at least the contrast ratio of 3 that WCAG 2 asks of graphics.
void verifyPointCurvesStandOut(QmlBridge &bridge, QQuickItem *chart)
{
    const QVariantList points = chart->property("historyCurves").toList();
    QVERIFY(!points.isEmpty());
    QVERIFY(chart->property("points").toList().isEmpty());
    for (const bool dark : {false, true}) {
        bridge.setDarkMode(dark);
        for (const double f : {150.0, 1500.0, 7500.0}) {
            for (const QVariant &point : points) {
                const int row = int(levelRow(chart, valueNear(point.toList(), f)));
                const QRect around(plotColumn(chart, f) - 8, row - 6, 17, 13);
                const double ratio = snt::test::itemContrast(chart, around);
                QVERIFY2(ratio >= 3.0, qPrintable(QString("%1 palette, %2 Hz: contrast %3")
                                                          .arg(dark ? "dark" : "light")
                                                          .arg(f)
                                                          .arg(ratio)));
            }
        }
    }
}

QString textOf(QQuickItem *item)
{
    return item ? item->property("text").toString() : QString();
}

// What a badge of the array screen shows at its fill: "current", "done" or "open".
QString badgeLook(const QImage &shown, QQuickItem *badges, int index, int count)
{
    const double n = std::max(5, count + 1);
    const double step = (480.0 - 49.0 - 44.0) / (n - 1);
    const double r = std::max(7.5, 12.3 - (n - 5) * 0.48);
    const QPointF at
            = badges->mapToScene(QPointF(0, 0)) + QPointF(22 + step * index + 0.7 * r, 35.5);
    const QRgb p = shown.pixel(at.toPoint());
    if (qBlue(p) > 200 && qRed(p) < 120)
        return "current";
    if (std::min({qRed(p), qGreen(p), qBlue(p)}) > 200)
        return "done";
    if (std::max({qRed(p), qGreen(p), qBlue(p)}) < 80)
        return "open";
    return QString("#%1").arg(p & 0xffffff, 6, 16);
}

} // namespace

class MainRoadTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Halvo"));
        QCoreApplication::setApplicationName(QStringLiteral("测量工作流"));
        card = std::make_shared<LoopbackCard>();
        QVERIFY(audio::Client::setPluginFactories({[] {
            return card;
        }}));
    }

    void init()
    {
        QSettings settings;
        settings.clear();
        settings.setValue("measure/signalType", 0); // pink noise
        setMeasuredPath(peak(1.0, 6.0));
    }

    void cleanupTestCase() { card.reset(); }

    // Home, play, aligned meters, the automatic run, the computation, the schemes with their
    // plan dialog, the delivery screen with an edit, and on to the next loudspeaker.
    void pointSourceRoad()
    {
        QmlBridge bridge;
        bridge.setMeasureSeconds(2.0);
        ScreenDriver ui(bridge);
        QVERIFY(ui.ready());
        QVERIFY(bridge.darkMode());
        QTRY_VERIFY(ui.find("homeRow0"));
        ui.click(ui.find("homeRow0"));
        QCOMPARE(bridge.screen(), QStringLiteral("点声源-测量中"));

        QQuickItem *primary = ui.find("primaryButton");
        QCOMPARE(textOf(primary), QStringLiteral("播放（全频）"));
        QVERIFY(!ui.find("stopButton"));
        QTRY_COMPARE(ui.page()->opacity(), 1.0);
        SNT_VERIFY_PRIMARY_FILL(bridge, primary);
        ui.click(primary);
        QVERIFY(bridge.measuring());
        QTRY_VERIFY(ui.find("stopButton"));
        QCOMPARE(textOf(ui.find("stopButton")), QStringLiteral("停止"));

        // The meters rise with the signal; the card reads aligned once the bridge holds it.
        QQuickItem *meters = ui.find("meterCard");
        for (const QString row : {"measureMeter", "referenceMeter"})
            QTRY_VERIFY(screentest::named(screentest::named(meters, row), "fill")->width() > 50);
        QTRY_COMPARE_WITH_TIMEOUT(textOf(ui.find("alignStatus")), QStringLiteral("已对齐"),
                                  longWaitMs);
        QCOMPARE(textOf(primary), QStringLiteral("自动测量计算"));
        QVERIFY(primary->isEnabled());
        SNT_VERIFY_PRIMARY_FILL(bridge, primary);
        QTRY_VERIFY_WITH_TIMEOUT(curveFollowsThePath(ui, peak(1.0, 6.0)), longWaitMs);

        ui.click(primary);
        QVERIFY(bridge.autoMeasuring());
        QCOMPARE(textOf(primary), QStringLiteral("计算中"));
        QVERIFY(!primary->isEnabled());
        QTRY_VERIFY(ui.find("progressFill")->width() >= 0.02 * 480 - 0.5);
        QTRY_COMPARE_WITH_TIMEOUT(bridge.screen(), QStringLiteral("点声源-计算"), longWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(bridge.screen(), QStringLiteral("点声源-选用途"), longWaitMs);

        const QVariantList schemes = bridge.schemes();
        QVERIFY(!schemes.isEmpty());
        QTRY_VERIFY(ui.find(QString("schemeCard%1").arg(schemes.size() - 1)));
        QVERIFY(!ui.find(QString("schemeCard%1").arg(schemes.size())));

        // The eye opens the plan dialog of that scheme; the veil closes it.
        const int last = int(schemes.size()) - 1;
        ui.click(screentest::named(ui.find(QString("schemeCard%1").arg(last)), "eyeButton"));
        QVERIFY(bridge.planDetailOpen());
        QCOMPARE(bridge.selectedScheme(), last);
        QCOMPARE(bridge.screen(), QStringLiteral("点声源-选用途"));
        QCOMPARE(textOf(ui.findInWindow("planTitle")),
                 schemes.at(last).toMap().value("name").toString());
        ui.click(ui.findInWindow("planCard"));
        QVERIFY(bridge.planDetailOpen());
        ui.clickAt(QPoint(30, 200));
        QVERIFY(!bridge.planDetailOpen());

        ui.click(screentest::named(ui.find("schemeCard0"), "enterButton"));
        QCOMPARE(bridge.screen(), QStringLiteral("点声源-交付与复测"));
        QCOMPARE(bridge.selectedScheme(), 0);

        // The scheme answers the +6 dB resonance with a cut near it, listed row by row.
        const QVariantList bands = bridge.eqBands();
        QVERIFY(std::any_of(bands.cbegin(), bands.cend(), [](const QVariant &band) {
            const QVariantMap b = band.toMap();
            return b.value("gain").toDouble() < -2.0
                   && std::abs(std::log2(b.value("freq").toDouble() / 1000.0)) < 0.5;
        }));
        QTRY_VERIFY(ui.find(QString("bandRow%1").arg(bands.size() - 1)));
        QCOMPARE(textOf(ui.find("bandHeader")), QString("EQ · %1 段").arg(bands.size()));

        QQuickItem *gain = screentest::named(ui.find("bandRow0"), "gainField");
        ui.type(gain, "-2.5");
        QCOMPARE(bridge.eqBands().at(0).toMap().value("gain").toDouble(), -2.5);
        QCOMPARE(textOf(gain), QStringLiteral("-2.5"));

        QTRY_COMPARE(ui.page()->opacity(), 1.0);
        SNT_VERIFY_PRIMARY_FILL(bridge, ui.find("nextButton"));
        ui.click(ui.find("nextButton"));
        QCOMPARE(bridge.screen(), QStringLiteral("点声源-测量中"));
        QCOMPARE(bridge.measuredPointCount(), 0);
        QVERIFY(!bridge.measuring());
    }

    // Three points, with the badges, state, progress and compute button after each, the points'
    // curves standing out in both palettes before the average, and drawn under their average.
    void lineArrayRoad()
    {
        QmlBridge bridge;
        bridge.setMeasureSeconds(2.0);
        bridge.setMeasureGuideHidden(true);
        ScreenDriver ui(bridge);
        QVERIFY(ui.ready());
        QTRY_VERIFY(ui.find("homeRow1"));
        ui.click(ui.find("homeRow1"));
        QCOMPARE(bridge.screen(), QStringLiteral("线阵列-测量中"));

        QQuickItem *primary = ui.find("primaryButton");
        QQuickItem *badges = ui.find("badges");
        const auto checkBadges = [&](int count) {
            QTRY_COMPARE(badges->property("drawn").toInt(), std::max(5, count + 1));
            QTest::qWait(50);
            const QImage shown = ui.grab();
            for (int i = 0; i < std::max(5, count + 1); ++i)
                QCOMPARE(badgeLook(shown, badges, i, count), i < count    ? "done"
                                                             : i == count ? "current"
                                                                          : "open");
        };
        QCOMPARE(textOf(primary), QStringLiteral("播放线阵列"));
        QTRY_COMPARE(ui.page()->opacity(), 1.0);
        SNT_VERIFY_PRIMARY_FILL(bridge, primary);
        QCOMPARE(textOf(ui.find("stateText")), QStringLiteral("先播放线阵列，再对齐两个表头"));
        QCOMPARE(ui.find("progressFill")->width(), 0.0);
        QCOMPARE(ui.find("stopButton")->opacity(), 0.0);
        QVERIFY(!ui.find("computeButton")->isEnabled());
        checkBadges(0);

        for (int point = 1; point <= 3; ++point) {
            ui.click(primary);
            QVERIFY(bridge.measuring());
            QCOMPARE(ui.find("stopButton")->opacity(), 1.0);
            if (!bridge.autoMeasuring()) {
                QCOMPARE(textOf(ui.find("stateText")),
                         QStringLiteral("信号已开，对齐表头后测第 1 点"));
                QCOMPARE(textOf(primary), QString("测量第 %1 点").arg(point));
                SNT_VERIFY_PRIMARY_FILL(bridge, primary);
                ui.click(primary);
            }
            QVERIFY(bridge.autoMeasuring());
            QCOMPARE(textOf(primary), QStringLiteral("测量中…"));
            QVERIFY(!primary->isEnabled());
            QCOMPARE(textOf(ui.find("stateText")), QString("正在测量第 %1 点").arg(point));
            QTRY_COMPARE_WITH_TIMEOUT(bridge.measuredPointCount(), point, longWaitMs);

            QCOMPARE(textOf(ui.find("stateText")),
                     point < 3 ? QString("第 %1 点测量完成，还差 %2 点").arg(point).arg(3 - point)
                               : QString("第 3 点测量完成，平均曲线已生成"));
            QCOMPARE(textOf(ui.find("pointCount")), QString("已测 %1 点").arg(point));
            QCOMPARE(textOf(ui.find("currentTitle")), QString("第 %1 点").arg(point + 1));
            QTRY_COMPARE(ui.find("progressFill")->width(), 480.0);
            QCOMPARE(ui.find("computeButton")->isEnabled(), point >= 3);
            checkBadges(point);
            if (point == 2)
                verifyPointCurvesStandOut(bridge, ui.find("measureChart"));
            if (QTest::currentTestFailed())
                return;
        }
        QQuickItem *chart = ui.find("measureChart");
        const QVariantList history = chart->property("historyCurves").toList();
        QCOMPARE(history.size(), 3);
        QVERIFY(!chart->property("points").toList().isEmpty());
        // Three points through one path: each reads the path's response (the display's smoothing
        // takes a quarter decibel off the peak), however many analysis ticks a busy machine left
        // its two seconds, and the average is drawn on them, within a row.
        const QImage shown = ui.grab();
        for (const double f : {200.0, 1000.0, 5000.0}) {
            double pointsDb = 0;
            for (const QVariant &point : history) {
                const double pointDb = valueNear(point.toList(), f);
                QVERIFY2(std::abs(pointDb - levelDb(peak(1.0, 6.0), f)) < 0.5,
                         qPrintable(QString("%1 Hz: a point reads %2 dB, the path %3 dB")
                                            .arg(f)
                                            .arg(pointDb)
                                            .arg(levelDb(peak(1.0, 6.0), f))));
                pointsDb += pointDb / history.size();
            }
            const double drawn = curveRow(shown, chart, f);
            QVERIFY2(std::abs(drawn - levelRow(chart, pointsDb)) < 1.0,
                     qPrintable(QString("%1 Hz: average drawn at row %2, the points at %3")
                                        .arg(f)
                                        .arg(drawn)
                                        .arg(levelRow(chart, pointsDb))));
        }

        ui.click(ui.find("computeButton"));
        QCOMPARE(bridge.screen(), QStringLiteral("点声源-计算"));
        QTRY_COMPARE_WITH_TIMEOUT(bridge.screen(), QStringLiteral("点声源-选用途"), longWaitMs);
    }

    // The meters show a level only while a run plays: on entering a measuring screen they read
    // silent, rise with the signal, and read silent again the moment Stop ends the run, on the
    // point-source and on the line-array screen.
    void metersReadSilentAfterStop()
    {
        QmlBridge bridge;
        bridge.setMeasureGuideHidden(true);
        ScreenDriver ui(bridge);
        QVERIFY(ui.ready());
        for (const char *row : {"homeRow0", "homeRow1"}) {
            QTRY_VERIFY(ui.find(row));
            ui.click(ui.find(row));
            QQuickItem *meters = ui.find("meterCard");
            QVERIFY(snt::test::metersReadSilent(meters));
            ui.click(ui.find("primaryButton"));
            QVERIFY(bridge.measuring());
            for (const QString meter : {"measureMeter", "referenceMeter"})
                QTRY_VERIFY(screentest::named(screentest::named(meters, meter), "fill")->width()
                            > 50);
            ui.click(ui.find("stopButton"));
            QVERIFY(!bridge.measuring());
            QTRY_VERIFY(snt::test::metersReadSilent(meters));
            bridge.home();
        }
    }

    // A test signal that cannot play ends the run at once, named in the toast and the log: the
    // music file missing beside the program (as beside this test), or a card whose playback
    // side does not open. The screen offers to play again and draws no curve.
    void aSignalThatCannotPlayIsNamed_data()
    {
        QTest::addColumn<int>("signalType");
        QTest::addColumn<bool>("refusePlayback");
        QTest::addColumn<QString>("toast");
        QTest::addColumn<QString>("logLine");
        const QString musicFile = QCoreApplication::applicationDirPath() + "/Music-Noise.wav";
        QTest::newRow("music file missing")
                << 2 << false << "测试信号文件 Music-Noise.wav 放不了（无法打开文件: "
                << "[Generator] the test signal file " + musicFile + " cannot be played";
        QTest::newRow("playback refused")
                << 0 << true << "输出设备「Loopback test card」打不开，测试信号放不出来"
                << "[Generator] the output loopback-card Loopback test card did not open";
    }
    void aSignalThatCannotPlayIsNamed()
    {
        QFETCH(int, signalType);
        QFETCH(bool, refusePlayback);
        QFETCH(QString, toast);
        QFETCH(QString, logLine);
        QVERIFY(!QFile::exists(QCoreApplication::applicationDirPath() + "/Music-Noise.wav"));
        QSettings().setValue("measure/signalType", signalType);
        card->setRefusePlayback(refusePlayback);
        const auto playAgain = qScopeGuard([] { card->setRefusePlayback(false); });
        const LogCapture log;
        QmlBridge bridge;
        ScreenDriver ui(bridge);
        QVERIFY(ui.ready());
        bridge.go(QStringLiteral("点声源-测量中"));
        QQuickItem *primary = ui.find("primaryButton");
        ui.click(primary);

        QQuickItem *toastBox = ui.findInWindow("toastBox");
        QTRY_VERIFY(toastBox && screentest::findItem(toastBox, [&](QQuickItem *item) {
                        return item->property("text").toString().startsWith(toast);
                    }));
        QVERIFY(!bridge.measuring());
        QVERIFY(!bridge.core().session());
        QCOMPARE(textOf(primary), QStringLiteral("播放（全频）"));
        QVERIFY(primary->isEnabled());
        QTRY_VERIFY(!ui.find("stopButton"));
        QVERIFY2(std::any_of(log.lines().cbegin(), log.lines().cend(),
                             [&](const QString &line) { return line.startsWith(logLine); }),
                 log.text());
        QVERIFY(bridge.measuringCurveFlat().isEmpty());
        QCOMPARE(curveRow(ui.grab(), ui.find("measureChart"), 1000.0), -1.0);
    }

    // The alignment status from the real gap between the two channels.
    void levelStatusFromChannelGains_data()
    {
        QTest::addColumn<double>("gain");
        QTest::addColumn<QString>("status");
        QTest::newRow("10.5 dB lower") << 0.3 << "比参考低 %1 dB";
        QTest::newRow("9.5 dB higher") << 3.0 << "比参考高 %1 dB";
        QTest::newRow("3 dB higher, inside") << 1.41 << "已对齐";
    }
    void levelStatusFromChannelGains()
    {
        QFETCH(double, gain);
        QFETCH(QString, status);
        setMeasuredPath({gain, 0, signaltest::Biquad::peaking(1000.0, 0.0, 1.0, rate)});
        QmlBridge bridge;
        ScreenDriver ui(bridge);
        QVERIFY(ui.ready());
        bridge.go(QStringLiteral("点声源-测量中"));
        ui.click(ui.find("primaryButton"));
        QVERIFY(bridge.measuring());
        QQuickItem *text = ui.find("alignStatus");
        if (!status.contains("%1")) {
            QTRY_COMPARE_WITH_TIMEOUT(textOf(text), status, longWaitMs);
            QVERIFY(ui.find("primaryButton")->property("breath").toBool());
            return;
        }
        // The status settles on the gain the path applies.
        const QString expected = status.arg(std::abs(20 * std::log10(gain)), 0, 'f', 1);
        const auto settled = [&] {
            const QRegularExpressionMatch number
                    = QRegularExpression(" (\\d+\\.\\d) dB$").match(textOf(text));
            return textOf(text).startsWith(expected.section(' ', 0, 0)) && number.hasMatch()
                   && std::abs(number.captured(1).toDouble() - std::abs(20 * std::log10(gain)))
                              < 0.3;
        };
        QTRY_VERIFY2_WITH_TIMEOUT(settled(), qPrintable(textOf(text) + " / " + expected),
                                  longWaitMs);
        QCOMPARE(textOf(ui.find("primaryButton")), QStringLiteral("请对齐表头"));
        QVERIFY(!ui.find("primaryButton")->isEnabled());
    }
};

SNT_GUI_TEST_MAIN(MainRoadTest)
#include "MainRoadTest.moc"
