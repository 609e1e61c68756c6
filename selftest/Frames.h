#pragma once

class QQuickWindow;
class QString;

namespace snt::selftest {

// Until the window has drawn a frame asked for now; a window that draws none within a second is
// left as it stands.
void waitForFrame(QQuickWindow *window);

// Until the window shows what its state asks for: its scene at the size last given to the window
// (the window system confirms a resize later, and a busy machine may take seconds), the main
// window's page loaded and through its entry fade, no loader or picture of the window still
// loading, and then a frame drawn. A window without pages waits for its size and its loading.
// False when that did not come within `timeoutMs`.
bool waitUntilDrawn(QQuickWindow *window, int timeoutMs);

// The window grabbed once drawn (warned of when it was not drawn in time) and saved to `path` in
// the format of its extension; false when the image could not be saved.
bool saveDrawnWindow(QQuickWindow *window, const QString &path);

} // namespace snt::selftest
