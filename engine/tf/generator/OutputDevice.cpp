#include "engine/tf/generator/OutputDevice.h"

#include "engine/tf/generator/GeneratorThread.h"

#include <cmath>
#include <cstring>

namespace {

// A fade longer than this (about six minutes at 48 kHz) is cut short instead of growing a
// table without bound.
constexpr double longestFadeFrames = 1 << 24;

// The fade-in gains, rising exponentially from 0 to just below 1; empty for no fade.
QList<float> makeFadeTable(int sampleRate, float seconds)
{
    if (sampleRate < 1 || !(seconds > 0.0f))
        return {};
    const int length = int(std::min(double(float(sampleRate) * seconds), longestFadeFrames));
    const float scale = std::exp(3.0f) - 1.0f;
    QList<float> table(length);
    for (int i = 0; i < length; ++i)
        table[i] = (std::exp(3.0f * float(i) / float(length)) - 1.0f) / scale;
    return table;
}

} // namespace

OutputDevice::OutputDevice(GeneratorThread *owner, QObject *parent)
    : QIODevice(parent)
    , owner_(owner)
{
    if (owner_)
        connect(owner_, &GeneratorThread::gainChanged, this, &OutputDevice::setGain);
}

QString OutputDevice::name() const
{
    return name_;
}

void OutputDevice::setName(const QString &name)
{
    name_ = name;
}

float OutputDevice::gain() const
{
    return settings_.latest().gain;
}

int OutputDevice::sampleRate() const
{
    return settings_.latest().sampleRate;
}

int OutputDevice::channelCount() const
{
    return settings_.latest().channelCount;
}

bool OutputDevice::open(OpenMode mode)
{
    return QIODevice::open(mode | QIODevice::Unbuffered);
}

void OutputDevice::close()
{
    QIODevice::close();
}

void OutputDevice::setSamplerate(int sampleRate)
{
    changeFade([sampleRate](Settings &s) { s.sampleRate = sampleRate; });
}

void OutputDevice::setGain(float gaindB)
{
    const float linear = std::pow(10.0f, gaindB / 20.0f);
    settings_.change([linear](Settings &s) { s.gain = linear; });
}

void OutputDevice::setChanelCount(int count)
{
    settings_.change([count](Settings &s) { s.channelCount = count; });
}

void OutputDevice::setFadeDuration(float seconds)
{
    changeFade([seconds](Settings &s) { s.fadeDuration = seconds; });
}

template<typename Change>
void OutputDevice::changeFade(Change change)
{
    Settings next = settings_.latest();
    change(next);
    const QList<float> table = makeFadeTable(next.sampleRate, next.fadeDuration);
    // The fade position and the gain now applied stay as they are: a fade under way goes on
    // with the new table.
    settings_.change([&](Settings &s) {
        change(s);
        if (s.sampleRate == next.sampleRate && s.fadeDuration == next.fadeDuration)
            s.fadeTable = table;
    });
}

void OutputDevice::resetFadeIn()
{
    settings_.change([](Settings &s) { ++s.fadeRestarts; });
}

void OutputDevice::restartFadeIfAsked(const Settings &settings)
{
    if (settings.fadeRestarts == fadeRestartsSeen_)
        return;
    fadeRestartsSeen_ = settings.fadeRestarts;
    fadePosition_ = 0;
    fadeGain_ = settings.fadeTable.isEmpty() ? 1.0f : 0.0f;
}

float OutputDevice::sample()
{
    return 0.0f;
}

qint64 OutputDevice::readData(char *data, qint64 maxSize)
{
    if (maxSize <= 0)
        return 0;
    std::memset(data, 0, size_t(maxSize));
    const Settings &settings = settings_.take();
    beginBlock();
    restartFadeIfAsked(settings);
    // Which channels carry the signal, and where the loopback goes, looked up once per block.
    const ChannelMask::Bits carried
            = owner_ ? owner_->outputChannels().load() : ChannelMask::Bits{};
    const realtime::Binding<LoopbackSink>::Use sink(owner_ ? &owner_->loopback() : nullptr);
    std::size_t looped = 0;
    const auto handOn = [&] {
        if (sink && looped > 0)
            sink->loopedBack({loopedBack_.data(), looped});
        looped = 0;
    };

    const int channelCount = settings.channelCount;
    const qint64 slotCount = maxSize / qint64(sizeof(float));
    int channel = channelCount;
    float value = 0.0f;
    for (qint64 slot = 0; slot < slotCount; ++slot) {
        if (channel >= channelCount) {
            channel = 0;
            value = sample();
            loopedBack_[looped++] = value;
            if (looped == loopedBack_.size())
                handOn();
            if (std::isnan(value)) {
                handOn();
                emit sampleError();
                return 0;
            }
            if (fadePosition_ < settings.fadeTable.size())
                fadeGain_ = settings.fadeTable.at(fadePosition_++);
        }
        if (ChannelMask::contains(carried, channel)) {
            const float out = value * fadeGain_;
            std::memcpy(data + slot * qint64(sizeof(float)), &out, sizeof(float));
        }
        ++channel;
    }
    handOn();

    const qint64 bytes = slotCount * qint64(sizeof(float));
    if (bytes > 0 && channelCount > 0)
        emit blockOut(reinterpret_cast<const float *>(data),
                      bytes / (qint64(channelCount) * qint64(sizeof(float))), channelCount,
                      settings.sampleRate);
    return bytes;
}

qint64 OutputDevice::writeData(const char *, qint64)
{
    return -1;
}
