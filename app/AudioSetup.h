#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariantList>
#include <QVariantMap>

class SystemCheckRunner;
class UiState;

// The sound card set-up as the settings screen and the check dialog see it: the recording card
// and its measurement and reference channels (kept in the application settings, read by the next
// measurement session), the one kind of card whose level reads as a calibrated sound level, the
// calibration files of the selected card and channel, and the system audio check with its fixes.
class AudioSetup : public QObject
{
    Q_OBJECT
public:
    explicit AudioSetup(UiState &ui, QObject *parent = nullptr);

    QStringList audioInputDevices() const;
    QString selectedAudioDevice() const;
    void setSelectedAudioDevice(const QString &name);
    QStringList audioInputChannels() const;
    // The microphone channel a run reads on the selected device: the stored one where the device
    // has it, else -1 (none: the run would measure silence).
    int audioDataChannel() const;
    void setAudioDataChannel(int channel);
    // The reference channel a run reads on the selected device: the stored one where the device
    // has it, else the one the recording front end reads instead; -1 (none) where the device has
    // fewer than two inputs and the stored one is not among them.
    int audioReferenceChannel() const;
    void setAudioReferenceChannel(int channel);
    void refreshAudioDevices();

    bool splCalibrated() const { return splCalibrated_; }
    QString splDeviceName() const { return splDeviceName_; }
    // The sound level of an uncalibrated reading: +113 dB on a calibrated card above −90 dB,
    // else −100.
    double splLevel(double uncalibratedDb) const;
    void refreshSplCalibration();

    QVariantMap calibrationInfo() const;
    QUrl calibrationFolder() const;
    QVariantList calibrationMicFiles() const;
    QVariantList calibrationCalFiles() const;
    QString calibrationError() const { return calibrationError_; }
    bool setCalibrationFile(int slot, const QString &path);
    void clearCalibrationFile(int slot);

    QVariantList systemChecks() const { return systemChecks_; }
    // The check and the fixes run on a thread of their own: the list arrives with
    // systemChecksChanged when they are done, and a fix's outcome as a toast.
    void runSystemCheck();
    // Returns at once with a line for the screens to show while the fixes run.
    QString applySystemFixes();
    void openSystemAction(const QString &action);
    void openMicPrivacySettings();

signals:
    void audioInputDevicesChanged();
    void selectedAudioDeviceChanged();
    void audioChannelsChanged();
    void splCalibrationChanged();
    void calibrationChanged();
    void systemChecksChanged();

private:
    // The device a name stands for: the recording device of that name or id, else the preferred
    // input device, else the system's default input.
    QString currentSystemDeviceId(const QString &name) const;
    // The stored microphone channel as a run is given it; its calibration files are kept under it.
    int chosenDataChannel() const;
    QString importCalibrationFile(int slot, const QString &path) const;
    void setSystemChecks(const QVariantList &items);

    UiState &ui_;
    bool splCalibrated_ = false;
    QString splDeviceName_;
    QString calibrationError_;
    QVariantList systemChecks_;
    SystemCheckRunner *systemCheckRunner_;
};
