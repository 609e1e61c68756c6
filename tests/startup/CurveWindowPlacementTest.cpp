// The curve window's place beside the main window, on screens given as rectangles, with figures
// worked out by hand from the 660 px minimum width and the 10 px gaps; and against the script the
// window placed itself with before, over a spread of screens and main windows.
#include "startup/WindowRules.h"
#include "tests/support/TestMain.h"

#include <QJSEngine>

#include <random>

using namespace snt::startup::windowrules;

namespace {

// What the curve window computed in its own script.
const char *const windowScript = R"(
function placement(main, screen, preferred, minimumHeight) {
    const edge = 10
    const wantedW = Math.max(660, Math.min(preferred.width, screen.width - 2 * edge))
    const wantedH = Math.max(minimumHeight, Math.min(preferred.height, screen.height - 2 * edge))
    if (!main)
        return [Math.round(screen.x + screen.width - wantedW - edge),
                Math.round(screen.y + screen.height - wantedH - edge),
                Math.round(wantedW), Math.round(wantedH)]
    let width = Math.min(wantedW, screen.width - 2 * edge)
    let x = screen.x + screen.width - width - edge
    const roomRight = screen.x + screen.width - (main.x + main.width) - 2 * edge
    const roomLeft = main.x - screen.x - 2 * edge
    if (roomRight >= 660) {
        width = Math.min(wantedW, roomRight)
        x = main.x + main.width + edge
    } else if (roomLeft >= 660) {
        width = Math.min(wantedW, roomLeft)
        x = main.x - edge - width
    }
    const y = Math.max(screen.y + edge, Math.min(main.y + main.height - wantedH,
                                                 screen.y + screen.height - wantedH - edge))
    return [Math.round(x), Math.round(y), Math.round(width), Math.round(wantedH)]
}
)";

constexpr double minimumHeight = 580.0;
const QRectF wide(0, 0, 1920, 1040);
const QSizeF preferred(702, 580);

} // namespace

class CurveWindowPlacementTest : public QObject
{
    Q_OBJECT
private slots:
    // To the right of a main window with room there, bottoms level; to its left when it stands
    // at the right edge; at the screen's right edge with room on neither side; at the bottom
    // right corner without a main window.
    void besideTheMainWindow()
    {
        QCOMPARE(curveWindowPlacement(QRectF(100, 20, 500, 954), wide, preferred, minimumHeight),
                 QRect(610, 394, 702, 580));
        QCOMPARE(curveWindowPlacement(QRectF(1320, 20, 500, 954), wide, preferred, minimumHeight),
                 QRect(608, 394, 702, 580));
        const QRectF small(0, 0, 1366, 728);
        QCOMPARE(curveWindowPlacement(QRectF(400, 0, 600, 700), small, preferred, minimumHeight),
                 QRect(654, 120, 702, 580));
        QCOMPARE(curveWindowPlacement(std::nullopt, wide, preferred, minimumHeight),
                 QRect(1208, 450, 702, 580));
    }

    // A preferred size beyond the screen shrinks to it less 20 px, never below 660 x 580; a
    // window on a second screen keeps to that screen's area; halves round up.
    void sizeAndScreen()
    {
        const QRectF small(0, 0, 1366, 728);
        QCOMPARE(curveWindowPlacement(std::nullopt, small, QSizeF(2000, 1500), minimumHeight),
                 QRect(10, 10, 1346, 708));
        QCOMPARE(curveWindowPlacement(std::nullopt, QRectF(0, 0, 600, 400), preferred,
                                      minimumHeight),
                 QRect(-70, -190, 660, 580));
        const QRectF right(1920, 0, 1366, 728);
        QCOMPARE(curveWindowPlacement(QRectF(1930, 10, 300, 600), right, QSizeF(700.5, 600.5),
                                      minimumHeight),
                 QRect(2240, 10, 701, 601));
    }

    void agreesWithTheWindowScript()
    {
        QJSEngine script;
        QVERIFY(!script.evaluate(QString::fromUtf8(windowScript)).isError());
        QJSValue placement = script.globalObject().property("placement");
        std::mt19937 random(3);
        std::uniform_real_distribution<double> any(-500.0, 3000.0);
        for (int i = 0; i < 1000; ++i) {
            const QRectF screen(any(random), any(random), std::abs(any(random)),
                                std::abs(any(random)));
            const QSizeF wanted(std::abs(any(random)), std::abs(any(random)));
            const std::optional<QRectF> main
                    = i % 5 == 0 ? std::nullopt
                                 : std::optional<QRectF>(QRectF(int(any(random)), int(any(random)),
                                                                int(std::abs(any(random))),
                                                                int(std::abs(any(random)))));
            const auto rect = [&script](const QRectF &r) {
                QJSValue value = script.newObject();
                value.setProperty("x", r.x());
                value.setProperty("y", r.y());
                value.setProperty("width", r.width());
                value.setProperty("height", r.height());
                return value;
            };
            QJSValue size = script.newObject();
            size.setProperty("width", wanted.width());
            size.setProperty("height", wanted.height());
            const QVariantList expected
                    = placement
                              .call({main ? rect(*main) : QJSValue(QJSValue::NullValue),
                                     rect(screen), size, minimumHeight})
                              .toVariant()
                              .toList();
            const QRect placed = curveWindowPlacement(main, screen, wanted, minimumHeight);
            QCOMPARE(QVariantList({placed.x(), placed.y(), placed.width(), placed.height()}),
                     expected);
        }
    }
};

SNT_TEST_MAIN(CurveWindowPlacementTest)
#include "CurveWindowPlacementTest.moc"
