// The screens of the main road one by one, on the real bridge without a measurement: the home
// page's layout, rows and hover cascade, the login form, the meter card alone, the compute
// screen's bar, and the use and delivery screens on curves computed from known shapes.
#include "app/AppCore.h"
#include "audio/Client.h"
#include "eq/SchemeEngine.h"
#include "files/DataFolder.h"
#include "processor/ProcessorEqList.h"
#include "tests/eq/SyntheticCurves.h"
#include "tests/qml/PillProbe.h"
#include "tests/qml/ScreenDriver.h"
#include "tests/support/GuiTestMain.h"
#include "tests/support/LoopbackCard.h"

#include <QDir>
#include <QFontInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QRawFont>
#include <QSet>
#include <QSettings>
#include <QThread>

#include <cmath>

using screentest::named;
using screentest::ScreenDriver;

namespace {

constexpr int computeWaitMs = 120000;

QString textOf(QQuickItem *item)
{
    return item ? item->property("text").toString() : QString();
}

// Sockets this process holds open (their inodes), from the kernel's view of its descriptors.
QSet<QString> openSockets()
{
    QSet<QString> sockets;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QFileInfo &fd : fds.entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
        const QString target = fd.symLinkTarget();
        if (target.contains(QLatin1String("socket:")))
            sockets.insert(target.section(QLatin1Char('/'), -1));
    }
    return sockets;
}

// Hands a measured curve to the bridge as if it had just been measured.
void setMeasured(QmlBridge &bridge, const snt::eq::Measured &curve)
{
    bridge.core().setMeasured(
            {.freq = curve.freq, .magnitude = curve.magnitude, .coherence = curve.coherence});
    emit bridge.curveChanged();
}

// A curve usable only from 100 to 140 Hz, which the engine refuses to fit.
snt::eq::Measured narrowCurve()
{
    snt::eq::Measured narrow = snt::eq::synthetic::curve({});
    qsizetype first = 0;
    while (narrow.freq[first] < 100.0f)
        ++first;
    qsizetype count = 0;
    while (narrow.freq[first + count] <= 140.0f)
        ++count;
    narrow.freq = narrow.freq.mid(first, count);
    narrow.magnitude = narrow.magnitude.mid(first, count);
    narrow.coherence = narrow.coherence.mid(first, count);
    return narrow;
}

// Computes `curve` from the compute screen and waits for the use screen.
bool computeFromTheScreen(QmlBridge &bridge, const snt::eq::Measured &curve)
{
    setMeasured(bridge, curve);
    bridge.go(QStringLiteral("点声源-计算"));
    return QTest::qWaitFor([&] { return bridge.screen() == QStringLiteral("点声源-选用途"); },
                           computeWaitMs);
}

// Puts the first band of the first computed scheme at `hz`, as the computation may: its grid
// reaches 22 kHz. False when that scheme has no band.
bool computeFirstBandAt(QmlBridge &bridge, float hz)
{
    AppCore &core = bridge.core();
    snt::eq::Scheme scheme = core.result().schemes.value(0);
    if (scheme.bands.isEmpty())
        return false;
    scheme.bands[0].freq = hz;
    core.setScheme(0, scheme);
    core.keepComputedSchemes();
    return true;
}

// The first band of the pack of that name as the root file holds it; none when the file does
// not hold that pack.
snt::eq::SchemeBand storedFirstBand(const QString &name)
{
    QFile file(curvePackRootFile());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QJsonArray packs = QJsonDocument::fromJson(file.readAll()).object()["packs"].toArray();
    for (const QJsonValue &pack : packs) {
        if (pack["name"].toString() != name)
            continue;
        const QJsonObject band = pack["bands"][0].toObject();
        return {float(band["freq"].toDouble()), float(band["gain"].toDouble()),
                float(band["q"].toDouble()), band["enabled"].toBool(true)};
    }
    return {};
}

// The row of an open picker menu that reads `label`.
QQuickItem *menuRow(ScreenDriver &ui, const QString &label)
{
    return screentest::findItem(ui.window()->contentItem(), [&](QQuickItem *item) {
        if (textOf(item) != label)
            return false;
        for (QQuickItem *up = item; up; up = up->parentItem()) {
            if (up->inherits("QQuickPopupItem"))
                return true;
        }
        return false;
    });
}

} // namespace

class ScreensTest : public QObject
{
    Q_OBJECT

    std::shared_ptr<snt::test::LoopbackCard> card_;

private slots:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Halvo"));
        QCoreApplication::setApplicationName(QStringLiteral("测量工作流"));
        card_ = std::make_shared<snt::test::LoopbackCard>();
        QVERIFY(audio::Client::setPluginFactories({[this] {
            return card_;
        }}));
    }

    void init() { QSettings().clear(); }

    void cleanupTestCase() { card_.reset(); }

    void homeLayoutFollowsThePageHeight_data()
    {
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("titleTop");
        QTest::addColumn<int>("listTop");
        QTest::addColumn<int>("rowHeight");
        QTest::addColumn<int>("spacing");
        QTest::newRow("short") << 960 << 115 << 197 << 93 << 0;
        QTest::newRow("compact") << 1000 << 128 << 220 << 98 << 3;
        QTest::newRow("normal") << 1145 << 165 << 268 << 109 << 5;
    }
    void homeLayoutFollowsThePageHeight()
    {
        QFETCH(int, height);
        QFETCH(int, titleTop);
        QFETCH(int, listTop);
        QFETCH(int, rowHeight);
        QFETCH(int, spacing);
        QmlBridge bridge;
        ScreenDriver ui(bridge, QStringLiteral("HomeScreen"), QSize(600, height));
        QVERIFY(ui.ready());
        QCOMPARE(ui.find("title")->y(), double(titleTop));
        QCOMPARE(ui.find("rowList")->y(), double(listTop));
        QCOMPARE(ui.find("rowList")->x(), 93.0);
        QCOMPARE(ui.find("rowList")->width(), 474.0);
        for (int i = 0; i < 6; ++i) {
            QQuickItem *row = ui.find(QString("homeRow%1").arg(i));
            QCOMPARE(row->height(), double(rowHeight));
            QCOMPARE(row->y(), double(i * (rowHeight + spacing)));
            QCOMPARE(row->property("enterDelay").toInt(), i * 120);
        }
        // Every row slides in from 22 px to the left.
        QTRY_COMPARE(ui.find("homeRow5")->property("entryOffset").toDouble(), 0.0);
    }

    void homeRowActions_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<bool>("guideHidden");
        QTest::addColumn<QString>("screen");
        QTest::addColumn<QString>("toast");
        QTest::newRow("point source") << 0 << false << "点声源-测量中"
                                      << "";
        QTest::newRow("array, guide shown") << 1 << false << "测量引导"
                                            << "";
        QTest::newRow("array, guide hidden") << 1 << true << "线阵列-测量中"
                                             << "";
        QTest::newRow("room, beta") << 4 << false << "主页"
                                    << "这一条还在内测";
        QTest::newRow("crossover, beta") << 5 << false << "主页"
                                         << "这一条还在内测";
    }
    void homeRowActions()
    {
        QFETCH(int, row);
        QFETCH(bool, guideHidden);
        QFETCH(QString, screen);
        QFETCH(QString, toast);
        QmlBridge bridge;
        bridge.setMeasureGuideHidden(guideHidden);
        ScreenDriver ui(bridge);
        QVERIFY(ui.ready());
        QQuickItem *item = ui.find(QString("homeRow%1").arg(row));
        QCOMPARE(item->property("badge").toString(), toast.isEmpty() ? "" : "内测");
        ui.click(item);
        QCOMPARE(bridge.screen(), screen);
        QCOMPARE(bridge.toastText(), toast);
    }

    // Hovering a row shifts it at once and the rows below it by 11, 8, 6, 4.5 and 3.2 px after
    // 30 to 150 ms; leaving the list sends every row back at once.
    void homeHoverCascade()
    {
        QmlBridge bridge;
        ScreenDriver ui(bridge);
        QVERIFY(ui.ready());
        QTRY_COMPARE(ui.find("homeRow5")->property("entryOffset").toDouble(), 0.0);
        const auto row = [&](int i) {
            return ui.find(QString("homeRow%1").arg(i));
        };
        ui.hover(row(0));
        const QList<double> shifts{22, 11, 8, 6, 4.5, 3.2};
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(row(i)->property("hoverTarget").toDouble(), shifts[i]);
            QCOMPARE(row(i)->property("hoverDelay").toInt(), i * 30);
        }
        for (int i = 0; i < 6; ++i)
            QTRY_COMPARE(row(i)->property("hoverShift").toDouble(), shifts[i]);
        QVERIFY(row(0)->property("isHovered").toBool());

        ui.hover(row(2));
        const QList<double> fromThird{0, 0, 22, 11, 8, 6};
        for (int i = 0; i < 6; ++i)
            QCOMPARE(row(i)->property("hoverTarget").toDouble(), fromThird[i]);
        QTRY_COMPARE(row(0)->property("hoverShift").toDouble(), 0.0);

        ui.hover(ui.find("title"));
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(row(i)->property("hoverTarget").toDouble(), 0.0);
            QCOMPARE(row(i)->property("hoverDelay").toInt(), 0);
            QTRY_COMPARE(row(i)->property("hoverShift").toDouble(), 0.0);
        }
    }

    // The login page is a form: digits only and at most 11 and 6 of them, a code button that
    // only says so, a login that goes back, and no socket opened on the way.
    void loginIsAFormOnly()
    {
        QmlBridge bridge;
        ScreenDriver ui(bridge);
        QVERIFY(ui.ready());
        const QSet<QString> sockets = openSockets();
        bridge.go(QStringLiteral("登录"));
        QVERIFY(ui.find("phoneField"));
        QTRY_COMPARE(ui.page()->opacity(), 1.0);
        for (const char *button : {"sendCodeButton", "loginButton"})
            SNT_VERIFY_PRIMARY_FILL(bridge, ui.find(button));
        ui.type(ui.find("phoneField"), "138-0013-8000 9999");
        QCOMPARE(textOf(ui.find("phoneField")), QStringLiteral("13800138000"));
        ui.type(ui.find("codeField"), "12ab345678");
        QCOMPARE(textOf(ui.find("codeField")), QStringLiteral("123456"));
        ui.click(ui.find("sendCodeButton"));
        QCOMPARE(bridge.toastText(), QStringLiteral("验证码已发送（内测版）"));
        QCOMPARE(bridge.screen(), QStringLiteral("登录"));
        ui.click(ui.find("loginButton"));
        QCOMPARE(bridge.screen(), QStringLiteral("主页"));
        QTest::qWait(200);
        QVERIFY((openSockets() - sockets).isEmpty());
    }

    // The meter scale: nothing at or below -90 dBFS, ((L + 90) / 90)^1.6 of the track above,
    // all of it from 0 dBFS; the marks at -16 and -8 dBFS labelled "-12" and "-6".
    void meterCardScale_data()
    {
        QTest::addColumn<double>("level");
        QTest::addColumn<double>("fraction");
        QTest::addColumn<QString>("value");
        QTest::newRow("no number") << double(NAN) << 0.0 << "— dB";
        QTest::newRow("-130") << -130.0 << 0.0 << "— dB";
        QTest::newRow("-90") << -90.0 << 0.0 << "— dB";
        QTest::newRow("-45") << -45.0 << std::pow(0.5, 1.6) << "-45.0 dB";
        QTest::newRow("-8") << -8.0 << std::pow(82.0 / 90.0, 1.6) << "-8.0 dB";
        QTest::newRow("+3") << 3.0 << 1.0 << "3.0 dB";
    }
    void meterCardScale()
    {
        QFETCH(double, level);
        QFETCH(double, fraction);
        QFETCH(QString, value);
        QmlBridge bridge;
        ScreenDriver ui(bridge, QStringLiteral("MeasureMeterCard"), QSize(480, 131));
        QVERIFY(ui.ready());
        QQuickItem *meter = ui.page();
        meter->setProperty("measureDb", level);
        meter->setProperty("referenceDb", -200.0);
        QQuickItem *measure = ui.find("measureMeter");
        QQuickItem *track = named(measure, "track");
        QCOMPARE(track->width(), 286.0);
        QVERIFY(std::abs(named(measure, "fill")->width() - 286.0 * fraction) < 1e-6);
        QCOMPARE(textOf(named(measure, "value")), value);
        QCOMPARE(textOf(named(ui.find("referenceMeter"), "value")), QStringLiteral("— dB"));

        const double marks[] = {std::pow(74.0 / 90.0, 1.6), std::pow(82.0 / 90.0, 1.6)};
        QQuickItem *label12 = ui.find("scaleLabel-12");
        QQuickItem *label6 = ui.find("scaleLabel-6");
        QCOMPARE(label12->x(), std::round(286.0 * marks[0] - 13.5));
        QCOMPARE(label6->x(), std::round(286.0 * marks[1] - 13.5));
        QList<double> markX;
        for (QQuickItem *child : track->childItems()) {
            if (child->objectName() == "mark")
                markX << child->x();
        }
        const QList<double> markAt{std::round(286.0 * marks[0]), std::round(286.0 * marks[1])};
        QCOMPARE(markX, markAt);
        // Rows placed under a header, centred in a taller card.
        meter->setProperty("header", "超低");
        meter->setProperty("centerRows", true);
        meter->setHeight(200);
        QCOMPARE(ui.find("measureMeter")->parentItem()->y(), 57.0 + 32.0);
    }

    // Without a measured curve nothing starts and the bar stays full; with one, the bar creeps
    // between the engine's reports, never backwards, never past 95 %, never behind the engine.
    // The engine here takes its time first, so the bar has time to creep.
    void computeScreenBar()
    {
        QmlBridge bridge([](const snt::eq::Measured &measured, const snt::eq::Options &options,
                            QString *log, const std::function<void(int, int)> &progress) {
            QThread::msleep(700);
            return snt::eq::computeSchemes(measured, options, log, progress);
        });
        ScreenDriver ui(bridge);
        QVERIFY(ui.ready());
        bridge.go(QStringLiteral("点声源-计算"));
        QTest::qWait(400);
        QVERIFY(!bridge.computing());
        QCOMPARE(ui.find("progressFill")->width(), 480.0);
        QQuickItem *listing = ui.find("listing");
        const double before = listing->y();
        QTRY_VERIFY(listing->y() != before);
        bridge.home();

        setMeasured(bridge, snt::eq::synthetic::curve(snt::eq::synthetic::roughFeatures(), 60, 4,
                                                      18000, 2));
        bridge.go(QStringLiteral("点声源-计算"));
        QTRY_VERIFY(bridge.computing());
        // The page goes with the computation's end.
        QPointer<QQuickItem> page = ui.page();
        double shown = page->property("shown").toDouble();
        QCOMPARE(shown, 0.02);
        int creeps = 0;
        while (bridge.computing()) {
            const double progress = bridge.computeProgress();
            QTest::qWait(10);
            if (!bridge.computing() || !page)
                break;
            const double next = page->property("shown").toDouble();
            QVERIFY(next >= shown && next <= 0.95);
            if (next != shown) {
                QVERIFY(next >= std::min(0.95, progress) - 1e-9);
                if (std::abs(next - (shown + 0.012)) < 1e-9)
                    ++creeps;
            }
            shown = next;
        }
        QVERIFY2(creeps >= 2, qPrintable(QString::number(creeps)));
        QTRY_COMPARE_WITH_TIMEOUT(bridge.screen(), QStringLiteral("点声源-选用途"), computeWaitMs);
    }

    // The use screen on computed schemes, then the delivery screen's editing as typed and picked.
    void useAndDeliveryOnAComputedCurve()
    {
        QmlBridge bridge;
        ScreenDriver ui(bridge);
        QVERIFY(ui.ready());
        QVERIFY(computeFromTheScreen(
                bridge,
                snt::eq::synthetic::curve({{1000, 6, 1}, {250, -4, 1.5}}, 60, 4, 18000, 2)));
        const int count = int(bridge.schemes().size());
        QTRY_VERIFY(ui.find(QString("schemeCard%1").arg(count - 1)));
        QVERIFY(!ui.find("emptyText"));
        QQuickItem *mini = named(ui.find("schemeCard0"), "miniChart");
        QVERIFY(!mini->property("points").toList().isEmpty());
        QVERIFY(!mini->property("points2").toList().isEmpty());
        ui.click(named(ui.find("schemeCard1"), "cardArea"));
        QCOMPARE(bridge.screen(), QStringLiteral("点声源-交付与复测"));
        QCOMPARE(bridge.selectedScheme(), 1);
        QCOMPARE(textOf(ui.find("heading")), QStringLiteral("把这些参数输入到处理器"));
        QVERIFY(!ui.find("blockedCard"));

        // Both corners on at 24 dB/oct, picked from the slope menus.
        for (const QString side : {"hpfCard", "lpfCard"}) {
            ui.click(named(ui.find(side), "slopePicker"));
            QTRY_VERIFY(menuRow(ui, "24 dB/oct"));
            ui.click(menuRow(ui, "24 dB/oct"));
        }
        QTRY_COMPARE(bridge.corners().value("lpfSlopeDb").toDouble(), 24.0);
        QCOMPARE(bridge.corners().value("hpfSlopeDb").toDouble(), 24.0);

        // kHz mode: 1.5 is 1500 Hz; above 24 it is Hz already. The unit holds while typing.
        bridge.updateCorner("lpf", 12000, 24);
        QQuickItem *lpf = named(ui.find("lpfCard"), "frequencyField");
        QCOMPARE(textOf(lpf), QStringLiteral("12.0"));
        ui.type(lpf, "1.5", false);
        QCOMPARE(bridge.corners().value("lpfHz").toDouble(), 1500.0);
        ui.type(lpf, "100", false);
        QCOMPARE(bridge.corners().value("lpfHz").toDouble(), 100.0);
        QCOMPARE(textOf(lpf), QStringLiteral("100"));
        QCOMPARE(textOf(named(ui.find("lpfCard"), "unit")), QStringLiteral("kHz"));
        QTest::keyClick(ui.window(), Qt::Key_Return);
        QCOMPARE(textOf(named(ui.find("lpfCard"), "unit")), QStringLiteral("Hz"));
        // Hz mode: 5 Hz is below the range and sends nothing; leaving shows the stored value.
        QQuickItem *hpf = named(ui.find("hpfCard"), "frequencyField");
        const double hpfHz = bridge.corners().value("hpfHz").toDouble();
        ui.type(hpf, "5");
        QCOMPARE(bridge.corners().value("hpfHz").toDouble(), hpfHz);
        QCOMPARE(textOf(hpf), QString::number(std::round(hpfHz)));

        // A Linkwitz-Riley corner offers no 6 dB/oct; Bypass switches the corner off.
        ui.click(named(ui.find("hpfCard"), "typePicker"));
        QTRY_VERIFY(menuRow(ui, "LR · Linkwitz-Riley"));
        ui.click(menuRow(ui, "LR · Linkwitz-Riley"));
        QTRY_COMPARE(bridge.corners().value("hpfType").toString(), QStringLiteral("LR"));
        ui.click(named(ui.find("hpfCard"), "slopePicker"));
        QTRY_VERIFY(menuRow(ui, "12 dB/oct"));
        QVERIFY(!menuRow(ui, "6 dB/oct"));
        ui.click(menuRow(ui, "Bypass"));
        QTRY_VERIFY(!bridge.corners().value("hpfOn").toBool());
        QVERIFY(!hpf->isEnabled());
        QCOMPARE(hpf->parentItem()->opacity(), 0.45);
    }

    // Band fields send each typed number only when it is inside its range (a prefix in range is
    // sent as typed), keep what is typed while focused, and show the stored value when left.
    void deliveryBandEditing_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<double>("stored"); // NaN: unchanged
        QTest::addColumn<QString>("left"); // empty: the earlier value's text
        QTest::addColumn<float>("bandHz"); // 0: the band as computed
        QTest::newRow("freq below") << "freqField"
                                    << "freq"
                                    << "10" << double(NAN) << "" << 0.0f;
        QTest::newRow("freq top") << "freqField"
                                  << "freq"
                                  << "20000" << 20000.0 << "20000" << 0.0f;
        QTest::newRow("q below") << "qField"
                                 << "q"
                                 << "0.05" << double(NAN) << "" << 0.0f;
        QTest::newRow("q low end") << "qField"
                                   << "q"
                                   << "0.1" << 0.1 << "0.1" << 0.0f;
        QTest::newRow("gain above") << "gainField"
                                    << "gain"
                                    << "25" << 2.0 << "+2" << 0.0f;
        QTest::newRow("gain low end") << "gainField"
                                      << "gain"
                                      << "-18" << -18.0 << "-18" << 0.0f;
        QTest::newRow("not a number") << "gainField"
                                      << "gain"
                                      << "abc" << double(NAN) << "" << 0.0f;
        // The schemes' grid reaches 22 kHz, above what a typed frequency may be.
        QTest::newRow("gain of a band at 22 kHz") << "gainField"
                                                  << "gain"
                                                  << "-2" << -2.0 << "-2" << 22000.0f;
        QTest::newRow("q of a band at 22 kHz") << "qField"
                                               << "q"
                                               << "2.5" << 2.5 << "2.5" << 22000.0f;
    }
    void deliveryBandEditing()
    {
        QFETCH(QString, field);
        QFETCH(QString, key);
        QFETCH(QString, typed);
        QFETCH(double, stored);
        QFETCH(QString, left);
        QFETCH(float, bandHz);
        QmlBridge bridge;
        ScreenDriver ui(bridge);
        QVERIFY(ui.ready());
        QVERIFY(computeFromTheScreen(
                bridge,
                snt::eq::synthetic::curve({{1000, 6, 1}, {250, -4, 1.5}}, 60, 4, 18000, 2)));
        if (bandHz > 0.0f)
            QVERIFY(computeFirstBandAt(bridge, bandHz));
        bridge.enterScheme(0);
        const auto band = [&](const QString &k) {
            return bridge.eqBands().at(0).toMap().value(k).toDouble();
        };
        if (bridge.eqBands().isEmpty())
            ui.click(ui.find("addBandButton"));
        QTRY_VERIFY(ui.find("bandRow0"));
        const QVariantMap earlierBand = bridge.eqBands().at(0).toMap();
        const double before = earlierBand.value(key).toDouble();
        QQuickItem *box = named(ui.find("bandRow0"), field);
        const QString earlier = textOf(box);
        ui.type(box, typed, false);
        QVERIFY(std::abs(band(key) - (std::isnan(stored) ? before : stored)) < 1e-4);
        // The two fields not edited keep their values exactly.
        for (const QString other : {"freq", "q", "gain"}) {
            if (other != key)
                QCOMPARE(band(other), earlierBand.value(other).toDouble());
        }
        QCOMPARE(textOf(box), typed);

        // What the processor is sent and what the pack file holds carry the band as shown.
        const snt::eq::SchemeBand shown = bridge.core().result().selected().bands[0];
        ProcessorEqList delivered;
        QString error;
        QVERIFY2(bridge.collectProcessorEq(delivered, QStringLiteral("上传"), error),
                 qPrintable(error));
        const ProcessorEqList::Band sent = delivered.bands[0];
        QCOMPARE((snt::eq::SchemeBand{float(sent.frequencyHz), float(sent.gainDb), float(sent.q),
                                      sent.enabled}),
                 shown);
        if (bandHz > 0.0f)
            QCOMPARE(sent.frequencyHz, double(bandHz));
        QTRY_COMPARE(storedFirstBand(bridge.core().result().pack.name), shown);
        QTest::keyClick(ui.window(), Qt::Key_Return);
        QCOMPARE(textOf(box), left.isEmpty() ? earlier : left);

        const int count = int(bridge.eqBands().size());
        const bool on = bridge.eqBands().at(0).toMap().value("enabled").toBool();
        ui.click(named(ui.find("bandRow0"), "bandSwitch"));
        QCOMPARE(bridge.eqBands().at(0).toMap().value("enabled").toBool(), !on);
        if (count < 12) {
            ui.click(ui.find("addBandButton"));
            QCOMPARE(bridge.eqBands().size(), count + 1);
            QTRY_COMPARE(textOf(ui.find("bandHeader")), QString("EQ · %1 段").arg(count + 1));
            QTRY_COMPARE(textOf(named(ui.find("bandRow0"), "gainField")), QStringLiteral("+3"));
        }
    }

    // A curve the engine refuses: the delivery screen says why and offers nothing to deliver.
    void blockedDelivery()
    {
        QmlBridge bridge;
        ScreenDriver ui(bridge);
        QVERIFY(ui.ready());
        QVERIFY(computeFromTheScreen(bridge, narrowCurve()));
        QTRY_VERIFY(ui.find("schemeCard0"));
        ui.click(named(ui.find("schemeCard0"), "enterButton"));
        QCOMPARE(bridge.screen(), QStringLiteral("点声源-交付与复测"));
        QVERIFY(bridge.corners().value("blocked").toBool());
        QCOMPARE(textOf(ui.find("heading")), QStringLiteral("先把曲线测对，再算参数"));
        QVERIFY(ui.find("blockedCard"));
        QCOMPARE(textOf(ui.find("blockedReason")),
                 bridge.corners().value("blockedReason").toString());
        for (const char *hidden : {"bandList", "hpfCard", "lpfCard", "gainRow"})
            QVERIFY(!ui.find(hidden));
        ui.click(ui.find("uploadButton"));
        QCOMPARE(bridge.toastText(), QStringLiteral("这条曲线不建议计算，没有 EQ 可以导出"));
        QVERIFY(!bridge.processorPanelOpen());
    }

    // Every title is set in the CJK face, has a glyph for each character, and is drawn.
    void titlesAreDrawnInTheCjkFace_data()
    {
        QTest::addColumn<QString>("screen");
        QTest::addColumn<QString>("title");
        QTest::newRow("home") << "主页"
                              << "title";
        QTest::newRow("measuring") << "点声源-测量中"
                                   << "title";
        QTest::newRow("array") << "线阵列-测量中"
                               << "title";
        QTest::newRow("use") << "点声源-选用途"
                             << "title";
        QTest::newRow("delivery") << "点声源-交付与复测"
                                  << "heading";
    }
    void titlesAreDrawnInTheCjkFace()
    {
        QFETCH(QString, screen);
        QFETCH(QString, title);
        QmlBridge bridge;
        ScreenDriver ui(bridge);
        QVERIFY(ui.ready());
        bridge.go(screen);
        QQuickItem *text = ui.find(title);
        QVERIFY(text);
        const QFont font = text->property("font").value<QFont>();
        QCOMPARE(QFontInfo(font).family(), QStringLiteral("Noto Sans CJK SC"));
        const QRawFont raw = QRawFont::fromFont(font);
        for (const QChar c : textOf(text))
            QVERIFY(c.isSpace() || raw.supportsCharacter(c));
        QTRY_COMPARE(ui.page()->opacity(), 1.0);
        QTest::qWait(400);
        const QRect area = text->mapRectToScene(text->boundingRect()).toAlignedRect();
        const QImage shown = ui.grab().copy(area);
        const QColor ink = text->property("color").value<QColor>();
        int inked = 0;
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x)
                inked += std::abs(qRed(shown.pixel(x, y)) - ink.red()) < 8
                         && std::abs(qBlue(shown.pixel(x, y)) - ink.blue()) < 8;
        QVERIFY2(inked > textOf(text).size() * 10, qPrintable(QString::number(inked)));
    }
};

SNT_GUI_TEST_MAIN(ScreensTest)
#include "ScreensTest.moc"
