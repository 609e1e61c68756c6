#pragma once

class QQuickWindow;

namespace snt::selftest {

// Until the window has drawn a frame asked for now; a window that draws none within a second is
// left as it stands.
void waitForFrame(QQuickWindow *window);

// Until the window shows what its state asks for: the main window's page loaded and through its
// entry fade, no loader or picture of the window still loading, and then a frame drawn. A window
// without pages waits only for its loading. False when that did not come within `timeoutMs`.
bool waitUntilDrawn(QQuickWindow *window, int timeoutMs);

} // namespace snt::selftest
