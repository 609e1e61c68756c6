#include "startup/WindowRules.h"

#include <QStringList>

#include <algorithm>
#include <cmath>

namespace snt::startup::windowrules {

namespace {

int roundedSide(double side)
{
    return std::max(1, int(std::round(side)));
}

std::optional<QRect> availableArea(int index, const QList<ScreenArea> &screens)
{
    if (index < 0 || index >= screens.size())
        return std::nullopt;
    return screens[index].available;
}

} // namespace

QSize defaultSize(const std::optional<QRect> &available)
{
    if (!available)
        return designSize;
    const double scale = std::min(
            {1.0, std::max(available->width() - screenMargin, 1) / double(designSize.width()),
             std::max(available->height() - screenMargin, 1) / double(designSize.height())});
    if (scale == 1.0)
        return designSize;
    return {roundedSide(designSize.width() * scale), roundedSide(designSize.height() * scale)};
}

QPoint clampToScreen(QPoint topLeft, QSize size, const std::optional<QRect> &available)
{
    if (!available)
        return topLeft;
    const int left = available->left();
    const int top = available->top();
    return {std::min(std::max(topLeft.x(), left),
                     std::max(left, left + available->width() - size.width())),
            std::min(std::max(topLeft.y(), top),
                     std::max(top, top + available->height() - size.height()))};
}

int screenForPoint(QPoint point, const QList<ScreenArea> &screens)
{
    for (qsizetype i = 0; i < screens.size(); ++i) {
        if (screens[i].available.contains(point))
            return int(i);
    }
    for (qsizetype i = 0; i < screens.size(); ++i) {
        if (screens[i].geometry.contains(point))
            return int(i);
    }
    return -1;
}

QSize shrunkToFit(QSize size, QSize limit)
{
    if (size.width() <= limit.width() && size.height() <= limit.height())
        return size;
    const double scale = std::min(limit.height() / double(size.height()),
                                  limit.width() / double(size.width()));
    return {roundedSide(size.width() * scale), roundedSide(size.height() * scale)};
}

QRect restoredGeometry(const SavedGeometry &saved, const QList<ScreenArea> &screens, int primary)
{
    const int found = saved.position ? screenForPoint(*saved.position, screens) : -1;
    const std::optional<QRect> available = availableArea(found >= 0 ? found : primary, screens);

    QSize size = defaultSize(available);
    if (saved.userSize)
        size = shrunkToFit(saved.userSize->boundedTo(designSize), size);

    QPoint position;
    if (saved.position)
        position = *saved.position;
    else if (available)
        position = {available->left() + (available->width() - size.width()) / 2,
                    available->top() + (available->height() - size.height()) / 2};
    return {clampToScreen(position, size, available), size};
}

QSize sizeOnScreen(QSize current, bool userSized, const QRect &available)
{
    const QSize fitted = defaultSize(available);
    return userSized ? shrunkToFit(current, fitted) : fitted;
}

std::optional<QSize> parseSizeOption(const QString &value)
{
    const QStringList parts = value.split(u'x');
    if (parts.size() != 2)
        return std::nullopt;
    bool widthOk = false;
    bool heightOk = false;
    const QSize size(parts[0].toInt(&widthOk, 10), parts[1].toInt(&heightOk, 10));
    if (!widthOk || !heightOk || size.width() <= 0 || size.height() <= 0)
        return std::nullopt;
    return size;
}

QRect curveWindowPlacement(const std::optional<QRectF> &main, const QRectF &screen,
                           QSizeF preferred, double minimumHeight)
{
    constexpr double edge = 10.0;
    constexpr double narrowest = 660.0;
    const auto pixels = [](double value) {
        return int(std::floor(value + 0.5));
    };
    const double wantedW
            = std::max(narrowest, std::min(preferred.width(), screen.width() - 2 * edge));
    const double wantedH
            = std::max(minimumHeight, std::min(preferred.height(), screen.height() - 2 * edge));
    if (!main)
        return {pixels(screen.x() + screen.width() - wantedW - edge),
                pixels(screen.y() + screen.height() - wantedH - edge), pixels(wantedW),
                pixels(wantedH)};
    double width = std::min(wantedW, screen.width() - 2 * edge);
    double x = screen.x() + screen.width() - width - edge;
    const double roomRight = screen.x() + screen.width() - (main->x() + main->width()) - 2 * edge;
    const double roomLeft = main->x() - screen.x() - 2 * edge;
    if (roomRight >= narrowest) {
        width = std::min(wantedW, roomRight);
        x = main->x() + main->width() + edge;
    } else if (roomLeft >= narrowest) {
        width = std::min(wantedW, roomLeft);
        x = main->x() - edge - width;
    }
    const double y
            = std::max(screen.y() + edge, std::min(main->y() + main->height() - wantedH,
                                                   screen.y() + screen.height() - wantedH - edge));
    return {pixels(x), pixels(y), pixels(width), pixels(wantedH)};
}

} // namespace snt::startup::windowrules
