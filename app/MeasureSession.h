#pragma once

#include "audio/DeviceInfo.h"
#include "audio/phone/AudioStreamServer.h"
#include "engine/tf/PhoneBlockPath.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class Generator;
class Measurement;

// One measurement run on the chosen sound card: a test-signal generator and a transfer-function
// measurement that takes the generator's own samples (or a second input channel) as its
// reference, with the microphone and sound-card calibration applied. The caller switches the run
// on and off and polls levels, delay, transfer function and impulse response; the session has no
// timer or thread of its own. Everything runs on the GUI thread.
//
// The device questions of the settings screens (names, channels, the preferred input) need no
// session and are static.
class MeasureSession : public QObject
{
    Q_OBJECT
public:
    // The sine sweep's length, in seconds.
    static constexpr float sweepSeconds = 10.0f;
    // With a phone as the microphone the session always plays a sweep, and a shorter one: the
    // phone's samples are measured a whole period at a time out of the phone's ring, and every
    // block read while locked on must still be in what the ring keeps (6 s for its 10 s).
    static constexpr float phoneSweepSeconds = float(
            PhoneBlockPath::longestTrackedSweepSeconds(audio::AudioStreamServer::ringSeconds));
    // The highest microphone channel the settings can choose.
    static constexpr int highestDataChannel = 31;
    // Levels and peaks while nothing measures, and the sound level then.
    static constexpr float silentLevelDb = -120.0f;
    static constexpr float silentSoundLevelDb = -100.0f;

    explicit MeasureSession(QObject *parent = nullptr);
    ~MeasureSession() override;

    // Builds the generator and the measurement on the given devices (empty ids: the preferred
    // input and its duplex or default output), both switched off. The input may be a sound card
    // or a phone connected to the phone-audio server. False, building nothing, when already
    // built or when no usable input device is found. A reference channel of -2 takes
    // the device's default reference; -1 is the generator's own samples.
    bool start(const QString &inputDeviceId, const QString &outputDeviceId, int dataChannel,
               int referenceChannel, float level, int extraOutputChannel);
    // Plays and measures; refuses (deviceFailed) without playing when the input does not have
    // the microphone's channel, or the reference is to be read from an input channel that is
    // not one of its own.
    void resume();
    // True once this session could not measure (deviceFailed was emitted), also when that
    // happened inside resume().
    bool failed() const { return failed_; }
    void stop();
    void teardown();
    void setGeneratorGain(float db);
    void updateDelayEstimate();

    float level() const;
    float peak() const;
    float referenceLevel() const;
    float referencePeak() const;
    float splLevel() const;
    float estimatedDelayMs() const;

    // One value per bin: frequency (Hz), calibrated magnitude (linear), coherence and, when
    // `phase` is given, the phase in degrees (left empty when every bin is exactly zero).
    void transferFunction(QList<float> &freq, QList<float> &magnitude, QList<float> &coherence,
                          QList<float> *phase) const;
    // The impulse response: time (ms) and magnitude of each point.
    void spectrum(QList<float> &timeMs, QList<float> &magnitude) const;

    QString inputDeviceId() const { return inputDeviceId_; }
    QString outputDeviceId() const { return outputDeviceId_; }
    QString inputDeviceName() const { return inputDeviceName_; }
    QString outputDeviceName() const { return outputDeviceName_; }
    int dataChannel() const { return dataChannel_; }
    int referenceChannel() const { return referenceChannel_; }
    int extraOutputChannel() const { return extraOutputChannel_; }
    float generatorLevel() const { return generatorLevel_; }
    int framesDone() const { return framesDone_; }
    double elapsedSeconds() const { return elapsedSeconds_; }
    unsigned sampleRate() const { return sampleRate_; }
    // The input is a phone streaming its microphone.
    bool phoneInput() const { return phoneInput_; }
    // The objects of the run while it is built, for the workflows that tune them; null otherwise.
    Generator *generator() const { return generator_; }
    Measurement *measurement() const { return measurement_; }

    // The microphone channel the session uses for a saved choice; the settings screen shows it
    // where the selected device has it.
    static int usableDataChannel(int savedChannel);
    // Names of every device with input channels, in the audio client's order.
    static QStringList inputDeviceNames();
    // The id of the first device with inputs whose name or id is `nameOrId` (or an id it had
    // before); empty when none.
    static audio::DeviceInfo::Id findDevice(const QString &nameOrId);
    // Input channel names of the device (default input when not found), blank ones numbered.
    static QStringList inputChannelNames(const QString &nameOrId);
    // The saved input device, else a USB audio codec, else the default input device.
    static audio::DeviceInfo::Id preferredInputDevice();
    // 1 when the device (default input for an empty id) has two or more inputs, else -1.
    static int defaultReferenceChannel(const QString &inputDeviceId);

signals:
    void frameReady(int framesDone);
    void levelChanged(float db);
    // The run cannot measure: its input or output failed (did not open, delivers or takes
    // nothing), the test signal cannot be played, the input lacks the microphone's channel, or
    // the reference has no input of its own. A sentence for the user.
    void deviceFailed(QString message);

private:
    void chooseOutputDevice(const QString &requested);
    void buildGenerator();
    void watchGenerator(const QString &audioFile);
    void onOutputNotOpened(const QString &deviceId);
    int generatorType() const;
    QString channelProblem() const;
    QString referenceProblem(int inputs) const;
    QString microphoneProblem(int inputs) const;
    void buildMeasurement();
    void onReadyRead();
    void fail(const QString &message);

    Generator *generator_ = nullptr;
    Measurement *measurement_ = nullptr;
    audio::DeviceInfo::Id inputDeviceId_;
    bool phoneInput_ = false;
    bool failed_ = false;
    audio::DeviceInfo::Id outputDeviceId_;
    QString inputDeviceName_;
    QString outputDeviceName_;
    int dataChannel_ = 0;
    int extraOutputChannel_ = 0;
    int referenceChannel_ = -1;
    float generatorLevel_ = -20.0f;
    int framesDone_ = 0;
    double elapsedSeconds_ = 0.0;
    QElapsedTimer runTimer_;
    unsigned sampleRate_ = 48000;
};
