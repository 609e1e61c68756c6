#pragma once

#include <QIODevice>
#include <QList>
#include <QMutex>
#include <QString>
#include <vector>

class GeneratorThread;

// The base of the test-signal sources: a read-only device that synthesises interleaved 32-bit
// float frames on demand. A subclass makes one mono sample at a time; the base applies the
// fade-in, places the sample on the owner's output channels, and reports every sample (the
// measurement's loopback reference) and every finished block (the network sender's input) on
// the reading thread.
//
// The reading thread (a sound card's render thread, or the generator thread for the network
// output) and the threads that configure a source (the generator thread for queued slots, the
// GUI thread for direct calls) meet on one lock per source: readData holds it for the whole
// block, every setter for its short update. Work that takes long (tables, files, syntheses) is
// done before the lock is taken and swapped in under it, and what it replaces is freed after,
// so a render thread never waits for it.
class OutputDevice : public QIODevice
{
    Q_OBJECT
public:
    explicit OutputDevice(GeneratorThread *owner, QObject *parent = nullptr);

    QString name() const;
    float gain() const;
    int sampleRate() const;
    int channelCount() const;

    // Always unbuffered: a buffered read would synthesise (and report as played) far more than
    // the caller asked for.
    bool open(OpenMode mode) override;
    void close() override;

signals:
    void sampleError();
    void sampleOut(float sample);
    void blockOut(const float *data, qlonglong frames, int channels, int sampleRate);

public slots:
    virtual void setSamplerate(int sampleRate);
    void setGain(float gaindB);
    void setChanelCount(int count);
    void setFadeDuration(float seconds);
    void resetFadeIn();

protected:
    // The next mono sample, gain included. Runs on the reading thread with the state lock held.
    virtual float sample();

    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 size) override;

    // Guards every field a subclass reads in sample().
    QMutex &stateLock() const { return stateLock_; }
    // Both read with the state lock held.
    float gainLocked() const { return gain_; }
    int sampleRateLocked() const { return sampleRate_; }
    void setName(const QString &name);

private:
    // Applies `change` to the fade's parameters, then builds the table they call for outside
    // the lock and swaps it in (unless another change came first and built its own).
    template<typename Change>
    void changeFade(Change change);

    GeneratorThread *const owner_;
    QString name_ = QStringLiteral("Silent");
    int sampleRate_ = 0;
    int channelCount_ = 1;
    std::vector<char> carries_ = std::vector<char>(1); // which channels of a frame carry the signal
    float gain_ = 1.0f;
    float fadeDuration_ = 1.0f;
    int fadePosition_ = 0;
    QList<float> fadeTable_;
    float fadeGain_ = 1.0f;
    mutable QMutex stateLock_;
};
