#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>

// What only the screens need: the palette, the display settings and guide flags kept in the
// application settings, the open dialogs and side windows, the toast line and the stored
// geometry of the side windows. Every setter stores only a changed value and then signals; a
// settings-backed one also writes its setting.
class UiState : public QObject
{
    Q_OBJECT
public:
    // Reads the palette, the smoothing and the guide flags from the settings.
    explicit UiState(QObject *parent = nullptr);

    QVariantMap theme() const;
    bool darkMode() const { return darkMode_; }
    // Always writes "ui/theme"; signals only a change.
    void setDarkMode(bool dark);
    // Read from the settings on every call.
    bool helpOn() const;
    void setHelpOn(bool on);
    int measureSignalType() const;
    void setMeasureSignalType(int type);
    bool measureGuideHidden() const { return measureGuideHidden_; }
    void setMeasureGuideHidden(bool hidden);
    bool subGuideHidden() const { return subGuideHidden_; }
    void setSubGuideHidden(bool hidden);
    bool pointGuideHidden() const { return pointGuideHidden_; }
    void setPointGuideHidden(bool hidden);
    // 0, 3, 6, 12 or 48 bands per octave; anything else is 1/6 octave. True when it changed
    // (the setting is then written and synced before the signal).
    int smoothingBands() const { return smoothingBands_; }
    bool setSmoothingBands(int bands);
    QString smoothingLabel() const;

    bool newProjectOpen() const { return newProjectOpen_; }
    void setNewProjectOpen(bool open);
    bool micGuideOpen() const { return micGuideOpen_; }
    void setMicGuideOpen(bool open);
    bool planDetailOpen() const { return planDetailOpen_; }
    void setPlanDetailOpen(bool open);
    // Opening the processor panel closes the curve window first, and the other way round.
    bool processorPanelOpen() const { return processorPanelOpen_; }
    void setProcessorPanelOpen(bool open);
    bool curveWindowOpen() const { return curveWindowOpen_; }
    void setCurveWindowOpen(bool open);
    bool fillMicGuideOpen() const { return fillMicGuideOpen_; }
    void setFillMicGuideOpen(bool open);
    bool updateDialogOpen() const { return updateDialogOpen_; }
    void setUpdateDialogOpen(bool open);

    QString toastText() const { return toastText_; }
    // Shows the text, also when it is the one shown already.
    void toast(const QString &text);
    void clearToast();

    // A side window's geometry under "window/<key>/…"; x and y read −1, width and height 0
    // before anything was saved.
    static void saveWindowState(const QString &key, double x, double y, double w, double h);
    static QVariantMap windowState(const QString &key);

signals:
    void themeChanged();
    void helpChanged();
    void measureSignalTypeChanged();
    void measureGuideHiddenChanged();
    void subGuideHiddenChanged();
    void pointGuideHiddenChanged();
    void smoothingChanged();
    void newProjectOpenChanged();
    void micGuideOpenChanged();
    void planDetailOpenChanged();
    void processorPanelOpenChanged();
    void curveWindowOpenChanged();
    void fillMicGuideOpenChanged();
    void updateDialogOpenChanged();
    void toastTextChanged();

private:
    bool darkMode_ = true;
    bool measureGuideHidden_ = false;
    bool subGuideHidden_ = false;
    bool pointGuideHidden_ = false;
    int smoothingBands_ = 6;
    bool newProjectOpen_ = false;
    bool micGuideOpen_ = false;
    bool planDetailOpen_ = false;
    bool processorPanelOpen_ = false;
    bool curveWindowOpen_ = false;
    bool fillMicGuideOpen_ = false;
    bool updateDialogOpen_ = false;
    QString toastText_;
};
