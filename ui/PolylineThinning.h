#pragma once

#include <QPolygonF>

namespace snt::ui {

// A polyline with fewer points that strokes to the same picture within one device pixel: of every
// stretch of consecutive points inside one pixel column (columns are 1 / pixelsPerUnit wide in the
// polyline's units), only the first, the lowest, the highest and the last remain, in their order.
// The stretch's vertical extent and its joins to the neighbouring columns are kept exactly. Meant
// for solid strokes and fills of dense curves; a dash pattern would fall differently along the
// shorter path.
QPolygonF thinToPixelColumns(const QPolygonF &line, double pixelsPerUnit);

} // namespace snt::ui
