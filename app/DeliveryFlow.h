#pragma once

#include "app/ConverterExport.h"

#include <QObject>
#include <QString>
#include <QVariantMap>

class AppCore;
class MeasuringFlow;
class ProcessorClient;
class SchemeChoice;
class UiState;
struct CurvePack;
struct ProcessorEqList;

// How a chosen scheme leaves the program: saved with the result as a curve pack (which later
// edits follow), as an EQ preset file on the desktop or on the clipboard, uploaded into a channel
// of the networked processor, or handed to the converter program for other processors' software.
// The upload and the converter are told which EQ to deliver; the chosen scheme's is one of them.
class DeliveryFlow : public QObject
{
    Q_OBJECT
public:
    DeliveryFlow(AppCore &core, const MeasuringFlow &measuring, SchemeChoice &choice,
                 ProcessorClient &processor, UiState &ui, QObject *parent = nullptr);

    // Chooses the scheme, saves the result for it and opens the delivery screen.
    void enterScheme(int index);
    void saveSelectedPack();

    void copyCurrentParams();
    bool exportCurrentPack();
    // The chosen scheme's EQ as the processor takes it; false with `error` naming `verb`.
    bool schemeEq(ProcessorEqList &list, const QString &verb, QString &error) const;
    // {"ok", "message"}, or the processor's answer with "truncated".
    QVariantMap upload(bool isOut, int idx, const ConverterExport::Collect &collect);
    QVariantMap exportToConverter(const QString &target, const ConverterExport::Collect &collect);
    // Where the converter program is looked for; the program's own folder by default.
    void setConverterFolder(const QString &folder) { converter_.setConverterFolder(folder); }

signals:
    void projectsChanged();
    void curvePacksChanged();
    void goRequested(const QString &screen);

private:
    QJsonObject currentPresetJson() const;
    void takeArrayPoints(CurvePack &pack) const;

    AppCore &core_;
    const MeasuringFlow &measuring_;
    SchemeChoice &choice_;
    ProcessorClient &processor_;
    UiState &ui_;
    ConverterExport converter_;
};
