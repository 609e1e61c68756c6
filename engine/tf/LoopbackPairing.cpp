#include "engine/tf/LoopbackPairing.h"

#include "common/Log.h"

#include <QStringList>
#include <algorithm>
#include <cmath>
#include <utility>

namespace {

const char *const tag = "[Measurement]";
// The sound shows the recording's lag to the sample: readings closer than this stand at one
// place, and a move smaller than this is none.
constexpr double soundPrecisionSeconds = 0.001;

double seconds(audio::StreamTiming::Clock::time_point t)
{
    return std::chrono::duration<double>(t.time_since_epoch()).count();
}

long milliseconds(double s)
{
    return std::lround(s * 1000.0);
}

// "the output plays 250 ms later", for a stream whose origin moved by `moved` seconds.
QString moveOf(const char *stream, double moved)
{
    return QString("%1 %2 ms %3")
            .arg(stream)
            .arg(std::abs(milliseconds(moved)))
            .arg(moved > 0.0 ? "later" : "earlier");
}

} // namespace

void LoopbackPairing::Sightings::clear()
{
    deviceCount_ = 0;
    handed_.reset();
    reach_ = 0.0;
}

void LoopbackPairing::Sightings::add(const StreamAnchor &anchor, double rate, bool render)
{
    const audio::StreamTiming &t = anchor.timing;
    const double index = double(anchor.index);
    // A render block's sound leaves after what is queued; a capture block's was captured before.
    const double latency = double(render ? t.latencyFrames : -t.latencyFrames);
    const double handed = seconds(t.at) + (latency - index) / rate;
    // A block handed on late looks captured late, and a latency seen a while before a block was
    // read makes it look heard late: the earliest is the one that waited least.
    handed_ = handed_ ? std::min(*handed_, handed) : handed;
    reach_ = std::max(reach_, double(t.reachFrames) / rate);
    lastLatencyFrames_ = t.latencyFrames;
    if (t.deviceAt && deviceCount_ < deviceOrigins_.size()) {
        deviceOrigins_[deviceCount_++] = seconds(*t.deviceAt) - index / rate;
        lastLatencyFrames_ = std::llround(std::abs(seconds(*t.deviceAt) - seconds(t.at)) * rate);
    }
}

double LoopbackPairing::Sightings::origin() const
{
    if (deviceCount_ == 0)
        return *handed_;
    // The clocks wander a little both ways; the middle of a second's readings holds.
    std::array<double, 64> sorted = deviceOrigins_;
    const auto middle = sorted.begin() + std::ptrdiff_t(deviceCount_ / 2);
    std::nth_element(sorted.begin(), middle, sorted.begin() + std::ptrdiff_t(deviceCount_));
    return *middle;
}

void LoopbackPairing::restart(uint64_t nextPair)
{
    paired_ = false;
    lastSecond_.reset();
    refusing_ = false;
    startingSecond_ = true;
    pairedSound_.reset();
    lastSound_.reset();
    startWindow(nextPair);
}

void LoopbackPairing::inputLost(int64_t frames, uint64_t nextPair, double inputRate)
{
    // The blocks before the gap tell nothing of the pairing after it.
    startWindow(nextPair);
    lastSecond_.reset();
    lastSound_.reset();
    if (frames < 0) {
        paired_ = false;
        pairedSound_.reset();
    } else if (inputRate > 0.0) {
        pairedCapture_ += double(frames) / inputRate;
    }
}

void LoopbackPairing::startWindow(uint64_t nextPair)
{
    capture_.clear();
    render_.clear();
    windowStart_ = nextPair;
}

std::optional<double> LoopbackPairing::step(const std::optional<StreamAnchor> &capture,
                                            const std::optional<StreamAnchor> &render,
                                            const Counts &counts, Rates rates,
                                            std::optional<double> soundLag)
{
    if (capture)
        capture_.add(*capture, rates.input, false);
    if (render)
        render_.add(*render, rates.loopback, true);
    if (capture_.empty() || render_.empty() || !secondComplete(counts.nextPair, rates.input))
        return std::nullopt;
    const Estimate e = estimate();
    startWindow(counts.nextPair);
    // While the streams start, a sound server reports its latency before it holds: whatever the
    // first second says is not to be agreed with.
    if (std::exchange(startingSecond_, false))
        return std::nullopt;
    const double held = heldFor(e, counts, rates);
    if (!plausible(e, held)) {
        refuse(e, held);
        return std::nullopt;
    }
    refusing_ = false;
    // The clocks wander by a few milliseconds on a busy machine, and a whole second of blocks
    // can be seen at a bad moment (a stream refilled after it ran dry, a server's first
    // reports): the pairing is made, or moved, only when two seconds in a row agree.
    const std::optional<Estimate> agreed = earlierOfTwoAgreeing(e);
    // The lead the reference has now.
    const double current
            = counts.pairedPosition / rates.loopback - double(counts.nextPair) / rates.input;
    const std::optional<double> move
            = agreed ? moveTo(*agreed, current, soundLag, rates) : std::nullopt;
    if (move) {
        // What the sound showed was read before this move.
        lastSound_.reset();
        return *move * rates.loopback;
    }
    keepSound(soundLag, e.lead() - current);
    return std::nullopt;
}

std::optional<double> LoopbackPairing::moveTo(const Estimate &agreed, double current,
                                              std::optional<double> soundLag, Rates rates)
{
    const double timingMove = agreed.lead() - current;
    const std::optional<double> steady = steadySound(soundLag);
    if (!paired_) {
        pair(agreed, timingMove, rates, steady);
        return timingMove;
    }
    if (std::abs(timingMove) <= toleranceSeconds) {
        unheeding_ = false;
        return std::nullopt;
    }
    if (!pairedSound_) {
        repair(agreed, timingMove, timingMove);
        return timingMove;
    }
    // While the sound moves from one place to another, or cannot be read yet (the pairs since
    // the last move are too few, or the recording is unrelated noise), a later second tells.
    if (!steady)
        return std::nullopt;
    const std::optional<double> heard = heardMove(timingMove, *steady);
    if (!heard) {
        leaveUnheeded(timingMove, *steady);
        return std::nullopt;
    }
    repair(agreed, *heard, timingMove);
    return heard;
}

std::optional<double> LoopbackPairing::steadySound(std::optional<double> soundLag) const
{
    if (!soundLag || !lastSound_ || std::abs(*soundLag - *lastSound_) > soundPrecisionSeconds)
        return std::nullopt;
    return soundLag;
}

std::optional<double> LoopbackPairing::heardMove(double timingMove, double soundLag) const
{
    // A recording that lags its reference by more than it did needs an earlier reference.
    const double heard = *pairedSound_ - soundLag;
    if (std::abs(heard) <= soundPrecisionSeconds || heard * timingMove < 0.0)
        return std::nullopt;
    return heard;
}

void LoopbackPairing::keepSound(std::optional<double> soundLag, double timingMove)
{
    const std::optional<double> last = std::exchange(lastSound_, soundLag);
    if (!paired_ || !soundLag)
        return;
    if (!pairedSound_) {
        pairedSound_ = soundLag;
        return;
    }
    // Where this second's timing would put the recording against its reference, beside where
    // the pairing put it: a stream that really moved moves the timing and the sound alike, so
    // what is left is the timing's own wander.
    if (last && std::abs(*soundLag - *last) <= soundPrecisionSeconds)
        wander_ = std::max(wander_, std::abs(*soundLag - *pairedSound_ + timingMove));
}

void LoopbackPairing::reportWander() const
{
    if (wander_ >= soundPrecisionSeconds)
        sntWarning(lcMeasurement, tag)
                << "the streams' timing wandered by up to" << milliseconds(wander_)
                << "ms against the sound while the loopback was paired: the delay read may be"
                << "off by as much";
}

LoopbackPairing::Estimate LoopbackPairing::estimate() const
{
    Estimate e;
    e.capture = capture_.origin();
    e.render = render_.origin();
    e.bound = capture_.reach() + render_.reach() + marginSeconds;
    e.deviceTimed = capture_.deviceTimed() || render_.deviceTimed();
    return e;
}

double LoopbackPairing::heldFor(const Estimate &e, const Counts &counts, Rates rates)
{
    // The loopback sample the newest pair would be paired with, against the newest loopback
    // sample; both streams have just handed them over.
    const double paired = (e.lead() + double(counts.pairsIn) / rates.input) * rates.loopback;
    return (double(counts.loopbackIn) - paired) / rates.loopback;
}

bool LoopbackPairing::plausible(const Estimate &e, double held)
{
    return held >= -marginSeconds && held <= e.bound;
}

void LoopbackPairing::refuse(const Estimate &e, double held)
{
    // Agreement starts again after a misreading.
    lastSecond_.reset();
    if (std::exchange(refusing_, true))
        return;
    sntWarning(lcMeasurement, tag)
            << "loopback pairing left as it is: the streams' timing would pair the"
            << "recording with loopback samples that came in" << std::abs(milliseconds(held))
            << "ms" << (held < 0.0 ? "after" : "before") << "it, where the devices hold a sample"
            << milliseconds(e.bound)
            << "ms at most; a misreading, decided again from the next second";
}

std::optional<LoopbackPairing::Estimate> LoopbackPairing::earlierOfTwoAgreeing(const Estimate &e)
{
    const std::optional<Estimate> previous = std::exchange(lastSecond_, e);
    if (!previous || std::abs(e.lead() - previous->lead()) > toleranceSeconds)
        return std::nullopt;
    // A sound server smooths the latency it reports, and on a busy machine that estimate wanders
    // off by milliseconds over a stream's first seconds before it slowly comes back: of two
    // seconds that agree, the earlier was read nearer the stream's start, and has wandered least.
    return previous;
}

void LoopbackPairing::pair(const Estimate &e, double move, Rates rates,
                           std::optional<double> steadySound)
{
    paired_ = true;
    pairedCapture_ = e.capture;
    pairedRender_ = e.render;
    // A reference moved to later samples by `move` makes the recording lag it by as much more.
    // Before the pairing the lag can lie beyond what the sound's reading reaches, which then
    // shows it a whole window of pairs off; the lag it would show now lies beyond that reach,
    // and the first reading after the pairing tells instead.
    const std::optional<double> after
            = steadySound ? std::optional(*steadySound + move) : std::nullopt;
    const bool readable = after && std::abs(*after) * rates.input < soundReachPairs_;
    pairedSound_ = readable ? after : std::nullopt;
    unheeding_ = false;
    wander_ = 0.0;
    sntInfo(lcMeasurement, tag) << "loopback paired with the recording: output latency"
                                << render_.lastLatencyFrames() << "frames, reference moved by"
                                << std::lround(-move * rates.loopback)
                                << "samples, two seconds in a row"
                                << (e.deviceTimed
                                            ? "timed by the devices' clocks"
                                            : "timed by the hand-over (the devices tell no time)");
}

void LoopbackPairing::repair(const Estimate &e, double move, double timingMove)
{
    QStringList why;
    if (const double output = e.render - pairedRender_; std::abs(output) >= 0.001)
        why << moveOf("the output plays", output);
    if (const double input = e.capture - pairedCapture_; std::abs(input) >= 0.001)
        why << moveOf("the input records", input);
    pairedCapture_ = e.capture;
    pairedRender_ = e.render;
    unheeding_ = false;
    const QString by = move == timingMove
                               ? QString("the streams' timing moved the reference by %1 ms,")
                                         .arg(milliseconds(-move))
                               : QString("the sound moved the reference by %1 ms (the streams' "
                                         "timing by %2 ms),")
                                         .arg(milliseconds(-move))
                                         .arg(milliseconds(-timingMove));
    sntWarning(lcMeasurement, tag)
            << "loopback re-paired:" << by << "two seconds in a row:"
            << (why.isEmpty() ? QString("the streams drifted") : why.join(" and "));
}

void LoopbackPairing::leaveUnheeded(double timingMove, double soundLag)
{
    if (std::exchange(unheeding_, true))
        return;
    sntWarning(lcMeasurement, tag)
            << "loopback pairing left as it is: the streams' timing moved the reference by"
            << milliseconds(-timingMove) << "ms, two seconds in a row, but the sound moved it by"
            << milliseconds(soundLag - *pairedSound_)
            << "ms - the timing wanders, the pairing follows it only where the sound moves too";
}
