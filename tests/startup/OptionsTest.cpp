// The command line's reading rules and the options applied to a bridge that records what it is
// asked, against the option table's rules and edge cases.
#include "startup/CommandLine.h"
#include "startup/QtEnvironment.h"
#include "startup/StartupOptions.h"
#include "tests/support/GuiTestMain.h"

#include <QWindow>

using namespace snt::startup;

namespace {

// The members start-up uses, by the real bridge's names: writes land in the properties, calls in
// `calls`; `processor` stands for the processor client, a window titled "工程管理" for the curve
// window.
class RecordingBridge : public QWindow
{
    Q_OBJECT
    Q_PROPERTY(bool darkMode MEMBER darkMode NOTIFY changed)
    Q_PROPERTY(QString projectName MEMBER projectName NOTIFY changed)
    Q_PROPERTY(bool newProjectOpen MEMBER newProjectOpen NOTIFY changed)
    Q_PROPERTY(bool processorPanelOpen MEMBER processorPanelOpen NOTIFY changed)
    Q_PROPERTY(bool fillMicGuideOpen MEMBER fillMicGuideOpen NOTIFY changed)
    Q_PROPERTY(QObject *processor READ processor CONSTANT)
    Q_PROPERTY(QString ip MEMBER ip NOTIFY changed)
public:
    Q_INVOKABLE void go(const QString &screen) { calls << "go " + screen; }
    Q_INVOKABLE void loadSubXoverDemo(int step) { calls << QString("subdemo %1").arg(step); }
    Q_INVOKABLE void saveSubAlignPack() { calls << "subsave"; }
    Q_INVOKABLE void beginSubXover() { calls << "beginSubXover"; }
    Q_INVOKABLE void subGuideDone() { calls << "subGuideDone"; }
    Q_INVOKABLE void loadFillAlignDemo(int step, double ms)
    {
        calls << QString("filldemo %1 %2").arg(step).arg(ms);
    }
    Q_INVOKABLE void openCurveWindow() { calls << "openCurveWindow"; }
    Q_INVOKABLE void connectToDevice() { calls << "connect " + ip; }
    Q_INVOKABLE void selectPackByName(const QVariant &name) { calls << "pack " + name.toString(); }
    QObject *processor() { return this; }

    bool darkMode = true;
    QString projectName;
    bool newProjectOpen = false;
    bool processorPanelOpen = false;
    bool fillMicGuideOpen = false;
    QString ip;
    QStringList calls;
signals:
    void changed();
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
        QTest::addColumn<int>("place");
        QTest::addColumn<QString>("plain"); // "-" for none
        QTest::addColumn<QString>("guarded");
        QTest::newRow("value") << "--x Hall" << 1 << "Hall"
                               << "Hall";
        QTest::newRow("option-like value") << "--x --dark" << 1 << "--dark"
                                           << "-";
        QTest::newRow("last argument") << "--x" << 1 << "-"
                                       << "-";
        QTest::newRow("first occurrence") << "--x 2 --x 5" << 1 << "2"
                                          << "2";
        QTest::newRow("case-sensitive") << "--X 2" << 1 << "-"
                                        << "-";
        QTest::newRow("second place on its own") << "--x --y 7" << 2 << "7"
                                                 << "7";
    }

    void readingRules()
    {
        QFETCH(QString, line);
        QFETCH(int, place);
        const CommandLine options(arguments(line));
        QTEST(options.plain("--x", place).value_or("-"), "plain");
        QTEST(options.guarded("--x", place).value_or("-"), "guarded");
        QCOMPARE(CommandLine::integer(QString("seven"), 1), 0);
    }

    void immediateOptions_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QString>("curveFile");
        QTest::newRow("light wins, project at the end ignored")
                << "--dark --light --project" << QStringList{} << "";
        QTest::newRow("screen takes --dark, which also applies")
                << "--screen --dark" << QStringList{"go --dark"} << "";
        QTest::newRow("subsave alone") << "--subsave" << QStringList{} << "";
        QTest::newRow("subdemo then subsave")
                << "--subdemo --subsave" << QStringList{"subdemo 1", "subsave"} << "";
        QTest::newRow("filldemo step") << "--filldemo 1" << QStringList{"filldemo 1 12.4"} << "";
        QTest::newRow("filldemo delay alone")
                << "--filldemo --x 7" << QStringList{"filldemo 2 7"} << "";
        QTest::newRow("curve test file wins")
                << "--curve-file a.txt --curve-test b.txt" << QStringList{} << "b.txt";
        QTest::newRow("curve test at the end") << "--curve-test" << QStringList{} << "";
        QTest::newRow("table order") << "--curve --dialog new --screen 设置 --subcalib --subdemo 2"
                                     << QStringList{"go 设置", "subdemo 2", "beginSubXover",
                                                    "subGuideDone", "openCurveWindow"}
                                     << "";
    }

    void immediateOptions()
    {
        QFETCH(QString, line);
        RecordingBridge bridge;
        QTEST(applyBridgeOptions(CommandLine(arguments(line)), &bridge), "curveFile");
        QTEST(bridge.calls, "calls");
        QCOMPARE(bridge.darkMode, !line.contains("--light"));
        QCOMPARE(bridge.projectName, QString());
        QCOMPARE(bridge.newProjectOpen, line.contains("--dialog new"));
    }

    // Each on its own delay: 800, 900, 1200 and 1200 ms; a delay below zero runs at once.
    void delayedOptions()
    {
        RecordingBridge bridge;
        bridge.setTitle("工程管理");
        applyBridgeOptions(CommandLine(arguments("--fillmic --dialog processor --procip "
                                                 "127.0.0.1:9 --curve-pack 主扩1")),
                           &bridge);
        QVERIFY(!bridge.fillMicGuideOpen);
        QTRY_VERIFY(bridge.fillMicGuideOpen);
        QVERIFY(!bridge.processorPanelOpen);
        QTRY_VERIFY(bridge.processorPanelOpen);
        QVERIFY(bridge.calls.isEmpty());
        QTRY_COMPARE(bridge.calls, (QStringList{"connect 127.0.0.1:9", "pack 主扩1"}));
        bool ran = false;
        runAfter(-5, this, [&ran] { ran = true; });
        QTRY_VERIFY_WITH_TIMEOUT(ran, 100);
    }

    void qtEnvironment_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QByteArray>("presetScale");
        QTest::addColumn<QByteArray>("display");
        QTest::addColumn<QByteArray>("seen"); // scale, high DPI, rounding, platform
        QTest::newRow("click test")
                << "--clicktest" << QByteArray() << QByteArray(":0") << QByteArray("1 0 Floor -");
        QTest::newRow("array test")
                << "--arraytest" << QByteArray() << QByteArray(":0") << QByteArray("- - - -");
        QTest::newRow("scale set")
                << "--shot a.png" << QByteArray("2") << QByteArray(":0") << QByteArray("2 - - -");
        QTest::newRow("batch, no display") << "--eq-batch in.json" << QByteArray() << QByteArray()
                                           << QByteArray("- - - offscreen");
        QTest::newRow("batch without input")
                << "--eq-batch" << QByteArray() << QByteArray() << QByteArray("- - - -");
    }

    void qtEnvironment()
    {
        QFETCH(QString, line);
        QFETCH(QByteArray, presetScale);
        QFETCH(QByteArray, display);
        const QByteArrayList names{"QT_SCALE_FACTOR",
                                   "QT_ENABLE_HIGHDPI_SCALING",
                                   "QT_SCALE_FACTOR_ROUNDING_POLICY",
                                   "QT_QPA_PLATFORM",
                                   "DISPLAY",
                                   "WAYLAND_DISPLAY"};
        QByteArrayList saved;
        for (const QByteArray &name : names) {
            saved.append(qgetenv(name));
            qunsetenv(name);
        }
        qputenv("DISPLAY", display);
        if (!presetScale.isEmpty())
            qputenv("QT_SCALE_FACTOR", presetScale);
        prepareQtEnvironment(CommandLine(arguments(line)));
        QByteArrayList seen;
        for (const QByteArray &name : names.mid(0, 4))
            seen.append(qEnvironmentVariableIsSet(name) ? qgetenv(name) : "-");
        for (qsizetype i = 0; i < names.size(); ++i)
            saved[i].isEmpty() ? qunsetenv(names[i]) : qputenv(names[i], saved[i]);
        QTEST(seen.join(' '), "seen");
    }
};

SNT_GUI_TEST_MAIN(OptionsTest)
#include "OptionsTest.moc"
