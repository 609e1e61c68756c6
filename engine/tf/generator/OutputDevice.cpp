#include "engine/tf/generator/OutputDevice.h"

#include "common/RealTime.h"
#include "engine/tf/generator/GeneratorThread.h"

#include <QMutexLocker>
#include <QSet>
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
    QMutexLocker lock(&stateLock_);
    return gain_;
}

int OutputDevice::sampleRate() const
{
    QMutexLocker lock(&stateLock_);
    return sampleRate_;
}

int OutputDevice::channelCount() const
{
    QMutexLocker lock(&stateLock_);
    return channelCount_;
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
    changeFade([this, sampleRate] { sampleRate_ = sampleRate; });
}

void OutputDevice::setGain(float gaindB)
{
    const float linear = std::pow(10.0f, gaindB / 20.0f);
    QMutexLocker lock(&stateLock_);
    gain_ = linear;
}

void OutputDevice::setChanelCount(int count)
{
    std::vector<char> carries(std::max(count, 0));
    QMutexLocker lock(&stateLock_);
    channelCount_ = count;
    carries_.swap(carries);
}

void OutputDevice::setFadeDuration(float seconds)
{
    changeFade([this, seconds] { fadeDuration_ = seconds; });
}

template<typename Change>
void OutputDevice::changeFade(Change change)
{
    int rate = 0;
    float seconds = 0.0f;
    {
        QMutexLocker lock(&stateLock_);
        change();
        rate = sampleRate_;
        seconds = fadeDuration_;
    }
    QList<float> table = makeFadeTable(rate, seconds);
    // The fade position and the gain now applied stay as they are: a fade under way goes on
    // with the new table. The table replaced is freed once the lock is released.
    QMutexLocker lock(&stateLock_);
    if (rate == sampleRate_ && seconds == fadeDuration_)
        fadeTable_.swap(table);
}

void OutputDevice::resetFadeIn()
{
    QMutexLocker lock(&stateLock_);
    fadePosition_ = 0;
    fadeGain_ = fadeTable_.isEmpty() ? 1.0f : 0.0f;
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
    const QSet<int> channels = owner_ ? owner_->channels() : QSet<int>();

    const realtime::Lock lock(stateLock_);
    // Which channels of a frame carry the signal, looked up once per block.
    for (std::size_t c = 0; c < carries_.size(); ++c)
        carries_[c] = owner_ && channels.contains(int(c));

    const qint64 slotCount = maxSize / qint64(sizeof(float));
    int channel = channelCount_;
    float value = 0.0f;
    for (qint64 slot = 0; slot < slotCount; ++slot) {
        if (channel >= channelCount_) {
            channel = 0;
            value = sample();
            emit sampleOut(value);
            if (std::isnan(value)) {
                emit sampleError();
                return 0;
            }
            if (fadePosition_ < fadeTable_.size())
                fadeGain_ = fadeTable_.at(fadePosition_++);
        }
        if (std::size_t(channel) < carries_.size() && carries_[std::size_t(channel)]) {
            const float out = value * fadeGain_;
            std::memcpy(data + slot * qint64(sizeof(float)), &out, sizeof(float));
        }
        ++channel;
    }

    const qint64 bytes = slotCount * qint64(sizeof(float));
    if (bytes > 0 && channelCount_ > 0)
        emit blockOut(reinterpret_cast<const float *>(data),
                      bytes / (qint64(channelCount_) * qint64(sizeof(float))), channelCount_,
                      sampleRate_);
    return bytes;
}

qint64 OutputDevice::writeData(const char *, qint64)
{
    return -1;
}
