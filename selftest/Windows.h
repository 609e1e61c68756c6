#pragma once

#include <QString>

class QQmlApplicationEngine;
class QQuickItem;
class QQuickWindow;

namespace snt::selftest {

// The engine's first root object as a Quick window; null when there is none or it is no window.
QQuickWindow *mainWindow(const QQmlApplicationEngine &engine);

// The first shown top-level window titled exactly so ("工程管理" the curve window, "处理器" the
// processor panel), as a Quick window. Both side windows exist hidden from the start: only one a
// user sees counts.
QQuickWindow *shownWindowTitled(const QString &title);

// The first shown item named `name` below `root` (depth first, `root` included); the children of
// a hidden item are not looked at.
QQuickItem *shownItemNamed(QQuickItem *root, const QString &name);

} // namespace snt::selftest
