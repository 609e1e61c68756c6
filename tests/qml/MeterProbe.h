#pragma once

#include "tests/qml/ScreenTestSupport.h"

#include <QQuickItem>
#include <QString>

// What the two input meters of a MeasureMeterCard show.
namespace snt::test {

// Whether both meters of the card read silent: "— dB" and an empty bar.
inline bool metersReadSilent(QQuickItem *card)
{
    for (const char *row : {"measureMeter", "referenceMeter"}) {
        QQuickItem *meter = itemNamed(card, QLatin1String(row));
        if (!meter
            || itemNamed(meter, QStringLiteral("value"))->property("text").toString()
                       != QStringLiteral("— dB")
            || itemNamed(meter, QStringLiteral("fill"))->width() != 0.0)
            return false;
    }
    return true;
}

} // namespace snt::test
