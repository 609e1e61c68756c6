// Build-time tool: renders an SVG of the project's pictures into its PNG form, so that the two
// forms never diverge. Usage: snt_render_png <in.svg> <out.png> <scale>; the PNG is the SVG's own
// size times the scale, with a transparent background.
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cmath>
#include <cstdio>

int main(int argc, char **argv)
{
    // Text in a picture needs the fonts of an application object, but no display: the tool runs
    // during the build on machines without one.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    bool scaleOk = false;
    const double scale = args.size() == 4 ? args[3].toDouble(&scaleOk) : 0.0;
    if (!scaleOk || scale <= 0) {
        std::fprintf(stderr, "usage: snt_render_png <in.svg> <out.png> <scale>\n");
        return 2;
    }
    QSvgRenderer renderer(args[1]);
    if (!renderer.isValid() || renderer.defaultSize().isEmpty()) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(args[1]));
        return 1;
    }
    const QSize size(int(std::ceil(renderer.defaultSize().width() * scale)),
                     int(std::ceil(renderer.defaultSize().height() * scale)));
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter);
    painter.end();
    if (!image.save(args[2], "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(args[2]));
        return 1;
    }
    return 0;
}
