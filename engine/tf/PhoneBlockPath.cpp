#include "engine/tf/PhoneBlockPath.h"

#include "engine/tf/SweepTemplate.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

std::string number(double value, int decimals)
{
    // No "-0.0" for a value that rounds to zero.
    if (std::abs(value) < 0.5 * std::pow(10.0, -decimals))
        value = 0.0;
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// x mod period, made non-negative.
double wrap(double x, double period)
{
    const double r = std::fmod(x, period);
    return r < 0.0 ? r + period : r;
}

} // namespace

PhoneBlockPath::PhoneBlockPath(NoiseMaker periodicNoise)
    : periodicNoise_(std::move(periodicNoise))
{ }

void PhoneBlockPath::reset()
{
    status_ = BlockStatus::NoPhone;
    tracking_ = false;
    nextExpectedStart_ = 0;
    drift_ = 1.0;
    templateLength_ = 0;
    generatorWasRunning_ = false;
    validBlocks_ = voidedBlocks_ = 0;
    runComplete_ = false;
    refusedLength_ = 0;
    baseline_.reset();
    delayMs_ = 0.0f;
    lastPpm_ = 0.0f;
}

PhoneBlockPath::Step PhoneBlockPath::step(const PhoneSamples &phone, const Generator &generator,
                                          const Settings &settings,
                                          std::atomic<int64_t> &firstLoopbackMs)
{
    Step out;
    if (!phone.connected()) {
        tracking_ = false;
        setStatus(BlockStatus::NoPhone);
        return out;
    }
    const bool periodic = generator.type == periodicNoiseType;
    if (generator.running && !generatorWasRunning_)
        onGeneratorStarted(periodic, firstLoopbackMs);
    generatorWasRunning_ = generator.running;
    if (!generator.running) {
        if (!runComplete_)
            setStatus(BlockStatus::NotPlaying);
        return out;
    }
    if (runComplete_) {
        setStatus(BlockStatus::RunComplete);
        return out;
    }
    if (generator.sampleRate == 0) {
        setStatus(BlockStatus::NotPlaying);
        return out;
    }
    if (!periodic
        && (generator.type != sweepType
            || std::abs(generator.endFrequency - generator.startFrequency) < 1.0f)) {
        setStatus(BlockStatus::UnusableSignal);
        return out;
    }
    out.generatorRate = generator.sampleRate;

    Block block;
    block.periodic = periodic;
    block.phoneRate = phone.sampleRate();
    block.generatorRate = generator.sampleRate;
    block.ratio = double(block.phoneRate) / double(block.generatorRate);
    block.templateLength = periodic ? periodicNoiseLength
                                    : sweepLength(generator.duration, generator.sampleRate);
    if (!periodic && block.templateLength < minSweepLength) {
        setStatus(BlockStatus::NotPlaying);
        return out;
    }
    if (block.templateLength != templateLength_) {
        tracking_ = false;
        templateLength_ = block.templateLength;
    }
    block.window = int64_t(std::floor(double(block.templateLength) * block.ratio * drift_ + 0.5));
    block.margin = block.window / 4;
    const int64_t longestRead = maxReadSeconds * int64_t(block.phoneRate);
    block.length = std::min(block.window + 2 * block.margin, longestRead);
    updateTemplate(generator, settings, periodic);
    if (block.length
        < BlockAligner::minimumBlock(block.templateLength, block.phoneRate, block.generatorRate)) {
        refuseLongSweep(block, longestRead, out);
        return out;
    }

    if (!placeBlock(phone, block) || !readBlock(phone, block, out))
        return out;
    const BlockAlignment alignment = aligner_.align(readBuffer_.data(), std::size_t(block.length),
                                                    block.phoneRate, block.generatorRate);
    if (!alignment.ok) {
        alignmentFailed(alignment, out);
        return out;
    }
    const bool accepted = periodic || judge(alignment, out);
    if (accepted)
        measure(settings, out);
    drift_ = alignment.drift;
    tracking_ = true;
    nextExpectedStart_
            = block.start + alignment.coarseLag
              + int64_t(std::floor(double(block.templateLength) * block.ratio * drift_ + 0.5));
    if (accepted) {
        ++validBlocks_;
        delayMs_ = float(double(analysis_.peakLag()) * 1000.0 / double(block.generatorRate));
        checkWallClock(phone, block, alignment, firstLoopbackMs.load(), out);
    }
    lastPpm_ = float(alignment.ppm);
    if (!periodic && validBlocks_ >= runBlocks) {
        runComplete_ = true;
        setStatus(BlockStatus::RunComplete);
        out.log.push_back({false, "本轮完成: 有效 " + std::to_string(validBlocks_) + " / 作废 "
                                          + std::to_string(voidedBlocks_)});
        out.runCompleted = true;
    } else {
        setStatus(BlockStatus::Measuring);
    }
    out.delayChanged = true;
    return out;
}

void PhoneBlockPath::onGeneratorStarted(bool periodic, std::atomic<int64_t> &firstLoopbackMs)
{
    tracking_ = false;
    firstLoopbackMs.store(-1);
    if (runComplete_ || periodic) {
        validBlocks_ = voidedBlocks_ = 0;
        runComplete_ = false;
    }
    if (periodic)
        baseline_.clear();
}

void PhoneBlockPath::updateTemplate(const Generator &generator, const Settings &settings,
                                    bool periodic)
{
    const TemplateKey key{periodic,
                          generator.startFrequency,
                          generator.endFrequency,
                          generator.duration,
                          float(std::pow(10.0, generator.gainDb / 20.0)) * settings.offset,
                          generator.sampleRate};
    if (key == templateKey_ && !aligner_.templateSamples().empty())
        return;
    templateKey_ = key;
    std::vector<float> samples
            = periodic ? periodicNoise_(periodicNoiseLength, periodicNoiseSeed, key.amplitude)
                       : sweepTemplate(key.start, key.end, key.duration, key.amplitude, key.rate);
    analysis_.setTemplate(samples);
    welch_.setTemplate(samples, samples.size(), key.rate);
    aligner_.setTemplate(std::move(samples));
}

void PhoneBlockPath::refuseLongSweep(const Block &block, int64_t longestRead, Step &out)
{
    // Waiting would never help: no read the phone's ring can hold covers a period and a quarter.
    if (status_ != BlockStatus::NotPlaying || refusedLength_ != block.templateLength) {
        const double seconds = double(block.templateLength) / block.generatorRate;
        const double longest
                = double(longestRead) / (1.25 * block.ratio * drift_) / block.generatorRate;
        out.log.push_back({false, "扫频过长: " + number(seconds, 1) + " s 超出手机采集可对齐的上限 "
                                          + number(longest, 1) + " s，无法测量"});
    }
    refusedLength_ = block.templateLength;
    setStatus(BlockStatus::NotPlaying);
}

bool PhoneBlockPath::placeBlock(const PhoneSamples &phone, Block &block)
{
    block.writeIndex = phone.writeIndex();
    const auto w = int64_t(block.writeIndex);
    if (w == 0) {
        tracking_ = false;
        setStatus(BlockStatus::Waiting);
        return false;
    }
    if (tracking_) {
        if (w < nextExpectedStart_ || nextExpectedStart_ < block.margin) {
            tracking_ = false;
            return false;
        }
        if (w - nextExpectedStart_ < block.window + block.margin)
            return false;
        block.start = nextExpectedStart_ - block.margin;
        return true;
    }
    if (w < block.length) {
        setStatus(BlockStatus::Waiting);
        return false;
    }
    block.start = w - block.length;
    return true;
}

bool PhoneBlockPath::readBlock(const PhoneSamples &phone, const Block &block, Step &out)
{
    readBuffer_.resize(std::size_t(block.length));
    const int result = phone.read(uint64_t(block.start), block.length, readBuffer_.data());
    if (result == PhoneSamples::Copied)
        return true;
    if (result == PhoneSamples::NotYetWritten)
        return false;
    if (!tracking_) {
        setStatus(BlockStatus::Waiting);
        return false;
    }
    if (result == PhoneSamples::CrossesGap)
        voidBlock(BlockStatus::VoidedGap, "sampleIndex 有洞", out);
    else
        voidBlock(BlockStatus::VoidedOverwritten, "被覆盖/重连", out);
    return false;
}

void PhoneBlockPath::voidBlock(BlockStatus status, const std::string &reason, Step &out)
{
    ++voidedBlocks_;
    tracking_ = false;
    setStatus(status);
    out.log.push_back({false, "作废块: " + reason + " " + counts()});
}

std::string PhoneBlockPath::counts() const
{
    return "(有效 " + std::to_string(validBlocks_) + " / 作废 " + std::to_string(voidedBlocks_)
           + ")";
}

void PhoneBlockPath::alignmentFailed(const BlockAlignment &alignment, Step &out)
{
    if (!tracking_) {
        setStatus(alignment.reason == BlockAlignment::Silence ? BlockStatus::Interrupted
                                                              : BlockStatus::Waiting);
        return;
    }
    switch (alignment.reason) {
    case BlockAlignment::CorrelationUnreliable:
        voidBlock(BlockStatus::VoidedCorrelation, "相关峰不可信", out);
        break;
    case BlockAlignment::RatioOutOfRange:
        voidBlock(BlockStatus::VoidedRatio, "重采样比例超限", out);
        break;
    case BlockAlignment::Silence:
        voidBlock(BlockStatus::Interrupted, "信号中断（手机采集静默）", out);
        break;
    default:
        voidBlock(BlockStatus::VoidedCorrelation, "输入尺寸异常", out);
        break;
    }
}

bool PhoneBlockPath::judge(const BlockAlignment &alignment, Step &out)
{
    const double score = welch_.score(aligner_.aligned().data());
    const BlockBaseline::Judgement judgement = baseline_.judge(score, alignment.ppm);
    if (judgement.verdict == BlockBaseline::Verdict::Accepted)
        return true;
    const char *why = judgement.verdict == BlockBaseline::Verdict::PpmJump
                              ? "跳过块: ppm 突变否决"
                              : "跳过块: 块相干低于基线";
    out.log.push_back({false, std::string(why) + " 分数 " + number(score, 3) + " 基准 "
                                      + number(judgement.median, 3) + " ppm "
                                      + number(alignment.ppm, 1) + " 上次 "
                                      + number(judgement.lastPpm, 1) + " (已跳过 "
                                      + std::to_string(baseline_.totalSkipped()) + ")"});
    if (judgement.baselineCleared)
        out.log.push_back({false, "连续跳过 5 块: 清空块相干基线重新积累"});
    return false;
}

void PhoneBlockPath::measure(const Settings &settings, Step &out)
{
    const std::vector<float> &aligned = aligner_.aligned();
    const float gain = settings.polarity ? -settings.gain : settings.gain;
    measured_.resize(aligned.size());
    for (std::size_t k = 0; k < aligned.size(); ++k)
        measured_[k] = std::isfinite(aligned[k]) ? aligned[k] * gain : 0.0f;
    analysis_.analyse(measured_.data(), settings.fftSize);
    out.measuredSamples = int64_t(measured_.size());
}

void PhoneBlockPath::checkWallClock(const PhoneSamples &phone, const Block &block,
                                    const BlockAlignment &alignment, int64_t firstLoopbackMs,
                                    Step &out)
{
    // Where the period started by the wall clock (the newest sample's arrival, less the samples
    // after the period's start) against where the generator's first period started: apart from
    // the residual delay, the two should agree modulo the period.
    const int64_t arrived = phone.lastPacketTimeMs();
    if (arrived <= 0 || firstLoopbackMs <= 0)
        return;
    const double periodMs = double(block.templateLength) * 1000.0 / block.generatorRate;
    const double lag = double(int64_t(block.writeIndex) - (block.start + alignment.coarseLag));
    const double wallClock = wrap(
            double(arrived) - lag * 1000.0 / block.phoneRate - double(firstLoopbackMs), periodMs);
    const double deviation = wrap(wallClock - delayMs_ + periodMs / 2.0, periodMs) - periodMs / 2.0;
    if (std::abs(deviation) > periodMs / 4.0)
        out.log.push_back({true, "墙钟/内容延时偏差异常: " + number(deviation, 1) + " ms (墙钟 "
                                         + number(wallClock, 1) + " 内容 " + number(delayMs_, 1)
                                         + ")，疑似发射网格错位或手机重连"});
}
