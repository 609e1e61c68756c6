#include "startup/MainWindowGeometry.h"

#include "startup/WindowRules.h"

#include <QGuiApplication>
#include <QPointer>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QScreen>
#include <QSettings>
#include <QTimer>

namespace snt::startup {

namespace {

using namespace windowrules;

const QString xKey = QStringLiteral("window/main/x");
const QString yKey = QStringLiteral("window/main/y");
const QString widthKey = QStringLiteral("window/main/w");
const QString heightKey = QStringLiteral("window/main/h");
const QString userSizedKey = QStringLiteral("window/main/userSized");
const QString layoutVersionKey = QStringLiteral("window/main/layoutVersion");
const char *const userSizedProperty = "userSized";
constexpr int saveDelayMs = 800;

QQuickWindow *rootWindow(QQmlApplicationEngine &engine)
{
    const QList<QObject *> roots = engine.rootObjects();
    return roots.isEmpty() ? nullptr : qobject_cast<QQuickWindow *>(roots.first());
}

bool userSized(const QQuickWindow *window)
{
    return window->property(userSizedProperty).toBool();
}

QList<ScreenArea> screenAreas()
{
    QList<ScreenArea> areas;
    for (const QScreen *screen : QGuiApplication::screens())
        areas.append({screen->geometry(), screen->availableGeometry()});
    return areas;
}

SavedGeometry readSavedGeometry()
{
    const QSettings settings;
    SavedGeometry saved;
    if (settings.contains(xKey) && settings.contains(yKey))
        saved.position = QPoint(settings.value(xKey).toInt(), settings.value(yKey).toInt());
    const QSize size(settings.value(widthKey).toInt(), settings.value(heightKey).toInt());
    if (settings.value(userSizedKey).toBool() && size.width() > 0 && size.height() > 0)
        saved.userSize = size;
    return saved;
}

void writeGeometry(QQuickWindow *window, bool removeAutomaticSize)
{
    QSettings settings;
    settings.setValue(xKey, window->x());
    settings.setValue(yKey, window->y());
    if (userSized(window)) {
        settings.setValue(widthKey, window->width());
        settings.setValue(heightKey, window->height());
        settings.setValue(userSizedKey, true);
    } else if (removeAutomaticSize) {
        settings.remove(widthKey);
        settings.remove(heightKey);
        settings.remove(userSizedKey);
    }
}

// Saves the geometry 800 ms after the last move or resize, and refits the window on the next
// pass of the event loop after a change of screen (once the window system finished the move).
void keepGeometry(QQuickWindow *window)
{
    auto *saveTimer = new QTimer(window);
    saveTimer->setSingleShot(true);
    saveTimer->setInterval(saveDelayMs);
    QObject::connect(saveTimer, &QTimer::timeout, window,
                     [window] { saveMainWindowGeometry(window); });
    const auto restart = [saveTimer] {
        saveTimer->start();
    };
    QObject::connect(window, &QWindow::xChanged, saveTimer, restart);
    QObject::connect(window, &QWindow::yChanged, saveTimer, restart);
    QObject::connect(window, &QWindow::widthChanged, saveTimer, restart);
    QObject::connect(window, &QWindow::heightChanged, saveTimer, restart);
    QObject::connect(window, &QWindow::screenChanged, window, [window](QScreen *screen) {
        QTimer::singleShot(0, window, [window, screen = QPointer<QScreen>(screen)] {
            onMainWindowScreenChanged(window, screen);
        });
    });
}

} // namespace

void restoreMainWindowGeometry(QQmlApplicationEngine &engine, const QString &sizeOption)
{
    QQuickWindow *window = rootWindow(engine);
    if (const std::optional<QSize> size = parseSizeOption(sizeOption); size && window) {
        window->resize(*size);
        return;
    }
    if (!window)
        return;
    const QList<QScreen *> screens = QGuiApplication::screens();
    const SavedGeometry saved = readSavedGeometry();
    const QRect geometry = restoredGeometry(saved, screenAreas(),
                                            int(screens.indexOf(QGuiApplication::primaryScreen())));
    // Marked before the saving starts, so that a restored size of the user's stays the user's.
    if (saved.userSize)
        window->setProperty(userSizedProperty, true);
    window->resize(geometry.size());
    window->setPosition(geometry.topLeft());
    keepGeometry(window);
    QSettings().remove(layoutVersionKey);
}

void saveMainWindowGeometry(QQuickWindow *window)
{
    writeGeometry(window, true);
}

void saveMainWindowGeometryOnQuit(QQmlApplicationEngine &engine)
{
    if (QQuickWindow *window = rootWindow(engine))
        writeGeometry(window, false);
}

void onMainWindowScreenChanged(QQuickWindow *window, QScreen *screen)
{
    if (!window || !screen)
        return;
    const QRect available = screen->availableGeometry();
    const QSize size = sizeOnScreen(window->size(), userSized(window), available);
    if (size != window->size())
        window->resize(size);
    window->setPosition(clampToScreen(window->position(), size, available));
}

} // namespace snt::startup
