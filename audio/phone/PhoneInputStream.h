#pragma once

#include "audio/Stream.h"

#include <QElapsedTimer>
#include <QList>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <functional>

class QIODevice;

namespace audio {

class AudioStreamServer;

// A phone's microphone as a steady mono capture stream. Every pump writes to the sink as many
// samples as the time since the previous pump calls for, read from the phone's ring with a
// jitter buffer of about 100 ms. The phone's clock drifts against ours by some parts per
// million: the stream watches its buffer level through a fast and a slow filter and reads the
// ring slightly faster or slower until the level holds. Missing samples become silence and are
// counted; a buffer that grows too large is flushed down to the target.
//
// Lives in the GUI thread with the phone server; the sink is written from there too.
class PhoneInputStream : public Stream
{
    Q_OBJECT
public:
    // Milliseconds on a monotonic clock.
    using Clock = std::function<qint64()>;

    static constexpr int pumpIntervalMs = 10;

    // Without a clock the stream takes the time from a monotonic clock of its own and pumps
    // every 10 ms from its own timer; with one, whoever supplies the clock also calls pump().
    PhoneInputStream(const Format &format, const QString &phoneId, QIODevice *sink,
                     AudioStreamServer *server, Clock clock = {});

    bool prefilling() const { return prefilling_; }
    bool recovering() const { return recovering_; }
    double waterF() const { return waterF_; }
    double waterS() const { return waterS_; }
    double ratePpm() const { return ratePpm_; }
    quint64 underflowSamples() const { return underflowSamples_; }
    quint64 flushEvents() const { return flushEvents_; }

public slots:
    void pump();

private:
    // Prefilling: silence out until the buffer reaches the target (or 5 s pass).
    void prefill(double bufferedMs, double dt, qint64 due);
    void recoverFromUnderflow(double bufferedMs);
    void trackWaterLevel(double bufferedMs, double dt);
    void steerRate(double dt);
    // Reads `due` samples at the steered rate into the block; zeros make up a shortfall.
    void readBlock(qint64 due, double dt);
    void startRecovering();
    void write(qint64 count);
    double targetMs() const;
    double slopePpm() const;
    qint64 rate() const { return qint64(format().sampleRate); }
    void logStatus();
    void onClose();

    const QString phoneId_;
    QPointer<QIODevice> sink_;
    AudioStreamServer *const server_;
    QTimer pumpTimer_;
    QElapsedTimer ownClock_;
    Clock clock_;

    qint64 lastTime_ = 0;
    double sampleCarry_ = 0.0;
    double phase_ = 0.0;
    bool prefilling_ = true;
    bool recovering_ = false;
    double prefillTime_ = 0.0;
    double prefillSum_ = 0.0;
    double prefillWeight_ = 0.0;
    double waterF_ = 100.0;
    double waterS_ = 100.0;
    double ratePpm_ = 0.0;
    double hold_ = 3.0;
    double highTime_ = 0.0;
    bool underflow_ = false;
    double underflowTime_ = 0.0;
    double withheldPpm_ = 0.0;
    quint64 underflowSamples_ = 0;
    quint64 flushEvents_ = 0;
    int pumpCount_ = 0;
    QList<float> block_;
};

} // namespace audio
