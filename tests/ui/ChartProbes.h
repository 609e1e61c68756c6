#pragma once

#include "ui/CurveChartItem.h"

#include <QImage>
#include <QPainter>

#include <algorithm>

// Pixel probes for chart pictures. Positions expected by the tests are worked out by hand from the
// chart's geometry: a 480 x 307 chart with the default paddings has its plot from x 60 to 458
// (398 wide) and from y 22 to 270 (248 high); x = 60 + 398 * log10(f / 20) / 3 and, for the
// default axis of -18..18 dB, y = 22 + 248 * (18 - v) / 36.

// The chart painted over black, as a window behind it would show it.
inline QImage paintOverBlack(snt::ui::CurveChartItem &chart,
                             QImage::Format format = QImage::Format_ARGB32_Premultiplied)
{
    QImage image(chart.size().toSize(), format);
    image.fill(Qt::black);
    QPainter painter(&image);
    chart.paint(&painter);
    return image;
}

inline int channel(QRgb pixel, char which)
{
    return which == 'r' ? qRed(pixel) : which == 'g' ? qGreen(pixel) : qBlue(pixel);
}

// A line crossed by a probe: its centre (intensity weighted; pixel i covers i..i+1) and the sum of
// the channel over its width, which tells a wide bright pen from a thin faint one.
struct Line
{
    double centre;
    int strength;
};

// The lines met walking down column x (across = false) or along row y (across = true).
inline QList<Line> linesAlong(const QImage &image, int at, bool across, char which)
{
    QList<Line> lines;
    double weighted = 0;
    int sum = 0;
    const int length = across ? image.width() : image.height();
    for (int i = 0; i <= length; ++i) {
        const int v
                = i < length ? channel(across ? image.pixel(i, at) : image.pixel(at, i), which) : 0;
        if (v > 8) {
            weighted += (i + 0.5) * v;
            sum += v;
        } else if (sum > 0) {
            lines.append(Line{weighted / sum, sum});
            weighted = 0;
            sum = 0;
        }
    }
    return lines;
}

inline QList<Line> linesDown(const QImage &image, int x, char which)
{
    return linesAlong(image, x, false, which);
}

inline QList<Line> linesAcross(const QImage &image, int y, char which)
{
    return linesAlong(image, y, true, which);
}

inline int brightest(QRgb pixel)
{
    return std::max({qRed(pixel), qGreen(pixel), qBlue(pixel)});
}

// Whether every clearly drawn pixel of one picture has something drawn within one pixel of it in
// the other, both ways: the two show the same lines, at most a pixel apart.
inline bool sameWithinAPixel(const QImage &a, const QImage &b)
{
    const auto drawnNear = [](const QImage &image, int x, int y) {
        for (int v = std::max(0, y - 1); v <= std::min(image.height() - 1, y + 1); ++v)
            for (int u = std::max(0, x - 1); u <= std::min(image.width() - 1, x + 1); ++u)
                if (brightest(image.pixel(u, v)) > 24)
                    return true;
        return false;
    };
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if ((brightest(a.pixel(x, y)) > 128 && !drawnNear(b, x, y))
                || (brightest(b.pixel(x, y)) > 128 && !drawnNear(a, x, y))) {
                qWarning("pictures differ near %d,%d", x, y);
                return false;
            }
        }
    }
    return true;
}
