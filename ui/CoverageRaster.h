#pragma once

#include <QColor>
#include <QImage>
#include <QList>
#include <QPolygonF>
#include <QRect>
#include <QRgb>

#include <vector>

class QLinearGradient;
class QPainter;

namespace snt::ui {

// Antialiased strokes and areas in device pixels, gathered for one pen or brush and then laid onto
// a painter in one pass. It replaces QPainter's general rasteriser for the chart's curves, which
// takes milliseconds for one jagged polyline of a few hundred points.
// - Strokes have round caps and round joins: every piece of the line is a capsule, its pixels
//   covered by (half width + 0.5 - distance from the centre line), the union of the pieces taken
//   pixel by pixel.
// - Dashed strokes put the pieces of their dashes that fall inside one pixel column together.
// - Areas are filled by the exact area of each pixel inside the polygon (non-zero winding), summed
//   along each row from the edges.
class CoverageRaster
{
public:
    // Makes room for a picture of this many device pixels; clears it.
    void resize(QSize pixels);
    QSize size() const { return m_size; }

    // Dashes alternate on and off lengths in units of the width, as Qt's dash patterns do, and
    // start anew with each polyline; none means solid.
    void addStroke(const QPolygonF &line, double width, const QList<qreal> &dashes);
    void addArea(const QPolygonF &polygon);

    // Lays the colour, or the gradient (vertical, given in the painter's user coordinates), where
    // the gathered coverage is, through the painter's clip; then clears the coverage.
    void paint(QPainter *painter, const QColor &colour);
    void paint(QPainter *painter, const QLinearGradient &gradient);

private:
    void addCapsule(QPointF a, QPointF b, double radius);
    void addDashPiece(QPointF a, QPointF b, double radius);
    void addColumnStretches(double radius);
    void addEdge(QPointF a, QPointF b);
    void addRowPiece(int row, double xStart, double xEnd, double height);
    void paintRows(QPainter *painter, const QList<QRgb> &rowColours);
    float coverageAt(int x, int y, float &areaSum);

    QSize m_size;
    std::vector<float> m_stroke; // per pixel, 0..1
    std::vector<float> m_area; // per pixel plus one spill column a row: coverage steps along x
    QImage m_ink; // the picture laid onto the painter, within m_dirty
    QRect m_dirty;
    double m_column = 0; // the pixel column of the dash pieces gathered in m_heights
    std::vector<std::pair<double, double>> m_heights; // their top and bottom
};

} // namespace snt::ui
