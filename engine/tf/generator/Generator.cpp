#include "engine/tf/generator/Generator.h"

#include <QMetaObject>

Generator::Generator(std::shared_ptr<audio::Client> client, audio::NetworkSink *networkSink,
                     QObject *parent)
    : QObject(parent)
    , thread_(std::move(client), networkSink)
{
    qRegisterMetaType<QSet<int>>();
    const auto queued = Qt::QueuedConnection;
    connect(&thread_, &GeneratorThread::enabledChanged, this, &Generator::enabledChanged, queued);
    connect(&thread_, &GeneratorThread::typeChanged, this, &Generator::typeChanged, queued);
    connect(&thread_, &GeneratorThread::deviceIdChanged, this, &Generator::deviceIdChanged, queued);
    connect(&thread_, &GeneratorThread::frequencyChanged, this, &Generator::frequencyChanged,
            queued);
    connect(&thread_, &GeneratorThread::startFrequencyChanged, this,
            &Generator::startFrequencyChanged, queued);
    connect(&thread_, &GeneratorThread::endFrequencyChanged, this, &Generator::endFrequencyChanged,
            queued);
    connect(&thread_, &GeneratorThread::gainChanged, this, &Generator::gainChanged, queued);
    connect(&thread_, &GeneratorThread::durationChanged, this, &Generator::durationChanged, queued);
    connect(&thread_, &GeneratorThread::channelsChanged, this, &Generator::channelsChanged, queued);
    connect(&thread_, &GeneratorThread::audioFileLoaded, this, &Generator::audioFileLoaded, queued);
    connect(&thread_, &GeneratorThread::typesChanged, this, &Generator::typesChanged, queued);
    thread_.start();
}

void Generator::setDeviceId(const audio::DeviceInfo::Id &deviceId)
{
    QMetaObject::invokeMethod(
            &thread_, [this, deviceId] { thread_.setDeviceId(deviceId); }, Qt::QueuedConnection);
}

void Generator::setChannels(const QSet<int> &channels)
{
    QMetaObject::invokeMethod(
            &thread_, [this, channels] { thread_.setChannels(channels); }, Qt::QueuedConnection);
}

void Generator::setAudioFilePath(const QString &path)
{
    QMetaObject::invokeMethod(
            &thread_, [this, path] { thread_.setAudioFilePath(path); }, Qt::QueuedConnection);
}
