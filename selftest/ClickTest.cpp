#include "selftest/ClickTest.h"

#include "selftest/Walk.h"
#include "selftest/Windows.h"

#include <QQuickWindow>

namespace snt::selftest {

namespace {

const QString projectsScreen = QStringLiteral("工程");
const QString homeScreen = QStringLiteral("主页");
const QString useScreen = QStringLiteral("点声源-选用途");
constexpr int stepWaitMs = 500;
constexpr int schemePollMs = 500;
constexpr int schemePolls = 70; // 35 s for the measurement and its computation
constexpr int curveWindowWaitMs = 600;
constexpr int curveWindowStepMs = 300;
const QSize resizedCurveWindow(820, 560);

// The controls of the page the main window shows.
ClickTarget onPage(const QStringList &names, QPoint point)
{
    return {QStringList{QStringLiteral("pageLoader")} + names, point};
}

void clickAndWait(Walk &walk, const ClickTarget &target)
{
    walk.click(target);
    Walk::wait(stepWaitMs);
}

void clickAndWait(Walk &walk, QPoint point)
{
    walk.click(point);
    Walk::wait(stepWaitMs);
}

// Steps 1 to 3: the login screen leads back, the project screen (which no control reaches) and
// out of it to the home screen.
void loginAndProjects(Walk &walk)
{
    walk.shot(QStringLiteral("click-01-login.png"));
    walk.expectScreen(QStringLiteral("登录"));
    clickAndWait(walk, onPage({QStringLiteral("loginButton")}, {220, 612}));
    walk.goThroughBridge(projectsScreen);

    walk.shot(QStringLiteral("click-02-projects.png"));
    walk.expectScreen(projectsScreen);
    clickAndWait(walk, QPoint(220, 778));

    walk.shot(QStringLiteral("click-03-new.png"));
    clickAndWait(walk, QPoint(330, 30));
    if (walk.screen() == projectsScreen)
        walk.goThroughBridge(homeScreen);
}

// Steps 4 to 7: the point-source measurement from the home row, the microphone guide and its
// start, the automatic run, and the wait for its schemes.
void measure(Walk &walk)
{
    walk.shot(QStringLiteral("click-04-home.png"));
    walk.expectScreen(homeScreen);
    clickAndWait(walk, onPage({QStringLiteral("homeRow0")}, {200, 222}));

    walk.shot(QStringLiteral("click-05-measure.png"));
    walk.expectScreen(QStringLiteral("点声源-测量中"));
    clickAndWait(walk, onPage({QStringLiteral("helpPill")}, {220, 726}));

    walk.shot(QStringLiteral("click-06-mic.png"));
    clickAndWait(walk, {{QStringLiteral("micGuideDialog"), QStringLiteral("startMeasureButton")},
                        {318, 686}});
    Walk::wait(300);
    walk.pressUntilArmed(onPage({QStringLiteral("primaryButton")}, {313, 793}));
    Walk::wait(stepWaitMs);

    walk.shot(QStringLiteral("click-07-auto-start.png"));
    for (int poll = 0; poll < schemePolls && walk.screen() != useScreen; ++poll)
        Walk::wait(schemePollMs);
}

// Steps 8 to 13: the first scheme's plan, its delivery screen, home, settings and back.
void schemesAndBack(Walk &walk)
{
    const QString firstCard = QStringLiteral("schemeCard0");
    walk.shot(QStringLiteral("click-08-use.png"));
    walk.expectScreen(useScreen);
    clickAndWait(walk, onPage({firstCard, QStringLiteral("eyeButton")}, {366, 208}));

    walk.shot(QStringLiteral("click-09-plan.png"));
    clickAndWait(walk,
                 {{QStringLiteral("planDetailDialog"), QStringLiteral("closeButton")}, {361, 236}});
    clickAndWait(walk, onPage({firstCard, QStringLiteral("enterButton")}, {338, 792}));

    const QString topBar = QStringLiteral("topBar");
    walk.shot(QStringLiteral("click-10-delivery.png"));
    walk.expectScreen(QStringLiteral("点声源-交付与复测"));
    clickAndWait(walk, onPage({topBar, QStringLiteral("homeButton")}, {402, 28}));

    walk.shot(QStringLiteral("click-11-home-back.png"));
    walk.expectScreen(homeScreen);
    clickAndWait(walk, onPage({QStringLiteral("settingsSeal")}, {42, 802}));

    walk.shot(QStringLiteral("click-12-settings.png"));
    walk.expectScreen(QStringLiteral("设置"));
    clickAndWait(walk, onPage({topBar, QStringLiteral("backButton")}, {38, 28}));
    clickAndWait(walk, QPoint(330, 30));
    walk.goThroughBridge(projectsScreen);

    walk.shot(QStringLiteral("click-13-projects-back.png"));
    walk.expectScreen(projectsScreen);
}

} // namespace

void checkCurveWindow(Walk &walk)
{
    walk.bridge().call("openCurveWindow");
    Walk::wait(curveWindowWaitMs);
    QQuickWindow *window = shownWindowTitled(QStringLiteral("工程管理"));
    if (!window) {
        qWarning().noquote() << "CLICK curve window not found";
        walk.fail(3);
        return;
    }
    grabWindowToFile(window, walk.outputFolder(), QStringLiteral("click-14-curve.png"));
    walk.click(window, {{}, {911, 33}});
    Walk::wait(curveWindowStepMs);
    window->resize(resizedCurveWindow);
    Walk::wait(curveWindowStepMs);
    grabWindowToFile(window, walk.outputFolder(), QStringLiteral("click-15-curve-resized.png"));
    walk.click(window, {{QStringLiteral("closeCurveWindow")}, {window->width() - 42, 33}});
    Walk::wait(curveWindowStepMs);
    const bool stillOpen = walk.flag("curveWindowOpen");
    qInfo().noquote() << "CLICK curveWindowOpen" << (stillOpen ? "FAIL" : "OK");
    if (stillOpen)
        walk.fail(3);
}

void runClickTest(const QQmlApplicationEngine &engine, QObject *bridge, const QString &outputFolder)
{
    Walk walk(engine, bridge, outputFolder);
    if (!walk.start())
        return;
    loginAndProjects(walk);
    measure(walk);
    schemesAndBack(walk);
    checkCurveWindow(walk);
    walk.end();
}

} // namespace snt::selftest
