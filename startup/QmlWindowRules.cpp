#include "startup/QmlWindowRules.h"

#include "startup/WindowRules.h"

#include <QQmlEngine>
#include <QWindow>

#include <mutex>

namespace snt::startup {

QRect QmlWindowRules::curveWindowPlacement(QObject *main, const QVariantMap &screen,
                                           const QSizeF &preferred, double minimumHeight) const
{
    std::optional<QRectF> mainGeometry;
    if (const auto *window = qobject_cast<QWindow *>(main))
        mainGeometry = QRectF(window->geometry());
    const QRectF area(screen.value(QStringLiteral("x")).toDouble(),
                      screen.value(QStringLiteral("y")).toDouble(),
                      screen.value(QStringLiteral("width")).toDouble(),
                      screen.value(QStringLiteral("height")).toDouble());
    return windowrules::curveWindowPlacement(mainGeometry, area, preferred, minimumHeight);
}

void registerQmlTypes()
{
    static std::once_flag once;
    std::call_once(once, [] {
        qmlRegisterSingletonType<QmlWindowRules>(
                "Sonetra", 1, 0, "WindowRules",
                [](QQmlEngine *, QJSEngine *) -> QObject * { return new QmlWindowRules; });
    });
}

} // namespace snt::startup
