#pragma once

#include "common/RealTimePublished.h"

#include <QIODevice>
#include <QList>
#include <QString>
#include <array>

class GeneratorThread;

// The base of the test-signal sources: a read-only device that synthesises interleaved 32-bit
// float frames on demand. A subclass makes one mono sample at a time; the base applies the
// fade-in, places the sample on the owner's output channels, hands every sample to the owner's
// loopback sink (the measurement's reference) and reports every finished block (the network
// sender's input) on the reading thread.
//
// The reading thread (a sound card's render thread, or the generator thread for the network
// output) never waits for the threads that configure a source (the generator thread for queued
// slots, the GUI thread for direct calls): settings are published to it, and it takes the
// latest at the start of each block unless a setter is publishing right then, in which case the
// block plays on with the settings before (see realtime::Published). Work that takes long
// (tables, files, syntheses) is done by the setters; the reading thread only reads.
class OutputDevice : public QIODevice
{
    Q_OBJECT
public:
    explicit OutputDevice(GeneratorThread *owner, QObject *parent = nullptr);

    QString name() const;
    // Linear.
    float gain() const;
    int sampleRate() const;
    int channelCount() const;

    // Always unbuffered: a buffered read would synthesise (and report as played) far more than
    // the caller asked for.
    bool open(OpenMode mode) override;
    void close() override;

signals:
    void sampleError();
    void blockOut(const float *data, qlonglong frames, int channels, int sampleRate);

public slots:
    virtual void setSamplerate(int sampleRate);
    void setGain(float gaindB);
    void setChanelCount(int count);
    void setFadeDuration(float seconds);
    void resetFadeIn();

protected:
    // On the reading thread at the start of every block, after the base has taken its settings:
    // a subclass takes its own here.
    virtual void beginBlock() { }
    // The next mono sample, gain included. Runs on the reading thread.
    virtual float sample();

    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 size) override;

    // What the block being read plays with; on the reading thread only.
    float playingGain() const { return settings_.current().gain; }
    int playingRate() const { return settings_.current().sampleRate; }
    void setName(const QString &name);

private:
    struct Settings
    {
        int sampleRate = 0;
        int channelCount = 1;
        float gain = 1.0f; // linear
        float fadeDuration = 1.0f;
        QList<float> fadeTable; // empty: no fade
        int fadeRestarts = 0; // resetFadeIn() calls so far
    };

    // Applies `change` to the fade's parameters with the table they call for, built beforehand
    // (unless another change came first and builds its own).
    template<typename Change>
    void changeFade(Change change);
    void restartFadeIfAsked(const Settings &settings);

    GeneratorThread *const owner_;
    QString name_ = QStringLiteral("Silent");
    realtime::Published<Settings> settings_;

    // The reading thread's own.
    int fadePosition_ = 0;
    float fadeGain_ = 1.0f;
    int fadeRestartsSeen_ = 0;
    // Looped-back samples gathered for the sink, handed on whenever full and at the block's end.
    std::array<float, 256> loopedBack_{};
};
