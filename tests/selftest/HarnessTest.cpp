// The scripted runs inside a test process, where their state can be read: a walk started without
// a main window ends at once with code 2 and writes nothing; a shot shows the screen it names
// drawn; the array walk fails when it captured no point; the blocked demo opens the delivery
// screen on the scheme the EQ engine refused, or only raises its toast for a file it cannot read.
#include "selftest/BlockedDemo.h"
#include "selftest/ClickTest.h"
#include "selftest/CurvePoints.h"
#include "selftest/CurveTest.h"
#include "selftest/MeasureTests.h"
#include "selftest/Walk.h"
#include "selftest/WindowShot.h"
#include "selftest/Windows.h"
#include "tests/audio/FakePlugin.h"
#include "tests/qml/ScreenTestSupport.h"
#include "tests/selftest/CurveFiles.h"
#include "tests/selftest/ShotPixels.h"
#include "tests/support/BusyLoops.h"
#include "tests/support/LoopbackCard.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>

namespace {

// The exit code a scripted run asks the program for, run as start-up runs it: from a timer of
// the application's event loop.
int exitCodeOf(const std::function<void()> &run, int limitMs = 10000)
{
    QTimer::singleShot(0, qApp, run);
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, qApp, [] { QCoreApplication::exit(-1); });
    limit.start(limitMs);
    return QCoreApplication::exec();
}

std::shared_ptr<audio::Plugin> fakeCard()
{
    return std::make_shared<FakePlugin>(QStringLiteral("Fake"));
}

// What the click test's curve-window part reads and calls of the bridge.
class CurveWindowBridge : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString screen READ screen CONSTANT)
    Q_PROPERTY(bool curveWindowOpen MEMBER open NOTIFY openChanged)
public:
    QString screen() const { return QStringLiteral("工程"); }
    Q_INVOKABLE void openCurveWindow()
    {
        open = true;
        emit openChanged();
    }
    bool open = false;
signals:
    void openChanged();
};

// A main window and, hidden from the start as the program's, a side window with that title,
// shown while the bridge says so, with or without a close button.
const char *const sideWindowQml = R"(
import QtQuick
import QtQuick.Window
Window {
    title: "测量工作流"
    width: 600
    height: 400
    Window {
        title: sideTitle
        width: 702
        height: 580
        visible: bridge.curveWindowOpen
        Rectangle {
            objectName: "closeCurveWindow"
            visible: closable
            x: parent.width - 44
            y: 16
            width: 32
            height: 32
            MouseArea {
                anchors.fill: parent
                onClicked: bridge.curveWindowOpen = false
            }
        }
    }
}
)";

} // namespace

class HarnessTest : public QObject
{
    Q_OBJECT
private slots:
    void walksWithoutAWindow()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Halvo"));
        QCoreApplication::setApplicationName(QStringLiteral("测量工作流"));
        QVERIFY(audio::Client::setPluginFactories({fakeCard}));
        QmlBridge bridge;
        const QQmlApplicationEngine engine; // nothing loaded: no root window
        QTemporaryDir out;
        const QString folder = out.path();
        using namespace snt::selftest;
        QCOMPARE(exitCodeOf([&] { runClickTest(engine, &bridge, folder); }), 2);
        QCOMPARE(exitCodeOf([&] { runMeasureTest(engine, &bridge, folder); }), 2);
        QCOMPARE(exitCodeOf([&] { runArrayTest(engine, &bridge, folder); }), 2);
        QCOMPARE(exitCodeOf([&] { runSubcalibTest(engine, &bridge, folder); }), 2);
        QCOMPARE(exitCodeOf([&] {
                     runCurveTest(engine, &bridge, {.outputFolder = folder, .curveLoaded = true});
                 }),
                 2);
        QCOMPARE(exitCodeOf([&] { runShot(engine, folder + "/shot.png", true, true); }), 2);
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
        QCOMPARE(bridge.screen(), QStringLiteral("主页")); // nothing was driven
    }

    void curveWindowPart_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("closable");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("verdict");
        QTest::addColumn<int>("shots");
        QTest::newRow("closed by its button")
                << "工程管理" << true << 0 << "CLICK curveWindowOpen OK" << 2;
        QTest::newRow("stays open")
                << "工程管理" << false << 3 << "CLICK curveWindowOpen FAIL" << 2;
        QTest::newRow("not there")
                << "别的窗口" << true << 3 << "CLICK curve window not found" << 0;
    }

    // The click test's last part finds the curve window among the shown windows only, and a
    // window it cannot find or close fails the walk.
    void curveWindowPart()
    {
        QFETCH(QString, title);
        QFETCH(bool, closable);
        QFETCH(QString, verdict);
        CurveWindowBridge bridge;
        QQmlApplicationEngine engine;
        engine.rootContext()->setContextProperty(QStringLiteral("bridge"), &bridge);
        engine.rootContext()->setContextProperty(QStringLiteral("sideTitle"), title);
        engine.rootContext()->setContextProperty(QStringLiteral("closable"), closable);
        engine.loadData(sideWindowQml);
        QTemporaryDir out;
        QTest::ignoreMessage(verdict.endsWith("found") ? QtWarningMsg : QtInfoMsg,
                             qPrintable(verdict));
        const int code = exitCodeOf([&] {
            snt::selftest::Walk walk(engine, &bridge, out.path());
            if (walk.start()) {
                snt::selftest::checkCurveWindow(walk);
                walk.end();
            }
        });
        QTEST(code, "code");
        QTEST(int(QDir(out.path()).entryList({"click-1*.png"}).size()), "shots");
    }

    // A shot taken at once after the screen changed shows that screen's page drawn, not the bare
    // stage the page fades in over; also with every processor busy beside the walk, since the
    // shot waits for the page and not for a time.
    void shotShowsItsScreenDrawn()
    {
        snt::test::MainWindowUnderTest m;
        QVERIFY(m.start(fakeCard));
        QTemporaryDir out;
        snt::selftest::Walk walk(*m.engine, m.bridge.get(), out.path());
        QVERIFY(walk.start());
        const BusyLoops busy(processorsOfTheRun());
        QVERIFY(busy.count() > 0);
        for (const QString screen : {"登录", "工程", "设置", "主页"}) {
            walk.goThroughBridge(screen);
            walk.shot(screen + ".png");
            const double bare = selftesttest::colourShare(QImage(out.filePath(screen + ".png")),
                                                          selftesttest::bareStage);
            QVERIFY2(bare < 0.9, qPrintable(screen + QString(" %1").arg(bare)));
        }
        m.stop();
    }

    // A window resized just before its shot (the curve window places itself once shown) is shot
    // at its new size: the window system confirms a resize later, and a grab before that shows
    // the window as it was.
    void aResizedWindowIsShotAtItsNewSize()
    {
        CurveWindowBridge bridge;
        QQmlApplicationEngine engine;
        engine.rootContext()->setContextProperty(QStringLiteral("bridge"), &bridge);
        engine.rootContext()->setContextProperty(QStringLiteral("sideTitle"), "工程管理");
        engine.rootContext()->setContextProperty(QStringLiteral("closable"), true);
        engine.loadData(sideWindowQml);
        qobject_cast<QQuickWindow *>(engine.rootObjects().value(0))->show();
        bridge.openCurveWindow();
        QQuickWindow *side = nullptr;
        QTRY_VERIFY((side = snt::selftest::shownWindowTitled(QStringLiteral("工程管理"))));
        QVERIFY(QTest::qWaitForWindowExposed(side));
        QTemporaryDir out;
        const QString path = out.filePath("side.png");
        const int code = exitCodeOf([&] {
            side->resize(660, 620);
            snt::selftest::runShot(engine, path, true, false);
        });
        QCOMPARE(code, 0);
        QCOMPARE(QImage(path).size(), QSize(660, 620));
    }

    // With runs longer than the walk waits for them (the settings allow a minute), the array
    // walk plays through a working loop but ends without a point: it has measured nothing, and
    // fails after its last point.
    void arrayWalkWithoutAPoint()
    {
        snt::test::MainWindowUnderTest m;
        QVERIFY(m.start([] { return std::make_shared<snt::test::LoopbackCard>(); }));
        m.bridge->setMeasureSeconds(60.0);
        m.bridge->setMeasureSignalType(0); // pink noise: the music file is not beside the test
        QTemporaryDir out;
        QTest::ignoreMessage(QtWarningMsg,
                             "ARRAYTEST FAIL 一个测点也没测到 screen 线阵列-测量中 measuring true "
                             "points 0");
        const int code = exitCodeOf(
                [&] { snt::selftest::runArrayTest(*m.engine, m.bridge.get(), out.path()); }, 60000);
        QCOMPARE(code, 3);
        QFile log(out.filePath("array-log.txt"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = log.readAll().split('\n');
        QCOMPARE(lines.size(), 6); // five steps and the end of the last line: no compute step
        QVERIFY2(lines[1].startsWith("live-3s screen=线阵列-测量中 measuring=1 points=0"),
                 lines[1].constData());
        QVERIFY2(lines[4].startsWith("point3 screen=线阵列-测量中 measuring=1 points=0"),
                 lines[4].constData());
        m.stop();
    }

    void blockedDemo()
    {
        snt::test::MainWindowUnderTest m;
        QVERIFY(m.start(fakeCard));
        QmlBridge &bridge = *m.bridge;

        QTest::ignoreMessage(
                QtWarningMsg,
                "[SelfTest] the blocked demo's curve file cannot be read: /nonexistent/curve.txt");
        snt::selftest::runBlockedDemo(&bridge, QStringLiteral("/nonexistent/curve.txt"));
        QCOMPARE(bridge.toastText(), QStringLiteral("这条演示曲线读不进来"));
        QCOMPARE(bridge.screen(), QStringLiteral("主页"));

        QTemporaryDir dir;
        const QString curve = dir.filePath("dip.txt");
        QVERIFY(selftesttest::writeDipCurve(curve));
        snt::selftest::runBlockedDemo(&bridge, curve);
        QCOMPARE(bridge.screen(), QStringLiteral("点声源-交付与复测"));
        QList<bool> blocked;
        for (const QVariant &scheme : bridge.schemes())
            blocked << scheme.toMap().value("blocked").toBool();
        QCOMPARE(blocked, QList<bool>({false, false, false, false, true, true}));
        QCOMPARE(bridge.selectedScheme(), 4);
        QVERIFY(bridge.corners().value("blocked").toBool());
        QTRY_VERIFY(m.page() && m.page()->objectName() == QStringLiteral("DeliveryScreen"));
        const QQuickItem *card = m.find(QStringLiteral("blockedCard"), m.page());
        QVERIFY(card && card->isVisible());
        m.stop();
    }

    // Nearest on a log-frequency axis: 290 Hz lies nearer 400 than 200 there (not on a linear
    // one); points at or below 0 Hz never count; of two equally near points the first wins.
    void nearestCurvePoint()
    {
        const auto point = [](double f, double d) {
            return QVariantMap{{"f", f}, {"d", d}};
        };
        const QVariantList curve{point(-5.0, 9.0),  point(0.0, 8.0),    point(200.0, 1.0),
                                 point(400.0, 2.0), point(1000.0, 3.0), point(4000.0, 4.0)};
        using snt::selftest::curveValueNearFrequency;
        QCOMPARE(curveValueNearFrequency(curve, 290.0), 2.0);
        QCOMPARE(curveValueNearFrequency(curve, 2000.0), 3.0); // 1000 and 4000 are one octave off
        QCOMPARE(snt::selftest::nearestCurvePoint({point(0.0, 7.0)}, 100.0).f, 0.0);
        QCOMPARE(curveValueNearFrequency({QVariantMap{{"f", 90.0}}}, 100.0), 0.0);
    }
};

SNT_GUI_TEST_MAIN(HarnessTest)
#include "HarnessTest.moc"
