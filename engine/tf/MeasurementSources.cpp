#include "engine/tf/MeasurementSources.h"

#include "audio/AudioInput.h"
#include "audio/phone/AudioStreamServer.h"
#include "engine/tf/Measurement.h"
#include "engine/tf/generator/GeneratorThread.h"

namespace {

// The recording front end knows no loopback: a reference taken from the generator reads
// channel 0 there, and is not used. Every input channel, the third among them, is read where
// it was chosen: a card's third input passed on as its first measured the microphone against
// itself.
int frontEndChannel(int channel)
{
    return channel == -1 ? 0 : channel;
}

} // namespace

MeasurementSources::MeasurementSources(Measurement *measurement,
                                       std::shared_ptr<audio::Client> client,
                                       audio::AudioStreamServer *phones)
    : measurement_(measurement)
    , client_(std::move(client))
    , phones_(phones)
{ }

MeasurementSources::~MeasurementSources()
{
    disconnectLoopback();
    if (audioInput_) {
        audioInput_->setActive(false);
        delete audioInput_;
    }
}

bool MeasurementSources::isPhone(const QString &deviceId) const
{
    return phones_ && phones_->hasClient(deviceId);
}

unsigned MeasurementSources::openAudioInput(const QString &deviceId, int dataChannel,
                                            int referenceChannel)
{
    if (!audioInput_) {
        // The blocks only drop into the input rings, on the capture thread.
        audioInput_ = new AudioInput(measurement_, client_, measurement_);
        if (!deviceId.isEmpty())
            audioInput_->setDeviceId(deviceId);
        QObject::connect(audioInput_, &AudioInput::sampleRateChanged, measurement_,
                         &Measurement::setSampleRate, Qt::QueuedConnection);
        QObject::connect(audioInput_, &AudioInput::errorOccurred, measurement_,
                         &Measurement::inputError);
    }
    setChannels(dataChannel, referenceChannel);
    audioInput_->setActive(true);
    return audioInput_->sampleRate();
}

void MeasurementSources::closeAudioInput()
{
    if (audioInput_)
        audioInput_->setActive(false);
}

void MeasurementSources::setDeviceId(const QString &deviceId)
{
    if (audioInput_)
        audioInput_->setDeviceId(deviceId);
}

void MeasurementSources::setChannels(int dataChannel, int referenceChannel)
{
    if (!audioInput_)
        return;
    audioInput_->setMeasurementChannel(frontEndChannel(dataChannel));
    audioInput_->setReferenceChannel(frontEndChannel(referenceChannel));
}

void MeasurementSources::setGenerator(GeneratorThread *generator)
{
    QObject::disconnect(rateConnection_);
    disconnectLoopback();
    generator_ = generator;
    if (generator)
        rateConnection_
                = QObject::connect(generator, &GeneratorThread::sampleRateChanged, measurement_,
                                   &Measurement::setLoopbackSampleRate, Qt::QueuedConnection);
}

void MeasurementSources::connectLoopback()
{
    // The samples come in blocks, on the thread that reads the test signal.
    if (generator_)
        generator_->bindLoopback(measurement_);
}

void MeasurementSources::disconnectLoopback()
{
    if (generator_)
        generator_->unbindLoopback(measurement_);
}
