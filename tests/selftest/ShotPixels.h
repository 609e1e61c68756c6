#pragma once

#include <QImage>

#include <cstdlib>

// What the scripted runs' screenshots show, read pixel by pixel.
namespace selftesttest {

// The background the dark palette gives the main window's stage: all a shot shows of the main
// window where no page is drawn, but for the side tabs.
constexpr QRgb bareStage = 0x08090A;

// The share of the image's pixels in that colour (alpha aside); 0 for no image.
inline double colourShare(const QImage &image, QRgb colour)
{
    qsizetype same = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            same += (image.pixel(x, y) & 0xFFFFFF) == colour;
    return image.isNull() ? 0.0 : double(same) / (qsizetype(image.width()) * image.height());
}

// Whether two pixels differ by more than a window draws the same scene with: a window drawn
// again after other items came and went (a menu opened and closed) differs by one or two levels
// at the smoothed edges of its text and icons, in a few dozen pixels.
inline bool visiblyDifferent(QRgb a, QRgb b)
{
    constexpr int drawingNoise = 2;
    return std::abs(qRed(a) - qRed(b)) > drawingNoise
           || std::abs(qGreen(a) - qGreen(b)) > drawingNoise
           || std::abs(qBlue(a) - qBlue(b)) > drawingNoise
           || std::abs(qAlpha(a) - qAlpha(b)) > drawingNoise;
}

// The share of pixels in which two images of one size differ visibly; 1 for images of other
// sizes.
inline double differingShare(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.isNull())
        return 1.0;
    qsizetype differing = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            differing += visiblyDifferent(a.pixel(x, y), b.pixel(x, y));
    return double(differing) / (qsizetype(a.width()) * a.height());
}

} // namespace selftesttest
