#include "app/QmlBridge.h"
#include "audio/Client.h"
#include "tests/audio/FakePlugin.h"
#include "tests/support/TestMain.h"

#include <QMetaProperty>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>

namespace {

// The settings file of the application's scope, read apart from the bridge's own QSettings.
QSettings storedSettings()
{
    return QSettings(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                             + QStringLiteral("/Halvo/测量工作流.conf"),
                     QSettings::IniFormat);
}

audio::DeviceInfo device(const QString &id, const QString &name, const QStringList &inputs)
{
    return audio::DeviceInfo{id, name, 48000, QStringLiteral("Fake"), inputs, {"1", "2"}};
}

// Inputs named "1" to "n".
QStringList numberedInputs(int n)
{
    QStringList names;
    for (int c = 1; c <= n; ++c)
        names.append(QString::number(c));
    return names;
}

std::shared_ptr<FakePlugin> plugin;

// The signal a property announces its changes with.
QMetaMethod notifier(const QObject &object, const char *property)
{
    const QMetaObject *meta = object.metaObject();
    return meta->property(meta->indexOfProperty(property)).notifySignal();
}

} // namespace

// The bridge object without a window: its settings in a sandboxed home, setters with their
// limits, the theme, toasts, stored window geometry, navigation with its history, and the
// choice of the recording sound card and its channels.
class QmlBridgeTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Halvo"));
        QCoreApplication::setApplicationName(QStringLiteral("测量工作流"));
        plugin = std::make_shared<FakePlugin>(QStringLiteral("Fake"));
        plugin->rows
                = {device("mic", "USB Mic", {"L", "R"}), device("line", "Codec Line In", {"1"}),
                   device("out", "USB Audio CODEC Out", {}),
                   device("codec", "USB Audio CODEC", {"", " ", "Mic 3"}),
                   device("desk", "Stage Desk", numberedInputs(40))};
        plugin->defaultInput = QStringLiteral("mic");
        QVERIFY(audio::Client::setPluginFactories({[] {
            return plugin;
        }}));
        QVERIFY(audio::Client::instance());
    }

    void init() { QSettings().clear(); }

    void startupReadsStoredSettings_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QVariant>("expected");
        QTest::newRow("smoothing 24") << "curve/smoothingBandsV2" << QVariant(24)
                                      << QByteArray("smoothingBands") << QVariant(6);
        QTest::newRow("smoothing -3") << "curve/smoothingBandsV2" << QVariant(-3)
                                      << QByteArray("smoothingBands") << QVariant(6);
        QTest::newRow("smoothing 12") << "curve/smoothingBandsV2" << QVariant(12)
                                      << QByteArray("smoothingBands") << QVariant(12);
        QTest::newRow("label of 48") << "curve/smoothingBandsV2" << QVariant(48)
                                     << QByteArray("smoothingLabel") << QVariant("1/48 OCT");
        QTest::newRow("theme Dark")
                << "ui/theme" << QVariant("Dark") << QByteArray("darkMode") << QVariant(true);
        QTest::newRow("theme light")
                << "ui/theme" << QVariant("light") << QByteArray("darkMode") << QVariant(false);
        QTest::newRow("guide hidden") << "measure/guideHidden" << QVariant(true)
                                      << QByteArray("measureGuideHidden") << QVariant(true);
        QTest::newRow("signal type 5") << "measure/signalType" << QVariant(5)
                                       << QByteArray("measureSignalType") << QVariant(2);
        QTest::newRow("signal type -1") << "measure/signalType" << QVariant(-1)
                                        << QByteArray("measureSignalType") << QVariant(0);
        QTest::newRow("data channel 40") << "audio/dataChannel" << QVariant(40)
                                         << QByteArray("audioDataChannel") << QVariant(-1);
        QTest::newRow("data channel -2") << "audio/dataChannel" << QVariant(-2)
                                         << QByteArray("audioDataChannel") << QVariant(0);
        QTest::newRow("reference -4") << "audio/referenceChannel" << QVariant(-4)
                                      << QByteArray("audioReferenceChannel") << QVariant(1);
    }

    void startupReadsStoredSettings()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, stored);
        QFETCH(QByteArray, property);
        QFETCH(QVariant, expected);
        storedSettings().setValue(key, stored);
        QmlBridge bridge;
        QCOMPARE(bridge.property(property), expected);
    }

    // Each row writes a property once from its start value; the value read back, the number of
    // change signals and what lands in the settings file must follow.
    void settersKeepTheirLimits_data()
    {
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QVariant>("written");
        QTest::addColumn<QVariant>("read");
        QTest::addColumn<int>("emitted");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("stored");
        QTest::newRow("2 s at least") << QByteArray("measureSeconds") << QVariant(1.0)
                                      << QVariant(2.0) << 1 << QString() << QVariant();
        QTest::newRow("60 s at most") << QByteArray("measureSeconds") << QVariant(90.0)
                                      << QVariant(60.0) << 1 << QString() << QVariant();
        QTest::newRow("10 s is the start") << QByteArray("measureSeconds") << QVariant(10.0)
                                           << QVariant(10.0) << 0 << QString() << QVariant();
        QTest::newRow("+12 dB at most") << QByteArray("generatorGain") << QVariant(20.0)
                                        << QVariant(12.0) << 1 << QString() << QVariant();
        QTest::newRow("-60 dB at least") << QByteArray("generatorGain") << QVariant(-80.0)
                                         << QVariant(-60.0) << 1 << QString() << QVariant();
        QTest::newRow("signal type 0") << QByteArray("measureSignalType") << QVariant(0)
                                       << QVariant(0) << 1 << "measure/signalType" << QVariant(0);
        QTest::newRow("signal type 7 is the default")
                << QByteArray("measureSignalType") << QVariant(7) << QVariant(2) << 0
                << "measure/signalType" << QVariant();
        QTest::newRow("smoothing 24 is the 6 it is")
                << QByteArray("smoothingBands") << QVariant(24) << QVariant(6) << 0
                << "curve/smoothingBandsV2" << QVariant();
        QTest::newRow("smoothing 3") << QByteArray("smoothingBands") << QVariant(3) << QVariant(3)
                                     << 1 << "curve/smoothingBandsV2" << QVariant(3);
        QTest::newRow("dark while dark still writes")
                << QByteArray("darkMode") << QVariant(true) << QVariant(true) << 0 << "ui/theme"
                << QVariant("dark");
        QTest::newRow("light") << QByteArray("darkMode") << QVariant(false) << QVariant(false) << 1
                               << "ui/theme" << QVariant("light");
        QTest::newRow("help off") << QByteArray("helpOn") << QVariant(false) << QVariant(false) << 1
                                  << "ui/helpOn" << QVariant(false);
        QTest::newRow("help on is the default") << QByteArray("helpOn") << QVariant(true)
                                                << QVariant(true) << 0 << "ui/helpOn" << QVariant();
        QTest::newRow("point guide")
                << QByteArray("pointGuideHidden") << QVariant(true) << QVariant(true) << 1
                << "point/guideHidden" << QVariant(true);
        QTest::newRow("sub guide") << QByteArray("subGuideHidden") << QVariant(true)
                                   << QVariant(true) << 1 << "sub/guideHidden" << QVariant(true);
        // Without schemes there is one curve entry per target curve (six of them).
        QTest::newRow("curve index past the entries")
                << QByteArray("curveIndex") << QVariant(9) << QVariant(5) << 1 << QString()
                << QVariant();
        QTest::newRow("project name") << QByteArray("projectName") << QVariant("剧场")
                                      << QVariant("剧场") << 1 << QString() << QVariant();
    }

    void settersKeepTheirLimits()
    {
        QFETCH(QByteArray, property);
        QFETCH(QVariant, written);
        QFETCH(QVariant, read);
        QFETCH(int, emitted);
        QFETCH(QString, key);
        QFETCH(QVariant, stored);
        QmlBridge bridge;
        QSignalSpy changed(&bridge, notifier(bridge, property));
        QVERIFY(bridge.setProperty(property, written));
        QCOMPARE(bridge.property(property), read);
        QCOMPARE(changed.count(), emitted);
        if (!key.isEmpty())
            QCOMPARE(storedSettings().value(key), stored);
    }

    // helpOn and the signal type are read from the settings on every access.
    void settingsReadOnEveryAccess()
    {
        QmlBridge bridge;
        QCOMPARE(bridge.helpOn(), true);
        QCOMPARE(bridge.measureSignalType(), 2);
        QSettings().setValue("ui/helpOn", false);
        QSettings().setValue("measure/signalType", 1);
        QCOMPARE(bridge.helpOn(), false);
        QCOMPARE(bridge.measureSignalType(), 1);
    }

    void themeHoldsEveryColour()
    {
        QmlBridge bridge;
        const QRegularExpression colour(QStringLiteral("^#([0-9A-F]{6}|[0-9A-F]{8})$"));
        for (const bool dark : {true, false}) {
            bridge.setDarkMode(dark);
            const QVariantMap theme = bridge.theme();
            QCOMPARE(theme.size(), 27);
            QCOMPARE(theme.value("dark").toBool(), dark);
            for (auto it = theme.cbegin(); it != theme.cend(); ++it)
                QVERIFY(it.key() == "dark" || colour.match(it.value().toString()).hasMatch());
        }
        QCOMPARE(bridge.theme().value("text70").toString(), QStringLiteral("#0A0A0A"));
        QCOMPARE(bridge.theme().value("danger").toString(), QStringLiteral("#D92E2E"));
        bridge.setDarkMode(true);
        QCOMPARE(bridge.theme().value("chartFill").toString(), QStringLiteral("#38FFFFFF"));
    }

    void toastsRepeatAndClearOnce()
    {
        QmlBridge bridge;
        QSignalSpy changed(&bridge, &QmlBridge::toastTextChanged);
        bridge.clearToast();
        QCOMPARE(changed.count(), 0);
        bridge.toast("x");
        bridge.toast("x");
        QCOMPARE(changed.count(), 2);
        bridge.clearToast();
        bridge.clearToast();
        QCOMPARE(changed.count(), 3);
        QVERIFY(bridge.toastText().isEmpty());
    }

    void windowGeometryIsStored()
    {
        QmlBridge bridge;
        const QVariantMap fresh = bridge.windowState("curve");
        QCOMPARE(fresh, (QVariantMap{{"x", -1.0}, {"y", -1.0}, {"width", 0.0}, {"height", 0.0}}));
        bridge.saveWindowState("curve", 10.5, 20, 640, 480);
        QCOMPARE(storedSettings().value("window/curve/w").toDouble(), 640.0);
        QCOMPARE(QmlBridge().windowState("curve"),
                 (QVariantMap{{"x", 10.5}, {"y", 20.0}, {"width", 640.0}, {"height", 480.0}}));
    }

    void panelAndCurveWindowExcludeEachOther()
    {
        QmlBridge bridge;
        bridge.setCurveWindowOpen(true);
        bridge.setProcessorPanelOpen(true);
        QVERIFY(bridge.processorPanelOpen() && !bridge.curveWindowOpen());
        bridge.setCurveWindowOpen(true);
        QVERIFY(!bridge.processorPanelOpen() && bridge.curveWindowOpen());
        QVERIFY(bridge.processor());
        QCOMPARE(bridge.property("processor").value<QObject *>(), bridge.processor());
    }

    void historyKeepsTheLast24Screens()
    {
        QmlBridge bridge;
        QSignalSpy changed(&bridge, &QmlBridge::screenChanged);
        for (int i = 0; i < 30; ++i)
            bridge.go(QStringLiteral("设置%1").arg(i));
        QCOMPARE(bridge.history().size(), 24);
        QCOMPARE(bridge.history().first(), QStringLiteral("设置5"));
        QCOMPARE(bridge.history().last(), QStringLiteral("设置28"));
        bridge.go(QStringLiteral("设置29"));
        bridge.go(QString());
        QCOMPARE(changed.count(), 30);
        QCOMPARE(bridge.history().size(), 24);
    }

    void backFollowsTheHistory()
    {
        QmlBridge bridge;
        bridge.back(); // nothing to go back to
        QCOMPARE(bridge.screen(), QStringLiteral("主页"));
        QVERIFY(bridge.history().isEmpty());

        bridge.setFillMicGuideOpen(true);
        bridge.go("线阵列-测量中");
        QVERIFY(bridge.lineArrayMode() && !bridge.fillMicGuideOpen());
        bridge.go("点声源-测量中");
        QVERIFY(!bridge.lineArrayMode());
        bridge.back(); // back to the array screen sets the mode again
        QVERIFY(bridge.lineArrayMode());
        QCOMPARE(bridge.history(), QStringList{"主页"});

        bridge.go("点声源-选用途");
        bridge.back(); // goes forward to the measuring screen of the mode
        QCOMPARE(bridge.screen(), QStringLiteral("线阵列-测量中"));
        QCOMPARE(bridge.history(), (QStringList{"主页", "线阵列-测量中", "点声源-选用途"}));
        bridge.home();
        QCOMPARE(bridge.screen(), QStringLiteral("主页"));
    }

    void subwooferScenesGoBackHome()
    {
        QmlBridge bridge;
        bridge.go("超低分频-测量");
        bridge.go("超低分频-结果");
        bridge.back();
        QCOMPARE(bridge.screen(), QStringLiteral("超低分频-测量"));
        bridge.back();
        bridge.back(); // on a subwoofer screen with an empty history: home
        QCOMPARE(bridge.screen(), QStringLiteral("主页"));
        QCOMPARE(QmlBridge::subStageIndex("超低分频-对齐"), 3);
        QCOMPARE(QmlBridge::subStageIndex("主页"), -1);
    }

    void inputDevicesAndTheirChannels()
    {
        QmlBridge bridge;
        QCOMPARE(bridge.audioInputDevices(),
                 (QStringList{"USB Mic", "Codec Line In", "USB Audio CODEC", "Stage Desk"}));
        // Without a saved choice the USB codec with inputs is preferred over the first device.
        QCOMPARE(bridge.selectedAudioDevice(), QStringLiteral("USB Audio CODEC"));
        QCOMPARE(bridge.audioInputChannels(), (QStringList{"输入 1", "输入 2", "Mic 3"}));
        QVERIFY(bridge.splCalibrated());
        QCOMPARE(bridge.splDeviceName(), QStringLiteral("USB Audio CODEC"));

        QSignalSpy selected(&bridge, &QmlBridge::selectedAudioDeviceChanged);
        QSignalSpy calibration(&bridge, &QmlBridge::splCalibrationChanged);
        bridge.setSelectedAudioDevice("USB Audio CODEC"); // already selected
        QCOMPARE(selected.count(), 0);
        bridge.setSelectedAudioDevice("USB Mic");
        QCOMPARE(storedSettings().value("audio/inputDevice").toString(), QStringLiteral("USB Mic"));
        QCOMPARE(selected.count(), 1);
        QCOMPARE(calibration.count(), 1);
        QVERIFY(!bridge.splCalibrated());
        QCOMPARE(bridge.splLevel(), -100.0);
    }

    void channelChoicesAreKeptInRange_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<int>("written");
        QTest::addColumn<int>("stored");
        QTest::newRow("reference 5 on two channels")
                << "USB Mic" << QByteArray("audioReferenceChannel") << 5 << 1;
        QTest::newRow("reference 5 on a missing card")
                << "Gone" << QByteArray("audioReferenceChannel") << 5 << 5;
        QTest::newRow("reference -3 on a missing card")
                << "Gone" << QByteArray("audioReferenceChannel") << -3 << 1;
        QTest::newRow("data 40 is written as it is")
                << "USB Mic" << QByteArray("audioDataChannel") << 40 << 40;
    }

    // The reference read, as a run on the selected device reads it: the stored channel where
    // the device has it, else the other of its first two inputs, and none (-1) on a device with
    // fewer than two inputs. The stored channel stays as it was.
    void referenceReadIsTheOneARunReads_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<int>("data");
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("read");
        QTest::newRow("on the device") << "USB Mic" << 0 << 1 << 1;
        QTest::newRow("beyond two inputs") << "USB Mic" << 0 << 5 << 1;
        QTest::newRow("beyond, microphone on input 2") << "USB Mic" << 1 << 5 << 0;
        QTest::newRow("one input") << "Codec Line In" << 0 << 1 << -1;
        QTest::newRow("one input, chosen as it is") << "Codec Line In" << 0 << 0 << 0;
        QTest::newRow("a missing card") << "Gone" << 0 << 1 << -1;
    }
    void referenceReadIsTheOneARunReads()
    {
        QFETCH(QString, device);
        QFETCH(int, data);
        QFETCH(int, stored);
        QFETCH(int, read);
        storedSettings().setValue("audio/inputDevice", device);
        storedSettings().setValue("audio/dataChannel", data);
        storedSettings().setValue("audio/referenceChannel", stored);
        QmlBridge bridge;
        QCOMPARE(bridge.audioReferenceChannel(), read);
        QCOMPARE(storedSettings().value("audio/referenceChannel").toInt(), stored);
    }

    // The microphone channel read, as a run on the selected device reads it: the stored channel
    // (kept to the 32 the settings can choose) where the device has it, else none (-1). The
    // stored channel stays as it was.
    void dataChannelReadIsTheOneARunReads_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("read");
        QTest::newRow("on the device") << "USB Mic" << 1 << 1;
        QTest::newRow("input 3 of two") << "USB Mic" << 2 << -1;
        QTest::newRow("below the first input") << "USB Mic" << -2 << 0;
        QTest::newRow("one input") << "Codec Line In" << 1 << -1;
        QTest::newRow("one input, chosen as it is") << "Codec Line In" << 0 << 0;
        QTest::newRow("beyond the 32 on a wide card") << "Stage Desk" << 39 << 31;
        QTest::newRow("a missing card") << "Gone" << 0 << -1;
    }
    void dataChannelReadIsTheOneARunReads()
    {
        QFETCH(QString, device);
        QFETCH(int, stored);
        QFETCH(int, read);
        storedSettings().setValue("audio/inputDevice", device);
        storedSettings().setValue("audio/dataChannel", stored);
        QmlBridge bridge;
        QCOMPARE(bridge.audioDataChannel(), read);
        QCOMPARE(storedSettings().value("audio/dataChannel").toInt(), stored);
    }

    void channelChoicesAreKeptInRange()
    {
        QFETCH(QString, device);
        QFETCH(QByteArray, property);
        QFETCH(int, written);
        QFETCH(int, stored);
        QmlBridge bridge;
        bridge.setSelectedAudioDevice(device);
        bridge.setProperty(property, 0);
        bridge.setProperty(property, written);
        const QString key = property == "audioDataChannel"
                                    ? QStringLiteral("audio/dataChannel")
                                    : QStringLiteral("audio/referenceChannel");
        QCOMPARE(storedSettings().value(key).toInt(), stored);
    }
};

SNT_TEST_MAIN(QmlBridgeTest)
#include "QmlBridgeTest.moc"
