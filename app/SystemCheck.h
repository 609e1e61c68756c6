#pragma once

#include "platform/SoundSettings.h"

#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>
#include <memory>

namespace audio {
class Client;
}

namespace syscheck {

// An endpoint's level as the check reads it.
struct EndpointLevel
{
    bool ok = false; // the master level was read
    int percent = 0;
    bool muted = false;
    QString error; // a sentence for the user when something failed
};

// The format the system runs an endpoint at.
struct DeviceFormat
{
    bool ok = false;
    uint32_t sampleRate = 0;
    int channels = 0;
};

// A check item with the keys "name", "ok", "detail" and "action".
QVariantMap makeCheckItem(const QString &name, bool ok, const QString &detail,
                          const QString &action);

// The computer's audio set-up as a measurement needs it: the microphone allowed, the capture
// level at 100 %, the playback level high enough, input and output at one usable sample rate
// with enough channels, no ducking during calls and no sound enhancements. Turns it into six
// check items for the screens and makes the fixes it can make itself. Reads the device rows of
// the audio client and the system's settings; keeps no state. Synchronous, and a fix waits for
// a new format to take: callers that must not wait run it on a thread of their own.
class SystemCheck
{
public:
    SystemCheck(std::shared_ptr<audio::Client> devices,
                std::shared_ptr<platform::SoundSettings> settings);

    // Exactly six items, in their fixed order, for the input device id (may be empty).
    QVariantList runSystemCheck(const QString &inputId) const;
    // The fixes' outcomes, one sentence each, joined by "；".
    QString applySystemFixes(const QString &inputId) const;

private:
    struct Row;
    struct Setup;

    Setup readSetup(const QString &inputId) const;
    QVariantMap microphoneAccessItem(const Setup &setup) const;
    QVariantMap microphoneLevelItem(const Setup &setup, const QString &inputId) const;
    QVariantMap outputLevelItem() const;
    QVariantMap formatItem(const Setup &setup) const;
    QVariantMap duckingItem() const;
    QVariantMap enhancementsItem(const Setup &setup) const;

    void fixFormats(const QString &inputId, QStringList *messages) const;
    void fixOutputFormat(const QString &outputId, const DeviceFormat &output, uint32_t target,
                         QStringList *messages) const;
    void fixDucking(QStringList *messages) const;
    void fixLevel(platform::DataFlow flow, const QString &id, QStringList *messages) const;

    EndpointLevel readEndpointLevel(platform::DataFlow flow, const QString &id,
                                    QString *name = nullptr) const;
    bool setEndpointLevelFull(platform::DataFlow flow, const QString &id, float level,
                              bool unmute) const;
    DeviceFormat readDeviceFormat(const QString &id, platform::DataFlow flow) const;
    bool setDeviceFormat(const QString &id, platform::DataFlow flow, uint32_t rate,
                         int channels) const;
    bool setFormatAndVerify(const QString &id, platform::DataFlow flow, uint32_t rate,
                            int minimumChannels) const;
    uint32_t highestSharedRate(platform::DataFlow flow, int channels) const;

    std::shared_ptr<audio::Client> devices_;
    std::shared_ptr<platform::SoundSettings> settings_;
};

} // namespace syscheck
