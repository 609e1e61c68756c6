#include "engine/tf/MeasurementSources.h"

#include "audio/AudioInput.h"
#include "audio/phone/AudioStreamServer.h"
#include "engine/tf/Measurement.h"
#include "engine/tf/generator/GeneratorThread.h"

namespace {

// The recording front end knows no loopback and no third channel: both read channel 0.
int frontEndChannel(int channel)
{
    return channel == 2 || channel == -1 ? 0 : channel;
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
    QObject::disconnect(loopbackConnection_);
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
        audioInput_ = new AudioInput(client_, measurement_);
        if (!deviceId.isEmpty())
            audioInput_->setDeviceId(deviceId);
        // Directly, on the capture thread: the blocks only drop into the input rings there.
        QObject::connect(audioInput_, &AudioInput::dataReady, measurement_, &Measurement::writeData,
                         Qt::DirectConnection);
        QObject::connect(audioInput_, &AudioInput::discontinuity, measurement_,
                         &Measurement::writeDiscontinuity, Qt::DirectConnection);
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
    if (!generator_)
        return;
    // Direct: the slot runs on the thread that reads the test signal, once per frame.
    loopbackConnection_ = QObject::connect(generator_, &GeneratorThread::sampleOut, measurement_,
                                           &Measurement::writeLoopbackSample, Qt::DirectConnection);
}

void MeasurementSources::disconnectLoopback()
{
    QObject::disconnect(loopbackConnection_);
}
