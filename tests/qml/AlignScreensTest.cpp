#include "app/AppCore.h"
#include "tests/app/store/StoreFolder.h"
#include "tests/qml/MeterProbe.h"
#include "tests/qml/PillProbe.h"
#include "tests/qml/ScreenTestSupport.h"
#include "tests/support/LoopbackCard.h"

#include <QFontInfo>
#include <QQmlComponent>
#include <QQuickItemGrabResult>
#include <QRegularExpression>
#include <QSignalSpy>

#include <cmath>

using namespace snt::test;

namespace {

constexpr int longWaitMs = 60000;
constexpr double rate = 48000.0;

// The texts of a venue view that lie on one another (their lines' middle 70 %, where the glyphs
// are), and the cabinet names that do not stand on their point (they never cover the cabinet
// under them).
QStringList crowdedLabels(QQuickItem *view)
{
    QStringList problems;
    QList<QQuickItem *> labels;
    for (QQuickItem *label : itemsNamed(view, "sceneLabel")) {
        if (!label->isVisible())
            continue;
        labels << label;
        const QVariantMap spot = label->property("spot").toMap();
        const QString text = label->property("text").toString();
        const bool cabinet = text.startsWith("主扩") || text == "超低" || text == "点声源";
        if (cabinet
            && (!spot.value("above").toBool()
                || std::abs(label->y() + label->height() - spot.value("y").toDouble()) > 0.5))
            problems << text + " does not stand on its point";
    }
    const auto ink = [view](QQuickItem *label) {
        const QRectF box = label->mapRectToItem(view, label->boundingRect());
        return box.adjusted(0, 0.15 * box.height(), 0, -0.15 * box.height());
    };
    for (qsizetype i = 0; i < labels.size(); ++i)
        for (qsizetype j = i + 1; j < labels.size(); ++j)
            if (ink(labels[i]).intersects(ink(labels[j])))
                problems << labels[i]->property("text").toString() + " on "
                                    + labels[j]->property("text").toString();
    return problems;
}

} // namespace

// The fill alignment and subwoofer crossover screens in the main window over the real bridge,
// with the loopback test card as the sound card, and the venue view they share with the
// microphone guide.
class AlignScreensTest : public QObject
{
    Q_OBJECT

    MainWindowUnderTest m;
    std::shared_ptr<LoopbackCard> card = std::make_shared<LoopbackCard>();

    QQuickItem *item(const QString &name) const { return m.find(name, m.page()); }
    QString text(const QString &name) const { return item(name)->property("text").toString(); }

    // The measurement channel: the card's output 0 back through `gain` and `delayFrames`.
    void setMicrophone(float gain, int delayFrames = 0)
    {
        LoopbackCard::Path path;
        path.sourceChannel = 0;
        path.gain = gain;
        path.delayFrames = delayFrames;
        path.noiseRms = gain > 0 ? 0.002f : 0.0f;
        card->setPath(0, path);
    }

    void showPage(const QString &name)
    {
        QTRY_VERIFY(m.page() && m.page()->objectName() == name);
        QTRY_COMPARE(m.page()->opacity(), 1.0);
    }

    void showFillDemo(int step, double delayMs)
    {
        m.bridge->beginFillAlign();
        m.bridge->loadFillAlignDemo(step, delayMs);
        showPage("FillAlignScreen");
    }

    void showSubDemo(int step)
    {
        m.bridge->loadSubXoverDemo(step);
        showPage("SubXoverScreen");
    }

    // Clicks a number field, replaces its text by typing `typed`, and leaves it focused.
    void type(QQuickItem *field, const QString &typed)
    {
        click(field);
        QTest::keyClick(m.window, Qt::Key_A, Qt::ControlModifier);
        typeText(m.window, typed);
    }

    int packIndex(const QString &name) const
    {
        const QList<CurvePack> &packs = m.bridge->core().store().curvePacks;
        const auto named = [&name](const CurvePack &pack) {
            return pack.name == name;
        };
        return int(std::find_if(packs.cbegin(), packs.cend(), named) - packs.cbegin());
    }

    // The texts the page shows within `area` (scene coordinates).
    QStringList textsUnder(const QRectF &area, QQuickItem *from = nullptr) const
    {
        QStringList texts;
        for (QQuickItem *child : (from ? from : m.page())->childItems()) {
            if (!child->isVisible() || child->opacity() == 0)
                continue;
            if (child->inherits("QQuickText")
                && area.intersects(child->mapRectToScene(child->boundingRect())))
                texts << child->property("text").toString();
            texts << textsUnder(area, child);
        }
        return texts;
    }

    QImage grabItem(QQuickItem *view) const
    {
        return m.window->grabWindow().copy(view->mapRectToScene(view->boundingRect()).toRect());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m.start([this] { return card; }));
    }
    void init()
    {
        m.bridge->subStop();
        m.bridge->home();
        m.bridge->setSubGuideHidden(false);
        m.bridge->setFillMicGuideOpen(false);
        m.bridge->clearToast();
        m.bridge->setMeasureSeconds(2.0);
        m.bridge->setMeasureSignalType(0); // pink noise: the default music file is not here
        setMicrophone(1.0f);
        // Keys go to the window the engineer works in, also after the curve window was open.
        m.window->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(m.window));
        // Canvas texts are drawn in the CJK face only where the canvas takes the family asked.
        QTest::failOnWarning(QRegularExpression("font families specified are invalid"));
    }
    void cleanupTestCase() { m.stop(); }

    // Scene view
    void sceneView();
    void sceneViewInteraction_data();
    void sceneViewInteraction();
    void sceneViewSizes();
    void venueCutsWhatLiesBehindTheEye();

    // Subwoofer screen
    void subButtonTable_data();
    void subButtonTable();
    void subMainTip();
    void subMeasureStep();
    void subLevelPrompt_data();
    void subLevelPrompt();
    void subCornerCards();
    void subEqTable();
    void subAlignResult();
    void subToastAboveTheButtons();
    void subMainPick_data();
    void subMainPick();

    // Fill screen
    void fillRealCaptures_data();
    void fillRealCaptures();
    void fillSignRuleAndPulseView();
    void fillGuideOverlay();
};

namespace {

// Colours in an image, counted by a predicate.
int countPixels(const QImage &image, const std::function<bool(QColor)> &match, QRect area = {})
{
    const QRect r = area.isNull() ? image.rect() : area.intersected(image.rect());
    int count = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            count += match(image.pixelColor(x, y)) ? 1 : 0;
    return count;
}

bool nearColour(QColor a, QColor b, int tolerance = 40)
{
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green())
                   + std::abs(a.blue() - b.blue())
           < tolerance;
}

// The texts laid over a venue view, as shown: sorted, each in the CJK face the shell maps the
// asked family to and inside the view.
QStringList sceneLabels(QQuickItem *view)
{
    QStringList texts;
    for (QQuickItem *label : itemsNamed(view, "sceneLabel")) {
        if (!label->isVisible())
            continue;
        texts << label->property("text").toString();
        if (QFontInfo(label->property("font").value<QFont>()).family() != "Noto Sans CJK SC")
            texts << "(not in the CJK face)";
        if (!view->boundingRect().contains(label->mapRectToItem(view, label->boundingRect())))
            texts << "(outside)";
    }
    texts.sort();
    return texts;
}

} // namespace

// The camera's fit and the turning point, by the scripts both venues draw with: after the fit
// the points framed lie around the middle of a 535 x 300 view and fill 92 % of it (88 % for the
// line-array venue), and the fitted target lands in the middle; without mains the picture turns
// about the subwoofers' middle, which then stays where it is on the view whatever the yaw. The
// two subwoofers of "center" (1.2 m apart) share a label, those of "side" (4.35 m apart) do not.
// The guide draws both venues once and not again while nothing changes; a new yaw or palette
// draws them again.
void AlignScreensTest::sceneView()
{
    QQmlComponent probe(m.engine.get());
    probe.setData("import QtQuick\nimport \"SubSceneData.js\" as D\n"
                  "import \"SubScenePaint.js\" as P\nimport \"MicGuideScene.js\" as G\n"
                  "import \"VenueCamera.js\" as S\n"
                  "QtObject {\n"
                  "  function framing(name, yaw) {\n"
                  "    const view = {yaw: yaw, pitch: 0.3, zoom: 1}\n"
                  "    const cam = name === 'guide' ? G.camera(535, 300, view)\n"
                  "                                 : P.camera(D[name], 535, 300, view)\n"
                  "    if (name === 'guide') cam.yaw = 0\n"
                  "    const points = name === 'guide' ? G.keyPoints() : P.framePoints(D[name])\n"
                  "    const s = points.map(p => S.project(cam, p))\n"
                  "    const xs = s.map(p => p.x), ys = s.map(p => p.y)\n"
                  "    const x0 = Math.min(...xs), x1 = Math.max(...xs)\n"
                  "    const y0 = Math.min(...ys), y1 = Math.max(...ys)\n"
                  "    cam.yaw = 0\n"
                  "    const t = S.project(cam, cam.target)\n"
                  "    return [Math.hypot((x0 + x1) / 2 - 267.5, (y0 + y1) / 2 - 150),\n"
                  "            Math.max((x1 - x0) / 535, (y1 - y0) / 300),\n"
                  "            Math.hypot(t.x - 267.5, t.y - 150)] }\n"
                  "  function drift(x, z) {\n"
                  "    const scene = {faces: D.side.faces, mains: [], subs: D.side.subs,\n"
                  "                   mics: D.side.mics}\n"
                  "    const cam = P.camera(scene, 535, 300, {yaw: 0, pitch: 0, zoom: 1})\n"
                  "    const a = P.project(cam, [x, 0, z]); cam.yaw = 2.0\n"
                  "    const b = P.project(cam, [x, 0, z])\n"
                  "    return Math.hypot(a.x - b.x, a.y - b.y) }\n"
                  "}",
                  QUrl(QStringLiteral("qrc:/qml/Probe.qml")));
    std::unique_ptr<QObject> script(probe.create());
    QVERIFY2(script, qPrintable(probe.errorString()));
    const auto call = [&](const char *name, QVariant a, QVariant b) {
        QVariant result;
        QMetaObject::invokeMethod(script.get(), name, Q_RETURN_ARG(QVariant, result),
                                  Q_ARG(QVariant, a), Q_ARG(QVariant, b));
        return result;
    };
    for (const auto &[name, fill] : {std::pair{"center", 0.92}, {"point", 0.92}, {"guide", 0.88}}) {
        const QVariantList framed = call("framing", name, 0.0).toList();
        QVERIFY2(framed[0].toDouble() < 1.0, name);
        QVERIFY2(std::abs(framed[1].toDouble() - fill) < 0.005, name);
        QVERIFY2(framed[2].toDouble() < 1e-6, name);
    }
    QVERIFY(call("drift", 0.0, -0.001).toDouble() < 1e-6); // the side subwoofers' middle
    QVERIFY(call("drift", 2.175, -0.001).toDouble() > 10);

    showSubDemo(0);
    QQuickItem *view = item("centerScene");
    QVERIFY(view && item("sideScene"));
    QCOMPARE(sceneLabels(view), QStringList({"主扩 L", "主扩 R", "舞台", "超低", "麦"}));
    QCOMPARE(sceneLabels(item("sideScene")),
             QStringList({"主扩 L", "主扩 R", "舞台", "超低", "超低", "麦"}));
    // Each text readable on its own, and both venues clear of the side tabs at the window's edge.
    const QRectF tabs = m.find("sideTabs")->mapRectToScene(m.find("sideTabs")->boundingRect());
    for (QQuickItem *venue : {view, item("sideScene")}) {
        QCOMPARE(crowdedLabels(venue), QStringList());
        QVERIFY(venue->mapRectToScene(venue->boundingRect()).right() < tabs.left());
    }
    auto *canvas = m.find("sceneCanvas", view);
    QSignalSpy painted(canvas, SIGNAL(painted()));
    QTest::qWait(2000);
    QCOMPARE(painted.count(), 0);
    const QImage before = grabItem(view);
    const QColor ground = before.pixelColor(4, before.height() / 2);
    const int ink = countPixels(before, [&](QColor c) { return !nearColour(c, ground, 60); });
    QVERIFY2(ink > 3000, qPrintable(QString::number(ink)));
    view->setProperty("yaw", 0.7);
    QTRY_VERIFY(painted.count() >= 1);
    QTRY_VERIFY(grabItem(view) != before);
    const int afterYaw = painted.count();
    m.bridge->setDarkMode(!m.bridge->darkMode());
    QTRY_VERIFY(painted.count() > afterYaw);
    m.bridge->setDarkMode(!m.bridge->darkMode());
}

// Each row: what the hand does on the centre venue, and the view it leaves.
void AlignScreensTest::sceneViewInteraction_data()
{
    QTest::addColumn<QString>("gesture");
    QTest::addColumn<double>("yaw");
    QTest::addColumn<double>("pitch");
    QTest::addColumn<double>("zoom");
    QTest::newRow("wheel far away") << "wheel+" << 0.0 << 0.0 << 2.4;
    QTest::newRow("wheel far towards") << "wheel-" << 0.0 << 0.0 << 0.55;
    QTest::newRow("plus") << "plus" << 0.0 << 0.0 << 1.18;
    QTest::newRow("minus") << "minus" << 0.0 << 0.0 << 0.85;
    // Two strokes of 240 view pixels down tilt by 1.92 rad, held at 1.2.
    QTest::newRow("dragged far down") << "down" << 0.0 << 1.2 << 1.0;
    // Two strokes of 300 view pixels to the right turn by -3.6 rad, wrapped once past -pi.
    QTest::newRow("dragged round") << "round" << 2 * M_PI - 3.6 << 0.0 << 1.0;
}

void AlignScreensTest::sceneViewInteraction()
{
    QFETCH(QString, gesture);
    QFETCH(double, yaw);
    QFETCH(double, pitch);
    QFETCH(double, zoom);
    showSubDemo(0);
    QQuickItem *view = item("centerScene");
    const QPoint middle = middleOf(view);
    if (gesture.startsWith("wheel"))
        for (int i = 0; i < 30; ++i)
            wheel(m.window, middle, gesture.endsWith('+') ? 1 : -1);
    else if (gesture == "plus" || gesture == "minus")
        click(m.find(gesture == "plus" ? "zoomIn" : "zoomOut", view));
    else {
        // The window shows the view scaled: strokes are given in the view's own pixels.
        const QPointF unit = view->mapToScene({1, 1}) - view->mapToScene({0, 0});
        const QPoint half = gesture == "down" ? QPoint(0, qRound(120 * unit.y()))
                                              : QPoint(qRound(150 * unit.x()), 0);
        for (int stroke = 0; stroke < 2; ++stroke)
            drag(m.window, middle - half, middle + half, 10);
    }
    // Strokes land on whole window pixels: a drag is right within a pixel or two.
    QTRY_VERIFY(std::abs(view->property("pitch").toDouble() - pitch) < 0.01);
    QVERIFY(std::abs(view->property("zoom").toDouble() - zoom) < 0.01);
    QVERIFY2(std::abs(view->property("yaw").toDouble() - yaw) < 0.01,
             qPrintable(view->property("yaw").toString()));
}

// Turned far enough, the audience floor of the microphone guide's venue reaches behind the eye.
// Its outline is then the part ahead of the eye, cut to a narrow band around the view: a view
// pixel lies inside it exactly where the ray from the eye through that pixel meets the floor
// ahead (checked on a 7-pixel grid), and no corner lies more than 32 pixels outside the view.
// Each floor grid line keeps to the guard too and runs along its line's own projection.
void AlignScreensTest::venueCutsWhatLiesBehindTheEye()
{
    QQmlComponent probe(m.engine.get());
    probe.setData(R"(import QtQuick
import "SubSceneData.js" as D
import "SubScenePaint.js" as P
import "VenueCamera.js" as S
QtObject {
    function traced(cam, points, close) {
        const lines = []
        const ctx = {moveTo: (x, y) => lines.push([[x, y]]),
                     lineTo: (x, y) => lines[lines.length - 1].push([x, y]), closePath: () => {}}
        S.trace(ctx, cam, points, close)
        return lines
    }
    function reach(lines) {
        let far = 0
        for (const line of lines)
            for (const p of line)
                far = Math.max(far, -p[0], p[0] - 535, -p[1], p[1] - 300)
        return far
    }
    function insideOf(shape, x, y) {
        let inside = false
        for (let i = 0, j = shape.length - 1; i < shape.length; j = i++)
            if ((shape[i][1] > y) !== (shape[j][1] > y)
                    && x < shape[j][0] + (shape[i][0] - shape[j][0]) * (y - shape[j][1])
                                         / (shape[i][1] - shape[j][1]))
                inside = !inside
        return inside
    }
    // Where the ray from the eye through a view pixel meets the floor (y = 0), in the scene's
    // own metres, or null when it meets it behind the near plane or not at all.
    function floorUnder(cam, px, py) {
        const a = (px - 267.5) / cam.focal, b = -(py - 150) / cam.focal
        const d = [0, 1, 2].map(k => cam.forward[k] + a * cam.right[k] + b * cam.up[k])
        const t = d[1] < 0 ? -cam.eye[1] / d[1] : -1
        if (t < S.near)
            return null
        const c = Math.cos(cam.yaw), s = Math.sin(cam.yaw), pivot = cam.pivot
        const qx = cam.eye[0] + t * d[0] - pivot[0], qz = cam.eye[2] + t * d[2] - pivot[1]
        return [pivot[0] + qx * c + qz * s, pivot[1] - qx * s + qz * c]
    }
    function floorCut(yaw) {
        const cam = P.camera(D.point, 535, 300, {yaw: yaw, pitch: 0, zoom: 1})
        const floor = D.point.faces.find(f => f.kind === "listen_area_base").points
        const shape = traced(cam, floor, true)[0]
        const xs = floor.map(p => p[0]), zs = floor.map(p => p[2])
        let wrong = 0, behind = 0
        for (const p of floor)
            behind += S.project(cam, p).z < S.near
        for (let py = 0.5; py < 300; py += 7)
            for (let px = 0.5; px < 535; px += 7) {
                const at = floorUnder(cam, px, py)
                const onFloor = !!at && at[0] > Math.min(...xs) && at[0] < Math.max(...xs)
                                && at[1] > Math.min(...zs) && at[1] < Math.max(...zs)
                wrong += onFloor !== insideOf(shape, px, py)
            }
        return [behind, wrong, reach([shape])]
    }
    // How far the grid lines' cut pieces lie off their projected lines, and outside the view.
    function gridCut(yaw) {
        const cam = P.camera(D.point, 535, 300, {yaw: yaw, pitch: 0, zoom: 1})
        let off = 0, far = 0
        for (const line of P.shapesOf(D.point).grid) {
            const pieces = traced(cam, line, false)
            far = Math.max(far, reach(pieces))
            const ahead = []
            for (let t = 0; t <= 1; t += 0.01) {
                const p = S.project(cam, line[0].map((v, k) => v + (line[1][k] - v) * t))
                if (p.z > 1)
                    ahead.push(p)
            }
            if (ahead.length < 2)
                continue
            const a = ahead[0], b = ahead[ahead.length - 1]
            const length = Math.hypot(b.x - a.x, b.y - a.y)
            for (const piece of pieces)
                for (const p of piece)
                    off = Math.max(off, Math.abs((b.x - a.x) * (p[1] - a.y)
                                                 - (b.y - a.y) * (p[0] - a.x)) / length)
        }
        return [off, far]
    }
})",
                  QUrl(QStringLiteral("qrc:/qml/CutProbe.qml")));
    std::unique_ptr<QObject> script(probe.create());
    QVERIFY2(script, qPrintable(probe.errorString()));
    const auto call = [&](const char *name, double yaw) {
        QVariant result;
        QMetaObject::invokeMethod(script.get(), name, Q_RETURN_ARG(QVariant, result),
                                  Q_ARG(QVariant, yaw));
        return result.toList();
    };
    int turnedBehind = 0;
    for (double yaw = 0; yaw <= 1.5; yaw += 0.05) {
        const QVariantList floor = call("floorCut", yaw);
        const QString at = QString::number(yaw);
        turnedBehind += floor[0].toInt() > 0;
        QVERIFY2(floor[1].toInt() == 0, qPrintable(at + ": " + floor[1].toString()));
        QVERIFY2(floor[2].toDouble() <= 32.001, qPrintable(at + ": " + floor[2].toString()));
        const QVariantList grid = call("gridCut", yaw);
        QVERIFY2(grid[0].toDouble() < 0.01, qPrintable(at + ": " + grid[0].toString()));
        QVERIFY2(grid[1].toDouble() <= 32.001, qPrintable(at + ": " + grid[1].toString()));
    }
    QVERIFY(turnedBehind >= 5);
}

// Nothing is drawn on a canvas under 40 x 40 pixels; a window twice the design size doubles the
// canvas, so the same small view then draws.
void AlignScreensTest::sceneViewSizes()
{
    QQmlComponent component(m.engine.get());
    component.setData("import QtQuick\nWindow { width: 600; height: 1145; color: \"black\"\n"
                      "  SubSceneView { objectName: \"small\"; width: 30; height: 30 }\n"
                      "  SubSceneView { objectName: \"big\"; y: 40; width: 535; height: 300;\n"
                      "                 scene: \"point\" } }",
                      QUrl(QStringLiteral("qrc:/qml/SizeProbe.qml")));
    std::unique_ptr<QQuickWindow> window(qobject_cast<QQuickWindow *>(component.create()));
    QVERIFY2(window, qPrintable(component.errorString()));
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    auto *small = m.find<QQuickItem>("sceneCanvas", window->findChild<QObject *>("small"));
    auto *big = window->findChild<QQuickItem *>("big");
    // What the small canvas alone drew, without the zoom buttons above it.
    const auto lit = [&] {
        const QSharedPointer<QQuickItemGrabResult> grab = small->grabToImage();
        QSignalSpy ready(grab.data(), &QQuickItemGrabResult::ready);
        return ready.wait(5000) ? countPixels(grab->image(), [](QColor c) { return c.alpha() > 0; })
                                : -1;
    };
    QTest::qWait(200);
    QCOMPARE(lit(), 0);
    QCOMPARE(sceneLabels(window->findChild<QQuickItem *>("small")), QStringList());
    QCOMPARE(m.find<QQuickItem>("sceneCanvas", big)->width(), 535.0);
    window->resize(1200, 2290);
    QTRY_COMPARE(m.find<QQuickItem>("sceneCanvas", big)->width(), 1070.0);
    QCOMPARE(small->width(), 60.0);
    QTRY_VERIFY(lit() > 0);
    // The microphone guide's scene has one main, with its own label, and no subwoofer.
    QCOMPARE(sceneLabels(big), QStringList({"点声源", "舞台", "麦"}));
}

// Every row of the primary button's table, each state reached as the engineer reaches it: demo
// stages, calibration runs on the loopback card (levels apart by a 26 dB lower microphone),
// captures, and a real main capture for the alignment's second stage.
void AlignScreensTest::subButtonTable_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("label");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("breathes");
    QTest::newRow("guide") << "guide"
                           << "开始分频" << true << false;
    QTest::newRow("no main curve") << "no main"
                                   << "选择主扩" << true << true;
    QTest::newRow("main curve, idle") << "main"
                                      << "播放（超低）" << true << true;
    QTest::newRow("levels ready") << "main ready"
                                  << "超低测量分频" << true << true;
    QTest::newRow("levels apart") << "main apart"
                                  << "请对齐两个表头" << false << false;
    QTest::newRow("capturing") << "main capture"
                               << "测量中…" << false << false;
    QTest::newRow("result") << "result"
                            << "下一步 对齐" << true << false;
    QTest::newRow("align, idle") << "align"
                                 << "播放（主扩）" << true << true;
    QTest::newRow("align, ready") << "align ready"
                                  << "开始测量主扩" << true << true;
    QTest::newRow("align, apart") << "align apart"
                                  << "请对齐表头" << false << false;
    QTest::newRow("align, capturing") << "align capture"
                                      << "测量中…" << false << false;
    QTest::newRow("align, main in") << "align main in"
                                    << "播放（超低）" << true << true;
    QTest::newRow("aligned") << "aligned"
                             << "重新测量对齐" << true << false;
}

void AlignScreensTest::subButtonTable()
{
    QFETCH(QString, state);
    QFETCH(QString, label);
    QFETCH(bool, enabled);
    QFETCH(bool, breathes);
    QmlBridge &bridge = *m.bridge;
    if (state.endsWith("apart"))
        setMicrophone(0.05f);
    if (state == "no main") {
        bridge.beginSubXover();
        bridge.subGuideDone();
    } else {
        showSubDemo(state == "guide"           ? 0
                    : state.startsWith("main") ? 1
                    : state == "aligned"       ? 3
                                               : 2);
    }
    if (state.startsWith("align") && state != "aligned")
        bridge.subGotoAlign();
    if (state.contains("ready") || state.contains("apart") || state.contains("capture")
        || state == "align main in") {
        bridge.subLevelCalibrate();
        QTRY_VERIFY_WITH_TIMEOUT(bridge.measurePeak() > -90 && bridge.referencePeak() > -90, 10000);
        if (!state.contains("apart"))
            QTRY_VERIFY_WITH_TIMEOUT(bridge.measureLevelReady(), 10000);
    }
    if (state.endsWith("capture"))
        bridge.setMeasureSeconds(30.0);
    if (state == "main capture")
        bridge.subMeasure();
    if (state == "align capture" || state == "align main in")
        bridge.subAlignMeasure();
    if (state == "align main in")
        QTRY_COMPARE_WITH_TIMEOUT(bridge.subAlignStage(), 1, longWaitMs);
    showPage("SubXoverScreen");
    // A meter shows a level only while its run plays: after the main's capture it reads silent.
    if (QQuickItem *meters = item("meterCard"); meters && !bridge.measuring())
        QTRY_VERIFY(metersReadSilent(meters));
    QQuickItem *button = item("primaryButton");
    QTRY_COMPARE(button->property("text").toString(), label);
    QCOMPARE(button->isEnabled(), enabled);
    QCOMPARE(button->property("breath").toBool(), breathes);
    if (enabled)
        SNT_VERIFY_PRIMARY_FILL(bridge, button);
    QCOMPARE(item("stopButton")->isVisible(), bridge.measuring());
    QCOMPARE(item("hideGuideButton")->isVisible(), state == "guide");
    QCOMPARE(item("footerRule")->isVisible(), state != "result");
}

// The tip about the main curve shows when the measuring stage opens without one and on each
// click of "选择主扩" (which opens the curve window), for 12 s from the last of them; a click on
// it hides it at once.
void AlignScreensTest::subMainTip()
{
    m.bridge->beginSubXover();
    m.bridge->subGuideDone();
    showPage("SubXoverScreen");
    QQuickItem *tip = item("mainTip");
    QTRY_VERIFY(tip->isVisible());
    QTest::qWait(7000);
    click(item("primaryButton"));
    QTRY_VERIFY(m.bridge->curveWindowOpen());
    m.bridge->setCurveWindowOpen(false);
    QTest::qWait(7000);
    QVERIFY(tip->isVisible()); // 14 s after the first trigger, 7 s after the second
    QTRY_VERIFY_WITH_TIMEOUT(!tip->isVisible(), 7000);
    click(item("primaryButton"));
    QTRY_VERIFY(tip->isVisible());
    m.bridge->setCurveWindowOpen(false);
    click(tip);
    QTRY_VERIFY(!tip->isVisible());
}

// The lift buttons set the lift; the reference row names where the main curve came from; the
// measure chart's centre moves by the wheel (2 dB a notch), by a drag and back by a double tap,
// while the result chart keeps its own.
void AlignScreensTest::subMeasureStep()
{
    showSubDemo(1);
    click(item("lift10"));
    QTRY_COMPARE(m.bridge->subLift(), 10);
    QCOMPARE(text("liftLine"), QString("响差 +10 dB"));
    QCOMPARE(item("lift10")->property("chosen").toBool(), true);
    QCOMPARE(item("lift15")->property("chosen").toBool(), false);
    QCOMPARE(text("mainReference"), QString("现场测量 · 已处理"));

    QQuickItem *chart = item("measureChart");
    for (int i = 0; i < 3; ++i)
        wheel(m.window, middleOf(chart), 1);
    QTRY_COMPARE(chart->property("centerDb").toDouble(), 6.0);
    QCOMPARE(m.find("chart", chart)->property("yMin").toDouble(), -12.0);
    QTest::mouseDClick(m.window, Qt::LeftButton, {}, middleOf(chart));
    QTRY_COMPARE(chart->property("centerDb").toDouble(), 0.0);
    const QRectF area = chart->mapRectToScene(chart->boundingRect());
    drag(m.window, middleOf(chart) - QPoint(0, int(area.height() / 4)),
         middleOf(chart) + QPoint(0, int(area.height() / 4)), 10);
    QTRY_VERIFY(std::abs(chart->property("centerDb").toDouble() - 18.0) < 0.5);
    for (int i = 0; i < 30; ++i)
        wheel(m.window, middleOf(chart), 1);
    QTRY_COMPARE(chart->property("centerDb").toDouble(), 30.0);

    m.bridge->subCompute();
    QTRY_VERIFY(item("resultChart"));
    QCOMPARE(item("resultChart")->property("centerDb").toDouble(), 0.0);
}

// The calibration badge while the meters play, and the prompt while a capture waits for them,
// by the microphone's level against the reference.
void AlignScreensTest::subLevelPrompt_data()
{
    QTest::addColumn<float>("gain");
    QTest::addColumn<QString>("badge");
    QTest::addColumn<QString>("prompt");
    QTest::newRow("silent") << 0.0f << "对齐表头中"
                            << "两个表头都出信号后，对齐了进度条才开始走";
    QTest::newRow("26 dB low") << 0.05f << "差 -26.0 dB"
                               << "测量比参考低 26.0 dB，把测量推高一点";
    QTest::newRow("8 dB high") << 2.5f << "差 8.0 dB"
                               << "测量比参考高 8.0 dB，把测量推低一点";
    QTest::newRow("level") << 1.0f << "已对齐"
                           << "";
}

void AlignScreensTest::subLevelPrompt()
{
    QFETCH(float, gain);
    QFETCH(QString, badge);
    QFETCH(QString, prompt);
    setMicrophone(gain);
    m.bridge->setMeasureSeconds(30.0);
    showSubDemo(1);
    m.bridge->subLevelCalibrate();
    QTRY_VERIFY_WITH_TIMEOUT(m.bridge->referencePeak() > -90, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(text("calibrationBadge"), badge, 10000);
    QVERIFY(item("calibrationBadge")->isVisible());
    QVERIFY(!item("progress")->isVisible());
    m.bridge->subMeasure();
    QQuickItem *card = item("levelPrompt");
    if (prompt.isEmpty()) {
        QTRY_VERIFY_WITH_TIMEOUT(!card->isVisible() && m.bridge->measureProgress() > 0.01, 10000);
        return;
    }
    QTRY_VERIFY(card->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(text("levelPromptText"), prompt, 10000);
    QTest::qWait(500);
    QCOMPARE(m.bridge->measureProgress(), 0.0);
}

// The corner cards as the bridge sees their edits: a type picked, slopes offered by type, a
// frequency typed in Hz and in kHz mode (above 24 read as Hz, below 10 Hz not sent), and Bypass.
void AlignScreensTest::subCornerCards()
{
    showSubDemo(2);
    QQuickItem *hpf = item("hpfCard");
    QQuickItem *lpf = item("lpfCard");
    const auto info = [&](const char *key) {
        return m.bridge->subInfo().value(key);
    };
    QVERIFY(pick(m.find("typePicker", hpf), "BW · Butterworth"));
    QTRY_COMPARE(info("lowKind").toString(), QString("BW"));
    QCOMPARE(optionLabels(m.find("slopePicker", hpf)).size(), 9);
    QVERIFY(pick(m.find("typePicker", hpf), "LR · Linkwitz-Riley"));
    QTRY_COMPARE(info("lowKind").toString(), QString("LR"));
    QCOMPARE(optionLabels(m.find("slopePicker", hpf)),
             QStringList({"Bypass", "12 dB/oct", "18 dB/oct", "24 dB/oct", "30 dB/oct", "36 dB/oct",
                          "42 dB/oct", "48 dB/oct"}));

    QQuickItem *hpfField = m.find("frequencyField", hpf);
    type(hpfField, "5");
    QTest::qWait(100);
    QVERIFY(info("lowFc").toDouble() != 5.0);
    type(hpfField, "45");
    QTRY_COMPARE(info("lowFc").toDouble(), 45.0);
    QCOMPARE(m.find("unit", hpf)->property("text").toString(), QString("Hz"));

    m.bridge->subUpdateCorner("lpf", 1500, 24);
    QQuickItem *lpfField = m.find("frequencyField", lpf);
    QTRY_COMPARE(lpfField->property("text").toString(), QString("1.5"));
    QCOMPARE(m.find("unit", lpf)->property("text").toString(), QString("kHz"));
    type(lpfField, "2");
    QTRY_COMPARE(info("lpFc").toDouble(), 2000.0);
    type(lpfField, "1500");
    QTRY_COMPARE(info("lpFc").toDouble(), 1500.0);
    QCOMPARE(m.find("unit", lpf)->property("text").toString(), QString("kHz"));
    QTest::keyClick(m.window, Qt::Key_Return); // leaves the field, which shows the value again
    QTRY_COMPARE(lpfField->property("text").toString(), QString("1.5"));

    QVERIFY(pick(m.find("slopePicker", hpf), "Bypass"));
    QTRY_COMPARE(info("lowOrder").toInt(), 0);
    QVERIFY(!hpfField->isEnabled());
}

// The EQ table: a gain with a leading "+" is sent as soon as it parses, a gain or frequency out
// of range is not, and a field shows the band again when left; the switch turns a band off and
// dims it; a new band resizes the table.
void AlignScreensTest::subEqTable()
{
    showSubDemo(2);
    const auto band = [&](int i) {
        return m.bridge->subEqBands().value(i).toMap();
    };
    QVERIFY(m.bridge->subEqBands().size() >= 1);
    QQuickItem *row = item("eqRow0");
    QVERIFY(row);
    QQuickItem *gain = m.find("gainField", row);
    type(gain, "+2.5");
    QTRY_COMPARE(band(0).value("gain").toDouble(), 2.5);
    // Typed key by key: "1" on the way is a gain in range, 19 is not.
    type(gain, "19");
    QTRY_COMPARE(band(0).value("gain").toDouble(), 1.0);
    QQuickItem *freq = m.find("freqField", row);
    type(freq, "500");
    QTRY_COMPARE(band(0).value("freq").toDouble(), 50.0);
    QCOMPARE(gain->property("text").toString(), QString("+1"));
    type(freq, "70.25");
    QTRY_COMPARE(band(0).value("freq").toDouble(), 70.3);
    QCOMPARE(freq->property("text").toString(), QString("70.25"));
    QTest::keyClick(m.window, Qt::Key_Return);
    QTRY_COMPARE(freq->property("text").toString(), QString("70.3"));

    click(m.find("bandSwitch", row));
    QTRY_VERIFY(!band(0).value("enabled").toBool());
    const int count = m.bridge->subEqBands().size();
    click(item("addBandButton"));
    QTRY_COMPARE(m.bridge->subEqBands().size(), count + 1);
    QCOMPARE(text("eqHeader"), QString("EQ · %1 段").arg(count + 1));
}

// The alignment result of the demo: the label by the delay's sign, its size, the polarity and
// the advice as the bridge's numbers say.
void AlignScreensTest::subAlignResult()
{
    showSubDemo(3);
    const QmlBridge &b = *m.bridge;
    QVERIFY(b.subAlignAligned());
    const double delay = b.subAlignDelayMs();
    const QString size = QString::number(std::abs(delay), 'f', 1);
    QTRY_COMPARE(text("delayLabel"), QString(delay < 0 ? "主扩延时" : "超低延时"));
    QCOMPARE(text("delayValue"), size + " ms");
    QCOMPARE(item("polarity")->isVisible(), b.subAlignInvert());
    const QVariantMap info = b.subInfo();
    QCOMPARE(text("advice"), QString("交叉区 %1–%2 Hz\n")
                                             .arg(qRound(info.value("crossLo").toDouble()))
                                             .arg(qRound(info.value("crossHi").toDouble()))
                                     + (delay < 0 ? "先给主扩加 " + size + " ms"
                                                  : "先给超低加 " + size + " ms 延时")
                                     + (b.subAlignInvert() ? "，反转超低极性" : ""));
    QCOMPARE(item("meterCard")->property("header").toString(), QString("对齐"));
    QCOMPARE(item("meterCard")->property("progress").toDouble(), 1.0);
}

// The flow's failures reach the engineer: the toast shows on these screens, clear of the
// button row.
void AlignScreensTest::subToastAboveTheButtons()
{
    showSubDemo(1);
    m.bridge->toast("先选主扩曲线，再测超低");
    QQuickItem *box = m.find("toastBox");
    QTRY_VERIFY(box->isVisible() && box->opacity() > 0);
    const QRectF toast = box->mapRectToScene(box->boundingRect());
    const QRectF button
            = item("primaryButton")->mapRectToScene(item("primaryButton")->boundingRect());
    QVERIFY(toast.bottom() < button.top());
}

// The main reference picked as a user picks it: 超低分频对齐 on the home screen, 开始分频, then
// 选择主扩, which opens the curve window, where the pack is clicked. The toast telling the outcome
// lies on no text of the screen, the tip about the pick included, which stays while no reference
// is chosen; the line under the lift says whether one is.
void AlignScreensTest::subMainPick_data()
{
    QTest::addColumn<QString>("use");
    QTest::addColumn<QString>("toast");
    QTest::addColumn<bool>("tipShown");
    QTest::addColumn<QString>("status");
    QTest::newRow("a subwoofer's pack") << "超低"
                                        << "请先处理主扩，并选择其作为主扩参考曲线进行超低分频"
                                        << true << "请先用点声源或线阵列处理主扩";
    QTest::newRow("a main loudspeaker's pack")
            << "主扩"
            << "已将「未归属 · 测量 01」设为主扩参考" << false << "主扩参考已选好，接下来测超低";
}

void AlignScreensTest::subMainPick()
{
    QFETCH(QString, use);
    QFETCH(QString, toast);
    QFETCH(bool, tipShown);
    QFETCH(QString, status);
    CurvePack pack = storetest::flatPack("测量 01", QString(), 1);
    pack.use = use;
    QVERIFY(m.bridge->core().store().savePack(pack, -1));
    const auto removePack = qScopeGuard([this] {
        m.bridge->setCurveWindowOpen(false);
        m.bridge->deleteCurvePack(packIndex("测量 01"));
    });

    click(item("homeRow3"));
    showPage("SubXoverScreen");
    click(item("primaryButton"));
    QTRY_COMPARE(text("primaryButton"), QString("选择主扩"));
    click(item("primaryButton"));
    auto *curves = m.find<QQuickWindow>("curveWindow");
    QVERIFY(QTest::qWaitForWindowExposed(curves));
    QVERIFY(QQuickTest::qWaitForPolish(curves));
    QQuickItem *row = m.find("packRow" + QString::number(packIndex("测量 01")), curves);
    QVERIFY(row);
    click(row);
    QTRY_COMPARE(m.bridge->toastText(), toast);
    QQuickItem *box = m.find("toastBox");
    QTRY_VERIFY(box->isVisible() && box->opacity() > 0);
    QCOMPARE(item("mainTip")->isVisible(), tipShown);
    QCOMPARE(textsUnder(box->mapRectToScene(box->boundingRect())), QStringList());
    QCOMPARE(text("mainStatus"), status);
}

// Both steps captured on the loopback card by clicks, with the fill arriving 2.5 ms before or
// after the main: the result card proposes the delay for whichever must wait. On the way: the
// texts and button states while playing, armed and done, and a stop that only ends the step.
void AlignScreensTest::fillRealCaptures_data()
{
    QTest::addColumn<int>("mainFrames");
    QTest::addColumn<int>("fillFrames");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("advice");
    QTest::newRow("fill early") << 576 << 456 << "补声延时"
                                << "把这个值填入补声延时";
    QTest::newRow("fill late") << 456 << 576 << "主扩延时"
                               << "补声比主扩晚，先把主扩延后这个值";
}

void AlignScreensTest::fillRealCaptures()
{
    QFETCH(int, mainFrames);
    QFETCH(int, fillFrames);
    QFETCH(QString, label);
    QFETCH(QString, advice);
    m.bridge->beginFillAlign();
    showPage("FillAlignScreen");
    QQuickItem *primary = item("primaryButton");
    const QStringList names{"主扩", "补声"};
    for (int step = 0; step < 2; ++step) {
        setMicrophone(1.0f, step == 0 ? mainFrames : fillFrames);
        QCOMPARE(primary->property("text").toString(), "播放（" + names[step] + "）");
        QCOMPARE(text("status"), "先播放" + names[step]);
        SNT_VERIFY_PRIMARY_FILL(*m.bridge, primary);
        click(primary);
        QTRY_VERIFY(m.bridge->measuring());
        QTRY_COMPARE(primary->property("text").toString(), "测量" + names[step]);
        QCOMPARE(text("status"), "信号已开，点测量" + names[step]);
        QVERIFY(item("stopButton")->isVisible() && primary->isEnabled());
        if (step == 1) { // a stop ends the run and keeps the main pulse
            click(item("stopButton"));
            QTRY_VERIFY(!m.bridge->measuring());
            QCOMPARE(m.bridge->fillAlignStep(), 1);
            QCOMPARE(m.bridge->fillPulseMain().size(), 128);
            click(primary);
            QTRY_VERIFY(m.bridge->measuring());
        }
        QTRY_VERIFY_WITH_TIMEOUT(primary->property("breath").toBool(), 10000);
        click(primary);
        QTRY_COMPARE(primary->property("text").toString(), QString("测量中…"));
        QVERIFY(!primary->isEnabled() && item("progress")->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(m.bridge->fillAlignStep(), step + 1, longWaitMs);
        if (step == 0) // the marks give way to the result once both are in
            QCOMPARE(item("stepMark0")->property("text").toString(), QString("✓ 测主扩"));
    }
    const double delay = (mainFrames - fillFrames) * 1000.0 / rate;
    QVERIFY2(std::abs(m.bridge->fillAlignDelayMs() - delay) <= 1000.0 / rate,
             qPrintable(QString::number(m.bridge->fillAlignDelayMs(), 'f', 4)));
    QTRY_COMPARE(text("resultLabel"), label);
    QCOMPARE(text("resultValue"), QString("2.5 ms"));
    QCOMPARE(text("resultLine"), advice);
    QCOMPARE(primary->property("text").toString(), QString("重新测量"));
    QVERIFY(primary->isEnabled() && !item("stepMarks")->isVisible());
    click(primary);
    QTRY_COMPARE(m.bridge->fillAlignStep(), 0);
    // The captures kept their pulses' levels; a measuring screen entered now shows its meters
    // silent until it plays.
    QVERIFY(!m.bridge->measuring());
    m.bridge->go("点声源-测量中");
    showPage("MeasuringScreen");
    QVERIFY(metersReadSilent(item("meterCard")));
}

// Near zero the delay counts as the fill's: -0.04 ms reads "补声延时" 0.0 ms, -0.06 ms the main's.
// The pulse view draws only the zero line and "主扩" before a capture, then the pulse, then both
// pulses with the ruler and its text, in both palettes.
void AlignScreensTest::fillSignRuleAndPulseView()
{
    const QList<std::tuple<double, QString, QString>> nearZero{{-0.04, "补声延时", "0.0 ms"},
                                                               {-0.06, "主扩延时", "0.1 ms"}};
    for (const auto &[delay, label, value] : nearZero) {
        showFillDemo(2, delay);
        QTRY_COMPARE(text("resultLabel"), label);
        QCOMPARE(text("resultValue"), value);
    }
    for (const bool dark : {true, false}) {
        m.bridge->setDarkMode(dark);
        const QColor main(dark ? "#FFFFFF" : "#0A0A0A");
        const QColor fill(dark ? "#8FB4FF" : "#2F5FD0");
        m.bridge->beginFillAlign();
        showPage("FillAlignScreen");
        QQuickItem *view = item("pulseView");
        const QRect bars(0, int(view->height() * 30 / 228), int(view->width()),
                         int(view->height() * 140 / 228));
        const QRect ruler(0, int(view->height() * 200 / 228), int(view->width()),
                          int(view->height() * 28 / 228));
        const auto count = [&](QColor colour, QRect area) {
            return countPixels(
                    grabItem(view), [&](QColor c) { return nearColour(c, colour); }, area);
        };
        QTest::qWait(300);
        QCOMPARE(count(main, bars), 0);
        QVERIFY(count(main, QRect(0, 0, int(view->width()), bars.top())) > 10); // "主扩"
        // The ruler's text: anything but the card's own colour under the pulses.
        const auto rulerInk = [&] {
            const QImage shot = grabItem(view);
            const QColor card = shot.pixelColor(2, ruler.top() + 2);
            return countPixels(
                    shot, [&](QColor c) { return !nearColour(c, card, 60); }, ruler);
        };
        m.bridge->loadFillAlignDemo(1, 3.2);
        QTRY_VERIFY(count(main, bars) > 10);
        QCOMPARE(count(fill, bars), 0);
        QCOMPARE(rulerInk(), 0);
        m.bridge->loadFillAlignDemo(2, 3.2);
        QTRY_VERIFY(count(fill, bars) > 10);
        QVERIFY(rulerInk() > 10);
    }
    m.bridge->setDarkMode(true);
}

// The microphone guide opens from the link and closes by "知道了", the close button and the veil.
void AlignScreensTest::fillGuideOverlay()
{
    showFillDemo(1, 0);
    QQuickItem *guide = item("fillMicGuide");
    for (const char *closer : {"gotItButton", "closeButton", "veil"}) {
        click(item("guideLink"));
        QTRY_VERIFY(m.bridge->fillMicGuideOpen() && guide->isVisible());
        if (QByteArray(closer) == "veil") { // left of the card
            const QQuickItem *veil = m.find("veil", guide);
            QTest::mouseClick(m.window, Qt::LeftButton, {},
                              veil->mapToScene({10, veil->height() / 2}).toPoint());
        } else
            click(m.find(closer, guide));
        QTRY_VERIFY2(!m.bridge->fillMicGuideOpen() && !guide->isVisible(), closer);
    }
}

SNT_GUI_TEST_MAIN(AlignScreensTest)
#include "AlignScreensTest.moc"
