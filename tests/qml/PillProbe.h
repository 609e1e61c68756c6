#pragma once

#include "app/QmlBridge.h"

#include <QImage>
#include <QQuickItem>
#include <QQuickWindow>
#include <QString>
#include <QTest>

#include <cmath>

// The fill of a primary pill button as a window grab shows it: a vertical gradient from white at
// its top to the theme's accent (#D9E2FF, a pale blue) at its bottom, over whatever lies behind,
// at the button's opacity. Read in the middle column, above and below the label.
namespace snt::test {

inline QRgb blend(QRgb over, QRgb under, double alpha)
{
    const auto mix = [alpha](int a, int b) {
        return int(std::lround(alpha * a + (1 - alpha) * b));
    };
    return qRgb(mix(qRed(over), qRed(under)), mix(qGreen(over), qGreen(under)),
                mix(qBlue(over), qBlue(under)));
}

inline int distance(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b))
           + std::abs(qBlue(a) - qBlue(b));
}

// Empty when the grabbed `shown` window draws the pill's fill; else what it found instead. What
// lies behind a pill drawn at less than full opacity is read 4 px left of it.
inline QString primaryFillProblem(const QImage &shown, const QQuickItem *pill)
{
    const QRectF area = pill->mapRectToScene(pill->boundingRect());
    const double scale = shown.width() / double(pill->window()->width());
    const int x = int(std::lround(area.center().x() * scale));
    const double alpha = pill->opacity();
    const QRgb behind = shown.pixel(int(std::lround((area.left() - 4) * scale)),
                                    int(std::lround(area.center().y() * scale)));
    const QRgb accent = qRgb(0xD9, 0xE2, 0xFF);
    QString problem;
    // Three rows: near the top, just below the label, near the bottom (fractions of the height).
    for (const double at : {0.12, 0.86, 0.92}) {
        const int y = int(std::lround((area.top() + at * area.height()) * scale));
        const QRgb fill = qRgb(int(std::lround(255 + at * (qRed(accent) - 255))),
                               int(std::lround(255 + at * (qGreen(accent) - 255))), 255);
        const QRgb expected = blend(fill, behind, alpha);
        const QRgb found = shown.pixel(x, y);
        if (distance(found, expected) > 36)
            problem += QStringLiteral("(%1, %2): #%3, not #%4; ")
                               .arg(x)
                               .arg(y)
                               .arg(found & 0xffffff, 6, 16, QLatin1Char('0'))
                               .arg(expected & 0xffffff, 6, 16, QLatin1Char('0'));
    }
    return problem;
}

// The same in the dark and the light palette, each grabbed from the pill's window; the bridge's
// palette is left as it was. Empty when both draw the fill, else what each found instead.
inline QString primaryFillProblemInEitherPalette(QmlBridge &bridge, const QQuickItem *pill)
{
    const bool wasDark = bridge.darkMode();
    QString problems;
    for (const bool dark : {true, false}) {
        bridge.setDarkMode(dark);
        const QString problem = primaryFillProblem(pill->window()->grabWindow(), pill);
        if (!problem.isEmpty())
            problems += (dark ? QStringLiteral("dark: ") : QStringLiteral("light: ")) + problem;
    }
    bridge.setDarkMode(wasDark);
    return problems;
}

} // namespace snt::test

// Fails the test, naming what was found, unless the primary pill is filled in both palettes.
#define SNT_VERIFY_PRIMARY_FILL(bridge, pill) \
    do { \
        const QString fillProblem = snt::test::primaryFillProblemInEitherPalette(bridge, pill); \
        QVERIFY2(fillProblem.isEmpty(), qPrintable(fillProblem)); \
    } while (false)
