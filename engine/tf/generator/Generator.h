#pragma once

#include "audio/DeviceInfo.h"
#include "engine/tf/generator/GeneratorThread.h"

#include <QObject>
#include <QSet>
#include <QVariant>

// The test-signal generator of a measurement, as the session and the screens see it: a facade
// over its playback thread, which starts with the generator and ends with it. All calls belong
// to the GUI thread.
class Generator : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool enabled READ enabled WRITE setEnabled NOTIFY enabledChanged)
    Q_PROPERTY(int type READ type WRITE setType NOTIFY typeChanged)
    // Empty until the playback thread has built its sources; typesChanged tells when.
    Q_PROPERTY(QVariant types READ types NOTIFY typesChanged)
    Q_PROPERTY(QString deviceId READ deviceId WRITE setDeviceId NOTIFY deviceIdChanged)
    Q_PROPERTY(int frequency READ frequency WRITE setFrequency NOTIFY frequencyChanged)
    Q_PROPERTY(int startFrequency READ startFrequency WRITE setStartFrequency NOTIFY
                       startFrequencyChanged)
    Q_PROPERTY(int endFrequency READ endFrequency WRITE setEndFrequency NOTIFY endFrequencyChanged)
    Q_PROPERTY(float gain READ gain WRITE setGain NOTIFY gainChanged)
    Q_PROPERTY(float duration READ duration WRITE setDuration NOTIFY durationChanged)
public:
    // The playback thread's collaborators: the device registry, and where the network output's
    // frames go (see GeneratorThread).
    explicit Generator(std::shared_ptr<audio::Client> client = audio::Client::instance(),
                       audio::NetworkSink *networkSink = nullptr, QObject *parent = nullptr);

    // The playback thread: the measurement takes its loopback samples and rate from it.
    GeneratorThread *generatorThread() { return &thread_; }

    bool enabled() const { return thread_.enabled(); }
    int type() const { return thread_.type(); }
    QVariant types() const { return thread_.getAvailableTypes(); }
    audio::DeviceInfo::Id deviceId() const { return thread_.deviceId(); }
    int frequency() const { return thread_.frequency(); }
    int startFrequency() const { return thread_.startFrequency(); }
    int endFrequency() const { return thread_.endFrequency(); }
    float gain() const { return thread_.gain(); }
    float duration() const { return thread_.duration(); }

public slots:
    void setEnabled(bool enabled) { thread_.setEnabled(enabled); }
    void setType(int type) { thread_.setType(type); }
    void setFrequency(int frequency) { thread_.setFrequency(frequency); }
    void setStartFrequency(int frequency) { thread_.setStartFrequency(frequency); }
    void setEndFrequency(int frequency) { thread_.setEndFrequency(frequency); }
    void setGain(float gain) { thread_.setGain(gain); }
    void setDuration(float duration) { thread_.setDuration(duration); }
    // These three run later, from the GUI event loop.
    void setDeviceId(const audio::DeviceInfo::Id &deviceId);
    void setChannels(const QSet<int> &channels);
    void setAudioFilePath(const QString &path);

signals:
    void enabledChanged(bool enabled);
    void typeChanged();
    void deviceIdChanged(audio::DeviceInfo::Id deviceId);
    void frequencyChanged(int f);
    void startFrequencyChanged(int f);
    void endFrequencyChanged(int f);
    void gainChanged(float gain);
    void durationChanged(float duration);
    void channelsChanged(QSet<int> channels);
    void audioFileLoaded(bool success, QString error);
    void typesChanged();

private:
    GeneratorThread thread_;
};
