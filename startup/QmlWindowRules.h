#pragma once

#include <QObject>
#include <QRect>
#include <QSizeF>
#include <QVariantMap>

// The window rules the QML windows place themselves by, as the singleton "WindowRules" of the
// module "Sonetra" 1.0 (registerQmlTypes).
namespace snt::startup {

class QmlWindowRules : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // windowrules::curveWindowPlacement beside the window `main` (may be null) on the screen
    // area {x, y, width, height}.
    Q_INVOKABLE QRect curveWindowPlacement(QObject *main, const QVariantMap &screen,
                                           const QSizeF &preferred, double minimumHeight) const;
};

// Registers the singleton, once per process; every QML engine that shows the curve window needs
// it.
void registerQmlTypes();

} // namespace snt::startup
