#pragma once

#include "audio/Client.h"
#include "engine/tf/generator/GeneratorThread.h"

#include <QMetaObject>
#include <QPointer>
#include <QString>
#include <memory>

class AudioInput;
class Measurement;

namespace audio {
class AudioStreamServer;
}

// Where a measurement's samples come from: the recording front end (made on first use, on the
// measurement's device registry, with the measurement as its sink), a phone streaming to the
// phone server, and the generator whose output comes back as the loopback reference. It only
// makes and breaks the ways into the measurement's inputs; the measurement owns it and decides
// when.
class MeasurementSources
{
public:
    MeasurementSources(Measurement *measurement, std::shared_ptr<audio::Client> client,
                       audio::AudioStreamServer *phones);
    // Closes the front end and the loopback before the measurement's inputs go.
    ~MeasurementSources();

    // A phone streams to the phone server under this device id.
    bool isPhone(const QString &deviceId) const;
    // The phone server; null when the measurement reads no phones.
    audio::AudioStreamServer *phones() const { return phones_; }

    AudioInput *audioInput() const { return audioInput_; }
    // Opens the front end on the device with the two channels; the rate its stream runs at, or 0.
    unsigned openAudioInput(const QString &deviceId, int dataChannel, int referenceChannel);
    void closeAudioInput();
    // Passed on to an open front end; the measurement's loopback (-1) and third channel (2) read
    // channel 0 there.
    void setDeviceId(const QString &deviceId);
    void setChannels(int dataChannel, int referenceChannel);

    GeneratorThread *generator() const { return generator_; }
    // Follows the generator's rate; null: none.
    void setGenerator(GeneratorThread *generator);
    void connectLoopback();
    void disconnectLoopback();

private:
    Measurement *const measurement_;
    const std::shared_ptr<audio::Client> client_;
    audio::AudioStreamServer *const phones_;
    AudioInput *audioInput_ = nullptr;
    QPointer<GeneratorThread> generator_;
    QMetaObject::Connection rateConnection_;
};
