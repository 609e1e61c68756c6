#pragma once

#include <QQuickItem>
#include <QString>

// What the two input meters of a MeasureMeterCard show.
namespace snt::test {

inline QQuickItem *childNamed(QQuickItem *root, const QString &name)
{
    for (QQuickItem *child : root->childItems()) {
        if (child->objectName() == name)
            return child;
        if (QQuickItem *found = childNamed(child, name))
            return found;
    }
    return nullptr;
}

// Whether both meters of the card read silent: "— dB" and an empty bar.
inline bool metersReadSilent(QQuickItem *card)
{
    for (const char *row : {"measureMeter", "referenceMeter"}) {
        QQuickItem *meter = childNamed(card, QLatin1String(row));
        if (!meter
            || childNamed(meter, QStringLiteral("value"))->property("text").toString()
                       != QStringLiteral("— dB")
            || childNamed(meter, QStringLiteral("fill"))->width() != 0.0)
            return false;
    }
    return true;
}

} // namespace snt::test
