#include "ui/PolylineThinning.h"

#include <algorithm>
#include <cmath>

namespace snt::ui {

QPolygonF thinToPixelColumns(const QPolygonF &line, double pixelsPerUnit)
{
    const qsizetype n = line.size();
    if (n <= 4 || !(pixelsPerUnit > 0))
        return line;
    const auto column = [&](qsizetype i) {
        return std::floor(line[i].x() * pixelsPerUnit);
    };
    QPolygonF thinned;
    thinned.reserve(std::min<qsizetype>(n, 4 * 4096));
    qsizetype first = 0;
    while (first < n) {
        const double here = column(first);
        qsizetype lowest = first, highest = first, last = first;
        while (last + 1 < n && column(last + 1) == here) {
            ++last;
            if (line[last].y() < line[lowest].y())
                lowest = last;
            if (line[last].y() > line[highest].y())
                highest = last;
        }
        qsizetype kept[] = {first, std::min(lowest, highest), std::max(lowest, highest), last};
        const qsizetype *end = std::unique(std::begin(kept), std::end(kept));
        for (const qsizetype *k = kept; k != end; ++k)
            thinned.append(line[*k]);
        first = last + 1;
    }
    return thinned;
}

} // namespace snt::ui
