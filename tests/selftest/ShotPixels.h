#pragma once

#include <QImage>

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

} // namespace selftesttest
