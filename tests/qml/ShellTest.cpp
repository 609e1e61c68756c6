#include "app/QmlBridge.h"
#include "audio/Client.h"
#include "tests/qml/ScreenTestSupport.h"
#include "tests/support/GuiTestMain.h"
#include "tests/support/LoopbackCard.h"
#include "ui/QmlSetup.h"
#include "ui/StepClock.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlProperty>
#include <QQmlPropertyMap>
#include <QQuickItem>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QSGRendererInterface>
#include <QSettings>
#include <QSignalSpy>

#include <memory>

using snt::test::LoopbackCard;

namespace {

std::shared_ptr<LoopbackCard> card;

const QRect designGeometry(100, 50, 600, 1145);

QQuickItem *page(QObject *window)
{
    auto *loader = window->findChild<QObject *>(QStringLiteral("pageLoader"));
    return loader ? qvariant_cast<QQuickItem *>(loader->property("item")) : nullptr;
}

// Clicks the middle of an item as a user would, wherever it sits on the (scaled) stage.
void click(QQuickItem *target)
{
    const QPointF middle = target->mapToScene({target->width() / 2, target->height() / 2});
    QTest::mouseClick(target->window(), Qt::LeftButton, {}, middle.toPoint());
}

bool place(QWindow *window, const QRect &geometry)
{
    window->setGeometry(geometry);
    return QTest::qWaitFor([&] { return window->geometry() == geometry; });
}

bool near(const QRect &a, const QRect &b)
{
    return std::abs(a.x() - b.x()) <= 1 && std::abs(a.y() - b.y()) <= 1
           && std::abs(a.width() - b.width()) <= 1 && std::abs(a.height() - b.height()) <= 1;
}

// The largest brightness step between two neighbouring pixels inside `area`: the edge of sharp
// text steps across nearly its whole contrast, a blur spreads every step over its radius, and a
// veil over the picture only scales it.
int largestStep(const QImage &image, const QRect &area)
{
    int step = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x < area.right(); ++x)
            step = std::max(step,
                            std::abs(qGray(image.pixel(x, y)) - qGray(image.pixel(x + 1, y))));
    return step;
}

// Whether an item showing `text` is visible on the window now: a tooltip's text lies on the
// window's overlay, above the pages.
bool textShown(const QQuickItem *root, const QString &text)
{
    const QList<QQuickItem *> children = root->childItems();
    return std::any_of(children.cbegin(), children.cend(), [&text](const QQuickItem *child) {
        return (child->isVisible() && child->property("text").toString() == text)
               || textShown(child, text);
    });
}

// Pixels of `area` whose red stands clearly above green and blue, as the danger tint's do.
int redPixels(const QImage &image, const QRect &area)
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb p = image.pixel(x, y);
            count += qRed(p) - std::max(qGreen(p), qBlue(p)) > 60;
        }
    return count;
}

} // namespace

// The main window as the program shows it, over the real bridge with the loopback test card as
// its sound card, in an X server with Mesa's OpenGL: pages following the bridge's screen, the
// resize arithmetic, the scaled stage, the docked side windows, the side tabs, the toast, the
// blur under the guides and the system check's timer during a real measurement run. Then the
// shared components the shell's behaviour rests on, each in a window of its own.
class ShellTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QmlBridge> m_bridge;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    QQuickWindow *m_window = nullptr;

    QQuickItem *item(const char *name) const
    {
        return m_window->findChild<QQuickItem *>(QLatin1String(name));
    }

    QQuickWindow *sideWindow(const char *name) const
    {
        return m_window->findChild<QQuickWindow *>(QLatin1String(name));
    }

    // A component of the shared set, built from `qml` beside them so that their names resolve.
    std::unique_ptr<QQuickWindow> showComponent(QQmlEngine &engine, const QByteArray &qml)
    {
        QQmlComponent component(&engine);
        component.setData(qml, QUrl(QStringLiteral("qrc:/qml/Probe.qml")));
        std::unique_ptr<QQuickWindow> window(qobject_cast<QQuickWindow *>(component.create()));
        if (!window) {
            qWarning() << component.errors();
            return {};
        }
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get()))
            return {};
        return window;
    }

private slots:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Halvo"));
        QCoreApplication::setApplicationName(QStringLiteral("测量工作流"));
        QSettings().setValue("measure/signalType", 0); // pink noise: the music file is not here
        card = std::make_shared<LoopbackCard>();
        QVERIFY(audio::Client::setPluginFactories({[] {
            return card;
        }}));
        QVERIFY(audio::Client::instance());

        m_bridge = std::make_unique<QmlBridge>();
        m_engine = std::make_unique<QQmlApplicationEngine>();
        snt::ui::setUpQmlEngine(*m_engine);
        snt::startup::registerQmlTypes();
        m_engine->rootContext()->setContextProperty(QStringLiteral("bridge"), m_bridge.get());
        m_engine->load(QUrl(QStringLiteral("qrc:/qml/Main.qml")));
        QCOMPARE(m_engine->rootObjects().size(), 1);
        m_window = qobject_cast<QQuickWindow *>(m_engine->rootObjects().first());
        QVERIFY(m_window);
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
        QCOMPARE(m_window->size(), QSize(600, 1145));
    }

    void init()
    {
        m_bridge->home();
        m_bridge->clearToast();
        for (const char *flag : {"planDetailOpen", "micGuideOpen", "fillMicGuideOpen",
                                 "curveWindowOpen", "processorPanelOpen"})
            m_bridge->setProperty(flag, false);
        QVERIFY(place(m_window, designGeometry));
    }

    void cleanupTestCase()
    {
        m_engine.reset();
        m_bridge.reset();
        card.reset();
    }

    void screenNamesPickTheirPage_data()
    {
        QTest::addColumn<QString>("screen");
        QTest::addColumn<QString>("page");
        const QList<std::pair<const char *, const char *>> rows = {
                {"login", "LoginScreen"},
                {"登录", "LoginScreen"},
                {"工程", "HomeScreen"},
                {"测量引导-自检", "HomeScreen"},
                {"点声源-测量引导", "MicGuideScreen"},
                {"measure", "MeasuringScreen"},
                {"线阵列-测量中", "ArrayMeasuringScreen"},
                {"点声源-计算", "ComputeScreen"},
                {"use", "UseScreen"},
                {"点声源-交付与复测", "DeliveryScreen"},
                {"设置", "SettingsScreen"},
                {"补声对齐", "FillAlignScreen"},
                {"超低分频-结果", "SubXoverScreen"},
                {"no such screen", "HomeScreen"},
                {"超低分频", "HomeScreen"},
        };
        for (const auto &[screen, page] : rows)
            QTest::newRow(screen) << QString::fromUtf8(screen) << QString::fromLatin1(page);
    }
    void screenNamesPickTheirPage()
    {
        QFETCH(QString, screen);
        QFETCH(QString, page);
        m_bridge->go(screen);
        QTRY_VERIFY(::page(m_window) && ::page(m_window)->objectName() == page);
        // The page stands at the design size on the stage and ends its entry in place.
        QQuickItem *shown = ::page(m_window);
        QCOMPARE(shown->size(), QSizeF(600, 1145));
        QTRY_COMPARE(shown->opacity(), 1.0);
        QTRY_COMPARE(shown->x(), 0.0);
    }

    // The two names of the use screen share one page: it stays, and plays its entry again.
    void sameScreenPageStaysAndEntersAgain()
    {
        m_bridge->go(QStringLiteral("点声源-选用途"));
        QTRY_VERIFY(page(m_window) && page(m_window)->objectName() == "UseScreen");
        QPointer<QQuickItem> use = page(m_window);
        QTRY_COMPARE(use->opacity(), 1.0);
        m_bridge->go(QStringLiteral("点声源-方案说明"));
        QCOMPARE(page(m_window), use.data());
        QVERIFY(use->opacity() < 0.5 && use->x() > 6);
        QTRY_COMPARE(use->opacity(), 1.0);
        QTRY_COMPARE(use->x(), 0.0);
        m_bridge->go(QStringLiteral("设置"));
        QTRY_VERIFY(use.isNull());
    }

    // Each row: a window geometry, a handle, the pointer's travel, and the geometry the design's
    // proportions (600 : 1145) and limits (340 .. 600 wide, 649 .. 1145 high) give, worked out
    // by hand. The X screen is 1920 wide, with nothing reserved at its edges.
    void resizeKeepsTheDesignProportions_data()
    {
        QTest::addColumn<QRect>("start");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QPoint>("travel");
        QTest::addColumn<QRect>("expected");
        QTest::newRow("right edge at the maximum")
                << designGeometry << "r" << QPoint(200, 0) << designGeometry;
        QTest::newRow("bottom edge up to the minimum")
                << designGeometry << "b" << QPoint(0, -800) << QRect(100, 50, 340, 649);
        QTest::newRow("left edge 120 in")
                << designGeometry << "l" << QPoint(120, 0) << QRect(220, 50, 480, 916);
        QTest::newRow("top-left corner, the height moved more")
                << designGeometry << "tl" << QPoint(0, 300) << QRect(257, 350, 443, 845);
        QTest::newRow("bottom-right corner, the width moved more")
                << designGeometry << "br" << QPoint(-120, -10) << QRect(100, 50, 480, 916);
        QTest::newRow("bottom edge grows a small window")
                << QRect(100, 50, 400, 763) << "b" << QPoint(0, 100) << QRect(100, 50, 452, 863);
        QTest::newRow("right edge at the screen's edge")
                << QRect(1420, 50, 500, 954) << "r" << QPoint(100, 0) << QRect(1420, 50, 500, 954);
    }
    void resizeKeepsTheDesignProportions()
    {
        QFETCH(QRect, start);
        QFETCH(QString, mode);
        QFETCH(QPoint, travel);
        QFETCH(QRect, expected);
        QVERIFY(place(m_window, start));
        m_window->setProperty("userSized", false);
        const QPoint grip(300, 600);
        QMetaObject::invokeMethod(m_window, "beginResize", Q_ARG(QVariant, mode),
                                  Q_ARG(QVariant, grip.x()), Q_ARG(QVariant, grip.y()));
        QMetaObject::invokeMethod(m_window, "updateResize", Q_ARG(QVariant, grip.x() + travel.x()),
                                  Q_ARG(QVariant, grip.y() + travel.y()));
        QTRY_VERIFY2(near(m_window->geometry(), expected),
                     qPrintable(QDebug::toString(m_window->geometry())));
        QVERIFY(m_window->property("userSized").toBool());
    }

    // The same through the pointer: pressing the left edge's strip and moving 120 px right.
    void draggingTheLeftEdgeResizes()
    {
        const QPoint press(3, 600);
        const QPoint end = m_window->mapToGlobal(press) + QPoint(120, 0);
        QTest::mousePress(m_window, Qt::LeftButton, {}, press);
        QTest::mouseMove(m_window, m_window->mapFromGlobal(end));
        // The pointer is released where it stopped, though the window moved under it.
        QTRY_COMPARE(m_window->x(), 220);
        QTest::mouseRelease(m_window, Qt::LeftButton, {}, m_window->mapFromGlobal(end));
        QTRY_VERIFY2(near(m_window->geometry(), QRect(220, 50, 480, 916)),
                     qPrintable(QDebug::toString(m_window->geometry())));
    }

    // uiScale = min(1, w / 600, h / 1145), and the stage shrinks about the window's centre.
    void stageScalesToTheWindow_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<double>("scale");
        QTest::newRow("design size") << QSize(600, 1145) << 1.0;
        QTest::newRow("520 x 992") << QSize(520, 992) << 992.0 / 1145;
        QTest::newRow("smallest") << QSize(340, 649) << 340.0 / 600;
    }
    void stageScalesToTheWindow()
    {
        QFETCH(QSize, size);
        QFETCH(double, scale);
        QVERIFY(place(m_window, QRect(designGeometry.topLeft(), size)));
        QTRY_VERIFY(std::abs(m_window->property("uiScale").toDouble() - scale) < 1e-9);
        QQuickItem *stage = item("stage");
        const QPointF corner = stage->mapToScene({0, 0});
        QVERIFY(std::abs(corner.x() - (size.width() - 600 * scale) / 2) < 0.01);
        QVERIFY(std::abs(corner.y() - (size.height() - 1145 * scale) / 2) < 0.01);
        const QPointF far = stage->mapToScene({600, 1145});
        QVERIFY(std::abs(far.x() - (size.width() + 600 * scale) / 2) < 0.01);
    }

    // The processor panel docks 12 px right of the window with the bottoms aligned, follows the
    // window, and is kept 8 px inside the screen (1920 x 1280) when the window reaches its edge.
    void processorPanelDocksAndFollows()
    {
        click(item("processorTab"));
        QVERIFY(m_bridge->processorPanelOpen());
        QQuickWindow *panel = sideWindow("processorPanel");
        QVERIFY(panel);
        QTRY_VERIFY(panel->isVisible());
        QCOMPARE(panel->size(), QSize(792, 620));
        QTRY_COMPARE(panel->position(), QPoint(100 + 600 + 12, 50 + 1145 - 620));
        QTRY_COMPARE(item("processorTab")->width(), 40.0);

        QVERIFY(place(m_window, QRect(1320, 100, 600, 1145)));
        QTRY_COMPARE(panel->position(), QPoint(1920 - 8 - 792, 100 + 1145 - 620));
        QVERIFY(place(m_window, QRect(0, 0, 600, 1145)));
        QTRY_COMPARE(panel->position(), QPoint(612, 1145 - 620));

        // Closing it as its own window does clears the bridge's flag.
        panel->close();
        QTRY_VERIFY(!m_bridge->processorPanelOpen());
        QTRY_COMPARE(item("processorTab")->width(), 35.0);
    }

    void projectTabTogglesTheCurveWindow()
    {
        QQuickWindow *curves = sideWindow("curveWindow");
        QVERIFY(curves);
        click(item("projectTab"));
        QVERIFY(m_bridge->curveWindowOpen());
        QTRY_VERIFY(curves->isVisible());
        QCOMPARE(curves->transientParent(), m_window);
        click(item("projectTab"));
        QVERIFY(!m_bridge->curveWindowOpen());
        QTRY_VERIFY(!curves->isVisible());
    }

    void serverTabOnlyToasts()
    {
        click(item("serverTab"));
        QCOMPARE(m_bridge->toastText(), QStringLiteral("测量服务器 还没开放"));
        QVERIFY(!m_bridge->curveWindowOpen() && !m_bridge->processorPanelOpen());
    }

    void sideTabsHideOnLoginAndUnderTheFillGuide()
    {
        QQuickItem *tabs = item("sideTabs");
        QVERIFY(tabs->isVisible());
        m_bridge->go(QStringLiteral("login"));
        QVERIFY(!tabs->isVisible());
        m_bridge->go(QStringLiteral("设置"));
        QVERIFY(tabs->isVisible());
        m_bridge->setFillMicGuideOpen(true);
        QVERIFY(!tabs->isVisible());
    }

    // The toast shows on every screen, the subwoofer ones included, and is cleared 4 s after it
    // appeared: a second text at 2.5 s does not restart the clock.
    void toastClearsAfterFourSeconds_data()
    {
        QTest::addColumn<QString>("screen");
        QTest::addColumn<double>("bottom");
        QTest::newRow("home") << QStringLiteral("主页") << 1145.0 - 71;
        // Above the subwoofer screen's footer rule and the buttons under it.
        QTest::newRow("subwoofer") << QStringLiteral("超低分频-测量") << 1038.0 - 12;
    }
    void toastClearsAfterFourSeconds()
    {
        QFETCH(QString, screen);
        QFETCH(double, bottom);
        m_bridge->go(screen);
        QQuickItem *toast = item("toast");
        QQuickItem *box = item("toastBox");
        QElapsedTimer clock;
        m_bridge->toast(QStringLiteral("先选主扩曲线，再测超低"));
        clock.start();
        QVERIFY(toast->isVisible());
        QVERIFY(box->width() > 100 && box->width() <= 600 - 60);
        QCOMPARE(box->y() + box->height(), bottom);
        QTest::qWait(2500);
        m_bridge->toast(QStringLiteral("这次没抓到曲线，再测一次"));
        QTRY_VERIFY_WITH_TIMEOUT(m_bridge->toastText().isEmpty(), 8000);
        QVERIFY2(clock.elapsed() >= 3900 && clock.elapsed() < 6000,
                 qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!toast->isVisible());
    }

    // A side window placed over this one at the screen's edge stays where the rules put it, and
    // the toast rises above it, where it can be read; back in its place once the window goes.
    void toastStandsClearOfASideWindowOverIt_data()
    {
        QTest::addColumn<QString>("flag");
        QTest::addColumn<QString>("side");
        QTest::newRow("processor panel") << "processorPanelOpen"
                                         << "processorPanel";
        QTest::newRow("curve window") << "curveWindowOpen"
                                      << "curveWindow";
    }
    void toastStandsClearOfASideWindowOverIt()
    {
        QFETCH(QString, flag);
        QFETCH(QString, side);
        QVERIFY(place(m_window, QRect(650, 50, 600, 1145)));
        m_bridge->setProperty(qPrintable(flag), true);
        QQuickWindow *window = sideWindow(qPrintable(side));
        QTRY_VERIFY(window->isVisible());
        // No room beside the window: both are put at the screen's right edge, over this one.
        QTRY_VERIFY2(window->geometry().right() >= 1920 - 12,
                     qPrintable(QDebug::toString(window->geometry())));
        QVERIFY(window->geometry().intersects(m_window->geometry()));
        m_bridge->toast(
                QStringLiteral("已把输入格式改成 2 通道 48000 Hz；已关掉通话时自动压低声音；"
                               "已把系统输入音量拉到 100% 并取消静音"));
        QQuickItem *box = item("toastBox");
        const auto onScreen = [&] {
            const QRectF inWindow = box->mapRectToScene(box->boundingRect());
            return inWindow.translated(m_window->position()).toRect();
        };
        // Wide enough to reach under the side window at its place; placed as soon as laid out.
        QTRY_VERIFY(box->width() > 500);
        QVERIFY(QQuickTest::qWaitForPolish(m_window));
        QVERIFY2(!m_bridge->toastText().isEmpty() && !onScreen().intersects(window->geometry()),
                 qPrintable(QDebug::toString(onScreen())));
        QVERIFY(onScreen().top() >= m_window->y() + 76);
        m_bridge->setProperty(qPrintable(flag), false);
        QTRY_COMPARE(box->y() + box->height(), 1145.0 - 71);
    }

    // The page under the plan dialog is blurred and the dialog above it stays sharp, measured in
    // the page's top bar and in the dialog's title. The microphone guide blurs the page too, by
    // the same layer (it covers the whole stage itself, so no pixel of the page would show).
    void pageUnderThePlanDialogIsBlurred()
    {
        if (m_window->rendererInterface()->graphicsApi() != QSGRendererInterface::OpenGL)
            SNT_SKIP("the blur needs the OpenGL scene graph (Mesa under Xvfb)");
        m_bridge->go(QStringLiteral("设置"));
        QTRY_COMPARE(page(m_window)->opacity(), 1.0);
        const QRect topBar(0, 10, 600, 56);
        const QRect dialogTitle(100, 415, 400, 35);
        const int sharp = largestStep(m_window->grabWindow(), topBar);
        QVERIFY(sharp > 100);
        m_bridge->setPlanDetailOpen(true);
        const QImage blurred = m_window->grabWindow();
        // The dialog's veil alone would leave about 37 % of the step.
        QVERIFY2(largestStep(blurred, topBar) < sharp / 10,
                 qPrintable(QString::number(largestStep(blurred, topBar))));
        QVERIFY(largestStep(blurred, dialogTitle) > sharp / 2);

        const QQmlProperty blurLayer(item("pageWrapper"), QStringLiteral("layer.enabled"));
        m_bridge->setPlanDetailOpen(false);
        QVERIFY(!blurLayer.read().toBool());
        m_bridge->setMicGuideOpen(true);
        QVERIFY(blurLayer.read().toBool());
    }

    // A real level-check run through the loopback card: no system check competes with it for the
    // sound card, and the 20 s checks come back once it ends.
    void systemCheckWaitsWhileMeasuring()
    {
        auto *timer = m_window->findChild<QObject *>(QStringLiteral("systemCheckTimer"));
        QVERIFY(timer);
        QVERIFY(timer->property("running").toBool());
        QCOMPARE(timer->property("interval").toInt(), 20000);
        m_bridge->beginMeasurement();
        m_bridge->measurePrimaryAction();
        QVERIFY(m_bridge->measuring());
        QVERIFY(card->waitTicks(5));
        QVERIFY(!timer->property("running").toBool());
        m_bridge->home();
        QVERIFY(!m_bridge->measuring());
        QVERIFY(timer->property("running").toBool());
    }

    // Left alone, the window renders only the slow clock's steps (the rings keep turning, a
    // failing check keeps blinking): at most 10 frames a second, counted over three seconds, on
    // the home page and on the measuring page after a run was played and stopped.
    void idleWindowRendersFewFrames_data()
    {
        QTest::addColumn<bool>("afterRun");
        QTest::newRow("home") << false;
        QTest::newRow("measuring, stopped") << true;
    }
    void idleWindowRendersFewFrames()
    {
        QFETCH(bool, afterRun);
        if (afterRun) {
            m_bridge->beginMeasurement();
            m_bridge->measurePrimaryAction();
            QVERIFY(m_bridge->measuring());
            QVERIFY(card->waitTicks(10));
            click(page(m_window)->findChild<QQuickItem *>(QStringLiteral("stopButton")));
            QVERIFY(!m_bridge->measuring());
        }
        // The page's entry, and the home rows' staggered one (1.22 s), are over.
        QTRY_COMPARE(page(m_window)->opacity(), 1.0);
        QTest::qWait(1500);
        QQuickItem *ring
                = snt::test::itemNamed(page(m_window), QStringLiteral("background-s-rings"));
        QVERIFY(ring);
        const qreal turnedBefore = ring->rotation();
        QSignalSpy frames(m_window, &QQuickWindow::frameSwapped);
        QElapsedTimer clock;
        clock.start();
        QTest::qWait(3000);
        const double seconds = clock.elapsed() / 1000.0;
        QVERIFY2(frames.count() <= 10 * seconds,
                 qPrintable(QStringLiteral("%1 frames in %2 s").arg(frames.count()).arg(seconds)));
        QVERIFY(frames.count() > 0);
        QVERIFY(ring->rotation() != turnedBefore);
    }

    // A walk that shows tooltips and takes their items away while they show (the home page
    // left by a click on the row under the pointer, or by the settings seal right after a row's
    // tip showed, and entered again from the settings, a measuring page left for home after its
    // button was pressed, an item unloaded under its tooltip) logs no script error nor any other
    // QML warning.
    void tooltipsOutliveTheirItemsQuietly()
    {
        QTest::failOnWarning(QRegularExpression("TypeError|ReferenceError|\\.(qml|js):\\d+"));
        const auto hoverUntilTheTipShows = [](QWindow *window, QPoint at) {
            QTest::mouseMove(window, at);
            QTest::qWait(700); // the tooltips' delay is 500 ms
        };
        const auto clickNamed = [this](const char *name) {
            const QPoint at = snt::test::middleOf(
                    snt::test::itemNamed(page(m_window), QString::fromLatin1(name)));
            QTest::mouseMove(m_window, at);
            QTest::mouseClick(m_window, Qt::LeftButton, {}, at);
        };
        m_bridge->home();
        QTRY_COMPARE(page(m_window)->opacity(), 1.0);
        QTest::qWait(1300); // the rows' entry
        QTest::mouseMove(m_window, snt::test::middleOf(snt::test::itemNamed(
                                           page(m_window), QStringLiteral("homeRow2"))));
        QTRY_VERIFY(
                textShown(m_window->contentItem(), QStringLiteral("主扩音箱和补声音箱对齐时间")));
        clickNamed("settingsSeal");
        QTRY_COMPARE(page(m_window)->objectName(), QStringLiteral("SettingsScreen"));
        QVERIFY(!textShown(m_window->contentItem(), QStringLiteral("主扩音箱和补声音箱对齐时间")));
        QTRY_COMPARE(page(m_window)->opacity(), 1.0);
        clickNamed("backButton");
        QTRY_COMPARE(page(m_window)->objectName(), QStringLiteral("HomeScreen"));
        QTRY_COMPARE(page(m_window)->opacity(), 1.0);
        for (const char *row : {"homeRow0", "homeRow2"}) {
            m_bridge->home();
            QTRY_COMPARE(page(m_window)->opacity(), 1.0);
            QTest::qWait(1300); // the rows' entry
            const QPoint at = snt::test::itemNamed(page(m_window), QString::fromLatin1(row))
                                      ->mapToScene({40, 30})
                                      .toPoint();
            hoverUntilTheTipShows(m_window, at);
            QTest::mouseClick(m_window, Qt::LeftButton, {}, at);
            QTRY_VERIFY(page(m_window)->objectName() != QStringLiteral("HomeScreen"));
        }
        for (const char *screen : {"点声源-测量中", "线阵列-测量中"}) {
            m_bridge->go(QString::fromUtf8(screen));
            QTRY_COMPARE(page(m_window)->opacity(), 1.0);
            QQuickItem *button
                    = snt::test::itemNamed(page(m_window), QStringLiteral("primaryButton"));
            const QPoint at = button->mapToScene({button->width() / 2, 10}).toPoint();
            hoverUntilTheTipShows(m_window, at);
            QTest::mouseClick(m_window, Qt::LeftButton, {}, at);
            QTest::qWait(700);
            m_bridge->home();
            QTRY_VERIFY(page(m_window)->objectName() == QStringLiteral("HomeScreen"));
        }
        const auto window = showComponent(*m_engine, R"(
            import QtQuick
            Window {
                width: 300; height: 200
                Loader {
                    objectName: "loader"
                    anchors.fill: parent
                    sourceComponent: Item {
                        PillButton { x: 50; y: 50; text: "播放"; tip: "播放信号" }
                        IconButton { x: 200; y: 50; icon: "i-del"; tip: "删除" }
                    }
                }
            })");
        QVERIFY(window);
        auto *loader = window->findChild<QObject *>(QStringLiteral("loader"));
        for (const auto &[at, tip] : {std::pair(QPoint(60, 60), QStringLiteral("播放信号")),
                                      std::pair(QPoint(210, 60), QStringLiteral("删除"))}) {
            QTest::mouseMove(window.get(), at);
            QTRY_VERIFY(textShown(window->contentItem(), tip));
            loader->setProperty("active", false);
            QVERIFY(!textShown(window->contentItem(), tip));
            QTest::qWait(200);
            loader->setProperty("active", true);
        }
        QTest::mouseMove(m_window, QPoint(300, 20));
    }

    // Hidden, the window runs no clock at all; shown again, the rings turn on.
    void hiddenWindowRunsNoClock()
    {
        const auto running = [this] {
            int count = 0;
            for (const auto *clock : m_window->findChildren<snt::ui::StepClock *>())
                count += clock->running();
            return count;
        };
        QTRY_VERIFY(running() > 0);
        m_window->hide();
        QTRY_COMPARE(running(), 0);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
        QTRY_VERIFY(running() > 0);
    }

    // A picker opened near the window's right edge keeps its menu inside the window, also on a
    // stage scaled to half and with a label wider than the window; picking a row reports the
    // value and leaves `value` to its owner.
    void pickerMenuStaysInsideTheWindow_data()
    {
        QTest::addColumn<double>("scale");
        QTest::addColumn<bool>("alignRight");
        QTest::addColumn<QString>("label");
        QTest::newRow("unscaled") << 1.0 << false << "二";
        QTest::newRow("half-scaled stage") << 0.5 << false << "二";
        QTest::newRow("right-aligned") << 1.0 << true << "二";
        QTest::newRow("a label wider than the window")
                << 1.0 << false << QString(60, QChar(0x4E8C));
    }
    void pickerMenuStaysInsideTheWindow()
    {
        QFETCH(double, scale);
        QFETCH(bool, alignRight);
        QFETCH(QString, label);
        const auto window = showComponent(*m_engine, QStringLiteral(R"(
            import QtQuick
            Window {
                width: 400; height: 300
                Item {
                    width: 400 / scale; height: 300 / scale; scale: %1
                    transformOrigin: Item.TopLeft
                    Picker {
                        objectName: "picker"
                        x: parent.width - 70; y: 20; width: 60; height: 30
                        alignRight: %2
                        options: [{value: 1, label: "一"}, {value: 2, label: "%3"}]
                        value: 1
                        property var got
                        onPicked: v => got = v
                    }
                }
            })")
                                                             .arg(scale)
                                                             .arg(alignRight ? "true" : "false")
                                                             .arg(label)
                                                             .toUtf8());
        QVERIFY(window);
        auto *picker = window->findChild<QQuickItem *>(QStringLiteral("picker"));
        click(picker);
        auto *menu = window->findChild<QObject *>(QStringLiteral("pickerMenu"));
        QTRY_VERIFY(menu->property("visible").toBool());
        auto *menuItem = qvariant_cast<QQuickItem *>(menu->property("contentItem"));
        const qreal shown = scale;
        const QRectF onWindow(menuItem->mapToScene({0, 0}),
                              menuItem->mapToScene({menuItem->width(), menuItem->height()}));
        QVERIFY(std::abs(onWindow.width() / menu->property("width").toDouble() - shown) < 0.05);
        QVERIFY2(onWindow.left() >= 0 && onWindow.right() <= 400 + 0.5,
                 qPrintable(QDebug::toString(onWindow)));
        // Right edges meet with alignRight; otherwise the menu goes only as far left as it must.
        const qreal pickerRight = picker->mapToScene({picker->width(), 0}).x();
        const qreal rightEdge = alignRight ? pickerRight : 400;
        QVERIFY(std::abs(onWindow.right() - rightEdge) < 1);

        QTest::mouseClick(window.get(), Qt::LeftButton, {},
                          QPointF(onWindow.center().x(), onWindow.bottom() - 12 * shown).toPoint());
        QTRY_VERIFY(!menu->property("visible").toBool());
        QCOMPARE(picker->property("got").toInt(), 2);
        QCOMPARE(picker->property("value").toInt(), 1);
    }

    // The closed picker's text: the option's short text, else its label, else the value itself.
    void pickerShowsTheCurrentOption_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("shown");
        QTest::newRow("short text") << "48000"
                                    << "48k Hz";
        QTest::newRow("label") << "\"44100\""
                               << "44.1 kHz Hz";
        QTest::newRow("no option") << "96000"
                                   << "96000 Hz";
        QTest::newRow("undefined") << "undefined"
                                   << "";
        QTest::newRow("null") << "null"
                              << "";
    }
    void pickerShowsTheCurrentOption()
    {
        QFETCH(QString, value);
        QFETCH(QString, shown);
        const auto window = showComponent(*m_engine, QStringLiteral(R"(
            import QtQuick
            Window {
                width: 200; height: 60
                Picker {
                    width: 180; height: 30
                    suffix: " Hz"
                    options: [{value: 48000, label: "48 kHz", short: "48k"},
                              {value: 44100, label: "44.1 kHz"}]
                    value: %1
                }
            })")
                                                             .arg(value)
                                                             .toUtf8());
        QVERIFY(window);
        auto *text = window->findChild<QQuickItem *>(QStringLiteral("pickerText"));
        QCOMPARE(text->property("text").toString(), shown);
    }

    // A disabled pill is drawn at 40 % and takes no click. The label sits right of the middle by
    // half the letter spacing, or by half of (0.64 x font size + spacing) after a full-width
    // closing bracket.
    void pillButtonRules_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<double>("shift");
        QTest::newRow("enabled") << "开始测量" << true << 1.64 / 2;
        QTest::newRow("disabled") << "开始测量" << false << 1.64 / 2;
        QTest::newRow("bracket") << "导入（可选）" << true << (0.64 * 16 + 1.64) / 2;
        QTest::newRow("corner bracket") << "「测量」" << true << (0.64 * 16 + 1.64) / 2;
        QTest::newRow("opening bracket last") << "测量（" << true << 1.64 / 2;
    }
    void pillButtonRules()
    {
        QFETCH(QString, text);
        QFETCH(bool, enabled);
        QFETCH(double, shift);
        const auto window = showComponent(*m_engine, QStringLiteral(R"(
            import QtQuick
            Window {
                width: 300; height: 80
                PillButton {
                    objectName: "pill"; x: 20; y: 10
                    text: "%1"; enabled: %2
                    property int clicks: 0
                    onClicked: ++clicks
                }
            })")
                                                             .arg(text, enabled ? "true" : "false")
                                                             .toUtf8());
        QVERIFY(window);
        auto *pill = window->findChild<QQuickItem *>(QStringLiteral("pill"));
        QCOMPARE(pill->height(), 46.0);
        QCOMPARE(pill->opacity(), enabled ? 1.0 : 0.4);
        QQuickItem *label = nullptr;
        for (QQuickItem *child : pill->childItems())
            if (child->property("text").toString() == text)
                label = child;
        QVERIFY(label);
        QCOMPARE(pill->width(), label->width() + 2 * 33);
        QVERIFY(std::abs(label->x() + label->width() / 2 - pill->width() / 2 - shift) < 0.01);
        click(pill);
        QCOMPARE(pill->property("clicks").toInt(), enabled ? 1 : 0);
    }

    // The top bar counts failures only: hints and tips never turn the check icon red. The failing
    // entries need a broken sound set-up, so this bridge is a stand-in with the checks as data.
    void topBarShowsFailedChecks_data()
    {
        QTest::addColumn<QVariantList>("checks");
        QTest::addColumn<bool>("red");
        const auto entry = [](bool ok, const char *kind) {
            QVariantMap map{{"name", "x"}, {"ok", ok}, {"detail", ""}, {"action", ""}};
            if (*kind)
                map.insert(QLatin1String(kind), true);
            return QVariant(map);
        };
        QTest::newRow("two failures and a tip")
                << QVariantList{entry(false, ""), entry(true, ""), entry(false, ""),
                                entry(false, "note")}
                << true;
        QTest::newRow("only hints and tips")
                << QVariantList{entry(false, "info"), entry(true, "info"), entry(false, "note")}
                << false;
        QTest::newRow("none yet") << QVariantList{} << false;
    }
    void topBarShowsFailedChecks()
    {
        QFETCH(QVariantList, checks);
        QFETCH(bool, red);
        QQmlPropertyMap standIn;
        standIn.insert(QStringLiteral("theme"), m_bridge->theme());
        standIn.insert(QStringLiteral("darkMode"), true);
        standIn.insert(QStringLiteral("projectName"), QString());
        standIn.insert(QStringLiteral("systemChecks"), checks);
        standIn.insert(QStringLiteral("updateAvailable"), true);
        standIn.insert(QStringLiteral("updateDialogOpen"), false);
        QQmlEngine engine;
        snt::ui::setUpQmlEngine(engine);
        engine.rootContext()->setContextProperty(QStringLiteral("bridge"), &standIn);
        const auto window = showComponent(engine, R"(
            import QtQuick
            Window {
                width: 600; height: 76; color: "black"
                TopBar {}
            })");
        QVERIFY(window);
        auto *slot = window->findChild<QQuickItem *>(QStringLiteral("checkSlot"));
        QCOMPARE(slot->property("blinking").toBool(), red);
        if (!red)
            QCOMPARE(slot->opacity(), 1.0);
        auto *check = window->findChild<QQuickItem *>(QStringLiteral("checkButton"));
        const QRect icon = check->mapRectToScene(check->boundingRect()).toRect();
        // The icon is drawn in the danger colour by the image provider once loaded.
        QTRY_VERIFY((redPixels(window->grabWindow(), icon) > 20) == red
                    && (red || redPixels(window->grabWindow(), icon) == 0));

        click(window->findChild<QQuickItem *>(QStringLiteral("updatePill")));
        QTRY_VERIFY(standIn.value(QStringLiteral("updateDialogOpen")).toBool());
    }
};

SNT_GUI_TEST_MAIN(ShellTest)
#include "ShellTest.moc"
