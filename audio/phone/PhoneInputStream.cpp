#include "audio/phone/PhoneInputStream.h"

#include "audio/phone/AudioStreamServer.h"
#include "common/Log.h"

#include <QIODevice>
#include <algorithm>
#include <cmath>

namespace audio {
namespace {

const char *const tag = "[PhoneAudio]";

constexpr qint64 jitterBufferMs = 100;
constexpr qint64 maxPumpMs = 200;
constexpr double normalTargetMs = 100.0;
constexpr double recoveringTargetMs = 350.0;
constexpr double maxPrefillSeconds = 5.0;
constexpr double minPrefillWeight = 0.2;
constexpr double holdSeconds = 3.0;
constexpr double fastFilterSeconds = 3.0;
constexpr double slowFilterSeconds = 12.0;
constexpr double flushAboveMs = 1000.0;
constexpr double highMarginMs = 200.0;
constexpr double maxHighSeconds = 2.0;
constexpr double refillAboveMs = 50.0;
constexpr double shortUnderflowSeconds = 0.05;
constexpr double maxRatePpm = 2000.0;
constexpr double maxSlopePpm = 4500.0;
constexpr double steeringSeconds = 15.0;
constexpr double maxSteeringPpmPerSecond = 100.0;
constexpr double underflowBackoffPpm = 20.0;
constexpr int pumpsPerStatusLog = 1000;

double clampPpm(double ppm)
{
    return std::clamp(ppm, -maxRatePpm, maxRatePpm);
}

QString shortId(const QString &id)
{
    return id.left(8) + "...";
}

} // namespace

PhoneInputStream::PhoneInputStream(const Format &format, const QString &phoneId, QIODevice *sink,
                                   AudioStreamServer *server, Clock clock)
    : Stream(format)
    , phoneId_(phoneId)
    , sink_(sink)
    , server_(server)
    , pumpTimer_(this)
    , clock_(std::move(clock))
{
    // Start from the newest 100 ms: older samples would only be flushed later.
    server_->consume(phoneId_, rate() * jitterBufferMs / 1000);
    if (!clock_) {
        ownClock_.start();
        clock_ = [this] {
            return ownClock_.elapsed();
        };
        pumpTimer_.setInterval(pumpIntervalMs);
        connect(&pumpTimer_, &QTimer::timeout, this, &PhoneInputStream::pump);
        pumpTimer_.start();
    }
    lastTime_ = clock_();
    connect(this, &Stream::closeMe, this, &PhoneInputStream::onClose);
}

void PhoneInputStream::onClose()
{
    pumpTimer_.stop();
    if (sink_)
        sink_->close();
    sntInfo(lcPhone, tag) << "input stream closed:" << shortId(phoneId_)
                          << "underflowSamples:" << underflowSamples_
                          << "flushEvents:" << flushEvents_;
    deleteLater();
}

void PhoneInputStream::pump()
{
    if (rate() == 0)
        return;
    const qint64 now = clock_();
    const qint64 elapsedMs = std::max<qint64>(now - lastTime_, 1);
    lastTime_ = now;
    const double dt = double(elapsedMs) / 1000.0;

    // What a longer stall owes beyond 200 ms is lost, not carried into later pumps.
    const double owed = double(elapsedMs) * double(rate()) / 1000.0 + sampleCarry_;
    const double whole = std::floor(owed);
    const qint64 due = std::min(qint64(whole), rate() * maxPumpMs / 1000);
    sampleCarry_ = owed - whole;

    const double bufferedMs = double(server_->available(phoneId_)) * 1000.0 / double(rate());
    if (prefilling_) {
        prefill(bufferedMs, dt, due);
        return;
    }
    recoverFromUnderflow(bufferedMs);
    trackWaterLevel(bufferedMs, dt);
    steerRate(dt);
    readBlock(due, dt);
    write(due);
    if (++pumpCount_ >= pumpsPerStatusLog) {
        pumpCount_ = 0;
        logStatus();
    }
}

void PhoneInputStream::prefill(double bufferedMs, double dt, qint64 due)
{
    prefillTime_ += dt;
    if (bufferedMs >= targetMs() || prefillTime_ > maxPrefillSeconds) {
        prefilling_ = false;
        const double level
                = prefillWeight_ > minPrefillWeight ? prefillSum_ / prefillWeight_ : bufferedMs;
        waterF_ = waterS_ = level;
        hold_ = holdSeconds;
    } else {
        prefillSum_ += bufferedMs * dt;
        prefillWeight_ += dt;
    }
    block_.fill(0.0f, std::max(block_.size(), due));
    write(due);
}

void PhoneInputStream::recoverFromUnderflow(double bufferedMs)
{
    if (!underflow_ || bufferedMs <= refillAboveMs)
        return;
    // A long underflow took rate away for nothing: give it back and start the filters afresh.
    if (underflowTime_ > shortUnderflowSeconds) {
        ratePpm_ = clampPpm(ratePpm_ + withheldPpm_);
        waterF_ = waterS_ = bufferedMs;
        hold_ = holdSeconds;
    }
    underflow_ = false;
    underflowTime_ = 0.0;
    withheldPpm_ = 0.0;
}

void PhoneInputStream::trackWaterLevel(double bufferedMs, double dt)
{
    waterF_ += (bufferedMs - waterF_) * dt / fastFilterSeconds;
    waterS_ += (bufferedMs - waterS_) * dt / slowFilterSeconds;
    const double target = targetMs();
    highTime_ = waterF_ > target + highMarginMs ? highTime_ + dt : 0.0;
    if (bufferedMs > flushAboveMs || highTime_ > maxHighSeconds) {
        server_->consume(phoneId_, qint64(std::floor(double(rate()) * target / 1000.0)));
        ++flushEvents_;
        highTime_ = 0.0;
        waterF_ = waterS_ = target;
        hold_ = holdSeconds;
    }
}

void PhoneInputStream::steerRate(double dt)
{
    if (hold_ > 0.0)
        hold_ = std::max(hold_ - dt, 0.0);
    const double slope = slopePpm();
    if (hold_ > 0.0 || std::abs(slope) > maxSlopePpm)
        return;
    const double step = std::clamp(slope * dt / steeringSeconds, -maxSteeringPpmPerSecond * dt,
                                   maxSteeringPpmPerSecond * dt);
    ratePpm_ = clampPpm(ratePpm_ + step);
}

double PhoneInputStream::slopePpm() const
{
    // The fast filter follows a trend of the buffer 9 s sooner than the slow one: their distance
    // in ms over 9 s is the clock difference in ppm.
    return (waterF_ - waterS_) / (slowFilterSeconds - fastFilterSeconds) * 1000.0;
}

double PhoneInputStream::targetMs() const
{
    return recovering_ ? recoveringTargetMs : normalTargetMs;
}

void PhoneInputStream::readBlock(qint64 due, double dt)
{
    if (block_.size() < due)
        block_.resize(due);
    const double ratio = 1.0 + ratePpm_ * 1e-6;
    const qint64 got = server_->readResampled(phoneId_, block_.data(), due, ratio, &phase_);
    if (got >= due)
        return;
    std::fill(block_.begin() + got, block_.end(), 0.0f);
    underflowTime_ += dt;
    underflow_ = true;
    underflowSamples_ += quint64(due - got);
    if (hold_ > 0.0 && !recovering_) {
        // The samples already taken from the ring still go out, then the buffer refills.
        startRecovering();
    } else if (underflowTime_ <= shortUnderflowSeconds) {
        ratePpm_ = clampPpm(ratePpm_ - underflowBackoffPpm);
        withheldPpm_ += underflowBackoffPpm;
    }
}

void PhoneInputStream::startRecovering()
{
    prefilling_ = true;
    recovering_ = true;
    prefillTime_ = prefillSum_ = prefillWeight_ = 0.0;
    underflow_ = false;
    underflowTime_ = 0.0;
    withheldPpm_ = 0.0;
}

void PhoneInputStream::write(qint64 count)
{
    if (count > 0 && sink_ && sink_->isWritable())
        sink_->write(reinterpret_cast<const char *>(block_.constData()),
                     count * qint64(sizeof(float)));
}

void PhoneInputStream::logStatus()
{
    const auto oneDecimal = [](double value) {
        return QString::number(value, 'f', 1);
    };
    sntInfo(lcPhone, tag) << "pump" << shortId(phoneId_)
                          << "buffered:" << server_->available(phoneId_) * 1000 / rate() << "ms"
                          << "waterF:" << oneDecimal(waterF_) << "waterS:" << oneDecimal(waterS_)
                          << "slopePpm:" << oneDecimal(slopePpm())
                          << "ratePpm:" << oneDecimal(ratePpm_)
                          << "underflowSamples:" << underflowSamples_
                          << "flushEvents:" << flushEvents_;
}

} // namespace audio
