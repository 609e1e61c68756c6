#pragma once

#include "audio/DeviceInfo.h"
#include "engine/dsp/CalCurve.h"

#include <QDateTime>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QStringList>
#include <memory>

// Keeps, per input device and input channel, which calibration files apply (slot 0 the
// microphone file, slot 1 the second file), persists them in the settings group "Calibration",
// repairs references to vanished files at start, moves profiles stored under old numeric device
// ids to the current ids, and combines a channel's files into one curve for the measurement.
// One instance per process, living in the main thread.
class CalibrationManager : public QObject
{
    Q_OBJECT
public:
    struct Profile
    {
        QString deviceId;
        QString deviceName;
        QString pluginName;
        QMap<int, double> splRefs; // per input channel, the SPL reference in dB
        QMap<int, QStringList> calFiles; // per input channel, paths by slot; "" is no file
        QDateTime lastModified;

        QString calFile(int channel, int slot) const;
        void setCalFile(int channel, int slot, const QString &path);
        void clearCalFile(int channel, int slot);
    };

    static CalibrationManager *instance();

    Profile getProfile(const QString &deviceId) const;
    void saveProfile(const Profile &profile);
    double splReference(const QString &deviceId, int channel) const;
    // How many slots of all profiles name the file `path` (compared as stored).
    int referenceCount(const QString &path) const;
    std::shared_ptr<CalCurve> getCombinedCalCurve(const QString &deviceId, int channel);
    double phoneMicSplOffset() const;

    // Device ids become settings group names; "/" and "\" would split a group in two, so they
    // are escaped (with "%" itself) reversibly.
    static QString groupForDeviceId(const QString &deviceId);
    static QString deviceIdForGroup(const QString &group);

signals:
    void warningRaised(QString title, QString text);
    void profileUpdated(QString deviceId);
    void profileRemoved(QString deviceId);
    void phoneMicSplOffsetChanged(double offsetDb);

private:
    struct MissingFile
    {
        QString path;
        int slot;
        int channel;
        QString deviceId;
    };

    CalibrationManager();
    void loadProfiles();
    void onDevicesChanged(const audio::DeviceList &devices);
    void migrateLegacyIds(const audio::DeviceList &devices);
    bool moveLegacyProfile(const QString &legacyId, const audio::DeviceList &devices);
    void moveRenamedProfiles(const audio::DeviceList &devices);
    void moveProfile(const QString &from, const QString &to);
    void removeMissingFiles();
    QList<MissingFile> findMissingFiles() const;
    std::shared_ptr<CalCurve> combine(const QString &file1, const QString &file2);
    void dropBrokenFile(const QString &deviceId, int channel, int slot, const QString &error);

    mutable QMutex mutex_;
    QMap<QString, Profile> profiles_;
    bool migrated_ = false;
    double phoneMicSplOffset_ = 0.0;
};
