#include "ui/CoverageRaster.h"

#include <QImage>
#include <QLinearGradient>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace snt::ui {

namespace {

// A premultiplied colour scaled by factor / 256.
QRgb scaled(QRgb colour, unsigned factor)
{
    const unsigned redBlue = ((colour & 0xff00ffu) * factor >> 8) & 0xff00ffu;
    const unsigned alphaGreen = ((colour >> 8 & 0xff00ffu) * factor) & 0xff00ff00u;
    return redBlue | alphaGreen;
}

} // namespace

void CoverageRaster::resize(QSize pixels)
{
    m_size = pixels;
    m_stroke.assign(std::size_t(pixels.width()) * pixels.height(), 0.0f);
    m_area.assign(std::size_t(pixels.width() + 1) * pixels.height(), 0.0f);
    m_ink = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
    m_dirty = QRect();
}

// ---- strokes -----------------------------------------------------------------------------------

void CoverageRaster::addStroke(const QPolygonF &line, double width, const QList<qreal> &dashes)
{
    const double radius = width / 2;
    double period = 0;
    for (qreal d : dashes)
        period += d;
    if (dashes.isEmpty() || !(period > 0)) {
        for (qsizetype i = 0; i + 1 < line.size(); ++i)
            addCapsule(line[i], line[i + 1], radius);
        return;
    }
    // Walk the line, switching between dashes (drawn) and gaps at the pattern's lengths.
    qsizetype entry = 0;
    double left = dashes[0] * width;
    bool drawn = true;
    for (qsizetype i = 0; i + 1 < line.size(); ++i) {
        const QPointF a = line[i];
        const QPointF step = line[i + 1] - a;
        const double length = std::hypot(step.x(), step.y());
        double done = 0;
        while (done < length) {
            const double piece = std::min(left, length - done);
            if (drawn)
                addDashPiece(a + step * (done / length), a + step * ((done + piece) / length),
                             radius);
            done += piece;
            left -= piece;
            if (left <= 0) {
                entry = (entry + 1) % dashes.size();
                left = dashes[entry] * width;
                drawn = !drawn;
            }
        }
    }
    addColumnStretches(radius);
}

// A dense jagged curve crosses one pixel column many times, its dashes heaped on one another.
// Pieces inside one column are gathered and drawn as the stretches their heights cover, each one
// vertical capsule through the column's middle: the same pixels, within one pixel across.
void CoverageRaster::addDashPiece(QPointF a, QPointF b, double radius)
{
    const double column = std::floor(a.x());
    if (column != std::floor(b.x())) {
        addColumnStretches(radius);
        addCapsule(a, b, radius);
        return;
    }
    if (column != m_column)
        addColumnStretches(radius);
    m_column = column;
    m_heights.push_back({std::min(a.y(), b.y()), std::max(a.y(), b.y())});
}

void CoverageRaster::addColumnStretches(double radius)
{
    std::sort(m_heights.begin(), m_heights.end());
    const double x = m_column + 0.5;
    for (std::size_t i = 0; i < m_heights.size();) {
        auto [top, bottom] = m_heights[i];
        for (++i; i < m_heights.size() && m_heights[i].first <= bottom; ++i)
            bottom = std::max(bottom, m_heights[i].second);
        addCapsule(QPointF(x, top), QPointF(x, bottom), radius);
    }
    m_heights.clear();
}

void CoverageRaster::addCapsule(QPointF a, QPointF b, double radius)
{
    const double reach = radius + 0.5;
    // Bounds held near the picture before they become whole pixels.
    const auto pixel = [](double v, int size) {
        return int(std::clamp(v, -1.0, size + 1.0));
    };
    const QRect box
            = QRect(QPoint(pixel(std::floor(std::min(a.x(), b.x()) - reach), m_size.width()),
                           pixel(std::floor(std::min(a.y(), b.y()) - reach), m_size.height())),
                    QPoint(pixel(std::ceil(std::max(a.x(), b.x()) + reach), m_size.width()),
                           pixel(std::ceil(std::max(a.y(), b.y()) + reach), m_size.height())))
              & QRect(QPoint(0, 0), m_size);
    if (box.isEmpty())
        return;
    m_dirty |= box;
    // Pixel centres relative to a; t is where the nearest point of the piece lies along it.
    const float dx = float(b.x() - a.x());
    const float dy = float(b.y() - a.y());
    const float length2 = dx * dx + dy * dy;
    const float inverse = length2 > 0 ? 1 / length2 : 0;
    const float edge = float(reach);
    for (int y = box.top(); y <= box.bottom(); ++y) {
        float *row = &m_stroke[std::size_t(y) * m_size.width()];
        const float py = float(y + 0.5 - a.y());
        const float x0 = float(0.5 - a.x());
        for (int x = box.left(); x <= box.right(); ++x) {
            const float px = x0 + float(x);
            const float t = std::clamp((px * dx + py * dy) * inverse, 0.0f, 1.0f);
            const float ex = px - t * dx;
            const float ey = py - t * dy;
            const float cover = std::clamp(edge - std::sqrt(ex * ex + ey * ey), 0.0f, 1.0f);
            row[x] = std::max(row[x], cover);
        }
    }
}

// ---- areas -------------------------------------------------------------------------------------

void CoverageRaster::addArea(const QPolygonF &polygon)
{
    for (qsizetype i = 0; i < polygon.size(); ++i)
        addEdge(polygon[i], polygon[(i + 1) % polygon.size()]);
}

// An edge adds, in every row it crosses, its signed height there to the pixels right of it: in
// full beyond the pixel it passes through, in the part right of it within that pixel.
void CoverageRaster::addEdge(QPointF a, QPointF b)
{
    if (a.y() == b.y())
        return;
    const double sign = b.y() > a.y() ? 1 : -1;
    if (a.y() > b.y())
        std::swap(a, b);
    const double slope = (b.x() - a.x()) / (b.y() - a.y());
    const double top = std::max(a.y(), 0.0);
    const double bottom = std::min(b.y(), double(m_size.height()));
    for (int row = int(std::floor(top)); row < bottom; ++row) {
        const double y0 = std::max(top, double(row));
        const double y1 = std::min(bottom, row + 1.0);
        if (y1 > y0)
            addRowPiece(row, a.x() + (y0 - a.y()) * slope, a.x() + (y1 - a.y()) * slope,
                        sign * (y1 - y0));
    }
}

void CoverageRaster::addRowPiece(int row, double xStart, double xEnd, double height)
{
    const int width = m_size.width();
    float *steps = &m_area[std::size_t(row) * (width + 1)];
    const double left = std::min(xStart, xEnd);
    const double right = std::max(xStart, xEnd);
    if (left >= width)
        return; // nothing visible lies right of it
    const auto add = [&](int column, double piece, double middle) {
        const double inside = middle - column; // the part of the pixel left of the piece
        steps[column] += float(piece * (1 - inside));
        steps[column + 1] += float(piece * inside);
        m_dirty |= QRect(column, row, 1, 1);
    };
    if (right - left < 1e-9) {
        if (left < 0)
            add(0, height, 0);
        else
            add(int(left), height, left);
        return;
    }
    // Left of the picture every pixel is right of the piece.
    double from = left;
    if (left < 0) {
        add(0, height * (std::min(right, 0.0) - left) / (right - left), 0);
        from = 0;
    }
    for (int column = int(from); column < right && column < width; ++column) {
        const double to = std::min(right, column + 1.0);
        add(column, height * (to - from) / (right - left), (from + to) / 2);
        from = to;
    }
}

// ---- painting ----------------------------------------------------------------------------------

float CoverageRaster::coverageAt(int x, int y, float &areaSum)
{
    float &step = m_area[std::size_t(y) * (m_size.width() + 1) + x];
    areaSum += step;
    step = 0;
    float &stroke = m_stroke[std::size_t(y) * m_size.width() + x];
    const float cover = std::max(stroke, std::min(1.0f, std::abs(areaSum)));
    stroke = 0;
    return cover;
}

void CoverageRaster::paint(QPainter *painter, const QColor &colour)
{
    paintRows(painter, QList<QRgb>(m_dirty.height(), qPremultiply(colour.rgba())));
}

void CoverageRaster::paint(QPainter *painter, const QLinearGradient &gradient)
{
    if (m_dirty.isEmpty())
        return;
    // The gradient's colour in every device row, as Qt computes it.
    QImage column(1, m_dirty.height(), QImage::Format_ARGB32_Premultiplied);
    column.fill(Qt::transparent);
    QPainter columnPainter(&column);
    columnPainter.setTransform(painter->deviceTransform()
                               * QTransform::fromTranslate(-m_dirty.x(), -m_dirty.y()));
    columnPainter.fillRect(columnPainter.transform().inverted().mapRect(QRectF(column.rect())),
                           gradient);
    columnPainter.end();
    QList<QRgb> rowColours(m_dirty.height());
    for (int y = 0; y < m_dirty.height(); ++y)
        rowColours[y] = column.pixel(0, y); // premultiplied, as the image holds it
    paintRows(painter, rowColours);
}

void CoverageRaster::paintRows(QPainter *painter, const QList<QRgb> &rowColours)
{
    if (m_dirty.isEmpty())
        return;
    for (int y = 0; y < m_dirty.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(m_ink.scanLine(m_dirty.y() + y)) + m_dirty.x();
        float areaSum = 0;
        for (int x = 0; x < m_dirty.width(); ++x) {
            const float cover = coverageAt(m_dirty.x() + x, m_dirty.y() + y, areaSum);
            line[x] = scaled(rowColours[y], unsigned(cover * 256 + 0.5f));
        }
        // What an edge passed on beyond the last pixel it touched.
        m_area[std::size_t(m_dirty.y() + y) * (m_size.width() + 1) + m_dirty.right() + 1] = 0;
    }
    painter->save();
    painter->resetTransform();
    painter->drawImage(m_dirty.topLeft(), m_ink, m_dirty);
    painter->restore();
    m_dirty = QRect();
}

} // namespace snt::ui
