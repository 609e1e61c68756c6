// The command line's reading rules and the options applied to a bridge that records what it is
// asked, row by row against the option table.
#include "startup/BridgeCalls.h"
#include "startup/CommandLine.h"
#include "startup/QtEnvironment.h"
#include "startup/StartupOptions.h"
#include "tests/support/GuiTestMain.h"

#include <QWindow>

using namespace snt::startup;

namespace {

class RecordingProcessor : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString ip MEMBER ip NOTIFY changed)
public:
    Q_INVOKABLE void connectToDevice() { calls.append("connectToDevice " + ip); }
    QString ip;
    QStringList calls;
signals:
    void changed();
};

// The members start-up uses, by the names the real bridge has; every call and write is recorded.
class RecordingBridge : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool darkMode MEMBER darkMode NOTIFY changed)
    Q_PROPERTY(QString projectName MEMBER projectName NOTIFY changed)
    Q_PROPERTY(bool newProjectOpen MEMBER newProjectOpen NOTIFY changed)
    Q_PROPERTY(bool micGuideOpen MEMBER micGuideOpen NOTIFY changed)
    Q_PROPERTY(bool planDetailOpen MEMBER planDetailOpen NOTIFY changed)
    Q_PROPERTY(bool processorPanelOpen MEMBER processorPanelOpen NOTIFY changed)
    Q_PROPERTY(bool fillMicGuideOpen MEMBER fillMicGuideOpen NOTIFY changed)
    Q_PROPERTY(QObject *processor READ processor CONSTANT)
    Q_PROPERTY(QVariantList measuredCurve MEMBER measuredCurve NOTIFY changed)
public:
    Q_INVOKABLE void go(const QString &screen) { calls.append("go " + screen); }
    Q_INVOKABLE void loadSubXoverDemo(int step) { calls.append(QString("subdemo %1").arg(step)); }
    Q_INVOKABLE void saveSubAlignPack() { calls.append("subsave"); }
    Q_INVOKABLE void beginSubXover() { calls.append("beginSubXover"); }
    Q_INVOKABLE void subGuideDone() { calls.append("subGuideDone"); }
    Q_INVOKABLE void loadFillAlignDemo(int step, double delayMs)
    {
        calls.append(QString("filldemo %1 %2").arg(step).arg(delayMs));
    }
    Q_INVOKABLE void openCurveWindow() { calls.append("openCurveWindow"); }
    Q_INVOKABLE bool loadCurveFile(const QString &path)
    {
        calls.append("load " + path);
        measuredCurve = {QVariantMap{{"f", 100}, {"d", 0}}, QVariantMap{{"f", 200}, {"d", 1}}};
        return path.endsWith(".txt");
    }
    QObject *processor() { return &processorClient; }

    bool darkMode = true;
    QString projectName;
    bool newProjectOpen = false;
    bool micGuideOpen = false;
    bool planDetailOpen = false;
    bool processorPanelOpen = false;
    bool fillMicGuideOpen = false;
    QVariantList measuredCurve;
    RecordingProcessor processorClient;
    QStringList calls;
signals:
    void changed();
};

// A curve window as far as start-up sees it: a window titled "工程管理" with a QML-style
// function taking one variant.
class CurveWindow : public QWindow
{
    Q_OBJECT
public:
    Q_INVOKABLE void selectPackByName(const QVariant &name) { selected = name.toString(); }
    QString selected;
};

QStringList arguments(const QString &line)
{
    return QStringList{"sonetra"} + line.split(' ', Qt::SkipEmptyParts);
}

} // namespace

class OptionsTest : public QObject
{
    Q_OBJECT
private slots:
    void readingRules_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("option");
        QTest::addColumn<int>("place");
        QTest::addColumn<QString>("plain"); // "<none>" for no value
        QTest::addColumn<QString>("guarded");
        QTest::newRow("value") << "--project Hall"
                               << "--project" << 1 << "Hall"
                               << "Hall";
        QTest::newRow("value looking like an option") << "--screen --dark"
                                                      << "--screen" << 1 << "--dark"
                                                      << "<none>";
        QTest::newRow("last argument") << "--project"
                                       << "--project" << 1 << "<none>"
                                       << "<none>";
        QTest::newRow("first occurrence counts") << "--scheme 2 --scheme 5"
                                                 << "--scheme" << 1 << "2"
                                                 << "2";
        QTest::newRow("case-sensitive") << "--Scheme 2"
                                        << "--scheme" << 1 << "<none>"
                                        << "<none>";
        QTest::newRow("second place tested on its own") << "--filldemo --x 7"
                                                        << "--filldemo" << 2 << "7"
                                                        << "7";
        QTest::newRow("second place guarded") << "--filldemo 3 --dark"
                                              << "--filldemo" << 2 << "--dark"
                                              << "<none>";
        QTest::newRow("absent") << "--light"
                                << "--dark" << 1 << "<none>"
                                << "<none>";
    }

    void readingRules()
    {
        QFETCH(QString, line);
        QFETCH(QString, option);
        QFETCH(int, place);
        const CommandLine options(arguments(line));
        const auto shown = [](const std::optional<QString> &v) {
            return v.value_or("<none>");
        };
        QTEST(shown(options.plain(option, place)), "plain");
        QTEST(shown(options.guarded(option, place)), "guarded");
    }

    void numbers()
    {
        QCOMPARE(CommandLine::integer(QString("7"), 1), 7);
        QCOMPARE(CommandLine::integer(QString("-1"), 1), -1);
        QCOMPARE(CommandLine::integer(QString("seven"), 1), 0);
        QCOMPARE(CommandLine::integer(std::nullopt, 1), 1);
        QCOMPARE(CommandLine::number(QString("7.5"), 12.4), 7.5);
        QCOMPARE(CommandLine::number(QString("x"), 12.4), 0.0);
        QCOMPARE(CommandLine::number(std::nullopt, 12.4), 12.4);
    }

    void immediateOptions_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QVariantMap>("state");
        QTest::addColumn<QString>("curveFile");
        QTest::newRow("light wins over dark")
                << "--dark --light" << QStringList{} << QVariantMap{{"darkMode", false}} << "";
        QTest::newRow("screen takes an option-like value and dark applies")
                << "--screen --dark" << QStringList{"go --dark"} << QVariantMap{{"darkMode", true}}
                << "";
        QTest::newRow("project at the end is ignored")
                << "--project" << QStringList{} << QVariantMap{{"projectName", ""}} << "";
        QTest::newRow("project") << "--project 礼堂" << QStringList{}
                                 << QVariantMap{{"projectName", "礼堂"}} << "";
        QTest::newRow("subsave alone does nothing")
                << "--subsave" << QStringList{} << QVariantMap{} << "";
        QTest::newRow("subdemo at the end loads step 1")
                << "--subdemo" << QStringList{"subdemo 1"} << QVariantMap{} << "";
        QTest::newRow("subdemo then subsave")
                << "--subdemo --subsave" << QStringList{"subdemo 1", "subsave"} << QVariantMap{}
                << "";
        QTest::newRow("subdemo step")
                << "--subdemo 3" << QStringList{"subdemo 3"} << QVariantMap{} << "";
        QTest::newRow("subcalib") << "--subcalib" << QStringList{"beginSubXover", "subGuideDone"}
                                  << QVariantMap{} << "";
        QTest::newRow("filldemo step only")
                << "--filldemo 1" << QStringList{"filldemo 1 12.4"} << QVariantMap{} << "";
        QTest::newRow("filldemo delay alone")
                << "--filldemo --x 7" << QStringList{"filldemo 2 7"} << QVariantMap{} << "";
        QTest::newRow("dialogs at once")
                << "--dialog new" << QStringList{}
                << QVariantMap{{"newProjectOpen", true}, {"micGuideOpen", false}} << "";
        QTest::newRow("mic dialog")
                << "--dialog mic" << QStringList{} << QVariantMap{{"micGuideOpen", true}} << "";
        QTest::newRow("plan dialog")
                << "--dialog plan" << QStringList{} << QVariantMap{{"planDetailOpen", true}} << "";
        QTest::newRow("unknown dialog")
                << "--dialog other" << QStringList{}
                << QVariantMap{{"newProjectOpen", false}, {"planDetailOpen", false}} << "";
        QTest::newRow("curve window")
                << "--curve" << QStringList{"openCurveWindow"} << QVariantMap{} << "";
        QTest::newRow("curve test file wins") << "--curve-file a.txt --curve-test b.txt out"
                                              << QStringList{} << QVariantMap{} << "b.txt";
        QTest::newRow("curve file")
                << "--curve-file a.txt" << QStringList{} << QVariantMap{} << "a.txt";
        QTest::newRow("curve test at the end loads nothing")
                << "--curve-test" << QStringList{} << QVariantMap{} << "";
        QTest::newRow("order of the table") << "--curve --screen 设置 --subcalib --subdemo 2"
                                            << QStringList{"go 设置", "subdemo 2", "beginSubXover",
                                                           "subGuideDone", "openCurveWindow"}
                                            << QVariantMap{} << "";
    }

    void immediateOptions()
    {
        QFETCH(QString, line);
        QFETCH(QVariantMap, state);
        RecordingBridge bridge;
        QTEST(applyBridgeOptions(CommandLine(arguments(line)), &bridge), "curveFile");
        QTEST(bridge.calls, "calls");
        for (auto it = state.cbegin(); it != state.cend(); ++it)
            QCOMPARE(bridge.property(qPrintable(it.key())), it.value());
    }

    void delayedOptions()
    {
        RecordingBridge bridge;
        CurveWindow curveWindow;
        curveWindow.setTitle("工程管理");
        applyBridgeOptions(CommandLine(arguments("--fillmic --dialog processor --procip "
                                                 "127.0.0.1:9 --curve-pack 主扩1")),
                           &bridge);
        QVERIFY(!bridge.fillMicGuideOpen && !bridge.processorPanelOpen);
        QTRY_VERIFY_WITH_TIMEOUT(bridge.fillMicGuideOpen, 2000);
        QVERIFY(!bridge.processorPanelOpen); // 900 ms
        QTRY_VERIFY_WITH_TIMEOUT(bridge.processorPanelOpen, 2000);
        QVERIFY(bridge.processorClient.calls.isEmpty()); // 1200 ms
        QTRY_COMPARE_WITH_TIMEOUT(bridge.processorClient.calls,
                                  QStringList{"connectToDevice 127.0.0.1:9"}, 2000);
        QTRY_COMPARE_WITH_TIMEOUT(curveWindow.selected, QString("主扩1"), 2000);
    }

    void negativeDelayRunsAtOnce()
    {
        bool ran = false;
        runAfter(-5, this, [&ran] { ran = true; });
        QTRY_VERIFY_WITH_TIMEOUT(ran, 200);
    }

    void curveFileLoad()
    {
        RecordingBridge bridge;
        QTest::ignoreMessage(QtInfoMsg, "CURVE loaded /tmp/a.txt points 2");
        QVERIFY(loadCurveFile(&bridge, "/tmp/a.txt"));
        QTest::ignoreMessage(QtWarningMsg, "CURVE load failed /tmp/a.csv");
        QVERIFY(!loadCurveFile(&bridge, "/tmp/a.csv"));
    }

    // A member the bridge does not have yet does nothing but say so.
    void missingMembersOnlyWarn()
    {
        QObject plain;
        const BridgeCalls calls(&plain);
        QTest::ignoreMessage(
                QtWarningMsg,
                "[Startup] QObject has no operation loadSubXoverDemo taking 1 arguments");
        QVERIFY(!calls.call("loadSubXoverDemo", {1}).isValid());
        QTest::ignoreMessage(QtWarningMsg, "[Startup] QObject has no property darkMode");
        QVERIFY(!calls.write("darkMode", true));
        QVERIFY(plain.dynamicPropertyNames().isEmpty());
    }

    void argumentsConvertToTheMembersTypes()
    {
        RecordingBridge bridge;
        const BridgeCalls calls(&bridge);
        calls.call("loadFillAlignDemo", {QString("4"), QString("2.5")});
        QCOMPARE(bridge.calls, QStringList{"filldemo 4 2.5"});
        QCOMPARE(calls.call("loadCurveFile", {QString("x.txt")}), QVariant(true));
    }

    void qtEnvironment_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QByteArray>("presetScale");
        QTest::addColumn<QByteArray>("display");
        QTest::addColumn<QByteArrayList>("expected"); // scale, high-DPI, rounding, platform
        const QByteArrayList fixed{"1", "0", "Floor"};
        const QByteArrayList untouched{"", "", ""};
        QTest::newRow("click test fixes the scale")
                << "--clicktest" << QByteArray() << QByteArray(":0")
                << (fixed + QByteArrayList{""});
        QTest::newRow("array test leaves it") << "--arraytest" << QByteArray() << QByteArray(":0")
                                              << (untouched + QByteArrayList{""});
        QTest::newRow("a set scale is kept") << "--clicktest" << QByteArray("2") << QByteArray(":0")
                                             << QByteArrayList{"2", "", "", ""};
        QTest::newRow("batch without display is offscreen")
                << "--eq-batch in.json" << QByteArray() << QByteArray()
                << (untouched + QByteArrayList{"offscreen"});
        QTest::newRow("batch without input needs the window system")
                << "--eq-batch" << QByteArray() << QByteArray() << (untouched + QByteArrayList{""});
        QTest::newRow("export test with a display keeps it")
                << "--export-test" << QByteArray() << QByteArray(":0")
                << (untouched + QByteArrayList{""});
    }

    void qtEnvironment()
    {
        QFETCH(QString, line);
        QFETCH(QByteArray, presetScale);
        QFETCH(QByteArray, display);
        QFETCH(QByteArrayList, expected);
        const char *names[] = {"QT_SCALE_FACTOR", "QT_ENABLE_HIGHDPI_SCALING",
                               "QT_SCALE_FACTOR_ROUNDING_POLICY", "QT_QPA_PLATFORM"};
        QHash<QByteArray, QByteArray> saved;
        for (const char *name : names)
            saved.insert(name, qgetenv(name));
        for (const char *variable : {"DISPLAY", "WAYLAND_DISPLAY"})
            saved.insert(variable, qgetenv(variable));
        for (const char *name : names)
            qunsetenv(name);
        qunsetenv("WAYLAND_DISPLAY");
        qputenv("DISPLAY", display);
        if (!presetScale.isEmpty())
            qputenv("QT_SCALE_FACTOR", presetScale);

        prepareQtEnvironment(CommandLine(arguments(line)));
        QByteArrayList seen;
        for (const char *name : names)
            seen.append(qgetenv(name));

        for (auto it = saved.cbegin(); it != saved.cend(); ++it) {
            if (it.value().isEmpty())
                qunsetenv(it.key());
            else
                qputenv(it.key(), it.value());
        }
        QCOMPARE(seen, expected);
    }
};

SNT_GUI_TEST_MAIN(OptionsTest)
#include "OptionsTest.moc"
