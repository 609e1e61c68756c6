#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class FillFlow;
class MeasuringFlow;
class SchemeChoice;
class SubwooferFlow;
class UiState;

// The screen shown and the way back: moving between screens keeps a history of at most 24
// names, and some moves act on a workflow: leaving a measuring screen ends its run, leaving the
// delivery screen puts the edited scheme back as computed, a subwoofer screen's back button
// stops the flow's run and returns to its previous stage, and the measuring screen shown sets
// the line-array mode.
class Navigation : public QObject
{
    Q_OBJECT
public:
    // Which EQ leaves the program from the processor panel: the chosen scheme on the delivery
    // screen, the subwoofer design on the subwoofer screens, nothing elsewhere.
    enum class Delivered { Scheme, Subwoofer, Nothing };
    Q_ENUM(Delivered)

    Navigation(MeasuringFlow &measuring, SchemeChoice &choice, SubwooferFlow &subwoofer,
               FillFlow &fill, UiState &ui, QObject *parent = nullptr);

    QString screen() const { return screen_; }
    QStringList history() const { return history_; }
    Delivered delivered() const;

    void go(const QString &name);
    void back();
    void home();

    static bool isMeasuringScreen(const QString &name);

signals:
    void screenChanged();
    void measureTick();

private:
    void setScreen(const QString &name, bool push);
    void endRunOnLeaving();

    MeasuringFlow &measuring_;
    SchemeChoice &choice_;
    SubwooferFlow &subwoofer_;
    FillFlow &fill_;
    UiState &ui_;
    QString screen_;
    QStringList history_;
};
