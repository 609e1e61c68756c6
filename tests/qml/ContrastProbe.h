#pragma once

#include <QImage>
#include <QQuickItem>
#include <QQuickWindow>

#include <algorithm>
#include <cmath>

// How far what an item draws stands out from what lies under it, read from its window's pixels
// as WCAG 2 measures contrast.
namespace snt::test {

// Relative luminance of a pixel.
inline double luminance(QRgb pixel)
{
    const auto linear = [](int channel) {
        const double c = channel / 255.0;
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(qRed(pixel)) + 0.7152 * linear(qGreen(pixel))
           + 0.0722 * linear(qBlue(pixel));
}

// Contrast ratio of two pixels, from 1 (equal) to 21 (black on white).
inline double contrast(QRgb a, QRgb b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The biggest contrast ratio by which `item` changes a pixel of its window's picture within
// `area` (window pixels; the item's own area when none is given): grabbed with the item shown
// and without it, every other pixel stays the same.
inline double itemContrast(QQuickItem *item, QRect area = {})
{
    if (area.isEmpty())
        area = item->mapRectToScene(item->boundingRect()).toAlignedRect();
    const QImage shown = item->window()->grabWindow().copy(area);
    item->setVisible(false);
    const QImage ground = item->window()->grabWindow().copy(area);
    item->setVisible(true);
    double most = 1;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            most = std::max(most, contrast(shown.pixel(x, y), ground.pixel(x, y)));
    return most;
}

} // namespace snt::test
