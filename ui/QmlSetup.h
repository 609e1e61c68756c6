#pragma once

class QQmlEngine;

namespace snt::ui {

// Everything a QML engine needs before it loads the workbench's user interface, in one call for
// the program and every QML test: the chart registered as CurveChartItem in "Sonetra" 1.0 (with
// the slow clock StepClock beside it), the icon image provider as "image://icon/", the Quick
// Controls style "Basic", the font family the screens ask for ("Microsoft YaHei UI", a Windows
// font) mapped to "Noto Sans CJK SC", so that Chinese text gets one pinned face with Simplified
// Chinese glyph forms, Qt's own Simplified Chinese translations installed, so that its dialogs
// speak the interface's language, and Qt's painting given one helper thread, which keeps its
// hand-offs short. Call it once the application object exists, before
// the first QML file is loaded.
void setUpQmlEngine(QQmlEngine &engine);

} // namespace snt::ui
