#include "ui/QmlSetup.h"

#include "ui/CurveChartItem.h"
#include "ui/IconImageProvider.h"
#include "ui/StepClock.h"

#include <QFont>
#include <QQmlEngine>
#include <QQuickStyle>

#include <mutex>

namespace snt::ui {

namespace {

const QString iconProvider = QStringLiteral("icon");

void setUpProcess()
{
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    QFont::insertSubstitution(QStringLiteral("Microsoft YaHei UI"),
                              QStringLiteral("Noto Sans CJK SC"));
    qmlRegisterType<CurveChartItem>("Sonetra", 1, 0, "CurveChartItem");
    qmlRegisterType<StepClock>("Sonetra", 1, 0, "StepClock");
}

} // namespace

void setUpQmlEngine(QQmlEngine &engine)
{
    static std::once_flag once;
    std::call_once(once, setUpProcess);
    if (!engine.imageProvider(iconProvider))
        engine.addImageProvider(iconProvider, new IconImageProvider);
}

} // namespace snt::ui
