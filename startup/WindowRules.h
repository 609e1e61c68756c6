#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QSizeF>

#include <optional>

// The main window's size and position rules on the screens' rectangles alone (logical pixels of
// the virtual desktop), so that they hold for any arrangement of screens. The window is drawn for
// one design size, may be shrunk but never grown past it, and keeps a margin free on a screen.
namespace snt::startup::windowrules {

inline constexpr QSize designSize(600, 1145);
inline constexpr int screenMargin = 48;

// A screen: its whole area and the part of it windows may use.
struct ScreenArea
{
    QRect geometry;
    QRect available;
};

// What the settings hold of the last run: the position when both coordinates were saved, and
// the user's own size when one was saved and both sides are above 0.
struct SavedGeometry
{
    std::optional<QPoint> position;
    std::optional<QSize> userSize;
};

// The largest size with the design's proportions that fits the available area less the margin,
// never larger than the design size; the design size without a screen.
QSize defaultSize(const std::optional<QRect> &available);

// The point moved so that a window of that size lies inside the available area where possible
// (a window larger than the area is put at its left or top edge); unchanged without a screen.
QPoint clampToScreen(QPoint topLeft, QSize size, const std::optional<QRect> &available);

// The first screen, in the given order, whose available area holds the point, else the first
// whose whole area does; -1 for none.
int screenForPoint(QPoint point, const QList<ScreenArea> &screens);

// The size scaled down with its proportions until it fits within `limit`; unchanged when it fits.
QSize shrunkToFit(QSize size, QSize limit);

// Where the window opens: on the screen of the saved position (else the primary screen), with the
// user's saved size limited to the design size and shrunk to the screen, else the screen's
// default size; at the saved position, else centred, then kept on the screen.
QRect restoredGeometry(const SavedGeometry &saved, const QList<ScreenArea> &screens, int primary);

// The window's size after it moved to a screen with that available area: a user's own size stays
// while it fits the screen's default size and shrinks with its proportions when it does not; an
// automatic size becomes the screen's default size.
QSize sizeOnScreen(QSize current, bool userSized, const QRect &available);

// Where the curve window goes beside the main window `main` (none: the screen's bottom right
// corner, 10 px in), on the screen area `screen` (its virtual origin, its width and its available
// height): to the right of the main window when 660 px fit there, else to its left, else at the
// screen's right edge, 10 px from the main window and from the screen's edges; its bottom level
// with the main window's and kept 10 px inside the screen. Its size is the preferred one, at most
// the screen less 20 px, at least 660 px wide and `minimumHeight` high. Whole pixels, halves up.
QRect curveWindowPlacement(const std::optional<QRectF> &main, const QRectF &screen,
                           QSizeF preferred, double minimumHeight);

// The value of "--size": width and height joined by a lower-case "x", both whole numbers above 0.
std::optional<QSize> parseSizeOption(const QString &value);

} // namespace snt::startup::windowrules
