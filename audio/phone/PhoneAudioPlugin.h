#pragma once

#include "audio/Plugin.h"

namespace audio {

class AudioStreamServer;

// Every phone connected to the phone-audio server as a mono input device, so that a phone can be
// opened like a sound card. Its streams are PhoneInputStreams: steady, rate-corrected copies of
// the phone's sample ring. Lives in the GUI thread with the server.
class PhoneAudioPlugin : public Plugin
{
    Q_OBJECT
public:
    explicit PhoneAudioPlugin(AudioStreamServer *server = nullptr, QObject *parent = nullptr);

    QString name() const override;
    DeviceList devices() override;
    DeviceInfo::Id defaultDevice(const Direction &direction) override;
    Format preferredFormat(const DeviceInfo::Id &id, const Direction &direction) override;
    Stream *open(const QString &id, const Direction &direction, const Format &format,
                 QIODevice *device) override;

private:
    AudioStreamServer *const server_;
};

} // namespace audio

Q_DECLARE_METATYPE(audio::PhoneAudioPlugin *)
